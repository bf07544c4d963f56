// Calls from the terminal backend into Kez.
//
// The code block [function arg ...] is evaluated in a frame of its own, so
// that whatever the function leaves on the stack, or a non-local exit that
// passes out of it, never reaches the routine that called: the stack is put
// back as it was found on every way out but an error that the caller lets
// pass (which the frame that catches it unwinds).
#include "gui/terminal/calls.h"

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "values/block.h"
#include "values/error.h"
#include "values/error_ids.h"
#include "values/context.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::gui::calls {

outcome call(const Cell* fn_in, std::initializer_list<Cell> args, fence f) {
  outcome out;
  stack::mark saved;
  Cell* saved_arguments = stack::arguments;
  Cell* result = stack::push_unset();
  Cell* code = block::push_only(int32_t(args.size() + 1));
  block::rs_append(code, fn_in);
  for (const Cell& a : args) block::rs_append(code, &a);
  stack::arguments = result;
  if (f == fence::errors) {
    Cell try_word = words::try_word;
    stack::open_try_all_frame(&try_word);
    try {
      interpreter::eval_block(code, true);
      if (!stack::pending()) stack::pop_frame_return();
    } catch (const runtime_throw& t) {
      if (t.code != RAISE_ERROR) throw;
      stack::arguments = result;
      stack::settle_try_result();
      out.failed = true;
      // A non-local exit that met the fence (halt, an uncaught throw)
      // arrives as an error of the throw category: it still ends a loop.
      if (TYPE_OF(result) == TYPE_ERROR) {
        const Cell* code = error::field(result, error::FIELD_CODE);
        if (TYPE_OF(code) == TYPE_INTEGER && get_integer(code) / 100 == err::THROW)
          out.exit = true;
      }
    }
  } else {
    interpreter::eval_block(code, true);
  }
  if (stack::pending()) {
    stack::raise_code = 0;
    stack::raise_frame = nullptr;
    out.exit = true;
    *result = make_unset();
  }
  out.value = out.failed ? make_unset() : *result;
  saved.restore();
  stack::arguments = saved_arguments;
  return out;
}

Cell* field(const Cell* object, const char* name) {
  if (TYPE_OF(object) != TYPE_OBJECT) return nullptr;
  Cell w = word::make(TYPE_WORD, 0, symbol::make(name), context::NO_INDEX);
  int32_t i = object::find_word(object, &w);
  return i < 0 ? nullptr : context::values(object->w1) + i;
}

Cell helper(const char* name) {
  static const uint32_t sym = symbol::make("TUI-helpers");
  const Cell* helpers = context::get_global_value(sym);
  const Cell* fn = helpers ? field(helpers, name) : nullptr;
  return fn ? *fn : make_none();
}

Cell view_object() {
  static const uint32_t sym = symbol::make("system");
  const Cell* system = context::get_global_value(sym);
  const Cell* view = system ? field(system, "view") : nullptr;
  return view ? *view : make_none();
}

}  // namespace kez::gui::calls
