// Adler-32, as zlib defines it.
//
// Both sums are kept in 32-bit unsigned words and reduced modulo 65,521
// once a chunk: 5,552 bytes is the longest run after which `b` cannot pass
// 2^32 even when every byte is 255, so no reduction is ever late. Within a
// chunk, blocks of n bytes are summed as b += n a + sum((n - i) x[i]) and
// a += sum(x[i]): the same values at every block's end as the byte-by-byte
// recurrence. Where the processor has 256-bit integer vectors (x86-64 with
// AVX2, checked at run time) blocks of 32 bytes are summed that way in
// vector lanes; elsewhere the compiler vectorises 16-byte blocks as it can.

#include "services/checksums.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "foundation/platform.h"

namespace kez::crypto {

namespace {

constexpr uint32_t BASE = 65521;
constexpr uint64_t CHUNK = 5552;
constexpr uint32_t BLOCK = 16;

#if defined(__x86_64__)
constexpr uint64_t WIDE = 32;
constexpr uint64_t WIDE_CHUNK = 173 * WIDE;  // the largest multiple of 32 within CHUNK

__attribute__((target("avx2"))) uint64_t lane_sum(__m256i v) {
  alignas(32) uint32_t lanes[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
  uint64_t s = 0;
  for (uint32_t x : lanes) s += x;
  return s;
}

// Consumes whole 32-byte blocks, leaving fewer than 32 bytes. Per chunk:
// `ones` gathers the byte sums, `weighted` the sums of (32 - t) x[t] within
// each block, and `before` the byte sums of all earlier blocks once per
// block, so that b grows by n a + 32 before + weighted. The lanes stay far
// below 2^32 within a chunk; the sums are combined in 64 bits.
__attribute__((target("avx2"))) void wide_blocks(const uint8_t*& data, uint64_t& length, uint32_t& a,
                                                 uint32_t& b) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
                                           17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  const __m256i pairs = _mm256_set1_epi16(1);
  while (length >= WIDE) {
    uint64_t n = (length < WIDE_CHUNK ? length : WIDE_CHUNK) & ~(WIDE - 1);
    __m256i ones = zero, weighted = zero, before = zero;
    for (uint64_t i = 0; i < n; i += WIDE) {
      __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
      before = _mm256_add_epi32(before, ones);
      ones = _mm256_add_epi32(ones, _mm256_sad_epu8(v, zero));
      weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(v, weights), pairs));
    }
    uint64_t nb = b + n * a + WIDE * lane_sum(before) + lane_sum(weighted);
    a = uint32_t((a + lane_sum(ones)) % BASE);
    b = uint32_t(nb % BASE);
    data += n;
    length -= n;
  }
}

const bool HAS_AVX2 = platform::cpu_has_avx2();
#endif

}  // namespace

uint32_t adler32(const uint8_t* data, uint64_t length, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
#if defined(__x86_64__)
  if (HAS_AVX2) wide_blocks(data, length, a, b);
#endif
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
