// tuple!: making and converting, byte-wise clamped arithmetic, comparison,
// paths, reverse and the dotted text form.
//
// Every result byte is clamped to 0-255 before it is stored, and a float
// is range-checked before it is truncated, so no operand makes a byte wrap
// or a conversion overflow. A tuple is an immediate value: each action works
// on the cell it is given.
#include "types/tuple.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "services/random.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/integer.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::tuple {

constexpr uint32_t COUNT_MASK = 0xFu << TUPLE_SIZE_SHIFT;

Cell* make_at(Cell* cell, const uint8_t* data, uint32_t n) {
  uint8_t image[MAX_BYTES] = {};
  std::memcpy(image, data, n);
  cell->header = (cell->header & CELL_NEW_LINE) | TYPE_TUPLE | (n << TUPLE_SIZE_SHIFT);
  std::memcpy(bytes(cell), image, MAX_BYTES);
  return cell;
}

Cell* push(uint32_t n, uint32_t w1, uint32_t w2, uint32_t w3) {
  return stack::push(Cell{TYPE_TUPLE | (n << TUPLE_SIZE_SHIFT), w1, w2, w3});
}

Cell* make_from_ints(Cell* cell, uint32_t n, const int32_t* values) {
  uint8_t data[MAX_BYTES] = {};
  n = std::min(n, MAX_BYTES);
  for (uint32_t i = 0; i < n; i++) data[i] = uint8_t(values[i]);
  return make_at(cell, data, std::max(n, MIN_BYTES));
}

Cell* from_binary(const Cell* binary, Cell* cell) {
  uint8_t data[MAX_BYTES] = {};
  series_buffer* b = GET_BUFFER(binary);
  uint32_t used = b->used();
  uint32_t head = std::min(binary->w1, used);
  uint32_t n = std::min(used - head, MAX_BYTES);
  std::memcpy(data, b->head_ptr() + head, n);
  return make_at(cell, data, std::max(n, MIN_BYTES));
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Cell* from_issue(const Cell* issue, Cell* cell) {
  Cell v = *issue;
  std::string_view name = symbol::to_cstr(v.w2);
  size_t n = name.size();
  bool ok = n == 3 || n == 6 || n == 8;
  int d[8] = {};
  for (size_t i = 0; ok && i < n; i++) ok = (d[i] = hex_digit(name[i])) >= 0;
  if (!ok) fire(err::SCRIPT, err::script::INVALID_DATA, &v);
  uint8_t data[4];
  if (n == 3) {
    for (int i = 0; i < 3; i++) data[i] = uint8_t(d[i] * 17);
  } else {
    for (size_t i = 0; i < n / 2; i++) data[i] = uint8_t(d[2 * i] << 4 | d[2 * i + 1]);
  }
  return make_at(cell, data, n == 8 ? 4 : 3);
}

namespace {

[[noreturn]] void out_of_range(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::OUT_OF_RANGE, &c);
}

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_TUPLE), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

[[noreturn]] void bad_refine(uint32_t word, const Cell* value) {
  Cell w = word::make_global(word), v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

uint8_t clamp(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double truncated toward zero into 0-255 (NaN gives 0).
uint8_t clamp_float(double d) {
  if (!(d > 0.0)) return 0;
  if (d >= 255.0) return 255;
  return uint8_t(d);
}

}  // namespace

void set_byte(Cell* tuple, int32_t index, const Cell* value) {
  uint32_t n = count(tuple);
  if (index < 1 || uint32_t(index) > n) out_of_range(value);
  uint8_t* b = bytes(tuple);
  if (TYPE_OF(value) == TYPE_NONE) {
    for (uint32_t i = uint32_t(index) - 1; i < n; i++) b[i] = 0;
    uint32_t cut = std::max(uint32_t(index) - 1, MIN_BYTES);
    tuple->header = (tuple->header & ~COUNT_MASK) | (cut << TUPLE_SIZE_SHIFT);
  } else {
    b[index - 1] = clamp(get_integer(value));
  }
}

bool all_zero_q(const Cell* tuple) {
  const uint8_t* b = bytes(tuple);
  return std::all_of(b, b + count(tuple), [](uint8_t x) { return x == 0; });
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
  uint8_t a[MAX_BYTES];
  std::memcpy(a, bytes(left), MAX_BYTES);
  // The size field holds up to 15: the bounds keep the writes in `a`.
  uint32_t n = std::min(count(left), MAX_BYTES);
  uint32_t rt = TYPE_OF(right);
  switch (rt) {
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double x = get_float(right);
      if ((op == OP_DIV || op == OP_REM) && x == 0.0) fire(err::MATH, err::math::ZERO_DIVIDE);
      for (uint32_t i = 0; i < n; i++) a[i] = clamp_float(float_::do_math_op(a[i], x, op));
      break;
    }
    case TYPE_INTEGER:
    case TYPE_TUPLE: {
      bool with_tuple = rt == TYPE_TUPLE;
      uint32_t other_count = with_tuple ? count(right) : 0;
      if (other_count > n) n = std::min(other_count, MAX_BYTES);
      for (uint32_t i = 0; i < n; i++) {
        int32_t other = !with_tuple            ? get_integer(right)
                        : i < other_count      ? int32_t(bytes(right)[i])
                                               : 0;
        // An inexact quotient stays truncated; any other result beyond
        // 32 bits comes back as a float! and saturates.
        Cell status = make_none();
        int32_t r = integer::do_math_op(a[i], other, op, op == OP_DIV ? nullptr : &status);
        if (TYPE_OF(&status) == TYPE_FLOAT) r = get_float(&status) > 0.0 ? 255 : 0;
        a[i] = clamp(r);
      }
      break;
    }
    default: numbers::invalid_type(rt);
  }
  return make_at(left, a, n);
}

void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }

namespace {

// A tuple from a block of 0-255 integers, chars or floats.
void from_block(Cell* result, const Cell* spec) {
  Cell b = *spec;
  int32_t n = block::rs_length(&b);
  if (n > int32_t(MAX_BYTES)) bad_to(spec);
  uint8_t data[MAX_BYTES] = {};
  for (int32_t i = 0; i < n; i++) {
    Cell e = block::rs_head(&b)[i];
    double v;
    switch (TYPE_OF(&e)) {
      case TYPE_INTEGER:
      case TYPE_CHAR: v = double(int32_t(e.w2)); break;
      case TYPE_FLOAT: v = std::trunc(get_float(&e)); break;
      default: bad_to(spec);
    }
    if (!(v >= 0.0 && v <= 255.0)) bad_to(spec);
    data[i] = uint8_t(v);
  }
  make_at(result, data, std::max(uint32_t(n > 0 ? n : 0), MIN_BYTES));
}

// The text read as exactly one value, which must be a tuple.
void from_text(Cell* result, const Cell* spec) {
  Cell* saved = stack::top;
  Cell* block = lexer::scan_string(spec);
  Cell v = block::rs_length(block) == 1 ? *block::rs_head(block) : none_value;
  stack::top = saved;
  if (TYPE_OF(&v) != TYPE_TUPLE) bad_to(spec);
  *result = v;
  clear_new_line(result);
}

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  Cell result = make_none();
  switch (TYPE_OF(spec)) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: from_block(&result, spec); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
      from_text(&result, spec);
      break;
    case TYPE_ISSUE: from_issue(spec, &result); break;
    case TYPE_BINARY: from_binary(spec, &result); break;
    case TYPE_TUPLE: result = *spec; break;
    default: bad_to(spec);
  }
  *proto = result;
  return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w1 ^ value->w2 ^ value->w3));
    *value = make_unset();
    return value;
  }
  uint8_t* b = bytes(value);
  for (uint32_t i = 0; i < count(value); i++)
    b[i] = uint8_t(random::rand(secure, int32_t(b[i]) + 1) - 1);
  return value;
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  char text[MAX_BYTES * 4];
  char* p = text;
  const uint8_t* b = bytes(value);
  for (uint32_t i = 0; i < count(value); i++) {
    if (i) *p++ = '.';
    p = std::to_chars(p, text + sizeof text, b[i]).ptr;
  }
  return part - string::append_literal(out, {text, size_t(p - text)});
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(value, out, part);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
  if (index < 1 || uint32_t(index) > count(value)) out_of_range(index_value);
  *value = make_integer(bytes(value)[index - 1]);
  return value;
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell el = *step.element;
  if (TYPE_OF(&el) != TYPE_INTEGER) numbers::invalid_type(TYPE_OF(&el));
  if (!step.value) {
    *out = *step.parent;
    return pick(out, get_integer(&el), &el);
  }
  Cell v = *step.value;
  if (TYPE_OF(&v) != TYPE_INTEGER && TYPE_OF(&v) != TYPE_NONE) numbers::invalid_type(TYPE_OF(&v));
  set_byte(step.parent, get_integer(&el), &v);
  *out = v;
  return out;
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
  if (TYPE_OF(b) != TYPE_TUPLE) return -2;
  uint32_t n = std::max(count(a), count(b));
  // Bytes past a count are 0, so both arrays read as they should up to n.
  const uint8_t *x = bytes(a), *y = bytes(b);
  for (uint32_t i = 0; i < n; i++)
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  return 0;
}

template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  return do_math(a, b, OP);
}

Cell* complement(Cell* value) {
  uint8_t* b = bytes(value);
  for (uint32_t i = 0; i < count(value); i++) b[i] = uint8_t(255 - b[i]);
  return value;
}

int32_t length_q(const Cell* value) { return int32_t(count(value)); }

Cell* reverse(Cell* value, const Cell* part, const Cell* skip) {
  uint32_t n = count(value);
  if (part) {
    if (TYPE_OF(part) != TYPE_INTEGER) bad_refine(words::part, part);
    if (get_integer(part) < 0) out_of_range(part);
    n = std::min(n, uint32_t(get_integer(part)));
  }
  uint32_t step = 1;
  if (skip) {
    if (TYPE_OF(skip) != TYPE_INTEGER) bad_refine(words::skip, skip);
    int32_t s = get_integer(skip);
    if (s == int32_t(count(value))) return value;
    if (s < 1) out_of_range(skip);
    if (uint32_t(s) > n || n % uint32_t(s) != 0) bad_refine(words::skip, skip);
    step = uint32_t(s);
  }
  uint8_t* b = bytes(value);
  uint8_t reversed[MAX_BYTES];
  uint32_t records = step ? n / step : 0;
  for (uint32_t r = 0; r < records; r++)
    std::memcpy(reversed + r * step, b + (records - 1 - r) * step, step);
  std::memcpy(b, reversed, records * step);
  return value;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.add = math<OP_ADD>;
  r.subtract = math<OP_SUB>;
  r.multiply = math<OP_MUL>;
  r.divide = math<OP_DIV>;
  r.remainder = math<OP_REM>;
  r.and_t = math<OP_AND>;
  r.or_t = math<OP_OR>;
  r.xor_t = math<OP_XOR>;
  r.complement = complement;
  r.length_q = length_q;
  r.pick = pick;
  r.reverse = reverse;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_TUPLE, 0, "tuple!", ROW); }

}  // namespace kez::tuple
