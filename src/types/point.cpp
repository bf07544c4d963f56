// point2D! and point3D!: one implementation over the number of coordinates
// (N = 2 or 3): making, arithmetic, comparison, rounding, paths and the
// (x, y) text form.
//
// Coordinates are read and written through memcpy as 32-bit floats; every
// result is computed in double and narrowed by to_single, which maps values
// beyond the float range to infinities instead of relying on an undefined
// conversion. The words a point does not use stay 0.
#include "types/point.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "services/random.h"
#include "types/pair.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::point {

float to_single(double d) {
  // Halfway between the largest float and the next power of two: from there
  // on the nearest single is infinity.
  constexpr double LIMIT = 3.4028235677973366e38;
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  if (d >= LIMIT) return std::numeric_limits<float>::infinity();
  if (d <= -LIMIT) return -std::numeric_limits<float>::infinity();
  return float(d);
}

float coord(const Cell* p, int i) {
  const uint32_t w = i == 0 ? p->w1 : i == 1 ? p->w2 : p->w3;
  return std::bit_cast<float>(w);
}

void set_coord(Cell* p, int i, float v) {
  uint32_t w = std::bit_cast<uint32_t>(v);
  (i == 0 ? p->w1 : i == 1 ? p->w2 : p->w3) = w;
}

namespace {

constexpr uint32_t type_of_n(int n) { return n == 2 ? TYPE_POINT2D : TYPE_POINT3D; }

template <int N>
Cell* make_at(Cell* cell, const float* c) {
  cell->header = (cell->header & CELL_NEW_LINE) | type_of_n(N);
  cell->w3 = 0;
  for (int i = 0; i < N; i++) set_coord(cell, i, c[i]);
  return cell;
}

template <int N>
Cell make(const float* c) {
  Cell cell{0, 0, 0, 0};
  return *make_at<N>(&cell, c);
}

float number_to_single(const Cell* value) {
  if (TYPE_OF(value) == TYPE_INTEGER) return float(get_integer(value));
  return to_single(get_float(value));
}

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
  Cell dt = make_datatype(type), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

bool is_number(const Cell* c) { return TYPE_OF(c) == TYPE_INTEGER || TYPE_OF(c) == TYPE_FLOAT; }

template <int N>
Cell* make_action(Cell* proto, const Cell* spec, uint32_t) {
  constexpr uint32_t type = type_of_n(N);
  float c[3] = {0, 0, 0};
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: c[0] = c[1] = c[2] = number_to_single(spec); break;
    case TYPE_BLOCK: {
      Cell b = *spec;
      bool ok = block::rs_length(&b) >= N;
      for (int i = 0; ok && i < N; i++) ok = is_number(block::rs_head(&b) + i);
      if (!ok) {
        Cell v = *spec;
        fire(err::SYNTAX, err::syntax::MALCONSTRUCT, &v);
      }
      for (int i = 0; i < N; i++) {
        Cell e = block::rs_head(&b)[i];
        c[i] = number_to_single(&e);
      }
      break;
    }
    case TYPE_PAIR:
      c[0] = float(pair::x(spec));
      c[1] = float(pair::y(spec));
      break;
    case TYPE_POINT2D:
      c[0] = coord(spec, 0);
      c[1] = coord(spec, 1);
      break;
    case TYPE_POINT3D:
      if (N == 2) bad_to(type, spec);
      for (int i = 0; i < 3; i++) c[i] = coord(spec, i);
      break;
    case TYPE_STRING: {
      Cell* saved = stack::top;
      Cell* block = lexer::scan_string(spec);
      Cell v = block::rs_length(block) == 1 ? *block::rs_head(block) : none_value;
      stack::top = saved;
      if (TYPE_OF(&v) != type) bad_to(type, spec);
      for (int i = 0; i < N; i++) c[i] = coord(&v, i);
      break;
    }
    default: bad_to(type, spec);
  }
  *proto = make<N>(c);
  return proto;
}

template <int N>
Cell* do_math(Cell* left, Cell* right, int32_t op) {
  double r[3];
  uint32_t rt = TYPE_OF(right);
  switch (rt) {
    case TYPE_INTEGER: r[0] = r[1] = r[2] = double(get_integer(right)); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: r[0] = r[1] = r[2] = double(to_single(get_float(right))); break;
    case TYPE_PAIR:
      if (N == 3) numbers::invalid_type(rt);
      r[0] = double(pair::x(right));
      r[1] = double(pair::y(right));
      break;
    default:
      if (rt != type_of_n(N)) numbers::invalid_type(rt);
      for (int i = 0; i < N; i++) r[i] = double(coord(right, i));
  }
  float c[3];
  for (int i = 0; i < N; i++)
    c[i] = to_single(float_::do_math_op(double(coord(left, i)), r[i], op));
  return make_at<N>(left, c);
}

template <int N>
int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  Cell other = *b;
  if (N == 2 && TYPE_OF(&other) == TYPE_PAIR) pair::to_point2D(&other);
  if (TYPE_OF(&other) != type_of_n(N)) return -2;
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
      for (int i = 0; i < N; i++)
        if (!float_::almost_equal32(coord(a, i), coord(&other, i))) return 1;
      return 0;
    case COMP_STRICT_EQUAL:
      for (int i = 0; i < N; i++)
        if (coord(a, i) != coord(&other, i)) return 1;
      return 0;
    case COMP_SAME:
      for (int i = 0; i < N; i++)
        if (std::bit_cast<uint32_t>(coord(a, i)) != std::bit_cast<uint32_t>(coord(&other, i)))
          return 1;
      return 0;
    default: {
      float d = 0;
      for (int i = 0; i < N; i++) {
        d = to_single(double(coord(a, i)) - double(coord(&other, i)));
        if (!float_::almost_equal32(d, 0.0f)) break;
      }
      return d < 0 ? -1 : d > 0 ? 1 : 0;
    }
  }
}

template <int N>
Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    uint32_t words[3] = {value->w1, value->w2, value->w3};
    random::seed(int32_t(hashtable::murmur3(words, 4 * N)));
    *value = make_unset();
    return value;
  }
  for (int i = 0; i < N; i++) {
    float c = coord(value, i);
    if (c != 0.0f) set_coord(value, i, to_single(float_::get_random(double(c), secure)));
  }
  return value;
}

// The shortest text that reads back as the coordinate itself (mold/all):
// the display form keeps 7 digits and writes tiny values as 0.
int32_t append_exact(Cell* out, float c) {
  if (!std::isfinite(c)) return float_::append_text(out, double(c), float_::MODE_POINT);
  char text[32];
  auto r = std::to_chars(text, text + sizeof text, c);
  std::string_view t(text, size_t(r.ptr - text));
  size_t e = t.find('e');
  if (e == std::string_view::npos) return string::append_literal(out, t);
  // "1e+20" and "1e-05" as "1e20" and "1e-5".
  std::string s(t.substr(0, e + 1));
  std::string_view exponent = t.substr(e + 1);
  if (exponent[0] == '-') s += '-';
  if (exponent[0] == '+' || exponent[0] == '-') exponent.remove_prefix(1);
  while (exponent.size() > 1 && exponent[0] == '0') exponent.remove_prefix(1);
  s += exponent;
  return string::append_literal(out, s);
}

template <int N>
int32_t write_text(const Cell* value, Cell* out, int32_t part, bool exact) {
  Cell v = *value;  // appending may move the buffer the value lies in
  int32_t n = string::append_literal(out, "(");
  for (int i = 0; i < N; i++) {
    if (i) n += string::append_literal(out, ", ");
    n += exact ? append_exact(out, coord(&v, i))
               : float_::append_text(out, double(coord(&v, i)), float_::MODE_POINT);
  }
  n += string::append_literal(out, ")");
  return part - n;
}

template <int N>
int32_t form(const Cell* value, Cell* out, int32_t part) {
  return write_text<N>(value, out, part, false);
}

template <int N>
int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  return write_text<N>(value, out, part, all);
}

// The axis a word names (1 x, 2 y, 3 z), 0 for none of this type's.
template <int N>
int32_t axis_of(const Cell* word) {
  if (!word::is_word_type(TYPE_OF(word))) return 0;
  uint32_t s = symbol::resolve(word->w2);
  if (s == symbol::resolve(words::x)) return 1;
  if (s == symbol::resolve(words::y)) return 2;
  if (N == 3 && s == symbol::resolve(words::z)) return 3;
  return 0;
}

template <int N>
Cell* eval_path(path_step& step, Cell* out) {
  Cell el = *step.element;
  int32_t axis = TYPE_OF(&el) == TYPE_INTEGER ? get_integer(&el) : axis_of<N>(&el);
  if (axis < 1 || axis > N) {
    Cell p = step.path ? *step.path : el;
    fire(err::SCRIPT, err::script::INVALID_PATH, &p, &el);
  }
  if (!step.value) {
    *out = make_float(double(coord(step.parent, axis - 1)));
    return out;
  }
  Cell v = *step.value;
  if (!is_number(&v)) numbers::invalid_type(TYPE_OF(&v));
  set_coord(step.parent, axis - 1, number_to_single(&v));
  *out = v;
  return out;
}

template <int N>
Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
  int32_t axis = TYPE_OF(index_value) == TYPE_INTEGER ? index : 0;
  if (word::is_word_type(TYPE_OF(index_value))) {
    axis = axis_of<N>(index_value);
    if (!axis) {
      Cell w = *index_value, p = *value;
      fire(err::SCRIPT, err::script::CANNOT_USE, &w, &p);
    }
  }
  if (axis < 1 || axis > N) {
    Cell v = *index_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  *value = make_float(double(coord(value, axis - 1)));
  return value;
}

template <int N>
Cell* absolute(Cell* value) {
  for (int i = 0; i < N; i++) set_coord(value, i, std::fabs(coord(value, i)));
  return value;
}

template <int N>
Cell* negate(Cell* value) {
  for (int i = 0; i < N; i++) set_coord(value, i, 0.0f - coord(value, i));
  return value;
}

template <int N>
Cell* reverse(Cell* value, const Cell*, const Cell*) {
  float first = coord(value, 0), last = coord(value, N - 1);
  set_coord(value, 0, last);
  set_coord(value, N - 1, first);
  return value;
}

template <int N>
Cell* round(Cell* value, const round_options& o) {
  const Cell* scale = o.scale;
  if (scale && TYPE_OF(scale) == TYPE_MONEY) numbers::not_related(stack::get_call_word(), TYPE_MONEY);
  // Per-coordinate scales: a pair's as integers, a point's as floats.
  Cell* scales = nullptr;
  if (scale && (TYPE_OF(scale) == TYPE_PAIR || TYPE_OF(scale) == TYPE_POINT2D ||
                TYPE_OF(scale) == TYPE_POINT3D)) {
    Cell s = *scale;
    scales = stack::top;
    for (int i = 0; i < N; i++) {
      if (TYPE_OF(&s) == TYPE_PAIR) {
        int32_t v = i == 0 ? pair::x(&s) : i == 1 ? pair::y(&s) : 0;
        stack::push(make_integer(v));
      } else {
        stack::push(make_float(double(coord(&s, i))));
      }
    }
  }
  Cell* c = stack::push_unset();
  for (int i = 0; i < N; i++) {
    *c = make_float(double(coord(value, i)));
    round_options each = o;
    each.scale = scales ? scales + i : scale;
    float_::round(c, each);
    double r = TYPE_OF(c) == TYPE_INTEGER ? double(get_integer(c)) : get_float(c);
    set_coord(value, i, to_single(r));
  }
  stack::top = scales ? scales : c;
  return value;
}

template <int N>
Cell* math_add(Cell* a, Cell* b) { return do_math<N>(a, b, OP_ADD); }
template <int N>
Cell* math_sub(Cell* a, Cell* b) { return do_math<N>(a, b, OP_SUB); }
template <int N>
Cell* math_mul(Cell* a, Cell* b) { return do_math<N>(a, b, OP_MUL); }
template <int N>
Cell* math_div(Cell* a, Cell* b) { return do_math<N>(a, b, OP_DIV); }
template <int N>
Cell* math_rem(Cell* a, Cell* b) { return do_math<N>(a, b, OP_REM); }

template <int N>
constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make_action<N>;
  r.random = random<N>;
  r.to = make_action<N>;
  r.form = form<N>;
  r.mold = mold<N>;
  r.eval_path = eval_path<N>;
  r.compare = compare<N>;
  r.absolute = absolute<N>;
  r.add = math_add<N>;
  r.divide = math_div<N>;
  r.multiply = math_mul<N>;
  r.negate = negate<N>;
  r.remainder = math_rem<N>;
  r.round = round<N>;
  r.subtract = math_sub<N>;
  r.pick = pick<N>;
  r.reverse = reverse<N>;
  return r;
}();

}  // namespace

}  // namespace kez::point

namespace kez::point2D {

Cell* make_at(Cell* cell, float x, float y) {
  const float c[2] = {x, y};
  return point::make_at<2>(cell, c);
}
Cell* push(float x, float y) {
  const float c[2] = {x, y};
  return stack::push(point::make<2>(c));
}
Cell* make_in(Cell* block, float x, float y) {
  const float c[2] = {x, y};
  Cell v = point::make<2>(c);
  return block::rs_append(block, &v);
}
float get_float(const Cell* value) { return point::number_to_single(value); }
Cell* do_math(Cell* left, Cell* right, int32_t op) { return point::do_math<2>(left, right, op); }
void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }
int32_t compare(const Cell* a, const Cell* b, int32_t op) { return point::compare<2>(a, b, op); }
void init() { datatype::register_type(TYPE_POINT2D, 0, "point2D!", point::ROW<2>); }

}  // namespace kez::point2D

namespace kez::point3D {

Cell* make_at(Cell* cell, float x, float y, float z) {
  const float c[3] = {x, y, z};
  return point::make_at<3>(cell, c);
}
Cell* push(float x, float y, float z) {
  const float c[3] = {x, y, z};
  return stack::push(point::make<3>(c));
}
Cell* make_in(Cell* block, float x, float y, float z) {
  const float c[3] = {x, y, z};
  Cell v = point::make<3>(c);
  return block::rs_append(block, &v);
}
Cell* do_math(Cell* left, Cell* right, int32_t op) { return point::do_math<3>(left, right, op); }
void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }
void init() { datatype::register_type(TYPE_POINT3D, 0, "point3D!", point::ROW<3>); }

}  // namespace kez::point3D
