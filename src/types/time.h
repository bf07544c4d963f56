// time!: a signed duration or time of day in seconds, held as a double.
//
// The double lies over words 2-3 exactly as a float!'s does (time! inherits
// float!'s random, compare, absolute, negate and remainder), and a date!
// keeps its time of day in the same place, so the field routines and the
// text form here serve date! too. Fields: hour (truncated toward zero),
// minute (0-59 of the magnitude) and second (a float with the sign of t).
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::time {

inline double get(const Cell* c) { return get_float(c); }

// Writes a time! into the cell, keeping its new-line bit.
Cell* make_at(double seconds, Cell* cell);
Cell* push(double seconds);
// Appends a time! given as the two halves of its double to a block.
Cell* make_in(Cell* block, uint32_t high, uint32_t low);

int32_t get_hours(double t);
int32_t get_minutes(double t);
// Pushes field 1 (hour, integer!), 2 (minute, integer!) or 3 (second,
// float!) of the cell's seconds.
Cell* get_field(const Cell* value, int32_t field);
// Sets field 1-3 of the seconds `t` from an integer! (or, for the second,
// a float!) value and answers the new seconds; another type raises script
// invalid-arg with the value.
double set_field(double t, int32_t field, const Cell* value);
// 1 hour, 2 minute, 3 second for those words (any case), else -1.
int32_t field_index(const Cell* word);

// Appends the text form (h:mm:ss[.fff], "-" first when negative) and
// answers the budget less what was written. `exact` writes every digit the
// seconds need to read back as the same value (mold/all).
int32_t form_text(Cell* out, double t, int32_t part, bool exact = false);
// True when the text form can say `t`: finite, its hours within an
// integer!.
bool sayable(double t);

void init();  // registers time! (after float!)

}  // namespace kez::time
