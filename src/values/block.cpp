// Block routines.
#include "values/block.h"

#include <algorithm>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "values/symbol.h"

namespace kez::block {

Cell* rs_head(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  uint32_t n = buf->used() / sizeof(Cell);
  if (b->w1 > n) b->w1 = n;
  return cell_head(buf) + b->w1;
}

bool rs_next(Cell* b) {
  if (rs_length(b) > 0) b->w1++;
  return rs_length(b) <= 0;
}

void rs_clear(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  Cell* head = rs_head(b);
  buf->set_tail_ptr(reinterpret_cast<uint8_t*>(head));
}

void rs_truncate_at(Cell* b, uint32_t index) {
  series_buffer* buf = GET_BUFFER(b);
  buf->set_tail_ptr(reinterpret_cast<uint8_t*>(cell_head(buf) + index));
}

Cell* rs_append(Cell* b, const Cell* value) {
  Cell copy = *value;
  Cell* c = alloc_tail(b);
  *c = copy;
  return c;
}

void rs_remove_last(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  if (buf->used() >= sizeof(Cell)) buf->tail -= sizeof(Cell);
  uint32_t n = buf->used() / sizeof(Cell);
  if (b->w1 > n) b->w1 = n;
}

void append_values(Cell* b, const Cell* source) {
  Cell src = *source;
  int32_t n = rs_length(&src);
  for (int32_t i = 0; i < n; i++) {
    Cell v = cell_head(GET_BUFFER(&src))[src.w1 + uint32_t(i)];
    *alloc_tail(b) = v;
  }
}

Cell* insert_value(Cell* b, const Cell* value, bool at_start, bool advance) {
  Cell copy = *value;
  node_t node = b->w2;
  series_buffer* buf = memory::ensure_room(node, sizeof(Cell));
  uint32_t n = buf->used() / sizeof(Cell);
  uint32_t at = at_start ? 0 : std::min(b->w1, n);
  Cell* p = cell_head(buf) + at;
  std::memmove(p + 1, p, (n - at) * sizeof(Cell));
  *p = copy;
  buf->tail += sizeof(Cell);
  if (advance) b->w1++;
  return p;
}

const Cell* select_value(Cell* b, const Cell* value) {
  Cell* head = rs_head(b);
  Cell* tail = rs_tail(b);
  for (Cell* c = head; c < tail; c++) {
    if (actions::compare(c, value, COMP_FIND)) return c + 1 < tail ? c + 1 : &none_value;
  }
  return &none_value;
}

const Cell* find_word(Cell* b, const Cell* word, bool case_sensitive) {
  Cell* head = rs_head(b);
  Cell* tail = rs_tail(b);
  uint32_t sym = case_sensitive ? word->w2 : symbol::resolve(word->w2);
  for (Cell* c = head; c < tail; c++) {
    uint32_t t = TYPE_OF(c);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
    uint32_t s = case_sensitive ? c->w2 : symbol::resolve(c->w2);
    if (s == sym) return c + 1 < tail ? c + 1 : &none_value;
  }
  return &none_value;
}

Cell* make_at(Cell* cell, int32_t n) {
  *cell = make_unset();
  node_t node = memory::alloc_cells(uint64_t(n < 0 ? 1 : n));
  *cell = make_series(TYPE_BLOCK, node);
  return cell;
}

Cell* push_only(int32_t n) { return make_at(stack::push_unset(), n); }
Cell* push(const Cell* b) { return stack::push(b); }

Cell* make_in(Cell* parent, int32_t n) {
  Cell* slot = alloc_tail(parent);  // unset! until made
  node_t node = memory::alloc_cells(uint64_t(n < 0 ? 1 : n));
  slot = rs_tail(parent) - 1;       // the parent may have moved
  *slot = make_series(TYPE_BLOCK, node);
  return slot;
}

namespace {
void clone_into(Cell* target, bool deep, bool with_paths) {
  int32_t n = rs_length(target);
  for (int32_t i = 0; i < n; i++) {
    Cell* c = cell_head(GET_BUFFER(target)) + i;
    uint32_t t = TYPE_OF(c);
    bool nested = t == TYPE_BLOCK || (with_paths && (t == TYPE_PAREN || is_path_type(t)));
    if (!deep || !nested) continue;
    Cell source = *c;
    Cell* copy = clone(&source, true, with_paths);
    cell_head(GET_BUFFER(target))[i] = *copy;
    stack::pop(1);
  }
}
}  // namespace

Cell* clone(const Cell* b, bool deep, bool with_paths) {
  Cell src = *b;
  int32_t n = std::max(rs_length(&src), 0);
  Cell* result = push_only(n > 0 ? n : 1);
  series_buffer* from = GET_BUFFER(&src);
  series_buffer* to = GET_BUFFER(result);
  std::memcpy(to->data(), cell_head(from) + src.w1, size_t(n) * sizeof(Cell));
  to->tail = uint32_t(n) * sizeof(Cell);
  result->header = TYPE_OF(&src);
  if (deep) clone_into(result, deep, with_paths);
  return result;
}

}  // namespace kez::block
