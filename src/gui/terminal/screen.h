// The terminal under the text-mode GUI: starting and stopping it for the
// outermost event loop, the sequences the backend writes (alternate
// screen, cursor, mouse tracking, cursor position requests), the console
// size, and the hooks around program output that erase the inline drawing
// and have it drawn again below the printed text.
//
// What must stay true: whatever the backend changed on the terminal is
// undone on every way out (the loop's end, an error leaving it, exit,
// signals, a fatal fault), by `restore`, which is async-signal-safe and
// runs from the terminal layer's restore; standard input is read only
// while the terminal is active, and it is active only when standard input
// is a terminal.
#pragma once
#include <cstdint>
#include <string_view>

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

namespace terminal {

struct terminal_state {
  bool active = false;         // raw mode pushed for the GUI
  bool alternate = false;      // the alternate screen is in use
  bool cursor_hidden = false;
  bool mouse = false;          // mouse tracking on
  bool input_closed = false;   // standard input reached its end
  int32_t row_origin = 0;      // where the drawing starts (from a cursor report)
  int32_t col_origin = 0;
};
extern terminal_state term;

// Starts the terminal for the outermost loop (raw mode pushed, the size
// read); false when standard input is not a terminal.
bool start();
// Pops the raw mode (when active).
void stop();
void alternate_screen(bool on);
void mouse_tracking(bool on);
void show_cursor(bool show);
// Asks where the cursor is; the answer comes as input.
void request_position();
// Writes the bytes to standard output in one go.
void write(std::string_view bytes);
// Puts back the screen state (the drawing left, tracking off, the main
// screen, the cursor shown); async-signal-safe.
void restore();
// Remembers how to leave the current drawing from a signal handler.
void note_drawing();

}  // namespace terminal
}  // namespace kez::gui
