// integer!: the action row, arithmetic with its float promotion, rounding
// and conversions.
//
// Two machine operations trap on x86-64 (-2147483648 / -1 and its
// remainder): both are refused before they run. Every other overflow is
// found with checked arithmetic or in 64 bits, so no operation here has
// undefined behaviour for any pair of 32-bit values.
#include "values/integer.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "services/random.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez {

// Conversions that belong to date! and money!; null until those datatypes
// are linked in.
namespace date {
__attribute__((weak)) int32_t to_epoch(const Cell* date);
}
namespace money {
__attribute__((weak)) int32_t to_integer(const Cell* money);
}

namespace integer {

int32_t get_star() { return get(stack::arguments); }
int32_t get_or_zero_star() {
  return TYPE_OF(stack::arguments) == TYPE_INTEGER ? get(stack::arguments) : 0;
}
void box(int32_t value) { *stack::arguments = make_integer(value); }
Cell* push(int32_t value) { return stack::push(make_integer(value)); }
Cell* make_at(Cell* cell, int32_t value) {
  set_type(cell, TYPE_INTEGER);
  cell->w2 = uint32_t(value);
  return cell;
}
Cell* make_in(Cell* block, int32_t value) {
  Cell* c = alloc_tail(block);
  *c = make_integer(value);
  return c;
}

std::string_view to_text(int32_t value) {
  static char text[12];
  auto r = std::to_chars(text, text + sizeof text, value);
  return {text, size_t(r.ptr - text)};
}

int32_t abs(int32_t value) {
  if (value == INT32_MIN) fire(err::MATH, err::math::OVERFLOW);
  return value < 0 ? -value : value;
}

bool overflow_q(const Cell* f) {
  double d = get_float(f);
  return !(d >= -2147483648.0 && d <= 2147483647.0);
}

int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* status) {
  int32_t result;
  switch (op) {
    case OP_ADD:
      if (__builtin_add_overflow(left, right, &result) && status)
        float_::make_at(status, double(left) + double(right));
      return result;
    case OP_SUB:
      if (__builtin_sub_overflow(left, right, &result) && status)
        float_::make_at(status, double(left) - double(right));
      return result;
    case OP_MUL:
      if (__builtin_mul_overflow(left, right, &result) && status)
        float_::make_at(status, double(left) * double(right));
      return result;
    case OP_DIV:
    case OP_REM:
      if (right == 0) fire(err::MATH, err::math::ZERO_DIVIDE);
      // The one quotient that leaves 32 bits; the machine would trap on it.
      if (left == INT32_MIN && right == -1) fire(err::MATH, err::math::OVERFLOW);
      if (op == OP_REM) return left % right;
      if (left % right != 0 && status) float_::make_at(status, double(left) / double(right));
      return left / right;
    case OP_OR: return left | right;
    case OP_AND: return left & right;
    case OP_XOR: return left ^ right;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
  uint32_t rt = TYPE_OF(right);
  switch (rt) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
      int32_t r = do_math_op(get(left), get(right), op, left);
      if (TYPE_OF(left) != TYPE_FLOAT) *left = make_integer(r);
      return left;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      return float_::do_math(left, right, op);
    case TYPE_VECTOR:
      return numbers::swapped_math(left, right, op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (op == OP_DIV) numbers::not_related(words::divide_word, TYPE_INTEGER);
      if (op == OP_SUB) {
        // number - pair is -pair + number.
        std::swap(*left, *right);
        numbers::type_action<negate_fn>(TYPE_OF(left), ACT_negate)(left);
        numbers::math_action(TYPE_OF(left), OP_ADD)(left, right);
        return left;
      }
      return numbers::swapped_math(left, right, op);
    case TYPE_TUPLE:
      if (op == OP_SUB) numbers::not_related(words::subtract_word, TYPE_INTEGER);
      if (op == OP_DIV) numbers::not_related(words::divide_word, TYPE_INTEGER);
      return numbers::swapped_math(left, right, op);
    case TYPE_DATE:
      if (op != OP_ADD) numbers::not_related(words::subtract_word, TYPE_INTEGER);
      return numbers::swapped_math(left, right, op);
    case TYPE_MONEY:
      return numbers::math_action(TYPE_MONEY, op)(left, right);
    default: numbers::invalid_type(rt);
  }
}

void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }

int32_t from_float(double value) {
  double t = std::trunc(value);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) {
    Cell dt = make_datatype(TYPE_INTEGER);
    fire(err::SCRIPT, err::script::TYPE_LIMIT, &dt);
  }
  return int32_t(t);
}

int32_t from_number(const Cell* value) {
  switch (TYPE_OF(value)) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return get(value);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      if (overflow_q(value)) {
        Cell v = *value;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
      }
      return int32_t(std::trunc(get_float(value)));
    default: {
      Cell v = *value;
      fire(err::SCRIPT, err::script::INVALID_ARG, &v);
    }
  }
}

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_INTEGER), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

// An issue's name as hexadecimal: at most 8 digits of either case.
int32_t from_hex_issue(const Cell* issue) {
  Cell v = *issue;
  std::string_view name = symbol::to_cstr(v.w2);
  uint32_t n = 0;
  bool ok = name.size() <= 8;
  for (size_t i = 0; ok && i < name.size(); i++) {
    char c = name[i];
    uint32_t d = c >= '0' && c <= '9' ? uint32_t(c - '0')
                 : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
                 : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
                                        : 16;
    ok = d < 16;
    n = (n << 4) | d;
  }
  if (!ok) fire(err::SCRIPT, err::script::INVALID_DATA, &v);
  return int32_t(n);
}

// The first up to 4 bytes at a binary's head, big-endian.
int32_t from_binary(const Cell* bin) {
  series_buffer* b = GET_BUFFER(bin);
  uint32_t used = b->used();
  uint32_t head = bin->w1 < used ? bin->w1 : used;
  uint32_t n = used - head < 4 ? used - head : 4;
  const uint8_t* p = b->head_ptr() + head;
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; i++) v = (v << 8) | p[i];
  return int32_t(v);
}

}  // namespace

Cell* to(Cell* proto, const Cell* spec, uint32_t) {
  int32_t v;
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_CHAR: v = get(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: v = from_float(get_float(spec)); break;
    case TYPE_TIME: v = from_float(get_float(spec) + 0.5); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: {
      int32_t error = 0;
      v = numbers::scan_integer(spec, &error);
      if (error) bad_to(spec);
      break;
    }
    case TYPE_ISSUE: v = from_hex_issue(spec); break;
    case TYPE_BINARY: v = from_binary(spec); break;
    case TYPE_DATE:
      if (!date::to_epoch) bad_to(spec);
      v = date::to_epoch(spec);
      break;
    case TYPE_MONEY:
      if (!money::to_integer) bad_to(spec);
      v = money::to_integer(spec);
      break;
    default: bad_to(spec);
  }
  *proto = make_integer(v);
  return proto;
}

namespace {

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  if (TYPE_OF(spec) == TYPE_LOGIC) {
    *proto = make_integer(spec->w1 ? 1 : 0);
    return proto;
  }
  return to(proto, spec, type);
}

Cell* random(Cell* v, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(get(v));
    *v = make_unset();
    return v;
  }
  *v = make_integer(random::rand(secure, get(v)));
  return v;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return part - string::append_literal(out, to_text(get(v)));
}

int32_t mold(const Cell* v, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(v, out, part);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t bt = TYPE_OF(b);
  if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && bt != TYPE_INTEGER) return 1;
  switch (bt) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
      int32_t x = get(a), y = get(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      return float_::compare_doubles(double(get(a)), get_float(b), op);
    case TYPE_MONEY:
      return numbers::compare_with_money(a, b, op);
    default: return -2;
  }
}

Cell* absolute(Cell* v) { return make_at(v, abs(get(v))); }

Cell* negate(Cell* v) {
  if (get(v) == INT32_MIN) fire(err::MATH, err::math::OVERFLOW);
  return make_at(v, -get(v));
}

Cell* complement(Cell* v) { return make_at(v, ~get(v)); }

// The action entries. Two integers whose sum, difference or product fits
// take the short path: one checked operation, no dispatch on the operator.
template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  if constexpr (OP == OP_ADD || OP == OP_SUB || OP == OP_MUL) {
    int32_t r;
    bool overflow = OP == OP_ADD   ? __builtin_add_overflow(get(a), get(b), &r)
                    : OP == OP_SUB ? __builtin_sub_overflow(get(a), get(b), &r)
                                   : __builtin_mul_overflow(get(a), get(b), &r);
    if (TYPE_OF(b) == TYPE_INTEGER && !overflow) {
      *a = make_integer(r);
      return a;
    }
  }
  return do_math(a, b, OP);
}

Cell* power(Cell* base, Cell* exponent) {
  uint32_t et = TYPE_OF(exponent);
  if (et != TYPE_INTEGER && et != TYPE_FLOAT) numbers::expect_arg(exponent, "exponent");
  if (et == TYPE_FLOAT || get(exponent) < 0) {
    float_::make_at(base, double(get(base)));
    return float_::power(base, exponent);
  }
  // Exponentiation by squaring; any overflow hands the whole power to
  // the float computation.
  int32_t b = get(base), e = get(exponent), r = 1;
  bool overflow = false;
  while (e > 0 && !overflow) {
    if (e & 1) overflow = __builtin_mul_overflow(r, b, &r);
    e >>= 1;
    if (e > 0 && !overflow) overflow = __builtin_mul_overflow(b, b, &b);
  }
  if (overflow) {
    float_::make_at(base, double(get(base)));
    return float_::power(base, exponent);
  }
  return make_at(base, r);
}

Cell* round(Cell* v, const round_options& o) {
  const Cell* scale = o.scale;
  if (scale && TYPE_OF(scale) == TYPE_MONEY) {
    Cell w = word::make_global(symbol::make("round"));
    numbers::not_related(w, TYPE_MONEY);
  }
  int32_t value = get(v);
  if (value == INT32_MIN) return v;
  if (scale && TYPE_OF(scale) != TYPE_INTEGER) {
    float_::make_at(v, double(value));
    return float_::round(v, o);
  }
  int64_t s = scale ? get(scale) : 1;
  if (s < 0) s = -s;
  if (s == 0) return v;
  int64_t a = value < 0 ? -int64_t(value) : value;
  int64_t q = a / s, r = a % s;
  if (r == 0) return v;
  int64_t sign = value < 0 ? -1 : 1;
  int64_t down = sign * (a - r), up = sign * (a + (s - r));
  bool negative = value < 0;
  bool take_up;
  if (o.down) take_up = false;
  else if (o.floor) take_up = negative;
  else if (o.ceiling) take_up = !negative;
  else if (r < s - r) take_up = false;
  else if (r > s - r) take_up = true;
  else if (o.even) take_up = (q & 1) != 0;
  else if (o.half_down) take_up = false;
  else if (o.half_ceiling) take_up = !negative;
  else take_up = true;
  bool up_fits = up >= INT32_MIN && up <= INT32_MAX;
  if (!up_fits && (take_up || o.floor || o.ceiling)) fire(err::MATH, err::math::OVERFLOW);
  return make_at(v, int32_t(take_up ? up : down));
}

bool even_q(const Cell* v) { return (get(v) & 1) == 0; }
bool odd_q(const Cell* v) { return (get(v) & 1) != 0; }

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  r.absolute = absolute;
  r.add = math<OP_ADD>;
  r.divide = math<OP_DIV>;
  r.multiply = math<OP_MUL>;
  r.negate = negate;
  r.power = power;
  r.remainder = math<OP_REM>;
  r.round = round;
  r.subtract = math<OP_SUB>;
  r.even_q = even_q;
  r.odd_q = odd_q;
  r.and_t = math<OP_AND>;
  r.complement = complement;
  r.or_t = math<OP_OR>;
  r.xor_t = math<OP_XOR>;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_INTEGER, 0, "integer!", ROW); }

}  // namespace integer
}  // namespace kez
