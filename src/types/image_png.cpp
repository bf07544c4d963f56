// PNG through libpng, over memory.
//
// libpng reports errors by a long jump to the setjmp of the function that
// called it. Each wrapper below is that function: it holds only plain
// values and raw pointers (those changed after setjmp are volatile), so the
// jump skips no destructor, and it frees what it allocated on either path.
// Reading keeps the raw samples (no gamma change) and turns every colour
// type and depth into 8-bit BGRA: palette, grey, low depths and tRNS
// expand, 16-bit samples keep their high byte, interlaced rows are merged.
#include <png.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "types/image_codecs.h"

namespace kez::image_codecs {

namespace {

// Errors jump back to the wrapper's setjmp without a word to stderr.
void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep out, size_t n) {
  if (static_cast<byte_source*>(png_get_io_ptr(png))->read(out, n) != n)
    png_error(png, "truncated");
}

void write_bytes(png_structp png, png_bytep bytes, size_t n) {
  if (!static_cast<byte_sink*>(png_get_io_ptr(png))->put(bytes, n)) png_error(png, "out of memory");
}

void flush(png_structp) {}

}  // namespace

status png_decode(const uint8_t* data, size_t size, decoded* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!png) return NO_MEMORY;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return NO_MEMORY;
  }
  byte_source src{data, size, 0};
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    std::free(rows);
    std::free(out->pixels);
    *out = {};
    png_destroy_read_struct(&png, &info, nullptr);
    return CORRUPT;
  }
  png_set_read_fn(png, &src, read_bytes);
  // Our own limit is checked below, before any pixel memory.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  status s = allocate(out, width, height);
  if (s != OK) {
    png_destroy_read_struct(&png, &info, nullptr);
    return s;
  }
  int type = png_get_color_type(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (type == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
    png_set_expand_gray_1_2_4_to_8(png);
  bool alpha = type & PNG_COLOR_MASK_ALPHA;
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    alpha = true;
  }
  png_set_strip_16(png);
  if (!(type & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "unexpected layout");
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
  if (!rows) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < height; y++)
    rows[y] = reinterpret_cast<png_bytep>(out->pixels + size_t(y) * width);
  png_read_image(png, rows);
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return OK;
}

status png_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
  if (!png) return NO_MEMORY;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return NO_MEMORY;
  }
  byte_sink dst{out, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return CORRUPT;
  }
  png_set_write_fn(png, &dst, write_bytes, flush);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
  for (uint32_t y = 0; y < height; y++)
    png_write_row(png, reinterpret_cast<png_const_bytep>(pixels + size_t(y) * width));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return OK;
}

}  // namespace kez::image_codecs
