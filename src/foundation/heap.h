// The tracked heap: the runtime's own allocations outside the collected
// series (tables, work buffers, fixed series). Every live block is on one
// doubly linked list so that all of them can be freed when the process ends.
// Running out of memory here is fatal (runtime error 94).
#pragma once
#include <cstddef>

namespace kez::heap {

void* allocate(size_t size);
void* allocate_zeroed(size_t size);
// Null address: allocate. Size 0: free, returns null. Keeps the list place.
void* resize(void* address, size_t size);
// An address that is not a live block of this heap is ignored (found in
// constant time, through a table of the live blocks).
void free(void* address);
void free_all();
// Number of live blocks and the bytes they hold (tests and statistics).
size_t block_count();
size_t total_bytes();

}  // namespace kez::heap
