// bitset!: a set of non-negative integers (in practice code points), one bit
// each in a byte series that grows on demand.
//
// Value n is the bit under mask 0x80 >> (n % 8) of byte n / 8. The buffer's
// complement flag makes every value beyond the buffer's tail a member; inside
// the buffer a set bit is a member whatever the flag. Growing keeps every
// membership: new bytes are 0, or 255 on a complemented bitset.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::bitset {

enum operation : int32_t { MEASURE = 0, SET = 1, TEST = 2, CLEAR = 3 };
// Who hands a spec over, for the error a bad spec raises.
enum caller : int32_t { FOR_MAKE = 0, FOR_TO = 1, FOR_OTHER = 2 };

inline bool complemented(const Cell* bits) {
  return (GET_BUFFER(bits)->flags & SERIES_COMPLEMENT) != 0;
}
// True when the value is a member.
bool test(const Cell* bits, uint32_t n);
// Applies an operation to every value a spec names; MEASURE answers the
// highest value named (-1 for none), TEST 1 when every one is a member.
int64_t process(const Cell* spec, Cell* bits, operation op, caller kind);
// A new bitset from a spec into `out` (a cell the collector reaches).
Cell* make_from_spec(Cell* out, const Cell* spec, caller kind);
// The bitwise operations and the set natives' worker: the result is left in
// set1. OP_UNIQUE leaves set1 unchanged (set2 may then be nullptr).
Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op);

void init();  // registers bitset!

}  // namespace kez::bitset
