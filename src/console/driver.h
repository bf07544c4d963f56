// The stand-in console driver: runs a script named on the command line, or
// reads commands from standard input and prints their results the way the
// console does ("== " and the molded value, error reports followed by an
// empty line). The console written in Kez replaces it.
#pragma once

namespace kez::console {

// Runs the script or the loop; returns when the input ends.
void run_driver();

}  // namespace kez::console
