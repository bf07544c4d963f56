// The image of a face, which the image datatype asks the GUI backend for
// (`to image!` of a face). The terminal backend draws no pixels: it has no
// image of any face.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::gui {

// The image node of the face's rendering, or 0 when the backend has none.
uint32_t face_to_image(const Cell* face);

}  // namespace kez::gui
