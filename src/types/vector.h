// vector!: packed numbers of one element type and width.
//
// A vector! cell holds its head (element index), its node and, in w3, the
// element type: char! or integer! (1, 2 or 4 bytes), float! (4 or 8 bytes)
// or percent! (8 bytes, the fraction). The buffer's unit is the width.
// Integers are little-endian two's complement, sign-extended when read;
// characters are read unsigned. Elements are read and written through
// get_value and set_value, which the series actions use; arithmetic works on
// the packed elements directly.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::vector {

// The element width a type takes by default (4 for char! and integer!, 8
// for float! and percent!).
inline uint32_t default_width(uint32_t type) {
  return type == TYPE_CHAR || type == TYPE_INTEGER ? 4 : 8;
}

// The cell made an empty vector with room for `capacity` elements.
Cell* make_at(Cell* cell, uint32_t capacity, uint32_t type, uint32_t width);
uint32_t rs_length(const Cell* vector);  // elements from the head

// The element at `p` as a value of the element type.
Cell get_value(const uint8_t* p, uint32_t width, uint32_t type);
// Stores a value of the element type at `p` (only the element's own bytes
// change); a value of another type raises script invalid-type.
void set_value(uint8_t* p, const Cell* value, uint32_t width, uint32_t type);

// Appends the elements from the head to a block, as values.
void to_block(const Cell* vector, Cell* block);

void init();  // registers vector!

}  // namespace kez::vector
