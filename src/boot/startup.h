// Start-up: the runtime's initialisation in its fixed order, then the boot
// library and the console.
#pragma once

namespace kez::boot {

// Initialises the runtime (hooks, platform, memory, datatypes, ...).
void init_runtime();
// The evaluator thread's body: initialise, run the boot library (whose last
// statement launches the console), then end the process with status 0.
void start();
// Evaluates the embedded boot library's sources, in file-name order; without
// the console's sources (the 9x group) for in-process tools that only need
// the language.
void run_boot_library(bool with_console = true);
// Binds the routines of every part (boot, console, KEZBIN, GUI) that the
// boot library's sources use, before they run.
void make_all_routines();

}  // namespace kez::boot
