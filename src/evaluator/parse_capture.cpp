// Parse keywords that capture matched input (`copy`, `set`), change the
// input while it is matched (`remove`, `insert`, `change`) and gather
// values (`collect`, `keep`).
//
// Changes go through the series actions, so owners are told and hashes kept
// in step. Collect destinations live on the value stack above the run's
// working cells: a plain `collect` pushes a new block, `collect set` the
// word then the block, `collect into`/`after` the target word retyped as
// get-word!/refinement! (the target series is the word's value). Every cell
// handed to an action sits on the value stack first: actions allocate.
#include <algorithm>

#include "evaluator/actions.h"
#include "evaluator/parse_engine.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/series.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::parser {

namespace {

bool is_symbol(const Cell& v, uint32_t sym) {
  return TYPE_OF(&v) == TYPE_WORD && symbol::resolve(v.w2) == symbol::resolve(sym);
}

inline int32_t first_of(const Cell& t) { return int32_t(t.w1); }
inline int32_t second_of(const Cell& t) { return int32_t(t.w2); }

// Inserts `value` into `target` at its position and answers the target
// after what was inserted.
Cell insert_at(const Cell& target, const Cell& value, bool only) {
  Cell* t = stack::push(target);
  Cell* v = stack::push(value);
  actions::get_insert(t)(t, v, -1, only, 1);
  Cell r = *t;
  stack::pop(2);
  return r;
}

// Copies `count` elements of `series` from absolute index `from` (a
// negative count copies the elements before it) into `out`, a cell the
// collector reaches.
void copy_part(const Cell& series, uint32_t from, int64_t count, Cell* out) {
  Cell* src = stack::push(series);
  src->w1 = from;
  Cell* part = stack::push(make_integer(int32_t(count)));
  Cell* copied = stack::push_unset();
  actions::get_copy(src)(src, copied, part, false, nullptr);
  *out = *copied;
  stack::pop(3);
}

bool collect_compatible(uint32_t target, uint32_t input) {
  if (target == input || target == TYPE_BINARY) return true;
  return is_any_string(target) && is_any_block(input);
}

// A replacement for `insert` or `change`, left in W_VALUE.
step replacement(engine& e, const Cell& v) {
  switch (TYPE_OF(&v)) {
    case TYPE_PATH:
      e.raise(err::script::PARSE_RULE, &v);
    case TYPE_PAREN:
      if (!e.eval_paren(v)) return S_EXIT;
      e.w[engine::W_VALUE] = e.w[engine::W_PAREN];
      if (e.tracing && !e.trace(words::paren_word)) return e.halt;
      return S_CHECK;
    case TYPE_WORD: {
      Cell value;
      if (!e.word_value(v, value)) {
        Cell word = v;
        e.reset();
        fire(err::SCRIPT, err::script::NO_VALUE, &word);
      }
      e.w[engine::W_VALUE] = value;
      return S_CHECK;
    }
    default:
      e.w[engine::W_VALUE] = v;
      return S_CHECK;
  }
}

}  // namespace

step engine::remove_keyword(const Cell& word) {
  if (ri + 1 >= rule_tail()) raise(err::script::PARSE_END, &word);
  Cell next = rule_at(ri + 1);
  uint32_t t = TYPE_OF(&next);
  if (t == TYPE_PATH) raise(err::script::PARSE_RULE, &word);
  Cell mark;
  if ((t == TYPE_WORD || t == TYPE_GET_WORD) && word_value(next, mark) && is_input_series(mark)) {
    // Removes from the marked position to the current one at once.
    uint32_t a = std::min<uint32_t>(mark.w1, pos()), b = std::max<uint32_t>(mark.w1, pos());
    Cell* target = stack::push(w[W_INPUT]);
    target->w1 = a;
    Cell* part = stack::push(make_integer(int32_t(b - a)));
    if (b > a) actions::get_remove(target)(target, part, nullptr);
    stack::pop(2);
    set_pos(a);
    ri++;
    match = true;
    return S_CHECK;
  }
  return push_command(CMD_REMOVE, 0, Cell{TYPE_TRIPLE, 0, 0, 0}, ri + 1, word);
}

step engine::insert_keyword(const Cell& word) {
  int64_t tail = rule_tail();
  int64_t i = ri + 1;
  bool only = false;
  if (i < tail && is_symbol(rule_at(i), words::only)) {
    only = true;
    i++;
  }
  if (i >= tail) raise(err::script::PARSE_END, &word);
  uint32_t at = pos();
  Cell next = rule_at(i);
  Cell mark;
  if ((TYPE_OF(&next) == TYPE_WORD || TYPE_OF(&next) == TYPE_GET_WORD) && word_value(next, mark) &&
      is_input_series(mark)) {
    at = std::min(mark.w1, input_length(&w[W_INPUT]));
    if (++i >= tail) raise(err::script::PARSE_RULE, &word);
    next = rule_at(i);
  }
  ri = i;
  step s = replacement(*this, next);
  if (s != S_CHECK) return s;
  uint32_t before = input_length(&w[W_INPUT]);
  Cell target = w[W_INPUT];
  target.w1 = std::min(at, before);
  insert_at(target, w[W_VALUE], only);
  uint32_t added = input_length(&w[W_INPUT]) - before;
  if (at <= pos()) set_pos(uint64_t(pos()) + added);
  match = true;
  return S_CHECK;
}

step engine::change_keyword(const Cell& word) {
  int64_t tail = rule_tail();
  int64_t i = ri + 1;
  bool only = false;
  if (i < tail && is_symbol(rule_at(i), words::only)) {
    only = true;
    if (++i >= tail) raise(err::script::PARSE_RULE, &word);
  }
  Cell mark;
  if (i < tail) {
    Cell next = rule_at(i);
    if ((TYPE_OF(&next) == TYPE_WORD || TYPE_OF(&next) == TYPE_GET_WORD) &&
        word_value(next, mark) && is_input_series(mark)) {
      // Replaces the part between the mark and the current position at once.
      if (++i >= tail) raise(err::script::PARSE_RULE, &word);
      ri = i;
      step s = replacement(*this, rule_at(i));
      if (s != S_CHECK) return s;
      uint32_t a = std::min<uint32_t>(mark.w1, pos()), b = std::max<uint32_t>(mark.w1, pos());
      Cell* target = stack::push(w[W_INPUT]);
      target->w1 = std::min(a, input_length(target));
      Cell* value = stack::push(w[W_VALUE]);
      actions::get_change(target)(target, value, int32_t(b - a), only, 1);
      stack::pop(2);
      set_pos(a);
      match = true;
      return S_CHECK;
    }
  }
  return push_command(only ? CMD_CHANGE_ONLY : CMD_CHANGE, 0, Cell{TYPE_TRIPLE, 0, 0, 0}, i, word);
}

step engine::collect_keyword(const Cell& word) {
  collect_depth++;
  int64_t tail = rule_tail();
  int64_t i = ri + 1;
  int32_t kind = 0;  // 0 plain, 1 set, 2 into, 3 after
  uint32_t saved_head = 0;
  Cell next;
  if (i < tail) {
    next = rule_at(i);
    if (is_symbol(next, words::set)) kind = 1;
    else if (is_symbol(next, words::into)) kind = 2;
    else if (is_symbol(next, words::after)) kind = 3;
  }
  if (kind) {
    Cell target_word = i + 1 < tail ? rule_at(i + 1) : none_value;
    if (TYPE_OF(&target_word) != TYPE_WORD) raise(err::script::PARSE_END, &word);
    if (kind == 1) {
      stack::push(target_word);
      block::push_only(8);
    } else {
      Cell target;
      if (!word_value(target_word, target) || !is_input_type(TYPE_OF(&target)) ||
          !collect_compatible(TYPE_OF(&target), input_type()))
        raise(err::script::PARSE_INTO_TYPE);
      if (target.w2 == w[W_INPUT].w2) raise(err::script::PARSE_INTO_BAD);
      saved_head = target.w1;
      Cell marker = target_word;
      set_type(&marker, kind == 2 ? TYPE_GET_WORD : TYPE_REFINEMENT);
      stack::push(marker);
    }
    i += 2;
  } else {
    block::push_only(8);
  }
  return push_command(CMD_COLLECT, 0, Cell{TYPE_TRIPLE, uint32_t(kind), saved_head, 0}, i, word);
}

step engine::keep_keyword(const Cell& word) {
  if (collect_depth <= 0) {
    Cell keep = words::keep_word;
    raise(err::script::PARSE_KEEP, &keep);
  }
  int64_t tail = rule_tail();
  int64_t i = ri + 1;
  bool pick = false;
  if (i < tail && is_symbol(rule_at(i), words::pick)) {
    pick = true;
    i++;
  }
  bool paren = false;
  if (i < tail) {
    Cell next = rule_at(i);
    paren = TYPE_OF(&next) == TYPE_PAREN;
  }
  return push_command(paren ? CMD_KEEP_PAREN : CMD_KEEP, pick ? 1 : 0, Cell{TYPE_TRIPLE, 0, 0, 0},
                      i, word);
}

namespace {

// Puts one value where kept values go: `top` is the innermost collect
// block, or the marker of a `collect into`/`after` whose word holds the
// target series (`only`: as one element of a block target).
void put_value(Cell* top, const Cell& value, bool only) {
  if (TYPE_OF(top) == TYPE_BLOCK) {
    if (only || !block::is_block_type(TYPE_OF(&value))) {
      block::rs_append(top, &value);
    } else {
      Cell* src = stack::push(value);
      block::append_values(top, src);
      stack::pop(1);
    }
    return;
  }
  Cell word = *top;
  set_type(&word, TYPE_WORD);
  const Cell* held = word::get_value_or_null(&word);
  if (!held || !is_input_type(TYPE_OF(held))) fire(err::SCRIPT, err::script::PARSE_INTO_TYPE);
  Cell target = *held;
  bool block_target = is_any_block(TYPE_OF(&target));
  if (TYPE_OF(top) == TYPE_REFINEMENT) {
    target.w1 = input_length(&target);
    insert_at(target, value, block_target && only);
    return;
  }
  Cell after = insert_at(target, value, block_target && only);
  target.w1 = after.w1;
  word::set(&word, &target);
}

}  // namespace

step engine::pop_capture(int32_t code) {
  Cell first = top_frame()[0], at = top_frame()[1], kind = top_frame()[2];
  uint32_t saved = std::min<uint32_t>(uint32_t(second_of(at)), input_length(&w[W_INPUT]));
  switch (code) {
    case CMD_COPY:
      if (match) {
        copy_part(w[W_INPUT], saved, int64_t(pos()) - saved, &w[W_COPY]);
        Cell value = w[W_COPY];
        word::set(&first, &value);
      }
      break;
    case CMD_SET:
      if (match) {
        Cell value = pos() > saved ? series::element(&w[W_INPUT], saved) : none_value;
        word::set(&first, &value);
      }
      break;
    case CMD_REMOVE:
      if (match && pos() > saved) {
        Cell* target = stack::push(w[W_INPUT]);
        target->w1 = saved;
        Cell* part = stack::push(make_integer(int32_t(pos() - saved)));
        actions::get_remove(target)(target, part, nullptr);
        stack::pop(2);
        set_pos(saved);
      }
      break;
    case CMD_CHANGE:
    case CMD_CHANGE_ONLY: {
      if (ri + 1 >= rule_tail()) {
        Cell change = words::change_word;
        raise(err::script::PARSE_END, &change);
      }
      ri++;
      Cell next = rule_at(ri);
      if (TYPE_OF(&next) == TYPE_PATH) raise(err::script::PARSE_RULE, &next);
      if (!match) break;
      step s = replacement(*this, next);
      if (s != S_CHECK) return s;
      Cell* target = stack::push(w[W_INPUT]);
      target->w1 = saved;
      Cell* value = stack::push(w[W_VALUE]);
      int32_t count = pos() > saved ? int32_t(pos() - saved) : 0;
      actions::get_change(target)(target, value, count, code == CMD_CHANGE_ONLY, 1);
      uint32_t after = target->w1;
      stack::pop(2);
      set_pos(after);
      break;
    }
    case CMD_COLLECT: {
      collect_depth--;
      Cell* top = stack::top - 1;
      int32_t k = first_of(first);
      if (k >= 2) {
        // Back to the target's position when the collect began.
        Cell word = *top;
        set_type(&word, TYPE_WORD);
        Cell target;
        if (word_value(word, target) && is_input_type(TYPE_OF(&target))) {
          target.w1 = uint32_t(second_of(first));
          word::set(&word, &target);
        }
        stack::pop(1);
        break;
      }
      Cell collected = *top;
      if (k == 1) {
        Cell word = top[-1];
        word::set(&word, &collected);
        stack::pop(2);
        break;
      }
      if (top > collect_base) {
        Cell* under = top - 1;
        if (TYPE_OF(under) == TYPE_BLOCK) {
          block::rs_append(under, &collected);
          if (TYPE_OF(collect_base) == TYPE_BLOCK) {
            w[W_RESULT] = *collect_base;
            collect_result = true;
          }
        } else {
          put_value(under, collected, true);
        }
      } else {
        w[W_RESULT] = collected;
        collect_result = true;
      }
      stack::pop(1);
      break;
    }
    case CMD_KEEP:
    case CMD_KEEP_PAREN: {
      if (!match) break;
      bool pick = kind.w3 != 0;
      Cell* top = stack::top - 1;
      if (code == CMD_KEEP_PAREN) {
        Cell value = w[W_PAREN];
        if (pick && (is_input_type(TYPE_OF(&value)) || TYPE_OF(&value) == TYPE_VECTOR)) {
          Cell* held = stack::push(value);
          uint32_t n = input_length(held);
          for (uint32_t i = std::min(held->w1, n); i < input_length(held); i++)
            put_value(top, series::element(held, i), true);
          stack::pop(1);
        } else {
          put_value(top, value, true);
        }
        break;
      }
      // The matched part of the input (or what `copy` took of it).
      Cell* source = stack::push(w[W_INPUT]);
      uint32_t from = saved, to = pos();
      if (last_code == CMD_COPY) {
        *source = w[W_COPY];
        from = std::min(source->w1, input_length(source));
        to = input_length(source);
      }
      if (to > from) {
        if (pick) {
          for (uint32_t i = from; i < to && i < input_length(source); i++)
            put_value(top, series::element(source, i), true);
        } else if (last_code == CMD_COPY) {
          put_value(top, *source, true);
        } else if (to - from == 1) {
          put_value(top, series::element(source, from), true);
        } else {
          Cell* part = stack::push_unset();
          copy_part(*source, from, to - from, part);
          put_value(top, *part, true);
          stack::pop(1);
        }
      }
      stack::pop(1);
      break;
    }
    default: break;
  }
  return S_CHECK;
}

}  // namespace kez::parser
