// The clock natives: now and wait.
//
// `now` reads the clock once, so its date, time and zone always belong to
// the same instant (a separate reading of date and time could straddle
// midnight). `wait` sleeps in the platform layer and then lets the
// terminal backend run what is pending without blocking.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "gui/terminal/screen.h"
#include "types/date.h"
#include "values/error_ids.h"

namespace kez::natives {

namespace {

// Refinements of now, in spec order.
enum now_ref { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };

}  // namespace

void now_star(bool, const int32_t* refs) {
  int used = 0;
  for (int i = YEAR; i <= PRECISE; i++) used += refs[i] >= 0;
  bool time_precise = used == 2 && refs[TIME] >= 0 && refs[PRECISE] >= 0;
  if (used > 1 && !time_precise) fire(err::SCRIPT, err::script::BAD_REFINES);
  platform::clock_reading now = platform::get_now(refs[UTC] >= 0, refs[PRECISE] >= 0);
  Cell* result = stack::arguments;
  if (refs[DATE] >= 0) {
    *result = Cell{TYPE_DATE, now.date & ~(date::HAS_TIME | date::ZONE_MASK), 0, 0};
    stack::top = result + 1;
    return;
  }
  Cell d{TYPE_DATE, now.date | date::HAS_TIME, 0, 0};
  put_float(&d, now.time);
  int32_t field = refs[YEAR] >= 0      ? 2
                  : refs[MONTH] >= 0   ? 3
                  : refs[DAY] >= 0     ? 4
                  : refs[ZONE] >= 0    ? 5
                  : refs[TIME] >= 0    ? 6
                  : refs[WEEKDAY] >= 0 ? 10
                  : refs[YEARDAY] >= 0 ? 11
                                       : 0;
  if (field) {
    Cell v = *date::get_field(&d, field);
    *result = v;
  } else {
    *result = d;
  }
  stack::top = result + 1;
}

void wait_star(bool, const int32_t*) {
  Cell* value = stack::arguments;
  double seconds;
  switch (TYPE_OF(value)) {
    case TYPE_INTEGER: seconds = get_integer(value); break;
    case TYPE_FLOAT:
    case TYPE_TIME: seconds = get_float(value); break;
    default: {
      Cell v = *value;
      fire(err::SCRIPT, err::script::INVALID_ARG, &v);
    }
  }
  platform::wait(seconds);
  gui::do_pending_events();
  *value = make_none();
  stack::top = value + 1;
}

}  // namespace kez::natives
