// The input decoder of the backend's event loop.
//
// Keys come from control sequences (ESC [ ...), from ESC O pairs and from
// plain bytes. An escape followed by another escape is the Escape key and
// decoding goes on at the second one, so an Escape typed just before an
// arrow key costs the arrow nothing; an escape followed by any other byte
// that starts no sequence takes just those two bytes (Alt+x sends nothing,
// and the next key stays a key); a device or system string (ESC P, ESC ])
// is skipped only when its end has already arrived, so that one that never
// ends cannot swallow the input after it.
#include "gui/terminal/input.h"

#include <algorithm>

#include "foundation/tty.h"

namespace kez::gui::input {

namespace {

constexpr uint8_t ESC = 27;
constexpr uint8_t BEL = 7;
// Parameters of one control sequence; more are read and ignored.
constexpr int MAX_PARAMS = 4;

enum class step { made, skipped, incomplete };

// The key of ESC [ n ~.
int32_t tilde_key(int32_t n) {
  switch (n) {
    case 1: case 7: return tty::KEY_HOME;
    case 2: return tty::KEY_INSERT;
    case 3: return tty::KEY_DELETE;
    case 4: case 8: return tty::KEY_END;
    case 5: return tty::KEY_PAGE_UP;
    case 6: return tty::KEY_PAGE_DOWN;
    case 11: case 12: case 13: case 14: return tty::KEY_F1 - (n - 11);
    case 15: return tty::KEY_F1 - 4;
    case 17: case 18: case 19: return tty::KEY_F1 - (n - 12);
    case 20: case 21: return tty::KEY_F1 - (n - 12);
    case 23: case 24: return tty::KEY_F1 - (n - 13);
    default: return 0;
  }
}

// The key of a final letter without parameters (after "[" or "O"); 0 for none.
int32_t letter_key(uint8_t f, bool after_o) {
  switch (f) {
    case 'A': return tty::KEY_UP;
    case 'B': return tty::KEY_DOWN;
    case 'C': return tty::KEY_RIGHT;
    case 'D': return tty::KEY_LEFT;
    case 'H': return tty::KEY_HOME;
    case 'F': return tty::KEY_END;
    case 'P': case 'Q': case 'R': case 'S': return after_o ? tty::KEY_F1 - (f - 'P') : 0;
    default: return 0;
  }
}

void special(item& out, int32_t code) {
  out = item{};
  out.code = code;
  out.special = true;
}

// A control sequence from `at` (just after ESC [).
step control_sequence(buffer& b, size_t at, size_t& end, item& out) {
  int32_t params[MAX_PARAMS] = {};
  int count = 0;
  bool digits = false, lt = false, other = false;
  size_t i = at;
  for (;; i++) {
    if (i >= b.bytes.size()) return step::incomplete;
    uint8_t c = b.bytes[i];
    if (c == ESC) {  // abandoned: the escape starts what comes next
      end = i;
      return step::skipped;
    }
    if (c >= '0' && c <= '9') {
      if (!digits) count++;
      digits = true;
      if (count <= MAX_PARAMS)
        params[count - 1] = std::min(params[count - 1] * 10 + (c - '0'), 99999);
    } else if (c == ';') {
      if (!digits) count++;  // an empty parameter counts
      digits = false;
    } else if (c == '<') {
      lt = true;
    } else if (c >= 64 && c <= 126 && c != '[') {
      break;
    } else {
      other = true;
    }
  }
  end = i + 1;
  uint8_t final_byte = b.bytes[i];
  if ((final_byte == 'M' || final_byte == 'm') && count == 3 && !other) {
    out = item{};
    out.kind = item_kind::mouse;
    out.button = params[0];
    out.x = params[1];
    out.y = params[2];
    out.press = final_byte == 'M';
    return step::made;
  }
  if (final_byte == 'R' && count == 2 && !lt && !other) {
    if (!b.report_expected) return step::skipped;
    b.report_expected = false;
    out = item{};
    out.kind = item_kind::cursor_report;
    out.y = params[0];
    out.x = params[1];
    return step::made;
  }
  if (lt || other) return step::skipped;
  int32_t key = 0;
  if (count == 0) {
    if (final_byte == 'Z') {
      out = item{};
      out.code = 9;
      out.shift = true;
      return step::made;
    }
    key = letter_key(final_byte, false);
  } else if (count == 1 && final_byte == '~') {
    key = tilde_key(params[0]);
  }
  if (!key) return step::skipped;
  special(out, key);
  return step::made;
}

// A device control or system string from `at` (ESC P or ESC ]): skipped
// up to its end when that has arrived, else just its two bytes.
size_t string_end(const buffer& b, size_t at, bool bel_ends) {
  for (size_t i = at; i < b.bytes.size(); i++) {
    if (bel_ends && b.bytes[i] == BEL) return i + 1;
    if (b.bytes[i] == ESC && i + 1 < b.bytes.size() && b.bytes[i + 1] == '\\') return i + 2;
  }
  return at;
}

// One UTF-8 character from `at`; a bad byte is U+FFFD.
step utf8(const buffer& b, size_t at, size_t& end, int32_t& cp) {
  uint8_t c = b.bytes[at];
  if (c < 0x80) {
    cp = c;
    end = at + 1;
    return step::made;
  }
  int more = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
  if (c >= 0xF8) more = -1;
  if (more < 0) {
    cp = 0xFFFD;
    end = at + 1;
    return step::made;
  }
  cp = c & (0x3F >> more);
  for (int k = 1; k <= more; k++) {
    if (at + size_t(k) >= b.bytes.size()) return step::incomplete;
    uint8_t d = b.bytes[at + size_t(k)];
    if ((d & 0xC0) != 0x80) {
      cp = 0xFFFD;
      end = at + 1;
      return step::made;
    }
    cp = cp << 6 | (d & 0x3F);
  }
  end = at + size_t(more) + 1;
  return step::made;
}

// Decodes the item at `at`; `end` is where the next one starts.
step decode_one(buffer& b, size_t at, size_t& end, item& out) {
  uint8_t c = b.bytes[at];
  if (c == ESC) {
    if (at + 1 >= b.bytes.size()) {
      // Alone in the buffer it is the Escape key; after other bytes it
      // waits one read for what may follow it.
      if (at != 0) return step::incomplete;
      end = at + 1;
      out = item{};
      out.code = ESC;
      return step::made;
    }
    uint8_t n = b.bytes[at + 1];
    switch (n) {
      case '[': return control_sequence(b, at + 2, end, out);
      case 'O': {
        if (at + 2 >= b.bytes.size()) return step::incomplete;
        end = at + 3;
        int32_t key = letter_key(b.bytes[at + 2], true);
        if (!key) return step::skipped;
        special(out, key);
        return step::made;
      }
      case 'P': case ']': end = std::max(string_end(b, at + 2, n == ']'), at + 2); return step::skipped;
      case ESC:
        end = at + 1;
        out = item{};
        out.code = ESC;
        return step::made;
      default: end = at + 2; return step::skipped;
    }
  }
  if (c < 32 || c == 127) {
    end = at + 1;
    out = item{};
    out.code = c == 8 ? 127 : c == 10 ? 13 : c;
    return step::made;
  }
  int32_t cp = 0;
  step s = utf8(b, at, end, cp);
  if (s == step::made) {
    out = item{};
    out.code = cp;
  }
  return s;
}

}  // namespace

bool next(buffer& b, item& out) {
  while (b.pos < b.bytes.size()) {
    size_t end = b.pos;
    step s = decode_one(b, b.pos, end, out);
    if (s == step::incomplete) {
      b.bytes.erase(b.bytes.begin(), b.bytes.begin() + std::ptrdiff_t(b.pos));
      b.pos = 0;
      return false;
    }
    b.pos = std::max(end, b.pos + 1);
    if (s == step::made) return true;
  }
  b.bytes.clear();
  b.pos = 0;
  return false;
}

}  // namespace kez::gui::input
