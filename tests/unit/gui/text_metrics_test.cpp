// Text measured in display columns: extents with and without wrapping, the
// column limit, caret offsets and the index under a point; and the key
// words of backend events.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "gui/event.h"
#include "gui/terminal/text_metrics.h"
#include "test_support.h"
#include "values/symbol.h"

namespace kez::gui::text {
namespace {

// The span of a text that lives as long as the test's strings.
span of32(const std::u32string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), 4, uint32_t(s.size())};
}
const std::u32string TWO_LINES = U"ab\ncde", SIX = U"abcdef", WIDE = U"\u65E5\u672C",
                     TRAILING = U"ab\n", EMPTY = U"";

struct extent_case {
  std::u32string text;
  int32_t wrap;
  int32_t width, lines;
  uint32_t chars;
};

TEST(TextMetrics, Extents) {
  const extent_case cases[] = {
      {U"", NO_WRAP, 0, 1, 0},
      {U"ab\ncde", NO_WRAP, 3, 2, 6},
      {U"ab\n", NO_WRAP, 2, 2, 3},
      {U"\u65E5\u672C", NO_WRAP, 4, 1, 2},           // wide
      {U"e\u0301\u200Bx", NO_WRAP, 2, 1, 4},         // zero-width
      {U"abcdef", 3, 3, 2, 6},
      {U"abcdef", 0, 0, 1, 0},                       // nothing fits
      {U"a\u65E5\u672C", 2, 2, 3, 3},                // wide characters wrap alone
      {U"ab\u65E5", 1, 1, 2, 2},                     // a wide one fits no line: stop
      {U"ab\ncdef", 2, 2, 3, 7},
  };
  for (const auto& c : cases) {
    extent e = measure(of32(c.text), c.wrap);
    EXPECT_EQ(e.width, c.width) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(e.lines, c.lines);
    EXPECT_EQ(e.chars, c.chars);
  }
}

TEST(TextMetrics, ColumnLimitTakesBackTheCharacterThatCrossesIt) {
  extent e = measure_to(of32(SIX), 3);
  EXPECT_EQ(e.width, 3);
  EXPECT_EQ(e.chars, 3u);
  const std::u32string mixed = U"a\u65E5b";
  e = measure_to(of32(mixed), 2);
  EXPECT_EQ(e.width, 1);
  EXPECT_EQ(e.chars, 1u);
  const std::u32string lines = U"abc\nde";
  e = measure_to(of32(lines), 3);
  EXPECT_EQ(e.lines, 2);
  EXPECT_EQ(e.chars, 6u);
  EXPECT_EQ(measure_to(of32(SIX), 0).chars, 0u);
}

TEST(TextMetrics, CaretOffsets) {
  span t = of32(TWO_LINES);
  struct {
    int32_t index, column, line;
  } cases[] = {{1, 0, 0}, {2, 1, 0}, {3, 2, 0}, {4, 0, 1}, {6, 2, 1}, {7, 3, 1}, {99, 3, 1}, {0, 0, 0}};
  for (auto c : cases) {
    position p = offset_of(t, NO_WRAP, c.index);
    EXPECT_EQ(p.column, c.column) << c.index;
    EXPECT_EQ(p.line, c.line) << c.index;
  }
  position p = offset_of(of32(SIX), 3, 4);
  EXPECT_EQ(p.column, 0);
  EXPECT_EQ(p.line, 1);
  p = offset_of(of32(TRAILING), NO_WRAP, 4);
  EXPECT_EQ(p.column, 0);
  EXPECT_EQ(p.line, 1);
}

TEST(TextMetrics, IndexUnderAPoint) {
  span t = of32(TWO_LINES);
  EXPECT_EQ(index_at(t, NO_WRAP, 0, 0, false), 1u);
  EXPECT_EQ(index_at(t, NO_WRAP, 1, 0, false), 2u);
  EXPECT_EQ(index_at(t, NO_WRAP, 9, 0, false), 3u);  // the line feed ends line 0
  EXPECT_EQ(index_at(t, NO_WRAP, 1, 1, false), 5u);
  EXPECT_EQ(index_at(t, NO_WRAP, 9, 1, false), 7u);
  EXPECT_EQ(index_at(t, NO_WRAP, 9, 1, true), 6u);
  EXPECT_EQ(index_at(t, NO_WRAP, 0, -1, false), 1u);
  span wide = of32(WIDE);
  EXPECT_EQ(index_at(wide, NO_WRAP, 1, 0, false), 1u);
  EXPECT_EQ(index_at(wide, NO_WRAP, 2, 0, false), 2u);
  span wrapped = of32(SIX);
  EXPECT_EQ(index_at(wrapped, 3, 5, 0, false), 4u);  // past a wrapped line's end
  EXPECT_EQ(index_at(wrapped, 3, 1, 1, false), 5u);
  EXPECT_EQ(index_at(of32(EMPTY), NO_WRAP, 0, 0, true), 0u);
}

// Registers event! and checks the key words; exits 0 when all are right.
[[noreturn]] void check_key_words() {
  test::ensure_runtime();
  event::init();
  auto name = [](int32_t code) {
    Cell v = event::key_value(code);
    if (TYPE_OF(&v) == TYPE_CHAR) return "char " + std::to_string(v.w2);
    if (TYPE_OF(&v) == TYPE_NONE) return std::string("none");
    return std::string(symbol::to_cstr(v.w2));
  };
  const std::pair<int32_t, std::string> cases[] = {
      {-20, "up"}, {-29, "page-down"}, {-30, "none"}, {-31, "F1"},
      {-42, "F12"}, {-43, "none"},     {-1, "none"},  {65, "char 65"}};
  for (const auto& [code, want] : cases) {
    if (name(code) == want) continue;
    std::fprintf(stderr, "key %d gives %s\n", code, name(code).c_str());
    std::exit(1);
  }
  std::exit(0);
}

// In a child process: registering event! changes the process's action
// table, which other tests rely on.
TEST(EventKeys, SpecialKeysAreWordsOthersChars) {
  EXPECT_EXIT(check_key_words(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kez::gui::text
