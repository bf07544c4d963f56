// Terminal control for the text-mode GUI.
//
// The sequences written here are the whole of what the backend changes on
// the terminal besides its raw mode: mouse tracking, the alternate screen,
// the cursor's visibility and the drawing below the output. `restore` puts
// each back from flags alone, so the terminal layer can call it from a
// signal handler or an exit hook; the way to leave the drawing is kept
// ready-made for it.
#include "gui/terminal/screen.h"

#include <algorithm>
#include <csignal>
#include <string>
#include <unistd.h>

#include "foundation/tty.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/render.h"
#include "gui/terminal/widgets.h"

namespace kez::gui {

int32_t screen_width = DEFAULT_SCREEN_WIDTH;
int32_t screen_height = DEFAULT_SCREEN_HEIGHT;

void read_screen_size() {
  int cols = 0, rows = 0;
  bool known = isatty(STDOUT_FILENO) && tty::window_size(cols, rows) && cols > 0 && rows > 0;
  screen_width = known ? cols : DEFAULT_SCREEN_WIDTH;
  screen_height = known ? rows : DEFAULT_SCREEN_HEIGHT;
}

namespace terminal {

terminal_state term;

namespace {

// How to leave the drawing on the screen: ready for a signal handler.
char leave_sequence[32];
volatile sig_atomic_t leave_length = 0;

constexpr const char MOUSE_ON[] = "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
constexpr const char MOUSE_OFF[] = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";

void put(const char* bytes, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(STDOUT_FILENO, bytes, n);
    if (w <= 0) return;
    bytes += w;
    n -= size_t(w);
  }
}

template <size_t N>
void put(const char (&bytes)[N]) {
  put(bytes, N - 1);
}

}  // namespace

void write(std::string_view bytes) { tty::write_out(bytes); }

bool start() {
  if (term.active) return true;
  if (!tty::input_is_terminal() || !tty::enter_raw()) return false;
  tty::set_screen_restore(restore);
  term.active = true;
  term.input_closed = false;
  term.row_origin = term.col_origin = 0;
  read_screen_size();
  return true;
}

void stop() {
  if (!term.active) return;
  term.active = false;
  tty::leave_raw();
}

void alternate_screen(bool on) {
  if (term.alternate == on) return;
  term.alternate = on;
  if (on) put("\x1b[?1049h\x1b[2J");
  else put("\x1b[?1049l");
}

void mouse_tracking(bool on) {
  if (term.mouse == on) return;
  term.mouse = on;
  if (on) put(MOUSE_ON);
  else put(MOUSE_OFF);
}

void show_cursor(bool show) {
  if (term.cursor_hidden == !show) return;
  term.cursor_hidden = !show;
  if (show) put("\x1b[?25h");
  else put("\x1b[?25l");
}

void request_position() {
  put("\x1b[6n");
  event_loop::pending_input.report_expected = true;
}

void note_drawing() {
  std::string out;
  render::paint_state copy = render::paint;
  if (!term.alternate) render::leave_to(out, copy);
  leave_length = 0;
  if (out.size() < sizeof leave_sequence) {
    std::copy(out.begin(), out.end(), leave_sequence);
    leave_length = sig_atomic_t(out.size());
  }
}

void restore() {
  if (leave_length > 0) {
    put(leave_sequence, size_t(leave_length));
    leave_length = 0;
  }
  if (term.mouse) {
    term.mouse = false;
    put(MOUSE_OFF);
  }
  if (term.alternate) {
    term.alternate = false;
    put("\x1b[?1049l");
  }
  if (term.cursor_hidden) {
    term.cursor_hidden = false;
    put("\x1b[?25h");
  }
}

}  // namespace terminal

void suspend_screen() {
  if (!terminal::term.active) return;
  std::string out;
  render::erase_to(out, render::paint);
  terminal::write(out);
  terminal::note_drawing();
}

void resume_screen() {
  if (!terminal::term.active) return;
  widgets::backend.dirty = true;
  if (!terminal::term.alternate) terminal::request_position();
}

void do_pending_events() {
  if (terminal::term.active) event_loop::do_events(true);
}

}  // namespace kez::gui
