// The GUI layer's routines, reached by name from its Kez sources.
#include "gui/routines.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <span>

#include "boot/routines.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/raise.h"
#include "gui/event.h"
#include "gui/face_change.h"
#include "gui/face.h"
#include "gui/terminal/platform.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/symbol.h"

namespace kez::gui {

namespace {

auto tables() { return std::array{event::routines(), face_change::routines(), platform_routines()}; }

// The routines' spec blocks, in table order, made with the other routines
// (so that start-up from the pool takes them from its image of the routine
// specs instead of lexing them). The first `_gui-routine` of a name takes
// its block (none is left in its place); a later one lexes the text again.
Cell specs = Cell{TYPE_NONE, 0, 0, 0};

void make_specs() {
  collector::add_root(&specs);
  Cell* made = block::push_only(64);
  for (auto table : tables())
    for (const auto& r : table) {
      block::rs_append(made, boot::lex_spec(r.spec));
      stack::pop(1);
    }
  specs = *made;
  stack::pop(1);
}

// The block made for the routine at `position` in table order, taken out
// of `specs`; none when it was taken already.
Cell take_spec(int32_t position) {
  if (TYPE_OF(&specs) != TYPE_BLOCK || position >= block::rs_length(&specs)) return make_none();
  Cell* spec = block::rs_head(&specs) + position;
  Cell taken = *spec;
  *spec = make_none();
  return taken;
}

void gui_routine() {
  Cell name = *stack::arguments;
  const char* text = symbol::to_cstr(name.w2);
  int32_t position = 0;
  for (auto table : tables()) {
    for (const auto& r : table) {
      if (std::strcmp(r.name, text) != 0) {
        position++;
        continue;
      }
      Cell spec = take_spec(position);
      Cell* made;
      if (TYPE_OF(&spec) == TYPE_BLOCK) {
        stack::push(spec);
        made = boot::routine_in_place(r.fn);
      } else {
        made = boot::push_routine(r.spec, r.fn);
      }
      Cell value = *made;
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
  make_specs();
}

}  // namespace kez::gui
