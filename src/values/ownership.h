// Ownership of series by objects: an object with an on-deep-change* handler
// owns the series held in its fields (and those nested in them); every
// in-place change of an owned series calls the handler once before and once
// after the change. Ownership is recorded per buffer (the owned bit and a
// record in the owner table), so it follows the data, not the cell; copies
// are never owned.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::ownership {

extern node_t table;  // the owner table (records: value, owner, word)

void init();
// Marks the value (and what it nests) as owned by `owner` through `word`.
void bind(const Cell* value, const Cell* owner, const Cell* word);
// bind, then the owner's context claims its series (owner bit).
void set_owner(const Cell* value, const Cell* owner, const Cell* word);
// Releases the value (and what it nests) from its owner.
void unbind(const Cell* value);
// `modify` with the field `owned` on a series or bitset: none! releases
// it, a block [object word] makes that object its owner through the word;
// anything else is an invalid argument.
void modify_owned(const Cell* value, const Cell* setting);
void unbind_range(const Cell* block, uint32_t index, uint32_t n);
// The owner object recorded for a series node, or nullptr.
const Cell* owner_of(node_t node);
// The owner object of a series value, or none!.
Cell owner_of(const Cell* series);
// Before (present-tense word) and after (past-form word) a change of
// `series`: tells its owner. `action_word` is the symbol of the word
// (words::append, words::appended, ...); `value` the new value or nullptr;
// `index` the position from the buffer's start; `part` the element count.
// Returns true when an owner was told.
bool check(const Cell* series, uint32_t action_word, const Cell* value, int32_t index,
           int32_t part);

}  // namespace kez::ownership
