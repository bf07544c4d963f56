// TIFF through libtiff, with client procedures over memory.
//
// libtiff reports errors by return codes and through handlers, which are
// given per file here and only swallow the message: no jump crosses these
// frames and nothing reaches stderr. Reading takes the first directory:
// 8-bit RGB and grey strips (with an unassociated or no alpha sample) are
// read as their samples are; every other layout goes through the library's
// RGBA reader, whose premultiplied alpha is undone. Writing gives 8-bit
// RGBA with an unassociated alpha sample, LZW-compressed, in this
// machine's byte order. The library is opened on first use rather than
// linked (see foundation/library.h): it brings a dozen codec libraries of
// its own; without it, TIFF files are not supported on the system.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "foundation/library.h"
#include "types/image_codecs.h"

namespace kez::image_codecs {

namespace {

#define TIFF_FUNCTIONS(X)                                                                     \
  X(TIFFOpenOptionsAlloc) X(TIFFOpenOptionsFree) X(TIFFOpenOptionsSetErrorHandlerExtR)         \
  X(TIFFOpenOptionsSetWarningHandlerExtR) X(TIFFOpenOptionsSetMaxSingleMemAlloc)               \
  X(TIFFClientOpenExt) X(TIFFClose) X(TIFFFlush) X(TIFFGetField) X(TIFFGetFieldDefaulted)       \
  X(TIFFSetField) X(TIFFIsTiled) X(TIFFScanlineSize) X(TIFFReadScanline) X(TIFFWriteScanline)  \
  X(TIFFReadRGBAImageOriented) X(TIFFDefaultStripSize)
struct tiff_api {
  TIFF_FUNCTIONS(KEZ_LIBRARY_MEMBER)
};

const tiff_api* open_tiff() {
  static tiff_api api;
  void* lib = library::open("libtiff.so.6");
  bool found = lib TIFF_FUNCTIONS(KEZ_LIBRARY_BIND);
  return found ? &api : nullptr;
}

// The table, or null when the library cannot be used.
const tiff_api* lib_tiff() {
  static const tiff_api* api = open_tiff();
  return api;
}

// The table, once tiff_decode or tiff_encode found it.
const tiff_api& tiff() { return *lib_tiff(); }

// The largest single allocation a crafted file may ask libtiff for.
constexpr tmsize_t MAX_LIBRARY_ALLOC = tmsize_t(256) << 20;

struct mem_file {
  uint8_t* data;
  size_t size;
  size_t capacity;
  size_t pos;
};

tmsize_t read_proc(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<mem_file*>(h);
  if (n < 0 || f->pos >= f->size) return 0;
  size_t k = std::min(size_t(n), f->size - f->pos);
  std::memcpy(buf, f->data + f->pos, k);
  f->pos += k;
  return tmsize_t(k);
}

tmsize_t write_proc(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<mem_file*>(h);
  if (n < 0) return -1;
  size_t end = f->pos + size_t(n);
  if (end > f->capacity) {
    size_t grown = std::max<size_t>(f->capacity * 2, std::max<size_t>(end, 4096));
    void* p = std::realloc(f->data, grown);
    if (!p) return -1;
    f->data = static_cast<uint8_t*>(p);
    f->capacity = grown;
  }
  if (f->pos > f->size) std::memset(f->data + f->size, 0, f->pos - f->size);
  std::memcpy(f->data + f->pos, buf, size_t(n));
  f->pos = end;
  f->size = std::max(f->size, end);
  return n;
}

toff_t seek_proc(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<mem_file*>(h);
  uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : 0;
  uint64_t to = base + offset;
  if (to > (uint64_t(1) << 40)) return toff_t(-1);
  f->pos = size_t(to);
  return to;
}

int close_proc(thandle_t) { return 0; }
toff_t size_proc(thandle_t h) { return static_cast<mem_file*>(h)->size; }
int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open(mem_file* f, const char* mode) {
  TIFFOpenOptions* options = tiff().TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  tiff().TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
  tiff().TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
  tiff().TIFFOpenOptionsSetMaxSingleMemAlloc(options, MAX_LIBRARY_ALLOC);
  TIFF* tif = tiff().TIFFClientOpenExt("memory", mode, f, read_proc, write_proc, seek_proc, close_proc,
                                size_proc, map_proc, unmap_proc, options);
  tiff().TIFFOpenOptionsFree(options);
  return tif;
}

// 8-bit contiguous strips of RGB or grey, with at most an unassociated
// alpha sample: read sample by sample, exactly as stored.
bool plain_layout(TIFF* tif, uint16_t& channels, bool& alpha) {
  uint16_t photometric = 0, bits = 1, spp = 1, planar = PLANARCONFIG_CONTIG;
  if (!tiff().TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (bits != 8 || planar != PLANARCONFIG_CONTIG || tiff().TIFFIsTiled(tif)) return false;
  if (photometric == PHOTOMETRIC_RGB) channels = 3;
  else if (photometric == PHOTOMETRIC_MINISBLACK) channels = 1;
  else return false;
  alpha = false;
  if (spp == channels) return true;
  if (spp != channels + 1) return false;
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  if (tiff().TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count == 1) {
    if (kinds[0] == EXTRASAMPLE_ASSOCALPHA) return false;
    alpha = kinds[0] == EXTRASAMPLE_UNASSALPHA;
  }
  return true;
}

status read_plain(TIFF* tif, decoded* out, uint16_t channels, bool alpha) {
  tmsize_t line = tiff().TIFFScanlineSize(tif);
  uint32_t step = channels + (alpha ? 1 : 0), width = out->width;
  if (line < tmsize_t(uint64_t(width) * step)) return CORRUPT;
  auto* row = static_cast<uint8_t*>(std::malloc(size_t(line)));
  if (!row) return NO_MEMORY;
  status s = OK;
  for (uint32_t y = 0; y < out->height && s == OK; y++) {
    if (tiff().TIFFReadScanline(tif, row, y, 0) < 0) {
      s = CORRUPT;
      break;
    }
    uint32_t* p = out->pixels + size_t(y) * width;
    const uint8_t* q = row;
    for (uint32_t x = 0; x < width; x++, q += step) {
      uint32_t r = q[0], g = channels == 3 ? q[1] : r, b = channels == 3 ? q[2] : r;
      uint32_t a = alpha ? q[channels] : 255;
      p[x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  std::free(row);
  return s;
}

// Any other layout through the library's reader: words A, B, G, R (red
// lowest) with alpha premultiplied, turned into straight BGRA.
status read_rgba(TIFF* tif, decoded* out) {
  if (!tiff().TIFFReadRGBAImageOriented(tif, out->width, out->height, out->pixels, ORIENTATION_TOPLEFT, 0))
    return CORRUPT;
  size_t n = size_t(out->width) * out->height;
  for (size_t i = 0; i < n; i++) {
    uint32_t v = out->pixels[i], a = v >> 24;
    uint32_t r = v & 255, g = (v >> 8) & 255, b = (v >> 16) & 255;
    if (a == 0) {
      r = g = b = 0;
    } else if (a < 255) {
      r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
      g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
      b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
    }
    out->pixels[i] = a << 24 | r << 16 | g << 8 | b;
  }
  return OK;
}

}  // namespace

status tiff_decode(const uint8_t* data, size_t size, decoded* out) {
  if (!lib_tiff()) return NO_LIBRARY;
  mem_file f{const_cast<uint8_t*>(data), size, size, 0};
  TIFF* tif = open(&f, "rm");
  if (!tif) return CORRUPT;
  uint32_t width = 0, height = 0;
  status s = CORRUPT;
  if (tiff().TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) && tiff().TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
    s = allocate(out, width, height);
  if (s == OK) {
    uint16_t channels = 0;
    bool alpha = false;
    s = plain_layout(tif, channels, alpha) ? read_plain(tif, out, channels, alpha)
                                           : read_rgba(tif, out);
  }
  tiff().TIFFClose(tif);
  if (s != OK) {
    std::free(out->pixels);
    *out = {};
  }
  return s;
}

status tiff_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out) {
  if (!lib_tiff()) return NO_LIBRARY;
  mem_file f{nullptr, 0, 0, 0};
  TIFF* tif = open(&f, "w");
  if (!tif) return NO_MEMORY;
  const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
  bool ok = tiff().TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && tiff().TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
            tiff().TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && tiff().TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) &&
            tiff().TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra) &&
            tiff().TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            tiff().TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            tiff().TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            tiff().TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
            tiff().TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, tiff().TIFFDefaultStripSize(tif, 0));
  auto* row = static_cast<uint8_t*>(std::malloc(size_t(width) * 4));
  ok = ok && row;
  for (uint32_t y = 0; ok && y < height; y++) {
    const uint32_t* p = pixels + size_t(y) * width;
    for (uint32_t x = 0; x < width; x++) {
      uint32_t v = p[x];
      row[x * 4] = uint8_t(v >> 16);
      row[x * 4 + 1] = uint8_t(v >> 8);
      row[x * 4 + 2] = uint8_t(v);
      row[x * 4 + 3] = uint8_t(v >> 24);
    }
    ok = tiff().TIFFWriteScanline(tif, row, y, 0) >= 0;
  }
  std::free(row);
  ok = ok && tiff().TIFFFlush(tif);
  tiff().TIFFClose(tif);
  if (!ok) {
    std::free(f.data);
    return CORRUPT;
  }
  out->data = f.data;
  out->size = f.size;
  return OK;
}

}  // namespace kez::image_codecs
