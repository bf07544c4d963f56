// handle!: a 32-bit platform handle with its class, for the GUI backend.
//
// A handle! cell holds its class in w1, the handle value in w2 (a slot
// index: no address is ever stored in a cell) and -1 in w3. The type only
// forms, molds and compares; it takes nothing from integer!.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::handle {

// Handle classes (the ones between have names for molding only).
inline constexpr uint32_t CLASS_NULL = 0;
inline constexpr uint32_t CLASS_WINDOW = 3;

inline Cell make(uint32_t value, uint32_t handle_class) {
  return Cell{TYPE_HANDLE, handle_class, value, 0xFFFFFFFF};
}
// Into the current frame's result cell.
void box(uint32_t value, uint32_t handle_class);
// Appended to a block; pushed on the value stack.
Cell* make_in(Cell* block, uint32_t value, uint32_t handle_class);
Cell* push(uint32_t value, uint32_t handle_class);
inline Cell* push_null() { return push(0, CLASS_NULL); }

void init();  // registers handle!

}  // namespace kez::handle
