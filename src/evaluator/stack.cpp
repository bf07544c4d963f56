// The value stack and call frames.
//
// Invariants: bottom <= arguments <= top < cells_limit while no frame is
// being unwound; frames pop strictly in reverse order of opening; a function
// context whose values a frame pointed at the stack gets its saved values
// back when that frame is popped or unwound.
#include "evaluator/stack.h"

#include <cstdlib>

#include "evaluator/actions.h"
#include "foundation/memory.h"
#include "values/string.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/error.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* arguments = nullptr;
Cell* cells_limit = nullptr;
call_frame* frames_bottom = nullptr;
call_frame* frames_top = nullptr;
call_frame* frames_limit = nullptr;
call_frame* raise_frame = nullptr;
uint32_t raise_code = 0;
Cell stack_block{TYPE_UNSET, 0, 0, 0};
Cell frames_block{TYPE_UNSET, 0, 0, 0};

namespace {

constexpr uint32_t STACK_CELLS = 20000;
constexpr uint32_t FRAME_CELLS = 15000;  // 240,000 bytes: 12,000 frames
// Cells given back on overflow so that the error itself can be built.
constexpr uint32_t OVERFLOW_SLACK = 5;

// Gives back the slack, but only cells of the top frame: the error is built
// above what the frames below it still hold (a set-word waiting for its
// value keeps its word there), and the top frame is unwound by the error.
void give_back_slack() {
  top = top - arguments < ptrdiff_t(OVERFLOW_SLACK) ? arguments : top - OVERFLOW_SLACK;
}
// Cells and frames beyond the limits that only the building of a
// stack-overflow error may use (it pushes more than the slack).
constexpr uint32_t RESERVE_CELLS = 256;
constexpr uint32_t RESERVE_FRAMES = 32;

Cell* cells_end = nullptr;          // the buffer's real end
call_frame* frames_end = nullptr;

// Lets the error being built use the reserve; raise_error takes it back.
void open_reserve() {
  cells_limit = cells_end;
  frames_limit = frames_end;
}

// Pushes the error being raised. The cells of the unwound frames stay, but
// a stack overflow leaves them at the limit: the error then takes the last
// cell below the limit, so that pushing it can never raise again once the
// frames are unwound to the catching try (a second overflow there would
// escape that try). The catcher sets its own top at once.
Cell* push_raised(const Cell& error) {
  if (top >= cells_limit) top = cells_limit - 1;
  *top = error;
  return top++;
}

bool anonymous(const call_frame* f) {
  uint32_t s = f->symbol();
  return s == words::body_marker || s == words::anon_marker;
}

// The context record of a context node.
Cell* record_of(node_t ctx) { return cells_of(memory::buffer(ctx)); }

void restore_values(const call_frame* f) {
  if (f->kind() == FRAME_FUNCTION && f->function_context)
    record_of(f->function_context)->w2 = f->saved_values;
}

}  // namespace

void init() {
  node_t cells = memory::alloc_fixed_series(STACK_CELLS, 16, 0);
  stack_block = make_series(TYPE_BLOCK, cells);
  node_t frames = memory::alloc_fixed_series(FRAME_CELLS, 16, 0);
  frames_block = make_series(TYPE_BLOCK, frames);
  series_buffer* b = memory::buffer(cells);
  bottom = top = arguments = cells_of(b);
  cells_end = bottom + b->size / sizeof(Cell);
  cells_limit = cells_end - RESERVE_CELLS;
  series_buffer* fb = memory::buffer(frames);
  frames_bottom = frames_top = reinterpret_cast<call_frame*>(fb->data());
  frames_end = reinterpret_cast<call_frame*>(fb->data() + fb->size);
  frames_limit = frames_end - RESERVE_FRAMES;
}

namespace {
// Reports an error nothing catches and ends the process. The report may use
// the reserve: that of a stack overflow is made where the stack is full.
[[noreturn]] void report_uncaught(const Cell& error) {
  open_reserve();
  error::print_uncaught(push_raised(error));
  runtime::exit_process(-2);
}

// Raises stack-overflow with the reserve opened for building the error; an
// overflow while the reserve is already open is fatal.
[[noreturn]] void raise_overflow(bool reserve_open) {
  give_back_slack();
  cycles::reset();
  if (reserve_open) runtime::runtime_error(19, KEZ_ERROR_LOCATION());
  open_reserve();
  fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
}
}  // namespace

void overflow() { raise_overflow(cells_limit == cells_end); }

void settle_try_result() {
  Cell* t = top_cell();
  if (TYPE_OF(t) == TYPE_ERROR) *arguments = *t;
  top = arguments + 1;
}

void frames_overflow() { raise_overflow(frames_limit == frames_end); }

void enter_function(const Cell* word, node_t context) {
  record_of(context)->w2 = encode_values(arguments);
  open_frame(word, (FRAME_NATIVE << FRAME_KIND_SHIFT) | FRAME_RETURN_TARGET);
}

void set_return_target(bool flag) {
  if (flag) top_frame()->header |= FRAME_RETURN_TARGET;
  else top_frame()->header &= ~FRAME_RETURN_TARGET;
}

void set_evaluated_flag() { top_frame()->header |= FRAME_EVALUATED; }

call_frame* claim_return_target() {
  if (frames_top - frames_bottom < 2) return nullptr;
  call_frame* f = frames_top - 2;
  if (f->header & FRAME_RETURN_TARGET) return nullptr;
  f->header |= FRAME_RETURN_TARGET;
  return f;
}

void release_return_target(call_frame* f) {
  if (f) f->header &= ~FRAME_RETURN_TARGET;
}

bool eval_q(call_frame* frame, bool one_level) {
  call_frame* f = (frame ? frame : top_frame()) - 1;
  for (; f >= frames_bottom; f--) {
    if (f->header & FRAME_EVALUATED) return true;
    if (one_level) return false;
  }
  return false;
}

void pop_frame_drop() {
  call_frame* f = --frames_top;
  top = arguments;  // the popped frame's own first cell
  arguments = at_offset(f->saved_args);
  if (frames_top == frames_bottom) arguments = top = bottom;
  restore_values(f);
}

// Errors ---------------------------------------------------------------------

void raise_error(Cell* error_in) {
  Cell error = *error_in;
  Cell* saved_top = top;
  if (frames_top > frames_bottom) {
    if (TYPE_OF(error::field(&error, error::FIELD_WHERE)) == TYPE_NONE) {
      Cell where = get_call_word();
      *error::field(&error, error::FIELD_WHERE) = where;
    }
    // Taking the call trace still needs the reserve when the error is a
    // stack overflow: closing it first would overflow again, for ever.
    set_error_frame(&error);
    call_frame* f = frames_top - 1;
    while (f > frames_bottom && f->kind() != FRAME_TRY && f->kind() != FRAME_TRY_ALL) {
      restore_values(f);
      f--;
    }
    if (f->kind() != FRAME_TRY && f->kind() != FRAME_TRY_ALL && runtime::error_catchers == 0) {
      restore_values(f);
      frames_top = frames_bottom;
      arguments = bottom;
      top = saved_top;
      report_uncaught(error);
    }
    // Pop the try frame too; the cells above stay so that nothing the error
    // refers to is overwritten before it is caught.
    arguments = at_offset(f->saved_args);
    frames_top = f;
    top = saved_top < arguments + 1 ? arguments + 1 : saved_top;
  } else if (runtime::error_catchers == 0) {
    report_uncaught(error);
  }
  push_raised(error);
  // The reserve stays open while the error takes its call trace (an
  // overflow of the cells leaves none above the limit) and is closed again
  // for the code that catches it.
  cells_limit = cells_end - RESERVE_CELLS;
  frames_limit = frames_end - RESERVE_FRAMES;
  raise_code = 0;
  runtime::throw_code(RAISE_ERROR);
}

namespace {

struct saved_state {
  Cell* args = arguments;
  Cell* cells = top;
  call_frame* frames = frames_top;
  void restore() const {
    arguments = args;
    top = cells;
    frames_top = frames;
  }
};

// Walks down from the frame below the call's own frame to the target kind
// (or a return target). A try/all frame on the way is a barrier.
call_frame* find_exit_target(bool (*is_target)(const call_frame*), bool& barrier) {
  barrier = false;
  call_frame* f = frames_top - 1;  // the call's own frame: passed over
  while (true) {
    if (f->kind() == FRAME_TRY_ALL && f != frames_top - 1) {
      barrier = true;
      return nullptr;
    }
    if (f == frames_bottom) return nullptr;
    f--;
    if (f->kind() == FRAME_TRY_ALL) {
      barrier = true;
      return nullptr;
    }
    if (is_target(f)) return f;
  }
}

// Leaves `f` open as the top frame with its own first cell as arguments and
// top, and returns that cell.
Cell* land_on(call_frame* f) {
  Cell* first = at_offset((f + 1)->saved_args);
  frames_top = f + 1;
  arguments = first;
  top = first + 1;
  return first;
}

}  // namespace

void raise_break(const Cell* with_value, bool is_continue) {
  saved_state saved;
  Cell value = with_value ? *with_value : make_unset();
  bool barrier;
  call_frame* f = find_exit_target([](const call_frame* c) { return c->kind() == FRAME_LOOP; },
                                   barrier);
  if (!f) {
    saved.restore();
    fire(err::THROW, is_continue ? err::throw_::CONTINUE : err::throw_::BREAK);
  }
  *land_on(f) = is_continue ? make_unset() : value;
  raise_code = is_continue ? RAISE_CONTINUE : RAISE_BREAK;
}

void raise_exit(const Cell* with_value) {
  saved_state saved;
  Cell value = with_value ? *with_value : make_unset();
  bool barrier;
  call_frame* f = find_exit_target(
      [](const call_frame* c) { return (c->header & FRAME_RETURN_TARGET) != 0; }, barrier);
  if (!f) {
    saved.restore();
    fire(err::THROW, err::throw_::RETURN);
  }
  *land_on(f) = value;
  raise_code = with_value ? RAISE_RETURN : RAISE_EXIT;
}

void raise_throw() {
  saved_state saved;
  Cell value = arguments[0];
  Cell name = arguments[1];
  if (!raise_frame) raise_frame = frames_top - 1;
  bool barrier;
  call_frame* f = find_exit_target([](const call_frame* c) { return c->kind() == FRAME_CATCH; },
                                   barrier);
  if (!f) {
    saved.restore();
    fire(err::THROW, err::throw_::THROW, &value);
  }
  Cell* first = land_on(f);
  first[0] = value;
  first[1] = name;
  top = first + 2;
  raise_code = RAISE_THROW;
}

uint32_t take_exit(call_frame* frame, uint32_t first_code, uint32_t last_code) {
  uint32_t code = raise_code;
  if (code < first_code || code > last_code || frames_top - 1 != frame) return 0;
  raise_code = 0;
  return code;
}

// Call traces ------------------------------------------------------------------

Cell get_call_word() {
  // A throw's frame counts only while it is still open.
  call_frame* f = raise_frame && raise_frame < frames_top ? raise_frame - 1 : frames_top - 1;
  raise_frame = nullptr;
  for (; f >= frames_bottom; f--) {
    if (anonymous(f)) continue;
    return word::lookup(f->word_context, f->symbol());
  }
  return words::not_found_marker_word;
}

void set_error_frame(Cell* error) {
  Cell* s = error::field(error, error::FIELD_STACK);
  if (TYPE_OF(s) == TYPE_BLOCK) return;
  *s = make_integer(int32_t(frames_top - frames_bottom));
  // The call trace is taken now, while the frames are alive: once the error
  // unwinds they are gone, and what later reads them would see other calls.
  // Running out of memory is reported without it.
  if (get_integer(error::field(error, error::FIELD_CODE)) ==
      err::INTERNAL * 100 + err::internal::NO_MEMORY)
    return;
  error::capture_stack(error);
}

namespace {
bool reportable(const call_frame* f, int32_t level) {
  if (anonymous(f)) return false;
  if (level > 1) return true;
  Cell w = word::lookup(f->word_context, f->symbol());
  const Cell* v = word::get_value_or_null(&w);
  return v && TYPE_OF(v) == TYPE_FUNCTION;
}
}  // namespace

void collect_frame_words(int32_t level, Cell* block, uint32_t end_frame) {
  // The end is a frame index (an error's stack field may hold any integer):
  // it never reaches past the live frames.
  uint32_t live = uint32_t(frames_top - frames_bottom);
  call_frame* end = frames_bottom + (end_frame < live ? end_frame : live);
  for (call_frame* f = frames_bottom; f < end; f++) {
    if (!reportable(f, level)) continue;
    Cell w = word::lookup(f->word_context, f->symbol());
    *alloc_tail(block) = w;
  }
}

int32_t form_call_trace(int32_t level, const Cell* stack_field, Cell* out, int32_t part) {
  int32_t index = get_integer(stack_field);
  int32_t live = int32_t(frames_top - frames_bottom);
  call_frame* end = frames_bottom + (index < 0 ? 0 : index < live ? index : live);
  for (call_frame* f = frames_bottom; f < end; f++) {
    if (!reportable(f, level)) continue;
    Cell w = word::lookup(f->word_context, f->symbol());
    part = actions::form(&w, out, part);
    part -= string::append_literal(out, " ");
  }
  return part;
}

void collect_calls(Cell* block) {
  for (call_frame* f = frames_top - 1; f > frames_bottom; f--) {
    if (anonymous(f)) continue;
    Cell w = word::lookup(f->function_context ? f->function_context : context::global_node,
                          f->symbol());
    *alloc_tail(block) = w;
    *alloc_tail(block) = make_integer(int32_t(f->saved_args / sizeof(Cell)));
  }
}

void mark_frames(void (*mark_context)(node_t), void (*mark_block)(node_t)) {
  for (call_frame* f = frames_bottom; f < frames_top; f++) {
    if (f->word_context) {
      if (f->symbol() == words::self) mark_block(f->word_context);
      else mark_context(f->word_context);
    }
    if (f->function_context) mark_context(f->function_context);
  }
}

}  // namespace kez::stack
