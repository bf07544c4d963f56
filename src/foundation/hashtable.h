// Hash tables: the one open-addressing scheme of the runtime and its hash
// functions.
//
// Every table has a power-of-two bucket count, two flag bits a bucket (2
// empty, 1 deleted, 0 in use; 16 buckets a 32-bit word) and probes at offsets
// 0, 1, 3, 6, 10, ... from hash AND (buckets - 1). A table grows before an
// insertion once its occupied buckets (live plus deleted) reach 0.77 of the
// buckets, so a probe always meets an empty bucket.
//
// Two storage forms share it. The integer table (namespace inthash) is a
// plain record on the tracked heap mapping a 32-bit key to a 32-bit value.
// The value table is a node whose parts all live in series buffers, so that
// values hold it and the collector reaches and moves it: a header record (its
// first word the live count), the flag array, the key array and the indexed
// block. Its keys are positions in the block (kinds 0-2) or byte offsets of
// records in a record block (kinds 3 and up). Nothing here keeps a buffer
// address across an allocation; lookups never allocate.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/memory.h"

namespace kez {
struct Cell;

// The type id of the internal search key: a string whose word 3, when not
// negative, limits the characters hashed and compared.
constexpr uint32_t TYPE_SEARCH_KEY = 56;

namespace hashtable {

// Seed of every MurmurHash3 hash of the runtime; random::init fixes it.
extern uint32_t hash_seed;

// --- Hash functions --------------------------------------------------------

// MurmurHash3 x86_32.
uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed);
inline uint32_t murmur3(const void* data, size_t length) {
  return murmur3_seeded(data, length, hash_seed);
}
// MurmurHash3 of bytes with ASCII A-Z lowered (symbol names), no copy made.
uint32_t murmur3_lower(const uint8_t* data, size_t length);

// The MurmurHash3 finaliser of one word.
constexpr uint32_t mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// MurmurHash3 of a string's characters from its head, each as one 32-bit
// block, upper-cased unless `case_sensitive`.
uint32_t hash_string(const Cell* value, bool case_sensitive);
// The hash of a value by its type.
uint32_t hash_value(const Cell* value, bool case_sensitive);

// --- Bucket flags ------------------------------------------------------------

constexpr uint32_t FLAG_EMPTY = 2;
constexpr uint32_t FLAG_DELETED = 1;
constexpr uint8_t FLAGS_ALL_EMPTY = 0xAA;

inline uint32_t bucket_flag(const uint32_t* flags, uint32_t i) {
  return (flags[i >> 4] >> ((i & 15) << 1)) & 3;
}
inline bool is_empty(const uint32_t* flags, uint32_t i) { return bucket_flag(flags, i) & FLAG_EMPTY; }
inline bool is_deleted(const uint32_t* flags, uint32_t i) {
  return bucket_flag(flags, i) & FLAG_DELETED;
}
inline bool in_use(const uint32_t* flags, uint32_t i) { return bucket_flag(flags, i) == 0; }
inline void set_used(uint32_t* flags, uint32_t i) { flags[i >> 4] &= ~(3u << ((i & 15) << 1)); }
inline void set_deleted(uint32_t* flags, uint32_t i) {
  flags[i >> 4] = (flags[i >> 4] & ~(3u << ((i & 15) << 1))) | (FLAG_DELETED << ((i & 15) << 1));
}
// Bytes of the flag array of `buckets` buckets (whole words).
constexpr uint32_t flag_bytes(uint32_t buckets) { return ((buckets + 15) / 16) * 4; }

// Sizes: the smallest power of two not below n (0 for 0).
constexpr uint64_t power_of_two(uint64_t n) {
  uint64_t p = 1;
  if (n == 0) return 0;
  while (p < n) p <<= 1;
  return p;
}
constexpr double LOAD_FACTOR = 0.77;
// Buckets and upper bound of a table made for `size` keys.
constexpr uint32_t initial_buckets(uint32_t size) {
  return uint32_t(power_of_two(uint64_t(double(size < 4 ? 4 : size) / LOAD_FACTOR)));
}
constexpr uint32_t initial_upper(uint32_t buckets) { return uint32_t(buckets * LOAD_FACTOR); }
// Buckets and upper bound of a resize to n (at most 2^31 buckets).
constexpr uint32_t resized_buckets(uint64_t n) {
  uint64_t p = power_of_two(n);
  return uint32_t(p < 4 ? 4 : p > (1ull << 31) ? 1ull << 31 : p);
}
constexpr uint32_t resized_upper(uint32_t buckets) { return uint32_t(buckets * LOAD_FACTOR + 0.5); }

// --- Value tables ------------------------------------------------------------

enum table_kind : uint32_t {
  KIND_HASH = 0,     // hash!: duplicates allowed, equal keys chained
  KIND_MAP = 1,      // map!: pairs in the block, key at even positions
  KIND_SYMBOLS = 2,  // the symbol text index and context word tables
  KIND_RECORDS = 3,  // integer-keyed records (3 and up)
  KIND_OWNER = 4,    // the owner table
};

// The header record, 11 words in the table node's buffer.
struct header {
  uint32_t size;      // live keys
  uint32_t index;     // hash!: node of the position index; records: record size in bytes
  node_t chains;      // hash!: raw array of chain nodes
  node_t flags;       // flag array
  node_t keys;        // key array, one word a bucket
  node_t block;       // indexed block (or record block)
  uint32_t occupied;  // live plus deleted buckets
  uint32_t buckets;
  uint32_t upper;     // occupied count at which the table grows
  uint32_t kind;
  uint32_t stamp;     // 0: no key is hashed by a node address (handles never move)
};
static_assert(sizeof(header) == 44);

inline header* get_header(node_t table) {
  return reinterpret_cast<header*>(memory::buffer(table)->data());
}
inline uint32_t* flags_of(const header* h) {
  return reinterpret_cast<uint32_t*>(memory::buffer(h->flags)->data());
}
inline uint32_t* keys_of(const header* h) {
  return reinterpret_cast<uint32_t*>(memory::buffer(h->keys)->data());
}

// Makes a table for `size` keys. Kinds 0-2 take `block` (its own node, not a
// copy) when one is given, else a new block of `size` cells; a kind-2 table
// indexes the given block's cells from its head (kinds 0 and 1 are indexed
// by their datatypes, which compare values). Kinds 3 and up get a new record
// block of `size` cells and records of `value_cells` + 1 cells. The size of
// a kind-2 table of 4,000 or more is doubled first; a hash! table also gets
// its position index (all -1) and an empty list of chains.
node_t init(uint32_t size, const Cell* block, uint32_t kind, uint32_t value_cells);
// A kind-2 word table whose index is built on its first lookup: only the
// header and a word block of `size` cells exist until then (no buckets).
// Most function contexts are never looked up by name, so their words are
// never hashed. The caller keeps the block's words unique.
node_t init_deferred(uint32_t size);
// A kind-2 table copied whole from `prototype`: header, flags, keys and a
// copy of its block.
node_t init_from(node_t prototype);
// A copy of `table` (header, flags, keys; for hash! the position index and
// copies of its chains) indexing `new_block`.
node_t copy(node_t table, node_t new_block);
// Live count 0, every bucket empty, the block emptied.
void clear(node_t table);
// Rehashes into max(power of two of n, 4) buckets, unless the live count has
// reached the new upper bound. Deleted buckets are dropped.
void resize(node_t table, uint64_t n);

// Records of kinds 3 and up, keyed by an integer (a node). The Cell* answers
// point into the record block: use them before the next allocation.
// Finds or takes the key's record, sets every cell of it to unset! and
// answers its first value cell.
Cell* put_key(node_t table, uint32_t key);
// The first value cell of the key's record, or null.
Cell* get_key(node_t table, uint32_t key);
// Removes the key's record; answers its first value cell, or null.
Cell* remove_key(node_t table, uint32_t key);

// The symbol text index. Exact mode: a symbol of the same bytes, else a new
// symbol whose alias is the canonical symbol equal up to ASCII case (-1 when
// none). Any-case mode: the canonical symbol equal up to ASCII case, else a
// new canonical symbol. Answers the symbol id. Finding a known name never
// allocates; a new name is copied before anything is allocated, so `text`
// may lie in a series buffer. FIND_STABLE, added to a mode, says that the
// text lies outside the heap (an image in the binary) and is not copied.
enum find_mode : int { FIND_EXACT = 0, FIND_ANY_CASE = 1, FIND_STABLE = 2 };
int32_t find_text(node_t table, const uint8_t* text, uint32_t length, int mode);
// The same for a text whose murmur3_lower hash is known already (a boot
// pool's names, hashed when the pool was built).
int32_t find_text_hashed(node_t table, const uint8_t* text, uint32_t length, uint32_t hash,
                         int mode);
// A name of a boot image for intern_stable: text outside the heap, its
// length and its murmur3_lower hash.
struct stable_name {
  const uint8_t* text;
  uint32_t length;
  uint32_t hash;
};
// find_text_hashed in exact mode for each name in turn, the ids stored in
// `ids`; the symbol block is sized once for all of them.
void intern_stable(node_t table, const stable_name* names, uint32_t count, uint32_t* ids);
// Looks the symbol up without creating it: its id, or 0.
int32_t lookup_text(node_t table, const uint8_t* text, uint32_t length, int mode);

// A context's word table: the position of the word for `symbol` in the word
// block (matching canonical ids when `resolve`, else exact ids). When absent
// and `context` is given, a word! {context, symbol, position} is appended and
// indexed, its position stored in `index` and -1 answered; when absent
// without a context, -1. A deferred table is indexed first.
int32_t find_symbol(node_t table, int32_t symbol, bool resolve, node_t context, int32_t* index);
// Sizes a word table at once, when needed, so that `more` new words fit
// without a resize each time it fills; a deferred table is indexed now.
void reserve(node_t table, uint32_t more);

// --- hash! tables (kind 0) ----------------------------------------------------
//
// Every cell of the block is an entry: a bucket holds one position, or -c
// for chain c (a raw array of two or more positions, ascending) when cells
// of one kind compare equal; the position index maps each position to its
// bucket (-1 for none). Word kinds share buckets, since find matches a
// word of any kind.

// Indexes the cell at `position`. Answers 0, or REBUILT when the table was
// full and was rebuilt from the whole block instead (the cell is then in).
constexpr int32_t REBUILT = 2;
int32_t put_star(node_t table, uint32_t position);
// Indexes `count` cells from `from` (stops early after a rebuild).
void index_block(node_t table, uint32_t from, uint32_t count);
// Drops the entries of `count` positions from `from` (the cells are about
// to go or to be replaced).
void remove_range(node_t table, uint32_t from, uint32_t count);
// The cells [from, from + count) moved by `shift` positions: their entries
// follow, and the position index opens a gap of `shift` entries at `from`
// (shift > 0) or closes the `-shift` entries before `from` (shift < 0, whose
// entries must have been removed first).
void refresh_range(node_t table, int32_t shift, uint32_t from, uint32_t count);
// New storage for the block's length and a full re-index.
void rebuild(node_t table);
// The number of positions the position index covers: the block's length
// while the table is in step with it.
uint32_t covered(node_t table);
// The position of the matching cell (compare(cell, key, op) true) whose
// distance from `start` is a multiple of `skip`: the smallest at or after
// `start`; with `last` the greatest; with `reverse` the greatest before
// `start`. -1 when none.
int32_t get(node_t table, const Cell* key, uint32_t start, uint32_t skip, int32_t op, bool last,
            bool reverse);

// --- map! tables (kind 1) -------------------------------------------------------
//
// The block holds key/value pairs; a bucket holds the position of a key
// cell. Keys are stored normalised (word kinds as set-word!); a removed pair
// keeps its key indexed and has its value cell's header set to 0.

// A walk over the keys that match `key` (its word kinds sought as
// set-word!) of the same type under the comparison operator.
struct cursor {
  int32_t bucket = -1;  // -1 before the first step
  uint32_t step = 0;
  uint32_t start = 0;
  uint32_t hash = 0;   // the key's hash, once `hashed`
  bool hashed = false;
  bool done = false;
};
// The next matching key cell's position, or -1 at the end.
int32_t get_next(node_t table, const Cell* key, int32_t op, cursor& c);
inline int32_t find_key(node_t table, const Cell* key, int32_t op) {
  cursor c;
  return get_next(table, key, op, c);
}
// Indexes the key cell at `position` (not indexed yet), growing first.
// `lookup`, when given, is the finished walk that looked the key up (before
// it was normalised, which keeps its hash): its hash is taken again.
void put_key_at(node_t table, uint32_t position, const cursor* lookup = nullptr);
// Marks the pair whose key is at `position` removed.
void delete_pair(node_t table, uint32_t position);

// Collector support. `series` marks one buffer and answers true when it was
// not marked before; `block` marks a cell series and the values in it.
struct marker {
  bool (*series)(node_t node);
  void (*block)(node_t node);
};
void mark(node_t table, const marker& m);
// Drops the records whose key (or, for the owner table, owner) did not
// survive marking.
void sweep(node_t table, bool (*is_marked)(node_t node));

}  // namespace hashtable

// --- Integer tables ------------------------------------------------------------

namespace inthash {

// A map from 32-bit keys to 32-bit values on the tracked heap.
struct table {
  uint32_t size;      // live keys
  uint32_t* flags;
  uint32_t* pairs;    // key, value for each bucket
  uint32_t occupied;
  uint32_t buckets;
  uint32_t upper;
};

table* init(uint32_t size);
// Inserts or overwrites.
void put(table* t, uint32_t key, uint32_t value);
// The address of the key's value word, or null (valid until the next put).
uint32_t* get(table* t, uint32_t key);
// The key's bucket, or -1.
int32_t find(table* t, uint32_t key);
void remove(table* t, uint32_t key);
// The next bucket in use after `after` (-1 to start), or -1 at the end.
int32_t next(const table* t, int32_t after);
inline uint32_t key_at(const table* t, int32_t bucket) { return t->pairs[2 * bucket]; }
inline uint32_t value_at(const table* t, int32_t bucket) { return t->pairs[2 * bucket + 1]; }
inline uint32_t size(const table* t) { return t->size; }
// Moves the keys in place into max(power of two of n, 4) buckets, unless the
// live count has reached the new upper bound. Answers 0.
int32_t resize(table* t, uint64_t n);
void clear(table* t);
void destroy(table* t);

}  // namespace inthash
}  // namespace kez
