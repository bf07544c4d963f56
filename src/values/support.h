// Small routines that natives and datatypes share with the interpreter's
// own steps: the switch/select lookup, forming into a limited string,
// number conversion for sizes, indentation and repeated fills.
//
// Each raises through `fire` before writing anything; none keeps a buffer
// address across an allocation.
#pragma once
#include <cstddef>
#include <cstdint>

#include "values/cell.h"

namespace kez::support {

// The key is the frame's result cell, the block the cell after it. The
// block is walked one cell at a time (switch) or two (select); a cell
// matches when it has the key's type and compares equal. On a match: with
// block_after the next block! after it (switch bodies), else the cell after
// it, or the matched cell itself when it is the last. A block! key, no
// match, or no block after a switch match give none. The answer is pushed
// in switch mode, written to the result cell otherwise; it is returned.
Cell* select_key(bool switch_mode, bool block_after);

// The area starts with one copy of a pattern of `pattern_length` bytes;
// fills it with `count` copies in all by doubling copies. Returns the end.
uint8_t* repeat_fill(uint8_t* area, size_t pattern_length, uint32_t count);

// Forms (molds when `mold`) the frame's result value into a new string,
// cut to `limit` characters when the limit is positive; the string
// replaces the result value and is returned.
Cell* form_limited(bool mold, int32_t limit);

// An integer! as is; a float! (or percent!) truncated toward zero, or
// script out-of-range when it lies outside 32 bits or is NaN.
int32_t number_to_integer(const Cell* value);

// Appends four spaces per level; returns the limit less four per level.
int32_t append_indent(Cell* out, int32_t levels, int32_t limit);

}  // namespace kez::support
