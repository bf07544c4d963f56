// Text measured as the terminal shows it, in display columns.
//
// Each character takes the columns its width-table entry gives (0 for
// zero-width characters, 2 for wide ones, 1 otherwise); a line feed starts a
// new line. With a wrapping width, a character that would pass it starts a
// new line; one that does not fit even at the start of a line ends the walk
// there, so every walk ends whatever the widths. Lines and columns count
// from 0, character indexes from 1.
#pragma once
#include <cstdint>

#include "foundation/unicode.h"
#include "values/cell.h"

namespace kez::gui::text {

// The characters of a string from its head. Raw: valid only until the next
// allocation or call into Kez.
struct span {
  const uint8_t* data = nullptr;
  uint32_t unit = 1;
  uint32_t length = 0;
  uint32_t at(uint32_t i) const { return unicode::get_char(data + size_t(i) * unit, unit); }
};
span of(const Cell* string);

inline constexpr int32_t NO_WRAP = -1;

struct extent {
  int32_t width = 0;   // the widest line's columns
  int32_t lines = 1;
  uint32_t chars = 0;  // characters measured
};

// The extent with a wrapping width (NO_WRAP: none).
extent measure(span text, int32_t wrap);
// The extent without wrapping, stopping before the first character that
// would take a line past `limit` columns.
extent measure_to(span text, int32_t limit);

struct position {
  int32_t column = 0;
  int32_t line = 0;
};
// Where the character at `index` starts; past the last character, where the
// text ends.
position offset_of(span text, int32_t wrap, int32_t index);
// The index of the character at (column, line): the character covering the
// column, else the one ending that line. Past the text: length + 1, or the
// length with `in_text`.
uint32_t index_at(span text, int32_t wrap, int32_t column, int32_t line, bool in_text);

}  // namespace kez::gui::text
