// The events that the terminal backend makes: their records, their fields
// as the event! datatype reads them, and their delivery to widgets and to
// `system/view/awake`.
//
// A backend event is an event! cell (EVENT_MADE clear) whose w2 is the node
// of a small block: the face, the position, the key value and the wheel
// amount. The block is collector memory like any other, so an event kept by
// an actor stays readable after its dispatch, and after its widget is gone.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::gui::events {

// What the event loop and the widgets know of one event.
struct record {
  uint32_t widget = 0;  // the widget it is for (its face goes in the record)
  float x = 0, y = 0;   // the position inside it, in cells
  int32_t value = 0;    // the key code, or another integer
  float wheel = 0;      // the wheel amount of a `wheel` event
};

// Flag bit 0 of a backend event: the key value is a special-key code.
inline constexpr uint32_t SPECIAL_KEY = 1;

// Dispatches an event to `awake` (errors in actors are caught and dropped).
// True when `awake` answered `done`.
bool dispatch(uint32_t type, const record& r, uint32_t flags);
// Widget-level sending: nothing for a disabled (or gone) widget; else the
// widget's own reaction first, then the dispatch. True when consumed.
bool send(uint32_t type, const record& r, uint32_t flags);
// A value event (`select`, `change`...): to the face only.
bool send_value(uint32_t widget, uint32_t type, int32_t value);

// Set when a dispatch saw a non-local exit leave an actor: the event loop
// then ends one level.
extern bool exit_seen;

// Connects the event! datatype's field reader for backend events.
void init();

}  // namespace kez::gui::events
