// recycle and stats: the collector and memory statistics from the language.
#include <array>
#include <cmath>
#include <vector>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/heap.h"
#include "foundation/memory.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/simple_types.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// A total as integer!, or float! beyond 32 bits.
Cell number_of(double n) {
  return n > 2147483647.0 ? make_float(n) : make_integer(int32_t(n));
}

void append_triple(Cell* block, int64_t a, int64_t b, int64_t c) {
  Cell* t = block::push_only(3);
  Cell v = make_integer(int32_t(a));
  block::rs_append(t, &v);
  v = make_integer(int32_t(b));
  block::rs_append(t, &v);
  v = make_integer(int32_t(c));
  block::rs_append(t, &v);
  Cell triple = *t;
  triple.header |= CELL_NEW_LINE;
  block::rs_append(block, &triple);
  stack::pop(1);
}

}  // namespace

void recycle_star(bool, const int32_t* refs) {
  if (refs[0] >= 0 || refs[1] >= 0) {
    collector::active = refs[0] >= 0;
    unset::box();
    return;
  }
  collector::do_cycle();
  *arg(0) = number_of(collector::memory_in_use());
}

void stats_star(bool, const int32_t* refs) {
  bool saved = collector::active;
  collector::active = false;
  if (refs[0] < 0 && refs[1] < 0) {
    *arg(0) = number_of(collector::memory_in_use());
    collector::active = saved;
    return;
  }
  // The figures are read before any block is made: making one may move or
  // free the frames being walked (the stress mode moves buffers on every
  // allocation).
  std::vector<std::array<int64_t, 3>> node_rows, frame_rows;
  std::vector<int64_t> big_sizes;
  double reserved = 0;
  for (auto* f = memory::root.first_node_frame; f; f = f->next) {
    node_rows.push_back({f->capacity - f->used, f->used, f->capacity});
    reserved += double(f->capacity) * 4 + 36;
  }
  for (auto* f = memory::root.first_series_frame; f; f = f->next) {
    frame_rows.push_back({f->tail - f->heap, f->heap - f->start, f->tail - f->start});
    reserved += double(f->size) + 20;
  }
  for (auto* f = memory::root.first_big_frame; f; f = f->next) {
    big_sizes.push_back(int64_t(f->size));
    reserved += double(f->size) + 12;
  }
  Cell* result = block::push_only(5);
  for (const auto* rows : {&node_rows, &frame_rows}) {
    Cell* b = block::push_only(8);
    for (const auto& r : *rows) append_triple(b, r[0], r[1], r[2]);
    block::rs_append(result, b);
    stack::pop(1);
  }
  Cell* bigs = block::push_only(4);
  for (int64_t size : big_sizes) {
    Cell v = make_integer(int32_t(size));
    v.header |= CELL_NEW_LINE;
    block::rs_append(bigs, &v);
  }
  block::rs_append(result, bigs);
  double heap_total = double(heap::total_bytes()) + double(heap::block_count()) * 16;
  Cell total = number_of(reserved + heap_total);
  block::rs_append(result, &total);
  Cell heap_cell = number_of(heap_total);
  block::rs_append(result, &heap_cell);
  *arg(0) = *result;
  stack::top = arg(0) + 1;
  collector::active = saved;
  if (refs[0] < 0) return;
  // /show prints the table through the boot library and returns nothing.
  const Cell* show = service_function("show-memory-stats");
  if (!show) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell data = *arg(0);
  call_with(show, "show-memory-stats", {data}, false);
  if (stack::pending()) return;
  unset::box();
}

}  // namespace kez::natives
