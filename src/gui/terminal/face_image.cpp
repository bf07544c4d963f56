// The terminal backend's answer to "the image of this face": none, since a
// text-mode window has no pixels to capture.
#include "gui/terminal/face_image.h"

namespace kez::gui {

uint32_t face_to_image(const Cell*) { return 0; }

}  // namespace kez::gui
