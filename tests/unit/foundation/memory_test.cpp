// The memory manager: sizes, frames, growth, nodes, and relocation stress.
#include <gtest/gtest.h>

#include "foundation/array.h"
#include "foundation/handles.h"
#include "foundation/memory.h"
#include "foundation/runtime.h"
#include "foundation/slot_table.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/error_ids.h"
#include "foundation/raise.h"

using namespace kez;

namespace {

struct Memory : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// Runs `body` with relocation stress every `interval` allocations.
template <class F>
void with_stress(uint32_t interval, F&& body) {
  uint32_t saved = memory::stress_interval;
  memory::stress_interval = interval;
  body();
  memory::stress_interval = saved;
}

}  // namespace

TEST_F(Memory, AllocationSizes) {
  EXPECT_EQ(memory::buffer(memory::alloc_bytes(0))->size, 16u);
  EXPECT_EQ(memory::buffer(memory::alloc_cells(0))->size, 0u);
  EXPECT_EQ(memory::buffer(memory::alloc_codepoints(0, 1))->size, 16u);
  EXPECT_EQ(memory::buffer(memory::alloc_codepoints(0, 2))->size / 2, 8u);
  EXPECT_EQ(memory::buffer(memory::alloc_codepoints(0, 4))->size / 4, 4u);
  EXPECT_EQ(memory::buffer(memory::alloc_bytes(17))->size, 32u);
  series_buffer* b = memory::buffer(memory::alloc_unset_cells(3));
  EXPECT_EQ(b->size, 48u);
  EXPECT_EQ(b->head, b->tail);
  for (int i = 0; i < 3; i++) EXPECT_EQ(TYPE_OF(cells_of(b) + i), TYPE_UNSET);
  b = memory::buffer(memory::alloc_series(4, 16, 32));
  EXPECT_EQ(b->head, 32u);
  EXPECT_EQ(b->tail, 32u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 16, 0u);
}

TEST_F(Memory, BigBufferBoundary) {
  // A footprint of exactly 2 MB is big; one 16 bytes less is carved.
  uint64_t at_limit = memory::MAX_FRAME_SIZE - BUFFER_OVERHEAD;
  series_buffer* big = memory::buffer(memory::alloc_bytes(at_limit));
  EXPECT_TRUE(big->flags & SERIES_BIG);
  series_buffer* carved = memory::buffer(memory::alloc_bytes(at_limit - 16));
  EXPECT_FALSE(carved->flags & SERIES_BIG);
  // Every series frame after the first is 2 MB.
  for (auto* f = memory::root.first_series_frame; f; f = f->next) {
    uint64_t data = uint64_t(f->tail - f->start);
    EXPECT_TRUE(data == memory::INITIAL_FRAME_SIZE || data == memory::MAX_FRAME_SIZE) << data;
  }
  EXPECT_EQ(memory::root.frame_size, memory::MAX_FRAME_SIZE);
}

TEST_F(Memory, SizeBeyondLimitRaisesBeforeAllocating) {
  auto* big_before = memory::root.first_big_frame;
  uint32_t code = runtime::catch_region(RAISE_ERROR, [] { memory::alloc_cells(1ull << 28); });
  EXPECT_EQ(code, RAISE_ERROR);
  EXPECT_EQ(last_fire.id, err::internal::NO_MEMORY);
  EXPECT_EQ(memory::root.first_big_frame, big_before);  // nothing was mapped
  code = runtime::catch_region(RAISE_ERROR, [] { memory::alloc_bytes(uint64_t(1) << 40); });
  EXPECT_EQ(code, RAISE_ERROR);
}

TEST_F(Memory, DoublingKeepsElementsAndGivesTheOldBufferUp) {
  node_t node = memory::alloc_bytes(16);
  series_buffer* b = memory::buffer(node);
  for (int i = 0; i < 10; i++) b->data()[i] = uint8_t(i);
  b->tail = 10;
  series_buffer* old = b;
  series_buffer* grown = memory::expand_series(b, 0);
  EXPECT_EQ(grown->size, 32u);
  EXPECT_EQ(grown->used(), 10u);
  for (int i = 0; i < 10; i++) EXPECT_EQ(grown->data()[i], i);
  EXPECT_EQ(memory::buffer(node), grown);
  EXPECT_EQ(old->node, 0u);
  EXPECT_FALSE(old->flags & SERIES_ALLOCATED);

  // An empty block grows by at least one cell.
  node_t empty = memory::alloc_cells(0);
  Cell* c = alloc_tail_cell(empty);
  *c = make_integer(42);
  EXPECT_EQ(memory::buffer(empty)->used(), 16u);
  EXPECT_EQ(get_integer(cells_of(memory::buffer(empty))), 42);

  node_t filled = memory::alloc_bytes_filled(16, 0xAB);
  series_buffer* f = memory::expand_series_filled(memory::buffer(filled), 64, 0xCD);
  EXPECT_EQ(f->data()[15], 0xAB);
  EXPECT_EQ(f->data()[16], 0xCD);
  EXPECT_EQ(f->data()[63], 0xCD);
}

// A copy keeps what its data is, but not the owned mark (no owner record
// exists for it: an owner could never claim it) nor where the source lives.
TEST_F(Memory, CopyTakesTheDataFlagsOnly) {
  node_t small = memory::alloc_codepoints(4, 2);
  memory::set_flag(small, SERIES_OWNED | SERIES_COMPLEMENT);
  memory::buffer(small)->tail = 8;
  series_buffer* copy = memory::buffer(memory::copy_series(memory::buffer(small)));
  EXPECT_EQ(copy->unit(), 2u);
  EXPECT_EQ(copy->used(), 8u);
  EXPECT_TRUE(copy->flags & SERIES_COMPLEMENT);
  EXPECT_FALSE(copy->flags & SERIES_OWNED);
  memory::buffer(small)->flags &= ~SERIES_OWNED;

  // A copy as large as a big buffer is big itself, so that it grows in place.
  node_t big = memory::alloc_bytes(memory::MAX_FRAME_SIZE);
  EXPECT_TRUE(memory::buffer(memory::copy_series(memory::buffer(big)))->flags & SERIES_BIG);
}

TEST_F(Memory, NodeFramesAreReleasedWhenEmpty) {
  // Fill a frame's worth of nodes beyond what exists, then free them all.
  std::vector<node_t> nodes;
  for (uint32_t i = 0; i < memory::NODES_PER_FRAME * 2; i++) nodes.push_back(memory::alloc_node());
  int frames_before = 0;
  for (auto* f = memory::root.first_node_frame; f; f = f->next) frames_before++;
  memory::node_frame* last = memory::root.last_node_frame;
  EXPECT_EQ(last->used, last->capacity - (last->capacity - last->used));
  for (node_t n : nodes) memory::free_node(n);
  memory::update_node_frames();
  int frames_after = 0;
  for (auto* f = memory::root.first_node_frame; f; f = f->next) frames_after++;
  EXPECT_LT(frames_after, frames_before);
  // The next request still gets a node (from a kept or a fresh frame).
  node_t n = memory::alloc_node();
  EXPECT_NE(n, 0u);
  memory::free_node(n);
}

// The node table grows in place within its reserved range and moves once
// past it: every entry, written before the move, reads back after it.
TEST_F(Memory, NodeTableKeepsItsEntriesWhenItOutgrowsItsRange) {
  uintptr_t* table = memory::node_table;
  std::vector<node_t> nodes;
  auto entry = [](node_t n) { return reinterpret_cast<series_buffer*>(uintptr_t(n) << 4); };
  // Bounded: a table that never moved would end the loop all the same.
  while (memory::node_table == table && nodes.size() < (size_t(1) << 25)) {
    node_t n = memory::alloc_node();
    memory::set_buffer(n, entry(n));
    nodes.push_back(n);
  }
  EXPECT_NE(memory::node_table, table);
  for (int i = 0; i < 3 * int(memory::NODES_PER_FRAME); i++) {
    node_t n = memory::alloc_node();
    memory::set_buffer(n, entry(n));
    nodes.push_back(n);
  }
  size_t wrong = 0;
  for (node_t n : nodes) wrong += memory::buffer(n) != entry(n);
  EXPECT_EQ(wrong, 0u);
  for (node_t n : nodes) memory::free_node(n);
  memory::update_node_frames();
  node_t n = memory::alloc_node();
  EXPECT_NE(n, 0u);
  memory::free_node(n);
}

TEST_F(Memory, StressRelocationKeepsAMillionCells) {
  // Only the node is held; every relocation moves the block.
  with_stress(1, [] {
    node_t block = memory::alloc_cells(0);
    for (int32_t i = 0; i < 1000000; i++) *alloc_tail_cell(block) = make_integer(i);
    series_buffer* b = memory::buffer(block);
    ASSERT_EQ(b->used(), 16u * 1000000);
    Cell* cells = cells_of(b);
    for (int32_t i = 0; i < 1000000; i++) ASSERT_EQ(get_integer(cells + i), i);
  });
}

TEST_F(Memory, StressRelocationMovesBuffersAndProtectsOldCopies) {
  node_t node = memory::alloc_bytes(100);
  series_buffer* before = memory::buffer(node);
  before->data()[0] = 7;
  before->tail = 1;
  memory::relocate_all();
  series_buffer* after = memory::buffer(node);
  EXPECT_NE(before, after);
  EXPECT_EQ(after->data()[0], 7);
  EXPECT_EQ(after->node, node);
  EXPECT_DEATH({ volatile uint8_t x = before->data()[0]; (void)x; }, "");
}

TEST_F(Memory, RawArrays) {
  node_t a = array::make(2, 4);
  EXPECT_EQ(array::find_int(a, 5), -1);
  array::append_int(a, 10);
  EXPECT_EQ(array::length(a), 1u);
  array::remove_at(a, 0, 4);
  EXPECT_EQ(array::length(a), 0u);
  for (int i = 1; i <= 4; i++) array::append_int(a, i * 10);
  array::insert_int(a, 5, 0);  // grows a full array
  EXPECT_EQ(array::length(a), 5u);
  int expected[] = {5, 10, 20, 30, 40};
  for (int i = 0; i < 5; i++) EXPECT_EQ(array::pick_int(a, uint32_t(i + 1)), expected[i]);
  EXPECT_EQ(array::find_int(a, 30), 12);
  array::remove_ptr(a, 10);
  EXPECT_EQ(array::pick_int(a, 2), 20);
  array::cut_at(a, 3);
  EXPECT_EQ(array::length(a), 2u);
  node_t bytes = array::make(0, 1);
  array::append_bytes(bytes, "abc", 3);
  array::append_byte(bytes, 'd');
  EXPECT_EQ(array::pick_byte(bytes, 4), 'd');
  EXPECT_EQ(array::length(array::copy(bytes)), 4u);
}

TEST_F(Memory, SlotTable) {
  slot_table::init();
  Cell v = make_integer(0);
  for (int32_t i = 1; i <= 101; i++) {
    v = make_integer(i * 3);
    EXPECT_EQ(slot_table::store(&v), uint32_t(i));
  }
  EXPECT_EQ(slot_table::capacity(), 200u);
  EXPECT_EQ(get_integer(slot_table::get(101)), 303);
  slot_table::free(5);
  EXPECT_EQ(slot_table::store(&v), 5u);
  slot_table::free(0);  // nothing
  EXPECT_EQ(slot_table::store(&v), 102u);
}

namespace {
int released = 0;
void count_release(void*) { released++; }
}  // namespace

TEST_F(Memory, HandleKinds) {
  handles::init();
  uint32_t kind = handles::register_kind("image", count_release);
  EXPECT_EQ(kind, 1u);
  int dummy[2000];
  std::vector<int32_t> slots;
  for (int i = 0; i < 999; i++) slots.push_back(handles::store(&dummy[i], kind));
  EXPECT_EQ(handles::capacity(), 1000u);
  slots.push_back(handles::store(&dummy[999], kind));  // the 1,000th grows first
  EXPECT_EQ(handles::capacity(), 2000u);
  EXPECT_EQ(handles::at(slots[10]).object, &dummy[10]);

  released = 0;
  for (size_t i = 1; i < slots.size(); i++) handles::mark(slots[i], nullptr);
  EXPECT_EQ(handles::mark(slots[1], &dummy[1500]), 0);  // already marked; replaces
  EXPECT_EQ(handles::at(slots[1]).object, &dummy[1500]);
  handles::sweep();
  EXPECT_EQ(released, 1);  // slot 0 only
  EXPECT_EQ(handles::store(&dummy[0], kind), slots[0]);  // reused
  handles::free_slot(slots[2], false);
  EXPECT_EQ(released, 1);
  handles::free_slot(slots[3], true);
  EXPECT_EQ(released, 2);
  for (size_t i = 0; i < slots.size(); i++) handles::mark(slots[i], nullptr);
  handles::sweep();
  EXPECT_EQ(released, 2);
}
