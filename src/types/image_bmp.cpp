// BMP, our own codec.
//
// Reading takes the core (12-byte) and the info headers (40 bytes and
// longer), 1, 4 and 8 bits through a palette, 16 and 32 bits with the
// default layouts or bit-field masks, 24 bits, rows bottom-up (a positive
// height) or top-down (a negative one). A channel of n mask bits becomes
// 8 bits as v * 255 / (2^n - 1). Only 32-bit images with an alpha mask carry
// alpha; everything else is opaque. Every offset is checked against the
// data before it is read: a short or inconsistent file is corrupt.
// Writing gives 32 bits with a version 5 header and bit-field masks, rows
// bottom-up, so that alpha round-trips.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "types/image_codecs.h"

namespace kez::image_codecs {

namespace {

enum : uint32_t { BI_RGB = 0, BI_BITFIELDS = 3 };
constexpr uint32_t FILE_HEADER = 14;
constexpr uint32_t V5_HEADER = 124;

inline uint32_t u16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t u32(const uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

// A mask's channel as 8 bits.
struct channel {
  uint32_t mask = 0, shift = 0, max = 0;
  explicit channel(uint32_t m = 0) : mask(m) {
    if (!m) return;
    shift = uint32_t(std::countr_zero(m));
    max = m >> shift;
  }
  uint32_t get(uint32_t v) const { return max ? uint32_t(uint64_t((v & mask) >> shift) * 255 / max) : 0; }
};

struct layout {
  uint64_t width = 0, height = 0;
  bool top_down = false;
  uint32_t bits = 0, compression = BI_RGB, colours = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // r, g, b, a
  size_t palette_at = 0, palette_entry = 4, data_at = 0;
};

bool read_header(const uint8_t* data, size_t size, layout& l) {
  if (size < FILE_HEADER + 4) return false;
  l.data_at = u32(data + 10);
  uint32_t header = u32(data + FILE_HEADER);
  const uint8_t* h = data + FILE_HEADER;
  if (header == 12) {
    if (size < FILE_HEADER + 12) return false;
    l.width = u16(h + 4);
    l.height = u16(h + 6);
    l.bits = u16(h + 10);
    l.palette_entry = 3;
  } else if (header >= 40) {
    if (size < FILE_HEADER + uint64_t(header)) return false;
    int32_t w = int32_t(u32(h + 4)), hh = int32_t(u32(h + 8));
    if (w <= 0 || hh == 0 || hh == INT32_MIN) return false;
    l.width = uint64_t(w);
    l.top_down = hh < 0;
    l.height = uint64_t(hh < 0 ? -int64_t(hh) : hh);
    l.bits = u16(h + 14);
    l.compression = u32(h + 16);
    l.colours = u32(h + 32);
    if (l.compression == BI_BITFIELDS) {
      // The masks end a longer header, or follow a 40-byte one.
      if (size < FILE_HEADER + uint64_t(header < 52 ? 52 : header)) return false;
      for (int i = 0; i < 3; i++) l.masks[i] = u32(h + 40 + 4 * i);
      if (header >= 56) l.masks[3] = u32(h + 52);
    }
  } else {
    return false;
  }
  l.palette_at = FILE_HEADER + header + (header == 40 && l.compression == BI_BITFIELDS ? 12 : 0);
  if (l.compression != BI_RGB && l.compression != BI_BITFIELDS) return false;
  switch (l.bits) {
    case 1: case 4: case 8: return l.compression == BI_RGB;
    case 24: return l.compression == BI_RGB;
    case 16:
      if (l.compression == BI_RGB) l.masks[0] = 0x7C00, l.masks[1] = 0x03E0, l.masks[2] = 0x001F;
      return true;
    case 32:
      if (l.compression == BI_RGB) {
        l.masks[0] = 0xFF0000, l.masks[1] = 0xFF00, l.masks[2] = 0xFF, l.masks[3] = 0;
      } else if (!(l.masks[0] | l.masks[1] | l.masks[2] | l.masks[3])) {
        l.masks[0] = 0xFF0000, l.masks[1] = 0xFF00, l.masks[2] = 0xFF, l.masks[3] = 0xFF000000;
      }
      return true;
    default: return false;
  }
}

// The palette as pixel words; entries missing from the file are black.
void read_palette(const uint8_t* data, size_t size, const layout& l, uint32_t* palette) {
  uint32_t count = l.colours && l.colours < (1u << l.bits) ? l.colours : 1u << l.bits;
  for (uint32_t i = 0; i < 256; i++) palette[i] = 0xFF000000;
  for (uint32_t i = 0; i < count; i++) {
    size_t at = l.palette_at + size_t(i) * l.palette_entry;
    if (at + 3 > size) break;
    palette[i] = 0xFF000000 | uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 1]) << 8 | data[at];
  }
}

}  // namespace

status bmp_decode(const uint8_t* data, size_t size, decoded* out) {
  layout l;
  if (!read_header(data, size, l)) return CORRUPT;
  uint64_t stride = (l.width * l.bits + 31) / 32 * 4;
  if (l.width > 0xFFFF || l.height > 0xFFFF) return TOO_LARGE;
  if (l.data_at > size || stride * l.height > size - l.data_at) return CORRUPT;
  status s = allocate(out, l.width, l.height);
  if (s != OK) return s;
  uint32_t palette[256];
  if (l.bits <= 8) read_palette(data, size, l, palette);
  channel r(l.masks[0]), g(l.masks[1]), b(l.masks[2]), a(l.masks[3]);
  uint32_t width = out->width;
  for (uint32_t y = 0; y < out->height; y++) {
    const uint8_t* row = data + l.data_at + stride * (l.top_down ? y : out->height - 1 - y);
    uint32_t* p = out->pixels + size_t(y) * width;
    switch (l.bits) {
      case 1: case 4: case 8: {
        uint32_t per_byte = 8 / l.bits, mask = (1u << l.bits) - 1;
        for (uint32_t x = 0; x < width; x++) {
          uint32_t byte = row[x / per_byte], slot = per_byte - 1 - x % per_byte;
          p[x] = palette[(byte >> (slot * l.bits)) & mask];
        }
        break;
      }
      case 24:
        for (uint32_t x = 0; x < width; x++, row += 3)
          p[x] = 0xFF000000 | uint32_t(row[2]) << 16 | uint32_t(row[1]) << 8 | row[0];
        break;
      default: {
        uint32_t bytes = l.bits / 8;
        for (uint32_t x = 0; x < width; x++, row += bytes) {
          uint32_t v = bytes == 2 ? u16(row) : u32(row);
          uint32_t alpha = a.mask ? a.get(v) : 255;
          p[x] = alpha << 24 | r.get(v) << 16 | g.get(v) << 8 | b.get(v);
        }
      }
    }
  }
  return OK;
}

status bmp_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out) {
  uint64_t data_size = uint64_t(width) * height * 4, offset = FILE_HEADER + V5_HEADER;
  if (offset + data_size > 0xFFFFFFFF || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return CORRUPT;
  out->size = size_t(offset + data_size);
  out->data = static_cast<uint8_t*>(std::calloc(out->size, 1));
  if (!out->data) return NO_MEMORY;
  uint8_t* d = out->data;
  auto put16 = [&](size_t at, uint32_t v) { d[at] = uint8_t(v), d[at + 1] = uint8_t(v >> 8); };
  auto put32 = [&](size_t at, uint32_t v) { put16(at, v), put16(at + 2, v >> 16); };
  d[0] = 'B', d[1] = 'M';
  put32(2, uint32_t(out->size));
  put32(10, uint32_t(offset));
  const size_t h = FILE_HEADER;
  put32(h, V5_HEADER);
  put32(h + 4, width);
  put32(h + 8, height);  // positive: rows bottom-up
  put16(h + 12, 1);      // planes
  put16(h + 14, 32);
  put32(h + 16, BI_BITFIELDS);
  put32(h + 20, uint32_t(data_size));
  put32(h + 24, 2835);  // 72 dots an inch, in dots a metre
  put32(h + 28, 2835);
  put32(h + 40, 0x00FF0000);
  put32(h + 44, 0x0000FF00);
  put32(h + 48, 0x000000FF);
  put32(h + 52, 0xFF000000);
  put32(h + 56, 0x73524742);  // colour space "sRGB"
  put32(h + 108, 4);          // intent: images
  for (uint32_t y = 0; y < height; y++) {
    uint8_t* row = d + offset + uint64_t(height - 1 - y) * width * 4;
    const uint32_t* p = pixels + size_t(y) * width;
    for (uint32_t x = 0; x < width; x++) put32(size_t(row - d) + x * 4, p[x]);
  }
  return OK;
}

}  // namespace kez::image_codecs
