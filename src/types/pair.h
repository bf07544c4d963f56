// pair!: two signed 32-bit integers (a coordinate or a size), written 10x20.
//
// x is in word 2 and y in word 3; word 1 is always 0. Arithmetic is exact
// integer arithmetic per coordinate; whenever a result is no exact 32-bit
// integer (an overflow, an inexact quotient, a float factor, a point
// operand) the whole operation is redone in point2D! arithmetic and the
// result is a point2D!.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::pair {

inline int32_t x(const Cell* p) { return int32_t(p->w2); }
inline int32_t y(const Cell* p) { return int32_t(p->w3); }

// Writes a pair into the cell, keeping its new-line bit.
Cell* make_at(Cell* cell, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);
Cell* make_in(Cell* block, int32_t x, int32_t y);
// 1 for the word x, 2 for y (any case), else script invalid-path with the
// path (or the word when no path is given) and the word.
int32_t get_axis(const Cell* word, const Cell* path);
// An integer!, or a float! truncated toward zero; a float that is NaN,
// infinite or beyond 32 bits raises script invalid-arg with it.
int32_t get_int(const Cell* value);
// Turns a pair cell into the point2D! of its coordinates, in place.
Cell* to_point2D(Cell* cell);

// Arithmetic with the pair in `left`; the result is left in `left`.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);  // on the current frame's two arguments

void init();  // registers pair!

}  // namespace kez::pair
