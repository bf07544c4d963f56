// CRC-32 (the reflected polynomial 0xEDB88320 of zlib and gzip).
//
// Sixteen bytes are folded a step through sixteen tables ("slicing"):
// table k gives the CRC of a byte followed by k zero bytes, so the sixteen
// lookups of a step are independent of each other. The tables are built at
// compile time: nothing to initialise, nothing to free.
#include <array>
#include <cstring>

#include "foundation/byte_order.h"
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

}  // namespace

uint32_t crc32(const uint8_t* data, uint64_t length, uint32_t crc) {
  uint32_t c = ~crc;
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
