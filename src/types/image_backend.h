// The image back end: the image node behind every image! value and the
// pixel store it owns.
//
// An image node is a 24-byte series buffer of six words (image_node below),
// reached through its node like any series, so image! cells, the binary
// serializer and the GUI backend all see one record. Its pixels live
// outside the series frames, in a buffer of our own held by a handle slot of
// the kind "image": width x height words a << 24 | r << 16 | g << 8 | b
// (bytes B, G, R, A in memory, alpha not premultiplied), rows of width x 4
// bytes. The buffer never moves, but the collector frees it through the
// slot once no image! cell reaches the node, and `release` frees it at once.
//
// What must stay true:
//  - the collector marks a node's slot whenever it marks the node through
//    an image! cell (mark_step); nothing else reaches an image node;
//  - after a release the slot word is NO_SLOT and every operation that
//    needs the pixels raises access bad-media: no freed memory is read;
//  - width and height fit 16 bits and the pixel bytes stay below the series
//    limit; a node with no pixels is never made (an empty image has node 0);
//  - pixel buffers are counted as they are made, and a collection runs
//    before the next one once the count passes COLLECT_AFTER, since the
//    collector does not see their size in its frames.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::image_backend {

// Flags of the node's first word.
enum : uint32_t {
  NODE_PIXELS = 1,    // the node holds its pixels (always, until released)
  NODE_WRITTEN = 2,   // pixels were written since the node was made
  NODE_PREMULTIPLIED = 16,  // never set here: the store is straight alpha
};

// The slot word of a released node.
constexpr uint32_t NO_SLOT = 0xFFFFFFFF;
constexpr uint32_t MAX_SIDE = 0xFFFF;
// Bytes of pixel buffers made between two collections before one is forced.
constexpr uint64_t COLLECT_AFTER = uint64_t(256) << 20;

struct image_node {
  uint32_t flags;
  uint32_t source;  // kept 0: the store needs no separate source
  uint32_t bitmap;  // kept 0: the pixels are the slot's buffer
  uint32_t size;    // height << 16 | width
  uint32_t slot;    // handle slot of the pixels, NO_SLOT once released
  uint32_t lock;    // kept 0: locks are plain access
};
static_assert(sizeof(image_node) == 24);

inline uint32_t IMAGE_WIDTH(uint32_t size) { return size & 0xFFFF; }
inline uint32_t IMAGE_HEIGHT(uint32_t size) { return size >> 16; }
inline uint32_t make_size(uint32_t width, uint32_t height) { return height << 16 | width; }
inline uint32_t pixel_word(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

// The node's record (valid until the next allocation moves its buffer).
inline image_node* record(node_t node) {
  return reinterpret_cast<image_node*>(memory::buffer(node)->data());
}
uint32_t width_of(node_t node);
uint32_t height_of(node_t node);
bool released(node_t node);

// Registers the handle kind "image" (once, before any image is made).
void init();

// Whether width x height pixels may be made: both sides fit 16 bits and
// the bytes stay below the series limit.
bool size_ok(uint64_t width, uint64_t height);

// A fresh, uninitialised buffer of `bytes` for pixels or an encoded
// picture (freed with std::free), or nullptr. A large one is laid on huge pages where the
// system gives them on request: touched a small page at a time, a picture
// of tens of megabytes costs thousands of page faults, more than decoding
// or filling it.
void* allocate_large(uint64_t bytes);

// A new node owning a fresh, uninitialised buffer of width x height
// pixels (both at least 1, size_ok). May collect first; raises internal
// no-memory when the buffer cannot be had. Store the node in a cell the
// collector reaches before anything else allocates.
node_t make_node(uint32_t width, uint32_t height);

// Collects when the pixel bytes made since the last collection, with
// `bytes` more, pass COLLECT_AFTER (the collector cannot see them in its
// frames). Call it before pixel memory is allocated.
void collect_before(uint64_t bytes);

// A new node that takes over a malloc'd buffer of width x height pixels
// (size_ok): the node frees it. The same rules as make_node hold.
node_t adopt(uint32_t width, uint32_t height, uint32_t* pixels);

// Fills a node's pixels: from an rgb byte string (3 bytes a pixel, white
// once used up) and an alpha string (one transparency byte t a pixel:
// alpha = 255 - t, opaque once used up); or every pixel with one word.
// Read the byte addresses after make_node: it may move every buffer.
void fill_rgb_alpha(node_t node, const uint8_t* rgb, uint32_t rgb_len, const uint8_t* alpha,
                    uint32_t alpha_len);
void fill(node_t node, uint32_t pixel);

// Direct access: the pixel buffer and the row stride in bytes. A write
// lock marks the pixels written. A released node raises access bad-media.
struct lock {
  uint32_t* pixels;
  uint32_t stride;
};
lock lock_bitmap(node_t node, bool write);

uint32_t get_pixel(node_t node, uint32_t index);
void set_pixel(node_t node, uint32_t index, uint32_t pixel);

// New nodes made from an image's live pixels: a nearest-neighbour scaling,
// a whole copy, a crop of a rectangle that lies inside the image.
node_t resize(node_t node, uint32_t width, uint32_t height);
node_t copy(node_t node);
node_t crop(node_t node, uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// A node holding a copy of a 32-bit BGRA buffer (stride 0: width x 4).
// Returns 0 and sets `out`, or a nonzero status when the size is refused.
int from_memory(uint32_t width, uint32_t height, uint32_t stride, const uint8_t* pixels,
                node_t* out);

// The collector's step for an image! cell that reaches the node.
void mark_step(node_t node);
// Frees the node's pixels now (the slot's release callback frees them at
// the collection otherwise); a second release does nothing.
void release(node_t node);

// Pixel bytes made since the last collection (statistics and tests).
uint64_t pending_bytes();

}  // namespace kez::image_backend
