// Pieces shared by the integer! and float! actions: the errors of mixed
// arithmetic, the hand-over of an operation to another datatype's own
// action, and the reading of numbers from the characters of a string.
//
// A hand-over goes through the action table, so pair!, tuple!, money! and
// the others answer for themselves once they register; a type that lacks
// the action is refused with script invalid-type, never a crash.
#pragma once
#include <cstdint>

#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::numbers {

[[noreturn]] void not_related(const Cell& word, uint32_t type);
[[noreturn]] void invalid_type(uint32_t type);
// script expect-arg: the called function, the value's datatype, the word
// of the argument.
[[noreturn]] void expect_arg(const Cell* value, const char* argument);
// script cannot-use: the called function and the datatype.
[[noreturn]] void cannot_use(uint32_t type);

// A type's implementation of an action; invalid-type when it has none.
template <class F>
F type_action(uint32_t type, int action) {
  auto f = reinterpret_cast<F>(actions::table[type][action]);
  if (!f) invalid_type(type);
  return f;
}
// The action of a type for an arithmetic operator code (OP_ADD .. OP_XOR).
add_fn math_action(uint32_t type, int32_t op);
// Swaps the two cells and applies the right operand's own arithmetic
// (pair!, point, tuple!, vector!, date!): the result is left in `left`.
Cell* swapped_math(Cell* left, Cell* right, int32_t op);
// A number compared with a money! value through money!'s compare (the
// operands swapped and the answer turned back); -2 until money! exists.
int32_t compare_with_money(const Cell* number, const Cell* money, int32_t op);

// The number in a string's characters from its head, read by the lexer's
// conversion scanners: `error` receives 0 or a negative code (then the
// integer is what was read so far, the float NaN).
int32_t scan_integer(const Cell* string, int32_t* error);
double scan_float(const Cell* string, int32_t* error);

}  // namespace kez::numbers
