// The backend's widgets: one record for every face the GUI layer shows,
// kept in a slot table that the backend owns.
//
// What must stay true:
//  - A widget is known outside this module only by its id (slot index and
//    generation, never 0): a face's `state/1` is a handle! holding it, and
//    the window records, the focus, the pointer state and the timers hold
//    ids too. `get` answers null for an id whose widget is gone, so a stale
//    id reads as no widget.
//  - A widget keeps a copy of its face cell and its ui string; the mark
//    callback marks both. No address of collector memory is kept: faces are
//    read through the copy, again after every call into Kez.
//  - A destroyed widget is unlinked at once (timers, focus, pointer state,
//    window record) and marked dead; its slot is freed only when no
//    delivery or redraw is running (`busy`), so that code holding its id
//    finds it dead, and a `widget*` taken inside a busy scope stays
//    readable. After any call into Kez, re-read widgets through their ids.
#pragma once
#include <cstdint>
#include <vector>

#include "gui/terminal/colors.h"
#include "values/cell.h"

namespace kez::gui::widgets {

// Widget flags.
enum widget_flag : uint32_t {
  SIZE_PAIR = 0x10000,
  HIDDEN = 0x20000,
  DISABLED = 0x40000,
  ALL_OVER = 0x100000,
  TEXT_INPUT = 0x200000,
  FOCUSABLE = 0x400000,
  HAS_FOCUS = 0x2000000,
  PASSWORD = 0x10000000,
  FULLSCREEN = 0x40000000,
  CARET_BASE = 0x80000000,
};

// Face flags, as `get_flags` turns a face's `flags` into bits.
enum face_flag : uint32_t {
  FF_ALL_OVER = 0x1,
  FF_FOCUSABLE = 0x2,
  FF_PASSWORD = 0x80000,
  FF_FULLSCREEN = 0x200000,
};

// The face types that behave differently; every other type is `plain`.
enum class kind : uint8_t {
  plain, window, field, button, base, progress, group_box, check, radio, text_list, rich_text,
};

// Where a field's cursor stands: characters before it, their columns, and
// the columns of the whole text.
struct edit_state {
  int32_t cursor = 0;
  int32_t column = 0;
  int32_t width = 0;
};

// An image rendered as half-block cells, the widget's size.
struct image_cells {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<colors::screen_cell> cells;
};

struct widget {
  uint32_t id = 0;
  kind type = kind::plain;
  bool dead = false;
  uint32_t flags = 0;
  float left = 0, top = 0, right = 0, bottom = 0;  // in the parent, in cells
  uint32_t parent = 0;                             // 0 for a window
  Cell face{};                                     // the face object
  Cell ui{};                                       // none, or the text shown instead
  int32_t data = 0;                                // text list: rows scrolled off the top
  edit_state edit;
  image_cells image;
  std::vector<colors::screen_cell> styled;  // rich text: a cell for each character

  float width() const { return right - left; }
  float height() const { return bottom - top; }
};

// One per window widget.
struct window_record {
  float left = 0, top = 0, right = 0, bottom = 0;  // holds every widget made inside
  uint32_t window = 0;
  uint32_t focused = 0;
  int32_t inputs = 0;  // text-input widgets
};

// The backend's module state.
struct backend_state {
  std::vector<window_record> windows;  // in creation order
  uint32_t active = 0;                 // the active window's widget
  uint32_t focused = 0;                // one for all windows
  uint32_t last_window = 0;
  bool fullscreen = false;
  bool dirty = false;                  // the active window wants a redraw
  bool cursor_hidden = false;          // what the renderer last asked of the cursor
  // The event loop's pointer state.
  uint32_t hovered = 0;
  uint32_t captured = 0;
  bool captured_left = false;
  std::vector<uint32_t> pressed;
};
extern backend_state backend;

// The live widget of an id, else null.
widget* get(uint32_t id);
// The id that a face's `state/1` holds (0 when it holds none), and the
// live widget of a face.
uint32_t face_id(const Cell* face);
widget* of_face(const Cell* face);

// The widget's window (itself for a window), and the record of a window.
widget* window_of(const widget* w);
window_record* record_of(uint32_t window);
// The widget's position relative to its window.
void absolute_position(const widget* w, float& x, float& y);
// The ids of the widgets of the faces of the widget's pane, in pane order.
std::vector<uint32_t> children(const widget* w);
// The innermost visible child holding the point (in the widget's own
// coordinates), searched from the last face of the pane; null for none.
widget* child_at(const widget* w, float x, float y);

// A scope in which widgets are in use: widgets destroyed inside it are
// freed when the outermost scope ends.
struct busy_scope {
  busy_scope();
  ~busy_scope();
  busy_scope(const busy_scope&) = delete;
  busy_scope& operator=(const busy_scope&) = delete;
};
bool busy();

// The platform operations behind `system/view/platform`.
uint32_t make_view(const Cell* face, uint32_t parent);
void update_view(const Cell* face);
void update_facet(const Cell* owner, const Cell* word, const Cell* value, const Cell* action,
                  const Cell* new_value, int32_t index, int32_t part);
// Destroys the face's widgets; true when the event loop should end (the
// face was a window whose loop waits for it, or no window is left).
bool destroy_view(const Cell* face, bool empty);
void show_window(uint32_t window);
// Marks the widget's window (the focused widget's for 0) for redraw when it
// is the active one.
void mark_for_redraw(uint32_t id);

// The face's `flags` as bits; a word that names no flag raises invalid-arg.
uint32_t get_flags(const Cell* flags);

// Focus: gives it to the widget (unfocus to the one that had it, then
// focus to it), within its window's record.
void set_focus(uint32_t id);
bool has_focus(uint32_t id);

// Runs the widget's update (the builder of its derived text) with
// auto-sync off; errors of the builder pass to the caller.
void run_update(uint32_t id);
// Rebuilds the widget's image cells from the face's `image`.
void make_image_cells(uint32_t id);

// Timers: a widget has at most one live timer (from its face's `rate`).
struct timer_record {
  int32_t one_shot = 0;
  int32_t fired = 0;
  int32_t elapsed = 0;
  int32_t interval = 0;
  uint32_t widget = 0;
};
extern std::vector<timer_record> timers;
void add_timer(uint32_t id, int32_t interval_ms);
void remove_timer(uint32_t id);
// Advances every timer; each one that expires sends `time` to its widget.
void advance_timers(int32_t ms);

// Frees the slots of dead widgets (nothing while busy).
void free_dead();
// Destroys every window (the backend's reset); frees at once when idle.
void reset();
// Live widgets (tests).
size_t live_count();

// The collector's mark callback (registered once by the backend's start-up).
void mark();

}  // namespace kez::gui::widgets
