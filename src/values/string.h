// Strings: fixed-width characters (1, 2 or 4 bytes) that widen in place.
//
// A string cell holds its head index (characters from the buffer's first
// element), its node, and `extra` (0). Every character of a buffer has the
// buffer's unit; a buffer widens (1 -> 2 -> 4, never narrower) when a wider
// character is stored, so a primitive that may widen or grow returns the
// buffer to use from then on. The character-level primitives below serve
// every string-like type (file!, url!, tag!, email!, ref!) and the runtime.
//
// Two widening thresholds coexist on purpose: appending a char! widens a
// unit-1 string from 128 up, storing one in place (poke, swap, trim, case
// changes, UTF-8 loading) only from 256 up.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "evaluator/actions.h"
#include "foundation/unicode.h"
#include "values/cell.h"

namespace kez::string {

inline bool is_string_type(uint32_t t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG ||
         t == TYPE_EMAIL || t == TYPE_REF;
}
// The string-like values whose characters append and find take as text.
inline bool is_text_value(uint32_t t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL ||
         t == TYPE_REF;
}

using unicode::get_char;
using unicode::put_char;

// The unit a code point needs: `append` widens from 128, stores from 256.
inline uint32_t unit_for_append(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }
inline uint32_t unit_for_store(uint32_t cp) { return cp < 0x100 ? 1 : cp < 0x10000 ? 2 : 4; }
inline uint32_t unit_shift(uint32_t unit) { return unit >> 1; }  // 1 -> 0, 2 -> 1, 4 -> 2

// Making.
Cell* make_at(Cell* cell, uint32_t capacity, uint32_t unit);
inline Cell* rs_make_at(Cell* cell, uint32_t capacity) {
  return make_at(cell, capacity ? capacity : 1, 1);
}
// Pushes a new empty string! on the value stack.
Cell* push_new(uint32_t capacity);
// Pushes a copy of the cell.
Cell* push(const Cell* s);
// A string decoded from UTF-8 into `cell` (invalid bytes raise access invalid-utf8).
Cell* load_at(const char* bytes, uint32_t length, Cell* cell, uint32_t type = TYPE_STRING);
Cell* load(std::string_view utf8);  // pushed on the value stack
inline Cell* make_from_utf8(const char* bytes, uint32_t length) {
  return load(std::string_view(bytes, length));
}
// Appends a new string decoded from UTF-8 to a block.
Cell* load_in(std::string_view utf8, Cell* block);

// Reading.
uint32_t rs_length(const Cell* s);           // characters from the head
uint32_t rs_abs_length(const Cell* s);       // characters from the first element
uint8_t* rs_head(Cell* s);                   // clamps a head past the tail
uint8_t* rs_tail(const Cell* s);
bool rs_tail_q(const Cell* s);
// Moves the head by n within [0, length]; true when then at the tail.
bool rs_skip(Cell* s, int32_t n);
inline bool rs_next(Cell* s) { return rs_skip(s, 1); }
uint32_t rs_abs_at(const Cell* s, uint32_t index);
void rs_reset(Cell* s);
// The text from the head as UTF-8 (for the platform, symbols, output).
std::string to_utf8(const Cell* s, int32_t limit = -1);
// Offset from the head of the first `cp`, or -1.
int32_t find_char(const Cell* s, uint32_t cp);
// True when `cp` stands at the head or at every `skip`-th character after it
// (folded on both sides unless case_sensitive).
bool has_char(const Cell* s, uint32_t cp, uint32_t skip, bool case_sensitive);
// True when the characters from the head begin with `bytes` exactly.
bool match_c_string(const Cell* s, std::string_view bytes);

// Changing (each returns the buffer to use from then on).
series_buffer* widen(series_buffer* b, uint32_t from, uint32_t to);
series_buffer* append_char(node_t node, uint32_t cp);
series_buffer* overwrite_char(node_t node, uint32_t index, uint32_t cp);
series_buffer* insert_char(node_t node, uint32_t index, uint32_t cp);
// Writes at a byte offset from the buffer's first element (inside the
// buffer), widening first by the store rule; the offset is carried over.
series_buffer* poke_char(node_t node, uint32_t byte_offset, uint32_t cp);
void remove_chars(Cell* s, uint32_t index, uint32_t n);  // absolute index
inline void remove_char(Cell* s, uint32_t index) { remove_chars(s, index, 1); }
void truncate_at(node_t node, uint32_t index);
// Inserts the first n characters of `source` at the target's head and
// removes them from the source.
void move_chars(Cell* source, Cell* target, uint32_t n);
// Exchanges two adjacent areas of one buffer: `a` bytes from `at`, then `b`.
void swap_parts(uint8_t* at, uint32_t a, uint32_t b);

// Appends text and returns the number of characters appended (what form
// and mold take off their budget). The text must not lie in a buffer that
// growing `out` may move.
int32_t append_literal(Cell* out, std::string_view ascii);  // Latin-1 bytes
int32_t append_utf8(Cell* out, std::string_view utf8);
int32_t append_string(Cell* out, const Cell* source, int32_t part = -1);
// Each byte as one code point; an empty text appends nothing.
void append_c_string(Cell* out, const char* bytes);
void append_bytes(Cell* out, const uint8_t* bytes, uint32_t n);
// Concatenation: mode 0 appends at the tail, 1 inserts `offset` characters
// after the head, 2 overwrites from there. A symbol! source stands for its
// name. With keep_source the source is never widened.
series_buffer* concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                           bool keep_source, int mode);
inline series_buffer* overwrite(Cell* target, const Cell* source, int32_t part, uint32_t offset) {
  return concatenate(target, source, part, offset, true, 2);
}

// Cuts the string (from its head) to `limit` characters when longer.
void cut_to(Cell* s, int32_t limit);

// Hexadecimal text in a static area: 8 digits ("F"-padded when negative),
// or with short_form only the significant ones ("00" for zero).
const char* to_hex(int32_t value, bool short_form);
const char* byte_to_hex(uint8_t byte);
double to_float(const char* bytes, uint32_t length);

// Comparison of two strings (or symbols) under a comparison operator: -1, 0,
// 1 (equality operators: 0 equal, 1 not). `match` compares only as many
// characters as the second value has (find and parse).
int32_t compare_strings(const Cell* a, const Cell* b, int32_t op, bool match);
// True when the characters at the string's head match the value (text,
// char!, tag!); case_sensitive turns folding off.
bool match_value(const Cell* s, const Cell* value, bool case_sensitive);
bool match_bitset(const Cell* s, const Cell* bitset);
bool tag_at(const Cell* s, const Cell* tag);

// Molding: one character in escaped form, and the string forms.
void append_escaped_char(Cell* out, uint32_t cp, bool all);
int32_t form(const Cell* s, Cell* out, int32_t part);
int32_t mold(const Cell* s, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent);

// Search, sort and set operations (also taken by binary! and vector!).
Cell* find(Cell* series, const Cell* value, const find_options& o);
Cell* select(Cell* series, const Cell* value, const find_options& o);
Cell* sort(Cell* series, const sort_options& o);
// The set natives' worker on two strings: the result is left in set1 (a new
// string of set1's type); set2 is nullptr for unique; skip may be nullptr.
Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op, bool case_sensitive, const Cell* skip);

// The actions that file!, url! and the other string kinds reuse.
Cell* make(Cell* proto, const Cell* spec, uint32_t type);
Cell* to(Cell* proto, const Cell* spec, uint32_t type);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void init();  // registers string!

}  // namespace kez::string
