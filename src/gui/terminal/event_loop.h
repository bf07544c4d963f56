// The backend's event loop: reading the terminal, dispatching events,
// ticking timers and painting, in cycles of about 33 milliseconds.
//
// What must stay true: the loop level only changes through `do_events`
// and `post_quit` and never drops below 0; the outermost blocking loop
// starts the terminal and, on every way out (its end, an error passing
// through it), leaves it as it found it; a nested loop that empties the
// input buffer stops the decoder of the loop around it.
#pragma once
#include <cstdint>

#include "gui/terminal/input.h"

namespace kez::gui::event_loop {

// Runs the loop: blocking until the loop level drops back, or, with
// no_wait, only while input keeps arriving. True when the last cycle found
// input.
bool do_events(bool no_wait);
// Lowers the loop level by one: the innermost blocking loop ends after its
// current cycle.
void post_quit();
// The loop level (tests).
int level();

// The bytes read from the terminal and not decoded yet.
extern input::buffer pending_input;

// Delivers one decoded input item as the loop does (tests feed items here).
void deliver(const input::item& it);
// Sends `resize` with the console size to every window.
void send_resize();

}  // namespace kez::gui::event_loop
