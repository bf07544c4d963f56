// hash!: the index hooks the block actions call, its constructors and mold.
//
// What must stay true: after every block action the table holds exactly
// one entry for each cell of the block, at the cell's current position.
// Insertions shift the entries behind them and index the new cells;
// removals drop their entries before the cells go and shift the rest;
// reorderings rebuild. Lookups answer only for values whose hash agrees
// with the equality find uses; for the others (series and objects hashed by
// identity, dates compared as instants, tuples) find walks the block as
// block! does.
#include "types/hash.h"

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "values/block.h"
#include "values/registry.h"
#include "values/string.h"

namespace kez::hash {

namespace {

inline uint32_t length_of(const Cell* b) { return GET_BUFFER(b)->used() / sizeof(Cell); }

// The cell's table, or 0 when it has none that indexes its block.
node_t table_of(const Cell* b) {
  node_t t = b->w3;
  if (!t || hashtable::get_header(t)->block != b->w2) return 0;
  return t;
}

// Values whose hash follows the equality of find (zeros of either sign
// are equal but hash apart; tuples equal up to trailing zero bytes too).
bool hashed_by_value(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  if ((t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME) && get_float(v) == 0.0) return false;
  switch (t) {
    case TYPE_UNSET: case TYPE_NONE: case TYPE_LOGIC: case TYPE_DATATYPE: case TYPE_TYPESET:
    case TYPE_INTEGER: case TYPE_CHAR: case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
    case TYPE_PAIR:
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_BINARY:
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE:
      return true;
    default:
      return false;
  }
}

// A table that fell out of step (cells appended by a routine that keeps
// no index, such as reduce/into) is rebuilt before it is used again.
// Answers false when it was rebuilt, over `length` cells.
bool in_step(node_t t, uint32_t length) {
  if (hashtable::covered(t) == length) return true;
  hashtable::rebuild(t);
  return false;
}

}  // namespace

void on_insert(Cell* b, uint32_t index, uint32_t count) {
  node_t t = table_of(b);
  if (!t || count == 0) return;
  uint32_t len = length_of(b);
  if (!in_step(t, len - count)) return;  // rebuilt over the new cells too
  hashtable::refresh_range(t, int32_t(count), index, len - count - index);
  hashtable::index_block(t, index, count);
}

void on_remove(Cell* b, uint32_t index, uint32_t count) {
  node_t t = table_of(b);
  uint32_t len = length_of(b);
  if (!t || count == 0 || index >= len) return;
  if (count > len - index) count = len - index;
  in_step(t, len);
  hashtable::remove_range(t, index, count);
  hashtable::refresh_range(t, -int32_t(count), index + count, len - index - count);
}

void on_change(Cell* b, uint32_t index) {
  node_t t = table_of(b);
  uint32_t len = length_of(b);
  if (!t || index >= len) return;
  if (!in_step(t, len)) return;
  hashtable::remove_range(t, index, 1);
  hashtable::put_star(t, index);
}

void on_rebuild(Cell* b) {
  if (node_t t = table_of(b)) hashtable::rebuild(t);
}

void index_new(Cell* b) {
  // The cell (reachable) holds the block, and the table once it is made:
  // a table must be reached through a value, never held alone, or its
  // parts would not be marked.
  Cell block = *b;
  block.w1 = 0;
  b->w3 = 0;
  uint32_t len = length_of(b);
  node_t t = hashtable::init(len, &block, hashtable::KIND_HASH, 0);
  b->w3 = t;
  hashtable::index_block(t, 0, len);
}

int32_t lookup(const Cell* b, const Cell* value, uint32_t start, uint32_t skip, int32_t op,
               bool last, bool reverse) {
  node_t t = table_of(b);
  if (!t || !hashed_by_value(value) || op == COMP_SAME) return NO_LOOKUP;
  in_step(t, length_of(b));
  return hashtable::get(t, value, start, skip, op, last, reverse);
}

namespace {

Cell* to(Cell* proto, const Cell* spec, uint32_t) {
  // Conversion as to block! does, then the index over the new block
  // (block::to indexes a hash! it makes).
  return block::to(proto, spec, TYPE_HASH);
}

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  uint32_t st = TYPE_OF(spec);
  if (st == TYPE_INTEGER || st == TYPE_FLOAT || block::is_block_type(st))
    return block::make(proto, spec, TYPE_HASH);
  return to(proto, spec, type);
}

int32_t mold(const Cell* v, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (!only) part -= string::append_literal(out, "make hash! ");
  return block::mold(v, out, only, all, flat, part, indent);
}

constexpr action_row ROW = [] {
  action_row r;  // the rest inherits from block!
  r.make = make;
  r.to = to;
  r.mold = mold;
  r.random = UNSUPPORTED;
  r.set_path = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_HASH, TYPE_BLOCK, "hash!", ROW); }

}  // namespace kez::hash
