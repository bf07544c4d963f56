// The interpreter.
//
// Two paths evaluate an expression. The lean path (eval_lean and the
// routines of its section) runs whenever tracing is off: words, literals,
// get-words, set-words, parens and the infix loop are its own cases; calls
// by a word whose call descriptor is plain fetch their arguments straight
// into the frame; operators on two integers or two floats compute in
// place; a simple expression (a value, then integer operators whose right
// operand is a literal or a word holding one) is computed in place with no
// frame and no call, and a block takes a statement that assigns one, or
// a whole block that is one, without calling the expression evaluator at
// all. A call made in place from a paren begins the function's body
// itself when the body is one simple expression or leads with `either` or
// `if` (run_body_lean), so the leaf of a recursion costs no C++ call. The
// general path (walk_expression, call_any_function,
// fetch_arguments, eval_path) is the traced walk, and serves every case
// the lean path hands on: paths, refinements, apply, lit-word arguments,
// routines. Both raise the same errors in the same order, and open the
// same named frames in the same order; the lean path leaves out only
// frames no one can see: that of a simple expression (nothing in it can
// fail or call), and the anonymous frames of a paren and of the blocks
// run_block takes (branches, loop bodies, function bodies), whose values
// it pushes above the caller's cells instead. Fewer frames only let
// recursion go deeper.
//
// Invariants kept by every routine here:
//  - with keep false, the caller has top == arguments, and the value ends
//    in the result slot with top just above it; with keep true it is pushed;
//  - after any evaluation, a pending non-local exit returns at once without
//    touching the stack or the frames (the raise already unwound them);
//  - code is read by index through the block's node; a buffer address is
//    kept only while nothing is evaluated (evaluation may grow, move or
//    change the block itself), and the block's end is read before each step;
//  - every hint a call takes from its function (the descriptor, the spec
//    cache) is read from the function value at the call, so `set`, `bind`
//    and redefinitions are seen at once;
//  - the depth guard is tested at calls, blocks and parens (a call's test
//    covers the body and the branch it runs at once, and the paren or body
//    that starts with it);
//  - `current` (the running block, for an error's near) is put back by
//    each block on its ordinary and pending ways out; a frame that catches
//    an error puts back its own, so no unwinding needs to.
#include "evaluator/interpreter.h"

#include <array>
#include <cstring>
#include <type_traits>

#include "boot/system.h"
#include "evaluator/actions.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "gui/event.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/object.h"
#include "values/simple_types.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::interpreter {

Cell current{TYPE_UNSET, 0, 0, 0};
Cell tracer{TYPE_UNSET, 0, 0, 0};
bool tracing = false;

namespace {

// Argument kinds, kept in bits 20-21 of a spec cache typeset.
enum arg_kind : uint32_t { ARG_NORMAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3 };
constexpr uint32_t ARG_KIND_SHIFT = 20;

inline Cell* code_at(const Cell* code, uint32_t index) {
  return cell_head(GET_BUFFER(code)) + index;
}
inline uint32_t code_end(const Cell* code, uint32_t end) {
  uint32_t n = GET_BUFFER(code)->used() / sizeof(Cell);
  return end < n ? end : n;
}

inline bool is_function_type(uint32_t t) {
  return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}


inline __attribute__((always_inline)) void place_result(const Cell* value, bool keep) {
  if (keep) {
    move_cell(stack::push_new(), value);
  } else {
    move_cell(stack::arguments, value);
    stack::top = stack::arguments + 1;
  }
}

// Spec cache -------------------------------------------------------------------

void typeset_from_block(Cell* ts, const Cell* types) {
  Cell b = *types;
  int32_t n = block::rs_length(&b);
  for (int32_t i = 0; i < n; i++) {
    Cell e = block::rs_head(&b)[i];
    if (TYPE_OF(&e) == TYPE_WORD) {
      const Cell* v = word::get_value_or_null(&e);
      if (!v || TYPE_OF(v) == TYPE_UNSET) {
        // A typeset name not defined yet (early start-up): accept anything.
        typeset::set_all(ts);
        continue;
      }
      e = *v;
    }
    if (TYPE_OF(&e) == TYPE_DATATYPE) typeset::set_bit(ts, e.w1);
    else if (TYPE_OF(&e) == TYPE_TYPESET) typeset::merge(ts, &e);
  }
}

// Call descriptors --------------------------------------------------------------
//
// A call descriptor sums up what a call by a plain word needs of a spec: the
// arity, which arguments need their typeset tested (the others only refuse
// unset!), which are get-word arguments, and a function's count of local
// slots. It is built with the spec cache and kept in the cache block cell's
// spare word, so reading it costs no more than reading the cache. A
// descriptor without DESC_PLAIN sends every call to the general path:
// lit-word arguments, a `return:` among the arguments, more than
// DESC_MAX_ARITY arguments. A function! with refinements, and a routine!,
// have a descriptor of their required arguments with neither DESC_PLAIN
// nor DESC_BRANCHING (refined_call): call_refined takes their calls.
// `either` and `if` have DESC_BRANCHING instead: a call by a word takes
// them by their own path (call_branching), and every other call takes the
// general one. DESC_INTEGERS says that every argument takes an integer!,
// the commonest value by far, which then needs no typeset test.
// DESC_LOGIC_FIRST says that the first argument takes a logic! (the
// condition of `either` and `if`), which then needs no typeset test.
// DESC_QUICK_BODY says that a function's body, as it was when the
// descriptor was made, was one or three values or led with a word holding
// `either` or `if`: only then does a call try to begin it in place
// (run_body_lean), which checks everything again. The body may change
// since; the hint then only costs the try, or misses a shortcut.

enum : uint32_t {
  DESC_PLAIN = 1u << 31,
  DESC_BRANCHING = 1u << 30,
  DESC_LOGIC_FIRST = 1u << 29,
  DESC_INTEGERS = 1u << 28,
  DESC_QUICK_BODY = 1u << 27,
  DESC_ARITY_MASK = 0xF,
  DESC_CHECK_SHIFT = 4,    // 8 bits: the argument's typeset must be tested
  DESC_GET_SHIFT = 12,     // 8 bits: a get-word argument, taken as it is
  DESC_LOCALS_SHIFT = 20,  // 7 bits: a function's local slots
  DESC_MAX_ARITY = 8,
  DESC_MAX_LOCALS = 127,
};

// A function! with refinements or a routine! (its descriptor is never 0).
inline bool refined_call(uint32_t d) {
  return d && !(d & (DESC_PLAIN | DESC_BRANCHING));
}

// `either` and `if`, which call_branching takes.
inline bool branching(const Cell* fn) {
  return TYPE_OF(fn) == TYPE_NATIVE && (fn->w1 == natives::ID_EITHER || fn->w1 == natives::ID_IF);
}

bool quick_body_hint(const Cell* fn) {
  Cell body = cells_of(memory::buffer(fn->w3))[function::MORE_BODY];
  if (TYPE_OF(&body) != TYPE_BLOCK) return false;
  int32_t n = block::rs_length(&body);
  if (n == 1 || n == 3) return true;
  if (n < 3) return false;
  const Cell* lead = block::rs_head(&body);
  if (TYPE_OF(lead) != TYPE_WORD) return false;
  const Cell* v = word::get_value_or_null(lead);
  return v && branching(v);
}

uint32_t describe(const Cell* cache, const Cell* fn) {
  uint32_t type = TYPE_OF(fn);
  if (type != TYPE_NATIVE && type != TYPE_ACTION && type != TYPE_FUNCTION && type != TYPE_ROUTINE)
    return 0;
  Cell c = *cache;
  int32_t n = block::rs_length(&c);
  Cell* e = block::rs_head(&c);
  Cell plain_types = typeset::make_default();
  uint32_t arity = 0, d = DESC_PLAIN | DESC_INTEGERS;
  int32_t i = 0;
  for (; i + 1 < n && TYPE_OF(&e[i]) == TYPE_TYPESET; i++) {
    uint32_t kind = (e[i].header >> ARG_KIND_SHIFT) & 3;
    if (kind == ARG_RETURN) {
      // Passed over, when no argument follows it.
      if (i + 2 < n && TYPE_OF(&e[i + 1]) == TYPE_TYPESET) return 0;
      continue;
    }
    if (kind == ARG_LIT || arity == DESC_MAX_ARITY) return 0;
    if (kind == ARG_GET) d |= 1u << (DESC_GET_SHIFT + arity);
    if (e[i].w1 != plain_types.w1 || e[i].w2 != plain_types.w2 || e[i].w3 != plain_types.w3)
      d |= 1u << (DESC_CHECK_SHIFT + arity);
    if (!typeset::has(&e[i], TYPE_INTEGER)) d &= ~DESC_INTEGERS;
    if (arity == 0 && typeset::has(&e[i], TYPE_LOGIC)) d |= DESC_LOGIC_FIRST;
    arity++;
  }
  // A routine, or a function with refinements: the required arguments
  // only, neither plain nor branching; call_refined makes its calls.
  if (type == TYPE_ROUTINE || (type == TYPE_FUNCTION && i + 1 < n))
    return (d & ~DESC_PLAIN) | arity;
  if (type == TYPE_FUNCTION) {
    int32_t locals = get_integer(&e[n - 1]);
    if (locals < 0 || locals > int32_t(DESC_MAX_LOCALS)) return 0;
    d |= uint32_t(locals) << DESC_LOCALS_SHIFT;
    if (quick_body_hint(fn)) d |= DESC_QUICK_BODY;
  }
  if (branching(fn)) d ^= DESC_PLAIN | DESC_BRANCHING;
  return d | arity;
}

// Builds the cache of a function's spec (see function.h): one typeset per
// argument (kind in bits 20-21), one refinement per refinement but /local
// (natives: w3 = ordinal), and a final integer (function: locals count;
// native: refinement count).
Cell build_spec_cache(const Cell* fn) {
  Cell spec = make_series(TYPE_BLOCK, fn->w2);
  Cell* cache = block::push_only(8);
  bool native = TYPE_OF(fn) == TYPE_NATIVE || TYPE_OF(fn) == TYPE_ACTION;
  int32_t n = block::rs_length(&spec);
  int32_t ordinal = 0;
  bool locals = false;
  for (int32_t i = 0; i < n && !locals; i++) {
    Cell v = block::rs_head(&spec)[i];
    switch (TYPE_OF(&v)) {
      case TYPE_WORD:
      case TYPE_GET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_SET_WORD: {
        uint32_t kind = TYPE_OF(&v) == TYPE_WORD       ? ARG_NORMAL
                        : TYPE_OF(&v) == TYPE_GET_WORD ? ARG_GET
                        : TYPE_OF(&v) == TYPE_LIT_WORD ? ARG_LIT
                                                       : ARG_RETURN;
        if (kind == ARG_RETURN && symbol::resolve(v.w2) != symbol::resolve(words::return_)) {
          Cell s = v;
          fire(err::SCRIPT, err::script::BAD_FUNC_DEF, &s);
        }
        Cell ts = typeset::make_empty();
        ts.header |= kind << ARG_KIND_SHIFT;
        bool typed = false;
        if (i + 1 < n) {
          Cell next = block::rs_head(&spec)[i + 1];
          if (TYPE_OF(&next) == TYPE_BLOCK && block::rs_length(&next) > 0) {
            typeset_from_block(&ts, &next);
            typed = true;
          }
        }
        if (!typed) {
          typeset::set_all(&ts);
          typeset::clear_bit(&ts, TYPE_UNSET);
        }
        block::rs_append(cache, &ts);
        break;
      }
      case TYPE_REFINEMENT: {
        if (symbol::resolve(v.w2) == symbol::resolve(words::local)) {
          locals = true;
          break;
        }
        Cell r = v;
        r.header = TYPE_REFINEMENT;
        if (native) r.w3 = uint32_t(++ordinal);
        block::rs_append(cache, &r);
        break;
      }
      default: break;
    }
  }
  Cell count = make_integer(native ? ordinal : function::count_locals(fn->w2, 0, false));
  block::rs_append(cache, &count);
  Cell result = *cache;
  result.w3 = describe(&result, fn);
  stack::pop(1);
  return result;
}

Cell spec_cache_of(const Cell* fn) {
  Cell* more = cells_of(memory::buffer(fn->w3));
  if (TYPE_OF(&more[1]) != TYPE_BLOCK) {
    Cell f = *fn;
    Cell* held = stack::push(f);
    Cell cache = build_spec_cache(held);
    cells_of(memory::buffer(held->w3))[1] = cache;
    stack::pop(1);
    return cache;
  }
  return more[1];
}

// The n-th argument word of a function's spec (0-based), or <anon>.
Cell argument_word(const Cell* fn, uint32_t n) {
  Cell spec = make_series(TYPE_BLOCK, fn->w2);
  int32_t len = block::rs_length(&spec);
  uint32_t seen = 0;
  for (int32_t i = 0; i < len; i++) {
    Cell v = block::rs_head(&spec)[i];
    uint32_t t = TYPE_OF(&v);
    if (t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
      if (seen++ == n) {
        v.header = TYPE_WORD;
        return v;
      }
    }
  }
  return words::anon_marker_word;
}

[[noreturn]] void expect_arg(const Cell* fn, const Cell* name, const Cell* value, uint32_t n) {
  Cell f = *fn;
  Cell nm = name && word::is_word_type(TYPE_OF(name)) ? *name : words::anon_marker_word;
  Cell type = make_datatype(TYPE_OF(value));
  Cell arg = argument_word(&f, n);
  fire(err::SCRIPT, err::script::EXPECT_ARG, &nm, &type, &arg);
}

[[noreturn]] void no_arg(const Cell* fn, const Cell* name, uint32_t n) {
  Cell f = *fn;
  Cell nm = name && word::is_word_type(TYPE_OF(name)) ? *name : words::anon_marker_word;
  Cell arg = argument_word(&f, n);
  fire(err::SCRIPT, err::script::NO_ARG, &nm, &arg);
}

// Fetches one argument of the given kind onto the stack; returns the index
// after it, or leaves a pending exit.
uint32_t fetch_one(uint32_t kind, const Cell* code, uint32_t index, uint32_t end, bool no_infix) {
  if (kind == ARG_GET) {
    stack::push(code_at(code, index));
    return index + 1;
  }
  if (kind == ARG_LIT) {
    Cell v = *code_at(code, index);
    switch (TYPE_OF(&v)) {
      case TYPE_PAREN: {
        stack::open_eval_native_frame(&words::anon_marker_word);
        eval_block(&v, true);
        if (stack::pending()) return index;
        stack::pop_frame();
        return index + 1;
      }
      case TYPE_GET_WORD:
        stack::push(context::get(&v));
        return index + 1;
      case TYPE_GET_PATH:
        return eval_path(&v, code, index + 1, end, false, true, true, false);
      default:
        stack::push(v);
        return index + 1;
    }
  }
  return eval_expression(code, index, end, no_infix, true, false);
}

uint32_t eval_value(const Cell* code, const Cell* value, uint32_t index, uint32_t next,
                    uint32_t end, bool keep, bool literal_functions, Cell* start_top);
uint32_t walk_expression(const Cell* code, uint32_t index, uint32_t end, bool no_infix,
                         bool keep, bool literal_functions);

// Every refinement of a native unused (-1); defined with the lean path.
extern const int32_t NO_REFINEMENTS[32];

// The state of one call's argument fetching.
struct fetcher {
  Cell fn;
  Cell cache;
  const Cell* code;
  uint32_t index;
  uint32_t end;
  const Cell* name;
  int32_t mode;      // apply: 1 positional refinements, 2 named, +4 single values
  bool native;
  int32_t count;     // cache entries (the last is the final integer)
  int32_t refs[32];  // natives: refinement positions
  uint32_t used[4] = {0, 0, 0, 0};

  // A copy: evaluating an argument can move the cache's buffer. The cache
  // block's head is always 0.
  Cell entry(int32_t i) { return cell_head(GET_BUFFER(&cache))[i]; }
  static uint32_t kind_of(const Cell& e) { return (e.header >> ARG_KIND_SHIFT) & 3; }

  // Fetches one argument of the given kind and checks its type (unless
  // `check` is off); false when a non-local exit is pending.
  bool fetch(const Cell& ts, uint32_t arg_number, bool no_infix, bool check = true) {
    uint32_t kind = kind_of(ts);
    end = code_end(code, end);
    if (index >= end) {
      if (kind == ARG_LIT && typeset::has(&ts, TYPE_UNSET)) stack::push(unset_value);
      else if (mode != 0) stack::push(none_value);
      else no_arg(&fn, name, arg_number);
    } else if (mode & 4) {
      stack::push(code_at(code, index++));
    } else {
      index = fetch_one(kind, code, index, end, no_infix);
      if (stack::pending()) return false;
    }
    Cell* got = stack::top - 1;
    if (check && !typeset::has(&ts, TYPE_OF(got))) expect_arg(&fn, name, got, arg_number);
    return true;
  }

  // The number of the argument or refinement at cache position `at`, as
  // the spec counts them (a `return:` is not counted).
  uint32_t number_at(int32_t at) {
    uint32_t n = 0;
    for (int32_t i = 0; i < at; i++) {
      Cell e = entry(i);
      if (TYPE_OF(&e) == TYPE_REFINEMENT || kind_of(e) != ARG_RETURN) n++;
    }
    return n;
  }

  // The cache position of the refinement named `sym`, its ordinal and the
  // frame slot of its cell (functions); -1 when the spec lacks it.
  int32_t find_refinement(uint32_t sym, int32_t& ordinal, uint32_t& slot) {
    uint32_t canon = symbol::resolve(sym);
    slot = 0;
    ordinal = 0;
    for (int32_t i = 0; i + 1 < count; i++) {
      Cell e = entry(i);
      if (TYPE_OF(&e) == TYPE_REFINEMENT) {
        ordinal++;
        if (symbol::resolve(e.w2) == canon) return i;
      } else if (kind_of(e) == ARG_RETURN) {
        continue;
      }
      if (!native) slot++;
    }
    return -1;
  }

  // Uses the refinement at cache position `at`: fetches its arguments (and
  // drops them when it is not enabled). False when an exit is pending.
  bool use_refinement(int32_t at, int32_t ordinal, uint32_t slot, bool enabled) {
    uint32_t bit = uint32_t(at);
    used[bit / 32] |= 1u << (bit % 32);
    if (native && enabled) refs[ordinal - 1] = int32_t(stack::top - stack::arguments);
    if (!native && enabled) stack::arguments[slot] = true_value;
    uint32_t argpos = slot + 1;
    for (int32_t i = at + 1; i + 1 < count; i++) {
      Cell e = entry(i);
      if (TYPE_OF(&e) == TYPE_REFINEMENT) break;
      if (kind_of(e) == ARG_RETURN) continue;
      if (!enabled && (mode & 4)) {
        // A single value is skipped, not evaluated, for an inactive refinement.
        end = code_end(code, end);
        if (index < end) index++;
        continue;
      }
      // An argument of a refinement not in use is dropped unchecked (apply
      // passes it, or none at the end of its block).
      if (!fetch(e, number_at(i), false, enabled)) return false;
      Cell* got = stack::top - 1;
      if (!native) {
        if (enabled) stack::arguments[argpos] = *got;
        stack::top--;
      } else if (!enabled) {
        stack::top--;
      }
      argpos++;
    }
    return true;
  }

  bool already_used(int32_t at) { return used[uint32_t(at) / 32] & (1u << (uint32_t(at) % 32)); }
};

// Fetches the arguments of `fn` into the current frame, then calls a native
// or action with its refinement integers (functions are called by the
// caller). Returns the index after the arguments.
uint32_t fetch_arguments(const Cell* fn_in, const Cell* code, uint32_t index, uint32_t end,
                         const Cell* path, const Cell* name, int32_t mode, bool infix,
                         bool& called) {
  fetcher f;
  f.fn = *fn_in;
  f.cache = spec_cache_of(&f.fn);
  f.code = code;
  f.index = index;
  f.end = end;
  f.name = name;
  f.mode = mode;
  uint32_t type = TYPE_OF(&f.fn);
  f.native = type == TYPE_NATIVE || type == TYPE_ACTION;
  f.count = block::rs_length(&f.cache);
  // Copied from the constant: a fill here became a byte-wise string store.
  if (f.native) std::memcpy(f.refs, NO_REFINEMENTS, sizeof f.refs);

  // Required arguments; refinement cells (false) and their arguments (none)
  // take their slots in a function's frame.
  bool in_refinements = false;
  uint32_t arg_number = 0;
  uint32_t slot = 0;
  for (int32_t i = 0; i + 1 < f.count; i++) {
    Cell e = f.entry(i);
    if (TYPE_OF(&e) == TYPE_REFINEMENT) {
      in_refinements = true;
      arg_number++;
      if (!f.native) {
        stack::push(false_value);
        slot++;
      }
      continue;
    }
    if (fetcher::kind_of(e) == ARG_RETURN) continue;
    if (in_refinements) {
      arg_number++;
      if (!f.native) {
        stack::push(none_value);
        slot++;
      }
      continue;
    }
    if (infix && slot == 0) {
      // The left operand is already in place; it is checked like any other.
      Cell* left = stack::top - 1;
      if (!typeset::has(&e, TYPE_OF(left))) expect_arg(&f.fn, name, left, arg_number);
    } else if (!f.fetch(e, arg_number, infix)) {
      return f.index;
    }
    arg_number++;
    slot++;
  }
  if (!f.native) {
    Cell locals = f.entry(f.count - 1);
    function::init_locals(get_integer(&locals));
  }

  // A refinement named by a word (a get-word enables it by its variable's
  // truth); `whole` is what a second use of it reports.
  auto use_named = [&](const Cell& el, const Cell& whole) {
    bool enabled = true;
    if (TYPE_OF(&el) == TYPE_GET_WORD) enabled = !logic::falsy(context::get(&el));
    int32_t ordinal;
    uint32_t rslot;
    int32_t at = f.find_refinement(el.w2, ordinal, rslot);
    if (at < 0) {
      Cell nm = name ? *name : words::anon_marker_word;
      fire(err::SCRIPT, err::script::NO_REFINE, &nm, &el);
    }
    if (f.already_used(at)) fire(err::SCRIPT, err::script::DUP_REFINE, &whole);
    return f.use_refinement(at, ordinal, rslot, enabled);
  };

  // Refinements named by a path, positioned at its first refinement.
  if (path) {
    Cell p = *path;
    int32_t plen = block::rs_length(&p);
    for (int32_t k = 0; k < plen; k++) {
      Cell el = block::rs_head(&p)[k];
      if (TYPE_OF(&el) != TYPE_WORD && TYPE_OF(&el) != TYPE_GET_WORD)
        fire(err::SCRIPT, err::script::BAD_REFINE, &el);
      Cell whole = p;  // reported whole, as written, not from the refinement on
      whole.w1 = 0;
      if (!use_named(el, whole)) return f.index;
    }
  }

  // apply: refinements by position (each takes a logic! from the block) or
  // named in the block after the required arguments.
  if (mode & 1) {
    int32_t ordinal = 0;
    uint32_t rslot = 0, position = 0;
    for (int32_t i = 0; i + 1 < f.count; i++) {
      Cell e = f.entry(i);
      if (TYPE_OF(&e) == TYPE_REFINEMENT) {
        ordinal++;
        // The flag is one value (/safer) or one expression of the block.
        Cell flag = none_value;
        f.end = code_end(code, f.end);
        if (f.index < f.end) {
          if (mode & 4) {
            flag = *code_at(code, f.index++);
          } else {
            f.index = eval_expression(code, f.index, f.end, false, true, false);
            if (stack::pending()) return f.index;
            flag = *--stack::top;
          }
        }
        if (TYPE_OF(&flag) != TYPE_LOGIC && TYPE_OF(&flag) != TYPE_NONE)
          expect_arg(&f.fn, name, &flag, position);
        if (!f.use_refinement(i, ordinal, rslot, TYPE_OF(&flag) == TYPE_LOGIC && flag.w1))
          return f.index;
      } else if (fetcher::kind_of(e) == ARG_RETURN) {
        continue;
      }
      position++;
      if (!f.native) rslot++;
    }
  } else if (mode & 2) {
    while (true) {
      f.end = code_end(code, f.end);
      if (f.index >= f.end) break;
      Cell el = *code_at(code, f.index);
      if (TYPE_OF(&el) != TYPE_REFINEMENT && TYPE_OF(&el) != TYPE_GET_WORD) break;
      f.index++;
      if (!use_named(el, *code)) return f.index;
    }
  }

  if (f.native) {
    called = true;
    if (trace::on && trace::fire(trace::EV_CALL, code, int32_t(f.index), name, &f.fn))
      return f.index;
    if (type == TYPE_NATIVE) natives::table[f.fn.w1 - 1](false, f.refs);
    else actions::entries[f.fn.w1 - 1](f.refs);
  }
  return f.index;
}

// A call with refinements taken without the fetcher (defined with the
// paths, below); false, with nothing done, when fetch_arguments must take it.
bool call_refined(const Cell* fn_in, const Cell* code, uint32_t& index, uint32_t end,
                  const Cell* refinements, const Cell* name_in);

}  // namespace

namespace {

// Points the function's context at the frame while its body runs, and
// restores it (and the return-target flag) on every way out.
struct body_guard {
  node_t ctx;
  uint32_t saved;
  stack::call_frame* frame;
  ~body_guard() {
    context::record(ctx)->w2 = saved;
    frame->header &= ~stack::FRAME_RETURN_TARGET;
  }
};

// A return or exit that landed on the call's frame ends there: its value is
// in the result slot already.
inline void take_return(const stack::call_frame* frame) {
  if ((stack::raise_code == RAISE_RETURN || stack::raise_code == RAISE_EXIT) &&
      stack::top_frame() == frame) {
    stack::raise_code = 0;
  }
}

// Runs a function!'s body in its open frame, whose cells hold the arguments
// and locals. A return or exit that landed on the frame ends the call here,
// with its value already in the result slot.
void run_body(const Cell* fn, node_t ctx, const Cell* name) {
  Cell body = cells_of(memory::buffer(fn->w3))[function::MORE_BODY];
  stack::call_frame* frame = stack::top_frame();
  {
    body_guard guard{ctx, context::record(ctx)->w2, frame};
    context::record(ctx)->w2 = stack::encode_values(stack::arguments);
    frame->header |= stack::FRAME_RETURN_TARGET;
    if (trace::on && trace::fire(trace::EV_PROLOG, &body, -1, name, fn)) return;
    if (TYPE_OF(&body) == TYPE_BLOCK) {
      run_block(&body, false);
    } else {
      *stack::arguments = unset_value;
    }
    // An exit on its way out stays pending across the event.
    if (trace::on && trace::fire(trace::EV_EPILOG, &body, -1, name, fn)) return;
  }
  if (trace::on && trace::fire(trace::EV_RETURN, nullptr, -1, name, stack::arguments)) return;
  take_return(frame);
}

void run_body_framed(const Cell* fn, const Cell* name);

}  // namespace

// The lean path ------------------------------------------------------------------
//
// Untraced evaluation runs here. It keeps every observable step of the
// general path (the same frames, in the same order, named the same; the
// same errors; the same order of evaluation) and leaves out the work that
// only the general cases need: calls by a plain word whose descriptor is
// plain fetch their arguments straight into their slots, operators compute
// two integers (or two floats) in place after their right operand, simple
// expressions need no frame, and word lookups are inline. Everything else
// (paths, refinements, routines, lit-word arguments, the traced walk) goes
// to the general routines.

namespace {

// The code block's cells, read through its node once, and again only after
// an evaluation: nothing else allocates, so nothing else can move them.
struct code_view {
  const Cell* code;
  const Cell* cells;  // the buffer's head cell
  uint32_t count;     // its cells
  code_view() : code(nullptr), cells(nullptr), count(0) {}
  explicit code_view(const Cell* c) : code(c) { refresh(); }
  void refresh() {
    series_buffer* b = GET_BUFFER(code);
    cells = cell_head(b);
    count = b->used() / sizeof(Cell);
  }
  const Cell* at(uint32_t i) const { return cells + i; }
  uint32_t end(uint32_t e) const { return e < count ? e : count; }
  inline Cell* value_of(const Cell* w) const;  // bound_value
};

// A view that also keeps the values of the last context a word was looked
// up in through it (the one a loop body's words mostly share), under the
// same rule: a context's values move, or go to or from the stack, only
// when something is evaluated or allocated. Only contexts that are no
// object's are kept, so a set-word may write straight to a slot found
// there. Loop bodies use it: elsewhere the cache costs more than it saves.
// A loop keeps the context in a context_cache from one run of its blocks to
// the next, as long as nothing between them evaluates or allocates.
constexpr node_t NO_CONTEXT = ~node_t(0);
struct context_cache {
  node_t ctx = NO_CONTEXT;
  Cell* vals = nullptr;
};
struct cached_view : code_view {
  mutable node_t ctx = NO_CONTEXT;  // the context whose values are `vals`
  mutable Cell* vals = nullptr;
  cached_view() = default;
  cached_view(const Cell* c, const context_cache& cache)
      : code_view(c), ctx(cache.ctx), vals(cache.vals) {}
  // Hands the context back, when nothing was evaluated since it was found.
  void keep_in(context_cache* cache) const {
    cache->ctx = ctx;
    cache->vals = vals;
  }
  void refresh() {
    code_view::refresh();
    ctx = NO_CONTEXT;
  }
  inline Cell* value_of(const Cell* w) const;
};

// A view that reads through a cache's context without filling it.
struct warm_view : code_view {
  node_t ctx;
  Cell* vals;
  warm_view(const Cell* c, const context_cache& cache)
      : code_view(c), ctx(cache.ctx), vals(cache.vals) {}
  inline Cell* value_of(const Cell* w) const;
};

// A warm view over a function body running in its own context: the words
// it does not find there are nearly all global ones, looked up next.
struct body_view : warm_view {
  using warm_view::warm_view;
  inline Cell* value_of(const Cell* w) const;
};

uint32_t eval_lean(const Cell* code, uint32_t index, uint32_t end, bool no_infix, bool keep);
uint32_t infix_tail(const Cell* code, uint32_t next, uint32_t end, bool keep, Cell* start_top);

const int32_t NO_REFINEMENTS[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

inline void depth_guard() {
  // Deep recursion ends in the language's own error, never in a crash.
  if (platform::stack_exhausted()) [[unlikely]]
    fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
}

// The spec cache cell of a function value (an op! shares its function's):
// a block once built.
inline const Cell* spec_cache_cell(const Cell* fn) {
  return cells_of(memory::buffer(fn->w3)) + function::MORE_SPEC_CACHE;
}

// The descriptor of a function value, building its spec cache if need be.
inline uint32_t descriptor_of(const Cell* fn) {
  const Cell* cache = spec_cache_cell(fn);
  if (TYPE_OF(cache) == TYPE_BLOCK) [[likely]]
    return cache->w3;
  return spec_cache_of(fn).w3;
}

// The descriptor of a function value whose spec cache is built, else 0,
// which sends a call the general way, where the cache gets built. It
// allocates nothing, so code views stay current across it.
inline uint32_t built_descriptor(const Cell* fn) {
  const Cell* cache = spec_cache_cell(fn);
  return TYPE_OF(cache) == TYPE_BLOCK ? cache->w3 : 0;
}

// The values of a context: on the stack while a function runs (nullptr
// when none runs), else its values block.
inline __attribute__((always_inline)) Cell* values_of(node_t ctx) {
  const Cell* r = context::record(ctx);
  if (r->header & CONTEXT_ON_STACK) return stack::stack_values(r->w2);
  return r->w2 ? cells_of(memory::buffer(r->w2)) : nullptr;
}

// The value cell of a bound word whose context has values, else nullptr.
inline __attribute__((always_inline)) Cell* bound_value(const Cell* w) {
  if (!w->w1 || w->w3 == context::NO_INDEX) return nullptr;
  Cell* vals = values_of(w->w1);
  return vals ? vals + w->w3 : nullptr;
}

// A value slot found in a values array that exists: never null. Saying so
// lets the caller's test of a lookup for null fold away on these ways.
inline __attribute__((always_inline)) Cell* found_slot(Cell* slot) {
  if (!slot) __builtin_unreachable();
  return slot;
}

// bound_value with the global context's words first: they are most of the
// words a function body reads, and their values are one load away.
inline __attribute__((always_inline)) Cell* global_first_value(const Cell* w) {
  if (w->w3 == context::NO_INDEX) return nullptr;
  if (w->w1 == context::global_node) return found_slot(context::global_values() + w->w3);
  if (!w->w1) return nullptr;
  Cell* vals = values_of(w->w1);
  return vals ? vals + w->w3 : nullptr;
}

inline __attribute__((always_inline)) Cell* code_view::value_of(const Cell* w) const {
  return global_first_value(w);
}
// The values of a context that is no object's, else nullptr.
Cell* plain_values(node_t ctx) {
  const Cell* r = context::record(ctx);
  if (((r->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT) == CONTEXT_OBJECT) return nullptr;
  return values_of(ctx);
}
inline __attribute__((always_inline)) Cell* cached_view::value_of(const Cell* w) const {
  if (w->w3 == context::NO_INDEX) return nullptr;
  if (w->w1 == ctx) return found_slot(vals + w->w3);
  if (!w->w1) return nullptr;
  if (Cell* v = plain_values(w->w1)) {
    ctx = w->w1;
    vals = v;
    return v + w->w3;
  }
  return bound_value(w);
}

inline __attribute__((always_inline)) Cell* warm_view::value_of(const Cell* w) const {
  if (w->w1 == ctx && w->w3 != context::NO_INDEX) return found_slot(vals + w->w3);
  return bound_value(w);
}

// bound_value kept out of line, for the words a body view seldom meets.
__attribute__((noinline)) Cell* bound_value_cold(const Cell* w) { return bound_value(w); }

inline __attribute__((always_inline)) Cell* body_view::value_of(const Cell* w) const {
  if (w->w3 == context::NO_INDEX) return nullptr;
  if (w->w1 == ctx) return found_slot(vals + w->w3);
  if (w->w1 == context::global_node) return found_slot(context::global_values() + w->w3);
  return bound_value_cold(w);
}

// Types whose value is the value itself, with nothing to evaluate.
constexpr auto SELF_EVALUATING = [] {
  std::array<bool, 256> t{};
  for (uint32_t i = 1; i < TYPE_COUNT; i++) t[i] = true;
  for (uint32_t i : {TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD, TYPE_PAREN, TYPE_PATH,
                     TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_NATIVE, TYPE_ACTION,
                     TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE, TYPE_ISSUE})
    t[i] = false;
  return t;
}();
// Types a word's value may have and be taken as it is: a self-evaluating
// one, but not unset! (the word raises).
constexpr auto WORD_VALUE_READY = [] {
  std::array<bool, 256> t = SELF_EVALUATING;
  t[TYPE_UNSET] = false;
  return t;
}();

// The value of the code cell `at` when taking it needs no evaluation: a
// self-evaluating value, or a word holding one (a word without a value
// raises, on the general path). nullptr otherwise.
template <typename View>
inline __attribute__((always_inline)) const Cell* simple_value(const View& view,
                                                              const Cell* at) {
  // A word first: the commonest simple value where a call's argument or a
  // condition begins.
  uint32_t t = TYPE_OF(at);
  if (t == TYPE_WORD) {
    const Cell* v = view.value_of(at);
    return v && WORD_VALUE_READY[TYPE_OF(v)] ? v : nullptr;
  }
  return SELF_EVALUATING[t] ? at : nullptr;
}

// The operators computed in place, by the function an op! wraps: an
// action's id indexes the first half of the table, a native's the second.
// quick_kind reads it once, as the op! is made, into the op!'s header.
enum quick_kind : uint8_t {
  Q_NONE, Q_ADD, Q_SUB, Q_MUL, Q_DIV, Q_AND, Q_OR, Q_XOR, Q_EQ, Q_NE, Q_LT, Q_GT, Q_LE, Q_GE
};
constexpr auto QUICK_KIND = [] {
  std::array<uint8_t, 256> t{};
  t[ACT_add] = Q_ADD;
  t[ACT_subtract] = Q_SUB;
  t[ACT_multiply] = Q_MUL;
  t[ACT_divide] = Q_DIV;
  t[ACT_and_t] = Q_AND;
  t[ACT_or_t] = Q_OR;
  t[ACT_xor_t] = Q_XOR;
  t[128 + natives::ID_EQUAL_Q] = Q_EQ;
  t[128 + natives::ID_STRICT_EQUAL_Q] = Q_EQ;
  t[128 + natives::ID_NOT_EQUAL_Q] = Q_NE;
  t[128 + natives::ID_LESSER_Q] = Q_LT;
  t[128 + natives::ID_GREATER_Q] = Q_GT;
  t[128 + natives::ID_LESSER_OR_EQUAL_Q] = Q_LE;
  t[128 + natives::ID_GREATER_OR_EQUAL_Q] = Q_GE;
  return t;
}();

inline __attribute__((always_inline)) uint32_t quick_kind_of(const Cell* op) {
  return (op->header >> OP_QUICK_SHIFT) & 0xF;
}

// Two integers under a quick operator, the result in `out`; false when the
// exact result does not fit (the action then makes a float!) or the
// operator is none of them.
inline __attribute__((always_inline)) bool integer_op(uint32_t kind, int32_t a, int32_t b, Cell* out) {
  int32_t r;
  switch (kind) {
    case Q_ADD: if (__builtin_add_overflow(a, b, &r)) return false; break;
    case Q_SUB: if (__builtin_sub_overflow(a, b, &r)) return false; break;
    case Q_MUL: if (__builtin_mul_overflow(a, b, &r)) return false; break;
    case Q_DIV:
      // Only an exact quotient stays an integer.
      if (b == 0 || (a == INT32_MIN && b == -1) || a % b != 0) return false;
      r = a / b;
      break;
    case Q_AND: r = a & b; break;
    case Q_OR: r = a | b; break;
    case Q_XOR: r = a ^ b; break;
    case Q_EQ: store_cell(out, TYPE_LOGIC, a == b, 0, 0); return true;
    case Q_NE: store_cell(out, TYPE_LOGIC, a != b, 0, 0); return true;
    case Q_LT: store_cell(out, TYPE_LOGIC, a < b, 0, 0); return true;
    case Q_GT: store_cell(out, TYPE_LOGIC, a > b, 0, 0); return true;
    case Q_LE: store_cell(out, TYPE_LOGIC, a <= b, 0, 0); return true;
    case Q_GE: store_cell(out, TYPE_LOGIC, a >= b, 0, 0); return true;
    default: return false;
  }
  // One store: the result is often copied whole at once (an argument read
  // by its function, a value assigned).
  store_cell(out, TYPE_INTEGER, 0, uint32_t(r), 0);
  return true;
}

// A literal right operand (an integer!, or a word holding one) computed
// with no frame at all: nothing can be evaluated out of order.
template <typename View>
inline __attribute__((always_inline)) bool literal_op(const Cell* op, Cell* left,
                                                      const View& view, uint32_t at,
                                                      uint32_t end) {
  if (TYPE_OF(left) != TYPE_INTEGER || at >= end) return false;
  const Cell* r = view.at(at);
  if (TYPE_OF(r) == TYPE_WORD) {
    r = view.value_of(r);
    if (!r) return false;
  }
  if (TYPE_OF(r) != TYPE_INTEGER) return false;
  return integer_op(quick_kind_of(op), get_integer(left), get_integer(r), left);
}

// A simple expression: a simple value, then only operators that
// literal_op computes. It has no effect and cannot fail, so it needs no
// frame, and a caller that finds it incomplete (0) evaluates the whole
// expression again by the general route. Returns the index after it.
// With PARTIAL, an operator that literal_op cannot compute leaves its index
// in `partial_stop` (else 0) and the value so far in `out`: the general
// route may go on from there, since the part taken had no effect and is
// what that route would have computed.
uint32_t partial_stop = 0;
template <bool PARTIAL = false, typename View>
inline __attribute__((always_inline)) uint32_t quick_expression(const View& view,
                                                                uint32_t index, uint32_t end,
                                                                bool no_infix, Cell* out) {
  const Cell* v = simple_value(view, view.at(index));
  if (!v) {
    if (PARTIAL) partial_stop = 0;
    return 0;
  }
  *out = *v;
  index++;
  if (no_infix) return index;
  while (index < end) {
    const Cell* w = view.at(index);
    if (TYPE_OF(w) != TYPE_WORD) break;
    const Cell* op = view.value_of(w);
    if (!op || TYPE_OF(op) != TYPE_OP) break;
    if (!literal_op(op, out, view, index + 1, end)) [[unlikely]] {
      if (PARTIAL) partial_stop = index;
      return 0;
    }
    index += 2;
  }
  return index;
}

// A typeset's bit for each type id below 64, as a mask over its first two
// words: the bit array is read byte by byte, high bit first.
constexpr auto TYPESET_BIT = [] {
  std::array<uint64_t, 256> t{};
  for (uint32_t i = 0; i < 64; i++) t[i] = uint64_t(1) << ((i >> 3) * 8 + 7 - (i & 7));
  return t;
}();
static_assert(TYPE_COUNT <= 64, "typeset tests of the lean path cover the first 64 ids");

// Tests argument n (the top cell) against its typeset.
inline __attribute__((always_inline)) void check_argument(const Cell* fn, uint32_t d,
                                                          const Cell* name, uint32_t n) {
  Cell* got = stack::top - 1;
  if (d & (1u << (DESC_CHECK_SHIFT + n))) {
    if (TYPE_OF(got) == TYPE_INTEGER && (d & DESC_INTEGERS)) return;
    const Cell* cache = spec_cache_cell(fn);
    const Cell* ts = cells_of(GET_BUFFER(cache)) + n;
    uint64_t bits = uint64_t(ts->w1) | uint64_t(ts->w2) << 32;
    if (!(bits & TYPESET_BIT[TYPE_OF(got)])) expect_arg(fn, name, got, n);
  } else if (TYPE_OF(got) == TYPE_UNSET) {
    expect_arg(fn, name, got, n);
  }
}

uint32_t call_lean_kept(const Cell* fn_in, const Cell* code, uint32_t index, uint32_t end,
                        const Cell* name);
template <bool QUICK_BODY = false>
inline __attribute__((always_inline)) uint32_t call_lean_kept_as(const Cell* fn_in,
                                                                 const Cell* code,
                                                                 uint32_t index, uint32_t end,
                                                                 const Cell* name);
template <bool QUICK_BODY>
inline __attribute__((always_inline)) uint32_t call_lean_viewed(const Cell* fn_in,
                                                                code_view view, uint32_t index,
                                                                uint32_t end, const Cell* name);
uint32_t call_branching(const Cell* fn_in, const Cell* code, uint32_t index, uint32_t end,
                        const Cell* name);
// A call of `fn` with its arguments from the code at `index`, its value
// placed as `keep` asks; `name` is the word that named it (the frame's
// name), or <anon>.
inline __attribute__((always_inline)) uint32_t call_lean(const Cell* fn_in, const Cell* code,
                                                         uint32_t index, uint32_t end,
                                                         bool keep, const Cell* name) {
  index = call_lean_kept(fn_in, code, index, end, name);
  if (!keep && !stack::pending()) place_result(stack::top - 1, false);
  return index;
}

void paren_rest(const Cell* code, uint32_t next, uint32_t end, Cell* base, const Cell& saved);
template <bool INLINE_BLOCK = false>
inline uint32_t call_branching_as(const Cell* fn_in, const Cell* code, uint32_t index,
                                  uint32_t end, const Cell* name);

void run_branch_block(const Cell* body);
inline void run_branch_block_as(const Cell* body);

// A block or paren (`code`, from `index` to `end`, `at` its first value)
// that starts with a call by a word, the commonest case, run untraced as
// run_lean runs it but without its statement loop: the call is made from
// here, and what follows it in the block, when anything does, goes to
// paren_rest. The call's depth guard covers the block. `saved` is the
// position put back on the way out (the caller's copy of `current`). False,
// with nothing done, when the block starts otherwise.
// A function body takes a lead `either` or `if` in place (INLINE_BRANCHING),
// and with it the branch block it runs, and a paren that run_paren runs
// takes its lead call in place (INLINE_CALL): each saves a C++ call, with
// its entry and exit, per Kez call of a recursion through a branch and a
// paren. The copies are one level deep: the recursion itself goes through
// the out-of-line routines. With INLINE_CALL, `view` is the paren's cells,
// read by the caller with nothing evaluated since: the call's arguments are
// read through it.
template <bool INLINE_BRANCHING = false, bool INLINE_CALL = false>
inline __attribute__((always_inline)) bool lead_call(const Cell* paren, uint32_t index,
                                                    uint32_t end, const Cell* at, bool keep,
                                                    const Cell& saved,
                                                    const code_view* view = nullptr) {
  if (TYPE_OF(at) != TYPE_WORD) return false;
  const Cell* v = global_first_value(at);
  if (!v || !is_function_type(TYPE_OF(v))) return false;
  Cell word = *at;
  current = *paren;
  Cell* base = stack::top;
  uint32_t next;
  if (branching(v))
    next = INLINE_BRANCHING ? call_branching_as<true>(v, paren, index + 1, end, &word)
                            : call_branching(v, paren, index + 1, end, &word);
  else
    next = INLINE_CALL ? call_lean_viewed<true>(v, *view, index + 1, end, &word)
                       : call_lean(v, paren, index + 1, end, true, &word);
  if (!stack::pending()) [[likely]] {
    end = code_end(paren, end);
    if (next < end || trace::on) [[unlikely]]
      paren_rest(paren, next, end, base, saved);
  }
  current = saved;
  if (!keep && !stack::pending()) {
    Cell result = *base;
    place_result(&result, false);
  }
  return true;
}

// A paren run by lead_call, when tracing is off and it starts with a call.
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) bool paren_call(const Cell* paren, bool keep) {
  if (trace::on) return false;
  code_view view(paren);
  uint32_t index = paren->w1, end = view.count;
  if (index >= end) return false;
  Cell saved = current;
  return lead_call<false, INLINE_CALL>(paren, index, end, view.at(index), keep, saved, &view);
}

// A paren run as run_block runs it, through paren_call when it can.
__attribute__((noinline)) void run_paren(const Cell* paren, bool keep) {
  if (!paren_call<true>(paren, keep)) run_block(paren, keep);
}

// An operator's right operand that is a call by a word or a paren, taken as
// eval_lean takes it (no infix after it); 0 for any other operand. With
// INLINE_CALL the call is made in place (see lead_call).
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) uint32_t operand_call(const code_view& view,
                                                            uint32_t index, uint32_t end) {
  const Cell* at = view.at(index);
  if (TYPE_OF(at) == TYPE_PAREN) {
    Cell block = *at;
    if (!paren_call<INLINE_CALL>(&block, true)) run_block(&block, true);
    return index + 1;
  }
  if (TYPE_OF(at) != TYPE_WORD) return 0;
  const Cell* v = global_first_value(at);
  if (!v || !is_function_type(TYPE_OF(v))) return 0;
  Cell word = *at;
  return INLINE_CALL ? call_lean_kept_as(v, view.code, index + 1, end, &word)
                     : call_lean(v, view.code, index + 1, end, true, &word);
}

// Fetches arguments `first` .. arity - 1 into the open frame, reading the
// code through `view` (current: nothing evaluated since it was read).
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) uint32_t fetch_lean_in(code_view& view, const Cell* fn,
                                                             uint32_t d, uint32_t index,
                                                             uint32_t end, const Cell* name,
                                                             uint32_t first, bool infix) {
  const Cell* code = view.code;
  uint32_t arity = d & DESC_ARITY_MASK;
  for (uint32_t n = first; n < arity; n++) {
    end = view.end(end);
    if (index >= end) no_arg(fn, name, n);
    uint32_t after;
    if (d & (1u << (DESC_GET_SHIFT + n))) {
      stack::push(view.at(index));
      index++;
    } else if (!(infix && TYPE_OF(view.at(index)) == TYPE_PAREN) &&
               (after = quick_expression(view, index, end, infix, stack::top))) {
      // (An operator's right operand that is a paren, never simple, goes
      // straight to operand_call.)
      stack::push_new();
      index = after;
    } else if (infix && (after = operand_call<INLINE_CALL>(view, index, end))) {
      index = after;
      if (stack::pending()) return index;
      view.refresh();
    } else {
      index = eval_lean(code, index, end, infix, true);
      if (stack::pending()) return index;
      view.refresh();
    }
    check_argument(fn, d, name, n);
  }
  return index;
}
// Fetches arguments `first` .. arity - 1 into the open frame.
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) uint32_t fetch_lean(const Cell* fn, uint32_t d,
                                                          const Cell* code, uint32_t index,
                                                          uint32_t end, const Cell* name,
                                                          uint32_t first, bool infix) {
  code_view view(code);
  return fetch_lean_in<INLINE_CALL>(view, fn, d, index, end, name, first, infix);
}

// Runs a branch of `either` or `if` in its frame, as run_block runs it: a
// branch of one value that needs no evaluation is taken without running a
// block (a leaf of a recursion, mostly), and an untraced one skips the
// depth guard, which the call's covers.
template <bool INLINE_BLOCK = false>
inline __attribute__((always_inline)) void run_branch(const Cell* branch) {
  Cell body = *branch;
  if (TYPE_OF(&body) == TYPE_BLOCK && !trace::on) {
    series_buffer* b = GET_BUFFER(&body);
    if (b->used() / sizeof(Cell) == body.w1 + 1) {
      if (const Cell* v = simple_value(code_view(&body), cell_head(b) + body.w1)) {
        place_result(v, false);
        return;
      }
    }
    if (INLINE_BLOCK) run_branch_block_as(&body);
    else run_branch_block(&body);
    return;
  }
  run_block(&body, false);
}

inline void run_body_lean(const Cell* fn, const Cell* name);

// Runs the function of the open frame (its arguments in place): a native or
// action with no refinement used, or a function! with its locals. With
// QUICK_BODY (the calls made in place, see lead_call) a function!'s body is
// begun here (run_body_lean); elsewhere that would weigh on the caller.
template <bool QUICK_BODY = false>
inline __attribute__((always_inline)) void invoke(const Cell* fn, uint32_t d, const Cell* name) {
  switch (TYPE_OF(fn)) {
    case TYPE_NATIVE: natives::table[fn->w1 - 1](false, NO_REFINEMENTS); break;
    case TYPE_ACTION: actions::entries[fn->w1 - 1](NO_REFINEMENTS); break;
    default:
      // A quick body with no locals, the commonest call in place, is told
      // from the rest by one test of the descriptor.
      if (!QUICK_BODY ||
          (d & (DESC_QUICK_BODY | (uint32_t(DESC_MAX_LOCALS) << DESC_LOCALS_SHIFT))) !=
              DESC_QUICK_BODY ||
          (fn->header & (function::ATTR_TRACE | function::ATTR_NO_TRACE)) || trace::on) {
        if (uint32_t locals = (d >> DESC_LOCALS_SHIFT) & DESC_MAX_LOCALS)
          function::init_locals(int32_t(locals));
        // Untraced, only the trace attribute can change anything.
        if (fn->header & (function::ATTR_TRACE | function::ATTR_NO_TRACE)) {
          call_function(fn, fn->w1, name, 0);
          break;
        }
        if (trace::on) [[unlikely]] {
          run_body(fn, fn->w1, name);  // tracing began in the arguments
          break;
        }
        if (!(QUICK_BODY && (d & DESC_QUICK_BODY))) {
          run_body_framed(fn, name);
          break;
        }
      }
      run_body_lean(fn, name);
      break;
  }
}

inline void open_call_frame(const Cell* fn, const Cell* name) {
  if (TYPE_OF(fn) == TYPE_FUNCTION) stack::open_function_value_frame(name, fn->w1);
  else stack::open_eval_native_frame(name);
}

inline void pop_call_frame(const Cell* fn) {
  if (TYPE_OF(fn) == TYPE_FUNCTION) stack::pop_function_value_frame(fn->w1);
  else stack::pop_frame();
}

// The frame of `either` or `if` (`fn`, named by `name`) with its condition
// and branch blocks (`branches`, one or two) as its arguments, above the
// function value, whose cell it returns. When the cells all fit below the
// limit they are written with one test of it; else they are pushed one by
// one, so that an overflow is raised at the cell it always was.
inline __attribute__((always_inline)) Cell* open_branch_frame(const Cell* fn, const Cell* name,
                                                             const Cell& cond,
                                                             const Cell* branches, bool either) {
  Cell* base = stack::top;
  if (base + 4 < stack::cells_limit) [[likely]] {
    base[0] = *fn;
    stack::top = base + 1;
    stack::open_eval_native_frame(name);
    base[1] = cond;
    base[2] = branches[0];
    if (either) base[3] = branches[1];
    stack::top = base + (either ? 4 : 3);
    return base;
  }
  base = stack::push(*fn);
  stack::open_eval_native_frame(name);
  stack::push(cond);
  stack::push(branches);
  if (either) stack::push(branches + 1);
  return base;
}

// call_branching_as's frame and arguments for any call but one whose
// condition is a simple logic! and whose branches are blocks in the code:
// the condition evaluated in the open frame, the branches fetched. Out of
// line, since the recursions it serves rarely take it. `base` gets the cell
// of the pushed function.
__attribute__((noinline)) uint32_t open_branching(const Cell* fn_in, uint32_t d, const Cell* code,
                                                  uint32_t index, uint32_t end, const Cell* name,
                                                  Cell** base_out) {
  bool either = fn_in->w1 == natives::ID_EITHER;
  uint32_t blocks = either ? 2 : 1;
  code_view view(code);
  end = view.end(end);
  depth_guard();
  Cell* base = stack::push(*fn_in);
  *base_out = base;
  stack::open_eval_native_frame(name);
  if (index >= end) no_arg(base, name, 0);
  if (uint32_t after = quick_expression(view, index, end, false, stack::top)) {
    stack::push_new();
    index = after;
  } else {
    index = eval_lean(code, index, end, false, true);
    if (stack::pending()) return index;
    view.refresh();
    end = view.end(end);
  }
  if (TYPE_OF(stack::top - 1) != TYPE_LOGIC || !(d & DESC_LOGIC_FIRST))
    check_argument(base, d, name, 0);
  if (index + blocks <= end && TYPE_OF(view.at(index)) == TYPE_BLOCK &&
      (!either || TYPE_OF(view.at(index + 1)) == TYPE_BLOCK)) {
    stack::push(view.at(index));
    if (either) stack::push(view.at(index + 1));
    index += blocks;
  } else {
    index = fetch_lean(base, d, code, index, end, name, 1, false);
    if (stack::pending()) return index;
  }
  if (either && TYPE_OF(stack::arguments) == TYPE_UNSET)
    fire(err::SCRIPT, err::script::NO_RETURN);
  return index;
}

// call_lean_kept for `either` and `if`: the branches, when the code holds
// them as blocks (the commonest case by far), are taken straight into the
// frame with no argument loop, and the chosen one runs from here. A
// condition that is a simple expression giving a logic! is computed before
// the frame opens, since nothing in it can fail or be seen; then a chosen
// branch of one value that needs no evaluation (a leaf of a recursion,
// mostly), or an `if` whose condition fails, needs no frame at all.
template <bool INLINE_BLOCK>
inline __attribute__((always_inline)) uint32_t call_branching_as(const Cell* fn_in,
                                                                 const Cell* code,
                                                                 uint32_t index, uint32_t end,
                                                                 const Cell* name) {
  uint32_t d = descriptor_of(fn_in);
  bool either = fn_in->w1 == natives::ID_EITHER;
  uint32_t blocks = either ? 2 : 1;
  code_view view(code);
  end = view.end(end);
  Cell cond;
  uint32_t after = 0;
  if (index < end && (d & DESC_LOGIC_FIRST) && !trace::on)
    after = quick_expression(view, index, end, false, &cond);
  Cell* base;
  if (after && TYPE_OF(&cond) == TYPE_LOGIC && after + blocks <= end &&
      TYPE_OF(view.at(after)) == TYPE_BLOCK &&
      (!either || TYPE_OF(view.at(after + 1)) == TYPE_BLOCK)) {
    bool falsy = logic::falsy(&cond);
    if (!either && falsy) {
      stack::push(none_value);
      return after + blocks;
    }
    const Cell* branch = view.at(either && falsy ? after + 1 : after);
    series_buffer* b = GET_BUFFER(branch);
    if (b->used() / sizeof(Cell) == branch->w1 + 1) {
      if (const Cell* v = simple_value(code_view(branch), cell_head(b) + branch->w1)) {
        stack::push(v);
        return after + blocks;
      }
    }
    depth_guard();
    base = open_branch_frame(fn_in, name, cond, view.at(after), either);
    index = after + blocks;
  } else {
    index = open_branching(fn_in, d, code, index, end, name, &base);
    if (stack::pending()) return index;
  }
  Cell* args = stack::arguments;
  if (!either && logic::falsy(args)) {
    *args = none_value;
    stack::top = args + 1;
  } else {
    run_branch<INLINE_BLOCK>(either && logic::falsy(args) ? &args[2] : &args[1]);
    if (stack::pending()) return index;
  }
  stack::pop_frame();
  *base = base[1];
  stack::top = base + 1;
  return index;
}

__attribute__((noinline)) uint32_t call_branching(const Cell* fn_in, const Cell* code,
                                                  uint32_t index, uint32_t end,
                                                  const Cell* name) {
  return call_branching_as(fn_in, code, index, end, name);
}

// The end of a body run in its call's frame (run_body_framed, body_branch):
// on an ordinary way out the frame's pop puts the context's values back;
// an exit passing through the call, or tracing switched on inside the
// body, needs them put back here, and still hears the epilog and return.
inline __attribute__((always_inline)) void end_framed_body(const Cell* fn, const Cell* body,
                                                           const Cell* name,
                                                           node_t ctx, stack::call_frame* frame,
                                                           uint32_t saved_values) {
  if (trace::on || stack::pending()) [[unlikely]] {
    bool raised = trace::on && trace::fire(trace::EV_EPILOG, body, -1, name, fn);
    context::record(ctx)->w2 = saved_values;
    frame->header &= ~stack::FRAME_RETURN_TARGET;
    if (raised) return;
    if (trace::on && trace::fire(trace::EV_RETURN, nullptr, -1, name, stack::arguments)) return;
  }
  take_return(frame);
}

// The rest of a body (`body_in`) that leads with `either` or `if` whose
// condition, `cond`, was computed in place by run_body_lean and whose
// branches are the blocks at `after` in the body (`branches`, read by
// run_body_lean with nothing evaluated since): its frame, its branch and
// what follows in the body, as run_body_framed runs them, with the same
// frames, the same `current` and the same ways out. Tracing is off, and the
// chosen branch is known not to be one value needing no evaluation, so it
// runs as a block at once.
__attribute__((noinline)) void body_branch(const Cell* fn, const Cell* name, const Cell* body_in,
                                           const Cell* lead, const Cell* lead_value,
                                           const Cell& cond, const Cell* branches,
                                           uint32_t after) {
  stack::call_frame* frame = stack::top_frame();
  node_t ctx = fn->w1;
  context::record(ctx)->w2 = stack::encode_values(stack::arguments);
  uint32_t saved_values = frame->saved_values;
  frame->header |= stack::FRAME_RETURN_TARGET;
  Cell body = *body_in;
  Cell word = *lead;
  bool either = lead_value->w1 == natives::ID_EITHER;
  uint32_t end = after + (either ? 2 : 1);
  Cell saved = current;
  current = body;
  // The call's depth guard covers its body and the branch it runs.
  Cell* base = open_branch_frame(lead_value, &word, cond, branches, either);
  Cell* args = stack::arguments;
  Cell branch = either && logic::falsy(args) ? args[2] : args[1];
  run_branch_block_as(&branch);
  if (!stack::pending()) [[likely]] {
    stack::pop_frame();
    *base = base[1];
    stack::top = base + 1;
    // The body ends with the branches: one that grew is read no further
    // than its end when it began, as every block is. Tracing begun in the
    // branch still hears the body's exit.
    if (trace::on) [[unlikely]]
      paren_rest(&body, end, code_end(&body, end), base, saved);
  }
  current = saved;
  if (!stack::pending()) {
    Cell result = *base;
    place_result(&result, false);
  }
  end_framed_body(fn, &body, name, ctx, frame, saved_values);
}

// The body of an untraced call by call_lean, its frame open and its
// arguments in place, begun in the caller's routine. A body whose value
// needs nothing that can fail or be seen, being one simple expression, or a
// leading `either` or `if` with a simple logic! condition whose chosen
// branch is one value needing no evaluation (the leaf of a recursion,
// mostly), gives its value here: no C++ call, no frame but the function's.
// A leading `either` or `if` that must run its branch goes on in
// body_branch with what was found; any other body in run_body_framed. The
// steps taken are those run_lean and call_branching_as take, in their
// order.
inline __attribute__((always_inline)) void run_body_lean(const Cell* fn, const Cell* name) {
  const Cell* body = cells_of(memory::buffer(fn->w3)) + function::MORE_BODY;
  if (TYPE_OF(body) == TYPE_BLOCK) {
    // The function's own words (its arguments, mostly) are read straight
    // from the frame that now holds its context's values.
    context_cache own{fn->w1, stack::arguments};
    body_view view(body, own);
    uint32_t index = body->w1, end = view.count;
    if (index < end) {
      // Until the body evaluates anything, its context's words are read
      // through the view alone, so the context is pointed at the frame only
      // on the ways that go on to evaluate (body_branch, run_body_framed).
      if (end - index == 1 || end - index == 3) {
        // Computed in the cell at the top, as run_lean does.
        Cell* v = stack::top;
        if (quick_expression(view, index, end, false, v) == end) {
          place_result(v, false);
          return;
        }
      } else if (const Cell* at = view.at(index); TYPE_OF(at) == TYPE_WORD) {
        const Cell* lead = view.value_of(at);
        if (lead && branching(lead)) {
          uint32_t d = descriptor_of(lead);
          bool either = lead->w1 == natives::ID_EITHER;
          uint32_t blocks = either ? 2 : 1;
          Cell cond;
          uint32_t after = 0;
          if (d & DESC_LOGIC_FIRST) after = quick_expression(view, index + 1, end, false, &cond);
          if (after && TYPE_OF(&cond) == TYPE_LOGIC && after + blocks == end &&
              TYPE_OF(view.at(after)) == TYPE_BLOCK &&
              (!either || TYPE_OF(view.at(after + 1)) == TYPE_BLOCK)) {
            bool falsy = logic::falsy(&cond);
            if (!either && falsy) {
              place_result(&none_value, false);
              return;
            }
            const Cell* branch = view.at(either && falsy ? after + 1 : after);
            series_buffer* b = GET_BUFFER(branch);
            if (b->used() / sizeof(Cell) == branch->w1 + 1) {
              if (const Cell* v = simple_value(body_view(branch, own), cell_head(b) + branch->w1)) {
                place_result(v, false);
                return;
              }
            }
            body_branch(fn, name, body, at, lead, cond, view.at(after), after);
            return;
          }
        }
      }
    }
  }
  run_body_framed(fn, name);
}

// call_lean_kept for a descriptor that is not plain (0: no spec cache yet).
__attribute__((noinline)) uint32_t call_other(const Cell* fn_in, const Cell* code,
                                              uint32_t index, uint32_t end, const Cell* name,
                                              uint32_t d) {
  if (d & DESC_BRANCHING) return call_branching(fn_in, code, index, end, name);
  if (refined_call(d) && call_refined(fn_in, code, index, end, nullptr, name)) return index;
  Cell fn = *fn_in;
  return call_any_function(&fn, code, index, end, true, nullptr, name, nullptr, 0, false);
}

// call_lean, with the call's value pushed. A call that is not plain goes
// its own way before anything else is done. VIEWED: `view` holds the code's
// cells, read with nothing evaluated since (else they are read here).
template <bool QUICK_BODY, bool VIEWED = false>
inline __attribute__((always_inline)) uint32_t call_lean_from(const Cell* fn_in,
                                                              const Cell* code,
                                                              code_view view, uint32_t index,
                                                              uint32_t end, const Cell* name) {
  uint32_t d = built_descriptor(fn_in);
  if (!(d & DESC_PLAIN)) [[unlikely]] {
    // `either` and `if`, the commonest, go to their path at once.
    if (d & DESC_BRANCHING) return call_branching(fn_in, code, index, end, name);
    return call_other(fn_in, code, index, end, name, d);
  }
  Cell fn = *fn_in;
  depth_guard();
  // The function value stays on the stack below its frame while it runs.
  Cell* base = stack::push(fn);
  open_call_frame(&fn, name);
  if (!VIEWED) view = code_view(code);
  index = fetch_lean_in(view, &fn, d, index, end, name, 0, false);
  if (stack::pending()) return index;
  invoke<QUICK_BODY>(&fn, d, name);
  if (stack::pending()) return index;
  pop_call_frame(&fn);
  *base = base[1];
  stack::top = base + 1;
  return index;
}
template <bool QUICK_BODY>
inline __attribute__((always_inline)) uint32_t call_lean_kept_as(const Cell* fn_in,
                                                                 const Cell* code,
                                                                 uint32_t index, uint32_t end,
                                                                 const Cell* name) {
  return call_lean_from<QUICK_BODY>(fn_in, code, code_view(), index, end, name);
}
template <bool QUICK_BODY>
inline __attribute__((always_inline)) uint32_t call_lean_viewed(const Cell* fn_in,
                                                                code_view view, uint32_t index,
                                                                uint32_t end, const Cell* name) {
  return call_lean_from<QUICK_BODY, true>(fn_in, view.code, view, index, end, name);
}
uint32_t call_lean_kept(const Cell* fn_in, const Cell* code, uint32_t index, uint32_t end,
                        const Cell* name) {
  return call_lean_kept_as(fn_in, code, index, end, name);
}

// A float! and a float! or integer! under + - *: the action's own IEEE
// operation on the integer made a double, its result a float!.
inline bool float_op(uint32_t kind, Cell* left, const Cell* right) {
  auto value = [](const Cell* c) {
    return TYPE_OF(c) == TYPE_INTEGER ? double(get_integer(c)) : get_float(c);
  };
  double a = value(left), b = value(right), r;
  switch (kind) {
    case Q_ADD: r = a + b; break;
    case Q_SUB: r = a - b; break;
    case Q_MUL: r = a * b; break;
    default: return false;
  }
  // One store, as integer_op's: the header's other bits and w1 stay.
  uint64_t low;
  std::memcpy(&low, left, sizeof low);
  store_halves(left, (low & ~uint64_t(TYPE_MASK)) | TYPE_FLOAT, std::bit_cast<uint64_t>(r));
  return true;
}

// Computes `left op right` in place, `kind` being the operator's quick
// kind, when both operands allow it.
inline bool quick_op(uint32_t kind, Cell* left, const Cell* right) {
  uint32_t lt = TYPE_OF(left), rt = TYPE_OF(right);
  if (lt == TYPE_INTEGER && rt == TYPE_INTEGER)
    return integer_op(kind, get_integer(left), get_integer(right), left);
  if ((lt == TYPE_FLOAT || lt == TYPE_INTEGER) && (rt == TYPE_FLOAT || rt == TYPE_INTEGER))
    return float_op(kind, left, right);
  return false;
}

// The operator `op_cell` (named by `name`) applied to the value in `left`,
// the cell below the stack top, with its right operand from the code at
// `index`; the result lands in `left`, the stack top just above it.
// call_infix is its out-of-line copy; infix_tail's, with INLINE_CALL, takes
// a right operand that is a call in place.
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) uint32_t call_infix_as(const Cell* op_cell,
                                                             code_view& view, uint32_t index,
                                                             uint32_t end, const Cell* name) {
  const Cell* code = view.code;
  Cell* left = stack::top - 1;
  // The function the op! wraps, and its quick kind, read before the right
  // operand may move the op!.
  Cell fn = *op_cell;
  uint32_t kind = quick_kind_of(&fn);
  fn.header = (fn.header >> OP_TYPE_SHIFT) & 0xFF;
  // Nothing here allocates, so `view` stays current.
  uint32_t d = built_descriptor(&fn);
  if (!(d & DESC_PLAIN) || (d & DESC_ARITY_MASK) != 2)
    return call_any_function(&fn, code, index, end, true, nullptr, name, nullptr, 0, true);
  depth_guard();
  // The frame opens at the left operand, which becomes the first argument.
  stack::top = left;
  open_call_frame(&fn, name);
  stack::top = left + 1;
  check_argument(&fn, d, name, 0);
  index = fetch_lean_in<INLINE_CALL>(view, &fn, d, index, end, name, 1, true);
  if (stack::pending()) return index;
  if (!quick_op(kind, left, left + 1)) {
    invoke(&fn, d, name);
    if (stack::pending()) return index;
  }
  pop_call_frame(&fn);
  return index;
}
__attribute__((noinline)) uint32_t call_infix(const Cell* op_cell, const Cell* code,
                                              uint32_t index, uint32_t end, const Cell* name) {
  code_view view(code);
  return call_infix_as(op_cell, view, index, end, name);
}

// The slot a set-word writes directly (no object to tell), else nullptr:
// the general setter handles objects and unbound words.
inline Cell* direct_slot(const Cell* word) {
  if (!word->w1 || word->w3 == context::NO_INDEX) return nullptr;
  const Cell* record = context::record(word->w1);
  uint32_t kind = (record->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
  if (kind == CONTEXT_OBJECT) return nullptr;
  Cell* vals = values_of(word->w1);
  return vals ? vals + word->w3 : nullptr;
}

// A set-word at `index` whose value is a simple expression, assigned with
// no frame: nothing in it can fail or be seen. Returns the index after the
// expression, with its value in `out`; 0 when the general route must run.
template <typename View>
inline __attribute__((always_inline)) uint32_t quick_assignment_in(const View& view,
                                                                   uint32_t index, uint32_t end,
                                                                   Cell* out) {
  const Cell* word = view.at(index);
  Cell* slot = nullptr;
  uint32_t after;
  if constexpr (std::is_same_v<View, cached_view>) {
    if (word->w1 == view.ctx && word->w3 != context::NO_INDEX) {
      slot = view.vals + word->w3;
    } else if (index + 1 < end && (slot = direct_slot(word))) {
      view.ctx = word->w1;
      view.vals = slot - word->w3;
    }
  } else if (index + 1 < end) {
    slot = direct_slot(word);
  }
  if (!slot || index + 1 >= end) {
    partial_stop = 0;
    return 0;
  }
  // A copy the compiler keeps in registers: stores to cells cannot touch it.
  View local = view;
  after = quick_expression<true>(local, index + 1, end, false, out);
  if constexpr (std::is_same_v<View, cached_view>) {
    view.ctx = local.ctx;
    view.vals = local.vals;
  }
  if (!after) return 0;
  *slot = *out;
  return after;
}
inline uint32_t quick_assignment(const code_view& view, uint32_t index, uint32_t end, Cell* out) {
  return quick_assignment_in(view, index, end, out);
}

inline void set_word(Cell* word, const Cell* value) {
  if (Cell* slot = direct_slot(word)) *slot = *value;
  else word::set(word, value);
}

// A word's value: through its cached slot, else the general lookup (which
// raises for an unbound word).
inline const Cell* word_value(const Cell* w) {
  const Cell* v = global_first_value(w);
  return v ? v : context::get(w);
}

// A word: its value, or a call of the function it holds. LEAN is the
// untraced path, which reads its code through `view` (refreshed after a
// call); the other calls through the general routine.
template <bool LEAN>
inline __attribute__((always_inline)) uint32_t eval_word(const Cell* code, const Cell* word,
                                                         uint32_t next, uint32_t end, bool keep,
                                                         code_view* view) {
  const Cell* v = word_value(word);
  uint32_t t = TYPE_OF(v);
  if (is_function_type(t)) {
    if (LEAN) {
      next = call_lean(v, code, next, end, keep, word);
      view->refresh();
      return next;
    }
    Cell fn = *v;
    return call_any_function(&fn, code, next, end, keep, nullptr, word, nullptr, 0, false);
  }
  if (t == TYPE_UNSET) fire(err::SCRIPT, err::script::NO_VALUE, word);
  if (t == TYPE_OP) fire(err::SCRIPT, err::script::NO_OP_ARG, word);
  place_result(v, keep);
  return next;
}

// A paren: its block evaluated in a frame of its own, the result placed as
// keep asks; false when an exit is pending.
// The lean path opens no frame: both anonymous frames (the paren's and its
// block's) are never named, and the value lands where keep asks.
template <bool LEAN>
inline __attribute__((always_inline)) bool eval_paren(const Cell* paren, bool keep,
                                                     Cell* start_top) {
  Cell block = *paren;
  if (LEAN) {
    run_paren(&block, keep);
    return !stack::pending();
  }
  stack::open_eval_native_frame(&words::body_marker_word);
  eval_block(&block, true);
  if (stack::pending()) return false;
  Cell r = *stack::arguments;
  stack::pop_frame();
  stack::top = start_top;
  place_result(&r, keep);
  return true;
}

// A set-word: the next expression, evaluated in a frame named by the word,
// assigned to it. LEAN is the untraced path; the other fires `set`. A
// simple part of the expression already taken by quick_assignment (up to
// the operator at `stop`, its value `partial`) is not taken again.
template <bool LEAN>
inline __attribute__((always_inline)) uint32_t eval_set_word(const Cell* code,
                                                             const Cell* word_in, uint32_t next,
                                                             uint32_t end, bool keep,
                                                             Cell* start_top,
                                                             bool try_quick = true,
                                                             uint32_t stop = 0,
                                                             const Cell* partial = nullptr) {
  Cell word = *word_in;
  end = code_end(code, end);
  Cell v;
  if (LEAN && try_quick) {
    if (uint32_t after = quick_assignment(code_view(code), next - 1, end, &v)) {
      place_result(&v, keep);
      return after;
    }
    stop = partial_stop;
    partial = &v;
  }
  stack::open_eval_native_frame(&word);
  stack::push(word);
  if (next >= end) fire(err::SCRIPT, err::script::NEED_VALUE, &word);
  if (LEAN && stop) {
    Cell* left = stack::push(*partial);
    next = infix_tail(code, stop, end, true, left);
  } else {
    next = LEAN ? eval_lean(code, next, end, false, true)
                : eval_expression(code, next, end, false, true, false);
  }
  if (stack::pending()) return next;
  v = stack::arguments[1];
  if (!LEAN && trace::on && trace::fire(trace::EV_SET, code, int32_t(next), &word, &v))
    return next;
  if (TYPE_OF(&v) == TYPE_UNSET) fire(err::SCRIPT, err::script::NEED_VALUE, &word);
  set_word(&stack::arguments[0], &v);
  stack::pop_frame();
  stack::top = start_top;
  place_result(&v, keep);
  return next;
}

// A statement that starts with a set-word whose value is not simple, after
// quick_assignment took what it could (`partial`, up to partial_stop).
__attribute__((noinline)) uint32_t assignment(const Cell* code, uint32_t index, uint32_t end,
                                              bool keep, const Cell* partial) {
  Cell word = *code_at(code, index);
  return eval_set_word<true>(code, &word, index + 1, end, keep, stack::top, false, partial_stop,
                             partial);
}

// Infix operators after the value at `start_top` (keep) or in the result
// slot: they group from the left, each taking the value so far. With
// INLINE_CALL an operator's call is made in place (infix_tail, itself out
// of line, saves a C++ level so); elsewhere it would weigh on the caller.
template <bool INLINE_CALL = false>
inline __attribute__((always_inline)) uint32_t infix_loop(code_view& view, uint32_t next,
                                                          uint32_t end, bool keep,
                                                          Cell* start_top) {
  while (true) {
    end = view.end(end);
    if (next >= end) break;
    const Cell* w = view.at(next);
    if (TYPE_OF(w) != TYPE_WORD) break;
    const Cell* v = global_first_value(w);
    if (!v || TYPE_OF(v) != TYPE_OP) break;
    Cell* left = keep ? start_top : stack::arguments;
    if (literal_op(v, left, view, next + 1, end)) {
      next += 2;
      continue;
    }
    Cell name = *w;
    stack::top = left + 1;
    next = INLINE_CALL ? call_infix_as<true>(v, view, next + 1, end, &name)
                       : call_infix(v, view.code, next + 1, end, &name);
    if (stack::pending()) return next;
    view.refresh();
  }
  return next;
}

// One expression of the lean path: the value at `index`, then the infix
// loop unless `no_infix`. keep: push the result, else write it to the
// result slot with the top just above.
uint32_t eval_lean(const Cell* code, uint32_t index, uint32_t end, bool no_infix, bool keep) {
  Cell* start_top = stack::top;
  code_view view(code);
  Cell value = *view.at(index);
  uint32_t next = index + 1;
  uint32_t type = TYPE_OF(&value);
  if (SELF_EVALUATING[type]) {
    place_result(&value, keep);
    goto infix;
  }
  switch (type) {
    case TYPE_WORD:
      next = eval_word<true>(code, &value, next, end, keep, &view);
      if (stack::pending()) return next;
      break;
    case TYPE_SET_WORD:
      next = eval_set_word<true>(code, &value, next, end, keep, start_top);
      if (stack::pending()) return next;
      view.refresh();
      break;
    case TYPE_GET_WORD:
      place_result(word_value(&value), keep);
      break;
    case TYPE_LIT_WORD:
      value.header = TYPE_WORD;
      place_result(&value, keep);
      break;
    case TYPE_PAREN:
      if (!eval_paren<true>(&value, keep, start_top)) return next;
      view.refresh();
      break;
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      next = call_lean(&value, code, next, end, keep, &words::anon_marker_word);
      if (stack::pending()) return next;
      view.refresh();
      break;
    case TYPE_PATH:
      next = eval_path(&value, code, next, end, false, false, keep, false);
      if (stack::pending()) return next;
      view.refresh();
      break;
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
    case TYPE_LIT_PATH:
    case TYPE_OP:
    case TYPE_ISSUE:
      next = eval_value(code, &value, index, next, end, keep, false, start_top);
      if (stack::pending()) return next;
      view.refresh();
      break;
    default:
      place_result(&value, keep);
      break;
  }
infix:
  if (no_infix) return next;
  return infix_loop(view, next, end, keep, start_top);
}

// The infix loop after an expression that direct_expression took.
__attribute__((noinline)) uint32_t infix_tail(const Cell* code, uint32_t next, uint32_t end,
                                              bool keep, Cell* start_top) {
  code_view view(code);
  return infix_loop<true>(view, next, end, keep, start_top);
}

// The commonest statements, a call by a word and a paren, taken without
// entering eval_lean: the same steps in the same order, with the infix loop
// entered only when a word follows. 0 for any other expression, which the
// caller gives to eval_lean. Unless an exit is pending, `end` is read
// again once the statement is done (it may have changed its own block).
// INLINE runs a paren in place (see lead_call).
template <bool INLINE = false>
inline __attribute__((always_inline)) uint32_t direct_expression(const Cell* code,
                                                                 uint32_t index, uint32_t& end,
                                                                 bool keep) {
  const Cell* at = code_at(code, index);
  Cell* start_top = stack::top;
  uint32_t next = index + 1;
  if (TYPE_OF(at) == TYPE_WORD) {
    const Cell* v = global_first_value(at);
    if (!v) return 0;
    uint32_t t = TYPE_OF(v);
    if (is_function_type(t)) {
      Cell word = *at;
      next = call_lean(v, code, next, end, keep, &word);
    } else if (t == TYPE_UNSET || t == TYPE_OP) {
      return 0;  // eval_lean raises
    } else {
      place_result(v, keep);
    }
  } else if (TYPE_OF(at) == TYPE_PAREN) {
    Cell block = *at;
    if (!INLINE) run_paren(&block, keep);
    else if (!paren_call<true>(&block, keep)) run_block(&block, keep);
  } else {
    return 0;
  }
  if (stack::pending()) return next;
  end = code_end(code, end);
  if (next >= end || TYPE_OF(code_at(code, next)) != TYPE_WORD) return next;
  next = infix_tail(code, next, end, keep, start_top);
  end = code_end(code, end);
  return next;
}

}  // namespace

uint32_t quick_kind(uint32_t wrapped, uint32_t id) {
  static_assert(Q_GE <= 0xF, "an op!'s header keeps its quick kind in four bits");
  if (id >= 128) return Q_NONE;
  if (wrapped == TYPE_ACTION) return QUICK_KIND[id];
  if (wrapped == TYPE_NATIVE) return QUICK_KIND[128 + id];
  return Q_NONE;
}

void init() {
  current = make_unset();
  tracer = make_unset();
  context::keep(&tracer);
}

namespace {

// The statements of `code` from `index` to its end, the loop every block
// runs. Each value lands at `base`: in its frame (IN_FRAME) that is the
// frame's result slot, else the first cell above the caller's, pushed
// there. The block's end is read again after each statement, which may
// change its own block. False when a non-local exit is pending. HOLD_VIEW
// (loop bodies) keeps the block's cells across the statements that
// evaluate nothing, simple assignments, where the others read them again;
// in every other block the view costs more than it saves. Its context
// comes from `cache` and goes back there when the block ends with such a
// statement; any other way out leaves the cache empty.
template <bool IN_FRAME, bool HOLD_VIEW = false, bool INLINE = false>
inline __attribute__((always_inline)) bool run_statements(const Cell* code, uint32_t index,
                                                          uint32_t end, Cell* base,
                                                          context_cache* cache = nullptr) {
  constexpr bool keep = !IN_FRAME;
  current = *code;
  cached_view view;
  if (HOLD_VIEW) {
    view = cached_view(code, *cache);
    cache->ctx = NO_CONTEXT;
  }
  while (true) {
    current.w1 = index;
    Cell v;
    uint32_t after;
    if (trace::on) {
      index = walk_expression(code, index, end, false, keep, false);
    } else if (TYPE_OF(HOLD_VIEW ? view.at(index) : code_at(code, index)) == TYPE_SET_WORD) {
      // The commonest statement, a simple one taken here without a call.
      after = HOLD_VIEW ? quick_assignment_in(view, index, end, &v)
                        : quick_assignment(code_view(code), index, end, &v);
      if (after) {
        if (HOLD_VIEW) {
          // Nothing was evaluated: the block, its end and the view hold,
          // and only the last statement's value is kept.
          if (after >= end) {
            place_result(&v, keep);
            view.keep_in(cache);
            return true;
          }
          index = after;
          continue;
        }
        place_result(&v, keep);
        index = after;
      } else {
        index = assignment(code, index, end, keep, &v);
      }
    } else if ((after = direct_expression<INLINE>(code, index, end, keep))) {
      // Its end is read already.
      if (stack::pending()) return false;
      if (after >= end) return true;
      if (HOLD_VIEW) view.refresh();
      index = after;
      stack::top = base;
      continue;
    } else {
      index = eval_lean(code, index, end, false, keep);
    }
    if (stack::pending()) return false;
    if (HOLD_VIEW) {
      view.refresh();
      end = view.end(end);
    } else {
      end = code_end(code, end);
    }
    if (index >= end) return true;
    stack::top = base;
  }
}

// The rest of a block after its first call (lead_call): the infix loop
// after the call, the statements after it, and, when tracing began inside,
// the exit event, with `current` back at `saved` as run_lean has it. The
// block's value ends at `base`.
__attribute__((noinline)) void paren_rest(const Cell* code, uint32_t next, uint32_t end,
                                          Cell* base, const Cell& saved) {
  if (next < end && TYPE_OF(code_at(code, next)) == TYPE_WORD) {
    next = infix_tail(code, next, end, true, base);
    if (stack::pending()) return;
    end = code_end(code, end);
  }
  if (next < end) {
    stack::top = base;
    if (!run_statements<false>(code, next, end, base)) return;
  }
  if (trace::on) {
    current = saved;
    trace::fire(trace::EV_EXIT, code, int32_t(end), nullptr, base);
  }
}

// The untraced run of a block in the caller's frame, as run_block makes it,
// after its depth guard: `saved` is the position put back on the way out.
// LEAD_CALL (function bodies) gives a block that starts with a call to
// lead_call, unless it is one simple expression. INLINE runs the commonest
// statements in place (see direct_expression).
template <bool HOLD_VIEW = false, bool LEAD_CALL = false, bool INLINE = false>
inline __attribute__((always_inline)) void run_lean(const Cell* code, bool keep,
                                                    const Cell& saved,
                                                    context_cache* cache = nullptr) {
  Cell* base = stack::top;
  uint32_t index = code->w1;
  uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
  if (index >= end) {
    place_result(&unset_value, keep);
    return;
  }
  if (end - index == 1 || end - index == 3) {
    // A block that is one simple expression (a branch's value, a loop's
    // condition, a body giving its argument back) is computed in place.
    // Computed in the cell at the top: the stack keeps top below its
    // limit, so that cell is always there, and nothing here allocates.
    Cell* v = stack::top;
    uint32_t after;
    if constexpr (HOLD_VIEW) {
      // The context kept serves; a new one is looked for only once the
      // block proved to be simple (where it failed, the lookup would cost
      // more than it saves), from its first word.
      after = quick_expression(warm_view(code, *cache), index, end, false, v);
      if (after == end && cache->ctx == NO_CONTEXT) {
        cached_view view(code, *cache);
        if (TYPE_OF(view.at(index)) == TYPE_WORD) view.value_of(view.at(index));
        view.keep_in(cache);
      }
    } else {
      after = quick_expression(code_view(code), index, end, false, v);
    }
    if (after == end) {
      if (keep) stack::push_new();
      else place_result(v, false);
      return;
    }
  } else if (LEAD_CALL && lead_call<true>(code, index, end, code_at(code, index), keep, saved)) {
    return;
  }
  bool done = run_statements<false, HOLD_VIEW, INLINE>(code, index, end, base, cache);
  current = saved;
  if (!done) return;
  if (trace::on && trace::fire(trace::EV_EXIT, code, int32_t(end), nullptr, base)) return;
  // A loop's block starts on its cleared frame: its value already is in
  // the result slot, with the top just above.
  if (!keep && !HOLD_VIEW) {
    Cell result = *base;
    place_result(&result, false);
  }
}

// run_body for an untraced call by call_lean. Its frame was opened with the
// function's context, and popping it (or an error unwinding it) puts the
// context's values back: run_body's guard is needed only on the other ways
// out, an exit passing through the call (break, throw, a return to an outer
// function), or tracing switched on inside the body, which still hears the
// epilog and the return.
__attribute__((noinline)) void run_body_framed(const Cell* fn, const Cell* name) {
  stack::call_frame* frame = stack::top_frame();
  node_t ctx = fn->w1;
  uint32_t saved = frame->saved_values;
  context::record(ctx)->w2 = stack::encode_values(stack::arguments);
  frame->header |= stack::FRAME_RETURN_TARGET;
  Cell body = cells_of(memory::buffer(fn->w3))[function::MORE_BODY];
  if (TYPE_OF(&body) == TYPE_BLOCK) {
    // As run_block runs it: call_lean has tested the depth guard.
    Cell current_saved = current;
    run_lean<false, true>(&body, false, current_saved);
  } else {
    *stack::arguments = unset_value;
  }
  end_framed_body(fn, &body, name, ctx, frame, saved);
}

// An untraced branch of `either` or `if` (see run_branch).
__attribute__((noinline)) void run_branch_block(const Cell* body) {
  Cell saved = current;
  run_lean(body, false, saved);
}
// The same, in a function body (call_branching_as): its statements run in
// place too.
inline __attribute__((always_inline)) void run_branch_block_as(const Cell* body) {
  Cell saved = current;
  run_lean<false, false, true>(body, false, saved);
}

}  // namespace

void eval_block(const Cell* block, bool chain) {
  depth_guard();
  Cell code = *block;
  // The position is put back on every way out but an error: whoever
  // catches one puts back its own.
  Cell saved = current;
  stack::open_block_frame(&words::body_marker_word);
  uint32_t index = code.w1;
  uint32_t end = GET_BUFFER(&code)->used() / sizeof(Cell);
  if (trace::on && trace::fire(trace::EV_ENTER, &code, int32_t(index), nullptr, nullptr)) return;
  if (index >= end) {
    *stack::arguments = unset_value;
    stack::top = stack::arguments + 1;
  } else if (!run_statements<true>(&code, index, end, stack::arguments)) {
    current = saved;
    return;
  }
  current = saved;
  if (trace::on && trace::fire(trace::EV_EXIT, &code, int32_t(end), nullptr, stack::arguments))
    return;
  if (chain) stack::pop_frame_return();
  else stack::pop_frame();
}

void run_block(const Cell* block, bool keep) {
  if (trace::on) {
    // Traced, every block has its frame and its enter and exit events.
    eval_block(block, !keep);
    return;
  }
  depth_guard();
  Cell code = *block;
  Cell saved = current;  // as in eval_block
  run_lean(&code, keep, saved);
}

namespace {

// One run of a loop's block in its frame, as run_block runs it with keep
// false; the statements that evaluate nothing keep the block's cells, and
// the context in `cache`.
inline __attribute__((always_inline)) void run_loop_block(const Cell* code,
                                                          context_cache* cache) {
  stack::clear_frame();
  if (trace::on) {
    cache->ctx = NO_CONTEXT;
    run_block(code, false);
  } else {
    Cell saved = current;
    run_lean<true>(code, false, saved, cache);
  }
}

}  // namespace

namespace {

// run_loop, where PLAIN (a loop with neither step, condition, until test
// nor after step) leaves out their tests.
template <bool PLAIN>
uint32_t run_loop_as(const Cell* body, stack::call_frame* loop, int32_t count,
                     const Cell* condition, loop_step step, void* state, bool until,
                     loop_step after) {
  if constexpr (PLAIN) {
    condition = nullptr;
    step = nullptr;
    until = false;
    after = nullptr;
  }
  Cell code = *body;
  Cell test = condition ? *condition : none_value;
  depth_guard();
  context_cache cache;
  for (int32_t i = 0; count < 0 || i < count; i++) {
    if (step) {
      if (!step(state)) return 0;
      cache.ctx = NO_CONTEXT;
    }
    // The condition, then the body, through one copy of the block's run.
    const Cell* block = condition ? &test : &code;
    while (true) {
      run_loop_block(block, &cache);
      if (block == &code) break;
      if (stack::pending()) {
        if (stack::take_exit(loop, RAISE_CONTINUE, RAISE_BREAK))
          fire(err::THROW, err::throw_::WHILE_COND);
        return 1;
      }
      if (!logic::true_q()) return 0;
      block = &code;
    }
    if (stack::pending()) {
      uint32_t taken = stack::take_exit(loop, RAISE_CONTINUE, RAISE_BREAK);
      if (taken == RAISE_CONTINUE) continue;
      return taken == RAISE_BREAK ? uint32_t(RAISE_BREAK) : 1;
    }
    if (until && logic::true_q()) return 0;
    if (after) {
      if (!after(state)) return 0;
      cache.ctx = NO_CONTEXT;
    }
  }
  return 0;
}

}  // namespace

uint32_t run_loop(const Cell* body, stack::call_frame* loop, int32_t count, const Cell* condition,
                  loop_step step, void* state, bool until, loop_step after) {
  if (!condition && !step && !until && !after)
    return run_loop_as<true>(body, loop, count, nullptr, nullptr, nullptr, false, nullptr);
  return run_loop_as<false>(body, loop, count, condition, step, state, until, after);
}

uint32_t eval_next(const Cell* block, uint32_t index, uint32_t end, bool keep) {
  Cell code = *block;
  // Untraced, a value kept on the stack is computed in the caller's frame:
  // the frame opened below would be anonymous, its cell unused, and its
  // pop would leave the value where eval_lean pushes it.
  if (keep && !trace::on) return eval_lean(&code, index, end, false, true);
  stack::open_eval_native_frame(&words::body_marker_word);
  index = eval_expression(&code, index, end, false, false, false);
  if (stack::pending()) return index;
  if (keep) stack::pop_frame();
  else stack::pop_frame_return();
  return index;
}

uint32_t simple_expressions(const Cell* block, uint32_t& index, uint32_t end, Cell* out,
                            uint32_t room) {
  if (trace::on) return 0;
  // Nothing is evaluated: the block's cells and a context found hold.
  cached_view view(block, context_cache{});
  end = view.end(end);
  uint32_t n = 0;
  while (n < room && index < end) {
    uint32_t after = quick_expression(view, index, end, false, out + n);
    if (!after) break;
    index = after;
    n++;
  }
  return n;
}

uint32_t eval_single(const Cell* block) {
  Cell code = *block;
  uint32_t end = GET_BUFFER(&code)->used() / sizeof(Cell);
  if (code.w1 >= end) {
    *stack::arguments = unset_value;
    return code.w1;
  }
  return eval_next(&code, code.w1, end, false);
}

uint32_t eval_expression(const Cell* code_in, uint32_t index, uint32_t end, bool no_infix,
                         bool keep, bool literal_functions) {
  if (!trace::on && !literal_functions) [[likely]] {
    Cell code = *code_in;
    return eval_lean(&code, index, end, no_infix, keep);
  }
  return walk_expression(code_in, index, end, no_infix, keep, literal_functions);
}

namespace {

// The general and traced walk of one expression: every trace event fires
// here, and a function value met with `literal_functions` is a value.
uint32_t walk_expression(const Cell* code_in, uint32_t index, uint32_t end, bool no_infix,
                         bool keep, bool literal_functions) {
  // Deep recursion ends in the language's own error, never in a crash.
  if (platform::stack_exhausted()) fire(err::INTERNAL, err::internal::STACK_OVERFLOW);
  Cell code = *code_in;
  Cell* start_top = stack::top;
  Cell value = *code_at(&code, index);
  uint32_t next = index + 1;
  if (trace::on && trace::fire(trace::EV_FETCH, &code, int32_t(index), nullptr, &value))
    return next;
  // An assignment's target is pushed as the assignment opens. What a call,
  // a paren or an assignment gives reaches the tracer through the event
  // that ends it (return, exit, set), not as a push of its own.
  uint32_t vt = TYPE_OF(&value);
  bool assigns = vt == TYPE_SET_WORD || vt == TYPE_SET_PATH;
  if (trace::on && assigns && trace::fire(trace::EV_PUSH, &code, int32_t(index), nullptr, &value))
    return next;
  next = eval_value(&code, &value, index, next, end, keep, literal_functions, start_top);
  if (stack::pending()) return next;
  if (trace::on && !assigns && vt != TYPE_PAREN && trace::last_event != trace::EV_RETURN &&
      trace::fire(trace::EV_PUSH, &code, int32_t(index), nullptr,
                  keep ? stack::top - 1 : stack::arguments))
    return next;

  // Infix operators group from the left: each takes the value so far.
  if (!no_infix) {
    while (true) {
      end = code_end(&code, end);
      if (next >= end) break;
      Cell w = *code_at(&code, next);
      if (TYPE_OF(&w) != TYPE_WORD || !w.w1 || w.w3 == context::NO_INDEX) break;
      Cell* vals = context::values(w.w1);
      if (!vals) break;
      const Cell* v = vals + w.w3;
      if (TYPE_OF(v) != TYPE_OP) break;
      // Copied first: the tracer may move the context's values.
      Cell op = *v;
      if (trace::on && trace::fire(trace::EV_FETCH, &code, int32_t(next), nullptr, &w))
        return next;
      op.header = (op.header >> OP_TYPE_SHIFT) & 0xFF;
      stack::top = keep ? start_top + 1 : stack::arguments + 1;
      next = call_any_function(&op, &code, next + 1, end, keep, nullptr, &w, nullptr, 0, true);
      if (stack::pending()) return next;
    }
  }
  if (trace::on && !keep)
    trace::fire(trace::EV_EXPR, &code, int32_t(next), nullptr, stack::arguments);
  return next;
}

// One value of the code, by its type (the infix loop is the caller's).
uint32_t eval_value(const Cell* code_in, const Cell* value_in, uint32_t index, uint32_t next,
                    uint32_t end, bool keep, bool literal_functions, Cell* start_top) {
  Cell code = *code_in;
  Cell value = *value_in;
  (void)index;
  switch (TYPE_OF(&value)) {
    case TYPE_PAREN:
      eval_paren<false>(&value, keep, start_top);
      break;
    case TYPE_SET_WORD:
      next = eval_set_word<false>(&code, &value, next, end, keep, start_top);
      break;
    case TYPE_SET_PATH: {
      end = code_end(&code, end);
      if (next >= end) fire(err::SCRIPT, err::script::NEED_VALUE, &value);
      Cell set_path_word = words::set_path_word;
      stack::open_eval_native_frame(&set_path_word);
      next = eval_expression(&code, next, end, false, false, false);
      if (stack::pending()) return next;
      if (trace::on && trace::fire(trace::EV_SET, &code, int32_t(next), &value, stack::arguments))
        return next;
      eval_path(&value, &code, next, end, true, false, false, false);
      if (stack::pending()) return next;
      Cell v = *stack::arguments;
      stack::pop_frame();
      stack::top = start_top;
      place_result(&v, keep);
      break;
    }
    case TYPE_GET_WORD:
      place_result(word_value(&value), keep);
      break;
    case TYPE_LIT_WORD:
      value.header = TYPE_WORD;
      place_result(&value, keep);
      break;
    case TYPE_WORD:
      next = eval_word<false>(&code, &value, next, end, keep, nullptr);
      break;
    case TYPE_PATH:
      next = eval_path(&value, &code, next, end, false, false, keep, false);
      if (stack::pending()) return next;
      break;
    case TYPE_GET_PATH:
      next = eval_path(&value, &code, next, end, false, true, keep, false);
      if (stack::pending()) return next;
      break;
    case TYPE_LIT_PATH:
      value.header = TYPE_PATH;
      value.w3 = 0;
      place_result(&value, keep);
      break;
    case TYPE_OP:
      fire(err::INTERNAL, err::internal::NOT_DONE);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      if (literal_functions) {
        place_result(&value, keep);
      } else {
        next = call_any_function(&value, &code, next, end, keep, nullptr, nullptr, nullptr, 0,
                                 false);
        if (stack::pending()) return next;
      }
      break;
    case TYPE_ISSUE: {
      uint32_t s = symbol::resolve(value.w2);
      end = code_end(&code, end);
      if ((s == symbol::resolve(words::system) || s == symbol::resolve(words::system_global)) &&
          next < end && TYPE_OF(code_at(&code, next)) == TYPE_BLOCK)
        fire(err::INTERNAL, err::internal::KEZ_SYSTEM);
      place_result(&value, keep);
      break;
    }
    default:
      place_result(&value, keep);
      break;
  }

  return next;
}

}  // namespace

namespace {

// Refined calls and quick paths ----------------------------------------------------
//
// Untraced, a call whose refinements are plain words of its path
// (`find/skip s x 2`), or a plain call of a function! with refinements,
// fetches straight into its frame: the required arguments as fetch_lean
// fetches them, then the refinement cells and locals of a function!, then
// each refinement's arguments in the path's order, with the general path's
// checks, errors and argument numbers. The refinements are looked up in
// the spec cache before anything is evaluated: a get-word or any other
// element, a refinement the spec lacks or that the path names twice send
// the call, untouched, to fetch_arguments, which raises what it meets in
// its order. A routine is called as a function! is, its body a C++
// routine. Lit-word or `return:` required arguments (no descriptor) go
// there as well.
//
// A path read walks objects in place, and takes an event!, block!, map!
// or pair! step through the type's own path action with its cells on the
// stack, as eval_path does. Reading a value changes nothing, so anything
// else met before the first call or assignment (a paren, a field that is
// missing or unset, a type not listed) hands the whole path to eval_path,
// which walks it again from the start and raises what it meets in order.

// A path seldom names more refinements than this; more go the general way.
constexpr int32_t QUICK_REFINEMENTS = 8;

struct refinement_use {
  int32_t at;       // cache position
  int32_t ordinal;  // natives: the refinement's ordinal
  uint32_t slot;    // functions: the frame slot of its cell
};

inline uint32_t arg_kind_of(const Cell* e) { return (e->header >> ARG_KIND_SHIFT) & 3; }

// The refinements named by the words of `refinements` (a path positioned at
// its first refinement), found in the cache as fetcher::find_refinement
// finds them; -1 when the general fetch must take the call.
int32_t plan_refinements(const Cell* cache, bool native, const Cell* refinements,
                         refinement_use* uses) {
  if (!refinements) return 0;
  series_buffer* pb = GET_BUFFER(refinements);
  uint32_t from = refinements->w1, to = pb->used() / sizeof(Cell);
  if (from >= to) return 0;
  if (to - from > uint32_t(QUICK_REFINEMENTS)) return -1;
  series_buffer* cb = GET_BUFFER(cache);
  const Cell* e = cell_head(cb);
  int32_t count = int32_t(cb->used() / sizeof(Cell));
  int32_t n = 0;
  for (uint32_t k = from; k < to; k++) {
    const Cell* el = cell_head(pb) + k;
    if (TYPE_OF(el) != TYPE_WORD) return -1;
    uint32_t sym = el->w2, canon = symbol::resolve(sym);
    int32_t ordinal = 0, at = -1;
    uint32_t slot = 0;
    for (int32_t i = 0; i + 1 < count; i++) {
      if (TYPE_OF(&e[i]) == TYPE_REFINEMENT) {
        ordinal++;
        if (e[i].w2 == sym || symbol::resolve(e[i].w2) == canon) {
          at = i;
          break;
        }
      } else if (arg_kind_of(&e[i]) == ARG_RETURN) {
        continue;
      }
      if (!native) slot++;
    }
    if (at < 0) return -1;
    for (int32_t u = 0; u < n; u++)
      if (uses[u].at == at) return -1;
    uses[n++] = {at, ordinal, slot};
  }
  return n;
}

// The number of the argument at cache position `at`, as the spec counts
// them (fetcher::number_at), for an error.
uint32_t argument_number(const Cell* cache, int32_t at) {
  const Cell* e = cell_head(GET_BUFFER(cache));
  uint32_t n = 0;
  for (int32_t i = 0; i < at; i++)
    if (TYPE_OF(&e[i]) == TYPE_REFINEMENT || arg_kind_of(&e[i]) != ARG_RETURN) n++;
  return n;
}

// Runs a routine whose arguments are in the open frame: its context's
// values are the frame's while it runs, and are put back on every way out.
void run_routine(const Cell* fn) {
  Cell* more = cells_of(memory::buffer(fn->w3));
  uint32_t routine = uint32_t(get_integer(&more[function::MORE_CODE]));
  node_t rctx = fn->w1;
  uint32_t saved = context::record(rctx)->w2;
  context::record(rctx)->w2 = stack::encode_values(stack::arguments);
  struct restore_guard {
    node_t c;
    uint32_t v;
    ~restore_guard() { context::record(c)->w2 = v; }
  } restore{rctx, saved};
  routines::table[routine - 1]();
}

// A lit-word or get-word argument at `index` with no operator after it,
// pushed as eval_lean would give it; false, with nothing done, otherwise.
inline __attribute__((always_inline)) bool take_word_argument(const Cell* code, uint32_t index,
                                                              uint32_t end) {
  const Cell* at = code_at(code, index);
  uint32_t t = TYPE_OF(at);
  if (t != TYPE_LIT_WORD && t != TYPE_GET_WORD) return false;
  if (index + 1 < end) {
    const Cell* next = code_at(code, index + 1);
    if (TYPE_OF(next) == TYPE_WORD) {
      const Cell* op = bound_value(next);
      if (op && TYPE_OF(op) == TYPE_OP) return false;
    }
  }
  Cell w = *at;
  if (t == TYPE_LIT_WORD) {
    w.header = TYPE_WORD;
    stack::push(w);
  } else {
    Cell v = *word_value(&w);
    stack::push(v);
  }
  return true;
}

// The required arguments of a call opened by call_refined or access_any:
// a first argument that take_word_argument takes is checked at once, the
// others are fetched as fetch_lean fetches them.
inline __attribute__((always_inline)) uint32_t fetch_required(const Cell* fn, uint32_t d,
                                                              const Cell* code, uint32_t index,
                                                              uint32_t end, const Cell* name) {
  uint32_t first = 0;
  if ((d & DESC_ARITY_MASK) && !(d & (1u << DESC_GET_SHIFT))) {
    end = code_end(code, end);
    if (index < end && take_word_argument(code, index, end)) {
      index++;
      check_argument(fn, d, name, 0);
      first = 1;
    }
  }
  return fetch_lean(fn, d, code, index, end, name, first, false);
}

int32_t object_slot(node_t ctx, uint32_t sym);

// The value a path of words reaches through objects alone (`face/parent`,
// `face/parent/pane`) when it is a value taken as it is, nothing to call
// and not unset; nullptr otherwise. Reading it changes nothing.
const Cell* object_field(const Cell* path) {
  series_buffer* pb = GET_BUFFER(path);
  uint32_t i = path->w1, len = pb->used() / sizeof(Cell);
  if (i + 2 > len) return nullptr;
  const Cell* el = cell_head(pb) + i;
  if (TYPE_OF(el) != TYPE_WORD) return nullptr;
  const Cell* v = bound_value(el);
  while (v && ++i < len) {
    el++;
    if (TYPE_OF(v) != TYPE_OBJECT || TYPE_OF(el) != TYPE_WORD) return nullptr;
    int32_t k = object_slot(v->w1, el->w2);
    if (k < 0) return nullptr;
    v = values_of(v->w1) + k;
  }
  return v && WORD_VALUE_READY[TYPE_OF(v)] ? v : nullptr;
}

// A datatype test (`object? face`, `none? :r`) of a value that needs no
// evaluation (a literal, a word holding a value, a get-word or lit-word of
// a bound word) with no operator after it: its answer pushed without the
// routine's frame, which nothing could observe, as nothing can fail or
// call code. False, with nothing done, for any other argument.
inline bool quick_type_test(const Cell* fn, const Cell* code, uint32_t& index, uint32_t end) {
  const Cell* more = cells_of(memory::buffer(fn->w3));
  uint32_t tested = routines::tested_type[uint32_t(get_integer(&more[function::MORE_CODE])) - 1];
  if (!tested) return false;
  end = code_end(code, end);
  if (index >= end) return false;
  const Cell* at = code_at(code, index);
  uint32_t t = TYPE_OF(at);
  if (t == TYPE_WORD) {
    const Cell* v = bound_value(at);
    if (!v || !WORD_VALUE_READY[TYPE_OF(v)]) return false;
    t = TYPE_OF(v);
  } else if (t == TYPE_GET_WORD) {
    const Cell* v = bound_value(at);
    if (!v) return false;
    t = TYPE_OF(v);
  } else if (t == TYPE_LIT_WORD) {
    t = TYPE_WORD;
  } else if (t == TYPE_PATH) {
    const Cell* v = object_field(at);
    if (!v) return false;
    t = TYPE_OF(v);
  } else if (!SELF_EVALUATING[t]) {
    return false;
  }
  if (index + 1 < end) {
    const Cell* next = at + 1;
    if (TYPE_OF(next) == TYPE_WORD) {
      const Cell* op = bound_value(next);
      if (!op || TYPE_OF(op) == TYPE_OP) return false;
    }
  }
  stack::push(make_logic(t + 1 == tested));
  index++;
  return true;
}

// call_refined once the call is known to need its frame.
__attribute__((noinline)) bool call_refined_framed(const Cell* fn_in, const Cell* code,
                                                   uint32_t& index, uint32_t end,
                                                   const Cell* refinements, const Cell* name_in) {
  uint32_t type = TYPE_OF(fn_in);
  const Cell* held = spec_cache_cell(fn_in);
  if (TYPE_OF(held) != TYPE_BLOCK) return false;
  Cell cache = *held;
  uint32_t d = cache.w3;
  bool native = type == TYPE_NATIVE || type == TYPE_ACTION;
  if (!(d & DESC_PLAIN) && (native || !refined_call(d))) return false;
  refinement_use uses[QUICK_REFINEMENTS];
  int32_t n = plan_refinements(&cache, native, refinements, uses);
  if (n < 0) return false;

  Cell fn = *fn_in;
  Cell name = name_in && TYPE_OF(name_in) == TYPE_WORD ? *name_in : words::anon_marker_word;
  depth_guard();
  Cell* base = stack::push(fn);
  if (native) stack::open_eval_native_frame(&name);
  else stack::open_eval_function_frame(&name, fn.w1);
  index = fetch_required(&fn, d, code, index, end, &name);
  if (stack::pending()) return true;
  int32_t refs[32];
  if (native) {
    if (n) std::memcpy(refs, NO_REFINEMENTS, sizeof refs);
  } else {
    // Refinement cells (false) and their arguments (none), then the locals.
    series_buffer* cb = GET_BUFFER(&cache);
    int32_t count = int32_t(cb->used() / sizeof(Cell));
    bool in_refinements = false;
    for (int32_t i = 0; i + 1 < count; i++) {
      const Cell* e = cell_head(GET_BUFFER(&cache)) + i;
      if (TYPE_OF(e) == TYPE_REFINEMENT) {
        in_refinements = true;
        stack::push(false_value);
      } else if (in_refinements && arg_kind_of(e) != ARG_RETURN) {
        stack::push(none_value);
      }
    }
    function::init_locals(get_integer(cell_head(GET_BUFFER(&cache)) + count - 1));
  }
  for (int32_t u = 0; u < n; u++) {
    const refinement_use& use = uses[u];
    if (native) refs[use.ordinal - 1] = int32_t(stack::top - stack::arguments);
    else stack::arguments[use.slot] = true_value;
    uint32_t argpos = use.slot + 1;
    // The cache is read again for each argument: evaluating one can move it.
    for (int32_t i = use.at + 1;; i++) {
      series_buffer* cb = GET_BUFFER(&cache);
      if (uint32_t(i + 1) >= cb->used() / sizeof(Cell)) break;
      Cell e = cell_head(cb)[i];
      if (TYPE_OF(&e) == TYPE_REFINEMENT) break;
      uint32_t kind = arg_kind_of(&e);
      if (kind == ARG_RETURN) continue;
      end = code_end(code, end);
      if (index >= end) {
        if (kind == ARG_LIT && typeset::has(&e, TYPE_UNSET)) stack::push(unset_value);
        else no_arg(&fn, &name, argument_number(&cache, i));
      } else if (kind == ARG_NORMAL && take_word_argument(code, index, end)) {
        index++;
      } else if (uint32_t after = kind == ARG_NORMAL ? quick_expression(code_view(code), index,
                                                                         end, false, stack::top)
                                                      : 0) {
        stack::push_new();
        index = after;
      } else {
        index = fetch_one(kind, code, index, end, false);
        if (stack::pending()) return true;
      }
      Cell* got = stack::top - 1;
      if (!typeset::has(&e, TYPE_OF(got))) expect_arg(&fn, &name, got, argument_number(&cache, i));
      if (!native) {
        stack::arguments[argpos++] = *got;
        stack::top--;
      }
    }
  }
  if (native) {
    // Tracing may have begun in the arguments: the general path's events.
    if (trace::on && trace::fire(trace::EV_CALL, code, int32_t(index), &name, &fn)) return true;
    const int32_t* used = n ? refs : NO_REFINEMENTS;
    if (type == TYPE_NATIVE) natives::table[fn.w1 - 1](false, used);
    else actions::entries[fn.w1 - 1](used);
    if (stack::pending()) return true;
    stack::pop_frame();
    Cell result = base[1];
    if (trace::on && trace::fire(trace::EV_RETURN, code, int32_t(index), &name, &result))
      return true;
  } else if (type == TYPE_ROUTINE) {
    if (trace::on && trace::fire(trace::EV_CALL, code, int32_t(index), &name, &fn)) return true;
    run_routine(&fn);
    if (stack::pending()) return true;
    stack::pop_function_frame();
    Cell result = base[1];
    if (trace::on && trace::fire(trace::EV_RETURN, code, int32_t(index), &name, &result))
      return true;
  } else {
    // The locals are in place already.
    invoke(&fn, d & ~(uint32_t(DESC_MAX_LOCALS) << DESC_LOCALS_SHIFT), &name);
    if (stack::pending()) return true;
    stack::pop_function_frame();
  }
  *base = base[1];
  stack::top = base + 1;
  return true;
}

bool call_refined(const Cell* fn_in, const Cell* code, uint32_t& index, uint32_t end,
                  const Cell* refinements, const Cell* name_in) {
  if (trace::on) return false;
  if (TYPE_OF(fn_in) == TYPE_ROUTINE && !refinements && quick_type_test(fn_in, code, index, end))
    return true;
  return call_refined_framed(fn_in, code, index, end, refinements, name_in);
}

// A call of the function found in a path, with the path's rest (pushed
// first, as eval_path keeps it) as its refinements; its value placed as
// `keep` asks. Only quick_path calls it, untraced, with a rest that rules
// out call_refined's datatype test: the framed call is made at once.
uint32_t path_call(const Cell* fn, const Cell* code, uint32_t index, uint32_t end,
                   const Cell* rest, const Cell* name, bool keep, Cell* start_top) {
  stack::push(rest);
  if (!call_refined_framed(fn, code, index, end, rest, name)) {
    Cell f = *fn;
    index = call_any_function(&f, code, index, end, true, rest, name, nullptr, 0, false);
  }
  if (stack::pending()) return index;
  Cell r = *(stack::top - 1);
  stack::top = start_top;
  place_result(&r, keep);
  return index;
}

// The types whose path steps quick_path takes through their action: reading
// them changes nothing and calls no code.
inline bool quick_step_type(uint32_t t) {
  return t == TYPE_EVENT || t == TYPE_BLOCK || t == TYPE_MAP || t == TYPE_PAIR;
}

// The slots object paths found last, by context and symbol: a hint is
// taken when the context's word at its slot still has the symbol's
// canonical id. Words are only ever appended to a context, and only the
// global context, never freed, may hold a word twice (in two spellings),
// so a hint that passes is what the lookup finds. 256 entries hold the
// fields a program's inner loops read, at 3 KB.
struct slot_hint {
  node_t ctx;
  uint32_t sym;
  uint32_t slot;
};
std::array<slot_hint, 256> slot_hints{};

// The slot of symbol `sym` in the context (context::find_word), or -1.
int32_t object_slot(node_t ctx, uint32_t sym) {
  slot_hint& h = slot_hints[(ctx * 0x9E3779B1u ^ sym * 0x85EBCA77u) >> 24];
  if (h.ctx == ctx && h.sym == sym) {
    series_buffer* words = memory::buffer(context::words_node(ctx));
    if (h.slot < words->used() / sizeof(Cell)) {
      uint32_t at = cell_head(words)[h.slot].w2;
      if (at == sym || symbol::resolve(at) == symbol::resolve(sym)) return int32_t(h.slot);
    }
  }
  int32_t k = context::find_word(ctx, sym, true);
  if (k >= 0) h = {ctx, sym, uint32_t(k)};
  return k;
}

// What eval_path's first step has for the value stepped from: the owner
// of the first word's context, unless global or an object.
Cell first_owner(const Cell* first) {
  node_t fctx = first->w1;
  if (fctx && fctx != context::global_node && TYPE_OF(context::owner(fctx)) != TYPE_OBJECT)
    return *context::owner(fctx);
  return none_value;
}

// Step `i` of `path` (from its `head`) through the path action of type `t`
// for a read, its cells pushed as eval_path's step pushes them: the answer
// (the caller resets the top). `parent` is the value `value` was reached
// from.
inline __attribute__((always_inline)) Cell* action_step(uint32_t t, const Cell& value,
                                                        const Cell& el, const Cell& path,
                                                        uint32_t head, uint32_t i,
                                                        const Cell& parent, const Cell& first,
                                                        bool get, bool last) {
  Cell* cells = stack::push(value);
  Cell* element = stack::push(el);
  Cell* out = stack::push(none_value);
  Cell* prev = stack::push(i > 1 ? cell_head(GET_BUFFER(&path))[head + i - 1] : none_value);
  Cell* grand = stack::push(i > 1 ? parent : first_owner(&first));
  path_step step{cells, element, nullptr, &path, i > 1 ? prev : nullptr, grand,
                 int32_t(i), false, get, false, last};
  actions::peek_eval_path(t)(step, out);
  return out;
}

// eval_path, untraced, for the paths described above: the index after the
// path, or NOT_QUICK, with nothing done, when eval_path must take it.
constexpr uint32_t NOT_QUICK = ~uint32_t(0);

// `set/any` and `get/any`, the way code keeps and reads a value that may be
// unset: the call as call_refined makes it (the path kept, the frame, the
// arguments fetched and checked in order), but a word's value is stored or
// read in place of the native's own call. NOT_QUICK, with
// nothing done, unless the native's spec has the path's refinement first
// and taking no argument, as set's and get's do; a target other than a
// word, or tracing begun in the arguments, calls the native itself.
__attribute__((noinline)) uint32_t access_any(const Cell* fn_in, const Cell* code,
                                              uint32_t index, uint32_t end, const Cell* rest,
                                              const Cell* name_in, bool keep, Cell* start_top) {
  const Cell* held = spec_cache_cell(fn_in);
  if (TYPE_OF(held) != TYPE_BLOCK) return NOT_QUICK;
  Cell cache = *held;
  uint32_t d = cache.w3;
  uint32_t arity = d & DESC_ARITY_MASK;
  bool is_set = fn_in->w1 == natives::ID_SET;
  if (!(d & DESC_PLAIN) || arity != (is_set ? 2u : 1u)) return NOT_QUICK;
  series_buffer* cb = GET_BUFFER(&cache);
  uint32_t count = cb->used() / sizeof(Cell);
  if (arity + 2 > count) return NOT_QUICK;
  const Cell* e = cell_head(cb);
  const Cell* ref = &e[arity];
  if (TYPE_OF(ref) != TYPE_REFINEMENT || ref->w3 != 1) return NOT_QUICK;
  const Cell* after_ref = &e[arity + 1];
  if (arity + 2 < count && TYPE_OF(after_ref) != TYPE_REFINEMENT &&
      arg_kind_of(after_ref) != ARG_RETURN)
    return NOT_QUICK;
  const Cell* el = cell_head(GET_BUFFER(rest)) + rest->w1;
  if (TYPE_OF(el) != TYPE_WORD ||
      (el->w2 != ref->w2 && symbol::resolve(el->w2) != symbol::resolve(ref->w2)))
    return NOT_QUICK;

  Cell fn = *fn_in;
  Cell name = *name_in;
  stack::push(rest);
  depth_guard();
  Cell* base = stack::push(fn);
  stack::open_eval_native_frame(&name);
  index = fetch_required(&fn, d, code, index, end, &name);
  if (stack::pending()) return index;
  Cell* args = stack::arguments;
  if (trace::on || TYPE_OF(args) != TYPE_WORD) [[unlikely]] {
    int32_t refs[32];
    std::memcpy(refs, NO_REFINEMENTS, sizeof refs);
    refs[0] = int32_t(stack::top - args);
    if (trace::on && trace::fire(trace::EV_CALL, code, int32_t(index), &name, &fn)) return index;
    natives::table[fn.w1 - 1](false, refs);
    if (stack::pending()) return index;
    stack::pop_frame();
    Cell result = base[1];
    if (trace::on && trace::fire(trace::EV_RETURN, code, int32_t(index), &name, &result))
      return index;
  } else {
    Cell target = args[0];
    if (is_set) {
      Cell value = args[1];
      set_word(&target, &value);
      args[0] = value;
    } else {
      args[0] = *word_value(&target);
    }
    stack::top = args + 1;
    stack::pop_frame();
  }
  Cell r = base[1];
  stack::top = start_top;
  place_result(&r, keep);
  return index;
}
inline __attribute__((always_inline)) uint32_t quick_path(const Cell* path_in, const Cell* code,
                                                          uint32_t index, uint32_t end, bool set,
                                                          bool get, bool keep) {
  Cell path = *path_in;
  series_buffer* pb = GET_BUFFER(&path);
  uint32_t head = path.w1, len = pb->used() / sizeof(Cell);
  if (head + 2 > len) return NOT_QUICK;
  len -= head;
  Cell first = cell_head(pb)[head];
  if (TYPE_OF(&first) != TYPE_WORD) return NOT_QUICK;
  Cell value = *word_value(&first);
  Cell* start_top = stack::top;
  if (is_function_type(TYPE_OF(&value))) {
    if (set || get) return NOT_QUICK;
    Cell rest = path;
    rest.w1++;
    if (len == 2 && TYPE_OF(&value) == TYPE_NATIVE &&
        (value.w1 == natives::ID_SET || value.w1 == natives::ID_GET)) {
      uint32_t after = access_any(&value, code, index, end, &rest, &first, keep, start_top);
      if (after != NOT_QUICK) return after;
    }
    return path_call(&value, code, index, end, &rest, &first, keep, start_top);
  }
  // `parent` is the value stepped from (first_owner at the first step).
  // Once a step
  // goes through an action, which may allocate, `hold` keeps the value
  // reached on the stack.
  Cell parent = none_value;
  Cell* hold = nullptr;
  for (uint32_t i = 1; i < len; i++) {
    Cell el = cell_head(GET_BUFFER(&path))[head + i];
    if (TYPE_OF(&el) == TYPE_GET_WORD) el = *word_value(&el);
    else if (TYPE_OF(&el) != TYPE_WORD && TYPE_OF(&el) != TYPE_INTEGER) break;
    if (TYPE_OF(&el) == TYPE_UNSET) break;
    bool last = i == len - 1;
    uint32_t ct = TYPE_OF(&value);
    uint32_t et = TYPE_OF(&el);
    if (ct == TYPE_OBJECT && (et == TYPE_WORD || et == TYPE_SET_WORD || et == TYPE_GET_WORD ||
                              et == TYPE_LIT_WORD)) {
      int32_t k = object_slot(value.w1, el.w2);
      if (k < 0) break;
      if (last && set) {
        // What the object's path action does with the slot found here: the
        // field marked set, then its owner told, the object and the value
        // kept on the stack meanwhile.
        Cell new_value = *stack::arguments;
        stack::push(value);
        stack::push(new_value);
        Cell w = *context::word_at(value.w1, uint32_t(k));
        Cell old = values_of(value.w1)[k];
        context::set_in(&w, &new_value, value.w1, false);
        if (value.w3) object::fire_on_set(&value, &w, &old, &new_value);
        stack::top = start_top;
        *stack::arguments = new_value;
        if (keep) stack::push(new_value);
        return index;
      }
      const Cell* slot = values_of(value.w1) + k;
      if (TYPE_OF(slot) == TYPE_UNSET && !get) break;
      parent = value;
      value = *slot;
    } else if (ct == TYPE_EVENT && !set && et == TYPE_WORD && event::is_type_field(&el)) {
      // An event's type, the field dispatch code reads most, is a word of
      // the event cell itself: no path action, nothing allocated.
      parent = value;
      value = event::type_to_word(&value);
    } else if (!set && quick_step_type(ct)) {
      if (!hold) hold = stack::push(value);
      Cell out = *action_step(ct, value, el, path, head, i, parent, first, get, last);
      parent = value;
      value = out;
      *hold = value;
      stack::top = hold + 1;
    } else {
      break;
    }
    if (!set && !get && is_function_type(TYPE_OF(&value))) {
      Cell rest = path;
      rest.w1 += i + 1;
      Cell name = cell_head(GET_BUFFER(&path))[head + i];
      if (TYPE_OF(&name) != TYPE_WORD) name = words::anon_marker_word;
      stack::top = start_top;
      return path_call(&value, code, index, end, &rest, &name, keep, start_top);
    }
    if (last) {
      stack::top = start_top;
      if (set) return NOT_QUICK;  // not reached: a set's last step is an object's
      place_result(&value, keep);
      return index;
    }
  }
  stack::top = start_top;
  return NOT_QUICK;
}

}  // namespace

uint32_t call_any_function(const Cell* fn_in, const Cell* code, uint32_t index, uint32_t end,
                           bool keep, const Cell* path, const Cell* name_in, const Cell* parent,
                           int32_t mode, bool infix) {
  depth_guard();
  Cell fn = *fn_in;
  Cell name = name_in && TYPE_OF(name_in) == TYPE_WORD ? *name_in : words::anon_marker_word;
  // The left operand of an infix call is the cell just below the top.
  Cell* base = infix ? stack::top - 1 : stack::top;
  if (trace::on) {
    // The left operand stays safe above the top while the event runs.
    if (infix) stack::top++;
    bool raised = trace::fire(trace::EV_OPEN, code, int32_t(index), nullptr, &name);
    if (infix) stack::top--;
    if (raised) return index;
  }
  if (!infix) stack::push(fn);
  else stack::top = base;
  uint32_t type = TYPE_OF(&fn);
  bool called = false;
  switch (type) {
    case TYPE_NATIVE:
    case TYPE_ACTION:
      stack::open_eval_native_frame(&name);
      if (infix) stack::top++;
      index = fetch_arguments(&fn, code, index, end, path, &name, mode, infix, called);
      if (stack::pending()) return index;
      stack::pop_frame();
      break;
    case TYPE_ROUTINE:
    case TYPE_FUNCTION: {
      // Interpreted bodies always run in the function's own context.
      (void)parent;
      node_t ctx = fn.w1;
      stack::open_eval_function_frame(&name, ctx);
      if (infix) stack::top++;
      index = fetch_arguments(&fn, code, index, end, path, &name, mode, infix, called);
      if (stack::pending()) return index;
      // A function's call and return events come from call_function.
      if (trace::on && type != TYPE_FUNCTION &&
          trace::fire(trace::EV_CALL, code, int32_t(index), &name, &fn))
        return index;
      if (type == TYPE_FUNCTION) {
        call_function(&fn, ctx, &name, 0);
      } else {
        run_routine(&fn);
      }
      if (stack::pending()) return index;
      stack::pop_function_frame();
      break;
    }
    default:
      runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  // The result is the frame's first cell, just above the function value.
  Cell result = infix ? *base : base[1];
  if (trace::on && type != TYPE_FUNCTION &&
      trace::fire(trace::EV_RETURN, code, int32_t(index), &name, &result))
    return index;
  stack::top = base;
  if (keep) {
    stack::push(result);
  } else {
    *stack::arguments = result;
    stack::top = stack::arguments + 1;
  }
  return index;
}

void call_function(const Cell* fn_in, node_t ctx, const Cell* name_in, uint32_t callback_kind) {
  Cell fn = *fn_in;
  Cell name = name_in ? *name_in : words::anon_marker_word;
  trace::scope tracing_scope;
  // A callback is traced only when its kind is enabled in
  // system/state/callbacks/bits.
  if (trace::on && callback_kind) {
    const Cell* bits = system::field({"state", "callbacks", "bits"});
    if (!bits || TYPE_OF(bits) != TYPE_INTEGER || !(uint32_t(get_integer(bits)) & callback_kind))
      trace::on = false;
  }
  // The trace attribute turns tracing on for the body while a do/trace is
  // active; no-trace turns it off.
  if (trace::active && (fn.header & function::ATTR_TRACE)) trace::on = true;
  if (fn.header & function::ATTR_NO_TRACE) trace::on = false;
  if (trace::on && trace::fire(trace::EV_CALL, nullptr, -1, &name, &fn)) return;
  run_body(&fn, ctx, &name);
}

namespace {

// eval_path's general and traced walk.
__attribute__((noinline)) uint32_t walk_path(const Cell* path_in, const Cell* code,
                                             uint32_t index, uint32_t end, bool set, bool get,
                                             bool keep) {
  Cell path = *path_in;
  Cell* start_top = stack::top;
  // In set mode the value to assign is the current result slot.
  Cell new_value = set ? *stack::arguments : unset_value;
  int32_t len = block::rs_length(&path);
  if (len <= 0) fire(err::SCRIPT, err::script::EMPTY_PATH, &path);
  if (trace::on && (trace::fire(trace::EV_ENTER, &path, int32_t(path.w1), nullptr, nullptr) ||
                    trace::fire(trace::EV_FETCH, &path, int32_t(path.w1), nullptr,
                                block::rs_head(&path))))
    return index;
  Cell first = block::rs_head(&path)[0];
  if (TYPE_OF(&first) != TYPE_WORD) fire(err::SCRIPT, err::script::WORD_FIRST, &path);
  Cell value = *context::get(&first);
  uint32_t vt = TYPE_OF(&value);
  if (is_function_type(vt)) {
    if (set) fire(err::SCRIPT, err::script::INVALID_PATH_SET, &path);
    if (get) fire(err::SCRIPT, err::script::INVALID_PATH_GET, &path);
    Cell refinements = path;
    refinements.w1++;
    stack::push(path);  // keeps the path alive during the call
    index = call_any_function(&value, code, index, end, true, &refinements, &first, nullptr, 0,
                              false);
    if (stack::pending()) return index;
    Cell r = *(stack::top - 1);
    stack::top = start_top;
    place_result(&r, keep);
    return index;
  }
  if (vt == TYPE_UNSET) fire(err::SCRIPT, err::script::UNSET_PATH, &path, &first);
  // Work cells on the stack: the path (kept alive), the parent and the value.
  Cell* cells = stack::push(path);
  Cell* parent = stack::push(none_value);
  Cell* current_value = stack::push(value);
  Cell* element = stack::push(none_value);
  Cell* out = stack::push(none_value);
  Cell* set_value = stack::push(new_value);
  Cell* prev = stack::push(none_value);
  Cell* key = stack::push(none_value);  // the resolved previous element
  node_t fctx = first.w1;
  if (fctx && fctx != context::global_node) {
    Cell own = *context::owner(fctx);
    if (TYPE_OF(&own) != TYPE_OBJECT) *parent = own;
  }
  for (int32_t i = 1; i < len; i++) {
    Cell el = block::rs_head(&path)[i];
    if (TYPE_OF(&el) == TYPE_GET_WORD) {
      el = *context::get(&el);
    } else if (TYPE_OF(&el) == TYPE_PAREN) {
      stack::open_eval_native_frame(&words::body_marker_word);
      eval_block(&el, true);
      if (stack::pending()) return index;
      el = *stack::arguments;
      stack::pop_frame();
      stack::top = key + 1;
    }
    if (TYPE_OF(&el) == TYPE_UNSET) fire(err::SCRIPT, err::script::INVALID_PATH, &path, &el);
    if (i > 1) *prev = block::rs_head(&path)[i - 1];
    *element = el;
    bool last = i == len - 1;
    uint32_t ct = TYPE_OF(current_value);
    auto fn = actions::peek_eval_path(ct);
    if (!fn) {
      Cell type = make_datatype(ct);
      fire(err::SCRIPT, err::script::BAD_PATH_TYPE, &path, &type, element);
    }
    bool notify = false;
    if (last && set) {
      uint32_t pt = TYPE_OF(current_value);
      notify = (pt == TYPE_OBJECT && current_value->w3) || block::is_block_type(pt);
    }
    path_step step{current_value,
                   element,
                   last && set ? set_value : nullptr,
                   &path,
                   i > 1 ? prev : nullptr,
                   parent,
                   i,
                   false,
                   get,
                   notify,
                   last};
    Cell prev_value = *current_value;
    fn(step, out);
    // A value held in the cell itself (pair!, tuple!, date! ...) was set in
    // a copy: store it back where it came from, through the container's
    // own path setter so that its owner is told.
    if (last && set && std::memcmp(&prev_value, current_value, sizeof(Cell)) != 0) {
      if (i == 1) {
        word::set(&first, current_value);
      } else if (auto up = actions::peek_eval_path(TYPE_OF(parent))) {
        uint32_t ut = TYPE_OF(parent);
        bool tell = (ut == TYPE_OBJECT && parent->w3) || block::is_block_type(ut);
        Cell* scratch = stack::push(none_value);
        path_step back{parent, key, current_value, &path, nullptr, nullptr, i - 1, false, false,
                       tell, false};
        up(back, scratch);
      }
    }
    *key = el;
    *parent = prev_value;
    *current_value = *out;
    if (!set && !get && is_function_type(TYPE_OF(current_value))) {
      // A function met in the path is called with the rest as refinements.
      Cell fnv = *current_value;
      Cell rest = path;
      rest.w1 += uint32_t(i + 1);
      Cell fname = block::rs_head(&path)[i];
      if (TYPE_OF(&fname) != TYPE_WORD) fname = words::anon_marker_word;
      *cells = rest;
      index = call_any_function(&fnv, code, index, end, true, &rest, &fname, parent, 0, false);
      if (stack::pending()) return index;
      Cell r = *(stack::top - 1);
      stack::top = start_top;
      place_result(&r, keep);
      return index;
    }
  }
  Cell r = set ? *set_value : *current_value;
  if (trace::on && trace::fire(trace::EV_EXIT, &path, int32_t(path.w1) + len, nullptr, &r))
    return index;
  stack::top = start_top;
  if (set) {
    *stack::arguments = r;
    if (keep) stack::push(r);
  } else {
    place_result(&r, keep);
  }
  return index;
}

}  // namespace

uint32_t eval_path(const Cell* path_in, const Cell* code, uint32_t index, uint32_t end, bool set,
                   bool get, bool keep, bool option) {
  (void)option;
  if (!trace::on) {
    uint32_t after = quick_path(path_in, code, index, end, set, get, keep);
    if (after != NOT_QUICK) return after;
  }
  return walk_path(path_in, code, index, end, set, get, keep);
}

}  // namespace kez::interpreter
