// The terminal backend's hooks, idle until a text-mode window exists, and
// the console size it keeps.
#include "gui/terminal/screen.h"

#include <unistd.h>

#include "foundation/tty.h"

namespace kez::gui {

int32_t screen_width = DEFAULT_SCREEN_WIDTH;
int32_t screen_height = DEFAULT_SCREEN_HEIGHT;

void suspend_screen() {}
void resume_screen() {}
void do_pending_events() {}

void read_screen_size() {
  int cols = 0, rows = 0;
  bool known = isatty(STDOUT_FILENO) && tty::window_size(cols, rows) && cols > 0 && rows > 0;
  screen_width = known ? cols : DEFAULT_SCREEN_WIDTH;
  screen_height = known ? rows : DEFAULT_SCREEN_HEIGHT;
}

}  // namespace kez::gui
