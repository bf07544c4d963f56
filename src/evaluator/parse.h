// The parse engine: matches a series against a block of grammar rules.
//
// One run is an iterative state machine over two stacks of its own, the
// rule stack (frames of three cells) and the input stack (one series a
// level of `into`), so nesting is bounded by those stacks and never by the
// machine stack. The stacks are shared by nested runs (a parse called from a
// paren or trace callback of another parse): a run starts past what the
// enclosing one holds and leaves both stacks as it found them, whether it
// ends normally, by an error or by a non-local exit.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::parser {

// The most cells either stack may hold for one run.
constexpr uint32_t STACK_LIMIT = 10000;

// Makes the two stacks (once; `run` also calls it).
void init();

// Runs `rules` over `input`. `has_limit` bounds matching at the absolute
// index `limit` of the input (at least the input's position). `callback` is
// the trace function! or nullptr. The result (logic!, or the block the
// outermost `collect` produced) is written to `result`, a cell the collector
// reaches. Returns false when a break, return or other non-local exit left a
// paren or the callback: the caller returns at once.
bool run(Cell* result, const Cell* input, const Cell* rules, bool case_sensitive, bool has_limit,
         uint32_t limit, const Cell* callback);

}  // namespace kez::parser
