// Comparison natives, identity, logical not, the number predicates and
// max/min.
//
// Ordering and equality are each datatype's compare action; identity
// (`same?`) is decided here from the cells alone, so two values of
// different datatypes are never the same and doubles are compared bit for
// bit (0.0 and -0.0 differ). max and min work per component on pairs,
// points and tuples; everything else goes through the lesser comparison.
#include <cmath>
#include <cstring>
#include <limits>

#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/money_decimal.h"
#include "types/pair.h"
#include "types/point.h"
#include "types/tuple.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/simple_types.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

void compare_with(int32_t op) {
  logic::box(actions::compare(stack::arguments, stack::arguments + 1, op));
}

bool is_series_kind(uint32_t t) {
  switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
    case TYPE_IMAGE:
      return true;
    default:
      return false;
  }
}

// The sign of a number argument: -1, 0 or 1; a NaN gives 0 (it is neither
// above nor below zero). `kind` names the native for the type error.
int32_t sign_of(const Cell* v) {
  switch (TYPE_OF(v)) {
    case TYPE_INTEGER: {
      int32_t i = get_integer(v);
      return i > 0 ? 1 : i < 0 ? -1 : 0;
    }
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
      double d = get_float(v);
      return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_MONEY:
      return money::sign_q(v);
    default:
      numbers::expect_arg(v, "number");
  }
}

}  // namespace

// Identity: the cells alone decide, by datatype.
bool same_value(const Cell* a, const Cell* b) {
  uint32_t t = TYPE_OF(a);
  if (t != TYPE_OF(b)) return false;
  switch (t) {
    case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT:
      return a->w1 == b->w1;
    case TYPE_CHAR: case TYPE_INTEGER: case TYPE_BITSET:
      return a->w2 == b->w2;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME:
      return a->w2 == b->w2 && a->w3 == b->w3;
    case TYPE_TUPLE: {
      uint32_t n = tuple::count(a);
      return n == tuple::count(b) && std::memcmp(tuple::bytes(a), tuple::bytes(b), n) == 0;
    }
    case TYPE_NONE: case TYPE_UNSET:
      return true;
    case TYPE_MONEY:
      return actions::compare_values(a, b, COMP_EQUAL) == 0;
    case TYPE_ACTION: case TYPE_NATIVE: case TYPE_POINT2D:
      return a->w1 == b->w1 && a->w2 == b->w2;
    case TYPE_OP:
      return a->w2 == b->w2 && a->w3 == b->w3;
    default:
      if (is_series_kind(t)) return a->w2 == b->w2 && a->w1 == b->w1;
      return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
  }
}

void equal_q_star(bool, const int32_t*) { compare_with(COMP_EQUAL); }
void not_equal_q_star(bool, const int32_t*) { compare_with(COMP_NOT_EQUAL); }
void strict_equal_q_star(bool, const int32_t*) { compare_with(COMP_STRICT_EQUAL); }
void lesser_q_star(bool, const int32_t*) { compare_with(COMP_LESSER); }
void greater_q_star(bool, const int32_t*) { compare_with(COMP_GREATER); }
void lesser_or_equal_q_star(bool, const int32_t*) { compare_with(COMP_LESSER_EQUAL); }
void greater_or_equal_q_star(bool, const int32_t*) { compare_with(COMP_GREATER_EQUAL); }
void same_q_star(bool, const int32_t*) { logic::box(same_value(arg(0), arg(1))); }
void not_star(bool, const int32_t*) { logic::box(logic::falsy(arg(0))); }

void negative_q_star(bool, const int32_t*) { logic::box(sign_of(arg(0)) < 0); }
void positive_q_star(bool, const int32_t*) { logic::box(sign_of(arg(0)) > 0); }
void sign_q_star(bool, const int32_t*) { *arg(0) = make_integer(sign_of(arg(0))); }

void zero_q_star(bool, const int32_t*) {
  const Cell* v = arg(0);
  bool zero;
  switch (TYPE_OF(v)) {
    case TYPE_INTEGER: case TYPE_CHAR: zero = v->w2 == 0; break;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: zero = get_float(v) == 0.0; break;
    case TYPE_MONEY: zero = money::zero_q(v); break;
    case TYPE_PAIR: zero = pair::x(v) == 0 && pair::y(v) == 0; break;
    case TYPE_POINT2D: zero = point::coord(v, 0) == 0.0f && point::coord(v, 1) == 0.0f; break;
    case TYPE_POINT3D:
      zero = point::coord(v, 0) == 0.0f && point::coord(v, 1) == 0.0f &&
             point::coord(v, 2) == 0.0f;
      break;
    case TYPE_TUPLE: zero = tuple::all_zero_q(v); break;
    default: numbers::expect_arg(v, "value");
  }
  logic::box(zero);
}

void nan_q_star(bool, const int32_t*) {
  const Cell* v = arg(0);
  uint32_t t = TYPE_OF(v);
  logic::box((t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(get_float(v)));
}

namespace {

bool nan_number(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  return (t == TYPE_FLOAT || t == TYPE_PERCENT) && std::isnan(get_float(v));
}

bool plain_number(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_INTEGER;
}

bool is_point(uint32_t t) { return t == TYPE_POINT2D || t == TYPE_POINT3D; }

// A float cell truncated toward zero into a pair coordinate (refused with
// invalid-arg when it is not finite or leaves 32 bits).
int32_t pair_coord(float f) {
  Cell c = make_float(double(f));
  return pair::get_int(&c);
}

// Component-wise max/min of a pair, point or tuple in `a` against `b`;
// false when `b` is not a partner for `a`'s kind.
bool min_max_components(Cell* a, const Cell* b, bool max) {
  uint32_t ta = TYPE_OF(a), tb = TYPE_OF(b);
  bool scalar = tb == TYPE_INTEGER || tb == TYPE_FLOAT;
  if (ta == TYPE_PAIR) {
    int32_t bx, by;
    if (tb == TYPE_PAIR) {
      bx = pair::x(b);
      by = pair::y(b);
    } else if (is_point(tb)) {
      bx = pair_coord(point::coord(b, 0));
      by = pair_coord(point::coord(b, 1));
    } else if (scalar) {
      bx = by = pair::get_int(b);
    } else {
      return false;
    }
    auto pick = [max](int32_t p, int32_t q) { return max ? (q > p ? q : p) : (q < p ? q : p); };
    pair::make_at(a, pick(pair::x(a), bx), pick(pair::y(a), by));
    return true;
  }
  if (is_point(ta)) {
    int n = ta == TYPE_POINT2D ? 2 : 3;
    float other[3];
    if (tb == ta) {
      for (int i = 0; i < n; i++) other[i] = point::coord(b, i);
    } else if (tb == TYPE_PAIR) {
      other[0] = float(pair::x(b));
      other[1] = float(pair::y(b));
      other[2] = n == 3 ? point::coord(a, 2) : 0.0f;
    } else if (scalar) {
      float s = tb == TYPE_INTEGER ? float(get_integer(b)) : point::to_single(get_float(b));
      other[0] = other[1] = other[2] = s;
    } else {
      return false;
    }
    for (int i = 0; i < n; i++) {
      float p = point::coord(a, i), q = other[i];
      float r = std::isnan(p) || std::isnan(q) ? std::numeric_limits<float>::quiet_NaN()
                : max                           ? (q > p ? q : p)
                                                : (q < p ? q : p);
      point::set_coord(a, i, r);
    }
    return true;
  }
  if (ta == TYPE_TUPLE) {
    uint8_t other[tuple::MAX_BYTES] = {};
    uint32_t n = tuple::count(a);
    if (tb == TYPE_TUPLE) {
      std::memcpy(other, tuple::bytes(b), tuple::count(b));
    } else if (scalar) {
      double d = tb == TYPE_INTEGER ? double(get_integer(b)) : std::trunc(get_float(b));
      uint8_t s = std::isnan(d) ? 0 : d < 0.0 ? 0 : d > 255.0 ? 255 : uint8_t(d);
      std::memset(other, s, sizeof other);
    } else {
      return false;
    }
    uint8_t* bytes = tuple::bytes(a);
    for (uint32_t i = 0; i < n; i++) {
      uint8_t p = bytes[i], q = other[i];
      bytes[i] = max ? (q > p ? q : p) : (q < p ? q : p);
    }
    return true;
  }
  return false;
}

void min_max(bool max) {
  Cell* a = arg(0);
  Cell* b = arg(1);
  if (nan_number(a) && plain_number(b)) return;
  if (nan_number(b) && plain_number(a)) {
    *a = *b;
    return;
  }
  uint32_t ta = TYPE_OF(a);
  if ((ta == TYPE_PAIR || is_point(ta) || ta == TYPE_TUPLE) && min_max_components(a, b, max))
    return;
  bool lesser = actions::compare(a, b, COMP_LESSER);
  if (max ? lesser : !lesser) *a = *b;
}

}  // namespace

void max_star(bool, const int32_t*) { min_max(true); }
void min_star(bool, const int32_t*) { min_max(false); }

}  // namespace kez::natives
