// Hash tables.
//
// The value-table operations read the header, flags and keys through the
// table's node at the start of each step and never hold them across an
// allocation: an insertion grows the table when it is full, probes (which
// never allocates), allocates what the new entry needs and only then reads
// the header again to store it. The bucket found by the probe stays valid
// because nothing else changes the table meanwhile.
//
// Kind 2 keys are unique by construction (one symbol a spelling, one word a
// symbol in a context) and records are keyed by integers, so neither needs
// the comparison of values. Kinds 0 and 1 (hash!, map!) compare values
// through their datatypes' compare actions, which never allocate; their
// datatypes decide what to index (a map's keys are normalised first).
#include "foundation/hashtable.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "evaluator/actions.h"
#include "foundation/array.h"
#include "foundation/collector.h"
#include "foundation/casefold.h"
#include "foundation/heap.h"
#include "foundation/unicode.h"
#include "values/cell.h"
#include "values/symbol.h"

namespace kez {
namespace hashtable {

uint32_t hash_seed = 0;

namespace {

constexpr uint32_t C1 = 0xCC9E2D51;
constexpr uint32_t C2 = 0x1B873593;
// Tables are never made for more keys than this: its buckets still fit 32 bits.
constexpr uint32_t MAX_SIZE = 0x20000000;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t mix_block(uint32_t h, uint32_t k) {
  k *= C1;
  k = rotl(k, 15);
  k *= C2;
  h ^= k;
  h = rotl(h, 13);
  return h * 5 + 0xE6546B64;
}

inline uint32_t mix_tail(uint32_t h, uint32_t k) {
  k *= C1;
  k = rotl(k, 15);
  k *= C2;
  return h ^ k;
}

inline uint32_t finish(uint32_t h, uint64_t length) { return mix(h ^ uint32_t(length)); }

inline uint8_t ascii_lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

bool same_text_any_case(const uint8_t* a, const uint8_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; i++)
    if (a[i] != b[i] && ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

Cell* block_cells(node_t block) { return cell_head(memory::buffer(block)); }
uint32_t block_length(node_t block) { return memory::buffer(block)->used() / sizeof(Cell); }

// First cell of the record at byte offset `offset` of the record block.
Cell* record_at(const header* h, uint32_t offset) {
  return reinterpret_cast<Cell*>(memory::buffer(h->block)->head_ptr() + offset);
}

// A map! key word holds the key's position (below 2^27, the most cells a
// block can have) and, above it, the top bits of the key's hash: a probe
// compares those first and reaches into the block (and the key's own
// buffer) only when they agree.
constexpr uint32_t POSITION_MASK = (1u << 27) - 1;
inline uint32_t with_tag(uint32_t position, uint32_t hash) {
  return position | (hash & ~POSITION_MASK);
}

// The hash by which a stored key is placed.
uint32_t stored_hash(const header* h, uint32_t key) {
  if (h->kind >= KIND_RECORDS) return mix(record_at(h, key)->w1);
  if (h->kind == KIND_MAP) key &= POSITION_MASK;
  return hash_value(block_cells(h->block) + key, false);
}

node_t alloc_flags(uint32_t buckets) {
  return memory::alloc_bytes_filled(flag_bytes(buckets), FLAGS_ALL_EMPTY);
}
node_t alloc_keys(uint32_t buckets) { return memory::alloc_bytes_filled(uint64_t(buckets) * 4, 0); }

// Probe for an insertion of a key placed by `hash`: answers the bucket of a
// matching key (found set), else the first deleted bucket met, else the empty
// bucket that ended the walk.
template <class Match>
uint32_t probe(const header* h, uint32_t hash, Match&& match, bool* found) {
  const uint32_t* flags = flags_of(h);
  const uint32_t* keys = keys_of(h);
  uint32_t mask = h->buckets - 1, i = hash & mask, start = i, step = 0;
  uint32_t free_bucket = UINT32_MAX;
  *found = false;
  while (!is_empty(flags, i)) {
    if (is_deleted(flags, i)) {
      if (free_bucket == UINT32_MAX) free_bucket = i;
    } else if (match(keys[i])) {
      *found = true;
      return i;
    }
    i = (i + ++step) & mask;
    if (i == start) break;
  }
  return free_bucket != UINT32_MAX ? free_bucket : i;
}

// Marks `bucket` used for `key`; the live (and, for a fresh bucket, the
// occupied) count rises.
void take_bucket(node_t table, uint32_t bucket, uint32_t key) {
  header* h = get_header(table);
  uint32_t* flags = flags_of(h);
  if (is_empty(flags, bucket)) h->occupied++;
  set_used(flags, bucket);
  keys_of(h)[bucket] = key;
  h->size++;
}

// Grows before an insertion when the occupied buckets reached the bound: to
// twice the buckets (the next power of two above them), or the same count
// when deleted buckets made it full. Doubling keeps every table, word tables
// of small contexts included, within twice what it holds.
void grow_if_full(node_t table) {
  header* h = get_header(table);
  if (h->occupied < h->upper) return;
  int64_t d = h->buckets > 2 * uint64_t(h->size) ? -1 : 1;
  uint64_t n = uint64_t(int64_t(h->buckets) + d);
  if (h->kind == KIND_MAP) n = uint64_t(h->buckets) + 1;
  resize(table, n);
}

// Indexes the cells [from, tail) of a kind-2 table's block, whose keys are
// unique: each goes to the first free bucket of its probe path.
void index_unique(node_t table, uint32_t from) {
  header* h = get_header(table);
  uint32_t tail = block_length(h->block);
  for (uint32_t pos = from; pos < tail; pos++) {
    grow_if_full(table);
    h = get_header(table);
    bool found;
    uint32_t bucket = probe(h, hash_value(block_cells(h->block) + pos, false),
                            [](uint32_t) { return false; }, &found);
    take_bucket(table, bucket, pos);
  }
}

// Allocates a series holding a copy of `source`'s data from its head.
node_t clone_series(node_t source) {
  if (!source) return 0;
  return memory::copy_series(memory::buffer(source));
}

}  // namespace

// --- Hash functions ------------------------------------------------------------

uint32_t murmur3_seeded(const void* data, size_t length, uint32_t seed) {
  auto* p = static_cast<const uint8_t*>(data);
  uint32_t h = seed;
  size_t blocks = length / 4;
  for (size_t i = 0; i < blocks; i++) {
    uint32_t k;
    std::memcpy(&k, p + i * 4, 4);
    h = mix_block(h, k);
  }
  const uint8_t* tail = p + blocks * 4;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
    case 1:
      k ^= tail[0];
      h = mix_tail(h, k);
  }
  return finish(h, length);
}

uint32_t murmur3_lower(const uint8_t* p, size_t length) {
  constexpr uint32_t UPPER_BITS = 0x80808080u;
  uint32_t h = hash_seed;
  size_t blocks = length / 4;
  for (size_t i = 0; i < blocks; i++) {
    uint32_t k;
    std::memcpy(&k, p + i * 4, 4);
    // Lower the four bytes at once: add 0x20 to each byte in 'A'..'Z'.
    uint32_t ge_a = ((k | UPPER_BITS) - 0x41414141u) & ~k & UPPER_BITS;
    uint32_t le_z = (0xDADADADAu - (k & 0x7F7F7F7Fu)) & ~k & UPPER_BITS;  // 0x5A + 0x80
    k |= (ge_a & le_z) >> 2;
    h = mix_block(h, k);
  }
  const uint8_t* tail = p + blocks * 4;
  uint32_t k = 0;
  switch (length & 3) {
    case 3: k ^= uint32_t(ascii_lower(tail[2])) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(ascii_lower(tail[1])) << 8; [[fallthrough]];
    case 1:
      k ^= ascii_lower(tail[0]);
      h = mix_tail(h, k);
  }
  return finish(h, length);
}

uint32_t hash_string(const Cell* value, bool case_sensitive) {
  series_buffer* b = GET_BUFFER(value);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(value->w1, total);
  uint32_t n = total - head;
  if (TYPE_OF(value) == TYPE_SEARCH_KEY && int32_t(value->w3) >= 0) n = std::min(n, value->w3);
  const uint8_t* p = b->head_ptr() + uint64_t(head) * unit;
  uint32_t h = hash_seed;
  if (unit == 1) {
    // Latin-1 text, the common case: no unit dispatch per character.
    for (uint32_t i = 0; i < n; i++) {
      uint32_t cp = p[i];
      if (!case_sensitive) cp = cp < 0x80 ? (cp - 'a' < 26 ? cp - 32 : cp) : case_folding::to_upper(cp);
      h = mix_block(h, cp);
    }
    return finish(h, uint64_t(n) * 4);
  }
  for (uint32_t i = 0; i < n; i++, p += unit) {
    uint32_t cp = unicode::get_char(p, unit);
    h = mix_block(h, case_sensitive ? cp : case_folding::to_upper(cp));
  }
  return finish(h, uint64_t(n) * 4);
}

uint32_t hash_value(const Cell* value, bool case_sensitive) {
  switch (TYPE_OF(value)) {
    case TYPE_UNSET: return uint32_t(-2);
    case TYPE_NONE: return uint32_t(-1);
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: return mix(value->w1);
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_MAP:
    case TYPE_HANDLE:
    case TYPE_EVENT: return mix(value->w2);
    case TYPE_NATIVE:
    case TYPE_ACTION: return mix(value->w3);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_POINT2D:
    case TYPE_IMAGE: return murmur3(&value->w1, 8);
    case TYPE_FLOAT:
    case TYPE_PAIR:
    case TYPE_PERCENT:
    case TYPE_TIME: return murmur3(&value->w2, 8);
    case TYPE_OP:
    case TYPE_FUNCTION:
    case TYPE_TRIPLE:
    case TYPE_TYPESET:
    case TYPE_DATE:
    case TYPE_POINT3D: return murmur3(&value->w1, 12);
    case TYPE_TUPLE: {
      uint32_t count = std::min((value->header >> TUPLE_SIZE_SHIFT) & 15, 12u);
      return murmur3(&value->w1, count);
    }
    case TYPE_BINARY: {
      series_buffer* b = GET_BUFFER(value);
      uint32_t head = std::min(value->w1, b->used());
      return murmur3(b->head_ptr() + head, b->used() - head);
    }
    case TYPE_MONEY: {
      Cell copy = *value;
      copy.header &= TYPE_MASK | MONEY_SIGN;
      return murmur3(&copy, sizeof copy);
    }
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case TYPE_SEARCH_KEY: return hash_string(value, case_sensitive);
    case TYPE_SYMBOL: {
      series_buffer* name = memory::buffer(value->w3);
      return murmur3_lower(name->head_ptr(), name->used());
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: return mix(uint32_t(symbol::resolve(int32_t(value->w2))));
    default: return 0;
  }
}

// --- Value tables: making, copying, clearing, resizing --------------------------

node_t init(uint32_t size, const Cell* block, uint32_t kind, uint32_t value_cells) {
  size = std::min(size, MAX_SIZE);
  if (kind == KIND_SYMBOLS && size >= 4000) size *= 2;
  uint32_t buckets = initial_buckets(size);
  node_t block_node = 0;
  uint32_t head = 0;
  if (block && kind <= KIND_SYMBOLS) {
    block_node = block->w2;
    head = block->w1;
  }
  // The parts are not reachable from each other until the header is filled.
  collector::hold hold;
  if (block_node) hold.add(block_node);
  node_t table = hold.add(memory::alloc_bytes_filled(sizeof(header), 0));
  node_t flags = hold.add(alloc_flags(buckets));
  node_t keys = hold.add(alloc_keys(buckets));
  if (!block_node) block_node = hold.add(memory::alloc_cells(size));
  node_t index = 0, chains = 0;
  if (kind == KIND_HASH) {
    index = hold.add(
        memory::alloc_bytes_filled(uint64_t(std::max(block_length(block_node), 1u)) * 4, 0xFF));
    chains = hold.add(array::make(0, 4));
  }
  header* h = get_header(table);
  memory::buffer(table)->tail = sizeof(header);
  h->flags = flags;
  h->keys = keys;
  h->block = block_node;
  h->buckets = buckets;
  h->upper = initial_upper(buckets);
  h->kind = kind;
  h->index = kind >= KIND_RECORDS ? 16 * (value_cells + 1) : index;
  h->chains = chains;
  if (kind == KIND_SYMBOLS) index_unique(table, head);
  return table;
}

node_t init_deferred(uint32_t size) {
  collector::hold hold;
  node_t table = hold.add(memory::alloc_bytes_filled(sizeof(header), 0));
  node_t block = hold.add(memory::alloc_cells(std::max(std::min(size, MAX_SIZE), 1u)));
  memory::buffer(table)->tail = sizeof(header);
  header* h = get_header(table);
  h->block = block;
  h->kind = KIND_SYMBOLS;
  return table;
}

node_t init_from(node_t prototype) {
  collector::hold hold;
  node_t block = hold.add(clone_series(get_header(prototype)->block));
  return copy(prototype, block);
}

node_t copy(node_t table, node_t new_block) {
  collector::hold hold;
  hold.add(new_block);
  node_t fresh = hold.add(clone_series(table));
  node_t flags = hold.add(clone_series(get_header(table)->flags));
  node_t keys = hold.add(clone_series(get_header(table)->keys));
  node_t index = 0, chains = 0;
  if (get_header(table)->kind == KIND_HASH) {
    index = hold.add(clone_series(get_header(table)->index));
    // Each copy gets chains of its own: a chain shared by two tables would
    // change under both when either changes.
    chains = hold.add(clone_series(get_header(table)->chains));
    uint32_t n = array::length(chains);
    for (uint32_t i = 1; i <= n; i++) {
      node_t chain = array::pick_ptr(chains, i);
      if (chain) array::poke_ptr(chains, i, hold.add(clone_series(chain)));
    }
  }
  header* h = get_header(fresh);
  h->flags = flags;
  h->keys = keys;
  h->block = new_block;
  if (h->kind == KIND_HASH) {
    h->index = index;
    h->chains = chains;
  }
  return fresh;
}

void clear(node_t table) {
  header* h = get_header(table);
  h->size = 0;
  h->occupied = 0;
  series_buffer* flags = memory::buffer(h->flags);
  memory::fill(flags->data(), flags->end_ptr(), FLAGS_ALL_EMPTY);
  series_buffer* block = memory::buffer(h->block);
  block->tail = block->head;
  if (h->kind == KIND_HASH) {
    series_buffer* index = memory::buffer(h->index);
    memory::fill(index->data(), index->end_ptr(), 0xFF);
    index->tail = index->head;
    array::clear(h->chains);
  }
}

void resize(node_t table, uint64_t n) {
  uint32_t buckets = resized_buckets(n);
  uint32_t upper = resized_upper(buckets);
  // Buckets in use: the live keys, and for a map! also its removed pairs,
  // whose keys stay indexed.
  uint32_t used = 0;
  {
    header* h = get_header(table);
    const uint32_t* f = flags_of(h);
    for (uint32_t j = 0; j < h->buckets; j++) used += in_use(f, j);
  }
  if (used >= upper) return;
  // The table itself is reachable through its owner; holding it would mark
  // its header alone, and marking would then skip its flags and keys.
  collector::hold hold;
  node_t flags = hold.add(alloc_flags(buckets));
  node_t keys = hold.add(alloc_keys(buckets));
  header* h = get_header(table);
  const uint32_t* old_flags = flags_of(h);
  const uint32_t* old_keys = keys_of(h);
  auto* new_flags = reinterpret_cast<uint32_t*>(memory::buffer(flags)->data());
  auto* new_keys = reinterpret_cast<uint32_t*>(memory::buffer(keys)->data());
  uint32_t mask = buckets - 1;
  auto reinsert = [&](uint32_t key, uint32_t hash) {
    uint32_t i = hash & mask, step = 0;
    while (!is_empty(new_flags, i)) i = (i + ++step) & mask;
    set_used(new_flags, i);
    new_keys[i] = key;
  };
  if (h->kind == KIND_MAP) {
    // Every key cell of a map's block is indexed (removed pairs too): a
    // walk in block order reads the keys in the order they were made.
    const Cell* cells = block_cells(h->block);
    uint32_t n = block_length(h->block) & ~1u;
    for (uint32_t pos = 0; pos < n; pos += 2) {
      uint32_t hash = hash_value(cells + pos, false);
      reinsert(with_tag(pos, hash), hash);
    }
  } else {
    for (uint32_t j = 0; j < h->buckets; j++)
      if (in_use(old_flags, j)) reinsert(old_keys[j], stored_hash(h, old_keys[j]));
  }
  h->flags = flags;
  h->keys = keys;
  h->buckets = buckets;
  h->upper = upper;
  h->occupied = used;
}

// --- Records ------------------------------------------------------------------

namespace {

uint32_t find_record(const header* h, uint32_t key, bool* found) {
  return probe(h, mix(key), [&](uint32_t offset) { return record_at(h, offset)->w1 == key; },
               found);
}

void reset_record(Cell* record, uint32_t cells, uint32_t key) {
  for (uint32_t i = 0; i < cells; i++) record[i].header = TYPE_UNSET;
  record->w1 = key;
}

}  // namespace

Cell* put_key(node_t table, uint32_t key) {
  grow_if_full(table);
  header* h = get_header(table);
  uint32_t record_bytes = h->index, cells = record_bytes / sizeof(Cell);
  bool found;
  uint32_t bucket = find_record(h, key, &found);
  uint32_t offset;
  if (found || is_deleted(flags_of(h), bucket)) {
    // A deleted bucket still names its old record: it is reused in place.
    offset = keys_of(h)[bucket];
  } else {
    node_t block = h->block;
    series_buffer* b = memory::ensure_room(block, record_bytes);
    offset = b->used();
    b->tail += record_bytes;
  }
  if (!found) take_bucket(table, bucket, offset);
  h = get_header(table);
  Cell* record = record_at(h, offset);
  reset_record(record, cells, key);
  return record + 1;
}

Cell* get_key(node_t table, uint32_t key) {
  header* h = get_header(table);
  bool found;
  uint32_t bucket = find_record(h, key, &found);
  return found ? record_at(h, keys_of(h)[bucket]) + 1 : nullptr;
}

Cell* remove_key(node_t table, uint32_t key) {
  header* h = get_header(table);
  bool found;
  uint32_t bucket = find_record(h, key, &found);
  if (!found) return nullptr;
  set_deleted(flags_of(h), bucket);
  h->size--;
  Cell* record = record_at(h, keys_of(h)[bucket]);
  record->header = 0;
  return record + 1;
}

// --- The symbol text index -------------------------------------------------------

namespace {

struct text_probe {
  uint32_t bucket;    // matching bucket, or where a new symbol goes
  int32_t exact;      // id of the symbol with the same bytes, or 0
  int32_t any_case;   // canonical id of a symbol equal up to case, or 0
};

// Walks the probe chain of the text; the exact pass runs only in exact mode.
text_probe probe_text(const header* h, const uint8_t* text, uint32_t length, uint32_t hash,
                      int mode) {
  const Cell* symbols = block_cells(h->block);
  auto name_of = [&](uint32_t position, uint32_t* n) {
    series_buffer* name = memory::buffer(symbols[position].w3);
    *n = name->used();
    return name->head_ptr();
  };
  text_probe r{0, 0, 0};
  bool found;
  // The canonical symbol of a position, read from this table's own block.
  auto canonical_at = [&](uint32_t position) {
    int32_t alias = int32_t(symbols[position].w1);
    return alias > 0 ? alias : int32_t(position) + 1;
  };
  if (mode == FIND_EXACT) {
    // One walk of the chain: the same bytes end it; the first name equal up
    // to case is noted on the way (the one a walk of its own would find).
    r.bucket = probe(h, hash, [&](uint32_t position) {
      uint32_t n;
      const uint8_t* name = name_of(position, &n);
      if (n != length) return false;
      if (std::memcmp(name, text, length) == 0) return true;
      if (!r.any_case && same_text_any_case(name, text, length)) r.any_case = canonical_at(position);
      return false;
    }, &found);
    if (found) {
      r.exact = int32_t(keys_of(h)[r.bucket]) + 1;
      r.any_case = 0;
    }
    return r;
  }
  r.bucket = probe(h, hash, [&](uint32_t position) {
    uint32_t n;
    const uint8_t* name = name_of(position, &n);
    return n == length && same_text_any_case(name, text, length);
  }, &found);
  if (found) r.any_case = canonical_at(keys_of(h)[r.bucket]);
  return r;
}

}  // namespace

int32_t lookup_text(node_t table, const uint8_t* text, uint32_t length, int mode) {
  text_probe r = probe_text(get_header(table), text, length, murmur3_lower(text, length), mode);
  return r.exact ? r.exact : r.any_case;
}

int32_t find_text(node_t table, const uint8_t* text, uint32_t length, int mode_and_flags) {
  return find_text_hashed(table, text, length, murmur3_lower(text, length), mode_and_flags);
}

int32_t find_text_hashed(node_t table, const uint8_t* text, uint32_t length, uint32_t hash,
                         int mode_and_flags) {
  int mode = mode_and_flags & ~FIND_STABLE;
  text_probe r = probe_text(get_header(table), text, length, hash, mode);
  if (r.exact) return r.exact;
  if (mode != FIND_EXACT && r.any_case) return r.any_case;

  // A new symbol. The text may lie in a buffer that the allocations below
  // move (a lexer's source, a conversion cache): keep a copy of it.
  static std::string name_copy;
  if (!(mode_and_flags & FIND_STABLE)) {
    name_copy.assign(reinterpret_cast<const char*>(text), length);
    text = reinterpret_cast<const uint8_t*>(name_copy.data());
  }
  if (get_header(table)->occupied >= get_header(table)->upper) {
    grow_if_full(table);
    r = probe_text(get_header(table), text, length, hash, mode);
  }

  // Its cell first (typed unset! until complete), then its name.
  node_t block = get_header(table)->block;
  uint32_t position = block_length(block);
  alloc_tail_cell(block);
  node_t name = memory::alloc_bytes(uint64_t(length) + 1);
  series_buffer* b = memory::buffer(name);
  std::memcpy(b->data(), text, length);
  b->data()[length] = 0;
  b->tail = length;
  Cell* cell = block_cells(block) + position;
  cell->w1 = r.any_case ? uint32_t(r.any_case) : uint32_t(-1);
  cell->w2 = 0;
  cell->w3 = name;
  cell->header = TYPE_SYMBOL;
  take_bucket(table, r.bucket, position);
  return int32_t(position) + 1;
}

void intern_stable(node_t table, const stable_name* names, uint32_t count, uint32_t* ids) {
  // The symbol block gets room for every name at once, so that each new
  // symbol's cell is taken from it without a check.
  memory::ensure_room(get_header(table)->block, uint64_t(count) * sizeof(Cell));
  for (uint32_t i = 0; i < count; i++) {
    const stable_name& n = names[i];
    text_probe r = probe_text(get_header(table), n.text, n.length, n.hash, FIND_EXACT);
    if (r.exact) {
      ids[i] = uint32_t(r.exact);
      continue;
    }
    if (get_header(table)->occupied >= get_header(table)->upper) {
      grow_if_full(table);
      r = probe_text(get_header(table), n.text, n.length, n.hash, FIND_EXACT);
    }
    // Its name first: the cell is taken once nothing more is allocated.
    node_t name = memory::alloc_bytes(uint64_t(n.length) + 1);
    series_buffer* b = memory::buffer(name);
    std::memcpy(b->data(), n.text, n.length);
    b->data()[n.length] = 0;
    b->tail = n.length;
    series_buffer* block = memory::buffer(get_header(table)->block);
    uint32_t position = block->used() / sizeof(Cell);
    auto* cell = reinterpret_cast<Cell*>(block->tail_ptr());
    block->tail += sizeof(Cell);
    *cell = Cell{TYPE_SYMBOL, r.any_case ? uint32_t(r.any_case) : uint32_t(-1), 0, name};
    take_bucket(table, r.bucket, position);
    ids[i] = position + 1;
  }
}

// --- Context word tables ----------------------------------------------------------

namespace {

// Puts freshly made (empty) flags and keys of `buckets` buckets into the
// table, which then holds no key.
header* take_empty_buckets(node_t table, node_t flags, node_t keys, uint32_t buckets) {
  header* h = get_header(table);
  h->flags = flags;
  h->keys = keys;
  h->buckets = buckets;
  h->upper = initial_upper(buckets);
  h->size = 0;
  h->occupied = 0;
  return h;
}

// Gives a deferred word table (no buckets yet) flags and keys for the words
// its block holds and `more` to come, and indexes the words it holds.
void index_deferred(node_t table, uint32_t more) {
  uint64_t words = uint64_t(block_length(get_header(table)->block)) + more;
  uint32_t buckets = initial_buckets(uint32_t(std::min<uint64_t>(words, MAX_SIZE)));
  collector::hold hold;
  node_t flags = hold.add(alloc_flags(buckets));
  node_t keys = hold.add(alloc_keys(buckets));
  take_empty_buckets(table, flags, keys, buckets);
  index_unique(table, 0);
}

}  // namespace

void reserve(node_t table, uint32_t more) {
  const header* h = get_header(table);
  if (h->buckets == 0) return index_deferred(table, more);
  uint64_t wanted = std::min<uint64_t>(uint64_t(h->occupied) + more, MAX_SIZE);
  if (wanted <= h->upper) return;
  resize(table, uint64_t(double(wanted) / LOAD_FACTOR));
}

int32_t find_symbol(node_t table, int32_t symbol, bool resolve, node_t context, int32_t* index) {
  if (get_header(table)->buckets == 0) index_deferred(table, 0);
  if (context && get_header(table)->occupied >= get_header(table)->upper) grow_if_full(table);
  header* h = get_header(table);
  uint32_t canonical = symbol::resolve(uint32_t(symbol));
  const Cell* words = block_cells(h->block);
  bool found;
  uint32_t bucket = probe(h, mix(canonical), [&](uint32_t position) {
    uint32_t id = words[position].w2;
    return resolve ? symbol::resolve(id) == canonical : id == uint32_t(symbol);
  }, &found);
  if (found) return int32_t(keys_of(h)[bucket]);
  if (!context) return -1;
  node_t block = h->block;
  uint32_t position = block_length(block);
  Cell* word = alloc_tail_cell(block);
  word->w1 = context;
  word->w2 = uint32_t(symbol);
  word->w3 = position;
  word->header = TYPE_WORD;
  take_bucket(table, bucket, position);
  if (index) *index = int32_t(position);
  return -1;
}

// --- hash! tables (kind 0) ---------------------------------------------------------

namespace {

constexpr uint32_t NO_BUCKET = 0xFFFFFFFF;

inline uint32_t* index_of(const header* h) {
  return reinterpret_cast<uint32_t*>(memory::buffer(h->index)->head_ptr());
}
inline uint32_t index_length(const header* h) { return memory::buffer(h->index)->used() / 4; }

// Word kinds share buckets: find matches a word of any kind.
inline uint32_t key_class(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE ? TYPE_WORD : t; }

inline bool is_chain(uint32_t key) { return int32_t(key) < 0; }
inline uint32_t chain_id(uint32_t key) { return uint32_t(-int32_t(key)); }
inline node_t chain_node(const header* h, uint32_t id) { return array::pick_ptr(h->chains, id); }
inline uint32_t* chain_positions(node_t chain) {
  return reinterpret_cast<uint32_t*>(memory::buffer(chain)->head_ptr());
}
inline uint32_t chain_length(node_t chain) { return memory::buffer(chain)->used() / 4; }

// The first position a bucket's key names.
uint32_t representative(const header* h, uint32_t key) {
  return is_chain(key) ? chain_positions(chain_node(h, chain_id(key)))[0] : key;
}

// Makes the position index cover `position` (new entries -1).
void cover_position(node_t table, uint32_t position) {
  header* h = get_header(table);
  series_buffer* b = memory::buffer(h->index);
  uint64_t need = (uint64_t(position) + 1) * 4;
  if (b->head + need > b->size) {
    uint64_t size = std::max<uint64_t>(uint64_t(b->size) * 2, b->head + need);
    b = memory::expand_series_filled(b, size, 0xFF);
  }
  if (b->used() < need) {
    memory::fill(b->tail_ptr(), b->head_ptr() + need, 0xFF);
    b->tail = b->head + uint32_t(need);
  }
}

// Inserts `position` into a chain, keeping it ascending.
void chain_insert(node_t chain, uint32_t position) {
  uint32_t* p = chain_positions(chain);
  uint32_t n = chain_length(chain);
  uint32_t at = uint32_t(std::lower_bound(p, p + n, position) - p);
  array::insert_int(chain, int32_t(position), at);
}

// Lists a new chain (held by the caller) and answers its id.
uint32_t add_chain(node_t table, node_t chain) {
  node_t chains = get_header(table)->chains;
  array::append_ptr(chains, chain);
  return array::length(chains);
}

void release_chain(const header* h, uint32_t id) {
  array::poke_ptr(h->chains, id, 0);
  // Trailing free slots are cut, so the list does not grow with churn.
  uint32_t n = array::length(h->chains);
  while (n > 0 && array::pick_ptr(h->chains, n) == 0) n--;
  series_buffer* b = memory::buffer(h->chains);
  b->tail = b->head + n * 4;
}

// Places `position` in the table, which has room for it.
void place(node_t table, uint32_t position) {
  cover_position(table, position);
  header* h = get_header(table);
  Cell value = block_cells(h->block)[position];
  uint32_t cls = key_class(TYPE_OF(&value));
  bool found;
  uint32_t bucket = probe(h, hash_value(&value, false), [&](uint32_t key) {
    Cell stored = block_cells(h->block)[representative(h, key)];
    return key_class(TYPE_OF(&stored)) == cls &&
           actions::compare_values(&stored, &value, COMP_EQUAL) == 0;
  }, &found);
  if (!found) {
    take_bucket(table, bucket, position);
    index_of(get_header(table))[position] = bucket;
    return;
  }
  uint32_t key = keys_of(h)[bucket];
  if (is_chain(key)) {
    chain_insert(chain_node(h, chain_id(key)), position);
  } else {
    // A second equal cell: the bucket becomes a chain of both.
    collector::hold hold;
    node_t chain = hold.add(array::make(2, 4));
    array::append_int(chain, int32_t(std::min(key, position)));
    array::append_int(chain, int32_t(std::max(key, position)));
    uint32_t id = add_chain(table, chain);
    keys_of(get_header(table))[bucket] = uint32_t(-int32_t(id));
  }
  h = get_header(table);
  h->size++;
  index_of(h)[position] = bucket;
}

// Removes `position` from its bucket.
void unplace(node_t table, uint32_t position) {
  header* h = get_header(table);
  if (position >= index_length(h)) return;
  uint32_t bucket = index_of(h)[position];
  if (bucket == NO_BUCKET) return;
  index_of(h)[position] = NO_BUCKET;
  h->size--;
  uint32_t key = keys_of(h)[bucket];
  if (!is_chain(key)) {
    set_deleted(flags_of(h), bucket);
    return;
  }
  node_t chain = chain_node(h, chain_id(key));
  uint32_t* p = chain_positions(chain);
  uint32_t n = chain_length(chain);
  uint32_t at = uint32_t(std::lower_bound(p, p + n, position) - p);
  if (at < n && p[at] == position) array::remove_at(chain, at * 4, 4);
  if (chain_length(chain) == 1) {
    // One position left: the bucket holds it plainly again.
    keys_of(h)[bucket] = chain_positions(chain)[0];
    release_chain(h, chain_id(key));
  }
}

}  // namespace

void rebuild(node_t table) {
  header* h = get_header(table);
  uint32_t count = block_length(h->block);
  uint32_t buckets = uint32_t(std::max<uint64_t>(power_of_two(uint64_t(count * 1.5)), 4));
  collector::hold hold;
  node_t flags = hold.add(alloc_flags(buckets));
  node_t keys = hold.add(alloc_keys(buckets));
  node_t index = hold.add(memory::alloc_bytes_filled(uint64_t(std::max(count, 1u)) * 4, 0xFF));
  h = take_empty_buckets(table, flags, keys, buckets);
  h->index = index;
  array::clear(h->chains);
  for (uint32_t pos = 0; pos < count; pos++) place(table, pos);
}

uint32_t covered(node_t table) { return index_length(get_header(table)); }

int32_t put_star(node_t table, uint32_t position) {
  header* h = get_header(table);
  if (h->occupied >= h->upper) {
    rebuild(table);
    return REBUILT;
  }
  place(table, position);
  return 0;
}

void index_block(node_t table, uint32_t from, uint32_t count) {
  for (uint32_t i = 0; i < count; i++)
    if (put_star(table, from + i) == REBUILT) return;
}

void remove_range(node_t table, uint32_t from, uint32_t count) {
  header* h = get_header(table);
  uint32_t covered = index_length(h);
  if (from == 0 && count >= covered) {
    // The whole block: every entry goes at once.
    h->size = 0;
    h->occupied = 0;
    series_buffer* f = memory::buffer(h->flags);
    memory::fill(f->data(), f->end_ptr(), FLAGS_ALL_EMPTY);
    series_buffer* x = memory::buffer(h->index);
    memory::fill(x->head_ptr(), x->tail_ptr(), 0xFF);
    array::clear(h->chains);
    return;
  }
  uint32_t end = uint32_t(std::min<uint64_t>(uint64_t(from) + count, covered));
  for (uint32_t pos = from; pos < end; pos++) unplace(table, pos);
}

void refresh_range(node_t table, int32_t shift, uint32_t from, uint32_t count) {
  if (shift == 0) return;
  header* h = get_header(table);
  uint32_t covered = index_length(h);
  uint32_t end = uint32_t(std::min<uint64_t>(uint64_t(from) + count, covered));
  // The moved entries first: a chain is adjusted once, at its first
  // position in the range, for all its positions in the range.
  std::vector<bool> done(array::length(h->chains) + 1, false);
  for (uint32_t pos = from; pos < end; pos++) {
    uint32_t bucket = index_of(h)[pos];
    if (bucket == NO_BUCKET) continue;
    uint32_t* keys = keys_of(h);
    uint32_t key = keys[bucket];
    if (!is_chain(key)) {
      keys[bucket] = uint32_t(int64_t(key) + shift);
      continue;
    }
    uint32_t id = chain_id(key);
    if (done[id]) continue;
    done[id] = true;
    node_t chain = chain_node(h, id);
    uint32_t* p = chain_positions(chain);
    uint32_t n = chain_length(chain);
    for (uint32_t i = 0; i < n; i++)
      if (p[i] >= from && p[i] < end) p[i] = uint32_t(int64_t(p[i]) + shift);
  }
  // Then the position index follows the cells.
  if (shift > 0) {
    if (from >= covered) return;
    uint32_t gap = uint32_t(shift);
    series_buffer* b = memory::ensure_room(h->index, uint64_t(gap) * 4);
    uint8_t* at = b->head_ptr() + uint64_t(from) * 4;
    std::memmove(at + uint64_t(gap) * 4, at, size_t(b->tail_ptr() - at));
    memory::fill(at, at + uint64_t(gap) * 4, 0xFF);
    b->tail += gap * 4;
  } else {
    uint32_t gap = uint32_t(-shift);
    uint32_t start = from >= gap ? from - gap : 0;
    if (start >= covered) return;
    uint32_t stop = std::min(from, covered);
    array::remove_at(h->index, start * 4, (stop - start) * 4);
  }
}

int32_t get(node_t table, const Cell* key_in, uint32_t start, uint32_t skip, int32_t op, bool last,
            bool reverse) {
  header* h = get_header(table);
  if (h->size == 0) return -1;
  Cell key = *key_in;
  uint32_t cls = key_class(TYPE_OF(&key));
  if (skip == 0) skip = 1;
  auto on_grid = [&](uint32_t pos) {
    int64_t d = int64_t(pos) - int64_t(start);
    return skip == 1 || d % int64_t(skip) == 0;
  };
  // A plain word key compares with plain words by canonical symbol alone,
  // as the compare action would for equality and find; every other cell,
  // and the case-sensitive comparison, go through the action.
  bool word_key = TYPE_OF(&key) == TYPE_WORD;
  uint32_t canon = word_key ? symbol::resolve(key.w2) : 0;
  auto matches = [&](uint32_t pos) {
    Cell c = block_cells(h->block)[pos];
    if (word_key && op == COMP_FIND) {
      int m = symbol::word_key_match(&c, canon);
      if (m >= 0) return m == 1;
    }
    return actions::compare(&c, &key, op);
  };
  auto same_key = [&](const Cell* rep) {
    if (word_key) {
      int m = symbol::word_key_match(rep, canon);
      if (m >= 0) return m == 1;
    }
    return key_class(TYPE_OF(rep)) == cls && actions::compare_values(rep, &key, COMP_EQUAL) == 0;
  };
  int64_t best = -1;
  auto consider = [&](uint32_t pos) {
    if (last) {
      if (int64_t(pos) > best) best = pos;
    } else if (reverse) {
      if (pos < start && int64_t(pos) > best) best = pos;
    } else if (pos >= start && (best < 0 || pos < best)) {
      best = pos;
    }
  };
  uint32_t mask = h->buckets - 1, i = hash_value(&key, false) & mask, first = i, step = 0;
  for (;;) {
    const uint32_t* flags = flags_of(h);
    if (is_empty(flags, i)) break;
    if (in_use(flags, i)) {
      uint32_t k = keys_of(h)[i];
      Cell rep = block_cells(h->block)[representative(h, k)];
      if (same_key(&rep)) {
        if (!is_chain(k)) {
          if (on_grid(k) && matches(k)) consider(k);
        } else {
          node_t chain = chain_node(h, chain_id(k));
          uint32_t n = chain_length(chain);
          if (last || reverse) {
            // Downward from the greatest candidate.
            uint32_t top = n;
            if (reverse) {
              const uint32_t* p = chain_positions(chain);
              top = uint32_t(std::lower_bound(p, p + n, start) - p);
            }
            for (uint32_t j = top; j-- > 0;) {
              uint32_t pos = chain_positions(chain)[j];
              if (int64_t(pos) <= best) break;
              if (on_grid(pos) && matches(pos)) {
                consider(pos);
                break;
              }
            }
          } else {
            const uint32_t* p = chain_positions(chain);
            uint32_t j = uint32_t(std::lower_bound(p, p + n, start) - p);
            for (; j < n; j++) {
              uint32_t pos = chain_positions(chain)[j];
              if (best >= 0 && int64_t(pos) >= best) break;
              if (on_grid(pos) && matches(pos)) {
                consider(pos);
                break;
              }
            }
          }
        }
      }
    }
    i = (i + ++step) & mask;
    if (i == first) break;
  }
  return int32_t(best);
}

// --- map! tables (kind 1) ----------------------------------------------------------

namespace {
inline uint32_t stored_type(uint32_t t) {
  return t >= TYPE_WORD && t <= TYPE_GET_WORD ? TYPE_SET_WORD : t;
}
}  // namespace

int32_t get_next(node_t table, const Cell* key_in, int32_t op, cursor& c) {
  if (c.done) return -1;
  Cell key = *key_in;
  set_type(&key, stored_type(TYPE_OF(&key)));
  header* h = get_header(table);
  uint32_t mask = h->buckets - 1, i;
  if (c.bucket < 0) {
    c.hash = hash_value(&key, false);
    c.hashed = true;
    i = c.hash & mask;
    c.start = i;
    c.step = 0;
  } else {
    i = (uint32_t(c.bucket) + ++c.step) & mask;
    if (i == c.start) {
      c.done = true;
      return -1;
    }
  }
  uint32_t type = TYPE_OF(&key), tag = c.hash & ~POSITION_MASK;
  for (;;) {
    const uint32_t* flags = flags_of(h);
    if (is_empty(flags, i)) break;
    uint32_t k = keys_of(h)[i];
    if (in_use(flags, i) && (k & ~POSITION_MASK) == tag) {
      uint32_t position = k & POSITION_MASK;
      Cell stored = block_cells(h->block)[position];
      if (TYPE_OF(&stored) == type && actions::compare_values(&stored, &key, op) == 0) {
        c.bucket = int32_t(i);
        return int32_t(position);
      }
    }
    i = (i + ++c.step) & mask;
    if (i == c.start) break;
  }
  c.done = true;
  return -1;
}

void put_key_at(node_t table, uint32_t position, const cursor* lookup) {
  grow_if_full(table);
  header* h = get_header(table);
  uint32_t hash = lookup && lookup->hashed ? lookup->hash
                                            : hash_value(block_cells(h->block) + position, false);
  bool found;
  uint32_t bucket = probe(h, hash, [](uint32_t) { return false; }, &found);
  take_bucket(table, bucket, with_tag(position, hash));
}

void delete_pair(node_t table, uint32_t position) {
  header* h = get_header(table);
  Cell* value = block_cells(h->block) + position + 1;
  if (value->header == 0) return;
  value->header = 0;
  h->size--;
}

// --- Collector support ---------------------------------------------------------

void mark(node_t table, const marker& m) {
  if (!table || !m.series(table)) return;
  header* h = get_header(table);
  m.series(h->flags);
  m.series(h->keys);
  if (h->kind == KIND_HASH) {
    m.series(h->index);
    if (m.series(h->chains)) {
      uint32_t n = array::length(h->chains);
      for (uint32_t i = 1; i <= n; i++) {
        node_t chain = array::pick_ptr(h->chains, i);
        if (chain) m.series(chain);
      }
    }
  }
  if (h->kind < KIND_RECORDS) {
    m.block(h->block);
    return;
  }
  // Records: the record block with its values, and each live record's key.
  m.block(h->block);
  h = get_header(table);
  for (uint32_t j = 0; j < h->buckets; j++) {
    if (!in_use(flags_of(h), j)) continue;
    node_t key = record_at(h, keys_of(h)[j])->w1;
    if (!key) continue;
    if (memory::buffer(key)->unit() == sizeof(Cell)) {
      m.block(key);
    } else {
      m.series(key);
    }
    h = get_header(table);
  }
}

void sweep(node_t table, bool (*is_marked)(node_t node)) {
  header* h = get_header(table);
  if (h->kind < KIND_RECORDS) return;
  uint32_t* flags = flags_of(h);
  for (uint32_t j = 0; j < h->buckets; j++) {
    if (!in_use(flags, j)) continue;
    Cell* record = record_at(h, keys_of(h)[j]);
    bool dead = record->w1 && !is_marked(record->w1);
    // An owner record holds the owned value, then the owner object (whose
    // word 1 is its context node), then the field's word.
    if (h->kind == KIND_OWNER && record[2].w1 && !is_marked(record[2].w1)) dead = true;
    if (!dead) continue;
    set_deleted(flags, j);
    h->size--;
    record->header = 0;
  }
}

}  // namespace hashtable

// --- Integer tables ------------------------------------------------------------------

namespace inthash {

namespace {

using hashtable::in_use;
using hashtable::is_deleted;
using hashtable::is_empty;
using hashtable::mix;

uint32_t* new_flags(uint32_t buckets) {
  auto* f = static_cast<uint32_t*>(heap::allocate(hashtable::flag_bytes(buckets)));
  std::memset(f, hashtable::FLAGS_ALL_EMPTY, hashtable::flag_bytes(buckets));
  return f;
}

// The key's bucket, or -1; `insert_at` (when given) receives where the key
// would go.
int32_t locate(const table* t, uint32_t key, uint32_t* insert_at) {
  uint32_t mask = t->buckets - 1, i = mix(key) & mask, start = i, step = 0;
  uint32_t free_bucket = UINT32_MAX;
  while (!is_empty(t->flags, i)) {
    if (is_deleted(t->flags, i)) {
      if (free_bucket == UINT32_MAX) free_bucket = i;
    } else if (t->pairs[2 * i] == key) {
      return int32_t(i);
    }
    i = (i + ++step) & mask;
    if (i == start) break;
  }
  if (insert_at) *insert_at = free_bucket != UINT32_MAX ? free_bucket : i;
  return -1;
}

}  // namespace

table* init(uint32_t size) {
  size = std::min(size, 0x20000000u);
  auto* t = static_cast<table*>(heap::allocate_zeroed(sizeof(table)));
  t->buckets = hashtable::initial_buckets(size);
  t->upper = hashtable::initial_upper(t->buckets);
  t->flags = new_flags(t->buckets);
  t->pairs = static_cast<uint32_t*>(heap::allocate_zeroed(uint64_t(t->buckets) * 8));
  return t;
}

void put(table* t, uint32_t key, uint32_t value) {
  if (t->occupied >= t->upper)
    resize(t, t->buckets > 2 * uint64_t(t->size) ? t->buckets - 1 : uint64_t(t->buckets) + 1);
  uint32_t at = 0;
  int32_t found = locate(t, key, &at);
  if (found < 0) {
    if (is_empty(t->flags, at)) t->occupied++;
    hashtable::set_used(t->flags, at);
    t->size++;
    t->pairs[2 * at] = key;
  } else {
    at = uint32_t(found);
  }
  t->pairs[2 * at + 1] = value;
}

uint32_t* get(table* t, uint32_t key) {
  int32_t i = locate(t, key, nullptr);
  return i < 0 ? nullptr : &t->pairs[2 * i + 1];
}

int32_t find(table* t, uint32_t key) { return locate(t, key, nullptr); }

void remove(table* t, uint32_t key) {
  int32_t i = locate(t, key, nullptr);
  if (i < 0) return;
  hashtable::set_deleted(t->flags, uint32_t(i));
  t->size--;
}

int32_t next(const table* t, int32_t after) {
  for (uint32_t i = uint32_t(after + 1); i < t->buckets; i++)
    if (in_use(t->flags, i)) return int32_t(i);
  return -1;
}

int32_t resize(table* t, uint64_t n) {
  uint32_t buckets = hashtable::resized_buckets(n);
  uint32_t upper = hashtable::resized_upper(buckets);
  if (t->size >= upper) return 0;
  uint32_t* flags = new_flags(buckets);
  if (buckets > t->buckets) t->pairs = static_cast<uint32_t*>(heap::resize(t->pairs, uint64_t(buckets) * 8));
  // Re-insert each live key in place: a key that lands on a bucket still
  // holding an old live key takes its place and carries that key on.
  uint32_t mask = buckets - 1;
  for (uint32_t j = 0; j < t->buckets; j++) {
    if (!in_use(t->flags, j)) continue;
    uint32_t key = t->pairs[2 * j], value = t->pairs[2 * j + 1];
    hashtable::set_deleted(t->flags, j);
    for (;;) {
      uint32_t i = mix(key) & mask, step = 0;
      while (!is_empty(flags, i)) i = (i + ++step) & mask;
      hashtable::set_used(flags, i);
      if (i < t->buckets && in_use(t->flags, i)) {
        std::swap(key, t->pairs[2 * i]);
        std::swap(value, t->pairs[2 * i + 1]);
        hashtable::set_deleted(t->flags, i);
      } else {
        t->pairs[2 * i] = key;
        t->pairs[2 * i + 1] = value;
        break;
      }
    }
  }
  if (buckets < t->buckets) t->pairs = static_cast<uint32_t*>(heap::resize(t->pairs, uint64_t(buckets) * 8));
  heap::free(t->flags);
  t->flags = flags;
  t->buckets = buckets;
  t->upper = upper;
  t->occupied = t->size;
  return 0;
}

void clear(table* t) {
  std::memset(t->flags, hashtable::FLAGS_ALL_EMPTY, hashtable::flag_bytes(t->buckets));
  t->size = 0;
  t->occupied = 0;
}

void destroy(table* t) {
  if (!t) return;
  heap::free(t->flags);
  heap::free(t->pairs);
  heap::free(t);
}

}  // namespace inthash
}  // namespace kez
