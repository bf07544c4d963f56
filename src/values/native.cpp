// native!, action! and op! values.
#include "values/native.h"

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::native {

namespace {

// Registered values by table position (1-based): natives, then actions.
Cell registry[2][natives::CAPACITY + 1];

Cell* registry_entry(uint32_t type, uint32_t position) {
  uint32_t limit = type == TYPE_NATIVE ? natives::CAPACITY : ACTION_COUNT;
  if (position < 1 || position > limit) return nullptr;
  return &registry[type == TYPE_NATIVE ? 0 : 1][position];
}

// native! and action! from [spec index].
Cell* make_builtin(Cell* proto, const Cell* spec_in, uint32_t type) {
  Cell spec = *spec_in;
  uint32_t limit = type == TYPE_NATIVE ? natives::CAPACITY : ACTION_COUNT;
  bool ok = TYPE_OF(&spec) == TYPE_BLOCK && block::rs_length(&spec) == 2;
  Cell fspec, index;
  if (ok) {
    fspec = block::rs_head(&spec)[0];
    index = block::rs_head(&spec)[1];
    ok = TYPE_OF(&fspec) == TYPE_BLOCK && TYPE_OF(&index) == TYPE_INTEGER &&
         get_integer(&index) >= 1 && uint32_t(get_integer(&index)) <= limit;
  }
  if (!ok) {
    Cell dt = make_datatype(type);
    fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &spec);
  }
  *proto = make_registered(type, uint32_t(get_integer(&index)), &fspec);
  return proto;
}

}  // namespace

const Cell* registered(uint32_t type, uint32_t position) {
  Cell* entry = registry_entry(type, position);
  return entry && TYPE_OF(entry) == type ? entry : nullptr;
}

Cell make_registered(uint32_t type, uint32_t position, const Cell* spec, bool record) {
  Cell* held = stack::push(*spec);
  node_t ctx = context::create(1, true, false, 0, CONTEXT_FUNCTION);
  // The context's node doubles as the more series: [record, none!].
  *context::owner(ctx) = make_none();
  Cell made{type, position, held->w2, ctx};
  stack::pop(1);
  Cell* entry = registry_entry(type, position);
  if (record && entry && TYPE_OF(entry) != type) {
    *entry = made;
    context::keep(&made);
  }
  return made;
}

namespace {

int32_t check_spec_arguments(const Cell* fn) {
  Cell spec = make_series(TYPE_BLOCK, fn->w2);
  int32_t n = block::rs_length(&spec);
  int32_t args = 0;
  bool plain = false;
  for (int32_t i = 0; i < n; i++) {
    Cell v = block::rs_head(&spec)[i];
    switch (TYPE_OF(&v)) {
      case TYPE_WORD: args++; plain = true; break;
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD:
        if (!plain) return -1;
        args++;
        break;
      case TYPE_SET_WORD: return args;
      case TYPE_REFINEMENT: {
        uint32_t s = symbol::resolve(v.w2);
        if (s == symbol::resolve(words::local) || s == symbol::resolve(words::extern_)) return args;
        return -1;
      }
      default: break;
    }
  }
  return args;
}

Cell* make_op(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell fn = *spec_in;
  uint32_t t = TYPE_OF(&fn);
  if (t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_FUNCTION && t != TYPE_ROUTINE) {
    Cell dt = make_datatype(t);
    fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
  }
  if (check_spec_arguments(&fn) != 2) fire(err::SCRIPT, err::script::BAD_OP_SPEC);
  Cell op = fn;
  op.header = TYPE_OP | (t << OP_TYPE_SHIFT) | (interpreter::quick_kind(t, fn.w1) << OP_QUICK_SHIFT);
  if (t == TYPE_FUNCTION || t == TYPE_ROUTINE)
    function::more(&fn)[function::MORE_OP] = fn;
  *proto = op;
  return proto;
}

Cell* reflect(Cell* v, uint32_t field) {
  uint32_t f = symbol::resolve(field);
  uint32_t wrapped = TYPE_OF(v) == TYPE_OP ? (v->header >> OP_TYPE_SHIFT) & 0xFF : TYPE_OF(v);
  if (f == symbol::resolve(words::spec)) {
    *v = make_series(TYPE_BLOCK, v->w2);
  } else if (f == symbol::resolve(words::body)) {
    if (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) *v = function::more(v)[function::MORE_BODY];
    else *v = make_integer(int32_t(v->w1));
  } else {
    fire(err::INTERNAL, err::internal::NOT_DONE);
  }
  return v;
}

template <int KIND>
int32_t form(const Cell*, Cell* out, int32_t part) {
  return part - string::append_literal(out, KIND == 0 ? "?native?" : KIND == 1 ? "?action?" : "?op?");
}

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool flat, int32_t part, int32_t indent) {
  Cell value = *v;
  Cell spec = make_series(TYPE_BLOCK, value.w2);
  switch (TYPE_OF(&value)) {
    case TYPE_NATIVE: part -= string::append_literal(out, "make native! ["); break;
    case TYPE_ACTION: part -= string::append_literal(out, "make action! ["); break;
    default: {
      part -= string::append_literal(out, "make op! ");
      uint32_t wrapped = (value.header >> OP_TYPE_SHIFT) & 0xFF;
      if (wrapped == TYPE_FUNCTION) {
        part -= string::append_literal(out, "func ");
        part = actions::mold(&spec, out, false, all, flat, part, indent);
        Cell body = function::more(&value)[function::MORE_BODY];
        return actions::mold(&body, out, false, all, flat, part, indent);
      }
      part -= string::append_literal(out, "[");
    }
  }
  part = actions::mold(&spec, out, false, all, flat, part, indent);
  return part - string::append_literal(out, "]");
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(a) != TYPE_OF(b)) return -2;
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
      return a->w1 == b->w1 ? 0 : (a->w1 < b->w1 ? -1 : 1);
    default: return -2;
  }
}

constexpr action_row NATIVE_ROW = [] {
  action_row r = unsupported_row();
  r.make = make_builtin;
  r.reflect = reflect;
  r.form = form<0>;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

constexpr action_row ACTION_ROW = [] {
  action_row r = unsupported_row();
  r.make = make_builtin;
  r.reflect = INHERIT;
  r.form = form<1>;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

constexpr action_row OP_ROW = [] {
  action_row r = unsupported_row();
  r.make = make_op;
  r.reflect = INHERIT;
  r.form = form<2>;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

}  // namespace

void init() {
  datatype::register_type(TYPE_NATIVE, 0, "native!", NATIVE_ROW);
  datatype::register_type(TYPE_ACTION, TYPE_NATIVE, "action!", ACTION_ROW);
  datatype::register_type(TYPE_OP, TYPE_NATIVE, "op!", OP_ROW);
}

}  // namespace kez::native
