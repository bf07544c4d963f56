// The image back end: image nodes, the pixel store and the operations on
// live pixels (make, fill, lock, pixel access, scale, copy, crop).
//
// Every operation re-reads the node's record after anything that
// allocates: the record is a series buffer and moves. Pixel buffers come
// from malloc and never move; they are freed by the slot's release
// callback (at a collection, or by `release`), after which the node's slot
// word is NO_SLOT and every access raises access bad-media.
#include "types/image_backend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>

#include "foundation/collector.h"
#include "foundation/handles.h"
#include "foundation/raise.h"
#include "values/error_ids.h"

namespace kez::image_backend {

namespace {

uint32_t kind = 0;  // the handle kind "image"

// Pixel bytes made since the collection counted in `counted_cycle`.
uint64_t made_bytes = 0;
uint32_t counted_cycle = 0;

[[noreturn]] void bad_media() { fire(err::ACCESS, err::access::BAD_MEDIA); }
[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }

// A huge page's size, and the buffer size from which one is worth asking
// for: a smaller picture would round up to a page it half uses.
constexpr uint64_t HUGE_PAGE = uint64_t(2) << 20;
constexpr uint64_t HUGE_FROM = uint64_t(8) << 20;

void release_pixels(void* object) { std::free(object); }

// The bytes made since the last collection, whoever ran it.
uint64_t& since_collection() {
  if (collector::stats.cycles != counted_cycle) {
    counted_cycle = collector::stats.cycles;
    made_bytes = 0;
  }
  return made_bytes;
}

uint32_t* pixels_of(node_t node) {
  const image_node* r = record(node);
  if (r->slot == NO_SLOT) bad_media();
  return static_cast<uint32_t*>(handles::at(int32_t(r->slot)).object);
}

uint64_t count_of(node_t node) { return uint64_t(width_of(node)) * height_of(node); }

}  // namespace

uint32_t width_of(node_t node) { return IMAGE_WIDTH(record(node)->size); }
uint32_t height_of(node_t node) { return IMAGE_HEIGHT(record(node)->size); }
bool released(node_t node) { return record(node)->slot == NO_SLOT; }

void init() { kind = handles::register_kind("image", release_pixels); }

bool size_ok(uint64_t width, uint64_t height) {
  return width <= MAX_SIDE && height <= MAX_SIDE && width * height * 4 <= MAX_SERIES_SIZE;
}

void collect_before(uint64_t bytes) {
  if (collector::active && !collector::running && since_collection() + bytes > COLLECT_AFTER)
    collector::do_cycle();
}

node_t adopt(uint32_t width, uint32_t height, uint32_t* pixels) {
  // The buffer goes into its slot only once the node exists: allocating the
  // node may collect, and a slot that no node reaches yet would be freed.
  node_t node = memory::alloc_series(sizeof(image_node) / 4, 4, 0);
  since_collection() += uint64_t(width) * height * 4;
  int32_t slot = handles::store(pixels, kind);
  series_buffer* b = memory::buffer(node);
  b->tail = sizeof(image_node);
  *record(node) = {NODE_PIXELS | NODE_WRITTEN, 0, 0, make_size(width, height), uint32_t(slot), 0};
  return node;
}

void* allocate_large(uint64_t bytes) {
  if (bytes < HUGE_FROM) return std::malloc(bytes);
  // Whole aligned huge pages: the advice covers only those.
  uint64_t rounded = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  void* p = std::aligned_alloc(HUGE_PAGE, rounded);
  // Refused advice (no huge pages here) leaves an ordinary buffer.
  if (p) madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

node_t make_node(uint32_t width, uint32_t height) {
  uint64_t bytes = uint64_t(width) * height * 4;
  collect_before(bytes);
  void* pixels = allocate_large(bytes);
  if (!pixels && collector::active && !collector::running) {
    collector::do_cycle();
    pixels = allocate_large(bytes);
  }
  if (!pixels) no_memory();
  return adopt(width, height, static_cast<uint32_t*>(pixels));
}

void fill_rgb_alpha(node_t node, const uint8_t* rgb, uint32_t rgb_len, const uint8_t* alpha,
                    uint32_t alpha_len) {
  uint32_t* p = pixels_of(node);
  uint64_t n = count_of(node);
  uint64_t from_rgb = std::min<uint64_t>(n, rgb_len / 3);
  uint64_t from_alpha = std::min<uint64_t>(n, alpha_len);
  for (uint64_t i = 0; i < from_rgb; i++) {
    const uint8_t* c = rgb + i * 3;
    p[i] = pixel_word(255, c[0], c[1], c[2]);
  }
  std::fill(p + from_rgb, p + n, pixel_word(255, 255, 255, 255));
  for (uint64_t i = 0; i < from_alpha; i++)
    p[i] = (p[i] & 0x00FFFFFF) | uint32_t(255 - alpha[i]) << 24;
}

void fill(node_t node, uint32_t pixel) {
  uint32_t* p = pixels_of(node);
  std::fill(p, p + count_of(node), pixel);
}

lock lock_bitmap(node_t node, bool write) {
  uint32_t* p = pixels_of(node);
  if (write) record(node)->flags |= NODE_WRITTEN;
  return {p, width_of(node) * 4};
}

uint32_t get_pixel(node_t node, uint32_t index) { return pixels_of(node)[index]; }

void set_pixel(node_t node, uint32_t index, uint32_t pixel) {
  pixels_of(node)[index] = pixel;
  record(node)->flags |= NODE_WRITTEN;
}

node_t resize(node_t node, uint32_t width, uint32_t height) {
  uint32_t sw = width_of(node), sh = height_of(node);
  pixels_of(node);  // a released image is refused before anything is made
  node_t out = make_node(width, height);
  const uint32_t* src = pixels_of(node);
  uint32_t* dst = pixels_of(out);
  std::vector<uint32_t> column(width);
  for (uint32_t x = 0; x < width; x++) column[x] = uint32_t(uint64_t(x) * sw / width);
  for (uint32_t y = 0; y < height; y++) {
    const uint32_t* row = src + uint64_t(uint64_t(y) * sh / height) * sw;
    uint32_t* to = dst + uint64_t(y) * width;
    for (uint32_t x = 0; x < width; x++) to[x] = row[column[x]];
  }
  return out;
}

node_t crop(node_t node, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  uint32_t sw = width_of(node);
  pixels_of(node);
  node_t out = make_node(width, height);
  const uint32_t* src = pixels_of(node);
  uint32_t* dst = pixels_of(out);
  for (uint32_t r = 0; r < height; r++)
    std::memcpy(dst + uint64_t(r) * width, src + uint64_t(y + r) * sw + x, uint64_t(width) * 4);
  return out;
}

node_t copy(node_t node) { return crop(node, 0, 0, width_of(node), height_of(node)); }

int from_memory(uint32_t width, uint32_t height, uint32_t stride, const uint8_t* pixels,
                node_t* out) {
  if (width == 0 || height == 0 || !size_ok(width, height)) return 1;
  if (stride == 0) stride = width * 4;
  if (stride < width * 4) return 1;
  node_t node = make_node(width, height);
  uint32_t* dst = pixels_of(node);
  for (uint32_t r = 0; r < height; r++)
    std::memcpy(dst + uint64_t(r) * width, pixels + uint64_t(r) * stride, uint64_t(width) * 4);
  *out = node;
  return 0;
}

void mark_step(node_t node) {
  uint32_t slot = record(node)->slot;
  if (slot != NO_SLOT) handles::mark(int32_t(slot), nullptr);
}

void release(node_t node) {
  image_node* r = record(node);
  if (r->slot == NO_SLOT) return;
  int32_t slot = int32_t(r->slot);
  r->slot = NO_SLOT;
  r->flags &= ~NODE_PIXELS;
  handles::free_slot(slot, true);
}

uint64_t pending_bytes() { return since_collection(); }

}  // namespace kez::image_backend
