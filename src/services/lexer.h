// The lexer: source text to values.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::lexer {

// Converts a string! or binary! value (from its head) to UTF-8 and scans it
// into a new block pushed on the value stack; syntax errors are raised.
Cell* scan_string(const Cell* value);
// Scans UTF-8 text into a new block pushed on the value stack.
Cell* scan_utf8(const char* text, uint32_t length);

}  // namespace kez::lexer
