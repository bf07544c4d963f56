// The event loop's input decoder over byte sequences: keys, mouse reports,
// cursor reports, and sequences cut by the end of a read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tty.h"
#include "gui/terminal/input.h"

namespace kez::gui::input {
namespace {

// What the decoder makes of the reads, one after the other, as text:
// "k97" a key, "s-20" a special key, "t9+" shift-tab, "m0,5,3,M" a mouse
// report, "r3,7" a cursor report.
std::string decode(std::vector<std::string> reads, bool report = false) {
  buffer b;
  b.report_expected = report;
  std::string out;
  for (const std::string& r : reads) {
    b.feed(reinterpret_cast<const uint8_t*>(r.data()), r.size());
    item it;
    while (next(b, it)) {
      if (!out.empty()) out += ' ';
      switch (it.kind) {
        case item_kind::key:
          out += it.special ? "s" : it.shift ? "t" : "k";
          out += std::to_string(it.code);
          if (it.shift) out += '+';
          break;
        case item_kind::mouse:
          out += "m" + std::to_string(it.button) + "," + std::to_string(it.x) + "," +
                 std::to_string(it.y) + (it.press ? ",M" : ",m");
          break;
        case item_kind::cursor_report:
          out += "r" + std::to_string(it.y) + "," + std::to_string(it.x);
          break;
      }
    }
  }
  return out;
}

TEST(InputDecoder, KeysAndReports) {
  struct {
    std::vector<std::string> reads;
    std::string expected;
  } cases[] = {
      {{"\x1b"}, "k27"},
      {{"\x1b[A"}, "s-20"},
      {{"\x1bOP"}, "s-31"},
      {{"\x1b[15~"}, "s-35"},
      {{"\x1b[24~"}, "s-42"},
      {{"\x1b[Z"}, "t9+"},
      {{"\x1b[1~", "\x1b[7~", "\x1bOH", "\x1b[H"}, "s-25 s-25 s-25 s-25"},
      {{"\x1b[4~", "\x1b[8~", "\x1bOF", "\x1b[2~"}, "s-24 s-24 s-24 s-26"},
      {{"\x1bOA\x1bOD", "\x1b[11~\x1b[14~"}, "s-20 s-23 s-31 s-34"},
      {{"\x1b[1;5A"}, ""},  // modified keys send nothing
      {{"\x1b[", "B"}, "s-21"},
      {{"\x1b[<0;5;3M"}, "m0,5,3,M"},
      {{"\x1b[<0;5", ";3m"}, "m0,5,3,m"},
      {{"\x08", "\x0a", "\x7f", "\x03"}, "k127 k13 k127 k3"},
      {{"\xc3", "\xa9", "\xf0\x9f", "\x9e\x95"}, "k233 k128917"},
      {{"\xff" "a"}, "k65533 k97"},
      // The mends: Alt+x takes two bytes only; escape escape is Escape and
      // decoding goes on at the second one.
      {{"\x1bxy"}, "k121"},
      {{"\x1b\x1b[B"}, "k27 s-21"},
      // A string that never ends takes its two bytes, one that ends is
      // skipped whole.
      {{"\x1bPab"}, "k97 k98"},
      {{"\x1b]0;t\x07z", "\x1bPq\x1b\\w"}, "k122 k119"},
      // An escape after other bytes waits for the next read.
      {{"a\x1b", "[C"}, "k97 s-22"},
      // A sequence abandoned for an escape.
      {{"\x1b[1\x1b[D"}, "s-23"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode(c.reads), c.expected) << c.expected;
}

TEST(InputDecoder, CursorReportsOnlyWhileOneIsExpected) {
  EXPECT_EQ(decode({"\x1b[3;7R"}, true), "r3,7");
  EXPECT_EQ(decode({"\x1b[3;7R"}, false), "");
  // Only the first answer is one: the request was answered.
  EXPECT_EQ(decode({"\x1b[3;7R\x1b[1;5R"}, true), "r3,7");
}

TEST(InputDecoder, AnEmptiedBufferStopsTheWalk) {
  buffer b;
  std::string bytes = "abc";
  b.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  item it;
  uint32_t generation = b.generation;
  ASSERT_TRUE(next(b, it));
  EXPECT_EQ(it.code, 'a');
  b.clear();  // as a nested loop does
  EXPECT_NE(b.generation, generation);
  EXPECT_FALSE(next(b, it));
  EXPECT_EQ(b.bytes.size(), 0u);
}

}  // namespace
}  // namespace kez::gui::input
