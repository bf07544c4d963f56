// Raising language errors.
#include "foundation/raise.h"

#include "foundation/runtime.h"

namespace kez {

fire_builder fire_hook = nullptr;
fired last_fire;

void fire(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  last_fire = {category, id};
  if (fire_hook) fire_hook(category, id, arg1, arg2, arg3);
  runtime::throw_code(RAISE_ERROR);
}

}  // namespace kez
