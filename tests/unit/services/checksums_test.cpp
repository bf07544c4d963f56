// CRC-32 and Adler-32 against plain bit-by-bit and byte-by-byte references,
// over every length and alignment that switches between their fast paths
// (folding by carry-less multiplication, slicing, 16-byte blocks, chunk
// reductions), and continued from a running value.
#include <gtest/gtest.h>

#include <vector>

#include "services/checksums.h"

using namespace kez;

namespace {

uint32_t crc_reference(const uint8_t* p, size_t n, uint32_t crc = 0) {
  uint32_t c = ~crc;
  for (size_t i = 0; i < n; i++) {
    c ^= p[i];
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

uint32_t adler_reference(const uint8_t* p, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; i++) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

std::vector<uint8_t> noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1103515245u + 12345u;
    b = uint8_t(seed >> 16);
  }
  return v;
}

}  // namespace

TEST(Checksums, EveryLengthAndAlignmentMatchesTheReference) {
  std::vector<uint8_t> data = noise(12000, 1);
  for (size_t offset = 0; offset < 16; offset++) {
    for (size_t n = 0; n <= 300; n++) {
      const uint8_t* p = data.data() + offset;
      ASSERT_EQ(crypto::crc32(p, n), crc_reference(p, n)) << offset << " " << n;
      ASSERT_EQ(crypto::adler32(p, n), adler_reference(p, n)) << offset << " " << n;
    }
  }
  for (size_t n : {5551u, 5552u, 5553u, 11104u, 11999u}) {
    EXPECT_EQ(crypto::crc32(data.data(), n), crc_reference(data.data(), n)) << n;
    EXPECT_EQ(crypto::adler32(data.data(), n), adler_reference(data.data(), n)) << n;
  }
  // All bytes 255: the largest sums between reductions.
  std::vector<uint8_t> ones(100000, 0xFF);
  EXPECT_EQ(crypto::adler32(ones.data(), ones.size()), adler_reference(ones.data(), ones.size()));
  EXPECT_EQ(crypto::crc32(ones.data(), ones.size()), crc_reference(ones.data(), ones.size()));
}

TEST(Checksums, RunningValuesContinue) {
  std::vector<uint8_t> data = noise(5000, 9);
  for (size_t cut : {0u, 1u, 63u, 64u, 1000u, 4999u, 5000u}) {
    uint32_t crc = crypto::crc32(data.data(), cut);
    EXPECT_EQ(crypto::crc32(data.data() + cut, data.size() - cut, crc), crc_reference(data.data(), data.size()));
    uint32_t adler = crypto::adler32(data.data(), cut);
    EXPECT_EQ(crypto::adler32(data.data() + cut, data.size() - cut, adler),
              adler_reference(data.data(), data.size()));
  }
}
