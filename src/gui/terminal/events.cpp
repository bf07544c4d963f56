// Backend events: records as collector blocks, their fields, and delivery.
//
// Every delivery re-reads the widget through its id: an actor may have
// destroyed it, or its whole window, by the time the dispatch returns.
#include "gui/terminal/events.h"

#include "evaluator/stack.h"
#include "gui/event.h"
#include "gui/terminal/calls.h"
#include "gui/terminal/reactions.h"
#include "gui/terminal/widgets.h"
#include "types/pair.h"
#include "values/block.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::events {

bool exit_seen = false;

namespace {

// The cells of an event's record block.
enum record_cell : uint32_t { R_FACE, R_OFFSET, R_VALUE, R_WHEEL, R_COUNT };

// A cell coordinate as the integer the offset pair holds.
int32_t whole(float v) {
  if (!(v > -1e9f)) return v != v ? 0 : -1000000000;
  return v < 1e9f ? int32_t(v) : 1000000000;
}

void field(const Cell* e, int32_t index, Cell* out) {
  if (!e->w2) {
    *out = make_none();
    return;
  }
  const Cell* rec = cell_head(memory::buffer(e->w2));
  switch (index) {
    case event::FIELD_FACE: *out = rec[R_FACE]; break;
    case event::FIELD_OFFSET: *out = rec[R_OFFSET]; break;
    case event::FIELD_KEY: {
      int32_t code = get_integer(&rec[R_VALUE]);
      if (e->w3 & SPECIAL_KEY) *out = code < 0 ? event::key_value(code) : make_none();
      else *out = code >= 0 ? make_char(uint32_t(code)) : make_none();
      break;
    }
    case event::FIELD_PICKED:
      *out = e->w1 == event::EVT_WHEEL ? rec[R_WHEEL] : rec[R_VALUE];
      break;
    default: *out = make_none(); break;  // window, orientation
  }
}

bool is_done(const Cell* v) {
  static const uint32_t done = symbol::resolve(symbol::make("done"));
  return TYPE_OF(v) == TYPE_WORD && word::canonical(v) == done;
}

}  // namespace

bool dispatch(uint32_t type, const record& r, uint32_t flags) {
  widgets::widget* w = widgets::get(r.widget);
  if (!w) return false;
  Cell face = w->face;
  Cell view = calls::view_object();
  Cell* awake = calls::field(&view, "awake");
  if (!awake) return false;
  Cell fn = *awake;
  Cell* rec = block::push_only(R_COUNT);
  Cell cells[R_COUNT] = {face, Cell{TYPE_PAIR, 0, uint32_t(whole(r.x)), uint32_t(whole(r.y))},
                         make_integer(r.value), make_float(r.wheel)};
  for (Cell& c : cells) {
    clear_new_line(&c);
    block::rs_append(rec, &c);
  }
  Cell ev{TYPE_EVENT, type, rec->w2, flags};
  calls::outcome o = calls::call(&fn, {ev}, calls::fence::errors);
  stack::pop(1);
  if (o.exit) exit_seen = true;
  return is_done(&o.value);
}

bool send(uint32_t type, const record& r, uint32_t flags) {
  widgets::widget* w = widgets::get(r.widget);
  if (!w || (w->flags & widgets::DISABLED)) return false;
  reactions::react(type, r);
  return dispatch(type, r, flags);
}

bool send_value(uint32_t widget, uint32_t type, int32_t value) {
  record r;
  r.widget = widget;
  r.value = value;
  return dispatch(type, r, 0);
}

void init() { event::backend_field = field; }

}  // namespace kez::gui::events
