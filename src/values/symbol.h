// Symbols: every spelling of a word the system meets is interned once and
// known from then on by its symbol id, a small positive integer.
//
// The symbol table is a block of symbol! cells held by one global cell; id N
// is the cell at position N - 1. A symbol! cell holds its alias (the id of
// the canonical symbol, the first interned with the same spelling up to ASCII
// case, or -1 when it is canonical itself), the node of its string! form
// (0 until first asked for) and the node of its name: UTF-8 bytes with a NUL
// just past the tail. Symbols are never removed and ids never change; the
// table's buffer moves as it grows, so entry addresses are not kept across
// interning. The text index (a kind-2 hash table over the block, hashed by
// the name with ASCII letters lowered) finds a name without allocating.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::symbol {

// The block of symbol! cells, and its text index.
extern Cell table;
extern node_t text_index;

// Room of the symbol table at start-up. The boot library interns about
// 2,350 names; 3,200 leaves a script room for its own and gives the text
// index 8,192 buckets (under a third full, so lookups stay short), which
// grow by doubling after that. A larger table would push start-up's series
// memory past the first frame's huge page.
constexpr uint32_t INITIAL_SYMBOLS = 3200;

// Creates the symbol table and its text index.
void init();

// Interns NUL-terminated UTF-8 text, exactly (make) or matching any case
// (make_ci: an existing symbol equal up to case is answered as it is).
uint32_t make(const char* text);
uint32_t make_ci(const char* text);
// Interns `length` bytes exactly; no NUL needed.
uint32_t make_alt(const char* text, uint32_t length);
// Interns the characters of a string value from its head.
uint32_t make_from_string(const Cell* string);

// The entry of a symbol, without side effects.
inline Cell* entry(uint32_t id) {
  return cells_of(memory::buffer(table.w2)) + (id - 1);
}
// The entry, with its string form made first when missing.
Cell* get(uint32_t id);
// The node of the symbol's string! form, made on first demand and kept.
node_t cache_string(uint32_t id);

// The canonical id: the alias when it is positive, else the id itself.
inline uint32_t resolve(uint32_t id) {
  int32_t alias = int32_t(entry(id)->w1);
  return alias > 0 ? uint32_t(alias) : id;
}
// How a plain word cell `c` matches a word key of canonical symbol `canon`
// under equality and find, which compare words by canonical symbol: 1 or 0
// for a plain word, -1 for any other cell, which the compare action decides.
// Tables of names are searched a great deal; this spares the action's call.
inline int word_key_match(const Cell* c, uint32_t canon) {
  if (TYPE_OF(c) != TYPE_WORD) return -1;
  return resolve(c->w2) == canon ? 1 : 0;
}
// The alias word as stored (-1 for a canonical symbol).
inline int32_t get_alias(uint32_t id) { return int32_t(entry(id)->w1); }

// The NUL-terminated UTF-8 name; valid until the next allocation.
const char* to_cstr(uint32_t id);
// Number of symbols interned.
uint32_t count();

// True when the word's symbol is any-type! up to case.
bool any_type(const Cell* word);

// Compares the names of two symbol! values under a comparison operator: -1,
// 0 or 1 (equality operators: 0 equal, 1 not).
int32_t compare(const Cell* a, const Cell* b, int op);

}  // namespace kez::symbol
