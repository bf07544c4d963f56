// Unicode encodings: UTF-8 and UTF-16 to and from fixed-width strings.
//
// A string buffer holds characters of one width, its unit: 1 (Latin-1),
// 2 (UCS-2) or 4 (UCS-4). The unit only grows, and only through the three
// widening functions here, which convert in place from the tail down so that
// no character is overwritten before it is read. UTF-8 is the exchange
// encoding (sources, files, symbol names); UTF-16LE is what wide-character
// interfaces take and give.
//
// Every decoder is bounded by the end of its input: a sequence cut by the end
// is reported, never completed from the bytes beyond. Conversions to UTF-8 or
// UTF-16 go through the value's conversion cache (word 3 of the string cell):
// the cell passed must stay where it is while they allocate (a stack cell or
// a root), and the returned text lives until the cache's next use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/memory.h"

namespace kez {
struct Cell;

namespace unicode {

// Buffer flag set by UTF-16 loading.
constexpr uint32_t SERIES_UTF16 = 0x00040000;

// --- UTF-8 reading -------------------------------------------------------

// Runs the table-driven decoder from `p`. Returns the position after the
// sequence and the code point in `cp`; on a rejected sequence `cp` is -1 and
// the position is past every byte read up to the one that made it reject (a
// lead byte rejected by itself counts one byte). A sequence cut by `end` is
// rejected with the position at `end`.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);

// Code points in [start, end), decoding as above (a rejected sequence counts one).
uint32_t count_chars(const uint8_t* start, const uint8_t* end);
// Position after n code points from start, stopping at end.
const uint8_t* skip_chars(const uint8_t* start, const uint8_t* end, uint32_t n);
// Sequence length announced by a lead byte: 4, 3, 2, or 0 for anything else.
int utf8_char_size(uint8_t lead);

// The validating decoder used for loading. `count` holds the bytes available
// and receives the sequence length. Returns the code point, or -1 when the
// available bytes are fewer than the sequence needs. An invalid sequence
// raises access invalid-utf8 with its bytes (at most 4) as a binary!.
int32_t decode_utf8_char(const uint8_t* p, int32_t* count);

// Decodes UTF-8 into `target` (replacing its characters, widening it as
// needed) or, when target is 0, into a new string; returns the string's node.
// A leading byte-order mark is skipped; a sequence cut by the end stops the
// decoding and the bytes left are stored in `remainder` (when not null).
// With `line_end`, CR LF and a lone CR become LF. `bytes` must not lie in a
// series buffer (use load_utf8_from for those).
node_t load_utf8(const uint8_t* bytes, uint32_t length, node_t target, uint32_t* remainder,
                 bool line_end);
// The same with the bytes read from a series: `offset` bytes past the start
// of its data, re-read after every allocation.
node_t load_utf8_from(node_t source, uint32_t offset, uint32_t length, node_t target,
                      uint32_t* remainder, bool line_end);
// Into the buffer of a string value (no line-end conversion).
node_t load_utf8_into(const uint8_t* bytes, uint32_t length, const Cell* string,
                      uint32_t* remainder);
// Into a new string (no line-end conversion).
node_t load_utf8_new(const uint8_t* bytes, uint32_t length);

// --- UTF-8 writing -------------------------------------------------------

// Sequence length of a code point; above 0x10FFFF raises script invalid-char.
int cp_to_utf8_size(uint32_t cp);
// UTF-8 length of the characters [start, end) of the given unit.
uint64_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the sequence (1-4 bytes) and returns its length.
int cp_to_utf8(uint32_t cp, uint8_t* out);
// Writes at most `room` bytes of the sequence and returns how many it wrote.
int cp_to_utf8_bounded(uint32_t cp, uint8_t* out, int room);

// The characters from the head (all when *length is -1, else at most that
// many) as NUL-terminated UTF-8 in the value's conversion cache; *length
// receives the byte count. With `line_end` every LF is written as CR LF.
const char* to_utf8(Cell* value, int32_t* length);
const char* to_utf8_part(Cell* value, int32_t* length, bool line_end);
// Into a caller's buffer, which must hold 4 bytes a character (+1 with
// `terminate`); `limit` characters at most (-1: all). Returns the byte count.
uint32_t to_utf8_buffer(const Cell* value, uint8_t* dest, int32_t limit, bool terminate);
// Into `room` bytes at most, cutting the last sequence when it does not fit;
// `limit` characters at most (-1: all). The NUL is written only when room is
// left for it. Returns the byte count (NUL excluded).
uint32_t to_utf8_checked(const Cell* value, uint8_t* dest, int32_t room, int32_t limit,
                         bool terminate);

// --- Widening in place ---------------------------------------------------
// Each keeps the node, grows the buffer when it is too small, converts every
// character from the buffer's first element to its tail and sets the new
// unit. They return the buffer to use from then on.
series_buffer* latin1_to_ucs2(node_t node);
series_buffer* latin1_to_ucs4(node_t node);
series_buffer* ucs2_to_ucs4(node_t node);
// Widens to `unit` (2 or 4) when the buffer is narrower.
series_buffer* widen(node_t node, uint32_t unit);

// --- UTF-16 --------------------------------------------------------------

// Unit a string needs for this UTF-16 text: 4 with any surrogate, 2 with any
// unit above 0xFF, else 1.
uint32_t utf16_unit(const uint16_t* units, uint32_t count);
// Stores UTF-16LE text into `target` (replacing its characters) or into a
// new string; sets SERIES_UTF16. With `line_end` every CR is dropped. In
// unit 4 surrogate pairs combine; an unpaired surrogate is kept as it is.
// `units` must not lie in a series buffer.
node_t load_utf16(const uint16_t* units, uint32_t count, node_t target, bool line_end);
// Writes one unit or a surrogate pair; returns the count, 0 above 0x10FFFF.
int cp_to_utf16(uint32_t cp, uint16_t* out);
// Extra bytes beyond 2 a character that UTF-16 output with CR LF needs.
uint64_t utf16_extra(const uint8_t* start, const uint8_t* end, uint32_t unit);
// The whole value as NUL-terminated UTF-16LE with CR LF line ends.
const uint16_t* to_utf16(Cell* value);
// The characters from the head (all when *length is -1, else at most that
// many) as NUL-terminated UTF-16LE; *length receives the units written. Null
// when a character lies above 0x10FFFF.
const uint16_t* to_utf16_len(Cell* value, int32_t* length, bool line_end);
// Widens each byte of a C string to a unit, with a terminating 0.
void ascii_to_utf16(const char* text, uint16_t* out);

// Reads one character of the given width.
inline uint32_t get_char(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1: return *p;
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    default: { uint32_t v; std::memcpy(&v, p, 4); return v; }
  }
}
inline void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
  switch (unit) {
    case 1: *p = uint8_t(cp); break;
    case 2: { auto v = uint16_t(cp); std::memcpy(p, &v, 2); break; }
    default: std::memcpy(p, &cp, 4); break;
  }
}

// Stops with the runtime error of an unmatched switch (a broken unit).
[[noreturn]] void bad_unit();

}  // namespace unicode
}  // namespace kez
