// Drawing the active window into a buffer of character cells, and painting
// that buffer onto the terminal.
//
// Rendering walks the active window's widget tree into the screen buffer;
// painting turns the buffer into bytes, emitting only the colour and
// attribute changes between neighbouring cells, inline below the console's
// output or from the top-left corner of a fullscreen window's screen.
// Painting, erasing and leaving the drawing are pure functions of the paint
// state and the buffer: they append to a byte string that the caller writes
// in one go.
//
// What must stay true: every walk through a text consumes at least one
// character per step, whatever the widths and the clip box; the buffer is
// never indexed outside its width and height.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "gui/terminal/colors.h"
#include "gui/terminal/text_metrics.h"
#include "gui/terminal/widgets.h"

namespace kez::gui::render {

// Render flags: what a widget type asks of the face renderer.
enum render_flag : uint32_t {
  MASK = 0x800,        // password: every character shows as "*"
  INTERPRET = 0x1000,  // escape sequences in the text set its style
  NO_TEXT = 0x2000,    // background, image and ui only
  // The attribute bits (colors::DIM, colors::REVERSE) go onto every
  // character drawn.
};

// Paragraph flags, from the face's `para`.
enum para_flag : uint32_t {
  ALIGN_RIGHT = 1, ALIGN_CENTER = 2, ALIGN_MIDDLE = 4, ALIGN_BOTTOM = 8, WRAP = 0x20,
};

struct screen_buffer {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<colors::screen_cell> cells;  // grows only when a side must

  // Sizes the buffer and fills it with zero cells.
  void reset(int32_t w, int32_t h);
  colors::screen_cell& at(int32_t x, int32_t y) { return cells[size_t(y) * size_t(width) + size_t(x)]; }
  const colors::screen_cell& at(int32_t x, int32_t y) const {
    return cells[size_t(y) * size_t(width) + size_t(x)];
  }
};

struct paint_state {
  bool painted = false;      // a drawing stands on the screen
  int32_t lines_above = 0;   // console lines between its top and the cursor
  int32_t height = 0;        // its rows
  int32_t caret_col = -1;    // set while rendering, inside the buffer
  int32_t caret_row = -1;
  bool caret_wanted = false; // the focused widget takes text
};

struct clip_box {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return left >= right || top >= bottom; }
};

extern screen_buffer screen;
extern paint_state paint;

// Paints the buffer (nothing when it is empty).
void paint_to(std::string& out, const screen_buffer& b, paint_state& p, bool fullscreen);
// Erases the drawing before other output comes: the cursor back to its top
// row, and the lines from there cleared. Nothing when none stands.
void erase_to(std::string& out, paint_state& p);
// Leaves the drawing where it is: the cursor goes below its last row, on a
// line of its own. Nothing when none stands.
void leave_to(std::string& out, paint_state& p);

// Draws a text at (x, y) inside the clip box with the paragraph and render
// flags, in the foreground and background given.
void draw_text(screen_buffer& b, text::span text, int32_t x, int32_t y, clip_box clip,
               uint32_t para, uint32_t flags, uint32_t fg, uint32_t bg);

// Draws a rich-text face's styled cells at (x, y) inside the clip box, as
// a text without escapes: each cell keeps its colours and attributes.
void draw_styled(screen_buffer& b, const std::vector<colors::screen_cell>& cells, int32_t x,
                 int32_t y, clip_box clip, uint32_t para);
// Moves (x, y) by the paragraph alignment of the text in a box of the size
// given; nothing when the text is not smaller than the box.
void align(text::span s, int32_t box_w, int32_t box_h, uint32_t para, int32_t& x, int32_t& y);

// Renders the active window into `screen`: sized to the window's extent
// within the console's size, zero-filled, its widget tree drawn. False
// when no window is active.
bool render_active();

// Square frame corners: top left, top right, bottom left, bottom right.
inline constexpr uint32_t SQUARE_CORNERS[4] = {0x250C, 0x2510, 0x2514, 0x2518};
// A frame of box-drawing characters along the box (x0, y0)-(x1, y1), its
// corners as given, written only inside `limits` (the walk stays inside
// them too); with `colored` the frame's cells take the foreground `fg`.
void frame(screen_buffer& b, int64_t x0, int64_t y0, int64_t x1, int64_t y1, clip_box limits,
           const uint32_t* corners, bool colored, uint32_t fg);

// The paragraph flags of a face's `para`.
uint32_t para_flags(const Cell* face);

}  // namespace kez::gui::render
