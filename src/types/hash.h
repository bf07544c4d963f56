// hash!: a block whose cells are also indexed by a hash table, so that find
// and select do not walk the block.
//
// The cell is a block cell with the table's node in word 3; every cell that
// shares the block shares the table. The block actions (inherited) keep
// the index in step through the hooks of values/hash_hooks.h, which this
// datatype implements; a hash! cell without a table is searched by walking.
#pragma once
#include "values/hash_hooks.h"

namespace kez::hash {

void init();  // registers hash! (after block!)

}  // namespace kez::hash
