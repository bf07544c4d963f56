// Value builders that the token loaders use for datatypes living in their
// own modules: each writes one cell through that datatype's constructor,
// keeping the cell's new-line bit, so that the loaders depend on these few
// entry points alone.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::lexer::values {

// tuple!: 3 to 12 bytes in cell bytes 4-15, the count in header bits 19-22.
void make_tuple(Cell* c, const uint8_t* bytes, uint32_t count);
// pair!: x and y as 32-bit integers in words 2 and 3.
void make_pair(Cell* c, int32_t x, int32_t y);
// point2D!/point3D!: single-precision floats in words 1, 2 (and 3).
void make_point2d(Cell* c, float x, float y);
void make_point3d(Cell* c, float x, float y, float z);
// A double rounded to single precision, infinity beyond the float range.
float to_single(double d);
// time!: seconds; percent!: the fraction (0.5 for 50%).
void make_time(Cell* c, double seconds);
void make_percent(Cell* c, double fraction);

// date!: the packed date word and the time of day (UTC of the local date).
// `seconds` is the local time; the zone is given by sign, hours and minutes.
void make_date(Cell* c, int32_t year, int32_t month, int32_t day, double seconds,
               bool zone_negative, int32_t zone_hours, int32_t zone_minutes, bool has_time);
// Calendar moves of the date word (zone and has-time kept): to the Monday
// of ISO week n of its year, to weekday n (1 Monday) of its week, to day n
// of its year.
void date_set_isoweek(Cell* c, int32_t n);
void date_set_weekday(Cell* c, int32_t n);
void date_set_yearday(Cell* c, int32_t n);
bool leap_year(int32_t year);

// money!: the 1-based position of a currency code (three letters) in the
// list of known currencies, -1 when unknown (the money module's list).
extern int32_t (*currency_index)(const char* code);
// Builds a money! from up to 17 integer digits and up to 5 fraction digits
// (digit values 0-9, most significant first); false for an unknown currency.
bool make_money(Cell* c, bool negative, const char* code, const uint8_t* integer,
                uint32_t integer_count, const uint8_t* fraction, uint32_t fraction_count);

// map!: the types a map key may have.
bool valid_map_key(uint32_t type);
// Turns a block! cell (reachable from the collector's roots) into a map!
// over that block.
void make_map(Cell* block_cell);

}  // namespace kez::lexer::values
