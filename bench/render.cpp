// The terminal backend's drawing alone: a fullscreen window of 200 x 60
// cells holding 300 widgets (a grid of bases, buttons and texts, 30% of
// them coloured) rendered into the screen buffer and painted, frame after
// frame. Prints the time of a frame (render and paint; the best of three
// runs of 200 frames, the machine being shared) and the bytes of a painting
// beside those of a writer that sends the full style of every cell.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "boot/startup.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "gui/terminal/platform.h"
#include "gui/terminal/render.h"
#include "gui/terminal/screen.h"
#include "services/lexer.h"

using namespace kez;

namespace {

constexpr int FRAMES = 200;

constexpr std::string_view WINDOW = R"(
show-tree: func [w [object!] /local walk][
	walk: func [f [object!] parent [handle!] /local item][
		f/state: reduce [system/view/platform/make-view f parent 0 none false]
		if block? f/pane [foreach item f/pane [item/parent: f walk item f/state/1]]
	]
	walk w null-handle
	system/view/platform/show-window w/state/1
	w
]
faces: copy []
types: [base button text]
repeat i 300 [
	append faces make face! [
		type: pick types i // 3 + 1
		offset: as-pair (i - 1) // 20 * 10 (i - 1) / 20 * 4
		size: 9x3
		text: rejoin ["widget " i "^/second line"]
		color: if i // 10 < 3 [as-color i * 7 // 256 i * 13 // 256 i * 29 // 256]
	]
]
show-tree make face! [type: 'window size: 200x60 pane: faces flags: 'fullscreen]
)";

void run(std::string_view source) {
  stack::top = stack::bottom;
  stack::arguments = stack::bottom;
  Cell* code = lexer::scan_utf8(source.data(), uint32_t(source.size()));
  interpreter::eval_block(code, false);
}

// Every cell with its whole style, as a writer without memory of the cell
// before would send it.
size_t naive_bytes(const gui::render::screen_buffer& b) {
  std::string out;
  for (int32_t row = 0; row < b.height; row++)
    for (int32_t col = 0; col < b.width; col++) {
      const gui::colors::screen_cell& c = b.at(col, row);
      if (c.attr & gui::colors::CONTINUATION) continue;
      out += "\x1b[0m";
      gui::colors::write_changes(out, gui::colors::screen_cell{}, c);
      out += c.code > ' ' && c.code < 0x80 ? char(c.code) : ' ';
    }
  return out.size();
}

}  // namespace

int main() {
  boot::init_runtime();
  platform::stack_limit = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - (6u << 20);
  boot::make_all_routines();
  boot::run_boot_library(false);
  gui::color_mode = 2;
  gui::screen_width = 200;
  gui::screen_height = 60;
  run(WINDOW);
  double best = 1e9;
  size_t bytes = 0;
  for (int r = 0; r < 3; r++) {
    auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < FRAMES; f++) {
      gui::render::render_active();
      std::string out;
      gui::render::paint_to(out, gui::render::screen, gui::render::paint, true);
      bytes = out.size();
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::min(best, s / FRAMES);
  }
  size_t naive = naive_bytes(gui::render::screen);
  std::printf("  200 x 60 cells, 300 widgets: %.3f ms a frame; %zu bytes a painting, %zu with "
              "the full style of every cell (%.0f%%)\n",
              best * 1000, bytes, naive, 100.0 * double(bytes) / double(naive));
  return 0;
}
