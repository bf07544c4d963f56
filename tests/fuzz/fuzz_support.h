// What every libFuzzer target of the runtime shares: the runtime made once,
// and each input run inside a try frame, so that a raised error is an
// ordinary outcome and the value stack is left as it was found.
#pragma once
#include <cstdint>

#include "boot/startup.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/runtime.h"
#include "values/words.h"

namespace kez::fuzz {

// Runs `body` for one input; the runtime is initialised on the first call
// (then `setup` runs once).
template <class Setup, class Body>
void run_input(Setup&& setup, Body&& body) {
  static bool ready = [&] {
    boot::init_runtime();
    collector::active = true;
    setup();
    return true;
  }();
  (void)ready;
  stack::mark mark;
  Cell try_word = words::try_word;
  stack::open_try_frame(&try_word);
  runtime::catch_region(RAISE_ERROR, [&] { body(); });
  mark.restore();
  stack::raise_code = 0;
  // The memory manager collects only when no frame has room: a steady run
  // of small inputs would grow without bound. Collect now and then.
  static uint32_t runs = 0;
  if (++runs % 1000 == 0) collector::do_cycle();
}

}  // namespace kez::fuzz
