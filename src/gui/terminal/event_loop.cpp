// The backend's event loop.
#include "gui/terminal/event_loop.h"

#include "gui/terminal/widgets.h"

namespace kez::gui::event_loop {

namespace {

int loop_level = 0;

}  // namespace

bool do_events(bool) {
  widgets::free_dead();
  return false;
}

void post_quit() { loop_level--; }

}  // namespace kez::gui::event_loop
