// The low-level throw, fatal runtime errors and fault signals.
#include <gtest/gtest.h>
#include <unistd.h>

#include "foundation/platform.h"
#include "foundation/runtime.h"

using namespace kez;

namespace {

volatile uintptr_t bad_address = 8;
volatile int stop_depth = -1;

// Death tests match standard error; the report goes to standard output.
void stdout_to_stderr() { dup2(STDERR_FILENO, STDOUT_FILENO); }

void throw_from_depth(int depth, uint32_t code) {
  if (depth <= 0) runtime::throw_code(code);
  if (depth == stop_depth) return;
  throw_from_depth(depth - 1, code);
}


int recurse(int depth) {
  volatile int local[64];
  local[0] = depth;
  if (depth == stop_depth) return 0;
  return recurse(depth + 1) + local[0];
}

}  // namespace

TEST(RuntimeDeathTest, ReportFormatAndStatus) {
  EXPECT_EXIT((stdout_to_stderr(), runtime::runtime_error(13, 0x4A1B2C)),
              testing::ExitedWithCode(13),
              "^\n\\*\\*\\* Runtime Error 13: integer divide by zero\n\\*\\*\\* at: 004A1B2Ch\n$");
  EXPECT_EXIT((stdout_to_stderr(), runtime::runtime_error(50, 0xFFFFFFFF)),
              testing::ExitedWithCode(50), "Runtime Error 50: unknown error code!\n.*at: FFFFFFFFh");
  EXPECT_EXIT((stdout_to_stderr(), runtime::runtime_error(0, 0)), testing::ExitedWithCode(0),
              "^$");
}

TEST(RuntimeDeathTest, TopLevelTakesEveryThrow) {
  EXPECT_EXIT((stdout_to_stderr(),
               runtime::top_level([] { throw_from_depth(50, THROW_NORMAL_EXIT); })),
              testing::ExitedWithCode(0), "^$");
  EXPECT_EXIT((stdout_to_stderr(), runtime::top_level([] { throw_from_depth(5, 0x12345); })),
              testing::ExitedWithCode(95), "Runtime Error 95: no CATCH for THROW");
}

TEST(Runtime, CatchRegionTakesCodesUpToItsLevel) {
  // A level equal to the code takes it; a lower level lets it pass.
  uint32_t code = runtime::catch_region(0x100, [] { throw_from_depth(3, 0x100); });
  EXPECT_EQ(code, 0x100u);
  EXPECT_EQ(runtime::rt.thrown, 0x100u);
  uint32_t outer = runtime::catch_region(0x200, [] {
    runtime::catch_region(0xFF, [] { runtime::throw_code(0x100); });
    ADD_FAILURE() << "the inner region must not take the code";
  });
  EXPECT_EQ(outer, 0x100u);
  EXPECT_EQ(runtime::catch_region(5, [] {}), 0u);
}

TEST(RuntimeDeathTest, FaultsBecomeRuntimeErrors) {
  EXPECT_EXIT(
      {
        stdout_to_stderr();
        platform::init_process(0, nullptr);
        *reinterpret_cast<volatile int*>(bad_address) = 1;
      },
      testing::ExitedWithCode(1), "Runtime Error 1: access violation\n\\*\\*\\* at: [0-9A-F]{8}h");
  EXPECT_EXIT(
      {
        stdout_to_stderr();
        platform::init_process(0, nullptr);
        platform::run_evaluator([] {
          recurse(0);
        });
      },
      testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow");
}

TEST(Runtime, StackGuardSeesTheEvaluatorStackEnd) {
  EXPECT_EXIT(
      {
        platform::init_process(0, nullptr);
        platform::run_evaluator([] {
          // The guard is set on the evaluator thread and not hit at the top.
          if (platform::stack_limit == 0 || platform::stack_exhausted()) std::_Exit(3);
          std::_Exit(7);
        });
      },
      testing::ExitedWithCode(7), "");
}
