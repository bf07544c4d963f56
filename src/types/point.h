// point2D! and point3D!: coordinates as IEEE single-precision floats, in
// words 1-2 (point2D!, word 3 always 0) or 1-3 (point3D!).
//
// Every computation runs in double precision and is rounded to single
// precision when stored; the rounding never overflows into undefined
// behaviour (beyond the float range a value becomes an infinity). `=` is
// tolerant (10 units in the last place), `==` exact, `same?` bit-wise.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::point {

// A double rounded to the nearest single (an infinity beyond the range).
float to_single(double d);
float coord(const Cell* p, int i);  // coordinate i (0-based)
void set_coord(Cell* p, int i, float v);

}  // namespace kez::point

namespace kez::point2D {

// Writes a point into the cell, keeping its new-line bit.
Cell* make_at(Cell* cell, float x, float y);
Cell* push(float x, float y);
Cell* make_in(Cell* block, float x, float y);
// A float! rounded to single precision, or an integer! converted.
float get_float(const Cell* value);

// Arithmetic with the point in `left`; the result is left in `left`.
Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void init();  // registers point2D!

}  // namespace kez::point2D

namespace kez::point3D {

Cell* make_at(Cell* cell, float x, float y, float z);
Cell* push(float x, float y, float z);
Cell* make_in(Cell* block, float x, float y, float z);

Cell* do_math(Cell* left, Cell* right, int32_t op);
void do_math(int32_t op);

void init();  // registers point3D!

}  // namespace kez::point3D
