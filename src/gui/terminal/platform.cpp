// The platform context's routines in the terminal backend.
//
// A routine reads its arguments at stack::arguments[i] (in spec order, types
// already checked) and leaves its result in stack::arguments[0]. Handles
// hold a class and a 32-bit value, never an address: the null handle is 0.
// The widget operations do nothing and answer none until widgets exist;
// `make-view` then answers a window handle of value 0, and `do-event-loop`
// false at once.
#include "gui/terminal/platform.h"

#include <algorithm>
#include <cmath>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/collector.h"
#include "gui/face.h"
#include "gui/terminal/calls.h"
#include "gui/terminal/event_loop.h"
#include "gui/terminal/events.h"
#include "gui/terminal/widgets.h"
#include "gui/terminal/draw.h"
#include "gui/terminal/screen.h"
#include "gui/terminal/text_metrics.h"
#include "types/handle.h"
#include "types/point.h"
#include "types/tuple.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/object.h"
#include "values/ownership.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui {

int32_t color_mode = 4;

bool os_send_event(const Cell*, bool) { return false; }

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// Text-box metric codes.
enum metric : int32_t {
  CARET_TO_OFFSET = 0,
  OFFSET_TO_CARET = 1,
  LINE_HEIGHT = 2,
  TEXT_SIZE = 3,
  LINE_COUNT = 4,
  OFFSET_TO_CHAR = 5,
  CARET_TO_OFFSET_LOWER = 6,
};

void answer_none() { *arg(0) = make_none(); }

void make_null_handle() { *arg(0) = handle::make(0, handle::CLASS_NULL); }

void get_screen_size() { *arg(0) = Cell{TYPE_PAIR, 0, uint32_t(screen_width), uint32_t(screen_height)}; }

uint32_t screen_symbol();

uint32_t handle_value(const Cell* h) { return TYPE_OF(h) == TYPE_HANDLE ? h->w2 : 0; }

void make_view() {
  Cell face = *arg(0), parent = *arg(1);
  uint32_t id = widgets::make_view(&face, handle_value(&parent));
  *arg(0) = handle::make(id, handle::CLASS_WINDOW);
}

void update_view() {
  Cell v = *arg(0);
  if (TYPE_OF(&v) == TYPE_BLOCK) {
    int32_t n = block::rs_length(&v);
    for (int32_t i = 0; i < n; i++) {
      const Cell* item = block::rs_head(&v) + i;
      if (TYPE_OF(item) != TYPE_OBJECT) numbers::invalid_type(TYPE_OF(item));
    }
    for (int32_t i = 0; i < n; i++) {
      if (i >= block::rs_length(&v)) break;
      Cell face = block::rs_head(&v)[i];
      if (TYPE_OF(&face) == TYPE_OBJECT && TYPE_OF(face::get(&face, face::STATE)) == TYPE_BLOCK)
        widgets::update_view(&face);
    }
  } else if (TYPE_OF(&v) == TYPE_OBJECT) {
    if (!face::is_word(face::get(&v, face::TYPE), screen_symbol())) widgets::update_view(&v);
  } else {
    numbers::invalid_type(TYPE_OF(&v));
  }
  answer_none();
}

void on_change_facet() {
  Cell owner = *arg(0), word = *arg(1), value = *arg(2), action = *arg(3), fresh = *arg(4);
  widgets::update_facet(&owner, &word, &value, &action, &fresh, get_integer(arg(5)),
                        get_integer(arg(6)));
  answer_none();
}

void destroy_view() {
  Cell face = *arg(0);
  if (widgets::destroy_view(&face, arg(1)->w1 != 0)) event_loop::post_quit();
  answer_none();
}

void refresh_window() { widgets::mark_for_redraw(handle_value(arg(0))); }

void redraw() {
  if (widgets::widget* w = widgets::of_face(arg(0))) widgets::mark_for_redraw(w->id);
}

void show_window() {
  widgets::show_window(handle_value(arg(0)));
  answer_none();
}

// A change of the font's name, size, style, angle or anti-aliasing drops
// what the backend made of it.
void update_font() {
  int32_t field = get_integer(arg(1));
  if ((field >= 0 && field <= 3) || field == 5) {
    Cell font = *arg(0);
    Cell w = word::make(TYPE_WORD, 0, symbol::make("state"), context::NO_INDEX);
    int32_t i = object::find_word(&font, &w);
    if (i >= 0) context::values(font.w1)[i] = make_none();
  }
  answer_none();
}

void update_para() {
  Cell face = *arg(0);
  const Cell* state = face::get(&face, face::STATE);
  if (TYPE_OF(face::get(&face, face::TYPE)) == TYPE_WORD && TYPE_OF(state) == TYPE_BLOCK &&
      block::rs_length(state) >= 2) {
    Cell s = *state;
    Cell* flags = block::rs_head(&s) + 1;
    if (TYPE_OF(flags) == TYPE_INTEGER)
      *flags = make_integer(int32_t(uint32_t(get_integer(flags)) | face::change_flag(face::PARA)));
  }
  answer_none();
}

// The draw block is rendered on every redraw: drawing a face only checks
// its flags.
void draw_face() {
  Cell face = *arg(0);
  widgets::get_flags(face::get(&face, face::FLAGS));
}

void do_event_loop() { *arg(0) = make_logic(event_loop::do_events(arg(0)->w1 != 0)); }

void exit_event_loop() {
  event_loop::post_quit();
  answer_none();
}

// The text-mode requesters are functions of TUI-helpers, and every argument
// reaches them, so that a script's title, file or directory and filter take
// effect. The call evaluates what it hands on, so only the types that the
// requesters take pass: a word or a paren must never run there.
void request(const char* name) {
  static constexpr uint8_t TAKES[3][3] = {{TYPE_NONE, TYPE_STRING, TYPE_STRING},
                                          {TYPE_NONE, TYPE_STRING, TYPE_FILE},
                                          {TYPE_NONE, TYPE_BLOCK, TYPE_BLOCK}};
  Cell args[5];
  for (int i = 0; i < 5; i++) args[i] = *arg(i);
  for (int i = 0; i < 3; i++) {
    uint8_t t = TYPE_OF(&args[i]);
    if (t != TAKES[i][0] && t != TAKES[i][1] && t != TAKES[i][2]) numbers::invalid_type(t);
  }
  Cell fn = calls::helper(name);
  if (TYPE_OF(&fn) != TYPE_FUNCTION) return answer_none();
  calls::outcome out =
      calls::call(&fn, {args[0], args[1], args[2], args[3], args[4]}, calls::fence::none);
  // A halt or a throw that left the window ends the request without a choice.
  *arg(0) = out.exit ? make_none() : out.value;
}

void request_file() { request("request-file"); }
void request_dir() { request("request-dir"); }

// TUI-helpers' routines.
void focused_q() {
  widgets::widget* w = widgets::of_face(arg(0));
  *arg(0) = make_logic(w && widgets::has_focus(w->id));
}

void widget_data() {
  widgets::widget* w = widgets::of_face(arg(0));
  *arg(0) = make_integer(w && w->type == widgets::kind::text_list ? w->data : 0);
}

void set_face_ui() {
  if (widgets::widget* w = widgets::of_face(arg(0))) {
    Cell ui = *arg(1);
    w->ui = TYPE_OF(&ui) == TYPE_STRING ? ui : make_none();
    widgets::mark_for_redraw(w->id);
  }
  answer_none();
}

void detach_image() {
  Cell img = *arg(0);
  ownership::unbind(&img);
  answer_none();
}

uint32_t screen_symbol() {
  static uint32_t sym = symbol::resolve(symbol::make("screen"));
  return sym;
}

void support_dark_mode_q() { *arg(0) = make_logic(false); }

// A routine whose result is no concern of the GUI layer leaves its first
// argument as it is.
void nothing() {}

// A coordinate as a whole number of cells, bounded so that no conversion
// overflows.
int32_t cells_of(double v) {
  if (!(v > -1e9)) return v != v ? 0 : -1000000000;
  return v < 1e9 ? int32_t(std::floor(v)) : 1000000000;
}

bool planar(const Cell* v, int32_t& x, int32_t& y) {
  if (TYPE_OF(v) == TYPE_PAIR) {
    x = int32_t(v->w2);
    y = int32_t(v->w3);
    return true;
  }
  if (TYPE_OF(v) == TYPE_POINT2D) {
    x = cells_of(point::coord(v, 0));
    y = cells_of(point::coord(v, 1));
    return true;
  }
  return false;
}

void point_result(int32_t x, int32_t y) {
  point2D::make_at(arg(0), float(x), float(y));
}

void size_text() {
  Cell face = *arg(0), value = *arg(1);
  Cell text = value;
  if (TYPE_OF(&value) == TYPE_NONE) text = *face::get(&face, face::TEXT);
  else if (TYPE_OF(&value) != TYPE_STRING) numbers::invalid_type(TYPE_OF(&value));
  if (TYPE_OF(&text) != TYPE_STRING) return answer_none();
  text::extent e = text::measure(text::of(&text), text::NO_WRAP);
  point_result(e.width, e.lines);
}

uint32_t rich_text_symbol() {
  static uint32_t sym = symbol::resolve(symbol::make("rich-text"));
  return sym;
}

[[noreturn]] void invalid_arg(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::INVALID_ARG, &c);
}

void text_box_metrics() {
  Cell box = *arg(0), a = *arg(1), code = *arg(2);
  Cell type = *face::get(&box, face::TYPE);
  if (!face::is_word(&type, rich_text_symbol())) fire(err::SCRIPT, err::script::FACE_TYPE, &type);
  Cell text = *face::get(&box, face::TEXT);
  if (TYPE_OF(&text) != TYPE_STRING) return answer_none();
  Cell size = *face::get(&box, face::SIZE);
  int32_t wrap = text::NO_WRAP, height = 0;
  if (planar(&size, wrap, height)) wrap = std::max(wrap, 0);
  int32_t x = 0, y = 0;
  switch (get_integer(&code)) {
    case CARET_TO_OFFSET: case CARET_TO_OFFSET_LOWER: {
      if (TYPE_OF(&a) != TYPE_INTEGER) invalid_arg(&a);
      text::position p = text::offset_of(text::of(&text), wrap, get_integer(&a));
      point_result(p.column, p.line + (get_integer(&code) == CARET_TO_OFFSET_LOWER));
      return;
    }
    case OFFSET_TO_CARET: case OFFSET_TO_CHAR:
      if (!planar(&a, x, y)) invalid_arg(&a);
      *arg(0) = make_integer(int32_t(
          text::index_at(text::of(&text), wrap, x, y, get_integer(&code) == OFFSET_TO_CHAR)));
      return;
    case LINE_HEIGHT: *arg(0) = make_float(1.0); return;
    case TEXT_SIZE: {
      text::extent e = text::measure(text::of(&text), wrap);
      point_result(e.width, e.lines);
      return;
    }
    case LINE_COUNT:
      *arg(0) = make_integer(text::measure(text::of(&text), wrap).lines);
      return;
    default: invalid_arg(&code);
  }
}

// The backend's start-up: the platform context's version fields, the colour
// depth, and the console size when standard output is a terminal (read once:
// later the event loop keeps it); the event reader and the collector's mark
// callback, once.
void backend_init() {
  Cell platform = *arg(0);
  static bool started = false;
  if (!started) {
    started = true;
    events::init();
    collector::register_callback(widgets::mark);
  }
  color_mode = get_integer(arg(1)) == 2 ? 2 : 4;
  static bool size_read = false;
  if (!size_read) read_screen_size();
  size_read = true;
  const int32_t version[3] = {10, 10, 10};
  Cell v = make_none();
  tuple::make_from_ints(&v, 3, version);
  const std::pair<const char*, Cell> fields[] = {
      {"version", v}, {"build", make_integer(1000)}, {"product", make_integer(0)}};
  for (const auto& [name, value] : fields) {
    Cell w = word::make(TYPE_WORD, 0, symbol::make(name), context::NO_INDEX);
    int32_t i = object::find_word(&platform, &w);
    if (i >= 0) context::values(platform.w1)[i] = value;
  }
  answer_none();
}

}  // namespace

std::span<const boot::routine_entry> platform_routines() {
  static constexpr boot::routine_entry TABLE[] = {
      {"make-null-handle", "return: [handle!]", make_null_handle},
      {"fetch-all-screens", "", answer_none},
      {"get-screen-size", "id [integer!] return: [pair!]", get_screen_size},
      {"size-text", "face [object!] value [any-type!] return: [point2D! none!]", size_text},
      {"on-change-facet",
       "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] "
       "index [integer!] part [integer!]",
       on_change_facet},
      {"update-text", "face [object!]", answer_none},
      {"update-font", "font [object!] flags [integer!]", update_font},
      {"update-para", "face [object!] flags [integer!]", update_para},
      {"destroy-view", "face [object!] empty? [logic!]", destroy_view},
      {"detach-image", "img [image!]", detach_image},
      {"update-view", "face [any-type!]", update_view},
      {"refresh-window", "h [handle!]", refresh_window},
      {"redraw", "face [object!]", redraw},
      {"show-window", "id [handle!]", show_window},
      {"make-view", "face [object!] parent [handle!] return: [handle!]", make_view},
      {"draw-image", "image [image!] cmds [block!]", draw::draw_image},
      {"draw-face", "face [object!] cmds [block!]", draw_face},
      {"do-event-loop", "no-wait? [logic!] return: [logic!]", do_event_loop},
      {"exit-event-loop", "", exit_event_loop},
      {"request-font", "font [object!] selected [any-type!] mono? [logic!]", nothing},
      {"request-file",
       "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]",
       request_file},
      {"request-dir",
       "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]",
       request_dir},
      {"text-box-metrics", "box [object!] arg0 [any-type!] type [integer!]", text_box_metrics},
      {"update-scroller", "scroller [object!] flags [integer!]", answer_none},
      {"set-dark-mode", "face [object!] dark? [logic!]", nothing},
      {"support-dark-mode?", "return: [logic!]", support_dark_mode_q},
      {"toggle-GPU", "", answer_none},
      {"init", "platform [object!] color-depth [integer!]", backend_init},
      {"focused?", "face [object!] return: [logic!]", focused_q},
      {"widget-data", "face [object!] return: [integer!]", widget_data},
      {"set-face-ui", "face [object!] ui [any-type!]", set_face_ui},
  };
  return TABLE;
}

}  // namespace kez::gui
