// vector!: making from its spec dialect, the changing series actions, the
// element-wise arithmetic, comparison and the two text forms.
//
// Arithmetic runs over the packed elements with one loop per element type,
// width and operator (templates below), never boxing an element into a
// cell. Integer and character elements compute in 32 bits and wrap on
// overflow; the result is stored in the result's width (8 and 16 bits
// truncate). Every check (element types, zero divisors, the one trapping
// quotient) runs before an element changes, so a refused operation leaves
// the vector as it was.
#include "types/vector.h"

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/integer.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/string.h"
#include "values/support.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::vector {

namespace {

[[noreturn]] void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }
[[noreturn]] void not_done() { fire(err::INTERNAL, err::internal::NOT_DONE); }
[[noreturn]] void invalid_arg(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}
[[noreturn]] void invalid_type(uint32_t type) {
  Cell dt = make_datatype(type);
  fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
}
[[noreturn]] void not_same_type() { fire(err::SCRIPT, err::script::NOT_SAME_TYPE); }
[[noreturn]] void bad_width() { runtime::runtime_error(101, KEZ_ERROR_LOCATION()); }

inline bool is_float_type(uint32_t type) { return type == TYPE_FLOAT || type == TYPE_PERCENT; }
inline uint32_t element_type(const Cell* v) { return v->w3; }
inline uint32_t width_of(const Cell* v) { return GET_UNIT(v); }
inline uint32_t head_index(const Cell* v) { return std::min(v->w1, series::buffer_length(v)); }
inline uint8_t* element_ptr(const Cell* v, uint32_t index) { return series::element_at(v, index); }

bool tell(const Cell* s, uint32_t word, const Cell* value, uint64_t index, uint64_t count) {
  if (!(GET_BUFFER(s)->flags & SERIES_OWNED)) return false;
  return ownership::check(s, word, value, int32_t(index), int32_t(count));
}

// --- Packed access ---------------------------------------------------------------

template <class T>
inline T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
inline void store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// An integer or character element as a 32-bit value.
inline int32_t read_int(const uint8_t* p, uint32_t width, bool is_char) {
  switch (width) {
    case 1: return is_char ? int32_t(load<uint8_t>(p)) : int32_t(load<int8_t>(p));
    case 2: return is_char ? int32_t(load<uint16_t>(p)) : int32_t(load<int16_t>(p));
    case 4: return load<int32_t>(p);
    default: bad_width();
  }
}
inline double read_float(const uint8_t* p, uint32_t width) {
  switch (width) {
    case 4: return load<float>(p);
    case 8: return load<double>(p);
    default: bad_width();
  }
}

// Runs `body` with a value of the C++ type an element is stored as.
template <class Body>
void with_int_type(uint32_t width, bool is_char, Body&& body) {
  switch (width) {
    case 1: return is_char ? body(uint8_t{}) : body(int8_t{});
    case 2: return is_char ? body(uint16_t{}) : body(int16_t{});
    case 4: return body(int32_t{});
    default: bad_width();
  }
}
template <class Body>
void with_float_type(uint32_t width, Body&& body) {
  switch (width) {
    case 4: return body(float{});
    case 8: return body(double{});
    default: bad_width();
  }
}

// Encodes a value of the element type into `width` bytes.
void encode(uint8_t* p, const Cell* value, uint32_t width, uint32_t type) {
  if (is_float_type(type)) {
    double d = get_float(value);
    if (width == 8) store(p, d);
    else if (width == 4) store(p, float(d));
    else bad_width();
    return;
  }
  auto v = get_integer(value);
  switch (width) {
    case 1: store(p, uint8_t(v)); break;
    case 2: store(p, uint16_t(v)); break;
    case 4: store(p, v); break;
    default: bad_width();
  }
}

// The elements a change writes, checked and packed before anything moves.
struct packed {
  std::vector<uint8_t> bytes;
  uint32_t count = 0;
};

void pack_value(packed& out, const Cell* value, uint32_t width, uint32_t type) {
  if (TYPE_OF(value) != type) invalid_arg(value);
  size_t at = out.bytes.size();
  out.bytes.resize(at + width);
  encode(out.bytes.data() + at, value, width, type);
  out.count++;
}

// A block's values (at most `limit`, -1 for all) or one value.
void pack(packed& out, const Cell* value_in, int32_t limit, uint32_t width, uint32_t type,
          bool vectors) {
  Cell value = *value_in;
  uint32_t t = TYPE_OF(&value);
  if (block::is_block_type(t) && (t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || vectors)) {
    int32_t n = std::max(block::rs_length(&value), 0);
    if (limit >= 0 && limit < n) n = limit;
    const Cell* cells = block::rs_head(&value);
    for (int32_t i = 0; i < n; i++) pack_value(out, cells + i, width, type);
    return;
  }
  if (vectors && t == TYPE_VECTOR) {
    if (element_type(&value) != type) invalid_arg(&value);
    uint32_t n = rs_length(&value), w = width_of(&value);
    for (uint32_t i = 0; i < n; i++) {
      Cell e = get_value(element_ptr(&value, value.w1 + i), w, type);
      pack_value(out, &e, width, type);
    }
    return;
  }
  pack_value(out, &value, width, type);
}

}  // namespace

// --- Making and access -----------------------------------------------------------------

Cell* make_at(Cell* cell, uint32_t capacity, uint32_t type, uint32_t width) {
  if (uint64_t(capacity) * width > MAX_SERIES_SIZE) no_memory();
  *cell = make_unset();
  node_t node = memory::alloc_series(capacity ? capacity : 1, width, 0);
  *cell = Cell{TYPE_VECTOR, 0, node, type};
  return cell;
}

uint32_t rs_length(const Cell* vector) {
  uint32_t len = series::buffer_length(vector);
  return vector->w1 < len ? len - vector->w1 : 0;
}

Cell get_value(const uint8_t* p, uint32_t width, uint32_t type) {
  switch (type) {
    case TYPE_INTEGER: return make_integer(read_int(p, width, false));
    case TYPE_CHAR: return make_char(uint32_t(read_int(p, width, true)));
    case TYPE_FLOAT:
    case TYPE_PERCENT: return make_float_of(type, read_float(p, width));
    default: bad_width();
  }
}

void set_value(uint8_t* p, const Cell* value, uint32_t width, uint32_t type) {
  if (TYPE_OF(value) != type) invalid_type(TYPE_OF(value));
  encode(p, value, width, type);
}

void to_block(const Cell* vector, Cell* block) {
  Cell v = *vector;
  uint32_t n = rs_length(&v);
  for (uint32_t i = 0; i < n; i++) {
    // Appending may move the vector's buffer: read each element afresh.
    Cell e = get_value(element_ptr(&v, v.w1 + i), width_of(&v), element_type(&v));
    block::rs_append(block, &e);
  }
}

namespace {

Cell element_get(const Cell* v, uint32_t index) {
  return get_value(element_ptr(v, index), width_of(v), element_type(v));
}

void element_set(Cell* v, uint32_t index, const Cell* value) {
  set_value(element_ptr(v, index), value, width_of(v), element_type(v));
}

// --- make ------------------------------------------------------------------------

[[noreturn]] void bad_make(const Cell* spec) {
  Cell dt = make_datatype(TYPE_VECTOR), v = *spec;
  fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &v);
}
[[noreturn]] void missing_field(const Cell* spec) {
  Cell v = *spec;
  fire(err::SCRIPT, err::script::MISSING_SPEC_FIELD, &v);
}

// A count as given to make: negative counts are refused.
uint32_t count_of(const Cell* value) {
  double n = TYPE_OF(value) == TYPE_INTEGER ? get_integer(value) : get_float(value);
  if (!(n >= 0 && n <= double(MAX_SERIES_SIZE))) {
    Cell v = *value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  return uint32_t(n);
}

uint32_t width_for(uint32_t type, int32_t bits, const Cell* spec) {
  if (type == TYPE_FLOAT) {
    if (bits == 32 || bits == 64) return uint32_t(bits / 8);
  } else if (bits == 8 || bits == 16 || bits == 32) {
    return uint32_t(bits / 8);
  }
  bad_make(spec);
}

Cell* make(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell* spec = stack::push(*spec_in);
  Cell* values = stack::push(none_value);
  uint32_t type = TYPE_INTEGER, width = 4;
  int64_t count = -1;
  switch (TYPE_OF(spec)) {
    case TYPE_INTEGER:
    case TYPE_FLOAT: count = count_of(spec); break;
    case TYPE_BLOCK: {
      int32_t len = block::rs_length(spec);
      if (len <= 0) break;
      const Cell* cells = block::rs_head(spec);
      Cell first = cells[0];
      if (TYPE_OF(&first) != TYPE_WORD) {
        type = TYPE_OF(&first);
        if (type != TYPE_CHAR && type != TYPE_INTEGER && !is_float_type(type)) invalid_type(type);
        width = default_width(type);
        *values = *spec;
        break;
      }
      if (len < 2) bad_make(spec);
      uint32_t name = symbol::resolve(first.w2);
      if (name == symbol::resolve(words::integer_type)) type = TYPE_INTEGER;
      else if (name == symbol::resolve(words::char_type)) type = TYPE_CHAR;
      else if (name == symbol::resolve(words::float_type)) type = TYPE_FLOAT;
      else if (name == symbol::resolve(words::percent_type)) type = TYPE_PERCENT;
      else bad_make(spec);
      int32_t at = 1;
      if (type == TYPE_PERCENT) {
        width = 8;  // whatever size is given
        if (TYPE_OF(&cells[1]) == TYPE_INTEGER) at = 2;
      } else {
        if (TYPE_OF(&cells[1]) != TYPE_INTEGER) missing_field(spec);
        width = width_for(type, get_integer(&cells[1]), spec);
        at = 2;
      }
      if (at < len && TYPE_OF(&cells[at]) == TYPE_INTEGER) {
        count = count_of(&cells[at]);
        if (at + 1 < len && TYPE_OF(&cells[at + 1]) == TYPE_BLOCK) *values = cells[at + 1];
      } else if (at < len && TYPE_OF(&cells[at]) == TYPE_BLOCK) {
        *values = cells[at];
      } else {
        missing_field(spec);
      }
      break;
    }
    default: not_done();
  }
  packed elements;
  if (TYPE_OF(values) == TYPE_BLOCK) pack(elements, values, -1, width, type, false);
  uint64_t total = std::max<uint64_t>(elements.count, count < 0 ? 0 : uint64_t(count));
  make_at(proto, uint32_t(std::min<uint64_t>(total, UINT32_MAX)), type, width);
  series_buffer* b = GET_BUFFER(proto);
  if (elements.count) std::memcpy(b->data(), elements.bytes.data(), elements.bytes.size());
  memory::fill(b->data() + elements.bytes.size(), b->data() + total * width, 0);
  b->tail = uint32_t(total * width);
  stack::top = spec;
  return proto;
}

// --- append, insert and change ------------------------------------------------------------

Cell* insert_elements(Cell* v, Cell* value, int32_t part, int32_t dup, bool append) {
  if (dup < 1) dup = 1;
  uint32_t width = width_of(v), type = element_type(v);
  packed elements;
  pack(elements, value, part, width, type, false);
  uint32_t len = series::buffer_length(v);
  uint32_t head = head_index(v);
  v->w1 = head;
  if (elements.count == 0) return v;
  uint64_t total = uint64_t(elements.count) * uint32_t(dup);
  if ((uint64_t(len) + total) * width > MAX_SERIES_SIZE) no_memory();
  uint32_t at = append || head == len ? len : head;
  bool owned = tell(v, words::append, value, at, 0);
  if (owned) at = std::min(at, series::buffer_length(v));
  series_buffer* b = series::open_gap(v, at, uint32_t(total));
  uint8_t* p = b->head_ptr() + uint64_t(at) * width;
  std::memcpy(p, elements.bytes.data(), elements.bytes.size());
  if (dup > 1) support::repeat_fill(p, elements.bytes.size(), uint32_t(dup));
  if (owned) tell(v, words::appended, value, at, total);
  if (!append) v->w1 = at + uint32_t(total);
  return v;
}

Cell* append(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
  return insert_elements(v, value, part, dup, true);
}

Cell* insert(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
  return insert_elements(v, value, part, dup, false);
}

Cell* change(Cell* v, Cell* value, int32_t part, bool, int32_t dup) {
  if (dup < 1) dup = 1;
  uint32_t width = width_of(v), type = element_type(v);
  packed elements;
  pack(elements, value, -1, width, type, true);
  uint64_t inserted = uint64_t(elements.count) * uint32_t(dup);
  uint32_t len = series::buffer_length(v);
  uint32_t head = head_index(v);
  uint64_t replaced = std::min<uint64_t>(part >= 0 ? uint64_t(part) : inserted, len - head);
  if ((uint64_t(len) - replaced + inserted) * width > MAX_SERIES_SIZE) no_memory();
  bool owned = tell(v, words::change, value, head, replaced);
  if (owned) {
    len = series::buffer_length(v);
    head = head_index(v);
    replaced = std::min<uint64_t>(part >= 0 ? uint64_t(part) : inserted, len - head);
  }
  if (inserted > replaced) {
    series::open_gap(v, head + uint32_t(replaced), uint32_t(inserted - replaced));
  } else if (inserted < replaced) {
    series::remove_range(v, head + uint32_t(inserted), uint32_t(replaced - inserted));
  }
  if (elements.count) {
    uint8_t* p = element_ptr(v, head);
    std::memcpy(p, elements.bytes.data(), elements.bytes.size());
    if (dup > 1) support::repeat_fill(p, elements.bytes.size(), uint32_t(dup));
  }
  if (owned) tell(v, words::changed, value, head, inserted);
  v->w1 = head + uint32_t(inserted);
  return v;
}

// --- Arithmetic -------------------------------------------------------------------------

inline int32_t wrap_add(int32_t x, int32_t y) { return int32_t(uint32_t(x) + uint32_t(y)); }
inline int32_t wrap_sub(int32_t x, int32_t y) { return int32_t(uint32_t(x) - uint32_t(y)); }
inline int32_t wrap_mul(int32_t x, int32_t y) { return int32_t(uint32_t(x) * uint32_t(y)); }

// The checks of a quotient, which the machine would trap on.
inline void check_quotient(int32_t x, int32_t y) {
  if (y == 0) fire(err::MATH, err::math::ZERO_DIVIDE);
  if (x == INT32_MIN && y == -1) fire(err::MATH, err::math::OVERFLOW);
}

// Elements a pass handles in one fixed-size step: a loop of known length
// the compiler turns into vector instructions at the default optimisation.
constexpr uint32_t STEP = 32;

// Applies `fn` to every element in place.
template <class T, class Fn>
inline void each_in_place(uint8_t* p, uint32_t n, Fn fn) {
  uint32_t i = 0;
  for (; i + STEP <= n; i += STEP) {
    uint8_t* q = p + uint64_t(i) * sizeof(T);
    for (uint32_t k = 0; k < STEP; k++) store<T>(q + k * sizeof(T), T(fn(load<T>(q + k * sizeof(T)))));
  }
  for (; i < n; i++) {
    uint8_t* q = p + uint64_t(i) * sizeof(T);
    store<T>(q, T(fn(load<T>(q))));
  }
}

template <class T>
void scalar_int(uint8_t* p, uint32_t n, int32_t s, int32_t op) {
  switch (op) {
    case OP_ADD: each_in_place<T>(p, n, [s](int32_t x) { return wrap_add(x, s); }); break;
    case OP_SUB: each_in_place<T>(p, n, [s](int32_t x) { return wrap_sub(x, s); }); break;
    case OP_MUL: each_in_place<T>(p, n, [s](int32_t x) { return wrap_mul(x, s); }); break;
    case OP_DIV: each_in_place<T>(p, n, [s](int32_t x) { return x / s; }); break;
    case OP_REM: each_in_place<T>(p, n, [s](int32_t x) { return x % s; }); break;
    case OP_OR: each_in_place<T>(p, n, [s](int32_t x) { return x | s; }); break;
    case OP_AND: each_in_place<T>(p, n, [s](int32_t x) { return x & s; }); break;
    case OP_XOR: each_in_place<T>(p, n, [s](int32_t x) { return x ^ s; }); break;
    default: not_done();
  }
}

template <class T>
void scalar_float(uint8_t* p, uint32_t n, double s, int32_t op) {
  switch (op) {
    case OP_ADD: each_in_place<T>(p, n, [s](double x) { return x + s; }); break;
    case OP_SUB: each_in_place<T>(p, n, [s](double x) { return x - s; }); break;
    case OP_MUL: each_in_place<T>(p, n, [s](double x) { return x * s; }); break;
    case OP_DIV: each_in_place<T>(p, n, [s](double x) { return x / s; }); break;
    default:
      each_in_place<T>(p, n, [s, op](double x) { return float_::do_math_op(x, s, op); });
  }
}

// A vector and a number: the vector changes in place.
Cell* scalar_math(Cell* v, const Cell* number, int32_t op) {
  uint32_t type = element_type(v), width = width_of(v);
  uint32_t nt = TYPE_OF(number);
  if (nt != TYPE_INTEGER && nt != TYPE_FLOAT && nt != TYPE_PERCENT) not_done();
  uint32_t n = rs_length(v);
  uint8_t* p = element_ptr(v, head_index(v));
  if (is_float_type(type)) {
    double s = nt == TYPE_INTEGER ? double(get_integer(number)) : get_float(number);
    if (((op == OP_ADD || op == OP_SUB) && s == 0) || ((op == OP_MUL || op == OP_DIV) && s == 1))
      return v;
    if (op > OP_REM) float_::do_math_op(0, s, op);  // refuses the bitwise operators
    with_float_type(width, [&](auto tag) { scalar_float<decltype(tag)>(p, n, s, op); });
    return v;
  }
  int32_t s = nt == TYPE_INTEGER ? get_integer(number) : integer::from_number(number);
  if (((op == OP_ADD || op == OP_SUB) && s == 0) || ((op == OP_MUL || op == OP_DIV) && s == 1))
    return v;
  if (op == OP_DIV || op == OP_REM) {
    if (s == 0) fire(err::MATH, err::math::ZERO_DIVIDE);
    if (s == -1 && width == 4) {
      for (uint32_t i = 0; i < n; i++) check_quotient(load<int32_t>(p + uint64_t(i) * 4), s);
    }
  }
  with_int_type(width, type == TYPE_CHAR, [&](auto tag) { scalar_int<decltype(tag)>(p, n, s, op); });
  return v;
}

template <class A, class B, class R, class Fn>
inline void each_pair(const uint8_t* a, const uint8_t* b, uint8_t* r, uint32_t n, Fn fn) {
  auto one = [&](uint64_t i) {
    store<R>(r + i * sizeof(R), R(fn(load<A>(a + i * sizeof(A)), load<B>(b + i * sizeof(B)))));
  };
  uint32_t i = 0;
  for (; i + STEP <= n; i += STEP) {
    for (uint32_t k = 0; k < STEP; k++) one(uint64_t(i) + k);
  }
  for (; i < n; i++) one(i);
}

template <class A, class B>
using wider = std::conditional_t<(sizeof(A) >= sizeof(B)), A, B>;

template <class A, class B>
void pair_int(const uint8_t* a, const uint8_t* b, uint8_t* r, uint32_t n, int32_t op) {
  using R = wider<A, B>;
  switch (op) {
    case OP_ADD: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return wrap_add(x, y); }); break;
    case OP_SUB: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return wrap_sub(x, y); }); break;
    case OP_MUL: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return wrap_mul(x, y); }); break;
    case OP_DIV:
      each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) {
        check_quotient(x, y);
        return x / y;
      });
      break;
    case OP_REM:
      each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) {
        check_quotient(x, y);
        return x % y;
      });
      break;
    case OP_OR: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return x | y; }); break;
    case OP_AND: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return x & y; }); break;
    case OP_XOR: each_pair<A, B, R>(a, b, r, n, [](int32_t x, int32_t y) { return x ^ y; }); break;
    default: not_done();
  }
}

template <class A, class B>
void pair_float(const uint8_t* a, const uint8_t* b, uint8_t* r, uint32_t n, int32_t op) {
  using R = wider<A, B>;
  switch (op) {
    case OP_ADD: each_pair<A, B, R>(a, b, r, n, [](double x, double y) { return x + y; }); break;
    case OP_SUB: each_pair<A, B, R>(a, b, r, n, [](double x, double y) { return x - y; }); break;
    case OP_MUL: each_pair<A, B, R>(a, b, r, n, [](double x, double y) { return x * y; }); break;
    case OP_DIV: each_pair<A, B, R>(a, b, r, n, [](double x, double y) { return x / y; }); break;
    default:
      each_pair<A, B, R>(a, b, r, n,
                         [op](double x, double y) { return float_::do_math_op(x, y, op); });
  }
}

// Two vectors: a new vector as long as the shorter one.
Cell* vector_math(Cell* a, const Cell* b, int32_t op) {
  uint32_t type = element_type(a);
  if (element_type(b) != type) not_same_type();
  if (is_float_type(type) && op > OP_REM) float_::do_math_op(0, 0, op);
  uint32_t wa = width_of(a), wb = width_of(b), width = std::max(wa, wb);
  uint32_t n = std::min(rs_length(a), rs_length(b));
  Cell* result = stack::push_unset();
  make_at(result, n, type, width);
  const uint8_t* pa = element_ptr(a, head_index(a));
  const uint8_t* pb = element_ptr(b, head_index(b));
  uint8_t* out = GET_BUFFER(result)->data();
  if (is_float_type(type)) {
    with_float_type(wa, [&](auto ta) {
      with_float_type(wb, [&](auto tb) { pair_float<decltype(ta), decltype(tb)>(pa, pb, out, n, op); });
    });
  } else {
    bool is_char = type == TYPE_CHAR;
    with_int_type(wa, is_char, [&](auto ta) {
      with_int_type(wb, is_char, [&](auto tb) { pair_int<decltype(ta), decltype(tb)>(pa, pb, out, n, op); });
    });
  }
  GET_BUFFER(result)->tail = n * width;
  *a = *result;
  stack::pop(1);
  return a;
}

Cell* do_math(Cell* a, Cell* b, int32_t op) {
  if (TYPE_OF(b) == TYPE_VECTOR) return vector_math(a, b, op);
  return scalar_math(a, b, op);
}

Cell* add(Cell* a, Cell* b) { return do_math(a, b, OP_ADD); }
Cell* subtract(Cell* a, Cell* b) { return do_math(a, b, OP_SUB); }
Cell* multiply(Cell* a, Cell* b) { return do_math(a, b, OP_MUL); }
Cell* divide(Cell* a, Cell* b) { return do_math(a, b, OP_DIV); }
Cell* remainder(Cell* a, Cell* b) { return do_math(a, b, OP_REM); }
Cell* and_t(Cell* a, Cell* b) { return do_math(a, b, OP_AND); }
Cell* or_t(Cell* a, Cell* b) { return do_math(a, b, OP_OR); }
Cell* xor_t(Cell* a, Cell* b) { return do_math(a, b, OP_XOR); }

// --- compare ---------------------------------------------------------------------------

bool is_equality(int32_t op) {
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_FIND:
    case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD:
      return true;
    default: return false;
  }
}

int32_t compare(const Cell* a_in, const Cell* b_in, int32_t op) {
  if (TYPE_OF(b_in) != TYPE_VECTOR) return -2;
  Cell a = *a_in, b = *b_in;
  uint32_t type = element_type(&a);
  if (element_type(&b) != type) not_same_type();
  if (op == COMP_SAME) return a.w2 == b.w2 && a.w1 == b.w1 ? 0 : -1;
  bool equality = is_equality(op);
  if (equality && a.w2 == b.w2 && a.w1 == b.w1) return 0;
  uint32_t la = rs_length(&a), lb = rs_length(&b);
  if (equality && la != lb) return 1;
  uint32_t n = std::min(la, lb), wa = width_of(&a), wb = width_of(&b);
  const uint8_t* pa = element_ptr(&a, a.w1);
  const uint8_t* pb = element_ptr(&b, b.w1);
  for (uint32_t i = 0; i < n; i++) {
    if (is_float_type(type)) {
      double x = read_float(pa + uint64_t(i) * wa, wa), y = read_float(pb + uint64_t(i) * wb, wb);
      if (x != y) return x < y ? -1 : 1;
    } else {
      int32_t x = read_int(pa + uint64_t(i) * wa, wa, type == TYPE_CHAR);
      int32_t y = read_int(pb + uint64_t(i) * wb, wb, type == TYPE_CHAR);
      if (x != y) return x < y ? -1 : 1;
    }
  }
  return la == lb ? 0 : la < lb ? -1 : 1;
}

// --- form and mold ------------------------------------------------------------------------

std::string_view type_name(uint32_t type) {
  switch (type) {
    case TYPE_CHAR: return "char!";
    case TYPE_INTEGER: return "integer!";
    case TYPE_FLOAT: return "float!";
    default: return "percent!";
  }
}

// The elements separated by blanks; chars as literals when molding.
int32_t elements_text(const Cell* value, Cell* out, bool mold_it, int32_t part) {
  Cell v = *value;
  uint32_t n = rs_length(&v), type = element_type(&v), width = width_of(&v);
  int64_t budget = part;
  for (uint32_t i = 0; i < n && budget > 0; i++) {
    if (i > 0) {
      string::append_char(out->w2, ' ');
      budget--;
    }
    // Appending may move the vector's buffer: read each element afresh.
    const uint8_t* p = element_ptr(&v, v.w1 + i);
    switch (type) {
      case TYPE_INTEGER:
        budget -= string::append_literal(out, integer::to_text(read_int(p, width, false)));
        break;
      case TYPE_CHAR: {
        uint32_t cp = uint32_t(read_int(p, width, true));
        if (mold_it) string::append_literal(out, "#\"");
        string::append_escaped_char(out, cp, false);
        if (mold_it) string::append_char(out->w2, '"');
        budget -= mold_it ? 4 : 1;
        break;
      }
      case TYPE_FLOAT:
        budget -= float_::append_text(out, read_float(p, width),
                                      width == 4 ? float_::MODE_VECTOR32 : float_::MODE_FLOAT);
        break;
      default:
        budget -= float_::append_text(out, read_float(p, width) * 100, float_::MODE_PERCENT);
    }
  }
  return int32_t(std::max<int64_t>(budget, INT32_MIN));
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return elements_text(value, out, false, part);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool, int32_t part, int32_t) {
  uint32_t type = element_type(value), width = width_of(value);
  bool long_form = rs_length(value) == 0 || width != default_width(type);
  if (!only) {
    string::append_literal(out, "make vector! [");
    part -= 14;
  }
  if (long_form) {
    string::append_literal(out, type_name(type));
    string::append_char(out->w2, ' ');
    string::append_literal(out, integer::to_text(int32_t(width * 8)));
    string::append_literal(out, " [");
  }
  part = elements_text(value, out, true, part);
  if (long_form) string::append_char(out->w2, ']');
  if (!only) string::append_char(out->w2, ']');
  return part;
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.make = make;
  r.to = UNSUPPORTED;
  r.form = form;
  r.mold = mold;
  r.set_path = UNSUPPORTED;
  r.compare = compare;
  r.add = add;
  r.subtract = subtract;
  r.multiply = multiply;
  r.divide = divide;
  r.remainder = remainder;
  r.and_t = and_t;
  r.or_t = or_t;
  r.xor_t = xor_t;
  r.append = append;
  r.insert = insert;
  r.change = change;
  r.put = UNSUPPORTED;
  r.swap = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() {
  datatype::register_type(TYPE_VECTOR, TYPE_STRING, "vector!", ROW);
  series::vector_get = element_get;
  series::vector_set = element_set;
}

}  // namespace kez::vector
