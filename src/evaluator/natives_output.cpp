// print and prin: reduce a block into the print buffer, form, and hand the
// text to the value-output hooks.
//
// The print buffer is one block for the whole run: a print reduces its
// block at the buffer's tail and removes exactly those values afterwards,
// so a print nested in the reduction of another leaves the outer values
// alone and printing allocates no block per call.
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/print.h"
#include "values/block.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/words.h"

namespace kez::natives {

namespace {

// Takes this print's values off the print buffer again, on every way out,
// and puts the head back where the enclosing print (if any) left it.
struct buffer_guard {
  uint32_t head;
  uint32_t mine = 0;
  bool used = false;
  ~buffer_guard() {
    if (used) block::rs_truncate_at(&print_buffer, mine);
    print_buffer.w1 = head;
  }
};

void print_value(bool line_end) {
  Cell value = *stack::arguments;
  buffer_guard guard{print_buffer.w1};
  if (TYPE_OF(&value) == TYPE_BLOCK) {
    // This print's values go above those of the prints it is nested in.
    uint32_t tail = GET_BUFFER(&print_buffer)->used() / sizeof(Cell);
    guard.mine = tail;
    guard.used = true;
    print_buffer.w1 = tail;
    Cell* code = stack::push(value);
    stack::open_native_frame(&words::body_marker_word);
    uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
    for (uint32_t i = code->w1; i < end;) {
      i = interpreter::eval_next(code, i, end, true);
      if (stack::pending()) return;
      Cell v = *(stack::top - 1);
      stack::pop(1);
      clear_new_line(&v);
      block::rs_append(&print_buffer, &v);
      uint32_t now = GET_BUFFER(code)->used() / sizeof(Cell);
      if (now < end) end = now;
    }
    stack::pop_frame();
    value = print_buffer;
    value.w1 = tail;
  }
  Cell* text;
  if (TYPE_OF(&value) == TYPE_STRING) {
    text = stack::push(value);
    string::rs_head(text);
  } else {
    Cell* held = stack::push(value);
    text = string::push_new(16);
    actions::form(held, text, 0x7FFFFFFF);
  }
  hooks::fire_value(text, line_end);
  last_lf = line_end;
  unset::box();
  stack::top = stack::arguments + 1;
}

}  // namespace

void print_star(bool, const int32_t*) { print_value(true); }
void prin_star(bool, const int32_t*) { print_value(false); }

}  // namespace kez::natives
