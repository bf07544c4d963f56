// What each widget type does with the events it receives: field editing,
// the button's space key, check boxes, radio buttons and text lists.
//
// A reaction may call Kez (builders, value events): the widget is re-read
// by its id after each call, and nothing more is done once it is gone.
#pragma once
#include <cstdint>

#include "gui/terminal/events.h"

namespace kez::gui::reactions {

// The widget's own event function: called with the event type and the
// record (its widget, the position inside it, the key code).
void react(uint32_t type, const events::record& r);

// A field's edit state after its text changed from outside: the cursor
// kept within the text, the columns measured again.
void sync_edit(uint32_t id);

}  // namespace kez::gui::reactions
