// Widget reactions, by widget type.
//
// A field edits its face's text in place, without change notification, and
// then tells the face with a `change` event; check boxes, radio buttons and
// text lists change `data` or `selected` directly, rebuild their text and
// send `change` (a text list `select` first). Every step that follows a call
// into Kez starts by finding the widget again.
#include "gui/terminal/reactions.h"

#include <algorithm>

#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "gui/event.h"
#include "gui/face.h"
#include "gui/terminal/text_metrics.h"
#include "gui/terminal/widgets.h"
#include "types/map.h"
#include "values/block.h"
#include "values/string.h"

namespace kez::gui::reactions {

using widgets::widget;

namespace {

constexpr int32_t KEY_UP = -20;
constexpr int32_t KEY_DOWN = -21;
constexpr int32_t KEY_RIGHT = -22;
constexpr int32_t KEY_LEFT = -23;
constexpr int32_t KEY_SPACE = 32;

// The widget's width in whole cells.
int32_t cells(float v) {
  if (!(v > 0)) return 0;
  return v < 1e6f ? int32_t(v) : 1000000;
}

// --- field ------------------------------------------------------------------

// The face's text, made an empty string first when it is not one.
Cell* field_text(uint32_t id, bool make) {
  widget* w = widgets::get(id);
  if (!w) return nullptr;
  Cell* slot = face::slot(&w->face, face::TEXT);
  if (!slot) return nullptr;
  if (TYPE_OF(slot) == TYPE_STRING || !make) return TYPE_OF(slot) == TYPE_STRING ? slot : nullptr;
  Cell* fresh = string::push_new(16);
  Cell value = *fresh;
  stack::pop(1);
  w = widgets::get(id);
  slot = w ? face::slot(&w->face, face::TEXT) : nullptr;
  if (!slot) return nullptr;
  *slot = value;
  return slot;
}

int32_t char_width_at(const Cell* text, int32_t i) {
  return unicode::char_width(text::of(text).at(uint32_t(i)));
}

// Edits the text for one key; true when the text changed, and `handled`
// when the key did anything at all.
bool field_key(uint32_t id, int32_t key, bool& handled) {
  handled = false;
  if (key == 0 || key == 9 || key == 13) return false;
  sync_edit(id);
  widget* w = widgets::get(id);
  if (!w) return false;
  widgets::edit_state& e = w->edit;
  bool printable = key >= 32 && key != 127;
  Cell* text = field_text(id, printable);
  w = widgets::get(id);
  if (!w) return false;
  int32_t length = text ? int32_t(text::of(text).length) : 0;
  if (key == KEY_LEFT || key == 2) {
    // At the start of the text there is nothing before the cursor.
    if (e.cursor > 0) {
      e.cursor--;
      e.column -= char_width_at(text, e.cursor);
    }
    handled = true;
    return false;
  }
  if (key == KEY_RIGHT || key == 6) {
    if (e.cursor < length) {
      e.column += char_width_at(text, e.cursor);
      e.cursor++;
    }
    handled = true;
    return false;
  }
  if (key == 8 || key == 127) {
    handled = true;
    if (e.cursor <= 0) return false;
    int32_t cw = char_width_at(text, e.cursor - 1);
    string::remove_char(text, text->w1 + uint32_t(e.cursor - 1));
    e.cursor--;
    e.column -= cw;
    e.width -= cw;
    return true;
  }
  if (!printable || key < 0) return false;
  handled = true;
  int32_t cw = unicode::char_width(uint32_t(key));
  if (cells(w->width()) - cw < e.width) return false;  // the field is full
  node_t node = text->w2;
  if (e.cursor >= length) string::append_char(node, uint32_t(key));
  else string::insert_char(node, text->w1 + uint32_t(e.cursor), uint32_t(key));
  w = widgets::get(id);
  if (!w) return true;
  w->edit.cursor++;
  w->edit.column += cw;
  w->edit.width += cw;
  return true;
}

void field_click(uint32_t id, float x) {
  widget* w = widgets::get(id);
  Cell* text = field_text(id, false);
  if (!w) return;
  int32_t column = 0, cursor = 0;
  if (text) {
    text::span s = text::of(text);
    for (; cursor < int32_t(s.length); cursor++) {
      int32_t cw = unicode::char_width(s.at(uint32_t(cursor)));
      if (float(column + cw) > x) break;
      column += cw;
    }
  }
  w->edit.cursor = cursor;
  w->edit.column = column;
  widgets::mark_for_redraw(id);
}

// --- check box and radio button ------------------------------------------------

void toggle(uint32_t id, bool radio) {
  widget* w = widgets::get(id);
  if (!w) return;
  Cell* data = face::slot(&w->face, face::DATA);
  if (!data) return;
  if (radio) *data = make_logic(true);
  else if (TYPE_OF(data) == TYPE_NONE) *data = make_logic(true);
  else if (TYPE_OF(data) == TYPE_LOGIC) *data = make_logic(!data->w1);
  else *data = make_logic(false);
  widgets::run_update(id);
  widgets::mark_for_redraw(id);
  events::send_value(id, event::EVT_CHANGE, 0);
}

// --- text list -----------------------------------------------------------------

int32_t item_count(const Cell* data) {
  switch (TYPE_OF(data)) {
    case TYPE_BLOCK: case TYPE_HASH: return block::rs_length(data);
    case TYPE_MAP: return int32_t(map::ks_length(data));
    default: return 0;
  }
}

void text_list(uint32_t id, uint32_t type, const events::record& r) {
  widget* w = widgets::get(id);
  if (!w) return;
  if (type == event::EVT_FOCUS) {
    widgets::run_update(id);
    widgets::mark_for_redraw(id);
    return;
  }
  const Cell* selected = face::get(&w->face, face::SELECTED);
  int32_t old = TYPE_OF(selected) == TYPE_INTEGER ? get_integer(selected) : 1;
  int32_t n = item_count(face::get(&w->face, face::DATA));
  int32_t sel = old;
  if (type == event::EVT_KEY) {
    if (r.value == KEY_UP) {
      if (sel > 1) sel--;
      if (sel - 1 < w->data) w->data = std::max(sel - 1, 0);
    } else if (r.value == KEY_DOWN) {
      if (sel < n) sel++;
      int32_t rows = cells(w->height());
      if (rows > 0 && sel > w->data + rows) w->data = sel - rows;
    } else {
      return;
    }
  } else if (type == event::EVT_CLICK) {
    int32_t row = r.y > 0 ? (r.y < 1e6f ? int32_t(r.y) : 1000000) : 0;
    sel = w->data + row + 1;
    Cell* slot = face::slot(&w->face, face::SELECTED);
    if (slot && TYPE_OF(slot) != TYPE_INTEGER) *slot = make_integer(old);
  } else {
    return;
  }
  if (sel == old) return;
  bool stopped = events::send_value(id, event::EVT_SELECT, sel);
  w = widgets::get(id);
  if (!w) return;
  Cell* slot = face::slot(&w->face, face::SELECTED);
  if (slot && TYPE_OF(slot) == TYPE_INTEGER && get_integer(slot) == old) {
    *slot = make_integer(sel);
    widgets::run_update(id);
    widgets::mark_for_redraw(id);
  }
  if (!stopped) events::send_value(id, event::EVT_CHANGE, sel);
}

}  // namespace

void sync_edit(uint32_t id) {
  widget* w = widgets::get(id);
  if (!w) return;
  const Cell* text = face::get(&w->face, face::TEXT);
  widgets::edit_state& e = w->edit;
  if (TYPE_OF(text) != TYPE_STRING) {
    e = widgets::edit_state{};
    return;
  }
  text::span s = text::of(text);
  e.cursor = std::clamp(e.cursor, 0, int32_t(s.length));
  e.column = e.width = 0;
  for (uint32_t i = 0; i < s.length; i++) {
    int32_t cw = unicode::char_width(s.at(i));
    if (int32_t(i) < e.cursor) e.column += cw;
    e.width += cw;
  }
}

void react(uint32_t type, const events::record& r) {
  widget* w = widgets::get(r.widget);
  if (!w) return;
  uint32_t id = r.widget;
  switch (w->type) {
    case widgets::kind::field:
      if (type == event::EVT_KEY) {
        bool handled = false;
        bool changed = field_key(id, r.value, handled);
        if (handled) widgets::mark_for_redraw(id);
        // The face learns of typed text as of any other change of its value.
        if (changed) events::send_value(id, event::EVT_CHANGE, 0);
      } else if (type == event::EVT_CLICK) {
        field_click(id, r.x);
      }
      break;
    case widgets::kind::button:
      if (type != event::EVT_KEY) break;
      if (r.value == KEY_SPACE) {
        events::record click = r;
        click.value = 0;
        events::send(event::EVT_CLICK, click, 0);
      }
      // The click's actor may have closed the window.
      if (r.value != 0) widgets::mark_for_redraw(id);
      break;
    case widgets::kind::check:
    case widgets::kind::radio:
      if ((type == event::EVT_KEY && r.value == KEY_SPACE) || type == event::EVT_CLICK)
        toggle(id, w->type == widgets::kind::radio);
      else if (type == event::EVT_FOCUS)
        widgets::mark_for_redraw(id);
      break;
    case widgets::kind::text_list: text_list(id, type, r); break;
    default: break;
  }
}

}  // namespace kez::gui::reactions
