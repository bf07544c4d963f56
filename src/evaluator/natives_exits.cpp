// Exits and catching: break, continue, exit, return, throw, catch, try, and
// the fence around every call of script code from the GUI layer.
//
// The exits walk the frames to their target at once (stack.cpp) and leave a
// pending code; the catchers take what landed on their own frame. Errors
// arrive as C++ exceptions after raise_error has unwound to the nearest try
// frame and pushed the error.
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/collector.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/cycles.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::natives {

namespace {
inline Cell* arg(int i) { return stack::arguments + i; }
}  // namespace

void break_star(bool, const int32_t* refs) {
  stack::raise_break(refs[0] >= 0 ? arg(refs[0]) : nullptr, false);
}

void continue_star(bool, const int32_t*) { stack::raise_break(nullptr, true); }

void exit_star(bool, const int32_t*) { stack::raise_exit(nullptr); }

void return_star(bool, const int32_t*) { stack::raise_exit(arg(0)); }

void throw_star(bool, const int32_t* refs) {
  if (trace::on && trace::fire(trace::EV_THROW, nullptr, -1, nullptr, arg(0))) return;
  Cell name = refs[0] >= 0 ? *arg(refs[0]) : unset_value;
  stack::top = arg(1);
  stack::push(name);
  stack::raise_throw();
}

namespace {

bool name_matches(const Cell* thrown, const Cell* names) {
  if (TYPE_OF(thrown) != TYPE_WORD) return false;
  uint32_t s = symbol::resolve(thrown->w2);
  if (TYPE_OF(names) == TYPE_WORD) return symbol::resolve(names->w2) == s;
  Cell list = *names;
  int32_t n = block::rs_length(&list);
  for (int32_t i = 0; i < n; i++) {
    Cell w = block::rs_head(&list)[i];
    if (TYPE_OF(&w) != TYPE_WORD) {
      Cell name = word::make_global(words::name_word.w2);
      fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &name, &list);
    }
    if (symbol::resolve(w.w2) == s) return true;
  }
  return false;
}

}  // namespace

void catch_star(bool, const int32_t* refs) {
  Cell body = *arg(0);
  Cell names = refs[0] >= 0 ? *arg(refs[0]) : none_value;
  stack::open_catch_frame(&words::body_marker_word);
  stack::call_frame* frame = stack::top_frame();
  interpreter::eval_block(&body, true);
  if (!stack::pending()) {
    stack::pop_frame_return();
    return;
  }
  if (stack::raise_code != RAISE_THROW || stack::top_frame() != frame) return;
  // The thrown value and its name are the catch frame's first two cells.
  Cell value = stack::arguments[0];
  Cell name = stack::arguments[1];
  if (refs[0] >= 0 && !name_matches(&name, &names)) {
    stack::raise_code = 0;
    stack::raise_throw();  // on to the next catch outward
    return;
  }
  stack::raise_code = 0;
  stack::raise_frame = nullptr;  // the throw is over
  stack::arguments[0] = value;
  stack::top = stack::arguments + 1;
  stack::pop_frame_return();
  if (trace::on) trace::fire(trace::EV_CATCH, nullptr, -1, nullptr, &value);
}

void try_star(bool, const int32_t* refs) {
  bool all = refs[0] >= 0, keep = refs[1] >= 0;
  Cell body = *arg(0);
  Cell* result = arg(0);
  {
    cycles::guard guard;
    Cell try_word = words::try_word;
    if (all) stack::open_try_all_frame(&try_word);
    else stack::open_try_frame(&try_word);
    Cell position = interpreter::current;
    try {
      interpreter::eval_block(&body, true);
      // break, continue, return, exit and throw pass through `try`.
      if (stack::pending()) return;
      stack::pop_frame_return();
    } catch (const runtime_throw& t) {
      if (t.code != RAISE_ERROR) throw;
      // The error was unwound to this try frame, which is gone, and pushed;
      // the position is the one before the body ran.
      interpreter::current = position;
    }
  }
  stack::arguments = result;
  stack::settle_try_result();
  stack::raise_code = 0;
  if (keep && TYPE_OF(result) == TYPE_ERROR) error::capture_stack(result);
}

namespace {

// The fence began as script code, do-safe's body:
//   set/any 'outcome try/all [
//       catch/name [set/any 'result do code done?: true] 'console
//   ]
// and everything that reads the frames still sees that: the same frames
// with the same names open round the code (error stacks at every depth,
// the debugger's call list, the depth a recursion reaches), and a throw no
// one catches is reported where and near it was (at catch, near the
// try/all's block).
struct fence_words {
  Cell set_word, try_word, catch_word, do_word, console_word, near;
  uint32_t halt_request;
};

const fence_words& fence() {
  static const fence_words w = [] {
    fence_words f;
    f.set_word = word::make_global(symbol::make("set"));
    f.try_word = words::try_word;
    f.catch_word = words::catch_word;
    f.do_word = word::make_global(symbol::make("do"));
    f.console_word = word::make_global(symbol::make("console"));
    f.halt_request = symbol::resolve(symbol::make("halt-request"));
    static constexpr char NEAR[] = "catch/name [set/any 'result do code done?: true] 'console";
    f.near = *lexer::scan_utf8(NEAR, sizeof NEAR - 1);
    stack::pop(1);
    return f;
  }();
  static bool rooted = [] {
    collector::add_root(&w.near);
    return true;
  }();
  (void)rooted;
  return w;
}

// Calls the boot library's function `name` with `value` (if any), its
// result landing in the current result slot.
void call_library(const char* name, const Cell* value) {
  const Cell* fn = service_function(name);
  if (!fn) {
    Cell word = word::make_global(symbol::make(name));
    fire(err::SCRIPT, err::script::NO_VALUE, &word);
  }
  if (value) call_with(fn, name, {*value}, false);
  else call_with(fn, name, {}, false);
}

}  // namespace

void do_fenced_star(bool, const int32_t*) {
  const fence_words& w = fence();
  Cell* result = arg(0);
  Cell position = interpreter::current;
  stack::call_frame* own = stack::top_frame();
  own->header = (own->header & ~stack::FRAME_SYMBOL_MASK) | (w.set_word.w2 << stack::FRAME_SYMBOL_SHIFT);
  own->word_context = w.set_word.w1;
  Cell caught;
  {
    cycles::guard guard;
    stack::open_eval_native_frame(&w.try_word);
    stack::open_try_all_frame(&w.try_word);
    try {
      stack::open_block_frame(&words::body_marker_word);
      stack::open_eval_native_frame(&w.catch_word);
      stack::open_catch_frame(&words::body_marker_word);
      stack::call_frame* catcher = stack::top_frame();
      stack::open_block_frame(&words::body_marker_word);
      stack::open_eval_native_frame(&w.set_word);
      stack::open_eval_native_frame(&w.do_word);
      Cell* code = stack::push(*result);
      block::rs_head(code);
      interpreter::eval_block(code, true);
      if (!stack::pending()) {
        Cell value = *stack::arguments;
        stack::set_frame_top(own + 1);
        stack::arguments = result;
        *result = value;
        stack::top = result + 1;
        return;
      }
      if (stack::raise_code != RAISE_THROW || stack::top_frame() != catcher) return;
      Cell name = stack::arguments[1];
      if (TYPE_OF(&name) != TYPE_WORD ||
          symbol::resolve(name.w2) != symbol::resolve(w.console_word.w2)) {
        stack::raise_code = 0;
        interpreter::current = w.near;
        interpreter::current.w1 = 0;
        stack::raise_throw();  // on to the next catch outward: the fence
        return;
      }
      caught = stack::arguments[0];
      stack::raise_code = 0;
      stack::raise_frame = nullptr;  // the throw is over
      if (trace::on) trace::fire(trace::EV_CATCH, nullptr, -1, nullptr, &caught);
    } catch (const runtime_throw& t) {
      if (t.code != RAISE_ERROR) throw;
      // The error was unwound to the try frame, which is gone, and pushed.
      caught = *stack::top_cell();
      stack::raise_code = 0;
    }
  }
  interpreter::current = position;
  stack::set_frame_top(own + 1);
  stack::arguments = result;
  *result = caught;  // held while it is printed
  stack::top = result + 1;
  // A value thrown under the console's name is told from an error by its
  // type alone, as the script fence told them.
  if (TYPE_OF(&caught) == TYPE_ERROR) {
    call_library("print", &caught);
  } else if (TYPE_OF(&caught) == TYPE_WORD && symbol::resolve(caught.w2) == w.halt_request) {
    call_library("stop-events", nullptr);
  }
  if (stack::pending()) return;
  *result = unset_value;
  stack::top = result + 1;
}

}  // namespace kez::natives
