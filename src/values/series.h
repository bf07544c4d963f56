// series!: the actions every series shares, whatever its unit (1, 2 or 4
// bytes a character, 1 a byte, 8 a wide vector element, 16 a cell).
//
// A series value is a head index and a node; several values share one
// buffer with different heads, so a head may lie past the tail after
// another value shortened the buffer. Head moves (at, skip, next, back,
// head, tail) clamp to [0, length] and never raise; pick and poke count
// from 1 at the head, 0 is invalid and negative indexes count back from the
// element before the head. Every modifying action computes its range and
// runs its checks first, tells the owner (ownership) before touching the
// buffer and again with the past-form word after it.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::series {

inline uint32_t buffer_length(const series_buffer* b) { return b->used() / b->unit(); }
inline uint32_t buffer_length(const Cell* s) { return buffer_length(GET_BUFFER(s)); }
// Address of the element at an absolute index.
inline uint8_t* element_at(const Cell* s, uint32_t index) {
  series_buffer* b = GET_BUFFER(s);
  return b->head_ptr() + uint64_t(index) * b->unit();
}

// True when the head is at or past the tail.
inline bool rs_tail_q(const Cell* s) { return s->w1 >= buffer_length(s); }
// Moves the head by n unless that passes the tail; true when head + n is at
// or past the tail (at the tail the head moves, past it it stays).
bool rs_skip(Cell* s, int32_t n);
// Elements from the head (from the first element when absolute); a head
// past the tail is set to the tail and 0 answered.
int32_t get_length(Cell* s, bool absolute);

// The count a /part argument gives against `s`: an integer!, or the
// difference of heads for a series of the same type on the same buffer;
// anything else raises script invalid-refine-arg with `part`.
int32_t part_count(const Cell* s, const Cell* part);

// Tells the owner of an owned series about a change (before: the action's
// word; after: its past form). True when an owner was told.
bool tell(const Cell* s, const Cell& action_word, const Cell* value, int32_t index, int32_t count);

// The element at an absolute index as a value, by the series' type: the
// cell of a block kind, a char! of a string kind, an integer! of a binary!,
// the boxed element of a vector!.
Cell element(const Cell* s, uint32_t index);

// A new buffer holding `n` elements of `s` from absolute index `from`, with
// the source's unit and flags (never owned). The node is reachable from
// nothing yet: store it at once.
node_t copy_range(const Cell* s, uint32_t from, uint32_t n);
// Removes `n` elements at absolute index `from` (cut to the tail).
void remove_range(Cell* s, uint32_t from, uint32_t n);
// Opens a gap of `n` elements at absolute index `at` (growing the buffer
// when needed); the gap's contents are undefined. Returns the buffer.
series_buffer* open_gap(Cell* s, uint32_t at, uint32_t n);

// vector! elements: the vector datatype installs these (element type in
// the cell's extra word); until then pick and poke of a vector raise
// internal not-done.
extern Cell (*vector_get)(const Cell* vector, uint32_t index);
extern void (*vector_set)(Cell* vector, uint32_t index, const Cell* value);

// The actions of the row, for the datatypes that extend them.
Cell* pick(Cell* s, int32_t index, const Cell* index_value);
Cell* poke(Cell* s, int32_t index, Cell* value, const Cell* index_value);
Cell* copy(Cell* value, Cell* out, const Cell* part, bool deep, const Cell* types);
Cell* take(Cell* s, const Cell* part, bool deep, bool last);
Cell* remove(Cell* s, const Cell* part, const Cell* key);
Cell* clear(Cell* s);

void init();  // registers series!

}  // namespace kez::series
