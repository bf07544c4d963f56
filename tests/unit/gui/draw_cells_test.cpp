// The draw dialect and rich-text styles in the screen buffer: which cells a
// box may touch, the colours of texts, rich-text faces drawn by `text`, and
// the styled cells of a rich-text face. Each test runs in a child process
// (see gui_child.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/terminal/draw.h"
#include "gui/terminal/platform.h"
#include "gui/terminal/render.h"
#include "gui_child.h"

namespace kez::gui::draw {
namespace {

using colors::screen_cell;
using test::check;

constexpr std::string_view SHOW = R"(
show: func [faces [block!] /local w item][
	w: make face! [type: 'window size: 12x6 pane: reduce faces]
	w/state: reduce [system/view/platform/make-view w null-handle 0 none false]
	foreach item w/pane [
		item/parent: w
		item/state: reduce [system/view/platform/make-view item w/state/1 0 none false]
	]
	system/view/platform/show-window w/state/1
]
)";

void start(std::string_view faces) {
  test::boot_gui();
  gui::color_mode = 2;
  test::run(SHOW);
  test::run(faces);
  check(render::render_active(), "a window is active");
}

// A row's characters, '.' for a blank cell, '#' for a space on a colour.
std::string row(int32_t r) {
  std::string out;
  for (int32_t c = 0; c < render::screen.width; c++) {
    const screen_cell& cell = render::screen.at(c, r);
    if (cell.code == 0 || (cell.code == ' ' && cell.bg == 0)) out += '.';
    else if (cell.code == ' ') out += '#';
    else if (cell.code < 0x80) out += char(cell.code);
    else out += '+';
  }
  return out;
}

constexpr uint32_t RED = colors::make(colors::PALETTE, 196);
constexpr uint32_t BLUE = colors::make(colors::PALETTE, 21);

void ABoxStaysBetweenTheOriginAndTheClipBox() {
  start(R"(show [
			make face! [type: 'base offset: 2x1 size: 4x3 draw: [fill-pen 0.0.255 box -5x-5 20x20]]
			make face! [type: 'base offset: 0x5 size: 12x1 draw: [pen off fill-pen 0.0.255 box 1x0 2x0]]
		])");
  const char* rows[] = {"............", "..####......", "..####......", "..####......",
                        "............", ".##........."};
  for (int r = 0; r < 6; r++) check(row(r) == rows[r], "row " + std::to_string(r) + ": " + row(r));
  check(render::screen.at(2, 1).bg == BLUE, "the fill colour");
  std::exit(0);
}

TEST(DrawCells, ABoxStaysBetweenTheOriginAndTheClipBox) {
  EXPECT_EXIT(ABoxStaysBetweenTheOriginAndTheClipBox(), testing::ExitedWithCode(0), "");
}

void TextsTakeTheFontColourElseThePen() {
  start(R"(f: make font! [color: 0.0.255] g: make font! []
		show [make face! [type: 'base offset: 0x0 size: 12x4 draw: [
			pen 255.0.0 text 0x0 "a" font f text 0x1 "b" pen off text 0x2 "c"
			font g text 0x3 "d"
		]]])");
  check(row(0).rfind("a", 0) == 0 && render::screen.at(0, 0).fg == RED, "pen colour");
  check(render::screen.at(0, 1).fg == BLUE, "font colour");
  check(render::screen.at(0, 2).fg == BLUE, "the font's colour without the pen");
  check(render::screen.at(0, 3).fg == 0, "no font colour, no pen: default");
  std::exit(0);
}

TEST(DrawCells, TextsTakeTheFontColourElseThePen) {
  EXPECT_EXIT(TextsTakeTheFontColourElseThePen(), testing::ExitedWithCode(0), "");
}

void ARichTextFaceIsDrawnWithItsStylesAndAlignment() {
  start(R"(r: make face! [type: 'rich-text size: 6x1 text: "xy" data: [2x1 bold 255.0.0]
			para: make para! [align: 'right]]
		show [make face! [type: 'base offset: 1x1 size: 10x2 draw: [text 0x0 r]]])");
  check(row(1) == ".....xy....", row(1));
  const screen_cell& y = render::screen.at(6, 1);
  check(y.fg == RED && (y.attr & colors::BOLD), "the second character styled");
  check(render::screen.at(5, 1).attr == 0, "the first plain");
  std::exit(0);
}

TEST(DrawCells, ARichTextFaceIsDrawnWithItsStylesAndAlignment) {
  EXPECT_EXIT(ARichTextFaceIsDrawnWithItsStylesAndAlignment(), testing::ExitedWithCode(0), "");
}

void StyledCellsFollowTheRanges() {
  test::boot_gui();
  Cell face = test::run(R"(make face! [type: 'rich-text text: "abcdef" color: 0.0.255 data: [
			-1x3 italic 2x2 backdrop 255.0.0 underline 1.2.3 'dash strike
			5x99 border 0.0.0 'x "Mono" 12 1.5 255.0.0
		]])");
  std::vector<screen_cell> cells;
  styled_cells(&face, cells);
  check(cells.size() == 6, "one cell a character");
  check(cells[0].attr == colors::ITALIC, "a range from before the text is cut to it");
  check(cells[1].bg == RED && cells[0].bg == BLUE, "backdrop over the face colour");
  check(cells[1].attr == (colors::UNDERLINE | colors::STRIKE) && cells[2].attr == cells[1].attr,
      "underline's colour and lit-word skipped");
  check(cells[4].fg == RED && cells[5].fg == RED && cells[3].fg == 0, "a range cut at the end");
  Cell bad = test::run(R"(make face! [type: 'rich-text text: "ab" data: [1x1 bold wavy]])");
  try {
    styled_cells(&bad, cells);
    check(false, "an unknown style raises");
  } catch (const failure& f) {
    check(f.id == err::script::DRAW_INVALID && f.at.w1 == 2, "draw-invalid at the word");
  }
  std::exit(0);
}

TEST(DrawCells, StyledCellsFollowTheRanges) {
  EXPECT_EXIT(StyledCellsFollowTheRanges(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kez::gui::draw
