// KEZBIN: the system's own binary serialization of values.
//
// An image is a header ("KEZBIN", version, flags), a root count, a payload
// size, an optional symbol table and a payload of records, one per value,
// in one of two forms: normal (32-bit little-endian words) or compact
// (bytes and LEB128 varints). Values met a second time are written as
// references by path to their first occurrence, so shared and cyclic
// structures come back shared and cyclic.
//
// The decoder serves two callers. The codec (`load/as ... 'kezbin`) reads
// untrusted bytes: every count, length, index, offset and path is checked
// against what the remaining bytes and the values built so far can hold
// before anything is allocated or read, and any breach raises script
// `kb-invalid-record`. The boot pool is the runtime's own image: set-word
// records bind words as they are read, and words may name their context
// by the position of a value decoded earlier.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "values/cell.h"

namespace kez::kezbin {

// Writes `value` as an image in a new binary! pushed on the value stack;
// routine!, triple!, handle!, port! and event! raise access `no-codec`.
Cell* encode(const Cell* value, bool compact);

// The boot pool's image (compact): a set-word record for each word/value
// pair of `set_words` (a block; the words are bound globally when read),
// then each value of the block `values` as a top-level record.
std::vector<uint8_t> encode_pool(const Cell* set_words, const Cell* values);

// Decodes an image (codec mode) and appends its values to the block `into`
// (a cell the collector reaches). `arg` is the value an `invalid-data`
// error names (the codec's payload).
void decode(const uint8_t* data, size_t length, Cell* into, const Cell* arg);

// Boot mode: decodes the runtime's own pool into `into`. A missing magic
// or corrupt compressed data prints its message on standard error and ends
// the process with status 1. With `keep_cells` the cells of an earlier
// pool stay the literal cells. Answers the index in `into` of the first
// cell this pool appended.
// `hashes`, when it has one for each name of the image's symbol table, are
// their murmur3_lower hashes (symbol_hashes), which interning then takes.
uint32_t boot_load(const uint8_t* data, size_t length, Cell* into, bool keep_cells,
                   std::span<const uint32_t> hashes = {});
// The murmur3_lower hashes of the names of an uncompressed image's symbol
// table, in its order (none for any other image): the build step stores
// them beside the pool.
std::vector<uint32_t> symbol_hashes(std::span<const uint8_t> image);

// Defines the routines behind the `kezbin` codec (`_kezbin-encode` and
// `_kezbin-decode`), which the boot library moves into system/codecs.
void make_routines();

// Index of the first literal cell of the last boot pool that did not keep
// the earlier cells.
extern uint32_t literal_base;

}  // namespace kez::kezbin
