// time!: construction, the h:mm:ss text form, the hour/minute/second
// fields and the arithmetic rules that tie time! to float! and date!.
//
// Arithmetic is float!'s (a time mixed with a number stays a time); only the
// pairings that mean nothing (time - date, time x time) are refused here,
// and time + date is handed to date!. Field setters change one field of the
// seconds and leave the others as they were.
#include "types/time.h"

#include <charconv>
#include <cmath>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "types/date.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::time {

Cell* make_at(double seconds, Cell* cell) {
  cell->header = (cell->header & CELL_NEW_LINE) | TYPE_TIME;
  cell->w1 = 0;
  put_float(cell, seconds);
  return cell;
}

Cell* push(double seconds) { return stack::push(make_float_of(TYPE_TIME, seconds)); }

Cell* make_in(Cell* block, uint32_t high, uint32_t low) {
  Cell t{TYPE_TIME, 0, low, high};
  return block::rs_append(block, &t);
}

namespace {

// A double truncated to 32 bits, saturating (fields of absurd times).
int32_t clamp32(double d) {
  if (!(d >= -2147483648.0)) return d != d ? 0 : INT32_MIN;
  if (d > 2147483647.0) return INT32_MAX;
  return int32_t(d);
}

[[noreturn]] void invalid_arg(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::INVALID_ARG, &c);
}

}  // namespace

int32_t get_hours(double t) {
  double h = t / 3600.0;
  return clamp32(h >= 0 ? std::floor(h) : std::ceil(h));
}

int32_t get_minutes(double t) { return clamp32(std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0)); }

Cell* get_field(const Cell* value, int32_t field) {
  double t = get_float(value);
  switch (field) {
    case 1: return stack::push(make_integer(get_hours(t)));
    case 2: return stack::push(make_integer(get_minutes(t)));
    default: return stack::push(make_float(std::fmod(t, 60.0)));
  }
}

double set_field(double t, int32_t field, const Cell* value) {
  uint32_t vt = TYPE_OF(value);
  switch (field) {
    case 1:
      if (vt != TYPE_INTEGER) invalid_arg(value);
      return t - (std::floor(t / 3600.0) - get_integer(value)) * 3600.0;
    case 2:
      if (vt != TYPE_INTEGER) invalid_arg(value);
      return t - (std::floor(std::fmod(t, 3600.0) / 60.0) - get_integer(value)) * 60.0;
    default: {
      double s;
      if (vt == TYPE_INTEGER) s = get_integer(value);
      else if (vt == TYPE_FLOAT) s = get_float(value);
      else invalid_arg(value);
      return t - (std::fmod(t, 60.0) - s);
    }
  }
}

int32_t field_index(const Cell* word) {
  if (!word::is_any_word(TYPE_OF(word))) return -1;
  uint32_t s = symbol::resolve(word->w2);
  if (s == symbol::resolve(words::hour)) return 1;
  if (s == symbol::resolve(words::minute)) return 2;
  if (s == symbol::resolve(words::second)) return 3;
  return -1;
}

// The longest seconds text the lexer reads back (a float's text).
constexpr uint32_t MAX_SECONDS_TEXT = 312;

int32_t form_text(Cell* out, double t, int32_t part, bool exact) {
  if (!std::isfinite(t)) return part - float_::append_text(out, t, float_::MODE_FLOAT);
  if (t == 0) t = 0.0;  // no "-" for a negative zero, nor in its seconds
  int32_t n = 0;
  bool negative = t < 0;
  if (negative) {
    n += string::append_literal(out, "-");
    t = -t;
  }
  // The fields by exact remainders: a division that rounds up near a whole
  // hour would write the next hour beside 59 minutes.
  double within_hour = std::fmod(t, 3600.0), s = std::fmod(t, 60.0);
  double hours = (t - within_hour) / 3600.0;
  auto minutes = int32_t((within_hour - s) / 60.0);
  // Whole hours without an upper limit: a double's integer digits.
  char digits[400];
  auto r = std::to_chars(digits, digits + sizeof digits, hours, std::chars_format::fixed, 0);
  n += string::append_literal(out, std::string_view(digits, size_t(r.ptr - digits)));
  char mm[4] = {':', char('0' + minutes / 10), char('0' + minutes % 10), ':'};
  n += string::append_literal(out, std::string_view(mm, 4));
  // Fixed digits of seconds as small as a double holds, within what the
  // lexer reads as the seconds of a time.
  char text[MAX_SECONDS_TEXT + 8];
  int len;
  if (exact) {
    // The shortest digits that read back as these seconds: hours and
    // minutes are whole, so their sum with the seconds gives t again.
    auto e = std::to_chars(text, text + sizeof text, s, std::chars_format::fixed);
    len = int(e.ptr - text);
    if (e.ec != std::errc() || len > int(MAX_SECONDS_TEXT)) {
      Cell v = make_float_of(TYPE_TIME, negative ? -t : t);
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
  } else if (s < 1e-6) {
    len = 0;
    n += string::append_literal(out, "00");
  } else {
    len = dtoa::form_float_to(text, s, 6, false);
  }
  if (len > 0) {
    if (len == 1 || text[1] == '.') n += string::append_literal(out, "0");
    n += string::append_literal(out, std::string_view(text, size_t(len)));
  }
  return part - n;
}

bool sayable(double t) { return std::isfinite(t) && std::fabs(t) < 2147483648.0 * 3600.0; }

namespace {

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_TIME), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

// [hours minutes seconds]: only the hours may be negative, which negates
// the whole; hours and minutes are integers, seconds integer or float.
double from_block(const Cell* spec) {
  Cell b = *spec;
  int32_t n = block::rs_length(&b);
  if (n > 3) bad_to(spec);
  Cell e[3] = {make_integer(0), make_integer(0), make_integer(0)};
  for (int32_t i = 0; i < n; i++) e[i] = block::rs_head(&b)[i];
  if (TYPE_OF(&e[0]) != TYPE_INTEGER || TYPE_OF(&e[1]) != TYPE_INTEGER) bad_to(spec);
  double s;
  if (TYPE_OF(&e[2]) == TYPE_INTEGER) s = get_integer(&e[2]);
  else if (TYPE_OF(&e[2]) == TYPE_FLOAT) s = get_float(&e[2]);
  else bad_to(spec);
  int32_t h = get_integer(&e[0]), m = get_integer(&e[1]);
  if (m < 0 || s < 0 || std::isnan(s)) bad_to(spec);
  double t = std::fabs(double(h)) * 3600.0 + m * 60.0 + s;
  return h < 0 ? -t : t;
}

double from_text(const Cell* spec) {
  Cell* saved = stack::top;
  Cell* block = lexer::scan_string(spec);
  Cell v = block::rs_length(block) == 1 ? *block::rs_head(block) : none_value;
  stack::top = saved;
  if (TYPE_OF(&v) != TYPE_TIME) bad_to(spec);
  return get_float(&v);
}

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  double t;
  switch (TYPE_OF(spec)) {
    case TYPE_TIME: t = get_float(spec); break;
    case TYPE_INTEGER: t = get_integer(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: t = get_float(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: t = from_block(spec); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: t = from_text(spec); break;
    default: bad_to(spec);
  }
  *proto = make_float_of(TYPE_TIME, t);
  return proto;
}

int32_t form(const Cell* v, Cell* out, int32_t part) { return form_text(out, get_float(v), part); }

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  if (all && !sayable(get_float(v))) {
    Cell value = *v;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &value);
  }
  return form_text(out, get_float(v), part, all);
}

// The field a path or pick selector names: 1-3, or -1.
int32_t selector_field(const Cell* selector) {
  if (TYPE_OF(selector) == TYPE_INTEGER) {
    int32_t i = get_integer(selector);
    return i >= 1 && i <= 3 ? i : -1;
  }
  return field_index(selector);
}

Cell* eval_path(path_step& step, Cell* out) {
  int32_t field = selector_field(step.element);
  if (field < 0) {
    Cell p = step.path ? *step.path : *step.element, e = *step.element;
    fire(err::SCRIPT, err::script::INVALID_PATH, &p, &e);
  }
  if (step.value) {
    Cell v = *step.value;
    put_float(step.parent, set_field(get_float(step.parent), field, &v));
    *out = v;
    return out;
  }
  Cell* f = get_field(step.parent, field);
  *out = *f;
  stack::pop(1);
  return out;
}

Cell* pick(Cell* value, int32_t, const Cell* index) {
  int32_t field = -1;
  if (index && word::is_any_word(TYPE_OF(index))) {
    field = field_index(index);
    if (field < 0) {
      Cell call = stack::get_call_word(), dt = make_datatype(TYPE_TIME);
      fire(err::SCRIPT, err::script::CANNOT_USE, &call, &dt);
    }
  } else if (index && TYPE_OF(index) == TYPE_INTEGER) {
    field = selector_field(index);
  }
  if (field < 0) {
    Cell i = index ? *index : none_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &i);
  }
  Cell* f = get_field(value, field);
  *value = *f;
  stack::pop(1);
  return value;
}

Cell* add(Cell* a, Cell* b) {
  if (TYPE_OF(b) == TYPE_DATE) {
    std::swap(*a, *b);
    return date::do_math(a, b, OP_ADD);
  }
  return float_::do_math(a, b, OP_ADD);
}

Cell* subtract(Cell* a, Cell* b) {
  if (TYPE_OF(b) == TYPE_DATE) numbers::not_related(words::subtract_word, TYPE_TIME);
  return float_::do_math(a, b, OP_SUB);
}

Cell* multiply(Cell* a, Cell* b) {
  if (TYPE_OF(b) == TYPE_TIME) numbers::not_related(words::multiply_word, TYPE_TIME);
  return float_::do_math(a, b, OP_MUL);
}

Cell* divide(Cell* a, Cell* b) {
  bool ratio = TYPE_OF(b) == TYPE_TIME;
  float_::do_math(a, b, OP_DIV);
  if (ratio) set_type(a, TYPE_FLOAT);
  return a;
}

Cell* round(Cell* value, const round_options& o_in) {
  round_options o = o_in;
  // A time scale rounds to a multiple of its seconds.
  Cell scale;
  if (o.scale && TYPE_OF(o.scale) == TYPE_TIME) {
    scale = make_float(get_float(o.scale));
    o.scale = &scale;
  }
  set_type(value, TYPE_FLOAT);
  float_::round(value, o);
  if (TYPE_OF(value) == TYPE_INTEGER) *value = make_float(double(get_integer(value)));
  set_type(value, TYPE_TIME);
  return value;
}

// The whole seconds of the seconds field, after a push of 1e-6 away from
// zero that absorbs the rounding of fractions just below a whole second.
int64_t whole_seconds(const Cell* v) {
  double t = get_float(v);
  t = t >= 0 ? t + 1e-6 : t - 1e-6;
  double s = std::trunc(std::fmod(t, 60.0));
  return std::isfinite(s) ? int64_t(s) : 0;
}

bool even_q(const Cell* v) { return whole_seconds(v) % 2 == 0; }
bool odd_q(const Cell* v) { return whole_seconds(v) % 2 != 0; }

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = make;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.add = add;
  r.subtract = subtract;
  r.multiply = multiply;
  r.divide = divide;
  r.round = round;
  r.even_q = even_q;
  r.odd_q = odd_q;
  r.pick = pick;
  r.random = INHERIT;
  r.compare = INHERIT;
  r.absolute = INHERIT;
  r.negate = INHERIT;
  r.remainder = INHERIT;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_TIME, TYPE_FLOAT, "time!", ROW); }

}  // namespace kez::time
