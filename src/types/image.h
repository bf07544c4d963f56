// image!: a picture as a series of pixels over an image node.
//
// An image! cell holds its head (a 0-based pixel index, row-major) in w1,
// its image node in w2 (0 for an image without pixels) and its size word
// height << 16 | width in w3, copied from the node when the cell is made.
// As a value a pixel is the 4-byte tuple r.g.b.t, t = 255 - alpha (0 is
// opaque). Positions run from 0 to the pixel count, which is the tail; the
// length is always the pixel count, whatever the head. Several cells may
// share a node; a node released early (`delete_`) refuses every later use
// with access bad-media.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::image {

inline uint32_t width(const Cell* c) { return c->w3 & 0xFFFF; }
inline uint32_t height(const Cell* c) { return c->w3 >> 16; }
inline uint32_t pixel_count(const Cell* c) { return width(c) * height(c); }

// The cell made an image over the node, head 0 (node 0: an empty image).
Cell* make_at(Cell* cell, node_t node);
Cell* push(node_t node);

// Pixel words and tuples: a 3-byte tuple is opaque.
Cell pixel_to_tuple(uint32_t pixel);
uint32_t tuple_to_pixel(const Cell* tuple);

// The pixel data from pixel 0 as a new binary! in `out`, or set from a
// binary!, tuple! or integer!: alpha one byte (255 - alpha) a pixel, rgb
// three bytes, argb the four bytes of each pixel word as stored.
enum data_mode : int { DATA_ALPHA = 0, DATA_RGB = 1, DATA_ARGB = 2 };
Cell* extract_data(const Cell* image, int mode, Cell* out);
void set_data(Cell* image, const Cell* value, int mode);

// For the GUI backend: a scaled copy (nearest neighbour), pushed; and the
// early release of an image's pixels.
Cell* resize(const Cell* image, uint32_t width, uint32_t height);
void delete_(const Cell* image);

// The pixel at a 0-based index; none at the pixel count.
Cell get_pixel_tuple(const Cell* image, uint32_t index);

// --- Image files -------------------------------------------------------------------

// Whether the bytes from a binary's head begin with a known image magic.
bool sniff(const Cell* binary);
// The image decoded from a binary! into `out`: none when the bytes are no
// known format, access bad-media when they do not decode.
Cell* from_binary(const Cell* binary, Cell* out);
// The image decoded from a file into `out`: access cannot-open when the
// file cannot be read or decoded (bad-media when it declares a size beyond
// what an image holds).
Cell* load_file(const Cell* file, Cell* out);
// A binary! of the image encoded in a format (image_codecs::format) into
// `out`: access bad-media for an image whose size word is 0 or a failing
// codec, an empty binary for one with a single side 0, script invalid-arg
// for an unknown format index.
Cell* encode(const Cell* image, int32_t format, Cell* out);
// A binary! decoded from memory, a url! read first, anything else read as
// a file.
Cell* decode(const Cell* data, Cell* out);
// The routines behind the image codecs of system/codecs.
void make_routines();

void init();  // registers image! and the handle kind of its pixels

}  // namespace kez::image
