// The memory manager: nodes, series buffers and the frames they live in.
//
// A value never holds a buffer's address: it holds a node, a 32-bit handle
// into the node table whose entry is the buffer's current address. Buffers
// move (when they grow, when the collector compacts a frame, and after every
// N allocations under KEZ_GC_STRESS=N), and only the node table entry is
// rewritten. Nodes themselves never move.
//
// Rules every caller keeps:
//  - never hold a buffer address (series_buffer*, element pointer) across a
//    call that can allocate, evaluate or call back into Kez: read it again
//    through the node;
//  - a value under construction sits in a cell the collector reaches (the
//    value stack or a root slot), typed unset! until its buffer exists.
//
// Buffers of a footprint of 2 MB or more live alone in big frames; others are
// carved from series frames (2 MB, each one huge page where the system
// allows; the first one has a tail of small pages) by bumping a cursor. A
// buffer that is replaced is only flagged (node 0, not allocated); the
// collector reclaims it. Fixed series come from the tracked heap and never
// move.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef KEZ_SANITIZE
#include <sanitizer/asan_interface.h>
#endif

namespace kez {

using node_t = uint32_t;  // 0 is the null node

// Buffer flags. Bits 0-4 hold the unit (bytes per element).
enum : uint32_t {
  SERIES_UNIT_MASK = 0x1F,
  SERIES_ALLOCATED = 0x80000000,
  SERIES_BUFFER = 0x20000000,
  SERIES_MARKED = 0x08000000,
  SERIES_BIG = 0x01000000,
  SERIES_FIXED = 0x00100000,
  SERIES_OWNED = 0x00020000,      // an object owns the series
  SERIES_COMPLEMENT = 0x00080000, // bitset! complement flag
};

// Header of a series buffer; the data area follows it. `head` and `tail` are
// byte offsets from the start of the data area, so a move is a plain copy.
struct series_buffer {
  uint32_t flags;
  node_t node;       // back link; 0 once the buffer was given up
  uint32_t size;     // capacity of the data area in bytes, a multiple of 16
  uint32_t head;     // offset of the first element
  uint32_t tail;     // offset just past the last element
  uint32_t spare[3];

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  uint8_t* head_ptr() { return data() + head; }
  uint8_t* tail_ptr() { return data() + tail; }
  uint8_t* end_ptr() { return data() + size; }
  uint32_t unit() const { return flags & SERIES_UNIT_MASK; }
  uint32_t used() const { return tail - head; }  // bytes from head to tail
  void set_tail_ptr(const uint8_t* p) { tail = uint32_t(p - data()); }
  void set_head_ptr(const uint8_t* p) { head = uint32_t(p - data()); }
};
static_assert(sizeof(series_buffer) == 32, "cell data must stay 16-byte aligned");

// Bytes a buffer takes in its frame beyond its data: its header. Nothing
// follows the data area: a write past `size` lands on the next buffer's
// header, so every writer stays within `size`.
constexpr uint32_t BUFFER_OVERHEAD = sizeof(series_buffer);
// Largest data area: element counts and offsets must stay positive 32-bit.
constexpr uint64_t MAX_SERIES_SIZE = 0x7FFFFFF0;

namespace memory {

constexpr uint32_t NODES_PER_FRAME = 10000;
// A series frame is one huge page: filled densely, one fault and one
// clearing (about a quarter of a millisecond) cost far less than the 512
// small faults they replace. Start-up fills the first frame: its huge page,
// then a tail of small pages, so that a start-up a little over 2 MB faults
// in the few small pages it spills into rather than a second huge page.
constexpr uint32_t INITIAL_FRAME_SIZE = (2 << 20) + (512 << 10);  // first series frame
constexpr uint32_t MAX_FRAME_SIZE = 2 << 20;  // later frames; big-buffer limit
// A frame with less free room than this after a collection is passed over:
// carving there would only trigger the next collection sooner.
constexpr uint32_t MIN_FRAME_ROOM = 0xCCCC;

struct node_frame {
  node_frame* next;
  node_frame* prev;
  uint32_t capacity;
  node_t free_head;   // first node given back, 0 when none
  uint32_t unused;    // nodes base + unused .. base + capacity - 1 never given
  uint32_t used;
  uint32_t stamp;     // collector cycle when made
  uint32_t used_before;
  uint32_t history;   // one bit a collection: used count unchanged
  uint32_t release;   // nonzero: give no nodes, release after the cycle
  node_t base;        // first handle of the frame
};

struct series_frame {
  series_frame* next;
  series_frame* prev;
  uint64_t size;      // data area plus header, as the collector counts it
  uint8_t* heap;      // where the next buffer is carved
  uint8_t* tail;      // end of the data area
  uint8_t* start;     // start of the data area
  size_t mapped;      // length of the mapping
};

struct big_frame {
  big_frame* next;
  uint64_t size;      // footprint of the buffer
  size_t mapped;
  uint64_t pad;       // keeps the buffer after the header 16-byte aligned
  series_buffer* buffer() { return reinterpret_cast<series_buffer*>(this + 1); }
};

struct root_record {
  uint64_t total;     // bytes taken from the platform
  node_frame* first_node_frame;
  node_frame* last_node_frame;
  node_frame* active_node_frame;
  series_frame* first_series_frame;
  series_frame* active_series_frame;
  series_frame* last_series_frame;
  uint32_t initial_frame_size;
  uint32_t frame_size;  // data size of the next series frame
  uint32_t max_frame_size;
  big_frame* first_big_frame;
};
extern root_record root;

// The node table: entry n is the address of node n's buffer (a free node
// holds its free-list link, tagged in bit 0).
extern uintptr_t* node_table;

inline series_buffer* buffer(node_t node) {
  return reinterpret_cast<series_buffer*>(node_table[node]);
}
inline void set_buffer(node_t node, series_buffer* b) {
  node_table[node] = reinterpret_cast<uintptr_t>(b);
}

// The data address of one fixed series, kept where a hot reader finds it in
// one load instead of two through the node table (the global context's
// values, which every global word's read reaches). A fixed buffer moves
// only when it grows, and the growth rewrites `pinned_data`; neither the
// collector nor the stress mode moves it.
extern node_t pinned_node;
extern uint8_t* pinned_data;
// Makes `node`, a fixed series, the pinned one.
void pin(node_t node);

// Called on a full frame list (before a new frame) and before every big
// buffer; the collector installs itself here.
extern void (*collect_if_active)();
// Stress mode: every `stress_interval` allocations (0 = off) the stress hook
// runs (by default it moves every movable buffer).
extern uint32_t stress_interval;
extern void (*stress_hook)();

void init();
void alloc_node_frame(uint32_t count);
node_t alloc_node();
void free_node(node_t node);
void free_node_frame(node_frame* frame);
void update_node_frames();
series_frame* alloc_series_frame();
void free_series_frame(series_frame* frame);
// Takes an emptied frame off the list, keeping its pages for reuse.
void retire_series_frame(series_frame* frame);
// Unmaps kept frames until at most `keep` bytes of them remain.
void trim_spare_frames(uint64_t keep);
series_frame* find_series_frame(uint64_t footprint);
void sweep_big_buffers(void (*release)(node_t));
void free_all_frames();

// Allocation. Counts are elements; every function returns the node.
series_buffer* alloc_buffer(uint64_t count, uint32_t unit, uint32_t offset);
node_t alloc_series(uint64_t count, uint32_t unit, uint32_t offset);
node_t alloc_cells(uint64_t count);
node_t alloc_unset_cells(uint64_t count);
node_t alloc_bytes(uint64_t count);
node_t alloc_codepoints(uint64_t count, uint32_t unit);
node_t alloc_bytes_filled(uint64_t count, uint8_t byte);
node_t alloc_fixed_series(uint64_t count, uint32_t unit, uint32_t offset);
inline void set_flag(node_t node, uint32_t bits) { buffer(node)->flags |= bits; }

// Growth (new size in bytes; 0 = double, at least one element). These take
// the buffer and return the new one; the old one is given up.
series_buffer* reallocate_series(series_buffer* b, uint64_t new_size);
series_buffer* expand_series(series_buffer* b, uint64_t new_size);
series_buffer* expand_series_filled(series_buffer* b, uint64_t new_size, uint8_t byte);
// A new buffer holding `b`'s data from its head (a copy of the series).
node_t copy_series(series_buffer* b);
// The flags a copy of `from` takes into `to`, a new buffer: what the data
// is (unit, text width, complement), never where `from` lives (big, fixed,
// marked) nor whether an object owns it, which only the owner table grants.
inline void copy_flags(const series_buffer* from, series_buffer* to) {
  to->flags = (from->flags & ~(SERIES_OWNED | SERIES_BIG | SERIES_FIXED | SERIES_MARKED)) |
              (to->flags & SERIES_BIG) | SERIES_ALLOCATED | SERIES_BUFFER;
}

// Makes room for `bytes` more bytes after the tail (growing the buffer when
// needed) and returns the buffer to use, which may be a new one.
series_buffer* ensure_room(node_t node, uint64_t bytes);

// Moves every movable live buffer to a fresh place and poisons the old
// copies (the stress mode's default action).
void relocate_all();

// Allocation count (statistics, stress) and bytes carved from series frames
// so far (the collector's growth trigger).
extern uint64_t allocations;
extern uint64_t carved;

inline void fill(uint8_t* start, uint8_t* end, uint8_t byte) {
  if (end > start) std::memset(start, byte, size_t(end - start));
}

// The sanitizer builds tell the address checker that the unused part of
// every series frame is off limits: code that reads or writes past the last
// buffer of a frame then fails at once, the same way on every run, rather
// than meeting whatever earlier buffers left there. Elsewhere these do
// nothing.
#ifdef KEZ_SANITIZE
inline void poison(const void* start, uint64_t length) {
  __asan_poison_memory_region(start, length);
}
inline void unpoison(const void* start, uint64_t length) {
  __asan_unpoison_memory_region(start, length);
}
#else
inline void poison(const void*, uint64_t) {}
inline void unpoison(const void*, uint64_t) {}
#endif

}  // namespace memory
}  // namespace kez
