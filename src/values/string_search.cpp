// find, select and sort on strings (and on the binary! and vector! series
// that take them), and the set operations of the set natives on strings.
//
// The search never allocates once it scans: the pattern is read into a local
// array of (folded) code points first, so the series' buffer address stays
// valid for the whole scan. A sort with a user comparator calls back into the
// evaluator, which may move the series: it sorts through the node and reads
// both elements before each call.
#include <algorithm>
#include <cmath>
#include <vector>

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "foundation/raise.h"
#include "foundation/sort.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/ownership.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::string {

namespace {

[[noreturn]] void bad_refine_arg(uint32_t word, const Cell* value) {
  Cell w = word::make_global(word), v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

// One element of a series of any unit (vector! elements reach 8 bytes).
inline uint64_t raw_at(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1: return *p;
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    default: { uint64_t v; std::memcpy(&v, p, 8); return v; }
  }
}

inline uint32_t fold(uint32_t c) { return case_folding::to_upper(c); }

bool is_float_vector(const Cell* s) {
  return TYPE_OF(s) == TYPE_VECTOR && (s->w3 == TYPE_FLOAT || s->w3 == TYPE_PERCENT);
}

double element_as_float(const uint8_t* p, uint32_t unit) {
  if (unit == 4) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
  }
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

// An integer element: signed in integer vectors (of any width), unsigned
// bytes elsewhere.
int64_t element_as_integer(const uint8_t* p, uint32_t unit, bool is_signed = true) {
  if (unit == 4) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return is_signed ? int64_t(v) : int64_t(uint32_t(v));
  }
  if (!is_signed) return int64_t(raw_at(p, unit));
  if (unit == 1) return int8_t(*p);
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

bool is_integer_vector(const Cell* s) {
  return TYPE_OF(s) == TYPE_VECTOR && s->w3 == TYPE_INTEGER;
}

// What a search compares at each position.
struct pattern {
  enum kind_t { TEXT, BITSET, NUMBER } kind = TEXT;
  std::vector<uint32_t> text;    // code points (folded when folding) or bytes
  std::vector<uint8_t> bits;     // bitset bytes
  bool complement = false;
  bool is_float = false;
  double number = 0;
  uint32_t length() const { return kind == TEXT ? uint32_t(text.size()) : 1; }
};

void read_text(const Cell* s, bool folding, std::vector<uint32_t>& out) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t n = rs_length(s);
  const uint8_t* p = b->head_ptr() + uint64_t(std::min(s->w1, b->used() / unit)) * unit;
  out.resize(n);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t c = get_char(p + uint64_t(i) * unit, unit);
    out[i] = folding ? fold(c) : c;
  }
}

// Text given as code points, turned into the UTF-8 bytes a binary! holds.
void to_bytes(std::vector<uint32_t>& text) {
  std::vector<uint32_t> bytes;
  uint8_t seq[4];
  for (uint32_t c : text) {
    int n = unicode::cp_to_utf8(c, seq);
    for (int i = 0; i < n; i++) bytes.push_back(seq[i]);
  }
  text.swap(bytes);
}

pattern make_pattern(const Cell* series, const Cell* value_in, bool folding) {
  Cell value = *value_in;
  uint32_t st = TYPE_OF(series), vt = TYPE_OF(&value);
  bool binary_series = st == TYPE_BINARY;
  pattern p;
  switch (vt) {
    case TYPE_CHAR:
      p.text = {folding ? fold(value.w2) : value.w2};
      return p;
    case TYPE_BITSET: {
      p.kind = pattern::BITSET;
      series_buffer* b = GET_BUFFER(&value);
      p.bits.assign(b->head_ptr(), b->tail_ptr());
      p.complement = (b->flags & SERIES_COMPLEMENT) != 0;
      return p;
    }
    case TYPE_BINARY: {
      if (!binary_series) fire(err::SCRIPT, err::script::INVALID_ARG, &value);
      read_text(&value, false, p.text);
      return p;
    }
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      if (binary_series || st == TYPE_VECTOR) {
        p.kind = pattern::NUMBER;
        p.is_float = vt == TYPE_FLOAT;
        p.number = vt == TYPE_FLOAT ? get_float(&value) : double(get_integer(&value));
        return p;
      }
      break;
    case TYPE_WORD: {
      std::string name = symbol::to_cstr(value.w2);
      Cell* s = load(name);
      read_text(s, folding, p.text);
      stack::pop(1);
      if (binary_series) to_bytes(p.text);
      return p;
    }
    default:
      if (is_text_value(vt)) {
        read_text(&value, folding, p.text);
        if (binary_series) to_bytes(p.text);
        return p;
      }
  }
  // Any other value is searched for as its formed text.
  Cell* held = stack::push(value);
  Cell* s = push_new(16);
  actions::form(held, s, 0x7FFFFFFF);
  read_text(s, folding, p.text);
  stack::pop(2);
  if (binary_series) to_bytes(p.text);
  return p;
}

// The scan over one unit width.
struct scan {
  const uint8_t* data;  // the buffer's first element
  uint32_t unit;
  bool folding;
  bool float_elements;
  bool signed_elements;

  uint32_t code(int64_t i) const {
    uint32_t c = uint32_t(raw_at(data + uint64_t(i) * unit, unit));
    return folding ? fold(c) : c;
  }

  bool element_matches(const pattern& p, int64_t i) const {
    const uint8_t* at = data + uint64_t(i) * unit;
    if (p.kind == pattern::BITSET) {
      uint64_t c = raw_at(at, unit);
      uint64_t byte = c >> 3;
      if (byte >= p.bits.size()) return p.complement;
      return (p.bits[byte] & (0x80 >> (c & 7))) != 0;
    }
    if (p.kind == pattern::NUMBER) {
      if (float_elements) {
        double e = element_as_float(at, unit);
        return !std::isnan(e) && !std::isnan(p.number) && e == p.number;
      }
      return !std::isnan(p.number) &&
             double(element_as_integer(at, unit, signed_elements)) == p.number;
    }
    return false;
  }

  bool text_matches(const pattern& p, int64_t i) const {
    size_t m = p.text.size();
    for (size_t k = 0; k < m; k++) {
      if (code(i + int64_t(k)) != p.text[k]) return false;
    }
    return true;
  }
};

// A text pattern over one unit width, the first character tested first.
template <uint32_t UNIT>
int64_t scan_text(const uint8_t* data, const pattern& p, bool folding, int64_t first, int64_t low,
                  int64_t high, int64_t step, int64_t limit, bool match) {
  const int64_t m = int64_t(p.text.size());
  const uint32_t* pat = p.text.data();
  auto code = [&](int64_t i) {
    uint32_t c = get_char(data + uint64_t(i) * UNIT, UNIT);
    if constexpr (UNIT < 4) return folding ? uint32_t(case_folding::upper_table[c]) : c;
    return folding ? fold(c) : c;
  };
  for (int64_t i = first; i >= low && i <= high; i += step) {
    if (i + m > limit) {
      if (step > 0 || match) break;
      continue;
    }
    if (code(i) == pat[0]) {
      int64_t k = 1;
      while (k < m && code(i + k) == pat[k]) k++;
      if (k == m) return i;
    }
    if (match) break;
  }
  return -1;
}

struct search_result {
  int64_t position = -1;  // absolute index of the match, -1 for none
  uint32_t length = 0;    // elements matched
};

// The search shared by find and select (select passes no /tail or /match).
search_result search(Cell* series, const Cell* value, const find_options& o) {
  search_result none;
  uint32_t st = TYPE_OF(series);
  series_buffer* b = GET_BUFFER(series);
  uint32_t unit = b->unit();
  uint32_t total = b->used() / unit;
  if (total == 0) return none;
  uint32_t head = std::min(series->w1, total);
  if (head >= total && !o.reverse) return none;
  if (o.any || o.with) fire(err::INTERNAL, err::internal::NOT_DONE);
  int64_t step = 1;
  if (o.skip) {
    if (TYPE_OF(o.skip) != TYPE_INTEGER || get_integer(o.skip) < 1) {
      Cell v = *o.skip;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
    step = get_integer(o.skip);
  }
  int64_t length = -1;
  if (o.part) {
    if (TYPE_OF(o.part) == TYPE_INTEGER) {
      length = get_integer(o.part);
    } else if (TYPE_OF(o.part) == st && o.part->w2 == series->w2) {
      length = int64_t(std::min(o.part->w1, total)) - head;
    } else {
      bad_refine_arg(words::part, o.part);
    }
    if (length < 1) return none;
    length = std::min<int64_t>(length, total - head);
  }
  bool folding = is_string_type(st) && !o.case_sensitive && !o.same;
  pattern p = make_pattern(series, value, folding);
  uint32_t m = p.length();
  if (m == 0) return none;

  // Positions to try: [low, high] walked from `first` by `step`; a text
  // match must end by `limit`.
  int64_t first, low, high, limit;
  if (o.reverse) {
    if (o.match) return none;
    low = length < 0 ? 0 : std::max<int64_t>(0, int64_t(head) - length);
    high = int64_t(head) - 1;
    if (high < low) return none;
    first = high;
    limit = total;
    step = -step;
  } else {
    low = head;
    high = (length < 0 ? int64_t(total) : int64_t(head) + length) - 1;
    limit = high + 1;
    first = o.last ? high : low;
    if (o.last) step = -step;
  }
  b = GET_BUFFER(series);  // building the pattern may have moved it
  scan s{b->head_ptr(), unit, folding, is_float_vector(series), is_integer_vector(series)};
  bool text = p.kind == pattern::TEXT;
  if (text && unit != 8) {
    auto scan_unit = unit == 1 ? scan_text<1> : unit == 2 ? scan_text<2> : scan_text<4>;
    int64_t at = scan_unit(s.data, p, folding, first, low, high, step, limit, o.match);
    return at < 0 ? none : search_result{at, m};
  }
  for (int64_t i = first; i >= low && i <= high; i += step) {
    bool hit;
    if (text) {
      if (i + m > limit) {
        if (step > 0 || o.match) break;
        continue;
      }
      hit = s.text_matches(p, i);
    } else {
      hit = s.element_matches(p, i);
    }
    if (hit) return {i, m};
    if (o.match) break;
  }
  return none;
}

}  // namespace

Cell* find(Cell* series, const Cell* value, const find_options& o) {
  search_result r = search(series, value, o);
  if (r.position < 0) {
    *series = make_none();
    return series;
  }
  series->w1 = uint32_t(r.position + (o.tail ? r.length : 0));
  return series;
}

Cell* select(Cell* series, const Cell* value, const find_options& o) {
  find_options so = o;
  so.tail = so.match = false;
  search_result r = search(series, value, so);
  uint32_t type = TYPE_OF(series);
  if (r.position < 0 || r.position + r.length >= rs_abs_length(series)) {
    *series = make_none();
    return series;
  }
  uint32_t next = uint32_t(r.position + r.length);
  if (is_string_type(type)) {
    *series = make_char(rs_abs_at(series, next));
  } else if (type == TYPE_BINARY) {
    *series = make_integer(int32_t(rs_abs_at(series, next)));
  } else {
    series->w1 = next;
    Cell index = make_integer(1);
    actions::get_pick(series)(series, 1, &index);
  }
  return series;
}

// --- sort ------------------------------------------------------------------------------

namespace {

enum fold_mode { FOLD_NONE, FOLD_ASCII, FOLD_FULL };

struct sort_context {
  uint32_t unit;
  uint32_t offset;   // bytes into the record of the compared element
  uint32_t count;    // elements compared (the record size with /all)
  bool reverse;
  fold_mode folding;
  bool signed_elements;
  // User comparator.
  Cell* function;
  Cell* code;        // a two-cell block holding the arguments of a call
  uint32_t record;   // record size in elements
  uint32_t type;     // series type, for the record strings
  bool all;
};

inline uint32_t fold_for_sort(uint32_t c, fold_mode f) {
  if (f == FOLD_ASCII) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if (f == FOLD_FULL) return case_folding::to_lower(c);
  return c;
}

int32_t compare_units(const void* a, const void* b, uintptr_t c1, uintptr_t) {
  const auto& ctx = *reinterpret_cast<const sort_context*>(c1);
  const auto* pa = static_cast<const uint8_t*>(a) + ctx.offset;
  const auto* pb = static_cast<const uint8_t*>(b) + ctx.offset;
  for (uint32_t i = 0; i < ctx.count; i++) {
    int32_t r;
    if (ctx.signed_elements) {
      int64_t x = element_as_integer(pa + uint64_t(i) * ctx.unit, ctx.unit);
      int64_t y = element_as_integer(pb + uint64_t(i) * ctx.unit, ctx.unit);
      r = (x > y) - (x < y);
    } else {
      uint32_t x = fold_for_sort(uint32_t(raw_at(pa + uint64_t(i) * ctx.unit, ctx.unit)), ctx.folding);
      uint32_t y = fold_for_sort(uint32_t(raw_at(pb + uint64_t(i) * ctx.unit, ctx.unit)), ctx.folding);
      r = (x > y) - (x < y);
    }
    if (r) return ctx.reverse ? -r : r;
  }
  return 0;
}

// Floats: a NaN counts as greater than any number.
int32_t compare_floats(const void* a, const void* b, uintptr_t c1, uintptr_t) {
  const auto& ctx = *reinterpret_cast<const sort_context*>(c1);
  const auto* pa = static_cast<const uint8_t*>(a) + ctx.offset;
  const auto* pb = static_cast<const uint8_t*>(b) + ctx.offset;
  for (uint32_t i = 0; i < ctx.count; i++) {
    double x = element_as_float(pa + uint64_t(i) * ctx.unit, ctx.unit);
    double y = element_as_float(pb + uint64_t(i) * ctx.unit, ctx.unit);
    int32_t r;
    if (std::isnan(x) || std::isnan(y)) r = std::isnan(x) - std::isnan(y);
    else r = (x > y) - (x < y);
    if (r) return ctx.reverse ? -r : r;
  }
  return 0;
}

// The argument a user comparator receives for one record.
Cell record_value(const sort_context& ctx, const uint8_t* record) {
  if (!ctx.all) {
    uint32_t c = uint32_t(raw_at(record + ctx.offset, ctx.unit));
    return ctx.type == TYPE_BINARY ? make_integer(int32_t(c)) : make_char(c);
  }
  return make_none();  // filled in by the caller (it allocates)
}

Cell record_string(const sort_context& ctx, const std::vector<uint8_t>& bytes) {
  node_t node = memory::alloc_codepoints(ctx.record, ctx.unit);
  series_buffer* b = memory::buffer(node);
  std::memcpy(b->data(), bytes.data(), bytes.size());
  b->tail = uint32_t(bytes.size());
  return make_series(ctx.type == TYPE_BINARY ? TYPE_BINARY : TYPE_STRING, node);
}

int32_t compare_user(const void* a, const void* b, uintptr_t c1, uintptr_t) {
  const auto& ctx = *reinterpret_cast<const sort_context*>(c1);
  if (stack::pending()) return 0;  // a non-local exit is on its way out
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  Cell x, y;
  if (!ctx.all) {
    x = record_value(ctx, pa);
    y = record_value(ctx, pb);
  } else {
    // Both records are copied before anything allocates.
    uint32_t bytes = ctx.record * ctx.unit;
    std::vector<uint8_t> ra(pa, pa + bytes), rb(pb, pb + bytes);
    Cell* hold = stack::push_unset();
    *hold = record_string(ctx, ra);
    y = record_string(ctx, rb);
    x = *hold;
    stack::pop(1);
  }
  // The function sees the second element first (the first with /reverse).
  Cell* args = block::rs_head(ctx.code);
  args[0] = ctx.reverse ? x : y;
  args[1] = ctx.reverse ? y : x;
  Cell* base = stack::top;
  interpreter::call_any_function(ctx.function, ctx.code, ctx.code->w1, ctx.code->w1 + 2, true,
                                 nullptr, &words::compare_callback_marker_word, nullptr, 0, false);
  if (stack::pending()) return 0;
  Cell r = *(stack::top - 1);
  stack::top = base;
  switch (TYPE_OF(&r)) {
    case TYPE_LOGIC: return r.w1 ? 1 : -1;
    case TYPE_INTEGER: {
      int32_t v = get_integer(&r);
      return v < 0 ? 1 : v > 0 ? -1 : 0;
    }
    case TYPE_FLOAT: {
      double v = get_float(&r);
      return v < 0 ? 1 : v > 0 ? -1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
  }
}

bool is_function_value(uint32_t t) {
  return t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION ||
         t == TYPE_OP;
}

}  // namespace

Cell* sort(Cell* series, const sort_options& o) {
  uint32_t type = TYPE_OF(series);
  series_buffer* b = GET_BUFFER(series);
  uint32_t unit = b->unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(series->w1, total);
  int64_t len = int64_t(total) - head;
  if (o.part) {
    if (TYPE_OF(o.part) == TYPE_INTEGER) {
      len = get_integer(o.part);
    } else if (TYPE_OF(o.part) == type && o.part->w2 == series->w2) {
      len = int64_t(std::min(o.part->w1, total)) - head;
    } else {
      bad_refine_arg(words::part, o.part);
    }
    len = std::min<int64_t>(len, int64_t(total) - head);
  }
  int64_t start = head;
  if (len < 0) {
    if (int64_t(head) + len < 0) return series;
    start = head + len;
    len = -len;
  }
  uint32_t size = 1;
  if (o.skip) {
    int64_t k = TYPE_OF(o.skip) == TYPE_INTEGER ? get_integer(o.skip) : 0;
    if (k < 1 || k > len || len % k != 0) bad_refine_arg(words::skip, o.skip);
    size = uint32_t(k);
  }
  if (o.all && !o.skip) fire(err::SCRIPT, err::script::BAD_REFINES);
  uint32_t offset = 0;
  bool user = false;
  if (o.comparator) {
    uint32_t ct = TYPE_OF(o.comparator);
    if (is_function_value(ct)) {
      user = true;
    } else if (ct == TYPE_INTEGER) {
      if (!o.skip || o.all) fire(err::SCRIPT, err::script::BAD_REFINES);
      int32_t k = get_integer(o.comparator);
      if (k < 1 || uint32_t(k) > size) {
        Cell v = *o.comparator;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
      }
      offset = uint32_t(k - 1);
    } else {
      bad_refine_arg(words::compare, o.comparator);
    }
  }
  uint32_t records = uint32_t(len / size);
  bool owned = ownership::check(series, words::sort, &none_value, int32_t(start), int32_t(len));
  if (records > 1) {
    sort_context ctx{};
    ctx.unit = unit;
    ctx.offset = offset * unit;
    ctx.count = o.all ? size : 1;
    ctx.reverse = o.reverse;
    ctx.folding = o.case_sensitive || !is_string_type(type) ? FOLD_NONE
                  : unit == 1                                ? FOLD_ASCII
                                                             : FOLD_FULL;
    ctx.signed_elements = is_integer_vector(series);
    ctx.record = size;
    ctx.type = type;
    ctx.all = o.all;
    sorting::comparator cmp = is_float_vector(series) ? compare_floats : compare_units;
    uint32_t bytes = size * unit;
    // A user comparator may move the series: sort through its node.
    if (user) {
      Cell* fn = stack::push(*o.comparator);
      Cell* code = block::push_only(2);
      block::rs_append(code, &none_value);
      block::rs_append(code, &none_value);
      ctx.function = fn;
      ctx.code = code;
      uint32_t data_offset = GET_BUFFER(series)->head + uint32_t(start) * unit;
      if (o.stable) {
        sorting::merge_sort_series(series->w2, data_offset, records, bytes,
                                   reinterpret_cast<uintptr_t>(&ctx), 0, compare_user);
      } else {
        sorting::quick_sort_series(series->w2, data_offset, records, bytes,
                                   reinterpret_cast<uintptr_t>(&ctx), 0, compare_user);
      }
      if (stack::pending()) return series;
      stack::top = fn;
    } else {
      uint8_t* base = GET_BUFFER(series)->head_ptr() + uint64_t(start) * unit;
      // /stable always sorts stably; /case only chooses the comparator.
      if (o.stable) {
        sorting::merge_sort(base, records, bytes, reinterpret_cast<uintptr_t>(&ctx), 0, cmp);
      } else {
        sorting::quick_sort(base, records, bytes, reinterpret_cast<uintptr_t>(&ctx), 0, cmp);
      }
    }
  }
  if (owned) ownership::check(series, words::sorted, &none_value, int32_t(start), int32_t(len));
  return series;
}

// --- Set operations ---------------------------------------------------------------------

namespace {

// Appends the records of `walked` whose first character passes the test
// against `other` (none: no test; `want` whether it must occur there) and
// does not occur in `result` yet.
void collect(Cell* result, const Cell* walked, const Cell* other, bool want, uint32_t skip,
             bool case_sensitive) {
  uint32_t total = rs_abs_length(walked);
  uint32_t head = std::min(walked->w1, total);
  for (uint32_t i = head; i < total; i += skip) {
    uint32_t c = rs_abs_at(walked, i);
    if (other && has_char(other, c, skip, case_sensitive) != want) continue;
    if (has_char(result, c, skip, case_sensitive)) continue;
    uint32_t end = std::min<uint64_t>(uint64_t(i) + skip, total);
    for (uint32_t k = i; k < end; k++) append_char(result->w2, rs_abs_at(walked, k));
  }
}

}  // namespace

Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op, bool case_sensitive, const Cell* skip) {
  uint32_t size = 1;
  if (skip) {
    if (TYPE_OF(skip) != TYPE_INTEGER || get_integer(skip) < 1) bad_refine_arg(words::skip, skip);
    size = uint32_t(get_integer(skip));
  }
  Cell* a = stack::push(*set1);
  Cell* b = stack::push(set2 ? *set2 : *set1);
  rs_head(a);
  rs_head(b);
  Cell* result = push_new(rs_length(a) + (set2 ? rs_length(b) : 0));
  switch (op) {
    case OP_UNIQUE: collect(result, a, nullptr, true, size, case_sensitive); break;
    case OP_UNION:
      collect(result, a, nullptr, true, size, case_sensitive);
      collect(result, b, nullptr, true, size, case_sensitive);
      break;
    case OP_INTERSECT: collect(result, a, b, true, size, case_sensitive); break;
    case OP_EXCLUDE: collect(result, a, b, false, size, case_sensitive); break;
    case OP_DIFFERENCE:
      collect(result, a, b, false, size, case_sensitive);
      collect(result, b, a, false, size, case_sensitive);
      break;
    default: runtime::runtime_error(101, KEZ_ERROR_LOCATION());
  }
  set1->w1 = 0;
  set1->w2 = result->w2;
  set1->w3 = 0;
  stack::top = a;
  return set1;
}

}  // namespace kez::string
