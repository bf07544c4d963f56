// The tracing hook: while `do/trace` is in force, the interpreter tells a
// user function (the tracer) of every step, filtered by an event mask taken
// from the tracer's body. Untraced evaluation pays one flag test per point.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::trace {

enum event : uint32_t {
  EV_INIT = 0x1,
  EV_END = 0x2,
  EV_PROLOG = 0x4,
  EV_EPILOG = 0x8,
  EV_ENTER = 0x10,
  EV_EXIT = 0x20,
  EV_OPEN = 0x40,
  EV_RETURN = 0x80,
  EV_FETCH = 0x100,
  EV_PUSH = 0x200,
  EV_SET = 0x400,
  EV_CALL = 0x800,
  EV_ERROR = 0x1000,
  EV_THROW = 0x2000,
  EV_CATCH = 0x4000,
  EV_EXPR = 0x8000,
};
constexpr uint32_t DEFAULT_MASK = 0x1FFFF;

extern bool on;       // events are delivered
extern bool active;   // a do/trace is in force
extern uint32_t mask;
extern Cell tracer;   // the function! (kept alive as a collector root)
// The last event the interpreter reported while tracing, delivered or not.
extern uint32_t last_event;

void init();
// The mask of a tracer: the event words of the block that starts its body,
// else every event.
uint32_t make_mask(const Cell* tracer_fn);
// Installs the tracer (unless one is active) and fires init; false when a
// tracer was already active.
bool install(const Cell* tracer_fn);
// Fires end and removes the tracer.
void uninstall();
// Removes the tracer without telling it.
void reset();
// Delivers one event when its bit is in the mask. `code` may be nullptr,
// `position` an absolute index in the code block (-1 for none), `ref` and
// `value` nullptr for none!. True when a raise came out of the tracer: the
// stacks are already unwound for it, so the caller returns at once.
bool fire(uint32_t bit, const Cell* code, int32_t position, const Cell* ref, const Cell* value);

// Counts the explicit switches of `trace true`/`trace false`.
extern uint32_t switches;
// Tracing on or off while a do/trace is in force (off outside one), until
// the next switch: the scopes below do not undo it.
void switch_to(bool mode);

// Switches tracing for the body of a function with the trace/no-trace
// attributes (or for a callback), and back on scope exit unless the body
// switched it explicitly.
struct scope {
  bool saved = on;
  uint32_t seen = switches;
  ~scope() {
    if (switches == seen) on = saved;
  }
};

}  // namespace kez::trace
