// Strings: fixed-width characters (1, 2 or 4 bytes) that widen in place.
//
// A string cell holds its head index (characters from the buffer's first
// element), its node, and `extra` (0). Every character of a buffer has the
// buffer's unit; a buffer widens (1 -> 2 -> 4, never narrower) when a wider
// character is stored, so a primitive that may widen or grow returns the
// buffer to use from then on. The character-level primitives below serve
// every string-like type (file!, url!, tag!, email!, ref!) and the runtime.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/unicode.h"
#include "values/cell.h"

namespace kez::string {

inline bool is_string_type(uint32_t t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
         t == TYPE_EMAIL || t == TYPE_REF;
}

using unicode::get_char;
using unicode::put_char;

// The unit a code point needs: `append` widens from 128, stores from 256.
inline uint32_t unit_for_append(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }
inline uint32_t unit_for_store(uint32_t cp) { return cp < 0x100 ? 1 : cp < 0x10000 ? 2 : 4; }

// Making.
Cell* make_at(Cell* cell, uint32_t capacity, uint32_t unit);
inline Cell* rs_make_at(Cell* cell, uint32_t capacity) {
  return make_at(cell, capacity ? capacity : 1, 1);
}
// Pushes a new empty string! on the value stack.
Cell* push_new(uint32_t capacity);
// A string decoded from UTF-8 into `cell` (invalid bytes raise access invalid-utf8).
Cell* load_at(const char* bytes, uint32_t length, Cell* cell, uint32_t type = TYPE_STRING);
Cell* load(std::string_view utf8);  // pushed on the value stack

// Reading.
uint32_t rs_length(const Cell* s);           // characters from the head
uint8_t* rs_head(Cell* s);                   // clamps a head past the tail
uint8_t* rs_tail(const Cell* s);
bool rs_tail_q(const Cell* s);
uint32_t rs_abs_at(const Cell* s, uint32_t index);
void rs_reset(Cell* s);
// The text from the head as UTF-8 (for the platform, symbols, output).
std::string to_utf8(const Cell* s, int32_t limit = -1);

// Changing (each returns the buffer to use from then on).
series_buffer* widen(series_buffer* b, uint32_t from, uint32_t to);
series_buffer* append_char(node_t node, uint32_t cp);
series_buffer* overwrite_char(node_t node, uint32_t index, uint32_t cp);
series_buffer* insert_char(node_t node, uint32_t index, uint32_t cp);
void remove_chars(Cell* s, uint32_t index, uint32_t n);
void truncate_at(node_t node, uint32_t index);

// Appends text and returns the number of characters appended (what form
// and mold take off their budget).
int32_t append_literal(Cell* out, std::string_view ascii);  // Latin-1 bytes
int32_t append_utf8(Cell* out, std::string_view utf8);
int32_t append_string(Cell* out, const Cell* source, int32_t part = -1);
// Concatenation: mode 0 appends at the tail, 1 inserts `offset` characters
// after the head, 2 overwrites from there.
series_buffer* concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                           bool keep_source, int mode);

// Cuts the string (from its head) to `limit` characters when longer.
void cut_to(Cell* s, int32_t limit);

}  // namespace kez::string
