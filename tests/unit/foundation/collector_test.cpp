// The collector: what is reachable survives (and can move), the rest is
// reclaimed; deep structures mark without recursion.
#include <gtest/gtest.h>

#ifdef KEZ_SANITIZE
#include <sanitizer/asan_interface.h>
#endif

#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/memory.h"
#include "test_support.h"
#include "values/block.h"
#include "values/string.h"

using namespace kez;

namespace {

struct Collector : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved_top = stack::top;
  }
  void TearDown() override { stack::top = saved_top; }
  Cell* saved_top = nullptr;
};

uint32_t live_nodes() {
  uint32_t n = 0;
  for (auto* f = memory::root.first_node_frame; f; f = f->next) n += f->used;
  return n;
}

}  // namespace

TEST_F(Collector, ReachableSurvivesGarbageIsReclaimed) {
  Cell* kept = block::push_only(4);
  for (int i = 0; i < 20000; i++) {
    Cell* s = string::load("keep me");
    block::rs_append(kept, s);
    stack::pop(1);
    string::load("garbage garbage");  // dropped below
    stack::pop(1);
  }
  collector::do_cycle();
  uint32_t after_first = live_nodes();
  ASSERT_EQ(block::rs_length(kept), 20000);
  for (int i = 0; i < 20000; i += 997) {
    Cell s = block::rs_head(kept)[i];
    EXPECT_EQ(string::to_utf8(&s), "keep me");
  }
  stack::top = saved_top;  // drop the block itself
  collector::do_cycle();
  EXPECT_LT(live_nodes() + 20000, after_first);
}

TEST_F(Collector, DeepNestingMarksWithoutRecursion) {
  Cell* b = block::push_only(1);
  for (int i = 0; i < 1000000; i++) {
    Cell* outer = block::push_only(1);
    block::rs_append(outer, b);
    *b = *outer;
    stack::pop(1);
  }
  collector::do_cycle();
  int depth = 0;
  Cell v = *b;
  while (block::rs_length(&v) == 1) {
    v = block::rs_head(&v)[0];
    depth++;
  }
  EXPECT_EQ(depth, 1000000);
}

TEST_F(Collector, StressCollectionMovesEverythingAndKeepsValues) {
  uint32_t saved = memory::stress_interval;
  auto saved_hook = memory::stress_hook;
  collector::active = true;
  memory::stress_interval = 7;
  memory::stress_hook = [] {
    collector::do_cycle();
    memory::relocate_all();
  };
  Cell* kept = block::push_only(1);
  for (int i = 0; i < 3000; i++) {
    Cell* s = string::load(std::to_string(i));
    block::rs_append(kept, s);
    stack::pop(1);
    string::load("garbage");
    stack::pop(1);
  }
  memory::stress_interval = saved;
  memory::stress_hook = saved_hook;
  collector::active = false;
  for (int i = 0; i < 3000; i++) {
    Cell s = block::rs_head(kept)[i];
    ASSERT_EQ(string::to_utf8(&s), std::to_string(i));
  }
}

#ifdef KEZ_SANITIZE
// The sanitizer builds poison the room after the last buffer of each frame,
// also where a collection has slid the live buffers down, so that a read
// past the last buffer fails at once instead of meeting stale cells.
TEST_F(Collector, RoomAfterTheLastBufferIsPoisoned) {
  auto room_poisoned = [] {
    for (auto* f = memory::root.first_series_frame; f; f = f->next)
      if (f->heap < f->tail && !__asan_address_is_poisoned(f->heap)) return false;
    return true;
  };
  for (int i = 0; i < 1000; i++) {
    string::load("garbage before the kept block");
    stack::pop(1);
  }
  Cell* kept = block::push_only(4);
  const uint8_t* last = memory::buffer(kept->w2)->end_ptr() - 1;
  EXPECT_FALSE(__asan_address_is_poisoned(last));
  EXPECT_TRUE(room_poisoned());
  collector::do_cycle();
  ASSERT_NE(memory::buffer(kept->w2)->end_ptr() - 1, last);  // slid over the garbage
  EXPECT_TRUE(__asan_address_is_poisoned(last));
  EXPECT_FALSE(__asan_address_is_poisoned(memory::buffer(kept->w2)->end_ptr() - 1));
  EXPECT_TRUE(room_poisoned());
}
#endif
