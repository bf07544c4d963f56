// JPEG through libjpeg-turbo, over memory.
//
// The library's error exit is replaced by a long jump back to the wrapper
// that made the call; as with PNG, the wrappers hold only plain values and
// raw pointers, and free what they allocated on either path. Warnings (a
// truncated stream is finished with grey) are not errors, and nothing is
// written to stderr. Reading asks for BGRA output (alpha 255); CMYK and
// YCCK streams, which the library cannot turn into RGB, are converted here
// from the inverted CMYK that such files store. Writing drops alpha and
// grows one output buffer in place (the library's memory destination
// doubles into a new buffer and copies at each step).
// jpeglib.h needs size_t and FILE declared before it.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "types/image_backend.h"
#include "types/image_codecs.h"

namespace kez::image_codecs {

namespace {

// Quality of written files, on the library's scale of 1 to 100.
constexpr int QUALITY = 90;

struct error_manager {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void on_error(j_common_ptr info) { longjmp(reinterpret_cast<error_manager*>(info->err)->jump, 1); }
void on_message(j_common_ptr) {}

void set_errors(error_manager* e) {
  jpeg_std_error(&e->pub);
  e->pub.error_exit = on_error;
  e->pub.output_message = on_message;
}

// Encoded bytes, into a buffer that starts at a guess of the whole size
// and doubles in place when that proves short.
struct destination {
  jpeg_destination_mgr pub;
  uint8_t* data;
  size_t capacity;
  bool no_memory;
};

// A pixel rarely takes a byte at the quality written; untouched room costs
// no memory. Only the smallest pictures start from this floor.
constexpr size_t FIRST_ROOM = 4096;

void destination_start(j_compress_ptr) {}
void destination_end(j_compress_ptr) {}

boolean destination_grow(j_compress_ptr info) {
  auto* d = reinterpret_cast<destination*>(info->dest);
  size_t grown = d->capacity * 2;
  void* p = std::realloc(d->data, grown);
  if (!p) {
    d->no_memory = true;
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  }
  d->data = static_cast<uint8_t*>(p);
  d->pub.next_output_byte = d->data + d->capacity;
  d->pub.free_in_buffer = grown - d->capacity;
  d->capacity = grown;
  return TRUE;
}

// One row of inverted CMYK to BGRA, in place (4 bytes a pixel both ways).
void cmyk_row(uint8_t* row, uint32_t width) {
  for (uint32_t x = 0; x < width; x++, row += 4) {
    unsigned c = row[0], m = row[1], y = row[2], k = row[3];
    row[0] = uint8_t(y * k / 255);
    row[1] = uint8_t(m * k / 255);
    row[2] = uint8_t(c * k / 255);
    row[3] = 255;
  }
}

}  // namespace

status jpeg_decode(const uint8_t* data, size_t size, decoded* out) {
  jpeg_decompress_struct info;
  error_manager errors;
  info.err = &errors.pub;
  set_errors(&errors);
  jpeg_create_decompress(&info);
  if (setjmp(errors.jump)) {
    std::free(out->pixels);
    *out = {};
    jpeg_destroy_decompress(&info);
    return CORRUPT;
  }
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  status s = allocate(out, info.image_width, info.image_height);
  if (s != OK) {
    jpeg_destroy_decompress(&info);
    return s;
  }
  bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  if (info.output_width != out->width || info.output_height != out->height ||
      info.output_components != 4)
    longjmp(errors.jump, 1);
  while (info.output_scanline < info.output_height) {
    auto* row = reinterpret_cast<uint8_t*>(out->pixels + size_t(info.output_scanline) * out->width);
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&info, rows, 1);
    if (cmyk) cmyk_row(row, out->width);
  }
  jpeg_abort_decompress(&info);
  jpeg_destroy_decompress(&info);
  return OK;
}

status jpeg_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out) {
  jpeg_compress_struct info;
  error_manager errors;
  info.err = &errors.pub;
  set_errors(&errors);
  jpeg_create_compress(&info);
  // Reached by the library through info.dest: its fields stay in memory
  // across the long jump.
  destination dest{};
  dest.capacity = std::max<size_t>(FIRST_ROOM, size_t(width) * height);
  dest.data = static_cast<uint8_t*>(image_backend::allocate_large(dest.capacity));
  if (!dest.data) {
    jpeg_destroy_compress(&info);
    return NO_MEMORY;
  }
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    std::free(dest.data);
    return dest.no_memory ? NO_MEMORY : CORRUPT;
  }
  dest.pub.next_output_byte = dest.data;
  dest.pub.free_in_buffer = dest.capacity;
  dest.pub.init_destination = destination_start;
  dest.pub.empty_output_buffer = destination_grow;
  dest.pub.term_destination = destination_end;
  info.dest = &dest.pub;
  info.image_width = width;
  info.image_height = height;
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, QUALITY, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {
        reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels + size_t(info.next_scanline) * width))};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  out->data = dest.data;
  out->size = dest.capacity - dest.pub.free_in_buffer;
  jpeg_destroy_compress(&info);
  return OK;
}

}  // namespace kez::image_codecs
