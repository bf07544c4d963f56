// float!: IEEE 754 doubles, and the number routines percent! and time!
// share with it.
//
// A float-layout cell (float!, percent!, time!) holds the double over w2
// (low half) and w3 (high half), always read and written through
// get_float/put_float. `=` is a tolerant equality (a few units in the last
// place) while `==` is exact. Text never depends on the C locale: digits
// come from std::to_chars and the language's layout rules are applied
// around them. percent! and time! inherit float!'s actions, so every action
// here keeps the left operand's type unless the type rules say otherwise.
#pragma once
#include <bit>
#include <cstdint>
#include <string_view>

#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::float_ {

// Formatting switches of the system options (pretty: clean up long digit
// runs and tiny magnitudes).
extern bool pretty_print;  // true at start
extern bool full_support;  // false at start; not read by the formatter

// Below this magnitude a difference counts as none.
inline constexpr double EPSILON = 2.220446049250313e-16;

// Text modes of to_text.
enum text_mode : int32_t {
  MODE_VECTOR32 = 0,   // a 32-bit vector! element ("%.7g")
  MODE_FLOAT = 1,      // float! ("%.16g")
  MODE_PERCENT32 = 2,  // a 32-bit percent ("%.7g", "%" appended)
  MODE_PERCENT = 3,    // percent!, already multiplied by 100 ("%.13g", "%")
  MODE_TIME = 4,       // the seconds of a time! (6 digits, no ".0")
  MODE_POINT = 5,      // a point2D!/point3D! coordinate ("%.7g", no ".0")
};

inline double get(const Cell* c) { return get_float(c); }
// An integer! or float! cell as a double; anything else raises script
// bad-to-arg with float! and the value.
double get_any(const Cell* c);
inline bool is_float_type(uint32_t t) {
  return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME;
}
inline double abs(double d) {
  return std::bit_cast<double>(std::bit_cast<uint64_t>(d) & 0x7FFFFFFFFFFFFFFFull);
}
void box(double value);  // float! into the current frame's result slot
Cell* push(double value);
Cell* push64(uint32_t high, uint32_t low);
Cell* make_at(Cell* cell, double value);  // keeps the other header bits
Cell* make_in(Cell* block, uint32_t high, uint32_t low);
// The double whose bit pattern is the first up to 8 bytes at a binary's
// head, big-endian (fewer bytes give a smaller pattern).
double from_binary(const Cell* binary);

bool nan_q(uint32_t low, uint32_t high);
bool nan32_q(float value);
bool special_q(double value);  // infinity or NaN
bool almost_equal(double a, double b);
bool almost_equal32(float a, float b);

// The text of a double in one of the modes above; valid until the next call.
std::string_view to_text(double value, int32_t mode);
// Appends that text to a string and returns the number of characters.
int32_t append_text(Cell* out, double value, int32_t mode);

// One arithmetic operator (OP_ADD .. OP_REM) on two doubles, IEEE
// throughout (a zero divisor gives an infinity or NaN). Other operators
// raise script cannot-use.
double do_math_op(double left, double right, int32_t op);
// The action arithmetic: `left` is integer! or float-layout, `right` any
// value; the result (typed by the mixing rules) is left in `left`.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);  // on the current frame's two arguments

// Two doubles under a comparison operator: -1, 0 or 1 (equality
// operators: 0 or 1). Operators 0 and 1 are tolerant, 2 exact, 9 bitwise.
int32_t compare_doubles(double a, double b, int32_t op);

double get_random(double limit, bool secure);

// Actions percent! and time! reuse or wrap.
Cell* make(Cell* proto, const Cell* spec, uint32_t type);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* round(Cell* value, const round_options& o);
Cell* power(Cell* base, Cell* exponent);

void init();  // registers float!

}  // namespace kez::float_
