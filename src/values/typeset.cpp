// typeset!: a set of datatypes held in the cell itself (no buffer), used by
// argument checks, parse rules and as an ordinary value.
//
// Because a typeset owns no series, every operation works on copies of the
// cells it is given and can never be disturbed by a moving buffer; only
// to_block and the text forms allocate, through their output cells.
#include "values/typeset.h"

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/word.h"

namespace kez::typeset {

uint32_t count(const Cell* ts) {
  uint32_t n = 0;
  for (uint32_t t = 1; t <= datatype::highest_id; t++) n += has(ts, t) ? 1 : 0;
  return n;
}

Cell* make_in(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
  Cell* c = alloc_tail(block);
  *c = Cell{TYPE_TYPESET, w1, w2, w3};
  return c;
}

Cell* make_default_in(Cell* block) {
  Cell ts = make_default();
  return make_in(block, ts.w1, ts.w2, ts.w3);
}

namespace {

// The value a word stands for, or the word itself when it has none.
Cell resolve(const Cell* value) {
  Cell v = *value;
  if (TYPE_OF(&v) == TYPE_WORD) {
    const Cell* got = word::get_value_or_null(&v);
    if (got) return *got;
  }
  return v;
}

}  // namespace

Cell* make_from_block(Cell* target, const Cell* spec) {
  Cell ts = make_empty();
  Cell s = *spec;
  int32_t n = block::rs_length(&s);
  for (int32_t i = 0; i < n; i++) {
    Cell element = block::rs_head(&s)[i];
    Cell v = resolve(&element);
    switch (TYPE_OF(&v)) {
      case TYPE_DATATYPE: set_bit(&ts, v.w1); break;
      case TYPE_TYPESET: merge(&ts, &v); break;
      case TYPE_WORD: set_bit(&ts, TYPE_OBJECT); break;
      case TYPE_BLOCK: break;
      default: fire(err::SCRIPT, err::script::INVALID_TYPE_SPEC, &element);
    }
  }
  return make_in(target, ts.w1, ts.w2, ts.w3);
}

void add(Cell* ts, const Cell* value) {
  Cell v = resolve(value);
  switch (TYPE_OF(&v)) {
    case TYPE_DATATYPE: set_bit(ts, v.w1); break;
    case TYPE_TYPESET: merge(ts, &v); break;
    default: {
      Cell bad = *value;
      fire(err::SCRIPT, err::script::INVALID_ARG, &bad);
    }
  }
}

Cell* to_block(const Cell* ts, Cell* out) {
  Cell t = *ts;
  block::make_at(out, 4);
  for (uint32_t id = 1; id <= datatype::highest_id; id++)
    if (has(&t, id)) *alloc_tail(out) = make_datatype(id);
  return out;
}

int32_t form_types(const Cell* ts, Cell* out, bool only, int32_t part) {
  Cell t = *ts;
  if (!only) {
    string::append_literal(out, "make typeset! [");
    part -= 15;
  }
  // Names are separated by one space: no trailing blank is ever written,
  // so nothing has to be taken back (an empty set writes nothing).
  bool first = true;
  for (uint32_t id = 1; id <= datatype::highest_id && part > 0; id++) {
    if (!has(&t, id) || !datatype::names[id].name) continue;
    if (!first) string::append_literal(out, " ");
    string::append_literal(out, datatype::name_of(id));
    part -= int32_t(datatype::names[id].length) + 2;
    first = false;
  }
  if (!only) string::append_literal(out, "]");
  return part;
}

Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op) {
  Cell b = *set2;
  if (TYPE_OF(&b) == TYPE_DATATYPE) {
    uint32_t id = b.w1;
    b = make_empty();
    set_bit(&b, id);
  } else if (TYPE_OF(&b) != TYPE_TYPESET) {
    fire(err::SCRIPT, err::script::INVALID_ARG, &b);
  }
  Cell a = *set1;
  switch (op) {
    case OP_UNIQUE: break;
    case OP_OR:
    case OP_UNION: a.w1 |= b.w1; a.w2 |= b.w2; a.w3 |= b.w3; break;
    case OP_AND:
    case OP_INTERSECT: a.w1 &= b.w1; a.w2 &= b.w2; a.w3 &= b.w3; break;
    case OP_XOR:
    case OP_DIFFERENCE: a.w1 ^= b.w1; a.w2 ^= b.w2; a.w3 ^= b.w3; break;
    case OP_EXCLUDE: a.w1 &= ~b.w1; a.w2 &= ~b.w2; a.w3 &= ~b.w3; break;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  *set1 = Cell{TYPE_TYPESET, a.w1, a.w2, a.w3};
  return set1;
}

void do_bitwise(int32_t op) { do_set_op(stack::arguments, stack::arguments + 1, op); }

namespace {

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  Cell s = *spec;
  switch (TYPE_OF(&s)) {
    case TYPE_TYPESET: *proto = s; return proto;
    case TYPE_BLOCK: {
      Cell ts = make_empty();
      int32_t n = block::rs_length(&s);
      for (int32_t i = 0; i < n; i++) {
        Cell element = block::rs_head(&s)[i];
        add(&ts, &element);
      }
      *proto = ts;
      return proto;
    }
    default: {
      Cell dt = make_datatype(TYPE_TYPESET);
      fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &s);
    }
  }
}

int32_t form(const Cell* v, Cell* out, int32_t part) { return form_types(v, out, false, part); }

int32_t mold(const Cell* v, Cell* out, bool only, bool, bool, int32_t part, int32_t) {
  return form_types(v, out, only, part);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_TYPESET) return -2;
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
      return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    case COMP_SORT:
    case COMP_CASE_SORT: {
      uint32_t x = count(a), y = count(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    default: return -2;
  }
}

Cell* complement(Cell* v) {
  *v = Cell{TYPE_TYPESET, ~v->w1, ~v->w2, ~v->w3};
  return v;
}

Cell* find(Cell* ts, const Cell* value, const find_options&) {
  if (TYPE_OF(value) != TYPE_DATATYPE) {
    Cell v = *value;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  *ts = make_logic(has(ts, value->w1));
  return ts;
}

template <int32_t OP>
Cell* bitwise(Cell* a, Cell* b) {
  return do_set_op(a, b, OP);
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  r.and_t = bitwise<OP_AND>;
  r.complement = complement;
  r.or_t = bitwise<OP_OR>;
  r.xor_t = bitwise<OP_XOR>;
  r.find = find;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_TYPESET, 0, "typeset!", ROW); }

}  // namespace kez::typeset
