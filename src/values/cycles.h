// The cycle stack shared by mold, form, compare, deep copy and binding: the
// nodes of the values being walked into, so that a value met again inside
// itself is noticed. At most 999 entries are live; one more empties the
// stack and raises internal too-deep, so the next walk starts clean.
//
// A walker that can be left by an error takes a `cycles::guard`, which puts
// the stack back to its level on the way out, so that a later mold never
// prints "..." for a value that is not cyclic.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::cycles {

constexpr uint32_t CAPACITY = 1000;

extern node_t stack[CAPACITY];
extern uint32_t top;

void push(node_t node);
inline void pop() { if (top) top--; }
inline void pop_n(uint32_t n) { top = n > top ? 0 : top - n; }
inline void reset() { top = 0; }
bool find(node_t node);
// The node a value is walked by: an object's context, else its series.
inline node_t key_of(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  return (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) ? v->w1 : v->w2;
}
// True when the value is being walked; appends the marker to `out` (a string
// cell) and lowers the budget.
bool detect(const Cell* value, Cell* out, int32_t& part, bool mold);

// Restores the stack's level when it goes out of scope.
struct guard {
  uint32_t level = top;
  ~guard() { if (top > level) top = level; }
};

}  // namespace kez::cycles
