// percent! and triple!: their constructors and text forms.
//
// A percent's text is its fraction times 100 written by the float text
// routine in its percent mode, so form and mold agree and the sign of
// -0.5% is kept. Nothing here allocates beyond the output string.
#include "types/percent.h"

#include <charconv>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "values/block.h"
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

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(value, out, part);
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
