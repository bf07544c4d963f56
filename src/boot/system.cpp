// Access to the `system` object.
#include "boot/system.h"

#include "values/context.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::system {

const Cell* field(std::initializer_list<const char*> path) {
  const Cell* v = context::get_global_value(symbol::make("system"));
  for (const char* name : path) {
    if (!v || TYPE_OF(v) != TYPE_OBJECT) return nullptr;
    Cell w = word::make(TYPE_WORD, 0, symbol::make(name), 0);
    int32_t i = object::find_word(v, &w);
    if (i < 0) return nullptr;
    v = context::values(v->w1) + i;
  }
  return v;
}

}  // namespace kez::system
