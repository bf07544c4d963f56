// Ownership of series by objects: a series that an object with an
// on-deep-change* handler owns reports every in-place change to it.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::ownership {

// Binds every series reachable from the object's fields as owned by it.
void set_owner(const Cell* obj);
// Releases the object's ownership binding.
void unbind(const Cell* obj);
// Before (and after, with the past-form word) a change of `series`: tells
// its owner. Returns true when the series has an owner.
bool check(const Cell* series, uint32_t action_word, const Cell* value, int32_t index,
           int32_t part);
// The owner recorded for a series, or none!.
Cell owner_of(const Cell* series);
void init();

}  // namespace kez::ownership
