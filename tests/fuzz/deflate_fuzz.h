// Shared body of the decompression fuzz targets: any bytes through one
// decoder, measured first and then decoded into a buffer of exactly the
// measured size, as the natives do. No input may crash, hang or read out of
// bounds (the sanitizers watch), and the two passes must agree: a decoder
// that asked for more room than its output fills would make the natives
// allocate more than the real output needs. The input is also compressed
// in the decoder's framing and must come back unchanged.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "services/deflate.h"

namespace kez::fuzz {

using service = int (*)(uint8_t*, uint64_t&, const uint8_t*, uint64_t);

inline void check(bool ok) {
  if (!ok) std::abort();
}

inline void decode_twice(service decode, service encode, const uint8_t* data, size_t size) {
  // Copy to a buffer of the exact size so that any read past it is seen.
  std::vector<uint8_t> in(data, data + size);
  uint64_t measured = 0;
  int r = decode(nullptr, measured, in.data(), in.size());
  if (r == deflate::OK || r == deflate::TOO_SMALL) {
    // A few KB of input expand at most about a thousandfold.
    check(measured <= uint64_t(size) * 1032 + 1024);
    std::vector<uint8_t> out(measured);
    uint64_t got = measured;
    int again = decode(out.data(), got, in.data(), in.size());
    check(again != deflate::TOO_SMALL);
    if (again == deflate::OK) check(got == measured);
    if (measured > 0) {
      uint64_t half = measured / 2;
      std::vector<uint8_t> small(half);
      int cut = decode(small.data(), half, in.data(), in.size());
      check(cut == deflate::TOO_SMALL && half == measured);
    }
  }
  // And the input as data: it must survive the round trip.
  uint64_t capacity = in.size() + 32;
  std::vector<uint8_t> packed(capacity);
  r = encode(packed.data(), capacity, in.data(), in.size());
  if (r == deflate::TOO_SMALL) {
    packed.resize(capacity);
    r = encode(packed.data(), capacity, in.data(), in.size());
  }
  check(r == deflate::OK);
  std::vector<uint8_t> back(in.size());
  uint64_t n = back.size();
  check(decode(back.data(), n, packed.data(), capacity) == deflate::OK && n == in.size() && back == in);
}

}  // namespace kez::fuzz
