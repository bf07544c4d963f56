// What the runtime asks of the terminal UI backend: hide a text-mode window
// around prints, run pending events, and mark what the backend holds; and
// the console's size in character cells, as the backend keeps it.
#pragma once
#include <cstdint>

namespace kez::gui {

// Called before and after the runtime writes to standard output; with a
// text-mode window shown they erase and redraw it, otherwise nothing.
void suspend_screen();
void resume_screen();
// Runs the backend's event loop once without blocking (called by `wait`).
void do_pending_events();

// The console size that the screen face takes: 80x24 until read.
inline constexpr int32_t DEFAULT_SCREEN_WIDTH = 80;
inline constexpr int32_t DEFAULT_SCREEN_HEIGHT = 24;
extern int32_t screen_width;
extern int32_t screen_height;
// Reads the terminal's size when standard output is a terminal; 80x24 when
// it is not, or when the terminal will not say.
void read_screen_size();

}  // namespace kez::gui
