// float!: the text forms, tolerant equality, mixed arithmetic, rounding,
// conversions and the action row that percent! and time! inherit.
//
// The text of `form` follows printf's "%.Ng" digits (produced by
// std::to_chars, which is locale-free and exact) and then the language's
// layout: a long digit run ending in 01 or 99 is formatted again with fewer
// digits, the exponent loses its "+" and leading zeros, and a number
// without a point gets ".0". `mold` writes the shortest text that reads
// back to the same double.
#include "values/float.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "services/random.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez {

// money!'s value as a double; null until money! is linked in.
namespace money {
__attribute__((weak)) double to_float(const Cell* money);
}

namespace float_ {

bool pretty_print = true;
bool full_support = false;

double get_any(const Cell* c) {
  uint32_t t = TYPE_OF(c);
  if (t == TYPE_INTEGER) return double(int32_t(c->w2));
  if (t == TYPE_FLOAT) return get_float(c);
  Cell dt = make_datatype(TYPE_FLOAT), v = *c;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

void box(double value) { *stack::arguments = make_float(value); }
Cell* push(double value) { return stack::push(make_float(value)); }
Cell* push64(uint32_t high, uint32_t low) { return stack::push(Cell{TYPE_FLOAT, 0, low, high}); }
Cell* make_at(Cell* cell, double value) {
  set_type(cell, TYPE_FLOAT);
  put_float(cell, value);
  return cell;
}
Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
  Cell* c = alloc_tail(block);
  *c = Cell{TYPE_FLOAT, 0, low, high};
  return c;
}

double from_binary(const Cell* bin) {
  series_buffer* b = GET_BUFFER(bin);
  uint32_t used = b->used();
  uint32_t head = bin->w1 < used ? bin->w1 : used;
  uint32_t n = used - head < 8 ? used - head : 8;
  const uint8_t* p = b->head_ptr() + head;
  uint64_t bits = 0;
  for (uint32_t i = 0; i < n; i++) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

bool nan_q(uint32_t low, uint32_t high) {
  return (high & 0x7FF00000) == 0x7FF00000 && ((high & 0x000FFFFF) | low) != 0;
}
bool nan32_q(float value) { return std::isnan(value); }
bool special_q(double value) { return !std::isfinite(value); }

namespace {

// A double's bits as a key whose unsigned order is the numeric order.
uint64_t ordered_key(double d) {
  uint64_t u = std::bit_cast<uint64_t>(d);
  return (u >> 63) ? ~u + 1 : u | 0x8000000000000000ull;
}

// Two keys apart by at most this many units in the last place are equal.
constexpr uint64_t EQUAL_ULPS = 10;
// Infinite 32-bit values match magnitudes this close (2^20 patterns).
constexpr int64_t INFINITE32_SPREAD = 1 << 20;

}  // namespace

bool almost_equal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::fabs(a - b) < EPSILON) return true;
  uint64_t ka = ordered_key(a), kb = ordered_key(b);
  uint64_t diff = ka > kb ? ka - kb : kb - ka;
  uint32_t ha = uint32_t(ka >> 32), hb = uint32_t(kb >> 32);
  uint32_t hdiff = ha > hb ? ha - hb : hb - ha;
  return hdiff <= 1 && diff <= EQUAL_ULPS;
}

bool almost_equal32(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  uint32_t ua = std::bit_cast<uint32_t>(a), ub = std::bit_cast<uint32_t>(b);
  if (std::isinf(a) || std::isinf(b)) {
    if ((ua >> 31) != (ub >> 31)) return false;
    int64_t d = int64_t(ua & 0x7FFFFFFF) - int64_t(ub & 0x7FFFFFFF);
    return (d < 0 ? -d : d) < INFINITE32_SPREAD;
  }
  auto ordered = [](uint32_t u) {
    return (u >> 31) ? -int64_t(u & 0x7FFFFFFF) : int64_t(u);
  };
  int64_t d = ordered(ua) - ordered(ub);
  return (d < 0 ? -d : d) <= int64_t(EQUAL_ULPS);
}

namespace {

// The printf "%.<precision>g" text of a double.
int print_g(char* out, size_t size, double value, int precision) {
  auto r = std::to_chars(out, out + size, value, std::chars_format::general, precision);
  return int(r.ptr - out);
}

// A text too long to be what the user meant: more than 16 characters of
// mantissa (17 for a plain "0.ddd" text).
bool too_long(const char* t, int n) {
  const char* e = static_cast<const char*>(std::memchr(t, 'e', size_t(n)));
  if (e) return e - t > 16;
  if (n <= 16) return false;
  char first = t[0] == '-' ? t[1] : t[0];
  return first != '0' || n > 17;
}

// Drops the exponent's "+" and leading zeros ("1e+020" becomes "1e20").
int clean_exponent(char* t, int n) {
  char* e = static_cast<char*>(std::memchr(t, 'e', size_t(n)));
  if (!e) return n;
  char* src = e + 1;
  char* dst = e + 1;
  char* end = t + n;
  if (src < end && *src == '+') src++;
  else if (src < end && *src == '-') *dst++ = *src++;
  while (src < end - 1 && *src == '0') src++;
  while (src < end) *dst++ = *src++;
  return int(dst - t);
}

}  // namespace

std::string_view to_text(double value, int32_t mode) {
  // Longest text: "-d.ddddddddddddddde-308" plus what the layout adds.
  static char text[32];
  if (std::isnan(value)) return "1.#NaN";
  if (std::isinf(value)) return value > 0 ? "1.#INF" : "-1.#INF";
  if (pretty_print && abs(value) < EPSILON) {
    if (mode == MODE_PERCENT32 || mode == MODE_PERCENT) return "0%";
    return mode == MODE_POINT ? "0" : "0.0";
  }
  constexpr size_t room = sizeof text - 4;  // kept for "%" or ".0"
  int n;
  switch (mode) {
    case MODE_VECTOR32:
    case MODE_PERCENT32:
    case MODE_POINT: n = print_g(text, room, value, 7); break;
    case MODE_PERCENT: n = print_g(text, room, value, 13); break;
    case MODE_TIME: n = dtoa::form_float_to(text, value, 6, false); break;
    default: n = print_g(text, room, value, 16); break;
  }
  if (pretty_print && too_long(text, n)) {
    const char* e = static_cast<const char*>(std::memchr(text, 'e', size_t(n)));
    const char* m = e ? e : text + n;
    if ((m[-2] == '0' && m[-1] == '1') || (m[-2] == '9' && m[-1] == '9')) {
      bool short_mode = mode == MODE_VECTOR32 || mode == MODE_TIME || mode == MODE_POINT;
      n = print_g(text, room, value, short_mode ? 5 : 14);
    }
  }
  n = clean_exponent(text, n);
  if (mode == MODE_PERCENT32 || mode == MODE_PERCENT) {
    text[n++] = '%';
  } else if (mode != MODE_TIME && mode != MODE_POINT && !std::memchr(text, '.', size_t(n))) {
    char* e = static_cast<char*>(std::memchr(text, 'e', size_t(n)));
    char* at = e ? e : text + n;
    std::memmove(at + 2, at, size_t(text + n - at));
    at[0] = '.';
    at[1] = '0';
    n += 2;
  }
  return {text, size_t(n)};
}

int32_t append_text(Cell* out, double value, int32_t mode) {
  return string::append_literal(out, to_text(value, mode));
}

double do_math_op(double left, double right, int32_t op) {
  switch (op) {
    case OP_ADD: return left + right;
    case OP_SUB: return left - right;
    case OP_MUL: return left * right;
    case OP_DIV: return left / right;
    case OP_REM:
      if (std::isnan(right)) return right;
      if (std::isinf(right)) return std::isfinite(left) ? left : std::numeric_limits<double>::quiet_NaN();
      return std::fmod(left, right);
    default: numbers::cannot_use(TYPE_FLOAT);
  }
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
  uint32_t lt = TYPE_OF(left), rt = TYPE_OF(right);
  switch (rt) {
    case TYPE_TUPLE:
      if (op == OP_SUB || op == OP_DIV)
        numbers::not_related(op == OP_SUB ? words::subtract_word : words::divide_word, lt);
      return numbers::swapped_math(left, right, op);
    case TYPE_VECTOR: return numbers::swapped_math(left, right, op);
    case TYPE_MONEY: return numbers::math_action(TYPE_MONEY, op)(left, right);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (lt == TYPE_TIME) numbers::invalid_type(rt);
      if (op == OP_SUB) numbers::not_related(words::subtract_word, rt);
      if (op == OP_DIV) numbers::not_related(words::divide_word, rt);
      return numbers::swapped_math(left, right, op);
    case TYPE_CHAR:
      if (lt == TYPE_TIME || lt == TYPE_PERCENT) numbers::invalid_type(rt);
      break;
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: break;
    default: numbers::invalid_type(rt);
  }
  double x = lt == TYPE_INTEGER ? double(int32_t(left->w2)) : get_float(left);
  double y = rt == TYPE_INTEGER || rt == TYPE_CHAR ? double(int32_t(right->w2)) : get_float(right);
  uint32_t type = lt == TYPE_TIME || rt == TYPE_TIME ? TYPE_TIME
                  : lt == TYPE_PERCENT                ? TYPE_PERCENT
                  : lt == TYPE_INTEGER                ? TYPE_FLOAT
                                                      : lt;
  double r = do_math_op(x, y, op);
  set_type(left, type);
  put_float(left, r);
  return left;
}

void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }

int32_t compare_doubles(double a, double b, int32_t op) {
  auto order = [&] { return a < b ? -1 : a > b ? 1 : 0; };
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL: return almost_equal(a, b) ? 0 : (a < b ? -1 : 1);
    case COMP_STRICT_EQUAL: return a == b ? 0 : (a < b ? -1 : 1);
    case COMP_SAME:
      return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) ? 0 : (a < b ? -1 : 1);
    default:
      if (std::isnan(a) || std::isnan(b)) {
        if (op == COMP_LESSER || op == COMP_LESSER_EQUAL) return 1;
        if (op == COMP_GREATER || op == COMP_GREATER_EQUAL) return -1;
        return 0;
      }
      return order();
  }
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t bt = TYPE_OF(b);
  if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && bt != TYPE_OF(a)) return 1;
  double y;
  switch (bt) {
    case TYPE_INTEGER: y = double(int32_t(b->w2)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: y = get_float(b); break;
    case TYPE_MONEY: return numbers::compare_with_money(a, b, op);
    default: return -2;
  }
  return compare_doubles(get_float(a), y, op);
}

double get_random(double limit, bool secure) {
  if (secure) {
    double r1 = random::secure_int();
    double r2 = random::secure_int();
    return (r2 + r1 / 2147483647.0) * limit / 2147483648.0;
  }
  return double(int32_t(random::next())) / 2147483647.0 * limit;
}

namespace {

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
  Cell dt = make_datatype(type), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

// A percent! from text: the text read as one number value.
double percent_from_text(const Cell* spec) {
  Cell* saved = stack::top;
  Cell* block = lexer::scan_string(spec);
  Cell v = block::rs_length(block) == 1 ? *block::rs_head(block) : none_value;
  stack::top = saved;
  uint32_t t = TYPE_OF(&v);
  if (t == TYPE_INTEGER) return double(get_integer(&v));
  if (t == TYPE_FLOAT || t == TYPE_PERCENT) return get_float(&v);
  bad_to(TYPE_PERCENT, spec);
}

}  // namespace

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  double d;
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_CHAR: d = double(int32_t(spec->w2)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: d = get_float(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell b = *spec;
      if (block::rs_length(&b) != 2) bad_to(type, spec);
      Cell m = block::rs_head(&b)[0], e = block::rs_head(&b)[1];
      double mantissa = get_any(&m), exponent = std::trunc(get_any(&e));
      d = mantissa * std::pow(10.0, exponent);
      break;
    }
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
      if (type == TYPE_PERCENT) {
        d = percent_from_text(spec);
      } else {
        int32_t error = 0;
        d = numbers::scan_float(spec, &error);
        if (error) bad_to(type, spec);
      }
      break;
    case TYPE_BINARY: d = from_binary(spec); break;
    case TYPE_MONEY:
      if (!money::to_float) bad_to(type, spec);
      d = money::to_float(spec);
      break;
    default: bad_to(type, spec);
  }
  *proto = make_float_of(type, d);
  return proto;
}

Cell* power(Cell* base, Cell* exponent) {
  uint32_t et = TYPE_OF(exponent);
  if (et != TYPE_INTEGER && et != TYPE_FLOAT) numbers::expect_arg(exponent, "exponent");
  double x = TYPE_OF(base) == TYPE_INTEGER ? double(get_integer(base)) : get_float(base);
  double r = std::pow(x, get_any(exponent));
  if (TYPE_OF(base) == TYPE_INTEGER) set_type(base, TYPE_FLOAT);
  put_float(base, r);
  return base;
}

namespace {

// The rounding of v to a whole number under the refinements.
double round_whole(double v, const round_options& o) {
  if (o.down) return std::trunc(v);
  if (o.floor) return std::floor(v);
  if (o.ceiling) return std::ceil(v);
  double a = std::fabs(v), f = std::floor(a), half = f + 0.5, r;
  if (a < half) r = f;
  else if (a > half) r = f + 1;
  else if (o.even) r = std::fmod(f, 2.0) >= 1 ? f + 1 : f;
  else if (o.half_down) r = f;
  else if (o.half_ceiling) return std::ceil(v);
  else r = f + 1;
  return std::signbit(v) ? -r : r;
}

}  // namespace

Cell* round(Cell* value, const round_options& o) {
  double scale = TYPE_OF(value) == TYPE_PERCENT ? 0.01 : 1.0;
  if (o.scale) {
    uint32_t st = TYPE_OF(o.scale);
    if (st == TYPE_MONEY) {
      Cell w = word::make_global(symbol::make("round"));
      numbers::not_related(w, TYPE_MONEY);
    }
    if (st != TYPE_INTEGER && st != TYPE_FLOAT) numbers::expect_arg(o.scale, "scale");
    scale = std::fabs(get_any(o.scale));
    if (TYPE_OF(value) == TYPE_PERCENT) scale /= 100.0;
  }
  double v = get_float(value);
  // A zero scale leaves the value as it is, as integer! rounding does
  // (the general path would turn it into NaN).
  if (scale == 0.0) return value;
  // Beyond 2^53 times the scale every double is already a multiple.
  if (std::fabs(v) * 0x1p-53 > scale) return value;
  double result;
  if (scale >= 1.0) {
    result = round_whole(v / scale, o) * scale;
  } else {
    // 1 / scale overflows for the tiniest scales: work on both scaled by
    // the scale's binary exponent and scale the result back.
    int e = 0;
    std::frexp(scale, &e);
    if (e < -1021) {
      double inverse = 1.0 / std::ldexp(scale, -e);
      result = std::ldexp(round_whole(std::ldexp(v, -e) * inverse, o) / inverse, e);
    } else {
      double inverse = 1.0 / scale;
      result = round_whole(v * inverse, o) / inverse;
    }
  }
  if (std::fabs(result) == std::numeric_limits<double>::max()) fire(err::MATH, err::math::OVERFLOW);
  put_float(value, result);
  return value;
}

namespace {

Cell* random(Cell* v, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(v->w2 ^ v->w3));
    *v = make_unset();
    return v;
  }
  put_float(v, get_random(get_float(v), secure));
  return v;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return part - append_text(out, get_float(v), MODE_FLOAT);
}

int32_t mold(const Cell* v, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  char text[dtoa::FORM_BUFFER];
  int n = dtoa::form_float_to(text, get_float(v), 0, true);
  return part - string::append_literal(out, std::string_view(text, size_t(n)));
}

Cell* absolute(Cell* v) {
  put_float(v, abs(get_float(v)));
  return v;
}

Cell* negate(Cell* v) {
  put_float(v, 0.0 - get_float(v));
  return v;
}

template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  return do_math(a, b, OP);
}

// The parity of the value truncated to an integer (wrapping to 32 bits
// keeps the lowest bit, so the wide value's parity is the same); infinity
// and NaN count as even.
bool odd_q(const Cell* v) {
  double t = std::trunc(get_float(v));
  return std::isfinite(t) && std::fmod(t, 2.0) != 0.0;
}
bool even_q(const Cell* v) { return !odd_q(v); }

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = make;
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
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_FLOAT, 0, "float!", ROW); }

}  // namespace float_
}  // namespace kez
