// Raw arrays.
#include "foundation/array.h"

#include <cstring>

#include "values/cell.h"

namespace kez::array {

node_t make(uint32_t count, uint32_t unit) {
  node_t a = memory::alloc_bytes(uint64_t(count) * unit);
  series_buffer* b = memory::buffer(a);
  b->flags = (b->flags & ~SERIES_UNIT_MASK) | unit;
  return a;
}

uint32_t length(node_t a) {
  series_buffer* b = memory::buffer(a);
  return b->used() / b->unit();
}

void clear(node_t a) {
  series_buffer* b = memory::buffer(a);
  b->tail = b->head;
}

void cut_at(node_t a, uint32_t n) {
  series_buffer* b = memory::buffer(a);
  b->tail = b->head + (n - 1) * b->unit();
}

node_t copy(node_t a) { return memory::copy_series(memory::buffer(a)); }
uint32_t flags(node_t a) { return memory::buffer(a)->flags; }

void append_byte(node_t a, uint8_t byte) { *alloc_tail_bytes(a, 1) = byte; }
uint8_t pick_byte(node_t a, uint32_t n) { return memory::buffer(a)->head_ptr()[n - 1]; }

void append_bytes(node_t a, const void* source, uint32_t length) {
  uint8_t* p = alloc_tail_bytes(a, length);
  std::memcpy(p, source, length);
}

void append_int(node_t a, int32_t value) {
  uint8_t* p = alloc_tail_bytes(a, 4);
  std::memcpy(p, &value, 4);
}

int32_t find_int(node_t a, int32_t value) {
  series_buffer* b = memory::buffer(a);
  for (uint32_t off = 0; off + 4 <= b->used(); off += 4) {
    int32_t v;
    std::memcpy(&v, b->head_ptr() + off, 4);
    if (v == value) return int32_t(off);
  }
  return -1;
}

int32_t pick_int(node_t a, uint32_t n) {
  int32_t v;
  std::memcpy(&v, memory::buffer(a)->head_ptr() + (n - 1) * 4, 4);
  return v;
}

void insert_int(node_t a, int32_t value, uint32_t position) {
  series_buffer* b = memory::ensure_room(a, 4);
  uint8_t* at = b->head_ptr() + position * b->unit();
  std::memmove(at + 4, at, size_t(b->tail_ptr() - at));
  std::memcpy(at, &value, 4);
  b->tail += 4;
}

void poke_ptr(node_t a, uint32_t n, uint32_t h) {
  std::memcpy(memory::buffer(a)->head_ptr() + (n - 1) * 4, &h, 4);
}

void remove_at(node_t a, uint32_t offset, uint32_t length) {
  series_buffer* b = memory::buffer(a);
  uint8_t* at = b->head_ptr() + offset;
  std::memmove(at, at + length, size_t(b->tail_ptr() - at - length));
  b->tail -= length;
}

void remove_ptr(node_t a, uint32_t h) {
  int32_t off = find_ptr(a, h);
  if (off >= 0) remove_at(a, uint32_t(off), 4);
}

}  // namespace kez::array
