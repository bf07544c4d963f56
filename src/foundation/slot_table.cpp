// The slot table.
#include "foundation/slot_table.h"

namespace kez::slot_table {

Cell table{TYPE_UNSET, 0, 0, 0};

namespace {

constexpr uint32_t INITIAL_CAPACITY = 100;
uint32_t slots = 0;
int32_t head = -1;

void link_free(uint32_t first) {
  series_buffer* b = GET_BUFFER(&table);
  Cell* cells = cells_of(b);
  for (uint32_t i = first; i < slots; i++)
    cells[i] = make_integer(i + 1 < slots ? int32_t(i + 1) : -1);
  head = int32_t(first);
  b->tail = slots * sizeof(Cell);
}

}  // namespace

void init() {
  slots = INITIAL_CAPACITY;
  table = make_unset();
  node_t node = memory::alloc_cells(slots);
  table = make_series(TYPE_BLOCK, node);
  link_free(0);
}

uint32_t store(const Cell* value) {
  Cell copy = *value;  // the value may live in the table's own buffer
  if (head == -1) {
    uint32_t old = slots;
    slots *= 2;
    memory::expand_series(GET_BUFFER(&table), uint64_t(slots) * sizeof(Cell));
    link_free(old);
  }
  Cell* slot = cells_of(GET_BUFFER(&table)) + head;
  int32_t next = get_integer(slot);
  *slot = copy;
  uint32_t index = uint32_t(head) + 1;
  head = next;
  return index;
}

Cell* get(uint32_t index) { return cells_of(GET_BUFFER(&table)) + (index - 1); }

void free(uint32_t index) {
  if (index == 0) return;
  *get(index) = make_integer(head);
  head = int32_t(index) - 1;
}

uint32_t capacity() { return slots; }

}  // namespace kez::slot_table
