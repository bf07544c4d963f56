// Widget records, the window list, the focus and the timers.
//
// Slots hold their widget through a pointer of its own, so a widget never
// moves while it lives, whatever the table does. An id is the slot index in
// its low 20 bits and the slot's generation in the top 12: a slot freed and
// used again gives a new id, and freed slots are used again in the order
// they were freed, so a stale id meets its slot's next widget only after
// 4,095 reuses of that slot.
//
// Geometry comes from float32 points and pairs: every coordinate is brought
// within +-COORD_LIMIT cells (NaN as 0) when it is stored, so no conversion
// to an integer is ever undefined and nothing is sized from a huge value.
#include "gui/terminal/widgets.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>

#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "foundation/collector.h"
#include "foundation/raise.h"
#include "gui/event.h"
#include "gui/face.h"
#include "gui/terminal/calls.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/events.h"
#include "gui/terminal/image_cells.h"
#include "gui/terminal/reactions.h"
#include "gui/terminal/text_metrics.h"
#include "types/point.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/series.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::widgets {

backend_state backend;
std::vector<timer_record> timers;

namespace {

constexpr uint32_t INDEX_BITS = 20;
constexpr uint32_t INDEX_MASK = (1u << INDEX_BITS) - 1;
constexpr uint32_t GENERATION_MASK = (1u << (32 - INDEX_BITS)) - 1;
// A terminal shows a few thousand cells: boxes beyond this many cells are
// cut, which keeps every sum of coordinates far inside int32 and float
// precision.
constexpr float COORD_LIMIT = 1e6f;

std::vector<std::unique_ptr<widget>> slots(1);  // slot 0 is never used
std::vector<uint32_t> generations(1);
std::deque<uint32_t> free_slots;
std::vector<uint32_t> dead;
int busy_depth = 0;

// --- names ------------------------------------------------------------------------------

struct type_name {
  const char* name;
  kind k;
};
constexpr type_name TYPES[] = {
    {"window", kind::window},       {"field", kind::field},       {"button", kind::button},
    {"base", kind::base},           {"progress", kind::progress}, {"group-box", kind::group_box},
    {"check", kind::check},         {"radio", kind::radio},       {"text-list", kind::text_list},
    {"rich-text", kind::rich_text},
};

struct flag_name {
  const char* name;
  uint32_t bit;
};
constexpr flag_name FACE_FLAGS[] = {
    {"all-over", 0x1},          {"focusable", 0x2},        {"tri-state", 0x20000},
    {"scrollable", 0x40000},    {"password", 0x80000},     {"no-sync", 0x100000},
    {"fullscreen", 0x200000},   {"popup", 0x1000000},      {"modal", 0x2000000},
    {"resize", 0x4000000},      {"no-buttons", 0x8000000}, {"no-max", 0x10000000},
    {"no-min", 0x20000000},     {"no-title", 0x40000000},  {"no-border", 0x80000000},
};

uint32_t canonical(const char* name) { return symbol::resolve(symbol::make(name)); }

struct symbols_t {
  uint32_t types[std::size(TYPES)];
  uint32_t flags[std::size(FACE_FLAGS)];
  uint32_t caret, data, removed, taken, cleared, moved, drop_list, drop_down, window;
  symbols_t() {
    for (size_t i = 0; i < std::size(TYPES); i++) types[i] = canonical(TYPES[i].name);
    for (size_t i = 0; i < std::size(FACE_FLAGS); i++) flags[i] = canonical(FACE_FLAGS[i].name);
    caret = canonical("caret");
    data = canonical("data");
    removed = canonical("removed");
    taken = canonical("taken");
    cleared = canonical("cleared");
    moved = canonical("moved");
    drop_list = canonical("drop-list");
    drop_down = canonical("drop-down");
    window = canonical("window");
  }
};
const symbols_t& names() {
  static const symbols_t s;
  return s;
}

kind kind_of(const Cell* type) {
  if (TYPE_OF(type) != TYPE_WORD) return kind::plain;
  uint32_t sym = word::canonical(type);
  for (size_t i = 0; i < std::size(TYPES); i++)
    if (names().types[i] == sym) return TYPES[i].k;
  return kind::plain;
}

bool is_true(const Cell* v) { return TYPE_OF(v) == TYPE_LOGIC && v->w1; }

// --- geometry ---------------------------------------------------------------------------

float bounded(double v) {
  if (!(v == v)) return 0;
  return float(std::clamp(v, double(-COORD_LIMIT), double(COORD_LIMIT)));
}

// A pair or point as two bounded floats; none and any other value are 0x0.
void planar(const Cell* v, float& x, float& y, bool* pair = nullptr) {
  x = y = 0;
  if (pair) *pair = false;
  if (TYPE_OF(v) == TYPE_PAIR) {
    x = bounded(int32_t(v->w2));
    y = bounded(int32_t(v->w3));
    if (pair) *pair = true;
  } else if (TYPE_OF(v) == TYPE_POINT2D) {
    x = bounded(point::coord(v, 0));
    y = bounded(point::coord(v, 1));
  }
}

int32_t whole_cells(float v) { return v > 0 ? int32_t(std::min(v, COORD_LIMIT)) : 0; }

// A field is one line high, whatever its size says.
void fit_box(widget* w) {
  if (w->type == kind::field) w->bottom = w->top + 1;
}

// --- slots ------------------------------------------------------------------------------

widget* allocate() {
  uint32_t index;
  if (!free_slots.empty()) {
    index = free_slots.front();
    free_slots.pop_front();
  } else {
    if (slots.size() > INDEX_MASK) fire(err::INTERNAL, err::internal::NO_MEMORY);
    index = uint32_t(slots.size());
    slots.emplace_back();
    generations.push_back(0);
  }
  uint32_t gen = (generations[index] + 1) & GENERATION_MASK;
  if (gen == 0) gen = 1;
  generations[index] = gen;
  slots[index] = std::make_unique<widget>();
  widget* w = slots[index].get();
  w->id = gen << INDEX_BITS | index;
  w->face = make_none();
  w->ui = make_none();
  return w;
}

// --- timers -----------------------------------------------------------------------------

// The interval of a `rate`: -1 for none; a bad value raises.
int32_t rate_interval(const Cell* rate) {
  switch (TYPE_OF(rate)) {
    case TYPE_NONE: return -1;
    case TYPE_INTEGER:
      if (get_integer(rate) > 0) return 1000 / get_integer(rate);
      break;
    case TYPE_TIME: {
      double t = get_float(rate);
      if (t > 0.0) return t * 1000.0 < 2147483647.0 ? int32_t(t * 1000.0) : 2147483647;
      break;
    }
    default: break;
  }
  Cell v = *rate;
  fire(err::SCRIPT, err::script::INVALID_FACET_TYPE, &v);
}

// --- focus and windows ------------------------------------------------------------------

void drop_pointer_state() {
  backend.hovered = backend.captured = 0;
  backend.captured_left = false;
  backend.pressed.clear();
}

// Makes the window active and gives the focus to its focused widget.
void activate(uint32_t window) {
  window_record* rec = record_of(window);
  if (!rec) return;
  backend.active = window;
  uint32_t target = get(rec->focused) ? rec->focused : window;
  if (rec->inputs == 0) backend.cursor_hidden = true;
  drop_pointer_state();
  set_focus(target);
  backend.dirty = true;
}

// Takes every reference to the widget out of the backend's state.
void unlink(widget* w) {
  uint32_t id = w->id;
  remove_timer(id);
  for (auto& rec : backend.windows)
    if (rec.focused == id) rec.focused = 0;
  if (backend.focused == id) backend.focused = 0;
  if (backend.hovered == id) backend.hovered = 0;
  if (backend.captured == id) backend.captured = 0;
  std::erase(backend.pressed, id);
  if (backend.last_window == id) backend.last_window = 0;
  w->dead = true;
  dead.push_back(id);
}

// Removes the face from a `parent` block of its font or para; a font that
// loses its last face loses its backend state.
void leave_parent_list(const Cell* face, face::facet sub, bool font) {
  const Cell* holder = face::get(face, sub);
  if (TYPE_OF(holder) != TYPE_OBJECT) return;
  Cell obj = *holder;
  Cell w = word::make(TYPE_WORD, 0, symbol::make("parent"), context::NO_INDEX);
  int32_t i = object::find_word(&obj, &w);
  if (i < 0) return;
  Cell list = context::values(obj.w1)[i];
  if (TYPE_OF(&list) != TYPE_BLOCK) return;
  for (int32_t k = block::rs_length(&list) - 1; k >= 0; k--) {
    const Cell* item = block::rs_head(&list) + k;
    if (TYPE_OF(item) == TYPE_OBJECT && item->w1 == face->w1)
      series::remove_range(&list, list.w1 + uint32_t(k), 1);
  }
  if (font && block::rs_length(&list) == 0) {
    Cell s = word::make(TYPE_WORD, 0, symbol::make("state"), context::NO_INDEX);
    int32_t j = object::find_word(&obj, &s);
    if (j >= 0) context::values(obj.w1)[j] = make_none();
  }
}

// Destroys the widgets of a face tree, depth first; collects whether a
// window went.
void destroy_tree(const Cell* face_in, bool& window_gone) {
  Cell face = *face_in;
  widget* w = of_face(&face);
  if (!w) return;
  for (uint32_t child : children(w))
    if (widget* c = get(child)) {
      Cell child_face = c->face;
      destroy_tree(&child_face, window_gone);
    }
  w = of_face(&face);
  if (!w) return;
  leave_parent_list(&face, face::FONT, true);
  leave_parent_list(&face, face::PARA, false);
  if (w->type == kind::window) {
    window_gone = true;
    std::erase_if(backend.windows, [&](const window_record& r) { return r.window == w->id; });
    if (backend.active == w->id) backend.active = 0;
  }
  unlink(w);
  if (Cell* state = face::slot(&face, face::STATE)) *state = make_none();
}

// Scans a base's options for `caret` pairs: the base becomes a caret base
// and the faces named take text input.
void scan_caret(widget* w) {
  const Cell* options = face::get(&w->face, face::OPTIONS);
  if (TYPE_OF(options) != TYPE_BLOCK) return;
  Cell opts = *options;
  int32_t n = block::rs_length(&opts);
  if (n % 2) return;
  for (int32_t i = 0; i < n; i += 2) {
    const Cell* key = block::rs_head(&opts) + i;
    if (!word::is_any_word(TYPE_OF(key)) || word::canonical(key) != names().caret) continue;
    w->flags |= CARET_BASE;
    Cell target = block::rs_head(&opts)[i + 1];
    if (word::is_any_word(TYPE_OF(&target)) && target.w1) {
      const Cell* v = context::get(&target);
      target = v ? *v : make_none();
    }
    if (widget* t = of_face(&target)) t->flags |= TEXT_INPUT;
  }
}

// The cursor after the last character that fits the field's width.
void initial_cursor(widget* w) {
  const Cell* text = face::get(&w->face, face::TEXT);
  w->edit = edit_state{};
  if (TYPE_OF(text) != TYPE_STRING) return;
  text::span s = text::of(text);
  int32_t room = whole_cells(w->width());
  for (uint32_t i = 0; i < s.length; i++) {
    int32_t cw = unicode::char_width(s.at(i));
    if (w->edit.column + cw <= room) {
      w->edit.cursor++;
      w->edit.column += cw;
    }
    w->edit.width += cw;
  }
}

// Widens the window's extent to hold the widget's box (in window cells).
void widen_extent(widget* w) {
  widget* win = window_of(w);
  window_record* rec = win ? record_of(win->id) : nullptr;
  if (!rec || win == w) return;
  float x = 0, y = 0;
  absolute_position(w, x, y);
  rec->left = std::min(rec->left, x);
  rec->top = std::min(rec->top, y);
  rec->right = std::max(rec->right, x + std::max(w->width(), 0.0f));
  rec->bottom = std::max(rec->bottom, y + std::max(w->height(), 0.0f));
}

// Restores `system/view/auto-sync?` on every way out.
struct auto_sync_off {
  Cell* slot() {
    Cell view = calls::view_object();
    return calls::field(&view, "auto-sync?");
  }
  Cell saved = make_none();
  auto_sync_off() {
    if (Cell* s = slot()) {
      saved = *s;
      *s = make_logic(false);
    }
  }
  ~auto_sync_off() {
    if (Cell* s = slot()) *s = saved;
  }
};

void set_flag(widget* w, uint32_t bit, bool on) {
  w->flags = on ? w->flags | bit : w->flags & ~bit;
}

}  // namespace

// --- lookups ----------------------------------------------------------------------------

widget* get(uint32_t id) {
  uint32_t index = id & INDEX_MASK;
  if (index == 0 || index >= slots.size()) return nullptr;
  widget* w = slots[index].get();
  return w && w->id == id && !w->dead ? w : nullptr;
}

uint32_t face_id(const Cell* face) {
  if (TYPE_OF(face) != TYPE_OBJECT) return 0;
  const Cell* state = face::get(face, face::STATE);
  if (TYPE_OF(state) != TYPE_BLOCK || block::rs_length(state) < 1) return 0;
  Cell s = *state;
  const Cell* first = block::rs_head(&s);
  return TYPE_OF(first) == TYPE_HANDLE ? first->w2 : 0;
}

widget* of_face(const Cell* face) { return get(face_id(face)); }

widget* window_of(const widget* w) {
  for (int guard = 0; w && guard < 10000; guard++) {
    if (w->type == kind::window) return const_cast<widget*>(w);
    w = get(w->parent);
  }
  return nullptr;
}

window_record* record_of(uint32_t window) {
  for (auto& rec : backend.windows)
    if (rec.window == window) return &rec;
  return nullptr;
}

void absolute_position(const widget* w, float& x, float& y) {
  x = y = 0;
  for (int guard = 0; w && w->type != kind::window && guard < 10000; guard++) {
    x += w->left;
    y += w->top;
    w = get(w->parent);
  }
}

std::vector<uint32_t> children(const widget* w) {
  std::vector<uint32_t> ids;
  const Cell* pane = face::get(&w->face, face::PANE);
  if (TYPE_OF(pane) != TYPE_BLOCK) return ids;
  Cell p = *pane;
  int32_t n = block::rs_length(&p);
  for (int32_t i = 0; i < n; i++) {
    const Cell* item = block::rs_head(&p) + i;
    if (widget* c = of_face(item)) ids.push_back(c->id);
  }
  return ids;
}

widget* child_at(const widget* w, float x, float y) {
  std::vector<uint32_t> ids = children(w);
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    widget* c = get(*it);
    if (!c || (c->flags & HIDDEN)) continue;
    if (c->left <= x && x < c->right && c->top <= y && y < c->bottom) return c;
  }
  return nullptr;
}

busy_scope::busy_scope() { busy_depth++; }
busy_scope::~busy_scope() {
  if (--busy_depth == 0) free_dead();
}
bool busy() { return busy_depth > 0; }

// --- flags ------------------------------------------------------------------------------

uint32_t get_flags(const Cell* flags) {
  auto bit_of = [](const Cell* w) -> uint32_t {
    uint32_t sym = word::canonical(w);
    for (size_t i = 0; i < std::size(FACE_FLAGS); i++)
      if (names().flags[i] == sym) return FACE_FLAGS[i].bit;
    Cell v = *w;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  };
  if (word::is_any_word(TYPE_OF(flags))) return bit_of(flags);
  if (TYPE_OF(flags) != TYPE_BLOCK) return 0;
  Cell b = *flags;
  uint32_t bits = 0;
  for (int32_t i = 0, n = block::rs_length(&b); i < n; i++) {
    const Cell* item = block::rs_head(&b) + i;
    if (word::is_any_word(TYPE_OF(item))) bits |= bit_of(item);
  }
  return bits;
}

namespace {

uint32_t widget_flags(uint32_t face_flags) {
  uint32_t f = 0;
  if (face_flags & FF_ALL_OVER) f |= ALL_OVER;
  if (face_flags & FF_PASSWORD) f |= PASSWORD;
  if (face_flags & FF_FOCUSABLE) f |= FOCUSABLE;
  if (face_flags & FF_FULLSCREEN) f |= FULLSCREEN;
  return f;
}

}  // namespace

// --- making -----------------------------------------------------------------------------

uint32_t make_view(const Cell* face_in, uint32_t parent) {
  busy_scope scope;
  Cell face = *face_in;
  if (Cell* off = face::slot(&face, face::OFFSET); off && TYPE_OF(off) == TYPE_PAIR)
    point2D::make_at(off, float(int32_t(off->w2)), float(int32_t(off->w3)));
  uint32_t flags = widget_flags(get_flags(face::get(&face, face::FLAGS)));
  float width = 0, height = 0, x = 0, y = 0;
  bool pair = false;
  planar(face::get(&face, face::SIZE), width, height, &pair);
  if (pair) flags |= SIZE_PAIR;
  if (!is_true(face::get(&face, face::VISIBLE_Q))) flags |= HIDDEN;
  if (!is_true(face::get(&face, face::ENABLED_Q))) flags |= DISABLED;
  // A bad rate is refused before anything is made.
  int32_t interval = rate_interval(face::get(&face, face::RATE));
  kind type = kind_of(face::get(&face, face::TYPE));
  if (type != kind::window) planar(face::get(&face, face::OFFSET), x, y);

  widget* w = allocate();
  uint32_t id = w->id;
  w->type = type;
  w->flags = flags;
  w->parent = get(parent) ? parent : 0;
  w->left = x;
  w->top = y;
  w->right = bounded(double(x) + width);
  w->bottom = bounded(double(y) + height);
  w->face = face;
  clear_new_line(&w->face);
  fit_box(w);

  bool update = false;
  switch (type) {
    case kind::window: {
      window_record rec;
      rec.window = id;
      backend.windows.push_back(rec);
      backend.last_window = id;
      if (!get(backend.focused)) {
        backend.focused = id;
        w->flags |= HAS_FOCUS;
      }
      if (flags & FULLSCREEN) backend.fullscreen = true;
      break;
    }
    case kind::field:
      w->flags |= TEXT_INPUT;
      initial_cursor(w);
      break;
    case kind::base: scan_caret(w); break;
    case kind::progress: case kind::check: case kind::radio: case kind::text_list:
    case kind::rich_text:
      w->data = 0;
      update = true;
      break;
    default: break;
  }
  if (update) run_update(id);

  w = get(id);
  if (w && w->parent) {
    widen_extent(w);
    widget* win = window_of(w);
    window_record* rec = win ? record_of(win->id) : nullptr;
    if (rec && ((w->flags & TEXT_INPUT) || (w->flags & CARET_BASE))) rec->inputs++;
    if (rec && (w->flags & FOCUSABLE) && win->id == backend.last_window && !get(rec->focused)) {
      // While its window is being built the widget only becomes the one
      // that showing the window focuses; in a window on screen it takes
      // the focus now.
      if (win->id == backend.active) set_focus(id);
      else rec->focused = id;
    }
    if (TYPE_OF(face::get(&w->face, face::IMAGE)) == TYPE_IMAGE) make_image_cells(id);
  }
  if (get(id) && interval >= 0) add_timer(id, interval);
  return id;
}

// --- updating ---------------------------------------------------------------------------

void update_view(const Cell* face_in) {
  busy_scope scope;
  Cell face = *face_in;
  const Cell* state = face::get(&face, face::STATE);
  if (TYPE_OF(state) != TYPE_BLOCK) return;
  widget* w = of_face(&face);
  if (!w) return;
  uint32_t id = w->id;
  Cell st = *state;
  uint32_t changes = 0;
  if (block::rs_length(&st) >= 2 && TYPE_OF(block::rs_head(&st) + 1) == TYPE_INTEGER)
    changes = uint32_t(get_integer(block::rs_head(&st) + 1));
  auto changed = [&](face::facet f) { return (changes & face::change_flag(f)) != 0; };

  if (changed(face::RATE)) {
    remove_timer(id);
    int32_t interval = rate_interval(face::get(&face, face::RATE));
    if (interval >= 0) add_timer(id, interval);
  }
  if (changed(face::OFFSET) && w->type != kind::window) {
    float x, y, width = w->width(), height = w->height();
    planar(face::get(&face, face::OFFSET), x, y);
    w->left = x;
    w->top = y;
    w->right = bounded(double(x) + width);
    w->bottom = bounded(double(y) + height);
    widen_extent(w);
  }
  if (changed(face::SIZE)) {
    float width, height;
    bool pair = false;
    planar(face::get(&face, face::SIZE), width, height, &pair);
    set_flag(w, SIZE_PAIR, pair);
    w->right = bounded(double(w->left) + width);
    w->bottom = bounded(double(w->top) + height);
    fit_box(w);
    if (window_record* rec = w->type == kind::window ? record_of(id) : nullptr) {
      // The window's own box sizes its screen from now on.
      rec->left = rec->top = 0;
      rec->right = w->right;
      rec->bottom = w->bottom;
    } else {
      widen_extent(w);
    }
  }
  if (changed(face::SELECTED) && w->type == kind::window) {
    const Cell* sel = face::get(&face, face::SELECTED);
    if (TYPE_OF(sel) == TYPE_OBJECT) {
      if (widget* target = of_face(sel)) set_focus(target->id);
    } else if (TYPE_OF(sel) == TYPE_NONE) {
      set_focus(id);
    }
    if (!(w = get(id))) return;
  }
  if (changed(face::ENABLED_Q)) set_flag(w, DISABLED, !is_true(face::get(&face, face::ENABLED_Q)));
  if (changed(face::VISIBLE_Q)) set_flag(w, HIDDEN, !is_true(face::get(&face, face::VISIBLE_Q)));
  if (changed(face::FLAGS)) {
    uint32_t f = widget_flags(get_flags(face::get(&face, face::FLAGS)));
    set_flag(w, ALL_OVER, f & ALL_OVER);
    set_flag(w, PASSWORD, f & PASSWORD);
  }
  if (changed(face::IMAGE)) make_image_cells(id);
  if (changed(face::TEXT) && w->type == kind::field) reactions::sync_edit(id);
  run_update(id);
  mark_for_redraw(id);
  if (!get(id)) return;
  state = face::get(&face, face::STATE);
  if (TYPE_OF(state) == TYPE_BLOCK && block::rs_length(state) >= 2) {
    Cell s = *state;
    block::rs_head(&s)[1] = make_integer(0);
  }
}

void update_facet(const Cell* owner_in, const Cell* word_in, const Cell*, const Cell* action_in,
                  const Cell*, int32_t index, int32_t part) {
  busy_scope scope;
  Cell owner = *owner_in;
  if (word::canonical(word_in) == names().data) {
    widget* w = of_face(&owner);
    if (!w) return;
    const Cell* data = face::get(&owner, face::DATA);
    uint32_t act = word::canonical(action_in);
    const Cell* type = face::get(&owner, face::TYPE);
    bool drop = TYPE_OF(type) == TYPE_WORD && (word::canonical(type) == names().drop_list ||
                                               word::canonical(type) == names().drop_down);
    if (drop && part == 0) return;
    if (w->type == kind::text_list && TYPE_OF(data) == TYPE_BLOCK &&
        (act == names().removed || act == names().taken || act == names().cleared ||
         act == names().moved)) {
      int32_t left = block::rs_length(data);
      if (index == 0 && (act == names().cleared || left == 0)) w->data = 0;
      else if (w->data > index) w->data = std::max(index, 0);
      if (Cell* sel = face::slot(&owner, face::SELECTED);
          sel && TYPE_OF(sel) == TYPE_INTEGER && get_integer(sel) > left)
        *sel = make_integer(left);
    }
  }
  update_view(&owner);
}

// --- destroying -------------------------------------------------------------------------

bool destroy_view(const Cell* face_in, bool empty) {
  busy_scope scope;
  Cell face = *face_in;
  widget* w = of_face(&face);
  if (!w) return false;
  bool was_window = w->type == kind::window;
  uint32_t focused = backend.focused;
  widget* focused_window = window_of(get(focused));
  uint32_t focused_window_id = focused_window ? focused_window->id : 0;
  bool window_gone = false;
  destroy_tree(&face, window_gone);
  if (backend.active == 0 && !backend.windows.empty()) {
    activate(backend.windows.back().window);
  } else if (focused && !get(focused) && get(focused_window_id)) {
    // The focused widget went and its window stays: the window takes it.
    set_focus(focused_window_id);
  }
  if (!backend.windows.empty()) mark_for_redraw(0);
  return (was_window && empty) || backend.windows.empty();
}

void show_window(uint32_t window) {
  busy_scope scope;
  widget* w = get(window);
  if (!w || w->type != kind::window) return;
  activate(window);
  mark_for_redraw(window);
}

void mark_for_redraw(uint32_t id) {
  widget* w = get(id ? id : backend.focused);
  widget* win = window_of(w);
  if (win && win->id == backend.active) backend.dirty = true;
}

// --- focus ------------------------------------------------------------------------------

void set_focus(uint32_t id) {
  widget* w = get(id);
  if (!w) return;
  widget* win = window_of(w);
  uint32_t window = win ? win->id : 0;
  if (backend.focused == id && (w->flags & HAS_FOCUS)) {
    if (window_record* rec = record_of(window)) rec->focused = id;
    return;
  }
  uint32_t previous = backend.focused;
  if (widget* p = get(previous)) {
    p->flags &= ~HAS_FOCUS;
    events::record r;
    r.widget = previous;
    events::send(event::EVT_UNFOCUS, r, 0);
  }
  if (!(w = get(id))) return;
  if (window_record* rec = record_of(window)) rec->focused = id;
  backend.focused = id;
  w->flags |= HAS_FOCUS;
  mark_for_redraw(id);
  events::record r;
  r.widget = id;
  events::send(event::EVT_FOCUS, r, 0);
}

bool has_focus(uint32_t id) {
  widget* w = get(id);
  return w && (w->flags & HAS_FOCUS);
}

// --- updates ----------------------------------------------------------------------------

void run_update(uint32_t id) {
  widget* w = get(id);
  if (!w) return;
  const char* builder = nullptr;
  switch (w->type) {
    case kind::progress: builder = "make-progress-ui"; break;
    case kind::check: builder = "make-checkbox-ui"; break;
    case kind::radio: builder = "make-radio-ui"; break;
    case kind::text_list: builder = "make-text-list-ui"; break;
    case kind::rich_text: draw::update_rich_text(id); return;
    default: return;
  }
  Cell fn = calls::helper(builder);
  if (TYPE_OF(&fn) != TYPE_FUNCTION) return;
  Cell face = w->face;
  calls::outcome o;
  {
    auto_sync_off off;
    o = calls::call(&fn, {face}, calls::fence::none);
  }
  w = get(id);
  if (!w) return;
  if (w->type == kind::check || w->type == kind::radio)
    w->ui = TYPE_OF(&o.value) == TYPE_STRING ? o.value : make_none();
}

void make_image_cells(uint32_t id) {
  if (widget* w = get(id)) gui::image_cells::build(w);
}

// --- timers -----------------------------------------------------------------------------

void add_timer(uint32_t id, int32_t interval_ms) {
  timer_record t;
  t.interval = std::max(interval_ms, 0);
  t.widget = id;
  timers.push_back(t);
}

void remove_timer(uint32_t id) {
  for (auto it = timers.rbegin(); it != timers.rend(); ++it)
    if (it->widget == id) {
      timers.erase(std::next(it).base());
      return;
    }
}

void advance_timers(int32_t ms) {
  busy_scope scope;
  std::vector<uint32_t> due;
  for (auto& t : timers) {
    t.elapsed += ms;
    if (t.fired || t.elapsed < t.interval) continue;
    // The time past the interval counts towards the next one, so the rate
    // holds whatever the length of the cycles; a late cycle fires once.
    t.elapsed = t.interval > 0 ? (t.elapsed - t.interval) % t.interval : 0;
    if (t.one_shot) t.fired = 1;
    due.push_back(t.widget);
  }
  for (uint32_t id : due) {
    events::record r;
    r.widget = id;
    events::send(event::EVT_TIME, r, 0);
  }
}

// --- lifetime ---------------------------------------------------------------------------

void free_dead() {
  if (busy_depth > 0) return;
  for (uint32_t id : dead) {
    uint32_t index = id & INDEX_MASK;
    if (index < slots.size() && slots[index] && slots[index]->id == id) {
      slots[index].reset();
      free_slots.push_back(index);
    }
  }
  dead.clear();
}

void reset() {
  busy_scope scope;
  while (!backend.windows.empty()) {
    widget* w = get(backend.windows.back().window);
    if (!w) {
      backend.windows.pop_back();
      continue;
    }
    Cell face = w->face;
    bool gone = false;
    destroy_tree(&face, gone);
  }
  timers.clear();
  backend.active = backend.focused = backend.last_window = 0;
  backend.fullscreen = false;
  drop_pointer_state();
}

size_t live_count() {
  size_t n = 0;
  for (auto& s : slots)
    if (s && !s->dead) n++;
  return n;
}

void mark() {
  for (auto& s : slots) {
    if (!s) continue;
    collector::mark_value(&s->face);
    collector::mark_value(&s->ui);
  }
}

}  // namespace kez::gui::widgets
