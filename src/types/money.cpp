// money!: currencies, conversions, text forms and the actions.
//
// Currency indexes are positions in system/locale/currencies/list; an index
// must fit the cell's currency byte, so only the first 255 entries name a
// currency. Conversions from floats go through the shortest decimal text of
// the double, never through binary arithmetic on the amount; the amount
// itself is only ever changed by the decimal engine.
#include "types/money.h"

#include <cmath>
#include <cstring>
#include <string>

#include "boot/system.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "services/random.h"
#include "services/scan_number.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::money {

namespace {

// The index byte holds 1-255; 0 is "no currency".
constexpr int32_t MAX_CURRENCIES = 255;
// Amounts a float converts to: below 10^17 and, unless zero, at least 10^-5.
constexpr double FLOAT_LIMIT = 1e17;
constexpr double FLOAT_SMALLEST = 1e-5;

// The currency list as a block, or none! when the system object has none.
Cell currency_list() {
  const Cell* list = system::field({"locale", "currencies", "list"});
  return list && TYPE_OF(list) == TYPE_BLOCK ? *list : none_value;
}

[[noreturn]] void bad_make(const Cell* value) {
  Cell dt = make_datatype(TYPE_MONEY), v = *value;
  fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &v);
}

[[noreturn]] void bad_make_float(double x) {
  Cell v = make_float(x);
  bad_make(&v);
}

[[noreturn]] void bad_to(const Cell* value) {
  Cell dt = make_datatype(TYPE_MONEY), v = *value;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

[[noreturn]] void wrong_denom(const Cell* a, const Cell* b) {
  Cell x = *a, y = *b;
  fire(err::SCRIPT, err::script::WRONG_DENOM, &x, &y);
}

Cell blank_money() { return Cell{TYPE_MONEY, 0, 0, 0}; }

bool lower_equal(const char* name, std::string_view code) {
  size_t i = 0;
  for (; i < code.size(); i++) {
    char a = name[i], b = code[i];
    if (a == 0) return false;
    if (a >= 'A' && a <= 'Z') a = char(a + 32);
    if (b >= 'A' && b <= 'Z') b = char(b + 32);
    if (a != b) return false;
  }
  return name[i] == 0;
}

}  // namespace

int32_t find_currency(const Cell* word) {
  Cell list = currency_list();
  if (TYPE_OF(&list) != TYPE_BLOCK) return -1;
  uint32_t canonical = symbol::resolve(word->w2);
  int32_t n = std::min(block::rs_length(&list), MAX_CURRENCIES);
  const Cell* head = block::rs_head(&list);
  for (int32_t i = 0; i < n; i++)
    if (word::is_word_type(TYPE_OF(head + i)) && symbol::resolve(head[i].w2) == canonical)
      return i + 1;
  return -1;
}

int32_t find_currency_code(std::string_view code) {
  Cell list = currency_list();
  if (TYPE_OF(&list) != TYPE_BLOCK) return -1;
  int32_t n = std::min(block::rs_length(&list), MAX_CURRENCIES);
  const Cell* head = block::rs_head(&list);
  // Names are compared in place: interning the code would allocate.
  for (int32_t i = 0; i < n; i++)
    if (word::is_word_type(TYPE_OF(head + i)) && lower_equal(symbol::to_cstr(head[i].w2), code))
      return i + 1;
  return -1;
}

Cell currency_word(uint32_t index) {
  Cell list = currency_list();
  if (index == 0 || TYPE_OF(&list) != TYPE_BLOCK || int32_t(index) > block::rs_length(&list))
    return none_value;
  Cell w = block::rs_head(&list)[index - 1];
  clear_new_line(&w);
  return w;
}

Cell* make_at(Cell* cell, bool negative, uint32_t currency, const uint8_t* packed) {
  Cell m{(cell->header & CELL_NEW_LINE) | TYPE_MONEY | (negative ? MONEY_SIGN : 0), 0, 0, 0};
  set_currency(&m, currency);
  set_digits(&m, packed);
  *cell = m;
  return cell;
}

Cell* push_new(bool negative, uint32_t currency, const uint8_t* packed) {
  return make_at(stack::push_unset(), negative, currency, packed);
}

Cell* make_at_digits(Cell* cell, bool negative, std::string_view code, std::string_view integer,
                     std::string_view fraction) {
  uint32_t currency = 0;
  if (!code.empty()) {
    int32_t index = find_currency_code(code);
    if (index < 0) return nullptr;
    currency = uint32_t(index);
  }
  uint8_t packed[BYTES] = {};
  int32_t p = UNITS;
  for (size_t i = integer.size(); i > 0 && p >= 1; i--) {
    char c = integer[i - 1];
    if (c == '\'') continue;
    set_digit(packed, p--, c - '0');
  }
  p = UNITS + 1;
  for (size_t i = 0; i < fraction.size() && p <= DIGITS; i++) {
    char c = fraction[i];
    if (c == '\'') continue;
    set_digit(packed, p++, c - '0');
  }
  return make_at(cell, negative && !zero_digits_q(packed), currency, packed);
}

Cell from_integer(int32_t n) {
  Cell m = blank_money();
  int64_t v = n < 0 ? -int64_t(n) : int64_t(n);
  for (int32_t p = UNITS; v > 0; p--, v /= 10) set_digit(digits(&m), p, int32_t(v % 10));
  set_sign(&m, n < 0);
  return m;
}

int32_t to_integer(const Cell* money) {
  if (int_overflow_q(money)) {
    Cell dt = make_datatype(TYPE_INTEGER);
    fire(err::SCRIPT, err::script::TYPE_LIMIT, &dt);
  }
  int64_t v = 0;
  for (int32_t p = 1; p <= UNITS; p++) v = v * 10 + get_digit(digits(money), p);
  return int32_t(get_sign(money) ? -v : v);
}

Cell from_float(double x, bool strict) {
  double a = std::fabs(x);
  if (!std::isfinite(x) || a >= FLOAT_LIMIT || (a > 0.0 && a < FLOAT_SMALLEST)) bad_make_float(x);
  // In this range the shortest text has no exponent: digits, ".", digits.
  char text[dtoa::FORM_BUFFER];
  dtoa::form_float_to(text, x, 22, true);
  std::string_view t = text;
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  size_t point = t.find('.');
  std::string_view integer = t.substr(0, point);
  std::string_view fraction = point == t.npos ? std::string_view{} : t.substr(point + 1);
  if (strict && fraction.size() > size_t(FRACTION)) bad_make_float(x);
  Cell m = blank_money();
  make_at_digits(&m, negative, {}, integer, fraction);
  return m;
}

namespace {

// The amount as plain decimal text without sign: the integer digits from
// the first significant one ("0" when none), then "." and `k` fraction
// digits (none when k < 1). With grouping, "'" separates thousands.
size_t amount_text(const Cell* m, char* out, int32_t k, bool grouping) {
  const uint8_t* d = digits(m);
  size_t n = 0;
  int32_t first = DIGITS - significant_digits(d) + 1;
  if (first <= UNITS) {
    for (int32_t p = first; p <= UNITS; p++) {
      out[n++] = char('0' + get_digit(d, p));
      if (grouping && p != UNITS && (p + 1) % 3 == 0) out[n++] = '\'';
    }
  } else {
    out[n++] = '0';
  }
  if (k >= 1) {
    out[n++] = '.';
    for (int32_t p = UNITS + 1; p <= UNITS + k; p++) out[n++] = char('0' + get_digit(d, p));
  }
  return n;
}

}  // namespace

double to_float(const Cell* money) {
  if (zero_q(money)) return 0.0;
  char text[48];
  size_t n = amount_text(money, text, FRACTION, false);
  double d = dtoa::strtod(text, text + n, 0, nullptr);
  return get_sign(money) ? -d : d;
}

int32_t form_text(const Cell* money, Cell* out, int32_t part, bool all_digits, bool grouping) {
  Cell m = *money;  // looking up and appending may move the buffer it lies in
  int32_t k = 2;
  if (const Cell* option = system::field({"options", "money-digits"});
      option && TYPE_OF(option) == TYPE_INTEGER)
    k = get_integer(option);
  if (all_digits || k > FRACTION) k = FRACTION;
  int32_t n = 0;
  if (negative_q(&m)) n += string::append_literal(out, "-");
  if (uint32_t index = get_currency(&m)) {
    Cell w = currency_word(index);
    if (word::is_word_type(TYPE_OF(&w))) {
      std::string name = symbol::to_cstr(w.w2);  // copied: appending may move it
      n += string::append_utf8(out, name);
    }
  }
  char text[48] = "$";
  size_t len = 1 + amount_text(&m, text + 1, k, grouping);
  n += string::append_literal(out, {text, len});
  return part - n;
}

namespace {

// An operand as money: money! as it is, integer! and float-kind values
// converted; anything else raises invalid-type with its datatype.
Cell as_money(const Cell* v, bool strict) {
  switch (TYPE_OF(v)) {
    case TYPE_MONEY: return *v;
    case TYPE_INTEGER: return from_integer(get_integer(v));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return from_float(get_float(v), strict);
    default: numbers::invalid_type(TYPE_OF(v));
  }
}

// The currency of a result: the second operand's, else the first's; two
// different currencies raise wrong-denom.
uint32_t result_currency(const Cell* a, const Cell* b, const Cell* left, const Cell* right) {
  uint32_t ca = get_currency(a), cb = get_currency(b);
  if (ca && cb && ca != cb) wrong_denom(left, right);
  return cb ? cb : ca;
}

}  // namespace

Cell* do_math(Cell* left, Cell* right, int32_t op) {
  uint32_t lt = TYPE_OF(left), rt = TYPE_OF(right);
  if ((op == OP_MUL && lt == TYPE_MONEY && rt == TYPE_MONEY) ||
      ((op == OP_DIV || op == OP_REM) && lt != TYPE_MONEY && rt == TYPE_MONEY))
    numbers::invalid_type(lt);
  Cell a = as_money(left, false), b = as_money(right, false);
  uint32_t currency = result_currency(&a, &b, left, right);
  do_op(&a, &b, op);
  if (op == OP_DIV && lt == TYPE_MONEY && rt == TYPE_MONEY) {
    *left = make_float(to_float(&a));
    return left;
  }
  set_currency(&a, currency);
  *left = a;
  return left;
}

void do_math(int32_t op) { do_math(stack::arguments, stack::arguments + 1, op); }

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t bt = TYPE_OF(b);
  if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && bt != TYPE_MONEY) return 1;
  Cell other;
  switch (bt) {
    case TYPE_MONEY: {
      uint32_t ca = get_currency(a), cb = get_currency(b);
      switch (op) {
        case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
          if (ca && cb && ca != cb) wrong_denom(a, b);
          break;
        case COMP_SORT:
        case COMP_CASE_SORT:
          if (ca != cb) {
            if (!ca || !cb) return ca ? 1 : -1;
            Cell wa = currency_word(ca), wb = currency_word(cb);
            int32_t r = actions::compare_values(&wa, &wb, COMP_SORT);
            if (r != 0 && r != -2) return r;
          }
          break;
        case COMP_EQUAL:
        case COMP_NOT_EQUAL:
          if (ca && cb && ca != cb) return 1;
          break;
        case COMP_STRICT_EQUAL:
        case COMP_SAME:
          if (ca != cb) return 1;
          break;
        case COMP_FIND:
          if (cb && ca != cb) return 1;
          break;
        default: break;
      }
      return compare_amounts(a, b);
    }
    case TYPE_INTEGER: other = from_integer(get_integer(b)); break;
    case TYPE_FLOAT: {
      // Floats that no amount can hold still compare by value.
      double x = get_float(b);
      if (std::isnan(x)) return -2;
      double m = std::fabs(x);
      if (m >= FLOAT_LIMIT) return x > 0 ? -1 : 1;
      if (m > 0 && m < FLOAT_SMALLEST) {
        int32_t s = sign_q(a);
        return s != 0 ? s : (x > 0 ? -1 : 1);
      }
      other = from_float(x, true);
      break;
    }
    default: return -2;
  }
  return compare_amounts(a, &other);
}

namespace {

[[noreturn]] void bad_path_set(const Cell* selector, const Cell* value) {
  Cell s = *selector, v = *value;
  fire(err::SCRIPT, err::script::BAD_PATH_SET, &s, &v);
}

// The field a selector names: 1 code, 2 amount, 0 for none.
int32_t field_of(const Cell* selector) {
  if (TYPE_OF(selector) == TYPE_INTEGER) {
    int32_t i = get_integer(selector);
    return i == 1 || i == 2 ? i : 0;
  }
  if (!word::is_word_type(TYPE_OF(selector))) return 0;
  uint32_t s = symbol::resolve(selector->w2);
  return s == symbol::resolve(words::code) ? 1 : s == symbol::resolve(words::amount) ? 2 : 0;
}

Cell field_value(const Cell* m, int32_t field) {
  if (field == 1) return currency_word(get_currency(m));
  Cell amount = *m;
  clear_new_line(&amount);
  set_currency(&amount, 0);
  return amount;
}

Cell* pick(Cell* value, int32_t, const Cell* index_value) {
  int32_t f = field_of(index_value);
  if (!f) {
    Cell v = *index_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  *value = field_value(value, f);
  return value;
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell el = *step.element;
  if (step.value) bad_path_set(&el, step.value);
  int32_t f = field_of(&el);
  if (!f) {
    Cell p = step.path ? *step.path : el;
    fire(err::SCRIPT, err::script::INVALID_PATH, &p, &el);
  }
  *out = field_value(step.parent, f);
  return out;
}

// [currency amount extra]: the currency word optional, the extra an
// integer of hundred-thousandths added with the amount's sign.
Cell from_block(const Cell* spec) {
  Cell b = *spec;
  int32_t n = block::rs_length(&b);
  if (n < 1 || n > 3) bad_make(spec);
  Cell items[3];
  for (int32_t i = 0; i < n; i++) items[i] = block::rs_head(&b)[i];
  int32_t at = 0;
  uint32_t currency = 0;
  if (TYPE_OF(items) == TYPE_WORD) {
    int32_t index = find_currency(items);
    if (index < 0) bad_make(spec);
    currency = uint32_t(index);
    at = 1;
  }
  if (at >= n) bad_make(spec);
  uint32_t t = TYPE_OF(items + at);
  if (t != TYPE_INTEGER && t != TYPE_FLOAT) bad_make(spec);
  Cell m = as_money(items + at, true);
  if (++at < n) {
    if (TYPE_OF(items + at) != TYPE_INTEGER) bad_make(spec);
    int32_t extra = get_integer(items + at);
    if (extra < 0 || extra > 99999) bad_make(spec);
    if (++at < n) bad_make(spec);
    Cell e = blank_money();
    for (int32_t p = DIGITS; extra > 0; p--, extra /= 10) set_digit(digits(&e), p, extra % 10);
    set_sign(&e, get_sign(&m));
    bcd_add(&m, &e);
  }
  set_currency(&m, currency);
  return m;
}

Cell* to(Cell* proto, const Cell* spec, uint32_t) {
  Cell m;
  switch (TYPE_OF(spec)) {
    case TYPE_MONEY: m = *spec; break;
    case TYPE_INTEGER: m = from_integer(get_integer(spec)); break;
    case TYPE_FLOAT: m = from_float(get_float(spec), true); break;
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: {
      // The characters are copied out first: looking up a currency may
      // allocate, and so move the string's buffer.
      Cell s = *spec;
      series_buffer* buf = GET_BUFFER(&s);
      uint32_t unit = buf->unit(), total = buf->used() / unit;
      uint32_t head = std::min(s.w1, total);
      std::string chars(reinterpret_cast<const char*>(buf->head_ptr()) + uint64_t(head) * unit,
                        uint64_t(total - head) * unit);
      int32_t error = 0;
      m = blank_money();
      lexer::scan_money(reinterpret_cast<const uint8_t*>(chars.data()), total - head, unit, &error,
                        &m);
      if (error) bad_to(spec);
      break;
    }
    default: bad_to(spec);
  }
  clear_new_line(&m);
  *proto = m;
  return proto;
}

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  switch (TYPE_OF(spec)) {
    case TYPE_WORD: {
      int32_t index = find_currency(spec);
      if (index < 0) bad_make(spec);
      Cell m = blank_money();
      set_currency(&m, uint32_t(index));
      *proto = m;
      return proto;
    }
    case TYPE_BLOCK: *proto = from_block(spec); return proto;
    default: return to(proto, spec, type);
  }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  if (seed) {
    random::seed(int32_t(value->w1 ^ value->w2 ^ value->w3 ^ uint32_t(get_sign(value))));
    *value = make_unset();
    return value;
  }
  auto next = [secure] { return secure ? random::secure_int() : random::next(); };
  uint8_t* d = digits(value);
  bool free = false;
  for (int32_t p = DIGITS - significant_digits(d) + 1; p <= DIGITS; p++) {
    int32_t cur = get_digit(d, p), g;
    if (free) {
      g = next() % 10;
    } else {
      // The value's own digit is kept rarely, so that the result is almost
      // always below the value.
      for (;;) {
        g = next() % (cur + 1);
        if (g != cur) break;
        int32_t u = next() % 1000, v = next() % 1000;
        if (u == v) break;
      }
    }
    set_digit(d, p, g);
    free = free || g < cur;
  }
  if (zero_q(value)) set_sign(value, 0);
  return value;
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return form_text(value, out, part, false, true);
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  return form_text(value, out, part, all, false);
}

int32_t compare_action(const Cell* a, const Cell* b, int32_t op) { return compare(a, b, op); }

Cell* absolute(Cell* value) {
  set_sign(value, 0);
  return value;
}

Cell* negate(Cell* value) {
  if (!zero_q(value)) flip_sign(value);
  return value;
}

template <int32_t OP>
Cell* math(Cell* a, Cell* b) {
  return do_math(a, b, OP);
}

// The scale of round/to as a positive money amount.
Cell round_scale(const Cell* scale) {
  Cell s;
  switch (TYPE_OF(scale)) {
    case TYPE_MONEY: s = *scale; break;
    case TYPE_INTEGER: s = from_integer(get_integer(scale)); break;
    case TYPE_FLOAT: s = from_float(get_float(scale), true); break;
    default: numbers::not_related(stack::get_call_word(), TYPE_OF(scale));
  }
  set_sign(&s, 0);
  return s;
}

Cell* round(Cell* value, const round_options& o) {
  if (zero_q(value)) return value;
  Cell s = o.scale ? round_scale(o.scale) : from_integer(1);
  if (zero_q(&s)) return value;
  bool negative = get_sign(value);
  Cell v = *value;
  set_sign(&v, 0);
  Cell r = v;
  bcd_divide(&r, &s, true);
  // An exact multiple stays as it is whatever the mode.
  if (zero_q(&r)) return value;
  Cell u = s;
  bcd_subtract(&u, &r);
  int32_t c = compare_amounts(&r, &u);
  bool tie = c == 0;
  Cell down = v;
  bcd_subtract(&down, &r);
  auto up = [&] {
    Cell x = v;
    return *bcd_add(&x, &u);
  };
  bool take_up;
  if (o.down) take_up = false;
  else if (o.floor) take_up = negative;
  else if (o.ceiling) take_up = !negative;
  else if (!tie) take_up = c > 0;
  else if (o.even) {
    // At a tie the quotient down / s decides: an even one rounds down. It is
    // even when 2s divides down; a 2s beyond the range exceeds every down.
    Cell q = down;
    if (get_digit(digits(&s), 1) >= 5) {
      take_up = !zero_q(&q);
    } else {
      Cell twice = s;
      bcd_add(&twice, &s);
      take_up = !zero_q(bcd_divide(&q, &twice, true));
    }
  } else if (o.half_down) take_up = false;
  else if (o.half_ceiling) take_up = !negative;
  else take_up = true;
  Cell result = take_up ? up() : down;
  uint32_t currency = get_currency(value);
  result.header = (value->header & CELL_NEW_LINE) | TYPE_MONEY;
  set_currency(&result, currency);
  set_sign(&result, negative && !zero_q(&result));
  *value = result;
  return value;
}

bool even_q(const Cell* value) { return get_digit(digits(value), UNITS) % 2 == 0; }
bool odd_q(const Cell* value) { return !even_q(value); }

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare_action;
  r.absolute = absolute;
  r.add = math<OP_ADD>;
  r.divide = math<OP_DIV>;
  r.multiply = math<OP_MUL>;
  r.negate = negate;
  r.remainder = math<OP_REM>;
  r.round = round;
  r.subtract = math<OP_SUB>;
  r.even_q = even_q;
  r.odd_q = odd_q;
  r.pick = pick;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_MONEY, 0, "money!", ROW); }

}  // namespace kez::money
