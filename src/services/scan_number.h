// Number scanners for the `to` conversions of text: integer!, float! and
// money! read straight from a string's characters (any unit), without the
// tokenizer. They report failure through an error code; the caller raises
// its own conversion error.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::lexer {

// Error codes of scan_integer.
enum : int32_t {
  SCAN_BAD_CHAR = -1,  // a character that is neither a digit nor "'"
  SCAN_OVERFLOW = -2,  // beyond 32 bits
};

// An optional sign, then digits with "'" skipped anywhere. On a bad
// character the value read so far is answered with SCAN_BAD_CHAR in `error`.
int32_t scan_integer(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error);
// The float grammar of literals, "," read as the decimal point; NaN and -1
// in `error` on failure.
double scan_float(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error);
// An optional sign, an optional currency code with "$" (or a lone "$"),
// digits with "'" groups and an optional "." fraction. Fills `out`, or sets
// -1 in `error`.
Cell* scan_money(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error, Cell* out);

}  // namespace kez::lexer
