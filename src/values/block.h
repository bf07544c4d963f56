// Blocks: the universal container of code and data, a series of cells.
//
// The cell-array routines (rs_*) serve the whole runtime; every maker keeps
// the target cell unset! while its buffer is allocated. A block's head may
// lie past its tail after another value sharing the buffer shortened it:
// the routines say how each treats that.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::block {

inline bool is_block_type(uint32_t t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH) ||
         t == TYPE_HASH;
}
inline bool is_path_type(uint32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// Cells from head to tail (negative when the head lies past the tail).
inline int32_t rs_length(const Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  return int32_t(buf->used() / sizeof(Cell)) - int32_t(b->w1);
}
Cell* rs_head(Cell* b);  // clamps a head past the tail
inline Cell* rs_tail(const Cell* b) { return cell_tail(GET_BUFFER(b)); }
inline bool rs_tail_q(const Cell* b) { return rs_length(b) <= 0; }
inline Cell* rs_abs_at(const Cell* b, uint32_t index) { return cell_head(GET_BUFFER(b)) + index; }
bool rs_next(Cell* b);
void rs_clear(Cell* b);
void rs_truncate_at(Cell* b, uint32_t index);
Cell* rs_append(Cell* b, const Cell* value);
void rs_remove_last(Cell* b);
void append_values(Cell* b, const Cell* source);
Cell* insert_value(Cell* b, const Cell* value, bool at_start, bool advance);
const Cell* select_value(Cell* b, const Cell* value);
const Cell* find_word(Cell* b, const Cell* word, bool case_sensitive);

// Makers: an empty block of capacity n (n < 0 gives 1).
Cell* make_at(Cell* cell, int32_t n);
Cell* push_only(int32_t n);              // a new empty block on the value stack
Cell* push(const Cell* b);               // a copy of the cell on the value stack
Cell* make_in(Cell* parent, int32_t n);  // appended to a parent block
// Pushes a new block holding copies of the cells from head to tail; with
// deep, nested blocks (and with paths, parens and paths) are cloned too.
Cell* clone(const Cell* b, bool deep, bool with_paths);

}  // namespace kez::block
