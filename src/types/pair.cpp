// pair!: making and converting, per-coordinate arithmetic with its escape
// to point2D!, comparison, rounding, paths and the 10x20 text form.
//
// The integer arithmetic is that of integer! (checked, never undefined);
// the escape to point2D! happens before anything is written, so a failed
// or escaped operation never leaves half a pair behind. Floats become
// coordinates only after a range check.
#include "types/pair.h"

#include <cmath>
#include <cstring>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "services/random.h"
#include "types/point.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/integer.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::pair {

Cell* make_at(Cell* cell, int32_t x, int32_t y) {
  cell->header = (cell->header & CELL_NEW_LINE) | TYPE_PAIR;
  cell->w1 = 0;
  cell->w2 = uint32_t(x);
  cell->w3 = uint32_t(y);
  return cell;
}

Cell* push(int32_t x, int32_t y) { return stack::push(Cell{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)}); }

Cell* make_in(Cell* block, int32_t x, int32_t y) {
  Cell c{TYPE_PAIR, 0, uint32_t(x), uint32_t(y)};
  return block::rs_append(block, &c);
}

namespace {

[[noreturn]] void invalid_arg(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::INVALID_ARG, &c);
}

[[noreturn]] void invalid_path(const Cell* path, const Cell* element) {
  Cell p = path ? *path : *element, e = *element;
  fire(err::SCRIPT, err::script::INVALID_PATH, &p, &e);
}

bool in_int32(double t) { return t >= -2147483648.0 && t <= 2147483647.0; }

// The symbol of an axis word, 0 for anything else.
int32_t axis_of(const Cell* word) {
  if (!word::is_word_type(TYPE_OF(word))) return 0;
  uint32_t s = symbol::resolve(word->w2);
  return s == symbol::resolve(words::x) ? 1 : s == symbol::resolve(words::y) ? 2 : 0;
}

}  // namespace

int32_t get_axis(const Cell* word, const Cell* path) {
  int32_t a = axis_of(word);
  if (!a) invalid_path(path, word);
  return a;
}

int32_t get_int(const Cell* value) {
  if (TYPE_OF(value) == TYPE_INTEGER) return get_integer(value);
  double t = std::trunc(get_float(value));
  if (!in_int32(t)) invalid_arg(value);
  return int32_t(t);
}

Cell* to_point2D(Cell* cell) {
  float x = float(pair::x(cell)), y = float(pair::y(cell));
  return point2D::make_at(cell, x, y);
}

Cell* do_math(Cell* left, Cell* right, int32_t op) {
  int32_t rx, ry;
  uint32_t rt = TYPE_OF(right);
  switch (rt) {
    case TYPE_PAIR:
      rx = x(right);
      ry = y(right);
      break;
    case TYPE_INTEGER: rx = ry = get_integer(right); break;
    case TYPE_POINT2D: return point2D::do_math(to_point2D(left), right, op);
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      double d = get_float(right);
      if (op == OP_MUL || op == OP_DIV) {
        if (std::isnan(d) || (op == OP_MUL && std::isinf(d))) invalid_arg(right);
        double a = double(x(left)), b = double(y(left));
        double fx = op == OP_MUL ? a * d : a / d, fy = op == OP_MUL ? b * d : b / d;
        return point2D::make_at(left, point::to_single(fx), point::to_single(fy));
      }
      if (!std::isfinite(d)) invalid_arg(right);
      double t = std::trunc(d);
      if (!in_int32(t)) {
        // A term beyond 32 bits cannot give an integer result either.
        float f = point::to_single(t);
        point2D::make_at(right, f, f);
        return point2D::do_math(to_point2D(left), right, op);
      }
      rx = ry = int32_t(t);
      break;
    }
    default: numbers::invalid_type(rt);
  }
  Cell status = make_none();
  int32_t nx = integer::do_math_op(x(left), rx, op, &status);
  if (TYPE_OF(&status) == TYPE_NONE) {
    int32_t ny = integer::do_math_op(y(left), ry, op, &status);
    if (TYPE_OF(&status) == TYPE_NONE) return make_at(left, nx, ny);
  }
  // The exact result is no pair: redo the operation on points.
  make_at(right, rx, ry);
  to_point2D(right);
  return point2D::do_math(to_point2D(left), right, op);
}

void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_PAIR), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

bool is_number(const Cell* c) { return TYPE_OF(c) == TYPE_INTEGER || TYPE_OF(c) == TYPE_FLOAT; }

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  int32_t px, py;
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: px = py = get_int(spec); break;
    case TYPE_BLOCK: {
      Cell b = *spec;
      Cell* head = block::rs_head(&b);
      if (block::rs_length(&b) < 2 || !is_number(head) || !is_number(head + 1)) {
        Cell v = *spec;
        fire(err::SYNTAX, err::syntax::MALCONSTRUCT, &v);
      }
      Cell a = head[0], c = head[1];
      px = get_int(&a);
      py = get_int(&c);
      break;
    }
    case TYPE_POINT2D: {
      double a = point::coord(spec, 0), c = point::coord(spec, 1);
      double ta = std::trunc(a), tc = std::trunc(c);
      if (!in_int32(ta) || !in_int32(tc)) invalid_arg(spec);
      px = int32_t(ta);
      py = int32_t(tc);
      break;
    }
    case TYPE_STRING: {
      Cell* saved = stack::top;
      Cell* block = lexer::scan_string(spec);
      Cell v = block::rs_length(block) == 1 ? *block::rs_head(block) : none_value;
      stack::top = saved;
      if (TYPE_OF(&v) != TYPE_PAIR) bad_to(spec);
      px = x(&v);
      py = y(&v);
      break;
    }
    case TYPE_PAIR:
      px = x(spec);
      py = y(spec);
      break;
    default: bad_to(spec);
  }
  *proto = Cell{TYPE_PAIR, 0, uint32_t(px), uint32_t(py)};
  return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w2 ^ value->w3));
    *value = make_unset();
    return value;
  }
  int32_t a = x(value), b = y(value);
  return make_at(value, a ? random::rand(secure, a) : 0, b ? random::rand(secure, b) : 0);
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  Cell v = *value;  // appending may move the buffer the value lies in
  int32_t n = string::append_literal(out, integer::to_text(x(&v)));
  n += string::append_literal(out, "x");
  n += string::append_literal(out, integer::to_text(y(&v)));
  return part - n;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(value, out, part);
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell el = *step.element;
  int32_t axis = 0;
  if (TYPE_OF(&el) == TYPE_INTEGER) {
    axis = get_integer(&el);
    if (axis != 1 && axis != 2) invalid_path(step.path, &el);
  } else {
    axis = get_axis(&el, step.path);
  }
  Cell* p = step.parent;
  if (!step.value) {
    *out = make_integer(axis == 1 ? x(p) : y(p));
    return out;
  }
  Cell v = *step.value;
  if (TYPE_OF(&v) != TYPE_INTEGER) numbers::invalid_type(TYPE_OF(&v));
  (axis == 1 ? p->w2 : p->w3) = v.w2;
  *out = v;
  return out;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) == TYPE_POINT2D) {
    Cell p = *a;
    return point2D::compare(to_point2D(&p), b, op);
  }
  if (TYPE_OF(b) != TYPE_PAIR) return -2;
  if (x(a) != x(b)) return x(a) < x(b) ? -1 : 1;
  if (y(a) != y(b)) return y(a) < y(b) ? -1 : 1;
  return 0;
}

Cell* absolute(Cell* value) { return make_at(value, integer::abs(x(value)), integer::abs(y(value))); }

Cell* negate(Cell* value) {
  // Two's complement: -2147483648 stays as it is.
  return make_at(value, int32_t(0u - value->w2), int32_t(0u - value->w3));
}

// One coordinate rounded by integer!'s round with the given scale.
int32_t round_coord(int32_t v, const Cell* scale, const round_options& o) {
  Cell* c = stack::push(make_integer(v));
  round_options each = o;
  each.scale = scale;
  actions::peek_round(TYPE_INTEGER)(c, each);
  Cell r = *c;
  stack::pop(1);
  return get_int(&r);
}

Cell* round(Cell* value, const round_options& o) {
  if (o.scale && TYPE_OF(o.scale) == TYPE_MONEY) numbers::not_related(stack::get_call_word(), TYPE_MONEY);
  Cell* sx = nullptr;
  Cell* sy = nullptr;
  if (o.scale && TYPE_OF(o.scale) == TYPE_PAIR) {
    sx = stack::push(make_integer(x(o.scale)));
    sy = stack::push(make_integer(y(o.scale)));
  }
  int32_t a = round_coord(x(value), sx ? sx : o.scale, o);
  int32_t b = round_coord(y(value), sy ? sy : o.scale, o);
  if (sx) stack::pop(2);
  return make_at(value, a, b);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_value) {
  int32_t axis = index == 1 || index == 2 ? index : 0;
  if (word::is_word_type(TYPE_OF(index_value))) {
    axis = axis_of(index_value);
    if (!axis) {
      Cell w = *index_value, p = *value;
      fire(err::SCRIPT, err::script::CANNOT_USE, &w, &p);
    }
  } else if (TYPE_OF(index_value) != TYPE_INTEGER) {
    axis = 0;
  }
  if (!axis) {
    Cell v = *index_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  *value = make_integer(axis == 1 ? x(value) : y(value));
  return value;
}

Cell* reverse(Cell* value, const Cell*, const Cell*) {
  return make_at(value, y(value), x(value));
}

template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  return do_math(a, b, OP);
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.absolute = absolute;
  r.add = math<OP_ADD>;
  r.divide = math<OP_DIV>;
  r.multiply = math<OP_MUL>;
  r.negate = negate;
  r.remainder = math<OP_REM>;
  r.round = round;
  r.subtract = math<OP_SUB>;
  r.and_t = math<OP_AND>;
  r.or_t = math<OP_OR>;
  r.xor_t = math<OP_XOR>;
  r.pick = pick;
  r.reverse = reverse;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_PAIR, 0, "pair!", ROW); }

}  // namespace kez::pair
