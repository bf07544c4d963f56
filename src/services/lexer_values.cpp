// Value builders for the token loaders: cells of tuple!, pair!, the points,
// time!, percent!, date!, money! and map! written by their layouts.
//
// Date arithmetic is on the proleptic Gregorian day number counted from
// 1 March of year 0, with 32-bit divisions that truncate toward zero; money
// digits are packed BCD, 17 integer and 5 fraction positions.
#include "services/lexer_values.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "foundation/hashtable.h"

namespace kez::lexer::values {

namespace {

inline uint32_t keep_new_line(const Cell* c) { return c->header & CELL_NEW_LINE; }

inline uint32_t float_bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// Zone bits: sign in bit 6, whole hours in bits 5-2, quarter hours in 1-0.
uint32_t zone_bits(bool negative, int32_t hours, int32_t minutes) {
  uint32_t h = uint32_t(hours < 0 ? -hours : hours);
  uint32_t z = ((h << 2) & 0x7F) | (uint32_t(minutes) / 15 & 3);
  if (negative && z) z |= 0x40;
  return z;
}

double zone_offset(uint32_t z) {
  double offset = double((z >> 2) & 15) * 3600.0 + double(z & 3) * 15 * 60.0;
  return (z & 0x40) ? -offset : offset;
}

int32_t date_year(uint32_t word) { return int32_t(word) >> 17; }
int32_t date_month(uint32_t word) { return int32_t((word >> 12) & 15); }
int32_t date_day(uint32_t word) { return int32_t((word >> 7) & 31); }

uint32_t pack_date(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
  return (uint32_t(year) << 17) | (uint32_t(month & 15) << 12) | (uint32_t(day & 31) << 7) |
         (has_time ? 1u << 16 : 0) | (zone & 0x7F);
}

int32_t day_number(int32_t y, int32_t m, int32_t d) {
  int32_t mm = (m + 9) % 12;
  int32_t yy = y - mm / 10;
  return 365 * yy + yy / 4 - yy / 100 + yy / 400 + (306 * mm + 5) / 10 + (d - 1);
}

int32_t day_number_of(uint32_t word) {
  return day_number(date_year(word), date_month(word), date_day(word));
}

uint32_t from_day_number(int32_t g, uint32_t zone, bool has_time) {
  auto start = [](int32_t y) { return 365 * y + y / 4 - y / 100 + y / 400; };
  int32_t y = int32_t((10000.0 * g + 14780) / 3652425);
  int32_t r = g - start(y);
  if (r < 0) {
    y--;
    r = g - start(y);
  }
  int32_t mi = (100 * r + 52) / 3060;
  int32_t month = (mi + 2) % 12 + 1;
  int32_t year = y + (mi + 2) / 12;
  int32_t day = r - (306 * mi + 5) / 10 + 1;
  return pack_date(year, month, day, zone, has_time);
}

int32_t weekday_index(int32_t g) {
  int32_t w = (g + 2) % 7;
  return w < 0 ? w + 7 : w;
}

void move_to_day(Cell* c, int32_t g) {
  c->w1 = from_day_number(g, c->w1 & 0x7F, c->w1 & (1u << 16));
}

}  // namespace

void make_tuple(Cell* c, const uint8_t* bytes, uint32_t count) {
  uint8_t image[12] = {};
  std::memcpy(image, bytes, count);
  Cell t{TYPE_TUPLE | (count << TUPLE_SIZE_SHIFT) | keep_new_line(c), 0, 0, 0};
  std::memcpy(&t.w1, image, 4);
  std::memcpy(&t.w2, image + 4, 4);
  std::memcpy(&t.w3, image + 8, 4);
  *c = t;
}

void make_pair(Cell* c, int32_t x, int32_t y) {
  *c = Cell{TYPE_PAIR | keep_new_line(c), 0, uint32_t(x), uint32_t(y)};
}

float to_single(double d) {
  // Halfway between the largest float and the next power of two: from there
  // on the nearest single is infinity.
  constexpr double LIMIT = 3.4028235677973366e38;
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  if (d >= LIMIT) return std::numeric_limits<float>::infinity();
  if (d <= -LIMIT) return -std::numeric_limits<float>::infinity();
  return float(d);
}

void make_point2d(Cell* c, float x, float y) {
  *c = Cell{TYPE_POINT2D | keep_new_line(c), float_bits(x), float_bits(y), 0};
}

void make_point3d(Cell* c, float x, float y, float z) {
  *c = Cell{TYPE_POINT3D | keep_new_line(c), float_bits(x), float_bits(y), float_bits(z)};
}

void make_time(Cell* c, double seconds) {
  Cell t = make_float_of(TYPE_TIME, seconds);
  t.header |= keep_new_line(c);
  *c = t;
}

void make_percent(Cell* c, double fraction) {
  Cell t = make_float_of(TYPE_PERCENT, fraction);
  t.header |= keep_new_line(c);
  *c = t;
}

bool leap_year(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void make_date(Cell* c, int32_t year, int32_t month, int32_t day, double seconds,
               bool zone_negative, int32_t zone_hours, int32_t zone_minutes, bool has_time) {
  uint32_t zone = has_time ? zone_bits(zone_negative, zone_hours, zone_minutes) : 0;
  Cell d{TYPE_DATE | keep_new_line(c), pack_date(year, month, day, zone, has_time), 0, 0};
  put_float(&d, has_time ? seconds - zone_offset(zone) : 0.0);
  *c = d;
}

void date_set_isoweek(Cell* c, int32_t n) {
  int32_t j = day_number(date_year(c->w1), 1, 1);
  int32_t b = weekday_index(j);
  int32_t monday = b < 4 ? j - b : j - b + 7;
  move_to_day(c, monday + 7 * (n - 1));
}

void date_set_weekday(Cell* c, int32_t n) {
  int32_t g = day_number_of(c->w1);
  move_to_day(c, g + (n - 1) - weekday_index(g));
}

void date_set_yearday(Cell* c, int32_t n) {
  move_to_day(c, day_number(date_year(c->w1), 1, 1) + n - 1);
}

namespace {
int32_t no_currency(const char*) { return -1; }
}  // namespace

int32_t (*currency_index)(const char* code) = no_currency;

bool make_money(Cell* c, bool negative, const char* code, const uint8_t* integer,
                uint32_t integer_count, const uint8_t* fraction, uint32_t fraction_count) {
  uint32_t currency = 0;
  if (code) {
    int32_t index = currency_index(code);
    if (index < 0) return false;
    currency = uint32_t(index) & 0xFF;
  }
  uint8_t digits[22] = {};
  // Integer digits fill positions 17, 16, ... from the last; fraction
  // digits fill 18 .. 22 from the first.
  for (uint32_t i = 0; i < integer_count && i < 17; i++)
    digits[16 - i] = integer[integer_count - 1 - i];
  for (uint32_t i = 0; i < fraction_count && i < 5; i++) digits[17 + i] = fraction[i];
  uint8_t image[16] = {};
  image[4] = uint8_t(currency);
  for (uint32_t p = 0; p < 22; p++)
    image[5 + p / 2] |= uint8_t(p % 2 == 0 ? digits[p] << 4 : digits[p]);
  Cell m;
  std::memcpy(&m, image, sizeof m);
  m.header = TYPE_MONEY | (negative ? MONEY_SIGN : 0) | keep_new_line(c);
  *c = m;
  return true;
}

bool valid_map_key(uint32_t type) {
  switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER:
    case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE:
    case TYPE_BINARY: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE:
    case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D: case TYPE_POINT3D:
      return true;
    default:
      return false;
  }
}

void make_map(Cell* block_cell) {
  Cell block = *block_cell;
  uint32_t size = uint32_t(GET_BUFFER(&block)->used() / sizeof(Cell));
  node_t table = hashtable::init(size ? size : 2, &block, hashtable::KIND_MAP, 0);
  block_cell->header = (block_cell->header & ~TYPE_MASK) | TYPE_MAP;
  block_cell->w3 = table;
}

}  // namespace kez::lexer::values
