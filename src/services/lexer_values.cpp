// Value builders for the token loaders: each hands the fields a loader read
// to the datatype's own constructor (tuple!, pair!, the points, time!,
// percent!, date!, money!, map!), which keeps the cell's new-line bit.
//
// Money digits are packed here, two BCD digits a byte, the 17 integer
// positions before the 5 fraction positions.
#include "services/lexer_values.h"

#include <limits>
#include <string_view>

#include "types/date.h"
#include "types/map.h"
#include "types/money.h"
#include "types/pair.h"
#include "types/percent.h"
#include "types/point.h"
#include "types/time.h"
#include "types/tuple.h"

namespace kez::lexer::values {

void make_tuple(Cell* c, const uint8_t* bytes, uint32_t count) { tuple::make_at(c, bytes, count); }

void make_pair(Cell* c, int32_t x, int32_t y) { pair::make_at(c, x, y); }

float to_single(double d) {
  // Halfway between the largest float and the next power of two: from there
  // on the nearest single is infinity.
  constexpr double LIMIT = 3.4028235677973366e38;
  if (d != d) return std::numeric_limits<float>::quiet_NaN();
  if (d >= LIMIT) return std::numeric_limits<float>::infinity();
  if (d <= -LIMIT) return -std::numeric_limits<float>::infinity();
  return float(d);
}

void make_point2d(Cell* c, float x, float y) { point2D::make_at(c, x, y); }

void make_point3d(Cell* c, float x, float y, float z) { point3D::make_at(c, x, y, z); }

void make_time(Cell* c, double seconds) { time::make_at(seconds, c); }

void make_percent(Cell* c, double fraction) { percent::make_at(c, fraction); }

bool leap_year(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void make_date(Cell* c, int32_t year, int32_t month, int32_t day, double seconds,
               bool zone_negative, int32_t zone_hours, int32_t zone_minutes, bool has_time) {
  date::make_at(c, year, month, day, seconds, zone_negative, zone_hours < 0 ? -zone_hours : zone_hours,
                zone_minutes, has_time);
}

void date_set_isoweek(Cell* c, int32_t n) { date::set_isoweek(c, n); }
void date_set_weekday(Cell* c, int32_t n) { date::set_weekday(c, n); }
void date_set_yearday(Cell* c, int32_t n) { date::set_yearday(c, n); }

namespace {
int32_t known_currency(const char* code) { return money::find_currency_code(std::string_view(code, 3)); }
}  // namespace

int32_t (*currency_index)(const char* code) = known_currency;

bool make_money(Cell* c, bool negative, const char* code, const uint8_t* integer,
                uint32_t integer_count, const uint8_t* fraction, uint32_t fraction_count) {
  uint32_t currency = 0;
  if (code) {
    int32_t index = currency_index(code);
    if (index < 0) return false;
    currency = uint32_t(index);
  }
  uint8_t digits[22] = {};
  for (uint32_t i = 0; i < integer_count && i < 17; i++)
    digits[16 - i] = integer[integer_count - 1 - i];
  for (uint32_t i = 0; i < fraction_count && i < 5; i++) digits[17 + i] = fraction[i];
  uint8_t packed[11] = {};
  for (uint32_t p = 0; p < 22; p++) packed[p / 2] |= uint8_t(p % 2 == 0 ? digits[p] << 4 : digits[p]);
  money::make_at(c, negative, currency, packed);
  return true;
}

bool valid_map_key(uint32_t type) { return map::valid_key_type(type); }

void make_map(Cell* block_cell) {
  Cell block = *block_cell;
  uint32_t size = uint32_t(GET_BUFFER(&block)->used() / sizeof(Cell));
  map::make_at(block_cell, &block, size);
}

}  // namespace kez::lexer::values
