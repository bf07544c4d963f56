// Sorting blocks and the set operations on blocks and hashes.
//
// sort orders records of one or more cells by the datatypes' own compare
// or by a user function. A user function can raise an error or leave with
// break/return/throw: the sort must still leave a permutation of the
// records behind, so the unstable sort runs in place (it only exchanges
// records) and the stable one sorts a copy that is written back only when
// the sort completed. After a non-local exit the comparator answers 0
// without calling anything, the sort runs out, and nothing else happens.
//
// The set operations build their result with an index of their own over
// the records' first cells (positions, never addresses, so the blocks may
// move while the result grows). Two keys are the same when they have the
// same type and compare equal (strictly with /case); block kinds compare
// by contents.
#include <algorithm>
#include <vector>

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "foundation/sort.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/hash_hooks.h"
#include "values/series.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::block {

namespace {

inline Cell* first_cell(const Cell* b) { return cell_head(GET_BUFFER(b)); }
inline uint32_t abs_length(const Cell* b) { return GET_BUFFER(b)->used() / sizeof(Cell); }

[[noreturn]] void bad_refine(uint32_t refinement_symbol, const Cell* value) {
  Cell w = word::make_global(refinement_symbol), v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

// --- comparators -------------------------------------------------------------

// Sort flags: bit 0 reverse order, bit 1 whole records; the rest (>> 2) the
// record size with bit 1, else the offset of the compared cell.
constexpr uint32_t SORT_REVERSE = 1;
constexpr uint32_t SORT_ALL = 2;

inline int32_t compare_pair(const Cell* x, const Cell* y, int32_t mode) {
  if (TYPE_OF(x) == TYPE_INTEGER && TYPE_OF(y) == TYPE_INTEGER) {
    int32_t a = get_integer(x), b = get_integer(y);
    return a < b ? -1 : a > b ? 1 : 0;
  }
  Cell a = *x, b = *y;
  int32_t r = actions::compare_values(&a, &b, mode);
  if (r == -2) r = int32_t(TYPE_OF(&a)) - int32_t(TYPE_OF(&b));
  return r;
}

int32_t sort_compare(const void* pa, const void* pb, uintptr_t mode, uintptr_t flags) {
  auto* a = static_cast<const Cell*>(pa);
  auto* b = static_cast<const Cell*>(pb);
  if (flags & SORT_REVERSE) std::swap(a, b);
  uint32_t n = uint32_t(flags >> 2);
  if (flags & SORT_ALL) {
    for (uint32_t k = 0; k < n; k++) {
      int32_t r = compare_pair(a + k, b + k, int32_t(mode));
      if (r != 0) return r;
    }
    return 0;
  }
  return compare_pair(a + n, b + n, int32_t(mode));
}

struct user_sort {
  Cell* fn;         // the function, on the value stack
  Cell* scratch_a;  // record blocks handed over under /all (or nullptr)
  Cell* scratch_b;
  uint32_t flags;
  uint32_t record;
};

// Pushes the function's frame cells: the two values as its first arguments,
// then false for each refinement and none for every other word.
void push_frame_cells(const Cell* fn, const Cell* x, const Cell* y) {
  Cell spec = make_series(TYPE_BLOCK, fn->w2);
  int32_t n = rs_length(&spec);
  int32_t given = 0;
  bool refinements = false;
  for (int32_t i = 0; i < n; i++) {
    uint32_t t = TYPE_OF(rs_head(&spec) + i);
    if (t == TYPE_REFINEMENT) {
      refinements = true;
      stack::push(false_value);
    } else if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD) {
      if (!refinements && given < 2) stack::push(given++ == 0 ? x : y);
      else stack::push(none_value);
    }
  }
}

void fill_scratch(Cell* scratch, const std::vector<Cell>& cells) {
  rs_clear(scratch);
  scratch->w1 = 0;
  for (const Cell& c : cells) rs_append(scratch, &c);
}

int32_t sort_compare_func(const void* pa, const void* pb, uintptr_t context, uintptr_t) {
  if (stack::pending()) return 0;
  auto* u = reinterpret_cast<const user_sort*>(context);
  auto* a = static_cast<const Cell*>(pa);
  auto* b = static_cast<const Cell*>(pb);
  // The function is asked whether its first argument goes before the
  // second: it receives b then a (a then b in reverse order).
  if (!(u->flags & SORT_REVERSE)) std::swap(a, b);
  Cell x, y;
  if (u->scratch_a) {
    // Both records are copied out first: filling a scratch block allocates.
    std::vector<Cell> ra(a, a + u->record), rb(b, b + u->record);
    fill_scratch(u->scratch_a, ra);
    fill_scratch(u->scratch_b, rb);
    x = *u->scratch_a;
    y = *u->scratch_b;
  } else {
    x = *a;
    y = *b;
  }
  Cell fn = *u->fn;
  Cell* base = stack::top;
  stack::push(fn);
  stack::open_function_frame(&words::compare_callback_marker_word, fn.w1);
  push_frame_cells(&fn, &x, &y);
  interpreter::call_function(&fn, fn.w1, &words::compare_callback_marker_word, 0);
  if (stack::pending()) return 0;
  stack::pop_function_frame();
  Cell r = base[1];
  stack::top = base;
  switch (TYPE_OF(&r)) {
    case TYPE_LOGIC: return r.w1 ? 1 : -1;
    case TYPE_INTEGER: return get_integer(&r);
    case TYPE_FLOAT: return get_float(&r) < 0.0 ? -1 : 1;
    case TYPE_NONE: return -1;
    default: return 1;
  }
}

}  // namespace

Cell* sort(Cell* b, const sort_options& o) {
  uint32_t len = abs_length(b);
  if (b->w1 > len) b->w1 = len;
  uint32_t head = b->w1;
  if (head >= len && !(o.part && TYPE_OF(o.part) == TYPE_INTEGER && get_integer(o.part) < 0))
    return b;
  uint32_t start = head;
  int64_t count = len - head;
  if (o.part) {
    int64_t n;
    if (TYPE_OF(o.part) == TYPE_INTEGER) n = get_integer(o.part);
    else if (TYPE_OF(o.part) == TYPE_OF(b) && o.part->w2 == b->w2)
      n = int64_t(std::min(o.part->w1, len)) - head;
    else bad_refine(words::part, o.part);
    if (n < 0) {
      start = uint32_t(std::max<int64_t>(int64_t(head) + n, 0));
      count = head - start;
    } else {
      count = std::min<int64_t>(n, len - head);
    }
  }
  uint32_t record = 1;
  if (o.skip) {
    if (TYPE_OF(o.skip) != TYPE_INTEGER) bad_refine(words::skip, o.skip);
    int32_t s = get_integer(o.skip);
    if (s < 1 || count % s != 0 || count < s) bad_refine(words::skip, o.skip);
    record = uint32_t(s);
  }
  const Cell* cmp = o.comparator;
  if ((o.all && !o.skip) ||
      (cmp && TYPE_OF(cmp) == TYPE_INTEGER && (!o.skip || o.all)))
    fire(err::SCRIPT, err::script::BAD_REFINES);
  int32_t mode = o.case_sensitive ? COMP_CASE_SORT : COMP_SORT;
  uint32_t flags = (o.reverse ? SORT_REVERSE : 0) | (o.all ? SORT_ALL | (record << 2) : 0);
  bool user = false;
  if (cmp) {
    if (TYPE_OF(cmp) == TYPE_INTEGER) {
      int32_t c = get_integer(cmp);
      if (c < 1 || uint32_t(c) > record) {
        Cell v = *cmp;
        fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
      }
      flags |= uint32_t(c - 1) << 2;
    } else if (TYPE_OF(cmp) == TYPE_FUNCTION) {
      user = true;
    } else {
      bad_refine(words::compare, cmp);
    }
  }
  uint32_t records = uint32_t(count / record);
  if (records < 2) return b;

  bool told = series::tell(b, words::sort_word, nullptr, int32_t(start), int32_t(count));
  len = abs_length(b);
  if (start + uint64_t(records) * record > len) records = start < len ? (len - start) / record : 0;
  uint32_t size = record * uint32_t(sizeof(Cell));

  Cell* base = stack::top;
  user_sort u{nullptr, nullptr, nullptr, flags, record};
  sorting::comparator compare = sort_compare;
  uintptr_t c1 = uintptr_t(mode), c2 = flags;
  if (user) {
    u.fn = stack::push(*cmp);
    if (o.all && record > 1) {
      u.scratch_a = push_only(int32_t(record));
      u.scratch_b = push_only(int32_t(record));
    }
    compare = sort_compare_func;
    c1 = reinterpret_cast<uintptr_t>(&u);
    c2 = 0;
  }
  if (o.stable) {
    // Sort a copy: a comparator that fails half-way leaves the block whole.
    Cell* work = stack::push_unset();
    node_t node = series::copy_range(b, start, records * record);
    *work = make_series(TYPE_BLOCK, node);
    sorting::merge_sort_series(node, 0, records, size, c1, c2, compare);
    if (stack::pending()) return b;
    uint32_t n = std::min(records * record, abs_length(b) > start ? abs_length(b) - start : 0);
    std::memcpy(first_cell(b) + start, first_cell(work), size_t(n) * sizeof(Cell));
  } else {
    series_buffer* buf = GET_BUFFER(b);
    sorting::quick_sort_series(b->w2, buf->head + start * uint32_t(sizeof(Cell)), records, size,
                               c1, c2, compare);
    if (stack::pending()) return b;
  }
  stack::top = base;
  if (hash::is_hash(b)) hash::on_rebuild(b);
  if (told) series::tell(b, words::sorted_word, nullptr, int32_t(start), 0);
  return b;
}

// --- set operations ----------------------------------------------------------

namespace {

// An open-addressing index of record positions in one block, keyed by the
// record's first cell.
struct record_index {
  const Cell* block;  // a cell on the value stack
  int32_t op;
  bool case_sensitive;
  std::vector<int64_t> slots;  // position, -1 empty
  uint32_t live = 0;

  record_index(const Cell* b, int32_t comparison, bool cs, uint32_t expected)
      : block(b), op(comparison), case_sensitive(cs) {
    size_t n = 16;
    while (n < size_t(expected) * 2) n <<= 1;
    slots.assign(n, -1);
  }

  uint32_t hash_of(const Cell* c) const {
    uint32_t t = TYPE_OF(c);
    // Block kinds are equal by contents: hash what cannot differ between
    // equal ones.
    if (is_block_type(t))
      return hashtable::mix(t * 0x9E3779B1u + uint32_t(std::max(rs_length(c), 0)));
    return hashtable::hash_value(c, case_sensitive) ^ hashtable::mix(t);
  }

  bool same(const Cell* x, const Cell* y) const {
    if (TYPE_OF(x) != TYPE_OF(y)) return false;
    if (TYPE_OF(x) == TYPE_INTEGER) return x->w2 == y->w2;
    Cell a = *x, b = *y;
    return actions::compare_values(&a, &b, op) == 0;
  }

  // The slot holding a key equal to `key`, or the empty slot ending the probe.
  size_t probe(const Cell* key, bool& found) const {
    size_t mask = slots.size() - 1, i = hash_of(key) & mask;
    found = false;
    while (slots[i] >= 0) {
      Cell c = first_cell(block)[slots[i]];
      if (same(&c, key)) {
        found = true;
        return i;
      }
      i = (i + 1) & mask;
    }
    return i;
  }

  bool contains(const Cell* key) const {
    bool found;
    probe(key, found);
    return found;
  }

  void grow() {
    std::vector<int64_t> old = std::move(slots);
    slots.assign(old.size() * 2, -1);
    for (int64_t pos : old) {
      if (pos < 0) continue;
      Cell c = first_cell(block)[pos];
      bool found;
      slots[probe(&c, found)] = pos;
    }
  }

  void add(uint32_t pos) {
    if ((live + 1) * 2 > slots.size()) grow();
    Cell c = first_cell(block)[pos];
    bool found;
    size_t i = probe(&c, found);
    if (!found) {
      slots[i] = pos;
      live++;
    }
  }
};

// Indexes every record of a block from its head.
void index_records(record_index& idx, const Cell* b, uint32_t record) {
  for (uint32_t pos = b->w1; pos < abs_length(b); pos += record) idx.add(pos);
}

// Appends to `result` each record of `source` that passes the filter (found
// in it, or not found when `invert`) and whose key is not in the result yet.
void collect(Cell* result, record_index& seen, const Cell* source, uint32_t record,
             const record_index* filter, bool invert) {
  for (uint32_t pos = source->w1; pos < abs_length(source); pos += record) {
    Cell key = first_cell(source)[pos];
    if (filter && filter->contains(&key) == invert) continue;
    if (seen.contains(&key)) continue;
    uint32_t at = abs_length(result);
    uint32_t n = std::min(record, abs_length(source) - pos);
    for (uint32_t k = 0; k < n; k++) {
      Cell c = first_cell(source)[pos + k];
      rs_append(result, &c);
    }
    seen.add(at);
  }
}

}  // namespace

Cell* do_set_op(Cell* set1, const Cell* set2, int32_t op, bool case_sensitive, const Cell* skip) {
  uint32_t record = 1;
  if (skip) {
    if (TYPE_OF(skip) != TYPE_INTEGER || get_integer(skip) < 1) bad_refine(words::skip, skip);
    record = uint32_t(get_integer(skip));
  }
  int32_t comparison = case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL;
  Cell* base = stack::top;
  Cell* a = stack::push(*set1);
  Cell* b = set2 ? stack::push(*set2) : nullptr;
  if (a->w1 > abs_length(a)) a->w1 = abs_length(a);
  if (b && b->w1 > abs_length(b)) b->w1 = abs_length(b);
  uint32_t la = abs_length(a) - a->w1, lb = b ? abs_length(b) - b->w1 : 0;
  Cell* result = push_only(int32_t(op == OP_UNION || op == OP_DIFFERENCE ? la + lb : la));
  record_index seen(result, comparison, case_sensitive, la + lb);
  switch (op) {
    case OP_UNIQUE: collect(result, seen, a, record, nullptr, false); break;
    case OP_UNION:
      collect(result, seen, a, record, nullptr, false);
      if (b) collect(result, seen, b, record, nullptr, false);
      break;
    case OP_INTERSECT:
    case OP_EXCLUDE:
    case OP_DIFFERENCE: {
      if (!b) break;
      record_index in_b(b, comparison, case_sensitive, lb);
      index_records(in_b, b, record);
      collect(result, seen, a, record, &in_b, op != OP_INTERSECT);
      if (op == OP_DIFFERENCE) {
        record_index in_a(a, comparison, case_sensitive, la);
        index_records(in_a, a, record);
        collect(result, seen, b, record, &in_a, true);
      }
      break;
    }
    default: fire(err::INTERNAL, err::internal::NOT_DONE);
  }
  Cell r = *result;
  r.header = TYPE_OF(set1);
  stack::top = base;
  *set1 = r;
  if (hash::is_hash(set1)) hash::index_new(set1);
  return set1;
}

}  // namespace kez::block
