// Shared lookup, text and number routines.
#include "values/support.h"

#include <cmath>
#include <cstring>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/string.h"

namespace kez::support {

Cell* select_key(bool switch_mode, bool block_after) {
  Cell key = stack::arguments[0];
  Cell block = stack::arguments[1];
  Cell answer = none_value;
  if (TYPE_OF(&key) != TYPE_BLOCK && block::is_block_type(TYPE_OF(&block))) {
    int32_t n = block::rs_length(&block);
    uint32_t step = switch_mode ? 1 : 2;
    for (int32_t i = 0; i < n; i += int32_t(step)) {
      Cell c = block::rs_head(&block)[i];
      if (TYPE_OF(&c) != TYPE_OF(&key) || !actions::compare(&c, &key, COMP_EQUAL)) continue;
      if (block_after) {
        for (int32_t k = i + 1; k < n; k++) {
          Cell b = block::rs_head(&block)[k];
          if (TYPE_OF(&b) == TYPE_BLOCK) {
            answer = b;
            break;
          }
        }
      } else {
        answer = block::rs_head(&block)[i + 1 < n ? i + 1 : i];
      }
      break;
    }
  }
  if (switch_mode) {
    if (stack::top < stack::arguments + 2) stack::top = stack::arguments + 2;
    return stack::push(answer);
  }
  *stack::arguments = answer;
  return stack::arguments;
}

uint8_t* repeat_fill(uint8_t* area, size_t pattern_length, uint32_t count) {
  size_t total = pattern_length * count;
  if (count == 0) return area;
  size_t filled = pattern_length;
  while (filled * 2 <= total) {
    std::memcpy(area + filled, area, filled);
    filled *= 2;
  }
  std::memcpy(area + filled, area, total - filled);
  return area + total;
}

Cell* form_limited(bool mold, int32_t limit) {
  if (stack::top <= stack::arguments) stack::top = stack::arguments + 1;
  Cell* out = string::push_new(16);
  int32_t part = limit > 0 ? limit : 0x7FFFFFFF;
  if (mold) actions::mold(stack::arguments, out, false, false, false, part, 0);
  else actions::form(stack::arguments, out, part);
  if (limit > 0) string::cut_to(out, limit);
  *stack::arguments = *out;
  stack::pop(1);
  return stack::arguments;
}

int32_t number_to_integer(const Cell* value) {
  uint32_t t = TYPE_OF(value);
  if (t == TYPE_INTEGER) return get_integer(value);
  if (t == TYPE_FLOAT || t == TYPE_PERCENT) {
    double d = get_float(value);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) {
      Cell v = *value;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
    return int32_t(std::trunc(d));
  }
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

int32_t append_indent(Cell* out, int32_t levels, int32_t limit) {
  for (int32_t i = 0; i < levels; i++) string::append_literal(out, "    ");
  return limit - 4 * (levels > 0 ? levels : 0);
}

}  // namespace kez::support
