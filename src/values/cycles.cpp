// The cycle stack.
#include "values/cycles.h"

#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/string.h"

namespace kez::cycles {

node_t stack[CAPACITY];
uint32_t top = 0;

void push(node_t node) {
  stack[top++] = node;
  if (top >= CAPACITY) {
    top = 0;
    fire(err::INTERNAL, err::internal::TOO_DEEP);
  }
}

bool find(node_t node) {
  for (uint32_t i = 0; i < top; i++)
    if (stack[i] == node) return true;
  return false;
}

bool detect(const Cell* value, Cell* out, int32_t& part, bool mold) {
  if (!find(key_of(value))) return false;
  const char* marker = "...";
  if (mold) {
    switch (TYPE_OF(value)) {
      case TYPE_BLOCK:
      case TYPE_HASH: marker = "[...]"; break;
      case TYPE_PAREN: marker = "(...)"; break;
      case TYPE_MAP: marker = "#[...]"; break;
      case TYPE_OBJECT: marker = "make object! [...]"; break;
      default: break;
    }
  }
  part -= string::append_literal(out, marker);
  return true;
}

}  // namespace kez::cycles
