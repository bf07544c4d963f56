// For C++ tests of the terminal backend that need faces: the language and
// the GUI layer booted in a child process (booting registers datatypes and
// changes tables that other tests of this process rely on), Kez source run
// there, and checks that end the child with a report.
//
// Use inside EXPECT_EXIT(..., testing::ExitedWithCode(0), ""): every check
// that fails prints what it found on standard error and exits 1.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "boot/startup.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "services/lexer.h"
#include "test_support.h"

namespace kez::test {

// Room left on the test's thread below the depth guard.
constexpr uintptr_t CHILD_STACK_ROOM = 6u << 20;

inline void boot_gui() {
  ensure_runtime();
  platform::stack_limit =
      reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - CHILD_STACK_ROOM;
  boot::make_all_routines();
  boot::run_boot_library(false);
}

// Evaluates Kez source; its value is the stack's top cell until the next
// evaluation.
inline Cell run(std::string_view source) {
  stack::top = stack::bottom;
  stack::arguments = stack::bottom;
  Cell* code = lexer::scan_utf8(source.data(), uint32_t(source.size()));
  interpreter::eval_block(code, false);
  return *(stack::top - 1);
}

// `show-tree window`: makes every face of a window a widget, as showing the
// window does, and activates the window (as tests/gui/backend-helpers.kez).
constexpr std::string_view SHOW_TREE = R"(
show-tree: func [w [object!] /local walk][
	walk: func [f [object!] parent [handle!] /local item][
		f/state: reduce [system/view/platform/make-view f parent 0 none false]
		if block? f/pane [foreach item f/pane [item/parent: f walk item f/state/1]]
	]
	walk w null-handle
	system/view/platform/show-window w/state/1
	w
]
)";

inline void check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace kez::test
