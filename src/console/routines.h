// The console's routines: line input for `ask` and `input`, raw standard
// input for scripts, and the console's own set-up.
#pragma once

namespace kez::console {

// Makes the routines and binds each to its global word.
void make_routines();

}  // namespace kez::console
