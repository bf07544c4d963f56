// Unicode encodings: decoders bounded by their input, loading with widening,
// conversions through the value's cache, and UTF-16.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/memory.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "foundation/unicode.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/error_ids.h"

using namespace kez;

namespace {

struct Unicode : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The characters of a string node as code points.
std::vector<uint32_t> chars_of(node_t node) {
  series_buffer* b = memory::buffer(node);
  std::vector<uint32_t> out;
  for (uint32_t off = b->head; off < b->tail; off += b->unit())
    out.push_back(unicode::get_char(b->data() + off, b->unit()));
  return out;
}

Cell string_of(node_t node) { return make_series(TYPE_STRING, node); }

// Runs `body` and answers the error it fires (category, id), or {-1, -1}.
template <class F>
fired fired_by(F&& body) {
  last_fire = {};
  uint32_t code = runtime::catch_region(RAISE_ERROR, body);
  if (!code) return {};
  runtime::rt.thrown = 0;
  return last_fire;
}

// A reference encoder for the exhaustive decoder test.
std::string encode(uint32_t cp) {
  uint8_t out[4];
  int n = unicode::cp_to_utf8(cp, out);
  return std::string(reinterpret_cast<char*>(out), size_t(n));
}

}  // namespace

TEST_F(Unicode, FastDecoderAcceptsEveryScalarValueAndRejectsMalformedInput) {
  for (uint32_t cp = 0; cp <= 0x10FFFF; cp++) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string s = encode(cp);
    int32_t out;
    const uint8_t* end = unicode::fast_decode_utf8_char(bytes(s), bytes(s) + s.size(), &out);
    ASSERT_EQ(uint32_t(out), cp);
    ASSERT_EQ(end, bytes(s) + s.size());
  }
  struct Case {
    std::string text;
    size_t consumed;
  } rejected[] = {
      {"\x80", 1},             // a follower alone
      {"\xC0\x80", 1},         // overlong lead rejected by itself
      {"\xED\xA0\x80", 2},     // surrogate: rejected at the second byte
      {"\xF4\x90\x80\x80", 2}, // above 0x10FFFF
      {"\xE2\x82", 2},         // cut by the end of the input
      {"\xE2\x41", 2},         // a follower missing
      {"\xFF", 1},
  };
  for (const Case& c : rejected) {
    int32_t out = 0;
    const uint8_t* end = unicode::fast_decode_utf8_char(bytes(c.text), bytes(c.text) + c.text.size(), &out);
    EXPECT_EQ(out, -1) << c.text.size();
    EXPECT_EQ(size_t(end - bytes(c.text)), c.consumed);
  }
  std::string mixed = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(unicode::count_chars(bytes(mixed), bytes(mixed) + mixed.size()), 5u);
  EXPECT_EQ(unicode::skip_chars(bytes(mixed), bytes(mixed) + mixed.size(), 3), bytes(mixed) + 6);
  EXPECT_EQ(unicode::skip_chars(bytes(mixed), bytes(mixed) + mixed.size(), 99),
            bytes(mixed) + mixed.size());
  // A sequence cut by the end never reads past it.
  EXPECT_EQ(unicode::count_chars(bytes(mixed), bytes(mixed) + 8), 4u);
  EXPECT_EQ(unicode::utf8_char_size(0xF0), 4);
  EXPECT_EQ(unicode::utf8_char_size(0xE2), 3);
  EXPECT_EQ(unicode::utf8_char_size(0xC3), 2);
  EXPECT_EQ(unicode::utf8_char_size(0x80), 0);
}

TEST_F(Unicode, ValidatingDecoder) {
  struct Case {
    std::string text;
    int32_t cp;
    int32_t length;
  } cases[] = {
      {"A", 'A', 1},
      {"\xC0\x80", 0, 2},           // overlong forms are accepted
      {"\xED\xA0\x80", 0xD800, 3},  // high surrogates too
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
  };
  for (const Case& c : cases) {
    int32_t count = int32_t(c.text.size());
    EXPECT_EQ(unicode::decode_utf8_char(bytes(c.text), &count), c.cp);
    EXPECT_EQ(count, c.length);
  }
  int32_t count = 2;
  EXPECT_EQ(unicode::decode_utf8_char(bytes("\xE2\x82\xAC"), &count), -1);  // needs 3
  for (std::string bad : {"\x80", "\xED\xB0\x80", "\xF4\x90\x80\x80", "\xF8\x80\x80\x80\x80",
                          "\xC3\x41"}) {
    fired f = fired_by([&] {
      int32_t n = int32_t(bad.size());
      unicode::decode_utf8_char(bytes(bad), &n);
    });
    EXPECT_EQ(f.category, err::ACCESS);
    EXPECT_EQ(f.id, err::access::INVALID_UTF8);
  }
}

TEST_F(Unicode, LoadingChoosesTheUnitFromTheWidestCharacter) {
  struct Case {
    std::string text;
    uint32_t unit;
    std::vector<uint32_t> chars;
  } cases[] = {
      {"\xC3\xA9", 1, {0xE9}},
      {"\xE2\x82\xAC", 2, {0x20AC}},
      {"a\xC3\xA9\xF0\x9F\x98\x80", 4, {'a', 0xE9, 0x1F600}},
      {"\xEF\xBB\xBF", 1, {}},  // a byte-order mark alone
      {"\xEF\xBB\xBFhi", 1, {'h', 'i'}},
      {"", 1, {}},
      {"plain ascii text longer than eight bytes", 1, {}},
  };
  for (const Case& c : cases) {
    uint32_t remainder = 99;
    node_t s = unicode::load_utf8(bytes(c.text), uint32_t(c.text.size()), 0, &remainder, false);
    EXPECT_EQ(memory::buffer(s)->unit(), c.unit) << c.text;
    EXPECT_EQ(remainder, 0u);
    if (!c.chars.empty()) {
      EXPECT_EQ(chars_of(s), c.chars) << c.text;
    }
  }
  EXPECT_EQ(chars_of(unicode::load_utf8_new(bytes("plain ascii text"), 16)).size(), 16u);
}

TEST_F(Unicode, LoadingAChunkReportsTheBytesLeft) {
  std::string text = "ab\xE2\x82";
  uint32_t remainder = 0;
  node_t s = unicode::load_utf8(bytes(text), uint32_t(text.size()), 0, &remainder, false);
  EXPECT_EQ(remainder, 2u);
  EXPECT_EQ(chars_of(s), (std::vector<uint32_t>{'a', 'b'}));
  // Invalid text raises before the target changes.
  node_t target = unicode::load_utf8_new(bytes("keep"), 4);
  fired f = fired_by([&] { unicode::load_utf8(bytes("ok\xFF"), 3, target, nullptr, false); });
  EXPECT_EQ(f.id, err::access::INVALID_UTF8);
  EXPECT_EQ(chars_of(target).size(), 4u);
}

TEST_F(Unicode, LoadingConvertsLineEnds) {
  std::string text = "a\r\nb\rc\n\r\r\nlong line of text\r\n";
  node_t s = unicode::load_utf8(bytes(text), uint32_t(text.size()), 0, nullptr, true);
  std::string got;
  for (uint32_t c : chars_of(s)) got += char(c);
  EXPECT_EQ(got, "a\nb\nc\n\n\nlong line of text\n");
}

TEST_F(Unicode, LoadingIntoATargetKeepsItsNodeAndUnit) {
  node_t target = unicode::load_utf8_new(bytes("\xE2\x82\xAC"), 3);  // unit 2
  Cell cell = string_of(target);
  std::string text = "longer text that must grow the buffer";
  EXPECT_EQ(unicode::load_utf8_into(bytes(text), uint32_t(text.size()), &cell, nullptr), target);
  EXPECT_EQ(memory::buffer(target)->unit(), 2u);
  EXPECT_EQ(chars_of(target).size(), text.size());
  // From a series source that moves while the string is allocated.
  node_t source = memory::alloc_bytes(64);
  std::memcpy(memory::buffer(source)->data(), "xx\xC3\xA9t\xF0\x9F\x98\x80", 9);
  uint32_t saved = memory::stress_interval;
  memory::stress_interval = 1;
  node_t s = unicode::load_utf8_from(source, 2, 7, 0, nullptr, false);
  memory::stress_interval = saved;
  EXPECT_EQ(chars_of(s), (std::vector<uint32_t>{0xE9, 't', 0x1F600}));
}

TEST_F(Unicode, WideningKeepsEveryCharacter) {
  std::string latin = "caf\xC3\xA9 \xC3\xBF";
  node_t s = unicode::load_utf8_new(bytes(latin), uint32_t(latin.size()));
  std::vector<uint32_t> before = chars_of(s);
  unicode::latin1_to_ucs2(s);
  EXPECT_EQ(memory::buffer(s)->unit(), 2u);
  EXPECT_EQ(chars_of(s), before);
  unicode::ucs2_to_ucs4(s);
  EXPECT_EQ(memory::buffer(s)->unit(), 4u);
  EXPECT_EQ(chars_of(s), before);
  node_t t = unicode::load_utf8_new(bytes(latin), uint32_t(latin.size()));
  unicode::latin1_to_ucs4(t);
  EXPECT_EQ(chars_of(t), before);
  EXPECT_GE(memory::buffer(t)->size, 4 * before.size() + 4);
  EXPECT_EQ(unicode::widen(t, 2), memory::buffer(t));  // never narrows
}

TEST_F(Unicode, EncodesUtf8) {
  uint8_t out[4];
  struct Case {
    uint32_t cp;
    int size;
  } cases[] = {{0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(unicode::cp_to_utf8_size(c.cp), c.size);
    EXPECT_EQ(unicode::cp_to_utf8(c.cp, out), c.size);
  }
  EXPECT_EQ(unicode::cp_to_utf8_bounded(0x20AC, out, 2), 2);
  EXPECT_EQ(out[0], 0xE2);
  for (auto f : {+[] { unicode::cp_to_utf8_size(0x110000); },
                 +[] { uint8_t o[4]; unicode::cp_to_utf8(0x110000, o); }}) {
    fired e = fired_by(f);
    EXPECT_EQ(e.category, err::SCRIPT);
    EXPECT_EQ(e.id, err::script::INVALID_CHAR);
  }
}

TEST_F(Unicode, ConvertsStringsThroughTheCache) {
  std::string text = "h\xC3\xA9llo\n\xE2\x82\xAC";
  Cell s = string_of(unicode::load_utf8_new(bytes(text), uint32_t(text.size())));
  int32_t length = -1;
  const char* utf8 = unicode::to_utf8(&s, &length);
  EXPECT_EQ(std::string(utf8, size_t(length)), text);
  EXPECT_EQ(utf8[length], 0);
  node_t cache = s.w3;
  EXPECT_NE(cache, 0u);
  length = -1;
  utf8 = unicode::to_utf8_part(&s, &length, true);
  EXPECT_EQ(std::string(utf8), "h\xC3\xA9llo\r\n\xE2\x82\xAC");
  EXPECT_EQ(s.w3, cache);  // reused
  length = 2;
  EXPECT_EQ(std::string(unicode::to_utf8(&s, &length)), "h\xC3\xA9");
  s.w1 = 1;  // from the head
  length = -1;
  EXPECT_EQ(std::string(unicode::to_utf8(&s, &length)), "\xC3\xA9llo\n\xE2\x82\xAC");
  uint8_t buffer[64];
  EXPECT_EQ(unicode::to_utf8_buffer(&s, buffer, 3, true), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "\xC3\xA9ll");
  // The checked form cuts the last sequence at the room left.
  EXPECT_EQ(unicode::to_utf8_checked(&s, buffer, 1, -1, false), 1u);
  EXPECT_EQ(unicode::to_utf8_checked(&s, buffer, 9, -1, true), 9u);
  EXPECT_EQ(unicode::utf8_size(memory::buffer(s.w2)->head_ptr(), memory::buffer(s.w2)->tail_ptr(),
                               memory::buffer(s.w2)->unit()),
            text.size());
}

TEST_F(Unicode, Utf16) {
  std::string text = "a\n\xF0\x90\x80\x80" "b\n";
  Cell s = string_of(unicode::load_utf8_new(bytes(text), uint32_t(text.size())));
  const uint16_t* w = unicode::to_utf16(&s);
  std::vector<uint16_t> got(w, w + 8);
  EXPECT_EQ(got, (std::vector<uint16_t>{'a', '\r', '\n', 0xD800, 0xDC00, 'b', '\r', '\n'}));
  EXPECT_EQ(w[8], 0);
  int32_t length = 3;
  w = unicode::to_utf16_len(&s, &length, false);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(w[3], 0xDC00);

  struct Case {
    std::vector<uint16_t> units;
    uint32_t unit;
    std::vector<uint32_t> chars;
  } cases[] = {
      {{'h', 'i'}, 1, {'h', 'i'}},
      {{'h', 0x20AC}, 2, {'h', 0x20AC}},
      {{0xD83D, 0xDE00, 'x'}, 4, {0x1F600, 'x'}},
      {{0xDC00, 'x'}, 4, {0xDC00, 'x'}},    // lone low surrogate kept
      {{'x', 0xD800}, 4, {'x', 0xD800}},    // lone high surrogate at the end kept
      {{0xD800, 'y', 0xD801}, 4, {0xD800, 'y', 0xD801}},
      {{'a', '\r', '\n'}, 1, {'a', '\r', '\n'}},
  };
  for (const Case& c : cases) {
    node_t n = unicode::load_utf16(c.units.data(), uint32_t(c.units.size()), 0, false);
    EXPECT_EQ(memory::buffer(n)->unit(), c.unit);
    EXPECT_EQ(chars_of(n), c.chars);
    EXPECT_TRUE(memory::buffer(n)->flags & unicode::SERIES_UTF16);
  }
  uint16_t crlf[] = {'a', '\r', '\n', 'b'};
  EXPECT_EQ(chars_of(unicode::load_utf16(crlf, 4, 0, true)), (std::vector<uint32_t>{'a', '\n', 'b'}));
  uint16_t out[3];
  EXPECT_EQ(unicode::cp_to_utf16(0x10FFFF, out), 2);
  EXPECT_EQ(out[0], 0xDBFF);
  EXPECT_EQ(out[1], 0xDFFF);
  EXPECT_EQ(unicode::cp_to_utf16(0x110000, out), 0);
  unicode::ascii_to_utf16("ok", out);
  EXPECT_EQ(out[1], 'k');
  EXPECT_EQ(out[2], 0);
}
