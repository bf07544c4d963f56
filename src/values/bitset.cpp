// bitset!: making from the many spec forms, the one worker that measures,
// sets, tests and clears the bits a spec names, the bitwise operations, the
// actions and the mold form.
//
// Every operation keeps "a set bit inside the buffer is a member; beyond the
// tail the complement flag decides": setting beyond the tail of a
// complemented bitset and clearing beyond the tail of a plain one change
// nothing, growing fills with the bytes that keep memberships unchanged, and
// the bitwise operations read the bytes past an operand's end as that
// operand's flag says.
#include "values/bitset.h"

#include <algorithm>
#include <cmath>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::bitset {

namespace {

inline Cell make_bitset(node_t node) { return Cell{TYPE_BITSET, 0, node, 0}; }
inline uint8_t mask_of(uint64_t n) { return uint8_t(0x80 >> (n & 7)); }

uint64_t size_in_bits(const Cell* bits) { return uint64_t(GET_BUFFER(bits)->used()) * 8; }

// The most bytes a bitset holds: `length?` counts bits in an integer!, so
// the bit count must stay within one.
constexpr uint64_t MAX_BYTES = 0x7FFFFFFF / 8;

// Refuses a size of `bytes` with script out-of-range naming `culprit`.
void check_size(uint64_t bytes, const Cell& culprit) {
  if (bytes <= MAX_BYTES) return;
  Cell v = culprit;
  fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
}

// Grows the buffer so that it holds value n (see the file's invariant).
void reserve_bit(Cell* bits, uint64_t n) {
  uint64_t byte = n >> 3;
  series_buffer* b = GET_BUFFER(bits);
  if (byte < b->used()) return;
  check_size(byte + 1, make_integer(int32_t(std::min<uint64_t>(n, 0x7FFFFFFF))));
  uint8_t fill = (b->flags & SERIES_COMPLEMENT) ? 0xFF : 0;
  uint64_t needed = byte + 1;
  if (uint64_t(b->head) + needed > b->size) {
    uint64_t grown = std::max<uint64_t>(needed, uint64_t(b->size) * 2);
    b = memory::expand_series(b, std::min<uint64_t>(grown, MAX_SERIES_SIZE));
  }
  memory::fill(b->tail_ptr(), b->head_ptr() + needed, fill);
  b->tail = uint32_t(b->head + needed);
}

// One range of values [lo, hi]; for TEST the answer, else true.
bool range_op(Cell* bits, uint64_t lo, uint64_t hi, operation op) {
  bool comp = complemented(bits);
  uint64_t size = size_in_bits(bits);
  if (op == TEST) {
    for (uint64_t n = lo; n <= hi; n++) {
      if (n >= size) return comp;
      if (!(GET_BUFFER(bits)->head_ptr()[n >> 3] & mask_of(n))) return false;
    }
    return true;
  }
  // Beyond the tail a set (complemented) or clear (plain) bit is already so.
  if (comp == (op == SET)) {
    if (lo >= size) return true;
    hi = std::min(hi, size - 1);
  }
  reserve_bit(bits, hi);
  uint8_t* data = GET_BUFFER(bits)->head_ptr();
  uint64_t n = lo;
  auto apply = [&](uint64_t byte, uint8_t mask) {
    if (op == SET) data[byte] |= mask;
    else data[byte] &= uint8_t(~mask);
  };
  for (; n <= hi && (n & 7); n++) apply(n >> 3, mask_of(n));
  if (n + 7 <= hi) {
    uint64_t whole = (hi + 1 - n) >> 3;
    std::memset(data + (n >> 3), op == SET ? 0xFF : 0, whole);
    n += whole * 8;
  }
  for (; n <= hi; n++) apply(n >> 3, mask_of(n));
  return true;
}

[[noreturn]] void bad_spec(const Cell* value, caller kind) {
  Cell v = *value, dt = make_datatype(TYPE_BITSET);
  if (kind == FOR_MAKE) fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &v);
  if (kind == FOR_TO) fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

// The value a char!, integer! or float! names; -1 for a negative one under
// TEST (no such member), an error otherwise.
int64_t value_of(const Cell* v, operation op) {
  int64_t n;
  switch (TYPE_OF(v)) {
    case TYPE_CHAR: return v->w2;
    case TYPE_INTEGER: n = get_integer(v); break;
    default: {
      double d = std::trunc(get_float(v));
      if (!(d <= 2147483647.0)) {  // NaN included
        Cell c = *v;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &c);
      }
      n = d < 0 ? -1 : int64_t(d);
    }
  }
  if (n < 0) {
    if (op == TEST) return -1;
    Cell c = *v;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &c);
  }
  return n;
}

bool is_dash(const Cell* v) { return TYPE_OF(v) == TYPE_WORD && v->w2 == words::dash; }

struct walk {
  Cell* bits;
  operation op;
  caller kind;
  int64_t highest = -1;

  // One range; false when a TEST fails.
  bool range(int64_t lo, int64_t hi) {
    if (op == MEASURE) {
      highest = std::max(highest, hi);
      return true;
    }
    if (lo < 0) return false;  // only TEST lets a negative value through
    return range_op(bits, uint64_t(lo), uint64_t(hi), op);
  }

  bool value(const Cell* spec) {
    switch (TYPE_OF(spec)) {
      case TYPE_CHAR:
      case TYPE_INTEGER:
      case TYPE_FLOAT: {
        int64_t n = value_of(spec, op);
        return range(n, n);
      }
      case TYPE_BLOCK: return block(spec);
      case TYPE_BINARY: fire(err::INTERNAL, err::internal::NOT_DONE);
      default:
        if (string::is_string_type(TYPE_OF(spec))) return text(spec);
        bad_spec(spec, kind);
    }
  }

  // Each character on its own: one beyond the buffer does not end the walk.
  bool text(const Cell* spec) {
    Cell s = *spec;
    uint32_t total = string::rs_abs_length(&s);
    for (uint32_t i = std::min(s.w1, total); i < total; i++) {
      int64_t c = string::rs_abs_at(&s, i);
      if (!range(c, c)) return false;
    }
    return true;
  }

  bool block(const Cell* spec) {
    Cell* b = stack::push(*spec);
    for (int32_t i = 0; i < block::rs_length(b); i++) {
      Cell v = block::rs_head(b)[i];
      bool ok;
      uint32_t t = TYPE_OF(&v);
      if ((t == TYPE_CHAR || t == TYPE_INTEGER) && i + 1 < block::rs_length(b) &&
          is_dash(&block::rs_head(b)[i + 1])) {
        if (i + 2 >= block::rs_length(b)) fire(err::SCRIPT, err::script::PAST_END);
        Cell end = block::rs_head(b)[i + 2];
        uint32_t et = TYPE_OF(&end);
        if (et != TYPE_CHAR && et != TYPE_INTEGER) fire(err::SCRIPT, err::script::PAST_END);
        if (et != t) fire(err::SCRIPT, err::script::INVALID_ARG, &end);
        int64_t lo = value_of(&v, op), hi = value_of(&end, op);
        if (hi < lo) fire(err::SCRIPT, err::script::PAST_END);
        ok = range(lo, hi);
        i += 2;
      } else {
        ok = value(&v);
      }
      if (!ok && op == TEST) {
        stack::pop(1);
        return false;
      }
    }
    stack::pop(1);
    return true;
  }
};

Cell* new_bitset(Cell* out, uint64_t bytes, bool complement) {
  if (bytes > MAX_SERIES_SIZE) fire(err::INTERNAL, err::internal::NO_MEMORY);
  *out = make_unset();
  node_t node = memory::alloc_bytes_filled(std::max<uint64_t>(bytes, 1), complement ? 0xFF : 0);
  series_buffer* b = memory::buffer(node);
  b->tail = uint32_t(b->head + bytes);
  if (complement) b->flags |= SERIES_COMPLEMENT;
  *out = make_bitset(node);
  return out;
}

// A copy of the bytes (and flag) into `out`, inverted and with the flag
// toggled when `invert`.
Cell* copy_into(Cell* out, const Cell* source, bool invert) {
  Cell* src = stack::push(*source);
  uint32_t n = GET_BUFFER(src)->used();
  bool comp = complemented(src);
  new_bitset(out, n, comp != invert);
  const uint8_t* from = GET_BUFFER(src)->head_ptr();
  uint8_t* to = GET_BUFFER(out)->head_ptr();
  for (uint32_t i = 0; i < n; i++) to[i] = invert ? uint8_t(~from[i]) : from[i];
  stack::pop(1);
  return out;
}

}  // namespace

bool test(const Cell* bits, uint32_t n) {
  series_buffer* b = GET_BUFFER(bits);
  uint64_t byte = n >> 3;
  if (byte >= b->used()) return (b->flags & SERIES_COMPLEMENT) != 0;
  return (b->head_ptr()[byte] & mask_of(n)) != 0;
}

int64_t process(const Cell* spec, Cell* bits, operation op, caller kind) {
  walk w{bits, op, kind};
  bool ok = w.value(spec);
  return op == MEASURE ? w.highest : ok ? 1 : 0;
}

Cell* make_from_spec(Cell* out, const Cell* spec_in, caller kind) {
  Cell* spec = stack::push(*spec_in);
  bool complement = false;
  if (TYPE_OF(spec) == TYPE_BLOCK && block::rs_length(spec) > 0) {
    Cell first = block::rs_head(spec)[0];
    if (TYPE_OF(&first) == TYPE_WORD && symbol::resolve(first.w2) == symbol::resolve(words::not_)) {
      complement = true;
      spec->w1++;
      if (block::rs_length(spec) > 0 && TYPE_OF(&block::rs_head(spec)[0]) == TYPE_BINARY) {
        *spec = block::rs_head(spec)[0];
      }
    }
  }
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      if (kind == FOR_TO) bad_spec(spec, kind);
      double n = TYPE_OF(spec) == TYPE_INTEGER ? get_integer(spec) : std::trunc(get_float(spec));
      if (!(n >= 0 && n <= 2147483647.0)) {
        Cell v = *spec;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
      }
      check_size((uint64_t(n) + 7) / 8, *spec);
      new_bitset(out, (uint64_t(n) + 7) / 8, false);
      break;
    }
    case TYPE_BITSET: copy_into(out, spec, false); break;
    case TYPE_BINARY: {
      uint32_t total = GET_BUFFER(spec)->used();
      uint32_t head = std::min(spec->w1, total);
      check_size(total - head, *spec);
      new_bitset(out, total - head, complement);
      const uint8_t* from = GET_BUFFER(spec)->head_ptr() + head;
      uint8_t* to = GET_BUFFER(out)->head_ptr();
      for (uint32_t i = 0; i < total - head; i++) to[i] = complement ? uint8_t(~from[i]) : from[i];
      break;
    }
    default: {
      int64_t highest = process(spec, out, MEASURE, kind);
      if (highest >= 0) check_size((uint64_t(highest) >> 3) + 1, make_integer(int32_t(highest)));
      new_bitset(out, highest < 0 ? 0 : (uint64_t(highest) >> 3) + 1, complement);
      process(spec, out, complement ? CLEAR : SET, kind);
    }
  }
  stack::top = spec;
  return out;
}

Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op) {
  if (op == OP_UNIQUE) return set1;
  if (TYPE_OF(set2) != TYPE_BITSET) {
    Cell dt = make_datatype(TYPE_OF(set2));
    fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
  }
  Cell* a = stack::push(*set1);
  Cell* b = stack::push(*set2);
  bool ca = complemented(a), cb = complemented(b);
  uint32_t la = GET_BUFFER(a)->used(), lb = GET_BUFFER(b)->used();
  bool flag;
  switch (op) {
    case OP_OR: case OP_UNION: flag = ca || cb; break;
    case OP_AND: case OP_INTERSECT: flag = ca && cb; break;
    case OP_XOR: case OP_DIFFERENCE: flag = ca != cb; break;
    case OP_EXCLUDE: flag = ca && !cb; break;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  uint32_t n = std::max(la, lb);
  // and~ of two plain bitsets has nothing past the shorter one.
  if (op == OP_AND && !ca && !cb) n = std::min(la, lb);
  Cell* result = stack::push_unset();
  new_bitset(result, n, flag);
  const uint8_t* pa = GET_BUFFER(a)->head_ptr();
  const uint8_t* pb = GET_BUFFER(b)->head_ptr();
  uint8_t* out = GET_BUFFER(result)->head_ptr();
  for (uint32_t i = 0; i < n; i++) {
    uint8_t x = i < la ? pa[i] : ca ? 0xFF : 0;
    uint8_t y = i < lb ? pb[i] : cb ? 0xFF : 0;
    switch (op) {
      case OP_OR: case OP_UNION: out[i] = x | y; break;
      case OP_AND: case OP_INTERSECT: out[i] = x & y; break;
      case OP_XOR: case OP_DIFFERENCE: out[i] = x ^ y; break;
      default: out[i] = x & uint8_t(~y); break;
    }
  }
  *set1 = *result;
  stack::top = a;
  return set1;
}

namespace {

// --- Actions ---------------------------------------------------------------------

Cell* make(Cell* proto, const Cell* spec, uint32_t) { return make_from_spec(proto, spec, FOR_MAKE); }
Cell* to(Cell* proto, const Cell* spec, uint32_t) { return make_from_spec(proto, spec, FOR_TO); }

Cell* reflect(Cell* value, uint32_t field) {
  if (symbol::resolve(field) != symbol::resolve(words::owned)) {
    fire(err::INTERNAL, err::internal::NOT_DONE);
  }
  *value = ownership::owner_of(value);
  return value;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  bool comp = complemented(value);
  part -= comp ? 18 : 13;
  string::append_literal(out, comp ? "make bitset! [not #{" : "make bitset! #{");
  uint32_t n = GET_BUFFER(value)->used();
  for (uint32_t i = 0; i < n && part > 0; i++) {
    uint8_t byte = GET_BUFFER(value)->head_ptr()[i];
    string::append_literal(out, string::byte_to_hex(comp ? uint8_t(~byte) : byte));
    part -= 2;
  }
  string::append_literal(out, comp ? "}]" : "}");
  return part;
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return mold(value, out, false, false, false, part, 0);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_BITSET) return -2;
  if (op == COMP_SAME) return a->w2 == b->w2 ? 0 : -1;
  uint32_t la = GET_BUFFER(a)->used(), lb = GET_BUFFER(b)->used();
  if (la != lb) return la < lb ? -1 : 1;
  if (la == 0) return 0;
  bool ca = complemented(a), cb = complemented(b);
  if (ca != cb) return ca ? 1 : -1;
  const uint8_t* pa = GET_BUFFER(a)->head_ptr();
  const uint8_t* pb = GET_BUFFER(b)->head_ptr();
  for (uint32_t i = la; i-- > 0;) {
    if (pa[i] != pb[i]) return pa[i] < pb[i] ? -1 : 1;
  }
  return 0;
}

Cell* complement(Cell* value) { return copy_into(value, value, true); }

Cell* and_t(Cell* a, Cell* b) { return do_set_op(a, b, OP_AND); }
Cell* or_t(Cell* a, Cell* b) { return do_set_op(a, b, OP_OR); }
Cell* xor_t(Cell* a, Cell* b) { return do_set_op(a, b, OP_XOR); }

// Sets (or clears) the bits of a value, telling the owner before and after.
void change_bits(Cell* bits, const Cell* value, operation op, uint32_t word, uint32_t done) {
  bool owned = ownership::check(bits, word, value, -1, 0);
  process(value, bits, op, FOR_OTHER);
  if (owned) ownership::check(bits, done, value, -1, 0);
}

Cell* append(Cell* series, Cell* value, int32_t, bool, int32_t) {
  change_bits(series, value, SET, words::append, words::appended);
  return series;
}

Cell* insert(Cell* series, Cell* value, int32_t, bool, int32_t) {
  change_bits(series, value, SET, words::insert, words::inserted);
  return series;
}

Cell* clear(Cell* series) {
  bool owned = ownership::check(series, words::clear, &none_value, -1, 0);
  series_buffer* b = GET_BUFFER(series);
  memory::fill(b->head_ptr(), b->tail_ptr(), (b->flags & SERIES_COMPLEMENT) ? 0xFF : 0);
  if (owned) ownership::check(series, words::cleared, &none_value, -1, 0);
  return series;
}

Cell* copy(Cell* value, Cell* out, const Cell*, bool, const Cell*) { return copy_into(out, value, false); }

Cell* find(Cell* series, const Cell* value, const find_options&) {
  bool found = process(value, series, TEST, FOR_OTHER) != 0;
  *series = found ? true_value : none_value;
  return series;
}

int32_t length_q(const Cell* series) { return int32_t(GET_BUFFER(series)->used() * 8); }

Cell* pick(Cell* series, int32_t index, const Cell* index_value) {
  Cell key = index_value ? *index_value : make_integer(index);
  bool found = process(&key, series, TEST, FOR_OTHER) != 0;
  *series = make_logic(found);
  return series;
}

bool clears(const Cell* v) {
  switch (TYPE_OF(v)) {
    case TYPE_NONE: return true;
    case TYPE_LOGIC: return v->w1 == 0;
    case TYPE_INTEGER: return get_integer(v) == 0;
    case TYPE_FLOAT: return get_float(v) == 0.0;
    default: return false;
  }
}

Cell* poke(Cell* series, int32_t index, Cell* value, const Cell* index_value) {
  Cell key = index_value ? *index_value : make_integer(index);
  bool off = clears(value);
  bool owned = ownership::check(series, words::poke, value, -1, 0);
  process(&key, series, off ? CLEAR : SET, FOR_OTHER);
  if (owned) ownership::check(series, words::poked, value, -1, 0);
  *series = *value;
  return series;
}

// Removing members clears their bits, complemented or not: a set bit is a
// member whatever the flag.
Cell* remove(Cell* series, const Cell* part, const Cell*) {
  if (!part) {
    Cell fn = word::make_global(words::remove), arg = word::make_global(words::part);
    fire(err::SCRIPT, err::script::MISSING_ARG, &fn, &arg);
  }
  bool owned = ownership::check(series, words::remove, part, -1, 0);
  process(part, series, CLEAR, FOR_OTHER);
  if (owned) ownership::check(series, words::removed, part, -1, 0);
  return series;
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell key = *step.element;
  if (TYPE_OF(&key) != TYPE_INTEGER && TYPE_OF(&key) != TYPE_CHAR) {
    Cell dt = make_datatype(TYPE_OF(&key));
    fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
  }
  *out = *step.parent;
  if (step.value) {
    Cell* v = stack::push(*step.value);
    poke(out, 0, v, &key);
    stack::pop(1);
  } else {
    pick(out, 0, &key);
  }
  return out;
}

Cell* modify(Cell* target, const Cell* field, Cell* value, bool) {
  if (word::is_any_word(TYPE_OF(field)) &&
      symbol::resolve(field->w2) == symbol::resolve(words::owned))
    ownership::modify_owned(target, value);
  *target = *value;
  return target;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.reflect = reflect;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.negate = complement;
  r.and_t = and_t;
  r.complement = complement;
  r.or_t = or_t;
  r.xor_t = xor_t;
  r.append = append;
  r.clear = clear;
  r.copy = copy;
  r.find = find;
  r.insert = insert;
  r.length_q = length_q;
  r.pick = pick;
  r.poke = poke;
  r.remove = remove;
  r.modify = modify;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_BITSET, 0, "bitset!", ROW); }

}  // namespace kez::bitset
