// The as-money native: a currency word and an amount combined into money!.
//
// The currency must be one of the known currencies; the amount goes through
// money!'s own integer and float conversions, so its range and digit rules
// are those of `to money!`.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/money.h"
#include "values/error_ids.h"
#include "values/number_support.h"

namespace kez::natives {

void as_money_star(bool, const int32_t*) {
  Cell* word = stack::arguments;
  Cell* amount = stack::arguments + 1;
  // Checked whatever the flag says: a value of another type must never be
  // read as a word or a number.
  if (TYPE_OF(word) != TYPE_WORD) numbers::expect_arg(word, "currency");
  if (TYPE_OF(amount) != TYPE_INTEGER && TYPE_OF(amount) != TYPE_FLOAT)
    numbers::expect_arg(amount, "amount");
  int32_t index = money::find_currency(word);
  if (index < 0) {
    Cell w = *word;
    fire(err::SCRIPT, err::script::BAD_DENOM, &w);
  }
  Cell m = TYPE_OF(amount) == TYPE_INTEGER ? money::from_integer(get_integer(amount))
                                           : money::from_float(get_float(amount), true);
  money::set_currency(&m, uint32_t(index));
  *stack::arguments = m;
}

}  // namespace kez::natives
