// The tracked heap.
//
// Invariants: `first`/`last` are null together; every block's prev/next links
// agree with its neighbours. The header is 32 bytes so that the caller's
// bytes keep the 16-byte alignment that cell arrays need.
#include "foundation/heap.h"

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

bool on_list(block* b) {
  for (block* p = first; p; p = p->next)
    if (p == b) return true;
  return false;
}

}  // namespace

void* allocate(size_t size) {
  auto* b = static_cast<block*>(std::malloc(sizeof(block) + size));
  if (!b) out_of_memory(__builtin_return_address(0));
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
  auto* b = static_cast<block*>(std::realloc(old, sizeof(block) + size));
  if (!b) out_of_memory(__builtin_return_address(0));
  b->size = size;
  if (b->prev) b->prev->next = b; else first = b;
  if (b->next) b->next->prev = b; else last = b;
  return b + 1;
}

void free(void* address) {
  if (!address) return;
  block* b = header_of(address);
  if (!on_list(b)) return;
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
}

size_t block_count() { return count; }

size_t total_bytes() {
  size_t total = 0;
  for (block* b = first; b; b = b->next) total += b->size;
  return total;
}

}  // namespace kez::heap
