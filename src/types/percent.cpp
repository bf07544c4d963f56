// percent! and triple!: their constructors and text forms.
//
// A percent's text is its fraction times 100 written by the float text
// routine in its percent mode, so form and mold agree and the sign of
// -0.5% is kept. mold/all writes more digits where those are needed for
// the text to load back as the same value.
#include "types/percent.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/registry.h"
#include "values/string.h"

namespace kez::percent {

void box(double x) { *stack::arguments = make_float_of(TYPE_PERCENT, x); }

Cell* make_at(Cell* cell, double x) {
  cell->header = (cell->header & CELL_NEW_LINE) | TYPE_PERCENT;
  cell->w1 = 0;
  put_float(cell, x);
  return cell;
}

Cell* push(double x) { return stack::push(make_float_of(TYPE_PERCENT, x)); }

Cell* push_words(uint32_t high, uint32_t low) {
  return stack::push(Cell{TYPE_PERCENT, 0, low, high});
}

Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
  Cell c{TYPE_PERCENT, 0, low, high};
  return block::rs_append(block, &c);
}

namespace {

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return part - float_::append_text(out, get_float(value) * 100.0, float_::MODE_PERCENT);
}

// True when a percent text (its "%" excluded) reads back as `x`.
bool reads_as(std::string_view text, double x) {
  int32_t unparsed = 0;
  double back = dtoa::strtod(text.data(), text.data() + text.size(), -2, &unparsed);
  return unparsed == 0 && back == x && std::signbit(back) == std::signbit(x);
}

// The shortest digits of the fraction itself with the decimal exponent
// raised by 2: no multiplication rounds, so the text reads back exactly.
// Written with a point where that stays short, else with an exponent.
std::string exact_text(double x) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf - 1, x, std::chars_format::scientific);
  *r.ptr = 0;  // the exponent is read as a C string
  std::string_view sci(buf, size_t(r.ptr - buf));
  size_t e = sci.find('e');
  int exponent = std::atoi(buf + e + 1) + 2;
  std::string text, digits;
  for (char c : sci.substr(0, e)) {
    if (c == '-') text += c;
    else if (c != '.') digits += c;
  }
  auto n = int(digits.size());
  if (exponent < -5 || exponent > 16) {
    text += digits[0];
    if (n > 1) text += "." + digits.substr(1);
    return text + "e" + std::to_string(exponent);
  }
  if (exponent < 0) return text + "0." + std::string(size_t(-exponent - 1), '0') + digits;
  if (n <= exponent + 1) return text + digits + std::string(size_t(exponent + 1 - n), '0');
  return text + digits.substr(0, size_t(exponent + 1)) + "." + digits.substr(size_t(exponent + 1));
}

// mold/all: the percent's own text when it reads back as the same value,
// else the exact digits; infinity and NaN have no percent literal.
int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  if (!all) return form(value, out, part);
  double x = get_float(value);
  if (!std::isfinite(x)) {
    Cell v = *value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  std::string_view text = float_::to_text(x * 100.0, float_::MODE_PERCENT);
  text.remove_suffix(1);
  std::string exact;
  if (!reads_as(text, x)) {
    exact = exact_text(x);
    text = exact;
  }
  int32_t n = string::append_literal(out, text);
  return part - n - string::append_literal(out, "%");
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from float!
  r.form = form;
  r.mold = mold;
  r.reflect = UNSUPPORTED;
  r.eval_path = UNSUPPORTED;
  r.set_path = UNSUPPORTED;
#define KEZ_PERCENT_NONE(id, name, sig) \
  if (id >= ACT_and_t) r.name = UNSUPPORTED;
  KEZ_ACTIONS(KEZ_PERCENT_NONE)
#undef KEZ_PERCENT_NONE
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", ROW); }

}  // namespace kez::percent

namespace kez::triple {

Cell* make_at(Cell* cell, int32_t a, int32_t b, int32_t c) {
  *cell = Cell{(cell->header & CELL_NEW_LINE) | TYPE_TRIPLE, uint32_t(a), uint32_t(b),
               uint32_t(c)};
  return cell;
}

namespace {

int32_t form(const Cell* value, Cell* out, int32_t part) {
  char text[64] = "make triple! [";
  char* p = text + 14;
  const uint32_t words[3] = {value->w1, value->w2, value->w3};
  for (int i = 0; i < 3; i++) {
    if (i) *p++ = ' ';
    p = std::to_chars(p, text + sizeof text, int32_t(words[i])).ptr;
  }
  *p++ = ']';
  return part - string::append_literal(out, {text, size_t(p - text)});
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(value, out, part);
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.form = form;
  r.mold = mold;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_TRIPLE, 0, "triple!", ROW); }

}  // namespace kez::triple
