// The global context's values: readers keep their address (pinned), which
// must follow every move of the buffer and no other.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/memory.h"
#include "test_support.h"
#include "values/context.h"
#include "values/word.h"

using namespace kez;

namespace {

Cell* global_buffer_cells() {
  return cells_of(memory::buffer(context::record(context::global_node)->w2));
}

}  // namespace

TEST(GlobalValues, PinnedAddressFollowsGrowthAndSurvivesRelocation) {
  test::ensure_runtime();
  EXPECT_EQ(context::global_values(), global_buffer_cells());
  Cell probe = word::load("pinnedProbe");
  Cell seven = make_integer(7);
  word::set(&probe, &seven);

  // Enough new global words to outgrow the buffer's room: it moves.
  uint32_t room = memory::buffer(context::record(context::global_node)->w2)->size / sizeof(Cell);
  Cell* before = context::global_values();
  for (uint32_t i = 0; context::size(context::global_node) <= room; i++)
    word::load(("pinnedFill" + std::to_string(i)).c_str());
  EXPECT_NE(context::global_values(), before);
  EXPECT_EQ(context::global_values(), global_buffer_cells());
  EXPECT_EQ(get_integer(context::global_values() + probe.w3), 7);

  // Relocation and a collection move every movable buffer, not this one.
  Cell* grown = context::global_values();
  memory::relocate_all();
  collector::do_cycle();
  EXPECT_EQ(context::global_values(), grown);
  EXPECT_EQ(context::global_values(), global_buffer_cells());
  EXPECT_EQ(get_integer(word::get_any(&probe)), 7);
}
