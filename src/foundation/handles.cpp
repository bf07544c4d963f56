// Handle kinds and the slot table behind them.
//
// Invariants: every slot is on exactly one of the two chains (free, in use);
// free slots carry HANDLE_FREE and a null object.
#include "foundation/handles.h"

#include "foundation/heap.h"

namespace kez::handles {
namespace {

struct kind {
  const char* name;
  release_fn release;
};

constexpr uint32_t INITIAL_SLOTS = 1000;

kind* kinds = nullptr;
uint32_t kind_count = 0;
uint32_t kind_capacity = 0;
slot* slots = nullptr;
uint32_t slot_count = 0;
int32_t free_chain = -1;
int32_t used_chain = -1;

void chain_free(uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; i++) {
    slots[i] = {HANDLE_FREE, nullptr, i + 1 < to ? int32_t(i + 1) : -1};
  }
}

}  // namespace

void init() {
  kind_capacity = 20;
  kinds = static_cast<kind*>(heap::allocate_zeroed(sizeof(kind) * kind_capacity));
  kind_count = 0;
  slot_count = INITIAL_SLOTS;
  slots = static_cast<slot*>(heap::allocate(sizeof(slot) * slot_count));
  chain_free(0, slot_count);
  free_chain = 0;
  used_chain = -1;
}

uint32_t register_kind(const char* name, release_fn release) {
  if (kind_count == kind_capacity) {
    kind_capacity *= 2;
    kinds = static_cast<kind*>(heap::resize(kinds, sizeof(kind) * kind_capacity));
  }
  kinds[kind_count++] = {name, release};
  return kind_count;
}

int32_t store(void* object, uint32_t kind_number) {
  if (slots[free_chain].next == -1) {
    uint32_t old = slot_count;
    slot_count *= 2;
    slots = static_cast<slot*>(heap::resize(slots, sizeof(slot) * slot_count));
    chain_free(old, slot_count);
    slots[free_chain].next = int32_t(old);
  }
  int32_t index = free_chain;
  slot& s = slots[index];
  free_chain = s.next;
  s = {kind_number & 0xFF, object, used_chain};
  used_chain = index;
  return index;
}

void free_slot(int32_t index, bool release_object) {
  slot& s = slots[index];
  if (s.flags & HANDLE_FREE) return;
  if (release_object) release(s.flags, s.object);
  if (used_chain == index) {
    used_chain = s.next;
  } else {
    for (int32_t i = used_chain; i != -1; i = slots[i].next) {
      if (slots[i].next == index) {
        slots[i].next = s.next;
        break;
      }
    }
  }
  s = {HANDLE_FREE, nullptr, free_chain};
  free_chain = index;
}

int mark(int32_t index, void* object) {
  slot& s = slots[index];
  int fresh = (s.flags & HANDLE_MARKED) ? 0 : 1;
  s.flags |= HANDLE_MARKED;
  if (object) s.object = object;
  return fresh;
}

void sweep() {
  int32_t prev = -1;
  for (int32_t i = used_chain; i != -1;) {
    slot& s = slots[i];
    int32_t next = s.next;
    if (s.flags & HANDLE_MARKED) {
      s.flags &= ~HANDLE_MARKED;
      prev = i;
    } else {
      release(s.flags, s.object);
      if (prev == -1) used_chain = next; else slots[prev].next = next;
      s = {HANDLE_FREE, nullptr, free_chain};
      free_chain = i;
    }
    i = next;
  }
}

void release(uint32_t flags, void* object) {
  uint32_t k = flags & 0xFF;
  if (k >= 1 && k <= kind_count && kinds[k - 1].release) kinds[k - 1].release(object);
}

const slot& at(int32_t index) { return slots[index]; }
uint32_t capacity() { return slot_count; }
int32_t free_head() { return free_chain; }

}  // namespace kez::handles
