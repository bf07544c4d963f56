// datatype!, unset!, none! and logic!: the types without payload beyond one
// word, with the constructors and truth tests the whole runtime uses.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::datatype {
Cell* push(uint32_t type);
void init();
}  // namespace kez::datatype

namespace kez::unset {
void box();
void init();
}  // namespace kez::unset

namespace kez::none {
void box();
void init();
}  // namespace kez::none

namespace kez::logic {
void box(bool flag);
inline bool get(const Cell* c) { return c->w1 != 0; }
// False only for none! and logic! false; with `check`, unset! raises
// script no-value naming `word`.
bool true_value(const Cell* value, bool check, const Cell* word);
// The truth of the frame's result slot; unset! raises script no-return.
bool true_q();
// True when the result slot holds none! or false (unset! is true).
bool false_q();
inline bool falsy(const Cell* v) {
  return TYPE_OF(v) == TYPE_NONE || (TYPE_OF(v) == TYPE_LOGIC && v->w1 == 0);
}
void init();
}  // namespace kez::logic
