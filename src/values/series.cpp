// series!: the row of actions that blocks, strings, binaries, vectors and
// images inherit.
//
// Every routine works on element indexes and the buffer's unit, so one body
// serves text, bytes, vector elements and cells. Buffer addresses are read
// again after anything that can allocate or run user code (the owner's
// handler among them); cells taken out of a buffer are copied first.
#include "values/series.h"

#include <algorithm>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "foundation/sort.h"
#include "services/random.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/hash_hooks.h"
#include "values/ownership.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::series {

Cell (*vector_get)(const Cell* vector, uint32_t index) = nullptr;
void (*vector_set)(Cell* vector, uint32_t index, const Cell* value) = nullptr;

namespace {

inline bool is_cell_series(uint32_t t) { return block::is_block_type(t) || t == TYPE_MAP; }

bool is_series_type(uint32_t t) {
  return is_cell_series(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE;
}

[[noreturn]] void bad_refine(uint32_t refinement_symbol, const Cell* value) {
  Cell w = word::make_global(refinement_symbol), v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

// The remaining elements from the head (0 when the head lies past the tail).
inline uint32_t remaining(const Cell* s) {
  uint32_t len = buffer_length(s);
  return s->w1 < len ? len - s->w1 : 0;
}

inline void clamp_head(Cell* s) {
  uint32_t len = buffer_length(s);
  if (s->w1 > len) s->w1 = len;
}

void swap_elements(Cell* s, uint32_t i, uint32_t j, uint32_t n) {
  uint32_t unit = GET_UNIT(s);
  sorting::swap(element_at(s, i), element_at(s, j), n * unit, false);
}

}  // namespace

bool rs_skip(Cell* s, int32_t n) {
  int64_t len = buffer_length(s);
  int64_t h = int64_t(s->w1) + n;
  if (h <= len) s->w1 = uint32_t(h < 0 ? 0 : h);
  return h >= len;
}

int32_t get_length(Cell* s, bool absolute) {
  uint32_t len = buffer_length(s);
  if (s->w1 > len) {
    s->w1 = len;
    return 0;
  }
  return int32_t(absolute ? len : len - s->w1);
}

int32_t part_count(const Cell* s, const Cell* part) {
  if (TYPE_OF(part) == TYPE_INTEGER) return get_integer(part);
  if (TYPE_OF(part) == TYPE_OF(s) && part->w2 == s->w2) {
    uint32_t len = buffer_length(s);
    int64_t p = std::min(part->w1, len), h = std::min(s->w1, len);
    return int32_t(p - h);
  }
  bad_refine(words::part, part);
}

bool tell(const Cell* s, const Cell& action_word, const Cell* value, int32_t index,
          int32_t count) {
  if (!(GET_BUFFER(s)->flags & SERIES_OWNED)) return false;
  return ownership::check(s, action_word.w2, value, index, count);
}

Cell element(const Cell* s, uint32_t index) {
  uint32_t t = TYPE_OF(s);
  if (is_cell_series(t)) return cell_head(GET_BUFFER(s))[index];
  if (t == TYPE_VECTOR) {
    if (!vector_get) fire(err::INTERNAL, err::internal::NOT_DONE);
    return vector_get(s, index);
  }
  uint32_t unit = GET_UNIT(s);
  uint32_t raw = unit <= 4 ? unicode::get_char(element_at(s, index), unit) : 0;
  if (string::is_string_type(t)) return make_char(raw);
  return make_integer(int32_t(raw));
}

node_t copy_range(const Cell* s, uint32_t from, uint32_t n) {
  node_t source = s->w2;
  uint32_t unit = memory::buffer(source)->unit();
  node_t fresh = memory::alloc_series(n ? n : 1, unit, 0);
  series_buffer* src = memory::buffer(source);
  series_buffer* dst = memory::buffer(fresh);
  memory::copy_flags(src, dst);
  std::memcpy(dst->data(), src->head_ptr() + uint64_t(from) * unit, uint64_t(n) * unit);
  dst->head = 0;
  dst->tail = n * unit;
  return fresh;
}

void remove_range(Cell* s, uint32_t from, uint32_t n) {
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit(), len = buffer_length(b);
  if (from >= len) return;
  n = std::min(n, len - from);
  uint8_t* at = b->head_ptr() + uint64_t(from) * unit;
  std::memmove(at, at + uint64_t(n) * unit, uint64_t(len - from - n) * unit);
  b->tail -= n * unit;
}

series_buffer* open_gap(Cell* s, uint32_t at, uint32_t n) {
  node_t node = s->w2;
  uint32_t unit = memory::buffer(node)->unit();
  uint64_t bytes = uint64_t(n) * unit;
  if (memory::buffer(node)->tail + bytes > MAX_SERIES_SIZE)
    fire(err::INTERNAL, err::internal::NO_MEMORY);
  series_buffer* b = memory::ensure_room(node, bytes);
  uint32_t len = buffer_length(b);
  uint8_t* p = b->head_ptr() + uint64_t(at) * unit;
  std::memmove(p + bytes, p, uint64_t(len - at) * unit);
  b->tail += uint32_t(bytes);
  return b;
}

namespace {

// --- head moves ------------------------------------------------------------------

Cell* head(Cell* s) {
  s->w1 = 0;
  return s;
}
Cell* tail(Cell* s) {
  s->w1 = buffer_length(s);
  return s;
}
Cell* head_q(Cell* s) {
  *s = make_logic(s->w1 == 0);
  return s;
}
Cell* tail_q(Cell* s) {
  *s = make_logic(rs_tail_q(s));
  return s;
}
Cell* index_q(Cell* s) {
  *s = make_integer(int32_t(s->w1 + 1));
  return s;
}
int32_t length_q(const Cell* s) { return int32_t(remaining(s)); }
Cell* next(Cell* s) {
  rs_skip(s, 1);
  return s;
}
Cell* back(Cell* s) {
  if (s->w1 > 0) s->w1--;
  return s;
}

// at (base 1) and skip (base 0).
Cell* get_position(Cell* s, const Cell* index, int64_t base) {
  if (TYPE_OF(index) != TYPE_INTEGER) {
    Cell i = *index;
    fire(err::SCRIPT, err::script::INVALID_ARG, &i);
  }
  int64_t i = get_integer(index);
  if (base == 1 && i <= 0) base = 0;
  int64_t h = int64_t(s->w1) + i - base;
  int64_t len = buffer_length(s);
  s->w1 = uint32_t(std::clamp<int64_t>(h, 0, len));
  return s;
}
Cell* at(Cell* s, const Cell* index) { return get_position(s, index, 1); }
Cell* skip(Cell* s, const Cell* offset) { return get_position(s, offset, 0); }

// The absolute position of a pick/poke index, or -1 when there is none.
int64_t index_position(const Cell* s, int32_t n) {
  if (n == 0) return -1;
  int64_t pos = n > 0 ? int64_t(s->w1) + n - 1 : int64_t(s->w1) + n;
  if (pos < 0 || pos >= int64_t(buffer_length(s))) return -1;
  return pos;
}

// --- changing --------------------------------------------------------------------

// The value check of poke, before anything changes.
void check_store(const Cell* s, const Cell* value) {
  uint32_t t = TYPE_OF(s), vt = TYPE_OF(value);
  bool ok = true;
  if (string::is_string_type(t)) ok = vt == TYPE_CHAR;
  else if (t == TYPE_BINARY) {
    ok = vt == TYPE_CHAR || vt == TYPE_INTEGER;
    if (ok && (get_integer(value) < 0 || get_integer(value) > 255)) {
      Cell v = *value;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
  }
  if (!ok) {
    Cell v = *value;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
}

void store(Cell* s, uint32_t pos, const Cell* value) {
  uint32_t t = TYPE_OF(s);
  if (is_cell_series(t)) {
    Cell v = *value;
    cell_head(GET_BUFFER(s))[pos] = v;
    if (hash::is_hash(s)) hash::on_change(s, pos);
  } else if (t == TYPE_VECTOR) {
    if (!vector_set) fire(err::INTERNAL, err::internal::NOT_DONE);
    vector_set(s, pos, value);
  } else if (string::is_string_type(t)) {
    string::overwrite_char(s->w2, pos, value->w2);
  } else {
    uint32_t unit = GET_UNIT(s);
    unicode::put_char(element_at(s, pos), unit, value->w2);
  }
}

Cell* random(Cell* s, bool seed, bool secure, bool only) {
  if (seed) {
    uint32_t n = remaining(s), unit = GET_UNIT(s);
    uint32_t h = hashtable::murmur3(element_at(s, s->w1), uint64_t(n) * unit);
    random::seed(int32_t(h));
    *s = make_unset();
    return s;
  }
  uint32_t n = remaining(s);
  if (only) {
    if (n == 0) {
      *s = make_none();
      return s;
    }
    int32_t r = random::rand(secure, int32_t(n));
    Cell e = element(s, s->w1 + uint32_t(r) - 1);
    *s = e;
    return s;
  }
  if (n == 0) return s;
  uint32_t start = s->w1;
  bool told = tell(s, words::random_word, nullptr, int32_t(start), int32_t(n));
  uint32_t len = buffer_length(s);
  for (uint32_t i = start; i < len; i++) {
    int32_t r = random::rand(secure, int32_t(len - i));
    if (r > 1) swap_elements(s, i, i + uint32_t(r) - 1, 1);
  }
  if (hash::is_hash(s)) hash::on_rebuild(s);
  if (told) tell(s, words::randomized_word, nullptr, int32_t(start), 0);
  return s;
}

Cell* reflect(Cell* s, uint32_t field) {
  if (symbol::resolve(field) != symbol::resolve(words::owned))
    fire(err::INTERNAL, err::internal::NOT_DONE);
  *s = ownership::owner_of(s);
  return s;
}

Cell* modify(Cell* s, const Cell* field, Cell* value, bool) {
  if (word::is_any_word(TYPE_OF(field)) &&
      symbol::resolve(field->w2) == symbol::resolve(words::owned))
    ownership::modify_owned(s, value);
  *s = *value;
  return s;
}

Cell* reverse(Cell* s, const Cell* part, const Cell* skip_size) {
  uint32_t len = buffer_length(s);
  if (s->w1 >= len) return s;
  int64_t count = part ? part_count(s, part) : int64_t(len - s->w1);
  if (count < 1) return s;
  count = std::min<int64_t>(count, len - s->w1);
  int64_t rec = 1;
  if (skip_size) {
    if (TYPE_OF(skip_size) != TYPE_INTEGER) bad_refine(words::skip, skip_size);
    rec = get_integer(skip_size);
    if (rec == count) return s;
    if (rec < 1) {
      Cell v = *skip_size;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
    if (count < rec || count % rec != 0) bad_refine(words::skip, skip_size);
  }
  uint32_t start = s->w1;
  bool told = tell(s, words::reverse_word, nullptr, int32_t(start), int32_t(count));
  len = buffer_length(s);
  if (start + count > len) count = len > start ? len - start : 0;
  count -= count % rec;
  if (count > 0) {
    uint32_t i = start, j = start + uint32_t(count - rec);
    while (i < j) {
      swap_elements(s, i, j, uint32_t(rec));
      i += uint32_t(rec);
      j -= uint32_t(rec);
    }
  }
  if (hash::is_hash(s)) hash::on_rebuild(s);
  if (told) tell(s, words::reversed_word, nullptr, int32_t(start), 0);
  return s;
}

// Within one buffer: the moved elements end at the destination's place
// counted after their removal (the tail stays the tail).
void move_within(Cell* s, uint32_t src, uint32_t dst, uint32_t n) {
  uint32_t unit = GET_UNIT(s);
  uint32_t len = buffer_length(s);
  std::vector<uint8_t> scratch(uint64_t(n) * unit);
  uint8_t* base = element_at(s, 0);
  std::memcpy(scratch.data(), base + uint64_t(src) * unit, scratch.size());
  uint32_t place;
  if (dst < src) {
    std::memmove(base + uint64_t(dst + n) * unit, base + uint64_t(dst) * unit,
                 uint64_t(src - dst) * unit);
    place = dst;
  } else {
    place = dst == len ? len - n : dst;
    std::memmove(base + uint64_t(src) * unit, base + uint64_t(src + n) * unit,
                 uint64_t(place - src) * unit);
  }
  std::memcpy(base + uint64_t(place) * unit, scratch.data(), scratch.size());
}

Cell* move(Cell* origin, Cell* target, const Cell* part) {
  uint32_t ot = TYPE_OF(origin), tt = TYPE_OF(target);
  if (!is_series_type(tt)) {
    Cell call = stack::get_call_word(), dt = make_datatype(tt);
    Cell w = word::make_global(symbol::make("target"));
    fire(err::SCRIPT, err::script::EXPECT_ARG, &call, &dt, &w);
  }
  if (rs_tail_q(origin)) return origin;
  int64_t n = 1;
  if (part) {
    if (TYPE_OF(part) != TYPE_INTEGER) bad_refine(words::part, part);
    n = get_integer(part);
  }
  n = std::min<int64_t>(n, remaining(origin));
  if (n < 1) return origin;
  uint32_t src = origin->w1;

  if (origin->w2 == target->w2) {
    uint32_t len = buffer_length(origin);
    uint32_t dst = std::min(target->w1, len);
    if (dst == src) return origin;
    if (dst > src && dst != len && len - dst < n) return origin;
    tell(target, words::move_word, origin, int32_t(src), int32_t(n));
    len = buffer_length(origin);
    if (src + n <= len && dst <= len && (dst <= src || dst == len || len - dst >= n))
      move_within(origin, src, dst, uint32_t(n));
    if (hash::is_hash(origin)) hash::on_rebuild(origin);
    tell(target, words::moved_word, nullptr, int32_t(dst), int32_t(n));
    return origin;
  }

  bool ob = is_cell_series(ot), tb = is_cell_series(tt);
  uint32_t ou = GET_UNIT(origin), tu = GET_UNIT(target);
  bool raw = ot == TYPE_VECTOR || ot == TYPE_BINARY || tt == TYPE_VECTOR || tt == TYPE_BINARY;
  bool texts = string::is_string_type(ot) && string::is_string_type(tt);
  if (ob != tb || (ou != tu && (raw || !texts))) {
    Cell a = make_datatype(ot), b = make_datatype(tt);
    fire(err::SCRIPT, err::script::MOVE_BAD, &a, &b);
  }
  clamp_head(target);
  uint32_t dst = target->w1;
  tell(target, words::move_word, origin, int32_t(src), int32_t(n));
  clamp_head(target);
  dst = target->w1;
  n = std::min<int64_t>(n, remaining(origin));
  if (n > 0) {
    if (ou == tu) {
      open_gap(target, dst, uint32_t(n));
      std::memcpy(element_at(target, dst), element_at(origin, src), uint64_t(n) * ou);
    } else {
      for (uint32_t i = 0; i < n; i++) {
        uint32_t cp = unicode::get_char(element_at(origin, src + i), GET_UNIT(origin));
        string::insert_char(target->w2, dst + i, cp);
      }
    }
    if (hash::is_hash(target)) hash::on_insert(target, dst, uint32_t(n));
    if (hash::is_hash(origin)) hash::on_remove(origin, src, uint32_t(n));
    remove_range(origin, src, uint32_t(n));
  }
  tell(target, words::moved_word, nullptr, int32_t(dst), int32_t(n));
  return origin;
}

}  // namespace

Cell* pick(Cell* s, int32_t index, const Cell*) {
  int64_t pos = index_position(s, index);
  Cell v = pos < 0 ? make_none() : element(s, uint32_t(pos));
  *s = v;
  return s;
}

Cell* poke(Cell* s, int32_t index, Cell* value, const Cell*) {
  int64_t pos = index_position(s, index);
  if (pos < 0) {
    Cell i = make_integer(index);
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &i);
  }
  check_store(s, value);
  bool told = tell(s, words::poke_word, value, int32_t(pos), 1);
  if (pos < int64_t(buffer_length(s))) store(s, uint32_t(pos), value);
  if (told) tell(s, words::poked_word, value, int32_t(pos), 1);
  *s = *value;
  return s;
}

Cell* clear(Cell* s) {
  uint32_t len = buffer_length(s);
  if (s->w1 >= len) return s;
  uint32_t start = s->w1;
  bool told = tell(s, words::clear_word, nullptr, int32_t(start), int32_t(len - start));
  len = buffer_length(s);
  if (start < len) {
    if (hash::is_hash(s)) hash::on_remove(s, start, len - start);
    series_buffer* b = GET_BUFFER(s);
    b->tail = b->head + start * b->unit();
  }
  if (told) tell(s, words::cleared_word, nullptr, int32_t(start), 0);
  return s;
}

Cell* remove(Cell* s, const Cell* part, const Cell* key) {
  int64_t count = part ? part_count(s, part) : 1;
  if (count < 1) return s;
  clamp_head(s);
  uint32_t start = s->w1;
  if (key) {
    Cell* found = stack::push(*s);
    find_options o;
    actions::get_find(found)(found, key, o);
    if (TYPE_OF(found) == TYPE_NONE) {
      stack::pop(1);
      *s = make_none();
      return s;
    }
    start = found->w1;
    stack::pop(1);
    count++;
  }
  uint32_t len = buffer_length(s);
  if (start >= len) return s;
  uint32_t n = uint32_t(std::min<int64_t>(count, len - start));
  bool told = tell(s, words::remove_word, nullptr, int32_t(start), int32_t(n));
  if (hash::is_hash(s)) hash::on_remove(s, start, n);
  remove_range(s, start, n);
  if (told) tell(s, words::removed_word, nullptr, int32_t(start), 0);
  return s;
}

Cell* take(Cell* s, const Cell* part, bool, bool last) {
  uint32_t len = buffer_length(s);
  uint32_t head_index = std::min(s->w1, len);
  uint32_t rest = len - head_index;
  int64_t start, n;
  if (part && TYPE_OF(part) != TYPE_INTEGER &&
      !(TYPE_OF(part) == TYPE_OF(s) && part->w2 == s->w2))
    bad_refine(words::part, part);
  int64_t count = 1;
  if (part) {
    if (TYPE_OF(part) == TYPE_INTEGER) {
      count = get_integer(part);
    } else {
      int64_t p = std::min(part->w1, len);
      count = last ? int64_t(len) - p : std::max<int64_t>(p - head_index, 0);
    }
  }
  if (count < 0 && !last) {
    n = std::min<int64_t>(-count, head_index);
    start = head_index - n;
  } else {
    if (count < 0) count = 1;
    count = std::min<int64_t>(count, rest);
    if (count == 0) count = 1;
    n = std::min<int64_t>(count, rest);
    start = last ? int64_t(len) - n : head_index;
  }
  if (n <= 0) {
    *s = make_none();
    return s;
  }
  Cell* result = stack::push_unset();
  if (part) {
    node_t node = copy_range(s, uint32_t(start), uint32_t(n));
    *result = Cell{TYPE_OF(s), 0, node, TYPE_OF(s) == TYPE_VECTOR ? s->w3 : 0};
    if (hash::is_hash(result)) hash::index_new(result);
  } else {
    *result = element(s, uint32_t(start));
  }
  bool told = tell(s, words::take_word, nullptr, int32_t(start), int32_t(n));
  if (hash::is_hash(s)) hash::on_remove(s, uint32_t(start), uint32_t(n));
  remove_range(s, uint32_t(start), uint32_t(n));
  if (told) tell(s, words::taken_word, nullptr, int32_t(start), 0);
  *s = *result;
  stack::pop(1);
  return s;
}

Cell* copy(Cell* value, Cell* out, const Cell* part, bool, const Cell*) {
  Cell src = *value;
  int64_t len = buffer_length(&src);
  int64_t head_index = std::min<int64_t>(src.w1, len);
  int64_t start = head_index, count = len - head_index;
  if (part) {
    uint32_t pt = TYPE_OF(part);
    if (pt == TYPE_INTEGER) {
      count = get_integer(part);
    } else if (pt == TYPE_PAIR) {
      int64_t x = int32_t(part->w2), y = int32_t(part->w3);
      start = std::max<int64_t>(x < 0 ? head_index + x : head_index + x - 1, 0);
      count = y < x ? 0 : y - x;
    } else if (pt == TYPE_OF(&src) && part->w2 == src.w2) {
      count = std::min<int64_t>(part->w1, len) - head_index;
    } else {
      bad_refine(words::part, part);
    }
    if (count < 0) {
      int64_t from = std::max<int64_t>(start + count, 0);
      count = start - from;
      start = from;
    }
  }
  if (start >= len) {
    start = len;
    count = 0;
  }
  count = std::min(count, len - start);
  *out = make_unset();
  node_t node = copy_range(&src, uint32_t(start), uint32_t(count));
  store_cell(out, TYPE_OF(&src) | (src.header & CELL_NEW_LINE), 0, node,
             TYPE_OF(&src) == TYPE_VECTOR ? src.w3 : 0);
  if (hash::is_hash(out)) hash::index_new(out);
  return out;
}

namespace {

constexpr action_row SERIES_ACTIONS = [] {
  action_row r = unsupported_row();
  r.random = random;
  r.reflect = reflect;
  r.at = at;
  r.back = back;
  r.clear = clear;
  r.copy = copy;
  r.head = head;
  r.head_q = head_q;
  r.index_q = index_q;
  r.length_q = length_q;
  r.move = move;
  r.next = next;
  r.pick = pick;
  r.poke = poke;
  r.remove = remove;
  r.reverse = reverse;
  r.skip = skip;
  r.tail = tail;
  r.tail_q = tail_q;
  r.take = take;
  r.modify = modify;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_SERIES, 0, "series!", SERIES_ACTIONS); }

}  // namespace kez::series
