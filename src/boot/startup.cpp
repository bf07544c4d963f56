// Start-up.
#include "boot/startup.h"

#include "foundation/memory.h"
#include "foundation/print.h"

namespace kez::boot {

void init_runtime() {
  hooks::init();
  memory::init();
  memory::alloc_node_frame(memory::NODES_PER_FRAME);
  memory::alloc_series_frame();
}

void start() { init_runtime(); }

}  // namespace kez::boot
