// GIF through giflib, over memory, and the colour quantiser its writer
// needs.
//
// giflib reports errors by return codes, so no jump crosses these frames.
// Reading takes the first frame onto the logical screen, with the
// transparency of the graphics control extension before it; interlaced
// rows are put back in order. The screen outside the frame is transparent
// when the frame has a transparent index, else the frame's first colour.
// Writing gives every fully transparent pixel one transparent index and
// every other pixel its colour (alpha dropped): an image of at most 256
// such entries round-trips exactly; more colours are reduced by median cut.
#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "types/image_codecs.h"

namespace kez::image_codecs {

namespace {

constexpr int MAX_COLOURS = 256;

int read_bytes(GifFileType* gif, GifByteType* out, int n) {
  return int(static_cast<byte_source*>(gif->UserData)->read(out, size_t(n)));
}

int write_bytes(GifFileType* gif, const GifByteType* bytes, int n) {
  return static_cast<byte_sink*>(gif->UserData)->put(bytes, size_t(n)) ? n : 0;
}

inline uint32_t colour_word(const ColorMapObject* map, int index, uint8_t alpha) {
  if (!map || index >= map->ColorCount) return uint32_t(alpha) << 24;
  const GifColorType& c = map->Colors[index];
  return uint32_t(alpha) << 24 | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
}

// Reads the records up to the first image; the frame's pixels are drawn
// onto the screen in `out`.
status read_first_frame(GifFileType* gif, decoded* out) {
  int transparent = -1;
  while (true) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) return CORRUPT;
    if (record == TERMINATE_RECORD_TYPE) return CORRUPT;  // no image at all
    if (record == EXTENSION_RECORD_TYPE) {
      int code;
      GifByteType* ext;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return CORRUPT;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4)
        transparent = (ext[1] & 1) ? ext[4] : -1;
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return CORRUPT;
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return CORRUPT;
    const GifImageDesc& d = gif->Image;
    if (d.Left < 0 || d.Top < 0 || d.Width <= 0 || d.Height <= 0) return CORRUPT;
    uint64_t width = std::max<uint64_t>(uint64_t(gif->SWidth), uint64_t(d.Left) + d.Width);
    uint64_t height = std::max<uint64_t>(uint64_t(gif->SHeight), uint64_t(d.Top) + d.Height);
    status s = allocate(out, width, height);
    if (s != OK) return s;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    std::fill(out->pixels, out->pixels + width * height,
              colour_word(map, transparent >= 0 ? transparent : 0, transparent >= 0 ? 0 : 255));
    std::vector<GifPixelType> line(size_t(d.Width));
    // Interlaced frames come in four passes of rows.
    static constexpr int START[] = {0, 4, 2, 1}, STEP[] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
      int first = d.Interlace ? START[pass] : 0, step = d.Interlace ? STEP[pass] : 1;
      for (int y = first; y < d.Height; y += step) {
        if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return CORRUPT;
        uint32_t* row = out->pixels + (uint64_t(d.Top) + uint64_t(y)) * width + uint64_t(d.Left);
        for (int x = 0; x < d.Width; x++)
          row[x] = colour_word(map, line[size_t(x)], line[size_t(x)] == transparent ? 0 : 255);
      }
    }
    return OK;
  }
}

// --- quantising --------------------------------------------------------------------

// Median cut over a histogram of colours reduced to 5 bits a channel: the
// box with the most pixels is split at the median of its widest channel
// until there are `wanted` boxes; each box's colour is its pixels' mean.
struct box {
  int lo[3], hi[3];
  uint64_t count;
};

inline int bin_of(int r, int g, int b) { return (r << 10) | (g << 5) | b; }

void shrink(box& bx, const std::vector<uint32_t>& hist) {
  int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  uint64_t n = 0;
  for (int r = bx.lo[0]; r <= bx.hi[0]; r++)
    for (int g = bx.lo[1]; g <= bx.hi[1]; g++)
      for (int b = bx.lo[2]; b <= bx.hi[2]; b++) {
        uint32_t c = hist[size_t(bin_of(r, g, b))];
        if (!c) continue;
        n += c;
        int v[3] = {r, g, b};
        for (int k = 0; k < 3; k++) lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
      }
  std::memcpy(bx.lo, lo, sizeof lo);
  std::memcpy(bx.hi, hi, sizeof hi);
  bx.count = n;
}

// The palette for more colours than fit, and each pixel's index in it.
void median_cut(const uint32_t* pixels, size_t n, int wanted, std::vector<GifColorType>& palette,
                std::vector<uint8_t>& indexes, int first_index) {
  std::vector<uint32_t> hist(32768);
  for (size_t i = 0; i < n; i++) {
    uint32_t p = pixels[i];
    if (p >> 24) hist[size_t(bin_of((p >> 19) & 31, (p >> 11) & 31, (p >> 3) & 31))]++;
  }
  std::vector<box> boxes{{{0, 0, 0}, {31, 31, 31}, 0}};
  shrink(boxes[0], hist);
  while (int(boxes.size()) < wanted) {
    int pick = -1;
    for (int i = 0; i < int(boxes.size()); i++) {
      const box& b = boxes[size_t(i)];
      bool splittable = b.hi[0] > b.lo[0] || b.hi[1] > b.lo[1] || b.hi[2] > b.lo[2];
      if (splittable && (pick < 0 || b.count > boxes[size_t(pick)].count)) pick = i;
    }
    if (pick < 0) break;
    box& b = boxes[size_t(pick)];
    int axis = 0;
    for (int k = 1; k < 3; k++)
      if (b.hi[k] - b.lo[k] > b.hi[axis] - b.lo[axis]) axis = k;
    // The median plane along the axis.
    uint64_t half = b.count / 2, seen = 0;
    int cut = b.lo[axis];
    for (int v = b.lo[axis]; v < b.hi[axis]; v++) {
      int lo[3] = {b.lo[0], b.lo[1], b.lo[2]}, hi[3] = {b.hi[0], b.hi[1], b.hi[2]};
      lo[axis] = hi[axis] = v;
      for (int r = lo[0]; r <= hi[0]; r++)
        for (int g = lo[1]; g <= hi[1]; g++)
          for (int bb = lo[2]; bb <= hi[2]; bb++) seen += hist[size_t(bin_of(r, g, bb))];
      cut = v;
      if (seen >= half) break;
    }
    box upper = b;
    b.hi[axis] = cut;
    upper.lo[axis] = cut + 1;
    shrink(b, hist);
    shrink(upper, hist);
    boxes.push_back(upper);
  }
  // Each box's mean colour, and the palette index of every histogram bin.
  std::vector<uint8_t> bin_index(32768);
  for (size_t i = 0; i < boxes.size(); i++) {
    const box& b = boxes[i];
    uint64_t sum[3] = {0, 0, 0}, count = 0;
    for (int r = b.lo[0]; r <= b.hi[0]; r++)
      for (int g = b.lo[1]; g <= b.hi[1]; g++)
        for (int bb = b.lo[2]; bb <= b.hi[2]; bb++) {
          uint32_t c = hist[size_t(bin_of(r, g, bb))];
          bin_index[size_t(bin_of(r, g, bb))] = uint8_t(first_index + int(i));
          sum[0] += uint64_t(c) * uint64_t(r * 8 + 4);
          sum[1] += uint64_t(c) * uint64_t(g * 8 + 4);
          sum[2] += uint64_t(c) * uint64_t(bb * 8 + 4);
          count += c;
        }
    if (!count) count = 1;
    palette.push_back({uint8_t(sum[0] / count), uint8_t(sum[1] / count), uint8_t(sum[2] / count)});
  }
  for (size_t i = 0; i < n; i++) {
    uint32_t p = pixels[i];
    if (p >> 24) indexes[i] = bin_index[size_t(bin_of((p >> 19) & 31, (p >> 11) & 31, (p >> 3) & 31))];
  }
}

// The palette and index of every pixel: exact when the colours fit.
void build_palette(const uint32_t* pixels, size_t n, std::vector<GifColorType>& palette,
                   std::vector<uint8_t>& indexes, int& transparent) {
  transparent = -1;
  for (size_t i = 0; i < n; i++) {
    if ((pixels[i] >> 24) == 0) {
      uint32_t p = pixels[i];
      transparent = 0;
      palette.push_back({uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
      break;
    }
  }
  int room = MAX_COLOURS - int(palette.size());
  std::unordered_map<uint32_t, uint8_t> exact;
  bool fits = true;
  for (size_t i = 0; i < n && fits; i++) {
    uint32_t p = pixels[i];
    if ((p >> 24) == 0) {
      indexes[i] = 0;
      continue;
    }
    uint32_t rgb = p & 0xFFFFFF;
    auto it = exact.find(rgb);
    if (it != exact.end()) {
      indexes[i] = it->second;
      continue;
    }
    if (int(exact.size()) == room) {
      fits = false;
      break;
    }
    uint8_t index = uint8_t(palette.size());
    exact.emplace(rgb, index);
    palette.push_back({uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
    indexes[i] = index;
  }
  if (fits) return;
  palette.resize(transparent >= 0 ? 1 : 0);
  median_cut(pixels, n, room, palette, indexes, int(palette.size()));
}

}  // namespace

status gif_decode(const uint8_t* data, size_t size, decoded* out) {
  byte_source src{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&src, read_bytes, &error);
  if (!gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? NO_MEMORY : CORRUPT;
  status s = read_first_frame(gif, out);
  DGifCloseFile(gif, &error);
  if (s != OK) {
    std::free(out->pixels);
    *out = {};
  }
  return s;
}

status gif_encode(const uint32_t* pixels, uint32_t width, uint32_t height, encoded* out) {
  if (width > 0xFFFF || height > 0xFFFF) return CORRUPT;
  size_t n = size_t(width) * height;
  std::vector<GifColorType> palette;
  std::vector<uint8_t> indexes(n);
  int transparent;
  build_palette(pixels, n, palette, indexes, transparent);
  int bits = 1;
  while ((1 << bits) < int(palette.size())) bits++;
  palette.resize(size_t(1) << bits, GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(1 << bits, palette.data());
  if (!map) return NO_MEMORY;
  byte_sink dst{out, 0};
  int error = 0;
  GifFileType* gif = EGifOpen(&dst, write_bytes, &error);
  if (!gif) {
    GifFreeMapObject(map);
    return CORRUPT;
  }
  EGifSetGifVersion(gif, transparent >= 0);
  bool ok = EGifPutScreenDesc(gif, int(width), int(height), bits, 0, map) != GIF_ERROR;
  if (ok && transparent >= 0) {
    const GifByteType control[4] = {0x01, 0, 0, GifByteType(transparent)};
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, int(width), int(height), false, nullptr) != GIF_ERROR;
  for (uint32_t y = 0; ok && y < height; y++)
    ok = EGifPutLine(gif, indexes.data() + size_t(y) * width, int(width)) != GIF_ERROR;
  if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
  GifFreeMapObject(map);
  return ok ? OK : CORRUPT;
}

}  // namespace kez::image_codecs
