// One million small allocations: the common case is a bounds check and a
// pointer bump in the active series frame plus a node off a free list.
#include <chrono>
#include <cstdio>

#include "boot/startup.h"
#include "foundation/memory.h"

int main() {
  kez::boot::init_runtime();
  constexpr int N = 1000000;
  auto start = std::chrono::steady_clock::now();
  kez::node_t sink = 0;
  for (int i = 0; i < N; i++) sink ^= kez::memory::alloc_bytes(16);
  auto ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start);
  std::printf("alloc_bytes(16): %.1f ns per allocation (%u)\n", ns.count() / N, sink & 1);
}
