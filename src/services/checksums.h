// The integer checksums: CRC-32, Adler-32 and the 16-bit tcp sum.
//
// Each is a pure function of its bytes, safe on any length up to what a
// series can hold (lengths are 64-bit), and gives exactly the value the
// common tools give: the reflected CRC-32 of zlib and gzip, zlib's Adler-32.
// The tcp sum is the exception: an odd trailing byte is added as the low
// byte of a word rather than the high one, so it differs from the usual
// internet checksum for odd lengths, and stored values rely on that.
#pragma once
#include <cstdint>

namespace kez::crypto {

// The CRC-32 of zlib and gzip; `crc` continues a running value (0 to start).
uint32_t crc32(const uint8_t* data, uint64_t length, uint32_t crc = 0);
// zlib's Adler-32; `adler` continues a running value (1 to start).
uint32_t adler32(const uint8_t* data, uint64_t length, uint32_t adler = 1);
// The 16-bit one's-complement sum of big-endian words.
uint32_t tcp_checksum(const uint8_t* data, uint64_t length);

}  // namespace kez::crypto
