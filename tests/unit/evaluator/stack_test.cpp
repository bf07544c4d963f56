// The value stack's limit and errors: raising an error pushes it for the
// code that catches it, and that push must never raise a second error (a
// stack overflow) once the frames are unwound, or the second error would
// escape the try that was meant to catch the first.
#include <gtest/gtest.h>

#include "../values/value_test_support.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/word.h"

using namespace kez;

namespace {

TEST(Stack, AnErrorRaisedAtTheCellLimitReachesItsTry) {
  test::ensure_runtime();
  stack::mark m;
  Cell w = word::load("edge-of-the-stack");
  Cell error = *error::create(err::SCRIPT, err::script::NO_VALUE, &w, nullptr, nullptr);
  // Its trace is taken already: raising it pushes only the error itself.
  *error::field(&error, error::FIELD_STACK) = *block::push_only(1);
  Cell try_word = words::try_word;
  stack::open_try_frame(&try_word);
  last_fire = {};
  uint32_t code = runtime::catch_region(RAISE_ERROR, [&] {
    stack::top = stack::cells_limit - 1;
    stack::raise_error(&error);
  });
  Cell caught = *stack::top_cell();
  bool below_limit = stack::top <= stack::cells_limit;
  m.restore();
  runtime::rt.thrown = 0;
  EXPECT_EQ(code, uint32_t(RAISE_ERROR));
  EXPECT_EQ(last_fire.category, -1);  // nothing raised on the way
  EXPECT_EQ(TYPE_OF(&caught), TYPE_ERROR);
  EXPECT_EQ(caught.w1, error.w1);
  EXPECT_TRUE(below_limit);
}

}  // namespace
