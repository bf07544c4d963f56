// The GUI layer's routines, reached by name from its Kez sources.
#include "gui/routines.h"

#include <cstring>
#include <initializer_list>
#include <span>

#include "boot/routines.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "gui/event.h"
#include "gui/face_change.h"
#include "gui/face.h"
#include "gui/terminal/platform.h"
#include "values/error_ids.h"
#include "values/symbol.h"

namespace kez::gui {

namespace {

void gui_routine() {
  Cell name = *stack::arguments;
  const char* text = symbol::to_cstr(name.w2);
  for (auto table : {event::routines(), face_change::routines(), platform_routines()}) {
    for (const auto& r : table) {
      if (std::strcmp(r.name, text) != 0) continue;
      Cell value = *boot::push_routine(r.spec, r.fn);
      stack::pop(1);
      *stack::arguments = value;
      return;
    }
  }
  fire(err::SCRIPT, err::script::INVALID_ARG, &name);
}

void event_init() {
  event::init();
  *stack::arguments = make_unset();
}

}  // namespace

void make_routines() {
  face::init();
  boot::define_routine("_gui-routine", "name [word!] return: [routine!]", gui_routine);
  boot::define_routine("_event-init", "", event_init);
}

}  // namespace kez::gui
