// Block routines and the block! actions.
//
// What must stay true here: no Cell* into a block is kept across a call
// that can allocate or run user code (an owner's handler, a compare that
// walks nested values); cells are copied out first and positions are
// indexes. A value spread into the same block it is inserted into is
// snapshotted before the buffer moves. Every check that can raise runs
// before the first change, so a failing action leaves its target as it was.
#include "values/block.h"

#include <algorithm>
#include <vector>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/hash_hooks.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/string.h"
#include "values/support.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::block {

namespace {

// The buffer's first cell and its length in cells.
inline Cell* first_cell(const Cell* b) { return cell_head(GET_BUFFER(b)); }
inline uint32_t abs_length(const Cell* b) { return GET_BUFFER(b)->used() / sizeof(Cell); }
inline void clamp_head(Cell* b) {
  uint32_t n = abs_length(b);
  if (b->w1 > n) b->w1 = n;
}

[[noreturn]] void bad_refine(uint32_t refinement_symbol, const Cell* value) {
  Cell w = word::make_global(refinement_symbol), v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

bool is_copyable_series(uint32_t t) {
  return is_block_type(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE;
}

}  // namespace

// --- cell-array routines --------------------------------------------------------

Cell* rs_head(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  uint32_t n = buf->used() / sizeof(Cell);
  if (b->w1 > n) b->w1 = n;
  return cell_head(buf) + b->w1;
}

bool rs_next(Cell* b) {
  if (rs_length(b) > 0) b->w1++;
  return rs_length(b) <= 0;
}

void rs_clear(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  Cell* head = rs_head(b);
  buf->set_tail_ptr(reinterpret_cast<uint8_t*>(head));
}

void rs_truncate_at(Cell* b, uint32_t index) {
  series_buffer* buf = GET_BUFFER(b);
  buf->set_tail_ptr(reinterpret_cast<uint8_t*>(cell_head(buf) + index));
}

Cell* rs_append(Cell* b, const Cell* value) {
  Cell copy = *value;
  Cell* c = alloc_tail(b);
  *c = copy;
  return c;
}

void rs_remove_last(Cell* b) {
  series_buffer* buf = GET_BUFFER(b);
  if (buf->used() >= sizeof(Cell)) buf->tail -= sizeof(Cell);
  uint32_t n = buf->used() / sizeof(Cell);
  if (b->w1 > n) b->w1 = n;
}

void append_values(Cell* b, const Cell* source) {
  Cell src = *source;
  int32_t n = rs_length(&src);
  for (int32_t i = 0; i < n; i++) {
    Cell v = cell_head(GET_BUFFER(&src))[src.w1 + uint32_t(i)];
    *alloc_tail(b) = v;
  }
}

Cell* insert_value(Cell* b, const Cell* value, bool at_start, bool advance) {
  Cell copy = *value;
  node_t node = b->w2;
  series_buffer* buf = memory::ensure_room(node, sizeof(Cell));
  uint32_t n = buf->used() / sizeof(Cell);
  uint32_t at = at_start ? 0 : std::min(b->w1, n);
  Cell* p = cell_head(buf) + at;
  std::memmove(p + 1, p, (n - at) * sizeof(Cell));
  *p = copy;
  buf->tail += sizeof(Cell);
  if (hash::is_hash(b)) hash::on_insert(b, at, 1);
  if (advance) b->w1++;
  return cell_head(GET_BUFFER(b)) + at;
}

void insert_values(Cell* b, const Cell* source) {
  Cell src = *source;
  int32_t n = std::max(rs_length(&src), 0);
  // Read each cell by index: inserting into the source's own buffer shifts it.
  std::vector<Cell> cells(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; i++) cells[size_t(i)] = first_cell(&src)[src.w1 + uint32_t(i)];
  for (const Cell& c : cells) insert_value(b, &c, false, true);
}

const Cell* select_value(Cell* b, const Cell* value) {
  Cell* head = rs_head(b);
  Cell* tail = rs_tail(b);
  for (Cell* c = head; c < tail; c++) {
    if (actions::compare(c, value, COMP_FIND)) return c + 1 < tail ? c + 1 : &none_value;
  }
  return &none_value;
}

const Cell* find_word(Cell* b, const Cell* word, bool case_sensitive) {
  Cell* head = rs_head(b);
  Cell* tail = rs_tail(b);
  uint32_t sym = case_sensitive ? word->w2 : symbol::resolve(word->w2);
  for (Cell* c = head; c < tail; c++) {
    uint32_t t = TYPE_OF(c);
    if (t < TYPE_WORD || t > TYPE_GET_WORD) continue;
    uint32_t s = case_sensitive ? c->w2 : symbol::resolve(c->w2);
    if (s == sym) return c + 1 < tail ? c + 1 : &none_value;
  }
  return &none_value;
}

bool remove_value(Cell* b, const Cell* value_in, bool from_start) {
  Cell value = *value_in;
  clamp_head(b);
  uint32_t n = abs_length(b);
  for (uint32_t i = from_start ? 0 : b->w1; i < n; i++) {
    Cell c = first_cell(b)[i];
    if (!actions::compare(&c, &value, COMP_FIND)) continue;
    if (hash::is_hash(b)) hash::on_remove(b, i, 1);
    series::remove_range(b, i, 1);
    return i <= b->w1;
  }
  return false;
}

void copy_by_types(Cell* b, uint32_t start, uint32_t end, uint32_t step, bool deep,
                   const Cell* types) {
  if (step == 0) step = 1;
  for (uint32_t i = start; i < end && i < abs_length(b); i += step) {
    Cell c = first_cell(b)[i];
    uint32_t t = TYPE_OF(&c);
    bool wanted = TYPE_OF(types) == TYPE_TYPESET
                      ? typeset::has(types, t)
                      : TYPE_OF(types) == TYPE_DATATYPE && types->w1 == t;
    if (!wanted || !is_copyable_series(t)) continue;
    Cell* source = stack::push(c);
    Cell* out = stack::push_unset();
    actions::get_copy(source)(source, out, nullptr, deep, nullptr);
    if (i < abs_length(b)) first_cell(b)[i] = *out;
    stack::pop(2);
  }
}

// --- makers ---------------------------------------------------------------------

Cell* make_at(Cell* cell, int32_t n) {
  *cell = make_unset();
  node_t node = memory::alloc_cells(uint64_t(n < 0 ? 1 : n));
  store_cell(cell, TYPE_BLOCK, 0, node, 0);
  return cell;
}

Cell* make_at_star(Cell* cell, int32_t n, bool fixed) {
  *cell = make_unset();
  uint64_t count = uint64_t(n < 0 ? 1 : n);
  node_t node = fixed ? memory::alloc_fixed_series(count, sizeof(Cell), 0)
                      : memory::alloc_unset_cells(count);
  *cell = make_series(TYPE_BLOCK, node);
  return cell;
}

Cell* push_only(int32_t n) { return make_at(stack::push_unset(), n); }
Cell* push(const Cell* b) { return stack::push(b); }

Cell* make_in(Cell* parent, int32_t n) {
  Cell* slot = alloc_tail(parent);  // unset! until made
  node_t node = memory::alloc_cells(uint64_t(n < 0 ? 1 : n));
  slot = rs_tail(parent) - 1;       // the parent may have moved
  *slot = make_series(TYPE_BLOCK, node);
  return slot;
}

Cell* make_in_star(Cell* parent, int32_t n) {
  Cell* slot = alloc_tail(parent);
  node_t node = memory::alloc_unset_cells(uint64_t(n < 0 ? 1 : n));
  slot = rs_tail(parent) - 1;
  *slot = make_series(TYPE_BLOCK, node);
  return slot;
}

namespace {
void clone_into(Cell* target, bool deep, bool with_paths) {
  int32_t n = rs_length(target);
  for (int32_t i = 0; i < n; i++) {
    Cell* c = cell_head(GET_BUFFER(target)) + i;
    uint32_t t = TYPE_OF(c);
    bool nested = t == TYPE_BLOCK || (with_paths && (t == TYPE_PAREN || is_path_type(t)));
    if (!deep || !nested) continue;
    Cell source = *c;
    Cell* copy = clone(&source, true, with_paths);
    // The copy's cell is new, but the line break before it belongs to the
    // enclosing block: `source` and `mold` must still show it.
    copy->header |= source.header & CELL_NEW_LINE;
    cell_head(GET_BUFFER(target))[i] = *copy;
    stack::pop(1);
  }
}
}  // namespace

Cell* clone(const Cell* b, bool deep, bool with_paths) {
  Cell src = *b;
  int32_t n = std::max(rs_length(&src), 0);
  Cell* result = push_only(n > 0 ? n : 1);
  series_buffer* from = GET_BUFFER(&src);
  series_buffer* to = GET_BUFFER(result);
  std::memcpy(to->data(), cell_head(from) + src.w1, size_t(n) * sizeof(Cell));
  to->tail = uint32_t(n) * sizeof(Cell);
  result->header = TYPE_OF(&src);
  if (deep) {
    // A block met again inside itself cannot be copied deeply.
    if (cycles::find(src.w2)) {
      cycles::reset();
      fire(err::INTERNAL, err::internal::NO_CYCLE);
    }
    cycles::guard guard;
    cycles::push(src.w2);
    clone_into(result, deep, with_paths);
    cycles::pop();
  }
  return result;
}

// --- text -----------------------------------------------------------------------

namespace {

uint32_t last_char(const Cell* out) {
  series_buffer* b = GET_BUFFER(out);
  if (b->used() == 0) return 0;
  return unicode::get_char(b->tail_ptr() - b->unit(), b->unit());
}

}  // namespace

int32_t form(const Cell* value, Cell* out, int32_t part) {
  if (cycles::detect(value, out, part, false)) return part;
  Cell b = *value;
  cycles::guard guard;
  cycles::push(b.w2);
  for (uint32_t i = 0;; i++) {
    if (part <= 0 || b.w1 + i >= abs_length(&b)) break;
    if (i > 0) {
      uint32_t c = last_char(out);
      if (c != '\t' && c != '\n' && c != '\r') part -= string::append_literal(out, " ");
    }
    Cell c = first_cell(&b)[b.w1 + i];
    part = actions::form(&c, out, part);
  }
  cycles::pop();
  return part;
}

int32_t mold_each(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
                  int32_t indent) {
  Cell b = *value;
  cycles::guard guard;
  cycles::push(b.w2);
  bool closing_line = false;
  int32_t level = indent;
  for (uint32_t i = 0; b.w1 + i < abs_length(&b); i++) {
    if (part <= 0) {
      cycles::pop();
      return part;
    }
    Cell c = first_cell(&b)[b.w1 + i];
    if (!flat && (c.header & CELL_NEW_LINE)) {
      if (!only && i == 0) {
        level++;
        closing_line = true;
      }
      if (!(only && i == 0)) {
        part -= string::append_literal(out, "\n");
        part = support::append_indent(out, level, part);
      }
    } else if (i > 0) {
      part -= string::append_literal(out, " ");
    }
    part = actions::mold(&c, out, false, all, flat, part, level);
  }
  cycles::pop();
  if (closing_line) {
    level--;
    part -= string::append_literal(out, "\n");
    part = support::append_indent(out, level, part);
  }
  return part;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (cycles::detect(value, out, part, true)) return part;
  if (!only) part -= string::append_literal(out, "[");
  part = mold_each(value, out, only, all, flat, part, indent);
  if (!only) part -= string::append_literal(out, "]");
  return part;
}

// --- comparison -------------------------------------------------------------------

namespace {

inline bool is_equality(int32_t op) {
  return op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL ||
         op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD || op == COMP_FIND;
}
inline bool is_number(uint32_t t) {
  return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT;
}
inline int32_t order(int64_t a, int64_t b) { return a < b ? -1 : a > b ? 1 : 0; }

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t ta = TYPE_OF(a), tb = TYPE_OF(b);
  if (ta != tb) {
    bool paths = (ta == TYPE_PATH || ta == TYPE_LIT_PATH) &&
                 (tb == TYPE_PATH || tb == TYPE_LIT_PATH);
    if (!paths || (op != COMP_STRICT_EQUAL_WORD && op != COMP_EQUAL_WORD)) return -2;
  }
  return compare_values(a, b, op);
}

}  // namespace

int32_t compare_values(const Cell* a_in, const Cell* b_in, int32_t op) {
  Cell a = *a_in, b = *b_in;
  if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
  if (op == COMP_SAME) return -1;
  if (cycles::find(a.w2)) return cycles::find(b.w2) ? 0 : -1;
  int64_t la = std::max(rs_length(&a), 0), lb = std::max(rs_length(&b), 0);
  if (la != lb && is_equality(op)) return 1;
  if (la == 0 || lb == 0) return order(la, lb);
  cycles::guard guard;
  cycles::push(a.w2);
  cycles::push(b.w2);
  int64_t n = std::min(la, lb);
  for (int64_t i = 0; i < n; i++) {
    if (a.w1 + i >= abs_length(&a) || b.w1 + i >= abs_length(&b)) break;
    Cell x = first_cell(&a)[a.w1 + i], y = first_cell(&b)[b.w1 + i];
    uint32_t tx = TYPE_OF(&x), ty = TYPE_OF(&y);
    int32_t r;
    if (tx == ty || (word::is_any_word(tx) && word::is_any_word(ty)) ||
        (is_number(tx) && is_number(ty))) {
      r = actions::compare_values(&x, &y, op);
    } else {
      r = tx < ty ? -1 : 1;
    }
    if (r != 0) {
      cycles::pop_n(2);
      return r;
    }
  }
  cycles::pop_n(2);
  return order(la, lb);
}

// --- make and to -------------------------------------------------------------------

namespace {

// A block of the elements of a vector (or any series) from its head.
void elements_into(Cell* proto, const Cell* spec_in, uint32_t type) {
  Cell* spec = stack::push(*spec_in);
  int32_t n = int32_t(series::get_length(spec, false));
  Cell* out = push_only(n);
  for (int32_t i = 0; i < n; i++) {
    Cell e = series::element(spec, spec->w1 + uint32_t(i));
    rs_append(out, &e);
  }
  Cell r = *out;
  r.header = type;
  stack::pop(2);
  *proto = r;
}

// The `body` reflection of an object! or map!.
void body_into(Cell* proto, const Cell* spec, uint32_t type) {
  Cell* v = stack::push(*spec);
  actions::get_reflect(v)(v, words::body);
  Cell r = *v;
  stack::pop(1);
  set_type(&r, type);
  *proto = r;
}

void clone_into_type(Cell* proto, const Cell* spec, uint32_t type) {
  Cell* c = clone(spec, false, false);
  Cell r = *c;
  r.header = type;
  stack::pop(1);
  *proto = r;
  if (type == TYPE_HASH) hash::index_new(proto);
}

}  // namespace

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  uint32_t st = TYPE_OF(spec);
  if (is_block_type(st)) {
    clone_into_type(proto, spec, type);
  } else if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
    int32_t n = support::number_to_integer(spec);
    make_at(proto, n < 1 ? 1 : n);
    proto->header = type;
    if (type == TYPE_HASH) hash::index_new(proto);
  } else if (st == TYPE_OBJECT || st == TYPE_MAP) {
    body_into(proto, spec, type);
  } else if (st == TYPE_VECTOR) {
    elements_into(proto, spec, type);
  } else {
    Cell dt = make_datatype(type), s = *spec;
    fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &s);
  }
  return proto;
}

Cell* to(Cell* proto, const Cell* spec, uint32_t type) {
  uint32_t st = TYPE_OF(spec);
  if (st == TYPE_OBJECT || st == TYPE_MAP) {
    body_into(proto, spec, type);
  } else if (st == TYPE_VECTOR) {
    elements_into(proto, spec, type);
  } else if (st == TYPE_STRING) {
    Cell* scanned = lexer::scan_string(spec);
    Cell r = *scanned;
    r.header = type;
    stack::pop(1);
    *proto = r;
  } else if (st == TYPE_TYPESET) {
    Cell ts = *spec;
    Cell* out = push_only(8);
    for (uint32_t t = 1; t < TYPE_COUNT; t++) {
      if (!typeset::has(&ts, t)) continue;
      Cell dt = make_datatype(t);
      rs_append(out, &dt);
    }
    Cell r = *out;
    r.header = type;
    stack::pop(1);
    *proto = r;
  } else if (is_block_type(st)) {
    clone_into_type(proto, spec, type);
  } else {
    Cell v = *spec;
    Cell* out = push_only(1);
    rs_append(out, &v);
    Cell r = *out;
    r.header = type;
    stack::pop(1);
    *proto = r;
  }
  if (type == TYPE_HASH && st != TYPE_BLOCK && !is_block_type(st)) hash::index_new(proto);
  return proto;
}

// --- path access ---------------------------------------------------------------

namespace {

Cell* eval_path(path_step& step, Cell* out) {
  Cell parent = *step.parent;
  Cell element = *step.element;
  uint32_t et = TYPE_OF(&element);
  if (et == TYPE_INTEGER) {
    *out = parent;
    int32_t n = get_integer(&element);
    if (step.value) {
      Cell v = *step.value;
      actions::get_poke(out)(out, n, &v, &element);
    } else {
      actions::get_pick(out)(out, n, &element);
    }
    return out;
  }
  find_options o;
  o.only = true;
  o.case_sensitive = step.case_sensitive;
  if (!step.value) {
    if (et == TYPE_WORD && !hash::is_hash(&parent)) {
      Cell r = *find_word(&parent, &element, step.case_sensitive);
      *out = r;
    } else {
      *out = parent;
      actions::get_select(out)(out, &element, o);
    }
    return out;
  }
  *out = parent;
  actions::get_find(out)(out, &element, o);
  if (TYPE_OF(out) == TYPE_NONE) {
    Cell p = step.path ? *step.path : none_value;
    fire(err::SCRIPT, err::script::BAD_PATH_SET, &p, &element);
  }
  Cell v = *step.value;
  Cell index = make_integer(2);
  actions::get_poke(out)(out, 2, &v, &index);
  *out = v;
  return out;
}

// --- append, insert, change ------------------------------------------------------------

// The cells a value stands for when inserted: its cells from the head when
// it is a block kind (and not /only), else itself.
struct spread {
  Cell value;
  bool many;
  int64_t count;
};

spread spread_of(const Cell* value, bool only) {
  spread s{*value, false, 1};
  if (is_block_type(TYPE_OF(value)) && !only) {
    s.many = true;
    s.count = std::max(rs_length(value), 0);
  }
  return s;
}

// Copies the spread's `count` cells to absolute index `at` of b (room is
// there), then repeats them until `dup` copies fill the gap. A source in b's
// own buffer must have been snapshotted into `saved`.
void fill_cells(Cell* b, uint32_t at, const spread& s, uint32_t count, uint32_t dup,
                const std::vector<Cell>& saved) {
  Cell* dest = first_cell(b) + at;
  if (!s.many) {
    *dest = s.value;
  } else if (!saved.empty()) {
    std::memcpy(dest, saved.data(), size_t(count) * sizeof(Cell));
  } else {
    std::memcpy(dest, first_cell(&s.value) + s.value.w1, size_t(count) * sizeof(Cell));
  }
  if (dup > 1)
    support::repeat_fill(reinterpret_cast<uint8_t*>(dest), size_t(count) * sizeof(Cell), dup);
}

std::vector<Cell> snapshot_if_shared(const Cell* b, const spread& s, uint32_t count) {
  std::vector<Cell> saved;
  if (s.many && s.value.w2 == b->w2 && count > 0) {
    Cell* src = first_cell(&s.value) + s.value.w1;
    saved.assign(src, src + count);
  }
  return saved;
}

// Makes the buffer hold `new_length` cells; doubled room when `doubled`.
void reserve_cells(Cell* b, uint64_t new_length, bool doubled) {
  uint64_t bytes = new_length * sizeof(Cell);
  if (bytes > MAX_SERIES_SIZE) fire(err::INTERNAL, err::internal::NO_MEMORY);
  series_buffer* buf = GET_BUFFER(b);
  if (buf->head + bytes <= buf->size) return;
  uint64_t size = doubled ? bytes * 2 : bytes;
  if (size > MAX_SERIES_SIZE) size = bytes;
  memory::expand_series(buf, size + buf->head);
}

// Out of line, so that the one-cell paths of append and insert need no frame.
[[gnu::noinline]] Cell* insert_worker(Cell* b, Cell* value, int32_t part, bool only, int32_t dup,
                                      bool append) {
  clamp_head(b);
  if (dup < 1) {  // nothing to insert: the target stays as it was
    if (append) b->w1 = 0;
    return b;
  }
  spread s = spread_of(value, only);
  if (s.many && part >= 0 && part < s.count) s.count = part;
  if (s.count == 0) {
    if (append) b->w1 = 0;
    return b;
  }
  int64_t total = s.count * int64_t(dup);
  if (total > INT32_MAX ||
      (abs_length(b) + total) * int64_t(sizeof(Cell)) > int64_t(MAX_SERIES_SIZE))
    fire(err::INTERNAL, err::internal::NO_MEMORY);
  uint32_t head = b->w1;
  uint32_t at = append ? abs_length(b) : head;
  bool told = series::tell(b, append ? words::append_word : words::insert_word, &s.value,
                           int32_t(at), int32_t(total));
  if (told) {
    clamp_head(b);
    head = b->w1;
    at = append ? abs_length(b) : head;
    if (s.many) s.count = std::min<int64_t>(s.count, std::max(rs_length(&s.value), 0));
    total = s.count * int64_t(dup);
  }
  uint32_t count = uint32_t(s.count);
  std::vector<Cell> saved = snapshot_if_shared(b, s, count);
  uint32_t len = abs_length(b);
  reserve_cells(b, uint64_t(len) + uint64_t(total), dup < 5);
  series_buffer* buf = GET_BUFFER(b);
  Cell* gap = cell_head(buf) + at;
  if (at < len) std::memmove(gap + total, gap, size_t(len - at) * sizeof(Cell));
  fill_cells(b, at, s, count, uint32_t(dup), saved);
  GET_BUFFER(b)->tail += uint32_t(total) * sizeof(Cell);
  if (hash::is_hash(b)) hash::on_insert(b, at, uint32_t(total));
  if (told)
    series::tell(b, append ? words::appended_word : words::inserted_word, &s.value, int32_t(at),
                 int32_t(total));
  if (append) b->w1 = 0;
  else b->w1 = std::min<uint32_t>(head + uint32_t(total), abs_length(b));
  return b;
}

// The buffer of b when `n` cells can go in at once: no owner must be told,
// no hash index kept, and there is room, so nothing allocates; else nullptr.
series_buffer* room_for(const Cell* b, uint64_t n) {
  if (hash::is_hash(b)) return nullptr;
  series_buffer* buf = GET_BUFFER(b);
  uint64_t bytes = n * sizeof(Cell);
  if ((buf->flags & SERIES_OWNED) || buf->tail + bytes > buf->size ||
      buf->used() + bytes > MAX_SERIES_SIZE)
    return nullptr;
  return buf;
}

// A value that goes in as one cell: not spread, not repeated.
inline bool is_one_cell(const Cell* value, bool only, int32_t dup) {
  return dup == 1 && (only || !is_block_type(TYPE_OF(value)));
}

// The cells of a block from another buffer, copied at once where they fit.
// Out of line, so that the one-cell path of append needs no frame.
[[gnu::noinline]] Cell* append_spread(Cell* b, Cell* value, int32_t part) {
  int64_t count = std::max(rs_length(value), 0);
  if (part >= 0 && part < count) count = part;
  series_buffer* buf = room_for(b, uint64_t(count));
  if (!buf || value->w2 == b->w2) return insert_worker(b, value, part, false, 1, true);
  if (count > 0)
    std::memcpy(buf->tail_ptr(), first_cell(value) + value->w1, size_t(count) * sizeof(Cell));
  buf->tail += uint32_t(count) * sizeof(Cell);
  b->w1 = 0;
  return b;
}

Cell* append(Cell* b, Cell* value, int32_t part, bool only, int32_t dup) {
  if (!is_one_cell(value, only, dup)) {
    return dup == 1 ? append_spread(b, value, part) : insert_worker(b, value, part, only, dup, true);
  }
  if (series_buffer* buf = room_for(b, 1)) [[likely]] {
    *reinterpret_cast<Cell*>(buf->tail_ptr()) = *value;
    buf->tail += sizeof(Cell);
    // Not written when it holds: the caller reads the whole cell at once,
    // which a store to one of its words would hold up (see store_cell).
    if (b->w1) b->w1 = 0;
    return b;
  }
  return insert_worker(b, value, part, only, dup, true);
}
Cell* insert(Cell* b, Cell* value, int32_t part, bool only, int32_t dup) {
  series_buffer* buf = is_one_cell(value, only, dup) ? room_for(b, 1) : nullptr;
  if (buf) [[likely]] {
    Cell v = *value;  // it may lie in the cells that move
    uint32_t n = buf->used() / sizeof(Cell);
    uint32_t at = std::min(b->w1, n);
    Cell* p = cell_head(buf) + at;
    std::memmove(p + 1, p, size_t(n - at) * sizeof(Cell));
    *p = v;
    buf->tail += sizeof(Cell);
    b->w1 = at + 1;
    return b;
  }
  return insert_worker(b, value, part, only, dup, false);
}

Cell* change(Cell* b, Cell* value, int32_t part, bool only, int32_t dup) {
  clamp_head(b);
  if (dup < 1) return b;  // nothing to put in: the target stays as it was
  spread s = spread_of(value, only);
  int64_t total = s.count * int64_t(dup);
  if (total > INT32_MAX) fire(err::INTERNAL, err::internal::NO_MEMORY);
  uint32_t head = b->w1;
  int64_t rest = abs_length(b) - head;
  int64_t removed = std::min<int64_t>(part >= 0 ? part : total, rest);
  if ((abs_length(b) + total - removed) * int64_t(sizeof(Cell)) > int64_t(MAX_SERIES_SIZE))
    fire(err::INTERNAL, err::internal::NO_MEMORY);
  bool told = series::tell(b, words::change_word, &s.value, int32_t(head), int32_t(total));
  if (told) {
    clamp_head(b);
    head = b->w1;
    rest = abs_length(b) - head;
    removed = std::min<int64_t>(part >= 0 ? part : total, rest);
    if (s.many) {
      s.count = std::min<int64_t>(s.count, std::max(rs_length(&s.value), 0));
      total = s.count * int64_t(dup);
    }
  }
  uint32_t count = uint32_t(s.count);
  std::vector<Cell> saved = snapshot_if_shared(b, s, count);
  uint32_t len = abs_length(b);
  uint64_t new_len = uint64_t(len) + uint64_t(total) - uint64_t(removed);
  // Room for more, as insert makes: code rewritten in place (the
  // preprocessor's) grows a block by many small changes.
  reserve_cells(b, new_len, true);
  if (total != removed) {
    Cell* cells = first_cell(b);
    std::memmove(cells + head + total, cells + head + removed,
                 size_t(len - head - removed) * sizeof(Cell));
  }
  if (count > 0) fill_cells(b, head, s, count, uint32_t(dup), saved);
  series_buffer* buf = GET_BUFFER(b);
  buf->tail = buf->head + uint32_t(new_len) * sizeof(Cell);
  if (hash::is_hash(b)) hash::on_rebuild(b);
  if (told) series::tell(b, words::changed_word, &s.value, int32_t(head), int32_t(total));
  b->w1 = head + uint32_t(total);
  return b;
}

}  // namespace

// --- copy -----------------------------------------------------------------------

Cell* copy(Cell* value, Cell* out, const Cell* part, bool deep, const Cell* types) {
  series::copy(value, out, part, false, nullptr);
  if (types) {
    copy_by_types(out, 0, abs_length(out), 1, deep, types);
    return out;
  }
  if (!deep) return out;
  node_t source = value->w2;
  if (cycles::find(source)) {
    cycles::reset();
    fire(err::INTERNAL, err::internal::NO_CYCLE);
  }
  cycles::guard guard;
  cycles::push(source);
  for (uint32_t i = 0; i < abs_length(out); i++) {
    Cell c = first_cell(out)[i];
    if (!is_copyable_series(TYPE_OF(&c))) continue;
    Cell* nested = stack::push(c);
    Cell* copied = stack::push_unset();
    actions::get_copy(nested)(nested, copied, nullptr, true, nullptr);
    first_cell(out)[i] = *copied;
    stack::pop(2);
  }
  cycles::pop();
  return out;
}

// --- find and select ---------------------------------------------------------------

namespace {

enum class match_kind { one, type, types, sequence };

struct search {
  Cell value;
  match_kind kind;
  int32_t op;
  uint32_t length;  // cells a match covers
};

// Sameness of the values that registries searched by identity hold
// (reactive relations, faces): an object is its context, a block its buffer
// and position. A plain test there, not a call through the compare action,
// keeps those searches a tight scan.
inline bool is_reference(const Cell* v) {
  return TYPE_OF(v) == TYPE_OBJECT || TYPE_OF(v) == TYPE_BLOCK;
}

inline bool same_reference(const Cell* a, const Cell* v) {
  if (TYPE_OF(a) != TYPE_OF(v) || a->w1 != v->w1) return false;
  return TYPE_OF(v) == TYPE_OBJECT || a->w2 == v->w2;
}

inline bool cells_equal(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(a) == TYPE_INTEGER && TYPE_OF(b) == TYPE_INTEGER && op != COMP_SAME)
    return a->w2 == b->w2;
  if (op == COMP_SAME && is_reference(b)) return same_reference(a, b);
  return actions::compare(a, b, op);
}

bool matches_at(const Cell* b, uint32_t pos, const search& s) {
  Cell c = first_cell(b)[pos];
  switch (s.kind) {
    case match_kind::type: return TYPE_OF(&c) == s.value.w1;
    case match_kind::types: return typeset::has(&s.value, TYPE_OF(&c));
    case match_kind::one: return cells_equal(&c, &s.value, s.op);
    case match_kind::sequence:
      for (uint32_t k = 0; k < s.length; k++) {
        if (pos + k >= abs_length(b) || s.value.w1 + k >= abs_length(&s.value)) return false;
        Cell x = first_cell(b)[pos + k];
        Cell y = first_cell(&s.value)[s.value.w1 + k];
        if (!cells_equal(&x, &y, s.op)) return false;
      }
      return true;
  }
  return false;
}

inline int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// The absolute position of the match, or -1; `length` receives the cells a
// match covers.
int64_t find_position(Cell* b, const Cell* value, const find_options& o, uint32_t& length) {
  int64_t len = abs_length(b);
  int64_t head = b->w1;
  length = 1;
  if (len == 0 || (head >= len && !o.reverse)) return -1;
  if (head > len) head = len;
  int64_t step = 1;
  if (o.skip) {
    if (TYPE_OF(o.skip) != TYPE_INTEGER) bad_refine(words::skip, o.skip);
    step = get_integer(o.skip);
    if (step < 1) {
      Cell v = *o.skip;
      fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
    }
  }
  int64_t last_cell = len - 1;
  if (o.part) {
    if (TYPE_OF(o.part) == TYPE_INTEGER) {
      int64_t n = get_integer(o.part);
      if (n < 1) return -1;
      last_cell = head + n - 1;
    } else if (TYPE_OF(o.part) == TYPE_OF(b) && o.part->w2 == b->w2) {
      last_cell = o.part->w1;
    } else {
      bad_refine(words::part, o.part);
    }
    last_cell = std::min(last_cell, len - 1);
  }
  search s{*value, match_kind::one,
           o.same ? COMP_SAME : o.case_sensitive ? COMP_STRICT_EQUAL : COMP_FIND, 1};
  uint32_t vt = TYPE_OF(value);
  if (!o.only && vt == TYPE_DATATYPE) s.kind = match_kind::type;
  else if (!o.only && vt == TYPE_TYPESET) s.kind = match_kind::types;
  else if (!o.only && is_block_type(vt)) {
    s.kind = match_kind::sequence;
    int32_t n = rs_length(value);
    if (n <= 0) return -1;
    s.length = uint32_t(n);
  }
  length = s.length;
  int64_t fit = len - s.length;  // the last position a whole match fits at

  if (hash::is_hash(b) && !o.match && s.kind == match_kind::one && !(o.last && o.part)) {
    int32_t r = hash::lookup(b, value, uint32_t(head), uint32_t(step), s.op, o.last, o.reverse);
    if (r != hash::NO_LOOKUP) return r >= 0 && r <= last_cell ? r : -1;
  }

  if (o.match)
    return head <= fit && head <= last_cell && matches_at(b, uint32_t(head), s) ? head : -1;
  if (o.last || o.reverse) {
    int64_t start;
    if (o.last) {
      start = std::min(last_cell, fit);
      start = head + floor_div(start - head, step) * step;  // on the records' grid
    } else {
      start = std::min(head - (o.skip ? step : int64_t(s.length)), fit);
    }
    for (int64_t pos = start; pos >= 0; pos -= step)
      if (matches_at(b, uint32_t(pos), s)) return pos;
    return -1;
  }
  if (s.kind == match_kind::one && s.op == COMP_SAME && is_reference(&s.value)) {
    const Cell* cells = first_cell(b);  // nothing in this loop allocates
    for (int64_t pos = head; pos <= last_cell; pos += step)
      if (same_reference(&cells[pos], &s.value)) return pos;
    return -1;
  }
  if (s.kind == match_kind::one && TYPE_OF(&s.value) == TYPE_INTEGER && s.op != COMP_SAME) {
    // An integer among integers compares in place; any other element goes
    // through the compare action, after which the cells are read again.
    const Cell* cells = first_cell(b);
    for (int64_t pos = head; pos <= last_cell && pos <= fit; pos += step) {
      if (TYPE_OF(&cells[pos]) == TYPE_INTEGER) {
        if (cells[pos].w2 == s.value.w2) return pos;
        continue;
      }
      if (matches_at(b, uint32_t(pos), s)) return pos;
      cells = first_cell(b);
    }
    return -1;
  }
  if (s.kind == match_kind::one && TYPE_OF(&s.value) == TYPE_WORD && s.op == COMP_FIND) {
    // A word among words (a table of names) matches by canonical symbol, as
    // the compare action does; any other element goes through that action.
    uint32_t canon = symbol::resolve(s.value.w2);
    const Cell* cells = first_cell(b);
    for (int64_t pos = head; pos <= last_cell && pos <= fit; pos += step) {
      int m = symbol::word_key_match(&cells[pos], canon);
      if (m >= 0) {
        if (m) return pos;
        continue;
      }
      if (matches_at(b, uint32_t(pos), s)) return pos;
      cells = first_cell(b);
    }
    return -1;
  }
  for (int64_t pos = head; pos <= last_cell && pos <= fit; pos += step)
    if (matches_at(b, uint32_t(pos), s)) return pos;
  return -1;
}

}  // namespace

Cell* find(Cell* b, const Cell* value, const find_options& o) {
  uint32_t length;
  int64_t pos = find_position(b, value, o, length);
  if (pos < 0) {
    *b = make_none();
    return b;
  }
  if (o.tail || o.match) pos += length;
  b->w1 = uint32_t(pos);
  return b;
}

Cell* select(Cell* b, const Cell* value, const find_options& o_in) {
  find_options o = o_in;
  o.tail = o.match = false;
  uint32_t length;
  int64_t pos = find_position(b, value, o, length);
  int64_t after = pos + length;
  if (pos < 0 || after >= abs_length(b)) {
    *b = make_none();
    return b;
  }
  Cell r = first_cell(b)[after];
  *b = r;
  return b;
}

namespace {

// --- put, swap, take, trim ------------------------------------------------------------

Cell* put(Cell* b, Cell* key, Cell* value, bool case_sensitive) {
  Cell k = *key, v = *value;
  Cell* found = stack::push(*b);
  find_options o;
  o.only = true;
  o.case_sensitive = case_sensitive;
  actions::get_find(found)(found, &k, o);
  bool absent = TYPE_OF(found) == TYPE_NONE;
  uint32_t pos = absent ? 0 : found->w1;
  stack::pop(1);
  uint32_t len = abs_length(b);
  if (absent || pos + 1 >= len) {
    uint32_t at = len;
    bool told = series::tell(b, words::put_word, &v, int32_t(at), absent ? 2 : 1);
    at = abs_length(b);
    if (absent) rs_append(b, &k);
    rs_append(b, &v);
    if (hash::is_hash(b)) hash::on_insert(b, at, absent ? 2 : 1);
    if (told) series::tell(b, words::put_ed_word, &v, int32_t(at), absent ? 2 : 1);
  } else {
    Cell old = first_cell(b)[pos + 1];
    if (actions::compare_values(&old, &v, COMP_FIND) != 0) {
      bool told = series::tell(b, words::put_word, &v, int32_t(pos + 1), 1);
      if (pos + 1 < abs_length(b)) {
        first_cell(b)[pos + 1] = v;
        if (hash::is_hash(b)) hash::on_change(b, pos + 1);
      }
      if (told) series::tell(b, words::put_ed_word, &v, int32_t(pos + 1), 1);
    }
  }
  *b = v;
  return b;
}

Cell* swap(Cell* a, Cell* b) {
  if (!is_block_type(TYPE_OF(b))) {
    Cell v = *b;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  if (series::rs_tail_q(a) || series::rs_tail_q(b)) return a;
  uint32_t ia = a->w1, ib = b->w1;
  bool told_a = series::tell(a, words::swap_word, b, int32_t(ia), 1);
  bool told_b = series::tell(b, words::swap_word, a, int32_t(ib), 1);
  if (ia < abs_length(a) && ib < abs_length(b)) {
    Cell x = first_cell(a)[ia], y = first_cell(b)[ib];
    first_cell(a)[ia] = y;
    first_cell(b)[ib] = x;
    if (hash::is_hash(a)) hash::on_change(a, ia);
    if (hash::is_hash(b)) hash::on_change(b, ib);
  }
  if (told_a) series::tell(a, words::swaped_word, b, int32_t(ia), 1);
  if (told_b) series::tell(b, words::swaped_word, a, int32_t(ib), 1);
  return a;
}

// Replaces a series value by its deep copy.
void deep_copy_in_place(Cell* v) {
  if (!is_copyable_series(TYPE_OF(v))) return;
  Cell* source = stack::push(*v);
  Cell* copied = stack::push_unset();
  actions::get_copy(source)(source, copied, nullptr, true, nullptr);
  *v = *copied;
  stack::pop(2);
}

Cell* take(Cell* b, const Cell* part, bool deep, bool last) {
  series::take(b, part, false, last);
  if (!deep || TYPE_OF(b) == TYPE_NONE) return b;
  if (!part) {
    deep_copy_in_place(b);
    return b;
  }
  for (uint32_t i = 0; i < abs_length(b); i++) {
    Cell* c = stack::push(first_cell(b)[i]);
    deep_copy_in_place(c);
    first_cell(b)[i] = *c;
    stack::pop(1);
  }
  return b;
}

Cell* trim(Cell* b, const trim_options&) {
  clamp_head(b);
  uint32_t head = b->w1, len = abs_length(b);
  uint32_t nones = 0;
  for (uint32_t i = head; i < len; i++) nones += TYPE_OF(first_cell(b) + i) == TYPE_NONE;
  if (nones == 0) return b;
  bool told = series::tell(b, words::trim_word, nullptr, int32_t(head), int32_t(len - head));
  clamp_head(b);
  head = b->w1;
  len = abs_length(b);
  Cell* cells = first_cell(b);
  uint32_t w = head;
  for (uint32_t r = head; r < len; r++)
    if (TYPE_OF(cells + r) != TYPE_NONE) cells[w++] = cells[r];
  series_buffer* buf = GET_BUFFER(b);
  buf->tail = buf->head + w * uint32_t(sizeof(Cell));
  if (hash::is_hash(b)) hash::on_rebuild(b);
  if (told) series::tell(b, words::trimmed_word, nullptr, int32_t(head), 0);
  return b;
}

constexpr action_row BLOCK_ACTIONS = [] {
  action_row r;  // the rest inherits from series!
  r.make = make;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.append = append;
  r.insert = insert;
  r.change = change;
  r.copy = copy;
  r.find = find;
  r.put = put;
  r.select = select;
  r.sort = sort;
  r.swap = swap;
  r.take = take;
  r.trim = trim;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_BLOCK, TYPE_SERIES, "block!", BLOCK_ACTIONS); }

}  // namespace kez::block
