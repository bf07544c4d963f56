// Contexts: maps from words to value slots.
//
// A context is a node of two cells: the context record (a context! cell) and
// the owner value (the object! or function! that owns it, unset! until one
// is stored). The record's w1 is the word table, whose block is the word
// list (slot i's word has index i); w2 is the node of the values block, or,
// with CONTEXT_ON_STACK, the value-stack index (+1) of the first value while
// a call runs (0 when none runs). Kinds: global, function, object.
//
// Every word cell caches its slot index (w3, -1 until looked up): binding,
// making and setting fill it; reading never looks a word up.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::context {

// Room of the global context at start-up: the boot library defines about
// 2,300 words (sized as the symbol table is, for the same reasons).
constexpr uint32_t GLOBAL_SLOTS = 3200;
constexpr uint32_t NO_INDEX = 0xFFFFFFFF;

extern node_t global_node;  // the global context
extern Cell root;           // the root block: keeps runtime values alive

inline Cell* record(node_t ctx) { return cells_of(memory::buffer(ctx)); }
inline Cell* owner(node_t ctx) { return cells_of(memory::buffer(ctx)) + 1; }
inline uint32_t kind(node_t ctx) {
  return (record(ctx)->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
}
inline bool on_stack(node_t ctx) { return record(ctx)->header & CONTEXT_ON_STACK; }
// The word list block's node.
node_t words_node(node_t ctx);
// The first value cell, or nullptr for a function context with no call.
Cell* values(node_t ctx);
// Number of words (slots).
uint32_t size(node_t ctx);
inline Cell* word_at(node_t ctx, uint32_t index) {
  return cells_of(memory::buffer(words_node(ctx))) + index;
}

void init();

// Slot of the symbol, or -1. Case-insensitive compares canonical ids.
int32_t find_word(node_t ctx, uint32_t sym, bool case_insensitive);
// Existing slot, or -1 after appending a word for the symbol (its index
// written to `added`). The values block is not touched.
int32_t add_word(node_t ctx, uint32_t sym, bool case_insensitive, uint32_t* added);
// Adds the word's symbol when absent (unset! value for a heap context).
uint32_t add(node_t ctx, const Cell* word);
// Adds the word with a copy of the value when absent; nullptr when present.
Cell* add_with(node_t ctx, const Cell* word, const Cell* value);
void put(node_t ctx, const Cell* word, const Cell* value);
Cell* symbol_value(uint32_t sym, node_t ctx);

node_t create(uint32_t slots, bool stack, bool self, node_t proto, uint32_t kind);
node_t make(const Cell* spec, bool stack, bool self, uint32_t kind);
node_t clone(Cell* value);
bool collect_set_words(node_t ctx, const Cell* block);
int32_t bind_word(node_t ctx, Cell* word);
Cell* bind(Cell* block, node_t ctx, bool self);
// bind(spec, ctx, true) for the spec of an object being made. The spec of an
// object or the body of a function made once inside it (function::
// is_once_spec, is_once_body) is left to that object's or function's own
// walk, which then binds to all the contexts in one pass.
Cell* bind_spec(Cell* spec, node_t ctx);
// collect_set_words(ctx, spec) then bind_spec(spec, ctx), the set-words
// found through the bind walk's table; true when the context grew.
bool collect_bind_spec(Cell* spec, node_t ctx);
// bind(body, ctx, false) for the body a function made once takes as it is.
Cell* bind_body(Cell* body, node_t ctx);
// A deep copy of the block (blocks, parens and paths copied), pushed on the
// stack, with its words bound to `ctx`: block::clone then bind, in one walk.
Cell* clone_bound(const Cell* block, node_t ctx);

void get_global(uint32_t sym, Cell* out);
Cell* get_global_value(uint32_t sym);
Cell add_global(uint32_t sym, bool case_insensitive, bool keep_spelling);

Cell* get_in(const Cell* word, node_t ctx);
inline Cell* get(const Cell* word) { return get_in(word, word->w1); }
Cell* set_in(Cell* word, const Cell* value, node_t ctx, bool fire);

// Appends a copy of the cell to the root block.
void keep(const Cell* value);

}  // namespace kez::context
