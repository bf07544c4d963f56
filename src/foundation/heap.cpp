// The tracked heap.
//
// Invariants: `first`/`last` are null together; every block's prev/next links
// agree with its neighbours. The header is 32 bytes so that the caller's
// bytes keep the 16-byte alignment that cell arrays need. The address table
// holds exactly the blocks on the list: free() asks it whether an address
// is one of them, where walking the list would cost time in the number of
// blocks on every free.
#include "foundation/heap.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "foundation/runtime.h"

namespace kez::heap {
namespace {

struct block {
  block* prev;
  block* next;
  size_t size;
  size_t unused;
};
static_assert(sizeof(block) == 32);

block* first = nullptr;
block* last = nullptr;
size_t count = 0;

[[noreturn]] __attribute__((noinline)) void out_of_memory(void* where) {
  runtime::runtime_error(94, runtime::code_offset(where));
}

block* header_of(void* address) { return static_cast<block*>(address) - 1; }

// The address table: open addressing with linear probing, 0 for a free
// slot, never more than half full so that a probe ends soon. Its memory
// comes from the C library, not from this heap, and is asked for only when
// the table grows: a table of its own small allocations would cost more
// than the blocks it tracks.
constexpr size_t MIN_SLOTS = 64;
uintptr_t* slots = nullptr;
size_t slot_mask = 0;  // slots - 1, a power of two less one

size_t home_of(uintptr_t key) {
  // Blocks are 16-byte aligned: the low bits say nothing.
  return size_t(((key >> 4) * 0x9E3779B97F4A7C15ull) >> 32) & slot_mask;
}

void place(uintptr_t key) {
  size_t i = home_of(key);
  while (slots[i]) i = (i + 1) & slot_mask;
  slots[i] = key;
}

// Makes room in the table for one more block.
void reserve_slot(void* where) {
  if (!slots || (count + 1) * 2 > slot_mask + 1) {
    size_t old_size = slots ? slot_mask + 1 : 0;
    size_t size = old_size ? old_size * 2 : MIN_SLOTS;
    auto* grown = static_cast<uintptr_t*>(std::calloc(size, sizeof(uintptr_t)));
    if (!grown) out_of_memory(where);
    uintptr_t* old = slots;
    slots = grown;
    slot_mask = size - 1;
    for (size_t i = 0; i < old_size; i++)
      if (old[i]) place(old[i]);
    std::free(old);
  }
}

// The slot that holds `b`, or nullptr.
uintptr_t* slot_of(const block* b) {
  if (!slots) return nullptr;
  auto key = reinterpret_cast<uintptr_t>(b);
  for (size_t i = home_of(key); slots[i]; i = (i + 1) & slot_mask)
    if (slots[i] == key) return slots + i;
  return nullptr;
}

// Empties a slot, moving back the entries after it that it would otherwise
// cut off from their home slot.
void untrack(uintptr_t* slot) {
  size_t hole = size_t(slot - slots);
  for (size_t i = (hole + 1) & slot_mask; slots[i]; i = (i + 1) & slot_mask) {
    size_t home = home_of(slots[i]);
    // The entry stays when its home lies cyclically in (hole, i].
    bool stays = hole < i ? home > hole && home <= i : home > hole || home <= i;
    if (stays) continue;
    slots[hole] = slots[i];
    hole = i;
  }
  slots[hole] = 0;
}

}  // namespace

void* allocate(size_t size) {
  reserve_slot(__builtin_return_address(0));
  auto* b = static_cast<block*>(std::malloc(sizeof(block) + size));
  if (!b) out_of_memory(__builtin_return_address(0));
  place(reinterpret_cast<uintptr_t>(b));
  b->prev = last;
  b->next = nullptr;
  b->size = size;
  b->unused = 0;
  if (last) last->next = b; else first = b;
  last = b;
  count++;
  return b + 1;
}

void* allocate_zeroed(size_t size) {
  void* p = allocate(size);
  std::memset(p, 0, size);
  return p;
}

void* resize(void* address, size_t size) {
  if (!address) return allocate(size);
  if (size == 0) {
    free(address);
    return nullptr;
  }
  block* old = header_of(address);
  uintptr_t* slot = slot_of(old);
  auto* b = static_cast<block*>(std::realloc(old, sizeof(block) + size));
  if (!b) out_of_memory(__builtin_return_address(0));
  if (b != old && slot) {
    untrack(slot);
    place(reinterpret_cast<uintptr_t>(b));  // the count is unchanged: there is room
  }
  b->size = size;
  if (b->prev) b->prev->next = b; else first = b;
  if (b->next) b->next->prev = b; else last = b;
  return b + 1;
}

void free(void* address) {
  if (!address) return;
  block* b = header_of(address);
  uintptr_t* slot = slot_of(b);
  if (!slot) return;
  untrack(slot);
  if (b->prev) b->prev->next = b->next; else first = b->next;
  if (b->next) b->next->prev = b->prev; else last = b->prev;
  count--;
  std::free(b);
}

void free_all() {
  for (block* b = first; b;) {
    block* next = b->next;
    std::free(b);
    b = next;
  }
  first = last = nullptr;
  count = 0;
  std::free(slots);
  slots = nullptr;
  slot_mask = 0;
}

size_t block_count() { return count; }

size_t total_bytes() {
  size_t total = 0;
  for (block* b = first; b; b = b->next) total += b->size;
  return total;
}

}  // namespace kez::heap
