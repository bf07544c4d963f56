// The draw run's cells: the paint table that turns boxes, lines,
// triangles, circles, ellipses and texts into screen-buffer cells, and the
// face renderer's call of the run.
//
// What must stay true: a box is limited to the face (left of or above its
// origin and right of or below its clip box nothing changes) and walks only
// the cells inside those limits; line, triangle and ellipse are limited
// only by the buffer and go through the bounded walks of shapes.h. No cell
// is written outside the buffer. The buffer is re-read through its record
// on every write: Kez code run by a set-word may resize it.
#include <algorithm>

#include "evaluator/stack.h"
#include "foundation/output.h"
#include "gui/face.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/text_metrics.h"
#include "gui/terminal/widgets.h"
#include "types/point.h"
#include "values/error.h"
#include "values/string.h"

namespace kez::gui::draw {

namespace {

using colors::screen_cell;

constexpr uint32_t FULL_BLOCK = 0x2588;

// The face being drawn.
struct face_target {
  render::screen_buffer* b;
  int32_t ox, oy;          // the face's origin in the buffer
  render::clip_box clip;
  uint32_t bg;             // the face's background, under the texts drawn
};

face_target& target_of(run_state& s) { return *static_cast<face_target*>(s.target); }

shapes::grid grid_of(const face_target& t) { return {t.b->width, t.b->height}; }

// A cell position of the buffer, bounded to a 32-bit coordinate.
int32_t bounded(int64_t v) { return int32_t(shapes::clamp_coord(v)); }

uint32_t color_of(const Cell& tuple) { return colors::from_tuple(&tuple); }

void box(run_state& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  face_target& t = target_of(s);
  int64_t ax = t.ox + std::min(x1, x2), bx = t.ox + std::max(x1, x2);
  int64_t ay = t.oy + std::min(y1, y2), by = t.oy + std::max(y1, y2);
  int64_t left = std::max(t.ox, 0), top = std::max(t.oy, 0);
  int64_t right = std::min(t.clip.right, t.b->width), bottom = std::min(t.clip.bottom, t.b->height);
  if (s.pen.fill_on) {
    uint32_t fill = color_of(s.pen.fill_color);
    for (int64_t row = std::max(ay, top); row <= std::min(by, bottom - 1); row++)
      for (int64_t col = std::max(ax, left); col <= std::min(bx, right - 1); col++)
        t.b->at(int32_t(col), int32_t(row)) = screen_cell{' ', fill, 0, 0};
  }
  if (!s.pen.pen_on) return;
  render::clip_box limits{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
  render::frame(*t.b, ax, ay, bx, by, limits, render::SQUARE_CORNERS, true,
                color_of(s.pen.pen_color));
}

// A pen stroke: a full block in the pen colour.
auto stroke(run_state& s) {
  face_target* t = &target_of(s);
  uint32_t pen = color_of(s.pen.pen_color);
  return [t, pen](int32_t x, int32_t y) {
    screen_cell& c = t->b->at(x, y);
    c.code = FULL_BLOCK;
    c.fg = pen;
  };
}

// A filled cell: a space on the fill colour.
auto filling(run_state& s) {
  face_target* t = &target_of(s);
  uint32_t fill = color_of(s.pen.fill_color);
  return [t, fill](int32_t x, int32_t y) { t->b->at(x, y) = screen_cell{' ', fill, 0, 0}; };
}

void line(run_state& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  if (s.pen.pen_on) shapes::line(grid_of(target_of(s)), x0, y0, x1, y1, stroke(s));
}

void triangle(run_state& s, const int64_t (&p)[6]) {
  shapes::grid g = grid_of(target_of(s));
  if (s.pen.fill_on) shapes::fill_triangle(g, p[0], p[1], p[2], p[3], p[4], p[5], filling(s));
  if (!s.pen.pen_on) return;
  shapes::line(g, p[0], p[1], p[2], p[3], stroke(s));
  shapes::line(g, p[2], p[3], p[4], p[5], stroke(s));
  shapes::line(g, p[4], p[5], p[0], p[1], stroke(s));
}

void ellipse(run_state& s, int64_t cx, int64_t cy, int64_t a, int64_t b) {
  bool pen = s.pen.pen_on, fill = s.pen.fill_on;
  if (!pen && !fill) return;
  auto draw_edge = stroke(s);
  auto draw_inside = filling(s);
  shapes::ellipse(
      grid_of(target_of(s)), cx, cy, a, b,
      [&](int32_t x, int32_t y) { if (pen) draw_edge(x, y); },
      [&](int32_t x, int32_t y) { if (fill) draw_inside(x, y); });
}

// The size of a face's box in whole cells; 0 x 0 without one.
void box_size(const Cell* face, int32_t& w, int32_t& h) {
  Cell size = *face::get(face, face::SIZE);
  w = h = 0;
  if (TYPE_OF(&size) == TYPE_PAIR) {
    w = int32_t(size.w2);
    h = int32_t(size.w3);
  } else if (TYPE_OF(&size) == TYPE_POINT2D) {
    w = bounded(shapes::clamp_coord(double(point::coord(&size, 0))));
    h = bounded(shapes::clamp_coord(double(point::coord(&size, 1))));
  }
}

void text(run_state& s, int64_t x, int64_t y, const Cell* value) {
  face_target& t = target_of(s);
  int32_t tx = bounded(t.ox + x), ty = bounded(t.oy + y);
  Cell v = *value;
  if (TYPE_OF(&v) == TYPE_STRING) {
    render::draw_text(*t.b, text::of(&v), tx, ty, t.clip, render::WRAP, render::INTERPRET,
                      color_of(s.pen.text_color()), t.bg);
    return;
  }
  // A rich-text face: its styled cells, aligned in its own box.
  std::vector<screen_cell> cells;
  styled_cells(&v, cells);
  Cell chars = *face::get(&v, face::TEXT);
  if (TYPE_OF(&chars) != TYPE_STRING) return;
  uint32_t para = render::para_flags(&v);
  int32_t w, h;
  box_size(&v, w, h);
  render::align(text::of(&chars), w, h, para, tx, ty);
  render::draw_styled(*t.b, cells, tx, ty, t.clip, para);
}

constexpr paint_table SCREEN = {box, line, triangle, ellipse, text};

// The report of a draw error, on standard output as `print` writes it.
// The drawing is erased first; the redraw is being left, so the window is
// only marked for the next one (asking where the cursor is now would leave
// an answer that no loop reads).
void report(const failure& f) {
  Cell e = *error::create(err::SCRIPT, f.id, &f.at, nullptr, nullptr);
  Cell* text = string::push_new(64);
  error::form(&e, text, 0x7FFFFFFF);
  gui::suspend_screen();
  output::write_string(text, true);
  widgets::backend.dirty = true;
  stack::pop(2);
}

}  // namespace

void draw_face(render::screen_buffer& b, widgets::widget* w, int32_t x, int32_t y,
               render::clip_box clip) {
  Cell face = w->face;
  Cell block = *face::get(&face, face::DRAW);
  face_target t{&b, x, y, clip, colors::from_tuple(face::get(&face, face::COLOR))};
  run_state s;
  s.paint = &SCREEN;
  s.target = &t;
  try {
    run(&block, s);
  } catch (const failure& f) {
    if (!silent()) report(f);
    raise(f);
  }
}

}  // namespace kez::gui::draw
