// datatype!, unset!, none! and logic!.
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/random.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez {

namespace datatype {

Cell* push(uint32_t type) { return stack::push(make_datatype(type)); }

namespace {

int32_t form(const Cell* v, Cell* out, int32_t part) {
  std::string_view name = name_of(v->w1);
  if (!name.empty()) name.remove_suffix(1);
  return part - string::append_literal(out, name);
}

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  if (all) part -= string::append_literal(out, "#(");
  part -= string::append_literal(out, name_of(v->w1));
  if (all) part -= string::append_literal(out, ")");
  return part;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
      return TYPE_OF(b) == TYPE_DATATYPE && a->w1 == b->w1 ? 0 : 1;
    default: return -2;
  }
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

}  // namespace

void init() { register_type(TYPE_DATATYPE, 0, "datatype!", ROW); }

}  // namespace datatype

// The values whose every mode of equality holds between two of a kind.
namespace {
bool same_kind_mode(int32_t op) {
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
      return true;
    default: return false;
  }
}
}  // namespace

namespace unset {

void box() { *stack::arguments = make_unset(); }

namespace {
Cell* make(Cell* proto, const Cell*, uint32_t) { return &(*proto = make_unset()); }
int32_t form(const Cell*, Cell*, int32_t part) { return part; }
int32_t mold(const Cell*, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  return part - string::append_literal(out, all ? "#(unset)" : "unset");
}
int32_t compare(const Cell*, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_UNSET) return -2;
  return same_kind_mode(op) ? 0 : -2;
}
constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  return r;
}();
}  // namespace

void init() { datatype::register_type(TYPE_UNSET, 0, "unset!", ROW); }

}  // namespace unset

namespace none {

void box() { *stack::arguments = make_none(); }

namespace {
Cell* make(Cell* proto, const Cell*, uint32_t) { return &(*proto = make_none()); }
int32_t form(const Cell*, Cell* out, int32_t part) {
  return part - string::append_literal(out, "none");
}
int32_t mold(const Cell*, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  return part - string::append_literal(out, all ? "#(none)" : "none");
}
int32_t compare(const Cell*, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_NONE) return -2;
  return same_kind_mode(op) ? 0 : -2;
}
// Series actions on none quietly give none.
Cell* to_none(Cell* v) { return &(*v = make_none()); }
Cell* clear(Cell* v) { return to_none(v); }
Cell* find(Cell* v, const Cell*, const find_options&) { return to_none(v); }
int32_t length(const Cell*) { return -1; }
Cell* remove(Cell* v, const Cell*, const Cell*) { return to_none(v); }
Cell* take(Cell* v, const Cell*, bool, bool) { return to_none(v); }
constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  r.clear = clear;
  r.find = find;
  r.length_q = length;
  r.remove = remove;
  r.select = find;
  r.take = take;
  return r;
}();
}  // namespace

void init() { datatype::register_type(TYPE_NONE, 0, "none!", ROW); }

}  // namespace none

namespace logic {

void box(bool flag) { *stack::arguments = make_logic(flag); }

bool true_value(const Cell* value, bool check, const Cell* word) {
  if (check && TYPE_OF(value) == TYPE_UNSET) {
    Cell w = word ? *word : none_value;
    fire(err::SCRIPT, err::script::NO_VALUE, &w);
  }
  return !falsy(value);
}

bool true_q() {
  if (TYPE_OF(stack::arguments) == TYPE_UNSET) fire(err::SCRIPT, err::script::NO_RETURN);
  return !falsy(stack::arguments);
}

bool false_q() { return falsy(stack::arguments); }

namespace {

Cell* to(Cell* proto, const Cell* spec, uint32_t) {
  bool flag = TYPE_OF(spec) == TYPE_LOGIC ? spec->w1 != 0 : TYPE_OF(spec) != TYPE_NONE;
  *proto = make_logic(flag);
  return proto;
}

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER: *proto = make_logic(get_integer(spec) != 0); return proto;
    case TYPE_FLOAT:
    case TYPE_PERCENT: *proto = make_logic(!(get_float(spec) == 0.0)); return proto;
    default: return to(proto, spec, type);
  }
}

Cell* random(Cell* v, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(v->w1));
    *v = make_unset();
    return v;
  }
  int32_t draw = secure ? random::secure_int() : int32_t(random::next());
  *v = make_logic(draw > 0x3FFFFFFF);
  return v;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return part - string::append_literal(out, v->w1 ? "true" : "false");
}

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  if (!all) return form(v, out, part);
  return part - string::append_literal(out, v->w1 ? "#(true)" : "#(false)");
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_LOGIC) return -2;
  if (!same_kind_mode(op)) return -2;
  return int32_t(a->w1) - int32_t(b->w1);
}

Cell* complement(Cell* v) {
  v->w1 = v->w1 ? 0 : 1;
  return v;
}

template <int OP>
Cell* bitwise(Cell* a, Cell* b) {
  if (TYPE_OF(b) != TYPE_LOGIC) {
    Cell call = stack::get_call_word(), dt = make_datatype(TYPE_OF(b));
    Cell w = word::make_global(symbol::make("value2"));
    fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &w);
  }
  uint32_t x = a->w1 & 1, y = b->w1 & 1;
  a->w1 = OP == 0 ? (x & y) : OP == 1 ? (x | y) : (x ^ y);
  return a;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  r.and_t = bitwise<0>;
  r.complement = complement;
  r.or_t = bitwise<1>;
  r.xor_t = bitwise<2>;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_LOGIC, 0, "logic!", ROW); }

}  // namespace logic
}  // namespace kez
