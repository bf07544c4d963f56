// CRC-32 (the reflected polynomial 0xEDB88320 of zlib and gzip).
//
// Eight bytes are folded a step through eight tables ("slicing"): table k
// gives the CRC of a byte followed by k zero bytes. The tables are built at
// compile time, so there is nothing to initialise and nothing to free.
#include <array>
#include <cstring>

#include "services/checksums.h"

namespace kez::crypto {

namespace {

constexpr uint32_t POLY = 0xEDB88320;

using tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr tables make_tables() {
  tables t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ POLY : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; i++)
    for (int k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr tables TABLE = make_tables();

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t crc32(const uint8_t* data, uint64_t length, uint32_t crc) {
  uint32_t c = ~crc;
  while (length >= 8) {
    uint32_t lo = load_le32(data) ^ c, hi = load_le32(data + 4);
    c = TABLE[7][lo & 0xFF] ^ TABLE[6][(lo >> 8) & 0xFF] ^ TABLE[5][(lo >> 16) & 0xFF] ^
        TABLE[4][lo >> 24] ^ TABLE[3][hi & 0xFF] ^ TABLE[2][(hi >> 8) & 0xFF] ^
        TABLE[1][(hi >> 16) & 0xFF] ^ TABLE[0][hi >> 24];
    data += 8;
    length -= 8;
  }
  while (length--) c = (c >> 8) ^ TABLE[0][(c ^ *data++) & 0xFF];
  return ~c;
}

}  // namespace kez::crypto
