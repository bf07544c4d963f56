// For libFuzzer targets whose check is written in Kez: the language part of
// the boot library (without the console) and a driver function, called once
// an input with the input as a string! and, when asked, a mode integer. A
// result other than none is a failure: it is printed and the target aborts,
// so that libFuzzer keeps the input. Raised errors are ordinary outcomes
// (fuzz::run_input catches them).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "boot/routines.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "foundation/platform.h"
#include "foundation/unicode.h"
#include "fuzz_support.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::fuzz {

// Room left on the fuzzer's own thread below the point where deep nesting
// raises the language's stack-overflow error.
constexpr uintptr_t DRIVER_STACK_ROOM = 6u << 20;

// The set-up for run_input: the depth guard, the routines, the boot library
// and the driver's source.
inline void boot_with_driver(std::string_view driver) {
  platform::stack_limit =
      reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - DRIVER_STACK_ROOM;
  boot::make_all_routines();
  boot::run_boot_library(false);
  Cell* code = lexer::scan_utf8(driver.data(), uint32_t(driver.size()));
  interpreter::eval_block(code, false);
  stack::top = stack::bottom;
  stack::arguments = stack::bottom;
}

inline bool is_utf8(const uint8_t* p, const uint8_t* end) {
  int32_t cp;
  while (p < end) {
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    if (cp < 0) return false;
  }
  return true;
}

// Calls the driver `name` with the bytes as text (decoded as UTF-8 when they
// are, else one character a byte, so that every input reaches the code
// under test) and `mode` unless it is negative.
inline void run_driver(const char* name, const uint8_t* data, size_t size, int32_t mode) {
  Cell* code = block::push_only(3);
  Cell w = word::make_global(symbol::make(name));
  block::rs_append(code, &w);
  Cell* text = stack::push_unset();
  if (is_utf8(data, data + size)) {
    string::load_at(reinterpret_cast<const char*>(data), uint32_t(size), text);
  } else {
    string::rs_make_at(text, uint32_t(size));
    string::append_bytes(text, data, uint32_t(size));
  }
  block::rs_append(code, text);
  if (mode >= 0) {
    Cell m = make_integer(mode);
    block::rs_append(code, &m);
  }
  interpreter::eval_block(code, false);
  const Cell* result = stack::top - 1;
  if (TYPE_OF(result) == TYPE_NONE) return;
  Cell* report = string::rs_make_at(stack::push_unset(), 256);
  actions::mold(result, report, false, true, false, 0x7FFFFFFF, 0);
  std::fprintf(stderr, "%s failed: %s\n", name, string::to_utf8(report).c_str());
  std::abort();
}

}  // namespace kez::fuzz
