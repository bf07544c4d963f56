// The KEZBIN writer: one value, with everything it holds, as an image in the
// normal or the compact form.
//
// Invariants:
//  - The writer reads the value through nodes and builds the image in C++
//    buffers; it allocates nothing in the Kez heap until the finished image
//    is copied into a new binary!, so no collection can run while it walks.
//  - Every container numbers the records it holds from 0 (`position`); the
//    path of a record is the stack of enclosing positions plus its own. The
//    first occurrence of a series, object, function or bound context
//    records its path under its node (nodes never move); a later
//    occurrence writes that path instead of its body. The reader rebuilds
//    the same numbering, so the two must change together.
//  - Symbols are numbered in order of first use, through a hash index, so
//    that any number of distinct words encodes in linear time.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "services/kezbin.h"
#include "services/kezbin_format.h"
#include "types/image_backend.h"
#include "types/map.h"
#include "types/tuple.h"
#include "values/bitset.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/object.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::kezbin {

namespace {

// The context a word is written against: 0 for the global context, for no
// context, and for a context whose owner the format cannot hold (none,
// unset, a block, an error or a routine).
node_t word_owner_context(const Cell* w) {
  node_t ctx = w->w1;
  if (!ctx || ctx == context::global_node) return 0;
  uint32_t owner = TYPE_OF(context::owner(ctx));
  return owner == TYPE_OBJECT || owner == TYPE_FUNCTION ? ctx : 0;
}

[[noreturn]] void no_codec(uint32_t type) {
  Cell dt = make_datatype(type);
  fire(err::ACCESS, err::access::NO_CODEC, &dt);
}

// The payload being written: bytes behind a cursor, with one test for room
// per field rather than one per byte.
class byte_sink {
 public:
  size_t size() const { return size_t(cur_ - data_.get()); }
  const uint8_t* data() const { return data_.get(); }
  // The cursor, with room for `n` more bytes behind it; `done` moves it past
  // those written.
  uint8_t* room(size_t n) {
    if (size_t(limit_ - cur_) < n) [[unlikely]] grow(n);
    return cur_;
  }
  void done(uint8_t* at) { cur_ = at; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint8_t* cur_ = nullptr;
  uint8_t* limit_ = nullptr;

  [[gnu::noinline]] void grow(size_t n) {
    size_t used = size();
    size_t capacity = std::max<size_t>({size_t(limit_ - data_.get()) * 2, used + n, 256});
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[capacity]);
    if (used) std::memcpy(bigger.get(), data_.get(), used);
    data_ = std::move(bigger);
    cur_ = data_.get() + used;
    limit_ = data_.get() + capacity;
  }
};

// The nodes written so far, each with the offset of its recorded path:
// open addressing over a power-of-two table, at most half full. Node 0
// marks a free entry; a value over node 0 is kept aside.
class node_index {
 public:
  node_index() : entries_(64) {}
  // The offset recorded for `key`, or -1 after recording `offset` for it.
  int64_t find_or_add(node_t key, uint32_t offset) {
    if (!key) {
      if (zero_ >= 0) return zero_;
      zero_ = offset;
      return -1;
    }
    size_t mask = entries_.size() - 1;
    for (size_t i = (key * 0x9E3779B1u) & mask;; i = (i + 1) & mask) {
      entry& e = entries_[i];
      if (e.key == key) return e.offset;
      if (!e.key) {
        e = {key, offset};
        if (++count_ * 2 > entries_.size()) grow();
        return -1;
      }
    }
  }

 private:
  struct entry {
    node_t key = 0;
    uint32_t offset = 0;
  };
  std::vector<entry> entries_;
  size_t count_ = 0;
  int64_t zero_ = -1;

  void grow() {
    std::vector<entry> old(entries_.size() * 2);
    old.swap(entries_);
    size_t mask = entries_.size() - 1;
    for (const entry& e : old) {
      if (!e.key) continue;
      size_t i = (e.key * 0x9E3779B1u) & mask;
      while (entries_[i].key) i = (i + 1) & mask;
      entries_[i] = e;
    }
  }
};

class writer {
 public:
  explicit writer(bool compact) : compact_(compact) {}

  void write_top(const Cell* value) { write_value(*value); }
  // Boot pools: a global word set to a value; neither leaves a cell, but
  // the value is numbered as the cell after the word's while it is read.
  void write_set_word(const Cell& word, const Cell& value) {
    byte(C_SET_WORD);
    write_record(Cell{TYPE_WORD, context::global_node, word.w2, word.w3});
    position_++;
    write_record(value);
    position_--;
  }
  std::vector<uint8_t> finish();
  // What finish returns, before the payload: the header, counts and symbol
  // table.
  std::vector<uint8_t> front() const;
  const byte_sink& payload() const { return out_; }
  // The symbols of the table by how often the payload names them, the most
  // named first (ties in the table's order).
  std::vector<uint32_t> symbols_by_use() const;
  // Enters `symbols` in the table first, in this order.
  void preset_symbols(const std::vector<uint32_t>& symbols) {
    for (uint32_t sym : symbols) symbol_index(sym);
  }

 private:
  bool compact_;
  byte_sink out_;
  std::vector<uint8_t> strings_;
  std::vector<uint32_t> offsets_;
  std::unordered_map<uint32_t, uint32_t> symbols_;  // symbol id -> index
  std::vector<uint32_t> table_;                     // index -> symbol id
  std::vector<uint32_t> uses_;                      // index -> times named
  std::vector<uint32_t> path_;                      // enclosing positions
  uint32_t position_ = 0;
  std::vector<uint32_t> store_;                     // recorded paths: count, elements
  node_index seen_;                                 // node -> offset in store_

  // Bytes and fields.
  void byte(uint32_t b) {
    uint8_t* p = out_.room(1);
    *p = uint8_t(b);
    out_.done(p + 1);
  }
  void raw32(uint32_t v) {
    uint8_t* p = out_.room(4);
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
    out_.done(p + 4);
  }
  void uvar(uint32_t v) {
    uint8_t* p = out_.room(5);
    while (v >= 0x80) {
      *p++ = uint8_t(v | 0x80);
      v >>= 7;
    }
    *p++ = uint8_t(v);
    out_.done(p);
  }
  void svar(int32_t v) { uvar(zigzag(v)); }
  // A field: a u32 in the normal form, a uvarint (or signed varint) in the
  // compact one.
  void field(uint32_t v) { compact_ ? uvar(v) : raw32(v); }
  void sfield(int32_t v) { compact_ ? svar(v) : raw32(uint32_t(v)); }
  void bytes(const uint8_t* p, size_t n) {
    if (!n) return;
    uint8_t* at = out_.room(n);
    std::memcpy(at, p, n);
    out_.done(at + n);
  }
  // Zero bytes up to a multiple of `alignment` (4 or 8).
  void align(size_t alignment) {
    size_t n = (alignment - out_.size() % alignment) % alignment;
    if (!n) return;
    uint8_t* p = out_.room(n);
    std::memset(p, 0, n);
    out_.done(p + n);
  }
  void pad4() {
    if (!compact_) align(4);
  }

  uint32_t symbol_index(uint32_t sym);

  // Paths.
  void enter() {
    path_.push_back(position_);
    position_ = 0;
  }
  void leave() {
    position_ = path_.back();
    path_.pop_back();
  }
  // The recorded path of a node, or -1; records the current path when new.
  int64_t track(node_t key) {
    int64_t found = seen_.find_or_add(key, uint32_t(store_.size()));
    if (found >= 0) return found;
    store_.push_back(uint32_t(path_.size() + 1));
    store_.insert(store_.end(), path_.begin(), path_.end());
    store_.push_back(position_);
    return -1;
  }
  void write_path(uint32_t offset) {
    uint32_t n = store_[offset];
    if (!compact_) raw32(N_REFERENCE_WORD);
    field(n);
    for (uint32_t i = 1; i <= n; i++) field(store_[offset + i]);
  }

  // Leading byte or header word. `flag` is the compact bit 6; `bits` the
  // normal header bits beyond the type and the new-line marker.
  void lead(const Cell& v, uint32_t type, bool flag, uint32_t bits, bool reference) {
    if (compact_) {
      if (v.header & CELL_NEW_LINE) byte(C_NEW_LINE);
      if (reference) byte(C_REFERENCE);
      byte(type | (flag ? C_FLAG : 0));
    } else {
      raw32(type | bits | (v.header & CELL_NEW_LINE ? N_NEW_LINE : 0) |
            (reference ? N_REFERENCE : 0));
    }
  }

  void write_value(const Cell& v) {
    write_record(v);
    position_++;
  }
  void write_record(const Cell& v);
  void write_double(const Cell& v, uint32_t type);
  void write_series(const Cell& v, uint32_t type);
  void write_text(const Cell& v, uint32_t type, int64_t ref);
  void write_word(const Cell& v, uint32_t type);
  void write_image(const Cell& v);
  void write_context(node_t ctx);
  void write_object(const Cell& v, bool owned);
  void write_function(const Cell& v, bool owned);
  void write_error(const Cell& v);
};

uint32_t writer::symbol_index(uint32_t sym) {
  auto it = symbols_.find(sym);
  if (it != symbols_.end()) {
    uses_[it->second]++;
    return it->second;
  }
  auto index = uint32_t(symbols_.size());
  symbols_.emplace(sym, index);
  table_.push_back(sym);
  uses_.push_back(1);
  std::string name = symbol::to_cstr(sym);
  offsets_.push_back(uint32_t(strings_.size()));
  strings_.insert(strings_.end(), name.begin(), name.end());
  strings_.push_back(0);
  if (!compact_)
    while (strings_.size() % 8) strings_.push_back(0);
  return index;
}

// float!, percent!, time!: the compact form keeps integral values as
// integers (percent! as hundredths); the normal form aligns the record on 8.
void writer::write_double(const Cell& v, uint32_t type) {
  double d = get_float(&v);
  uint64_t bits = std::bit_cast<uint64_t>(d);
  if (compact_) {
    bool negative_zero = d == 0.0 && std::signbit(d);
    if (type == TYPE_PERCENT) {
      if (d >= -PERCENT_LIMIT && d <= PERCENT_LIMIT && !negative_zero) {
        double scaled = d * 100.0 + (d < 0 ? -0.5 : 0.5);
        auto n = int32_t(std::trunc(scaled));
        if (double(n) / 100.0 == d) {
          lead(v, type, true, 0, false);
          svar(n);
          return;
        }
      }
    } else if (d >= -INTEGRAL_LIMIT && d <= INTEGRAL_LIMIT && d == std::trunc(d) &&
               !negative_zero) {
      lead(v, type, true, 0, false);
      svar(int32_t(d));
      return;
    }
    lead(v, type, false, 0, false);
    raw32(uint32_t(bits));
    raw32(uint32_t(bits >> 32));
    return;
  }
  align(8);
  lead(v, type, false, 0, false);
  raw32(uint32_t(bits >> 32));
  raw32(uint32_t(bits));
}

void writer::write_record(const Cell& v) {
  if (platform::stack_exhausted()) fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
  uint32_t type = TYPE_OF(&v);
  switch (type) {
    case TYPE_DATATYPE:
      lead(v, type, false, 0, false);
      field(v.w1);
      return;
    case TYPE_UNSET:
    case TYPE_NONE:
      lead(v, type, false, 0, false);
      return;
    case TYPE_LOGIC:
      if (compact_) {
        byte(v.w1 ? C_TRUE : C_FALSE);  // no prefix may stand before it
      } else {
        lead(v, type, false, 0, false);
        raw32(v.w1 ? 1 : 0);
      }
      return;
    case TYPE_INTEGER: {
      int32_t i = get_integer(&v);
      // A new-line prefix may not stand before the one-byte form.
      if (compact_ && i >= 0 && i < 64 && !(v.header & CELL_NEW_LINE)) {
        byte(C_SMALL_INTEGER + uint32_t(i));
        return;
      }
      lead(v, type, false, 0, false);
      sfield(i);
      return;
    }
    case TYPE_CHAR:
      lead(v, type, false, 0, false);
      field(v.w2);
      return;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      write_double(v, type);
      return;
    case TYPE_PAIR:
      lead(v, type, false, 0, false);
      sfield(int32_t(v.w2));
      sfield(int32_t(v.w3));
      return;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      lead(v, type, false, 0, false);
      raw32(v.w1);
      raw32(v.w2);
      if (type == TYPE_POINT3D) raw32(v.w3);
      return;
    case TYPE_DATE: {
      bool timed = v.w1 & (1u << 16);
      lead(v, type, timed, 0, false);
      raw32(v.w1);
      if (!compact_) {
        raw32(v.w3);
        raw32(v.w2);
      } else if (timed) {
        raw32(v.w2);
        raw32(v.w3);
      }
      return;
    }
    case TYPE_TYPESET: {
      lead(v, type, false, 0, false);
      uint32_t w[3] = {v.w1, v.w2, v.w3};
      if (!compact_) {
        for (uint32_t x : w) raw32(x);
        return;
      }
      uint8_t b[12];
      for (int i = 0; i < 12; i++) b[i] = uint8_t(w[i / 4] >> (8 * (i % 4)));
      uint32_t n = 12;
      while (n > 0 && b[n - 1] == 0) n--;
      byte(n);
      bytes(b, n);
      return;
    }
    case TYPE_TUPLE: {
      uint32_t n = tuple::count(&v);
      const uint8_t* b = tuple::bytes(&v);
      if (compact_) {
        lead(v, type, n != 3, 0, false);
        if (n != 3) byte(n);
        bytes(b, n);
      } else {
        lead(v, type, false, n << N_SUB_SHIFT, false);
        bytes(b, 12);
      }
      return;
    }
    case TYPE_MONEY: {
      bool negative = v.header & MONEY_SIGN;
      lead(v, type, negative, negative ? N_MONEY_NEGATIVE : 0, false);
      bytes(reinterpret_cast<const uint8_t*>(&v) + 4, 12);
      return;
    }
    case TYPE_ISSUE:
      lead(v, type, false, 0, false);
      field(symbol_index(v.w2));
      return;
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
      write_word(v, type);
      return;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_HASH:
    case TYPE_MAP:
    case TYPE_BITSET:
    case TYPE_VECTOR:
    case TYPE_BINARY:
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF:
      write_series(v, type);
      return;
    case TYPE_IMAGE:
      write_image(v);
      return;
    case TYPE_OBJECT:
      write_object(v, false);
      return;
    case TYPE_FUNCTION:
      write_function(v, false);
      return;
    case TYPE_NATIVE:
    case TYPE_ACTION:
      // The spec block takes the native's own path: the native is one value.
      lead(v, type, false, 0, false);
      field(v.w1);
      write_record(make_series(TYPE_BLOCK, v.w2));
      return;
    case TYPE_OP: {
      uint32_t wrapped = (v.header >> OP_TYPE_SHIFT) & 0xFF;
      if (wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION && wrapped != TYPE_FUNCTION)
        no_codec(wrapped);
      lead(v, type, false, wrapped << N_OP_SHIFT, false);
      Cell inner = v;
      inner.header = wrapped;
      write_record(inner);
      return;
    }
    case TYPE_ERROR:
      write_error(v);
      return;
    default:
      no_codec(type);
  }
}

// Series: the head index (compact: only when not 0), then, on a first
// occurrence, everything from the buffer's first element.
void writer::write_series(const Cell& v, uint32_t type) {
  if (string::is_string_type(type) || type == TYPE_BINARY || type == TYPE_VECTOR) {
    write_text(v, type, track(v.w2));
    return;
  }
  int64_t ref = track(v.w2);
  bool reference = ref >= 0;
  if (type == TYPE_MAP || type == TYPE_BITSET) {
    bool complement = type == TYPE_BITSET && bitset::complemented(&v);
    lead(v, type, complement, complement ? N_BITSET_COMPLEMENT : 0, reference);
    if (reference) return write_path(uint32_t(ref));
    series_buffer* b = GET_BUFFER(&v);
    if (type == TYPE_BITSET) {
      field(b->used());
      bytes(b->head_ptr(), b->used());
      pad4();
      return;
    }
    field(map::ks_length(&v) * 2);
    enter();
    uint32_t n = b->used() / sizeof(Cell);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      Cell key = cell_head(GET_BUFFER(&v))[i], value = cell_head(GET_BUFFER(&v))[i + 1];
      if (value.header == 0) continue;  // a removed pair
      write_value(key);
      write_value(value);
    }
    leave();
    return;
  }
  lead(v, type, v.w1 != 0, 0, reference);
  if (!compact_ || v.w1) field(v.w1);
  if (reference) return write_path(uint32_t(ref));
  uint32_t n = GET_BUFFER(&v)->used() / sizeof(Cell);
  field(n);
  enter();
  for (uint32_t i = 0; i < n && i < GET_BUFFER(&v)->used() / sizeof(Cell); i++)
    write_value(cell_head(GET_BUFFER(&v))[i]);
  leave();
}

// Strings, binary! and vector!: raw units from the buffer's first element.
void writer::write_text(const Cell& v, uint32_t type, int64_t ref) {
  bool reference = ref >= 0;
  series_buffer* b = GET_BUFFER(&v);
  uint32_t unit = b->unit();
  uint32_t count = b->used() / unit;
  uint32_t bits = type == TYPE_BINARY ? 1u << N_SUB_SHIFT : unit << N_SUB_SHIFT;
  lead(v, type, v.w1 != 0, bits, reference);
  if (!compact_ || v.w1) field(v.w1);
  if (reference) return write_path(uint32_t(ref));
  if (type == TYPE_VECTOR) {
    if (compact_) {
      byte(v.w3 << 2 | unit_code(unit));
      uvar(count);
    } else {
      raw32(count);
      raw32(v.w3);
    }
  } else if (type == TYPE_BINARY || !compact_) {
    field(count);
  } else {
    uvar(count << 2 | unit_code(unit));
  }
  bytes(b->head_ptr(), b->used());
  pad4();
}

// An image: its size, then its pixels as ARGB words, row after row. An
// image without pixels (node 0, a side of 0) keeps its size and is never
// shared.
void writer::write_image(const Cell& v) {
  int64_t ref = v.w2 ? track(v.w2) : -1;
  lead(v, TYPE_IMAGE, v.w1 != 0, 0, ref >= 0);
  if (!compact_ || v.w1) field(v.w1);
  if (ref >= 0) return write_path(uint32_t(ref));
  uint32_t width = v.w2 ? image_backend::width_of(v.w2) : image_backend::IMAGE_WIDTH(v.w3);
  uint32_t height = v.w2 ? image_backend::height_of(v.w2) : image_backend::IMAGE_HEIGHT(v.w3);
  if (compact_) {
    uvar(width);
    uvar(height);
  } else {
    raw32(image_backend::make_size(width, height));
  }
  if (!v.w2) return;
  image_backend::lock pixels = image_backend::lock_bitmap(v.w2, false);
  for (uint32_t y = 0; y < height; y++) {
    const auto* row = reinterpret_cast<const uint8_t*>(pixels.pixels) + size_t(y) * pixels.stride;
    for (uint32_t x = 0; x < width; x++) raw32(load_u32(row + 4 * size_t(x)));
  }
}

void writer::write_word(const Cell& v, uint32_t type) {
  node_t ctx = word_owner_context(&v);
  if (!ctx) {
    lead(v, type, false, N_GLOBAL_WORD, false);
    field(symbol_index(v.w2));
    if (!compact_) raw32(v.w3);
    return;
  }
  int64_t ref = track(ctx);
  lead(v, type, true, 0, ref >= 0);
  field(symbol_index(v.w2));
  sfield(int32_t(v.w3));
  if (ref >= 0) return write_path(uint32_t(ref));
  // The owner is written here, under the word's own path.
  Cell owner = *context::owner(ctx);
  if (TYPE_OF(&owner) == TYPE_OBJECT) write_object(owner, true);
  else write_function(owner, true);
}

void writer::write_context(node_t ctx) {
  Cell rec = *context::record(ctx);
  uint32_t kind = context::kind(ctx);
  bool stack = rec.header & CONTEXT_ON_STACK;
  bool self = rec.header & CONTEXT_SELF;
  uint32_t n = context::size(ctx);
  bool values = false;
  if (!stack)
    for (uint32_t i = 0; i < n && !values; i++) values = TYPE_OF(context::values(ctx) + i) != TYPE_UNSET;
  if (compact_) {
    byte(TYPE_CONTEXT);
    byte(kind | (stack ? CC_ON_STACK : 0) | (self ? CC_SELF : 0) | (values ? CC_VALUES : 0));
  } else {
    raw32(TYPE_CONTEXT | kind << N_CONTEXT_KIND_SHIFT | (self ? N_CONTEXT_SELF : 0) |
          (stack ? N_CONTEXT_ON_STACK : 0) | (values ? N_CONTEXT_VALUES : 0));
  }
  field(n);
  for (uint32_t i = 0; i < n; i++) field(symbol_index(context::word_at(ctx, i)->w2));
  if (!values) return;
  enter();
  for (uint32_t i = 0; i < n; i++) write_value(context::values(ctx)[i]);
  leave();
}

// An object: its class id, the slots of its change handlers, its context.
// `owned` is set when it is written after a word, whose path it takes.
void writer::write_object(const Cell& v, bool owned) {
  int64_t ref = owned ? -1 : track(v.w1);
  bool handlers = v.w3 != 0;
  lead(v, TYPE_OBJECT, handlers, handlers ? N_ON_CHANGE : 0, ref >= 0);
  if (ref >= 0) return write_path(uint32_t(ref));
  sfield(int32_t(v.w2));
  if (handlers) {
    sfield(int32_t(object::handler_record(&v, 0)));
    sfield(int32_t(object::handler_record(&v, 1)));
  }
  write_context(v.w1);
}

// A function: the lengths of its spec and body, its context, then the spec
// (position 0) and the body (position 1) below its path.
void writer::write_function(const Cell& v, bool owned) {
  int64_t ref = owned ? -1 : track(v.w1);
  lead(v, TYPE_FUNCTION, false, 0, ref >= 0);
  if (ref >= 0) return write_path(uint32_t(ref));
  Cell spec = make_series(TYPE_BLOCK, v.w2);
  Cell body = function::more(&v)[function::MORE_BODY];
  if (TYPE_OF(&body) != TYPE_BLOCK) no_codec(TYPE_ROUTINE);
  field(GET_BUFFER(&spec)->used() / sizeof(Cell));
  field(uint32_t(std::max(block::rs_length(&body), 0)));
  write_context(v.w1);
  enter();
  write_value(spec);
  write_value(body);
  leave();
}

void writer::write_error(const Cell& v) {
  int64_t ref = track(v.w1);
  if (ref >= 0) {
    // A cycle through an error: a standalone reference to its first path.
    if (compact_) byte(C_STANDALONE_REFERENCE);
    write_path(uint32_t(ref));
    return;
  }
  lead(v, TYPE_ERROR, false, 0, false);
  field(uint32_t(get_integer(error::field(&v, error::FIELD_CODE))));
  enter();
  for (uint32_t f = error::FIELD_ARG1; f <= error::FIELD_STACK; f++) write_value(*error::field(&v, f));
  leave();
}

std::vector<uint32_t> writer::symbols_by_use() const {
  std::vector<uint32_t> order(table_.size());
  for (uint32_t i = 0; i < order.size(); i++) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [this](uint32_t a, uint32_t b) { return uses_[a] > uses_[b]; });
  for (uint32_t& i : order) i = table_[i];
  return order;
}

std::vector<uint8_t> writer::finish() {
  std::vector<uint8_t> image = front();
  image.insert(image.end(), out_.data(), out_.data() + out_.size());
  return image;
}

std::vector<uint8_t> writer::front() const {
  std::vector<uint8_t> image(MAGIC, MAGIC + 6);
  image.push_back(VERSION);
  bool symbols = !offsets_.empty();
  auto put32 = [&](uint32_t x) {
    for (int i = 0; i < 4; i++) image.push_back(uint8_t(x >> (8 * i)));
  };
  auto putv = [&](uint32_t x) {
    while (x >= 0x80) {
      image.push_back(uint8_t(x | 0x80));
      x >>= 7;
    }
    image.push_back(uint8_t(x));
  };
  auto put = [&](uint32_t x) { compact_ ? putv(x) : put32(x); };
  image.push_back(uint8_t((compact_ ? FLAG_COMPACT : 0) | (symbols ? FLAG_SYMBOLS : 0)));
  put(1);
  put(uint32_t(out_.size()));
  if (symbols) {
    put(uint32_t(offsets_.size()));
    put(uint32_t(strings_.size()));
    for (uint32_t o : offsets_) put32(o);
    image.insert(image.end(), strings_.begin(), strings_.end());
  }
  return image;
}

}  // namespace

Cell* encode(const Cell* value, bool compact) {
  Cell v = *value;
  writer w(compact);
  w.write_top(&v);
  // The payload goes straight from the writer's buffer into the binary!.
  std::vector<uint8_t> front = w.front();
  const byte_sink& payload = w.payload();
  uint64_t size = uint64_t(front.size()) + payload.size();
  node_t node = memory::alloc_bytes(size);
  series_buffer* b = memory::buffer(node);
  std::memcpy(b->data(), front.data(), front.size());
  if (payload.size()) std::memcpy(b->data() + front.size(), payload.data(), payload.size());
  b->tail = uint32_t(size);
  return stack::push(make_series(TYPE_BINARY, node));
}

std::vector<uint8_t> encode_pool(const Cell* set_words, const Cell* values) {
  Cell pairs = *set_words, top = *values;
  auto write = [&](writer& w) {
    for (int32_t i = 0; i + 1 < block::rs_length(&pairs); i += 2)
      w.write_set_word(block::rs_head(&pairs)[i], block::rs_head(&pairs)[i + 1]);
    for (int32_t i = 0; i < block::rs_length(&top); i++) w.write_top(block::rs_head(&top) + i);
  };
  // Written twice: the second time the symbols the payload names most come
  // first in the table, where their numbers take one byte.
  writer counted(true);
  write(counted);
  writer w(true);
  w.preset_symbols(counted.symbols_by_use());
  write(w);
  return w.finish();
}

}  // namespace kez::kezbin
