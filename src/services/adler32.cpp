// Adler-32, as zlib defines it.
//
// Both sums are kept in 32-bit unsigned words and reduced modulo 65,521
// once a chunk: 5,552 bytes is the longest run after which `b` cannot pass
// 2^32 even when every byte is 255, so no reduction is ever late. Within a
// chunk, blocks of 16 bytes are summed as b += 16a + sum((16 - i) x[i]) and
// a += sum(x[i]): the same values at every block's end as the byte-by-byte
// recurrence, in a form the compiler can vectorise.
#include "services/checksums.h"

namespace kez::crypto {

namespace {

constexpr uint32_t BASE = 65521;
constexpr uint64_t CHUNK = 5552;
constexpr uint32_t BLOCK = 16;

}  // namespace

uint32_t adler32(const uint8_t* data, uint64_t length, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (length > 0) {
    uint64_t n = length < CHUNK ? length : CHUNK;
    length -= n;
    for (; n >= BLOCK; n -= BLOCK, data += BLOCK) {
      uint32_t sum = 0, weighted = 0;
      for (uint32_t i = 0; i < BLOCK; i++) {
        sum += data[i];
        weighted += (BLOCK - i) * data[i];
      }
      b += BLOCK * a + weighted;
      a += sum;
    }
    for (; n > 0; n--) {
      a += *data++;
      b += a;
    }
    a %= BASE;
    b %= BASE;
  }
  return b << 16 | a;
}

}  // namespace kez::crypto
