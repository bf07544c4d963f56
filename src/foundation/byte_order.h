// Fixed-order integers in byte buffers: little- and big-endian loads and
// stores that compile to single moves where the machine allows, and never
// depend on alignment or on the host's own byte order.
#pragma once
#include <cstdint>
#include <cstring>

namespace kez::byte_order {

inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) v = __builtin_bswap32(v);
  return v;
}

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) v = __builtin_bswap64(v);
  return v;
}

inline uint32_t load_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void store_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

inline void store_be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}

}  // namespace kez::byte_order
