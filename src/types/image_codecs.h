// Image file codecs over memory buffers: PNG, JPEG, GIF and TIFF through
// their Debian libraries, BMP of our own.
//
// Every codec works on plain memory and reports a status; none raises a
// language error or lets a library's error exit (a long jump, an abort
// callback) cross a C++ frame: each library call sits in a C-style wrapper
// that holds no object with a destructor, and errors reach the language
// only after the wrapper has returned (image.cpp raises them).
//
// Pixels in and out are words a << 24 | r << 16 | g << 8 | b (bytes B, G,
// R, A), rows of width words, alpha not premultiplied. A decoder checks the
// declared size before it allocates any pixel memory; its buffer comes from
// malloc and the image back end adopts it. Encoded bytes come from malloc
// too and are the caller's to free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kez::image_codecs {

// Format indexes, as the codec objects pass them to `encode`.
enum format : int {
  IMAGE_BMP = 0,
  IMAGE_PNG = 1,
  IMAGE_GIF = 2,
  IMAGE_JPEG = 3,
  IMAGE_TIFF = 4,
  FORMAT_COUNT = 5,
};

enum status : int {
  OK = 0,
  NOT_IMAGE,  // no known magic
  CORRUPT,    // a known format that does not decode (or encode)
  TOO_LARGE,  // a side above 65535, or more pixels than a node holds
  NO_MEMORY,
  NO_LIBRARY,  // the format's platform library is missing
};

struct decoded {
  uint32_t width = 0, height = 0;
  uint32_t* pixels = nullptr;  // malloc'd, width x height words
};

struct encoded {
  uint8_t* data = nullptr;  // malloc'd
  size_t size = 0;
};

// The format whose magic the bytes begin with, or -1.
int sniff(const uint8_t* data, size_t size);

// Decodes the first frame of any known format (by its magic).
status decode(const uint8_t* data, size_t size, decoded* out);
// Encodes width x height pixels (both at least 1) in a format.
status encode(int format, const uint32_t* pixels, uint32_t width, uint32_t height,
              encoded* out);

// --- For the codecs ---------------------------------------------------------------

// The most pixels a decoder accepts: what an image holds, unless lowered
// (the fuzzing target keeps crafted sizes small).
extern uint64_t pixel_limit;

// The pixel buffer of a decoded image, allocated once its size is known
// and accepted (TOO_LARGE or NO_MEMORY otherwise; out->pixels stays null).
status allocate(decoded* out, uint64_t width, uint64_t height);

// The bytes a decoder reads in order; `read` copies at most n of them and
// answers how many.
struct byte_source {
  const uint8_t* data;
  size_t size;
  size_t pos;
  size_t read(void* to, size_t n);
};
// A growing output buffer; `put` answers false when memory runs out.
struct byte_sink {
  encoded* out;
  size_t capacity;
  bool put(const void* bytes, size_t n);
};

status png_decode(const uint8_t* data, size_t size, decoded* out);
status png_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out);
status jpeg_decode(const uint8_t* data, size_t size, decoded* out);
status jpeg_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out);
status gif_decode(const uint8_t* data, size_t size, decoded* out);
status gif_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out);
status tiff_decode(const uint8_t* data, size_t size, decoded* out);
status tiff_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out);
status bmp_decode(const uint8_t* data, size_t size, decoded* out);
status bmp_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out);

}  // namespace kez::image_codecs
