// Adler-32, as zlib defines it.
//
// Both sums are kept in 32-bit unsigned words and reduced modulo 65,521
// once a chunk: 5,552 bytes is the longest run after which `b` cannot pass
// 2^32 even when every byte is 255, so no reduction is ever late.
#include "services/checksums.h"

namespace kez::crypto {

namespace {

constexpr uint32_t BASE = 65521;
constexpr uint64_t CHUNK = 5552;

}  // namespace

uint32_t adler32(const uint8_t* data, uint64_t length, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (length > 0) {
    uint64_t n = length < CHUNK ? length : CHUNK;
    length -= n;
    while (n >= 8) {
      a += data[0]; b += a;
      a += data[1]; b += a;
      a += data[2]; b += a;
      a += data[3]; b += a;
      a += data[4]; b += a;
      a += data[5]; b += a;
      a += data[6]; b += a;
      a += data[7]; b += a;
      data += 8;
      n -= 8;
    }
    while (n--) {
      a += *data++;
      b += a;
    }
    a %= BASE;
    b %= BASE;
  }
  return b << 16 | a;
}

}  // namespace kez::crypto
