// MurmurHash3 throughput over buffers of several sizes, and the cost of
// hashing a short symbol name with ASCII lowering.
#include <chrono>
#include <cstdio>
#include <vector>

#include "foundation/hashtable.h"

int main() {
  using clock = std::chrono::steady_clock;
  kez::hashtable::hash_seed = 0x5EED1E55;
  for (size_t size : {16u, 64u, 4096u, 1u << 20}) {
    std::vector<uint8_t> data(size, 0x5A);
    size_t rounds = (size_t(256) << 20) / size;
    uint32_t sink = 0;
    auto start = clock::now();
    for (size_t i = 0; i < rounds; i++) sink ^= kez::hashtable::murmur3_seeded(data.data(), size, uint32_t(i));
    double s = std::chrono::duration<double>(clock::now() - start).count();
    std::printf("murmur3 %7zu-byte keys: %7.2f GB/s  (%.1f ns per key) [%u]\n", size,
                double(rounds * size) / s / 1e9, s * 1e9 / double(rounds), sink & 1);
  }
  const uint8_t name[] = "Append-Values";
  uint32_t sink = 0;
  constexpr size_t N = 20'000'000;
  auto start = clock::now();
  for (size_t i = 0; i < N; i++) sink ^= kez::hashtable::murmur3_lower(name, 13 - (i & 1));
  double ns = std::chrono::duration<double, std::nano>(clock::now() - start).count() / N;
  std::printf("murmur3_lower of a 13-byte name: %.1f ns [%u]\n", ns, sink & 1);
}
