// Shared pieces of the number datatypes (see number_support.h).
//
// The string scanners are the lexer's; they never allocate, so the
// string's buffer address stays valid while they run.
#include "values/number_support.h"

#include <utility>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/scan_number.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::numbers {

void not_related(const Cell& word, uint32_t type) {
  Cell w = word, dt = make_datatype(type);
  fire(err::SCRIPT, err::script::NOT_RELATED, &w, &dt);
}

void invalid_type(uint32_t type) {
  Cell dt = make_datatype(type);
  fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
}

void expect_arg(const Cell* value, const char* argument) {
  Cell call = stack::get_call_word(), dt = make_datatype(TYPE_OF(value));
  Cell w = word::make_global(symbol::make(argument));
  fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &w);
}

void cannot_use(uint32_t type) {
  Cell call = stack::get_call_word(), dt = make_datatype(type);
  fire(err::SCRIPT, err::script::CANNOT_USE, &call, &dt);
}

add_fn math_action(uint32_t type, int32_t op) {
  static constexpr int SLOTS[] = {ACT_add, ACT_subtract, ACT_multiply, ACT_divide,
                                  ACT_remainder, ACT_or_t, ACT_and_t, ACT_xor_t};
  if (op < 0 || op > OP_XOR) invalid_type(type);
  return type_action<add_fn>(type, SLOTS[op]);
}

Cell* swapped_math(Cell* left, Cell* right, int32_t op) {
  std::swap(*left, *right);
  return math_action(TYPE_OF(left), op)(left, right);
}

int32_t compare_with_money(const Cell* number, const Cell* money, int32_t op) {
  compare_fn f = actions::peek_compare(TYPE_MONEY);
  if (!f) return -2;
  int32_t r = f(money, number, op);
  return r == -2 ? -2 : -r;
}

namespace {

// The characters of a string from its head: start, count and unit.
struct chars {
  const uint8_t* p;
  uint32_t count;
  uint32_t unit;
};

chars chars_of(const Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t total = b->used() / unit;
  uint32_t head = s->w1 < total ? s->w1 : total;
  return {b->head_ptr() + uint64_t(head) * unit, total - head, unit};
}

}  // namespace

int32_t scan_integer(const Cell* string, int32_t* error) {
  chars t = chars_of(string);
  return lexer::scan_integer(t.p, t.count, t.unit, error);
}

double scan_float(const Cell* string, int32_t* error) {
  chars t = chars_of(string);
  return lexer::scan_float(t.p, t.count, t.unit, error);
}

}  // namespace kez::numbers
