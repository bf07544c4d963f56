// Handle kinds: platform objects that the collector cannot see into (the
// bitmap behind an image!) live in slots of a table, tagged with their kind.
// The collector marks the slots that live values reach; the sweep releases
// every other slot's object through its kind's callback and frees the slot.
// The table never hands out its last free slot without growing first.
#pragma once
#include <cstdint>

namespace kez::handles {

enum : uint32_t { HANDLE_FREE = 0x40000000, HANDLE_MARKED = 0x80000000 };

using release_fn = void (*)(void* object);

struct slot {
  uint32_t flags;   // kind in bits 0-7
  void* object;
  int32_t next;     // next slot in its chain, -1 ends it
};

void init();
uint32_t register_kind(const char* name, release_fn release);
int32_t store(void* object, uint32_t kind);
void free_slot(int32_t index, bool release);
int mark(int32_t index, void* object);
void sweep();
void release(uint32_t flags, void* object);

// Inspection (statistics and tests).
const slot& at(int32_t index);
uint32_t capacity();
int32_t free_head();

}  // namespace kez::handles
