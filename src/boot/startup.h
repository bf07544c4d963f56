// Start-up: the runtime's initialisation in its fixed order, then the boot
// library and the console.
#pragma once

namespace kez::boot {

// Initialises the runtime (hooks, platform, memory, datatypes, ...).
void init_runtime();
// The evaluator thread's body: initialise, run the boot library, launch.
void start();

}  // namespace kez::boot
