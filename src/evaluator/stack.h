// The value stack and the call frames.
//
// Every call passes its arguments and result through one array of cells and
// records itself in a parallel array of frames. `arguments` is the current
// frame's first cell: its result slot and first argument at once; argument i
// is arguments + i. Both arrays are fixed buffers that never move, so Cell*
// into the stack stay valid; frames hold cell indexes, not addresses.
//
// Non-local exits: errors unwind with runtime_throw{RAISE_ERROR} after
// `raise_error` has walked the frames to the nearest try frame. break,
// continue, return, exit and throw walk the frames to their target at once,
// leave the carried value in place and set `raise_code`; every C++ caller
// that evaluates code checks `pending()` after each evaluation and returns
// at once, without touching the stack, until the target takes the code.
#pragma once
#include <cstdint>

#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "values/cell.h"
#include "values/error_ids.h"
#include "values/words.h"

namespace kez::stack {

enum frame_kind : uint32_t {
  FRAME_FUNCTION = 1,
  FRAME_NATIVE = 2,
  FRAME_TRY = 4,
  FRAME_TRY_ALL = 5,
  FRAME_CATCH = 6,
  FRAME_BLOCK = 7,
  FRAME_LOOP = 8,
};

enum : uint32_t {
  FRAME_KIND_SHIFT = 24,
  FRAME_KIND_MASK = 0x0F000000,
  FRAME_RETURN_TARGET = 1u << 28,
  FRAME_EVALUATED = 1u << 31,
  FRAME_SYMBOL_SHIFT = 0,
  FRAME_SYMBOL_MASK = 0x00FFFFFF,
};

// The header keeps the symbol in its low bits, so that opening a frame
// joins it to the kind with one `or`; `saved_args` is a byte offset, so
// that neither opening nor popping scales it.
struct call_frame {
  uint32_t header;          // symbol (bits 0-23), kind (24-27), flags
  uint32_t saved_args;      // byte offset of the caller's `arguments` from bottom
  node_t word_context;      // context of the naming word
  node_t function_context;  // function frame's context, or 0
  uint32_t saved_values;    // that context's values (stack index + 1), or 0

  uint32_t kind() const { return (header & FRAME_KIND_MASK) >> FRAME_KIND_SHIFT; }
  uint32_t symbol() const { return (header & FRAME_SYMBOL_MASK) >> FRAME_SYMBOL_SHIFT; }
};

extern Cell* bottom;
extern Cell* top;
extern Cell* arguments;
extern Cell* cells_limit;
extern call_frame* frames_bottom;
extern call_frame* frames_top;
extern call_frame* frames_limit;
extern call_frame* raise_frame;
extern uint32_t raise_code;  // pending break/continue/return/exit/throw, else 0
extern Cell stack_block;     // the blocks whose buffers hold the two stacks
extern Cell frames_block;

void init();

[[noreturn]] void overflow();

inline bool pending() { return raise_code != 0; }

inline uint32_t index_of(const Cell* c) { return uint32_t(c - bottom); }
inline Cell* at_index(uint32_t i) { return bottom + i; }
inline uint32_t offset_of(const Cell* c) {
  return uint32_t(reinterpret_cast<const char*>(c) - reinterpret_cast<const char*>(bottom));
}
inline Cell* at_offset(uint32_t o) {
  return reinterpret_cast<Cell*>(reinterpret_cast<char*>(bottom) + o);
}

// Cells.
inline Cell* push_new() {
  Cell* c = top++;
  if (top >= cells_limit) overflow();
  return c;
}
inline Cell* push(const Cell* v) {
  Cell* c = push_new();
  *c = *v;
  return c;
}
inline Cell* push(const Cell& v) { return push(&v); }
inline Cell* push_unset() { return push(make_unset()); }
inline void pop(uint32_t n) { top = (top - bottom) < ptrdiff_t(n) ? bottom : top - n; }
inline Cell* set_last(const Cell* v) {
  *arguments = *v;
  return arguments;
}
inline Cell* set_last(const Cell& v) { return set_last(&v); }
inline Cell* set_last_clear(const Cell* v) {
  *arguments = *v;
  top = arguments + 1;
  return arguments;
}
inline Cell* clear_frame() {
  top = arguments;
  return arguments;
}
inline void clear_frame_to_result() { top = arguments + 1; }
inline Cell* top_cell() { return top == bottom ? bottom : top - 1; }
inline uint32_t top_type() { return TYPE_OF(top_cell()); }
inline Cell* arg(int i) { return arguments + i; }
void settle_try_result();

// Frames. `word` names the call (its symbol and context); nullptr for none.
// Opening and popping are on every call path: they are always inline (the
// optimiser left them out of line in the evaluator's calls), and only the
// overflow is out of line.
[[noreturn]] void frames_overflow();
// A frame's first three fields: the caller fills the function's two.
inline __attribute__((always_inline)) call_frame* open_frame_head(const Cell* word,
                                                                  uint32_t kind_and_flags) {
  if (frames_top >= frames_limit) [[unlikely]]
    frames_overflow();
  call_frame* f = frames_top++;
  uint32_t sym = word ? word->w2 : words::anon_marker;
  f->header = (sym << FRAME_SYMBOL_SHIFT) | kind_and_flags;
  f->saved_args = offset_of(arguments);
  f->word_context = word ? word->w1 : 0;
  arguments = top;
  return f;
}
inline __attribute__((always_inline)) call_frame* open_frame(const Cell* word, uint32_t kind_and_flags) {
  call_frame* f = open_frame_head(word, kind_and_flags);
  f->function_context = 0;
  f->saved_values = 0;
  return f;
}
inline call_frame* top_frame() { return frames_top - 1; }
inline void set_frame_top(call_frame* f) { frames_top = f; }
// Each field is written once: a function frame opens on every call.
inline __attribute__((always_inline)) void open_with_context(const Cell* word, node_t context, uint32_t flags) {
  call_frame* f = open_frame_head(word, (FRAME_FUNCTION << FRAME_KIND_SHIFT) | flags);
  f->function_context = context;
  f->saved_values = context ? cells_of(memory::buffer(context))->w2 : 0;
}
// The frame of a function! value, whose context is never 0.
inline __attribute__((always_inline)) void open_function_value_frame(const Cell* word,
                                                                     node_t context) {
  call_frame* f = open_frame_head(word, (FRAME_FUNCTION << FRAME_KIND_SHIFT) | FRAME_EVALUATED);
  f->function_context = context;
  f->saved_values = cells_of(memory::buffer(context))->w2;
}
inline void open_function_frame(const Cell* word, node_t context) {
  open_with_context(word, context, 0);
}
inline void open_eval_function_frame(const Cell* word, node_t context) {
  open_with_context(word, context, FRAME_EVALUATED);
}
inline void open_native_frame(const Cell* w) { open_frame(w, FRAME_NATIVE << FRAME_KIND_SHIFT); }
inline void open_eval_native_frame(const Cell* w) {
  open_frame(w, (FRAME_NATIVE << FRAME_KIND_SHIFT) | FRAME_EVALUATED);
}
inline void open_try_frame(const Cell* w) { open_frame(w, FRAME_TRY << FRAME_KIND_SHIFT); }
inline void open_try_all_frame(const Cell* w) { open_frame(w, FRAME_TRY_ALL << FRAME_KIND_SHIFT); }
inline void open_catch_frame(const Cell* w) { open_frame(w, FRAME_CATCH << FRAME_KIND_SHIFT); }
inline void open_block_frame(const Cell* w) {
  open_frame(w, (FRAME_BLOCK << FRAME_KIND_SHIFT) | FRAME_EVALUATED);
}
inline void open_loop_frame(const Cell* w) { open_frame(w, FRAME_LOOP << FRAME_KIND_SHIFT); }
void enter_function(const Cell* word, node_t context);

void set_return_target(bool flag);
void set_evaluated_flag();
call_frame* claim_return_target();
void release_return_target(call_frame* f);
bool eval_q(call_frame* frame, bool one_level);

inline __attribute__((always_inline)) void pop_frame() {
  call_frame* f = --frames_top;
  top = arguments + 1;
  arguments = at_offset(f->saved_args);
}
inline __attribute__((always_inline)) void pop_function_frame() {
  call_frame* f = frames_top - 1;
  pop_frame();
  if (f->function_context) cells_of(memory::buffer(f->function_context))->w2 = f->saved_values;
}
// Pops open_function_value_frame's frame, `context` being the one it opened with.
inline __attribute__((always_inline)) void pop_function_value_frame(node_t context) {
  call_frame* f = frames_top - 1;
  pop_frame();
  cells_of(memory::buffer(context))->w2 = f->saved_values;
}
inline void pop_frame_return() {
  Cell* result = arguments;
  pop_frame();
  *arguments = *result;
}
inline void pop_function_frame_return() {
  Cell* result = arguments;
  pop_function_frame();
  *arguments = *result;
}
inline void pop_frame_clear() {
  call_frame* f = --frames_top;
  arguments = at_offset(f->saved_args);
  top = arguments;
}
inline void pop_function_frame_clear() {
  call_frame* f = frames_top - 1;
  pop_frame_clear();
  if (f->function_context) cells_of(memory::buffer(f->function_context))->w2 = f->saved_values;
}
void pop_frame_drop();

// Non-local exits.
[[noreturn]] void raise_error(Cell* error);
// break (value: the /return value, or nullptr) and continue.
void raise_break(const Cell* value, bool is_continue);
// return (with its value) and exit (value nullptr).
void raise_exit(const Cell* value);
// throw: the thrown value and its name are the frame's first two cells.
void raise_throw();
// When a break or continue (or, for functions, return/exit) has landed on
// `frame`, takes it: clears the code and returns it; else returns 0.
uint32_t take_exit(call_frame* frame, uint32_t first_code, uint32_t last_code);

// Call traces and error locations.
Cell get_call_word();
void set_error_frame(Cell* error);
void collect_frame_words(int32_t level, Cell* block, uint32_t end_frame);
int32_t form_call_trace(int32_t level, const Cell* stack_field, Cell* out, int32_t part);
void collect_calls(Cell* block);
void mark_frames(void (*mark_context)(node_t), void (*mark_block)(node_t));

// Saves the stack state at a boundary that catches errors (try, the console):
// restore() puts arguments, top and the frame top back.
struct mark {
  uint32_t args = index_of(arguments);
  uint32_t cells = index_of(top);
  call_frame* frames = frames_top;
  void restore() const {
    arguments = at_index(args);
    top = at_index(cells);
    frames_top = frames;
  }
};

// Values of a stack context: word 2 of its context! cell is a stack index + 1.
inline Cell* stack_values(uint32_t encoded) { return encoded ? bottom + (encoded - 1) : nullptr; }
inline uint32_t encode_values(const Cell* c) { return uint32_t(c - bottom) + 1; }

}  // namespace kez::stack
