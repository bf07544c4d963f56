// The tracing hook.
#include "evaluator/trace.h"

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "values/block.h"
#include "values/function.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::trace {

bool on = false;
bool active = false;
uint32_t mask = DEFAULT_MASK;
Cell tracer{TYPE_NONE, 0, 0, 0};
uint32_t switches = 0;
uint32_t last_event = 0;

namespace {

int32_t locals = 0;

struct event_name {
  uint32_t bit;
  const char* name;
};
constexpr event_name EVENTS[] = {
    {EV_INIT, "init"},     {EV_END, "end"},       {EV_PROLOG, "prolog"}, {EV_EPILOG, "epilog"},
    {EV_ENTER, "enter"},   {EV_EXIT, "exit"},     {EV_OPEN, "open"},     {EV_RETURN, "return"},
    {EV_FETCH, "fetch"},   {EV_PUSH, "push"},     {EV_SET, "set"},       {EV_CALL, "call"},
    {EV_ERROR, "error"},   {EV_THROW, "throw"},   {EV_CATCH, "catch"},   {EV_EXPR, "expr"},
};

uint32_t bit_of(uint32_t sym) {
  uint32_t canon = symbol::resolve(sym);
  for (const auto& e : EVENTS)
    if (symbol::resolve(symbol::make(e.name)) == canon) return e.bit;
  return 0;
}

const char* name_of(uint32_t bit) {
  for (const auto& e : EVENTS)
    if (e.bit == bit) return e.name;
  return nullptr;
}

}  // namespace

void init() { collector::add_root(&tracer); }

uint32_t make_mask(const Cell* fn) {
  Cell body = function::more(fn)[function::MORE_BODY];
  if (TYPE_OF(&body) != TYPE_BLOCK || block::rs_length(&body) <= 0) return DEFAULT_MASK;
  Cell first = block::rs_head(&body)[0];
  if (TYPE_OF(&first) != TYPE_BLOCK) return DEFAULT_MASK;
  uint32_t m = 0;
  int32_t n = block::rs_length(&first);
  for (int32_t i = 0; i < n; i++) {
    Cell w = block::rs_head(&first)[i];
    if (TYPE_OF(&w) == TYPE_WORD) m |= bit_of(w.w2);
  }
  return m;
}

bool install(const Cell* fn) {
  if (active) return false;
  tracer = *fn;
  locals = function::count_locals(fn->w2, 0, false);
  mask = make_mask(fn);
  on = active = true;
  fire(EV_INIT, nullptr, -1, nullptr, nullptr);
  return true;
}

void uninstall() {
  uint32_t pending = stack::raise_code;
  stack::raise_code = 0;
  // The tracer hears the end even when tracing was switched off, by
  // `trace false` or by a raise out of the tracer (the debugger's halt):
  // it may have state to put back.
  on = true;
  fire(EV_END, nullptr, -1, nullptr, nullptr);
  stack::raise_code = pending;
  tracer = make_none();
  on = active = false;
}

void switch_to(bool mode) {
  on = mode && active;
  switches++;
}

void reset() {
  tracer = make_none();
  on = active = false;
}

bool fire(uint32_t bit, const Cell* code, int32_t position, const Cell* ref, const Cell* value) {
  if (!on) return false;
  last_event = bit;
  if (!(mask & bit) || TYPE_OF(&tracer) != TYPE_FUNCTION) return false;
  stack::call_frame* saved_frames = stack::frames_top;
  Cell* saved_top = stack::top;
  int32_t args_index = int32_t(stack::arguments - stack::bottom);
  int32_t top_index = int32_t(stack::top - stack::bottom);
  // Gather the arguments before anything is pushed: they may point at the
  // stack's top cells.
  Cell event_word = make_unset();
  if (const char* name = name_of(bit)) event_word = word::make_global(symbol::make(name));
  Cell code_cell = code ? *code : none_value;
  int32_t offset = -1;
  if (code && position >= 0 && uint32_t(position) >= code->w1 &&
      position <= block::rs_length(code) + int32_t(code->w1))
    offset = position - int32_t(code->w1);
  Cell value_cell = value ? *value : none_value;
  bool with_ref = bit == EV_SET || bit == EV_EPILOG || bit == EV_PROLOG || bit == EV_RETURN ||
                  bit == EV_CALL;
  Cell ref_cell = with_ref && ref ? *ref : none_value;
  Cell fn = tracer;
  stack::top++;  // the tracer's frame starts above the old top cell
  Cell name = words::interp_callback_marker_word;
  stack::open_function_frame(&name, fn.w1);
  stack::push(event_word);
  stack::push(code_cell);
  stack::push(make_integer(offset));
  stack::push(value_cell);
  stack::push(ref_cell);
  stack::push(Cell{TYPE_PAIR, 0, uint32_t(args_index), uint32_t(top_index)});
  function::init_locals(locals);
  // A return or exit on its way out of a function is set aside while the
  // tracer runs, which would otherwise stop at once and leave its frame.
  uint32_t pending = stack::raise_code;
  stack::raise_code = 0;
  on = false;
  interpreter::call_function(&fn, fn.w1, &name, 0);
  if (stack::pending()) return true;  // a raise out of the tracer leaves tracing off
  on = true;
  stack::pop_function_frame();
  stack::top = saved_top;
  stack::frames_top = saved_frames;
  stack::raise_code = pending;
  return false;
}

}  // namespace kez::trace
