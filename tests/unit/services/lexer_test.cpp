// The lexer: text to values, syntax errors, scan modes and callbacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator/stack.h"
#include "lexer_support.h"
#include "test_support.h"
#include "values/block.h"
#include "values/string.h"

using namespace kez;

namespace {

struct Lexer : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

struct load_case {
  const char* text;
  const char* shown;
};

void expect_loads(const std::vector<load_case>& cases) {
  for (const auto& c : cases) EXPECT_EQ(test::load(c.text), c.shown) << "input: " << c.text;
}

}  // namespace

TEST_F(Lexer, Structure) {
  expect_loads({
      {"", ""},
      {"  \t\r\n ", ""},
      {"[1 [2 (3)] ()]", "[1 [2 (3)] ()]"},
      {"a/b/c", "a/b/c"},
      {"a/b/c: 1", "a/b/c: 1"},
      {"'a/b :a/b", "'a/b :a/b"},
      {"a/1/(b)/\"s\"", "a/1/(b)/\"s\""},
      {"(a/b) [x/y]", "(a/b) [x/y]"},
      {"#[a 1 \"k\" 2]", "#[a: 1 \"k\" 2]"},
      {"; comment\n1 ;two\n2", "1 2"},
      {"{a{b}c}", "\"a{b}c\""},
      {"{a^}b}", "\"a}b\""},
      {"(1, 2) (1, 2, 3) (1 2)", "(1, 2) (1, 2, 3) (1 2)"},
      {"( -1.5 ,2e1 )", "(-1.5, 20)"},
      {"#(true) #(FALSE) #(none) #(integer!) #(integer) #(unset)",
       "#(true) #(false) #(none) integer! integer! #(unset)"},
  });
}

TEST_F(Lexer, Words) {
  expect_loads({
      {"a b: :c 'd /e #f", "a b: :c 'd /e #f"},
      {"+ - * ** / // % < > <= >= <> = == =? |", "+ - * ** / // % < > <= >= <> = == =? |"},
      {"=: <>: +: %: /: **:", "=: <>: +: %: /: **:"},
      {"é\xC2\xA0" "b", "é b"},
      {"\xE3\x80\x80word", "word"},
      {"\xE3\x80\x80" "1", "1"},
      {"a.b a? a! _a", "a.b a? a! _a"},
  });
}

TEST_F(Lexer, Numbers) {
  expect_loads({
      {"0 7 -7 +7 2147483647 -2147483648", "0 7 -7 7 2147483647 -2147483648"},
      {"2147483648 -2147483649 12345678901", "2147483648.0 -2147483649.0 12345678901.0"},
      {"1'000'000 1'", "1000000 1"},
      {"1.5 .5 1. -0.25 1e3 1.5E-2 1'000.5", "1.5 0.5 1.0 -0.25 1000.0 0.015 1000.5"},
      {"0.1 0.30000000000000004", "0.1 0.30000000000000004"},
      {"1.#INF -1.#inf 1.#nan", "1.#INF -1.#INF 1.#NaN"},
      {"FFh 0FFh FFFFFFFFh 7FFFFFFFh 10h", "255 255 -1 2147483647 16"},
      {"10% 1.5% -50%", "pct:0.1 pct:0.015 pct:-0.5"},
  });
}

TEST_F(Lexer, Text) {
  expect_loads({
      {"\"\" \"abc\" \"a^\"b\" \"^-^/^^^{^}^~\"", "\"\" \"abc\" \"a\"b\" \"\t\n^{}\x7F\""},
      {"\"^(41)^(tab)^(TAB)^(del)\"", "\"A\t\t\x7F\""},
      {"\"é\" \"^(3A9)\"", "\"é\" \"Ω\""},
      {"%a.txt %\"a b\" %a%20b %%", "%a.txt %a b %a b %%"},
      {"http://x.org/a?b=1 mailto:x", "url:http://x.org/a?b=1 url:mailto:x"},
      {"<a href=\"x\"> a@b.c @ref", "<a href=\"x\"> email:a@b.c @ref"},
      {"%{a\"b^}%", "\"a\"b^\""},
      {"%%{x}%}%%", "\"x}%\""},
      {"#\"a\" #\"^(tab)\" #\"^(3A9)\" #\"^\"\" #\"é\"", "#\"a\" #\"^(9)\" #\"^(3A9)\" #\"\"\" #\"^(E9)\""},
  });
}

TEST_F(Lexer, FurtherDatatypes) {
  expect_loads({
      {"1.2.3 255.255.255.255 1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3 255.255.255.255 1.2.3.4.5.6.7.8.9.10.11.12"},
      {"3x4 -3X-4 1'000x2", "3x4 -3x-4 1000x2"},
      {"12:30 1:30.5 -1:00 1:2:75 0:0:1.25", "time:45000.0 time:90.5 time:-3600.0 time:3795.0 time:1.25"},
      {"1-Jan-2000 1/jan/2000 2000-01-01 2000-1-1 1-1-99 1-1-49 5-May-0099",
       "date:2000-1-1 date:2000-1-1 date:2000-1-1 date:2000-1-1 date:1999-1-1 date:2049-1-1 date:99-5-5"},
      {"20000101T102030Z 20000101T1020Z 20000101T102030+0130",
       "date:2000-1-1/37230.0 date:2000-1-1/37200.0 date:2000-1-1/31830.0+1:30"},
      {"2000-W01-1 2000-W01-7 2021-W53 2000-032 2000-366",
       "date:2000-1-3 date:2000-1-9 date:2022-1-3 date:2000-2-1 date:2000-12-31"},
      {"1-Jan-2000/10:00 1-Jan-2000/1:00-3:30 29-Feb-2000 1-Jan--44",
       "date:2000-1-1/36000.0 date:2000-1-1/16200.0-3:30 date:2000-2-29 date:-44-1-1"},
      {"$1.50 -$2 $0'001 +$0.00001", "money:$1.50000 money:-$2.00000 money:$1.00000 money:$0.00001"},
      {"#{0A0b ;c\nFF} 2#{00000001} 64#{AQID} 64#{AQ==} 16#{}", "#{0A0BFF} #{01} #{010203} #{01} #{}"},
  });
}

TEST_F(Lexer, SyntaxErrors) {
  expect_loads({
      {"]", "(line 1) missing [ at ]"},
      {")", "(line 1) missing ( at )"},
      {"[1 2)", "(line 1) missing ] at )"},
      {"(1 2]", "(line 1) missing ) at ]"},
      {"[1 2", "(line 1) missing ] at [1 2"},
      {"1\n[2\n3", "(line 3) missing ] at [2"},
      {"(a b", "(line 1) missing ) at (a b"},
      {"#[a 1 b]", "(line 1) invalid map! at #[a 1 b]"},
      {"#[[a] 1]", "(line 1) invalid map! at #[[a] 1]"},
      {"1''0", "(line 1) invalid integer! at 1''0"},
      {"a\n\n12a3 x", "(line 3) invalid integer! at 12a3 x"},
      {"Fh 1h", "(line 1) invalid word! at Fh 1h"},
      {"1h", "(line 1) invalid integer! at 1h"},
      {"123456789h", "(line 1) invalid integer! at 123456789h"},
      {"1.#foo", "(line 1) invalid float! at 1.#foo"},
      {"256.1.1", "(line 1) invalid tuple! at 256.1.1"},
      {"1.2.3.4.5.6.7.8.9.10.11.12.13", "(line 1) invalid tuple! at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
      {"3.5x4", "(line 1) invalid pair! at 3.5x4"},
      {"29-Feb-2001", "(line 1) invalid date! at 29-Feb-2001"},
      {"32-1-2000", "(line 1) invalid date! at 32-1-2000"},
      {"1-Foo-2000", "(line 1) invalid date! at 1-Foo-2000"},
      {"1-Jan-2000/24:00", "(line 1) invalid date! at 1-Jan-2000/24:00"},
      {"US$1", "(line 1) invalid money! at US$1"},
      {"$1.123456", "(line 1) invalid money! at $1.123456"},
      {"$1''0", "(line 1) invalid money! at $1''0"},
      {"#{ABC}", "(line 1) invalid binary! at #{ABC}"},
      {"8#{00}", "(line 1) invalid binary! at 8#{00}"},
      {"64#{A=}", "(line 1) invalid binary! at 64#{A=}"},
      {"#\"\"", "(line 1) invalid char! at #\"\""},
      {"#\"ab\"", "(line 1) invalid char! at #\"ab\""},
      {"#\"^(110000)\"", "(line 1) invalid char! at #\"^(110000)\""},
      {"\"a^(zz)\"", "(line 1) invalid string! at \"a^(zz)\""},
      {"\"ab\ncd\"", "(line 1) invalid string! at \"ab"},
      {"x {abc", "(line 1) invalid string! at {abc"},
      {"{a{b}", "(line 1) invalid string! at {a{b}"},
      {"%{a}%%", "(line 1) invalid string! at %{a}%%"},
      {"%%{a}%", "(line 1) invalid string! at %%{a}%"},
      {"a/b:/c", "(line 1) invalid path! at a/b:/c"},
      {"a/b/", "(line 1) invalid path! at a/b/"},
      {"a/", "(line 1) invalid character at a/"},
      {"'a: :a:", "(line 1) invalid lit-word! at 'a: :a:"},
      {":a:b", "(line 1) invalid get-word! at :a:b"},
      {"(1 + 2, 3)", "(line 1) invalid point2D! at (1 + 2, 3)"},
      {"(1, 2, 3, 4)", "(line 1) invalid point3D! at (1, 2, 3, 4)"},
      {"#(foo)", "(line 1) invalid construction spec at #(foo)"},
      {"a \xFF b", "(line 1) invalid character at \xEF\xBF\xBD b"},
      {"a } b", "(line 1) invalid character at } b"},
      {"# x", "(line 1) invalid issue! at # x"},
      {"1a23456789012345678901234567890123456789", "(line 1) invalid integer! at 1a2345678901234567890123456789"},
  });
}

TEST_F(Lexer, NearTextStopsAtLineOrThirtyBytes) {
  EXPECT_EQ(test::load("1a b\nc"), "(line 1) invalid integer! at 1a b");
  EXPECT_EQ(test::load("[ éééééééééééééééé"), "(line 1) missing ] at [ éééééééééééééé");
}

TEST_F(Lexer, NewLineFlagsAndLines) {
  stack::mark mark;
  const char* text = "a\nb [\n c] {x\ny} \"s\" {z}\n{w}";
  Cell* block = lexer::scan_utf8(text, uint32_t(std::strlen(text)));
  const Cell* v = block::rs_head(block);
  bool expected[] = {false, true, false, true, false, false, true};
  ASSERT_EQ(block::rs_length(block), 7);
  for (int i = 0; i < 7; i++) EXPECT_EQ((v[i].header & CELL_NEW_LINE) != 0, expected[i]) << i;
  const Cell* inner = block::rs_head(const_cast<Cell*>(&v[2]));
  EXPECT_TRUE(inner->header & CELL_NEW_LINE);
  mark.restore();
}
