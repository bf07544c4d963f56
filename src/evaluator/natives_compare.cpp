// Comparison natives and logical not.
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "values/simple_types.h"

namespace kez::natives {

namespace {
void compare_with(int32_t op) {
  logic::box(actions::compare(stack::arguments, stack::arguments + 1, op));
}
}  // namespace

void equal_q_star(bool, const int32_t*) { compare_with(COMP_EQUAL); }
void not_equal_q_star(bool, const int32_t*) { compare_with(COMP_NOT_EQUAL); }
void strict_equal_q_star(bool, const int32_t*) { compare_with(COMP_STRICT_EQUAL); }
void lesser_q_star(bool, const int32_t*) { compare_with(COMP_LESSER); }
void greater_q_star(bool, const int32_t*) { compare_with(COMP_GREATER); }
void lesser_or_equal_q_star(bool, const int32_t*) { compare_with(COMP_LESSER_EQUAL); }
void greater_or_equal_q_star(bool, const int32_t*) { compare_with(COMP_GREATER_EQUAL); }
void same_q_star(bool, const int32_t*) { compare_with(COMP_SAME); }
void not_star(bool, const int32_t*) { logic::box(logic::falsy(stack::arguments)); }

}  // namespace kez::natives
