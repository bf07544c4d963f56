// The interpreter: evaluates blocks expression by expression.
//
// Positions are indexes into the code block (never addresses: evaluation
// can grow or move any buffer, the code block included). Each expression
// leaves its value either in the current result slot (keep false) or as a
// new top cell (keep true). After every evaluation callers test
// stack::pending() and return at once when a non-local exit is under way.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::stack {
struct call_frame;
}

namespace kez::interpreter {

// The block being evaluated, its head at the current expression: errors
// take their `near` from it, the collector marks it.
extern Cell current;
// The function! given to do/trace, or unset!.
extern Cell tracer;
extern bool tracing;

void init();

// Opens a block frame, evaluates the block from its head to its tail and
// pops the frame: chain false leaves the result as the top cell, chain true
// copies it into the caller's result slot. An empty block yields unset!.
void eval_block(const Cell* block, bool chain);
// As eval_block, where the block's own frame could be seen by no one (a
// branch, a loop body, a function body): untraced, the block is evaluated
// in the caller's frame, each value pushed above its cells and dropped
// before the next. keep true pushes the result, false (chain) copies it
// into the caller's result slot with top just above it.
void run_block(const Cell* block, bool keep);
// Runs a loop body `count` times (forever when negative) as run_block does
// with keep false, in the open loop frame `loop`, whose result slot takes
// each value. Before each run, `step` (when given) is called with `state`
// and false from it ends the loop; then a `condition` block (when given)
// runs and a falsy value ends the loop (a break or continue in it raises).
// With `until`, a truthy value of the body ends the loop. After each run of
// the body that ends without an exit (a continue skips it), `after` (when
// given) is called with `state`, and false from it ends the loop. A break or
// continue that lands on `loop` is taken. Returns 0 when the loop ended,
// RAISE_BREAK on a break, and 1 when another exit is pending (the caller
// returns at once).
using loop_step = bool (*)(void* state);
uint32_t run_loop(const Cell* body, stack::call_frame* loop, int32_t count,
                  const Cell* condition = nullptr, loop_step step = nullptr,
                  void* state = nullptr, bool until = false, loop_step after = nullptr);
// Evaluates one expression (with infix lookahead) in an evaluated native
// frame; keep true leaves the result on the stack, false writes it to the
// caller's result slot. Returns the index after the expression.
uint32_t eval_next(const Cell* block, uint32_t index, uint32_t end, bool keep);
// The simple expressions of `block` from `index`, one after another: each
// a value that needs no evaluation (a word holding one included), then only
// operators on integers computed in place. They have no effect and cannot
// fail, so they need no frame nor a position for errors. Their values are
// written to `out` (room for `room`) until an expression that is not simple,
// `end` or the room is reached; `index` moves past them and the number of
// values is returned. None while tracing (every step is an event): the
// caller evaluates by eval_next.
uint32_t simple_expressions(const Cell* block, uint32_t& index, uint32_t end, Cell* out,
                            uint32_t room);
// do/next: unset! at the tail; returns the index after the expression.
uint32_t eval_single(const Cell* block);
// One expression from `index`; returns the index after it.
uint32_t eval_expression(const Cell* code, uint32_t index, uint32_t end, bool no_infix, bool keep,
                         bool literal_functions);
// Calls a function! whose arguments are already in the current frame.
void call_function(const Cell* fn, node_t ctx, const Cell* name, uint32_t callback_kind);
// Calls any function value with its arguments taken from `code` at `index`.
uint32_t call_any_function(const Cell* fn, const Cell* code, uint32_t index, uint32_t end,
                           bool keep, const Cell* path, const Cell* name, const Cell* parent,
                           int32_t mode, bool infix);
// The operator the evaluator computes in place for two numbers, for an
// op! wrapping the function of type `wrapped` and id `id`: 0 for none. An
// op! keeps it in its header (OP_QUICK_SHIFT) from the moment it is made.
uint32_t quick_kind(uint32_t wrapped, uint32_t id);
// Evaluates a path (set: the value is the current result slot).
uint32_t eval_path(const Cell* path, const Cell* code, uint32_t index, uint32_t end, bool set,
                   bool get, bool keep, bool option);

}  // namespace kez::interpreter
