// typeset! bits: 96 bits over the three payload words, read as 12 bytes from
// w1 on; type t is present when bit (0x80 >> (t & 7)) of byte (t >> 3) is set.
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

void init();  // registers typeset!

}  // namespace kez::typeset
