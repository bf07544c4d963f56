// Words: the six word kinds share one layout (context node, symbol id,
// cached index). Getting and setting go through their context.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::word {

inline Cell make(uint32_t type, node_t ctx, uint32_t sym, uint32_t index) {
  return Cell{type, ctx, sym, index};
}
inline bool is_word_type(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
inline bool is_any_word(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }

// A word! bound to the global context (added with an unset! value when new).
Cell make_global(uint32_t sym);
Cell load(const char* text);
void make_at(uint32_t sym, Cell* cell);
// The context's word for the symbol (exact), else the global word.
Cell lookup(node_t ctx, uint32_t sym);

// Sets the word in its own context (calling an owner's on-change handler).
Cell* set(Cell* word, const Cell* value);
// Pushes a copy of the value; unset! raises script no-value.
Cell* get(const Cell* word);
// The value cell of a word, or nullptr when it has none (no raise).
const Cell* get_value_or_null(const Cell* word);
// The value cell; unset! is returned as is.
Cell* get_any(const Cell* word);

// Canonical symbol of a word.
uint32_t canonical(const Cell* word);
bool same_symbol(const Cell* a, const Cell* b);  // through canonical ids

}  // namespace kez::word
