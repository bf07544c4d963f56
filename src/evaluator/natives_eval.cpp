// Evaluation natives: do, reduce, compose, apply.
//
// Every evaluation is followed by a test of the pending exit code: a break,
// return or throw passing through returns at once, leaving the stack to the
// frame that takes it. Script files and preprocessing are the boot
// library's (do-file, preprocessor/expand); until they exist, `do` of a
// file or `do/expand` raises not-done.
#include <algorithm>
#include <exception>
#include <initializer_list>

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/ownership.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// Evaluates one value as an expression; functions are values, not calls.
void eval_value(const Cell* value) {
  Cell* code = block::push_only(1);
  block::rs_append(code, value);
  stack::open_eval_native_frame(&words::body_marker_word);
  interpreter::eval_expression(code, 0, 1, true, false, true);
  if (stack::pending()) return;
  stack::pop_frame_return();
}

// Evaluates a block from its head (or, with /next, one expression of it,
// moving the position word past it).
void eval_any_block(Cell* block_value, const Cell* position_word) {
  block::rs_head(block_value);
  if (!position_word) {
    interpreter::eval_block(block_value, true);
    return;
  }
  uint32_t next = interpreter::eval_single(block_value);
  if (stack::pending()) return;
  Cell moved = *block_value;
  moved.w1 = next;
  Cell w = *position_word;
  word::set(&w, &moved);
}

// Removes the tracer installed by a do/trace on every way out. While an
// error unwinds, the tracer is not called again (it could raise in turn).
struct trace_guard {
  bool installed = false;
  int exceptions = std::uncaught_exceptions();
  ~trace_guard() {
    if (!installed) return;
    if (std::uncaught_exceptions() > exceptions) trace::reset();
    else trace::uninstall();
  }
};

}  // namespace

const Cell* service_function(const char* name, const char* field) {
  const Cell* v = context::get_global_value(symbol::make(name));
  if (v && field) {
    if (TYPE_OF(v) != TYPE_OBJECT) return nullptr;
    v = context::symbol_value(symbol::make(field), v->w1);
  }
  if (!v) return nullptr;
  uint32_t t = TYPE_OF(v);
  return t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION ? v
                                                                                        : nullptr;
}

void call_with(const Cell* fn_in, const char* name, std::initializer_list<Cell> values,
               bool keep) {
  Cell fn = *fn_in;
  Cell word = word::make_global(symbol::make(name));
  Cell* base = stack::top;
  Cell* code = block::push_only(int32_t(values.size()));
  for (const Cell& v : values) block::rs_append(code, &v);
  uint32_t n = uint32_t(values.size());
  interpreter::call_any_function(&fn, code, 0, n, keep, nullptr, &word, nullptr, 4, false);
  if (keep && !stack::pending()) {
    *base = *(stack::top - 1);
    stack::top = base + 1;
  }
}

void do_star(bool, const int32_t* refs) {
  Cell value = *arg(0);
  Cell args = refs[1] >= 0 ? *arg(refs[1]) : none_value;
  const Cell* position = refs[2] >= 0 ? arg(refs[2]) : nullptr;
  Cell callback = refs[3] >= 0 ? *arg(refs[3]) : none_value;
  uint32_t t = TYPE_OF(&value);
  if (t == TYPE_FILE || t == TYPE_URL) {
    // Scripts run through the boot library, which traces them itself.
    const Cell* run = service_function("do-file");
    if (!run) fire(err::INTERNAL, err::internal::NOT_DONE);
    call_with(run, "do-file", {value, callback, args}, false);
    if (stack::pending()) return;
    stack::top = arg(0) + 1;
    return;
  }
  trace_guard tracing;
  if (refs[3] >= 0) tracing.installed = trace::install(&callback);
  if (stack::pending()) return;  // a raise out of the tracer's init event
  switch (t) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell* code = stack::push(value);
      if (refs[0] >= 0) {
        // The preprocessor rewrites the block before it runs.
        block::rs_head(code);
        const Cell* expand = service_function("preprocessor", "expand");
        if (!expand) fire(err::INTERNAL, err::internal::NOT_DONE);
        call_with(expand, "expand", {*code, none_value}, true);
        if (stack::pending()) return;
        Cell expanded = *(stack::top - 1);
        stack::pop(1);
        if (!block::is_block_type(TYPE_OF(&expanded)))
          fire(err::SCRIPT, err::script::INVALID_ARG, &expanded);
        *code = expanded;
      }
      eval_any_block(code, position);
      break;
    }
    case TYPE_PATH: {
      Cell* code = block::push_only(1);
      block::rs_append(code, &value);
      stack::open_eval_native_frame(&words::body_marker_word);
      interpreter::eval_expression(code, 0, 1, true, false, false);
      if (stack::pending()) return;
      stack::pop_frame_return();
      break;
    }
    case TYPE_STRING: {
      Cell* code = lexer::scan_string(&value);
      eval_any_block(code, position);
      break;
    }
    case TYPE_ERROR: {
      Cell* e = stack::push(value);
      stack::raise_error(e);
    }
    default:
      eval_value(&value);
      break;
  }
  if (stack::pending()) return;
  stack::top = arg(0) + 1;
}

namespace {

// Adds a value to a reduce or compose target: at its tail, or at its
// position, which then moves past it.
void add_value(Cell* target, const Cell* v, bool append) {
  if (!append) {
    block::insert_value(target, v, false, true);
    return;
  }
  // Straight into the room the target has; the general append grows it.
  series_buffer* b = GET_BUFFER(target);
  if (b->tail + sizeof(Cell) <= b->size) [[likely]] {
    *reinterpret_cast<Cell*>(b->tail_ptr()) = *v;
    b->tail += sizeof(Cell);
    return;
  }
  block::rs_append(target, v);
}

bool is_function_value(uint32_t t) {
  return t == TYPE_FUNCTION || t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP ||
         t == TYPE_ROUTINE;
}

}  // namespace

void reduce_star(bool, const int32_t* refs) {
  Cell value = *arg(0);
  bool into = refs[0] >= 0;
  if (TYPE_OF(&value) != TYPE_BLOCK) {
    // One expression; a function value is kept, not called.
    if (!is_function_value(TYPE_OF(&value))) {
      eval_value(&value);
      if (stack::pending()) return;
    }
    if (!into) {
      stack::top = arg(0) + 1;
      return;
    }
  }
  Cell* code = stack::push(value);
  Cell* target;
  bool append = true;
  if (into) {
    target = stack::push(*arg(refs[0]));
    append = block::rs_tail_q(target);
  } else {
    target = block::push_only(std::max(block::rs_length(code), 1));
  }
  uint32_t start = target->w1;
  uint32_t noted = GET_BUFFER(target)->used() / sizeof(Cell);
  if (TYPE_OF(&value) != TYPE_BLOCK) {
    Cell v = *arg(0);
    clear_new_line(&v);
    add_value(target, &v, append);
  } else {
    stack::open_native_frame(&words::body_marker_word);
    uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
    for (uint32_t i = code->w1; i < end;) {
      // Simple expressions are taken in place, straight into the target's
      // room when they go at its tail; they evaluate nothing, so the block
      // and its end hold.
      if (append) {
        series_buffer* b = GET_BUFFER(target);
        auto* room = reinterpret_cast<Cell*>(b->tail_ptr());
        uint32_t n = interpreter::simple_expressions(code, i, end, room,
                                                     (b->size - b->tail) / sizeof(Cell));
        for (uint32_t k = 0; k < n; k++) clear_new_line(room + k);
        b->tail += n * uint32_t(sizeof(Cell));
        if (i >= end) break;
      } else {
        Cell v;
        if (interpreter::simple_expressions(code, i, end, &v, 1)) {
          clear_new_line(&v);
          add_value(target, &v, false);
          continue;
        }
      }
      i = interpreter::eval_next(code, i, end, true);
      if (stack::pending()) return;
      // The value stays on the stack while the target grows, which may
      // collect: nothing else may hold it.
      clear_new_line(stack::top - 1);
      add_value(target, stack::top - 1, append);
      stack::pop(1);
      uint32_t now = GET_BUFFER(code)->used() / sizeof(Cell);
      if (now < end) end = now;
    }
    stack::pop_frame();
  }
  if (into && append) {
    uint32_t added = GET_BUFFER(target)->used() / sizeof(Cell) - noted;
    target->w1 = start;
    ownership::check(target, words::insert, nullptr, int32_t(noted), int32_t(added));
  }
  *arg(0) = *target;
  stack::top = arg(0) + 1;
}

namespace {

void compose_into(const Cell* block_in, Cell* target, bool deep, bool only, bool append) {
  Cell source = *block_in;
  int32_t n = block::rs_length(&source);
  for (int32_t i = 0; i < n; i++) {
    Cell v = block::rs_head(&source)[i];
    uint32_t t = TYPE_OF(&v);
    if (t == TYPE_BLOCK && deep) {
      Cell* inner = block::push_only(std::max(block::rs_length(&v), 1));
      compose_into(&v, inner, deep, only, true);
      if (stack::pending()) return;
      Cell made = *inner;
      made.header = v.header;
      // Added while still on the stack: growing the target may collect.
      add_value(target, &made, append);
      stack::pop(1);
    } else if (t == TYPE_PAREN) {
      if (block::rs_length(&v) <= 0) continue;
      // A paren that is one simple expression is taken in place, as the
      // block runner takes it; its value is the code's or a word's, which
      // hold it while the target grows.
      Cell r;
      uint32_t at = v.w1, paren_end = GET_BUFFER(&v)->used() / sizeof(Cell);
      if (interpreter::simple_expressions(&v, at, paren_end, &r, 1) && at == paren_end &&
          TYPE_OF(&r) != TYPE_UNSET && (TYPE_OF(&r) != TYPE_BLOCK || only)) {
        add_value(target, &r, append);
        continue;
      }
      // Run as the evaluator runs a paren: untraced, in this frame, with no
      // block frame of its own (traced, run_block gives it one).
      stack::open_native_frame(&words::body_marker_word);
      interpreter::run_block(&v, false);
      if (stack::pending()) return;
      r = *stack::arguments;
      stack::pop_frame();
      stack::pop(1);
      uint32_t rt = TYPE_OF(&r);
      if (rt == TYPE_UNSET) continue;
      // Nothing else holds the result: it stays on the stack while the
      // target grows, which may collect.
      Cell* held = stack::push(r);
      if (rt == TYPE_BLOCK && !only) {
        int32_t k = block::rs_length(held);
        for (int32_t j = 0; j < k; j++) {
          Cell e = block::rs_head(held)[j];
          add_value(target, &e, append);
        }
      } else {
        add_value(target, held, append);
      }
      stack::pop(1);
    } else {
      add_value(target, &v, append);
    }
    n = std::min(n, block::rs_length(&source));
  }
}

}  // namespace

void compose_star(bool, const int32_t* refs) {
  bool deep = refs[0] >= 0, only = refs[1] >= 0;
  Cell* out = refs[2] >= 0 ? arg(refs[2]) : nullptr;
  Cell* source = stack::push(*arg(0));
  Cell* target;
  bool append = true;
  if (out) {
    target = stack::push(*out);
    append = block::rs_tail_q(target);
  } else {
    target = block::push_only(std::max(block::rs_length(source), 1));
  }
  uint32_t start = target->w1;
  compose_into(source, target, deep, only, append);
  if (stack::pending()) return;
  if (out && append) target->w1 = start;
  *arg(0) = *target;
  stack::top = arg(0) + 1;
}

void apply_star(bool, const int32_t* refs) {
  Cell f = *arg(0);
  Cell args = *arg(1);
  Cell fn = f;
  Cell name = words::anon_marker_word;
  const Cell* path = nullptr;
  Cell path_rest;
  if (word::is_any_word(TYPE_OF(&f))) {
    name = f;
    name.header = TYPE_WORD;
    fn = *context::get(&f);
  } else if (block::is_path_type(TYPE_OF(&f))) {
    if (block::rs_length(&f) <= 0) fire(err::SCRIPT, err::script::INVALID_ARG, &f);
    Cell first = block::rs_head(&f)[0];
    if (TYPE_OF(&first) != TYPE_WORD) fire(err::SCRIPT, err::script::INVALID_ARG, &f);
    name = first;
    name.header = TYPE_WORD;
    fn = *context::get(&first);
    path_rest = f;
    path_rest.w1++;
    path = &path_rest;
  }
  uint32_t t = TYPE_OF(&fn);
  if (t == TYPE_OP) {
    fn.header = (fn.header >> OP_TYPE_SHIFT) & 0xFF;
    t = TYPE_OF(&fn);
  }
  if (t != TYPE_FUNCTION && t != TYPE_NATIVE && t != TYPE_ACTION && t != TYPE_ROUTINE)
    fire(err::SCRIPT, err::script::INVALID_ARG, &f);
  int32_t mode = (refs[0] >= 0 ? 1 : 2) | (refs[1] >= 0 ? 4 : 0);
  stack::set_evaluated_flag();
  Cell* code = stack::push(args);
  uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
  interpreter::call_any_function(&fn, code, code->w1, end, false, path, &name, nullptr, mode,
                                 false);
  if (stack::pending()) return;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
