// function! and routine! values: a spec block, a body block and a context of
// the function kind whose values live on the value stack while a call runs.
//
// The "more" series holds five cells: the body (deep copy, or none!), the
// interpreter's spec cache (unset! until the first call), the compiled code
// index (integer!, or unset! for an interpreted function), a copy of the
// function once an op! wraps it, and an extra integer! (the node of the
// context the interpreter runs calls in), or unset!.
#pragma once

#include <span>
#include <vector>
#include <cstdint>

#include "values/cell.h"

namespace kez::function {

enum more_cell : uint32_t {
  MORE_BODY = 0,
  MORE_SPEC_CACHE = 1,
  MORE_CODE = 2,
  MORE_OP = 3,
  MORE_EXTRA = 4,
};

enum : uint32_t {
  ATTR_NO_TRACE = 0x200,
  ATTR_TRACE = 0x400,
  ROUTINE_CELLS = 0x8000,  // routine! that takes and returns cell pointers
};

inline Cell* more(const Cell* fn) { return cells_of(memory::buffer(fn->w3)); }

// Pushes a new function!; returns its context node. `context` 0 makes one
// from the spec; `code` 0 means interpreted; `extra` 0 means none.
node_t push(const Cell* spec, const Cell* body, node_t context, uint32_t code, uint32_t extra,
            uint32_t flags);
// Start-up: notes the function bodies of a boot source block that a single
// call of func, function, has or does will take and nothing else can reach,
// so that the function takes the block itself instead of a copy (see
// function.cpp for the statements it recognises and why that is exact).
// With `paths`, also appends where each noted block lies (see
// mark_once_paths), the source being the cell `root_offset` cells into the
// root block's part the pool fills.
void mark_once_bodies(const Cell* source, std::vector<uint32_t>* paths = nullptr,
                      uint32_t root_offset = 0);
// Notes the blocks the paths lead to, as mark_once_bodies noted them when
// the build scanned the same pool: each path is a header (its length times
// two, plus one for an object spec), then the cell indexes from `first` in
// the root block down to the block. False, having noted nothing, when a
// path leads nowhere.
bool mark_once_paths(const Cell* root, uint32_t first, std::span<const uint32_t> paths);
// True for the spec of an object that such a block makes once, by a
// statement mark_once_bodies recognised: nothing but that make reaches it.
bool is_once_spec(node_t node);
// True for a body noted by mark_once_bodies that no function took yet.
bool is_once_body(node_t node);
// Checks a spec; returns its attribute flags.
uint32_t validate(const Cell* spec);
// Slots of the /local part (1 for /local plus its words); -1 when required
// and absent, 0 when not required and absent.
int32_t count_locals(node_t spec_node, uint32_t start, bool required);
// Pushes logic false then n - 1 none! values.
void init_locals(int32_t n);
// The worker of the `function` native: body set-words and loop words
// become locals of the spec.
void collect_words(Cell* spec, const Cell* body);

void init();  // registers function!

}  // namespace kez::function

namespace kez::routine {
void init();  // registers routine!
// Pushes a new routine! over the C++ routine at `code` (1-based position in
// routines::table); its context is made from the spec.
void push(const Cell* spec, uint32_t code);
}
