// Action dispatch: the entries of the action! values and the lookup of a
// type's implementation.
//
// An entry turns its frame into explicit arguments (refinement integers into
// cell pointers or flags) and calls the implementation of the first
// argument's type, which leaves the result in the frame's result slot.
#include "evaluator/actions.h"

#include <array>
#include <utility>

#include "evaluator/mold_proof.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/port.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/number_support.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::actions {

entry_fn entries[ACTION_COUNT];

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }
inline const Cell* ref_arg(const int32_t* refs, int i) {
  return refs[i] < 0 ? nullptr : stack::arguments + refs[i];
}
inline bool ref_on(const int32_t* refs, int i) { return refs[i] >= 0; }

// The word of the call being made and its first argument word, for the
// error of a type that lacks an action.
[[noreturn]] void lacks_action(uint32_t type) {
  Cell call = stack::get_call_word();
  Cell first = words::anon_marker_word;
  const Cell* fn = word::get_value_or_null(&call);
  if (fn && (TYPE_OF(fn) == TYPE_ACTION || TYPE_OF(fn) == TYPE_NATIVE)) {
    Cell spec = make_series(TYPE_BLOCK, fn->w2);
    int32_t n = block::rs_length(&spec);
    for (int32_t i = 0; i < n; i++) {
      Cell v = block::rs_head(&spec)[i];
      if (word::is_any_word(TYPE_OF(&v))) {
        first = v;
        first.header = TYPE_WORD;
        break;
      }
    }
  }
  Cell dt = make_datatype(type);
  fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &first);
}

}  // namespace

generic_fn lookup_slow(uint32_t type, const Cell* value, int action) {
  // A port whose actor is a handle! is answered by the handle's own table.
  if (type == TYPE_PORT && action >= port::NATIVE_FIRST && value) [[unlikely]] {
    if (generic_fn f = port::native_action(value, action)) return f;
  }
  generic_fn f = table[type][action];
  if (!f) lacks_action(type);
  return f;
}

int32_t compare_values(const Cell* a, const Cell* b, int32_t op) {
  compare_fn f = peek_compare(TYPE_OF(a));
  return f ? f(a, b, op) : -2;
}

bool compare(const Cell* a, const Cell* b, int32_t op) {
  int32_t r = compare_values(a, b, op);
  if (r == -2) {
    switch (op) {
      case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_STRICT_EQUAL_WORD:
      case COMP_EQUAL_WORD: case COMP_FIND:
        return false;
      case COMP_NOT_EQUAL:
        return true;
      default: {
        Cell x = *a, y = *b;
        fire(err::SCRIPT, err::script::INVALID_COMPARE, &x, &y);
      }
    }
  }
  switch (op) {
    case COMP_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_STRICT_EQUAL_WORD:
    case COMP_EQUAL_WORD: case COMP_FIND:
      return r == 0;
    case COMP_NOT_EQUAL: return r != 0;
    case COMP_LESSER: return r < 0;
    case COMP_LESSER_EQUAL: return r < 1;
    case COMP_GREATER: return r > 0;
    case COMP_GREATER_EQUAL: return r >= 0;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return get_form(value)(value, out, part);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (!all || !mold_proof::needs_proof(TYPE_OF(value)))
    return get_mold(value)(value, out, only, all, flat, part, indent);
  uint32_t start = string::rs_abs_length(out);
  int32_t rest = get_mold(value)(value, out, only, all, flat, part, indent);
  if (rest > 0) mold_proof::prove(value, out, start);  // a text cut short proves nothing
  return rest;
}

int32_t get_index_arg(const Cell* index) {
  switch (TYPE_OF(index)) {
    case TYPE_INTEGER: return get_integer(index);
    case TYPE_CHAR: return int32_t(index->w2);
    case TYPE_LOGIC: return index->w1 ? 1 : 2;
    default: return 0;
  }
}

namespace {

// make and to dispatch on the type a datatype! argument denotes.
uint32_t target_type(const Cell* proto) {
  return TYPE_OF(proto) == TYPE_DATATYPE ? proto->w1 : TYPE_OF(proto);
}

void make_entry(const int32_t*) {
  uint32_t t = target_type(arg(0));
  reinterpret_cast<make_fn>(lookup(t, arg(0), ACT_make))(arg(0), arg(1), t);
}

void to_entry(const int32_t*) {
  uint32_t t = target_type(arg(0));
  reinterpret_cast<to_fn>(lookup(t, arg(0), ACT_to))(arg(0), arg(1), t);
}

void random_entry(const int32_t* r) {
  get_random(arg(0))(arg(0), ref_on(r, 0), ref_on(r, 1), ref_on(r, 2));
}

void reflect_entry(const int32_t*) { get_reflect(arg(0))(arg(0), arg(1)->w2); }

// form and mold into a new string, cut to the /part limit when given.
void text_entry(bool mold_it, bool only, bool all, bool flat, const Cell* limit) {
  int32_t part = 0x7FFFFFFF;
  if (limit) {
    part = get_integer(limit);
    if (part <= 0) {
      stack::top = arg(0) + 1;
      string::make_at(arg(0), 1, 1);
      return;
    }
  }
  stack::top = arg(0) + 1;
  Cell* out = string::push_new(16);
  if (mold_it) mold(arg(0), out, only, all, flat, part, 0);
  else form(arg(0), out, part);
  if (limit) string::cut_to(out, part);  // the limit cell may lie under `out`
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

void form_entry(const int32_t* r) { text_entry(false, false, false, false, ref_arg(r, 0)); }
void mold_entry(const int32_t* r) {
  text_entry(true, ref_on(r, 0), ref_on(r, 1), ref_on(r, 2), ref_arg(r, 3));
}

#define KEZ_DIRECT2(name) \
  void name##_entry(const int32_t*) { get_##name(arg(0))(arg(0), arg(1)); }
#define KEZ_DIRECT1(name) \
  void name##_entry(const int32_t*) { get_##name(arg(0))(arg(0)); }
KEZ_DIRECT1(absolute)
KEZ_DIRECT2(add)
KEZ_DIRECT2(divide)
KEZ_DIRECT2(multiply)
KEZ_DIRECT1(negate)
KEZ_DIRECT2(power)
KEZ_DIRECT2(remainder)
KEZ_DIRECT2(subtract)
KEZ_DIRECT1(complement)

// The bitwise actions take a datatype! as second operand beside a typeset!
// only (it stands for its one-type typeset); any other first operand
// refuses it as an argument of the wrong type.
#define KEZ_BITWISE(name)                                                    \
  void name##_entry(const int32_t*) {                                        \
    if (TYPE_OF(arg(1)) == TYPE_DATATYPE && TYPE_OF(arg(0)) != TYPE_TYPESET) \
      numbers::expect_arg(arg(1), "value2");                                 \
    get_##name(arg(0))(arg(0), arg(1));                                      \
  }
KEZ_BITWISE(and_t)
KEZ_BITWISE(or_t)
KEZ_BITWISE(xor_t)
#undef KEZ_BITWISE
KEZ_DIRECT2(at)
KEZ_DIRECT1(back)
KEZ_DIRECT1(clear)
KEZ_DIRECT1(head)
KEZ_DIRECT1(head_q)
KEZ_DIRECT1(index_q)
KEZ_DIRECT1(next)
KEZ_DIRECT2(skip)
KEZ_DIRECT2(swap)
KEZ_DIRECT1(tail)
KEZ_DIRECT1(tail_q)
KEZ_DIRECT1(create)
KEZ_DIRECT1(close)
KEZ_DIRECT1(delete_)
KEZ_DIRECT1(open_q)
KEZ_DIRECT1(query)
KEZ_DIRECT2(rename)
KEZ_DIRECT1(update)
#undef KEZ_DIRECT1
#undef KEZ_DIRECT2

void round_entry(const int32_t* r) {
  round_options o;
  o.scale = ref_arg(r, 0);
  o.even = ref_on(r, 1);
  o.down = ref_on(r, 2);
  o.half_down = ref_on(r, 3);
  o.floor = ref_on(r, 4);
  o.ceiling = ref_on(r, 5);
  o.half_ceiling = ref_on(r, 6);
  get_round(arg(0))(arg(0), o);
}

void even_q_entry(const int32_t*) { *arg(0) = make_logic(get_even_q(arg(0))(arg(0))); }
void odd_q_entry(const int32_t*) { *arg(0) = make_logic(get_odd_q(arg(0))(arg(0))); }

bool has_buffer(uint32_t t) {
  return block::is_block_type(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE || t == TYPE_MAP;
}

// /part normalisation. Returns the count (-1 for "all"), or sets `skip`
// when the target is to be left unchanged.
int32_t normalize_part(Cell* value, const Cell* part, bool for_change, bool& skip) {
  skip = false;
  if (!part) return -1;
  uint32_t vt = TYPE_OF(value);
  if (!for_change && !has_buffer(vt)) {
    Cell p = *part;
    fire(err::SCRIPT, err::script::INVALID_PART, &p);
  }
  if (vt == TYPE_PORT) {
    // A port has no position of its own: its actor gets the count as given,
    // and a count that selects nothing leaves it unchanged.
    if (TYPE_OF(part) != TYPE_INTEGER) {
      Cell w = word::make_global(words::part), p = *part;
      fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &p);
    }
    skip = get_integer(part) <= 0;
    return skip ? 0 : get_integer(part);
  }
  if (!has_buffer(vt)) return -1;
  uint32_t len = GET_BUFFER(value)->used() / GET_BUFFER(value)->unit();
  if (vt != TYPE_IMAGE && value->w1 > len) value->w1 = len;
  int32_t count;
  if (TYPE_OF(part) == TYPE_INTEGER) {
    count = get_integer(part);
  } else if (TYPE_OF(part) == vt && part->w2 == value->w2) {
    uint32_t pi = part->w1 > len ? len : part->w1;
    count = int32_t(pi) - int32_t(value->w1);
  } else {
    Cell w = word::make_global(words::part), p = *part;
    fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &p);
  }
  if (count == 0 || (count < 0 && value->w1 == 0)) {
    skip = true;
    return 0;
  }
  if (count < 0) {
    // In 64 bits: the most negative count has no 32-bit magnitude.
    int64_t magnitude = -int64_t(count);
    auto back = uint32_t(magnitude > int64_t(value->w1) ? value->w1 : magnitude);
    value->w1 -= back;
    count = int32_t(back);
  }
  return count;
}

int32_t dup_count(const Cell* dup) {
  if (!dup) return 1;
  return TYPE_OF(dup) == TYPE_INTEGER ? get_integer(dup) : 1;
}

// append, insert and change: /part is measured on the value inserted, or on
// the target for change; /dup repeats it.
template <auto get, bool change>
void modify_entry(const int32_t* r) {
  // No refinement, the common call: nothing to measure or repeat, and the
  // type's action takes its own short path for one value.
  if (r[0] < 0 && r[1] < 0 && r[2] < 0) [[likely]] {
    get(arg(0))(arg(0), arg(1), -1, false, 1);
    return;
  }
  // An image's change refuses /part and /dup itself: it gets "given" (0)
  // rather than a count measured on pixels.
  if (change && TYPE_OF(arg(0)) == TYPE_IMAGE) {
    get(arg(0))(arg(0), arg(1), ref_on(r, 0) ? 0 : -1, ref_on(r, 1), ref_on(r, 2) ? 0 : 1);
    return;
  }
  bool skip;
  int32_t part = normalize_part(change ? arg(0) : arg(1), ref_arg(r, 0), change, skip);
  int32_t dup = dup_count(ref_arg(r, 2));
  if (skip || dup < 1) return;
  get(arg(0))(arg(0), arg(1), part, ref_on(r, 1), dup);
}
constexpr auto append_entry = modify_entry<get_append, false>;
constexpr auto insert_entry = modify_entry<get_insert, false>;
constexpr auto change_entry = modify_entry<get_change, true>;

void copy_entry(const int32_t* r) {
  const Cell* types = ref_arg(r, 2);
  if (types && TYPE_OF(types) != TYPE_DATATYPE && TYPE_OF(types) != TYPE_TYPESET) {
    Cell call = stack::get_call_word(), dt = make_datatype(TYPE_OF(types));
    Cell w = word::make_global(symbol::make("kind"));
    fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &w);
  }
  Cell* out = stack::push_unset();
  get_copy(arg(0))(arg(0), out, ref_arg(r, 0), ref_on(r, 1), types);
  if (stack::pending()) return;  // a port's actor may throw past this frame
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

find_options find_opts(const int32_t* r, bool with_tail) {
  find_options o;
  o.part = ref_arg(r, 0);
  o.only = ref_on(r, 1);
  o.case_sensitive = ref_on(r, 2);
  o.same = ref_arg(r, 3);
  o.any = ref_on(r, 4);
  o.with = ref_arg(r, 5);
  o.skip = ref_arg(r, 6);
  o.last = ref_on(r, 7);
  o.reverse = ref_on(r, 8);
  if (with_tail) {
    o.tail = ref_on(r, 9);
    o.match = ref_on(r, 10);
  }
  return o;
}

void find_entry(const int32_t* r) { get_find(arg(0))(arg(0), arg(1), find_opts(r, true)); }
void select_entry(const int32_t* r) { get_select(arg(0))(arg(0), arg(1), find_opts(r, false)); }

void length_q_entry(const int32_t*) {
  int32_t n = get_length_q(arg(0))(arg(0));
  if (stack::pending()) return;
  *arg(0) = n == -1 ? make_none() : make_integer(n);
}

void move_entry(const int32_t* r) { get_move(arg(0))(arg(0), arg(1), ref_arg(r, 0)); }

void pick_entry(const int32_t*) {
  Cell index = *arg(1);
  get_pick(arg(0))(arg(0), get_index_arg(&index), &index);
}

void poke_entry(const int32_t*) {
  Cell index = *arg(1);
  get_poke(arg(0))(arg(0), get_index_arg(&index), arg(2), &index);
}

void put_entry(const int32_t* r) { get_put(arg(0))(arg(0), arg(1), arg(2), ref_on(r, 0)); }
void remove_entry(const int32_t* r) { get_remove(arg(0))(arg(0), ref_arg(r, 0), ref_arg(r, 1)); }
void reverse_entry(const int32_t* r) {
  get_reverse(arg(0))(arg(0), ref_arg(r, 0), ref_arg(r, 1));
}

void sort_entry(const int32_t* r) {
  sort_options o;
  o.case_sensitive = ref_on(r, 0);
  o.skip = ref_arg(r, 1);
  o.comparator = ref_arg(r, 2);
  o.part = ref_arg(r, 3);
  o.all = ref_on(r, 4);
  o.reverse = ref_on(r, 5);
  o.stable = ref_on(r, 6);
  get_sort(arg(0))(arg(0), o);
}

void take_entry(const int32_t* r) {
  get_take(arg(0))(arg(0), ref_arg(r, 0), ref_on(r, 1), ref_on(r, 2));
}

void trim_entry(const int32_t* r) {
  trim_options o;
  o.head = ref_on(r, 0);
  o.tail = ref_on(r, 1);
  o.automatic = ref_on(r, 2);
  o.lines = ref_on(r, 3);
  o.all = ref_on(r, 4);
  o.with = ref_arg(r, 5);
  get_trim(arg(0))(arg(0), o);
}

void modify_entry(const int32_t* r) { get_modify(arg(0))(arg(0), arg(1), arg(2), ref_on(r, 0)); }

void open_entry(const int32_t* r) {
  open_options o;
  o.is_new = ref_on(r, 0);
  o.read = ref_on(r, 1);
  o.write = ref_on(r, 2);
  o.seek = ref_on(r, 3);
  o.allow = ref_arg(r, 4);
  get_open(arg(0))(arg(0), o);
}

void read_entry(const int32_t* r) {
  read_options o;
  o.part = ref_arg(r, 0);
  o.seek = ref_arg(r, 1);
  o.binary = ref_on(r, 2);
  o.lines = ref_on(r, 3);
  o.info = ref_on(r, 4);
  o.as = ref_arg(r, 5);
  get_read(arg(0))(arg(0), o);
}

void write_entry(const int32_t* r) {
  write_options o;
  o.binary = ref_on(r, 0);
  o.lines = ref_on(r, 1);
  o.info = ref_on(r, 2);
  o.append = ref_on(r, 3);
  o.part = ref_arg(r, 4);
  o.seek = ref_arg(r, 5);
  o.allow = ref_arg(r, 6);
  o.as = ref_arg(r, 7);
  get_write(arg(0))(arg(0), arg(1), o);
}

// Slots with no entry hold this marker in the list and null in the table.
void no_entry(const int32_t*) {}

constexpr entry_fn LIST[ACTION_COUNT] = {
    make_entry,      random_entry,  reflect_entry, to_entry,       form_entry,
    mold_entry,      no_entry,      no_entry,      no_entry,       absolute_entry,
    add_entry,       divide_entry,  multiply_entry, negate_entry,  power_entry,
    remainder_entry, round_entry,   subtract_entry, even_q_entry,  odd_q_entry,
    and_t_entry,     complement_entry, or_t_entry, xor_t_entry,    append_entry,
    at_entry,        back_entry,    change_entry,  clear_entry,    copy_entry,
    find_entry,      head_entry,    head_q_entry,  index_q_entry,  insert_entry,
    length_q_entry,  move_entry,    next_entry,    pick_entry,     poke_entry,
    put_entry,       remove_entry,  reverse_entry, select_entry,   sort_entry,
    skip_entry,      swap_entry,    tail_entry,    tail_q_entry,   take_entry,
    trim_entry,      create_entry,  close_entry,   delete__entry,  modify_entry,
    open_entry,      open_q_entry,  query_entry,   read_entry,     rename_entry,
    update_entry,    write_entry,
};

// The entries wrapped so that a failed standard-library allocation raises
// no-memory (see natives::memory_guarded).
template <size_t... I>
constexpr std::array<entry_fn, ACTION_COUNT> guard_all(std::index_sequence<I...>) {
  return {natives::memory_guarded<LIST[I], const int32_t*>...};
}

}  // namespace

void init() {
  constexpr std::array<entry_fn, ACTION_COUNT> guarded =
      guard_all(std::make_index_sequence<ACTION_COUNT>());
  for (int i = 0; i < ACTION_COUNT; i++)
    entries[i] = LIST[i] == no_entry ? nullptr : guarded[size_t(i)];
}

}  // namespace kez::actions
