// The LZ decoder: the code table, block boundaries, round trips through a
// reference encoder written here from the format, and truncated or forged
// streams that must all answer null.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/lz.h"

using namespace kez;

namespace {

// Writes codes least significant bit first.
struct bit_writer {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  void put(uint32_t value, int count) {
    for (int i = 0; i < count; i++, bits++) {
      if (bits % 8 == 0) bytes.push_back(0);
      bytes.back() |= uint8_t(((value >> i) & 1) << (bits % 8));
    }
  }
  void literal(uint8_t b) {
    put(0, 1);
    put(b, 8);
  }
  // Copies `length` bytes (3-566) from `back` bytes back (1-262144).
  void reference(uint32_t length, uint32_t back) {
    put(1, 1);
    uint32_t extra = length - 3;
    if (extra < 4) {
      put(1, 1), put(extra, 2);
    } else if (extra < 8) {
      put(0b10, 2), put(extra - 4, 2);
    } else if (extra < 12) {
      put(0b100, 3), put(extra - 8, 2);
    } else if (extra < 20) {
      put(0b1000, 4), put(extra - 12, 3);
    } else if (extra < 52) {
      put(0b10000, 5), put(extra - 20, 5);
    } else {
      put(0, 5), put(extra - 52, 9);
    }
    uint32_t d = back - 1;
    if (d < 8) {
      put(0, 4), put(d, 3);
    } else {
      int j = 31 - __builtin_clz(d);
      put(uint32_t(j - 2), 4), put(d - (1u << j), j);
    }
  }
};

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}

// A stream from blocks of (length, codes).
std::vector<uint8_t> stream(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& blocks,
                            uint32_t declared) {
  std::vector<uint8_t> area;
  for (auto& [length, codes] : blocks) {
    put32(area, length);
    area.insert(area.end(), codes.begin(), codes.end());
  }
  std::vector<uint8_t> out;
  put32(out, uint32_t(area.size()));
  put32(out, declared);
  out.insert(out.end(), area.begin(), area.end());
  return out;
}

// A greedy encoder: the longest earlier match in the block (within `window`
// bytes back), else a literal.
std::vector<uint8_t> compress(const std::vector<uint8_t>& data, uint32_t block_size, uint32_t window) {
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> blocks;
  for (size_t start = 0; start < data.size(); start += block_size) {
    size_t end = std::min(data.size(), start + block_size);
    bit_writer w;
    for (size_t i = start; i < end;) {
      uint32_t best = 0, best_back = 0;
      size_t from = i - start > window ? i - window : start;
      for (size_t j = from; j < i; j++) {
        uint32_t n = 0;
        while (i + n < end && n < 566 && data[j + n] == data[i + n]) n++;
        if (n > best) best = n, best_back = uint32_t(i - j);
      }
      if (best >= 3) {
        w.reference(best, best_back);
        i += best;
      } else {
        w.literal(data[i++]);
      }
    }
    blocks.push_back({uint32_t(end - start), w.bytes});
  }
  return stream(blocks, uint32_t(data.size()));
}

// Decodes; answers the bytes, or "corrupt".
std::string decode(const std::vector<uint8_t>& s) {
  uint32_t size = 0xDEAD;
  uint8_t* out = lz_codec::decompress(s.data(), s.size(), &size);
  if (!out) return "corrupt";
  std::string r(reinterpret_cast<char*>(out), size);
  lz_codec::free_buffer(out);
  return r;
}

}  // namespace

TEST(LzCodec, DecodesTheCodeTable) {
  EXPECT_EQ(decode(stream({}, 0)), "");
  bit_writer one;
  one.literal('k');
  EXPECT_EQ(decode(stream({{1, one.bytes}}, 1)), "k");
  // The smallest reference: bits 1, 1, 00, then distance 0000 and 000.
  bit_writer smallest;
  smallest.literal('x');
  smallest.put(0b1, 1), smallest.put(0b1, 1), smallest.put(0, 2), smallest.put(0, 4), smallest.put(0, 3);
  EXPECT_EQ(smallest.bytes.size(), 3u);
  EXPECT_EQ(decode(stream({{4, smallest.bytes}}, 4)), "xxxx");
  // Every length code and a reference that overlaps what it produces.
  for (uint32_t length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 566u}) {
    bit_writer w;
    w.literal('a'), w.literal('b');
    w.reference(length, 2);
    std::string expected = "ab";
    for (uint32_t i = 0; i < length; i++) expected += expected[i];
    EXPECT_EQ(decode(stream({{length + 2, w.bytes}}, length + 2)), expected) << length;
  }
}

TEST(LzCodec, RoundTripsThroughAReferenceEncoder) {
  std::mt19937 rng(1);
  std::vector<uint8_t> text;
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "\n", "epsilon "};
  while (text.size() < 60000) {
    const char* w = words[rng() % 6];
    text.insert(text.end(), w, w + std::strlen(w));
    if (rng() % 50 == 0) text.push_back(uint8_t(rng()));
  }
  for (uint32_t block : {1000u, 7777u, 1u << 20}) {
    std::vector<uint8_t> s = compress(text, block, 300);
    EXPECT_EQ(decode(s), std::string(text.begin(), text.end())) << block;
  }
  // Distances across the whole range: a random block repeated far away.
  std::vector<uint8_t> far(300000);
  for (auto& b : far) b = uint8_t(rng());
  std::copy(far.begin(), far.begin() + 1000, far.begin() + 262144);
  bit_writer w;
  for (uint32_t i = 0; i < 262144; i++) w.literal(far[i]);
  for (uint32_t done = 0; done < 1000;) {
    uint32_t n = std::min(566u, 1000 - done);
    w.reference(n, 262144);
    done += n;
  }
  std::vector<uint8_t> expected(far.begin(), far.begin() + 263144);
  EXPECT_EQ(decode(stream({{263144, w.bytes}}, 263144)), std::string(expected.begin(), expected.end()));
}

TEST(LzCodec, BlocksDecodeByThemselves) {
  bit_writer first, second;
  first.literal('a'), first.literal('b'), first.literal('c');
  second.reference(3, 3);  // would reach into the first block
  EXPECT_EQ(decode(stream({{3, first.bytes}, {3, second.bytes}}, 6)), "corrupt");
  bit_writer own;
  own.literal('d'), own.reference(3, 1);
  EXPECT_EQ(decode(stream({{3, first.bytes}, {4, own.bytes}}, 7)), "abcdddd");
}

TEST(LzCodec, RefusesCorruptStreams) {
  bit_writer w;
  w.literal('x');
  // Block lengths 0 and 1,048,577; output beyond the declared size + 8.
  EXPECT_EQ(decode(stream({{0, w.bytes}}, 0)), "corrupt");
  EXPECT_EQ(decode(stream({{lz_codec::MAX_BLOCK + 1, w.bytes}}, lz_codec::MAX_BLOCK + 1)), "corrupt");
  bit_writer runs;
  runs.literal('x');
  for (int i = 0; i < 4; i++) runs.reference(566, 1);
  EXPECT_EQ(decode(stream({{2265, runs.bytes}}, 2265)).size(), 2265u);
  EXPECT_EQ(decode(stream({{2265, runs.bytes}}, 2256)), "corrupt");
  // A reference before the block's start, and one running past its end.
  bit_writer early, late;
  early.literal('x'), early.reference(3, 2);
  EXPECT_EQ(decode(stream({{4, early.bytes}}, 4)), "corrupt");
  late.literal('x'), late.reference(5, 1);
  EXPECT_EQ(decode(stream({{4, late.bytes}}, 4)), "corrupt");
  // Headers that lie: an area longer than the data, a size no area of this
  // length could produce, and less than a header.
  std::vector<uint8_t> good = stream({{1, w.bytes}}, 1);
  std::vector<uint8_t> forged = good;
  forged[0] = 0xFF;
  EXPECT_EQ(decode(forged), "corrupt");
  forged = good;
  forged[4] = forged[5] = forged[6] = forged[7] = 0xFF;
  EXPECT_EQ(decode(forged), "corrupt");
  EXPECT_EQ(lz_codec::decompress(good.data(), 7, nullptr), nullptr);
  EXPECT_EQ(lz_codec::decompress(nullptr, 0, nullptr), nullptr);
}

TEST(LzCodec, TruncatedStreamsAreCorrupt) {
  std::vector<uint8_t> text(5000);
  std::mt19937 rng(9);
  for (auto& b : text) b = uint8_t("abcab"[rng() % 5]);
  std::vector<uint8_t> s = compress(text, 2000, 100);
  ASSERT_EQ(decode(s), std::string(text.begin(), text.end()));
  for (size_t cut = 0; cut < s.size(); cut++) {
    std::vector<uint8_t> head(s.begin(), s.begin() + long(cut));
    ASSERT_EQ(lz_codec::decompress(head.data(), head.size(), nullptr), nullptr) << cut;
    // The header mended to the shorter area: the codes run out, unless the
    // cut falls between two blocks, which leaves a shorter sound stream.
    if (cut >= 8) {
      uint32_t area = uint32_t(cut - 8);
      std::memcpy(head.data(), &area, 4);
      std::string got = decode(head);
      if (got != "corrupt") {
        ASSERT_EQ(got.size() % 2000, 0u) << cut;
        ASSERT_EQ(got, std::string(text.begin(), text.begin() + long(got.size())));
      }
    }
  }
  // Random bytes with a plausible header never crash.
  for (int i = 0; i < 2000; i++) {
    std::vector<uint8_t> junk(8 + rng() % 200);
    for (auto& b : junk) b = uint8_t(rng());
    uint32_t area = uint32_t(junk.size() - 8), declared = rng() % 5000;
    std::memcpy(junk.data(), &area, 4);
    std::memcpy(junk.data() + 4, &declared, 4);
    uint8_t* out = lz_codec::decompress(junk.data(), junk.size(), nullptr);
    lz_codec::free_buffer(out);
  }
}
