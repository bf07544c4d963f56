// Unicode encodings.
//
// Loading UTF-8 runs in two passes: the first validates and measures (the
// number of characters and the widest code point) without allocating, so an
// invalid text raises before anything changes and the string is allocated
// once at its final unit; the second decodes into it. The source is read
// again after that one allocation, which is what lets a series be a source.
#include "foundation/unicode.h"

#include <algorithm>
#include <cstring>

#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "values/cell.h"
#include "values/error_ids.h"

namespace kez::unicode {

namespace {

// The UTF-8 decoding automaton: 256 byte classes, then the transitions
// indexed by state + class. States are multiples of 12; 0 accepts, 12
// rejects.
constexpr uint8_t utf8d[364] = {
    // byte classes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3, 11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

[[noreturn]] void invalid_char(uint32_t cp) {
  Cell arg = make_integer(int32_t(cp));
  fire(err::SCRIPT, err::script::INVALID_CHAR, &arg);
}

// Raises access invalid-utf8 with the offending bytes as a binary!.
[[noreturn]] void invalid_utf8(const uint8_t* p, int32_t available) {
  uint8_t bytes[4];
  uint32_t n = uint32_t(std::min(available, 4));
  std::memcpy(bytes, p, n);  // p may lie in a buffer the allocation moves
  node_t node = memory::alloc_bytes(n);
  series_buffer* b = memory::buffer(node);
  std::memcpy(b->data(), bytes, n);
  b->tail = n;
  Cell arg = make_series(TYPE_BINARY, node);
  fire(err::ACCESS, err::access::INVALID_UTF8, &arg);
}

constexpr bool is_follower(uint8_t c) { return (c & 0xC0) == 0x80; }

// Characters of a string value from its head: the buffer, the address of the
// head character and the count.
struct text_span {
  const uint8_t* start;
  uint32_t unit;
  uint32_t count;
};

text_span span_of(const Cell* value) {
  series_buffer* b = GET_BUFFER(value);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) bad_unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(value->w1, total);
  return {b->head_ptr() + uint64_t(head) * unit, unit, total - head};
}

// The value's conversion cache with room for `bytes` bytes (made or grown).
uint8_t* conversion_cache(Cell* value, uint64_t bytes) {
  if (value->w3 == 0) {
    node_t node = memory::alloc_bytes(bytes);
    value->w3 = node;
  } else if (memory::buffer(value->w3)->size < bytes) {
    memory::reallocate_series(memory::buffer(value->w3), bytes);
  }
  series_buffer* cache = memory::buffer(value->w3);
  cache->head = cache->tail = 0;
  return cache->data();
}

constexpr uint64_t ASCII_MASK = 0x8080808080808080ull;
constexpr uint64_t ONES = 0x0101010101010101ull;

// True when one of the 8 bytes is a CR.
inline bool has_cr(uint64_t w) {
  uint64_t x = w ^ (ONES * '\r');
  return ((x - ONES) & ~x & ASCII_MASK) != 0;
}

struct measure {
  uint32_t chars = 0;
  uint32_t widest = 0;
  uint32_t stop = 0;  // where decoding ended
};

// First pass: validates [start, length) and counts what the second writes.
measure measure_utf8(const uint8_t* p, uint32_t start, uint32_t length, bool line_end) {
  measure m;
  uint32_t i = start;
  while (i < length) {
    while (i + 8 <= length) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      if ((w & ASCII_MASK) || (line_end && has_cr(w))) break;
      m.chars += 8;
      i += 8;
    }
    if (i >= length) break;
    uint8_t b = p[i];
    if (b < 0x80) {
      m.chars++;
      i++;
      if (b == '\r' && line_end && i < length && p[i] == '\n') i++;
      continue;
    }
    int32_t n = int32_t(length - i);
    int32_t cp = decode_utf8_char(p + i, &n);
    if (cp < 0) break;
    m.widest = std::max(m.widest, uint32_t(cp));
    m.chars++;
    i += uint32_t(n);
  }
  m.stop = i;
  return m;
}

// Second pass: the text is known valid and its characters fit T.
template <class T>
void decode_into(const uint8_t* p, uint32_t i, uint32_t stop, bool line_end, T* out) {
  while (i < stop) {
    uint8_t b = p[i];
    if (b < 0x80) {
      i++;
      if (b == '\r' && line_end) {
        if (i < stop && p[i] == '\n') i++;
        b = '\n';
      }
      *out++ = T(b);
      continue;
    }
    int32_t n = int32_t(stop - i);
    *out++ = T(uint32_t(decode_utf8_char(p + i, &n)));
    i += uint32_t(n);
  }
}

constexpr uint32_t unit_for(uint32_t widest) {
  return widest <= 0xFF ? 1 : widest <= 0xFFFF ? 2 : 4;
}

// Makes `target` (or a new string) ready to receive `chars` characters of at
// least `unit`; its old characters are dropped. Returns the node.
node_t prepare_target(node_t target, uint32_t chars, uint32_t unit) {
  if (!target) return memory::alloc_codepoints(std::max(chars, 1u), unit);
  series_buffer* b = memory::buffer(target);
  unit = std::max(unit, b->unit());
  if (b->size < uint64_t(chars) * unit) b = memory::reallocate_series(b, uint64_t(chars) * unit);
  b->flags = (b->flags & ~SERIES_UNIT_MASK) | unit;
  b->head = b->tail = 0;
  return target;
}

node_t load_utf8_impl(node_t source, const uint8_t* bytes, uint32_t offset, uint32_t length,
                      node_t target, uint32_t* remainder, bool line_end) {
  auto read = [&] { return source ? memory::buffer(source)->data() + offset : bytes; };
  const uint8_t* p = read();
  uint32_t start = 0;
  if (length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) start = 3;
  measure m = measure_utf8(p, start, length, line_end);
  if (remainder) *remainder = length - m.stop;
  target = prepare_target(target, m.chars, unit_for(m.widest));
  p = read();
  series_buffer* b = memory::buffer(target);
  uint32_t unit = b->unit();
  switch (unit) {
    case 1: decode_into(p, start, m.stop, line_end, b->data()); break;
    case 2: decode_into(p, start, m.stop, line_end, reinterpret_cast<uint16_t*>(b->data())); break;
    case 4: decode_into(p, start, m.stop, line_end, reinterpret_cast<uint32_t*>(b->data())); break;
    default: bad_unit();
  }
  b->tail = m.chars * unit;
  return target;
}

series_buffer* widen_from(node_t node, uint32_t from, uint32_t to) {
  series_buffer* b = memory::buffer(node);
  if (b->unit() != from) bad_unit();
  uint32_t chars = b->used() / from;
  uint64_t needed = uint64_t(to) * chars + to;
  if (uint64_t(b->size) - b->head < needed) b = memory::expand_series(b, needed);
  uint8_t* base = b->head_ptr();
  for (uint32_t i = chars; i-- > 0;) put_char(base + uint64_t(i) * to, to, get_char(base + uint64_t(i) * from, from));
  b->tail = b->head + chars * to;
  b->flags = (b->flags & ~SERIES_UNIT_MASK) | to;
  return b;
}

}  // namespace

void bad_unit() { runtime::runtime_error(101, KEZ_ERROR_LOCATION()); }

// --- UTF-8 reading ---------------------------------------------------------

const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
  uint32_t state = 0, code = 0;
  while (p < end) {
    uint32_t byte = *p++;
    uint32_t type = utf8d[byte];
    code = state ? (byte & 0x3Fu) | (code << 6) : (0xFFu >> type) & byte;
    state = utf8d[256 + state + type];
    if (state == 0) {
      *cp = int32_t(code);
      return p;
    }
    if (state == 12) break;
  }
  *cp = -1;
  return p;
}

uint32_t count_chars(const uint8_t* start, const uint8_t* end) {
  uint32_t n = 0;
  int32_t cp;
  while (start < end) {
    if (*start < 0x80) {
      start++;
    } else {
      start = fast_decode_utf8_char(start, end, &cp);
    }
    n++;
  }
  return n;
}

const uint8_t* skip_chars(const uint8_t* start, const uint8_t* end, uint32_t n) {
  int32_t cp;
  while (n > 0 && start < end) {
    start = *start < 0x80 ? start + 1 : fast_decode_utf8_char(start, end, &cp);
    n--;
  }
  return start;
}

int utf8_char_size(uint8_t lead) {
  if ((lead & 0xF0) == 0xF0) return 4;
  if ((lead & 0xE0) == 0xE0) return 3;
  if ((lead & 0xC0) == 0xC0) return 2;
  return 0;
}

int32_t decode_utf8_char(const uint8_t* p, int32_t* count) {
  int32_t available = *count;
  uint32_t b = p[0];
  if (b < 0x80) {
    *count = 1;
    return int32_t(b);
  }
  if (b < 0xC0 || b >= 0xF8) invalid_utf8(p, available);
  if (b < 0xE0) {
    if (available < 2) return -1;
    if (!is_follower(p[1])) invalid_utf8(p, available);
    *count = 2;
    return int32_t(((b - 0xC0) << 6) | (p[1] - 0x80u));  // overlong forms accepted
  }
  if (b < 0xF0) {
    if (available < 3) return -1;
    if (!is_follower(p[1]) || !is_follower(p[2])) invalid_utf8(p, available);
    uint32_t cp = ((b - 0xE0) << 12) | ((p[1] - 0x80u) << 6) | (p[2] - 0x80u);
    if (cp >= 0xDC00 && cp <= 0xDCFF) invalid_utf8(p, available);
    *count = 3;
    return int32_t(cp);
  }
  if (available < 4) return -1;
  if (!is_follower(p[1]) || !is_follower(p[2]) || !is_follower(p[3])) invalid_utf8(p, available);
  uint32_t cp = ((b - 0xF0) << 18) | ((p[1] - 0x80u) << 12) | ((p[2] - 0x80u) << 6) | (p[3] - 0x80u);
  if (cp > 0x10FFFF) invalid_utf8(p, available);
  *count = 4;
  return int32_t(cp);
}

node_t load_utf8(const uint8_t* bytes, uint32_t length, node_t target, uint32_t* remainder,
                 bool line_end) {
  return load_utf8_impl(0, bytes, 0, length, target, remainder, line_end);
}

node_t load_utf8_from(node_t source, uint32_t offset, uint32_t length, node_t target,
                      uint32_t* remainder, bool line_end) {
  return load_utf8_impl(source, nullptr, offset, length, target, remainder, line_end);
}

node_t load_utf8_into(const uint8_t* bytes, uint32_t length, const Cell* string,
                      uint32_t* remainder) {
  return load_utf8_impl(0, bytes, 0, length, string->w2, remainder, false);
}

node_t load_utf8_new(const uint8_t* bytes, uint32_t length) {
  return load_utf8_impl(0, bytes, 0, length, 0, nullptr, false);
}

// --- UTF-8 writing -----------------------------------------------------------

int cp_to_utf8_size(uint32_t cp) {
  if (cp <= 0x7F) return 1;
  if (cp <= 0x7FF) return 2;
  if (cp <= 0xFFFF) return 3;
  if (cp <= 0x10FFFF) return 4;
  invalid_char(cp);
}

uint64_t utf8_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  uint64_t n = 0;
  switch (unit) {
    case 1:
      for (; start < end; start++) n += *start < 0x80 ? 1 : 2;
      break;
    case 2:
    case 4:
      for (; start < end; start += unit) n += uint64_t(cp_to_utf8_size(get_char(start, unit)));
      break;
    default: bad_unit();
  }
  return n;
}

int cp_to_utf8(uint32_t cp, uint8_t* out) {
  if (cp <= 0x7F) {
    out[0] = uint8_t(cp);
    return 1;
  }
  if (cp <= 0x7FF) {
    out[0] = uint8_t(0xC0 | (cp >> 6));
    out[1] = uint8_t(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp <= 0xFFFF) {
    out[0] = uint8_t(0xE0 | (cp >> 12));
    out[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[2] = uint8_t(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp <= 0x10FFFF) {
    out[0] = uint8_t(0xF0 | (cp >> 18));
    out[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
  }
  invalid_char(cp);
}

int cp_to_utf8_bounded(uint32_t cp, uint8_t* out, int room) {
  uint8_t seq[4];
  int n = std::min(cp_to_utf8(cp, seq), std::max(room, 0));
  std::memcpy(out, seq, size_t(n));
  return n;
}

const char* to_utf8(Cell* value, int32_t* length) { return to_utf8_part(value, length, false); }

const char* to_utf8_part(Cell* value, int32_t* length, bool line_end) {
  text_span s = span_of(value);
  uint32_t n = s.count;
  if (*length >= 0 && uint32_t(*length) < n) n = uint32_t(*length);
  uint64_t per = s.unit == 4 ? 4 : s.unit + 1;
  uint8_t* out = conversion_cache(value, per * (uint64_t(n) + 1));
  s = span_of(value);  // the allocation may have moved the string
  uint8_t* start = out;
  const uint8_t* p = s.start;
  for (uint32_t i = 0; i < n; i++, p += s.unit) {
    uint32_t cp = get_char(p, s.unit);
    if (cp < 0x80) {
      if (cp == '\n' && line_end) *out++ = '\r';
      *out++ = uint8_t(cp);
    } else {
      out += cp_to_utf8(cp, out);
    }
  }
  *out = 0;
  *length = int32_t(out - start);
  memory::buffer(value->w3)->tail = uint32_t(out - start);
  return reinterpret_cast<const char*>(start);
}

uint32_t to_utf8_buffer(const Cell* value, uint8_t* dest, int32_t limit, bool terminate) {
  text_span s = span_of(value);
  uint32_t n = s.count;
  if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
  uint8_t* out = dest;
  const uint8_t* p = s.start;
  for (uint32_t i = 0; i < n; i++, p += s.unit) out += cp_to_utf8(get_char(p, s.unit), out);
  if (terminate) *out = 0;
  return uint32_t(out - dest);
}

uint32_t to_utf8_checked(const Cell* value, uint8_t* dest, int32_t room, int32_t limit,
                         bool terminate) {
  text_span s = span_of(value);
  uint32_t n = s.count;
  if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
  uint8_t* out = dest;
  const uint8_t* p = s.start;
  for (uint32_t i = 0; i < n && room > 0; i++, p += s.unit) {
    int w = cp_to_utf8_bounded(get_char(p, s.unit), out, room);
    out += w;
    room -= w;
  }
  if (terminate && room > 0) *out = 0;
  return uint32_t(out - dest);
}

// --- Widening ----------------------------------------------------------------

series_buffer* latin1_to_ucs2(node_t node) { return widen_from(node, 1, 2); }
series_buffer* latin1_to_ucs4(node_t node) { return widen_from(node, 1, 4); }
series_buffer* ucs2_to_ucs4(node_t node) { return widen_from(node, 2, 4); }

series_buffer* widen(node_t node, uint32_t unit) {
  series_buffer* b = memory::buffer(node);
  uint32_t from = b->unit();
  if (unit <= from) return b;
  if (unit != 2 && unit != 4) bad_unit();
  return widen_from(node, from, unit);
}

// --- UTF-16 ------------------------------------------------------------------

uint32_t utf16_unit(const uint16_t* units, uint32_t count) {
  uint32_t unit = 1;
  for (uint32_t i = 0; i < count; i++) {
    uint32_t high = units[i] >> 8;
    if (high >= 0xD8 && high <= 0xDF) return 4;
    if (high) unit = 2;
  }
  return unit;
}

node_t load_utf16(const uint16_t* units, uint32_t count, node_t target, bool line_end) {
  uint32_t unit = utf16_unit(units, count);
  target = prepare_target(target, count, unit);
  series_buffer* b = memory::buffer(target);
  unit = b->unit();
  b->flags |= SERIES_UTF16;
  uint8_t* out = b->data();
  for (uint32_t i = 0; i < count; i++) {
    uint32_t cp = units[i];
    if (cp == '\r' && line_end) continue;
    // A high surrogate combines with a low one that follows; an unpaired
    // surrogate of either kind is kept as a code point of its own.
    if (unit == 4 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = (((cp & 0x3FF) << 10) | (units[i + 1] & 0x3FFu)) + 0x10000;
      i++;
    }
    put_char(out, unit, cp);
    out += unit;
  }
  b->tail = uint32_t(out - b->data());
  return target;
}

int cp_to_utf16(uint32_t cp, uint16_t* out) {
  if (cp < 0x10000) {
    out[0] = uint16_t(cp);
    return 1;
  }
  if (cp <= 0x10FFFF) {
    out[0] = uint16_t(0xD800 + ((cp - 0x10000) >> 10));
    out[1] = uint16_t(0xDC00 + (cp & 0x3FF));
    return 2;
  }
  return 0;
}

uint64_t utf16_extra(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  uint64_t extra = 0;
  for (; start < end; start += unit) {
    uint32_t cp = get_char(start, unit);
    if (cp == '\n' || cp >= 0x10000) extra += 2;
  }
  return extra;
}

const uint16_t* to_utf16(Cell* value) {
  int32_t length = -1;
  return to_utf16_len(value, &length, true);
}

const uint16_t* to_utf16_len(Cell* value, int32_t* length, bool line_end) {
  text_span s = span_of(value);
  uint32_t n = s.count;
  if (*length >= 0 && uint32_t(*length) < n) n = uint32_t(*length);
  uint64_t bytes = 2 * uint64_t(n) + 2 + utf16_extra(s.start, s.start + uint64_t(n) * s.unit, s.unit);
  auto* out = reinterpret_cast<uint16_t*>(conversion_cache(value, bytes));
  s = span_of(value);
  uint16_t* start = out;
  const uint8_t* p = s.start;
  for (uint32_t i = 0; i < n; i++, p += s.unit) {
    uint32_t cp = get_char(p, s.unit);
    if (cp == '\n' && line_end) *out++ = '\r';
    int w = cp_to_utf16(cp, out);
    if (w == 0) return nullptr;
    out += w;
  }
  *out = 0;
  *length = int32_t(out - start);
  memory::buffer(value->w3)->tail = uint32_t(out - start) * 2;
  return start;
}

void ascii_to_utf16(const char* text, uint16_t* out) {
  while (*text) *out++ = uint8_t(*text++);
  *out = 0;
}

}  // namespace kez::unicode
