// char!: one Unicode code point as a value (0 to 0x10FFFF, the surrogates
// D800-DFFF excluded: no UTF-8 text can hold them), with the integer-like
// arithmetic, comparison by code point and the #"x" literal form.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

// True for a code point a char! may hold.
constexpr bool valid_code_point(int64_t cp) {
  return cp >= 0 && cp <= MAX_CODE_POINT && !(cp >= 0xD800 && cp <= 0xDFFF);
}

// Pushes a new char! on the value stack.
Cell* push(uint32_t cp);
// Appends a new char! to a block.
Cell* make_in(Cell* block, uint32_t cp);

void init();  // registers char!

}  // namespace kez::char_
