// Strings: the character primitives and the actions of string! that change
// text (make, to, append, insert, change, swap, take, trim, path access,
// compare).
//
// Every change goes through `splice`, which replaces a range of a buffer by
// copies of a source range in one step: it takes the source's characters
// before it widens or grows anything (a source in the same buffer is copied
// aside first), so appending a string to itself or inserting it into itself
// reads the old text. Buffers are re-read through their node after every call
// that may allocate. Checks that can fail run before the first change.
#include "values/string.h"

#include <algorithm>
#include <vector>

#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::string {

namespace {

// Characters in a buffer (a shift for the text units, which are the common case).
inline uint32_t buffer_chars(series_buffer* b) {
  uint32_t unit = b->unit();
  return unit == 1 ? b->used() : unit == 2 ? b->used() >> 1 : b->used() / unit;
}

inline bool is_unit(uint32_t unit) { return unit == 1 || unit == 2 || unit == 4; }
inline void check_unit(uint32_t unit) {
  if (!is_unit(unit)) unicode::bad_unit();
}

[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }

}  // namespace

// --- Making ------------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity, uint32_t unit) {
  *cell = make_unset();
  node_t node = memory::alloc_codepoints(capacity, unit);
  *cell = make_series(TYPE_STRING, node);
  return cell;
}

Cell* push_new(uint32_t capacity) {
  Cell* c = stack::push_unset();
  return make_at(c, capacity, 1);
}

Cell* push(const Cell* s) { return stack::push(s); }

Cell* load_at(const char* bytes, uint32_t length, Cell* cell, uint32_t type) {
  *cell = make_unset();
  node_t node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(bytes), length);
  *cell = make_series(type, node);
  return cell;
}

Cell* load(std::string_view utf8) {
  Cell* c = stack::push_unset();
  return load_at(utf8.data(), uint32_t(utf8.size()), c);
}

Cell* load_in(std::string_view utf8, Cell* block) {
  Cell* s = load(utf8);
  Cell* slot = block::rs_append(block, s);
  stack::pop(1);
  return slot;
}

// --- Reading -----------------------------------------------------------------

uint32_t rs_length(const Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t n = buffer_chars(b);
  return s->w1 < n ? n - s->w1 : 0;
}

uint32_t rs_abs_length(const Cell* s) { return buffer_chars(GET_BUFFER(s)); }

uint8_t* rs_head(Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t n = buffer_chars(b);
  if (s->w1 > n) s->w1 = n;
  return b->head_ptr() + uint64_t(s->w1) * b->unit();
}

uint8_t* rs_tail(const Cell* s) { return GET_BUFFER(s)->tail_ptr(); }
bool rs_tail_q(const Cell* s) { return rs_length(s) == 0; }

bool rs_skip(Cell* s, int32_t n) {
  uint32_t total = rs_abs_length(s);
  int64_t at = int64_t(std::min(s->w1, total)) + n;
  if (at < 0) at = 0;
  if (at > int64_t(total)) return true;
  s->w1 = uint32_t(at);
  return uint32_t(at) == total;
}

uint32_t rs_abs_at(const Cell* s, uint32_t index) {
  series_buffer* b = GET_BUFFER(s);
  return get_char(b->head_ptr() + uint64_t(index) * b->unit(), b->unit());
}

void rs_reset(Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
  b->tail = b->head;
  s->w1 = 0;
}

std::string to_utf8(const Cell* s, int32_t limit) {
  std::string out;
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t n = rs_length(s);
  if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
  const uint8_t* p = b->head_ptr() + uint64_t(s->w1) * unit;
  out.reserve(n);
  uint8_t seq[4];
  for (uint32_t i = 0; i < n; i++) {
    uint32_t cp = get_char(p + uint64_t(i) * unit, unit);
    if (cp < 0x80) {
      out.push_back(char(cp));
      continue;
    }
    int len = unicode::cp_to_utf8(cp, seq);
    out.append(reinterpret_cast<char*>(seq), size_t(len));
  }
  return out;
}

int32_t find_char(const Cell* s, uint32_t cp) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t n = rs_length(s);
  const uint8_t* p = b->head_ptr() + uint64_t(s->w1) * unit;
  for (uint32_t i = 0; i < n; i++) {
    if (get_char(p + uint64_t(i) * unit, unit) == cp) return int32_t(i);
  }
  return -1;
}

bool has_char(const Cell* s, uint32_t cp, uint32_t skip, bool case_sensitive) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t n = rs_length(s);
  if (skip == 0) skip = 1;
  const uint8_t* p = b->head_ptr() + uint64_t(s->w1) * unit;
  if (!case_sensitive) cp = case_folding::to_upper(cp);
  for (uint32_t i = 0; i < n; i += skip) {
    uint32_t c = get_char(p + uint64_t(i) * unit, unit);
    if (!case_sensitive) c = case_folding::to_upper(c);
    if (c == cp) return true;
  }
  return false;
}

bool match_c_string(const Cell* s, std::string_view bytes) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  if (rs_length(s) < bytes.size()) return false;
  const uint8_t* p = b->head_ptr() + uint64_t(s->w1) * unit;
  for (size_t i = 0; i < bytes.size(); i++) {
    if (get_char(p + i * unit, unit) != uint8_t(bytes[i])) return false;
  }
  return true;
}

// --- Changing characters ---------------------------------------------------------

series_buffer* widen(series_buffer* b, uint32_t, uint32_t to) {
  if (to != 2 && to != 4) unicode::bad_unit();
  return unicode::widen(b->node, to);
}

namespace {
series_buffer* ensure_unit(node_t node, uint32_t unit) {
  series_buffer* b = memory::buffer(node);
  check_unit(b->unit());
  if (b->unit() < unit) b = unicode::widen(node, unit);
  return b;
}
}  // namespace

series_buffer* append_char(node_t node, uint32_t cp) {
  series_buffer* b = ensure_unit(node, unit_for_append(cp));
  if (b->tail + b->unit() > b->size) b = memory::ensure_room(node, b->unit());
  put_char(b->tail_ptr(), b->unit(), cp);
  b->tail += b->unit();
  return b;
}

series_buffer* overwrite_char(node_t node, uint32_t index, uint32_t cp) {
  series_buffer* b = ensure_unit(node, unit_for_store(cp));
  uint32_t unit = b->unit();
  uint64_t end = (uint64_t(index) + 1) * unit;
  if (uint64_t(b->head) + end > b->size) {
    b = memory::ensure_room(node, uint64_t(b->head) + end - b->tail);
  }
  put_char(b->head_ptr() + uint64_t(index) * unit, unit, cp);
  if (uint64_t(b->head) + end > b->tail) b->tail = uint32_t(b->head + end);
  return b;
}

series_buffer* insert_char(node_t node, uint32_t index, uint32_t cp) {
  series_buffer* b = ensure_unit(node, unit_for_store(cp));
  b = memory::ensure_room(node, b->unit());
  uint32_t unit = b->unit();
  index = std::min(index, buffer_chars(b));
  uint8_t* at = b->head_ptr() + uint64_t(index) * unit;
  std::memmove(at + unit, at, size_t(b->tail_ptr() - at));
  put_char(at, unit, cp);
  b->tail += unit;
  return b;
}

series_buffer* poke_char(node_t node, uint32_t byte_offset, uint32_t cp) {
  series_buffer* b = memory::buffer(node);
  uint32_t unit = b->unit();
  check_unit(unit);
  uint32_t need = unit_for_store(cp);
  if (need > unit) {
    uint32_t index = byte_offset / unit;
    b = unicode::widen(node, need);
    unit = need;
    byte_offset = index * unit;
  }
  put_char(b->head_ptr() + byte_offset, unit, cp);
  return b;
}

void remove_chars(Cell* s, uint32_t index, uint32_t n) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t total = buffer_chars(b);
  if (index >= total) return;
  n = std::min(n, total - index);
  uint8_t* at = b->head_ptr() + uint64_t(index) * unit;
  std::memmove(at, at + uint64_t(n) * unit, size_t(b->tail_ptr() - at - uint64_t(n) * unit));
  b->tail -= n * unit;
}

void truncate_at(node_t node, uint32_t index) {
  series_buffer* b = memory::buffer(node);
  uint64_t off = b->head + uint64_t(index) * b->unit();
  if (off < b->tail) b->tail = uint32_t(off);
}

void swap_parts(uint8_t* at, uint32_t a, uint32_t b) { std::rotate(at, at + a, at + a + b); }

// --- Splicing ----------------------------------------------------------------------

namespace {

// Characters to write: `count` characters of a buffer from an absolute index,
// or (node 0) the code point `cp` once, needing `unit`.
struct text_source {
  node_t node = 0;
  uint32_t index = 0;
  uint32_t count = 0;
  uint32_t cp = 0;
  uint32_t unit = 1;
};

text_source source_of(const Cell* value, int32_t part) {
  Cell v = *value;
  text_source s;
  if (TYPE_OF(&v) == TYPE_CHAR) {
    s.cp = v.w2;
    s.count = 1;
    s.unit = unit_for_append(s.cp);
    return s;
  }
  if (TYPE_OF(&v) == TYPE_SYMBOL) v = make_series(TYPE_STRING, v.w2);
  s.node = v.w2;
  series_buffer* b = memory::buffer(s.node);
  s.unit = b->unit();
  check_unit(s.unit);
  uint32_t total = buffer_chars(b);
  s.index = std::min(v.w1, total);
  s.count = total - s.index;
  if (part >= 0 && uint32_t(part) < s.count) s.count = uint32_t(part);
  return s;
}

// Replaces `removed` characters at absolute index `at` of the target by
// `dup` copies of the source; returns the number of characters written.
uint32_t splice(Cell* target, uint32_t at, uint32_t removed, const text_source& src,
                uint32_t dup) {
  node_t tn = target->w2;
  series_buffer* t = memory::buffer(tn);
  uint32_t tunit = t->unit();
  check_unit(tunit);
  uint32_t total = buffer_chars(t);
  at = std::min(at, total);
  removed = std::min(removed, total - at);
  uint64_t ins = uint64_t(src.count) * dup;
  if (ins > 0x7FFFFFFF) no_memory();
  uint32_t nu = std::max(tunit, src.unit);
  uint64_t new_total = uint64_t(total) - removed + ins;
  if (new_total * nu > MAX_SERIES_SIZE) no_memory();
  if (ins == 0 && removed == 0) return 0;

  // A source in the target's own buffer is read before anything moves.
  std::vector<uint8_t> aside;
  if (src.node && src.node == tn && src.count) {
    const uint8_t* p = t->head_ptr() + uint64_t(src.index) * src.unit;
    aside.assign(p, p + uint64_t(src.count) * src.unit);
  }
  if (nu > tunit) t = unicode::widen(tn, nu);
  uint64_t needed = uint64_t(t->head) + new_total * nu;
  if (needed > t->size) {
    uint64_t want = new_total * nu;
    uint64_t grown = std::max<uint64_t>(want, uint64_t(t->size) * 2);
    grown = std::min<uint64_t>(grown, MAX_SERIES_SIZE);
    t = memory::expand_series(t, std::max<uint64_t>(grown, 16));
  }
  uint8_t* data = t->head_ptr();
  uint64_t rest = uint64_t(total - at - removed) * nu;
  if (ins != removed) std::memmove(data + (at + ins) * nu, data + (uint64_t(at) + removed) * nu, rest);
  uint8_t* to = data + uint64_t(at) * nu;
  if (src.count) {
    if (!src.node) {
      if (nu == 1) std::memset(to, int(src.cp), ins);
      else for (uint64_t i = 0; i < ins; i++) put_char(to + i * nu, nu, src.cp);
    } else {
      const uint8_t* from = aside.empty()
                                ? memory::buffer(src.node)->head_ptr() + uint64_t(src.index) * src.unit
                                : aside.data();
      uint64_t one = uint64_t(src.count) * nu;
      if (src.unit == nu) {
        std::memcpy(to, from, one);
      } else {
        for (uint32_t i = 0; i < src.count; i++) {
          put_char(to + uint64_t(i) * nu, nu, get_char(from + uint64_t(i) * src.unit, src.unit));
        }
      }
      for (uint32_t k = 1; k < dup; k++) std::memcpy(to + k * one, to, one);
    }
  }
  t->tail = uint32_t(t->head + new_total * nu);
  return uint32_t(ins);
}

}  // namespace

void move_chars(Cell* source, Cell* target, uint32_t n) {
  Cell src = *source;
  text_source s = source_of(&src, int32_t(std::min<uint32_t>(n, 0x7FFFFFFF)));
  if (!s.count) return;
  uint32_t at = std::min(target->w1, rs_abs_length(target));
  uint32_t from = s.index;
  splice(target, at, 0, s, 1);
  // Inserting in front of the source's own characters moved them up.
  if (target->w2 == src.w2 && at <= from) from += s.count;
  remove_chars(&src, from, s.count);
}

// --- Appending text ------------------------------------------------------------------

int32_t append_literal(Cell* out, std::string_view text) {
  node_t node = out->w2;
  bool ascii = true;
  for (unsigned char c : text) ascii &= c < 0x80;
  if (!ascii) {
    // A Latin-1 byte may widen the string: take it a character at a time.
    for (unsigned char c : text) append_char(node, c);
    return int32_t(text.size());
  }
  // ASCII fits every unit, so the run goes in with one check for room.
  series_buffer* b = memory::buffer(node);
  uint32_t unit = b->unit();
  check_unit(unit);
  uint64_t bytes = uint64_t(text.size()) * unit;
  if (b->tail + bytes > b->size) b = memory::ensure_room(node, bytes);
  uint8_t* to = b->tail_ptr();
  if (unit == 1) {
    std::memcpy(to, text.data(), text.size());
  } else {
    for (size_t i = 0; i < text.size(); i++) put_char(to + i * unit, unit, uint8_t(text[i]));
  }
  b->tail += uint32_t(bytes);
  return int32_t(text.size());
}

int32_t append_utf8(Cell* out, std::string_view utf8) {
  const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const uint8_t* end = p + utf8.size();
  int32_t count = 0;
  while (p < end) {
    int32_t cp;
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    append_char(out->w2, cp < 0 ? 0xFFFD : uint32_t(cp));
    count++;
  }
  return count;
}

int32_t append_string(Cell* out, const Cell* source, int32_t part) {
  uint32_t before = rs_abs_length(out);
  concatenate(out, source, part, 0, true, 0);
  return int32_t(rs_abs_length(out) - before);
}

void append_c_string(Cell* out, const char* bytes) {
  for (; *bytes; bytes++) append_char(out->w2, uint8_t(*bytes));
}

void append_bytes(Cell* out, const uint8_t* bytes, uint32_t n) {
  // The bytes may lie in a buffer that appending moves: copy them aside.
  std::vector<uint8_t> copy(bytes, bytes + n);
  for (uint8_t c : copy) append_char(out->w2, c);
}

series_buffer* concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                           bool keep_source, int mode) {
  Cell src = *source;
  if (TYPE_OF(&src) == TYPE_SYMBOL) {
    src = make_series(TYPE_STRING, src.w2);
    keep_source = true;
  }
  node_t tn = target->w2;
  series_buffer* t = memory::buffer(tn);
  // Widening the source first lets the copy be a plain block move.
  if (!keep_source && src.w2 != tn && GET_UNIT(&src) < t->unit()) widen(GET_BUFFER(&src), 0, t->unit());
  text_source s = source_of(&src, part);
  if (!s.count) return memory::buffer(tn);
  uint32_t total = buffer_chars(t);
  uint32_t at = mode == 0 ? total : std::min<uint64_t>(uint64_t(target->w1) + offset, total);
  uint32_t removed = mode == 2 ? std::min(s.count, total - at) : 0;
  splice(target, at, removed, s, 1);
  return memory::buffer(tn);
}

void cut_to(Cell* s, int32_t limit) {
  if (limit < 0) return;
  if (rs_length(s) > uint32_t(limit)) truncate_at(s->w2, s->w1 + uint32_t(limit));
}

// --- Numbers as text ------------------------------------------------------------------

const char* to_hex(int32_t value, bool short_form) {
  static char text[9];
  static const char digits[] = "0123456789ABCDEF";
  auto v = uint32_t(value);
  for (int i = 7; i >= 0; i--, v >>= 4) text[i] = digits[v & 15];
  text[8] = 0;
  if (!short_form) return text;
  if (value == 0) return "00";
  int first = 0;
  while (first < 7 && text[first] == '0') first++;
  return text + first;
}

const char* byte_to_hex(uint8_t byte) {
  static char text[3];
  static const char digits[] = "0123456789ABCDEF";
  text[0] = digits[byte >> 4];
  text[1] = digits[byte & 15];
  text[2] = 0;
  return text;
}

double to_float(const char* bytes, uint32_t length) {
  return dtoa::strtod(bytes, bytes + length, 0, nullptr);
}

// --- Actions -------------------------------------------------------------------------------

namespace {

// Appends the text of `value` at the target's tail as `append` reads it:
// text values by their characters, a char! as one character, a tag! between
// angle brackets, a block's values formed one after another, anything else
// formed. `part` (-1 for all) counts block values, or characters with /only
// and for text; returns nothing, the caller measures.
void append_value(Cell* target, const Cell* value_in, int32_t part, bool only) {
  Cell value = *value_in;
  uint32_t vt = TYPE_OF(&value);
  if (is_text_value(vt)) {
    text_source s = source_of(&value, part);
    splice(target, rs_abs_length(target), 0, s, 1);
    return;
  }
  switch (vt) {
    case TYPE_CHAR:
      append_char(target->w2, value.w2);
      return;
    case TYPE_TAG: {
      int64_t left = part < 0 ? INT64_MAX : part;
      if (left-- > 0) append_char(target->w2, '<');
      if (left > 0) left -= append_string(target, &value, int32_t(std::min<int64_t>(left, 0x7FFFFFFF)));
      if (left > 0) append_char(target->w2, '>');
      return;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell* held = stack::push(value);
      Cell* item = stack::push_unset();
      uint32_t start = rs_abs_length(target);
      for (int32_t i = 0; i < block::rs_length(held); i++) {
        if (part >= 0 && !only && i >= part) break;
        *item = block::rs_head(held)[i];
        if (part >= 0 && only) {
          int64_t left = int64_t(part) - (rs_abs_length(target) - start);
          if (left <= 0) break;
          uint32_t before = rs_abs_length(target);
          actions::form(item, target, int32_t(left));
          if (rs_abs_length(target) - before > left) truncate_at(target->w2, before + uint32_t(left));
        } else {
          actions::form(item, target, 0x7FFFFFFF);
        }
      }
      stack::pop(2);
      return;
    }
    default: {
      Cell* held = stack::push(value);
      actions::form(held, target, 0x7FFFFFFF);
      stack::pop(1);
    }
  }
}

// The characters a value inserts: its own (text, char!) or, for any other
// value, its text built in a new string pushed on the stack (`pushed` tells).
text_source inserted_text(const Cell* value, int32_t part, bool only, bool& pushed) {
  pushed = false;
  uint32_t vt = TYPE_OF(value);
  if (is_text_value(vt) || vt == TYPE_CHAR) return source_of(value, part);
  Cell* temp = push_new(16);
  pushed = true;
  append_value(temp, value, part, only);
  return source_of(temp, -1);
}

bool tell_owner(Cell* series, uint32_t word, const Cell* value, uint32_t index, uint32_t count) {
  return ownership::check(series, word, value, int32_t(index), int32_t(count));
}

// Out of line, so that the short paths of append need no frame.
[[gnu::noinline]] Cell* append_general(Cell* series, Cell* value, int32_t part, bool only,
                                       int32_t dup) {
  uint32_t start = rs_abs_length(series);
  bool owned = tell_owner(series, words::append, value, start, 0);
  append_value(series, value, part, only);
  uint32_t added = rs_abs_length(series) - start;
  if (dup > 1 && added) {
    text_source again{series->w2, start, added, 0, GET_UNIT(series)};
    splice(series, start + added, 0, again, uint32_t(dup - 1));
  }
  if (owned) tell_owner(series, words::appended, value, start, rs_abs_length(series) - start);
  series->w1 = 0;
  return series;
}

// The short paths of append: a char!, or the text of another series in
// units no wider, put at the tail of a buffer with room and no owner.
// Nothing widens, grows or allocates; false leaves it all to the general path.
inline bool takes_at_once(series_buffer* b) {
  return !(b->flags & SERIES_OWNED) && is_unit(b->unit());
}

inline bool append_char_at_once(Cell* series, uint32_t cp) {
  series_buffer* b = GET_BUFFER(series);
  uint32_t unit = b->unit();
  if (!takes_at_once(b) || unit_for_append(cp) > unit || uint64_t(b->tail) + unit > b->size)
    return false;
  put_char(b->tail_ptr(), unit, cp);
  b->tail += unit;
  return true;
}

inline bool append_text_at_once(Cell* series, const Cell* value, int32_t part) {
  series_buffer* b = GET_BUFFER(series);
  uint32_t unit = b->unit();
  if (!takes_at_once(b) || value->w2 == series->w2) return false;
  series_buffer* from = GET_BUFFER(value);
  uint32_t from_unit = from->unit();
  if (from_unit > unit || !is_unit(from_unit)) return false;
  uint32_t total = buffer_chars(from);
  uint32_t index = std::min(value->w1, total);
  uint32_t count = total - index;
  if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
  uint64_t bytes = uint64_t(count) * unit;
  if (b->tail + bytes > b->size || b->used() + bytes > MAX_SERIES_SIZE) return false;
  const uint8_t* p = from->head_ptr() + uint64_t(index) * from_unit;
  uint8_t* to = b->tail_ptr();
  if (from_unit == unit) {
    std::memcpy(to, p, bytes);
  } else {
    for (uint32_t i = 0; i < count; i++)
      put_char(to + uint64_t(i) * unit, unit, get_char(p + uint64_t(i) * from_unit, from_unit));
  }
  b->tail += uint32_t(bytes);
  return true;
}

// Out of line: its loop would give the char! path a frame.
[[gnu::noinline]] Cell* append_text(Cell* series, Cell* value, int32_t part, bool only,
                                    int32_t dup) {
  if (!append_text_at_once(series, value, part))
    return append_general(series, value, part, only, dup);
  series->w1 = 0;
  return series;
}

}  // namespace

Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  bool one_char = TYPE_OF(value) == TYPE_CHAR && dup == 1;
  if (one_char && append_char_at_once(series, value->w2)) [[likely]] {
    // Not written when it holds (see store_cell).
    if (series->w1) series->w1 = 0;
    return series;
  }
  if (dup == 1 && is_text_value(TYPE_OF(value))) return append_text(series, value, part, only, dup);
  return append_general(series, value, part, only, dup);
}

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  uint32_t total = rs_abs_length(series);
  uint32_t head = std::min(series->w1, total);
  if (dup < 1) dup = 1;
  bool owned = tell_owner(series, words::insert, value, head, 0);
  uint32_t written;
  if (head == total) {
    append_value(series, value, part, only);
    written = rs_abs_length(series) - total;
    if (dup > 1 && written) {
      text_source again{series->w2, total, written, 0, GET_UNIT(series)};
      written += splice(series, total + written, 0, again, uint32_t(dup - 1));
    }
  } else {
    bool pushed;
    text_source s = inserted_text(value, part, only, pushed);
    written = splice(series, head, 0, s, uint32_t(dup));
    if (pushed) stack::pop(1);
  }
  if (owned) tell_owner(series, words::inserted, value, head, written);
  series->w1 = head + written;
  return series;
}

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  uint32_t total = rs_abs_length(series);
  uint32_t head = std::min(series->w1, total);
  if (dup < 1) dup = 1;
  bool owned = tell_owner(series, words::change, value, head, part < 0 ? 0 : uint32_t(part));
  bool pushed;
  text_source s = inserted_text(value, -1, only, pushed);
  uint64_t written = uint64_t(s.count) * uint32_t(dup);
  uint64_t removed = part >= 0 ? uint64_t(part) : written;
  written = splice(series, head, uint32_t(std::min<uint64_t>(removed, total - head)), s, uint32_t(dup));
  if (pushed) stack::pop(1);
  if (owned) tell_owner(series, words::changed, value, head, uint32_t(written));
  series->w1 = head + uint32_t(written);
  return series;
}

namespace {

bool swappable(uint32_t t) { return is_string_type(t) || t == TYPE_BINARY; }

Cell* swap(Cell* a, Cell* b) {
  if (!swappable(TYPE_OF(a)) || !swappable(TYPE_OF(b))) {
    Cell v = *b;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  if (rs_tail_q(a) || rs_tail_q(b)) return a;
  uint32_t ia = std::min(a->w1, rs_abs_length(a)), ib = std::min(b->w1, rs_abs_length(b));
  uint32_t ca = rs_abs_at(a, ia), cb = rs_abs_at(b, ib);
  // A byte of a binary! cannot hold a wider character.
  if (TYPE_OF(a) == TYPE_BINARY && cb > 0xFF) {
    Cell v = make_char(cb);
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  if (TYPE_OF(b) == TYPE_BINARY && ca > 0xFF) {
    Cell v = make_char(ca);
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  bool owned_a = tell_owner(a, words::swap, b, ia, 1);
  bool owned_b = tell_owner(b, words::swap, a, ib, 1);
  poke_char(a->w2, ia * GET_UNIT(a), cb);
  poke_char(b->w2, ib * GET_UNIT(b), ca);
  if (owned_a) tell_owner(a, words::swaped, b, ia, 1);
  if (owned_b) tell_owner(b, words::swaped, a, ib, 1);
  return a;
}


// --- trim ---------------------------------------------------------------------------

// Whitespace at the ends and for /lines.
bool is_blank(uint32_t c) {
  if (c >= 1 && c <= 32) return true;
  switch (c) {
    case 133: case 160: case 5760: case 6158: case 8232: case 8233: case 8239: case 8287:
    case 12288:
      return true;
    default: return c >= 8192 && c <= 8202;
  }
}

// Whitespace inside the lines of a default trim: space, tab and the blanks.
bool is_inner_blank(uint32_t c) {
  return c == ' ' || c == '\t' || (c > 32 && is_blank(c));
}

struct text_view {
  uint8_t* data;  // the buffer's first element
  uint32_t unit;
  uint32_t get(uint32_t i) const { return get_char(data + uint64_t(i) * unit, unit); }
  void put(uint32_t i, uint32_t c) const { put_char(data + uint64_t(i) * unit, unit, c); }
};

// The characters a /with argument names.
std::vector<uint32_t> trim_set(const Cell* with) {
  if (!with) return {9, 10, 13, 32};
  switch (TYPE_OF(with)) {
    case TYPE_CHAR:
    case TYPE_INTEGER: return {with->w2};
    default: {
      if (!is_string_type(TYPE_OF(with)) && TYPE_OF(with) != TYPE_BINARY) {
        Cell v = *with;
        fire(err::SCRIPT, err::script::INVALID_ARG, &v);
      }
      std::vector<uint32_t> set;
      uint32_t n = rs_length(with);
      for (uint32_t i = 0; i < n; i++) set.push_back(rs_abs_at(with, with->w1 + i));
      return set;
    }
  }
}

Cell* trim(Cell* series, const trim_options& o) {
  if (o.automatic) fire(err::INTERNAL, err::internal::NOT_DONE);
  std::vector<uint32_t> set;
  bool remove_set = o.all || o.with;
  if (remove_set) {
    set = trim_set(o.with);
    if (set.empty()) return series;
  }
  uint32_t total = rs_abs_length(series);
  uint32_t head = std::min(series->w1, total);
  bool owned = tell_owner(series, words::trim, &none_value, head, total - head);
  series_buffer* b = GET_BUFFER(series);
  text_view v{b->head_ptr(), b->unit()};
  check_unit(v.unit);
  uint32_t w = head;
  if (remove_set) {
    for (uint32_t r = head; r < total; r++) {
      uint32_t c = v.get(r);
      if (std::find(set.begin(), set.end(), c) == set.end()) v.put(w++, c);
    }
  } else {
    uint32_t a = head, z = total;
    bool lf_at_tail = false;
    if (o.lines || o.head || !o.tail) {
      while (a < z && is_blank(v.get(a))) a++;
    }
    if (o.lines || o.tail || !o.head) {
      while (z > a && is_blank(v.get(z - 1))) {
        if (v.get(z - 1) == '\n') lf_at_tail = true;
        z--;
      }
    }
    if (o.lines) {
      bool in_blank = false;
      for (uint32_t r = a; r < z; r++) {
        uint32_t c = v.get(r);
        if (is_blank(c)) {
          if (!in_blank) v.put(w++, ' ');
          in_blank = true;
        } else {
          v.put(w++, c);
          in_blank = false;
        }
      }
    } else if (o.head || o.tail) {
      for (uint32_t r = a; r < z; r++) v.put(w++, v.get(r));
    } else {
      // Line by line: indentation after a line feed and blanks before one go.
      bool after_lf = false;
      uint32_t blank_start = UINT32_MAX;
      for (uint32_t r = a; r < z; r++) {
        uint32_t c = v.get(r);
        if (c == '\n') {
          if (blank_start != UINT32_MAX) w = blank_start;
          blank_start = UINT32_MAX;
          v.put(w++, c);
          after_lf = true;
        } else if (is_inner_blank(c)) {
          if (after_lf) continue;
          if (blank_start == UINT32_MAX) blank_start = w;
          v.put(w++, c);
        } else {
          after_lf = false;
          blank_start = UINT32_MAX;
          v.put(w++, c);
        }
      }
      if (lf_at_tail) v.put(w++, '\n');
    }
  }
  b->tail = b->head + w * v.unit;
  series->w1 = head;
  if (owned) tell_owner(series, words::trimmed, &none_value, head, w - head);
  return series;
}

// --- Path access -----------------------------------------------------------------------

Cell* eval_path(path_step& step, Cell* out) {
  Cell el = *step.element;
  Cell* series = stack::push(*step.parent);
  switch (TYPE_OF(&el)) {
    case TYPE_INTEGER: {
      *out = *series;
      if (step.value) {
        Cell* v = stack::push(*step.value);
        actions::get_poke(out)(out, get_integer(&el), v, &el);
        *out = *v;
      } else {
        actions::get_pick(out)(out, get_integer(&el), &el);
      }
      break;
    }
    case TYPE_WORD: {
      Cell p = step.path ? *step.path : el;
      fire(err::SCRIPT, err::script::INVALID_PATH, &p, &el);
    }
    default: {
      find_options o;
      o.case_sensitive = step.case_sensitive;
      *out = *series;
      if (!step.value) {
        actions::get_select(out)(out, &el, o);
        break;
      }
      actions::get_find(out)(out, &el, o);
      if (TYPE_OF(out) == TYPE_NONE) {
        Cell p = step.path ? *step.path : el;
        fire(err::SCRIPT, err::script::BAD_PATH_SET, &p, &el);
      }
      Cell* v = stack::push(*step.value);
      actions::get_change(out)(out, v, -1, false, 1);
      *out = *v;
    }
  }
  stack::top = series;
  return out;
}

// --- make and to ---------------------------------------------------------------------------

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
  Cell dt = make_datatype(type), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

// Decodes the bytes of a binary! from its head into the result cell.
void decode_binary(Cell* result, const Cell* bin) {
  series_buffer* b = GET_BUFFER(bin);
  uint32_t total = b->used();
  uint32_t head = std::min(bin->w1, total);
  uint32_t length = total - head;
  uint32_t offset = b->head + head;
  node_t source = bin->w2;
  uint32_t remainder = 0;
  *result = make_unset();
  node_t node = unicode::load_utf8_from(source, offset, length, 0, &remainder, false);
  *result = make_series(TYPE_STRING, node);
  if (remainder) {
    // A sequence cut by the end is as invalid as a wrong one.
    node_t bad = memory::alloc_bytes(remainder);
    series_buffer* from = memory::buffer(source);
    series_buffer* to = memory::buffer(bad);
    std::memcpy(to->data(), from->data() + offset + length - remainder, remainder);
    to->tail = remainder;
    Cell arg = make_series(TYPE_BINARY, bad);
    fire(err::ACCESS, err::access::INVALID_UTF8, &arg);
  }
}

}  // namespace

Cell* to(Cell* proto, const Cell* spec_in, uint32_t type) {
  Cell* spec = stack::push(*spec_in);
  uint32_t st = TYPE_OF(spec);
  if (st == TYPE_NONE) bad_to(type, spec);
  if (is_string_type(st)) {
    text_source s = source_of(spec, -1);
    make_at(proto, s.count, s.unit);
    splice(proto, 0, 0, s, 1);
  } else if (st == TYPE_BINARY) {
    decode_binary(proto, spec);
  } else {
    make_at(proto, 16, 1);
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
      append_value(proto, spec, -1, false);
    } else if (st == TYPE_REFINEMENT && type != TYPE_STRING) {
      actions::mold(spec, proto, false, false, false, 0x7FFFFFFF, 0);
    } else {
      actions::form(spec, proto, 0x7FFFFFFF);
    }
  }
  set_type(proto, type);
  proto->w3 = 0;
  stack::top = spec;
  return proto;
}

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      double size = TYPE_OF(spec) == TYPE_INTEGER ? get_integer(spec) : get_float(spec);
      if (!(size >= 0 && size <= 0x7FFFFFFF)) {
        Cell v = *spec;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
      }
      make_at(proto, uint32_t(size), 1);
      set_type(proto, type);
      return proto;
    }
    default: break;
  }
  if (type == TYPE_BINARY) {
    if (TYPE_OF(spec) == TYPE_MONEY) {
      Cell dt = make_datatype(type), v = *spec;
      fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &v);
    }
    to_fn binary_to = actions::peek_to(TYPE_BINARY);
    if (!binary_to || binary_to == to) fire(err::INTERNAL, err::internal::NOT_DONE);
    return binary_to(proto, spec, type);
  }
  return to(proto, spec, type);
}

// --- compare ---------------------------------------------------------------------------------

namespace {

bool is_equality(int32_t op) {
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND:
    case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD:
      return true;
    default: return false;
  }
}

bool folds(int32_t op) {
  return op != COMP_STRICT_EQUAL && op != COMP_CASE_SORT && op != COMP_STRICT_EQUAL_WORD;
}

// A symbol! stands for its name, read from its first character.
Cell text_of(const Cell* v) {
  Cell c = *v;
  if (TYPE_OF(&c) == TYPE_SYMBOL) c = make_series(TYPE_STRING, c.w2);
  return c;
}

}  // namespace

int32_t compare_strings(const Cell* a_in, const Cell* b_in, int32_t op, bool match) {
  Cell a = text_of(a_in), b = text_of(b_in);
  if (op == COMP_SAME) return a.w2 == b.w2 && a.w1 == b.w1 ? 0 : -1;
  if (a.w2 == b.w2 && a.w1 == b.w1 && is_equality(op)) return 0;
  uint32_t la = rs_length(&a), lb = rs_length(&b);
  uint32_t n;
  if (match) {
    if (lb == 0) return op == COMP_FIND ? 1 : 0;
    if (la < lb) return 1;
    n = lb;
  } else {
    if (is_equality(op) && la != lb) return 1;
    n = std::min(la, lb);
  }
  series_buffer* ba = GET_BUFFER(&a);
  series_buffer* bb = GET_BUFFER(&b);
  uint32_t ua = ba->unit(), ub = bb->unit();
  const uint8_t* pa = ba->head_ptr() + uint64_t(a.w1) * ua;
  const uint8_t* pb = bb->head_ptr() + uint64_t(b.w1) * ub;
  bool fold = folds(op);
  if (ua == ub && !fold && ua == 1) {
    int r = std::memcmp(pa, pb, n);
    if (r) return r < 0 ? -1 : 1;
  } else {
    for (uint32_t i = 0; i < n; i++) {
      uint32_t x = get_char(pa + uint64_t(i) * ua, ua), y = get_char(pb + uint64_t(i) * ub, ub);
      if (x == y) continue;
      if (fold) {
        x = case_folding::to_upper(x);
        y = case_folding::to_upper(y);
        if (x == y) continue;
      }
      return x < y ? -1 : 1;
    }
  }
  if (match) return 0;
  return la == lb ? 0 : la < lb ? -1 : 1;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(a) != TYPE_OF(b)) {
    if (!is_string_type(TYPE_OF(b)) || (op != COMP_EQUAL && op != COMP_NOT_EQUAL)) return -2;
  }
  return compare_strings(a, b, op, false);
}

bool tag_at(const Cell* s, const Cell* tag) {
  uint32_t len = rs_length(tag);
  if (rs_length(s) < uint64_t(len) + 2) return false;
  uint32_t h = s->w1;
  return rs_abs_at(s, h) == '<' && rs_abs_at(s, h + len + 1) == '>';
}

bool match_value(const Cell* s, const Cell* value, bool case_sensitive) {
  uint32_t vt = TYPE_OF(value);
  if (is_text_value(vt)) {
    return compare_strings(s, value, case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL, true) == 0;
  }
  if (vt == TYPE_CHAR) {
    if (rs_tail_q(s)) return false;
    uint32_t c = rs_abs_at(s, s->w1), v = value->w2;
    if (c == v) return true;
    return !case_sensitive && case_folding::to_upper(c) == case_folding::to_upper(v);
  }
  if (vt == TYPE_TAG) {
    if (!tag_at(s, value)) return false;
    Cell inner = *s;
    inner.w1++;
    return compare_strings(&inner, value, case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL, true) == 0;
  }
  return false;
}

bool match_bitset(const Cell* s, const Cell* bits) {
  if (rs_tail_q(s)) return false;
  uint32_t c = rs_abs_at(s, s->w1);
  series_buffer* b = GET_BUFFER(bits);
  uint64_t byte = c >> 3;
  if (byte >= b->used()) return (b->flags & SERIES_COMPLEMENT) != 0;
  return (b->head_ptr()[byte] & (0x80 >> (c & 7))) != 0;
}

namespace {

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from series!
  r.make = make;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.set_path = UNSUPPORTED;
  r.compare = compare;
  r.absolute = UNSUPPORTED;
  r.add = UNSUPPORTED;
  r.divide = UNSUPPORTED;
  r.multiply = UNSUPPORTED;
  r.negate = UNSUPPORTED;
  r.power = UNSUPPORTED;
  r.remainder = UNSUPPORTED;
  r.round = UNSUPPORTED;
  r.subtract = UNSUPPORTED;
  r.even_q = UNSUPPORTED;
  r.odd_q = UNSUPPORTED;
  r.and_t = UNSUPPORTED;
  r.complement = UNSUPPORTED;
  r.or_t = UNSUPPORTED;
  r.xor_t = UNSUPPORTED;
  r.append = append;
  r.change = change;
  r.find = find;
  r.insert = insert;
  r.put = UNSUPPORTED;
  r.select = select;
  r.sort = sort;
  r.swap = swap;
  r.trim = trim;
  r.create = UNSUPPORTED;
  r.close = UNSUPPORTED;
  r.delete_ = UNSUPPORTED;
  r.open = UNSUPPORTED;
  r.open_q = UNSUPPORTED;
  r.query = UNSUPPORTED;
  r.read = UNSUPPORTED;
  r.rename = UNSUPPORTED;
  r.update = UNSUPPORTED;
  r.write = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_STRING, TYPE_SERIES, "string!", ROW); }

}  // namespace kez::string
