// Faces rendered by the terminal backend: windows made of faces through the
// platform context, rendered into the screen buffer and painted, checked
// cell by cell and byte by byte. Each test runs in a child process (see
// gui_child.h).
#include <gtest/gtest.h>

#include <string>

#include "gui/terminal/platform.h"
#include "gui/terminal/render.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/widgets.h"
#include "gui_child.h"

namespace kez::gui::render {
namespace {

using test::check;

void start(std::string_view window) {
  test::boot_gui();
  gui::color_mode = 2;  // whatever the terminal running the tests says
  test::run(test::SHOW_TREE);
  test::run(window);
  check(render_active(), "a window is active");
}

std::string utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) s += char(cp);
  else if (cp < 0x800) { s += char(0xC0 | (cp >> 6)); s += char(0x80 | (cp & 0x3F)); }
  else if (cp < 0x10000) {
    s += char(0xE0 | (cp >> 12)); s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F));
  } else {
    s += char(0xF0 | (cp >> 18)); s += char(0x80 | ((cp >> 12) & 0x3F));
    s += char(0x80 | ((cp >> 6) & 0x3F)); s += char(0x80 | (cp & 0x3F));
  }
  return s;
}

// The characters of a screen row as UTF-8 (blanks for zero cells).
std::string row(int32_t r) {
  std::string out;
  for (int32_t c = 0; c < screen.width; c++) {
    const colors::screen_cell& cell = screen.at(c, r);
    if (cell.attr & colors::CONTINUATION) continue;
    out += cell.attr & colors::MASKED ? std::string("*") : utf8(cell.code ? cell.code : ' ');
  }
  return out;
}

std::string painted() {
  std::string out;
  paint_to(out, screen, paint, false);
  return out;
}

TEST(RenderFaces, TheWindowIsItsChildrenCutToTheConsole) {
  EXPECT_EXIT(
      {
        start(R"(show-tree make face! [type: 'window size: 50x20 pane: reduce [
			make face! [type: 'base offset: 0x0 size: 10x2 text: "a"]
			make face! [type: 'base offset: 20x6 size: 10x2 text: "b"]]])");
        check(screen.width == 30 && screen.height == 8, "30 x 8 cells");
        std::string out = painted();
        size_t rows = 1;
        for (size_t at = 0; (at = out.find("\x1b[49m\r\n", at)) != std::string::npos; at++) rows++;
        check(rows == 8, "8 rows painted, each ended but the last");
        check(out.rfind("\r\x1b[0J", 0) == 0, "an inline painting starts at the line's start");
        gui::screen_width = 20;
        render_active();
        check(screen.width == 20 && screen.height == 8, "cut to 20 columns");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(RenderFaces, FocusPasswordHintAlignmentAndColour) {
  EXPECT_EXIT(
      {
        start(R"(show-tree make face! [type: 'window size: 30x6 pane: reduce [
			make face! [type: 'button offset: 0x0 size: 4x1 text: "OK" flags: 'focusable]
			make face! [type: 'field offset: 0x1 size: 6x1 text: "abc" flags: [password]]
			make face! [type: 'base offset: 0x2 size: 8x1 options: [hint "type"]]
			make face! [type: 'base offset: 0x3 size: 10x1 text: "abc" para: make para! [align: 'center]]
			make face! [type: 'base offset: 0x4 size: 4x1 color: 255.0.0]
			make face! [type: 'base offset: 0x5 size: 10x1 text: "ab^[[7mcd"]]])");
        check(row(0).rfind("OK", 0) == 0, "the button's text");
        check(screen.at(0, 0).attr & colors::REVERSE, "the focused button in reverse video");
        check(row(1).rfind("***   ", 0) == 0, "one * a password character: " + row(1));
        check(row(2).rfind("type", 0) == 0 && (screen.at(0, 2).attr & colors::DIM),
              "the hint, dimmed");
        check(screen.at(3, 3).code == 'a', "centred: 3 columns in");
        check(screen.at(0, 4).bg == colors::make(colors::PALETTE, 196), "red background");
        check(!(screen.at(1, 5).attr & colors::REVERSE) && (screen.at(2, 5).attr & colors::REVERSE),
              "ESC[7m reverses the rest of the text");
        std::string out = painted();
        check(out.find("\x1b[48;5;196m    ") != std::string::npos, "the red base: " + out);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(RenderFaces, GroupBoxFrameAndTitle) {
  EXPECT_EXIT(
      {
        start(R"(show-tree make face! [type: 'window size: 12x3 pane: reduce [
			make face! [type: 'group-box offset: 0x0 size: 10x3 text: "T"
				options: [border-corners: round border-color: 0.0.255]]]])");
        check(row(0) == "╭T───────╮", "top row: " + row(0));
        check(row(1) == "│        │", "sides: " + row(1));
        check(row(2) == "╰────────╯", "bottom row: " + row(2));
        check(screen.at(9, 2).fg == colors::make(colors::PALETTE, 21), "the border colour");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(RenderFaces, TheCaretFollowsAFocusedFieldsText) {
  EXPECT_EXIT(
      {
        start(R"(show-tree make face! [type: 'window size: 10x3 pane: reduce [
			make face! [type: 'text offset: 0x0 size: 5x1 text: "top"]
			make face! [type: 'field offset: 2x1 size: 6x1 text: "ab" flags: 'focusable]
			make face! [type: 'text offset: 0x2 size: 5x1 text: "end"]]])");
        check(paint.caret_wanted && paint.caret_col == 4 && paint.caret_row == 1,
              "the caret after the text");
        std::string out = painted();
        check(out.size() >= 9 && out.substr(out.size() - 9) == "\r\x1b[1A\x1b[4C",
              "the cursor goes to the caret");
        check(paint.lines_above == 1, "the caret's row is the lines above");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(RenderFaces, ImagesAsHalfBlocks) {
  EXPECT_EXIT(
      {
        start(R"(show-tree make face! [type: 'window size: 4x1 pane: reduce [
			make face! [type: 'base offset: 0x0 size: 1x1 image: make image! [1x2 #{FF00000000FF}]]
			make face! [type: 'base offset: 1x0 size: 1x1
				image: make image! [1x2 #{FF00000000FF} #{FF00}]]]])");
        const colors::screen_cell& c = screen.at(0, 0);
        check(c.code == 0x2584 && c.bg == colors::make(colors::PALETTE, 196) &&
                  c.fg == colors::make(colors::PALETTE, 21),
              "red over blue");
        const colors::screen_cell& t = screen.at(1, 0);
        check(t.code == ' ' && t.bg == 0 && t.fg == 0, "a transparent top pixel: a blank");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kez::gui::render
