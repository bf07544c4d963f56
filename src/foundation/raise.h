// Raising language errors from anywhere in the runtime.
//
// `fire` builds the error! of the catalogue (category and id numbers from
// values/error_ids.h) with up to three argument values and unwinds with
// runtime_throw{RAISE_ERROR} to the nearest frame that takes errors. It never
// returns. The error module installs the builder; before it exists (early
// start-up, unit tests of the lower layers) the category and id are only
// recorded in `last_fire`.
#pragma once
#include <cstdint>

namespace kez {

struct Cell;

[[noreturn]] void fire(int category, int id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// Builds the error value and leaves it where the catching frame finds it.
using fire_builder = void (*)(int category, int id, const Cell* arg1, const Cell* arg2,
                              const Cell* arg3);
extern fire_builder fire_hook;

// The category and id of the last error fired (tests of the lower layers).
struct fired {
  int category = -1;
  int id = -1;
};
extern fired last_fire;

}  // namespace kez
