// The terminal backend's hooks, idle until a text-mode window exists.
#include "gui/terminal/screen.h"

namespace kez::gui {

void suspend_screen() {}
void resume_screen() {}
void do_pending_events() {}

}  // namespace kez::gui
