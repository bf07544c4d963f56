// The zlib and gzip framings around a deflate stream.
//
// What must stay true:
// - compressing always wraps: data that already looks like gzip is
//   compressed like any other, so every input survives the round trip;
// - every header field is read only within the input, and a header that
//   runs into the trailer is bad data;
// - the decompressed size is what inflating produces, measured or stored;
//   a gzip trailer's length must equal it modulo 2^32, and nothing is
//   ever sized from the trailer's claim;
// - the checksum is verified only over output actually stored, that is
//   when the buffer held all of it.
#include <initializer_list>

#include "foundation/byte_order.h"
#include "services/checksums.h"
#include "services/deflate.h"

namespace kez::deflate {

namespace {

using namespace kez::byte_order;

constexpr uint64_t ZLIB_HEADER = 2;
constexpr uint64_t ZLIB_TRAILER = 4;
constexpr uint64_t GZIP_HEADER = 10;
constexpr uint64_t GZIP_TRAILER = 8;

// gzip header flags
constexpr uint8_t FHCRC = 2;
constexpr uint8_t FEXTRA = 4;
constexpr uint8_t FNAME = 8;
constexpr uint8_t FCOMMENT = 16;
constexpr uint8_t RESERVED = 0xE0;

// Compresses between a header of `head` bytes and a trailer of `tail`
// bytes; TOO_SMALL (with the whole size) when the three do not fit.
int framed(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length, uint64_t head,
           uint64_t tail) {
  uint64_t capacity = size;
  if (capacity < head + tail) {
    size = length + head + tail;
    return BAD_DATA;
  }
  uint64_t stream = capacity - head - tail;
  int r = compress(out + head, stream, in, length);
  if (r == BAD_DATA) return r;
  size = stream + head + tail;
  return r == TOO_SMALL ? TOO_SMALL : OK;
}

}  // namespace

int zlib_compress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  int r = framed(out, size, in, length, ZLIB_HEADER, ZLIB_TRAILER);
  if (r != OK) return r;
  out[0] = 0x78;
  out[1] = 0x01;
  store_be32(out + size - ZLIB_TRAILER, crypto::adler32(in, length));
  return OK;
}

int zlib_uncompress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  if (length < ZLIB_HEADER + ZLIB_TRAILER) return BAD_DATA;
  uint32_t cmf = in[0], flg = in[1];
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf & 0x80) || (flg & 0x20))
    return BAD_DATA;
  uint64_t capacity = out ? size : 0;
  int r = inflate(out, size, in + ZLIB_HEADER, length - ZLIB_HEADER - ZLIB_TRAILER);
  if (r != OK) return r;
  if (size <= capacity && crypto::adler32(out, size) != load_be32(in + length - ZLIB_TRAILER))
    return BAD_DATA;
  return OK;
}

int gzip(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  int r = framed(out, size, in, length, GZIP_HEADER, GZIP_TRAILER);
  if (r != OK) return r;
  static constexpr uint8_t HEADER[GZIP_HEADER] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
  for (uint64_t i = 0; i < GZIP_HEADER; i++) out[i] = HEADER[i];
  store_le32(out + size - GZIP_TRAILER, crypto::crc32(in, length));
  store_le32(out + size - 4, uint32_t(length));
  return OK;
}

int gunzip(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  if (length < GZIP_HEADER + GZIP_TRAILER) return BAD_DATA;
  if (in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & RESERVED)) return BAD_DATA;
  uint8_t flags = in[3];
  const uint64_t body_end = length - GZIP_TRAILER;  // the header must end by here
  uint64_t pos = GZIP_HEADER;
  if (flags & FEXTRA) {
    if (body_end - pos < 2) return BAD_DATA;
    uint64_t extra = uint64_t(in[pos]) | uint64_t(in[pos + 1]) << 8;
    pos += 2;
    if (body_end - pos < extra) return BAD_DATA;
    pos += extra;
  }
  for (uint8_t text : {FNAME, FCOMMENT}) {
    if (!(flags & text)) continue;
    while (pos < body_end && in[pos] != 0) pos++;
    if (pos == body_end) return BAD_DATA;
    pos++;  // the NUL
  }
  if (flags & FHCRC) {
    if (body_end - pos < 2) return BAD_DATA;
    uint32_t want = uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8;
    if ((crypto::crc32(in, pos) & 0xFFFF) != want) return BAD_DATA;
    pos += 2;
  }
  uint64_t capacity = out ? size : 0;
  int r = inflate(out, size, in + pos, body_end - pos);
  if (r != OK && r != TOO_SMALL) return r;
  if (uint32_t(size) != load_le32(in + length - 4)) return BAD_DATA;
  if (r == TOO_SMALL) return r;
  if (size <= capacity && crypto::crc32(out, size) != load_le32(in + body_end)) return BAD_DATA;
  return OK;
}

}  // namespace kez::deflate
