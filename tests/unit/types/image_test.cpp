// image!: what has no language surface: an image whose pixels were
// released early, the collector's hold on pixel buffers, and the back end's
// direct access for the other subsystems.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "../values/value_test_support.h"
#include "foundation/collector.h"
#include "foundation/handles.h"
#include "types/image.h"
#include "types/image_backend.h"
#include "types/image_codecs.h"
#include "types/pair.h"
#include "values/error_ids.h"
#include "values/word.h"

using namespace kez;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Images : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

Cell* make_image(int32_t w, int32_t h) {
  Cell* size = stack::push(make_none());
  pair::make_at(size, w, h);
  Cell* out = stack::push_unset();
  actions::peek_make(TYPE_IMAGE)(out, size, TYPE_IMAGE);
  return out;
}

bool bad_media(const std::function<void()>& body) {
  return raises(raised(body), err::ACCESS, err::access::BAD_MEDIA);
}

}  // namespace

// Every action of the row, and the entry points the other subsystems call,
// on a cell whose node was released: each raises bad-media and none reads
// the freed pixels (the sanitizer build would report it).
TEST_F(Images, ReleasedPixelsAreNeverTouched) {
  Cell* img = make_image(3, 2);
  Cell* other = make_image(3, 2);
  const Cell released = *img;
  image::delete_(img);
  image::delete_(img);  // a second release does nothing
  EXPECT_TRUE(image_backend::released(released.w2));

  Cell tuple = image::pixel_to_tuple(0xFF010203), index = make_integer(1);
  Cell empty_block = *test::push_block({});
  Cell word = word::make_global(words::size);
  auto act = [&](int action) { return actions::table[TYPE_IMAGE][action]; };
  struct use {
    int action;  // 0: not an action of the row
    std::function<void(Cell*)> run;
  };
  const use uses[] = {
      {ACT_make, [&](Cell* c) { actions::peek_make(TYPE_IMAGE)(c, &empty_block, TYPE_IMAGE); }},
      {ACT_to, [&](Cell* c) { Cell out; actions::peek_to(TYPE_IMAGE)(&out, c, TYPE_IMAGE); }},
      {ACT_form, [&](Cell* c) { test::form_text(*c); }},
      {ACT_mold, [&](Cell* c) { test::mold_text(*c); }},
      {ACT_eval_path, [&](Cell* c) {
         Cell out;
         path_step s{c, &word, nullptr, nullptr, nullptr, nullptr, 1, false, false, false, true};
         actions::peek_eval_path(TYPE_IMAGE)(s, &out);
       }},
      {ACT_compare, [&](Cell* c) { actions::compare_values(c, c, COMP_SAME); }},
      {ACT_compare, [&](Cell* c) { actions::compare_values(other, c, COMP_EQUAL); }},
      {ACT_at, [&](Cell* c) { actions::peek_at(TYPE_IMAGE)(c, &index); }},
      {ACT_back, [&](Cell* c) { actions::peek_back(TYPE_IMAGE)(c); }},
      {ACT_change, [&](Cell* c) { actions::peek_change(TYPE_IMAGE)(c, &tuple, -1, false, 1); }},
      {ACT_change, [&](Cell* c) { actions::peek_change(TYPE_IMAGE)(other, c, -1, false, 1); }},
      {ACT_copy, [&](Cell* c) { Cell out; actions::peek_copy(TYPE_IMAGE)(c, &out, nullptr, false, nullptr); }},
      {ACT_head, [&](Cell* c) { actions::peek_head(TYPE_IMAGE)(c); }},
      {ACT_head_q, [&](Cell* c) { actions::peek_head_q(TYPE_IMAGE)(c); }},
      {ACT_index_q, [&](Cell* c) { actions::peek_index_q(TYPE_IMAGE)(c); }},
      {ACT_length_q, [&](Cell* c) { actions::peek_length_q(TYPE_IMAGE)(c); }},
      {ACT_modify, [&](Cell* c) { actions::peek_modify(TYPE_IMAGE)(c, &word, &tuple, false); }},
      {ACT_next, [&](Cell* c) { actions::peek_next(TYPE_IMAGE)(c); }},
      {ACT_pick, [&](Cell* c) { actions::peek_pick(TYPE_IMAGE)(c, 1, &index); }},
      {ACT_poke, [&](Cell* c) { actions::peek_poke(TYPE_IMAGE)(c, 1, &tuple, &index); }},
      {ACT_skip, [&](Cell* c) { actions::peek_skip(TYPE_IMAGE)(c, &index); }},
      {ACT_tail, [&](Cell* c) { actions::peek_tail(TYPE_IMAGE)(c); }},
      {ACT_tail_q, [&](Cell* c) { actions::peek_tail_q(TYPE_IMAGE)(c); }},
      {0, [&](Cell* c) { Cell out; image::extract_data(c, image::DATA_RGB, &out); }},
      {0, [&](Cell* c) { image::set_data(c, &tuple, image::DATA_ARGB); }},
      {0, [&](Cell* c) { image::resize(c, 4, 4); }},
      {0, [&](Cell* c) { image::get_pixel_tuple(c, 0); }},
      {0, [&](Cell* c) { Cell out; actions::peek_to(TYPE_BINARY)(&out, c, TYPE_BINARY); }},
  };
  std::set<int> covered;
  for (const use& u : uses) {
    Cell* c = stack::push(released);
    EXPECT_TRUE(bad_media([&] { u.run(c); })) << "action " << u.action;
    if (u.action) covered.insert(u.action);
  }
  for (int a = 1; a <= ACTION_COUNT; a++)
    if (act(a)) {
      EXPECT_TRUE(covered.count(a)) << "action " << a << " not tried";
    }

  // The collector meets the released node through live cells and leaves
  // its (free) slot alone.
  collector::do_cycle();
  EXPECT_TRUE(image_backend::released(released.w2));
}

// Pixel buffers live as long as an image! cell reaches their node, and no
// longer: the collector frees them through the handle slot.
TEST_F(Images, TheCollectorFreesUnreachedPixels) {
  Cell* img = make_image(2, 2);
  uint32_t slot = image_backend::record(img->w2)->slot;
  collector::do_cycle();
  ASSERT_EQ(image_backend::record(img->w2)->slot, slot);
  EXPECT_FALSE(handles::at(int32_t(slot)).flags & handles::HANDLE_FREE);
  image_backend::set_pixel(img->w2, 3, 0x80112233);
  EXPECT_EQ(image_backend::get_pixel(img->w2, 3), 0x80112233u);
  stack::pop(2);
  collector::do_cycle();
  EXPECT_TRUE(handles::at(int32_t(slot)).flags & handles::HANDLE_FREE);
}

// The interface the GUI backend and the serializer use: direct access to
// the live pixels, wrapping a BGRA buffer, nearest-neighbour scaling.
TEST_F(Images, BackEndAccess) {
  const uint8_t bgra[] = {1, 2, 3, 4, 5, 6, 7, 8, 0xEE, 0xEE,  // row 0 and padding
                          9, 10, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE};
  node_t node = 0;
  EXPECT_NE(image_backend::from_memory(70000, 1, 0, bgra, &node), 0);
  ASSERT_EQ(image_backend::from_memory(2, 2, 10, bgra, &node), 0);
  Cell* img = image::push(node);
  EXPECT_EQ(img->w3, image_backend::make_size(2, 2));
  image_backend::lock l = image_backend::lock_bitmap(node, true);
  EXPECT_EQ(l.stride, 8u);
  EXPECT_EQ(l.pixels[2], 0x0C0B0A09u);
  EXPECT_TRUE(image_backend::record(node)->flags & image_backend::NODE_WRITTEN);

  Cell* big = image::resize(img, 4, 2);
  const uint32_t* p = image_backend::lock_bitmap(big->w2, false).pixels;
  const uint32_t expected[] = {0x04030201, 0x04030201, 0x08070605, 0x08070605,
                               0x0C0B0A09, 0x0C0B0A09, 0x100F0E0D, 0x100F0E0D};
  for (int i = 0; i < 8; i++) EXPECT_EQ(p[i], expected[i]) << i;
  EXPECT_EQ(test::mold_text(image::get_pixel_tuple(big, 8)), "none");
  EXPECT_EQ(test::mold_text(image::get_pixel_tuple(big, 1)), "3.2.1.251");
}

// The codecs over memory: every format written and read back, and what a
// damaged file gives (a status, never a jump out of a library).
TEST_F(Images, CodecsOverMemory) {
  namespace codecs = image_codecs;
  constexpr uint32_t W = 7, H = 5;
  uint32_t pixels[W * H];
  for (uint32_t i = 0; i < W * H; i++)
    pixels[i] = (i % 3 ? 0xFF000000u : 0x80000000u) | (i * 0x0A1B2Cu & 0xFFFFFF);
  for (int format = 0; format < codecs::FORMAT_COUNT; format++) {
    codecs::encoded e;
    ASSERT_EQ(codecs::encode(format, pixels, W, H, &e), codecs::OK) << format;
    EXPECT_EQ(codecs::sniff(e.data, e.size), format);
    codecs::decoded d;
    ASSERT_EQ(codecs::decode(e.data, e.size, &d), codecs::OK) << format;
    EXPECT_EQ(d.width, W);
    EXPECT_EQ(d.height, H);
    bool lossless = format == codecs::IMAGE_PNG || format == codecs::IMAGE_BMP ||
                    format == codecs::IMAGE_TIFF;
    if (lossless) {
      EXPECT_EQ(std::memcmp(d.pixels, pixels, sizeof pixels), 0) << format;
    }
    std::free(d.pixels);
    // Cut short after the signature, and halfway: a status (a JPEG is
    // finished with grey), and no pixels kept on failure.
    for (size_t cut : {size_t(8), e.size / 2}) {
      codecs::decoded bad;
      codecs::status s = codecs::decode(e.data, cut, &bad);
      if (s != codecs::OK) {
        EXPECT_EQ(bad.pixels, nullptr);
      }
      std::free(bad.pixels);
    }
    std::free(e.data);
  }
  codecs::decoded none;
  const uint8_t text[] = "plain text";
  EXPECT_EQ(codecs::decode(text, sizeof text, &none), codecs::NOT_IMAGE);
  EXPECT_EQ(codecs::decode(text, 0, &none), codecs::NOT_IMAGE);
}

// A JPEG that outgrows its first buffer: the bytes are those the library's
// own memory destination gives, and a picture big enough for huge pages
// reads back whole.
TEST_F(Images, LargeJpegBuffers) {
  namespace codecs = image_codecs;
  auto noise = [](uint32_t w, uint32_t h) {
    std::vector<uint32_t> p(size_t(w) * h);
    uint32_t x = 12345;
    for (uint32_t& v : p) {
      x = x * 1103515245u + 12345u;
      v = 0xFF000000u | (x >> 8);
    }
    return p;
  };
  constexpr uint32_t W = 64, H = 64;
  std::vector<uint32_t> pixels = noise(W, H);
  codecs::encoded e;
  ASSERT_EQ(codecs::encode(codecs::IMAGE_JPEG, pixels.data(), W, H, &e), codecs::OK);
  EXPECT_GT(e.size, size_t(W * H));  // past the first guess
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* bytes = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &bytes, &size);
  info.image_width = W;
  info.image_height = H;
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < H) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels.data() + size_t(info.next_scanline) * W);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  ASSERT_EQ(e.size, size_t(size));
  EXPECT_EQ(std::memcmp(e.data, bytes, size), 0);
  std::free(bytes);
  std::free(e.data);

  constexpr uint32_t BW = 1600, BH = 1500;  // 9.6 MB of pixels
  std::vector<uint32_t> big = noise(BW, BH);
  ASSERT_EQ(codecs::encode(codecs::IMAGE_JPEG, big.data(), BW, BH, &e), codecs::OK);
  codecs::decoded d;
  ASSERT_EQ(codecs::decode(e.data, e.size, &d), codecs::OK);
  EXPECT_EQ(d.width, BW);
  EXPECT_EQ(d.height, BH);
  EXPECT_EQ(d.pixels[0] >> 24, 0xFFu);
  EXPECT_EQ(d.pixels[size_t(BW) * BH - 1] >> 24, 0xFFu);
  std::free(d.pixels);
  std::free(e.data);
}

TEST_F(Images, EncodeRefusals) {
  Cell* img = make_image(2, 2);
  Cell out;
  EXPECT_TRUE(raises(raised([&] { image::encode(img, 5, &out); }), err::SCRIPT,
                     err::script::INVALID_ARG));
  EXPECT_TRUE(raises(raised([&] { image::encode(img, -1, &out); }), err::SCRIPT,
                     err::script::INVALID_ARG));
  Cell* empty = make_image(0, 0);
  EXPECT_TRUE(bad_media([&] { image::encode(empty, 1, &out); }));
}
