// The backend's event loop: reading the terminal, dispatching events,
// ticking timers and painting, in cycles of about 33 milliseconds.
#pragma once

namespace kez::gui::event_loop {

// Runs the loop: blocking until the loop level drops back, or, with
// no_wait, only while input keeps arriving. True when the last cycle found
// input.
bool do_events(bool no_wait);
// Lowers the loop level by one: the innermost blocking loop ends after its
// current cycle.
void post_quit();

}  // namespace kez::gui::event_loop
