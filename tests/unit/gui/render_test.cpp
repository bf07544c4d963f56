// The terminal backend's colours, text drawing and painting, over screen
// buffers built here and the bytes the painter writes.
#include <gtest/gtest.h>

#include <string>

#include "gui/terminal/colors.h"
#include "gui/terminal/render.h"

namespace kez::gui::render {
namespace {

using colors::screen_cell;

text::span of32(const std::u32string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), 4, uint32_t(s.size())};
}

// The characters of a buffer row, continuation cells left out, blanks for 0.
std::u32string row_text(const screen_buffer& b, int32_t row) {
  std::u32string out;
  for (int32_t col = 0; col < b.width; col++) {
    const screen_cell& c = b.at(col, row);
    if (c.attr & colors::CONTINUATION) continue;
    out += c.code ? char32_t(c.code) : U' ';
  }
  return out;
}

clip_box whole(const screen_buffer& b) { return {0, 0, b.width, b.height}; }

TEST(Colors, TuplesMapToThePalette) {
  struct rgb_case {
    uint8_t r, g, b;
    uint32_t index;
  };
  const rgb_case cases[] = {
      {255, 0, 0, 196}, {128, 128, 128, 244}, {0, 0, 255, 21}, {255, 255, 255, 231},
      {0, 0, 0, 16},    {8, 8, 8, 232},       {255, 128, 0, 208},
  };
  for (const auto& c : cases) EXPECT_EQ(colors::palette_index(c.r, c.g, c.b), c.index);
  EXPECT_EQ(colors::palette_index(95, 95, 95), 59u);   // a cube level
  EXPECT_EQ(colors::palette_index(97, 97, 97), 241u);  // nearer the grey 98
  // 0.0.12 is 144 away from both the cube's black and the grey 8: a tie
  // goes to the grey.
  EXPECT_EQ(colors::palette_index(0, 0, 12), 232u);
  EXPECT_EQ(colors::palette_index(0, 0, 1), 16u);
}

TEST(Colors, PixelsAreTrueColourOnlyAtDepthFour) {
  std::string out;
  colors::write_color(out, colors::from_pixel(0xFF102030, 4), false);
  EXPECT_EQ(out, "\x1b[38;2;16;32;48m");
  out.clear();
  colors::write_color(out, colors::from_pixel(0xFFFF0000, 2), true);
  EXPECT_EQ(out, "\x1b[48;5;196m");
}

TEST(Colors, EveryKindHasItsCode) {
  struct code_case {
    uint32_t color;
    bool background;
    const char* bytes;
  };
  const code_case cases[] = {
      {0, true, "\x1b[49m"},
      {0, false, "\x1b[39m"},
      {colors::make(colors::BASIC, 1), false, "\x1b[31m"},
      {colors::make(colors::BASIC, 16), false, "\x1b[96m"},
      {colors::make(colors::BASIC, 12), true, "\x1b[102m"},
      {colors::make(colors::BASIC, 8), true, "\x1b[0m"},
      {colors::make(colors::PALETTE, 21), false, "\x1b[38;5;21m"},
      {colors::make(colors::kind(3), 1), false, "\x1b[0m"},
  };
  for (const auto& c : cases) {
    std::string out;
    colors::write_color(out, c.color, c.background);
    EXPECT_EQ(out, c.bytes);
  }
}

TEST(Colors, ChangesComeInTheirFixedOrder) {
  std::string out;
  screen_cell from{'a', 0, 0, colors::UNDERLINE | colors::BOLD};
  screen_cell to{'b', colors::make(colors::PALETTE, 1), colors::make(colors::PALETTE, 2),
                 colors::DIM | colors::REVERSE | colors::ITALIC | colors::STRIKE};
  colors::write_changes(out, from, to);
  EXPECT_EQ(out, "\x1b[2m\x1b[7m\x1b[22m\x1b[3m\x1b[9m\x1b[24m\x1b[38;5;2m\x1b[48;5;1m");
  out.clear();
  colors::write_changes(out, to, to);
  EXPECT_EQ(out, "");
}

// The style that the sequences of a text leave, from a default style.
colors::text_style style_after(const std::u32string& text, uint32_t& taken) {
  colors::text_style s;
  taken = colors::read_sequence(of32(text), 0, s);
  return s;
}

TEST(Colors, EmbeddedSequencesSetTheStyle) {
  uint32_t taken;
  colors::text_style s = style_after(U"\x1b[1;4mx", taken);
  EXPECT_EQ(taken, 6u);
  EXPECT_EQ(s.attr, uint32_t(colors::BOLD | colors::UNDERLINE));
  s.attr |= colors::DIM;
  colors::read_sequence(of32(U"\x1b[22m"), 0, s);
  EXPECT_EQ(s.attr, uint32_t(colors::BOLD | colors::UNDERLINE));  // 22 clears dim only
  s = style_after(U"\x1b[96m", taken);
  EXPECT_EQ(s.fg, colors::make(colors::BASIC, 16));
  s = style_after(U"\x1b[38;5;21m", taken);
  EXPECT_EQ(s.fg, colors::make(colors::PALETTE, 21));
  s = style_after(U"\x1b[48;5;300m", taken);  // the index is a byte
  EXPECT_EQ(s.bg, colors::make(colors::PALETTE, 300 & 0xFF));
  s = style_after(U"\x1b[1;2;7;0;3m", taken);
  EXPECT_EQ(s.attr, uint32_t(colors::ITALIC));
  s = style_after(U"\x1b[2Jx", taken);  // erasing: taken, no effect
  EXPECT_EQ(taken, 4u);
  EXPECT_EQ(s.attr, 0u);
  s = style_after(U"\x1b[5x", taken);  // another final ends it, and is drawn
  EXPECT_EQ(taken, 3u);
  s = style_after(U"\x1bx", taken);  // no "[": not a sequence
  EXPECT_EQ(taken, 0u);
  s = style_after(U"\x1b[99999999999999m", taken);  // numbers wrap, nothing breaks
  EXPECT_EQ(taken, 17u);
}

TEST(DrawText, EscapesStyleTheRestOfTheText) {
  screen_buffer b;
  b.reset(6, 1);
  const std::u32string text = U"a\x1b[7mbc\x1b[27md";
  draw_text(b, of32(text), 0, 0, whole(b), 0, INTERPRET, 0, 0);
  EXPECT_EQ(row_text(b, 0), U"abcd  ");
  EXPECT_EQ(b.at(0, 0).attr, 0u);
  EXPECT_EQ(b.at(1, 0).attr, uint32_t(colors::REVERSE));
  EXPECT_EQ(b.at(2, 0).attr, uint32_t(colors::REVERSE));
  EXPECT_EQ(b.at(3, 0).attr, 0u);
  // Without interpretation the escape is a character of its own.
  b.reset(3, 1);
  draw_text(b, of32(U"\x1b[7m"), 0, 0, whole(b), 0, 0, 0, 0);
  EXPECT_EQ(b.at(0, 0).code, 27u);
}

TEST(DrawText, ClipsWrapsAndLeavesOutWhatDoesNotFit) {
  screen_buffer b;
  b.reset(5, 3);
  // Without wrapping the rest of a long line is skipped up to its line feed.
  draw_text(b, of32(U"abcdefg\nxy"), 0, 0, whole(b), 0, 0, 0, 0);
  EXPECT_EQ(row_text(b, 0), U"abcde");
  EXPECT_EQ(row_text(b, 1), U"xy   ");
  // With wrapping it goes on at the start of the next row.
  b.reset(5, 3);
  draw_text(b, of32(U"abcdefg"), 0, 0, whole(b), WRAP, 0, 0, 0);
  EXPECT_EQ(row_text(b, 1), U"fg   ");
  // A wide character that does not fit before the right edge is not drawn,
  // nor the rest of its line.
  b.reset(4, 2);
  draw_text(b, of32(U"abc\u65E5d\nz"), 0, 0, whole(b), 0, 0, 0, 0);
  EXPECT_EQ(row_text(b, 0), U"abc ");
  EXPECT_EQ(row_text(b, 1), U"z   ");
  // Rows above the clip box are walked, not drawn; characters left of it
  // are skipped.
  b.reset(4, 3);
  draw_text(b, of32(U"ab\ncdef\ngh"), -1, 0, clip_box{0, 1, 4, 3}, 0, 0, 0, 0);
  EXPECT_EQ(row_text(b, 0), U"    ");
  EXPECT_EQ(row_text(b, 1), U"def ");
  EXPECT_EQ(row_text(b, 2), U"h   ");
  // A wide character gets a continuation cell.
  b.reset(3, 1);
  draw_text(b, of32(U"\u65E5x"), 0, 0, whole(b), 0, 0, 0, 0);
  EXPECT_TRUE(b.at(1, 0).attr & colors::CONTINUATION);
  EXPECT_EQ(b.at(2, 0).code, U'x');
}

TEST(DrawText, EveryStepTakesACharacter) {
  // Wider than the box, with wrapping: the walk still ends.
  screen_buffer b;
  b.reset(1, 3);
  draw_text(b, of32(U"\u65E5\u65E5a"), 0, 0, whole(b), WRAP, 0, 0, 0);
  EXPECT_EQ(row_text(b, 0), U"a");
  b.reset(2, 2);
  draw_text(b, of32(U"abc"), 0, 0, clip_box{0, 0, 0, 2}, WRAP, 0, 0, 0);  // empty clip
  EXPECT_EQ(row_text(b, 0), U"  ");
}

TEST(DrawText, MasksAndAttributes) {
  screen_buffer b;
  b.reset(4, 1);
  draw_text(b, of32(U"p\u65E5w"), 0, 0, whole(b), 0, uint32_t(MASK) | colors::DIM, 0, 7);
  EXPECT_TRUE(b.at(0, 0).attr & colors::MASKED);
  EXPECT_TRUE(b.at(1, 0).attr & colors::MASKED);  // one "*" a character, wide or not
  EXPECT_TRUE(b.at(2, 0).attr & colors::DIM);
  EXPECT_EQ(b.at(2, 0).bg, 7u);
  EXPECT_EQ(b.at(3, 0).code, 0u);
}

TEST(Paint, InlineRowsAndOneSequencePerChange) {
  screen_buffer b;
  b.reset(3, 2);
  uint32_t red = colors::make(colors::PALETTE, 196);
  b.at(0, 0) = {'a', red, 0, 0};
  b.at(1, 0) = {'b', red, 0, 0};
  b.at(2, 0) = {'c', 0, 0, 0};
  paint_state p;
  p.lines_above = 2;
  std::string out;
  paint_to(out, b, p, false);
  EXPECT_EQ(out,
            "\r\x1b[2A\x1b[0J"
            "\x1b[48;5;196mab\x1b[49mc\x1b[49m\r\n"
            "   ");
  EXPECT_EQ(p.lines_above, 1);
  EXPECT_TRUE(p.painted);
  // Fullscreen paintings start at the top-left corner.
  out.clear();
  paint_to(out, b, p, true);
  EXPECT_EQ(out.rfind("\x1b[H", 0), 0u);
  // An empty buffer paints nothing.
  screen_buffer empty;
  out.clear();
  paint_to(out, empty, p, false);
  EXPECT_EQ(out, "");
}

TEST(Paint, AttributesReturnToTheDefaultsAtTheEnd) {
  screen_buffer b;
  b.reset(2, 1);
  b.at(0, 0) = {'*', 0, 0, colors::MASKED | colors::REVERSE};
  b.at(1, 0) = {0, 0, 0, 0};
  paint_state p;
  std::string out;
  paint_to(out, b, p, false);
  EXPECT_EQ(out, "\r\x1b[0J\x1b[7m*\x1b[27m ");
}

TEST(Paint, TheCaretEndsThePainting) {
  screen_buffer b;
  b.reset(4, 3);
  paint_state p;
  p.caret_wanted = true;
  p.caret_col = 2;
  p.caret_row = 0;
  std::string out;
  paint_to(out, b, p, false);
  EXPECT_EQ(out.substr(out.size() - 9), "\r\x1b[2A\x1b[2C");
  EXPECT_EQ(p.lines_above, 0);
}

TEST(Paint, EraseAndLeaveAlwaysClearAndEndBelowTheDrawing) {
  screen_buffer one;
  one.reset(2, 1);
  paint_state p;
  std::string out;
  paint_to(out, one, p, false);
  out.clear();
  erase_to(out, p);
  EXPECT_EQ(out, "\r\x1b[0J");  // a one-row drawing is cleared too
  out.clear();
  leave_to(out, p);
  EXPECT_EQ(out, "");  // erased and not painted again: nothing to leave
  screen_buffer three;
  three.reset(2, 3);
  p.caret_wanted = true;
  p.caret_col = 0;
  p.caret_row = 0;
  paint_to(out, three, p, false);
  out.clear();
  leave_to(out, p);
  EXPECT_EQ(out, "\x1b[2B\r\n");
  // With the cursor on the last row, leaving just ends the line.
  p.caret_wanted = false;
  paint_to(out, three, p, false);
  out.clear();
  leave_to(out, p);
  EXPECT_EQ(out, "\r\n");
  out.clear();
  paint_to(out, three, p, false);
  out.clear();
  erase_to(out, p);
  EXPECT_EQ(out, "\r\x1b[2A\x1b[0J");
}

}  // namespace
}  // namespace kez::gui::render
