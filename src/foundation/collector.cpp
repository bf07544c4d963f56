// The garbage collector.
//
// Invariants: outside a cycle no buffer carries SERIES_MARKED; during the
// sweep a buffer is dead when it is unmarked, or was given up (node 0 or not
// allocated); a dead buffer's node (when it has one) is freed exactly once.
#include "foundation/collector.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <vector>

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/handles.h"
#include "foundation/hashtable.h"
#include "foundation/heap.h"
#include "foundation/memory.h"
#include "foundation/slot_table.h"
#include "types/image_backend.h"
#include "values/context.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::collector {

statistics stats;
bool active = false;
bool running = false;

namespace {

// Room kept free in a successor frame before runs are moved into it.
constexpr uint64_t SUCCESSOR_ROOM = 52429;
// Least growth of the heap between two automatic collections.
constexpr uint64_t MIN_GROWTH = uint64_t(8) << 20;

std::vector<node_t>* mark_stack = nullptr;      // blocks whose cells remain to be marked
std::vector<mark_callback>* callbacks = nullptr;
std::vector<const Cell*>* roots = nullptr;
std::vector<series_buffer*>* fixed_marked = nullptr;  // fixed buffers marked this cycle
std::vector<node_t> held;  // nodes of structures under construction (see hold)

// A fixed buffer's mark is cleared from a list, not by the sweep.
__attribute__((noinline)) void note_fixed(series_buffer* b) { fixed_marked->push_back(b); }

// Marks a node's buffer; true when it was not marked yet. Kept small and
// inline: it runs for every live buffer, and the rare fixed one is noted
// out of line.
inline bool set_mark(node_t node) {
  if (!node) return false;
  series_buffer* b = memory::buffer(node);
  uint32_t flags = b->flags;
  if (flags & SERIES_MARKED) return false;
  b->flags = flags | SERIES_MARKED;
  if (flags & SERIES_FIXED) [[unlikely]] note_fixed(b);
  return true;
}

const hashtable::marker MARKER{
    [](node_t n) { return mark_series(n); },
    [](node_t n) { mark_block(n); },
};

// Marks what one cell refers to.
void mark_cell(const Cell* c) {
  uint32_t t = TYPE_OF(c);
  switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH:
      if (c->w2) mark_block(c->w2);
      break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
      if (c->w2) mark_series(c->w2);
      if (c->w3) mark_series(c->w3);
      break;
    case TYPE_BITSET: case TYPE_VECTOR: case TYPE_BINARY:
      if (c->w2) mark_series(c->w2);
      break;
    case TYPE_SYMBOL:
      if (c->w3) mark_series(c->w3);
      if (c->w2) mark_series(c->w2);
      break;
    case TYPE_CONTEXT:
      mark_table(c->w1);
      if (!(c->header & CONTEXT_ON_STACK) && c->w2) mark_block(c->w2);
      break;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE:
      if (c->w1) {
        if (c->w2 == words::self) mark_block(c->w1);
        else mark_context(c->w1);
      }
      break;
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: {
      if (c->w2) mark_block(c->w2);
      if (c->w3) mark_block(c->w3);
      uint32_t wrapped = (c->header >> OP_TYPE_SHIFT) & 0xFF;
      if (t == TYPE_OP && (wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) && c->w1)
        mark_context(c->w1);
      break;
    }
    case TYPE_FUNCTION: case TYPE_ROUTINE:
      if (c->w1) mark_context(c->w1);
      if (c->w2) mark_block(c->w2);
      if (c->w3) mark_block(c->w3);
      break;
    case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
      // w3: 0 or the on-set record, whose cells hold the handlers' specs.
      if (c->w1) mark_context(c->w1);
      if (c->w3) mark_block(c->w3);
      break;
    case TYPE_HASH: case TYPE_MAP:
      if (c->w2) mark_block(c->w2);
      mark_table(c->w3);
      break;
    case TYPE_HANDLE:
      if (int32_t(c->w3) >= 0) handles::mark(int32_t(c->w3), nullptr);
      break;
    case TYPE_IMAGE:
      // The pixels hang off the node's handle slot, which only this step
      // marks: the node alone would let the sweep free them.
      if (c->w2) {
        mark_series(c->w2);
        image_backend::mark_step(c->w2);
      }
      break;
    case TYPE_EVENT:  // made or built by the backend: 0 or a record of cells
      if (c->w2) mark_block(c->w2);
      break;
    default:
      break;
  }
}

// Types whose cells refer to nothing the collector keeps: most cells of
// code and data are skipped on this test alone.
constexpr uint64_t type_bit(uint32_t t) { return uint64_t(1) << t; }
constexpr uint64_t INERT_TYPES =
    type_bit(0) | type_bit(TYPE_DATATYPE) | type_bit(TYPE_UNSET) | type_bit(TYPE_NONE) |
    type_bit(TYPE_LOGIC) | type_bit(TYPE_CHAR) | type_bit(TYPE_INTEGER) | type_bit(TYPE_FLOAT) |
    type_bit(TYPE_TRIPLE) | type_bit(TYPE_TYPESET) | type_bit(TYPE_PAIR) |
    type_bit(TYPE_PERCENT) | type_bit(TYPE_TUPLE) | type_bit(TYPE_TIME) | type_bit(TYPE_DATE) |
    type_bit(TYPE_MONEY) | type_bit(TYPE_POINT2D) | type_bit(TYPE_POINT3D);
// Word types: each refers to its context, or to the block of a function's
// frame (`self`).
constexpr uint64_t WORD_TYPES = type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) |
                                type_bit(TYPE_LIT_WORD) | type_bit(TYPE_GET_WORD) |
                                type_bit(TYPE_REFINEMENT) | type_bit(TYPE_ISSUE);
// Text types: the text and, where set, a second series (see mark_cell).
constexpr uint64_t TEXT_TYPES = type_bit(TYPE_STRING) | type_bit(TYPE_FILE) |
                                type_bit(TYPE_URL) | type_bit(TYPE_TAG) | type_bit(TYPE_EMAIL) |
                                type_bit(TYPE_REF);

// Marks the cells of the blocks on the mark stack. Words, most of the cells
// of code, mostly repeat the context of the word before them, which is then
// marked already.
void drain() {
  while (!mark_stack->empty()) {
    node_t node = mark_stack->back();
    mark_stack->pop_back();
    series_buffer* b = memory::buffer(node);
    const Cell* c = cell_head(b);
    const Cell* end = cell_tail(b);
    node_t last_context = 0;
    for (; c < end; c++) {
      uint32_t t = TYPE_OF(c);
      if (t < 64) {
        uint64_t bit = type_bit(t);
        if (bit & INERT_TYPES) continue;
        if (bit & WORD_TYPES) {
          node_t ctx = c->w1;
          if (!ctx || ctx == last_context) continue;
          if (c->w2 == words::self) {
            mark_block(ctx);
          } else {
            mark_context(ctx);
            last_context = ctx;
          }
          continue;
        }
        if (bit & TEXT_TYPES) {
          set_mark(c->w2);
          set_mark(c->w3);
          continue;
        }
      }
      mark_cell(c);
    }
  }
}

void mark_roots() {
  for (node_t n : held) {
    if (memory::buffer(n)->unit() == sizeof(Cell)) mark_block(n);
    else mark_series(n);
  }
  for (const Cell* r : *roots) mark_value(r);
  mark_value(&context::root);
  mark_value(&symbol::table);
  mark_table(symbol::text_index);
  mark_series(stack::stack_block.w2);
  mark_series(stack::frames_block.w2);
  mark_values(stack::bottom, stack::top);
  stack::mark_frames([](node_t n) { mark_context(n); }, [](node_t n) { mark_block(n); });
  if (context::global_node) mark_context(context::global_node);
  // The block being evaluated is walked like any block: marking its buffer
  // alone would keep a later path to it from walking its cells.
  if (interpreter::current.w2 && TYPE_OF(&interpreter::current) != TYPE_UNSET)
    mark_block(interpreter::current.w2);
  mark_value(&interpreter::tracer);
  mark_value(&slot_table::table);
  drain();
  for (mark_callback cb : *callbacks) {
    if (cb) cb();
    drain();
  }
}

// Gives a dead buffer's node back.
void release(series_buffer* b) {
  if ((b->flags & SERIES_ALLOCATED) && b->node) memory::free_node(b->node);
}

bool live(const series_buffer* b) {
  return (b->flags & SERIES_MARKED) && (b->flags & SERIES_ALLOCATED) && b->node;
}

uint64_t footprint(const series_buffer* b) { return uint64_t(b->size) + BUFFER_OVERHEAD; }

series_buffer* next_buffer(series_buffer* b) {
  return reinterpret_cast<series_buffer*>(reinterpret_cast<uint8_t*>(b) + footprint(b));
}

// The sweep finds each buffer from the size written in the one before, so
// without help it waits on every header in turn; the buffers lie back to
// back, so the lines this far ahead are asked for while it goes.
constexpr uint32_t SWEEP_AHEAD = 1024;

// Slides the live runs of a frame together, or moves them to the heap of the
// next frame while it has room; frees the nodes of dead buffers. A run moved
// into the next frame keeps its marks: that frame's own compaction, which
// comes later, clears them.
void compact(memory::series_frame* f) {
  memory::series_frame* succ = f->next;
  uint8_t* dest = f->start;
  auto* b = reinterpret_cast<series_buffer*>(f->start);
  while (reinterpret_cast<uint8_t*>(b) < f->heap) {
    __builtin_prefetch(reinterpret_cast<uint8_t*>(b) + SWEEP_AHEAD);
    if (!live(b)) {
      release(b);
      b = next_buffer(b);
      continue;
    }
    auto* run = reinterpret_cast<uint8_t*>(b);
    uint64_t length = 0;
    while (reinterpret_cast<uint8_t*>(b) < f->heap && live(b)) {
      __builtin_prefetch(reinterpret_cast<uint8_t*>(b) + SWEEP_AHEAD);
      length += footprint(b);
      b = next_buffer(b);
    }
    bool to_successor = succ && uint64_t(succ->tail - succ->heap) >= SUCCESSOR_ROOM &&
                        succ->heap + length < succ->tail;
    uint8_t* target = to_successor ? succ->heap : dest;
    if (to_successor) {
      memory::unpoison(target, length);
      succ->heap += length;
    } else {
      dest += length;
    }
    if (target != run) std::memmove(target, run, length);
    for (uint8_t* p = target; p < target + length;) {
      auto* moved = reinterpret_cast<series_buffer*>(p);
      if (!to_successor) moved->flags &= ~SERIES_MARKED;
      memory::set_buffer(moved->node, moved);
      p += footprint(moved);
    }
  }
  memory::poison(dest, uint64_t(f->heap - dest));
  f->heap = dest;
}

void compact_frames() {
  for (memory::series_frame* f = memory::root.first_series_frame; f;) {
    memory::series_frame* next = f->next;
    compact(f);
    if (f->heap == f->start && f != memory::root.first_series_frame)
      memory::retire_series_frame(f);
    f = next;
  }
}

// Stress mode: free the dead, then copy every live buffer to fresh frames.
void sweep_and_relocate() {
  for (memory::series_frame* f = memory::root.first_series_frame; f; f = f->next) {
    for (auto* b = reinterpret_cast<series_buffer*>(f->start);
         reinterpret_cast<uint8_t*>(b) < f->heap; b = next_buffer(b)) {
      if (live(b)) {
        b->flags &= ~SERIES_MARKED;
      } else {
        release(b);
        b->node = 0;
        b->flags &= ~SERIES_ALLOCATED;
      }
    }
  }
  memory::relocate_all();
}

void clear_fixed_marks() {
  for (series_buffer* b : *fixed_marked) b->flags &= ~SERIES_MARKED;
  fixed_marked->clear();
}

bool stress_cycle = false;

// Stress mode: while collections are allowed, a full one that also moves
// every live buffer; before that (start-up), the moves alone.
void stress_collect() {
  if (!active || running) {
    memory::relocate_all();
    return;
  }
  stress_cycle = true;
  do_cycle();
  stress_cycle = false;
}

}  // namespace

bool mark_series(node_t node) { return set_mark(node); }

void mark_block(node_t node) {
  if (set_mark(node)) mark_stack->push_back(node);
}

void mark_context(node_t node) {
  if (!set_mark(node)) return;
  // The context's node holds the record and the owner value.
  mark_stack->push_back(node);
}

void mark_table(node_t table) {
  if (table) hashtable::mark(table, MARKER);
}

void mark_values(const Cell* first, const Cell* end) {
  for (const Cell* c = first; c < end; c++) mark_cell(c);
}

void register_callback(mark_callback cb) { callbacks->push_back(cb); }

void unregister_callback(mark_callback cb) {
  for (auto& entry : *callbacks)
    if (entry == cb) {
      entry = nullptr;
      return;
    }
}

void add_root(const Cell* cell) { roots->push_back(cell); }

hold::hold() : level_(held.size()) {}
hold::~hold() { held.resize(level_); }
node_t hold::add(node_t node) {
  held.push_back(node);
  return node;
}

void init() {
  stats = {};
  mark_stack = new std::vector<node_t>;
  mark_stack->reserve(1024);
  callbacks = new std::vector<mark_callback>;
  roots = new std::vector<const Cell*>;
  fixed_marked = new std::vector<series_buffer*>;
  memory::collect_if_active = collect_if_active;
  if (memory::stress_interval) memory::stress_hook = stress_collect;
}

namespace {

// Bytes of the series frames and big buffers in use, as mapped.
uint64_t mapped_bytes() {
  uint64_t total = 0;
  for (auto* f = memory::root.first_series_frame; f; f = f->next) total += f->mapped;
  for (auto* f = memory::root.first_big_frame; f; f = f->next) total += f->mapped;
  return total;
}

// Sizes of the heap before the last automatic collections.
constexpr int PEAK_WINDOW = 4;
uint64_t recent_peaks[PEAK_WINDOW] = {};
int next_peak = 0;

// One full collection, then the spare frames are trimmed. Kept: as many as
// the heap may grow before the next automatic collection (as much as is
// live), and, after an automatic one, enough to bring the heap back to the
// largest size it had before the last few: a program that builds and drops
// large structures in turn refills the pages it had rather than fresh ones.
// An explicit collection gives the rest back at once.
void cycle(bool automatic) {
  if (running) return;
  running = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  mark_roots();
  handles::sweep();
  if (automatic) {
    recent_peaks[next_peak] = mapped_bytes();
    next_peak = (next_peak + 1) % PEAK_WINDOW;
  }
  if (stress_cycle) {
    sweep_and_relocate();
  } else {
    compact_frames();
  }
  memory::sweep_big_buffers([](node_t n) { memory::free_node(n); });
  memory::update_node_frames();
  uint64_t keep = std::max(MIN_GROWTH, uint64_t(memory_in_use()));
  if (automatic) {
    uint64_t peak = *std::max_element(recent_peaks, recent_peaks + PEAK_WINDOW);
    uint64_t after = mapped_bytes();
    if (peak > after) keep = std::max(keep, peak - after);
  }
  memory::trim_spare_frames(keep);
  clear_fixed_marks();
  stats.cycles++;
  running = false;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

}  // namespace

void do_cycle() { cycle(false); }

// Automatic collections run when the frames are full, but only once the
// heap has grown by as much as was live after the previous collection (at
// least MIN_GROWTH): collecting at every new frame would make a growing heap
// cost quadratic time.
void collect_if_active() {
  static uint64_t carved_at_last = 0;
  static uint64_t live_after_last = 0;
  if (!active) return;
  uint64_t grown = memory::carved - carved_at_last;
  if (grown < std::max(MIN_GROWTH, live_after_last)) return;
  cycle(true);
  carved_at_last = memory::carved;
  live_after_last = uint64_t(memory_in_use());
}

double memory_in_use() {
  double total = 0;
  for (auto* f = memory::root.first_node_frame; f; f = f->next) total += double(f->used) * 4;
  for (auto* f = memory::root.first_series_frame; f; f = f->next)
    total += double(f->heap - f->start);
  for (auto* f = memory::root.first_big_frame; f; f = f->next) total += double(f->size);
  return total;
}

}  // namespace kez::collector
