// A face's image as character cells: each cell shows two pixels of one
// column, the upper as its background and the lower as its foreground of
// a lower half block.
#pragma once

#include "gui/terminal/widgets.h"

namespace kez::gui::image_cells {

// Rebuilds the widget's cells from its face's `image` at the widget's size
// (none for an empty image, an empty box or a face without an image).
void build(widgets::widget* w);

}  // namespace kez::gui::image_cells
