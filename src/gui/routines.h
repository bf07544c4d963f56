// The GUI layer's routines, handed to its Kez sources while they build the
// layer: `_gui-routine name` answers a new routine! of the event! datatype's
// or the platform context's table, so that the platform's routines become
// fields of its object without passing through global words; `_event-init`
// registers event! in its boot phase. The sources unset both when done.
#pragma once

namespace kez::gui {

// Binds `_gui-routine` and `_event-init` (start-up, before the boot library).
void make_routines();

}  // namespace kez::gui
