// What the libFuzzer targets share: each input runs under a try frame, so
// that a raised error is an ordinary outcome, and leaves the stack as it
// found it.
#pragma once
#include <cstdint>

#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/runtime.h"
#include "values/words.h"

namespace kez::fuzz {

template <class F>
void run_one(F&& body) {
  stack::mark mark;
  Cell try_word = words::try_word;
  stack::open_try_frame(&try_word);
  runtime::catch_region(RAISE_ERROR, body);
  mark.restore();
  stack::raise_code = 0;
  // The memory manager collects only when no frame has room: a steady run
  // of small inputs would grow without bound. Collect now and then.
  static uint32_t runs = 0;
  if (++runs % 1000 == 0) collector::do_cycle();
}

}  // namespace kez::fuzz
