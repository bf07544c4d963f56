// Start-up.
#include "boot/startup.h"

#include "foundation/memory.h"
#include "foundation/print.h"
#include "services/random.h"
#include "values/symbol.h"

namespace kez::boot {

void init_runtime() {
  hooks::init();
  memory::init();
  memory::alloc_node_frame(memory::NODES_PER_FRAME);
  memory::alloc_series_frame();
  random::init();  // also fixes the hash seed, before anything is hashed
  symbol::init();
}

void start() { init_runtime(); }

}  // namespace kez::boot
