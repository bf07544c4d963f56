// date!: a calendar date with an optional time of day and zone, in one cell.
//
// Word 1 is the packed date word: year in bits 31-17 (signed, read with an
// arithmetic shift), has-time in bit 16, month in 15-12, day in 11-7 and
// the zone in 6-0 (bit 6 west of UTC, bits 5-2 whole hours, bits 1-0
// quarter hours; the sign is kept apart, so -00:30 stays west). Words 2-3
// hold the time as a double: the local time of day minus the zone offset,
// that is the UTC time counted from the local date's midnight, so that
// day number x 86400 + time is the instant. Without has-time it is 0.0.
//
// Day numbers count days from 1 March of year 0 on the proleptic Gregorian
// calendar, with floor division throughout so that years of 0 and before
// come out right. A year outside the 15 bits raises script type-limit and
// leaves the date as it was.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::date {

inline constexpr uint32_t HAS_TIME = 1u << 16;
inline constexpr uint32_t ZONE_MASK = 0x7F;
inline constexpr uint32_t ZONE_WEST = 0x40;
inline constexpr int32_t MIN_YEAR = -16384;
inline constexpr int32_t MAX_YEAR = 16383;
// Day number of 1 January 1970.
inline constexpr int64_t EPOCH_DAY = 719468;

inline int32_t year_of(uint32_t w) { return int32_t(w) >> 17; }
inline int32_t month_of(uint32_t w) { return int32_t((w >> 12) & 15); }
inline int32_t day_of(uint32_t w) { return int32_t((w >> 7) & 31); }
inline uint32_t zone_of(uint32_t w) { return w & ZONE_MASK; }
inline bool has_time(uint32_t w) { return (w & HAS_TIME) != 0; }
inline double time_of(const Cell* d) { return get_float(d); }

bool leap_year(int64_t year);
int32_t month_length(int64_t year, int32_t month);
// Day number of year, month (1-12) and day (0 is the day before the 1st;
// any value runs on into the following months).
int64_t to_day_number(int64_t year, int32_t month, int64_t day);
int64_t day_number(uint32_t word);
// The date word of a day number; script type-limit (date!) when the year
// does not fit.
uint32_t from_day_number(int64_t g, uint32_t zone, bool has_time);
// 0 Monday .. 6 Sunday.
int32_t weekday_index(int64_t g);
int32_t get_yearday(uint32_t word);

// Zone bits of a signed offset given as hours and minutes (the sign of the
// whole in `west`), and the offset of zone bits in seconds.
uint32_t zone_bits(bool west, int32_t hours, int32_t minutes);
double zone_offset(uint32_t zone);
inline double to_local(double t, uint32_t zone) { return t + zone_offset(zone); }
inline double to_utc(double t, uint32_t zone) { return t - zone_offset(zone); }
// Carries whole days of `t` (a stored time under `zone`) into the day
// number g, so that the local time of day ends in [0, 86400).
int64_t normalize_time(int64_t g, double& t, uint32_t zone);
// The same on a date cell; with `convert` t is a local time first turned
// into a stored one.
void normalize(Cell* d, double t, bool convert);

// Constructors. make_at takes the fields as written and the local time in
// seconds; the zone (when has_time) as sign, hours and minutes.
Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds, bool west,
              int32_t zone_hours, int32_t zone_minutes, bool has_time);
// A UTC date and time of day (file dates).
Cell* make_at_parts(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                    int32_t minute, int32_t second, int32_t nanoseconds);
Cell* push(uint32_t word, double t);
Cell* make_in(Cell* block, uint32_t word, double t);
// Calendar moves of the date word, zone and has-time kept: to the Monday of
// ISO week n of its year, to weekday n (1 Monday) of its week, to day n of
// its year.
void set_isoweek(Cell* d, int64_t n);
void set_weekday(Cell* d, int64_t n);
void set_yearday(Cell* d, int64_t n);

// Field 1-14 (date year month day zone time hour minute second weekday
// yearday timezone week isoweek) pushed on the value stack.
Cell* get_field(const Cell* d, int32_t field);
// The field a word names (yearday and julian are one), or -1.
int32_t field_index(const Cell* word);

// Seconds since 1970-01-01T00:00Z, rounded to the nearest second; script
// type-limit (integer!) when that does not fit 32 bits.
int32_t to_epoch(const Cell* d);
// a - b as a time! of seconds, left in a.
Cell* difference(Cell* a, const Cell* b);
// add (OP_ADD) or subtract (OP_SUB) with the date in a: integer! days,
// time! seconds, and for subtract a date! (the result is then the integer!
// of days); the result is left in a.
Cell* do_math(Cell* a, Cell* b, int32_t op);

void init();  // registers date!

}  // namespace kez::date
