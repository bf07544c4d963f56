// Image cells: the face's image scaled to the widget's cells, two pixel
// rows to a cell row.
//
// The scaled copy lives on the value stack while its pixels are read; the
// widget keeps only the cells, which hold no address and no node.
#include "gui/terminal/image_cells.h"

#include "evaluator/stack.h"
#include "gui/face.h"
#include "gui/terminal/platform.h"
#include "types/image.h"
#include "types/image_backend.h"

namespace kez::gui::image_cells {

namespace {

// A terminal is never wider or taller than this many cells; a bigger box
// is cut before any pixel is made for it.
constexpr int32_t MAX_CELLS = 4096;
constexpr uint32_t LOWER_HALF_BLOCK = 0x2584;

int32_t side(float v) { return v >= 1 ? int32_t(v < MAX_CELLS ? v : MAX_CELLS) : 0; }

}  // namespace

void build(widgets::widget* w) {
  uint32_t id = w->id;
  w->image = widgets::image_cells{};
  const Cell* img = face::get(&w->face, face::IMAGE);
  int32_t width = side(w->width()), height = side(w->height());
  if (TYPE_OF(img) != TYPE_IMAGE || !img->w2 || image::pixel_count(img) == 0 || width == 0 ||
      height == 0)
    return;
  Cell source = *img;
  Cell* scaled = image::resize(&source, uint32_t(width), uint32_t(height) * 2);
  Cell pixels = *scaled;
  w = widgets::get(id);
  if (!w || !pixels.w2) {
    stack::pop(1);
    return;
  }
  widgets::image_cells cells;
  cells.width = width;
  cells.height = height;
  cells.cells.resize(size_t(width) * size_t(height));
  for (int32_t r = 0; r < height; r++) {
    for (int32_t c = 0; c < width; c++) {
      uint32_t top = image_backend::get_pixel(pixels.w2, uint32_t(2 * r * width + c));
      uint32_t bottom = image_backend::get_pixel(pixels.w2, uint32_t((2 * r + 1) * width + c));
      colors::screen_cell& cell = cells.cells[size_t(r) * size_t(width) + size_t(c)];
      if ((top >> 24) == 0) {
        cell = colors::screen_cell{' ', 0, 0, 0};  // a transparent pixel shows the default
        continue;
      }
      cell.code = LOWER_HALF_BLOCK;
      cell.bg = colors::from_pixel(top, color_mode);
      cell.fg = colors::from_pixel(bottom, color_mode);
      cell.attr = 0;
    }
  }
  stack::pop(1);
  w->image = std::move(cells);
}

}  // namespace kez::gui::image_cells
