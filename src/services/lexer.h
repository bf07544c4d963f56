// The lexer: source text to values.
//
// Every console line, script and `load` of text passes through here. The
// entries take UTF-8 (a buffer, or a string!/binary! converted first) and
// leave the loaded values in a destination cell, which must stay where it is
// while the scan runs (a value-stack cell). Scans nest: a callback given to
// a scan may scan again; the nested scan shares the cell stack above the
// enclosing one.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::lexer {

// How a scan runs and what it leaves.
struct scan_options {
  bool one = false;          // stop after the first complete value
  bool load_values = true;   // false: prescan (only the tokens' types)
  bool not_scan = true;      // false: scan (check the syntax, build nothing)
  bool wrap = false;         // with `one`: keep the value inside a block
  const Cell* callback = nullptr;  // function! or routine! told of each step
  const Cell* source = nullptr;    // the string! or binary! scanned (events, positions)
  Cell* into = nullptr;      // block the values are appended to, instead of a new one
};

// Scans `size` bytes of UTF-8 into `dst`: a new block of the values (or, with
// `one` and not `wrap`, the first value alone; with `into`, the values go to
// its block). Returns the type id of the last token (error! when scanning met
// an error in scan or prescan mode, 0 when there was none). `consumed`, when
// given, receives what was read: characters when the source is a string!,
// bytes otherwise. `text` must not lie in a series buffer. Syntax errors
// raise script syntax errors, except in scan and prescan modes.
int32_t scan_buffer(Cell* dst, const uint8_t* text, uint32_t size, const scan_options& options,
                    uint32_t* consumed);

// The same over a string! or binary! from its head: `length` characters (or
// bytes for a binary!) at most, -1 for all. The text is copied to UTF-8 in
// the lexer's work buffer first.
int32_t scan_string(Cell* dst, const Cell* series, int32_t length, const scan_options& options,
                    uint32_t* consumed);

// Converts a string! or binary! value (from its head) to UTF-8 and scans it
// into a new block pushed on the value stack; syntax errors are raised.
Cell* scan_string(const Cell* value);
// Scans UTF-8 text into a new block pushed on the value stack.
Cell* scan_utf8(const char* text, uint32_t length);

// The characters that may follow "(" in a point literal before its first
// comma: a "(" followed by these up to a "," opens a point, not a paren.
constexpr bool in_point_set(uint32_t c) {
  switch (c) {
    case '\t': case ' ': case '#': case '+': case '-': case '.': case 'A': case 'E': case 'F':
    case 'I': case 'N': case 'a': case 'e': case 'f': case 'i': case 'n':
      return true;
    default:
      return c >= '0' && c <= '9';
  }
}

// The block the callbacks' `type` argument picks from for tokens that have
// no datatype (one entry per token, in token order), or none!. The system
// object points it at its own block.
extern Cell exit_states;

}  // namespace kez::lexer
