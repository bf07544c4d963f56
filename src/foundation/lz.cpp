// The LZ decoder.
//
// Codes: 0 + 8 bits is a literal; 1 + length code + distance code copies
// extra + 3 bytes from d + 1 bytes back, one byte at a time (a copy may
// overlap what it produces). References never leave their block. The
// uncompressed size in the header only sizes the output: a declared size
// that the block area could not possibly produce is refused before
// allocating.
#include "foundation/lz.h"

#include <cstdlib>
#include <cstring>

namespace kez::lz_codec {

namespace {

// The densest code: a 566-byte copy in 22 bits, about 206 bytes of output
// per byte of input; a declared size beyond this ratio is forged.
constexpr uint64_t MAX_EXPANSION = 207;

uint32_t read32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct lz_stream {
  const uint8_t* input;
  size_t position;  // next byte to read
  size_t end;       // end of the block area
  uint64_t bits = 0;
  uint32_t bit_count = 0;
  bool corrupt = false;

  // The next `count` (at most 17) bits, least significant first; running out
  // of input marks the stream corrupt and answers 0.
  uint32_t get_bits(uint32_t count) {
    while (bit_count < count) {
      if (position >= end) {
        corrupt = true;
        return 0;
      }
      bits |= uint64_t(input[position++]) << bit_count;
      bit_count += 8;
    }
    uint32_t v = uint32_t(bits & ((1u << count) - 1));
    bits >>= count;
    bit_count -= count;
    return v;
  }

  uint32_t copy_length() {
    if (get_bits(1)) return get_bits(2) + 3;
    if (get_bits(1)) return get_bits(2) + 4 + 3;
    if (get_bits(1)) return get_bits(2) + 8 + 3;
    if (get_bits(1)) return get_bits(3) + 12 + 3;
    if (get_bits(1)) return get_bits(5) + 20 + 3;
    return get_bits(9) + 52 + 3;
  }

  uint32_t distance() {
    uint32_t j = get_bits(4) + 2;
    if (j > 2) return get_bits(j) + (1u << j);
    return get_bits(3);
  }
};

bool decode_block(lz_stream& s, uint8_t* out, uint32_t length) {
  uint32_t produced = 0;
  s.bits = 0;
  s.bit_count = 0;
  while (produced < length) {
    if (s.get_bits(1) == 0) {
      uint32_t byte = s.get_bits(8);
      if (s.corrupt) return false;
      out[produced++] = uint8_t(byte);
      continue;
    }
    uint32_t n = s.copy_length();
    uint32_t d = s.distance();
    if (s.corrupt || d + 1 > produced || n > length - produced) return false;
    const uint8_t* from = out + produced - d - 1;
    for (uint32_t i = 0; i < n; i++) out[produced + i] = from[i];
    produced += n;
  }
  return true;
}

}  // namespace

uint8_t* decompress(const uint8_t* data, size_t length, uint32_t* out_size) {
  if (!data || length < 8) return nullptr;
  uint64_t area = read32(data);
  uint64_t declared = read32(data + 4);
  if (area > length - 8 || declared > area * MAX_EXPANSION) return nullptr;
  uint64_t capacity = declared + 8;
  auto* out = static_cast<uint8_t*>(std::malloc(capacity));
  if (!out) return nullptr;
  lz_stream s{data, 8, 8 + area};
  uint64_t produced = 0;
  bool sound = true;
  while (sound && s.position < s.end) {
    sound = false;
    if (s.end - s.position < 4) break;
    uint32_t block = read32(data + s.position);
    s.position += 4;
    if (block < 1 || block > MAX_BLOCK || produced + block > capacity) break;
    if (!decode_block(s, out + produced, block)) break;
    produced += block;
    sound = true;
  }
  if (!sound) {
    std::free(out);
    return nullptr;
  }
  if (out_size) *out_size = uint32_t(produced);
  return out;
}

void free_buffer(uint8_t* buffer) { std::free(buffer); }

}  // namespace kez::lz_codec
