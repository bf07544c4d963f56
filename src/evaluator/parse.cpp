// The parse engine's state machine: rule and input stacks, rule blocks,
// alternatives, repetition, searches, `into` and the trace callback.
//
// Nothing here recurses: entering a rule block or a keyword that governs
// the next rule pushes a frame of three cells on the rule stack, and each
// step answers the step that follows. Every buffer (rules, input, stacks)
// may move whenever anything allocates or user code runs, so positions are
// indexes and cells are read through their nodes each time. After a paren
// or the callback, a pending non-local exit ends the run at once, leaving
// the value stack to the exit; the stacks are reset on every way out.
#include "evaluator/parse.h"

#include <algorithm>
#include <vector>

#include "evaluator/interpreter.h"
#include "evaluator/parse_engine.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/simple_types.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::parser {

Cell rule_stack = make_unset();
Cell input_stack = make_unset();

namespace {

enum keyword_id : uint8_t {
  K_OTHER,
  K_BAR,
  K_SKIP,
  K_ANY,
  K_SOME,
  K_OPT,
  K_WHILE,
  K_TO,
  K_THRU,
  K_BREAK,
  K_REJECT,
  K_FAIL,
  K_NONE,
  K_END,
  K_IF,
  K_NOT,
  K_AHEAD,
  K_QUOTE,
  K_INTO,
  K_CASE,
  K_COPY,
  K_SET,
  K_REMOVE,
  K_INSERT,
  K_CHANGE,
  K_COLLECT,
  K_KEEP,
};

// Keyword of each canonical symbol id (the keywords are interned at start,
// so their ids are small).
std::vector<uint8_t> keyword_table;

uint8_t keyword_of(const Cell& word) {
  uint32_t sym = symbol::resolve(word.w2);
  return sym < keyword_table.size() ? keyword_table[sym] : uint8_t(K_OTHER);
}

inline Cell triple(int64_t a, int64_t b, int64_t c) {
  return Cell{TYPE_TRIPLE, uint32_t(int32_t(a)), uint32_t(int32_t(b)), uint32_t(int32_t(c))};
}
inline int32_t first_of(const Cell& t) { return int32_t(t.w1); }
inline int32_t second_of(const Cell& t) { return int32_t(t.w2); }
inline int32_t third_of(const Cell& t) { return int32_t(t.w3); }

// Cells of a stack block counted from its buffer's first cell.
inline uint32_t stack_cells(const Cell& s) { return GET_BUFFER(&s)->used() / sizeof(Cell); }
inline void set_stack_cells(const Cell& s, uint32_t n) {
  series_buffer* b = GET_BUFFER(&s);
  b->tail = b->head + n * uint32_t(sizeof(Cell));
}

bool needs_rule(int32_t code) {
  switch (code) {
    case CMD_TO: case CMD_THRU: case CMD_NOT: case CMD_REMOVE: case CMD_WHILE:
    case CMD_COLLECT: case CMD_KEEP: case CMD_KEEP_PAREN: case CMD_AHEAD:
      return true;
    default: return false;
  }
}

// Resets the stacks when a run leaves by an error.
struct stack_guard {
  engine& e;
  ~stack_guard() { e.reset(); }
};

}  // namespace

void init() {
  if (TYPE_OF(&rule_stack) == TYPE_BLOCK) return;
  collector::add_root(&rule_stack);
  collector::add_root(&input_stack);
  block::make_at(&rule_stack, 100);
  block::make_at(&input_stack, 8);
  const std::pair<uint32_t, keyword_id> keywords[] = {
      {words::bar, K_BAR},         {words::skip, K_SKIP},     {words::any, K_ANY},
      {words::some, K_SOME},       {words::opt, K_OPT},       {words::while_, K_WHILE},
      {words::to, K_TO},           {words::thru, K_THRU},     {words::break_, K_BREAK},
      {words::reject, K_REJECT},   {words::fail, K_FAIL},     {words::none, K_NONE},
      {words::end, K_END},         {words::if_, K_IF},        {words::not_, K_NOT},
      {words::ahead, K_AHEAD},     {words::quote, K_QUOTE},   {words::into, K_INTO},
      {words::case_, K_CASE},      {words::copy, K_COPY},     {words::set, K_SET},
      {words::remove, K_REMOVE},   {words::insert, K_INSERT}, {words::change, K_CHANGE},
      {words::collect, K_COLLECT}, {words::keep, K_KEEP},
  };
  for (auto [sym, id] : keywords) {
    uint32_t s = symbol::resolve(sym);
    if (s >= keyword_table.size()) keyword_table.resize(s + 1, K_OTHER);
    keyword_table[s] = id;
  }
}

// --- stacks and frames -------------------------------------------------------------------

Cell* engine::top_frame() const { return cell_tail(GET_BUFFER(&rule_stack)) - 3; }

uint32_t engine::frame_cells() const { return stack_cells(rule_stack) - rbase; }

void engine::push_frame(const Cell& a, const Cell& b, const Cell& c) {
  if (frame_cells() + 3 > STACK_LIMIT) raise(err::script::PARSE_STACK);
  Cell x = a, y = b, z = c;
  series_buffer* buf = memory::ensure_room(rule_stack.w2, 3 * sizeof(Cell));
  Cell* t = cell_tail(buf);
  t[0] = x;
  t[1] = y;
  t[2] = z;
  buf->tail += 3 * sizeof(Cell);
  last_code = 0;
}

void engine::drop_frame() { GET_BUFFER(&rule_stack)->tail -= 3 * sizeof(Cell); }

Cell engine::position_triple(int64_t offset) const { return triple(offset, pos(), rest()); }

void engine::reset() {
  if (done) return;
  done = true;
  set_stack_cells(rule_stack, rbase);
  set_stack_cells(input_stack, ibase);
  rule_stack.w1 = saved_rhead;
  input_stack.w1 = saved_ihead;
}

void engine::raise(int id, const Cell* arg) {
  Cell a = arg ? *arg : none_value;
  reset();
  fire(err::SCRIPT, id, arg ? &a : nullptr);
}

// --- user code ---------------------------------------------------------------------------

bool engine::word_value(const Cell& word, Cell& out) const {
  const Cell* v = word::get_value_or_null(&word);
  if (!v || TYPE_OF(v) == TYPE_UNSET) return false;
  out = *v;
  return true;
}

bool engine::is_input_series(const Cell& v) const {
  return TYPE_OF(&v) == input_type() && v.w2 == w[W_INPUT].w2;
}

// A paren or the callback may have shortened the rules or the input.
void engine::after_user_code() {
  int64_t tail = rule_tail();
  if (ri > tail) ri = tail;
  set_pos(pos());
}

bool engine::eval_paren(const Cell& paren) {
  Cell code = paren;
  Cell* base = stack::top;
  // Run in the parse call's frame, as a branch runs in its caller's: a
  // frame of its own would be seen by no one (traced, run_block gives it
  // one, with its events).
  interpreter::run_block(&code, true);
  if (stack::pending()) return false;
  w[W_PAREN] = *base;
  stack::top = base;
  after_user_code();
  return true;
}

// Calls the trace function with the event; false when the run must stop
// (`halt` tells whether by the callback's answer or a non-local exit).
bool engine::trace(const Cell& event) {
  if (!tracing) return true;
  Cell* hold = stack::top;
  // The callback sees a copy of the frames: changing it cannot corrupt the run.
  uint32_t n = frame_cells();
  Cell* frames = block::push_only(int32_t(n));
  for (uint32_t i = 0; i < n; i++) {
    Cell c = cell_head(GET_BUFFER(&rule_stack))[rbase + i];
    block::rs_append(frames, &c);
  }
  Cell rule = w[W_RULE];
  rule.w1 = ri < 0 ? 0 : uint32_t(ri);
  const Cell args[5] = {event, make_logic(match), rule, w[W_INPUT], *frames};
  Cell fn = w[W_CALLBACK];
  Cell* base = stack::top;
  stack::push(fn);
  stack::open_function_frame(&words::parse_callback_marker_word, fn.w1);
  // The five values go to the first five arguments; refinements are false
  // and every other word none.
  Cell spec = make_series(TYPE_BLOCK, fn.w2);
  int32_t count = block::rs_length(&spec);
  int given = 0;
  bool refinements = false;
  for (int32_t i = 0; i < count; i++) {
    uint32_t t = TYPE_OF(block::rs_head(&spec) + i);
    if (t == TYPE_REFINEMENT) {
      refinements = true;
      stack::push(false_value);
    } else if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
      if (!refinements && given < 5) stack::push(args[given++]);
      else stack::push(none_value);
    }
  }
  interpreter::call_function(&fn, fn.w1, &words::parse_callback_marker_word, 2);
  if (stack::pending()) {
    halt = S_EXIT;
    return false;
  }
  stack::pop_function_frame();
  Cell answer = base[1];
  stack::top = hold;
  after_user_code();
  if (logic::falsy(&answer)) {
    halt = S_STOP;
    return false;
  }
  return true;
}

#define TRACE(event)                          \
  do {                                        \
    if (tracing && !trace(words::event##_word)) return halt; \
  } while (0)

// --- steps -------------------------------------------------------------------------------

step engine::enter_block(const Cell& block_in) {
  Cell block = block_in;
  bool outermost = frame_cells() == 0;
  push_frame(none_value, position_triple(ri), outermost ? block : w[W_RULE]);
  w[W_RULE] = block;
  ri = int64_t(block.w1) - 1;
  match = true;
  TRACE(push);
  return S_FETCH;
}

// `any`, `some` or `opt` (at `ri`) before a char!, bitset or string, given
// directly or by a word: matched at once, as the command frame would, but
// without it. False (nothing done) for any other rule, and when tracing.
bool engine::repeat_literal(int32_t min, int32_t max) {
  if (tracing || frame_cells() + 3 > STACK_LIMIT) return false;
  series_buffer* rules = GET_BUFFER(&w[W_RULE]);
  int64_t i = ri + 1;
  if (i >= int64_t(rules->used() / sizeof(Cell))) return false;
  const Cell* v = cell_head(rules) + i;
  if (TYPE_OF(v) == TYPE_WORD) {
    if (keyword_of(*v) != K_OTHER) return false;
    v = word::get_value_or_null(v);
    if (!v) return false;
  }
  uint32_t t = TYPE_OF(v);
  if (t != TYPE_CHAR && t != TYPE_BITSET && t != TYPE_STRING) return false;
  int64_t n = 0;
  if (!at_end()) {
    uint32_t p = pos();
    n = match::repeat(&w[W_INPUT], p, end(), v, cs, max);
    set_pos(p);
  }
  match = n >= min;
  ri = i;
  last_code = CMD_REPEAT;
  return true;
}

// The commonest values (a block, or a char!, bitset or string matched once,
// given directly or by a word) are dealt with here, and a run of matches
// is fetched on without going back to the state loop; everything else,
// and every traced step, goes through `process`.
step engine::fetch() {
  for (;;) {
    ri++;
    series_buffer* rules = GET_BUFFER(&w[W_RULE]);
    if (ri >= int64_t(rules->used() / sizeof(Cell)))
      return top_is_command() ? S_POP_COMMAND : S_POP_BLOCK;
    const Cell* r = cell_head(rules) + ri;
    if (tracing) break;
    const Cell* v = r;
    bool governed = false;
    if (TYPE_OF(r) == TYPE_WORD) {
      uint8_t k = keyword_of(*r);
      if (k == K_BAR) {
        ri = rules->used() / sizeof(Cell);
        return top_is_command() ? S_POP_COMMAND : S_POP_BLOCK;
      }
      if (k == K_ANY || k == K_SOME || k == K_OPT) {
        if (!repeat_literal(k == K_SOME ? 1 : 0, k == K_OPT ? 1 : -1)) break;
        if (top_is_command()) return S_POP_COMMAND;
        if (!match) {
          step next = fail();
          if (next != S_FETCH) return next;
        }
        continue;
      }
      if (k != K_OTHER) break;
      v = word::get_value_or_null(r);
      if (!v) break;
      governed = frame_cells() > 3 && top_is_command() && top_frame()[1].w1 == uint32_t(ri - 1);
    }
    uint32_t t = TYPE_OF(v);
    if (t == TYPE_BLOCK) {
      Cell block = *v;
      return enter_block(block);
    }
    if ((t != TYPE_CHAR && t != TYPE_BITSET && t != TYPE_STRING) || governed) break;
    if (t != TYPE_STRING && !is_any_block(input_type())) {
      uint32_t p = pos();
      match = p < end() && match::one_char(&w[W_INPUT], p, v, cs);
      if (match) w[W_INPUT].w1 = p + 1;
    } else {
      Cell value = *v;
      literal_step(value);
    }
    if (top_is_command()) return S_POP_COMMAND;
    if (!match) {
      step next = fail();
      if (next != S_FETCH) return next;
    }
  }
  TRACE(fetch);
  w[W_VALUE] = rule_at(ri);
  from_word = false;
  return S_PROCESS;
}

step engine::process() {
  Cell v = w[W_VALUE];
  switch (TYPE_OF(&v)) {
    case TYPE_WORD:
      if (from_word) raise(err::script::PARSE_RULE, &v);
      return keyword(v);
    case TYPE_BLOCK:
      return enter_block(v);
    case TYPE_DATATYPE:
    case TYPE_TYPESET:
      return type_step(v);
    case TYPE_SET_WORD: {
      Cell input = w[W_INPUT];
      word::set(&v, &input);
      return S_FETCH;
    }
    case TYPE_GET_WORD: {
      Cell target;
      if (!word_value(v, target) || !is_input_series(target))
        raise(err::script::PARSE_INVALID_REF, &v);
      set_pos(target.w1);
      match = true;
      return S_CHECK;
    }
    case TYPE_INTEGER:
      return count_step(v);
    case TYPE_PAREN:
      if (!eval_paren(v)) return S_EXIT;
      TRACE(paren);
      return S_CHECK;
    case TYPE_PATH:
      raise(err::script::PARSE_RULE, &v);
    default:
      return literal_step(v);
  }
}

step engine::literal_step(const Cell& value) {
  uint32_t vt = TYPE_OF(&value);
  if (at_end()) {
    // An empty text still matches at the end of text input.
    match = is_any_string(input_type()) &&
            (vt == TYPE_STRING || vt == TYPE_FILE || vt == TYPE_URL) &&
            string::rs_length(&value) == 0;
  } else {
    int64_t n = match::literal(&w[W_INPUT], pos(), end(), &value, cs);
    match = n >= 0;
    if (match) set_pos(pos() + uint64_t(n));
  }
  TRACE(match);
  return S_CHECK;
}

step engine::type_step(const Cell& types) {
  uint32_t it = input_type();
  if (is_any_string(it)) raise(err::script::PARSE_UNSUPPORTED);
  if (at_end()) {
    match = false;
  } else if (is_any_block(it)) {
    match = match::type_at(&w[W_INPUT], pos(), &types);
    if (match) set_pos(pos() + 1);
  } else {
    // Binary input: the type of the value the bytes at the position load as.
    Cell* loaded = stack::push_unset();
    Cell* source = stack::push(w[W_INPUT]);
    uint32_t consumed = 0;
    lexer::scan_options o;
    o.one = true;
    lexer::scan_string(loaded, source, int32_t(end() - pos()), o, &consumed);
    Cell v = *loaded;
    stack::pop(2);
    match = consumed > 0 && TYPE_OF(&v) != TYPE_UNSET && match::type_in(TYPE_OF(&v), &types);
    if (match) set_pos(pos() + uint64_t(consumed));
  }
  TRACE(match);
  return S_CHECK;
}

step engine::count_step(const Cell& count) {
  int32_t n = get_integer(&count);
  if (n < 0) raise(err::script::OUT_OF_RANGE, &count);
  int64_t tail = rule_tail();
  int64_t rule_index = ri + 1;
  if (rule_index >= tail) raise(err::script::PARSE_RULE, &count);
  int32_t m = n;
  Cell next = rule_at(rule_index);
  Cell value;
  if (TYPE_OF(&next) == TYPE_WORD && word_value(next, value) && TYPE_OF(&value) == TYPE_INTEGER)
    next = value;
  if (TYPE_OF(&next) == TYPE_INTEGER) {
    m = get_integer(&next);
    rule_index++;
    if (rule_index >= tail) raise(err::script::PARSE_RULE, &count);
  }
  if (m < n) raise(err::script::PARSE_RULE, &count);
  if (m == 0) {
    // Nothing to match: the rule that follows is passed over.
    ri = rule_index;
    return S_CHECK;
  }
  return push_command(CMD_REPEAT, 0, triple(n, m, 1), rule_index, count);
}

step engine::push_command(int32_t code, int32_t extra, const Cell& first, int64_t rule_index,
                          const Cell& keyword) {
  push_frame(first, position_triple(rule_index - 1),
             Cell{TYPE_PAIR, 0, uint32_t(code), uint32_t(extra)});
  return begin_rule(code, rule_index, keyword);
}

// Processes the rule that a command frame just pushed governs.
step engine::begin_rule(int32_t code, int64_t rule_index, const Cell& keyword) {
  ri = rule_index - 1;
  TRACE(push);
  if (rule_index >= rule_tail()) {
    if (needs_rule(code)) raise(err::script::PARSE_END, &keyword);
    match = true;
    return S_CHECK;
  }
  ri = rule_index;
  w[W_VALUE] = rule_at(ri);
  return command_rule(false);
}

// The rule of the command on top, in W_VALUE. `literal_word`: the value is
// a word that a word gave, to be matched as it is.
step engine::command_rule(bool literal_word) {
  Cell v = w[W_VALUE];
  uint32_t t = TYPE_OF(&v);
  if (t == TYPE_BLOCK) return enter_block(v);
  int32_t code = top_code();
  if (t == TYPE_WORD && !literal_word) {
    // `skip` repeated: one step for the whole run of elements.
    if (code == CMD_REPEAT && !tracing && keyword_of(v) == K_SKIP) {
      Cell* f = top_frame();
      int32_t min = first_of(f[0]), max = second_of(f[0]);
      uint32_t left = end() > pos() ? end() - pos() : 0;
      uint32_t n = max < 0 ? left : std::min<uint32_t>(left, uint32_t(max));
      set_pos(pos() + n);
      match = n >= uint32_t(min);
      drop_frame();
      last_code = code;
      return S_CHECK;
    }
    return keyword(v);
  }
  if (t == TYPE_DATATYPE || t == TYPE_TYPESET) {
    if (code == CMD_REPEAT && !tracing && is_any_block(input_type())) {
      Cell* f = top_frame();
      int32_t min = first_of(f[0]), max = second_of(f[0]);
      uint32_t n = 0, p = pos(), e = end();
      while ((max < 0 || n < uint32_t(max)) && p < e && match::type_at(&w[W_INPUT], p, &v)) {
        p++;
        n++;
      }
      set_pos(p);
      match = n >= uint32_t(min);
      drop_frame();
      last_code = code;
      return S_CHECK;
    }
    return process();
  }
  if (t == TYPE_INTEGER || t == TYPE_PAREN) {
    from_word = false;
    return process();
  }
  if (code == CMD_REPEAT) {
    Cell* f = top_frame();
    int32_t min = first_of(f[0]), max = second_of(f[0]);
    int64_t n = 0;
    if (!at_end()) {
      uint32_t p = pos();
      n = match::repeat(&w[W_INPUT], p, end(), &v, cs, max);
      set_pos(p);
    }
    match = n >= min;
    TRACE(match);
    TRACE(pop);
    drop_frame();
    last_code = code;
    return S_CHECK;
  }
  if (code == CMD_TO || code == CMD_THRU) {
    uint32_t length = 0;
    int64_t at = match::search(&w[W_INPUT], pos(), end(), &v, cs, length);
    if (at == -2) raise(err::script::PARSE_RULE, &v);
    match = at >= 0;
    if (match) set_pos(uint64_t(at) + (code == CMD_THRU ? length : 0));
    TRACE(match);
    TRACE(pop);
    drop_frame();
    last_code = code;
    return S_CHECK;
  }
  if (literal_word) return literal_step(v);
  from_word = false;
  return process();
}

step engine::keyword(const Cell& word) {
  int64_t tail = rule_tail();
  auto next_at = [&](int64_t i, Cell& out) {
    if (i >= tail) return false;
    out = rule_at(i);
    return true;
  };
  Cell next;
  uint8_t k = keyword_of(word);
  switch (k) {
    case K_BAR:
      ri = tail;
      return top_is_command() ? S_POP_COMMAND : S_POP_BLOCK;
    case K_SKIP:
      match = !at_end();
      if (match) set_pos(pos() + 1);
      TRACE(match);
      return S_CHECK;
    case K_ANY:
    case K_SOME:
    case K_OPT:
    case K_WHILE: {
      if (ri + 1 >= tail) raise(err::script::PARSE_END, &word);
      int32_t min = k == K_SOME ? 1 : 0, max = k == K_OPT ? 1 : -1;
      if (k != K_WHILE && repeat_literal(min, max)) return S_CHECK;
      return push_command(k == K_WHILE ? CMD_WHILE : CMD_REPEAT, 0, triple(min, max, 1), ri + 1,
                          word);
    }
    case K_TO:
    case K_THRU: {
      bool thru = k == K_THRU;
      if (next_at(ri + 1, next) && TYPE_OF(&next) == TYPE_WORD && keyword_of(next) == K_END) {
        match = true;
        TRACE(match);
        set_pos(end());
        ri++;
        return S_CHECK;
      }
      return push_command(thru ? CMD_THRU : CMD_TO, 0, triple(0, 0, 0), ri + 1, word);
    }
    case K_BREAK:
    case K_REJECT:
      break_flag = true;
      match = k == K_BREAK;
      TRACE(match);
      return S_POP_COMMAND;
    case K_FAIL:
      match = false;
      TRACE(match);
      return S_POP_COMMAND;
    case K_NONE:
      match = true;
      TRACE(match);
      return S_CHECK;
    case K_END:
      match = at_end();
      TRACE(match);
      return S_CHECK;
    case K_IF: {
      if (!next_at(ri + 1, next) || TYPE_OF(&next) != TYPE_PAREN)
        raise(err::script::PARSE_END, &word);
      ri++;
      if (!eval_paren(next)) return S_EXIT;
      match = !logic::falsy(&w[W_PAREN]);
      TRACE(match);
      return S_CHECK;
    }
    case K_NOT:
      return push_command(CMD_NOT, 0, triple(0, 0, 0), ri + 1, word);
    case K_AHEAD:
      return push_command(CMD_AHEAD, 0, triple(0, 0, 0), ri + 1, word);
    case K_QUOTE:
      if (!next_at(ri + 1, next)) raise(err::script::PARSE_END, &word);
      ri++;
      return literal_step(next);
    case K_INTO: {
      Cell input = w[W_INPUT];
      if (!is_any_block(input_type())) raise(err::script::PARSE_BLOCK, &input);
      Cell rule;
      bool ok = next_at(ri + 1, next);
      if (ok && TYPE_OF(&next) == TYPE_WORD) ok = word_value(next, rule);
      else rule = next;
      if (!ok || TYPE_OF(&rule) != TYPE_BLOCK) raise(err::script::PARSE_END, &word);
      Cell element = at_end() ? none_value : cell_head(GET_BUFFER(&input))[pos()];
      if (!is_input_type(TYPE_OF(&element))) {
        match = false;
        ri++;
        TRACE(match);
        return S_CHECK;
      }
      if (stack_cells(input_stack) - ibase + 1 > STACK_LIMIT) raise(err::script::PARSE_STACK);
      push_frame(triple(0, 0, 0), position_triple(ri), Cell{TYPE_PAIR, 0, uint32_t(CMD_INTO), 0});
      // The outer input keeps its position in its stack cell.
      cell_tail(GET_BUFFER(&input_stack))[-1] = w[W_INPUT];
      block::rs_append(&input_stack, &element);
      w[W_INPUT] = element;
      level++;
      return begin_rule(CMD_INTO, ri + 1, word);
    }
    case K_CASE: {
      if (!next_at(ri + 1, next) || TYPE_OF(&next) != TYPE_WORD)
        raise(err::script::PARSE_END, &word);
      Cell value = none_value;
      word_value(next, value);
      push_frame(triple(0, cs ? 2 : 0, 0), position_triple(ri + 1),
                 Cell{TYPE_PAIR, 0, uint32_t(CMD_CASE), 0});
      cs = !logic::falsy(&value);
      return begin_rule(CMD_CASE, ri + 2, word);
    }
    case K_COPY:
    case K_SET: {
      bool is_copy = k == K_COPY;
      if (!next_at(ri + 1, next) || TYPE_OF(&next) != TYPE_WORD || ri + 2 >= tail)
        raise(err::script::PARSE_END, &word);
      return push_command(is_copy ? CMD_COPY : CMD_SET, 0, next, ri + 2, word);
    }
    case K_REMOVE: return remove_keyword(word);
    case K_INSERT: return insert_keyword(word);
    case K_CHANGE: return change_keyword(word);
    case K_COLLECT: return collect_keyword(word);
    case K_KEEP: return keep_keyword(word);
    default: break;
  }
  // Not a keyword: the word's value is the rule.
  Cell value;
  if (!word_value(word, value)) raise(err::script::PARSE_RULE, &word);
  w[W_VALUE] = value;
  bool governed = frame_cells() > 3 && top_is_command() && top_frame()[1].w1 == uint32_t(ri - 1) &&
                  top_code() != CMD_COLLECT && top_code() != CMD_KEEP &&
                  top_code() != CMD_KEEP_PAREN;
  if (governed) return command_rule(TYPE_OF(&value) == TYPE_WORD);
  from_word = true;
  return process();
}

step engine::fail() {
  set_pos(second_of(top_frame()[1]));
  int64_t tail = rule_tail();
  for (int64_t i = ri + 1; i < tail; i++) {
    Cell v = rule_at(i);
    if (TYPE_OF(&v) == TYPE_WORD && v.w2 == words::bar) {
      ri = i;
      match = true;
      return S_FETCH;
    }
  }
  return S_POP_BLOCK;
}

step engine::pop_block() {
  if (frame_cells() <= 3) {
    TRACE(pop);
    return S_FINISH;
  }
  reached_tail = ri >= rule_tail();
  TRACE(pop);
  Cell* f = top_frame();
  ri = first_of(f[1]);
  w[W_RULE] = f[2];
  drop_frame();
  last_code = 0;
  return top_is_command() ? S_POP_COMMAND : match ? S_FETCH : S_FAIL;
}

step engine::pop_command() {
  if (!top_is_command()) return S_FETCH;
  int32_t code = top_code();
  Cell* f = top_frame();
  Cell first = f[0], at = f[1];
  switch (code) {
    case CMD_REPEAT:
    case CMD_WHILE: {
      int32_t min = first_of(first), max = second_of(first), count = third_of(first);
      if (match && (max < 0 || count < max) && !break_flag) {
        bool stalled = code == CMD_REPEAT && pos() == uint32_t(second_of(at)) &&
                       rest() >= uint32_t(third_of(at));
        if (!stalled) {
          f[0].w3 = uint32_t(count + 1);
          f[1] = position_triple(first_of(at));
          ri = first_of(at);
          TRACE(iterate);
          return S_FETCH;
        }
      }
      break_flag = false;
      match = match ? count >= min : (count - 1 >= min || min == 0);
      break;
    }
    case CMD_TO:
    case CMD_THRU: {
      uint32_t start = uint32_t(second_of(at));
      if (match) {
        if (code == CMD_TO) set_pos(start);
      } else if (start < end()) {
        // Try again one element further.
        set_pos(start + 1);
        f[1] = position_triple(first_of(at));
        ri = first_of(at);
        TRACE(pop);
        TRACE(iterate);
        return S_FETCH;
      }
      break;
    }
    case CMD_NOT:
      match = !match;
      break;
    case CMD_INTO: {
      bool ok = match && at_end() && reached_tail;
      set_stack_cells(input_stack, stack_cells(input_stack) - 1);
      w[W_INPUT] = cell_tail(GET_BUFFER(&input_stack))[-1];
      level--;
      match = ok;
      if (ok) set_pos(pos() + 1);
      break;
    }
    case CMD_AHEAD:
      set_pos(uint32_t(second_of(at)));
      break;
    case CMD_CASE:
      cs = second_of(first) == 2;
      break;
    case CMD_COPY: case CMD_SET: case CMD_REMOVE: case CMD_COLLECT: case CMD_KEEP:
    case CMD_KEEP_PAREN: case CMD_CHANGE: case CMD_CHANGE_ONLY: {
      step s = pop_capture(code);
      if (s != S_CHECK) return s;
      break;
    }
    default:
      runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  TRACE(pop);
  drop_frame();
  last_code = code;
  return S_CHECK;
}

// --- the run -----------------------------------------------------------------------------

bool run(Cell* result, const Cell* input, const Cell* rules, bool case_sensitive, bool has_limit,
         uint32_t limit, const Cell* callback) {
  init();
  engine e;
  e.cs = case_sensitive;
  e.has_limit = has_limit;
  e.limit = limit;
  e.tracing = callback != nullptr;
  Cell* hold = stack::top;
  e.w = stack::top;
  for (uint32_t i = 0; i < engine::W_COUNT; i++) stack::push(none_value);
  e.collect_base = stack::top;
  e.w[engine::W_INPUT] = *input;
  e.w[engine::W_RULE] = *rules;
  if (callback) e.w[engine::W_CALLBACK] = *callback;
  // A nested run starts past what the enclosing run holds.
  e.saved_rhead = rule_stack.w1;
  e.saved_ihead = input_stack.w1;
  e.rbase = stack_cells(rule_stack);
  e.ibase = stack_cells(input_stack);
  rule_stack.w1 = e.rbase;
  input_stack.w1 = e.ibase;
  stack_guard guard{e};
  block::rs_append(&input_stack, input);
  e.set_pos(e.pos());

  Cell rule_block = *rules;
  step s = e.enter_block(rule_block);
  for (;;) {
    switch (s) {
      case S_FETCH: s = e.fetch(); continue;
      case S_PROCESS: s = e.process(); continue;
      case S_CHECK: s = e.check(); continue;
      case S_FAIL: s = e.fail(); continue;
      case S_POP_BLOCK: s = e.pop_block(); continue;
      case S_POP_COMMAND: s = e.pop_command(); continue;
      case S_FINISH: {
        e.match = e.match && e.ri >= e.rule_tail() && e.at_end();
        if (e.tracing && !e.trace(words::end_word)) {
          s = e.halt;
          continue;
        }
        e.reset();
        *result = e.collect_result ? e.w[engine::W_RESULT] : make_logic(e.match);
        stack::top = hold;
        return true;
      }
      case S_STOP:
        e.reset();
        *result = make_logic(e.match);
        stack::top = hold;
        return true;
      case S_EXIT:
        e.reset();
        return false;
    }
  }
}

}  // namespace kez::parser
