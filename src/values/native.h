// native!, action! and op! values.
//
// A native! or action! cell holds its 1-based table position (w1), its spec
// node (w2) and a "more" series of two cells (w3): the record of a word-less
// context of the function kind with stack values, and none! (later the
// interpreter's spec cache). An op! is a copy of the wrapped value's cell
// retyped op!, with the wrapped type in header bits 16-23.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::native {
void init();  // registers native!, action! and op!

// The first native! or action! made at a table position is its registered
// value (kept alive by the root block); nullptr when none was made yet.
const Cell* registered(uint32_t type, uint32_t position);
// Makes the value at a position from a spec block, as `make native!` and
// `make action!` do, registering it when it is the first (and `record`).
Cell make_registered(uint32_t type, uint32_t position, const Cell* spec, bool record = true);
}  // namespace kez::native
