// binary!: byte strings, the one rule set by which values become bytes, and
// the text encodings of bytes in bases 2, 16, 58 and 64.
//
// A binary! cell is a string-kind series (head index, node) over a buffer of
// unit 1; several cells may share a buffer with different heads, and a head
// past the tail reads as the tail. Every change computes and checks all the
// bytes it will write before the buffer moves or grows, so a refused value
// leaves the target as it was. Byte pointers given to the routines below must
// not lie in a series buffer (copy such bytes aside first): growing the
// target may move every buffer.
#pragma once
#include <cstdint>
#include <vector>

#include "values/cell.h"

namespace kez::binary {

// --- Making -------------------------------------------------------------------

// The cell made an empty binary! with room for `capacity` bytes (16 when 0).
Cell* make_at(Cell* cell, uint32_t capacity);
// A new empty binary! appended to a block.
Cell* make_in(Cell* block, uint32_t capacity);
// A new binary! holding a copy of n bytes, pushed on the value stack.
Cell* push_bytes(const uint8_t* bytes, uint32_t n);

// --- Reading and changing bytes --------------------------------------------------

uint32_t rs_length(const Cell* bin);  // bytes from the head to the tail
uint8_t* rs_head(Cell* bin);          // clamps a head past the tail
bool rs_tail_q(const Cell* bin);
void rs_clear(Cell* bin);             // cuts the buffer at the head
void rs_append(Cell* bin, const uint8_t* bytes, uint32_t n);
// Inserts n bytes at head + offset (clamped to the tail).
void rs_insert(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Writes n bytes at head + offset, growing the buffer and moving the tail
// when the write ends past them.
void rs_overwrite(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Appends a 32-bit integer, most significant byte first.
void append_int32(Cell* bin, int32_t value);

// --- Values as bytes ------------------------------------------------------------

// The bytes of a value, appended to `out` (nullptr: only counted); the
// count is returned. char! gives its UTF-8 form, integer! one byte (-128 ..
// 255, else script invalid-arg), binary! and tuple! their bytes, the string
// kinds their UTF-8 text, blocks their values one after another (nested
// blocks too). `part` (-1: all) cuts bytes, or counts a block's values.
// Any other value is formed when `form_others` is set, else it raises script
// bad-to-arg. Every check runs before anything is written.
uint64_t get_bytes(std::vector<uint8_t>* out, const Cell* value, int32_t part, bool form_others);

// Bytes from both heads: -1, 0, 1 (equality operators: 0 equal, 1 not); -2
// unless `b` is binary! or a string kind. With `match` only as many bytes as
// `b` has are compared (find and parse).
int32_t compare_bytes(const Cell* a, const Cell* b, int32_t op, bool match);
// Parse and find: a string kind or binary! matches as a prefix, a char! by
// the head byte; nothing else matches.
bool match_q(const Cell* bin, const Cell* value, int32_t op);
bool match_bitset_q(const Cell* bin, const Cell* bitset);

// --- Encodings ---------------------------------------------------------------------

// Characters the encoding of n bytes takes (base 58: an upper bound), or
// UINT64_MAX for another base.
uint64_t encoded_size(int32_t base, uint64_t n);
// Writes the text of n bytes and returns the end of the output.
uint8_t* enbase_2(uint8_t* out, const uint8_t* bytes, uint32_t n);
uint8_t* enbase_16(uint8_t* out, const uint8_t* bytes, uint32_t n);
uint8_t* enbase_58(uint8_t* out, const uint8_t* bytes, uint32_t n);
uint8_t* enbase_64(uint8_t* out, const uint8_t* bytes, uint32_t n);

// Bytes that decoding n characters gives at most, or UINT64_MAX for
// another base.
uint64_t decoded_size(int32_t base, uint64_t n);
// Decode n characters of `unit` bytes each into `out` (room for
// decoded_size bytes); the byte count, or -1 when the text is not valid in
// that base (any character above 127 among them).
int64_t debase_2(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out);
int64_t debase_16(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out);
int64_t debase_58(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out);
int64_t debase_64(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out);

void init();  // registers binary!

}  // namespace kez::binary
