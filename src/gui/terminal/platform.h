// The terminal backend behind `system/view/platform`: the routines of the
// platform context (the GUI layer's only road to the backend) and the
// backend state they share.
#pragma once
#include <cstdint>
#include <span>

#include "boot/routines.h"
#include "values/cell.h"

namespace kez::gui {

// The colour depth that `TUI-helpers/check-color-support` answered at the
// backend's start-up: 4 true colour, 2 the 256-colour palette.
extern int32_t color_mode;

// Hands an event to the backend's queue: this backend queues nothing.
bool os_send_event(const Cell* event, bool queued);

// The platform context's routines, by field name, and the backend's
// start-up (`init`, called by the context's own `init` function).
std::span<const boot::routine_entry> platform_routines();

}  // namespace kez::gui
