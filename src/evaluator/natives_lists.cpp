// The list-marker natives (new-line, new-line?) and `as`, which shows a
// series as another kind of its class without copying it.
//
// The new-line marker is a header bit of each cell: setting or clearing it
// changes no value, only how a block is molded. `as` keeps the series, its
// position and the header flags; only the type byte changes, so a change
// made through one view is seen through the other.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/simple_types.h"
#include "values/string.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

void set_marker(Cell* c, bool on) {
  if (on) c->header |= CELL_NEW_LINE;
  else clear_new_line(c);
}

bool is_list_kind(uint32_t t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || block::is_path_type(t);
}

bool is_text_kind(uint32_t t) { return string::is_string_type(t); }

}  // namespace

void new_line_star(bool, const int32_t* refs) {
  Cell position = *arg(0);
  bool on = logic::get(arg(1));
  int32_t n = block::rs_length(&position);
  if (refs[0] < 0 && refs[1] < 0) {
    if (n > 0) set_marker(block::rs_abs_at(&position, position.w1), on);
  } else {
    int32_t step = 1;
    if (refs[1] >= 0) {
      Cell size = *arg(refs[1]);
      step = get_integer(&size);
      if (step <= 0) fire(err::SCRIPT, err::script::OUT_OF_RANGE, &size);
    }
    Cell* cells = block::rs_abs_at(&position, position.w1);
    for (int32_t i = 0; i < n; i++) set_marker(cells + i, (i % step == 0) == on);
  }
  *arg(0) = position;
  stack::top = arg(0) + 1;
}

void new_line_q_star(bool, const int32_t*) {
  Cell position = *arg(0);
  bool marked = block::rs_length(&position) > 0 &&
                (block::rs_abs_at(&position, position.w1)->header & CELL_NEW_LINE);
  logic::box(marked);
}

void as_star(bool, const int32_t*) {
  Cell type = *arg(0);
  Cell spec = *arg(1);
  uint32_t target = TYPE_OF(&type) == TYPE_DATATYPE ? type.w1 : TYPE_OF(&type);
  uint32_t from = TYPE_OF(&spec);
  bool same_class = (is_list_kind(target) && is_list_kind(from)) ||
                    (is_text_kind(target) && is_text_kind(from));
  if (!same_class) {
    Cell have = make_datatype(from), want = make_datatype(target);
    fire(err::SCRIPT, err::script::NOT_SAME_CLASS, &have, &want);
  }
  set_type(&spec, target);
  *arg(0) = spec;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
