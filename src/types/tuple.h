// tuple!: 3 to 12 unsigned bytes held in the cell itself (versions,
// colours, network addresses).
//
// The byte count lives in header bits 19-22 and the bytes in cell bytes
// 4-15, byte 1 first. Bytes past the count are always 0 (map! keys hash the
// whole cell), and no tuple has fewer than 3 bytes: every constructor and
// every action keeps both true.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::tuple {

constexpr uint32_t MIN_BYTES = 3;
constexpr uint32_t MAX_BYTES = 12;

inline uint32_t count(const Cell* t) { return (t->header >> TUPLE_SIZE_SHIFT) & 0xF; }
inline const uint8_t* bytes(const Cell* t) { return reinterpret_cast<const uint8_t*>(t) + 4; }
inline uint8_t* bytes(Cell* t) { return reinterpret_cast<uint8_t*>(t) + 4; }

// Writes a tuple of `n` bytes (3 to 12) into the cell, keeping its new-line
// bit; the bytes past `n` are cleared.
Cell* make_at(Cell* cell, const uint8_t* data, uint32_t n);
// Pushes a tuple from its three payload words.
Cell* push(uint32_t n, uint32_t w1, uint32_t w2, uint32_t w3);
// A tuple of the low byte of each value; fewer than 3 values are padded.
Cell* make_from_ints(Cell* cell, uint32_t n, const int32_t* values);
// The first up to 12 bytes at a binary's head (padded to 3).
Cell* from_binary(const Cell* binary, Cell* cell);
// A colour from an issue of 3, 6 or 8 hexadecimal digits.
Cell* from_issue(const Cell* issue, Cell* cell);
// The path setter: an integer (clamped to 0-255) or none!, which cuts the
// tuple before the index (never below 3 bytes).
void set_byte(Cell* tuple, int32_t index, const Cell* value);
bool all_zero_q(const Cell* tuple);

// Arithmetic with the tuple in `left` and an integer!, float!, percent! or
// tuple! in `right`; the result is left in `left`.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);  // on the current frame's two arguments

void init();  // registers tuple!

}  // namespace kez::tuple
