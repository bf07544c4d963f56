// char!: one Unicode code point as a value (0 to 0x10FFFF), with the
// integer-like arithmetic, comparison by code point and the #"x" literal form.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::char_ {

constexpr uint32_t MAX_CODE_POINT = 0x10FFFF;

// Pushes a new char! on the value stack.
Cell* push(uint32_t cp);
// Appends a new char! to a block.
Cell* make_in(Cell* block, uint32_t cp);

void init();  // registers char!

}  // namespace kez::char_
