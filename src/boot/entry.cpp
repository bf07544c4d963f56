// The process entry: platform start-up, then the evaluator thread runs the
// whole system while this thread waits.
#include "boot/startup.h"
#include "foundation/platform.h"

int main(int argc, char** argv) {
  kez::platform::init_process(argc, argv);
  kez::platform::run_evaluator(kez::boot::start);
}
