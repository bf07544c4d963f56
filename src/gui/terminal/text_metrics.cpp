// Text measured in display columns: one walker places the characters one by
// one, and every measurement reads where it put them.
#include "gui/terminal/text_metrics.h"

#include <algorithm>

#include "foundation/casefold.h"

namespace kez::gui::text {

namespace {

// Places characters left to right. After a successful next(), `start` is
// where the character just placed begins and `width` its columns.
struct walker {
  walker(span t, int32_t w) : text(t), wrap(w) {}

  span text;
  int32_t wrap;
  uint32_t i = 0;
  position at;      // where the next character would begin, before wrapping
  position start;
  int32_t width = 0;
  int32_t widest = 0;
  bool line_feed = false;

  bool next() {
    if (i >= text.length) return false;
    uint32_t cp = text.at(i);
    line_feed = cp == '\n';
    if (line_feed) {
      start = at;
      width = 0;
      new_line();
      i++;
      return true;
    }
    width = unicode::char_width(cp);
    if (wrap != NO_WRAP && at.column + width > wrap) {
      if (width > wrap) return false;  // fits on no line
      new_line();
    }
    start = at;
    at.column += width;
    i++;
    return true;
  }

  void new_line() {
    widest = std::max(widest, at.column);
    at.line++;
    at.column = 0;
  }

  extent result() const {
    return {std::max(widest, at.column), at.line + 1, i};
  }
};

}  // namespace

span of(const Cell* string) {
  series_buffer* b = GET_BUFFER(string);
  uint32_t unit = b->unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(string->w1, total);
  return {b->head_ptr() + size_t(head) * unit, unit, total - head};
}

extent measure(span text, int32_t wrap) {
  walker w(text, wrap);
  while (w.next()) {}
  return w.result();
}

extent measure_to(span text, int32_t limit) {
  walker w(text, NO_WRAP);
  for (;;) {
    walker before = w;
    if (!w.next()) break;
    if (w.at.column > limit) return before.result();
  }
  return w.result();
}

position offset_of(span text, int32_t wrap, int32_t index) {
  walker w(text, wrap);
  for (int32_t n = 1; n < index && w.next(); n++) {}
  if (index >= 1 && w.next()) return w.start;
  return w.at;
}

uint32_t index_at(span text, int32_t wrap, int32_t column, int32_t line, bool in_text) {
  walker w(text, wrap);
  while (w.next()) {
    if (w.start.line > line) return w.i;  // wrapped past the line's end
    if (w.start.line < line) continue;
    if (w.line_feed || column < w.start.column + w.width) return w.i;
  }
  return in_text ? w.i : w.i + 1;
}

}  // namespace kez::gui::text
