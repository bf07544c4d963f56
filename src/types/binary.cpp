// binary!: the datatype's actions and the byte routines the runtime calls.
//
// Every change (insert, append, change, to binary!) first turns its value
// into a byte source: a scalar's bytes, a range of another binary's buffer
// (read through its node after the target grows), or a private copy when
// the bytes come from the target's own buffer, from text, from a block, or
// when the target is owned (the owner's handler may change anything). All
// checks run while building the source, so a refused value leaves the
// target untouched and its owner uninformed.
#include "types/binary.h"

#include <algorithm>
#include <string_view>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "types/image.h"
#include "values/block.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/string.h"
#include "values/support.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::binary {

namespace {

[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }

[[noreturn]] void invalid_arg(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

[[noreturn]] void bad_to(const Cell* value) {
  Cell dt = make_datatype(TYPE_BINARY), v = *value;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

inline uint32_t total_length(const Cell* bin) { return GET_BUFFER(bin)->used(); }
inline uint32_t head_index(const Cell* bin) { return std::min(bin->w1, total_length(bin)); }

inline void check_size(uint64_t bytes) {
  if (bytes > MAX_SERIES_SIZE) no_memory();
}

bool tell(const Cell* s, uint32_t word, const Cell* value, uint64_t index, uint64_t count) {
  if (!(GET_BUFFER(s)->flags & SERIES_OWNED)) return false;
  return ownership::check(s, word, value, int32_t(index), int32_t(count));
}

bool is_block_kind(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

}  // namespace

// --- Making ---------------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity) {
  *cell = make_unset();
  node_t node = memory::alloc_bytes(capacity ? capacity : 16);
  *cell = make_series(TYPE_BINARY, node);
  return cell;
}

Cell* make_in(Cell* block, uint32_t capacity) {
  Cell* made = stack::push_unset();
  make_at(made, capacity);
  Cell* slot = block::rs_append(block, made);
  stack::pop(1);
  return slot;
}

Cell* push_bytes(const uint8_t* bytes, uint32_t n) {
  Cell* made = stack::push_unset();
  make_at(made, n);
  series_buffer* b = GET_BUFFER(made);
  if (n) std::memcpy(b->data(), bytes, n);
  b->tail = n;
  return made;
}

// --- Reading and changing bytes ------------------------------------------------------

uint32_t rs_length(const Cell* bin) {
  uint32_t total = total_length(bin);
  return bin->w1 < total ? total - bin->w1 : 0;
}

uint8_t* rs_head(Cell* bin) {
  series_buffer* b = GET_BUFFER(bin);
  if (bin->w1 > b->used()) bin->w1 = b->used();
  return b->head_ptr() + bin->w1;
}

bool rs_tail_q(const Cell* bin) { return rs_length(bin) == 0; }

void rs_clear(Cell* bin) {
  series_buffer* b = GET_BUFFER(bin);
  if (bin->w1 < b->used()) b->tail = b->head + bin->w1;
}

void rs_append(Cell* bin, const uint8_t* bytes, uint32_t n) {
  check_size(uint64_t(total_length(bin)) + n);
  series_buffer* b = memory::ensure_room(bin->w2, n);
  if (n) std::memcpy(b->tail_ptr(), bytes, n);
  b->tail += n;
}

void rs_insert(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
  uint32_t len = total_length(bin);
  check_size(uint64_t(len) + n);
  uint32_t at = uint32_t(std::min<uint64_t>(uint64_t(head_index(bin)) + offset, len));
  series_buffer* b = memory::ensure_room(bin->w2, n);
  uint8_t* base = b->head_ptr();
  std::memmove(base + at + n, base + at, len - at);
  if (n) std::memcpy(base + at, bytes, n);
  b->tail += n;
}

void rs_overwrite(Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
  uint32_t len = total_length(bin);
  uint32_t at = uint32_t(std::min<uint64_t>(uint64_t(head_index(bin)) + offset, len));
  uint64_t end = uint64_t(at) + n;
  check_size(end);
  series_buffer* b = end > len ? memory::ensure_room(bin->w2, end - len) : GET_BUFFER(bin);
  if (n) std::memcpy(b->head_ptr() + at, bytes, n);
  if (end > len) b->tail = b->head + uint32_t(end);
}

void append_int32(Cell* bin, int32_t value) {
  auto v = uint32_t(value);
  const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  rs_append(bin, bytes, 4);
}

// --- Values as bytes ----------------------------------------------------------------

namespace {

// Counts bytes and, when `out` is given, keeps them.
struct sink {
  std::vector<uint8_t>* out;
  uint64_t count = 0;
  void put(const uint8_t* p, size_t n) {
    if (out) out->insert(out->end(), p, p + n);
    count += n;
  }
};

// The characters from the head as UTF-8, cut to `limit` bytes (-1: all).
void put_text(sink& s, const Cell* text, int64_t limit) {
  series_buffer* b = GET_BUFFER(text);
  uint32_t unit = b->unit();
  uint32_t n = string::rs_length(text);
  const uint8_t* p = b->head_ptr() + uint64_t(text->w1) * unit;
  int64_t left = limit < 0 ? INT64_MAX : limit;
  if (unit == 1 && s.out) s.out->reserve(s.out->size() + std::min<int64_t>(n * 2ull, left));
  uint8_t seq[4];
  for (uint32_t i = 0; i < n && left > 0; i++) {
    uint32_t cp = string::get_char(p + uint64_t(i) * unit, unit);
    int k = cp < 0x80 ? (seq[0] = uint8_t(cp), 1) : unicode::cp_to_utf8(cp, seq);
    if (k > left) k = int(left);
    s.put(seq, size_t(k));
    left -= k;
  }
}

void collect(sink& s, const Cell* value, int32_t part, bool form_others) {
  uint32_t t = TYPE_OF(value);
  switch (t) {
    case TYPE_CHAR: {
      uint32_t cp = value->w2;
      int k = unicode::cp_to_utf8_size(cp);  // raises above 0x10FFFF
      uint8_t seq[4];
      unicode::cp_to_utf8(cp, seq);
      if (part >= 1 && part < k) k = part;
      s.put(seq, size_t(k));
      return;
    }
    case TYPE_INTEGER: {
      int32_t v = get_integer(value);
      if (v < -128 || v > 255) invalid_arg(value);
      uint8_t byte = uint8_t(v);
      s.put(&byte, 1);
      return;
    }
    case TYPE_BINARY: {
      Cell v = *value;
      uint32_t n = rs_length(&v);
      if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
      s.put(GET_BUFFER(&v)->head_ptr() + v.w1, n);
      return;
    }
    case TYPE_TUPLE: {
      uint32_t n = (value->header >> TUPLE_SIZE_SHIFT) & 15;
      if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
      s.put(reinterpret_cast<const uint8_t*>(value) + 4, n);
      return;
    }
    default: break;
  }
  if (string::is_string_type(t)) {
    put_text(s, value, part);
    return;
  }
  Cell* base = stack::top;
  if (is_block_kind(t)) {
    Cell* held = stack::push(*value);
    Cell* item = stack::push_unset();
    cycles::guard level;
    cycles::push(held->w2);  // endless nesting ends in internal too-deep
    int32_t n = block::rs_length(held);
    if (part >= 0 && part < n) n = part;
    for (int32_t i = 0; i < n && i < block::rs_length(held); i++) {
      *item = block::rs_head(held)[i];
      collect(s, item, -1, form_others);
    }
    cycles::pop();
    stack::top = base;
    return;
  }
  if (!form_others) bad_to(value);
  Cell* held = stack::push(*value);
  Cell* text = string::push_new(16);
  actions::form(held, text, 0x7FFFFFFF);
  put_text(s, text, part);
  stack::top = base;
}

// The bytes a change writes, taken before the target changes.
struct byte_source {
  enum kind_t { LOCAL, COPY, SERIES } kind = LOCAL;
  uint8_t local[4];
  std::vector<uint8_t> copy;
  node_t node = 0;      // SERIES: the buffer and the offset from its data
  uint32_t offset = 0;
  uint32_t count = 0;

  const uint8_t* data() const {
    switch (kind) {
      case LOCAL: return local;
      case COPY: return copy.data();
      default: return memory::buffer(node)->data() + offset;
    }
  }
};

void source_of(byte_source& src, const Cell* target, const Cell* value, int32_t part,
               bool form_others) {
  uint32_t t = TYPE_OF(value);
  if (t == TYPE_INTEGER) {
    int32_t v = get_integer(value);
    if (v < -128 || v > 255) invalid_arg(value);
    src.local[0] = uint8_t(v);
    src.count = 1;
    return;
  }
  if (t == TYPE_CHAR && value->w2 < 0x80) {
    src.local[0] = uint8_t(value->w2);
    src.count = 1;
    return;
  }
  bool shared = t == TYPE_BINARY && value->w2 == target->w2;
  bool owned = GET_BUFFER(target)->flags & SERIES_OWNED;
  if (t == TYPE_BINARY && !shared && !owned) {
    Cell v = *value;
    uint32_t n = rs_length(&v);
    if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
    src.kind = byte_source::SERIES;
    src.node = v.w2;
    src.offset = GET_BUFFER(&v)->head + v.w1;
    src.count = n;
    return;
  }
  src.kind = byte_source::COPY;
  sink s{&src.copy};
  collect(s, value, part, form_others);
  check_size(s.count);
  src.count = uint32_t(s.count);
}

}  // namespace

uint64_t get_bytes(std::vector<uint8_t>* out, const Cell* value, int32_t part, bool form_others) {
  sink s{out};
  collect(s, value, part, form_others);
  return s.count;
}

// --- Comparison ---------------------------------------------------------------------

namespace {

bool is_equality(int32_t op) {
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND:
    case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD:
      return true;
    default: return false;
  }
}

}  // namespace

int32_t compare_bytes(const Cell* a_in, const Cell* b_in, int32_t op, bool match) {
  Cell a = *a_in, b = *b_in;
  uint32_t bt = TYPE_OF(&b);
  if (bt != TYPE_BINARY && !string::is_string_type(bt)) return -2;
  if (op == COMP_SAME) return a.w2 == b.w2 && a.w1 == b.w1 ? 0 : -1;
  bool equality = is_equality(op);
  if (equality && !match && a.w2 == b.w2 && a.w1 == b.w1) return 0;
  uint32_t la = rs_length(&a);
  uint32_t lb = bt == TYPE_BINARY ? rs_length(&b) : string::rs_length(&b);
  uint32_t n;
  if (match) {
    if (lb == 0) return op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND ? 0 : 1;
    if (la < lb) return 1;
    n = lb;
  } else {
    if (equality && la != lb) return 1;
    n = std::min(la, lb);
  }
  const uint8_t* pa = GET_BUFFER(&a)->head_ptr() + a.w1;
  series_buffer* bb = GET_BUFFER(&b);
  uint32_t unit = bb->unit();
  const uint8_t* pb = bb->head_ptr() + uint64_t(b.w1) * unit;
  if (unit == 1) {
    int r = n ? std::memcmp(pa, pb, n) : 0;
    if (r) return r < 0 ? -1 : 1;
  } else {
    // Wider text: each byte against a character's code point.
    for (uint32_t i = 0; i < n; i++) {
      uint32_t x = pa[i], y = string::get_char(pb + uint64_t(i) * unit, unit);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  if (match) return 0;
  return la == lb ? 0 : la < lb ? -1 : 1;
}

bool match_q(const Cell* bin, const Cell* value, int32_t op) {
  uint32_t t = TYPE_OF(value);
  if (t == TYPE_BINARY || string::is_string_type(t)) return compare_bytes(bin, value, op, true) == 0;
  if (t == TYPE_CHAR) return !rs_tail_q(bin) && GET_BUFFER(bin)->head_ptr()[bin->w1] == value->w2;
  return false;
}

bool match_bitset_q(const Cell* bin, const Cell* bitset) {
  if (rs_tail_q(bin)) return false;
  uint32_t byte = GET_BUFFER(bin)->head_ptr()[bin->w1];
  series_buffer* bits = GET_BUFFER(bitset);
  if ((byte >> 3) >= bits->used()) return (bits->flags & SERIES_COMPLEMENT) != 0;
  return (bits->head_ptr()[byte >> 3] & (0x80 >> (byte & 7))) != 0;
}

// --- Actions --------------------------------------------------------------------------

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool flat, int32_t part,
             int32_t indent) {
  Cell v = *value;
  uint32_t n = rs_length(&v);
  std::string text;
  int64_t budget = part;
  auto new_line = [&](int32_t levels) {
    if (flat) return;
    text += '\n';
    text.append(size_t(std::max(levels, 0)) * 4, ' ');
    budget -= 1 + 4 * int64_t(std::max(levels, 0));
  };
  if (!only) {
    text += "#{";
    budget -= 2;
  }
  bool long_form = n > 30;
  if (long_form) new_line(indent + 1);
  text.reserve(text.size() + std::min<uint64_t>(n, uint64_t(std::max<int64_t>(budget, 0))) * 2 + 8);
  // Nothing below allocates in a series frame: the address stays valid.
  const uint8_t* bytes = GET_BUFFER(&v)->head_ptr() + v.w1;
  for (uint32_t i = 0; i < n && budget > 0; i++) {
    uint8_t byte = bytes[i];
    text += HEX[byte >> 4];
    text += HEX[byte & 15];
    budget -= 2;
    if ((i + 1) % 32 == 0) new_line(indent + 1);
  }
  if (long_form && n % 32 != 0) new_line(indent);
  if (!only) text += '}';
  string::append_literal(out, text);
  return int32_t(std::max<int64_t>(budget, INT32_MIN));
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return mold(value, out, false, false, false, part, 0);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_BINARY) return -2;
  return compare_bytes(a, b, op, false);
}

// Out of line, so that the one-byte path of append needs no frame.
[[gnu::noinline]] Cell* insert_bytes(Cell* series, Cell* value, int32_t part, int32_t dup,
                                     bool append) {
  if (dup < 1) dup = 1;
  byte_source src;
  source_of(src, series, value, part, false);
  uint64_t n = src.count;
  if (n == 0) {
    series->w1 = append ? 0 : head_index(series);
    return series;
  }
  uint64_t total = n * uint64_t(dup);
  check_size(total);
  check_size(uint64_t(total_length(series)) + total);
  uint32_t len = total_length(series);
  uint32_t head = head_index(series);
  uint32_t at = append || head == len ? len : head;
  bool owned = tell(series, words::append, value, at, 0);
  if (owned) {
    // The owner's handler may have changed the target.
    len = total_length(series);
    at = std::min(at, len);
    check_size(uint64_t(len) + total);
  }
  series_buffer* b = memory::ensure_room(series->w2, total);
  uint8_t* base = b->head_ptr();
  if (at < len) std::memmove(base + at + total, base + at, len - at);
  std::memcpy(base + at, src.data(), n);
  if (dup > 1) support::repeat_fill(base + at, n, uint32_t(dup));
  b->tail += uint32_t(total);
  if (owned) tell(series, words::appended, value, at, total);
  series->w1 = append ? 0 : at + uint32_t(total);
  return series;
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  return insert_bytes(series, value, part, dup, false);
}

Cell* append(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  // One byte (an integer! in byte range, an ASCII char!) into a buffer with
  // room and no owner: stored at once, since nothing grows or allocates.
  uint32_t t = TYPE_OF(value);
  if (dup == 1 && (t == TYPE_INTEGER || t == TYPE_CHAR)) [[likely]] {
    int64_t v = t == TYPE_INTEGER ? get_integer(value) : value->w2 < 0x80 ? value->w2 : 256;
    series_buffer* b = GET_BUFFER(series);
    if (v >= -128 && v <= 255 && !(b->flags & SERIES_OWNED) && b->tail < b->size &&
        b->used() < MAX_SERIES_SIZE) {
      *b->tail_ptr() = uint8_t(v);
      b->tail++;
      series->w1 = 0;
      return series;
    }
  }
  return insert_bytes(series, value, part, dup, true);
}

Cell* change(Cell* series, Cell* value, int32_t part, bool, int32_t dup) {
  if (dup < 1) dup = 1;
  byte_source src;
  source_of(src, series, value, -1, true);
  uint64_t n = src.count;
  uint64_t inserted = n * uint64_t(dup);
  check_size(inserted);
  uint32_t len = total_length(series);
  uint32_t head = head_index(series);
  uint64_t replaced = std::min<uint64_t>(part >= 0 ? uint64_t(part) : inserted, len - head);
  check_size(uint64_t(len) - replaced + inserted);
  bool owned = tell(series, words::change, value, head, replaced);
  if (owned) {
    len = total_length(series);
    head = head_index(series);
    replaced = std::min<uint64_t>(part >= 0 ? uint64_t(part) : inserted, len - head);
    check_size(uint64_t(len) - replaced + inserted);
  }
  series_buffer* b = inserted > replaced ? memory::ensure_room(series->w2, inserted - replaced)
                                         : GET_BUFFER(series);
  uint8_t* base = b->head_ptr();
  std::memmove(base + head + inserted, base + head + replaced, len - head - replaced);
  if (n) {
    std::memcpy(base + head, src.data(), n);
    if (dup > 1) support::repeat_fill(base + head, n, uint32_t(dup));
  }
  b->tail = b->head + uint32_t(len - replaced + inserted);
  if (owned) tell(series, words::changed, value, head, inserted);
  series->w1 = head + uint32_t(inserted);
  return series;
}

// The bytes a /with argument names, as a 256-entry table.
void trim_set(const Cell* with, bool remove[256]) {
  if (!with) {
    remove[0] = true;
    return;
  }
  uint32_t t = TYPE_OF(with);
  if (t == TYPE_CHAR || t == TYPE_INTEGER) {
    if (with->w2 < 256) remove[with->w2] = true;
    return;
  }
  if (t == TYPE_BINARY) {
    Cell w = *with;
    const uint8_t* p = GET_BUFFER(&w)->head_ptr() + w.w1;
    for (uint32_t i = 0, n = rs_length(&w); i < n; i++) remove[p[i]] = true;
    return;
  }
  if (!string::is_string_type(t)) invalid_arg(with);
  Cell w = *with;
  for (uint32_t i = 0, n = string::rs_length(&w); i < n; i++) {
    uint32_t c = string::rs_abs_at(&w, w.w1 + i);
    if (c < 256) remove[c] = true;
  }
}

Cell* trim(Cell* series, const trim_options& o) {
  if (o.automatic || o.lines) fire(err::INTERNAL, err::internal::NOT_DONE);
  uint32_t len = total_length(series);
  uint32_t head = head_index(series);
  series_buffer* b = GET_BUFFER(series);
  uint8_t* base = b->head_ptr();
  uint32_t w = head;
  if (o.all || o.with) {
    bool remove[256] = {};
    trim_set(o.with, remove);
    for (uint32_t r = head; r < len; r++) {
      if (!remove[base[r]]) base[w++] = base[r];
    }
  } else {
    uint32_t a = head, z = len;
    if (o.head || !o.tail) {
      while (a < z && base[a] == 0) a++;
    }
    if (o.tail || !o.head) {
      while (z > a && base[z - 1] == 0) z--;
    }
    std::memmove(base + head, base + a, z - a);
    w = head + (z - a);
  }
  b->tail = b->head + w;
  series->w1 = head;
  tell(series, words::trim, &none_value, head, w - head);
  return series;
}

Cell* bitwise(Cell* a, Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_BINARY) invalid_arg(b);
  uint32_t la = rs_length(a), lb = rs_length(b);
  uint32_t longest = std::max(la, lb), shortest = std::min(la, lb);
  Cell* result = stack::push_unset();
  make_at(result, longest);
  const uint8_t* pa = GET_BUFFER(a)->head_ptr() + a->w1;
  const uint8_t* pb = GET_BUFFER(b)->head_ptr() + b->w1;
  series_buffer* rb = GET_BUFFER(result);
  uint8_t* out = rb->data();
  for (uint32_t i = 0; i < shortest; i++) {
    out[i] = op == OP_AND ? pa[i] & pb[i] : op == OP_OR ? pa[i] | pb[i] : pa[i] ^ pb[i];
  }
  const uint8_t* rest = la > lb ? pa : pb;
  for (uint32_t i = shortest; i < longest; i++) out[i] = op == OP_AND ? 0 : rest[i];
  rb->tail = longest;
  *a = *result;
  stack::pop(1);
  return a;
}

Cell* and_t(Cell* a, Cell* b) { return bitwise(a, b, OP_AND); }
Cell* or_t(Cell* a, Cell* b) { return bitwise(a, b, OP_OR); }
Cell* xor_t(Cell* a, Cell* b) { return bitwise(a, b, OP_XOR); }

Cell* complement(Cell* a) {
  uint8_t* p = rs_head(a);
  for (uint32_t i = 0, n = rs_length(a); i < n; i++) p[i] = uint8_t(~p[i]);
  return a;
}

// --- to binary! ---------------------------------------------------------------------

// The cell made a new binary! holding the bytes.
void make_from(Cell* cell, const uint8_t* bytes, uint32_t n) {
  make_at(cell, n);
  series_buffer* b = GET_BUFFER(cell);
  if (n) std::memcpy(b->data(), bytes, n);
  b->tail = n;
}

Cell* to(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell* spec = stack::push(*spec_in);
  uint32_t t = TYPE_OF(spec);
  switch (t) {
    case TYPE_INTEGER: {
      auto v = uint32_t(get_integer(spec));
      const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
      make_from(proto, bytes, 4);
      break;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      auto v = std::bit_cast<uint64_t>(get_float(spec));
      uint8_t bytes[8];
      for (int i = 0; i < 8; i++) bytes[i] = uint8_t(v >> (56 - 8 * i));
      make_from(proto, bytes, 8);
      break;
    }
    case TYPE_ISSUE: {
      std::string_view name = symbol::to_cstr(spec->w2);
      std::vector<uint8_t> bytes(decoded_size(16, name.size()) + 1);
      int64_t n = debase_16(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()),
                            1, bytes.data());
      if (n < 0) fire(err::SCRIPT, err::script::INVALID_DATA, spec);
      make_from(proto, bytes.data(), uint32_t(n));
      break;
    }
    case TYPE_BITSET: {
      series_buffer* b = GET_BUFFER(spec);
      std::vector<uint8_t> bytes(b->head_ptr(), b->tail_ptr());
      make_from(proto, bytes.data(), uint32_t(bytes.size()));
      break;
    }
    case TYPE_BINARY: {
      uint32_t head = head_index(spec);
      *proto = make_unset();
      node_t node = series::copy_range(spec, head, rs_length(spec));
      *proto = make_series(TYPE_BINARY, node);
      break;
    }
    case TYPE_IMAGE:
      image::extract_data(spec, image::DATA_ARGB, proto);
      break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      make_at(proto, 16);
      insert_bytes(proto, spec, -1, 1, true);
      break;
    default: {
      if (t != TYPE_CHAR && t != TYPE_TUPLE && !string::is_string_type(t)) bad_to(spec);
      std::vector<uint8_t> bytes;
      get_bytes(&bytes, spec, -1, false);
      check_size(bytes.size());
      make_from(proto, bytes.data(), uint32_t(bytes.size()));
    }
  }
  stack::top = spec;
  return proto;
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.set_path = UNSUPPORTED;
  r.compare = compare;
  r.and_t = and_t;
  r.complement = complement;
  r.or_t = or_t;
  r.xor_t = xor_t;
  r.append = append;
  r.change = change;
  r.insert = insert;
  r.put = UNSUPPORTED;
  r.trim = trim;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_BINARY, TYPE_STRING, "binary!", ROW); }

}  // namespace kez::binary
