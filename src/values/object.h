// object! values: a context of the object kind with the cell that owns it.
//
// w1 is the context node (object kind, heap values, self flag), w2 the class
// id (objects of one shape share it), w3 the node of the on-set record: two
// pair!-typed cells caching the slots and local counts of `on-change*` and
// `on-deep-change*` (slot 0xFFFF when absent), or 0 when neither exists.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::object {

uint32_t new_class_id();
// An empty object of `slots` slots in `cell` (class 0, no on-set record).
Cell* make_at(Cell* cell, uint32_t slots);
// Pushes an object over an existing context and stores it as the owner.
Cell* push(node_t ctx, node_t on_set, uint32_t class_id);

int32_t find_word(const Cell* obj, const Cell* word);
const Cell* select_word(const Cell* obj, const Cell* word);
Cell get_word(node_t ctx, uint32_t index);
void clear_marks(node_t ctx);
void clear_new_lines(Cell* series);

node_t build_on_set(node_t ctx);
// A record with neither handler, for an object whose values are still to
// come (a decoded one, which copies of itself may meet first), filled in
// place once they are there.
node_t empty_on_set();
void fill_on_set(node_t record, node_t ctx);
// The on-set record's entry `k` (0 on-change*, 1 on-deep-change*) of an
// object that has one: slot << 16 | locals count, or 0xFFFF0000 for none.
uint32_t handler_record(const Cell* obj, int k);
void init_on_set(Cell* obj, node_t ctx);
bool on_deep(const Cell* obj);

// Calls the object's on-change* with the field's word, old and new value.
void fire_on_set(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
// Calls on-deep-change* of the owner of a changed series.
void fire_on_deep(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                  const Cell* value, int32_t index, int32_t part);

// Copies `proto` into `target` (a stack cell).
void duplicate(const Cell* proto, Cell* target, bool deep, const Cell* types, bool rebuild);
bool extend_from(node_t target, const Cell* source);
void copy_function(Cell* field, node_t ctx);
Cell* construct(Cell* out, const Cell* spec, const Cell* proto, bool only);
void set_many(Cell* obj, const Cell* value, bool any, bool only, bool some);
int32_t serialize(const Cell* obj, Cell* out, bool only, bool all, bool flat, int32_t part,
                  int32_t indent, bool mold);

void init();  // registers object!

}  // namespace kez::object
