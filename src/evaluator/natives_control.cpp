// Conditionals and loops.
//
// Loops open a loop frame named <body> and clear it before each body
// evaluation, so that the body's value lands in the frame's result slot.
// After a body, a pending break or continue that landed on the loop's own
// frame is taken; anything else pending passes on at once.
#include <algorithm>

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/image.h"
#include "types/map.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/number_support.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// A float! count becomes an integer! by truncation toward zero; a float
// outside 32 bits (or NaN) raises out-of-range rather than quietly running
// no iteration.
int32_t loop_count(Cell* c) {
  if (TYPE_OF(c) == TYPE_FLOAT) {
    double d = get_float(c);
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
      Cell v = *c;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
    *c = make_integer(int32_t(d));
  }
  return get_integer(c);
}

stack::call_frame* open_loop() {
  stack::open_loop_frame(&words::body_marker_word);
  *stack::arguments = unset_value;
  stack::top = stack::arguments + 1;
  return stack::top_frame();
}

// The series forall accepts: the block kinds, strings and their kin,
// binary, vector and image.
bool is_series(uint32_t t) {
  return block::is_block_type(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE;
}

bool more(const Cell* series) {
  uint32_t t = TYPE_OF(series);
  if (t == TYPE_IMAGE) return series->w1 < image::pixel_count(series);
  series_buffer* b = GET_BUFFER(series);
  return uint64_t(series->w1) * b->unit() < b->used();
}

// Sets `word` to the element at the series head and steps it.
void foreach_next(Cell* series, Cell* word) {
  Cell v;
  if (TYPE_OF(series) == TYPE_BLOCK) {
    v = block::rs_head(series)[0];
  } else {
    Cell* probe = stack::push(*series);
    actions::get_pick(probe)(probe, 1, nullptr);
    v = *probe;
    stack::pop(1);
  }
  word::set(word, &v);
  series->w1++;
}

// The loop words may be word!, set-word!, lit-word! or get-word!.
bool is_loop_word(uint32_t t) { return word::is_any_word(t) && t != TYPE_REFINEMENT; }

void check_loop_words(const Cell* words) {
  Cell list = *words;
  int32_t n = block::rs_length(&list);
  for (int32_t i = 0; i < n; i++) {
    Cell w = block::rs_head(&list)[i];
    if (!is_loop_word(TYPE_OF(&w))) fire(err::SCRIPT, err::script::INVALID_ARG, &w);
  }
}

}  // namespace

void set_many(const Cell* words, const Cell* values, int32_t count, bool any, bool only,
              bool some);

namespace {

// The loop words stored straight into their slots, as set_many would store
// them, when no word is an object's (no owner to tell) and every word has
// a slot and its value is not unset (which raises); false, with nothing
// set, otherwise.
bool set_plain(const Cell* words, const Cell* series, int32_t n) {
  constexpr int32_t MOST = 8;
  if (n > MOST) return false;
  series_buffer* wb = GET_BUFFER(words);
  if (words->w1 + uint32_t(n) > wb->used() / sizeof(Cell)) return false;
  const Cell* w = cell_head(wb) + words->w1;
  series_buffer* sb = GET_BUFFER(series);
  uint32_t left = sb->used() / sizeof(Cell) - series->w1;
  const Cell* v = cell_head(sb) + series->w1;
  Cell* slots[MOST];
  for (int32_t i = 0; i < n; i++) {
    if (!is_loop_word(TYPE_OF(&w[i])) || !w[i].w1 || w[i].w3 == context::NO_INDEX ||
        context::kind(w[i].w1) == CONTEXT_OBJECT)
      return false;
    if (uint32_t(i) < left && TYPE_OF(&v[i]) == TYPE_UNSET) return false;
    Cell* vals = context::values(w[i].w1);
    if (!vals) return false;
    slots[i] = vals + w[i].w3;
  }
  for (int32_t i = 0; i < n; i++) *slots[i] = uint32_t(i) < left ? v[i] : none_value;
  return true;
}

// Sets the n loop words from the series head and moves the head n further
// (also when fewer than n elements were left); false at the end.
bool foreach_next_multi(Cell* series, Cell* words, int32_t n) {
  uint32_t t = TYPE_OF(series);
  if (t == TYPE_MAP) {
    if (n != 2) fire(err::SCRIPT, err::script::INVALID_ARG, words);
    if (!map::foreach_step(words, series, n)) return false;
  } else if (block::is_block_type(t)) {
    if (!set_plain(words, series, n)) set_many(words, series, n, false, false, false);
  } else {
    for (int32_t i = 0; i < n && i < block::rs_length(words); i++) {
      Cell* probe = stack::push(*series);
      actions::get_pick(probe)(probe, i + 1, nullptr);
      Cell v = *probe;
      stack::pop(1);
      Cell w = block::rs_head(words)[i];
      word::set(&w, &v);
    }
  }
  series->w1 += uint32_t(n);
  return true;
}

// One step of foreach or remove-each: n words of a block, or the single
// word when n is 0.
bool step(Cell* series, Cell* words, int32_t n) {
  if (!more(series)) return false;
  if (n == 0) {
    foreach_next(series, words);
    return true;
  }
  return foreach_next_multi(series, words, n);
}

// What foreach and remove-each step through: cells below the loop's frame,
// which nothing here moves. `width`: the values remove-each takes out.
struct stepping {
  Cell* series;
  Cell* words;
  int32_t n;
  uint32_t width;
};

// step() as run_loop calls it.
bool step_on(void* state) {
  auto* s = static_cast<stepping*>(state);
  return step(s->series, s->words, s->n);
}

// The number of loop words (0 for a single word), after the checks.
int32_t loop_words(Cell* words, const Cell* series) {
  if (TYPE_OF(words) != TYPE_BLOCK) {
    if (TYPE_OF(series) == TYPE_MAP) fire(err::SCRIPT, err::script::INVALID_ARG, words);
    return 0;
  }
  int32_t n = block::rs_length(words);
  if (n < 1) fire(err::SCRIPT, err::script::INVALID_ARG, words);
  check_loop_words(words);
  return n;
}

}  // namespace

// Sets each word of `words` to the matching value (pick i, none past the
// end), or every word to `values` itself when it is no block or `only`.
// Every element must be a word kind, whatever the values.
void set_many(const Cell* words_in, const Cell* values_in, int32_t count, bool any, bool only,
              bool some) {
  Cell words = *words_in;
  Cell values = *values_in;
  bool spread = block::is_block_type(TYPE_OF(&values)) && !only;
  int32_t nvalues = spread ? block::rs_length(&values) : 0;
  count = std::min(count, block::rs_length(&words));
  for (int32_t i = 0; i < count; i++) {
    Cell w = block::rs_head(&words)[i];
    if (!is_loop_word(TYPE_OF(&w))) fire(err::SCRIPT, err::script::INVALID_ARG, &w);
    if (spread && i < nvalues && !any && TYPE_OF(block::rs_head(&values) + i) == TYPE_UNSET)
      fire(err::SCRIPT, err::script::NEED_VALUE, &w);
  }
  // An on-change handler run by word::set may change either block: both
  // are measured again before each read.
  for (int32_t i = 0; i < count && i < block::rs_length(&words); i++) {
    Cell w = block::rs_head(&words)[i];
    Cell v = !spread ? values
             : i < block::rs_length(&values) ? block::rs_head(&values)[i]
                                              : none_value;
    if (some && TYPE_OF(&v) == TYPE_NONE) continue;
    word::set(&w, &v);
    if (i < block::rs_length(&words)) block::rs_head(&words)[i] = w;
  }
}

void if_star(bool, const int32_t*) {
  if (logic::falsy(arg(0))) {
    stack::top = arg(0) + 1;
    none::box();
    return;
  }
  Cell body = *arg(1);
  interpreter::run_block(&body, false);
}

void unless_star(bool, const int32_t*) {
  if (!logic::falsy(arg(0))) {
    stack::top = arg(0) + 1;
    none::box();
    return;
  }
  Cell body = *arg(1);
  interpreter::run_block(&body, false);
}

void either_star(bool, const int32_t*) {
  Cell body = logic::true_q() ? *arg(1) : *arg(2);
  interpreter::run_block(&body, false);
}

void any_star(bool, const int32_t*) {
  Cell* code = stack::push(*arg(0));
  uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
  uint32_t i = code->w1;
  while (i < end) {
    i = interpreter::eval_next(code, i, end, true);
    if (stack::pending()) return;
    Cell* v = stack::top - 1;
    if (!logic::falsy(v)) {
      *arg(0) = *v;
      stack::top = arg(0) + 1;
      return;
    }
    stack::pop(1);
    end = std::min<uint32_t>(end, GET_BUFFER(code)->used() / sizeof(Cell));
  }
  stack::top = arg(0) + 1;
  none::box();
}

void all_star(bool, const int32_t*) {
  Cell* code = stack::push(*arg(0));
  uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
  uint32_t i = code->w1;
  if (i >= end) {
    stack::top = arg(0) + 1;
    none::box();
    return;
  }
  Cell last = none_value;
  while (i < end) {
    i = interpreter::eval_next(code, i, end, true);
    if (stack::pending()) return;
    last = *(stack::top - 1);
    stack::pop(1);
    if (logic::falsy(&last)) {
      stack::top = arg(0) + 1;
      none::box();
      return;
    }
    end = std::min<uint32_t>(end, GET_BUFFER(code)->used() / sizeof(Cell));
  }
  *arg(0) = last;
  stack::top = arg(0) + 1;
}

void while_star(bool, const int32_t*) {
  Cell cond = *arg(0), body = *arg(1);
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, -1, &cond) == 1) return;
  stack::pop_frame_return();
  unset::box();
}

void until_star(bool, const int32_t*) {
  Cell body = *arg(0);
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, -1, nullptr, nullptr, nullptr, true) == 1) return;
  stack::pop_frame_return();
}

void loop_star(bool, const int32_t*) {
  int32_t count = loop_count(arg(0));
  if (count <= 0) {
    none::box();
    return;
  }
  Cell body = *arg(1);
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, count) == 1) return;
  stack::pop_frame_return();
}

void repeat_star(bool, const int32_t*) {
  int32_t count = loop_count(arg(1));
  if (count <= 0) {
    none::box();
    return;
  }
  Cell body = *arg(2);
  *arg(1) = make_integer(0);
  // Each step counts on and sets the word (the counter is a cell of the
  // frame, the word a copy: nothing here moves).
  struct counting {
    Cell word;
    Cell* counter;
  } state{*arg(0), arg(1)};
  auto next = [](void* p) {
    auto* c = static_cast<counting*>(p);
    c->counter->w2++;
    word::set(&c->word, c->counter);
    return true;
  };
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, count, nullptr, next, &state) == 1) return;
  stack::pop_frame_return();
}

void forever_star(bool, const int32_t*) {
  Cell body = *arg(0);
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, -1) == 1) return;
  stack::pop_frame_return();
}

void foreach_star(bool, const int32_t*) {
  Cell* series = stack::push(*arg(1));
  Cell* words = stack::push(*arg(0));
  Cell body = *arg(2);
  int32_t n = loop_words(words, series);
  stepping state{series, words, n, 0};
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, -1, nullptr, step_on, &state) == 1) return;
  stack::pop_frame_return();
}

void forall_star(bool, const int32_t*) {
  Cell word = *arg(0), body = *arg(1);
  const Cell* v = context::get(&word);
  if (TYPE_OF(v) == TYPE_UNSET) fire(err::SCRIPT, err::script::NO_VALUE, &word);
  Cell* start = stack::push(*v);
  if (!is_series(TYPE_OF(start))) numbers::expect_arg(start, "word");
  stack::push(word);
  // Each step but the first moves the word's series on (the body may have
  // set it to anything), then tests for more.
  struct walking {
    Cell word;
    const Cell* start;  // a cell below the loop's frame: nothing here moves
    bool started;
  } state{word, start, false};
  auto next = [](void* p) {
    auto* w = static_cast<walking*>(p);
    if (w->started) {
      Cell* now = context::get(&w->word);
      if (!is_series(TYPE_OF(now)) || now->w2 != w->start->w2) {
        Cell bad = *now;
        fire(err::SCRIPT, err::script::BAD_LOOP_SERIES, &bad);
      }
      now->w1++;
    }
    w->started = true;
    return more(context::get(&w->word));
  };
  stack::call_frame* loop = open_loop();
  uint32_t r = interpreter::run_loop(&body, loop, -1, nullptr, next, &state);
  if (r == 1) return;
  if (r != RAISE_BREAK) word::set(&word, start);
  stack::pop_frame_return();
}

void remove_each_star(bool, const int32_t*) {
  Cell* series = stack::push(*arg(1));
  Cell* words = stack::push(*arg(0));
  Cell body = *arg(2);
  int32_t n = loop_words(words, series);
  stepping state{series, words, n, uint32_t(n ? n : 1)};
  // A truthy value of the body removes the values it was given.
  auto judge = [](void* p) {
    auto* r = static_cast<stepping*>(p);
    if (logic::falsy(stack::arguments)) return true;
    uint32_t back = std::min<uint32_t>(r->series->w1, r->width);
    r->series->w1 -= back;
    Cell* target = stack::push(*r->series);
    Cell part = make_integer(int32_t(back));
    actions::get_remove(target)(target, back > 1 ? &part : nullptr, nullptr);
    r->series->w1 = target->w1;
    stack::pop(1);
    return true;
  };
  stack::call_frame* loop = open_loop();
  if (interpreter::run_loop(&body, loop, -1, nullptr, step_on, &state, false, judge) == 1) return;
  stack::pop_frame_return();
  // The result is the series at its starting position.
  *arg(0) = *arg(1);
  stack::top = arg(0) + 1;
}

void switch_star(bool, const int32_t* refs) {
  Cell value = *arg(0);
  Cell cases = *arg(1);
  Cell found = unset_value;
  if (TYPE_OF(&value) != TYPE_BLOCK) {
    int32_t n = block::rs_length(&cases);
    for (int32_t i = 0; i < n && TYPE_OF(&found) == TYPE_UNSET; i++) {
      Cell c = block::rs_head(&cases)[i];
      if (TYPE_OF(&c) != TYPE_OF(&value) || !actions::compare(&c, &value, COMP_EQUAL)) continue;
      for (int32_t k = i + 1; k < n; k++) {
        if (TYPE_OF(block::rs_head(&cases) + k) == TYPE_BLOCK) {
          found = block::rs_head(&cases)[k];
          break;
        }
      }
      break;
    }
  }
  if (TYPE_OF(&found) == TYPE_BLOCK) {
    interpreter::run_block(&found, false);
  } else if (refs[0] >= 0) {
    Cell body = stack::arguments[refs[0]];
    interpreter::run_block(&body, false);
  } else {
    none::box();
  }
}

void case_star(bool, const int32_t* refs) {
  bool all = refs[0] >= 0;
  Cell* code = stack::push(*arg(0));
  uint32_t end = GET_BUFFER(code)->used() / sizeof(Cell);
  uint32_t i = code->w1;
  if (i >= end) {
    none::box();
    return;
  }
  stack::open_native_frame(&words::anon_marker_word);
  Cell result = none_value;
  bool found = false;
  while (i < end) {
    found = false;
    i = interpreter::eval_next(code, i, end, true);
    if (stack::pending()) return;
    if (i >= end) {
      Cell w = word::make_global(words::case_);
      fire(err::SCRIPT, err::script::NEED_VALUE, &w);
    }
    Cell cond = *(stack::top - 1);
    stack::pop(1);
    if (TYPE_OF(&cond) == TYPE_UNSET) fire(err::SCRIPT, err::script::NO_RETURN);
    if (logic::falsy(&cond)) {
      i++;
      continue;
    }
    Cell next = *block::rs_abs_at(code, i);
    if (TYPE_OF(&next) == TYPE_BLOCK) {
      interpreter::run_block(&next, true);
      if (stack::pending()) return;
      result = *(stack::top - 1);
      stack::pop(1);
      i++;
    } else {
      i = interpreter::eval_next(code, i, end, true);
      if (stack::pending()) return;
      result = *(stack::top - 1);
      stack::pop(1);
    }
    found = true;
    if (!all) break;
    end = std::min<uint32_t>(end, GET_BUFFER(code)->used() / sizeof(Cell));
  }
  stack::pop_frame();
  *arg(0) = found ? result : none_value;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
