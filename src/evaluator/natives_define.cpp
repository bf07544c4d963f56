// Definition and reflection natives: func, function, does, has, get, set,
// unset, value?, type?, bind, in, context?, construct, extend.
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/map.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/object.h"
#include "values/registry.h"
#include "values/simple_types.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::natives {

void set_many(const Cell* words, const Cell* values, int32_t count, bool any, bool only,
              bool some);

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

void make_function(Cell* spec, Cell* body) {
  block::rs_head(spec);
  block::rs_head(body);
  uint32_t flags = function::validate(spec);
  function::push(spec, body, 0, 0, 0, flags);
  *arg(0) = *stack::top_cell();
  stack::top = arg(0) + 1;
}

node_t context_of(const Cell* v) {
  switch (TYPE_OF(v)) {
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
      return v->w1;
    default:
      return word::is_word_type(TYPE_OF(v)) ? v->w1 : 0;
  }
}

}  // namespace

void func_star(bool, const int32_t*) { make_function(arg(0), arg(1)); }

void function_star(bool, const int32_t*) {
  block::rs_head(arg(0));
  Cell* copy = block::clone(arg(0), false, false);
  *arg(0) = *copy;
  stack::pop(1);
  Cell body = *arg(1);
  function::collect_words(arg(0), &body);
  make_function(arg(0), arg(1));
}

void does_star(bool, const int32_t*) {
  *arg(1) = *arg(0);
  block::make_at(arg(0), 1);
  stack::top = arg(2);
  make_function(arg(0), arg(1));
}

void has_star(bool, const int32_t*) {
  block::rs_head(arg(0));
  Cell* copy = block::clone(arg(0), false, false);
  *arg(0) = *copy;
  stack::pop(1);
  block::insert_value(arg(0), &words::local_ref, true, false);
  make_function(arg(0), arg(1));
}

void get_star(bool, const int32_t* refs) {
  bool any = refs[0] >= 0;
  Cell w = *arg(0);
  uint32_t t = TYPE_OF(&w);
  if (block::is_path_type(t)) {
    Cell* code = block::push_only(1);
    Cell p = w;
    p.header = TYPE_GET_PATH;
    block::rs_append(code, &p);
    stack::open_eval_native_frame(&words::body_marker_word);
    interpreter::eval_expression(code, 0, 1, true, false, false);
    if (stack::pending()) return;
    stack::pop_frame_return();
    stack::top = arg(0) + 1;
    return;
  }
  if (t == TYPE_OBJECT) {
    actions::get_reflect(arg(0))(arg(0), words::values);
    return;
  }
  const Cell* v = context::get(&w);
  if (TYPE_OF(v) == TYPE_UNSET && !any) fire(err::SCRIPT, err::script::NO_VALUE, &w);
  *arg(0) = *v;
}

void set_star(bool, const int32_t* refs) {
  bool any = refs[0] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
  Cell target = *arg(0);
  Cell value = *arg(1);
  if (TYPE_OF(&value) == TYPE_UNSET && !any) fire(err::SCRIPT, err::script::NEED_VALUE, &target);
  uint32_t t = TYPE_OF(&target);
  if (block::is_path_type(t)) {
    Cell* code = block::push_only(1);
    Cell p = target;
    p.header = TYPE_PATH;
    stack::open_eval_native_frame(&words::set_path_word);
    *stack::arguments = value;
    stack::top = stack::arguments + 1;
    interpreter::eval_path(&p, code, 0, 0, true, false, false, false);
    if (stack::pending()) return;
    stack::pop_frame();
  } else if (t == TYPE_OBJECT) {
    object::set_many(&target, &value, any, only, some);
  } else if (t == TYPE_BLOCK) {
    stack::open_native_frame(&words::anon_marker_word);
    set_many(&target, &value, block::rs_length(&target), any, only, some);
    stack::pop_frame();
  } else {
    word::set(&target, &value);
  }
  *arg(0) = value;
  stack::top = arg(0) + 1;
}

void unset_star(bool, const int32_t*) {
  Cell target = *arg(0);
  if (TYPE_OF(&target) == TYPE_WORD) {
    word::set(&target, &unset_value);
  } else {
    int32_t n = block::rs_length(&target);
    for (int32_t i = 0; i < n; i++) {
      Cell w = block::rs_head(&target)[i];
      if (TYPE_OF(&w) == TYPE_WORD) word::set(&w, &unset_value);
    }
  }
  unset::box();
}

void value_q_star(bool, const int32_t*) {
  Cell w = *arg(0);
  const Cell* v = word::get_value_or_null(&w);
  logic::box(v && TYPE_OF(v) != TYPE_UNSET);
}

void type_q_star(bool, const int32_t* refs) {
  uint32_t t = TYPE_OF(arg(0));
  if (refs[0] >= 0) *arg(0) = datatype::names[t].word;
  else *arg(0) = make_datatype(t);
}

void bind_star(bool, const int32_t* refs) {
  Cell target = *arg(0);
  Cell ctxv = *arg(1);
  node_t ctx = context_of(&ctxv);
  bool self = TYPE_OF(&ctxv) == TYPE_OBJECT;
  if (!ctx) {
    // A word bound to no context has nothing to bind to.
    stack::top = arg(0) + 1;
    return;
  }
  if (TYPE_OF(&target) == TYPE_BLOCK) {
    if (refs[0] >= 0) {
      Cell* copy = block::clone(&target, true, true);
      target = *copy;
    }
    Cell* held = stack::push(target);
    context::bind(held, ctx, self);
    *arg(0) = *held;
  } else {
    int32_t i = context::find_word(ctx, target.w2, false);
    if (i >= 0) {
      target.w1 = ctx;
      target.w3 = uint32_t(i);
    }
    *arg(0) = target;
  }
  stack::top = arg(0) + 1;
}

void in_star(bool, const int32_t*) {
  Cell owner = *arg(0);
  Cell w = *arg(1);
  node_t ctx = 0;
  uint32_t t = TYPE_OF(&owner);
  if (t == TYPE_OP) t = (owner.header >> OP_TYPE_SHIFT) & 0xFF;
  if (t == TYPE_NATIVE || t == TYPE_ACTION) {
    // The more series of a native is its arguments context.
    ctx = owner.w3;
  } else {
    // An object's, error's, port's or function's own context (an op! made
    // from a function answers for the function's).
    ctx = owner.w1;
  }
  if (!ctx || context::bind_word(ctx, &w) < 0) {
    none::box();
    return;
  }
  if (TYPE_OF(&w) == TYPE_REFINEMENT) w.header = TYPE_WORD;
  *arg(0) = w;
}

void context_q_star(bool, const int32_t*) {
  Cell w = *arg(0);
  const Cell* owner = w.w1 ? context::owner(w.w1) : nullptr;
  // A context that no value owns (yet) answers none.
  if (!owner || TYPE_OF(owner) == TYPE_UNSET) none::box();
  else *arg(0) = *owner;
}

void extend_star(bool, const int32_t* refs) {
  Cell target = *arg(0);
  Cell spec = *arg(1);
  // Objects are not extended in place (their context is shared).
  if (TYPE_OF(&target) != TYPE_MAP) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell* held = stack::push(target);
  map::extend(held, &spec, refs[0] >= 0);
  *arg(0) = *held;
  stack::top = arg(0) + 1;
}

void construct_star(bool, const int32_t* refs) {
  Cell spec = *arg(0);
  const Cell* proto = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  Cell* out = stack::push_unset();
  object::construct(out, &spec, proto, refs[1] >= 0);
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
