// char!: making and converting, the text forms, comparison by code point and
// the arithmetic.
//
// Every char! the system makes holds a code point from 0 to 0x10FFFF: each
// conversion and each arithmetic result is checked against that range before
// a char! is written. Arithmetic runs in 64 bits, so an overflow of 32-bit
// integers is one more out-of-range result.
#include "values/char.h"

#include <cmath>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"

namespace kez::char_ {

Cell* push(uint32_t cp) { return stack::push(make_char(cp)); }

Cell* make_in(Cell* block, uint32_t cp) {
  Cell c = make_char(cp);
  return block::rs_append(block, &c);
}

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_CHAR), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

[[noreturn]] void out_of_range(const Cell* spec) {
  Cell v = *spec;
  fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
}

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  uint32_t st = TYPE_OF(spec);
  int64_t cp;
  switch (st) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      cp = int32_t(spec->w2);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double d = std::trunc(get_float(spec));
      if (!(d >= 0 && d <= MAX_CODE_POINT)) out_of_range(spec);
      cp = int64_t(d);
      break;
    }
    case TYPE_BINARY: {
      series_buffer* b = GET_BUFFER(spec);
      uint32_t total = b->used();
      uint32_t head = std::min(spec->w1, total);
      if (head == total) bad_to(spec);
      int32_t count = int32_t(total - head);
      int32_t decoded = unicode::decode_utf8_char(GET_BUFFER(spec)->head_ptr() + head, &count);
      if (decoded < 0) bad_to(spec);
      cp = decoded;
      break;
    }
    default:
      if (!string::is_string_type(st)) bad_to(spec);
      if (string::rs_tail_q(spec)) bad_to(spec);
      cp = string::rs_abs_at(spec, spec->w1);
  }
  if (!valid_code_point(cp)) out_of_range(spec);
  *proto = make_char(uint32_t(cp));
  return proto;
}

int32_t form(const Cell* c, Cell* out, int32_t part) {
  string::append_char(out->w2, c->w2);
  return part - 1;
}

int32_t mold(const Cell* c, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  uint32_t cp = c->w2;
  string::append_literal(out, "#\"");
  string::append_escaped_char(out, cp, all);
  string::append_char(out->w2, '"');
  return part - 4;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t bt = TYPE_OF(b);
  if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && bt != TYPE_CHAR) return 1;
  if (bt != TYPE_CHAR && bt != TYPE_INTEGER) return -2;
  int32_t x = int32_t(a->w2), y = int32_t(b->w2);
  return (x > y) - (x < y);
}

Cell* do_math(Cell* a, Cell* b, int32_t op) {
  int64_t left = int32_t(a->w2), right;
  switch (TYPE_OF(b)) {
    case TYPE_CHAR:
    case TYPE_INTEGER: right = int32_t(b->w2); break;
    case TYPE_FLOAT: {
      double d = std::trunc(get_float(b));
      if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(err::MATH, err::math::OVERFLOW);
      right = int64_t(d);
      break;
    }
    case TYPE_VECTOR: fire(err::INTERNAL, err::internal::NOT_DONE);
    default: {
      Cell dt = make_datatype(TYPE_OF(b));
      fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
    }
  }
  int64_t r;
  switch (op) {
    case OP_ADD: r = left + right; break;
    case OP_SUB: r = left - right; break;
    case OP_MUL: r = left * right; break;
    case OP_DIV:
    case OP_REM:
      if (right == 0) fire(err::MATH, err::math::ZERO_DIVIDE);
      r = op == OP_DIV ? left / right : left % right;
      break;
    case OP_OR: r = int32_t(left) | int32_t(right); break;
    case OP_AND: r = int32_t(left) & int32_t(right); break;
    case OP_XOR: r = int32_t(left) ^ int32_t(right); break;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  if (!valid_code_point(r)) fire(err::MATH, err::math::OVERFLOW);
  *a = make_char(uint32_t(r));
  return a;
}

template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  return do_math(a, b, OP);
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from integer!
  r.make = make;
  r.reflect = UNSUPPORTED;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.eval_path = UNSUPPORTED;
  r.set_path = UNSUPPORTED;
  r.compare = compare;
  r.add = math<OP_ADD>;
  r.divide = math<OP_DIV>;
  r.multiply = math<OP_MUL>;
  r.negate = UNSUPPORTED;
  r.power = UNSUPPORTED;
  r.remainder = math<OP_REM>;
  r.round = UNSUPPORTED;
  r.subtract = math<OP_SUB>;
  r.and_t = math<OP_AND>;
  r.complement = UNSUPPORTED;
  r.or_t = math<OP_OR>;
  r.xor_t = math<OP_XOR>;
#define KEZ_CHAR_NONE(id, name, sig) \
  if (id >= ACT_append) r.name = UNSUPPORTED;
  KEZ_ACTIONS(KEZ_CHAR_NONE)
#undef KEZ_CHAR_NONE
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_CHAR, TYPE_INTEGER, "char!", ROW); }

}  // namespace kez::char_
