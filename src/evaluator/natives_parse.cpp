// The parse native: argument handling around the parse engine.
//
// A /part limit is an absolute index of the input, never before its
// position (a negative length and a position before the input's give an
// empty range), and the rules always run, also over an empty range. A
// break, return or other exit from a paren of the rules passes straight on.
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/words.h"

namespace kez::natives {

void parse_star(bool, const int32_t* refs) {
  Cell* input = stack::arguments;
  Cell rules = stack::arguments[1];
  bool has_limit = refs[1] >= 0;
  uint32_t limit = 0;
  if (has_limit) {
    Cell length = stack::arguments[refs[1]];
    int64_t end;
    if (TYPE_OF(&length) == TYPE_INTEGER) {
      end = int64_t(input->w1) + get_integer(&length);
    } else if (TYPE_OF(&length) == TYPE_FLOAT) {
      double d = get_float(&length);
      end = int64_t(input->w1) + (d > -2147483648.0 && d < 2147483648.0 ? int64_t(d) : 0);
    } else if (TYPE_OF(&length) == TYPE_OF(input) && length.w2 == input->w2) {
      end = length.w1;
    } else {
      Cell part = words::part_ref;
      fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &part, &length);
    }
    limit = uint32_t(end < int64_t(input->w1) ? input->w1 : end);
  }
  Cell source = *input;
  const Cell* callback = refs[2] >= 0 ? &stack::arguments[refs[2]] : nullptr;
  parser::run(stack::arguments, &source, &rules, refs[0] >= 0, has_limit, limit, callback);
}

}  // namespace kez::natives
