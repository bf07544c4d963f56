// What the runtime asks of the terminal UI backend: hide a text-mode window
// around prints, run pending events, and mark what the backend holds.
#pragma once

namespace kez::gui {

// Called before and after the runtime writes to standard output; with a
// text-mode window shown they erase and redraw it, otherwise nothing.
void suspend_screen();
void resume_screen();
// Runs the backend's event loop once without blocking (called by `wait`).
void do_pending_events();

}  // namespace kez::gui
