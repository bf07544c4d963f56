// port!: the handle on an external resource reached through a scheme.
//
// A port is an object! cell retyped 48 (class id 2) over a copy of
// `system/standard/port`; its `spec` field holds the spec object, `scheme`
// the scheme's name and `actor` what the scheme registered to answer the
// port's actions. The runtime performs no I/O of its own for a port: every
// series and I/O action is forwarded to the actor function of the same name,
// which receives the port, then the action's arguments in the action's
// order, each refinement as a logic! flag followed by its argument (none
// when the refinement is absent). An actor that is a handle! instead names
// a table of C++ functions registered here; the action dispatcher serves
// such ports from that table directly.
#pragma once
#include <cstddef>
#include <cstdint>

#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::port {

// The actions a native actor table answers: `append` (25) through `write`
// (62), entry id - 25.
inline constexpr int NATIVE_FIRST = ACT_append;
inline constexpr int NATIVE_COUNT = ACTION_COUNT - ACT_append + 1;
using native_table = actions::generic_fn[NATIVE_COUNT];

// Registers a table that lives as long as the process; returns the value
// of the handle! that stands for it as an actor (never 0).
uint32_t register_native_actor(const native_table* table);
// For a port whose actor is a handle!, the table's entry for the action
// (id 25 or more); raises access no-port-action when the entry is empty.
// nullptr when the port's actor is not a handle!.
actions::generic_fn native_action(const Cell* port, int action);

// Calls a function! with `args` as its whole frame before the locals (its
// arguments, then each refinement's flag and arguments), as a call with
// every refinement written would lay it out: slots the function lacks are
// dropped, and those it has beyond `args` are filled as for a call that
// leaves them out (false for a refinement, none for an argument). The result goes into
// `result`; a pending exit leaves the stack to the frame that takes it.
// `args` may lie on the value stack.
Cell* call(Cell* result, const Cell* fn, const Cell* name, const Cell* args, size_t count);

// make port! with a spec object or block (see port.cpp); into `proto`.
Cell* make(Cell* proto, const Cell* spec, uint32_t type);

void init();  // registers port!

}  // namespace kez::port
