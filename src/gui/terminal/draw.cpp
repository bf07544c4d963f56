// The draw run: a walk over a draw block that checks every command's
// arguments and hands the cell-changing ones to the paint table.
//
// Arguments are read by small readers that either take a value of the
// kind asked for (a word standing for its value) or leave the cursor where
// it is; a reader that must take a value and cannot throws `failure` at
// that position. A word that names a command is never taken for an
// optional argument's value, so that an optional argument never swallows
// the next command.
#include "gui/terminal/draw.h"

#include <algorithm>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "evaluator/stack.h"
#include "gui/face.h"
#include "gui/terminal/text_metrics.h"
#include "gui/terminal/widgets.h"
#include "types/image.h"
#include "types/point.h"
#include "values/block.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/ownership.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::gui::draw {

namespace {

// A position in a block: the block as given and the absolute index of the
// next value. Values are read as copies through the block's node.
struct cursor {
  Cell block;
  uint32_t i;

  uint32_t end() const { return block.w1 + uint32_t(std::max(block::rs_length(&block), 0)); }
  bool at_end() const { return i >= end(); }
  Cell peek() const { return at_end() ? make_unset() : *block::rs_abs_at(&block, i); }
  Cell at(uint32_t index) const {
    Cell b = block;
    b.w1 = index;
    clear_new_line(&b);
    return b;
  }
};

[[noreturn]] void fail(const cursor& c, uint32_t at, int id = err::script::DRAW_INVALID) {
  throw failure{id, c.at(at)};
}

uint32_t sym(const char* name) { return symbol::resolve(symbol::make(name)); }

bool is_keyword(const Cell& v, uint32_t canonical) {
  return TYPE_OF(&v) == TYPE_WORD && word::canonical(&v) == canonical;
}

// --- the commands' names ---------------------------------------------------------------

using handler = void (*)(cursor& c, run_state& s);
struct command {
  const char* name;
  handler run;
};
std::span<const command> commands();
std::span<const command> shape_commands();

const command* find_in(std::span<const command> table, const Cell& v) {
  if (TYPE_OF(&v) != TYPE_WORD) return nullptr;
  // The canonical symbols of the tables' names, made on first use.
  static std::vector<std::pair<const command*, uint32_t>> ids;
  if (ids.empty()) {
    for (auto t : {commands(), shape_commands()})
      for (const command& cmd : t) ids.emplace_back(&cmd, sym(cmd.name));
  }
  uint32_t s = word::canonical(&v);
  for (const auto& [cmd, id] : ids)
    if (id == s && cmd >= table.data() && cmd < table.data() + table.size()) return cmd;
  return nullptr;
}

bool names_command(const Cell& v) { return find_in(commands(), v) != nullptr; }

// A word's value, for an argument where a value is expected; the word
// itself when it has none.
Cell value_of(const Cell& v, bool optional) {
  if (TYPE_OF(&v) != TYPE_WORD) return v;
  if (optional && names_command(v)) return v;
  const Cell* val = word::get_value_or_null(&v);
  return val ? *val : v;
}

// --- argument readers -------------------------------------------------------------------

bool is_number_type(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }

int64_t number_of(const Cell& v) {
  return TYPE_OF(&v) == TYPE_INTEGER ? shapes::clamp_coord(int64_t(get_integer(&v)))
                                     : shapes::clamp_coord(get_float(&v));
}

struct xy {
  int64_t x = 0, y = 0;
};

bool try_point(cursor& c, xy* p = nullptr, bool optional = true) {
  Cell v = value_of(c.peek(), optional);
  if (TYPE_OF(&v) == TYPE_PAIR) {
    if (p) *p = {int64_t(int32_t(v.w2)), int64_t(int32_t(v.w3))};
  } else if (TYPE_OF(&v) == TYPE_POINT2D) {
    if (p) *p = {shapes::clamp_coord(double(point::coord(&v, 0))),
                 shapes::clamp_coord(double(point::coord(&v, 1)))};
  } else {
    return false;
  }
  c.i++;
  return true;
}

xy need_point(cursor& c) {
  xy p;
  if (!try_point(c, &p, false)) fail(c, c.i);
  return p;
}

bool try_number(cursor& c, int64_t* n = nullptr, bool optional = true) {
  Cell v = value_of(c.peek(), optional);
  if (!is_number_type(TYPE_OF(&v))) return false;
  if (n) *n = number_of(v);
  c.i++;
  return true;
}

int64_t need_number(cursor& c) {
  int64_t n = 0;
  if (!try_number(c, &n, false)) fail(c, c.i);
  return n;
}

bool try_type(cursor& c, uint32_t type, Cell* out = nullptr, bool optional = true) {
  Cell v = value_of(c.peek(), optional);
  if (TYPE_OF(&v) != type) return false;
  if (out) *out = v;
  c.i++;
  return true;
}

Cell need_type(cursor& c, uint32_t type) {
  Cell v;
  if (!try_type(c, type, &v, false)) fail(c, c.i);
  return v;
}

// A colour: a tuple, or a word holding one.
bool try_tuple(cursor& c, Cell* out = nullptr) { return try_type(c, TYPE_TUPLE, out); }

bool try_keyword(cursor& c, std::initializer_list<const char*> names) {
  Cell v = c.peek();
  for (const char* n : names)
    if (is_keyword(v, sym(n))) {
      c.i++;
      return true;
    }
  return false;
}

// The optional lit-word 'pen or 'fill-pen of the matrix commands.
void skip_pen_target(cursor& c) {
  Cell v = c.peek();
  if (TYPE_OF(&v) != TYPE_LIT_WORD) return;
  uint32_t s = word::canonical(&v);
  if (s == sym("pen") || s == sym("fill-pen")) c.i++;
  else fail(c, c.i);
}

void points_at_least(cursor& c, int n) {
  for (int k = 0; k < n; k++) need_point(c);
  while (try_point(c)) {}
}

// --- running blocks ---------------------------------------------------------------------

void run_with(const Cell* block, run_state& s, std::span<const command> table);

// A nested block: run with the same state, under the recursion guard.
void run_nested(const cursor& c, uint32_t at, const Cell& block, run_state& s,
                std::span<const command> table) {
  if (cycles::find(cycles::key_of(&block))) fail(c, at, err::script::DRAW_INFINITE);
  run_with(&block, s, table);
}

// A block that is checked but must change no cell (a pattern's drawing).
void check_only(const cursor& c, uint32_t at, const Cell& block) {
  run_state quiet;
  run_nested(c, at, block, quiet, commands());
}

// An optional draw block after a transformation or a clip: run as it is.
void optional_block(cursor& c, run_state& s) {
  uint32_t at = c.i;
  Cell b;
  if (try_type(c, TYPE_BLOCK, &b)) run_nested(c, at, b, s, commands());
}

void run_with(const Cell* block_in, run_state& s, std::span<const command> table) {
  Cell block = *block_in;
  cycles::guard guard;
  cycles::push(cycles::key_of(&block));
  cursor c{block, block.w1};
  while (!c.at_end()) {
    uint32_t at = c.i;
    Cell v = c.peek();
    c.i++;
    switch (TYPE_OF(&v)) {
      case TYPE_WORD:
        if (const command* cmd = find_in(table, v)) cmd->run(c, s);
        else fail(c, at);
        break;
      case TYPE_SET_WORD: {
        Cell rest = c.at(c.i);
        word::set(&v, &rest);
        break;
      }
      case TYPE_BLOCK: run_nested(c, at, v, s, table); break;
      default: fail(c, at);
    }
  }
}

// --- pens -------------------------------------------------------------------------------

// A gradient, pattern or bitmap spec after pen or fill-pen: checked, no
// effect. False when none starts here.
bool pen_spec(cursor& c) {
  if (try_keyword(c, {"linear", "radial", "diamond"})) {
    if (!try_tuple(c)) fail(c, c.i);
    while (try_tuple(c) || try_number(c) || try_point(c)) {}
    try_keyword(c, {"pad", "repeat", "reflect"});
    return true;
  }
  if (try_keyword(c, {"pattern"})) {
    need_point(c);
    while (try_point(c)) {}
    try_keyword(c, {"tile", "flip-x", "flip-y", "flip-xy", "clamp"});
    uint32_t at = c.i;
    check_only(c, at, need_type(c, TYPE_BLOCK));
    return true;
  }
  if (try_keyword(c, {"bitmap"})) {
    need_type(c, TYPE_IMAGE);
    while (try_point(c)) {}
    try_keyword(c, {"tile", "flip-x", "flip-y", "flip-xy", "clamp"});
    return true;
  }
  return false;
}

// A colour turns the pen (or the fill) on, `off` turns it off; a spec is
// checked and changes nothing.
void pen_or_fill(cursor& c, bool& on, Cell& color) {
  Cell v;
  if (try_keyword(c, {"off"})) on = false;
  else if (try_tuple(c, &v)) {
    on = true;
    color = v;
  } else if (!pen_spec(c)) {
    fail(c, c.i);
  }
}

void cmd_pen(cursor& c, run_state& s) { pen_or_fill(c, s.pen.pen_on, s.pen.pen_color); }
void cmd_fill_pen(cursor& c, run_state& s) { pen_or_fill(c, s.pen.fill_on, s.pen.fill_color); }

// --- shapes that change cells -----------------------------------------------------------

void cmd_box(cursor& c, run_state& s) {
  xy a = need_point(c), b = need_point(c);
  try_number(c);  // the corner radius: read, not used
  if (s.paint) s.paint->box(s, a.x, a.y, b.x, b.y);
}

void cmd_line(cursor& c, run_state& s) {
  xy a = need_point(c), b = need_point(c);
  if (s.paint) s.paint->line(s, a.x, a.y, b.x, b.y);
  xy next;
  while (try_point(c, &next)) {
    a = b;
    b = next;
    if (s.paint) s.paint->line(s, a.x, a.y, b.x, b.y);
  }
}

void cmd_triangle(cursor& c, run_state& s) {
  xy a = need_point(c), b = need_point(c), d = need_point(c);
  const int64_t corners[6] = {a.x, a.y, b.x, b.y, d.x, d.y};
  if (s.paint) s.paint->triangle(s, corners);
}

void cmd_circle(cursor& c, run_state& s) {
  xy centre = need_point(c);
  int64_t r = need_number(c);
  try_number(c, &r);  // a second radius replaces the first
  if (r > 0 && s.paint) s.paint->ellipse(s, centre.x, centre.y, 2 * r, r);
}

void cmd_ellipse(cursor& c, run_state& s) {
  xy corner = need_point(c), size = need_point(c);
  if (size.x < 1 || size.y < 1 || !s.paint) return;
  // Half-axes (size + 0.5) / 2, truncated.
  s.paint->ellipse(s, corner.x + size.x / 2, corner.y + size.y / 2, (2 * size.x + 1) / 4,
                   (2 * size.y + 1) / 4);
}

void cmd_font(cursor& c, run_state& s) {
  Cell font = need_type(c, TYPE_OBJECT);
  Cell w = word::make(TYPE_WORD, 0, symbol::make("color"), context::NO_INDEX);
  int32_t i = object::find_word(&font, &w);
  const Cell* color = i < 0 ? nullptr : context::values(font.w1) + i;
  if (color && TYPE_OF(color) == TYPE_TUPLE) {
    s.pen.font_color = *color;
    s.pen.font_set = true;
  } else {
    s.pen.font_set = false;
  }
}

void cmd_text(cursor& c, run_state& s) {
  xy at = need_point(c);
  Cell v = value_of(c.peek(), false);
  if (TYPE_OF(&v) != TYPE_STRING && TYPE_OF(&v) != TYPE_OBJECT) fail(c, c.i);
  c.i++;
  if (s.paint) s.paint->text(s, at.x, at.y, &v);
}

// --- commands checked without effect ----------------------------------------------------

void cmd_polygon(cursor& c, run_state&) { points_at_least(c, 3); }

void cmd_number(cursor& c, run_state&) { need_number(c); }

void cmd_word(cursor& c, run_state&) {
  Cell v = c.peek();
  if (TYPE_OF(&v) != TYPE_WORD) fail(c, c.i);
  c.i++;
}

void cmd_line_pattern(cursor& c, run_state&) {
  need_type(c, TYPE_INTEGER);
  while (try_type(c, TYPE_INTEGER)) {}
}

void cmd_arc(cursor& c, run_state&) {
  need_point(c);
  need_point(c);
  need_number(c);
  need_number(c);
  try_keyword(c, {"closed"});
}

void cmd_curve(cursor& c, run_state&) {
  for (int k = 0; k < 3; k++) need_point(c);
  try_point(c);
}

void cmd_spline(cursor& c, run_state&) {
  points_at_least(c, 2);
  try_keyword(c, {"closed"});
}

void cmd_image(cursor& c, run_state&) {
  need_type(c, TYPE_IMAGE);
  while (try_point(c)) {}
  try_tuple(c);
  if (try_keyword(c, {"border", "crop"}))
    while (try_point(c)) {}
}

void cmd_shadow(cursor& c, run_state&) {
  if (try_keyword(c, {"off"})) return;
  need_type(c, TYPE_PAIR);
  if (try_type(c, TYPE_INTEGER)) try_type(c, TYPE_INTEGER);
  try_tuple(c);
  try_keyword(c, {"inset"});
}

void cmd_clip(cursor& c, run_state& s) {
  uint32_t at = c.i;
  Cell shape;
  if (try_type(c, TYPE_BLOCK, &shape, false)) {
    run_state quiet;
    run_nested(c, at, shape, quiet, shape_commands());
  } else {
    need_point(c);
    need_point(c);
  }
  try_keyword(c, {"replace", "intersect", "union", "xor", "exclude"});
  optional_block(c, s);
}

void cmd_shape(cursor& c, run_state&) {
  uint32_t at = c.i;
  run_state quiet;
  run_nested(c, at, need_type(c, TYPE_BLOCK), quiet, shape_commands());
}

// rotate, scale, skew: a number first; translate: a point first; transform:
// either. Then any further numbers and points, then an optional block.
void transformation(cursor& c, run_state& s, bool number_first, bool point_first) {
  skip_pen_target(c);
  bool ok = (number_first && try_number(c)) || (point_first && try_point(c));
  if (!ok) fail(c, c.i);
  while (try_number(c) || try_point(c)) {}
  optional_block(c, s);
}
void cmd_rotate(cursor& c, run_state& s) { transformation(c, s, true, false); }
void cmd_translate(cursor& c, run_state& s) { transformation(c, s, false, true); }
void cmd_transform(cursor& c, run_state& s) { transformation(c, s, true, true); }

void cmd_push(cursor& c, run_state& s) {
  uint32_t at = c.i;
  run_nested(c, at, need_type(c, TYPE_BLOCK), s, commands());
}

void cmd_matrix(cursor& c, run_state&) {
  skip_pen_target(c);
  uint32_t at = c.i;
  Cell m = need_type(c, TYPE_BLOCK);
  int32_t n = block::rs_length(&m);
  for (int32_t k = 0; k < n; k++)
    if (!is_number_type(TYPE_OF(block::rs_head(&m) + k))) fail(c, at);
}

void cmd_reset_matrix(cursor& c, run_state&) { skip_pen_target(c); }

// --- the shape sub-dialect --------------------------------------------------------------

void shape_point(cursor& c, run_state&) { need_point(c); }
void shape_points(cursor& c, run_state&) { points_at_least(c, 1); }
void shape_number(cursor& c, run_state&) { need_number(c); }
void shape_close(cursor&, run_state&) {}
void shape_arc(cursor& c, run_state&) {
  need_point(c);
  need_number(c);
  while (try_number(c)) {}
  while (try_keyword(c, {"sweep", "large"})) {}
}

std::span<const command> commands() {
  static constexpr command TABLE[] = {
      {"pen", cmd_pen},
      {"fill-pen", cmd_fill_pen},
      {"box", cmd_box},
      {"line", cmd_line},
      {"triangle", cmd_triangle},
      {"polygon", cmd_polygon},
      {"circle", cmd_circle},
      {"ellipse", cmd_ellipse},
      {"font", cmd_font},
      {"text", cmd_text},
      {"line-width", cmd_number},
      {"line-join", cmd_word},
      {"line-cap", cmd_word},
      {"line-pattern", cmd_line_pattern},
      {"anti-alias", cmd_word},
      {"arc", cmd_arc},
      {"curve", cmd_curve},
      {"spline", cmd_spline},
      {"image", cmd_image},
      {"shadow", cmd_shadow},
      {"clip", cmd_clip},
      {"shape", cmd_shape},
      {"rotate", cmd_rotate},
      {"scale", cmd_rotate},
      {"translate", cmd_translate},
      {"skew", cmd_rotate},
      {"transform", cmd_transform},
      {"push", cmd_push},
      {"matrix", cmd_matrix},
      {"reset-matrix", cmd_reset_matrix},
      {"invert-matrix", cmd_reset_matrix},
  };
  return TABLE;
}

std::span<const command> shape_commands() {
  static constexpr command TABLE[] = {
      {"move", shape_point},    {"line", shape_points},  {"hline", shape_number},
      {"vline", shape_number},  {"arc", shape_arc},      {"curve", shape_points},
      {"curv", shape_points},   {"qcurve", shape_points}, {"qcurv", shape_points},
      {"close", shape_close},
  };
  return TABLE;
}

// --- rich-text styles -------------------------------------------------------------------

// An optional colour and lit-word after `underline`, `strike` and `border`.
void skip_line_style(cursor& c) {
  try_tuple(c);
  try_type(c, TYPE_LIT_WORD);
}

}  // namespace

void styled_cells(const Cell* face_in, std::vector<colors::screen_cell>& out) {
  static const uint32_t backdrop = sym("backdrop"), bold = sym("bold"), italic = sym("italic"),
                        underline = sym("underline"), strike = sym("strike"), border = sym("border");
  Cell face = *face_in;
  Cell text = *face::get(&face, face::TEXT);
  out.clear();
  if (TYPE_OF(&text) != TYPE_STRING) return;
  uint32_t bg = colors::from_tuple(face::get(&face, face::COLOR));
  text::span chars = text::of(&text);
  for (uint32_t i = 0; i < chars.length; i++) out.push_back({chars.at(i), bg, 0, 0});
  Cell data = *face::get(&face, face::DATA);
  if (TYPE_OF(&data) != TYPE_BLOCK) return;
  // The current range: cells lo to hi - 1.
  int64_t n = int64_t(out.size()), lo = 0, hi = 0;
  auto apply = [&](auto&& change) {
    for (int64_t k = lo; k < hi; k++) change(out[size_t(k)]);
  };
  auto attribute = [&](uint32_t bit) { apply([bit](colors::screen_cell& c) { c.attr |= bit; }); };
  cursor c{data, data.w1};
  while (!c.at_end()) {
    uint32_t at = c.i;
    Cell v = c.peek();
    c.i++;
    switch (TYPE_OF(&v)) {
      case TYPE_PAIR: {
        int64_t start = int32_t(v.w2), length = int32_t(v.w3);
        lo = std::clamp<int64_t>(start - 1, 0, n);
        hi = std::clamp<int64_t>(start - 1 + length, lo, n);
        break;
      }
      case TYPE_TUPLE: {
        uint32_t fg = colors::from_tuple(&v);
        apply([fg](colors::screen_cell& cell) { cell.fg = fg; });
        break;
      }
      case TYPE_STRING: case TYPE_INTEGER: case TYPE_FLOAT: break;  // font name and size
      case TYPE_WORD: {
        uint32_t w = word::canonical(&v);
        if (w == backdrop) {
          Cell color;
          if (!try_tuple(c, &color)) fail(c, c.i);
          uint32_t back = colors::from_tuple(&color);
          apply([back](colors::screen_cell& cell) { cell.bg = back; });
        } else if (w == bold) {
          attribute(colors::BOLD);
        } else if (w == italic) {
          attribute(colors::ITALIC);
        } else if (w == underline || w == strike) {
          attribute(w == underline ? colors::UNDERLINE : colors::STRIKE);
          skip_line_style(c);
        } else if (w == border) {
          skip_line_style(c);
        } else {
          fail(c, at);
        }
        break;
      }
      default: fail(c, at);
    }
  }
}

void update_rich_text(uint32_t id) {
  widgets::widget* w = widgets::get(id);
  if (!w) return;
  Cell face = w->face;
  try {
    styled_cells(&face, w->styled);
  } catch (const failure& f) {
    raise(f);
  }
}

void run(const Cell* block, run_state& s) {
  if (cycles::find(cycles::key_of(block))) throw failure{err::script::DRAW_INFINITE, *block};
  run_with(block, s, commands());
}

void raise(const failure& f) { fire(err::SCRIPT, f.id, &f.at); }

bool silent() {
  static const uint32_t system_sym = symbol::make("system");
  const Cell* system = context::get_global_value(system_sym);
  auto field = [](const Cell* obj, const char* name) -> const Cell* {
    if (!obj || TYPE_OF(obj) != TYPE_OBJECT) return nullptr;
    Cell w = word::make(TYPE_WORD, 0, symbol::make(name), context::NO_INDEX);
    int32_t i = object::find_word(obj, &w);
    return i < 0 ? nullptr : context::values(obj->w1) + i;
  };
  const Cell* v = field(field(system, "view"), "silent?");
  return v && TYPE_OF(v) == TYPE_LOGIC && v->w1;
}

void draw_image() {
  Cell img = stack::arguments[0], cmds = stack::arguments[1];
  if (image::width(&img) == 0 || image::height(&img) == 0) return;
  run_state quiet;
  try {
    run(&cmds, quiet);
  } catch (const failure& f) {
    if (silent()) return;
    raise(f);
  }
  ownership::check(&img, words::poke, nullptr, -1, -1);
}

}  // namespace kez::gui::draw
