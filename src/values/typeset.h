// typeset! bits: 96 bits over the three payload words, read as 12 bytes from
// w1 on; type t is present when bit (0x80 >> (t & 7)) of byte (t >> 3) is set.
// Bit 0 is never used; counting and text only look at the registered ids.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::typeset {

inline uint8_t* bytes(Cell* ts) { return reinterpret_cast<uint8_t*>(&ts->w1); }
inline const uint8_t* bytes(const Cell* ts) { return reinterpret_cast<const uint8_t*>(&ts->w1); }

inline Cell make_empty() { return Cell{TYPE_TYPESET, 0, 0, 0}; }
inline bool has(const Cell* ts, uint32_t type) {
  return type < 96 && (bytes(ts)[type >> 3] & (0x80 >> (type & 7)));
}
inline void set_bit(Cell* ts, uint32_t type) {
  if (type < 96) bytes(ts)[type >> 3] |= uint8_t(0x80 >> (type & 7));
}
inline void clear_bit(Cell* ts, uint32_t type) {
  if (type < 96) bytes(ts)[type >> 3] &= uint8_t(~(0x80 >> (type & 7)));
}
// Every type id of the registry (1 .. 56).
inline void set_all(Cell* ts) {
  for (uint32_t t = 1; t < TYPE_COUNT; t++) set_bit(ts, t);
}
inline void merge(Cell* ts, const Cell* other) {
  ts->w1 |= other->w1;
  ts->w2 |= other->w2;
  ts->w3 |= other->w3;
}

inline void clear(Cell* ts) { ts->w1 = ts->w2 = ts->w3 = 0; }
// Set bits for the ids 1 .. the highest registered type id.
uint32_t count(const Cell* ts);
// The typeset of an argument without a type block: every type but unset!.
inline Cell make_default() {
  Cell ts = make_empty();
  set_all(&ts);
  clear_bit(&ts, TYPE_UNSET);
  return ts;
}
Cell* make_in(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_default_in(Cell* block);
// Appends the typeset of a function spec's type block: each element (a
// word replaced by its value) a datatype! or typeset!; a value that is
// still a word adds object!, a block! is passed over, anything else raises
// script invalid-type-spec.
Cell* make_from_block(Cell* target, const Cell* spec);
// Adds a datatype! (its bit), a typeset! (its bits) or a word holding one;
// anything else raises script invalid-arg.
void add(Cell* ts, const Cell* value);
// A new block (into `out`, a reachable cell) of the datatypes whose bits
// are set, in type-id order.
Cell* to_block(const Cell* ts, Cell* out);
// Writes "make typeset! [name! ...]", or with `only` the bare names; the
// budget drops by each name's length plus 2 and writing stops when it is
// used up. Returns the budget left.
int32_t form_types(const Cell* ts, Cell* out, bool only, int32_t part);
// The bitwise and set operators (OP_OR .. OP_DIFFERENCE) of a typeset with
// a typeset! or datatype!; the result is a typeset! left in `set1`.
Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op);
void do_bitwise(int32_t op);  // on the current frame's two arguments

void init();  // registers typeset!

}  // namespace kez::typeset
