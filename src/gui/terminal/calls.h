// How the terminal backend calls Kez: the helpers of TUI-helpers that build
// widget texts, and `system/view/awake` with an event.
//
// One helper opens a frame, evaluates the function with its arguments and
// catches what the caller asks for. Arguments are values that evaluate to
// themselves (objects, events, numbers, strings): they are put after the
// function in a code block. Any call may move every series buffer: callers
// re-read faces and widgets afterwards, and store the result (whose buffers
// the collector does not see from C++) before anything allocates.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "values/cell.h"

namespace kez::gui::calls {

enum class fence {
  none,    // errors pass to the caller
  errors,  // errors are caught and dropped (event dispatch)
};

struct outcome {
  Cell value{};       // the function's result (unset after an error)
  bool failed = false;  // an error was caught
  bool exit = false;    // a non-local exit (halt, throw...) left the call
};

// Calls the function value with the arguments. A non-local exit that leaves
// the call is cleared and reported in `exit`.
outcome call(const Cell* fn, std::initializer_list<Cell> args, fence f);

// A field of an object by name; null when the object has none.
Cell* field(const Cell* object, const char* name);
// The function `TUI-helpers/name`, or none when absent.
Cell helper(const char* name);
// `system/view`, or none.
Cell view_object();

}  // namespace kez::gui::calls
