// Token loaders: one function per value token, turning the bytes the
// tokenizer delimited into one value on the lexer's cell stack. With build
// off a loader only checks the token (scan and prescan modes); every loader
// leaves the input position after what it consumed.
//
// What must stay true: a malformed token raises the error of the loader's
// datatype (through throw_error, so that scan modes and callbacks can
// decline it); a series is allocated once, at its exact size, after its text
// was checked; nothing keeps a buffer address across an allocation.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/float_text.h"
#include "foundation/unicode.h"
#include "services/lexer_engine.h"
#include "services/lexer_values.h"
#include "types/binary.h"
#include "values/char.h"
#include "values/context.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::lexer {

namespace {

inline bool is_digit(uint8_t b) { return b >= '0' && b <= '9'; }
inline bool is_alpha(uint8_t b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; }
inline int hex_value(uint8_t b) {
  if (b >= '0' && b <= '9') return b - '0';
  if ((b | 0x20) >= 'a' && (b | 0x20) <= 'f') return (b | 0x20) - 'a' + 10;
  return -1;
}

// The string unit a token's UTF-8 flags ask for.
uint32_t flags_unit(uint32_t flags) {
  uint32_t wide = flags >> 30;
  return wide == 0 ? 1 : wide == 1 ? 2 : 4;
}

}  // namespace

// --- Escapes -------------------------------------------------------------------------

int32_t unescape_char(const uint8_t*& p, const uint8_t* end, int* digits) {
  *digits = 0;
  uint8_t b = *p;
  switch (b) {
    case '"': p++; return 0x22;
    case '-': p++; return 0x09;
    case '/': p++; return 0x0A;
    case '^': p++; return 0x5E;
    case '{': p++; return 0x7B;
    case '}': p++; return 0x7D;
    case '~': p++; return 0x7F;
    case '@': p++; return 0x00;
    case '(': {
      // "(" up to six hexadecimal digits, or a name, then ")" at most seven
      // bytes after the "(".
      const uint8_t* close = p + 1;
      while (close < end && close - p <= 7 && *close != ')') close++;
      if (close >= end || *close != ')' || close - p > 7) return -1;
      const uint8_t* text = p + 1;
      auto n = uint32_t(close - text);
      if (n == 0) return -1;
      uint32_t value = 0;
      bool hex = n <= 6;
      for (uint32_t i = 0; i < n && hex; i++) {
        int h = hex_value(text[i]);
        hex = h >= 0;
        value = value * 16 + uint32_t(h);
      }
      if (hex) {
        if (!char_::valid_code_point(value)) return -1;
        *digits = int(n);
        p = close + 1;
        return int32_t(value);
      }
      static constexpr struct {
        const char* name;
        int32_t code;
      } NAMES[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10},
                   {"page", 12}, {"esc", 27}, {"del", 127}};
      for (const auto& entry : NAMES) {
        if (std::strlen(entry.name) != n) continue;
        bool same = true;
        for (uint32_t i = 0; i < n && same; i++) same = (text[i] | 0x20) == entry.name[i];
        if (same) {
          p = close + 1;
          return entry.code;
        }
      }
      return -1;
    }
    default:
      break;
  }
  if (b >= 'a' && b <= 'z') {
    p++;
    return b - 96;
  }
  if ((b >= 'A' && b <= 'Z') || b == '[' || b == '\\' || b == ']' || b == '_') {
    p++;
    return b - 64;
  }
  if (b < 0x80) {
    p++;
    return b;
  }
  int32_t cp;
  p = unicode::fast_decode_utf8_char(p, end, &cp);
  return cp;
}

// --- Numbers ---------------------------------------------------------------------------

// Signs, digits with single apostrophes between (or ending a part), an
// optional fraction, an optional exponent.
bool check_float(const uint8_t* start, const uint8_t* end) {
  if (end - start > int64_t(MAX_FLOAT_TEXT) || start == end) return false;
  enum { START, SIGN, INT, INT_QUOTE, POINT, LEAD_POINT, FRAC, FRAC_QUOTE, EXP, EXP_SIGN, EXP_DIGITS };
  int st = START;
  for (const uint8_t* p = start; p < end; p++) {
    uint8_t b = *p;
    int cls = is_digit(b) ? 2 : (b == '+' || b == '-') ? 1 : (b == 'e' || b == 'E') ? 3
              : b == '.' ? 4 : b == '\'' ? 5 : 0;
    if (cls == 0) return false;
    switch (st) {
      case START: st = cls == 1 ? SIGN : cls == 2 ? INT : cls == 4 ? LEAD_POINT : -1; break;
      case SIGN: st = cls == 2 ? INT : cls == 4 ? LEAD_POINT : -1; break;
      case INT: st = cls == 2 ? INT : cls == 5 ? INT_QUOTE : cls == 4 ? POINT : cls == 3 ? EXP : -1; break;
      case INT_QUOTE: st = cls == 2 ? INT : cls == 4 ? POINT : cls == 3 ? EXP : -1; break;
      case POINT: st = cls == 2 ? FRAC : cls == 3 ? EXP : -1; break;
      case LEAD_POINT: st = cls == 2 ? FRAC : -1; break;
      case FRAC: st = cls == 2 ? FRAC : cls == 5 ? FRAC_QUOTE : cls == 3 ? EXP : -1; break;
      case FRAC_QUOTE: st = cls == 2 ? FRAC : cls == 3 ? EXP : -1; break;
      case EXP: st = cls == 1 ? EXP_SIGN : cls == 2 ? EXP_DIGITS : -1; break;
      case EXP_SIGN: st = cls == 2 ? EXP_DIGITS : -1; break;
      case EXP_DIGITS: st = cls == 2 ? EXP_DIGITS : -1; break;
      default: return false;
    }
    if (st < 0) return false;
  }
  return st == INT || st == INT_QUOTE || st == POINT || st == FRAC || st == FRAC_QUOTE ||
         st == EXP_DIGITS;
}

bool read_float(const uint8_t* start, const uint8_t* end, int32_t shift, double* out) {
  char text[MAX_FLOAT_TEXT + 1];
  uint32_t n = 0;
  for (const uint8_t* p = start; p < end && n < MAX_FLOAT_TEXT; p++)
    if (*p != '\'') text[n++] = char(*p);
  int32_t unparsed = 0;
  *out = dtoa::strtod(text, text + n, shift, &unparsed);
  return unparsed == 0;
}

namespace {

// A decimal integer with an optional sign and single apostrophes, within
// 32 bits.
bool parse_int32(const uint8_t* p, const uint8_t* end, int32_t* out) {
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int64_t v = 0;
  uint32_t digits = 0;
  bool quote = false;
  for (; p < end; p++) {
    if (*p == '\'') {
      if (quote || digits == 0) return false;
      quote = true;
      continue;
    }
    if (!is_digit(*p)) return false;
    quote = false;
    v = v * 10 + (*p - '0');
    if (v > 2147483648LL) return false;
    digits++;
  }
  if (digits == 0) return false;
  if (negative) v = -v;
  if (v > 2147483647LL) return false;
  *out = int32_t(v);
  return true;
}

void push_float_of(state& s, uint32_t type, double d) { push_value(s, make_float_of(type, d)); }

void load_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  s.type = TYPE_FLOAT;
  double d;
  if (!check_float(start, end) || !read_float(start, end, 0, &d)) token_error(s, TYPE_FLOAT);
  if (build) push_float_of(s, TYPE_FLOAT, d);
}

void load_integer(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.in_pos = end;
  const uint8_t* p = start;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (end - p == 1 && is_digit(*p)) {
    if (build) push_value(s, make_integer(negative ? -(*p - '0') : *p - '0'));
    return;
  }
  int64_t v = 0;
  uint32_t digits = 0;
  bool quote = false;
  for (; p < end; p++) {
    if (*p == '\'') {
      if (quote) token_error(s, TYPE_INTEGER);
      quote = true;
      continue;
    }
    if (!is_digit(*p)) token_error(s, TYPE_INTEGER);
    quote = false;
    if (digits < 11) v = v * 10 + (*p - '0');
    digits++;
  }
  if (digits == 0) token_error(s, TYPE_INTEGER);
  if (negative) v = -v;
  if (digits > 10 || v < INT32_MIN || v > INT32_MAX) {
    load_float(s, start, end, flags, build);
    return;
  }
  if (build) push_value(s, make_integer(int32_t(v)));
}

void load_special_float(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  auto rest_is = [&](const char* word) {
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    for (int i = 0; i < 3; i++)
      if ((p[3 + i] | 0x20) != word[i]) return false;
    return true;
  };
  double d;
  if (rest_is("nan")) d = std::bit_cast<double>(uint64_t(0x7FF8000000000000));
  else if (rest_is("inf")) d = negative ? -HUGE_VAL : HUGE_VAL;
  else token_error(s, TYPE_FLOAT);
  if (build) push_float_of(s, TYPE_FLOAT, d);
}

void load_percent(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end + 1;
  double d;
  if (!check_float(start, end) || !read_float(start, end, -2, &d)) token_error(s, TYPE_PERCENT);
  if (build) push_float_of(s, TYPE_PERCENT, d);
}

void load_hex(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  const uint8_t* last = end - 1;  // the "h"
  auto n = uint32_t(last - start);
  uint32_t v = 0;
  bool valid = n >= 2 && n <= 8;
  for (const uint8_t* p = start; p < last && valid; p++) {
    int h = hex_value(*p);
    valid = h >= 0;
    v = v * 16 + uint32_t(h);
  }
  if (!valid) token_error(s, n == 1 && is_alpha(*start) ? TYPE_WORD : TYPE_INTEGER);
  if (build) push_value(s, make_integer(int32_t(v)));
}

void load_tuple(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  uint8_t bytes[12];
  uint32_t count = 0;
  int32_t v = -1;
  for (const uint8_t* p = start; p < end; p++) {
    if (is_digit(*p)) {
      v = (v < 0 ? 0 : v) * 10 + (*p - '0');
      if (v > 255) token_error(s, TYPE_TUPLE);
    } else if (*p == '.' && v >= 0 && count < 12) {
      bytes[count++] = uint8_t(v);
      v = -1;
    } else {
      token_error(s, TYPE_TUPLE);
    }
  }
  if (v < 0 || count >= 12) token_error(s, TYPE_TUPLE);
  bytes[count++] = uint8_t(v);
  if (count < 3) token_error(s, TYPE_TUPLE);
  if (!build) return;
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  values::make_tuple(&c, bytes, count);
  push_value(s, c);
}

void load_pair(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  const uint8_t* x = start + 1;
  while (x < end && (*x | 0x20) != 'x') x++;
  int32_t a = 0, b = 0;
  if (std::find(start, end, '.') != end || !parse_int32(start, x, &a) ||
      x == end || !parse_int32(x + 1, end, &b))
    token_error(s, TYPE_PAIR);
  if (!build) return;
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  values::make_pair(&c, a, b);
  push_value(s, c);
}

void load_time(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  auto fail = [&s]() { token_error(s, TYPE_TIME); };
  if (end[-1] == ':') fail();
  for (const uint8_t* p = start; p < end; p++)
    if (*p == 'e' || *p == 'E') fail();
  const uint8_t* p = start;
  bool negative = *p == '-';
  const uint8_t* first_end = std::find(p, end, ':');
  int32_t first = 0, second = 0;
  if (!parse_int32(p, first_end, &first)) fail();
  const uint8_t* q = first_end + 1;
  const uint8_t* second_end = q;
  while (second_end < end && (is_digit(*second_end) || *second_end == '\'')) second_end++;
  if (!parse_int32(q, second_end, &second) || second < 0) fail();
  // The seconds with their fraction, whose decimal mark may be a comma
  // (followed by a digit, so that a comma after a time in a list is not
  // taken for one).
  auto read_seconds = [&](const uint8_t* from) {
    uint8_t text[MAX_FLOAT_TEXT];
    auto n = end - from;
    if (n > int64_t(MAX_FLOAT_TEXT)) fail();
    std::copy(from, end, text);
    uint8_t* comma = std::find(text, text + n, ',');
    if (comma < text + n) {
      if (comma + 1 == text + n || !is_digit(comma[1])) fail();
      *comma = '.';
    }
    double v = 0;
    if (!check_float(text, text + n) || !read_float(text, text + n, 0, &v) || v < 0) fail();
    return v;
  };
  double hours = std::fabs(double(first)), minutes = second, seconds = 0;
  if (second_end < end) {
    if (*second_end == ':') {
      seconds = read_seconds(second_end + 1);
    } else if (*second_end == '.' || *second_end == ',') {
      // m:s.f: the fields are minutes and seconds with a fraction.
      seconds = read_seconds(q);
      minutes = hours;
      hours = 0;
    } else {
      fail();
    }
  }
  double total = hours * 3600 + minutes * 60 + seconds;
  if (negative || first < 0) total = -total;
  if (!build) return;
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  values::make_time(&c, total);
  push_value(s, c);
}

// --- Dates ----------------------------------------------------------------------------------

struct date_reader {
  const uint8_t* p;
  const uint8_t* end;

  bool at(uint8_t b) const { return p < end && *p == b; }
  bool take(uint8_t b) {
    if (!at(b)) return false;
    p++;
    return true;
  }
  bool digit() const { return p < end && is_digit(*p); }
  // Up to `max` digits (at least one): their value and count.
  bool number(uint32_t max, int32_t* value, uint32_t* count = nullptr) {
    int32_t v = 0;
    uint32_t n = 0;
    while (n < max && digit()) v = v * 10 + (*p++ - '0'), n++;
    if (count) *count = n;
    *value = v;
    return n > 0;
  }
  bool exactly(uint32_t n, int32_t* value) {
    uint32_t got;
    return number(n, value, &got) && got == n;
  }
};

struct date_time {
  bool has_time = false;
  double seconds = 0;
  int32_t hour = 0, minute = 0;
  double second = 0;
  bool zone_negative = false;
  int32_t zone_hours = 0, zone_minutes = 0;
};

// Seconds: digits and "." read as a float.
bool read_seconds(date_reader& r, double* out) {
  const uint8_t* from = r.p;
  while (r.p < r.end && (is_digit(*r.p) || *r.p == '.')) r.p++;
  return r.p > from && check_float(from, r.p) && read_float(from, r.p, 0, out);
}

// "Z", or a sign, hours, an optional ":" and minutes.
bool read_zone(date_reader& r, date_time& t, uint32_t digits) {
  if (r.take('Z')) return true;
  if (!r.at('+') && !r.at('-')) return true;
  t.zone_negative = *r.p++ == '-';
  uint32_t n;
  if (!r.number(2, &t.zone_hours, &n) || (digits == 2 && n != 2)) return false;
  if (digits == 1) r.take(':');
  if (!r.number(2, &t.zone_minutes, &n) || (digits == 2 && n != 2)) return false;
  if (t.zone_negative) t.zone_hours = -t.zone_hours;
  return true;
}

// Hours ":" minutes [":" seconds] [zone].
bool read_time_part(date_reader& r, date_time& t) {
  t.has_time = true;
  if (!r.number(2, &t.hour) || !r.take(':') || !r.number(2, &t.minute)) return false;
  if (r.take(':') && !read_seconds(r, &t.second)) return false;
  return read_zone(r, t, 1);
}

bool time_in_range(const date_time& t) {
  return !t.has_time || (t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
                         t.second >= 0 && t.second < 60 && t.zone_hours >= -15 &&
                         t.zone_hours <= 15);
}

int32_t month_length(int32_t year, int32_t month) {
  static constexpr int32_t DAYS[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && !values::leap_year(year)) return 28;
  return DAYS[month - 1];
}

// A month name of 3 to 9 letters, any case, that begins a month's name.
bool read_month_name(date_reader& r, int32_t* month) {
  static constexpr const char* MONTHS[] = {"january", "february", "march", "april",
                                           "may", "june", "july", "august",
                                           "september", "october", "november", "december"};
  const uint8_t* from = r.p;
  while (r.p < r.end && is_alpha(*r.p)) r.p++;
  auto n = size_t(r.p - from);
  if (n < 3 || n > 9) return false;
  for (int32_t m = 0; m < 12; m++) {
    if (std::strlen(MONTHS[m]) < n) continue;
    bool same = true;
    for (size_t i = 0; i < n && same; i++) same = (from[i] | 0x20) == MONTHS[m][i];
    if (same) {
      *month = m + 1;
      return true;
    }
  }
  return false;
}

void load_date(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  auto fail = [&s]() { token_error(s, TYPE_DATE); };
  date_reader r{start, end};
  date_time t;
  int32_t year = 0, month = 1, day = 1;
  int32_t week = 0, weekday = 0, yearday = 0;
  bool negative = r.take('-');
  int32_t first;
  uint32_t first_digits;
  if (!r.number(4, &first, &first_digits)) fail();
  if (negative) first = -first;
  if (r.digit()) {
    // yyyymmddThhmm[ss][Z|zone]
    year = first;
    if (first_digits != 4 || !r.exactly(2, &month) || !r.exactly(2, &day) || !r.take('T') ||
        !r.exactly(2, &t.hour) || !r.exactly(2, &t.minute))
      fail();
    t.has_time = true;
    if (!r.take('Z')) {
      if (!read_seconds(r, &t.second) || !read_zone(r, t, 2)) fail();
    }
  } else if (r.at('-') && first_digits == 4 && !negative && r.end - r.p > 1 && r.p[1] == 'W') {
    // yyyy-Www[-d]
    year = first;
    r.p += 2;
    if (!r.exactly(2, &week)) fail();
    if (r.take('-') && (!r.exactly(1, &weekday) || weekday < 1 || weekday > 7)) fail();
    if ((r.take('/') || r.take('T')) && !read_time_part(r, t)) fail();
  } else if (r.at('-') && first_digits == 4 && !negative && r.end - r.p >= 4 &&
             is_digit(r.p[1]) && is_digit(r.p[2]) && is_digit(r.p[3]) &&
             (r.end - r.p == 4 || r.p[4] == '/' || r.p[4] == 'T')) {
    // yyyy-ddd
    year = first;
    r.p++;
    r.exactly(3, &yearday);
    if (yearday == 0) fail();
    if ((r.take('/') || r.take('T')) && !read_time_part(r, t)) fail();
  } else if (r.at('-') || r.at('/')) {
    uint8_t separator = *r.p++;
    if (r.digit() ? !r.number(2, &month) : !read_month_name(r, &month)) fail();
    if (!r.take(separator)) fail();
    bool third_negative = r.take('-');
    int32_t third;
    uint32_t third_digits;
    if (!r.number(4, &third, &third_digits)) fail();
    if (third_negative) third = -third;
    uint32_t year_digits;
    if (third_negative || third > 31 || first <= 99) {
      day = first;
      year = third;
      year_digits = third_digits;
    } else {
      year = first;
      day = third;
      year_digits = first_digits;
    }
    if (year_digits <= 2 && year >= 0 && year <= 99) year += year > 49 ? 1900 : 2000;
    if ((r.take('/') || r.take('T')) && !read_time_part(r, t)) fail();
  } else {
    fail();
  }
  if (r.p != r.end || month < 1 || month > 12 || year < -9999 || year > 9999 || day < 1 ||
      day > month_length(year, month) || !time_in_range(t))
    fail();
  if (!build) return;
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  double seconds = t.hour * 3600.0 + t.minute * 60.0 + t.second;
  values::make_date(&c, year, month, day, seconds, t.zone_negative, t.zone_hours, t.zone_minutes,
                    t.has_time);
  if (week) {
    values::date_set_isoweek(&c, week);
    if (weekday) values::date_set_weekday(&c, weekday);
  }
  if (yearday) values::date_set_yearday(&c, yearday);
  push_value(s, c);
}

// --- Money -----------------------------------------------------------------------------

void load_money(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end;
  auto fail = [&s]() { token_error(s, TYPE_MONEY); };
  const uint8_t* p = start;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  const uint8_t* code = p;
  while (p < end && is_alpha(*p)) p++;
  auto letters = p - code;
  if ((letters != 0 && letters != 3) || p == end || *p != '$') fail();
  p++;
  if (p == end || !is_digit(*p)) fail();
  uint8_t integer[17], fraction[5];
  uint32_t ni = 0, nf = 0, seen = 0;
  bool quote = false;
  for (; p < end && (is_digit(*p) || *p == '\''); p++) {
    if (*p == '\'') {
      if (quote || seen == 0) fail();
      quote = true;
      continue;
    }
    quote = false;
    seen++;
    if (ni == 0 && *p == '0') continue;  // leading zeros
    if (ni == 17) fail();
    integer[ni++] = uint8_t(*p - '0');
  }
  if (quote) fail();
  if (p < end && (*p == '.' || *p == ',')) {
    // A comma is a decimal mark only before a digit: "$1," is no amount.
    if (*p == ',' && (p + 1 == end || !is_digit(p[1]))) fail();
    for (p++; p < end && is_digit(*p); p++) {
      if (nf == 5) fail();
      fraction[nf++] = uint8_t(*p - '0');
    }
  }
  if (p != end) fail();
  char currency[4] = {};
  if (letters) std::memcpy(currency, code, 3);
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  if (!values::make_money(&c, negative, letters ? currency : nullptr, integer, ni, fraction, nf))
    fail();
  if (build) push_value(s, c);
}

// --- Binary ------------------------------------------------------------------------------

// Each decoder writes to `out` when given and answers the byte count, or -1
// when the body is invalid.
const uint8_t* skip_comment(const uint8_t* p, const uint8_t* end) {
  while (p < end && *p != '\n') p++;
  return p;
}

int64_t decode_base16(const uint8_t* p, const uint8_t* end, uint8_t* out) {
  int64_t n = 0;
  int high = -1;
  for (; p < end; p++) {
    uint8_t b = *p;
    if (b == '\t' || b == '\n' || b == '\r' || b == ' ') continue;
    if (b == ';') {
      p = skip_comment(p, end);
      if (p == end) break;
      continue;
    }
    int h = hex_value(b);
    if (h < 0) return -1;
    if (high < 0) {
      high = h;
    } else {
      if (out) out[n] = uint8_t(high * 16 + h);
      n++;
      high = -1;
    }
  }
  return high < 0 ? n : -1;
}

int64_t decode_base2(const uint8_t* p, const uint8_t* end, uint8_t* out) {
  int64_t n = 0;
  uint32_t bits = 0, acc = 0;
  for (; p < end; p++) {
    uint8_t b = *p;
    if (b == '\t' || b == '\n' || b == '\r' || b == ' ') continue;
    if (b == ';') {
      p = skip_comment(p, end);
      if (p == end) break;
      continue;
    }
    if (b != '0' && b != '1') return -1;
    acc = acc << 1 | uint32_t(b - '0');
    if (++bits == 8) {
      if (out) out[n] = uint8_t(acc);
      n++;
      bits = acc = 0;
    }
  }
  return bits == 0 ? n : -1;
}

int base64_value(uint8_t b) {
  if (b >= 'A' && b <= 'Z') return b - 'A';
  if (b >= 'a' && b <= 'z') return b - 'a' + 26;
  if (b >= '0' && b <= '9') return b - '0' + 52;
  if (b == '+') return 62;
  if (b == '/') return 63;
  return -1;
}

int64_t decode_base64(const uint8_t* p, const uint8_t* end, uint8_t* out) {
  int64_t n = 0;
  uint32_t count = 0, acc = 0;
  auto put = [&](uint32_t byte) {
    if (out) out[n] = uint8_t(byte);
    n++;
  };
  for (; p < end; p++) {
    uint8_t b = *p;
    if (b == 8 || b == '\t' || b == '\n' || b == 12 || b == '\r' || b == ' ' || b == '\'') continue;
    if (b == ';') {
      p = skip_comment(p, end);
      if (p == end) break;
      continue;
    }
    if (b == '=') {
      if (count == 2) put(acc >> 4);
      else if (count == 3) put(acc >> 10), put((acc >> 2) & 0xFF);
      else return -1;
      return n;
    }
    int v = base64_value(b);
    if (v < 0) return -1;
    acc = acc << 6 | uint32_t(v);
    if (++count == 4) {
      put(acc >> 16);
      put((acc >> 8) & 0xFF);
      put(acc & 0xFF);
      count = acc = 0;
    }
  }
  return count == 0 ? n : -1;
}

void load_binary(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end + 1;
  const uint8_t* hash = std::find(start, end, '#');
  int32_t base = 16;
  if (hash != start && (!parse_int32(start, hash, &base) || *start == '+' || *start == '-'))
    token_error(s, TYPE_BINARY);
  const uint8_t* body = hash + 2;
  auto length = uint64_t(end - body);
  int64_t (*decode)(const uint8_t*, const uint8_t*, uint8_t*) = decode_base16;
  uint64_t capacity = 0;
  switch (base) {
    case 16: decode = decode_base16; capacity = length / 2; break;
    case 64: decode = decode_base64; capacity = length * 3 / 4 + 1; break;
    case 2: decode = decode_base2; capacity = length / 8; break;
    default: token_error(s, TYPE_BINARY);
  }
  if (decode(body, end, nullptr) < 0) token_error(s, TYPE_BINARY);
  if (!build) return;
  uint32_t i = push_cell(s);
  binary::make_at(&cells[i], uint32_t(capacity));
  series_buffer* b = GET_BUFFER(&cells[i]);
  b->tail = uint32_t(decode(body, end, b->data()));
  cells[i].header |= new_line_bit(s);
}

// --- Text ----------------------------------------------------------------------------------

enum text_mode { RAW, ESCAPED, PERCENT };

// "%" and two hexadecimal digits at p.
bool percent_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
  if (end - p < 3 || *p != '%') return false;
  int h = hex_value(p[1]), l = hex_value(p[2]);
  if (h < 0 || l < 0) return false;
  *byte = uint8_t(h * 16 + l);
  return true;
}

// Decodes the text one code point at a time into `put(cp, digits)`;
// false on invalid UTF-8 or an invalid escape.
template <class Put>
bool decode_text(const uint8_t* p, const uint8_t* end, text_mode mode, Put&& put) {
  while (p < end) {
    uint8_t b = *p;
    if (b < 0x80) {
      if (b == '^' && mode == ESCAPED) {
        if (++p >= end) return false;
        int digits;
        int32_t cp = unescape_char(p, end, &digits);
        if (cp < 0) return false;
        put(uint32_t(cp), digits);
        continue;
      }
      uint8_t first;
      if (b == '%' && mode == PERCENT && percent_escape(p, end, &first)) {
        int n = unicode::utf8_char_size(first);
        if (n == 0) {
          put(first, 0);
          p += 3;
          continue;
        }
        uint8_t seq[4] = {first};
        bool all = true;
        for (int k = 1; k < n && all; k++) all = percent_escape(p + 3 * k, end, &seq[k]);
        int32_t cp = -1;
        if (all && unicode::fast_decode_utf8_char(seq, seq + n, &cp) == seq + n && cp >= 0) {
          put(uint32_t(cp), 0);
          p += 3 * n;
          continue;
        }
      }
      put(b, 0);
      p++;
      continue;
    }
    int32_t cp;
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    if (cp < 0) return false;
    put(uint32_t(cp), 0);
  }
  return true;
}

// Checks the text and answers its character count and unit.
bool measure_text(const uint8_t* start, const uint8_t* end, text_mode mode, uint32_t flags,
                  uint32_t* chars, uint32_t* unit) {
  uint32_t n = 0, u = flags_unit(flags);
  bool ok = decode_text(start, end, mode, [&](uint32_t cp, int digits) {
    n++;
    // A "^(...)" escape widens by its digit count; other characters as
    // appending them would.
    if (digits > 0)
      u = std::max({u, digits > 4 ? 4u : digits > 2 ? 2u : 1u, string::unit_for_store(cp)});
    else
      u = std::max(u, string::unit_for_append(cp));
  });
  *chars = n;
  *unit = u;
  return ok;
}

void build_text(state& s, const uint8_t* start, const uint8_t* end, text_mode mode,
                uint32_t flags, uint32_t type, bool build) {
  uint32_t chars, unit;
  // Plain ASCII is copied as it is.
  bool plain = !(flags & F_HIGH) && (mode != ESCAPED || !(flags & F_CARET)) &&
               (mode != PERCENT || !(flags & F_PERCENT));
  if (plain) {
    chars = uint32_t(end - start);
    unit = 1;
  } else if (!measure_text(start, end, mode, flags, &chars, &unit)) {
    token_error(s, type);
  }
  if (!build) return;
  uint32_t i = push_cell(s);
  cells[i].header |= new_line_bit(s);
  node_t node = memory::alloc_codepoints(chars, unit);
  series_buffer* b = memory::buffer(node);
  uint8_t* out = b->data();
  if (plain) {
    std::memcpy(out, start, chars);
  } else {
    decode_text(start, end, mode, [&](uint32_t cp, int) {
      unicode::put_char(out, unit, cp);
      out += unit;
    });
  }
  b->tail = chars * unit;
  cells[i] = Cell{type | new_line_bit(s), 0, node, 0};
}

inline uint32_t text_type(const state& s) { return s.mtype > 0 ? uint32_t(s.mtype) : TYPE_STRING; }

}  // namespace

void load_string_body(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                      bool build) {
  build_text(s, start, end, (flags & F_CARET) ? ESCAPED : RAW, flags, text_type(s), build);
}

namespace {

void load_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.in_pos = end + 1;
  load_string_body(s, start + 1, end, flags, build);
}

void load_file(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.mtype = TYPE_FILE;
  if (end - start >= 2 && start[1] == '"') {
    s.in_pos = end + 1;
    build_text(s, start + 2, end, ESCAPED, flags, TYPE_FILE, build);
  } else {
    s.in_pos = end;
    build_text(s, start + 1, end, PERCENT, flags, TYPE_FILE, build);
  }
}

void load_tag(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.mtype = TYPE_TAG;
  s.in_pos = end + 1;
  build_text(s, start + 1, end, RAW, flags, TYPE_TAG, build);
}

void load_url(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.mtype = TYPE_URL;
  s.in_pos = end;
  if (*start == ':') token_error(s, TYPE_GET_WORD);
  if (*start == '\'') token_error(s, TYPE_LIT_WORD);
  build_text(s, start, end, (flags & F_PERCENT) ? PERCENT : RAW, flags, TYPE_URL, build);
}

void load_email(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.mtype = TYPE_EMAIL;
  s.in_pos = end;
  build_text(s, start, end, RAW, flags, TYPE_EMAIL, build);
}

void load_ref(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.mtype = TYPE_REF;
  s.in_pos = end;
  build_text(s, start + 1, end, RAW, flags, TYPE_REF, build);
}

void load_char(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end + 1;
  if (*start != '#') token_error(s, TYPE_CHAR);
  const uint8_t* p = start + 2;
  if (p >= end) token_error(s, TYPE_CHAR);
  int32_t cp;
  if (*p == '^') {
    if (++p >= end) token_error(s, TYPE_CHAR);
    int digits;
    cp = unescape_char(p, end, &digits);
  } else if (*p < 0x80) {
    cp = *p++;
  } else {
    p = unicode::fast_decode_utf8_char(p, end, &cp);
  }
  if (!char_::valid_code_point(cp) || p != end) token_error(s, TYPE_CHAR);
  if (build) push_value(s, make_char(uint32_t(cp)));
}

// %{...}% with as many "%" after the "}" as before the "{".
void load_raw_string(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                     bool build) {
  s.mtype = TYPE_STRING;
  uint32_t before = 0;
  const uint8_t* p = start;
  while (*p == '%') p++, before++;
  const uint8_t* body = p + 1;
  const uint8_t* close = end;
  uint32_t after = 0;
  while (close > body && close[-1] == '%') close--, after++;
  close--;  // the "}"
  // Whether the byte after the "%"-run may end the string (a token handed
  // over from the tokenizer's error stops at one that may not).
  bool ended = end >= s.in_end || TRANSITIONS[12 * CLASS_COUNT + (CLASSES[*end] & 0xFF)] == 100;
  const uint8_t* next = end;
  if (after > before || (after == before && !ended)) token_error(s, TYPE_STRING);
  if (after < before) {
    // The "}" and its "%" were content: the string ends at the next "}"
    // followed by as many "%" as opened it.
    const uint8_t* q = close + 1;
    for (;; q++) {
      if (q >= s.in_end) token_error(s, TYPE_STRING);
      if (*q != '}') continue;
      uint32_t n = 0;
      while (n < before && q + 1 + n < s.in_end && q[1 + n] == '%') n++;
      if (n == before) break;
    }
    close = q;
    next = q + 1 + before;
    // The lines of the text read here were not counted by the tokenizer.
    if (s.in_pos <= end) s.line += int32_t(std::count(end, next, '\n'));
  }
  s.in_pos = next;
  if (!build && !s.load && (s.events & (EV_OPEN | EV_CLOSE))) {
    fire_event(s, EV_OPEN, TYPE_STRING, start, start, nullptr);
    fire_event(s, EV_CLOSE, TYPE_STRING, start, next, nullptr);
    if (!s.moved) s.in_pos = next;
  }
  uint32_t all_flags = flags;
  for (const uint8_t* q = end; q < close; q++)
    all_flags |= CLASSES[*q] & (F_UTF8_2 | F_UTF8_4 | F_HIGH);
  build_text(s, body, close, RAW, all_flags, TYPE_STRING, build);
}

// A coordinate of a point: a float, or one of the special forms.
bool read_coordinate(const uint8_t* start, const uint8_t* end, double* out) {
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (end - p == 6 && p[0] == '1' && p[1] == '.' && p[2] == '#') {
    char w[3] = {char(p[3] | 0x20), char(p[4] | 0x20), char(p[5] | 0x20)};
    if (std::memcmp(w, "nan", 3) == 0) {
      *out = std::bit_cast<double>(uint64_t(0x7FF8000000000000));
      return true;
    }
    if (std::memcmp(w, "inf", 3) == 0) {
      *out = negative ? -HUGE_VAL : HUGE_VAL;
      return true;
    }
    return false;
  }
  return check_float(start, end) && read_float(start, end, 0, out);
}

// (x, y) or (x, y, z): `start` is the "(", `end` the ")".
void load_point(state& s, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  s.in_pos = end + 1;
  const uint8_t* p = start + 1;
  float v[3];
  uint32_t count = 0;
  auto blank = [](uint8_t b) { return b == ' ' || b == '\t'; };
  auto fail = [&s, &count]() { token_error(s, count >= 2 ? TYPE_POINT3D : TYPE_POINT2D); };
  for (;;) {
    while (p < end && blank(*p)) p++;
    const uint8_t* q = p;
    while (q < end && *q != ',' && !blank(*q)) q++;
    if (q - p > int64_t(MAX_FLOAT_TEXT)) token_error(s, TYPE_FLOAT);
    double d = 0;
    if (q == p || count == 3 || !read_coordinate(p, q, &d)) fail();
    v[count++] = values::to_single(d);
    p = q;
    while (p < end && blank(*p)) p++;
    if (p == end) break;
    if (*p != ',') fail();
    p++;
  }
  if (count < 2) fail();
  s.type = int32_t(count == 2 ? TYPE_POINT2D : TYPE_POINT3D);
  if (!build) return;
  Cell c{TYPE_UNSET | new_line_bit(s), 0, 0, 0};
  if (count == 2) values::make_point2d(&c, v[0], v[1]);
  else values::make_point3d(&c, v[0], v[1], v[2]);
  push_value(s, c);
}

// --- Words -------------------------------------------------------------------------------

void load_word_token(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                     bool build) {
  load_word(s, start, end, flags, build);
}

void load_refinement(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                     bool build) {
  s.in_pos = end;
  // ":/a" and "'/a" name no word: "/a" is a refinement, not a word's name.
  if (*start == ':') token_error(s, TYPE_GET_WORD);
  if (*start == '\'') token_error(s, TYPE_LIT_WORD);
  s.word_kind = TYPE_REFINEMENT;
  load_word(s, start + 1, end, flags, build);
}

void load_issue(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  s.in_pos = end;
  if (*start != '#' || end - start < 2) token_error(s, TYPE_ISSUE);
  s.word_kind = TYPE_ISSUE;
  load_word(s, start + 1, end, flags, build);
}

// Words repeat: a small cache from spelling to the global word spares the
// symbol and context lookups. An entry is trusted only when the symbol's
// own name still matches the text.
struct cached_word {
  uint32_t hash = 0;
  uint32_t symbol = 0;
  uint32_t index = 0;
  node_t context = 0;
};
constexpr uint32_t WORD_CACHE_SIZE = 1024;  // a power of two
cached_word word_cache[WORD_CACHE_SIZE];

uint32_t spelling_hash(const uint8_t* start, const uint8_t* end) {
  uint32_t h = 2166136261u;
  for (const uint8_t* p = start; p < end; p++) h = (h ^ *p) * 16777619u;
  return h | 1;  // 0 marks an empty entry
}

Cell global_word(const uint8_t* start, const uint8_t* end) {
  auto length = uint32_t(end - start);
  uint32_t h = spelling_hash(start, end);
  cached_word& e = word_cache[h & (WORD_CACHE_SIZE - 1)];
  if (e.hash == h && e.context == context::global_node && e.symbol <= symbol::count()) {
    series_buffer* name = memory::buffer(symbol::entry(e.symbol)->w3);
    if (name->used() == length && std::memcmp(name->head_ptr(), start, length) == 0)
      return word::make(TYPE_WORD, e.context, e.symbol, e.index);
  }
  uint32_t sym = symbol::make_alt(reinterpret_cast<const char*>(start), length);
  Cell w = word::make_global(sym);
  e = cached_word{h, sym, w.w3, w.w1};
  return w;
}

}  // namespace

void load_word(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  uint32_t kind = s.word_kind;
  if (kind == TYPE_GET_WORD || kind == TYPE_LIT_WORD) start++;
  if (kind == TYPE_SET_WORD && end - start > 1 && end[-1] == ':') end--;
  for (const uint8_t* p = start; p < end && (flags & F_HIGH);) {
    if (*p < 0x80) {
      p++;
      continue;
    }
    int32_t cp;
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    if (cp < 0) token_error(s, int32_t(kind));
  }
  if (!build) return;
  Cell w = global_word(start, end);
  w.header = kind;
  push_value(s, w);
}

const loader_fn LOADERS[TOKEN_COUNT] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr,
    load_string,         // T_STRING
    load_word_token,     // T_WORD
    load_issue,          // T_ISSUE
    load_integer,        // T_INTEGER
    load_refinement,     // T_REFINEMENT
    load_char,           // T_CHAR
    load_file,           // T_FILE
    load_binary,         // T_BINARY
    load_percent,        // T_PERCENT
    load_float,          // T_FLOAT
    load_special_float,  // T_SPECIAL_FLOAT
    load_tuple,          // T_TUPLE
    load_date,           // T_DATE
    load_pair,           // T_PAIR
    load_point,          // T_POINT
    load_time,           // T_TIME
    load_money,          // T_MONEY
    load_tag,            // T_TAG
    load_url,            // T_URL
    load_email,          // T_EMAIL
    load_hex,            // T_HEX
    load_raw_string,     // T_RAW_STRING
    load_ref,            // T_REF
};

}  // namespace kez::lexer
