// The quick road of the face's change hook: one routine that makes, in C++,
// the checks every facet change starts with, and finishes the common change
// that only marks the face.
#pragma once
#include <span>

#include "boot/routines.h"

namespace kez::gui::face_change {

// `quick-face-change*`, for `_gui-routine`.
std::span<const boot::routine_entry> routines();

}  // namespace kez::gui::face_change
