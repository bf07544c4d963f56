// The native table: the built-in functions the evaluator implements itself.
//
// A native! cell's w1 is its 1-based position in `table`. An entry reads its
// arguments from the current frame (stack::arguments + i, in spec order;
// position 0 is also the result slot) and receives one integer per
// refinement of its spec: -1 when unused, else the frame position at which
// the refinement's arguments begin. `check` asks it to type-check its
// arguments against its spec (the interpreter has checked already and
// passes false).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <new>

#include "values/cell.h"

namespace kez::natives {

// The natives by id: X(id, entry function, word).
#define KEZ_NATIVES(X) \
  X(1, if_star, "if") \
  X(2, unless_star, "unless") \
  X(3, either_star, "either") \
  X(4, any_star, "any") \
  X(5, all_star, "all") \
  X(6, while_star, "while") \
  X(7, until_star, "until") \
  X(8, loop_star, "loop") \
  X(9, repeat_star, "repeat") \
  X(10, forever_star, "forever") \
  X(11, foreach_star, "foreach") \
  X(12, forall_star, "forall") \
  X(13, remove_each_star, "remove-each") \
  X(14, func_star, "func") \
  X(15, function_star, "function") \
  X(16, does_star, "does") \
  X(17, has_star, "has") \
  X(18, switch_star, "switch") \
  X(19, case_star, "case") \
  X(20, do_star, "do") \
  X(21, get_star, "get") \
  X(22, set_star, "set") \
  X(23, print_star, "print") \
  X(24, prin_star, "prin") \
  X(25, equal_q_star, "equal?") \
  X(26, not_equal_q_star, "not-equal?") \
  X(27, strict_equal_q_star, "strict-equal?") \
  X(28, lesser_q_star, "lesser?") \
  X(29, greater_q_star, "greater?") \
  X(30, lesser_or_equal_q_star, "lesser-or-equal?") \
  X(31, greater_or_equal_q_star, "greater-or-equal?") \
  X(32, same_q_star, "same?") \
  X(33, not_star, "not") \
  X(34, type_q_star, "type?") \
  X(35, reduce_star, "reduce") \
  X(36, compose_star, "compose") \
  X(37, stats_star, "stats") \
  X(38, bind_star, "bind") \
  X(39, in_star, "in") \
  X(40, parse_star, "parse") \
  X(41, union_star, "union") \
  X(42, intersect_star, "intersect") \
  X(43, unique_star, "unique") \
  X(44, difference_star, "difference") \
  X(45, exclude_star, "exclude") \
  X(46, complement_q_star, "complement?") \
  X(47, dehex_star, "dehex") \
  X(48, enhex_star, "enhex") \
  X(49, negative_q_star, "negative?") \
  X(50, positive_q_star, "positive?") \
  X(51, max_star, "max") \
  X(52, min_star, "min") \
  X(53, shift_star, "shift") \
  X(54, to_hex_star, "to-hex") \
  X(55, sine_star, "sine") \
  X(56, cosine_star, "cosine") \
  X(57, tangent_star, "tangent") \
  X(58, arcsine_star, "arcsine") \
  X(59, arccosine_star, "arccosine") \
  X(60, arctangent_star, "arctangent") \
  X(61, arctangent2_star, "arctangent2") \
  X(62, nan_q_star, "NaN?") \
  X(63, log_2_star, "log-2") \
  X(64, log_10_star, "log-10") \
  X(65, log_e_star, "log-e") \
  X(66, exp_star, "exp") \
  X(67, square_root_star, "square-root") \
  X(68, construct_star, "construct") \
  X(69, value_q_star, "value?") \
  X(70, try_star, "try") \
  X(71, uppercase_star, "uppercase") \
  X(72, lowercase_star, "lowercase") \
  X(73, as_pair_star, "as-pair") \
  X(74, as_point2d_star, "as-point2D") \
  X(75, as_point3d_star, "as-point3D") \
  X(76, as_money_star, "as-money") \
  X(77, break_star, "break") \
  X(78, continue_star, "continue") \
  X(79, exit_star, "exit") \
  X(80, return_star, "return") \
  X(81, throw_star, "throw") \
  X(82, catch_star, "catch") \
  X(83, extend_star, "extend") \
  X(84, debase_star, "debase") \
  X(85, to_local_file_star, "to-local-file") \
  X(86, wait_star, "wait") \
  X(87, checksum_star, "checksum") \
  X(88, unset_star, "unset") \
  X(89, new_line_star, "new-line") \
  X(90, new_line_q_star, "new-line?") \
  X(91, enbase_star, "enbase") \
  X(92, context_q_star, "context?") \
  X(93, set_env_star, "set-env") \
  X(94, get_env_star, "get-env") \
  X(95, list_env_star, "list-env") \
  X(96, now_star, "now") \
  X(97, sign_q_star, "sign?") \
  X(98, as_star, "as") \
  X(99, call_star, "call") \
  X(100, zero_q_star, "zero?") \
  X(101, size_q_star, "size?") \
  X(102, browse_star, "browse") \
  X(103, compress_star, "compress") \
  X(104, decompress_star, "decompress") \
  X(105, recycle_star, "recycle") \
  X(106, transcode_star, "transcode") \
  X(107, apply_star, "apply") \
  X(108, do_fenced_star, "do-fenced")

// Ids the interpreter's fast paths test.
enum native_id : uint32_t {
  ID_IF = 1,
  ID_EITHER = 3,
  ID_GET = 21,
  ID_SET = 22,
  ID_EQUAL_Q = 25,
  ID_NOT_EQUAL_Q = 26,
  ID_STRICT_EQUAL_Q = 27,
  ID_LESSER_Q = 28,
  ID_GREATER_Q = 29,
  ID_LESSER_OR_EQUAL_Q = 30,
  ID_GREATER_OR_EQUAL_Q = 31,
};

#define KEZ_NATIVE_DECLARE(id, name, word) void name(bool check, const int32_t* refs);
KEZ_NATIVES(KEZ_NATIVE_DECLARE)
#undef KEZ_NATIVE_DECLARE

using native_fn = void (*)(bool check, const int32_t* refs);

// A standard-library allocation that fails (std::bad_alloc) inside a native,
// an action or a routine is raised at that call as internal no-memory, as a
// failed series allocation is: the process never aborts on one. The tables
// hold these wrappers; the call itself is inlined into them.
[[noreturn]] void no_memory();
template <auto F, class... A>
void memory_guarded(A... args) {
  try {
    F(args...);
  } catch (const std::bad_alloc&) {
    no_memory();
  }
}

constexpr uint32_t CAPACITY = 120;
extern native_fn table[CAPACITY];
extern uint32_t next_id;  // id the next registered native receives

void init();
void register_natives(const native_fn* fns, uint32_t count);

// The boot library's function held by a global word (or by a field of a
// global object), or nullptr when it has none yet.
const Cell* service_function(const char* name, const char* field = nullptr);
// Calls a function with the given values as its arguments, each taken as
// it is (not evaluated). The result lands in the current result slot, or,
// with `keep`, replaces the cells pushed here as the new top cell.
void call_with(const Cell* fn, const char* name, std::initializer_list<Cell> values, bool keep);

// The block `print` and `prin` reduce into, and whether the last output
// ended a line.
extern Cell print_buffer;
extern bool last_lf;

}  // namespace kez::natives

namespace kez::routines {

// Routines: boot functions whose bodies are C++. A routine! cell's more
// series holds the 1-based position of its function in `table`.
using routine_fn = void (*)();
constexpr uint32_t CAPACITY = 256;
extern routine_fn table[CAPACITY];
uint32_t add(routine_fn fn);
// For the routines that only test their argument's datatype, that type + 1
// (0 for every other routine): the evaluator answers such a test of a
// value that needs no evaluation without calling the routine.
extern uint8_t tested_type[CAPACITY];
// Marks the routine added last as the test of datatype `type`.
void mark_type_test(uint32_t type);

}  // namespace kez::routines
