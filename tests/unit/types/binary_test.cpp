// The byte routines other modules call on binaries (I/O, checksums, the
// serializer), and the value-to-bytes rules in their counting and writing
// modes. The datatype's actions are tested through scripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../values/value_test_support.h"
#include "types/binary.h"
#include "values/error_ids.h"

using namespace kez;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Binaries : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

std::string hex(Cell* bin) {
  std::string s;
  const uint8_t* p = binary::rs_head(bin);
  for (uint32_t i = 0; i < binary::rs_length(bin); i++) s += string::byte_to_hex(p[i]);
  return s;
}

}  // namespace

TEST_F(Binaries, ByteRoutines) {
  const uint8_t ab[] = {0xAA, 0xBB};
  Cell* b = binary::push_bytes(ab, 2);
  binary::append_int32(b, -2);
  EXPECT_EQ(hex(b), "AABBFFFFFFFE");
  b->w1 = 1;
  binary::rs_insert(b, 1, ab, 2);  // at head + 1
  EXPECT_EQ(hex(b), "BBAABBFFFFFFFE");
  binary::rs_overwrite(b, 6, ab, 2);  // ends past the tail: the tail moves
  EXPECT_EQ(hex(b), "BBAABBFFFFFFAABB");
  binary::rs_append(b, ab, 1);
  b->w1 = 3;
  binary::rs_clear(b);
  b->w1 = 0;
  EXPECT_EQ(hex(b), "AABBAA");
  Cell* block = block::push_only(1);
  Cell* made = binary::make_in(block, 0);
  EXPECT_EQ(TYPE_OF(made), TYPE_BINARY);
  EXPECT_EQ(binary::rs_length(made), 0u);
}

TEST_F(Binaries, GetBytesCountsWritesAndChecksFirst) {
  Cell* block = block::push_only(4);
  Cell items[] = {make_integer(1), make_char(0xE9), make_integer(255)};
  for (Cell& c : items) block::rs_append(block, &c);
  EXPECT_EQ(binary::get_bytes(nullptr, block, -1, false), 4u);
  std::vector<uint8_t> out;
  EXPECT_EQ(binary::get_bytes(&out, block, 2, false), 3u);  // part counts values
  EXPECT_EQ(out, (std::vector<uint8_t>{1, 0xC3, 0xA9}));

  Cell bad = make_integer(300);
  block::rs_append(block, &bad);
  out.clear();
  EXPECT_TRUE(raises(raised([&] { binary::get_bytes(nullptr, block, -1, false); }), err::SCRIPT,
                     err::script::INVALID_ARG));
  Cell f = make_float(1.5);
  EXPECT_TRUE(raises(raised([&] { binary::get_bytes(&out, &f, -1, false); }), err::SCRIPT,
                     err::script::BAD_TO_ARG));
  EXPECT_EQ(binary::get_bytes(&out, &f, -1, true), 3u);
  EXPECT_EQ(std::string(out.begin(), out.end()), "1.5");
}

TEST_F(Binaries, PrefixMatchAndBitsets) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  Cell* b = binary::push_bytes(abc, 3);
  Cell* ab = string::load("ab");
  Cell* empty = string::load("");
  Cell* longer = string::load("abcd");
  EXPECT_EQ(binary::compare_bytes(b, ab, COMP_FIND, true), 0);
  EXPECT_EQ(binary::compare_bytes(b, empty, COMP_FIND, true), 0);
  EXPECT_EQ(binary::compare_bytes(b, empty, COMP_LESSER, true), 1);
  EXPECT_EQ(binary::compare_bytes(b, longer, COMP_FIND, true), 1);
  Cell c = make_char('a'), i = make_integer(97);
  EXPECT_TRUE(binary::match_q(b, &c, COMP_EQUAL));
  EXPECT_FALSE(binary::match_q(b, &i, COMP_EQUAL));

  // A one-byte bitset holding 'a' (97 lies beyond it: the complement flag answers).
  Cell* bits = stack::push_unset();
  *bits = Cell{TYPE_BITSET, 0, memory::alloc_bytes(1), 0};
  GET_BUFFER(bits)->data()[0] = 0x80;
  GET_BUFFER(bits)->tail = 1;
  EXPECT_FALSE(binary::match_bitset_q(b, bits));
  GET_BUFFER(bits)->flags |= SERIES_COMPLEMENT;
  EXPECT_TRUE(binary::match_bitset_q(b, bits));
}
