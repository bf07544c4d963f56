// The backend's event loop.
//
// A cycle reads what the terminal has sent (in one read of what FIONREAD
// reports), waits for more with poll(2) for what is left of its 33
// milliseconds, advances the timers and the click timer by the real time
// since the previous cycle (a monotonic clock; input that ends the wait
// early does not speed them up), repaints what changed, then decodes and
// delivers the input. Standard input is polled and read only while the
// terminal is active; otherwise the loop sleeps out each cycle and still
// runs timers and actors.
//
// Every delivery may run Kez code that destroys widgets, opens a nested
// loop or ends this one: widgets are re-read by id after each call, and
// the decoder stops when a nested loop emptied the buffer under it.
#include "gui/terminal/event_loop.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "foundation/tty.h"
#include "gui/event.h"
#include "gui/face.h"
#include "gui/terminal/calls.h"
#include "gui/terminal/events.h"
#include "gui/terminal/reactions.h"
#include "gui/terminal/render.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "values/block.h"

namespace kez::gui::event_loop {

input::buffer pending_input;

namespace {

using terminal::term;
using widgets::backend;

// A cycle's length: about 30 a second.
constexpr int32_t CYCLE_MS = 33;
// A second click within this time makes a double click.
constexpr int32_t DOUBLE_CLICK_MS = 500;
// The click timer stops counting here.
constexpr int32_t CLICK_TIMER_CAP = 800;
// How long a loop that ends waits for the answer to an outstanding cursor
// position request, so that it never reaches the next reader as typing.
constexpr int32_t REPORT_DRAIN_MS = 150;

// Event flag bits.
constexpr uint32_t FLAG_AWAY = 0x4000000;
constexpr uint32_t FLAG_DOWN = 0x2000000;
constexpr uint32_t FLAG_CONTROL = 0x10000000;
constexpr uint32_t FLAG_SHIFT = 0x20000000;
constexpr uint32_t FLAG_ALT = 0x40000000;

int loop_level = 0;
int blocking_loops = 0;  // blocking loops running, nested ones included

// Pointer state of the active window.
bool button_released = true;  // the last button report was a release
int32_t click_state = 0;      // 0, 2 after a click, 10 after a double click
int32_t click_timer = 0;
float last_x = 0, last_y = 0;

int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Reads what standard input holds; true when bytes came.
bool read_input() {
  if (!term.active || term.input_closed) return false;
  int available = 0;
  if (ioctl(STDIN_FILENO, FIONREAD, &available) != 0 || available <= 0) {
    // Readable with nothing to read: the end of input (a hang-up).
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    if (poll(&fd, 1, 0) > 0 && (fd.revents & (POLLHUP | POLLERR | POLLNVAL)))
      term.input_closed = true;
    return false;
  }
  std::string chunk(size_t(available), '\0');
  ssize_t n;
  do n = read(STDIN_FILENO, chunk.data(), chunk.size());
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    if (n == 0) term.input_closed = true;
    return false;
  }
  pending_input.feed(reinterpret_cast<const uint8_t*>(chunk.data()), size_t(n));
  return true;
}

// Waits for input (or a window-size change) at most `ms` milliseconds.
void wait_input(int32_t ms) {
  if (ms <= 0) return;
  pollfd fds[2];
  nfds_t n = 0;
  if (term.active && !term.input_closed) fds[n++] = {STDIN_FILENO, POLLIN, 0};
  if (term.active && tty::wake_fd() >= 0) fds[n++] = {tty::wake_fd(), POLLIN, 0};
  int64_t deadline = now_ms() + ms;
  for (;;) {
    int left = int(deadline - now_ms());
    if (left <= 0) return;
    int r = poll(n ? fds : nullptr, n, left);
    if (r >= 0 || errno != EINTR) return;
  }
}

// Drops what the terminal has sent and not been read; first waits a little
// for the answer to an outstanding cursor position request.
void discard_input() {
  if (!term.active) return;
  int64_t deadline = now_ms() + REPORT_DRAIN_MS;
  while (pending_input.report_expected && !term.input_closed) {
    input::item it;
    while (input::next(pending_input, it))
      if (it.kind == input::item_kind::cursor_report) break;
    if (!pending_input.report_expected) break;
    int32_t left = int32_t(deadline - now_ms());
    if (left <= 0) break;
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    if (poll(&fd, 1, left) <= 0) break;
    read_input();
  }
  pending_input.report_expected = false;
  tcflush(STDIN_FILENO, TCIFLUSH);
  while (read_input()) {
  }
  pending_input.clear();
}

// --- delivery ---------------------------------------------------------------------------

uint32_t modifier_flags(int32_t b) {
  uint32_t f = 0;
  if (b & 4) f |= FLAG_SHIFT;
  if (b & 8) f |= FLAG_ALT;
  if (b & 16) f |= FLAG_CONTROL;
  return f;
}

struct hop {
  uint32_t id;
  float x, y;  // the point inside this widget
};

// The widgets under a point of the active window, from the window down to
// the innermost one, each with the point made relative to it.
std::vector<hop> path_at(float x, float y) {
  std::vector<hop> path;
  widgets::widget* w = widgets::get(backend.active);
  while (w && path.size() < 1000) {
    path.push_back({w->id, x, y});
    widgets::widget* c = widgets::child_at(w, x, y);
    if (!c) break;
    x -= c->left;
    y -= c->top;
    w = c;
  }
  return path;
}

bool in_pressed(uint32_t id) {
  return std::find(backend.pressed.begin(), backend.pressed.end(), id) != backend.pressed.end();
}

bool send_at(uint32_t type, const hop& h, uint32_t flags, int32_t value = 0) {
  events::record r;
  r.widget = h.id;
  r.x = h.x;
  r.y = h.y;
  r.value = value;
  return events::send(type, r, flags);
}

// Button presses and releases go to the innermost widget under the point
// first, then up while none consumed it; a release also clicks the widgets
// that saw the press.
void deliver_button(uint32_t type, float x, float y, uint32_t flags) {
  bool left_press = type == event::EVT_DOWN, left_release = type == event::EVT_UP;
  if (left_press) backend.captured = backend.hovered;
  std::vector<hop> path = path_at(x, y);
  bool consumed = false;
  for (size_t i = path.size(); i-- > 0 && !consumed;) consumed = send_at(type, path[i], flags);
  if (left_press) {
    backend.pressed.clear();
    for (const hop& h : path) backend.pressed.push_back(h.id);
    return;
  }
  if (!left_release) return;
  bool click_consumed = false, double_below = false;
  for (size_t i = path.size(); i-- > 0 && !click_consumed;) {
    if (!in_pressed(path[i].id)) continue;
    if ((click_state == 2 && click_timer < DOUBLE_CLICK_MS) || double_below) {
      click_consumed = send_at(event::EVT_CLICK, path[i], flags);
      click_consumed = send_at(event::EVT_DBL_CLICK, path[i], flags) || click_consumed;
      click_state = 10;
      double_below = true;
    } else {
      click_consumed = send_at(event::EVT_CLICK, path[i], flags);
    }
  }
  // The innermost widget under the point takes the focus when it can.
  if (!path.empty()) {
    widgets::widget* leaf = widgets::get(path.back().id);
    if (leaf && (leaf->flags & widgets::FOCUSABLE) && !(leaf->flags & widgets::HAS_FOCUS) &&
        !(leaf->flags & widgets::DISABLED))
      widgets::set_focus(leaf->id);
  }
  if (backend.captured_left && widgets::get(backend.captured))
    send_at(type, hop{backend.captured, x, y}, flags);
  backend.captured = 0;
  backend.captured_left = false;
  backend.pressed.clear();
  click_state = click_state == 10 ? 0 : 2;
  click_timer = 0;
}

bool is_ancestor(uint32_t ancestor, uint32_t id) {
  for (widgets::widget* w = widgets::get(id); w; w = widgets::get(w->parent))
    if (w->parent == ancestor) return true;
  return false;
}

bool same_parent(uint32_t a, uint32_t b) {
  widgets::widget *wa = widgets::get(a), *wb = widgets::get(b);
  return wa && wb && wa->parent == wb->parent;
}

// Pointer motion: `over` to the widget newly under the pointer, `over` with
// `away` to the one it left, and the motion itself to all-over widgets.
void deliver_over(float x, float y, uint32_t flags) {
  std::vector<hop> path = path_at(x, y);
  if (path.empty()) return;
  if (!widgets::get(backend.hovered))
    for (const hop& h : path) send_at(event::EVT_OVER, h, flags);
  uint32_t inner = path.back().id;
  uint32_t hovered = backend.hovered;
  if (inner != hovered) {
    if (widgets::get(hovered) && (is_ancestor(inner, hovered) || same_parent(inner, hovered))) {
      if (hovered == backend.captured) backend.captured_left = true;
      float ax = last_x, ay = last_y;
      if (widgets::widget* h = widgets::get(hovered)) {
        float hx = 0, hy = 0;
        widgets::absolute_position(h, hx, hy);
        ax -= hx;
        ay -= hy;
      }
      send_at(event::EVT_OVER, hop{hovered, ax, ay}, flags | FLAG_AWAY);
    }
    if (!widgets::get(hovered) || is_ancestor(hovered, inner) || same_parent(inner, hovered)) {
      if (inner == backend.captured) backend.captured_left = false;
      send_at(event::EVT_OVER, path.back(), flags);
    }
    backend.hovered = inner;
  }
  last_x = x;
  last_y = y;
  bool consumed = false;
  for (size_t i = path.size(); i-- > 0 && !consumed;) {
    widgets::widget* w = widgets::get(path[i].id);
    if (w && (w->flags & widgets::ALL_OVER) && path[i].id != inner)
      consumed = send_at(event::EVT_OVER, path[i], flags);
  }
  widgets::widget* cap = widgets::get(backend.captured);
  if (cap && backend.captured_left && (cap->flags & widgets::ALL_OVER)) {
    float cx = 0, cy = 0;
    widgets::absolute_position(cap, cx, cy);
    send_at(event::EVT_OVER, hop{cap->id, x - cx, y - cy}, flags);
  }
}

// The wheel goes to `awake` only: the innermost widget first, then up.
void deliver_wheel(float x, float y, uint32_t flags, float amount) {
  std::vector<hop> path = path_at(x, y);
  for (size_t i = path.size(); i-- > 0;) {
    widgets::widget* w = widgets::get(path[i].id);
    if (!w || (w->flags & widgets::DISABLED) || TYPE_OF(&w->face) != TYPE_OBJECT) continue;
    events::record r;
    r.widget = path[i].id;
    r.x = path[i].x;
    r.y = path[i].y;
    r.wheel = amount;
    if (events::dispatch(event::EVT_WHEEL, r, flags)) return;
  }
}

void deliver_mouse(const input::item& it) {
  float x = float(it.x - 1), y = float(it.y - term.row_origin - 1);
  uint32_t flags = modifier_flags(it.button);
  int32_t index = (it.button & 3) + (it.button & 64 ? 4 : 0);
  if (index <= 2) {
    bool released = !it.press;
    if (released != button_released) {
      button_released = released;
      static constexpr uint32_t PRESS[3] = {event::EVT_DOWN, event::EVT_MID_DOWN, event::EVT_ALT_DOWN};
      static constexpr uint32_t RELEASE[3] = {event::EVT_UP, event::EVT_MID_UP, event::EVT_ALT_UP};
      deliver_button(released ? RELEASE[index] : PRESS[index], x, y, flags);
    } else {
      deliver_over(x, y, flags | (released ? 0 : FLAG_DOWN));
    }
  } else if (index == 3) {
    deliver_over(x, y, flags);
  } else if (index == 4 || index == 5) {
    deliver_wheel(x, y, flags, index == 4 ? 1.0f : -1.0f);
  }
}

// A key goes to the focused widget: `key-down`, then `key`, then the
// widget's own handling, each only while nothing consumed it.
void deliver_key(const input::item& it) {
  uint32_t id = backend.focused;
  widgets::widget* w = widgets::get(id);
  if (!w || (w->flags & widgets::DISABLED) || it.code == 0) return;
  events::record r;
  r.widget = id;
  r.value = it.code;
  uint32_t flags = (it.special ? events::SPECIAL_KEY : 0) | (it.shift ? FLAG_SHIFT : 0);
  if (events::dispatch(event::EVT_KEY_DOWN, r, flags)) return;
  if (!widgets::get(id) || events::dispatch(event::EVT_KEY, r, flags)) return;
  if (widgets::get(id)) reactions::react(event::EVT_KEY, r);
}

// The redraw cycle: the drawing's row kept on the screen, then, when asked
// for, the active window rendered and painted in one write.
void redraw() {
  if (!term.active) return;
  if (term.alternate || backend.fullscreen) {
    term.row_origin = 0;
  } else if (term.row_origin + render::screen.height > screen_height) {
    term.row_origin = std::max(screen_height - render::screen.height, 0);
  }
  if (!backend.dirty) return;
  backend.dirty = false;
  if (!render::render_active()) return;
  std::string out;
  if (!render::paint.caret_wanted && !term.cursor_hidden) {
    out += "\x1b[?25l";
    term.cursor_hidden = true;
  }
  render::paint_to(out, render::screen, render::paint, term.alternate);
  if (render::paint.caret_wanted && term.cursor_hidden) {
    out += "\x1b[?25h";
    term.cursor_hidden = false;
  }
  terminal::write(out);
  terminal::note_drawing();
  if (!term.alternate && term.row_origin + render::screen.height > screen_height)
    term.row_origin = std::max(screen_height - render::screen.height, 0);
}

// Decodes the buffer and delivers what it holds; stops when a nested loop
// emptied the buffer.
void decode_and_deliver() {
  uint32_t generation = pending_input.generation;
  input::item it;
  while (pending_input.generation == generation && input::next(pending_input, it)) {
    widgets::busy_scope scope;
    deliver(it);
  }
}

void advance_clock(int32_t ms) {
  if (ms <= 0) return;
  widgets::advance_timers(ms);
  if (click_state == 2 && click_timer < CLICK_TIMER_CAP)
    click_timer = std::min(click_timer + ms, CLICK_TIMER_CAP);
}

// The steps of the outermost loop's end: the drawing left below, tracking
// off, the main screen, the cursor shown, the modes popped, input dropped,
// the pointer state cleared.
void leave_outermost() {
  std::string out;
  if (!term.alternate) render::leave_to(out, render::paint);
  render::paint = render::paint_state{};
  terminal::write(out);
  terminal::note_drawing();
  terminal::restore();
  discard_input();
  terminal::stop();
  backend.hovered = backend.captured = 0;
  backend.captured_left = false;
  backend.pressed.clear();
  click_state = click_timer = 0;
  button_released = true;
  backend.dirty = true;  // a later loop paints the windows left afresh
}

// Puts the loop level back and runs the leaving steps on every way out of
// a loop, an error passing through included.
struct loop_frame {
  bool no_wait, outermost;
  int remembered;
  ~loop_frame() {
    if (!no_wait) {
      blocking_loops--;
      if (loop_level > remembered) loop_level = remembered;
    }
    if (outermost) leave_outermost();
    else if (!no_wait) discard_input();
    widgets::free_dead();
  }
};

}  // namespace

void deliver(const input::item& it) {
  switch (it.kind) {
    case input::item_kind::key: deliver_key(it); break;
    case input::item_kind::mouse: deliver_mouse(it); break;
    case input::item_kind::cursor_report:
      term.row_origin = std::max(it.y - 1, 0);
      term.col_origin = std::max(it.x - 1, 0);
      break;
  }
}

void send_resize() {
  // The first screen face takes the new size.
  Cell view = calls::view_object();
  Cell* screens = calls::field(&view, "screens");
  if (screens && TYPE_OF(screens) == TYPE_BLOCK && block::rs_length(screens) > 0) {
    Cell screen = *block::rs_head(screens);
    if (Cell* size = face::slot(&screen, face::SIZE))
      *size = Cell{TYPE_PAIR, 0, uint32_t(screen_width), uint32_t(screen_height)};
  }
  std::vector<uint32_t> windows;
  for (const auto& rec : backend.windows) windows.push_back(rec.window);
  for (uint32_t id : windows) {
    events::record r;
    r.widget = id;
    r.x = float(screen_width);
    r.y = float(screen_height);
    events::send(event::EVT_RESIZE, r, 0);
  }
  backend.dirty = true;
}

bool do_events(bool no_wait) {
  widgets::free_dead();
  bool outermost = !no_wait && blocking_loops == 0;
  loop_frame frame{no_wait, outermost, loop_level};
  if (!no_wait) {
    loop_level++;
    blocking_loops++;
  }
  if (outermost && terminal::start()) {
    tty::take_resize();
    if (backend.fullscreen) terminal::alternate_screen(true);
    else terminal::request_position();
    Cell view = calls::view_object();
    Cell* platform = calls::field(&view, "platform");
    Cell* mouse = platform ? calls::field(platform, "mouse-event?") : nullptr;
    bool wanted = mouse && TYPE_OF(mouse) == TYPE_LOGIC && mouse->w1;
    terminal::mouse_tracking(wanted);
    backend.dirty = true;
  } else if (!no_wait) {
    pending_input.clear();
  }
  bool got = false;
  int64_t last = now_ms();
  for (;;) {
    got = read_input();
    if (no_wait && !got && pending_input.bytes.empty()) break;
    if (!got && !no_wait) {
      wait_input(CYCLE_MS);
      got = read_input();
    }
    if (term.active && tty::take_resize()) {
      read_screen_size();
      send_resize();
    }
    int64_t now = now_ms();
    advance_clock(int32_t(std::min<int64_t>(now - last, 60000)));
    last = now;
    redraw();
    decode_and_deliver();
    widgets::free_dead();
    if (events::exit_seen) {
      events::exit_seen = false;
      post_quit();
    }
    if (no_wait || loop_level <= frame.remembered) break;
    // With no input to read and no timer to run, nothing could ever end
    // this loop (standard input is not a terminal, or it has closed): it
    // ends now, as if its window had been closed, rather than hang.
    if ((!term.active || term.input_closed) && widgets::timers.empty()) break;
  }
  if (no_wait) redraw();
  return got;
}

void post_quit() {
  if (loop_level > 0) loop_level--;
}

int level() { return loop_level; }

}  // namespace kez::gui::event_loop
