// The memory manager.
//
// Invariants:
//  - handle h belongs to node frame (h - 1) / NODES_PER_FRAME; a released
//    frame's range of handles is reused by the next frame made;
//  - series frames are kept sorted by address (the collector walks them in
//    that order); each frame's buffers lie back to back from its start to its
//    heap cursor, so a buffer's footprint (size + overhead) finds the next;
//    in the sanitizer builds the rest of the frame is poisoned (memory.h);
//  - a buffer with SERIES_ALLOCATED clear or node 0 is garbage awaiting the
//    collector, and nothing may reach it.
#include "foundation/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "foundation/heap.h"
#include "foundation/platform.h"
#include "foundation/runtime.h"
#include "values/error_ids.h"
#include "foundation/raise.h"

namespace kez::memory {

root_record root;
uintptr_t* node_table = nullptr;
node_t pinned_node = 0;
uint8_t* pinned_data = nullptr;
void (*collect_if_active)() = [] {};
uint32_t stress_interval = 0;
void (*stress_hook)() = relocate_all;
uint64_t allocations = 0;
uint64_t carved = 0;

namespace {

constexpr uint64_t PAGE = 4096;

uint32_t node_table_frames = 0;   // frames the node table has room for
node_frame** frames_by_index = nullptr;

// The node table lives in an address range of its own, reserved once and
// made readable as it grows, so that it never moves nor is copied while it
// fits (a table moved by the C library on every doubling ends up on small
// pages, each faulted in one at a time). The range is advised for huge
// pages; the table starts TABLE_PREFIX bytes before the first huge-page
// boundary of the range, and the part before it stays unreadable, so that
// the prefix (the nodes of start-up and of any small program) sits on small
// pages, and everything after it on huge ones. Beyond the reservation the
// table moves once into one twice as large, its pages remapped, not copied.
constexpr size_t TABLE_PREFIX = size_t(512) << 10;
// 64 MB: eight million nodes, more than most programs make, yet a small
// share of an address-space limit of a few hundred megabytes.
constexpr size_t TABLE_RESERVE = size_t(64) << 20;
uint8_t* table_base = nullptr;       // start of the reservation, huge-page aligned
size_t table_reserved = 0;           // its length
uint8_t* table_committed = nullptr;  // end of the readable part
uint32_t stress_countdown = 0;
bool relocating = false;

// Pages quarantined by the last relocation: unreadable until the next one,
// so that a stale address faults instead of reading a plausible old copy.
struct quarantine_entry {
  void* address;
  size_t length;
};
std::vector<quarantine_entry>* quarantine = nullptr;

// Spare frames: emptied series frames of the common size, one huge page
// each, and the huge pages of dead big buffers, kept mapped (linked through
// `next`) for the next frames and big buffers the heap needs. A heap that is
// emptied and filled again, as when a large structure is built and dropped
// in a loop, then reuses pages already faulted in and cleared, rather than
// unmapping them and having the system clear fresh ones; a big buffer takes
// them by moving their pages into its mapping. The collector trims the pool
// after each cycle (trim_spare_frames). They are off the frame list: nothing
// walks them, and the sanitizer builds keep them poisoned whole. The stress
// mode keeps none: it wants every page it left behind unreadable.
series_frame* spare_frames = nullptr;
uint64_t spare_bytes = 0;
static_assert(MAX_FRAME_SIZE == platform::HUGE_PAGE, "a spare frame is one huge page");

[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }

// Pages from the platform, with the platform's refusal turned into the
// internal no-memory error. A series frame, and any whole number of huge
// pages, is asked for as huge pages.
void* alloc_virtual(size_t length, bool frame = false) {
  void* p = nullptr;
  uint32_t code = runtime::catch_region(THROW_VIRTUAL_LEVEL, [&] {
    p = frame || length % platform::HUGE_PAGE == 0 ? platform::allocate_huge_pages(length)
                                                   : platform::allocate_virtual(length);
  });
  if (code >= THROW_NO_RELEASE && code <= THROW_VIRTUAL_LEVEL) {
    runtime::rt.thrown = 0;
    no_memory();
  }
  root.total += length;
  return p;
}

void free_virtual(void* address, size_t length) {
  uint32_t code = runtime::catch_region(THROW_VIRTUAL_LEVEL, [&] {
    platform::free_virtual(address, length);
  });
  if (code >= THROW_NO_RELEASE && code <= THROW_VIRTUAL_LEVEL) {
    runtime::rt.thrown = 0;
    fire(err::INTERNAL, err::internal::WRONG_MEM);
  }
  root.total -= length;
}

constexpr uintptr_t free_link(node_t next) { return (uintptr_t(next) << 1) | 1; }
constexpr node_t link_target(uintptr_t entry) { return node_t(entry >> 1); }

node_frame* frame_of(node_t node) { return frames_by_index[(node - 1) / NODES_PER_FRAME]; }

void unlink_node_frame(node_frame* f) {
  if (f->prev) f->prev->next = f->next; else root.first_node_frame = f->next;
  if (f->next) f->next->prev = f->prev; else root.last_node_frame = f->prev;
  if (root.active_node_frame == f) root.active_node_frame = root.last_node_frame;
}

void unlink_series_frame(series_frame* f) {
  if (f->prev) f->prev->next = f->next; else root.first_series_frame = f->next;
  if (f->next) f->next->prev = f->prev; else root.last_series_frame = f->prev;
  if (root.active_series_frame == f) root.active_series_frame = root.last_series_frame;
}

void insert_series_frame(series_frame* f) {
  if (!root.first_series_frame) {
    root.first_series_frame = root.last_series_frame = root.active_series_frame = f;
    return;
  }
  if (f->start < root.first_series_frame->start) {
    f->next = root.first_series_frame;
    root.first_series_frame->prev = f;
    root.first_series_frame = f;
    return;
  }
  series_frame* after = root.first_series_frame;
  while (after->next && after->next->start < f->start) after = after->next;
  f->next = after->next;
  f->prev = after;
  if (after->next) after->next->prev = f; else root.last_series_frame = f;
  after->next = f;
}

void push_spare(series_frame* f) {
  poison(f->start, f->mapped);
  f->prev = nullptr;
  f->next = spare_frames;
  spare_frames = f;
  spare_bytes += f->mapped;
}

series_frame* pop_spare() {
  series_frame* f = spare_frames;
  spare_frames = f->next;
  spare_bytes -= f->mapped;
  f->next = f->prev = nullptr;
  return f;
}

// Moves the pages of spare frames into [at, end), whole huge pages of a new
// mapping, one frame a huge page, while spares last.
void fill_from_spares(uint8_t* at, uint8_t* end) {
  for (; at < end && spare_frames; at += platform::HUGE_PAGE) {
    series_frame* f = spare_frames;
    unpoison(f->start, f->mapped);
    if (mremap(f->start, f->mapped, f->mapped, MREMAP_MAYMOVE | MREMAP_FIXED, at) == MAP_FAILED) {
      poison(f->start, f->mapped);
      return;
    }
    unpoison(at, f->mapped);
    pop_spare();
    root.total -= f->mapped;  // the pages now count in the new mapping
    heap::free(f);
  }
}

series_frame* make_series_frame(uint64_t data_size) {
  if (spare_frames && data_size == MAX_FRAME_SIZE) {
    series_frame* f = pop_spare();
    f->heap = f->start;
    insert_series_frame(f);
    return f;
  }
  size_t length = runtime::round_up(data_size, PAGE);
  auto* f = static_cast<series_frame*>(heap::allocate_zeroed(sizeof(series_frame)));
  auto* area = static_cast<uint8_t*>(alloc_virtual(length, true));
  f->start = f->heap = area;
  f->tail = area + data_size;
  poison(area, length);
  f->size = data_size + sizeof(series_frame);
  f->mapped = length;
  insert_series_frame(f);
  return f;
}

// A big buffer's mapping: whole huge pages, so that when it grows (its pages
// moved to the start of a larger mapping) no boundary between the moved part
// and the new one splits a huge page.
size_t big_mapping(uint64_t footprint) {
  return runtime::round_up(footprint + sizeof(big_frame), platform::HUGE_PAGE);
}

series_buffer* alloc_big(uint64_t footprint) {
  size_t length = big_mapping(footprint);
  // On huge pages, like a series frame: a big buffer filled from its start
  // (a block or string grown an element at a time) takes one fault a huge
  // page rather than 512.
  auto* f = static_cast<big_frame*>(alloc_virtual(length, true));
  fill_from_spares(reinterpret_cast<uint8_t*>(f), reinterpret_cast<uint8_t*>(f) + length);
  f->next = nullptr;
  f->size = footprint;
  f->mapped = length;
  big_frame** link = &root.first_big_frame;
  while (*link) link = &(*link)->next;
  *link = f;
  return f->buffer();
}

void free_big(big_frame* f) {
  big_frame** link = &root.first_big_frame;
  while (*link && *link != f) link = &(*link)->next;
  if (*link) *link = f->next;
  // Its huge pages become spare frames.
  auto* start = reinterpret_cast<uint8_t*>(f);
  size_t length = f->mapped;
  if (stress_interval || reinterpret_cast<uintptr_t>(start) % platform::HUGE_PAGE != 0 ||
      length % platform::HUGE_PAGE != 0) {
    free_virtual(f, length);
    return;
  }
  for (size_t at = 0; at < length; at += platform::HUGE_PAGE) {
    auto* spare = static_cast<series_frame*>(heap::allocate_zeroed(sizeof(series_frame)));
    spare->start = spare->heap = start + at;
    spare->tail = spare->start + MAX_FRAME_SIZE;
    spare->size = MAX_FRAME_SIZE + sizeof(series_frame);
    spare->mapped = platform::HUGE_PAGE;
    push_spare(spare);
  }
}

// A range of `length` bytes (a multiple of HUGE_PAGE) aligned to a huge
// page, unreadable and without memory behind it until made readable, or
// nullptr. Under an address-space limit a smaller one may be all there is.
uint8_t* reserve_range(size_t length) {
  size_t span = length + platform::HUGE_PAGE;
  void* p = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto start = reinterpret_cast<uintptr_t>(p);
  uintptr_t aligned = runtime::round_up(start, platform::HUGE_PAGE);
  if (aligned > start) munmap(p, aligned - start);
  munmap(reinterpret_cast<void*>(aligned + length), start + span - (aligned + length));
  auto* base = reinterpret_cast<uint8_t*>(aligned);
  // Only advice: where huge pages are off, small ones serve.
  madvise(base, length, MADV_HUGEPAGE);
  return base;
}

// Makes the node table readable up to `end` (an address in it), reserving a
// larger range and moving the table there first when `end` lies beyond its
// reservation.
void table_room(const uint8_t* end) {
  if (end <= table_committed) return;
  if (end > table_base + table_reserved) {
    size_t used = size_t(end - table_base);
    size_t length = std::max(table_reserved * 2, runtime::round_up(used, platform::HUGE_PAGE));
    uint8_t* base = reserve_range(length);
    if (!base) no_memory();
    auto* start = reinterpret_cast<uint8_t*>(node_table);
    size_t readable = size_t(table_committed - start);
    uint8_t* moved = base + (start - table_base);
    if (readable && mremap(start, readable, readable, MREMAP_MAYMOVE | MREMAP_FIXED, moved) ==
                        MAP_FAILED) {
      munmap(base, length);
      no_memory();
    }
    munmap(table_base, table_reserved);
    node_table = reinterpret_cast<uintptr_t*>(moved);
    table_committed = moved + readable;
    table_base = base;
    table_reserved = length;
    end = moved + (end - start);
  }
  // Whole huge pages at a time: each is faulted in at once, on first use.
  auto* limit = reinterpret_cast<uint8_t*>(
      runtime::round_up(reinterpret_cast<uintptr_t>(end), platform::HUGE_PAGE));
  if (mprotect(table_committed, size_t(limit - table_committed), PROT_READ | PROT_WRITE) != 0)
    no_memory();
  table_committed = limit;
}

void reserve_node_table() {
  size_t length = TABLE_RESERVE;
  uint8_t* base = reserve_range(length);
  while (!base && length > 2 * platform::HUGE_PAGE) {
    length /= 2;
    base = reserve_range(length);
  }
  if (!base) no_memory();
  table_base = base;
  table_reserved = length;
  table_committed = base + platform::HUGE_PAGE - TABLE_PREFIX;
  node_table = reinterpret_cast<uintptr_t*>(table_committed);
}

uint64_t data_size_for(uint64_t count, uint32_t unit) {
  uint64_t size = runtime::round_up(count * unit, 16);
  if (count > MAX_SERIES_SIZE || size > MAX_SERIES_SIZE) [[unlikely]] no_memory();
  return size;
}

// The buffer after `b` in its series frame.
series_buffer* next_in_frame(series_buffer* b) {
  return reinterpret_cast<series_buffer*>(reinterpret_cast<uint8_t*>(b) + b->size +
                                          BUFFER_OVERHEAD);
}

void release_quarantine() {
  if (!quarantine) return;
  for (auto& q : *quarantine) {
    munmap(q.address, q.length);
    root.total -= q.length;
  }
  quarantine->clear();
}

void quarantine_pages(void* address, size_t length) {
  if (!quarantine) quarantine = new std::vector<quarantine_entry>;
  unpoison(address, length);
  mprotect(address, length, PROT_NONE);
  quarantine->push_back({address, length});
}

}  // namespace

void init() {
  root = {};
  root.initial_frame_size = INITIAL_FRAME_SIZE;
  root.frame_size = INITIAL_FRAME_SIZE;
  root.max_frame_size = MAX_FRAME_SIZE;
  if (!node_table) reserve_node_table();
  if (auto v = platform::get_env("KEZ_GC_STRESS")) {
    long n = std::strtol(v->c_str(), nullptr, 10);
    if (n > 0) stress_interval = uint32_t(n);
  }
  stress_countdown = stress_interval;
}

void alloc_node_frame(uint32_t count) {
  // Reuse the handle range of a released frame when there is one.
  uint32_t index = 0;
  while (index < node_table_frames && frames_by_index[index]) index++;
  if (index == node_table_frames) {
    uint32_t frames = node_table_frames ? node_table_frames * 2 : 4;
    // Handles are 32-bit.
    if (uint64_t(frames) * NODES_PER_FRAME > UINT32_MAX) {
      frames = UINT32_MAX / NODES_PER_FRAME;
      if (index >= frames) no_memory();
    }
    table_room(reinterpret_cast<uint8_t*>(node_table + 1 + uint64_t(frames) * NODES_PER_FRAME));
    frames_by_index = static_cast<node_frame**>(
        heap::resize(frames_by_index, sizeof(node_frame*) * frames));
    for (uint32_t i = node_table_frames; i < frames; i++) frames_by_index[i] = nullptr;
    node_table_frames = frames;
  }
  (void)count;  // every frame has NODES_PER_FRAME nodes: handles map to frames by division
  // The entries are written as nodes are given, not here: the pages of the
  // table that no node reaches are never touched.
  auto* f = static_cast<node_frame*>(heap::allocate_zeroed(sizeof(node_frame)));
  f->capacity = NODES_PER_FRAME;
  f->base = 1 + index * NODES_PER_FRAME;
  frames_by_index[index] = f;
  root.total += sizeof(uintptr_t) * NODES_PER_FRAME;
  f->prev = root.last_node_frame;
  if (root.last_node_frame) root.last_node_frame->next = f; else root.first_node_frame = f;
  root.last_node_frame = f;
  if (!root.active_node_frame || root.first_node_frame == f) root.active_node_frame = f;
}

namespace {

bool has_free_node(const node_frame* f) {
  return f->used < f->capacity && !f->release;
}

// A node of `f`, which has one: one given back before, else the next one
// never given (a fresh frame hands its nodes out in order). Its entry is
// written last, so that a caller's own store to it right after replaces it.
node_t take_node(node_frame* f) {
  node_t node = f->free_head;
  if (node) f->free_head = link_target(node_table[node]);
  else node = f->base + f->unused++;
  f->used++;
  node_table[node] = 0;
  return node;
}

__attribute__((noinline)) node_t alloc_node_elsewhere() {
  node_frame* f = root.first_node_frame;
  while (f && !has_free_node(f)) f = f->next;
  if (!f) {
    alloc_node_frame(NODES_PER_FRAME);
    f = root.last_node_frame;
  }
  root.active_node_frame = f;
  return take_node(f);
}

}  // namespace

node_t alloc_node() {
  node_frame* f = root.active_node_frame;
  if (f && has_free_node(f)) [[likely]] return take_node(f);
  return alloc_node_elsewhere();
}

void free_node(node_t node) {
  node_frame* f = frame_of(node);
  node_table[node] = free_link(f->free_head);
  f->free_head = node;
  f->used--;
}

void free_node_frame(node_frame* f) {
  unlink_node_frame(f);
  uint32_t index = (f->base - 1) / NODES_PER_FRAME;
  frames_by_index[index] = nullptr;
  for (uint32_t i = 0; i < f->unused; i++) node_table[f->base + i] = 0;
  root.total -= sizeof(uintptr_t) * NODES_PER_FRAME;
  heap::free(f);
}

void update_node_frames() {
  bool active_set = false;
  for (node_frame* f = root.first_node_frame; f;) {
    node_frame* next = f->next;
    if (f->used == 0 || f->release) {
      free_node_frame(f);
    } else {
      if (!active_set && f->used < f->capacity) {
        root.active_node_frame = f;
        active_set = true;
      }
      f->history = (f->history << 1) | (f->used == f->used_before ? 1 : 0);
      f->used_before = f->used;
    }
    f = next;
  }
}

series_frame* alloc_series_frame() {
  uint32_t size = root.frame_size;
  root.frame_size = root.max_frame_size;  // the first frame only is larger
  series_frame* f = make_series_frame(size);
  return f;
}

void free_series_frame(series_frame* f) {
  unlink_series_frame(f);
  unpoison(f->start, f->mapped);
  free_virtual(f->start, f->mapped);
  heap::free(f);
}

void retire_series_frame(series_frame* f) {
  // A frame of another size (the first one) would not serve the common request.
  if (stress_interval || uint64_t(f->tail - f->start) != MAX_FRAME_SIZE ||
      f->mapped != platform::HUGE_PAGE ||
      reinterpret_cast<uintptr_t>(f->start) % platform::HUGE_PAGE != 0) {
    free_series_frame(f);
    return;
  }
  unlink_series_frame(f);
  push_spare(f);
}

void trim_spare_frames(uint64_t keep) {
  while (spare_frames && spare_bytes > keep) {
    series_frame* f = spare_frames;
    spare_frames = f->next;
    spare_bytes -= f->mapped;
    unpoison(f->start, f->mapped);
    free_virtual(f->start, f->mapped);
    heap::free(f);
  }
}

series_frame* find_series_frame(uint64_t footprint) {
  for (series_frame* f = root.first_series_frame; f; f = f->next)
    if (f->heap + footprint < f->tail) return f;
  return nullptr;
}

void sweep_big_buffers(void (*release)(node_t)) {
  for (big_frame* f = root.first_big_frame; f;) {
    big_frame* next = f->next;
    series_buffer* b = f->buffer();
    if (b->flags & SERIES_MARKED) {
      b->flags &= ~SERIES_MARKED;
    } else {
      if (b->node && (b->flags & SERIES_ALLOCATED) && release) release(b->node);
      free_big(f);
    }
    f = next;
  }
}

void free_all_frames() {
  while (root.first_node_frame) free_node_frame(root.first_node_frame);
  while (root.first_series_frame) free_series_frame(root.first_series_frame);
  while (root.first_big_frame) free_big(root.first_big_frame);
  trim_spare_frames(0);
  release_quarantine();
}

namespace {

// Stress mode's part of counting an allocation: every stress_interval-th
// one first runs the stress hook, which may move every movable buffer.
__attribute__((noinline)) void count_stress() {
  // The interval may change at run time (tests set it): restart the count.
  if (stress_countdown == 0 || stress_countdown > stress_interval) stress_countdown = stress_interval;
  if (!relocating && --stress_countdown == 0) {
    stress_countdown = stress_interval;
    stress_hook();
  }
}

// Room for a buffer that the active frame cannot hold: a big frame of its
// own (for a footprint of max_frame_size or more), or another frame with
// room, found after a collection if need be, or a new frame.
__attribute__((noinline)) series_buffer* carve_elsewhere(uint64_t footprint) {
  if (footprint >= root.max_frame_size) {
    collect_if_active();
    return alloc_big(footprint);
  }
  series_frame* f = find_series_frame(footprint);
  if (!f) {
    collect_if_active();
    f = find_series_frame(footprint);
    // A frame left nearly full would only bring the next collection on.
    if (!f || uint64_t(f->tail - f->heap) < MIN_FRAME_ROOM) {
      if (footprint >= root.frame_size) root.frame_size = root.max_frame_size;
      f = alloc_series_frame();
    }
  }
  root.active_series_frame = f;
  auto* b = reinterpret_cast<series_buffer*>(f->heap);
  f->heap += footprint;
  carved += footprint;
  return b;
}

// Counts an allocation (the stress mode's countdown included).
inline void count_allocation() {
  if (stress_interval) [[unlikely]] count_stress();
  else stress_countdown = 0;  // what the stress path leaves with no interval
  allocations++;
}

// A counted buffer for `count` units, its header written (node 0).
series_buffer* carve(uint64_t count, uint32_t unit, uint32_t offset) {
  count_allocation();
  uint64_t size = data_size_for(count, unit);
  uint64_t footprint = size + BUFFER_OVERHEAD;
  uint32_t flags = unit | SERIES_ALLOCATED | SERIES_BUFFER;
  series_frame* f = root.active_series_frame;
  series_buffer* b;
  // A big buffer may fit the first frame's tail, but lives alone all the same.
  if (f && f->heap + footprint < f->tail && footprint < root.max_frame_size) {
    b = reinterpret_cast<series_buffer*>(f->heap);
    f->heap += footprint;
    carved += footprint;
  } else {
    b = carve_elsewhere(footprint);
    if (footprint >= root.max_frame_size) flags |= SERIES_BIG;
  }
  unpoison(b, footprint);
  *b = series_buffer{flags, 0, uint32_t(size), offset, offset, {0, 0, 0}};
  return b;
}

__attribute__((noinline)) node_t alloc_series_elsewhere(uint64_t count, uint32_t unit,
                                                        uint32_t offset) {
  // The node is taken after the buffer: carving may collect, and a node
  // whose buffer does not exist yet must not meet the collector.
  series_buffer* b = carve(count, unit, offset);
  node_t node = alloc_node();
  set_buffer(node, b);
  b->node = node;
  return node;
}

}  // namespace

series_buffer* alloc_buffer(uint64_t count, uint32_t unit, uint32_t offset) {
  return carve(count, unit, offset);
}

node_t alloc_series(uint64_t count, uint32_t unit, uint32_t offset) {
  // Most buffers are small, fit the active frame and find a node in the
  // active node frame, outside the stress mode: that case is done here in
  // one straight line; every other goes the general way.
  series_frame* f = root.active_series_frame;
  node_frame* nodes = root.active_node_frame;
  uint64_t footprint = ((count * unit + 15) & ~uint64_t(15)) + BUFFER_OVERHEAD;
  if (stress_interval || count > MAX_SERIES_SIZE || footprint >= root.max_frame_size || !f ||
      f->heap + footprint >= f->tail || !nodes || !has_free_node(nodes)) [[unlikely]]
    return alloc_series_elsewhere(count, unit, offset);
  stress_countdown = 0;  // as count_allocation leaves it
  allocations++;
  auto* b = reinterpret_cast<series_buffer*>(f->heap);
  f->heap += footprint;
  carved += footprint;
  unpoison(b, footprint);
  node_t node = take_node(nodes);
  set_buffer(node, b);
  *b = series_buffer{unit | SERIES_ALLOCATED | SERIES_BUFFER, node,
                     uint32_t(footprint - BUFFER_OVERHEAD), offset, offset, {0, 0, 0}};
  return node;
}

node_t alloc_cells(uint64_t count) { return alloc_series(count, 16, 0); }

node_t alloc_unset_cells(uint64_t count) {
  node_t node = alloc_cells(count);
  series_buffer* b = buffer(node);
  auto* cells = reinterpret_cast<uint32_t*>(b->data());
  for (uint32_t i = 0; i < b->size / 16; i++) {
    cells[i * 4] = 2;  // unset!
    cells[i * 4 + 1] = cells[i * 4 + 2] = cells[i * 4 + 3] = 0;
  }
  return node;
}

node_t alloc_bytes(uint64_t count) { return alloc_series(count ? count : 16, 1, 0); }

node_t alloc_codepoints(uint64_t count, uint32_t unit) {
  if (count == 0) count = 16 >> (unit >> 1);
  return alloc_series(count, unit, 0);
}

node_t alloc_bytes_filled(uint64_t count, uint8_t byte) {
  node_t node = alloc_bytes(count);
  series_buffer* b = buffer(node);
  fill(b->data(), b->end_ptr(), byte);
  return node;
}

node_t alloc_fixed_series(uint64_t count, uint32_t unit, uint32_t offset) {
  uint64_t size = data_size_for(count, unit);
  auto* b = static_cast<series_buffer*>(heap::allocate(sizeof(series_buffer) + size));
  b->flags = unit | SERIES_ALLOCATED | SERIES_FIXED | SERIES_BUFFER;
  b->size = uint32_t(size);
  b->head = b->tail = offset;
  b->spare[0] = b->spare[1] = b->spare[2] = 0;
  node_t node = alloc_node();
  set_buffer(node, b);
  b->node = node;
  return node;
}

void pin(node_t node) {
  pinned_node = node;
  pinned_data = buffer(node)->data();
}

namespace {

// Moves the pages of [from, from + length) to `to`, both a whole number of
// huge pages, aligned: in one call, or where the system moves no more than
// one mapping a call (a big buffer that grew is several), a huge page at a
// time, no mapping boundary lying inside one. False, with everything back
// in place, when the system refuses.
bool move_pages(uint8_t* from, uint8_t* to, size_t length) {
  constexpr int flags = MREMAP_MAYMOVE | MREMAP_FIXED;
  if (mremap(from, length, length, flags, to) != MAP_FAILED) return true;
  constexpr size_t step = platform::HUGE_PAGE;
  size_t done = 0;
  while (done < length && mremap(from + done, step, step, flags, to + done) != MAP_FAILED)
    done += step;
  if (done == length) return true;
  for (size_t back = 0; back < done; back += step) mremap(to + back, step, step, flags, from + back);
  return false;
}

// Grows the big buffer of `node` to `count` units by remapping its pages:
// nothing is copied, and the pages already written are not touched again,
// which is most of the cost of growing a large series one element at a
// time. The frame may move; its link in the list is rewritten. Returns
// nullptr where the general path must copy instead (a buffer whose head is
// not at the start, a smaller size, a refusal from the platform).
series_buffer* grow_big(node_t node, uint64_t count, uint32_t unit) {
  uint64_t size = data_size_for(count, unit);
  uint64_t footprint = size + BUFFER_OVERHEAD;
  if (footprint < root.max_frame_size) return nullptr;
  count_allocation();
  collect_if_active();
  series_buffer* b = buffer(node);  // either may have moved it
  if (!(b->flags & SERIES_BIG) || (b->flags & SERIES_FIXED) || b->head != 0 || size < b->size)
    return nullptr;
  big_frame* f = reinterpret_cast<big_frame*>(b) - 1;
  big_frame** link = &root.first_big_frame;
  while (*link && *link != f) link = &(*link)->next;
  if (!*link) return nullptr;
  size_t length = big_mapping(footprint);
  // The pages move to the start of a new span aligned for huge pages, so
  // that the ones already there and those still to come stay huge.
  size_t old_length = f->mapped;
  auto* target = static_cast<uint8_t*>(alloc_virtual(length, true));
  if (!move_pages(reinterpret_cast<uint8_t*>(f), target, old_length)) {
    free_virtual(target, length);
    return nullptr;
  }
  root.total -= old_length;
  fill_from_spares(target + old_length, target + length);
  f = reinterpret_cast<big_frame*>(target);
  *link = f;
  f->size = footprint;
  f->mapped = length;
  b = f->buffer();
  b->size = uint32_t(size);
  set_buffer(node, b);
  return b;
}

// Moves the series of `b` to a new buffer of `new_size` bytes (0 = double),
// copying the data from the old head when `copy` is set. The old buffer is
// given up: node 0, not allocated; the collector reclaims it.
series_buffer* reallocate(series_buffer* b, uint64_t new_size, bool copy) {
  node_t node = b->node;
  uint32_t unit = b->unit();
  if (new_size == 0) new_size = b->size ? uint64_t(b->size) * 2 : 16;
  if (new_size > MAX_SERIES_SIZE) no_memory();
  uint64_t count = (new_size + unit - 1) / unit;
  if (copy && (b->flags & SERIES_BIG) && !(b->flags & SERIES_FIXED)) {
    if (series_buffer* grown = grow_big(node, count, unit)) return grown;
    b = buffer(node);
  }
  series_buffer* fresh;
  bool fixed = b->flags & SERIES_FIXED;
  if (fixed) {
    uint64_t size = data_size_for(count, unit);
    fresh = static_cast<series_buffer*>(heap::allocate(sizeof(series_buffer) + size));
    fresh->size = uint32_t(size);
    fresh->flags = 0;
  } else {
    fresh = alloc_buffer(count, unit, 0);
  }
  b = buffer(node);  // the allocation may have moved it
  fresh->flags = (b->flags & ~SERIES_BIG) | (fresh->flags & SERIES_BIG);
  fresh->node = node;
  fresh->head = 0;
  fresh->tail = b->tail - b->head;
  if (copy) {
    uint64_t span = std::min<uint64_t>(b->size, uint64_t(b->end_ptr() - b->head_ptr()));
    span = std::min<uint64_t>(span, fresh->size);
    std::memcpy(fresh->data(), b->head_ptr(), span);
  }
  set_buffer(node, fresh);
  if (node == pinned_node) pinned_data = fresh->data();
  b->node = 0;
  b->flags &= ~SERIES_ALLOCATED;
  if (fixed) heap::free(b);
  return fresh;
}

}  // namespace

series_buffer* reallocate_series(series_buffer* b, uint64_t new_size) {
  return reallocate(b, new_size, false);
}

series_buffer* expand_series(series_buffer* b, uint64_t new_size) {
  return reallocate(b, new_size, true);
}

series_buffer* expand_series_filled(series_buffer* b, uint64_t new_size, uint8_t byte) {
  uint32_t old_size = b->size;
  series_buffer* fresh = expand_series(b, new_size);
  fill(fresh->data() + old_size, fresh->end_ptr(), byte);
  return fresh;
}

node_t copy_series(series_buffer* b) {
  node_t source = b->node;
  uint32_t size = b->size;
  node_t node = alloc_bytes(size);
  b = buffer(source);
  series_buffer* fresh = buffer(node);
  copy_flags(b, fresh);
  if (size) {
    uint64_t span = std::min<uint64_t>(size, uint64_t(b->end_ptr() - b->head_ptr()));
    std::memcpy(fresh->data(), b->head_ptr(), span);
  }
  fresh->head = 0;
  fresh->tail = b->tail - b->head;
  return node;
}

series_buffer* ensure_room(node_t node, uint64_t bytes) {
  series_buffer* b = buffer(node);
  if (uint64_t(b->tail) + bytes <= b->size) return b;
  uint64_t needed = uint64_t(b->tail - b->head) + bytes;
  uint64_t grown = bytes > b->size ? uint64_t(b->size) + 2 * bytes : uint64_t(b->size) * 2;
  if (grown < needed) grown = needed;
  if (grown < 16) grown = 16;
  return expand_series(b, grown);
}

void relocate_all() {
  relocating = true;
  release_quarantine();
  // Carve every live movable buffer into fresh frames, in frame order.
  series_frame* old_first = root.first_series_frame;
  root.first_series_frame = root.last_series_frame = root.active_series_frame = nullptr;
  series_frame* target = nullptr;
  for (series_frame* f = old_first; f; f = f->next) {
    for (auto* b = reinterpret_cast<series_buffer*>(f->start);
         reinterpret_cast<uint8_t*>(b) < f->heap; b = next_in_frame(b)) {
      if (!(b->flags & SERIES_ALLOCATED) || !b->node) continue;
      uint64_t footprint = b->size + BUFFER_OVERHEAD;
      if (!target || !(target->heap + footprint < target->tail))
        target = make_series_frame(std::max<uint64_t>(MAX_FRAME_SIZE, footprint + 16));
      auto* moved = reinterpret_cast<series_buffer*>(target->heap);
      unpoison(moved, footprint);
      std::memcpy(moved, b, footprint);
      target->heap += footprint;
      set_buffer(b->node, moved);
    }
  }
  if (!root.first_series_frame) make_series_frame(MAX_FRAME_SIZE);
  root.active_series_frame = root.last_series_frame;
  for (series_frame* f = old_first; f;) {
    series_frame* next = f->next;
    quarantine_pages(f->start, f->mapped);
    heap::free(f);
    f = next;
  }
  // Big buffers move to new mappings of their own.
  big_frame* old_big = root.first_big_frame;
  root.first_big_frame = nullptr;
  big_frame** link = &root.first_big_frame;
  for (big_frame* f = old_big; f;) {
    big_frame* next = f->next;
    series_buffer* b = f->buffer();
    if ((b->flags & SERIES_ALLOCATED) && b->node) {
      size_t length = f->mapped;
      auto* g = static_cast<big_frame*>(alloc_virtual(length));
      std::memcpy(g, f, sizeof(big_frame) + f->size);
      g->next = nullptr;
      *link = g;
      link = &g->next;
      set_buffer(b->node, g->buffer());
    }
    quarantine_pages(f, f->mapped);
    f = next;
  }
  relocating = false;
}

}  // namespace kez::memory
