// String primitives.
#include "values/string.h"

#include <algorithm>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "values/error_ids.h"

namespace kez::string {

namespace {

uint32_t buffer_chars(series_buffer* b) { return b->used() / b->unit(); }

}  // namespace

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

uint32_t rs_length(const Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t n = buffer_chars(b);
  return s->w1 < n ? n - s->w1 : 0;
}

uint8_t* rs_head(Cell* s) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t n = buffer_chars(b);
  if (s->w1 > n) s->w1 = n;
  return b->head_ptr() + s->w1 * b->unit();
}

uint8_t* rs_tail(const Cell* s) { return GET_BUFFER(s)->tail_ptr(); }
bool rs_tail_q(const Cell* s) { return rs_length(s) == 0; }

uint32_t rs_abs_at(const Cell* s, uint32_t index) {
  series_buffer* b = GET_BUFFER(s);
  return get_char(b->head_ptr() + index * b->unit(), b->unit());
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
  const uint8_t* p = b->head_ptr() + s->w1 * unit;
  uint8_t seq[4];
  for (uint32_t i = 0; i < n; i++) {
    int len = unicode::cp_to_utf8(get_char(p + i * unit, unit), seq);
    out.append(reinterpret_cast<char*>(seq), size_t(len));
  }
  return out;
}

series_buffer* widen(series_buffer* b, uint32_t, uint32_t to) {
  return unicode::widen(b->node, to);
}

namespace {
series_buffer* ensure_unit(node_t node, uint32_t unit) {
  series_buffer* b = memory::buffer(node);
  if (b->unit() < unit) b = widen(b, b->unit(), unit);
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
  uint64_t end = uint64_t(index + 1) * unit;
  if (b->head + end > b->size) b = memory::ensure_room(node, end - (b->tail - b->head));
  put_char(b->head_ptr() + uint64_t(index) * unit, unit, cp);
  if (b->head + end > b->tail) b->tail = uint32_t(b->head + end);
  return b;
}

series_buffer* insert_char(node_t node, uint32_t index, uint32_t cp) {
  series_buffer* b = ensure_unit(node, unit_for_store(cp));
  b = memory::ensure_room(node, b->unit());
  uint32_t unit = b->unit();
  uint8_t* at = b->head_ptr() + uint64_t(index) * unit;
  std::memmove(at + unit, at, size_t(b->tail_ptr() - at));
  put_char(at, unit, cp);
  b->tail += unit;
  return b;
}

void remove_chars(Cell* s, uint32_t index, uint32_t n) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t total = buffer_chars(b);
  if (index >= total) return;
  n = std::min(n, total - index);
  uint8_t* at = b->head_ptr() + index * unit;
  std::memmove(at, at + n * unit, size_t(b->tail_ptr() - at - n * unit));
  b->tail -= n * unit;
}

void truncate_at(node_t node, uint32_t index) {
  series_buffer* b = memory::buffer(node);
  uint32_t off = b->head + index * b->unit();
  if (off < b->tail) b->tail = off;
}

int32_t append_literal(Cell* out, std::string_view text) {
  node_t node = out->w2;
  for (unsigned char c : text) append_char(node, c);
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
  uint32_t before = rs_length(out) + out->w1;
  concatenate(out, source, part, 0, true, 0);
  return int32_t(rs_length(out) + out->w1 - before);
}

series_buffer* concatenate(Cell* target, const Cell* source, int32_t part, uint32_t offset,
                           bool keep_source, int mode) {
  Cell src = *source;
  node_t tnode = target->w2;
  uint32_t n = rs_length(&src);
  if (part >= 0 && uint32_t(part) < n) n = uint32_t(part);
  if (n == 0) return memory::buffer(tnode);
  uint32_t sunit = GET_UNIT(&src);
  series_buffer* t = memory::buffer(tnode);
  if (t->unit() < sunit) t = widen(t, t->unit(), sunit);
  else if (t->unit() > sunit && !keep_source) {
    widen(GET_BUFFER(&src), sunit, t->unit());
    sunit = t->unit();
    t = memory::buffer(tnode);
  }
  uint32_t tunit = t->unit();
  uint32_t tlen = buffer_chars(t);
  uint32_t at = mode == 0 ? tlen : std::min(target->w1 + offset, tlen);
  uint32_t new_len = mode == 2 ? std::max(tlen, at + n) : tlen + n;
  if (uint64_t(new_len) * tunit > t->size - t->head) {
    t = memory::expand_series(t, std::max<uint64_t>(uint64_t(new_len) * tunit * 2, 16));
  }
  if (mode == 1) {
    uint8_t* p = t->head_ptr() + uint64_t(at) * tunit;
    std::memmove(p + uint64_t(n) * tunit, p, uint64_t(tlen - at) * tunit);
  }
  series_buffer* s = GET_BUFFER(&src);
  const uint8_t* from = s->head_ptr() + uint64_t(src.w1) * sunit;
  uint8_t* to = t->head_ptr() + uint64_t(at) * tunit;
  if (sunit == tunit) {
    std::memmove(to, from, uint64_t(n) * tunit);
  } else {
    for (uint32_t i = 0; i < n; i++) put_char(to + i * tunit, tunit, get_char(from + i * sunit, sunit));
  }
  t->tail = t->head + new_len * tunit;
  return t;
}

void cut_to(Cell* s, int32_t limit) {
  if (limit < 0) return;
  if (rs_length(s) > uint32_t(limit)) truncate_at(s->w2, s->w1 + uint32_t(limit));
}

}  // namespace kez::string
