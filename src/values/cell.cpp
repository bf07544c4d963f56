// Cell helpers that allocate.
#include "values/cell.h"

namespace kez {

const Cell unset_value{TYPE_UNSET, 0, 0, 0};
const Cell none_value{TYPE_NONE, 0, 0, 0};
const Cell true_value{TYPE_LOGIC, 1, 0, 0};
const Cell false_value{TYPE_LOGIC, 0, 0, 0};

Cell* alloc_tail_cell(node_t node) {
  series_buffer* b = memory::buffer(node);
  if (b->tail + sizeof(Cell) > b->size) b = memory::expand_series(b, 0);
  auto* c = reinterpret_cast<Cell*>(b->tail_ptr());
  b->tail += sizeof(Cell);
  c->header = TYPE_UNSET;
  return c;
}

uint8_t* alloc_tail_bytes(node_t node, uint32_t n) {
  series_buffer* b = memory::ensure_room(node, n);
  uint8_t* p = b->tail_ptr();
  b->tail += n;
  return p;
}

node_t copy_string_part(node_t node, uint32_t index, uint32_t n) {
  uint32_t unit = memory::buffer(node)->unit();
  node_t fresh = memory::alloc_series(n, unit, 0);
  series_buffer* src = memory::buffer(node);
  series_buffer* dst = memory::buffer(fresh);
  memory::copy_flags(src, dst);
  std::memcpy(dst->data(), src->data() + uint64_t(index) * unit, uint64_t(n) * unit);
  dst->tail = n * unit;
  return fresh;
}

}  // namespace kez
