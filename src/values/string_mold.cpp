// Forming and molding strings, and the caret escapes that char! and the
// quoted file! form share.
//
// A molded string must load back as the same text: short single-line texts
// go between double quotes with every special character escaped; long
// texts, texts with three or more line feeds and texts holding a double
// quote go between braces, where a brace is written bare only when the
// braces stay balanced (an unmatched one gets a caret). Forming copies the
// characters as they are.
#include <algorithm>
#include <vector>

#include "values/string.h"

namespace kez::string {

namespace {

// The character written after a caret for the code points 0-94 that have one.
constexpr char CONTROL_ESCAPES[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

// Texts at least this long, or with at least this many line feeds, mold in braces.
constexpr uint32_t BRACE_LENGTH = 50;
constexpr uint32_t BRACE_LINES = 3;

char escape_of(uint32_t cp) {
  if (cp < 32) return CONTROL_ESCAPES[cp];
  if (cp == '"') return '"';
  if (cp == '^') return '^';
  return 0;
}

}  // namespace

void append_escaped_char(Cell* out, uint32_t cp, bool all) {
  node_t node = out->w2;
  if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp > 127)) {
    append_literal(out, "^(");
    append_literal(out, to_hex(int32_t(cp), true));
    append_char(node, ')');
    return;
  }
  if (char e = cp < 95 ? escape_of(cp) : 0) {
    append_char(node, '^');
    append_char(node, uint8_t(e));
    return;
  }
  if (cp == 127) {
    append_literal(out, "^~");
    return;
  }
  append_char(node, cp);
}

int32_t form(const Cell* s, Cell* out, int32_t part) {
  Cell v = *s;
  uint32_t n = rs_length(&v);
  append_string(out, &v, -1);
  return part - int32_t(std::min<uint32_t>(n, 0x7FFFFFFF));
}

namespace {

// Position (from the range's start) of the first opening brace that no
// later closing brace closes, or the range's length when all are closed.
uint32_t first_unclosed_brace(const uint8_t* p, uint32_t unit, uint32_t n) {
  std::vector<uint32_t> open;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t c = get_char(p + uint64_t(i) * unit, unit);
    if (c == '{') open.push_back(i);
    else if (c == '}' && !open.empty()) open.pop_back();
  }
  return open.empty() ? n : open.front();
}

}  // namespace

int32_t mold(const Cell* s, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  Cell v = *s;
  v.w1 = std::min(v.w1, rs_abs_length(&v));
  uint32_t length = rs_length(&v);
  uint32_t n = part <= 0 ? 0 : std::min<uint32_t>(length, uint32_t(part));
  uint32_t quotes = 0, lines = 0;
  {
    series_buffer* b = GET_BUFFER(&v);
    uint32_t unit = b->unit();
    const uint8_t* p = b->head_ptr() + uint64_t(v.w1) * unit;
    for (uint32_t i = 0; i < n; i++) {
      uint32_t c = get_char(p + uint64_t(i) * unit, unit);
      quotes += c == '"';
      lines += c == '\n';
    }
  }
  bool braces = lines >= BRACE_LINES || quotes > 0 || length >= BRACE_LENGTH;
  node_t node = out->w2;
  append_char(node, braces ? '{' : '"');
  uint32_t unclosed = 0;
  if (braces) {
    series_buffer* b = GET_BUFFER(&v);
    unclosed = first_unclosed_brace(b->head_ptr() + uint64_t(v.w1) * b->unit(), b->unit(), n);
  }
  uint32_t depth = 0;
  for (uint32_t i = 0; i < n; i++) {
    // Appending may move the source when it is the output itself: re-read.
    uint32_t c = rs_abs_at(&v, v.w1 + i);
    if (!braces) {
      append_escaped_char(out, c, all);
      continue;
    }
    switch (c) {
      case '{':
        if (i < unclosed) {
          depth++;
        } else {
          append_char(node, '^');
        }
        append_char(node, '{');
        break;
      case '}':
        if (depth > 0) depth--;
        else append_char(node, '^');
        append_char(node, '}');
        break;
      case '"': append_char(node, '"'); break;
      default: append_escaped_char(out, c, all);
    }
  }
  append_char(node, braces ? '}' : '"');
  return part - int32_t(n) - 2;
}

}  // namespace kez::string
