// Case folding and character widths: the generated tables, the lookups and
// the case change of chars and strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/casefold.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "foundation/unicode.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/error_ids.h"

using namespace kez;

namespace {

struct CaseFolding : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell make_string(const std::string& utf8) {
  return make_series(TYPE_STRING, unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()),
                                                         uint32_t(utf8.size())));
}

std::vector<uint32_t> chars_of(const Cell& s) {
  series_buffer* b = GET_BUFFER(&s);
  std::vector<uint32_t> out;
  for (uint32_t off = b->head; off < b->tail; off += b->unit())
    out.push_back(unicode::get_char(b->data() + off, b->unit()));
  return out;
}

size_t changed(const std::array<uint16_t, 65536>& table) {
  size_t n = 0;
  for (uint32_t c = 0; c < 65536; c++) n += table[c] != c;
  return n;
}

}  // namespace

TEST_F(CaseFolding, TablesHoldThePairsOfTheFrozenVersion) {
  EXPECT_EQ(changed(case_folding::upper_table), 1250u);
  EXPECT_EQ(changed(case_folding::lower_table), 1158u);
  EXPECT_EQ(unicode::wide_table().size(), 122u);
  auto first_last = [](std::span<const unicode::code_range> t, size_t i) {
    return std::pair{t[i][0], t[i][1]};
  };
  auto zero = unicode::zero_width_table();
  EXPECT_EQ(first_last(zero, 0), std::pair(0x300u, 0x36Fu));
  EXPECT_EQ(first_last(zero, 1), std::pair(0x483u, 0x489u));
  EXPECT_EQ(first_last(zero, 2), std::pair(0x591u, 0x5BDu));
  EXPECT_EQ(first_last(zero, zero.size() - 3), std::pair(0x1E8D0u, 0x1E8D6u));
  EXPECT_EQ(first_last(zero, zero.size() - 2), std::pair(0x1E944u, 0x1E94Au));
  EXPECT_EQ(first_last(zero, zero.size() - 1), std::pair(0xE0100u, 0xE01EFu));
  auto wide = unicode::wide_table();
  EXPECT_EQ(first_last(wide, 0), std::pair(0x1100u, 0x115Fu));
  EXPECT_EQ(first_last(wide, 1), std::pair(0x231Au, 0x231Bu));
  EXPECT_EQ(first_last(wide, wide.size() - 3), std::pair(0x1FAF0u, 0x1FAF6u));
  EXPECT_EQ(first_last(wide, wide.size() - 1), std::pair(0x30000u, 0x3FFFDu));
  auto ambiguous = unicode::ambiguous_table();
  EXPECT_EQ(first_last(ambiguous, 0), std::pair(0xA1u, 0xA1u));
  EXPECT_EQ(first_last(ambiguous, 2), std::pair(0xA7u, 0xA8u));
  EXPECT_EQ(first_last(ambiguous, ambiguous.size() - 3), std::pair(0xFFFDu, 0xFFFDu));
  EXPECT_EQ(first_last(ambiguous, ambiguous.size() - 1), std::pair(0x100000u, 0x10FFFDu));
  for (auto t : {zero, wide, ambiguous})
    for (size_t i = 0; i < t.size(); i++) {
      EXPECT_LE(t[i][0], t[i][1]);
      if (i) {
        EXPECT_GT(t[i][0], t[i - 1][1] + 1) << "ranges must be disjoint and merged";
      }
    }
}

TEST_F(CaseFolding, ConvertsCodePoints) {
  struct Case {
    uint32_t cp, upper, lower;
  } cases[] = {
      {'a', 'A', 'a'},       {'Z', 'Z', 'z'},         {0xDF, 0x53, 0xDF},
      {0x149, 0x2BC, 0x149}, {0xFF, 0x178, 0xFF},     {0x3A9, 0x3A9, 0x3C9},
      {0x1E943, 0x1E921, 0x1E943}, {0x1E921, 0x1E921, 0x1E943},
      {0x10428, 0x10400, 0x10428}, {0xFF41, 0xFF21, 0xFF41}, {0x4E00, 0x4E00, 0x4E00},
      {0x1F600, 0x1F600, 0x1F600}, {0x110000, 0x110000, 0x110000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(case_folding::to_upper(c.cp), c.upper) << std::hex << c.cp;
    EXPECT_EQ(case_folding::to_lower(c.cp), c.lower) << std::hex << c.cp;
  }
  EXPECT_EQ(case_folding::swap_case('a'), uint32_t('A'));
  EXPECT_EQ(case_folding::swap_case('A'), uint32_t('a'));
  EXPECT_EQ(case_folding::swap_case('1'), uint32_t('1'));
}

TEST_F(CaseFolding, Widths) {
  struct Case {
    uint32_t cp;
    int width, cjk;
  } cases[] = {
      {0, 0, 0},        {7, 1, 1},        {'a', 1, 1},      {0x9F, 1, 1},     {0xA1, 1, 2},
      {0x301, 0, 0},    {0x4E00, 2, 2},   {0x1160, 0, 0},   {0xD7B0, 0, 0},   {0x200B, 0, 0},
      {0xFE0F, 0, 0},   {0x1F600, 2, 2},  {0x20000, 2, 2},  {0x3FFFD, 2, 2},  {0xE0100, 0, 0},
      {0x1FAF7, 1, 1},  {0x10FFFD, 1, 2}, {0x110000, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
    EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
  }
}

TEST_F(CaseFolding, ChangesCharsAndStrings) {
  Cell c = make_char(0x3A9);
  case_folding::change_case(&c, nullptr, false);
  EXPECT_EQ(c.w2, 0x3C9u);

  Cell s = make_string("stra\xC3\x9F" "e");
  case_folding::change_case(&s, nullptr, true);
  EXPECT_EQ(chars_of(s), (std::vector<uint32_t>{'S', 'T', 'R', 'A', 'S', 'E'}));

  // Upper-casing U+00FF widens a unit-1 string.
  Cell y = make_string("a\xC3\xBF");
  EXPECT_EQ(GET_UNIT(&y), 1u);
  case_folding::change_case(&y, nullptr, true);
  EXPECT_EQ(GET_UNIT(&y), 2u);
  EXPECT_EQ(chars_of(y), (std::vector<uint32_t>{'A', 0x178}));

  Cell abc = make_string("abc");
  Cell two = make_integer(2);
  case_folding::change_case(&abc, &two, true);
  EXPECT_EQ(chars_of(abc), (std::vector<uint32_t>{'A', 'B', 'c'}));

  // /part as a position in the same string, from the head; past the tail
  // stops at the tail; negative counts as nothing.
  Cell word = make_string("hello");
  word.w1 = 1;
  Cell at = word;
  at.w1 = 3;
  case_folding::change_case(&word, &at, true);
  EXPECT_EQ(chars_of(word), (std::vector<uint32_t>{'h', 'E', 'L', 'l', 'o'}));
  Cell many = make_integer(1000), negative = make_integer(-5);
  case_folding::change_case(&word, &many, true);
  EXPECT_EQ(chars_of(word), (std::vector<uint32_t>{'h', 'E', 'L', 'L', 'O'}));
  case_folding::change_case(&word, &negative, false);
  EXPECT_EQ(chars_of(word), (std::vector<uint32_t>{'h', 'E', 'L', 'L', 'O'}));

  // A /part series of another string is refused before anything changes.
  Cell other = make_string("zz");
  last_fire = {};
  uint32_t code = runtime::catch_region(RAISE_ERROR, [&] { case_folding::change_case(&abc, &other, false); });
  runtime::rt.thrown = 0;
  EXPECT_EQ(code, RAISE_ERROR);
  EXPECT_EQ(last_fire.id, err::script::INVALID_PART);
  EXPECT_EQ(chars_of(abc), (std::vector<uint32_t>{'A', 'B', 'c'}));
}
