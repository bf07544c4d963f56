// Helpers of the value tests: calling actions on cells, their text, and
// catching the errors they raise.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "test_support.h"
#include "values/block.h"
#include "values/cell.h"
#include "values/string.h"
#include "values/words.h"

namespace kez::test {

// The error a body raises: {category, id}, or {-1, -1} when it returns.
// The body runs under a try frame, so the evaluator's unwinding finds one.
template <class F>
fired raised(F&& body) {
  stack::mark m;
  Cell w = words::try_word;
  stack::open_try_frame(&w);
  last_fire = {};
  uint32_t code = runtime::catch_region(RAISE_ERROR, [&] { body(); });
  m.restore();
  runtime::rt.thrown = 0;
  return code ? last_fire : fired{};
}

inline bool raises(fired f, int category, int id) { return f.category == category && f.id == id; }

// An action with two value arguments (add, and~ ...) on copies; the result.
inline Cell act2(int action, Cell a, Cell b) {
  auto f = reinterpret_cast<add_fn>(actions::table[TYPE_OF(&a)][action]);
  return *f(&a, &b);
}
inline Cell act1(int action, Cell a) {
  auto f = reinterpret_cast<negate_fn>(actions::table[TYPE_OF(&a)][action]);
  return *f(&a);
}

// mold and form text, the value kept on the value stack meanwhile.
inline std::string mold_text(const Cell& v, bool all = false, bool only = false,
                             int32_t part = 0x7FFFFFFF) {
  Cell* saved = stack::top;
  Cell* held = stack::push(v);
  Cell* out = string::push_new(16);
  actions::mold(held, out, only, all, false, part, 0);
  std::string s = string::to_utf8(out);
  stack::top = saved;
  return s;
}
inline std::string form_text(const Cell& v) {
  Cell* saved = stack::top;
  Cell* held = stack::push(v);
  Cell* out = string::push_new(16);
  actions::form(held, out, 0x7FFFFFFF);
  std::string s = string::to_utf8(out);
  stack::top = saved;
  return s;
}

// A block of the values, pushed on the value stack (callers reset the top).
inline Cell* push_block(std::initializer_list<Cell> values) {
  Cell* b = block::push_only(int32_t(values.size()));
  for (const Cell& v : values) block::rs_append(b, &v);
  return b;
}

// A string! from UTF-8, pushed on the value stack.
inline Cell* push_string(const std::string& utf8) {
  Cell* s = string::push_new(uint32_t(utf8.size() + 1));
  string::append_utf8(s, utf8);
  return s;
}

}  // namespace kez::test
