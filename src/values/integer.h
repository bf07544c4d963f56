// integer!: 32-bit signed integers whose arithmetic never overflows
// silently.
//
// An integer! cell holds its value in w2. add, subtract and multiply whose
// exact result leaves 32 bits, and a division that is not exact, give a
// float! instead; -2147483648 divided by (or remaindered by) -1, and the
// absolute value or negation of -2147483648, raise math overflow. Every
// operation is computed without undefined behaviour: overflow is detected
// with the compiler's checked arithmetic and the one trapping division is
// refused before the machine instruction runs.
#pragma once
#include <cstdint>
#include <string_view>

#include "values/cell.h"

namespace kez::integer {

inline int32_t get(const Cell* c) { return int32_t(c->w2); }
// The current frame's first argument (no type check) / 0 when not integer!.
int32_t get_star();
int32_t get_or_zero_star();
// Writes an integer! into the current frame's result slot.
void box(int32_t value);
Cell* push(int32_t value);
// Turns the cell into an integer!, keeping its other header bits.
Cell* make_at(Cell* cell, int32_t value);
// Appends a new integer! cell to a block.
Cell* make_in(Cell* block, int32_t value);

// The decimal text; valid until the next call.
std::string_view to_text(int32_t value);
inline int32_t sign(int32_t value) { return value > 0 ? 1 : value < 0 ? -1 : 0; }
// |value|; -2147483648 raises math overflow.
int32_t abs(int32_t value);
// True when a float-layout cell's value is outside the 32-bit range or NaN.
bool overflow_q(const Cell* f);

// One arithmetic operator (OP_ADD .. OP_XOR) on two integers. Returns the
// 32-bit result. When `status` is given and the exact result is no 32-bit
// integer (an overflowing add, subtract or multiply; an inexact division),
// `status` becomes the float! of the result computed in double precision
// instead (the return value is then meaningless). Without `status` the
// wrapped 32-bit result (truncated quotient) is returned. A zero divisor
// raises math zero-divide; -2147483648 by -1 math overflow.
int32_t do_math_op(int32_t left, int32_t right, int32_t op, Cell* status);
// The arithmetic of the action: `left` is integer!, `right` any value;
// the result is left in `left`. Float-layout right operands go to the
// float arithmetic; pair!, point, tuple!, vector! and date! right operands
// to those types' own actions with the operands swapped; money! to
// money!'s action with the operands as they are.
Cell* do_math(Cell* left, Cell* right, int32_t op);
// The same on the current frame's two arguments.
void do_math(int32_t op);

// A number as a 32-bit integer for natives: integer! and char! as they
// are; float!, percent! and time! truncated toward zero, script
// out-of-range when above 2147483647.0, below -2147483648.0 or NaN; any
// other value raises script invalid-arg.
int32_t from_number(const Cell* value);
// A double truncated toward zero, script type-limit (integer!) when it
// leaves the 32-bit range or is NaN (the conversion of `to integer!`).
int32_t from_float(double value);

// The `to integer!` conversion (also char!'s and handle!'s route).
Cell* to(Cell* proto, const Cell* spec, uint32_t type);

void init();  // registers integer!

}  // namespace kez::integer
