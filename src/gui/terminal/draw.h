// The draw dialect as this backend runs it: every command is parsed and
// checked with its arguments, and the few that change character cells
// (pens, fill pens, box, line, triangle, circle, ellipse, font, text) hand
// their shapes to a paint table; the rest are accepted and do nothing.
//
// What must stay true: the run calls no Kez code except through a set-word
// (which may fire an owner's on-change), so it holds block cells and
// indexes, never cell addresses, across a step. A block is on the recursion
// guard while it runs: a block met again inside itself is draw-infinite.
// Shapes reach the paint table already clamped (shapes::COORD_LIMIT).
#pragma once
#include <cstdint>

#include <vector>

#include "gui/terminal/colors.h"
#include "gui/terminal/render.h"
#include "gui/terminal/shapes.h"
#include "values/cell.h"

namespace kez::gui::draw {

// The pen and text state of one run. Colours are the tuples as given
// (none for the default colour): the paint table converts them.
struct pens {
  bool pen_on = true;
  Cell pen_color = make_none();
  bool fill_on = false;
  Cell fill_color = make_none();
  Cell font_color = make_none();
  bool font_set = false;  // the text colour comes from `font`
  Cell text_color() const { return font_set ? font_color : pen_on ? pen_color : make_none(); }
};

struct run_state;

// Where the cell-changing commands land. Box and text coordinates are
// relative to the origin; line, triangle and ellipse are in buffer cells.
struct paint_table {
  void (*box)(run_state& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2);
  void (*line)(run_state& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1);
  void (*triangle)(run_state& s, const int64_t (&xy)[6]);
  void (*ellipse)(run_state& s, int64_t cx, int64_t cy, int64_t a, int64_t b);
  // The value is a string! or an object! (a rich-text face).
  void (*text)(run_state& s, int64_t x, int64_t y, const Cell* value);
};

struct run_state {
  pens pen;
  const paint_table* paint = nullptr;  // none: check only (images)
  void* target = nullptr;              // the paint table's own record
};

// A draw error, before it is raised: the error id and the block positioned
// at the offending value. Thrown out of `run` past its recursion guard, so
// that the error can be molded without the guard's marks.
struct failure {
  int id;
  Cell at;
};

// Runs the block (at its index) with the state. Throws `failure` for
// draw-invalid and draw-infinite; other errors (a protected set-word, a
// nesting too deep for the guard) are raised as they come.
void run(const Cell* block, run_state& s);

// Raises the failure as the script error it stands for.
[[noreturn]] void raise(const failure& f);

// True when `system/view/silent?` is true.
bool silent();

// The platform context's `draw-image` (image, cmds): nothing for an empty
// image; otherwise the block is checked (no pixel changes) and the image's
// owner notified. A draw error is raised, or with silent? the run is
// abandoned quietly.
void draw_image();

// Runs a face's `draw` block into the buffer from the face's position
// (x, y) within its clip box. A draw error prints its report (unless
// silent?) and is then raised, out of the redraw.
void draw_face(render::screen_buffer& b, widgets::widget* w, int32_t x, int32_t y,
               render::clip_box clip);

// The styled cells of a rich-text face: a cell for each character of its
// `text` (none when it is not a string), on the face's background, with the
// style ranges of `data` applied. A bad style item raises draw-invalid.
void styled_cells(const Cell* face, std::vector<colors::screen_cell>& out);
// The rich-text widget's update: its styled cells rebuilt.
void update_rich_text(uint32_t widget);

}  // namespace kez::gui::draw
