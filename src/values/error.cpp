// error! values and their report.
#include "values/error.h"

#include <initializer_list>

#include "boot/system.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/output.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/registry.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::error {

Cell prototype{TYPE_UNSET, 0, 0, 0};

namespace {

constexpr const char* FIELD_NAMES[] = {"code", "type", "id",   "arg1",  "arg2",
                                       "arg3", "near", "where", "stack", "files"};
constexpr int32_t ARG_LIMIT = 80;   // characters of one template argument
constexpr int32_t NEAR_LIMIT = 40;  // characters of the near field

// The catalogue object system/catalog/errors, or nullptr before boot.
const Cell* catalogue() {
  const Cell* e = system::field({"catalog", "errors"});
  return e && TYPE_OF(e) == TYPE_OBJECT ? e : nullptr;
}

// The depth of call traces: system/state/stack-trace when it is a positive
// integer, else 0.
int32_t stack_trace_depth() {
  const Cell* d = system::field({"state", "stack-trace"});
  return d && TYPE_OF(d) == TYPE_INTEGER && get_integer(d) > 0 ? get_integer(d) : 0;
}

// The field of `obj` named by `word`'s symbol, or nullptr.
const Cell* field_of(const Cell* obj, const Cell* word) {
  if (!obj || !word::is_word_type(TYPE_OF(word))) return nullptr;
  int32_t i = object::find_word(obj, word);
  return i < 0 ? nullptr : context::values(obj->w1) + i;
}

void set_field(Cell* error, uint32_t i, const Cell& v) { *field(error, i) = v; }

Cell category_word(int category) {
  return word::make_global(symbol::make(err::CATEGORY_NAMES[category]));
}

}  // namespace

void init() {
  Cell* p = stack::push_unset();
  object::make_at(p, 10);
  for (const char* name : FIELD_NAMES) {
    Cell w = word::make(TYPE_WORD, 0, symbol::make(name), context::NO_INDEX);
    context::add_with(p->w1, &w, &none_value);
  }
  p->w2 = ERROR_CLASS;
  prototype = *p;
  context::keep(p);
  stack::pop(1);
  fire_hook = raise;
}

void raise(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  Cell* e = create(category, id, arg1, arg2, arg3);
  // The tracer sees the error before the stack unwinds; a stack overflow is
  // not traced: opening the tracer's frame would overflow again.
  bool overflow = category == err::INTERNAL && id == err::internal::STACK_OVERFLOW;
  if (trace::on && !overflow) {
    uint32_t pending = stack::raise_code;
    stack::raise_code = 0;
    Cell value = *e;
    trace::fire(trace::EV_ERROR, nullptr, -1, nullptr, &value);
    stack::raise_code = pending;
  }
  stack::raise_error(e);
}

Cell* create(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  // The arguments may live only in C++ locals: root them first.
  Cell* args = stack::push(arg1 ? *arg1 : none_value);
  stack::push(arg2 ? *arg2 : none_value);
  stack::push(arg3 ? *arg3 : none_value);
  Cell* e = stack::push_unset();
  object::duplicate(&prototype, e, false, nullptr, false);
  set_type(e, TYPE_ERROR);
  e->w2 = ERROR_CLASS;
  e->w3 = 0;
  *context::owner(e->w1) = *e;
  set_field(e, FIELD_CODE, make_integer(category * 100 + id));
  set_field(e, FIELD_TYPE, category_word(category));
  if (id < err::ID_COUNTS[category])
    set_field(e, FIELD_ID, word::make_global(symbol::make(err::ID_NAMES[category][id])));
  for (int i = 0; i < 3; i++)
    if ((i == 0 && arg1) || (i == 1 && arg2) || (i == 2 && arg3))
      set_field(e, FIELD_ARG1 + uint32_t(i), args[i]);
  if (block::is_block_type(TYPE_OF(&interpreter::current)))
    set_field(e, FIELD_NEAR, interpreter::current);
  Cell made = *e;
  stack::pop(4);
  return stack::push(made);
}

namespace {

int32_t form_message(const Cell* templ, Cell* out, const Cell* error, int32_t part) {
  Cell t = *templ;
  int32_t n = block::rs_length(&t);
  bool syntax = symbol::resolve(field(error, FIELD_TYPE)->w2) ==
                symbol::resolve(words::syntax_word.w2);
  for (int32_t i = 0; i < n; i++) {
    Cell v = block::rs_head(&t)[i];
    if (TYPE_OF(&v) == TYPE_STRING) {
      part -= string::append_string(out, &v);
    } else if (TYPE_OF(&v) == TYPE_WORD || TYPE_OF(&v) == TYPE_GET_WORD) {
      Cell e = *error;
      const Cell* arg = field_of(&e, &v);
      if (arg) {
        Cell value = *arg;
        Cell* text = string::push_new(16);
        if (syntax) actions::form(&value, text, ARG_LIMIT);
        else actions::mold(&value, text, false, false, true, ARG_LIMIT, 0);
        string::cut_to(text, ARG_LIMIT);
        part -= string::append_string(out, text);
        stack::pop(1);
      }
    }
    if (i + 1 < n) part -= string::append_literal(out, " ");
  }
  return part;
}

}  // namespace

int32_t form(const Cell* error_in, Cell* out, int32_t part) {
  Cell error = *error_in;
  part -= string::append_literal(out, "*** ");
  const Cell* cat = catalogue();
  const Cell* category = field_of(cat, field(&error, FIELD_TYPE));
  // A copy: the appends below may move the catalogue's buffers.
  Cell templ_cell = make_none();
  if (category && TYPE_OF(category) == TYPE_OBJECT)
    if (const Cell* t = field_of(category, field(&error, FIELD_ID))) templ_cell = *t;
  const Cell* templ = &templ_cell;
  // The title: from the catalogue, else from the runtime's own table.
  Cell title = make_none();
  if (category && TYPE_OF(category) == TYPE_OBJECT) {
    Cell w = word::make(TYPE_WORD, 0, symbol::make("type"), 0);
    const Cell* t = field_of(category, &w);
    if (t) title = *t;
  }
  int32_t code = get_integer(field(&error, FIELD_CODE));
  int cat_number = code / 100;
  if (TYPE_OF(&title) == TYPE_STRING) {
    part -= string::append_string(out, &title);
  } else if (cat_number >= 0 && cat_number < err::CATEGORY_COUNT) {
    part -= string::append_literal(out, err::CATEGORY_TITLES[cat_number]);
  }
  part -= string::append_literal(out, ": ");
  if (templ && TYPE_OF(templ) == TYPE_STRING) {
    Cell t = *templ;
    part -= string::append_string(out, &t);
  } else if (templ && TYPE_OF(templ) == TYPE_BLOCK) {
    Cell t = *templ;
    part = form_message(&t, out, &error, part);
  } else {
    // No catalogue yet: the id word and the arguments.
    Cell id = *field(&error, FIELD_ID);
    part = actions::form(&id, out, part);
    for (uint32_t i = FIELD_ARG1; i <= FIELD_ARG3; i++) {
      Cell a = *field(&error, i);
      if (TYPE_OF(&a) == TYPE_NONE) continue;
      part -= string::append_literal(out, " ");
      part = actions::mold(&a, out, false, false, true, ARG_LIMIT, 0);
    }
  }
  part -= string::append_literal(out, "\n*** Where: ");
  Cell where = *field(&error, FIELD_WHERE);
  if (word::is_word_type(TYPE_OF(&where))) part = actions::form(&where, out, part);
  else if (TYPE_OF(&where) == TYPE_STRING) part -= string::append_string(out, &where);
  else part -= string::append_literal(out, "???");
  part -= string::append_literal(out, "\n*** Near : ");
  Cell near = *field(&error, FIELD_NEAR);
  Cell* text = string::push_new(16);
  actions::mold(&near, text, true, false, true, NEAR_LIMIT, 0);
  string::cut_to(text, NEAR_LIMIT);
  part -= string::append_string(out, text);
  stack::pop(1);
  int32_t depth = stack_trace_depth();
  Cell trace = *field(&error, FIELD_STACK);
  if (depth > 0 && TYPE_OF(&trace) == TYPE_INTEGER) {
    part -= string::append_literal(out, "\n*** Stack: ");
    part = stack::form_call_trace(depth, &trace, out, part);
  } else if (depth > 0 && TYPE_OF(&trace) == TYPE_BLOCK) {
    part -= string::append_literal(out, "\n*** Stack: ");
    part = actions::form(&trace, out, part);
  }
  Cell files = *field(&error, FIELD_FILES);
  if (TYPE_OF(&files) == TYPE_BLOCK) {
    part -= string::append_literal(out, "\n*** Files: ");
    Cell* f = string::push_new(16);
    actions::mold(&files, f, true, false, true, NEAR_LIMIT, 0);
    string::cut_to(f, NEAR_LIMIT);
    part -= string::append_string(out, f);
    stack::pop(1);
  }
  return part;
}

void print_uncaught(const Cell* error) {
  Cell e = *error;
  Cell* text = string::push_new(64);
  form(&e, text, 0x7FFFFFFF);
  output::to_error_stream to_errors;
  output::print_string(text, true);
  stack::pop(1);
}

void capture_stack(Cell* error) {
  Cell e = *error;
  Cell trace = *field(&e, FIELD_STACK);
  if (TYPE_OF(&trace) == TYPE_INTEGER) {
    int32_t depth = stack_trace_depth();
    Cell* words = block::push_only(8);
    int32_t end = get_integer(&trace);
    stack::collect_frame_words(depth > 0 ? depth : 1, words, end < 0 ? 0 : uint32_t(end));
    *field(&e, FIELD_STACK) = *words;
    stack::pop(1);
  }
  const Cell* files = system::field({"state", "source-files"});
  if (files && TYPE_OF(files) == TYPE_BLOCK && block::rs_length(files) > 0) {
    Cell f = *files;
    Cell* copy = block::clone(&f, false, false);
    *field(&e, FIELD_FILES) = *copy;
    stack::pop(1);
  }
}

namespace {

// The category a word names, case-insensitively; raises when none does.
int category_of(const Cell* word) {
  if (TYPE_OF(word) == TYPE_WORD)
    for (int c = 0; c < err::CATEGORY_COUNT; c++)
      if (symbol::resolve(word->w2) == symbol::resolve(symbol::make(err::CATEGORY_NAMES[c])))
        return c;
  Cell w = word::make_global(words::type);
  fire(err::SCRIPT, err::script::INVALID_SPEC_FIELD, &w);
  return -1;
}

// The id a word names within a category; raises when none does.
int id_of(int category, const Cell* word) {
  if (TYPE_OF(word) == TYPE_WORD)
    for (int i = 0; i < err::ID_COUNTS[category]; i++)
      if (symbol::resolve(word->w2) == symbol::resolve(symbol::make(err::ID_NAMES[category][i])))
        return i;
  Cell w = word::make_global(symbol::make("id"));
  fire(err::SCRIPT, err::script::INVALID_SPEC_FIELD, &w);
  return -1;
}

// `make error! [type: ... id: ... arg1: ...]`: the block is bound to a fresh
// error's fields and evaluated; type and id must then name a catalogued error.
void make_from_fields(Cell* proto, const Cell* spec) {
  Cell* e = create(err::USER, err::user::MESSAGE, nullptr, nullptr, nullptr);
  set_field(e, FIELD_TYPE, none_value);
  set_field(e, FIELD_ID, none_value);
  Cell* code = stack::push(*spec);
  context::bind(code, e->w1, true);
  interpreter::eval_block(code, false);
  stack::pop(1);
  if (stack::pending()) return;
  Cell ev = *e;
  int cat = category_of(field(&ev, FIELD_TYPE));
  ev = *e;
  int id = id_of(cat, field(&ev, FIELD_ID));
  set_field(e, FIELD_CODE, make_integer(cat * 100 + id));
  *proto = *e;
}

Cell* make(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell spec = *spec_in;
  switch (TYPE_OF(&spec)) {
    case TYPE_INTEGER: {
      int32_t code = get_integer(&spec);
      int cat = code / 100, id = code % 100;
      if (code < 0 || cat >= err::CATEGORY_COUNT || id >= err::ID_COUNTS[cat])
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &spec);
      *proto = *create(cat, id, nullptr, nullptr, nullptr);
      break;
    }
    case TYPE_STRING:
      *proto = *create(err::USER, err::user::MESSAGE, &spec, nullptr, nullptr);
      break;
    case TYPE_BLOCK: {
      int32_t n = block::rs_length(&spec);
      Cell first = n > 0 ? block::rs_head(&spec)[0] : none_value;
      if (TYPE_OF(&first) == TYPE_SET_WORD) {
        make_from_fields(proto, &spec);
        break;
      }
      if (TYPE_OF(&first) != TYPE_WORD) fire(err::INTERNAL, err::internal::INVALID_ERROR);
      int cat = category_of(&first);
      Cell second = n > 1 ? block::rs_head(&spec)[1] : none_value;
      if (TYPE_OF(&second) != TYPE_WORD) fire(err::SCRIPT, err::script::INVALID_ARG, &second);
      int id = id_of(cat, &second);
      *proto = *create(cat, id, nullptr, nullptr, nullptr);
      break;
    }
    default: {
      Cell type = make_datatype(TYPE_ERROR);
      fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &type, &spec);
    }
  }
  stack::pop(1);
  return proto;
}

int32_t form_action(const Cell* v, Cell* out, int32_t part) { return form(v, out, part); }

int32_t mold(const Cell* v, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (!only) part -= string::append_literal(out, "make error! [");
  Cell obj = *v;
  set_type(&obj, TYPE_OBJECT);
  part = object::serialize(&obj, out, only, all, flat, part, indent + 1, true);
  if (!only) {
    if (!flat) {
      part -= string::append_literal(out, "\n");
      for (int32_t k = 0; k < indent; k++) part -= string::append_literal(out, "    ");
    }
    part -= string::append_literal(out, "]");
  }
  return part;
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell obj = *step.parent;
  set_type(&obj, TYPE_OBJECT);
  path_step s = step;
  s.parent = &obj;
  return actions::peek_eval_path(TYPE_OBJECT)(s, out);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_ERROR) return -2;
  Cell x = *a, y = *b;
  set_type(&x, TYPE_OBJECT);
  set_type(&y, TYPE_OBJECT);
  return actions::peek_compare(TYPE_OBJECT)(&x, &y, op);
}

constexpr action_row ERROR_ACTIONS = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.form = form_action;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.reflect = INHERIT;
  r.copy = INHERIT;
  r.find = INHERIT;
  r.select = INHERIT;
  return r;
}();

}  // namespace

void register_type() { datatype::register_type(TYPE_ERROR, TYPE_OBJECT, "error!", ERROR_ACTIONS); }

}  // namespace kez::error
