// The calls through which the block actions keep a hash!'s index in step
// with its cells.
//
// A hash! is a block whose extra word (w3) holds a hash table over its
// cells. Every block action that inserts, removes, overwrites or reorders
// cells calls one of these after (or, for removals, before) the change, with
// positions counted in cells from the buffer's start. Callers test nothing
// themselves beyond the cell's type; a hash! cell without a table (w3 0) is
// left alone and searched by walking. The hash! datatype implements them.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::hash {

inline bool is_hash(const Cell* block) { return TYPE_OF(block) == TYPE_HASH; }

// `count` cells were inserted at `index`; the cells after them moved up.
void on_insert(Cell* block, uint32_t index, uint32_t count);
// `count` cells at `index` are about to be removed; the cells after them
// will move down.
void on_remove(Cell* block, uint32_t index, uint32_t count);
// The cell at `index` was overwritten.
void on_change(Cell* block, uint32_t index);
// The cells were reordered or replaced wholesale (sort, reverse, random,
// change, move): the index is rebuilt from the block.
void on_rebuild(Cell* block);
// A new hash! value (copy, take/part, set operations) gets its own index.
void index_new(Cell* block);

// Lookup through the index for find and select: the absolute position of
// the match, -1 when absent, or NO_LOOKUP when the caller must walk.
constexpr int32_t NO_LOOKUP = -2;
int32_t lookup(const Cell* block, const Cell* value, uint32_t start, uint32_t skip, int32_t op,
               bool last, bool reverse);

}  // namespace kez::hash
