// The 62 actions: their C++ signatures, the row a datatype registers, and
// the dispatch through the registry.
//
// Every datatype implements an action with the signature its slot fixes
// below. Conventions shared by all slots:
//  - the first argument is the value acted on; unless said otherwise the
//    implementation leaves its result in that cell and returns it (entries
//    pass the frame's result slot, so the result lands where the caller
//    expects it);
//  - a refinement's argument is passed as a cell pointer, nullptr when the
//    refinement is not used; refinements without argument are bools;
//  - form and mold append to a string cell `out` within a character budget
//    and return the budget left (the caller cuts the text afterwards);
//  - compare answers -1, 0, 1, or -2 when the two values cannot be compared.
// A datatype's file ends with its `constexpr action_row`; every member not
// set is inherited from the parent (or unsupported for a type without one),
// and `UNSUPPORTED` marks an action the type refuses even when its parent
// has it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "values/cell.h"

namespace kez {

// Comparison operator codes.
enum compare_op : int32_t {
  COMP_EQUAL = 0,
  COMP_NOT_EQUAL = 1,
  COMP_STRICT_EQUAL = 2,
  COMP_LESSER = 3,
  COMP_LESSER_EQUAL = 4,
  COMP_GREATER = 5,
  COMP_GREATER_EQUAL = 6,
  COMP_SORT = 7,
  COMP_CASE_SORT = 8,
  COMP_SAME = 9,
  COMP_STRICT_EQUAL_WORD = 10,  // parse: lit-word!/lit-path! rules, case-sensitive
  COMP_EQUAL_WORD = 11,         // parse: the same without case
  COMP_FIND = 12,
};

// Arithmetic operator codes, shared by the number types, the bitwise actions
// and the set operations.
enum math_op : int32_t {
  OP_ADD = 0,
  OP_SUB = 1,
  OP_MUL = 2,
  OP_DIV = 3,
  OP_REM = 4,
  OP_OR = 5,
  OP_AND = 6,
  OP_XOR = 7,
  OP_UNIQUE = 8,
  OP_UNION = 9,
  OP_INTERSECT = 10,
  OP_EXCLUDE = 11,
  OP_DIFFERENCE = 12,
};

// One step of a path: select (or, with `value`, set) `element` in `parent`.
struct path_step {
  Cell* parent;          // the value selected into (a cell the action may change)
  const Cell* element;   // the key
  const Cell* value;     // the new value in set mode, nullptr to get
  const Cell* path;      // the whole path, nullptr when called without one
  const Cell* prev;      // the previous element, nullptr at the first
  Cell* grandparent;     // the parent's own parent, nullptr when none
  int32_t index;         // the element's position in the path (0-based)
  bool case_sensitive;
  bool get;              // get-path evaluation
  bool notify;           // tell the owner of a changed series or object
  bool tail;             // the last element of the path
};

struct find_options {
  const Cell* part = nullptr;
  bool only = false;
  bool case_sensitive = false;
  const Cell* same = nullptr;     // /same: the value given (its presence is what counts)
  bool any = false;
  const Cell* with = nullptr;
  const Cell* skip = nullptr;
  bool last = false;
  bool reverse = false;
  bool tail = false;   // find only
  bool match = false;  // find only
};

struct round_options {
  const Cell* scale = nullptr;
  bool even = false, down = false, half_down = false, floor = false, ceiling = false,
       half_ceiling = false;
};

struct sort_options {
  bool case_sensitive = false;
  const Cell* skip = nullptr;
  const Cell* comparator = nullptr;
  const Cell* part = nullptr;
  bool all = false, reverse = false, stable = false;
};

struct trim_options {
  bool head = false, tail = false, automatic = false, lines = false, all = false;
  const Cell* with = nullptr;
};

struct open_options {
  bool is_new = false, read = false, write = false, seek = false;
  const Cell* allow = nullptr;
};

struct read_options {
  const Cell* part = nullptr;
  const Cell* seek = nullptr;
  bool binary = false, lines = false, info = false;
  const Cell* as = nullptr;
};

struct write_options {
  bool binary = false, lines = false, info = false, append = false;
  const Cell* part = nullptr;
  const Cell* seek = nullptr;
  const Cell* allow = nullptr;
  const Cell* as = nullptr;
};

// The action list: slot id, name, implementation signature.
#define KEZ_ACTIONS(X)                                                                     \
  X(1, make, Cell* (*)(Cell* proto, const Cell* spec, uint32_t type))                      \
  X(2, random, Cell* (*)(Cell* value, bool seed, bool secure, bool only))                   \
  X(3, reflect, Cell* (*)(Cell* value, uint32_t field_symbol))                              \
  X(4, to, Cell* (*)(Cell* proto, const Cell* spec, uint32_t type))                         \
  X(5, form, int32_t (*)(const Cell* value, Cell* out, int32_t part))                       \
  X(6, mold,                                                                               \
    int32_t (*)(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part, \
                int32_t indent))                                                           \
  X(7, eval_path, Cell* (*)(path_step& step, Cell* out))                                    \
  X(8, set_path, void (*)())                                                                \
  X(9, compare, int32_t (*)(const Cell* a, const Cell* b, int32_t op))                      \
  X(10, absolute, Cell* (*)(Cell* value))                                                   \
  X(11, add, Cell* (*)(Cell* a, Cell* b))                                                   \
  X(12, divide, Cell* (*)(Cell* a, Cell* b))                                                \
  X(13, multiply, Cell* (*)(Cell* a, Cell* b))                                              \
  X(14, negate, Cell* (*)(Cell* value))                                                     \
  X(15, power, Cell* (*)(Cell* a, Cell* b))                                                 \
  X(16, remainder, Cell* (*)(Cell* a, Cell* b))                                             \
  X(17, round, Cell* (*)(Cell* value, const round_options& o))                              \
  X(18, subtract, Cell* (*)(Cell* a, Cell* b))                                              \
  X(19, even_q, bool (*)(const Cell* value))                                                \
  X(20, odd_q, bool (*)(const Cell* value))                                                 \
  X(21, and_t, Cell* (*)(Cell* a, Cell* b))                                                 \
  X(22, complement, Cell* (*)(Cell* value))                                                 \
  X(23, or_t, Cell* (*)(Cell* a, Cell* b))                                                  \
  X(24, xor_t, Cell* (*)(Cell* a, Cell* b))                                                 \
  X(25, append, Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup)) \
  X(26, at, Cell* (*)(Cell* series, const Cell* index))                                     \
  X(27, back, Cell* (*)(Cell* series))                                                      \
  X(28, change, Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup)) \
  X(29, clear, Cell* (*)(Cell* series))                                                     \
  X(30, copy,                                                                              \
    Cell* (*)(Cell* value, Cell* out, const Cell* part, bool deep, const Cell* types))      \
  X(31, find, Cell* (*)(Cell* series, const Cell* value, const find_options& o))           \
  X(32, head, Cell* (*)(Cell* series))                                                      \
  X(33, head_q, Cell* (*)(Cell* series))                                                    \
  X(34, index_q, Cell* (*)(Cell* series))                                                   \
  X(35, insert, Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup)) \
  X(36, length_q, int32_t (*)(const Cell* series))                                          \
  X(37, move, Cell* (*)(Cell* origin, Cell* target, const Cell* part))                      \
  X(38, next, Cell* (*)(Cell* series))                                                      \
  X(39, pick, Cell* (*)(Cell* series, int32_t index, const Cell* index_value))              \
  X(40, poke,                                                                              \
    Cell* (*)(Cell* series, int32_t index, Cell* value, const Cell* index_value))          \
  X(41, put, Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_sensitive))         \
  X(42, remove, Cell* (*)(Cell* series, const Cell* part, const Cell* key))                 \
  X(43, reverse, Cell* (*)(Cell* series, const Cell* part, const Cell* skip))               \
  X(44, select, Cell* (*)(Cell* series, const Cell* value, const find_options& o))         \
  X(45, sort, Cell* (*)(Cell* series, const sort_options& o))                              \
  X(46, skip, Cell* (*)(Cell* series, const Cell* offset))                                  \
  X(47, swap, Cell* (*)(Cell* a, Cell* b))                                                  \
  X(48, tail, Cell* (*)(Cell* series))                                                      \
  X(49, tail_q, Cell* (*)(Cell* series))                                                    \
  X(50, take, Cell* (*)(Cell* series, const Cell* part, bool deep, bool last))              \
  X(51, trim, Cell* (*)(Cell* series, const trim_options& o))                              \
  X(52, create, Cell* (*)(Cell* port))                                                      \
  X(53, close, Cell* (*)(Cell* port))                                                       \
  X(54, delete_, Cell* (*)(Cell* file))                                                     \
  X(55, modify,                                                                            \
    Cell* (*)(Cell* target, const Cell* field, Cell* value, bool case_sensitive))          \
  X(56, open, Cell* (*)(Cell* port, const open_options& o))                                \
  X(57, open_q, Cell* (*)(Cell* port))                                                      \
  X(58, query, Cell* (*)(Cell* target))                                                     \
  X(59, read, Cell* (*)(Cell* source, const read_options& o))                              \
  X(60, rename, Cell* (*)(Cell* from, Cell* to))                                            \
  X(61, update, Cell* (*)(Cell* port))                                                      \
  X(62, write, Cell* (*)(Cell* destination, Cell* data, const write_options& o))

constexpr int ACTION_COUNT = 62;

// Slot ids by name: ACT_make, ACT_append, ...
enum action_id : int {
#define KEZ_ACTION_ID(id, name, sig) ACT_##name = id,
  KEZ_ACTIONS(KEZ_ACTION_ID)
#undef KEZ_ACTION_ID
};

// Signature types by name: make_fn, append_fn, ...
#define KEZ_ACTION_TYPE(id, name, sig) using name##_fn = sig;
KEZ_ACTIONS(KEZ_ACTION_TYPE)
#undef KEZ_ACTION_TYPE

// One entry of a datatype's row: an implementation, "inherit from the
// parent" (the default), or "unsupported".
enum class slot_mode : uint8_t { inherit, implemented, unsupported };
struct inherit_t {};
struct unsupported_t {};
inline constexpr inherit_t INHERIT{};
inline constexpr unsupported_t UNSUPPORTED{};

template <class F>
struct action_slot {
  F fn = nullptr;
  slot_mode mode = slot_mode::inherit;
  constexpr action_slot() = default;
  constexpr action_slot(F f) : fn(f), mode(slot_mode::implemented) {}
  constexpr action_slot(std::nullptr_t) : mode(slot_mode::unsupported) {}
  constexpr action_slot(inherit_t) {}
  constexpr action_slot(unsupported_t) : mode(slot_mode::unsupported) {}
};

// A datatype's row of the action table, its 62 slots by name.
struct action_row {
#define KEZ_ACTION_MEMBER(id, name, sig) action_slot<name##_fn> name;
  KEZ_ACTIONS(KEZ_ACTION_MEMBER)
#undef KEZ_ACTION_MEMBER
};

// A row where every action is unsupported, for types that implement few.
constexpr action_row unsupported_row() {
  action_row r;
#define KEZ_ACTION_UNSUPPORTED(id, name, sig) r.name = UNSUPPORTED;
  KEZ_ACTIONS(KEZ_ACTION_UNSUPPORTED)
#undef KEZ_ACTION_UNSUPPORTED
  return r;
}

namespace actions {

// The registry's rows: one generic pointer per (type, slot); nullptr means
// the type does not implement the action.
using generic_fn = void (*)();
extern generic_fn table[TYPE_COUNT][ACTION_COUNT + 1];

// Typed lookup without error: nullptr when the type lacks the action.
#define KEZ_ACTION_PEEK(id, name, sig)                                 \
  inline name##_fn peek_##name(uint32_t type) {                      \
    return reinterpret_cast<name##_fn>(table[type][id]);             \
  }
KEZ_ACTIONS(KEZ_ACTION_PEEK)
#undef KEZ_ACTION_PEEK

// Typed lookup for a value; raises script expect-arg (or access
// no-port-action) when the type lacks the action. Inline for the common
// case, a filled slot of a type other than port! (whose actor may answer
// first); the rest goes out of line.
generic_fn lookup_slow(uint32_t type, const Cell* value, int action);
inline generic_fn lookup(uint32_t type, const Cell* value, int action) {
  generic_fn f = table[type][action];
  if (f && type != TYPE_PORT) [[likely]] return f;
  return lookup_slow(type, value, action);
}
#define KEZ_ACTION_GET(id, name, sig)                                       \
  inline name##_fn get_##name(const Cell* value) {                        \
    return reinterpret_cast<name##_fn>(lookup(TYPE_OF(value), value, id)); \
  }
KEZ_ACTIONS(KEZ_ACTION_GET)
#undef KEZ_ACTION_GET

// Comparison through the first value's compare action: the truth of the
// operator as 0/1. -2 (incomparable) under an ordering operator raises
// script invalid-compare.
bool compare(const Cell* a, const Cell* b, int32_t op);
// The raw answer (-1, 0, 1, -2) of the first value's compare action.
int32_t compare_values(const Cell* a, const Cell* b, int32_t op);

// The entry functions of the action! values, by action id - 1: they read the
// current frame and receive one integer per refinement (-1 when unused,
// else the frame position of the refinement's argument).
using entry_fn = void (*)(const int32_t* refs);
extern entry_fn entries[ACTION_COUNT];
void init();

// The index argument of pick and poke: integer!, char! code point, logic!
// true 1 and false 2, anything else 0.
int32_t get_index_arg(const Cell* index);

// Forms and molds a value into the string `out` (budget = characters).
int32_t form(const Cell* value, Cell* out, int32_t part);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent);

}  // namespace actions
}  // namespace kez
