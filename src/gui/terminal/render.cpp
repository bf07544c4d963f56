// The face renderer and the painter.
//
// Rendering reads faces through the widgets' copies of their cells and
// calls no Kez code, so no buffer moves while a text is walked; the draw
// run is the one exception (a set-word in it may fire an on-change) and is
// called last for its widget.
#include "gui/terminal/render.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "foundation/casefold.h"
#include "gui/face.h"
#include "gui/terminal/calls.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/reactions.h"
#include "gui/terminal/screen.h"
#include "values/block.h"
#include "values/context.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::render {

screen_buffer screen;
paint_state paint;

namespace {

using widgets::widget;
using colors::screen_cell;

constexpr uint32_t ESCAPE = 27;
// Frame characters: square and round corners, the sides.
constexpr uint32_t ROUND_CORNERS[4] = {0x256D, 0x256E, 0x2570, 0x256F};
constexpr uint32_t VERTICAL = 0x2502;
constexpr uint32_t HORIZONTAL = 0x2500;

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

bool word_is(const Cell* v, uint32_t sym) {
  return word::is_any_word(TYPE_OF(v)) && word::canonical(v) == sym;
}

// Whole cells of a coordinate (bounded when the widget was made).
int32_t cell_of(float v) { return int32_t(std::floor(v)); }
int32_t span_of(float v) { return v > 0 ? int32_t(std::ceil(v)) : 0; }

void append_number(std::string& out, int32_t n) {
  char buf[12];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;
  out.append(buf, end);
}

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// Back to the first column of the drawing's top row, and everything from
// there cleared: always, so that a one-row drawing is cleared too.
void clear_from_top(std::string& out, int32_t lines_above) {
  out += '\r';
  if (lines_above > 0) {
    out += "\x1b[";
    append_number(out, lines_above);
    out += 'A';
  }
  out += "\x1b[0J";
}

// The value after a word in an options block (`options/name`), or null.
const Cell* option(const Cell* face, uint32_t sym) {
  const Cell* options = face::get(face, face::OPTIONS);
  if (TYPE_OF(options) != TYPE_BLOCK) return nullptr;
  Cell o = *options;
  int32_t n = block::rs_length(&o);
  for (int32_t i = 0; i + 1 < n; i++)
    if (word_is(block::rs_head(&o) + i, sym)) return block::rs_head(&o) + i + 1;
  return nullptr;
}

uint32_t font_color(const Cell* face) {
  const Cell* font = face::get(face, face::FONT);
  if (TYPE_OF(font) != TYPE_OBJECT) return 0;
  const Cell* c = calls::field(font, "color");
  return c ? colors::from_tuple(c) : 0;
}

// Writes one character's cells: the character, then a continuation cell
// for each further column it takes.
void put_char(screen_buffer& b, int32_t col, int32_t row, int32_t width, const screen_cell& c) {
  b.at(col, row) = c;
  for (int32_t k = 1; k < width; k++) {
    screen_cell& cont = b.at(col + k, row);
    cont = c;
    cont.code = 0;
    cont.attr = c.attr | colors::CONTINUATION;
  }
}

// Draws cells (image cells, styled cells) from (x, y), `width` a row,
// inside the clip box.
void draw_cells(screen_buffer& b, const std::vector<screen_cell>& cells, int32_t width, int32_t x,
                int32_t y, clip_box clip) {
  if (width <= 0) return;
  for (size_t i = 0; i < cells.size(); i++) {
    int32_t col = x + int32_t(i % size_t(width)), row = y + int32_t(i / size_t(width));
    if (row >= clip.bottom) break;
    if (row < clip.top || col < clip.left || col >= clip.right) continue;
    b.at(col, row) = cells[i];
  }
}

// The face's clip box at (x, y): its own box, within its parent's box
// (unless the parent is the window) and within the buffer.
clip_box clip_of(const widget* w, int32_t x, int32_t y, const screen_buffer& b) {
  clip_box c{x, y, x + span_of(w->width()), y + span_of(w->height())};
  const widget* parent = widgets::get(w->parent);
  if (parent && parent->type != widgets::kind::window) {
    int32_t px = x - cell_of(w->left), py = y - cell_of(w->top);
    c.left = std::max(c.left, px);
    c.top = std::max(c.top, py);
    c.right = std::min(c.right, px + span_of(parent->width()));
    c.bottom = std::min(c.bottom, py + span_of(parent->height()));
  }
  c.left = std::max(c.left, 0);
  c.top = std::max(c.top, 0);
  c.right = std::min(c.right, b.width);
  c.bottom = std::min(c.bottom, b.height);
  return c;
}

void fill(screen_buffer& b, clip_box c, uint32_t bg) {
  for (int32_t row = c.top; row < c.bottom; row++)
    for (int32_t col = c.left; col < c.right; col++) b.at(col, row) = screen_cell{' ', bg, 0, 0};
}

// The frame of a group box over its whole box, then its title.
void draw_frame(screen_buffer& b, const widget* w, int32_t x, int32_t y, clip_box clip) {
  static const uint32_t corners_sym = canonical("border-corners"), color_sym = canonical("border-color"),
                        round_sym = canonical("round");
  const Cell* corners = option(&w->face, corners_sym);
  const Cell* color = option(&w->face, color_sym);
  const uint32_t* glyphs = corners && word_is(corners, round_sym) ? ROUND_CORNERS : SQUARE_CORNERS;
  bool colored = color && TYPE_OF(color) == TYPE_TUPLE;
  uint32_t fg = colored ? colors::from_tuple(color) : 0;
  int32_t right = x + span_of(w->width()) - 1, bottom = y + span_of(w->height()) - 1;
  if (right < x || bottom < y) return;
  frame(b, x, y, right, bottom, clip, glyphs, colored, fg);
  const Cell* text = face::get(&w->face, face::TEXT);
  if (TYPE_OF(text) == TYPE_STRING)
    draw_text(b, text::of(text), x + 1, y, clip, 0, INTERPRET, font_color(&w->face),
              colors::from_tuple(face::get(&w->face, face::COLOR)));
}

// The default renderer: background, image cells, ui text, the text (or the
// hint), then the draw block.
void draw_face(screen_buffer& b, widget* w, int32_t x, int32_t y, uint32_t flags) {
  static const uint32_t hint_sym = canonical("hint");
  clip_box clip = clip_of(w, x, y, b);
  if (clip.empty()) return;
  const Cell* face = &w->face;
  uint32_t bg = colors::from_tuple(face::get(face, face::COLOR));
  uint32_t fg = font_color(face);
  uint32_t para = para_flags(face);
  fill(b, clip, bg);
  if (!w->image.cells.empty()) draw_cells(b, w->image.cells, w->image.width, x, y, clip);
  if (TYPE_OF(&w->ui) == TYPE_STRING) draw_text(b, text::of(&w->ui), x, y, clip, 0, flags, fg, bg);
  if (!(flags & NO_TEXT)) {
    const Cell* text = face::get(face, face::TEXT);
    bool has_text = TYPE_OF(text) == TYPE_STRING && text::of(text).length > 0;
    uint32_t text_flags = flags;
    if (!has_text) {
      const Cell* hint = option(face, hint_sym);
      if (hint && TYPE_OF(hint) == TYPE_STRING) {
        text = hint;
        has_text = true;
        text_flags = (flags & ~MASK) | colors::DIM;
      }
    }
    if (w->type == widgets::kind::rich_text && TYPE_OF(text) == TYPE_STRING) {
      draw_styled(b, w->styled, x, y, clip, para);
    } else if (has_text) {
      text::span s = text::of(text);
      int32_t tx = x, ty = y;
      align(s, span_of(w->width()), span_of(w->height()), para, tx, ty);
      draw_text(b, s, tx, ty, clip, para, text_flags, fg, bg);
    }
  }
  const Cell* draw = face::get(face, face::DRAW);
  if (TYPE_OF(draw) == TYPE_BLOCK && block::rs_length(draw) > 0) draw::draw_face(b, w, x, y, clip);
}

// The caret base: a base naming a face in its options places the caret
// while that face has the focus.
void caret_base(const widget* w, int32_t x, int32_t y) {
  static const uint32_t caret_sym = canonical("caret");
  const Cell* options = face::get(&w->face, face::OPTIONS);
  if (TYPE_OF(options) != TYPE_BLOCK) return;
  Cell o = *options;
  int32_t n = block::rs_length(&o);
  for (int32_t i = 0; i + 1 < n; i += 2) {
    if (!word_is(block::rs_head(&o) + i, caret_sym)) continue;
    Cell target = block::rs_head(&o)[i + 1];
    if (TYPE_OF(&target) == TYPE_WORD && target.w1) {
      const Cell* v = context::get(&target);
      target = v ? *v : make_none();
    }
    const widget* t = widgets::of_face(&target);
    if (t && (t->flags & widgets::HAS_FOCUS)) {
      paint.caret_col = x;
      paint.caret_row = y;
    }
  }
}

void render_widget(screen_buffer& b, widget* w, int32_t x, int32_t y) {
  using widgets::kind;
  bool focused = w->flags & widgets::HAS_FOCUS;
  uint32_t reverse = focused ? uint32_t(colors::REVERSE) : 0u;
  switch (w->type) {
    case kind::window: return;
    case kind::field: {
      draw_face(b, w, x, y, INTERPRET | (w->flags & widgets::PASSWORD ? uint32_t(MASK) : 0u));
      if (focused) {
        reactions::sync_edit(w->id);
        int32_t column = w->flags & widgets::PASSWORD ? w->edit.cursor : w->edit.column;
        paint.caret_col = x + column;
        paint.caret_row = y;
      }
      return;
    }
    case kind::button: draw_face(b, w, x, y, INTERPRET | reverse); return;
    case kind::base:
      if (w->flags & widgets::CARET_BASE) caret_base(w, x, y);
      else draw_face(b, w, x, y, INTERPRET);
      return;
    case kind::progress: draw_face(b, w, x, y, 0); return;
    case kind::group_box: {
      draw_face(b, w, x, y, NO_TEXT);
      clip_box clip = clip_of(w, x, y, b);
      if (!clip.empty()) draw_frame(b, w, x, y, clip);
      return;
    }
    case kind::check: case kind::radio: draw_face(b, w, x, y, INTERPRET | NO_TEXT | reverse); return;
    case kind::rich_text: draw_face(b, w, x, y, 0); return;
    default: draw_face(b, w, x, y, INTERPRET); return;
  }
}

void render_tree(screen_buffer& b, uint32_t id, int depth) {
  widget* w = widgets::get(id);
  if (!w || (w->flags & widgets::HIDDEN) || depth > 1000) return;
  float fx, fy;
  widgets::absolute_position(w, fx, fy);
  render_widget(b, w, cell_of(fx), cell_of(fy));
  for (uint32_t child : widgets::children(w)) render_tree(b, child, depth + 1);
}

}  // namespace

uint32_t para_flags(const Cell* face) {
  static const uint32_t center = canonical("center"), right = canonical("right"),
                        middle = canonical("middle"), bottom = canonical("bottom");
  const Cell* para = face::get(face, face::PARA);
  if (TYPE_OF(para) != TYPE_OBJECT) return 0;
  uint32_t flags = 0;
  if (const Cell* a = calls::field(para, "align")) {
    if (word_is(a, center)) flags |= ALIGN_CENTER;
    else if (word_is(a, right)) flags |= ALIGN_RIGHT;
  }
  if (const Cell* v = calls::field(para, "v-align")) {
    if (word_is(v, middle)) flags |= ALIGN_MIDDLE;
    else if (word_is(v, bottom)) flags |= ALIGN_BOTTOM;
  }
  if (const Cell* wrap = calls::field(para, "wrap?"); wrap && TYPE_OF(wrap) == TYPE_LOGIC && wrap->w1)
    flags |= WRAP;
  return flags;
}

void frame(screen_buffer& b, int64_t x0, int64_t y0, int64_t x1, int64_t y1, clip_box limits,
           const uint32_t* corners, bool colored, uint32_t fg) {
  auto put = [&](int64_t col, int64_t row, uint32_t code) {
    if (col < limits.left || col >= limits.right || row < limits.top || row >= limits.bottom) return;
    screen_cell& c = b.at(int32_t(col), int32_t(row));
    c.code = code;
    if (colored) c.fg = fg;
  };
  for (int64_t col = std::max<int64_t>(x0 + 1, limits.left); col < std::min<int64_t>(x1, limits.right);
       col++) {
    put(col, y0, HORIZONTAL);
    put(col, y1, HORIZONTAL);
  }
  for (int64_t row = std::max<int64_t>(y0 + 1, limits.top); row < std::min<int64_t>(y1, limits.bottom);
       row++) {
    put(x0, row, VERTICAL);
    put(x1, row, VERTICAL);
  }
  put(x0, y0, corners[0]);
  put(x1, y0, corners[1]);
  put(x0, y1, corners[2]);
  put(x1, y1, corners[3]);
}

void screen_buffer::reset(int32_t w, int32_t h) {
  width = std::max(w, 0);
  height = std::max(h, 0);
  size_t n = size_t(width) * size_t(height);
  if (cells.size() < n) cells.resize(n);
  std::fill(cells.begin(), cells.begin() + std::ptrdiff_t(n), screen_cell{});
}

namespace {

// The walk of a text drawn into the buffer, over a source that gives each
// character's code point, the escape sequence starting there (its length,
// 0 for none) and the cell it becomes in the style in force.
template <class Source>
void walk_text(screen_buffer& b, Source& src, uint32_t length, int32_t x, int32_t y, clip_box clip,
               bool wrap, bool masked, colors::text_style& style) {
  int32_t col = x, row = y;
  uint32_t i = 0;
  // Skips to the next line feed: the rest of a line that went past the
  // right edge without wrapping (style sequences in it still count).
  auto skip_line = [&]() {
    while (i < length && src.code(i) != '\n') {
      uint32_t n = src.escape(i, style);
      i += n ? n : 1;
    }
  };
  while (i < length && row < clip.bottom) {
    uint32_t c = src.code(i);
    if (uint32_t n = src.escape(i, style)) {
      i += n;
      continue;
    }
    if (c == '\n') {
      row++;
      col = x;
      i++;
      continue;
    }
    int32_t width = masked ? 1 : unicode::char_width(c);
    if (width <= 0) {
      i++;  // zero-width characters take no cell
      continue;
    }
    if (col + width > clip.right) {
      if (wrap && col > x) {
        row++;
        col = x;  // the character is drawn at the start of the next row
        continue;
      }
      if (wrap) i++;  // wider than the whole box: left out
      else skip_line();
      continue;
    }
    if (row >= clip.top && col >= clip.left) put_char(b, col, row, width, src.cell(i, style));
    col += width;
    i++;
    if (col >= clip.right) {
      if (wrap) {
        row++;
        col = x;
      } else {
        skip_line();
      }
    }
  }
}

}  // namespace

void draw_text(screen_buffer& b, text::span text, int32_t x, int32_t y, clip_box clip,
               uint32_t para, uint32_t flags, uint32_t fg, uint32_t bg) {
  struct source {
    text::span text;
    bool interpret, masked;
    uint32_t bg, extra;
    uint32_t code(uint32_t i) const { return text.at(i); }
    uint32_t escape(uint32_t i, colors::text_style& style) const {
      return interpret && text.at(i) == ESCAPE ? colors::read_sequence(text, i, style) : 0;
    }
    screen_cell cell(uint32_t i, const colors::text_style& style) const {
      screen_cell c{masked ? uint32_t('*') : text.at(i), bg, style.fg, style.attr | extra};
      if (masked) c.attr |= colors::MASKED;
      return c;
    }
  } src{text, (flags & INTERPRET) != 0, (flags & MASK) != 0, bg,
        flags & (colors::DIM | colors::REVERSE)};
  colors::text_style style{fg, bg, 0};
  walk_text(b, src, text.length, x, y, clip, para & WRAP, src.masked, style);
}

void draw_styled(screen_buffer& b, const std::vector<screen_cell>& cells, int32_t x, int32_t y,
                 clip_box clip, uint32_t para) {
  struct source {
    const std::vector<screen_cell>& cells;
    uint32_t code(uint32_t i) const { return cells[i].code; }
    uint32_t escape(uint32_t, colors::text_style&) const { return 0; }
    screen_cell cell(uint32_t i, const colors::text_style&) const { return cells[i]; }
  } src{cells};
  colors::text_style style;
  walk_text(b, src, uint32_t(cells.size()), x, y, clip, para & WRAP, false, style);
}

void align(text::span s, int32_t box_w, int32_t box_h, uint32_t para, int32_t& x, int32_t& y) {
  if (!(para & (ALIGN_CENTER | ALIGN_RIGHT | ALIGN_MIDDLE | ALIGN_BOTTOM))) return;
  text::extent e = text::measure(s, para & WRAP ? box_w : text::NO_WRAP);
  if (e.width < box_w) {
    if (para & ALIGN_CENTER) x += (box_w - e.width) / 2;
    else if (para & ALIGN_RIGHT) x += box_w - e.width;
  }
  if (e.lines < box_h) {
    if (para & ALIGN_MIDDLE) y += (box_h - e.lines) / 2;
    else if (para & ALIGN_BOTTOM) y += box_h - e.lines;
  }
}

bool render_active() {
  widgets::window_record* rec = widgets::record_of(widgets::backend.active);
  widget* win = rec ? widgets::get(rec->window) : nullptr;
  if (!win) {
    screen.reset(0, 0);
    return false;
  }
  int32_t width = std::min(screen_width, span_of(rec->right - rec->left));
  int32_t height = std::min(screen_height, span_of(rec->bottom - rec->top));
  screen.reset(width, height);
  paint.caret_col = paint.caret_row = -1;
  render_tree(screen, win->id, 0);
  widget* focused = widgets::get(widgets::backend.focused);
  paint.caret_wanted = focused && (focused->flags & widgets::TEXT_INPUT);
  return true;
}

void paint_to(std::string& out, const screen_buffer& b, paint_state& p, bool fullscreen) {
  if (b.width < 1 || b.height < 1) return;
  if (fullscreen) out += "\x1b[H";
  else clear_from_top(out, p.lines_above);
  screen_cell previous{};
  for (int32_t row = 0; row < b.height; row++) {
    for (int32_t col = 0; col < b.width; col++) {
      const screen_cell& c = b.at(col, row);
      if (c.attr & colors::CONTINUATION) continue;
      colors::write_changes(out, previous, c);
      previous = c;
      if (c.attr & colors::MASKED) out += '*';
      else if (c.code == 0) out += ' ';
      else put_utf8(out, c.code);
    }
    if (row + 1 < b.height) {
      // A line feed that scrolls fills the new line with the background
      // in force: the default one.
      out += "\x1b[49m\r\n";
      previous.bg = 0;
    }
  }
  colors::write_changes(out, previous, screen_cell{});
  p.height = b.height;
  if (p.caret_wanted && (p.caret_col >= 0 || p.caret_row >= 0)) {
    out += '\r';
    int32_t up = b.height - p.caret_row - 1;
    if (up > 0) {
      out += "\x1b[";
      append_number(out, up);
      out += 'A';
    }
    if (p.caret_col > 0) {
      out += "\x1b[";
      append_number(out, p.caret_col);
      out += 'C';
    }
    p.lines_above = std::max(p.caret_row, 0);
  } else {
    p.lines_above = b.height - 1;
  }
  p.painted = true;
}

void erase_to(std::string& out, paint_state& p) {
  if (!p.painted) return;
  clear_from_top(out, p.lines_above);
  p.lines_above = 0;
  p.painted = false;
}

void leave_to(std::string& out, paint_state& p) {
  if (!p.painted) return;
  int32_t down = p.height - 1 - p.lines_above;
  if (down > 0) {
    out += "\x1b[";
    append_number(out, down);
    out += 'B';
  }
  out += "\r\n";
  p.lines_above = 0;
  p.painted = false;
}

}  // namespace kez::gui::render
