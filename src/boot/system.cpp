// Access to the `system` object.
#include "boot/system.h"

#include <array>

#include "values/context.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::system {

const Cell* field(std::initializer_list<const char*> path) {
  // Making a name can allocate the first time it is seen, and allocation may
  // move context values: make every name before holding any value pointer.
  std::array<uint32_t, 8> syms{};
  size_t n = 0;
  for (const char* name : path) {
    if (n == syms.size()) return nullptr;
    syms[n++] = symbol::make(name);
  }
  uint32_t root = symbol::make("system");
  const Cell* v = context::get_global_value(root);
  for (size_t k = 0; k < n; k++) {
    if (!v || TYPE_OF(v) != TYPE_OBJECT) return nullptr;
    Cell w = word::make(TYPE_WORD, 0, syms[k], 0);
    int32_t i = object::find_word(v, &w);
    if (i < 0) return nullptr;
    v = context::values(v->w1) + i;
  }
  return v;
}

}  // namespace kez::system
