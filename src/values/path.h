// path!, lit-path!, set-path!, get-path! and paren!: block-like series that
// share the block cell and storage (values/block.h) and differ in type,
// evaluation and text form.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::path {
// Pushes a copy of a block cell retyped to `type` (any path kind).
Cell* push(const Cell* b, uint32_t type);
// An empty path! with a new series of that capacity (at least 1).
Cell* make_at(Cell* cell, int32_t capacity);
void init();  // registers path!
}  // namespace kez::path

namespace kez::lit_path {
void init();
}
namespace kez::set_path {
void init();
}
namespace kez::get_path {
void init();
}

namespace kez::paren {
Cell* push(const Cell* b);
void init();  // registers paren!
}  // namespace kez::paren
