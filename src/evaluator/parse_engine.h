// Shared between the files of the parse engine: command codes, input kinds,
// the literal matchers of its tight loops, and the state of one run, whose
// steps live in parse.cpp and (capture and collection) parse_capture.cpp.
//
// The text matchers never allocate or evaluate, so they read the input's
// buffer once per call; block input is compared element by element through
// the compare action, each element copied out first. Every step re-reads
// the rule block, the input and the stacks through their nodes.
#pragma once
#include <cstdint>

#include "foundation/casefold.h"
#include "foundation/unicode.h"
#include "values/block.h"
#include "values/cell.h"
#include "values/string.h"

namespace kez::parser {

// Command codes kept in the pair! of a command frame.
enum command : int32_t {
  CMD_REPEAT = -1,
  CMD_TO = -2,
  CMD_THRU = -3,
  CMD_COPY = -4,
  CMD_SET = -5,
  CMD_NOT = -6,
  CMD_INTO = -7,
  CMD_REMOVE = -9,
  CMD_WHILE = -11,
  CMD_COLLECT = -12,
  CMD_KEEP = -13,
  CMD_KEEP_PAREN = -14,
  CMD_AHEAD = -16,
  CMD_CHANGE = -17,
  CMD_CHANGE_ONLY = -18,
  CMD_CASE = -19,
};

inline bool is_any_block(uint32_t t) { return block::is_block_type(t); }
inline bool is_any_string(uint32_t t) { return string::is_string_type(t); }
inline bool is_input_type(uint32_t t) {
  return is_any_block(t) || is_any_string(t) || t == TYPE_BINARY;
}

// Elements of the input from its buffer's first element to its tail.
inline uint32_t input_length(const Cell* input) {
  series_buffer* b = GET_BUFFER(input);
  return b->used() / b->unit();
}

namespace match {

// The bits of a bitset, read in place.
struct bits_view {
  const uint8_t* bytes;
  uint32_t size;
  bool complement;
  explicit bits_view(const Cell* bitset) {
    series_buffer* b = GET_BUFFER(bitset);
    bytes = b->head_ptr();
    size = b->used();
    complement = (b->flags & SERIES_COMPLEMENT) != 0;
  }
  bool has(uint32_t c) const {
    uint32_t byte = c >> 3;
    if (byte >= size) return complement;
    return (bytes[byte] & (0x80 >> (c & 7))) != 0;
  }
};

// True when the element at `pos` (< the tail) of text or binary input
// matches the char! or bitset `value`. Binary input compares bytes as they
// are; a bitset always tests the unfolded character.
inline bool one_char(const Cell* input, uint32_t pos, const Cell* value, bool cs) {
  series_buffer* b = GET_BUFFER(input);
  uint32_t unit = b->unit();
  uint32_t c = unicode::get_char(b->head_ptr() + uint64_t(pos) * unit, unit);
  if (TYPE_OF(value) == TYPE_BITSET) return bits_view(value).has(c);
  if (cs || TYPE_OF(input) == TYPE_BINARY) return c == value->w2;
  uint32_t folded = unit < 4 ? case_folding::upper_table[c] : case_folding::to_upper(c);
  return folded == case_folding::to_upper(value->w2);
}

// Elements of `input` matched by the literal `value` at `pos` (pos < end),
// or -1. `end` bounds the match (the tail or the part limit).
int64_t literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* value, bool cs);

// Matches `value` again and again from `pos` (at most `max` times, -1 for no
// bound) and answers the count of matches; `pos` moves past them. An empty
// text matches once without moving.
int64_t repeat(const Cell* input, uint32_t& pos, uint32_t end, const Cell* value, bool cs,
               int64_t max);

// The first position at or after `pos` where `value` matches before `end`,
// or -1; `length` receives the matched length. -2: the value cannot be
// searched for in this kind of input.
int64_t search(const Cell* input, uint32_t pos, uint32_t end, const Cell* value, bool cs,
               uint32_t& length);

// True when the element at `pos` of a block input has the datatype, or a
// type in the typeset.
bool type_at(const Cell* input, uint32_t pos, const Cell* types);
bool type_in(uint32_t type, const Cell* types);

}  // namespace match

// The states of a run; each step answers the state that follows.
enum step : int32_t {
  S_FETCH,        // take the next rule value
  S_PROCESS,      // process the value in W_VALUE
  S_CHECK,        // after a match step
  S_FAIL,         // look for the next alternative
  S_POP_BLOCK,    // leave the current rule block
  S_POP_COMMAND,  // finish the command frame on top
  S_FINISH,       // the outermost block is done
  S_STOP,         // the trace callback asked to stop
  S_EXIT,         // a non-local exit is under way
};

// One run of the engine. Working cells live on the value stack (they never
// move and the collector sees them); everything else is indexes.
struct engine {
  enum : uint32_t {
    W_INPUT,     // the current input; its head index is the position
    W_RULE,      // the current rule block
    W_VALUE,     // the rule value being processed
    W_PAREN,     // the result of the last paren
    W_COPY,      // the value of the last `copy`
    W_CALLBACK,  // the trace function, or none
    W_RESULT,    // the outermost collected block
    W_COUNT,
  };
  Cell* w = nullptr;
  Cell* collect_base = nullptr;  // collect destinations are pushed from here
  int64_t ri = -1;               // rule pointer: absolute index in W_RULE
  uint32_t rbase = 0, ibase = 0;    // this run's first cells of the two stacks
  uint32_t saved_rhead = 0, saved_ihead = 0;
  uint32_t level = 0;            // `into` depth
  uint32_t limit = 0;
  int32_t collect_depth = 0;
  int32_t last_code = 0;         // code of the command frame popped last (0: a block)
  bool match = true;
  bool cs = false;
  bool has_limit = false;
  bool tracing = false;
  bool break_flag = false;
  bool collect_result = false;
  bool reached_tail = false;     // the last block popped was run to its tail
  bool from_word = false;        // W_VALUE is the value of a word
  bool done = false;             // the stacks were reset
  step halt = S_STOP;            // what a refused trace event leads to

  // Input.
  uint32_t pos() const { return w[W_INPUT].w1; }
  void set_pos(uint64_t p) {
    uint32_t n = input_length(&w[W_INPUT]);
    w[W_INPUT].w1 = p > n ? n : uint32_t(p);
  }
  uint32_t end() const {
    uint32_t n = input_length(&w[W_INPUT]);
    return level == 0 && has_limit && limit < n ? limit : n;
  }
  bool at_end() const { return pos() >= end(); }
  uint32_t rest() const {
    uint32_t n = input_length(&w[W_INPUT]);
    return pos() < n ? n - pos() : 0;
  }
  uint32_t input_type() const { return TYPE_OF(&w[W_INPUT]); }

  // Rules.
  int64_t rule_tail() const { return GET_BUFFER(&w[W_RULE])->used() / sizeof(Cell); }
  Cell rule_at(int64_t i) const { return cell_head(GET_BUFFER(&w[W_RULE]))[i]; }

  // Frames of the rule stack.
  Cell* top_frame() const;
  uint32_t frame_cells() const;
  bool top_is_command() const { return TYPE_OF(top_frame() + 2) == TYPE_PAIR; }
  int32_t top_code() const { return int32_t(top_frame()[2].w2); }
  void push_frame(const Cell& a, const Cell& b, const Cell& c);
  void drop_frame();
  Cell position_triple(int64_t offset) const;

  // Errors: the stacks are reset first.
  [[noreturn]] void raise(int id, const Cell* arg = nullptr);
  void reset();

  // Events and user code.
  bool trace(const Cell& event);
  bool eval_paren(const Cell& paren);  // false: a non-local exit
  void after_user_code();
  // A word's value, or nullptr when it has none.
  bool word_value(const Cell& word, Cell& out) const;
  bool is_input_series(const Cell& v) const;

  // Steps.
  step enter_block(const Cell& block);
  step fetch();
  step process();
  step check() { return top_is_command() ? S_POP_COMMAND : match ? S_FETCH : S_FAIL; }
  step fail();
  step pop_block();
  step pop_command();
  step keyword(const Cell& word);
  step command_rule(bool literal_word);
  step push_command(int32_t code, int32_t extra, const Cell& first, int64_t rule_index,
                    const Cell& keyword);
  step begin_rule(int32_t code, int64_t rule_index, const Cell& keyword);
  step literal_step(const Cell& value);
  bool repeat_literal(int32_t min, int32_t max);
  step type_step(const Cell& types);
  step count_step(const Cell& count);

  // Capture, modification and collection (parse_capture.cpp).
  step remove_keyword(const Cell& word);
  step insert_keyword(const Cell& word);
  step change_keyword(const Cell& word);
  step collect_keyword(const Cell& word);
  step keep_keyword(const Cell& word);
  // The frame on top is one of theirs: does its work (the caller pops it).
  step pop_capture(int32_t code);
};

// The rule stack and the input stack (blocks; their head is the current
// run's first cell).
extern Cell rule_stack;
extern Cell input_stack;

}  // namespace kez::parser
