// percent! and triple!: two small types that lean on others.
//
// percent! is a float! (its double holds the fraction: 50% is 0.5) with its
// own text form and every other action inherited from float!. triple! is
// three signed 32-bit integers in words 1-3 that can only be formed and
// molded.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::percent {

inline double get(const Cell* c) { return get_float(c); }
void box(double x);  // into the current frame's result slot
Cell* make_at(Cell* cell, double x);  // keeps the cell's new-line bit
Cell* push(double x);
Cell* push_words(uint32_t high, uint32_t low);
Cell* make_in(Cell* block, uint32_t high, uint32_t low);

void init();  // registers percent! (after float!)

}  // namespace kez::percent

namespace kez::triple {

Cell* make_at(Cell* cell, int32_t a, int32_t b, int32_t c);

void init();  // registers triple!

}  // namespace kez::triple
