// map!: key/value pairs in insertion order behind a hash index.
//
// The cell is a block cell (head, pair block) with the node of its hash
// table (kind 1) in word 3. The pair block holds keys at even and values at
// odd positions. Removing a key keeps its pair in place with the value
// cell's header set to 0; setting the key again revives the pair where it
// was. The table's first field is the live count, which every walk uses to
// stop early. Keys are stored normalised: string-like keys are private
// copies, word kinds are set-word!, and only the key types below are
// accepted.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::map {

// Turns `cell` into a map over `block` (a block cell; its own node is
// used, with its duplicate keys merged: the first keeps its place and takes
// the last value), or over a new empty block of room for `size` cells when
// `block` is null. `cell` must be reachable by the collector.
Cell* make_at(Cell* cell, const Cell* block, uint32_t size);
Cell* push(const Cell* map);
// Takes in the pair appended last to the map's block (a reader that fills
// the block in place): its key is normalised and indexed or, when the key
// is there already, its value replaces that key's and the pair is dropped.
void index_last_pair(Cell* map);
// The number of live pairs.
uint32_t ks_length(const Cell* map);
bool valid_key_type(uint32_t type);
// Normalises a key in place (a value-stack cell); a type that cannot be a
// key raises script invalid-path with `arg1` (none when null) and the
// key's datatype.
void normalize_key(Cell* key, const Cell* arg1);
// Adds or sets the pairs of a block (script invalid-arg for an odd count).
Cell* extend(Cell* map, const Cell* block, bool case_sensitive);
// One step of foreach over a map: sets up to `count` words from the cells
// at the series' head, skipping removed pairs (the head moves past them)
// and giving set-word! keys as word!; words past the end get none. True
// when a word was set from a cell.
bool foreach_step(const Cell* words, Cell* series, int32_t count);

void init();  // registers map!

}  // namespace kez::map
