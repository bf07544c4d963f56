// Float and text conversion: every double written as text and every decimal
// text read as a double goes through here.
//
// Both directions are exact and independent of the C locale: digits come from
// std::to_chars (the fewest digits that read back to the same double, the
// nearest such string when several qualify) and reading from
// std::from_chars (correctly rounded, ties to even). This module only lays
// the digits out as the language writes floats and recognises its special
// texts "1.#INF", "-1.#INF" and "1.#NaN". It never touches the locale.
#pragma once
#include <cstdint>

namespace kez {

namespace dtoa {

// Point positions that mark a final special text instead of digits.
constexpr int32_t POINT_SPECIAL = 9999;  // infinity and NaN
constexpr int32_t POINT_ZERO = 9998;

// Longest text form_float writes, NUL included.
constexpr int FORM_BUFFER = 32;

// The digit result: the value is 0.d1d2...dn x 10^point. `text` holds the
// digits without leading or trailing zeros, NUL-terminated, or the special
// text for the special point positions.
struct digit_result {
  char text[FORM_BUFFER];
  int32_t point;
  int32_t count;
  bool negative;
};

// Digits of `value`: the shortest round-trip digits when `max_digits` is 0
// or less, else at most that many (the value rounded to nearest, ties to
// even, when the shortest form is longer). `point_zero` selects "0.0"
// rather than "0" for a zero.
void digits(double value, int32_t max_digits, bool point_zero, digit_result* out);

// Writes the text of `value` into `out` (FORM_BUFFER bytes), NUL-terminated;
// returns its length. A whole number keeps a ".0" when `point_zero` is set.
int form_float_to(char* out, double value, int32_t max_digits, bool point_zero);

// The same into one static buffer that every call overwrites.
const char* form_float(double value, int32_t max_digits, bool point_zero);

// Reads the number in [start, end): sign, digits, point, fraction, exponent,
// with `extra_exponent` added to the text's own exponent. `unparsed`, when
// not null, receives the bytes left after what was read. Beyond the largest
// double the result is infinity, below the smallest denormal zero; "-0"
// reads as +0.
double strtod(const char* start, const char* end, int32_t extra_exponent, int32_t* unparsed);

}  // namespace dtoa

namespace runtime {

// Degrees to radians for the trigonometric natives, the angle first brought
// into the range where the function is exact: mode 2 for sine, 1 for cosine,
// 0 for tangent.
double to_radians(double degrees, int32_t mode);

}  // namespace runtime
}  // namespace kez
