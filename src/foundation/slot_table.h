// The slot table: a block of cells that keeps values alive and addressable
// by a small 1-based index. The collector marks the whole block, so a stored
// value lives until its slot is freed. Free slots are integer! cells chained
// through their w2 (0-based index of the next free slot, -1 ends).
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::slot_table {

extern Cell table;  // the block (the collector marks it)

void init();
uint32_t store(const Cell* value);
Cell* get(uint32_t index);
void free(uint32_t index);
uint32_t capacity();

}  // namespace kez::slot_table
