// The KEZBIN reader: an image back into values, appended to a target block.
//
// Invariants:
//  - The image is copied into a C++ buffer first: its bytes never move while
//    values are allocated. Every read checks the end before it looks, and
//    every count, length and size is checked against the bytes left before
//    anything is allocated for it, so a crafted image cannot read out of
//    bounds or make the heap grow past a small multiple of its own size.
//  - A record's cell is appended to its container before its contents are
//    read, and contexts are linked to their owners as soon as they exist, so
//    a path met while a container is still being read (a block holding
//    itself, a function body naming its own function) finds it. Cells are
//    addressed by (node, index) and re-read after every allocation.
//  - A reference yields a value of the record's own kind over a buffer or
//    context of the same kind, or the record is refused: a block never
//    lands on bytes, a vector never on a string, an object never on a word.
//  - The codec trusts nothing that only a well-behaved writer guarantees:
//    natives are the registered ones, ops wrap functions, word indexes lie
//    inside their contexts, a function's context holds its spec's words, a
//    vector's element type is one vector! has, a series index is one a
//    series of its kind could have.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <span>
#include <cmath>
#include <cstring>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/hashtable.h"
#include "foundation/lz.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "foundation/unicode.h"
#include "services/kezbin.h"
#include "services/kezbin_format.h"
#include "types/date.h"
#include "types/hash.h"
#include "types/image.h"
#include "types/image_backend.h"
#include "types/map.h"
#include "types/money.h"
#include "types/tuple.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/native.h"
#include "values/object.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"

namespace kez::kezbin {

uint32_t literal_base = 0;

namespace {

bool is_word_kind(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
bool is_cells_kind(uint32_t t) { return block::is_block_type(t); }
bool holds_spec(uint32_t t) {
  return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
         t == TYPE_ROUTINE;
}
bool has_no_record(uint32_t t) {
  return t == TYPE_ROUTINE || t == TYPE_TRIPLE || t == TYPE_HANDLE || t == TYPE_PORT ||
         t == TYPE_EVENT;
}

// Where a decoded value lives: a cell of a block, found again through its
// node after every allocation.
struct slot {
  node_t node;
  uint32_t index;
  Cell* get() const { return cell_head(memory::buffer(node)) + index; }
};

uint32_t cell_count(node_t node) { return memory::buffer(node)->used() / sizeof(Cell); }

slot append(node_t node, const Cell& value) {
  Cell* c = alloc_tail_cell(node);
  *c = value;
  return {node, uint32_t(c - cell_head(memory::buffer(node)))};
}

// The record's leading part: prefixes and leading byte (compact) or header
// word (normal).
struct lead {
  uint32_t type = 0;
  bool flag = false;       // compact bit 6
  uint32_t bits = 0;       // normal header word
  bool new_line = false;
  bool reference = false;
  bool set_word = false;
  int special = 0;         // compact: 1 small integer, 2 logic, 3 standalone reference
  uint32_t small = 0;
};

class reader {
 public:
  // `skip`: the bytes before the counts (the header, unless the counts
  // start a decompressed buffer). Error offsets count from `start`.
  reader(const uint8_t* start, size_t length, size_t skip, bool codec)
      : start_(start), p_(start + skip), end_(start + length), codec_(codec) {}
  // Reads the counts and the symbol table, and leaves the reader at the
  // payload, whose end becomes the reader's end.
  void open(bool compact, bool symbols);
  size_t left() const { return size_t(end_ - p_); }
  void read_payload(Cell* into);
  const uint8_t* position() const { return p_; }
  // Boot mode: the murmur3_lower hash of each name of the symbol table,
  // computed when the pool was built, spares hashing them again.
  void use_hashes(std::span<const uint32_t> hashes) { hashes_ = hashes; }
  // The hashes of the symbol table's names (after open).
  std::vector<uint32_t> name_hashes() const {
    std::vector<uint32_t> hashes;
    for (uint32_t i = 0; i < sym_count_; i++) {
      const char* name = reinterpret_cast<const char*>(strings_ + load_u32(offsets_ + 4 * size_t(i)));
      hashes.push_back(hashtable::murmur3_lower(reinterpret_cast<const uint8_t*>(name), std::strlen(name)));
    }
    return hashes;
  }

 private:
  const uint8_t* start_;
  const uint8_t* p_;
  const uint8_t* end_;
  bool codec_;
  bool compact_ = false;
  // Symbol table.
  uint32_t sym_count_ = 0;
  const uint8_t* offsets_ = nullptr;
  const uint8_t* strings_ = nullptr;
  uint32_t strings_size_ = 0;
  std::vector<uint32_t> sym_ids_;
  std::span<const uint32_t> hashes_;
  std::vector<Cell> globals_;  // the global word of each table entry, once made
  // Boot pools: the blocks read_cells is inside, each with its records left.
  struct open_block {
    node_t node;
    uint32_t left;
  };
  std::vector<open_block> open_blocks_;
  // The path of the reference being resolved: one buffer for all of them,
  // as a reference is resolved before the next is read.
  std::vector<uint32_t> path_;
  // Target.
  node_t root_ = 0;
  uint32_t base_ = 0;
  // Objects with an on-deep-change* handler, in the order they were read.
  node_t deep_owners_ = 0;

  [[noreturn]] void invalid() const {
    Cell at = make_integer(int32_t(p_ - start_ + 1));
    fire(err::SCRIPT, err::script::KB_INVALID_RECORD, &at);
  }
  void check(bool ok) const {
    if (!ok) invalid();
  }
  void need(uint64_t n) const { check(n <= left()); }
  // The fewest bytes a record takes.
  uint64_t min_record() const { return compact_ ? 1 : 4; }
  void need_records(uint64_t n) const { check(n <= left() / min_record()); }

  uint8_t u8() {
    need(1);
    return *p_++;
  }
  uint32_t u32() {
    need(4);
    uint32_t v = load_u32(p_);
    p_ += 4;
    return v;
  }
  // A varint of one or two bytes (nearly all of them) at once; longer ones
  // byte by byte.
  [[gnu::always_inline]] uint32_t uvar() {
    if (end_ - p_ >= 2) [[likely]] {
      uint32_t b0 = p_[0];
      if (b0 < 0x80) {
        p_ += 1;
        return b0;
      }
      uint32_t b1 = p_[1];
      if (b1 < 0x80) {
        p_ += 2;
        return (b0 & 0x7F) | b1 << 7;
      }
    }
    return uvar_long();
  }
  [[gnu::noinline]] uint32_t uvar_long() {
    uint32_t v = 0;
    for (int i = 0; i < 5; i++) {
      uint8_t b = u8();
      if (i == 4) check((b & 0xF0) == 0);
      v |= uint32_t(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) return v;
    }
    invalid();
  }
  uint32_t field() { return compact_ ? uvar() : u32(); }
  // A series index (head) of elements of `unit` bytes. The runtime's own
  // indexes never pass what the longest such series could hold, and code
  // that takes a block's length as a signed count would read far past the
  // cells for a larger one: it is refused.
  uint32_t head_field(uint32_t unit) {
    uint32_t head = field();
    check(head <= MAX_SERIES_SIZE / unit);
    return head;
  }
  int32_t sfield() { return compact_ ? unzigzag(uvar()) : int32_t(u32()); }
  void skip_padding() {
    if (compact_) return;
    while (p_ < end_ && p_[0] == 0 && left() >= 4 && (load_u32(p_) & TYPE_MASK) == 0) p_ += 4;
  }

  uint32_t symbol(uint32_t index);
  void intern_all();
  uint32_t symbol_field() { return symbol(field()); }
  // A word of the given type bound to the global context (added there when
  // new); made once per table entry.
  Cell global_word(uint32_t index, uint32_t type) {
    check(index < sym_count_);
    Cell made = globals_[index];
    if (TYPE_OF(&made) == TYPE_UNSET) [[unlikely]] {
      made = word::make_global(symbol(index));
      globals_[index] = made;
    }
    made.header = type;
    return made;
  }

  lead read_lead();
  bool read_common(Cell* made);
  slot read_value(node_t into);
  slot read_other(node_t into);
  void read_into(slot out);
  void read_record(const lead& l, slot out, const slot* link);
  void read_path(std::vector<uint32_t>& path);
  Cell resolve(const std::vector<uint32_t>& path);
  Cell resolve_reference();
  void read_series(const lead& l, slot out);
  void read_cells(node_t node, uint32_t count);
  void read_plain_block(node_t node, uint32_t header, uint32_t count);
  void read_plain_text(node_t node, uint32_t header, uint32_t units);
  void read_text(const lead& l, slot out);
  node_t read_units(uint32_t count, uint32_t unit, bool code_points);
  void read_word(const lead& l, slot out);
  void read_image(const lead& l, slot out);
  node_t read_context(uint32_t kind, const slot* link, slot owner_slot, bool object,
                      node_t on_set = 0);
  void read_owner_reference(const lead& l, slot out);
  void read_object(const lead& l, slot out, const slot* link);
  void read_function(const lead& l, slot out, const slot* link);
  void read_function_part(slot fn, int part);
  void read_native(const lead& l, slot out);
  void read_error(slot out);
  void link_word(const slot& word, node_t ctx);
  node_t context_of(const Cell& c) const;
  void set_scalar(slot out, const lead& l, Cell c) {
    if (l.new_line) c.header |= CELL_NEW_LINE;
    *out.get() = c;
  }
};

void reader::open(bool compact, bool symbols) {
  compact_ = compact;
  field();  // root count: unused
  uint32_t payload = field();
  if (symbols) {
    sym_count_ = field();
    strings_size_ = field();
    check(uint64_t(sym_count_) * 4 <= left());
    offsets_ = p_;
    p_ += size_t(sym_count_) * 4;
    need(strings_size_);
    strings_ = p_;
    // Every offset lies in the strings area, and the area ends with a NUL,
    // so every name ends before the end.
    check(strings_size_ == 0 || strings_[strings_size_ - 1] == 0);
    for (uint32_t i = 0; i < sym_count_; i++) check(load_u32(offsets_ + 4 * size_t(i)) < strings_size_);
    p_ += strings_size_;
    sym_ids_.assign(sym_count_, 0);
    globals_.assign(sym_count_, make_unset());
  }
  need(payload);
  end_ = p_ + payload;
  if (!codec_) intern_all();  // interned before the records
}

// Boot mode: every name of the symbol table at once, with the hashes the
// build computed when it has them.
void reader::intern_all() {
  if (hashes_.size() != sym_count_) {
    for (uint32_t i = 0; i < sym_count_; i++) symbol(i);
    return;
  }
  // In batches that stay on the stack: a list of them all would take fresh
  // pages of memory.
  constexpr uint32_t BATCH = 128;
  hashtable::stable_name names[BATCH];
  for (uint32_t first = 0; first < sym_count_; first += BATCH) {
    uint32_t count = std::min(BATCH, sym_count_ - first);
    for (uint32_t k = 0; k < count; k++) {
      auto* name = strings_ + load_u32(offsets_ + 4 * size_t(first + k));
      auto n = uint32_t(std::strlen(reinterpret_cast<const char*>(name)));
      check(n > 0);
      names[k] = {name, n, hashes_[first + k]};
    }
    hashtable::intern_stable(symbol::text_index, names, count, sym_ids_.data() + first);
  }
}

// The id of table entry `index`, interned on first use. A name must be
// non-empty UTF-8.
uint32_t reader::symbol(uint32_t index) {
  check(index < sym_count_);
  if (sym_ids_[index]) return sym_ids_[index];
  const char* name = reinterpret_cast<const char*>(strings_ + load_u32(offsets_ + 4 * size_t(index)));
  size_t n = std::strlen(name);
  check(n > 0);
  auto* b = reinterpret_cast<const uint8_t*>(name);
  for (const uint8_t* q = b; codec_ && q < b + n;) {
    int32_t cp;
    q = unicode::fast_decode_utf8_char(q, b + n, &cp);
    check(cp >= 0);
  }
  // The image never moves (see above): its names need no copy while interned.
  constexpr int mode = hashtable::FIND_EXACT | hashtable::FIND_STABLE;
  if (hashes_.size() == sym_count_)
    return sym_ids_[index] = uint32_t(
               hashtable::find_text_hashed(symbol::text_index, b, uint32_t(n), hashes_[index], mode));
  return sym_ids_[index] = uint32_t(hashtable::find_text(symbol::text_index, b, uint32_t(n), mode));
}

void reader::read_payload(Cell* into) {
  root_ = into->w2;
  base_ = cell_count(root_);
  deep_owners_ = block::push_only(1)->w2;
  for (;;) {
    skip_padding();
    if (p_ >= end_) break;
    read_value(root_);
  }
  for (uint32_t i = 0; i < cell_count(deep_owners_); i++) {
    Cell obj = cell_head(memory::buffer(deep_owners_))[i];
    ownership::set_owner(&obj, &obj, nullptr);
  }
  stack::pop(1);
}

lead reader::read_lead() {
  lead l;
  if (!compact_) {
    skip_padding();
    uint32_t h = u32();
    l.bits = h;
    if ((h & TYPE_MASK) == N_REFERENCE_WORD) {
      l.special = 3;
      p_ -= 4;  // the path reader takes the 255 word
      return l;
    }
    l.type = h & TYPE_MASK;
    l.new_line = h & N_NEW_LINE;
    // An op! keeps its wrapped type where other records keep that bit.
    l.reference = (h & N_REFERENCE) && l.type != TYPE_OP;
    return l;
  }
  uint8_t first = u8();
  if (first < 0x80) [[likely]] {
    // A leading byte with no prefix.
    l.flag = first & C_FLAG;
    l.type = first & C_TYPE_MASK;
    if (l.type == C_WIDE_TYPE) l.type = uvar();
    check(l.type != 0 && l.type != TYPE_LOGIC);
    return l;
  }
  p_--;
  for (;;) {
    uint8_t b = u8();
    if (b == C_NEW_LINE) l.new_line = true;
    else if (b == C_REFERENCE) l.reference = true;
    else if (b == C_SET_WORD) l.set_word = true;
    else {
      if (b >= 0x80) {
        check(!l.reference && !l.set_word);
        if (b < C_TRUE) {
          l.special = 1;
          l.small = b - C_SMALL_INTEGER;
        } else if (b == C_TRUE || b == C_FALSE) {
          l.special = 2;
          l.small = b == C_TRUE;
        } else {
          check(b == C_STANDALONE_REFERENCE);
          l.special = 3;
        }
        return l;
      }
      l.flag = b & C_FLAG;
      l.type = b & C_TYPE_MASK;
      if (l.type == C_WIDE_TYPE) l.type = uvar();
      check(l.type != 0 && l.type != TYPE_LOGIC);
      return l;
    }
  }
}

// The commonest records of code, read at once: a word bound to the global
// context (with or without its new-line prefix) and a small integer. False,
// having read nothing, for any other record.
inline bool reader::read_common(Cell* made) {
  if (!compact_ || left() < 2) return false;
  const uint8_t* q = p_;
  uint32_t nl = 0;
  uint8_t b = *q;
  if (b == C_NEW_LINE) {
    nl = CELL_NEW_LINE;
    b = *++q;
  }
  if (uint8_t(b - TYPE_WORD) <= TYPE_REFINEMENT - TYPE_WORD) {
    p_ = q + 1;
    *made = global_word(uvar(), b | nl);
    return true;
  }
  if (!nl && uint8_t(b - C_SMALL_INTEGER) < C_NEW_LINE - C_SMALL_INTEGER) {
    p_ = q + 1;
    *made = make_integer(int32_t(b - C_SMALL_INTEGER));
    return true;
  }
  return false;
}

// One record appended to `into`; answers where it landed.
slot reader::read_value(node_t into) {
  Cell common;
  if (read_common(&common)) return append(into, common);
  return read_other(into);
}

// read_value for a record that is not a common one.
slot reader::read_other(node_t into) {
  if (platform::stack_exhausted()) fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
  lead l = read_lead();
  slot out = append(into, make_unset());
  if (l.set_word) {
    // Boot pools only: a word, then the value it is set to; neither stays.
    check(!codec_ && (is_word_kind(l.type) || l.type == TYPE_ISSUE));
    read_record(l, out, nullptr);
    slot value = read_value(into);
    Cell w = *out.get(), v = *value.get();
    Cell* held = stack::push(v);
    word::set(&w, held);
    stack::pop(1);
    Cell tmp = make_series(TYPE_BLOCK, into);
    block::rs_truncate_at(&tmp, out.index);
    return out;
  }
  read_record(l, out, nullptr);
  return out;
}

// One record into a slot that exists already (a context value, an error
// field), so that paths find it filled as soon as it is.
void reader::read_into(slot out) {
  if (platform::stack_exhausted()) fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
  lead l = read_lead();
  check(!l.set_word);
  read_record(l, out, nullptr);
}

void reader::read_path(std::vector<uint32_t>& path) {
  if (!compact_) check(u32() == N_REFERENCE_WORD);
  uint32_t n = field();
  check(n >= 1 && n <= MAX_PATH);
  need_records(n);
  path.resize(n);
  for (uint32_t i = 0; i < n; i++) path[i] = field();
}

// The context a value names: its own (object!, function!, op! over a
// function), a bound word's, or 0.
node_t reader::context_of(const Cell& c) const {
  uint32_t t = TYPE_OF(&c);
  if (is_word_kind(t)) return c.w1 != context::global_node ? c.w1 : 0;
  if (t == TYPE_OBJECT || t == TYPE_FUNCTION) return c.w1;
  if (t == TYPE_OP && ((c.header >> OP_TYPE_SHIFT) & 0xFF) == TYPE_FUNCTION) return c.w1;
  return 0;
}

// Follows a path from the top-level values of this image; every element is
// checked against the length of what it indexes.
Cell reader::resolve(const std::vector<uint32_t>& path) {
  check(path[0] < cell_count(root_) - base_);
  Cell cur = *slot{root_, base_ + path[0]}.get();
  for (size_t i = 1; i < path.size(); i++) {
    uint32_t e = path[i];
    uint32_t t = TYPE_OF(&cur);
    node_t cells = 0;
    if (is_cells_kind(t) || t == TYPE_MAP || t == TYPE_NATIVE || t == TYPE_ACTION) {
      cells = cur.w2;
    } else if (t == TYPE_OP || t == TYPE_FUNCTION || is_word_kind(t)) {
      node_t ctx = t == TYPE_OP || t == TYPE_FUNCTION ? cur.w1 : context_of(cur);
      uint32_t wrapped = t == TYPE_OP ? (cur.header >> OP_TYPE_SHIFT) & 0xFF : t;
      if (t == TYPE_OP && wrapped != TYPE_FUNCTION) {
        check(e == 0);
        cur = make_series(TYPE_BLOCK, cur.w2);
        continue;
      }
      check(ctx != 0);
      if (context::on_stack(ctx)) {
        Cell fn = *context::owner(ctx);
        check(TYPE_OF(&fn) == TYPE_FUNCTION && e <= 1);
        cur = e == 0 ? make_series(TYPE_BLOCK, fn.w2) : function::more(&fn)[function::MORE_BODY];
        continue;
      }
      cells = context::record(ctx)->w2;
    } else if (t == TYPE_OBJECT) {
      cells = context::record(cur.w1)->w2;
    } else if (t == TYPE_ERROR) {
      check(e < error::FIELD_STACK - error::FIELD_ARG1 + 1);
      cur = *error::field(&cur, error::FIELD_ARG1 + e);
      continue;
    } else {
      invalid();
    }
    check(e < cell_count(cells));
    cur = *slot{cells, e}.get();
  }
  return cur;
}

Cell reader::resolve_reference() {
  read_path(path_);
  return resolve(path_);
}

void reader::read_record(const lead& l, slot out, const slot* link) {
  if (l.special == 1) return set_scalar(out, l, make_integer(int32_t(l.small)));
  if (l.special == 2) return set_scalar(out, l, make_logic(l.small));
  if (l.special == 3) {
    Cell c = resolve_reference();
    *out.get() = c;
    return;
  }
  uint32_t t = l.type;
  check(t <= TYPE_EVENT && t != TYPE_SYMBOL && t != TYPE_SERIES && t != TYPE_CONTEXT &&
        datatype::names[t].name);
  if (has_no_record(t)) {
    Cell dt = make_datatype(t);
    fire(err::ACCESS, err::access::NO_CODEC, &dt);
  }
  if (l.reference) {
    // Only what can be shared has a reference form.
    check(is_cells_kind(t) || t == TYPE_MAP || string::is_string_type(t) || t == TYPE_BINARY ||
          t == TYPE_VECTOR || t == TYPE_BITSET || t == TYPE_IMAGE || is_word_kind(t) ||
          t == TYPE_OBJECT || t == TYPE_FUNCTION);
  }
  switch (t) {
    case TYPE_DATATYPE: {
      uint32_t id = field();
      check(id >= 1 && id < TYPE_COUNT && datatype::names[id].name);
      return set_scalar(out, l, make_datatype(id));
    }
    case TYPE_UNSET: return set_scalar(out, l, make_unset());
    case TYPE_NONE: return set_scalar(out, l, make_none());
    case TYPE_LOGIC: {
      uint32_t v = u32();
      check(v <= 1);
      return set_scalar(out, l, make_logic(v));
    }
    case TYPE_INTEGER: return set_scalar(out, l, make_integer(sfield()));
    case TYPE_CHAR: {
      uint32_t cp = field();
      check(cp <= 0x10FFFF);
      return set_scalar(out, l, make_char(cp));
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
      double d;
      if (compact_ && l.flag) {
        int32_t n = unzigzag(uvar());
        d = t == TYPE_PERCENT ? double(n) / 100.0 : double(n);
      } else {
        uint32_t a = u32(), b = u32();
        // normal: high word first; compact: low half first
        uint64_t bits = compact_ ? (uint64_t(b) << 32 | a) : (uint64_t(a) << 32 | b);
        d = std::bit_cast<double>(bits);
      }
      check(t != TYPE_TIME || std::isfinite(d));
      return set_scalar(out, l, make_float_of(t, d));
    }
    case TYPE_PAIR: {
      int32_t x = sfield(), y = sfield();
      return set_scalar(out, l, Cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)});
    }
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
      uint32_t x = u32(), y = u32(), z = t == TYPE_POINT3D ? u32() : 0;
      return set_scalar(out, l, Cell{t, x, y, z});
    }
    case TYPE_DATE: {
      uint32_t word = u32();
      bool timed = date::has_time(word);
      uint32_t lo = 0, hi = 0;
      if (!compact_) {
        hi = u32();
        lo = u32();
      } else {
        check(l.flag == timed);
        if (timed) {
          lo = u32();
          hi = u32();
        }
      }
      int32_t month = date::month_of(word), day = date::day_of(word);
      check(month >= 1 && month <= 12 && day >= 1 &&
            day <= date::month_length(date::year_of(word), month));
      double time = timed ? std::bit_cast<double>(uint64_t(hi) << 32 | lo) : 0.0;
      check(std::isfinite(time));
      Cell d{TYPE_DATE, word, 0, 0};
      put_float(&d, time);
      if (timed) date::normalize(&d, time, false);
      return set_scalar(out, l, d);
    }
    case TYPE_TYPESET: {
      uint8_t b[12] = {};
      uint32_t n = compact_ ? u8() : 12;
      check(n <= 12);
      need(n);
      std::memcpy(b, p_, n);
      p_ += n;
      Cell ts{TYPE_TYPESET, load_u32(b), load_u32(b + 4), load_u32(b + 8)};
      // Only the registry's ids, 1 to 56.
      for (uint32_t id = 0; id < 96; id++) check(!typeset::has(&ts, id) || (id >= 1 && id < TYPE_COUNT));
      return set_scalar(out, l, ts);
    }
    case TYPE_TUPLE: {
      uint32_t n = 3;
      if (compact_) {
        if (l.flag) n = u8();
      } else {
        n = (l.bits >> N_SUB_SHIFT) & 0xFF;
      }
      check(n >= 1 && n <= tuple::MAX_BYTES);
      uint32_t stored = compact_ ? n : tuple::MAX_BYTES;
      need(stored);
      Cell c{TYPE_TUPLE, 0, 0, 0};
      tuple::make_at(&c, p_, n);
      p_ += stored;
      if (n < tuple::MIN_BYTES) c.header = (c.header & ~(0xFu << TUPLE_SIZE_SHIFT)) | tuple::MIN_BYTES << TUPLE_SIZE_SHIFT;
      return set_scalar(out, l, c);
    }
    case TYPE_MONEY: {
      need(12);
      bool negative = compact_ ? l.flag : (l.bits & N_MONEY_NEGATIVE) != 0;
      for (int i = 1; i < 12; i++) check((p_[i] >> 4) <= 9 && (p_[i] & 0xF) <= 9);
      Cell c{TYPE_MONEY, 0, 0, 0};
      money::make_at(&c, negative, p_[0], p_ + 1);
      p_ += 12;
      return set_scalar(out, l, c);
    }
    case TYPE_ISSUE: {
      return set_scalar(out, l, global_word(field(), TYPE_ISSUE));
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
      return read_word(l, out);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_MAP:
    case TYPE_BITSET:
      return read_series(l, out);
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
    case TYPE_BINARY:
    case TYPE_VECTOR:
      return read_text(l, out);
    case TYPE_IMAGE: return read_image(l, out);
    case TYPE_OBJECT: return read_object(l, out, link);
    case TYPE_FUNCTION: return read_function(l, out, link);
    case TYPE_NATIVE:
    case TYPE_ACTION: return read_native(l, out);
    case TYPE_OP: {
      // The wrapped record lands in the op's own cell, then is wrapped.
      lead w = read_lead();
      check(w.special == 0 && !w.set_word &&
            (w.type == TYPE_NATIVE || w.type == TYPE_ACTION || w.type == TYPE_FUNCTION));
      check(compact_ || ((l.bits >> N_OP_SHIFT) & 0xFF) == w.type);
      read_record(w, out, nullptr);
      Cell* fn = stack::push(*out.get());
      Cell* op = stack::push_unset();
      actions::peek_make(TYPE_OP)(op, fn, TYPE_OP);
      set_scalar(out, l, *op);
      stack::pop(2);
      return;
    }
    case TYPE_ERROR: {
      set_scalar(out, l, make_none());
      return read_error(out);
    }
    default:
      invalid();
  }
}

// A reference record's value: a copy of what the path leads to, of the
// record's own type, over a buffer of the same kind.
Cell series_reference(uint32_t type, uint32_t head, const Cell& found, bool& ok) {
  uint32_t ft = TYPE_OF(&found);
  ok = true;
  if (is_cells_kind(type)) {
    ok = is_cells_kind(ft) || (type != TYPE_HASH && holds_spec(ft));
    // A hash! keeps the index of a hash! it shares a buffer with.
    uint32_t extra = type == TYPE_HASH && ft == TYPE_HASH ? found.w3 : 0;
    return Cell{type, head, found.w2, extra};
  }
  if (string::is_string_type(type)) ok = string::is_string_type(ft);
  else ok = ft == type;
  Cell c{type, head, found.w2, 0};
  if (type == TYPE_VECTOR || type == TYPE_MAP) c.w3 = found.w3;
  if (type == TYPE_BITSET) c.w1 = 0;
  return c;
}

void reader::read_series(const lead& l, slot out) {
  uint32_t t = l.type;
  uint32_t head = 0;
  if (is_cells_kind(t) && (!compact_ || l.flag)) head = head_field(sizeof(Cell));
  uint32_t nl = l.new_line ? CELL_NEW_LINE : 0;
  if (l.reference) {
    Cell found = resolve_reference();
    bool ok;
    Cell c = series_reference(t, head, found, ok);
    check(ok);
    c.header |= nl;
    *out.get() = c;
    if (t == TYPE_HASH && !c.w3) {
      Cell* h = stack::push(c);
      hash::index_new(h);
      *out.get() = *h;
      stack::pop(1);
    }
    return;
  }
  uint32_t count = field();
  if (t == TYPE_BITSET) {
    need(count);
    node_t node = memory::alloc_bytes(count);
    series_buffer* b = memory::buffer(node);
    std::memcpy(b->data(), p_, count);
    b->tail = count;
    p_ += count;
    if (!compact_) p_ += std::min<size_t>((4 - count % 4) % 4, left());
    bool complement = compact_ ? l.flag : (l.bits & N_BITSET_COMPLEMENT) != 0;
    if (complement) memory::set_flag(node, SERIES_COMPLEMENT);
    *out.get() = Cell{TYPE_BITSET | nl, 0, node, 0};
    return;
  }
  need_records(count);
  if (t == TYPE_MAP) {
    // Pairs are read into the map's own block, so that a path into the map
    // finds the pairs read so far, and taken in one at a time: keys are
    // normalised and exact duplicates merged.
    check(count % 2 == 0);
    Cell* m = stack::push_unset();
    map::make_at(m, nullptr, count / 2);
    m->header |= nl;
    *out.get() = *m;
    for (uint32_t i = 0; i < count; i += 2) {
      read_value(m->w2);
      read_value(m->w2);
      map::index_last_pair(m);
    }
    stack::pop(1);
    return;
  }
  node_t node = memory::alloc_cells(count ? count : 1);
  *out.get() = Cell{t | nl, head, node, 0};
  read_cells(node, count);
  if (t == TYPE_HASH) {
    Cell* h = stack::push(*out.get());
    hash::index_new(h);
    *out.get() = *h;
    stack::pop(1);
  }
}

// The compact leading bytes read_cells takes at once (no flag bit, so no
// head index): a word, a block, paren or path, a string of any string type
// but binary!.
enum lead_class : uint8_t { OTHER_LEAD, WORD_LEAD, CELLS_LEAD, TEXT_LEAD };
constexpr auto LEAD_CLASSES = [] {
  std::array<uint8_t, 64> classes{};
  for (uint32_t t = TYPE_WORD; t <= TYPE_REFINEMENT; t++) classes[t] = WORD_LEAD;
  for (uint32_t t : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH})
    classes[t] = CELLS_LEAD;
  for (uint32_t t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF})
    classes[t] = TEXT_LEAD;
  return classes;
}();

// The `count` records of a block made for all of them. The commonest go
// straight into the next cell: a word bound to the global context whose
// global word is made already and a small integer, and a block, paren or
// path with no head index, whose records follow at once, and a string with
// no head index (each with or without its new-line prefix, their numbers of
// one or two bytes). Any other record, and any record near the end of the
// bytes, is read by read_common or read_other.
//
// The loop keeps its read position and the block's next cell in registers:
// p_ and the buffer's tail are written back before anything that reads them
// or allocates, and read again after it (whatever allocates may move the
// buffer). The block was made for all its records, so the next cell is
// always inside it.
//
// A boot pool's blocks inside blocks are read in this one loop, the blocks
// it is inside kept in open_blocks_: a pool is the runtime's own, nested no
// deeper than its sources. The codec's are read by recursion, which checks
// the stack.
void reader::read_cells(node_t node, uint32_t count) {
  const size_t outer = open_blocks_.size();
  const Cell* const globals = globals_.data();
  const uint32_t symbols = sym_count_;
  const bool boot = !codec_;
  // The fast paths look at most 4 bytes ahead: they take a record that
  // starts before `fast_end`, none when the image is not compact.
  const uint8_t* p = p_;
  const uint8_t* const fast_end = compact_ && end_ - p >= 4 ? end_ - 3 : p;
  series_buffer* b = memory::buffer(node);
  Cell* out = reinterpret_cast<Cell*>(b->tail_ptr());
  auto sync = [&] {
    p_ = p;
    b->set_tail_ptr(reinterpret_cast<uint8_t*>(out));
  };
  auto resume = [&] {
    p = p_;
    b = memory::buffer(node);
    out = reinterpret_cast<Cell*>(b->tail_ptr());
  };
  // A number of one or two bytes after the leading byte at q, and where the
  // record goes on; UINT32_MAX for a longer one.
  auto short_number = [](const uint8_t* q, const uint8_t** next) {
    uint32_t number = q[1];
    *next = q + 2;
    if (number < 0x80) return number;
    *next = q + 3;
    return q[2] < 0x80 ? (number & 0x7F) | uint32_t(q[2]) << 7 : UINT32_MAX;
  };
  for (;;) {
    if (count == 0) {
      b->set_tail_ptr(reinterpret_cast<uint8_t*>(out));
      if (open_blocks_.size() == outer) {
        p_ = p;
        return;
      }
      node = open_blocks_.back().node;
      count = open_blocks_.back().left;
      open_blocks_.pop_back();
      b = memory::buffer(node);
      out = reinterpret_cast<Cell*>(b->tail_ptr());
      continue;
    }
    count--;
    if (p < fast_end) [[likely]] {
      const uint8_t* q = p;
      uint32_t c = q[0], nl = 0;
      if (c == C_NEW_LINE) {
        nl = CELL_NEW_LINE;
        c = *++q;
      }
      const uint8_t* next;
      if (c - TYPE_WORD <= TYPE_REFINEMENT - TYPE_WORD) {
        uint32_t index = short_number(q, &next);
        if (index < symbols) [[likely]] {
          if (TYPE_OF(&globals[index]) == TYPE_UNSET) [[unlikely]] {
            // The entry's first word: its global word is made here (it
            // allocates, so the buffer is found again).
            b->set_tail_ptr(reinterpret_cast<uint8_t*>(out));
            global_word(index, TYPE_WORD);
            b = memory::buffer(node);
            out = reinterpret_cast<Cell*>(b->tail_ptr());
          }
          *out = globals[index];
          out->header = c | nl;
          out++;
          p = next;
          continue;
        }
      } else if (c < LEAD_CLASSES.size() && LEAD_CLASSES[c] != OTHER_LEAD) {
        uint32_t number = short_number(q, &next);
        if (number != UINT32_MAX && LEAD_CLASSES[c] == CELLS_LEAD && boot) {
          // The block's cell, then its records, before the rest of this one.
          p = next;
          sync();
          need_records(number);
          node_t inner = memory::alloc_cells(number ? number : 1);
          b = memory::buffer(node);
          *reinterpret_cast<Cell*>(b->tail_ptr()) = Cell{c | nl, 0, inner, 0};
          b->tail += sizeof(Cell);
          open_blocks_.push_back({node, count});
          node = inner;
          count = number;
          b = memory::buffer(node);
          out = reinterpret_cast<Cell*>(b->tail_ptr());
          continue;
        }
        if (number != UINT32_MAX && (LEAD_CLASSES[c] == CELLS_LEAD || (number & 3) != 3)) {
          p = next;
          sync();
          if (LEAD_CLASSES[c] == CELLS_LEAD) read_plain_block(node, c | nl, number);
          else read_plain_text(node, c | nl, number);
          resume();
          continue;
        }
      } else if (!nl && c - C_SMALL_INTEGER < C_NEW_LINE - C_SMALL_INTEGER) {
        *out++ = make_integer(int32_t(c - C_SMALL_INTEGER));
        p = q + 1;
        continue;
      } else if (c == TYPE_INTEGER) {
        // Any other integer!: its signed number of up to four bytes (a
        // longer one, or one cut off by the end, is read the general way).
        const uint8_t* r = q + 1;
        uint32_t number = 0;
        bool done = false;
        for (uint32_t shift = 0; shift < 28 && r < end_ && !done; shift += 7) {
          number |= uint32_t(*r & 0x7F) << shift;
          done = *r++ < 0x80;
        }
        if (done) {
          *out = make_integer(unzigzag(number));
          out->header |= nl;
          out++;
          p = r;
          continue;
        }
      }
    }
    sync();
    Cell common;
    if (read_common(&common)) {
      resume();
      *out++ = common;
    } else {
      read_other(node);
      resume();
    }
  }
}

// read_cells' block, paren or path of `count` records, appended to `node`
// before its records are read.
[[gnu::noinline]] void reader::read_plain_block(node_t node, uint32_t header, uint32_t count) {
  if (platform::stack_exhausted()) fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
  need_records(count);
  node_t inner = memory::alloc_cells(count ? count : 1);
  series_buffer* b = memory::buffer(node);
  *reinterpret_cast<Cell*>(b->tail_ptr()) = Cell{header, 0, inner, 0};
  b->tail += sizeof(Cell);
  read_cells(inner, count);
}

// read_cells' string: `units` holds the unit (its low two bits, not 3) and
// the length.
[[gnu::noinline]] void reader::read_plain_text(node_t node, uint32_t header, uint32_t units) {
  uint32_t unit = 1u << (units & 3);
  node_t text = read_units(units >> 2, unit, unit == 4);
  series_buffer* b = memory::buffer(node);
  *reinterpret_cast<Cell*>(b->tail_ptr()) = Cell{header, 0, text, 0};
  b->tail += sizeof(Cell);
}

// Strings, binary! and vector!: raw units, checked to be what the type holds.
void reader::read_text(const lead& l, slot out) {
  uint32_t t = l.type;
  uint32_t head = !compact_ || l.flag ? head_field(1) : 0;
  uint32_t nl = l.new_line ? CELL_NEW_LINE : 0;
  if (l.reference) {
    Cell found = resolve_reference();
    bool ok;
    Cell c = series_reference(t, head, found, ok);
    check(ok);
    c.header |= nl;
    *out.get() = c;
    return;
  }
  uint32_t unit = 1, count = 0, element = 0;
  if (t == TYPE_VECTOR) {
    if (compact_) {
      uint8_t b = u8();
      element = b >> 2;
      unit = 1u << (b & 3);
      count = uvar();
    } else {
      unit = (l.bits >> N_SUB_SHIFT) & 0xFF;
      count = u32();
      element = u32();
    }
    bool ok = ((element == TYPE_CHAR || element == TYPE_INTEGER) && (unit == 1 || unit == 2 || unit == 4)) ||
              (element == TYPE_FLOAT && (unit == 4 || unit == 8)) || (element == TYPE_PERCENT && unit == 8);
    check(ok);
  } else if (t == TYPE_BINARY) {
    count = field();
  } else if (compact_) {
    uint32_t v = uvar();
    check((v & 3) != 3);
    unit = 1u << (v & 3);
    count = v >> 2;
  } else {
    unit = (l.bits >> N_SUB_SHIFT) & 0xFF;
    check(unit == 1 || unit == 2 || unit == 4);
    count = u32();
  }
  node_t node = read_units(count, unit, unit == 4 && (t != TYPE_VECTOR || element == TYPE_CHAR));
  uint64_t size = uint64_t(count) * unit;
  if (!compact_) p_ += std::min<size_t>((4 - size % 4) % 4, left());
  *out.get() = Cell{t | nl, head, node, t == TYPE_VECTOR ? element : 0};
}

// `count` units of `unit` bytes into a new series (code points checked when
// asked).
node_t reader::read_units(uint32_t count, uint32_t unit, bool code_points) {
  uint64_t size = uint64_t(count) * unit;
  need(size);
  const uint8_t* raw = p_;
  if (code_points)
    for (uint32_t i = 0; i < count; i++) check(load_u32(raw + 4 * size_t(i)) <= 0x10FFFF);
  node_t node = memory::alloc_series(count ? count : 1, unit, 0);
  series_buffer* b = memory::buffer(node);
  std::memcpy(b->data(), raw, size);
  b->tail = uint32_t(size);
  p_ += size;
  return node;
}

// An image: width and height (at most 65,535 each, their pixels within the
// bytes left), then ARGB words row after row; with a side of 0 it has no
// pixels.
void reader::read_image(const lead& l, slot out) {
  uint32_t head = !compact_ || l.flag ? head_field(4) : 0;
  uint32_t nl = l.new_line ? CELL_NEW_LINE : 0;
  if (l.reference) {
    Cell found = resolve_reference();
    check(TYPE_OF(&found) == TYPE_IMAGE && found.w2 != 0);
    *out.get() = Cell{TYPE_IMAGE | nl, head, found.w2, found.w3};
    return;
  }
  uint32_t width, height;
  if (compact_) {
    width = uvar();
    height = uvar();
  } else {
    uint32_t size = u32();
    width = image_backend::IMAGE_WIDTH(size);
    height = image_backend::IMAGE_HEIGHT(size);
  }
  check(width <= image_backend::MAX_SIDE && height <= image_backend::MAX_SIDE);
  uint64_t bytes = uint64_t(width) * height * 4;
  need(bytes);
  if (bytes == 0) {
    *out.get() = Cell{TYPE_IMAGE | nl, head, 0, image_backend::make_size(width, height)};
    return;
  }
  check(image_backend::size_ok(width, height));
  node_t node = image_backend::make_node(width, height);
  Cell* c = out.get();
  image::make_at(c, node);
  c->header |= nl;
  c->w1 = head;
  image_backend::lock pixels = image_backend::lock_bitmap(node, true);
  for (uint32_t y = 0; y < height; y++)
    std::memcpy(reinterpret_cast<uint8_t*>(pixels.pixels) + size_t(y) * pixels.stride,
                p_ + size_t(y) * width * 4, size_t(width) * 4);
  p_ += bytes;
}

// Gives a word the context of its owner as soon as the context exists, so
// that paths through the word work while the owner is still being read.
void reader::link_word(const slot& word, node_t ctx) {
  Cell* w = word.get();
  uint32_t n = context::size(ctx);
  int32_t index = int32_t(w->w3);
  if (index < 0) {
    index = context::find_word(ctx, w->w2, true);
    check(index >= 0);
  }
  check(uint32_t(index) < n &&
        symbol::resolve(context::word_at(ctx, uint32_t(index))->w2) == symbol::resolve(w->w2));
  w = word.get();
  w->w1 = ctx;
  w->w3 = uint32_t(index);
}

void reader::read_word(const lead& l, slot out) {
  uint32_t t = l.type;
  uint32_t index_in_table = field();
  uint32_t sym = symbol(index_in_table);
  bool bound = compact_ ? l.flag : !(l.bits & N_GLOBAL_WORD);
  if (!codec_) {
    // Boot pools: a bound word names the top-level value whose context it
    // takes, and its index there (-1: by its symbol).
    int32_t where = -1, index = -1;
    if (compact_) {
      if (bound) {
        where = int32_t(uvar());
        index = unzigzag(uvar());
      }
    } else {
      where = int32_t(u32());
      index = int32_t(u32());
    }
    Cell w = global_word(index_in_table, t);
    if (where >= 0) {
      check(uint32_t(where) < cell_count(root_) - base_);
      node_t ctx = context_of(*slot{root_, base_ + uint32_t(where)}.get());
      check(ctx != 0);
      *out.get() = w;
      out.get()->w3 = uint32_t(index);
      link_word(out, ctx);
      if (l.new_line) out.get()->header |= CELL_NEW_LINE;
      return;
    }
    return set_scalar(out, l, w);
  }
  if (!bound) {
    check(!l.reference);
    if (!compact_) u32();  // the index: looked up again
    return set_scalar(out, l, global_word(index_in_table, t));
  }
  int32_t index = sfield();
  Cell w = word::make(t | (l.new_line ? CELL_NEW_LINE : 0), context::global_node, sym, uint32_t(index));
  *out.get() = w;
  if (l.reference) {
    node_t ctx = context_of(resolve_reference());
    check(ctx != 0);
    uint32_t owner = TYPE_OF(context::owner(ctx));
    check(owner == TYPE_OBJECT || owner == TYPE_FUNCTION);
    return link_word(out, ctx);
  }
  // The owner's record follows; it is read aside, not appended.
  lead o = read_lead();
  check(o.special == 0 && !o.set_word && !o.reference &&
        (o.type == TYPE_OBJECT || o.type == TYPE_FUNCTION));
  Cell* scratch = block::push_only(1);
  slot aside = append(scratch->w2, make_unset());
  read_record(o, aside, &out);
  stack::pop(1);
  check(out.get()->w1 != context::global_node);
}

// A context record: its words, and its values when they follow. `created`
// runs once the context has its words and before its values are read.
node_t reader::read_context(uint32_t kind, const slot* link, slot owner_slot, bool object,
                            node_t on_set) {
  lead l = read_lead();
  check(l.special == 0 && !l.reference && !l.set_word && l.type == TYPE_CONTEXT);
  uint32_t ckind, stack_values, self, values;
  if (compact_) {
    uint8_t f = u8();
    ckind = f & CC_KIND_MASK;
    stack_values = f & CC_ON_STACK;
    self = f & CC_SELF;
    values = f & CC_VALUES;
  } else {
    ckind = (l.bits >> N_CONTEXT_KIND_SHIFT) & 3;
    stack_values = l.bits & N_CONTEXT_ON_STACK;
    self = l.bits & N_CONTEXT_SELF;
    values = l.bits & N_CONTEXT_VALUES;
  }
  check(ckind == kind && (stack_values != 0) == (kind == CONTEXT_FUNCTION));
  uint32_t n = field();
  need_records(n);
  collector::hold hold;
  node_t ctx = hold.add(context::create(n, stack_values, self, 0, kind));
  for (uint32_t i = 0; i < n; i++) {
    uint32_t sym = symbol_field();
    uint32_t added = 0;
    check(context::add_word(ctx, sym, true, &added) < 0);  // no word twice
  }
  if (!stack_values) {
    // The values start unset and are filled in place, so that a path into
    // the context finds a slot for every word from the start.
    node_t vals = context::record(ctx)->w2;
    for (uint32_t i = 0; i < n; i++) append(vals, make_unset());
  }
  if (object) {
    Cell obj{TYPE_OBJECT, ctx, uint32_t(-1), on_set};
    *owner_slot.get() = obj;
    *context::owner(ctx) = obj;
  }
  if (link) link_word(*link, ctx);
  if (values && !stack_values)
    for (uint32_t i = 0; i < n; i++) read_into(slot{context::record(ctx)->w2, i});
  return ctx;
}

// An object! or function! met again: the owner of the context its path
// leads to (through the value itself, a word bound to it, or an op!).
void reader::read_owner_reference(const lead& l, slot out) {
  node_t ctx = context_of(resolve_reference());
  check(ctx != 0);
  Cell owner = *context::owner(ctx);
  check(TYPE_OF(&owner) == l.type);
  if (l.new_line) owner.header |= CELL_NEW_LINE;
  *out.get() = owner;
}

void reader::read_object(const lead& l, slot out, const slot* link) {
  uint32_t nl = l.new_line ? CELL_NEW_LINE : 0;
  if (l.reference) return read_owner_reference(l, out);
  int32_t class_id = sfield();
  bool handlers = compact_ ? l.flag : (l.bits & N_ON_CHANGE) != 0;
  if (handlers) {
    sfield();  // the handler slots are found again from the context
    sfield();
  }
  // The on-set record exists before the values are read, so that a copy of
  // the object met among them (a field holding the object) shares it.
  collector::hold hold;
  node_t on_set = handlers ? hold.add(object::empty_on_set()) : 0;
  node_t ctx = read_context(CONTEXT_OBJECT, link, out, true, on_set);
  if (on_set) object::fill_on_set(on_set, ctx);
  Cell made = *context::owner(ctx);
  if (!codec_) made.w2 = uint32_t(class_id);
  *context::owner(ctx) = made;
  // The object claims its series once the whole image is read, as `make`
  // does once the object is built: its fields may lead to values still
  // being read.
  if (object::on_deep(&made)) append(deep_owners_, made);
  made.header |= nl;
  *out.get() = made;
}

// One of a function's two blocks: a block record whose buffer becomes the
// spec (part 0) or the body (part 1); a head index in it is ignored.
void reader::read_function_part(slot fn, int part) {
  lead l = read_lead();
  check(l.special == 0 && !l.set_word && l.type == TYPE_BLOCK);
  if (!compact_ || l.flag) field();
  node_t node;
  auto install = [&](node_t n) {
    Cell* f = fn.get();
    if (part == 0) {
      f->w2 = n;
      context::owner(f->w1)->w2 = n;
    } else {
      function::more(f)[function::MORE_BODY] = make_series(TYPE_BLOCK, n);
    }
  };
  if (l.reference) {
    Cell found = resolve_reference();
    check(is_cells_kind(TYPE_OF(&found)) || holds_spec(TYPE_OF(&found)));
    install(found.w2);
    return;
  }
  uint32_t count = field();
  need_records(count);
  node = memory::alloc_cells(count ? count : 1);
  install(node);
  for (uint32_t i = 0; i < count; i++) read_value(node);
}

void reader::read_function(const lead& l, slot out, const slot* link) {
  uint32_t nl = l.new_line ? CELL_NEW_LINE : 0;
  if (l.reference) return read_owner_reference(l, out);
  uint32_t spec_length = field(), body_length = field();
  need_records(spec_length);
  need_records(body_length);
  node_t ctx = read_context(CONTEXT_FUNCTION, link, out, false);
  collector::hold hold;
  hold.add(ctx);
  node_t more = hold.add(memory::alloc_unset_cells(5));
  memory::buffer(more)->tail = 5 * sizeof(Cell);
  node_t spec = hold.add(memory::alloc_cells(1));
  node_t body = memory::alloc_cells(1);
  cells_of(memory::buffer(more))[function::MORE_BODY] = make_series(TYPE_BLOCK, body);
  Cell fn{TYPE_FUNCTION, ctx, spec, more};
  *out.get() = fn;
  *context::owner(ctx) = fn;
  read_function_part(out, 0);
  // The context holds exactly the spec's argument and local words, in order.
  Cell spec_block = make_series(TYPE_BLOCK, out.get()->w2);
  Cell* held = stack::push(spec_block);
  uint32_t flags = function::validate(held);
  node_t expected = context::make(held, true, false, CONTEXT_FUNCTION);
  uint32_t n = context::size(expected);
  check(n == context::size(ctx));
  for (uint32_t i = 0; i < n; i++)
    check(symbol::resolve(context::word_at(expected, i)->w2) ==
          symbol::resolve(context::word_at(ctx, i)->w2));
  stack::pop(1);
  out.get()->header |= flags | nl;
  context::owner(ctx)->header = out.get()->header & ~CELL_NEW_LINE;
  read_function_part(out, 1);
}

// native! and action!: the registered value at that table position, whose
// spec the record's must equal.
void reader::read_native(const lead& l, slot out) {
  uint32_t t = l.type;
  uint32_t pos = field();
  uint32_t limit = t == TYPE_NATIVE ? natives::CAPACITY : uint32_t(ACTION_COUNT);
  check(pos >= 1 && pos <= limit);
  Cell* scratch = block::push_only(1);
  slot spec = read_value(scratch->w2);
  Cell s = *spec.get();
  check(TYPE_OF(&s) == TYPE_BLOCK);
  const Cell* known = native::registered(t, pos);
  Cell made;
  if (codec_) {
    check(known != nullptr);
    Cell a = make_series(TYPE_BLOCK, known->w2);
    check(actions::compare_values(&a, &s, COMP_STRICT_EQUAL) == 0);
    made = *known;
  } else {
    Cell* held = stack::push(s);
    made = native::make_registered(t, pos, held);
    stack::pop(1);
  }
  stack::pop(1);
  set_scalar(out, l, made);
}

void reader::read_error(slot out) {
  uint32_t code = field();
  int category = int(code / 100), id = int(code % 100);
  check(category < err::CATEGORY_COUNT && id < err::ID_COUNTS[category] &&
        TYPE_OF(&error::prototype) == TYPE_OBJECT);
  uint32_t nl = out.get()->header & CELL_NEW_LINE;
  Cell* e = error::create(category, id, nullptr, nullptr, nullptr);
  Cell made = *e;
  stack::pop(1);
  made.header |= nl;
  *out.get() = made;
  // The error's fields: at first none, then each as it is read.
  for (uint32_t f = error::FIELD_ARG1; f <= error::FIELD_STACK; f++) *error::field(&made, f) = make_none();
  node_t fields = context::record(made.w1)->w2;
  for (uint32_t f = error::FIELD_ARG1; f <= error::FIELD_STACK; f++) read_into(slot{fields, f});
}

// The decoder's entry: the magic, the flags, the optional decompression.
// `fail` reports a missing magic or corrupt compressed data.
template <class Fail>
void run(const uint8_t* data, size_t length, Cell* into, bool codec, Fail fail,
         std::span<const uint32_t> hashes = {}) {
  // The codec's input may be a binary! that moves when decoding allocates:
  // it is read from a copy. A boot pool lies outside the heap and is read
  // where it is.
  std::vector<uint8_t> copy;
  if (codec) {
    copy.assign(data, data + length);
    data = copy.data();
  }
  if (length < HEADER_SIZE || std::memcmp(data, MAGIC, 6) != 0) fail(false);
  uint8_t flags = data[7];
  std::vector<uint8_t> unpacked;
  const uint8_t* start = data;
  size_t size = length;
  size_t skip = HEADER_SIZE;
  if (flags & FLAG_COMPRESSED) {
    uint32_t out_size = 0;
    uint8_t* out = lz_codec::decompress(data + HEADER_SIZE, length - HEADER_SIZE, &out_size);
    if (!out) fail(true);
    unpacked.assign(out, out + out_size);
    lz_codec::free_buffer(out);
    start = unpacked.data();
    size = unpacked.size();
    skip = 0;
  }
  reader r(start, size, skip, codec);
  // A normal image too short for its two counts is no image at all.
  if (!(flags & FLAG_COMPACT) && r.left() < 8) fail(false);
  r.use_hashes(hashes);
  r.open(flags & FLAG_COMPACT, flags & FLAG_SYMBOLS);
  r.read_payload(into);
}

}  // namespace

void decode(const uint8_t* data, size_t length, Cell* into, const Cell* arg) {
  Cell bad = *arg;
  run(data, length, into, true, [&](bool) { fire(err::SCRIPT, err::script::INVALID_DATA, &bad); });
}

std::vector<uint32_t> symbol_hashes(std::span<const uint8_t> image) {
  if (image.size() < HEADER_SIZE || std::memcmp(image.data(), MAGIC, 6) != 0) return {};
  uint8_t flags = image[7];
  if ((flags & FLAG_COMPRESSED) || !(flags & FLAG_SYMBOLS)) return {};
  reader r(image.data(), image.size(), HEADER_SIZE, true);
  r.open(flags & FLAG_COMPACT, true);
  return r.name_hashes();
}

uint32_t boot_load(const uint8_t* data, size_t length, Cell* into, bool keep_cells,
                   std::span<const uint32_t> hashes) {
  // The collector stays off while the pool is decoded, and comes back as it
  // was even when the decoding raises.
  struct collector_off {
    bool was = collector::active;
    collector_off() { collector::active = false; }
    ~collector_off() { collector::active = was; }
  } off;
  uint32_t first = cell_count(into->w2);
  run(data, length, into, false, [](bool compressed) {
    const char* message =
        compressed ? "Error: Kezbin compressed data corrupted!\n" : "Error: Not a Kezbin file!\n";
    platform::before_exit();
    ssize_t n = ::write(STDERR_FILENO, message, std::strlen(message));
    (void)n;
    runtime::exit_process(1);
  }, hashes);
  if (!keep_cells) literal_base = first;
  return first;
}

}  // namespace kez::kezbin
