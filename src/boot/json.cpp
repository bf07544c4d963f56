// The JSON decoder's native half: `unescape`, which resolves the backslash
// escapes of a string literal's text in place.
//
// One pass reads at `r` and writes at `w <= r`: every escape is at least as
// long as the character it stands for, so writing never overtakes reading.
// Both are character indexes, so they stay valid when a wide code point
// widens the buffer (which may move it: the buffer is re-read after every
// widening). Nothing here allocates except that widening, and nothing calls
// back into Kez.
#include <cstdint>

#include "boot/routines.h"
#include "evaluator/stack.h"
#include "foundation/memory.h"
#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/string.h"

namespace kez::boot {

namespace {

// The value of one hexadecimal digit, or -1.
int hex_digit(uint32_t c) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
  return -1;
}

struct unescaper {
  node_t node;
  series_buffer* b;
  uint32_t unit;
  uint32_t length;  // characters from the buffer's first element

  uint32_t at(uint32_t i) const { return string::get_char(b->head_ptr() + i * unit, unit); }

  void put(uint32_t i, uint32_t cp) {
    uint32_t need = string::unit_for_store(cp);
    if (need > unit) {
      b = unicode::widen(node, need);
      unit = need;
    }
    string::put_char(b->head_ptr() + i * unit, unit, cp);
  }

  // The four hexadecimal digits from `i`, or -1 when fewer are left or one
  // is no digit.
  int32_t hex4(uint32_t i) const {
    if (length - i < 4) return -1;
    int32_t v = 0;
    for (uint32_t k = 0; k < 4; k++) {
      int d = hex_digit(at(i + k));
      if (d < 0) return -1;
      v = v << 4 | d;
    }
    return v;
  }

  // The code point of the escape whose backslash is at `i`, and the index
  // after it; false when it is no valid escape.
  bool escape(uint32_t i, uint32_t& cp, uint32_t& next) const {
    if (i + 1 >= length) return false;
    uint32_t c = at(i + 1);
    next = i + 2;
    switch (c) {
      case '"': case '\\': case '/': cp = c; return true;
      case 'b': cp = 0x08; return true;
      case 'f': cp = 0x0C; return true;
      case 'n': cp = 0x0A; return true;
      case 'r': cp = 0x0D; return true;
      case 't': cp = 0x09; return true;
      case 'u': break;
      default: return false;
    }
    int32_t v = hex4(i + 2);
    if (v < 0) return false;
    next = i + 6;
    cp = uint32_t(v);
    if (cp < 0xD800 || cp > 0xDBFF) return true;  // a lone low half stays as it is
    if (length - next < 6 || at(next) != '\\' || at(next + 1) != 'u') return false;
    int32_t low = hex4(next + 2);
    if (low < 0xDC00 || low > 0xDFFF) return false;
    cp = 0x10000 + ((cp - 0xD800) << 10) + (uint32_t(low) - 0xDC00);
    next += 6;
    return true;
  }
};

// A failed escape raises invalid-data with the string, whose text before
// the escape is already resolved: the unread rest is moved down behind it
// first, so that the message shows one coherent text rather than leftovers.
void unescape() {
  Cell* s = stack::arguments;
  node_t node = s->w2;
  series_buffer* b = memory::buffer(node);
  unescaper u{node, b, b->unit(), b->used() / b->unit()};
  uint32_t r = s->w1, w = s->w1;
  while (r < u.length) {
    uint32_t c = u.at(r);
    uint32_t next = r + 1;
    if (c == '\\' && !u.escape(r, c, next)) {
      while (r < u.length) u.put(w++, u.at(r++));
      string::truncate_at(node, w);
      Cell bad = *s;
      fire(err::SCRIPT, err::script::INVALID_DATA, &bad);
    }
    u.put(w++, c);
    r = next;
  }
  string::truncate_at(node, w);
}

constexpr routine_entry JSON_ROUTINES[] = {
    {"_unescape", "str [string!]", unescape},
};

}  // namespace

void make_json_routines() { define_routines(JSON_ROUTINES); }

}  // namespace kez::boot
