// Set operation natives: union, intersect, unique, difference, exclude, and
// the bitset predicate complement?.
//
// One dispatcher checks that the two sets can be combined (blocks and
// hashes mix; any other datatype only with itself) and hands the work to the
// datatype, which leaves its result in the frame's result slot.
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/bitset.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"

namespace kez::date {
// Two dates' difference as a time!, left in `a`; the date datatype supplies
// it.
__attribute__((weak)) Cell* difference(Cell*, const Cell*) {
  fire(err::INTERNAL, err::internal::NOT_DONE);
}
}  // namespace kez::date

namespace kez::natives {

namespace {

using numbers::expect_arg;

inline bool is_block_set(uint32_t t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// refs: /case, then /skip (its size's frame position).
void set_op(const int32_t* refs, int32_t op) {
  Cell* set1 = stack::arguments;
  const Cell* set2 = op == OP_UNIQUE ? nullptr : stack::arguments + 1;
  bool case_sensitive = refs[0] >= 0;
  const Cell* skip = refs[1] >= 0 ? stack::arguments + refs[1] : nullptr;
  uint32_t t1 = TYPE_OF(set1);
  if (set2) {
    uint32_t t2 = TYPE_OF(set2);
    // A datatype! stands for its one-type typeset, beside a typeset! only.
    if (t2 == TYPE_DATATYPE && t1 != TYPE_TYPESET) expect_arg(set2, "set2");
    if (is_block_set(t1) ? !is_block_set(t2) : t2 != t1 && t2 != TYPE_DATATYPE) {
      Cell a = make_datatype(t1), b = make_datatype(t2);
      fire(err::SCRIPT, err::script::EXPECT_VAL, &a, &b);
    }
  }
  switch (t1) {
    case TYPE_BLOCK:
    case TYPE_HASH: block::do_set_op(set1, set2, op, case_sensitive, skip); break;
    case TYPE_STRING: string::do_set_op(set1, set2, op, case_sensitive, skip); break;
    case TYPE_BITSET: bitset::do_set_op(set1, set2, op); break;
    case TYPE_TYPESET: typeset::do_set_op(set1, set2, op); break;
    case TYPE_DATE:
      if (op != OP_DIFFERENCE) expect_arg(set1, "set1");
      date::difference(set1, set2);
      break;
    default: expect_arg(set1, op == OP_UNIQUE ? "set" : "set1");
  }
  stack::top = stack::arguments + 1;
}

}  // namespace

void union_star(bool, const int32_t* refs) { set_op(refs, OP_UNION); }
void intersect_star(bool, const int32_t* refs) { set_op(refs, OP_INTERSECT); }
void unique_star(bool, const int32_t* refs) { set_op(refs, OP_UNIQUE); }
void difference_star(bool, const int32_t* refs) { set_op(refs, OP_DIFFERENCE); }
void exclude_star(bool, const int32_t* refs) { set_op(refs, OP_EXCLUDE); }

void complement_q_star(bool, const int32_t*) {
  Cell* bits = stack::arguments;
  if (TYPE_OF(bits) != TYPE_BITSET) expect_arg(bits, "bits");
  logic::box(bitset::complemented(bits));
}

}  // namespace kez::natives
