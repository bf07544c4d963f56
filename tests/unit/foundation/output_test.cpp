// Console output bytes, typed print and the output hook lists.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/output.h"
#include "foundation/print.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/error_ids.h"

using namespace kez;
using kez::test::capture_stdout;

TEST(Output, UnitsBecomeUtf8) {
  const char latin[] = "hi";
  EXPECT_EQ(capture_stdout([&] { output::write_latin1_line(latin, 2); }), "hi\n");
  const uint16_t euro[] = {0x20AC};
  EXPECT_EQ(capture_stdout([&] { output::write_ucs2(euro, 2); }), "\xE2\x82\xAC");
  const uint32_t smile[] = {0x1F600};
  EXPECT_EQ(capture_stdout([&] { output::write_ucs4(smile, 4); }), "\xF0\x9F\x98\x80");
  const uint8_t latin1_e[] = {0xE9};
  EXPECT_EQ(capture_stdout([&] { output::write_latin1(latin1_e, 1); }), "\xC3\xA9");
}

TEST(Output, EscapeSequencesPassThrough) {
  const char esc[] = "\x1B[1;31mred\x1B[0m";
  EXPECT_EQ(capture_stdout([&] { output::write_latin1(esc, std::strlen(esc)); }), esc);
  const uint16_t wide[] = {27, '[', '2', 'J'};
  EXPECT_EQ(capture_stdout([&] { output::write_ucs2(wide, sizeof wide); }), "\x1B[2J");
}

TEST(Output, LongOutputIsComplete) {
  std::u32string text;
  std::string expected;
  for (int i = 0; i < 5000; i++) {
    text += U'\u00E9';
    text += U'\U0001F600';
    expected += "\xC3\xA9\xF0\x9F\x98\x80";
  }
  EXPECT_EQ(capture_stdout([&] { output::write_ucs4_line(text.data(), text.size() * 4); }),
            expected + "\n");
}

TEST(Output, CodePointBeyondUnicodeIsAnError) {
  const uint32_t bad[] = {'a', 0x110000};
  uint32_t code = 0;
  std::string out = capture_stdout([&] {
    code = runtime::catch_region(RAISE_ERROR, [&] { output::write_ucs4(bad, sizeof bad); });
  });
  EXPECT_EQ(code, RAISE_ERROR);
  EXPECT_EQ(last_fire.category, err::SCRIPT);
  EXPECT_EQ(last_fire.id, err::script::INVALID_CHAR);
  EXPECT_EQ(out, "");  // nothing half written
}

TEST(TypedPrint, ItemsWithoutSeparators) {
  EXPECT_EQ(capture_stdout([] { print_line("x", int32_t(5)); }), "x5\n");
  EXPECT_EQ(capture_stdout([] { print(true, false, 'A', uint32_t(0xBEEF)); }),
            "truefalseA0000BEEF");
  // "%.16g" hides the last digits that the shortest round trip shows.
  EXPECT_EQ(capture_stdout([] { print(0.1 + 0.2); }), "0.3");
  EXPECT_EQ(capture_stdout([] { print(1.5f); }), "1.5");
}

namespace {
std::string trail;
void cb1(const Cell*, bool) { trail += "1"; }
void cb2(const Cell*, bool) { trail += "2"; }
void cb3(const Cell*, bool) { trail += "3"; }
void cb4(const Cell*, bool) { trail += "4"; }
void cb5(const Cell*, bool) { trail += "5"; }
void cb6(const Cell*, bool) { trail += "6"; }
}  // namespace

TEST(OutputHooks, ListGrowsByFiveAndKeepsOrder) {
  hooks::init();  // output::print_string is the first callback
  hooks::remove(output::print_string, nullptr);
  for (auto cb : {cb1, cb2, cb3, cb4, cb5}) hooks::add(cb, nullptr);
  EXPECT_EQ(hooks::value_capacity(), 5);
  hooks::add(cb6, nullptr);
  EXPECT_EQ(hooks::value_capacity(), 10);
  trail.clear();
  Cell none = make_none();
  hooks::fire_value(&none, false);
  EXPECT_EQ(trail, "123456");
  hooks::remove(cb3, nullptr);
  trail.clear();
  hooks::fire_value(&none, false);
  EXPECT_EQ(trail, "12456");
  hooks::init();
  EXPECT_EQ(hooks::value_count(), 1);
}
