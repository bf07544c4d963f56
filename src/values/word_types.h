// The word datatypes (word!, set-word!, lit-word!, get-word!, refinement!,
// issue!) and the registration of symbol! and context!.
//
// The six kinds share the word cell (context node, symbol id, cached
// index) and differ only in type id, text form and comparison; each kind
// but word! inherits what it does not change from word!.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::symbol {
void init_type();  // registers symbol! (its compare only)
}  // namespace kez::symbol

namespace kez::context {
void init_type();  // registers context! (no actions)
}  // namespace kez::context

namespace kez::word {
// Pushes a string! sharing the symbol's cached string form.
Cell* to_string(const Cell* word);
// The type of the value the lexer reads from a symbol's name (0 when it
// reads nothing); syntax errors are the lexer's.
uint32_t scan(uint32_t sym);
void init();
}  // namespace kez::word

namespace kez::set_word { void init(); }
namespace kez::lit_word { void init(); }
namespace kez::get_word { void init(); }

namespace kez::refinement {
// A refinement with no context for the symbol of a C text.
Cell load(const char* text);
void init();
}  // namespace kez::refinement

namespace kez::issue {
// Turns the cell into an issue! of the text's symbol, bound to the global
// context with index -1 (an issue is never looked up).
Cell* make_at(Cell* cell, const char* text);
void init();
}  // namespace kez::issue
