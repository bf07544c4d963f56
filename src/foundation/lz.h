// The LZ codec: the decoder of the system's own compressed format, used by
// compressed KEZBIN payloads and by compressed boot data.
//
// The stream is an 8-byte header (block area size, uncompressed size; 32-bit
// little-endian) followed by independent blocks: a 32-bit length (1 byte to
// 1 MB) and a bit stream of literals and back-references, read least
// significant bit first. The decoder trusts nothing in the stream: it never
// reads past the length it is given, checks every size and distance before
// using it, and answers null for anything corrupt; a forged header can never
// end the process.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kez::lz_codec {

// Largest output of one block.
constexpr uint32_t MAX_BLOCK = 1 << 20;

// Decodes `length` bytes of compressed data into a new buffer (release it
// with free_buffer) and stores the byte count in `out_size` when given;
// null when the data is corrupt or the output cannot be allocated.
uint8_t* decompress(const uint8_t* data, size_t length, uint32_t* out_size);
void free_buffer(uint8_t* buffer);

}  // namespace kez::lz_codec
