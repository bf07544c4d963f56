// Image file codecs: format recognition by magic bytes and the dispatch to
// each codec, with the helpers they share.
#include "types/image_codecs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "types/image_backend.h"
#include "values/cell.h"

namespace kez::image_codecs {

namespace {

struct magic {
  int format;
  const char* bytes;
  size_t size;
};

// Formats are told apart by their first bytes only, never by a name.
constexpr magic MAGICS[] = {
    {IMAGE_PNG, "\x89PNG", 4},   {IMAGE_JPEG, "\xFF\xD8\xFF", 3}, {IMAGE_BMP, "BM", 2},
    {IMAGE_GIF, "GIF87a", 6},    {IMAGE_GIF, "GIF89a", 6},        {IMAGE_TIFF, "II*\0", 4},
    {IMAGE_TIFF, "MM\0*", 4},
};

}  // namespace

uint64_t pixel_limit = MAX_SERIES_SIZE / 4;

int sniff(const uint8_t* data, size_t size) {
  for (const magic& m : MAGICS)
    if (size >= m.size && std::memcmp(data, m.bytes, m.size) == 0) return m.format;
  return -1;
}

status decode(const uint8_t* data, size_t size, decoded* out) {
  *out = {};
  switch (sniff(data, size)) {
    case IMAGE_PNG: return png_decode(data, size, out);
    case IMAGE_JPEG: return jpeg_decode(data, size, out);
    case IMAGE_BMP: return bmp_decode(data, size, out);
    case IMAGE_GIF: return gif_decode(data, size, out);
    case IMAGE_TIFF: return tiff_decode(data, size, out);
    default: return NOT_IMAGE;
  }
}

status encode(int format, const uint32_t* pixels, uint32_t width, uint32_t height,
              encoded* out) {
  *out = {};
  status s = CORRUPT;
  switch (format) {
    case IMAGE_PNG: s = png_encode(pixels, width, height, out); break;
    case IMAGE_JPEG: s = jpeg_encode(pixels, width, height, out); break;
    case IMAGE_BMP: s = bmp_encode(pixels, width, height, out); break;
    case IMAGE_GIF: s = gif_encode(pixels, width, height, out); break;
    case IMAGE_TIFF: s = tiff_encode(pixels, width, height, out); break;
    default: break;
  }
  if (s != OK) {
    std::free(out->data);
    *out = {};
  }
  return s;
}

status allocate(decoded* out, uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return CORRUPT;
  if (!image_backend::size_ok(width, height) || width * height > pixel_limit) return TOO_LARGE;
  out->pixels = static_cast<uint32_t*>(image_backend::allocate_large(width * height * 4));
  if (!out->pixels) return NO_MEMORY;
  out->width = uint32_t(width);
  out->height = uint32_t(height);
  return OK;
}

size_t byte_source::read(void* to, size_t n) {
  size_t k = pos < size ? std::min(n, size - pos) : 0;
  std::memcpy(to, data + pos, k);
  pos += k;
  return k;
}

bool byte_sink::put(const void* bytes, size_t n) {
  if (out->size + n > capacity) {
    size_t grown = capacity ? capacity : 4096;
    while (grown < out->size + n) grown *= 2;
    void* p = std::realloc(out->data, grown);
    if (!p) return false;
    out->data = static_cast<uint8_t*>(p);
    capacity = grown;
  }
  std::memcpy(out->data + out->size, bytes, n);
  out->size += n;
  return true;
}

}  // namespace kez::image_codecs
