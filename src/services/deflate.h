// Deflate compression and decompression in three framings: raw deflate,
// zlib and gzip.
//
// Every function writes into a caller's buffer of `size` bytes (in), never
// past it, and gives back in `size` the bytes the whole output needs, so a
// caller can measure with an empty buffer and then decode into one of the
// exact size. Nothing here allocates, and nothing is sized from what the
// input claims: a gzip trailer's length is checked against the bytes
// actually produced, never trusted. Sizes are 64-bit throughout.
//
// The compressor writes one block of fixed codes with a small first-hit
// matcher; its output is fixed byte for byte by the algorithm, so stored
// compressed data and tests depend on every detail of it.
#pragma once
#include <cstdint>

namespace kez::deflate {

enum result : int {
  OK = 0,            // `size` holds the output size
  TOO_SMALL = 1,     // `size` holds the size the output needs
  BAD_DATA = 2,      // framing, header, checksum or stream error
  STORED_SHORT = 3,  // a stored block longer than the input left
  BAD_BLOCK = 4,     // block type 3
  BAD_DISTANCE = 5,  // a distance before the start of the output
};

// The longest input the compressor takes (positions are 32-bit).
constexpr uint64_t MAX_COMPRESS_INPUT = 0xFFFF0000;

// Raw deflate: OK or TOO_SMALL (BAD_DATA past MAX_COMPRESS_INPUT).
int compress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);
// Any deflate stream; `out` may be null when `size` is 0 (measuring).
int inflate(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);

// zlib: a 2-byte header, the stream and the Adler-32 of the data.
int zlib_compress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);
int zlib_uncompress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);
// gzip: a 10-byte header, the stream, the CRC-32 and the length mod 2^32.
int gzip(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);
int gunzip(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length);

// The framings by method word.
enum method : int32_t { ZLIB = 0, DEFLATE = 1, GZIP = 2 };
// Makes the method symbols.
void init_words();
// The framing a word's symbol names in any letter case, or -1.
int32_t method_of(uint32_t symbol);

}  // namespace kez::deflate
