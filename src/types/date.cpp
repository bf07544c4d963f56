// date!: calendar arithmetic, normalisation, the fourteen fields, making
// from blocks and integers, comparison of instants and the text form.
//
// Every operation computes its new date word and time into locals and
// checks them (a year that leaves the 15 bits raises type-limit) before it
// stores anything, so a failing operation leaves the date as it was. Day
// numbers are 64-bit while being computed, so no user value can overflow
// them before that check.
#include "types/date.h"

#include <cmath>
#include <cstring>

#include "boot/system.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/random.h"
#include "types/time.h"
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

namespace kez::date {

namespace {

inline int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
inline int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from 1 March of year 0 to 1 March of year y.
inline int64_t year_start(int64_t y) {
  return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

[[noreturn]] void type_limit(uint32_t type) {
  Cell dt = make_datatype(type);
  fire(err::SCRIPT, err::script::TYPE_LIMIT, &dt);
}

[[noreturn]] void invalid_arg(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::INVALID_ARG, &c);
}

[[noreturn]] void bad_to(const Cell* spec) {
  Cell dt = make_datatype(TYPE_DATE), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

inline uint32_t pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
  return (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7) |
         (has_time ? HAS_TIME : 0) | (zone & ZONE_MASK);
}

inline Cell make_date(uint32_t word, double t) {
  Cell d{TYPE_DATE, word, 0, 0};
  put_float(&d, t);
  return d;
}

// Writes word and time into a date cell, keeping its new-line bit.
inline void store(Cell* d, uint32_t word, double t) {
  d->header = (d->header & CELL_NEW_LINE) | TYPE_DATE;
  d->w1 = word;
  put_float(d, t);
}

int64_t jan_first(uint32_t word) { return to_day_number(year_of(word), 1, 1); }

// Day number of the Monday of ISO week 1 of `year`; `k` receives the
// weekday (1 Monday .. 7 Sunday) of 1 January.
int64_t iso_week_one(int64_t year, int32_t* k) {
  int64_t j = to_day_number(year, 1, 1);
  int32_t b = weekday_index(j);
  if (k) *k = b + 1;
  return b < 4 ? j - b : j - b + 7;
}

int32_t iso_week(uint32_t word) {
  int64_t year = year_of(word), g = day_number(word);
  int32_t k;
  int64_t w1 = iso_week_one(year, &k);
  if (g < w1) {
    if (k == 5) return 53;
    if (k == 6) return leap_year(year - 1) ? 53 : 52;
    return 52;
  }
  int64_t next = iso_week_one(year + 1, nullptr);
  return g < next ? int32_t((g - w1) / 7 + 1) : 1;
}

int32_t sunday_week(uint32_t word) {
  int64_t e = floor_mod(jan_first(word) + 3, 7);
  int64_t yd = get_yearday(word);
  return yd > 7 - e ? int32_t((yd + e - 1) / 7 + 1) : 1;
}

// A double number of days carried by normalisation, checked before it is
// turned into an integer.
int64_t checked_days(double days) {
  if (!(std::fabs(days) < 1e9)) type_limit(TYPE_DATE);
  return int64_t(days);
}

}  // namespace

// --- Calendar --------------------------------------------------------------------

bool leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t month_length(int64_t year, int32_t month) {
  static constexpr int32_t DAYS[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : DAYS[(month - 1) % 12];
}

int64_t to_day_number(int64_t y, int32_t m, int64_t d) {
  int64_t mm = (m + 9) % 12;  // March 0 .. February 11
  int64_t yy = y - mm / 10;   // January and February belong to the year before
  return year_start(yy) + (306 * mm + 5) / 10 + (d - 1);
}

int64_t day_number(uint32_t word) { return to_day_number(year_of(word), month_of(word), day_of(word)); }

uint32_t from_day_number(int64_t g, uint32_t zone, bool has_time) {
  static const int64_t FIRST = to_day_number(MIN_YEAR, 1, 1);
  static const int64_t LAST = to_day_number(MAX_YEAR, 12, 31);
  if (g < FIRST || g > LAST) type_limit(TYPE_DATE);
  int64_t y = int64_t(std::floor((10000.0 * double(g) + 14780.0) / 3652425.0));
  int64_t r = g - year_start(y);
  if (r < 0) {
    y--;
    r = g - year_start(y);
  }
  int64_t mi = (100 * r + 52) / 3060;
  int32_t month = int32_t((mi + 2) % 12 + 1);
  int64_t year = y + (mi + 2) / 12;
  int32_t day = int32_t(r - (306 * mi + 5) / 10 + 1);
  return pack(year, month, day, zone, has_time);
}

int32_t weekday_index(int64_t g) { return int32_t(floor_mod(g + 2, 7)); }

int32_t get_yearday(uint32_t word) { return int32_t(day_number(word) - jan_first(word) + 1); }

// --- Zones and normalisation ------------------------------------------------------

uint32_t zone_bits(bool west, int32_t hours, int32_t minutes) {
  uint32_t h = uint32_t(hours < 0 ? -int64_t(hours) : hours) & 15;
  uint32_t m = uint32_t(minutes < 0 ? -int64_t(minutes) : minutes);
  uint32_t z = (h << 2) | ((m / 15) & 3);
  if ((west || hours < 0) && z) z |= ZONE_WEST;
  return z;
}

double zone_offset(uint32_t z) {
  double offset = double((z >> 2) & 15) * 3600.0 + double(z & 3) * 900.0;
  return (z & ZONE_WEST) ? -offset : offset;
}

int64_t normalize_time(int64_t g, double& t, uint32_t zone) {
  if (!std::isfinite(t)) type_limit(TYPE_DATE);
  double zh = zone_offset(zone) / 3600.0;
  int64_t k = checked_days(std::trunc(std::trunc(t / 3600.0 + zh) / 24.0));
  t -= double(k) * 86400.0;
  g += k;
  if (zh * 3600.0 + t < 0) {
    t += 86400.0;
    g--;
  }
  return g;
}

void normalize(Cell* d, double t, bool convert) {
  uint32_t word = d->w1, zone = zone_of(word);
  if (convert) t = to_utc(t, zone);
  int64_t g = normalize_time(day_number(word), t, zone);
  store(d, from_day_number(g, zone, has_time(word)), t);
}

namespace {

// Sets the month, carrying whole years: month 13 is January of the next
// year, 0 December of the year before, -11 January of the year before.
uint32_t with_month(uint32_t word, int64_t n) {
  int64_t year = year_of(word) + floor_div(n - 1, 12);
  int32_t month = int32_t(floor_mod(n - 1, 12) + 1);
  return from_day_number(to_day_number(year, month, day_of(word)), zone_of(word), has_time(word));
}

// The hours, minutes and sign of a zone given as integer! hours or time!.
uint32_t zone_from_value(const Cell* value) {
  if (TYPE_OF(value) == TYPE_INTEGER) {
    int32_t n = get_integer(value);
    return zone_bits(n < 0, n % 16, 0);
  }
  if (TYPE_OF(value) == TYPE_TIME) {
    double f = std::fmod(get_float(value), 57600.0);
    if (std::isnan(f)) invalid_arg(value);
    return zone_bits(f < 0, time::get_hours(f), time::get_minutes(f));
  }
  invalid_arg(value);
}

// Moves to a new zone keeping the local date and clock time (keep_instant
// false) or the instant (true).
void set_zone(Cell* d, const Cell* value, bool keep_instant) {
  uint32_t zone = zone_from_value(value);
  uint32_t word = d->w1 | HAS_TIME;
  double t = time_of(d);
  if (!keep_instant) {
    double local = to_local(t, zone_of(word));
    store(d, (word & ~ZONE_MASK) | zone, to_utc(local, zone));
    return;
  }
  Cell probe = make_date((word & ~ZONE_MASK) | zone, t);
  normalize(&probe, to_local(t, zone), true);
  store(d, probe.w1, time_of(&probe));
}

}  // namespace

// --- Constructors -------------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds, bool west,
              int32_t zone_hours, int32_t zone_minutes, bool with_time) {
  if (year < MIN_YEAR || year > MAX_YEAR) type_limit(TYPE_DATE);
  uint32_t zone = with_time ? zone_bits(west, zone_hours, zone_minutes) : 0;
  store(cell, pack(year, month, day, zone, with_time), with_time ? to_utc(seconds, zone) : 0.0);
  return cell;
}

Cell* make_at_parts(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                    int32_t minute, int32_t second, int32_t nanoseconds) {
  double t = 3600.0 * hour + 60.0 * minute + second + 1e-9 * nanoseconds;
  return make_at(cell, year, month, day, t, false, 0, 0, true);
}

Cell* push(uint32_t word, double t) { return stack::push(make_date(word, t)); }

Cell* make_in(Cell* block, uint32_t word, double t) {
  Cell d = make_date(word, t);
  return block::rs_append(block, &d);
}

void set_isoweek(Cell* d, int64_t n) {
  uint32_t w = d->w1;
  int64_t g = iso_week_one(year_of(w), nullptr) + 7 * (n - 1);
  d->w1 = from_day_number(g, zone_of(w), has_time(w));
}

void set_weekday(Cell* d, int64_t n) {
  uint32_t w = d->w1;
  int64_t g = day_number(w);
  d->w1 = from_day_number(g + (n - 1) - weekday_index(g), zone_of(w), has_time(w));
}

void set_yearday(Cell* d, int64_t n) {
  uint32_t w = d->w1;
  d->w1 = from_day_number(jan_first(w) + n - 1, zone_of(w), has_time(w));
}

// --- Fields ------------------------------------------------------------------------------

int32_t field_index(const Cell* word) {
  if (!word::is_any_word(TYPE_OF(word))) return -1;
  static const uint32_t* const NAMES[] = {
      &words::date,    &words::year,    &words::month,    &words::day,     &words::zone,
      &words::time,    &words::hour,    &words::minute,   &words::second,  &words::weekday,
      &words::yearday, &words::timezone, &words::week,    &words::isoweek};
  uint32_t s = symbol::resolve(word->w2);
  if (s == symbol::resolve(words::julian)) return 11;
  for (int32_t i = 0; i < 14; i++)
    if (s == symbol::resolve(*NAMES[i])) return i + 1;
  return -1;
}

Cell* get_field(const Cell* d, int32_t field) {
  uint32_t w = d->w1;
  double local = to_local(time_of(d), zone_of(w));
  switch (field) {
    case 1: return stack::push(make_date(w & ~(HAS_TIME | ZONE_MASK), 0.0));
    case 2: return stack::push(make_integer(year_of(w)));
    case 3: return stack::push(make_integer(month_of(w)));
    case 4: return stack::push(make_integer(day_of(w)));
    case 5:
    case 12:
      return has_time(w) ? time::push(zone_offset(zone_of(w))) : stack::push(none_value);
    case 6: return has_time(w) ? time::push(local) : stack::push(none_value);
    case 7: return stack::push(make_integer(time::get_hours(local)));
    case 8: return stack::push(make_integer(time::get_minutes(local)));
    case 9: return stack::push(make_float(std::fmod(local, 60.0)));
    case 10: return stack::push(make_integer(weekday_index(day_number(w)) + 1));
    case 11: return stack::push(make_integer(get_yearday(w)));
    case 13: return stack::push(make_integer(sunday_week(w)));
    default: return stack::push(make_integer(iso_week(w)));
  }
}

namespace {

int64_t integer_arg(const Cell* value) {
  if (TYPE_OF(value) != TYPE_INTEGER) invalid_arg(value);
  return get_integer(value);
}

// Sets field 1-14 of the date in `d` from `value`.
void set_field(Cell* d, int32_t field, const Cell* value) {
  uint32_t w = d->w1, zone = zone_of(w);
  bool timed = has_time(w);
  double t = time_of(d);
  int64_t g = day_number(w);
  auto move_to = [&](int64_t day) { store(d, from_day_number(day, zone, timed), t); };
  switch (field) {
    case 1: {
      if (TYPE_OF(value) != TYPE_DATE) invalid_arg(value);
      uint32_t v = value->w1;
      // A date without a time keeps no time: its double is 0.0.
      if (!has_time(v)) store(d, v & ~(HAS_TIME | ZONE_MASK), 0.0);
      else store(d, (v & ~ZONE_MASK) | zone, t);
      return;
    }
    case 2:
      return move_to(to_day_number(integer_arg(value), month_of(w), day_of(w)));
    case 3: store(d, with_month(w, integer_arg(value)), t); return;
    case 4: return move_to(to_day_number(year_of(w), month_of(w), 0) + integer_arg(value));
    case 5:
    case 12: {
      Cell v = *value;
      if (TYPE_OF(&v) != TYPE_INTEGER && TYPE_OF(&v) != TYPE_TIME) invalid_arg(&v);
      set_zone(d, &v, field == 12);
      return;
    }
    case 6:
      if (TYPE_OF(value) == TYPE_NONE) {
        store(d, w & ~HAS_TIME, 0.0);
        return;
      }
      if (TYPE_OF(value) != TYPE_TIME) invalid_arg(value);
      {
        Cell probe = make_date(w | HAS_TIME, t);
        normalize(&probe, get_float(value), true);
        store(d, probe.w1, time_of(&probe));
      }
      return;
    case 7:
    case 8:
    case 9: {
      // The field is set on the local clock time, whatever the zone.
      double local = time::set_field(to_local(t, zone), field - 6, value);
      Cell probe = make_date(w | HAS_TIME, t);
      normalize(&probe, local, true);
      store(d, probe.w1, time_of(&probe));
      return;
    }
    case 10: {
      int64_t n = integer_arg(value);
      return move_to(g + (n - 1) - weekday_index(g));
    }
    case 11: return move_to(jan_first(w) + integer_arg(value) - 1);
    case 13: {
      int64_t n = integer_arg(value), j = jan_first(w);
      return move_to(n > 1 ? j + 7 * n - floor_mod(j + 3, 7) - 7 : j);
    }
    default: {
      int64_t n = integer_arg(value);
      return move_to(iso_week_one(year_of(w), nullptr) + 7 * (n - 1));
    }
  }
}

int32_t selector_field(const Cell* selector) {
  if (TYPE_OF(selector) == TYPE_INTEGER) {
    int32_t i = get_integer(selector);
    return i >= 1 && i <= 14 ? i : -1;
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
    set_field(step.parent, field, &v);
    *out = v;
    return out;
  }
  Cell* f = get_field(step.parent, field);
  *out = *f;
  stack::pop(1);
  return out;
}

Cell* pick(Cell* d, int32_t, const Cell* index) {
  int32_t field = index ? selector_field(index) : -1;
  if (field < 0) {
    Cell i = index ? *index : none_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &i);
  }
  Cell* f = get_field(d, field);
  *d = *f;
  stack::pop(1);
  return d;
}

// --- Making ----------------------------------------------------------------------------

// The block forms: [day month year], [year month day] (year above 99 and
// after it a smaller number), then an optional time as h m s or a time!,
// then an optional zone as hours and minutes or a time!.
enum slot : int { NONE, A, MONTH, C, HOUR, MINUTE, SECOND, FSECOND, TIME, ZHOUR, ZMINUTE, ZTIME };
struct transition {
  int8_t next;
  int8_t slot;
};
// By state, then by element class: integer!, time!, float!.
constexpr transition STATES[14][3] = {
    {{1, A}, {-1, NONE}, {-1, NONE}},
    {{2, MONTH}, {-1, NONE}, {-1, NONE}},
    {{3, C}, {-1, NONE}, {-1, NONE}},
    {{8, HOUR}, {4, TIME}, {-1, NONE}},
    {{6, ZHOUR}, {5, ZTIME}, {-1, NONE}},
    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
    {{7, ZMINUTE}, {-1, NONE}, {-1, NONE}},
    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
    {{9, MINUTE}, {-1, NONE}, {-1, NONE}},
    {{10, SECOND}, {-1, NONE}, {10, FSECOND}},
    {{12, ZHOUR}, {11, ZTIME}, {-1, NONE}},
    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
    {{13, ZMINUTE}, {-1, NONE}, {-1, NONE}},
    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
};

Cell from_block(const Cell* spec, bool checked) {
  Cell b = *spec;
  int32_t n = block::rs_length(&b);
  if (n < 3) bad_to(spec);
  int64_t slots[12] = {};
  double fsecond = 0, time_value = 0, zone_time = 0;
  int state = 0;
  for (int32_t i = 0; i < n; i++) {
    Cell e = block::rs_head(&b)[i];
    uint32_t t = TYPE_OF(&e);
    int cls = t == TYPE_INTEGER ? 0 : t == TYPE_TIME ? 1 : t == TYPE_FLOAT ? 2 : -1;
    if (cls < 0) bad_to(spec);
    transition tr = STATES[state][cls];
    if (tr.next < 0) bad_to(spec);
    state = tr.next;
    switch (tr.slot) {
      case TIME: time_value = get_float(&e); break;
      case ZTIME: zone_time = get_float(&e); break;
      case FSECOND: fsecond = get_float(&e); break;
      default: slots[tr.slot] = get_integer(&e); break;
    }
  }
  int64_t a = slots[A], c = slots[C], year, day;
  if (a > 99 && c < a) {
    year = a;
    day = c;
  } else {
    year = c;
    day = a;
  }
  bool west;
  int32_t zh, zm;
  if (state == 5 || state == 11) {
    if (!std::isfinite(zone_time)) bad_to(spec);
    double f = std::fmod(zone_time, 57600.0);
    west = f < 0;
    zh = time::get_hours(f);
    zm = time::get_minutes(f);
  } else {
    west = slots[ZHOUR] < 0;
    zh = int32_t(slots[ZHOUR] % 16);
    zm = int32_t(slots[ZMINUTE]);
  }
  double t = 0.0;
  bool hms = state >= 10;  // h m s, then maybe a zone (as a time! too)
  if (hms)
    t = 3600.0 * double(slots[HOUR]) + 60.0 * double(slots[MINUTE]) +
        (fsecond != 0.0 ? fsecond : double(slots[SECOND]));
  else if (state >= 4 && state <= 7)
    t = time_value;
  if (!std::isfinite(t)) bad_to(spec);
  if (year < MIN_YEAR || year > MAX_YEAR) type_limit(TYPE_DATE);
  uint32_t word = with_month(pack(year, 1, 1, 0, false), slots[MONTH]);
  word = from_day_number(to_day_number(year_of(word), month_of(word), 0) + day, 0, n > 3);
  Cell d = make_date(word, 0.0);
  normalize(&d, t, false);
  if (checked) {
    bool ok = year_of(d.w1) == year && month_of(d.w1) == slots[MONTH] && day_of(d.w1) == day;
    double nt = time_of(&d);
    if (t != 0.0) {
      double hour = std::floor(t / 3600.0);
      int64_t minute = (state >= 4 && state <= 7) ? time::get_minutes(t) : slots[MINUTE];
      ok = ok && hour >= 0 && hour <= 23 && time::get_minutes(nt) == minute;
    } else {
      ok = ok && time::get_hours(nt) == slots[HOUR] && time::get_minutes(nt) == slots[MINUTE];
    }
    if (!ok) bad_to(spec);
  }
  d.w1 = (d.w1 & ~ZONE_MASK) | zone_bits(west, zh, zm);
  normalize(&d, time_of(&d), true);
  return d;
}

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  switch (TYPE_OF(spec)) {
    case TYPE_DATE: *proto = *spec; return proto;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: *proto = from_block(spec, true); return proto;
    default: bad_to(spec);
  }
}

Cell* to(Cell* proto, const Cell* spec, uint32_t) {
  switch (TYPE_OF(spec)) {
    case TYPE_DATE: *proto = *spec; return proto;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: *proto = from_block(spec, false); return proto;
    case TYPE_INTEGER: {
      int64_t n = get_integer(spec);
      Cell d = make_date(from_day_number(EPOCH_DAY + floor_div(n, 86400), 0, true),
                         double(floor_mod(n, 86400)));
      *proto = d;
      return proto;
    }
    default: bad_to(spec);
  }
}

// --- Text ------------------------------------------------------------------------------

constexpr const char* MONTH_NAMES[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Appends the first three characters of the month's name from
// system/locale/months (the built-in names while system is being built).
int32_t append_month(Cell* out, int32_t month) {
  // Both names exist before the walk: making a symbol may move the
  // buffers the walk reads.
  symbol::make("locale");
  symbol::make("months");
  const Cell* locale = system::field({"locale"});
  if (!locale) return string::append_literal(out, MONTH_NAMES[(month + 11) % 12]);
  const Cell* months = system::field({"locale", "months"});
  Cell name = none_value;
  if (months && block::is_block_type(TYPE_OF(months)) && month >= 1 &&
      month <= block::rs_length(months))
    name = block::rs_abs_at(months, months->w1 + uint32_t(month) - 1)[0];
  if (TYPE_OF(&name) != TYPE_STRING) fire(err::SCRIPT, err::script::INVALID_MONTHS);
  return string::append_string(out, &name, 3);
}

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  Cell d = *v;
  uint32_t w = d.w1;
  int32_t year = year_of(w);
  const char* sep = year < 0 ? "/" : "-";
  int32_t n = string::append_literal(out, integer::to_text(day_of(w)));
  n += string::append_literal(out, sep);
  n += append_month(out, month_of(w));
  n += string::append_literal(out, sep);
  int32_t magnitude = year < 0 ? -year : year;
  if (year < 0) n += string::append_literal(out, "-");
  if (magnitude <= 99) n += string::append_literal(out, magnitude <= 9 ? "000" : "00");
  n += string::append_literal(out, integer::to_text(magnitude));
  part -= n;
  if (!has_time(w)) return part;
  part -= string::append_literal(out, "/");
  part = time::form_text(out, to_local(time_of(&d), zone_of(w)), part, all);
  uint32_t z = zone_of(w);
  if (z == 0) return part;
  uint32_t hours = (z >> 2) & 15;
  static constexpr const char* QUARTERS[] = {"00", "15", "30", "45"};
  char text[7] = {(z & ZONE_WEST) ? '-' : '+', char('0' + hours / 10), char('0' + hours % 10),
                  ':', QUARTERS[z & 3][0], QUARTERS[z & 3][1], 0};
  return part - string::append_literal(out, text);
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return mold(v, out, false, false, false, part, 0);
}

// --- Comparison ------------------------------------------------------------------------

// The instant: seconds from day 0, UTC.
inline double instant(const Cell* d) { return double(day_number(d->w1)) * 86400.0 + time_of(d); }

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_DATE) return -2;
  double x = instant(a), y = instant(b);
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_FIND: return float_::almost_equal(x, y) ? 0 : 1;
    case COMP_SAME: return x == y ? 0 : 1;
    default:
      if (float_::almost_equal(x, y)) return 0;
      return x < y ? -1 : 1;
  }
}

// --- Arithmetic ------------------------------------------------------------------------

Cell* add(Cell* a, Cell* b) { return do_math(a, b, OP_ADD); }
Cell* subtract(Cell* a, Cell* b) { return do_math(a, b, OP_SUB); }

Cell* random(Cell* d, bool seed, bool secure, bool) {
  uint32_t w = d->w1;
  double t = time_of(d);
  if (seed) {
    double whole = std::isfinite(t) ? std::trunc(t) : 0.0;
    random::seed(int32_t(w + uint32_t(int64_t(whole))));
    *d = make_unset();
    return d;
  }
  int64_t limit = day_number(w);
  int32_t r = random::rand(secure, int32_t(limit));
  uint32_t zone = zone_of(w);
  if (!has_time(w)) {
    store(d, from_day_number(int64_t(r) - 1, zone, false), 0.0);
    return d;
  }
  zone = uint32_t(random::rand(secure, 128) - 1) & ZONE_MASK;
  double h;
  if (secure) {
    double r1 = random::secure_int(), r2 = random::secure_int();
    h = (r2 + r1 / 2147483647.0) / (2147483648.0 / 3600.0);
  } else {
    h = double(int32_t(random::next())) / 2147483647.0 * 3600.0;
  }
  Cell probe = make_date(from_day_number(int64_t(r) - 1, zone, true), 0.0);
  normalize(&probe, std::floor(h) / 3600.0 * 24.0 * 3600.0, true);
  store(d, probe.w1, time_of(&probe));
  return d;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.random = random;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.add = add;
  r.subtract = subtract;
  r.pick = pick;
  return r;
}();

}  // namespace

Cell* do_math(Cell* a, Cell* b, int32_t op) {
  uint32_t bt = TYPE_OF(b);
  int64_t days = 0;
  double seconds = 0;
  bool gets_time = false;
  switch (bt) {
    case TYPE_INTEGER: days = get_integer(b); break;
    case TYPE_TIME:
      seconds = get_float(b);
      gets_time = true;
      break;
    case TYPE_DATE:
      if (op == OP_ADD) numbers::not_related(words::add_word, TYPE_DATE);
      days = day_number(b->w1);
      seconds = time_of(b);
      break;
    default: numbers::invalid_type(bt);
  }
  uint32_t w = a->w1, zone = zone_of(w);
  int64_t g = day_number(w);
  double t = time_of(a);
  if (op == OP_SUB) {
    g -= days;
    t -= seconds;
  } else {
    g += days;
    t += seconds;
  }
  g = normalize_time(g, t, zone);
  if (bt == TYPE_DATE) {
    *a = make_integer(int32_t(g));
    return a;
  }
  store(a, from_day_number(g, zone, has_time(w) || gets_time), t);
  return a;
}

int32_t to_epoch(const Cell* d) {
  double seconds = double(day_number(d->w1) - EPOCH_DAY) * 86400.0 + time_of(d);
  double whole = std::floor(seconds + 0.5);
  if (!(whole >= -2147483648.0 && whole <= 2147483647.0)) type_limit(TYPE_INTEGER);
  return int32_t(whole);
}

Cell* difference(Cell* a, const Cell* b) {
  double days = double(day_number(a->w1) - day_number(b->w1));
  double t = days * 86400.0 + (time_of(a) - time_of(b));
  *a = make_float_of(TYPE_TIME, t);
  return a;
}

void init() { datatype::register_type(TYPE_DATE, 0, "date!", ROW); }

}  // namespace kez::date
