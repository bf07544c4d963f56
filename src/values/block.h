// Blocks: the universal container of code and data, a series of cells.
//
// The cell-array routines (rs_*) serve the whole runtime; every maker keeps
// the target cell unset! while its buffer is allocated. A block's head may
// lie past its tail after another value sharing the buffer shortened it:
// the routines say how each treats that. The actions below are those of
// block!; paren!, the path kinds and hash! inherit them, so each keeps a
// hash!'s index in step (hash_hooks.h) and tells an owner before and after
// a change. A cell's new-line marker (CELL_NEW_LINE) travels with it.
#pragma once
#include <cstdint>

#include "evaluator/actions.h"
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
// Inserts each cell of the source (from its head) at the head, advancing.
void insert_values(Cell* b, const Cell* source);
const Cell* select_value(Cell* b, const Cell* value);
const Cell* find_word(Cell* b, const Cell* word, bool case_sensitive);
// Removes the first cell equal to the value (find equality), searching from
// the head or from the buffer's start; true when the removed cell's index
// was at most the head. False when nothing matched.
bool remove_value(Cell* b, const Cell* value, bool from_start);
// Replaces each series cell at [start, end) (every step cells) whose type
// is in the typeset (or is the datatype) `types` by its copy (deep with
// deep).
void copy_by_types(Cell* b, uint32_t start, uint32_t end, uint32_t step, bool deep,
                   const Cell* types);

// Makers: an empty block of capacity n (n < 0 gives 1).
Cell* make_at(Cell* cell, int32_t n);
Cell* push_only(int32_t n);              // a new empty block on the value stack
Cell* push(const Cell* b);               // a copy of the cell on the value stack
Cell* make_in(Cell* parent, int32_t n);  // appended to a parent block
// The same with the cells pre-set to unset!, or (fixed) a buffer that never
// moves, taken from the tracked heap.
Cell* make_at_star(Cell* cell, int32_t n, bool fixed);
Cell* make_in_star(Cell* parent, int32_t n);
// Pushes a new block holding copies of the cells from head to tail; with
// deep, nested blocks (and with paths, parens and paths) are cloned too.
// A block that contains itself raises internal no-cycle.
Cell* clone(const Cell* b, bool deep, bool with_paths);

// Molds the cells from the head (the contents between the brackets), with
// the new-line markers and four spaces of indentation a level.
int32_t mold_each(const Cell* b, Cell* out, bool only, bool all, bool flat, int32_t part,
                  int32_t indent);
// Compares two blocks cell by cell under a comparison operator (-1, 0, 1,
// or -2 from an incomparable pair).
int32_t compare_values(const Cell* a, const Cell* b, int32_t op);

// Actions of block! that the other block kinds and the natives reuse.
Cell* make(Cell* proto, const Cell* spec, uint32_t type);
Cell* to(Cell* proto, const Cell* spec, uint32_t type);
int32_t form(const Cell* b, Cell* out, int32_t part);
int32_t mold(const Cell* b, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent);
Cell* copy(Cell* value, Cell* out, const Cell* part, bool deep, const Cell* types);
Cell* find(Cell* b, const Cell* value, const find_options& o);
Cell* select(Cell* b, const Cell* value, const find_options& o);
Cell* sort(Cell* b, const sort_options& o);
// The set operations (op: OP_UNIQUE .. OP_DIFFERENCE) on blocks and hashes:
// the result, a new series of set1's type, is left in set1; set2 is nullptr
// for unique; skip (the /skip size) may be nullptr.
Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op, bool case_sensitive, const Cell* skip);

void init();  // registers block!

}  // namespace kez::block
