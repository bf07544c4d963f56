// CRC-32 (the reflected polynomial 0xEDB88320 of zlib and gzip).
//
// Where the processor multiplies without carries (x86-64 with PCLMULQDQ,
// checked at run time), long runs are folded 64 bytes a step by carry-less
// multiplication with constants x^n mod P and reduced to 32 bits at the end
// (Barrett reduction). Elsewhere, and for the last bytes, sixteen bytes are
// folded a step through sixteen tables ("slicing"): table k gives the CRC of
// a byte followed by k zero bytes. Both give the same value for every input;
// the tables are built at compile time.
#include <array>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "foundation/byte_order.h"
#include "foundation/platform.h"
#include "services/checksums.h"

namespace kez::crypto {

namespace {

using namespace kez::byte_order;

constexpr uint32_t POLY = 0xEDB88320;
constexpr int SLICES = 16;

using tables = std::array<std::array<uint32_t, 256>, SLICES>;

constexpr tables make_tables() {
  tables t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; i++)
    for (int k = 1; k < SLICES; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr tables TABLE = make_tables();

// The four bytes of a word through the tables first + 3 down to first.
inline uint32_t fold(uint32_t w, int first) {
  return TABLE[first + 3][w & 0xFF] ^ TABLE[first + 2][(w >> 8) & 0xFF] ^
         TABLE[first + 1][(w >> 16) & 0xFF] ^ TABLE[first][w >> 24];
}

#if defined(__x86_64__)
// The folding constants, each x^n mod P bit-reflected and shifted left by
// one: k1, k2 fold 512 bits ahead (n = 4 * 128 + 32 and 4 * 128 - 32), k3, k4
// fold 128 bits (128 + 32, 128 - 32), k5 takes 64 bits to 32 (n = 64); then
// P itself and mu = x^64 / P, both reflected, for the Barrett step.
alignas(16) constexpr uint64_t K1K2[2] = {0x154442BD4, 0x1C6E41596};
alignas(16) constexpr uint64_t K3K4[2] = {0x1751997D0, 0x0CCAA009E};
alignas(16) constexpr uint64_t K5[2] = {0x163CD6124, 0};
alignas(16) constexpr uint64_t POLY_MU[2] = {0x1DB710641, 0x1F7011641};

inline __m128i load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline __m128i constant(const uint64_t* k) { return _mm_load_si128(reinterpret_cast<const __m128i*>(k)); }

// Folds `x` 128 bits ahead and adds `next`.
__attribute__((target("pclmul,sse4.1"))) inline __m128i fold_into(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)),
                       next);
}

// The running (inverted) CRC after `length` bytes: at least 64, a multiple
// of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t fold(const uint8_t* p, uint64_t length, uint32_t c) {
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(c)));
  __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
  p += 64;
  length -= 64;
  __m128i k = constant(K1K2);
  for (; length >= 64; p += 64, length -= 64) {
    x1 = fold_into(x1, k, load(p));
    x2 = fold_into(x2, k, load(p + 16));
    x3 = fold_into(x3, k, load(p + 32));
    x4 = fold_into(x4, k, load(p + 48));
  }
  k = constant(K3K4);
  x1 = fold_into(x1, k, x2);
  x1 = fold_into(x1, k, x3);
  x1 = fold_into(x1, k, x4);
  for (; length >= 16; p += 16, length -= 16) x1 = fold_into(x1, k, load(p));
  // 128 bits to 64, then to 32 with k5.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
  __m128i high = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), constant(K5), 0x00), high);
  // Barrett reduction to 32 bits.
  __m128i pm = constant(POLY_MU);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), pm, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), pm, 0x00);
  return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

const bool HAS_CLMUL = platform::cpu_has_clmul();
#endif

}  // namespace

uint32_t crc32(const uint8_t* data, uint64_t length, uint32_t crc) {
  uint32_t c = ~crc;
#if defined(__x86_64__)
  if (length >= 64 && HAS_CLMUL) {
    uint64_t n = length & ~uint64_t(15);
    c = fold(data, n, c);
    data += n;
    length -= n;
  }
#endif
  while (length >= SLICES) {
    c = fold(load_le32(data) ^ c, 12) ^ fold(load_le32(data + 4), 8) ^ fold(load_le32(data + 8), 4) ^
        fold(load_le32(data + 12), 0);
    data += SLICES;
    length -= SLICES;
  }
  while (length--) c = (c >> 8) ^ TABLE[0][(c ^ *data++) & 0xFF];
  return ~c;
}

}  // namespace kez::crypto
