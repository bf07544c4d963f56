// The terminal backend's widgets: ids that go stale, late freeing, focus,
// timers and the reactions of each widget type, driven from C++ with the
// events the event loop would deliver. `system/view/awake` is replaced by a
// function that logs what reaches it. Each test runs in a child process
// (see gui_child.h).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "gui/event.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/events.h"
#include "gui/terminal/reactions.h"
#include "gui/terminal/widgets.h"
#include "gui_child.h"
#include "values/string.h"

namespace kez::gui::widgets {
namespace {

using test::check;

constexpr std::string_view SETUP = R"(
log: copy []
system/view/awake: func [event [event!] /with face][
	append log event/type
	if all [event/type = 'click in event/face 'extra block? event/face/extra][do event/face/extra]
	none
]
)";

void start(std::string_view source) {
  test::boot_gui();
  test::run(test::SHOW_TREE);
  test::run(SETUP);
  test::run(source);
}

// The id of the widget of the face a Kez word holds.
uint32_t id_of(const char* word) {
  Cell face = test::run(word);
  return face_id(&face);
}

std::string log_text() {
  Cell v = test::run("form log");
  return string::to_utf8(&v);
}

void key(uint32_t id, int32_t code) {
  busy_scope scope;
  events::record r;
  r.widget = id;
  r.value = code;
  reactions::react(event::EVT_KEY, r);
}

std::string text_of(const char* path) {
  Cell v = test::run(path);
  return TYPE_OF(&v) == TYPE_STRING ? string::to_utf8(&v) : std::string("<none>");
}

TEST(Widgets, StaleIdsReadAsNoWidgetAndSlotsFreeLate) {
  EXPECT_EXIT(
      {
        start(R"(b: make face! [type: 'base size: 2x1]
			w: show-tree make face! [type: 'window size: 4x2 pane: reduce [b]])");
        uint32_t window = id_of("w");
        uint32_t base = id_of("b");
        check(get(window) && get(base) && live_count() == 2, "two widgets");
        {
          busy_scope scope;
          test::run("system/view/platform/destroy-view w true");
          check(!get(window) && !get(base), "destroyed widgets are gone at once");
          check(live_count() == 0, "and dead");
          Cell b2 = test::run("b2: make face! [type: 'base]");
          uint32_t fresh = make_view(&b2, 0);
          check((fresh & 0xFFFFF) != (base & 0xFFFFF) && (fresh & 0xFFFFF) != (window & 0xFFFFF),
                "a slot is not used again while busy");
        }
        Cell state = test::run("w/state");
        check(TYPE_OF(&state) == TYPE_NONE, "the window's state is none");
        Cell b3 = test::run("b3: make face! [type: 'base]");
        uint32_t again = make_view(&b3, 0);
        check(again != window && again != base && !get(window), "a new id, the old still stale");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, FocusStartsWithTheFirstFocusableWidgetAndFallsBackToTheWindow) {
  EXPECT_EXIT(
      {
        start(R"(b: make face! [type: 'base size: 2x1]
			k: make face! [type: 'button size: 3x1 text: "K" flags: 'focusable]
			w: show-tree make face! [type: 'window size: 8x2 pane: reduce [b k]])");
        check(text_of("form reduce [TUI-helpers/focused? k TUI-helpers/focused? w "
                      "TUI-helpers/focused? b]") == "true false false",
              "the button has the focus");
        check(log_text() == "unfocus focus", "unfocus to the window, focus to the button: " + log_text());
        test::run("system/view/platform/destroy-view k false");
        check(backend.focused == id_of("w") && has_focus(id_of("w")), "the window takes it back");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, FieldsEditInPlaceAndSayChange) {
  EXPECT_EXIT(
      {
        start(R"(f: make face! [type: 'field size: 5x1 text: "abcd" flags: 'focusable]
			w: show-tree make face! [type: 'window size: 8x2 pane: reduce [f]]
			clear log)");
        uint32_t id = id_of("f");
        key(id, 'e');
        key(id, 'f');  // full
        check(text_of("f/text") == "abcde", "one more character fits: " + text_of("f/text"));
        check(log_text() == "change", "typing sends change: " + log_text());
        for (int i = 0; i < 6; i++) key(id, -23);  // left, past the start
        key(id, 8);  // Backspace at the start
        check(text_of("f/text") == "abcde" && get(id)->edit.cursor == 0, "nothing before the start");
        key(id, -22);
        key(id, 127);
        key(id, 'X');
        check(text_of("f/text") == "Xbcde", "delete then insert at the cursor: " + text_of("f/text"));
        test::run("f/text: none");
        key(id, 'z');
        check(text_of("f/text") == "z", "a field without text gets one");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, CheckBoxesRadiosAndTextLists) {
  EXPECT_EXIT(
      {
        start(R"(c: make face! [type: 'check size: 6x1 text: "Opt"]
			r1: make face! [type: 'radio size: 4x1 text: "A" data: true]
			r2: make face! [type: 'radio size: 4x1 text: "B"]
			r3: make face! [type: 'radio size: 4x1 text: "C" data: true]
			p1: make face! [type: 'panel size: 10x2 pane: reduce [r1 r2]]
			p2: make face! [type: 'panel size: 10x2 pane: reduce [r3]]
			t: make face! [type: 'text-list size: 5x2 data: ["a" "b" "c"] flags: 'focusable]
			w: show-tree make face! [type: 'window size: 20x8 pane: reduce [c p1 p2 t]]
			clear log)");
        uint32_t check_box = id_of("c");
        key(check_box, ' ');
        check(text_of("form c/data") == "true", "none becomes true");
        key(check_box, ' ');
        check(text_of("form c/data") == "false", "then false");
        check(string::to_utf8(&get(check_box)->ui) == "☐ Opt", "the ui follows");
        key(id_of("r2"), ' ');
        check(text_of("form reduce [r1/data r2/data r3/data]") == "false true true",
              "a radio clears its own panel only: " + text_of("form reduce [r1/data r2/data r3/data]"));
        check(string::to_utf8(&get(id_of("r1"))->ui) == "○ A", "the cleared radio's mark");
        check(log_text() == "change change change", "each sends change: " + log_text());
        uint32_t list = id_of("t");
        test::run("clear log");
        check(text_of("form t/selected") == "1" && text_of("t/text").rfind("\x1b[7ma\x1b[27m", 0) == 0,
              "the focused list selects its first row");
        key(list, -21);
        key(list, -21);
        check(text_of("form t/selected") == "3" && get(list)->data == 1, "down scrolls the list");
        key(list, -21);
        check(text_of("form t/selected") == "3", "no row past the last");
        check(log_text() == "select change select change", "select, then change: " + log_text());
        key(list, -20);
        key(list, -20);
        check(text_of("form t/selected") == "1" && get(list)->data == 0, "up scrolls back");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, AnActorThatClosesTheWindowLeavesNoDanglingWidget) {
  EXPECT_EXIT(
      {
        start(R"(k: make face! [type: 'button size: 3x1 text: "K" flags: 'focusable
				extra: [system/view/platform/destroy-view w true]]
			w: show-tree make face! [type: 'window size: 8x2 pane: reduce [k]])");
        uint32_t id = id_of("k");
        key(id, ' ');  // click: the window goes while the button reacts
        check(!get(id) && backend.windows.empty() && backend.focused == 0, "all gone");
        check(live_count() == 0, "nothing left alive");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, RatesMakeTimers) {
  EXPECT_EXIT(
      {
        start(R"(b: make face! [type: 'base size: 2x1 rate: 10]
			w: show-tree make face! [type: 'window size: 4x2 pane: reduce [b]]
			clear log)");
        check(timers.size() == 1 && timers[0].interval == 100, "rate 10: every 100 ms");
        advance_timers(60);
        advance_timers(60);
        check(log_text() == "time" && timers[0].elapsed == 20, "the overshoot counts: " + log_text());
        test::run("b/state/2: 65536 b/rate: 0:00:00.5 system/view/platform/update-view b");
        check(timers.size() == 1 && timers[0].interval == 500, "a time rate");
        test::run("b/rate: none b/state/2: 65536 system/view/platform/update-view b");
        check(timers.empty(), "none removes the timer");
        Cell r = test::run("error? try [b/rate: 0]");
        check(TYPE_OF(&r) == TYPE_LOGIC && r.w1, "rate 0 is refused");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, OnlyTheLoopsWindowEndsTheLoop) {
  EXPECT_EXIT(
      {
        // The loop must not take the test's terminal, if it has one.
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        start(R"(n: 0
			c: make face! [type: 'base size: 2x1]
			b: make face! [type: 'base size: 2x1 rate: 100]
			w: show-tree make face! [type: 'window size: 4x2 pane: reduce [c b]]
			system/view/awake: func [event [event!] /with face][
				if event/type = 'time [
					n: n + 1
					append log event/type
					system/view/platform/destroy-view either n = 1 [c][w] n > 1
				]
				none
			]
			clear log)");
        Cell r = test::run("system/view/platform/do-event-loop false");
        check(TYPE_OF(&r) == TYPE_LOGIC, "the loop returns");
        check(log_text() == "time time", "a child's end kept the loop going: " + log_text());
        check(event_loop::level() == 0 && live_count() == 0, "the level back, nothing alive");
        // Destroying outside any loop leaves the level at 0.
        test::run("system/view/platform/destroy-view show-tree make face! [type: 'window] true");
        check(event_loop::level() == 0, "no level below 0");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST(Widgets, DestroyingAWindowActivatesTheLastOneLeft) {
  EXPECT_EXIT(
      {
        start(R"(w1: show-tree make face! [type: 'window size: 4x2]
			w2: show-tree make face! [type: 'window size: 4x2]
			w3: show-tree make face! [type: 'window size: 4x2])");
        check(backend.active == id_of("w3"), "the last shown is active");
        test::run("system/view/platform/destroy-view w3 true");
        check(backend.active == id_of("w2") && backend.windows.size() == 2, "w2 active");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kez::gui::widgets
