// map!: making, setting and getting keys, removal and revival, reflection,
// copying, comparison and the #[...] text form.
//
// What must stay true: every key cell of the pair block is indexed exactly
// once (removed pairs included), the live count equals the pairs whose
// value header is not 0, and positions are absolute cell indexes of the
// pair block. No Cell* into the pair block is held across a call that can
// allocate (normalising a key copies it; adding a pair grows the block and
// may grow the table): cells are copied out and re-read by position.
#include "types/map.h"

#include <algorithm>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/support.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::map {

namespace {

inline Cell* cells(const Cell* m) { return cell_head(GET_BUFFER(m)); }
inline uint32_t cell_count(const Cell* m) { return GET_BUFFER(m)->used() / sizeof(Cell); }
inline uint32_t live_count(const Cell* m) { return hashtable::get_header(m->w3)->size; }
inline bool is_removed(const Cell* value) { return value->header == 0; }
inline int32_t key_op(bool case_sensitive) {
  return case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL;
}
inline bool is_word_kind(uint32_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

[[noreturn]] void invalid_arg(const Cell* v) {
  Cell c = *v;
  fire(err::SCRIPT, err::script::INVALID_ARG, &c);
}

// Indexes the pairs of a map's block, merging duplicate keys (found with
// strict matching) into their first occurrence, and cuts the block to the
// pairs kept.
void index_pairs(Cell* m) {
  node_t table = m->w3;
  uint32_t n = cell_count(m) & ~1u;
  uint32_t kept = 0;
  for (uint32_t r = 0; r < n; r += 2) {
    Cell original = cells(m)[r];
    Cell* key = stack::push(original);
    normalize_key(key, &original);
    hashtable::cursor lookup;
    int32_t found = hashtable::get_next(table, key, COMP_STRICT_EQUAL, lookup);
    Cell value = cells(m)[r + 1];
    if (found >= 0) {
      cells(m)[found + 1] = value;
    } else {
      cells(m)[kept] = *key;
      cells(m)[kept + 1] = value;
      hashtable::put_key_at(table, kept, &lookup);
      kept += 2;
    }
    stack::pop(1);
  }
  series_buffer* b = GET_BUFFER(m);
  b->tail = b->head + kept * uint32_t(sizeof(Cell));
}

// Adds or sets one key; `arg1` goes into a normalisation error.
void set_value(Cell* m, const Cell* key_in, const Cell* value_in, bool case_sensitive,
               const Cell* arg1) {
  Cell key = *key_in, value = *value_in;
  node_t block = m->w2, table = m->w3;
  hashtable::cursor lookup;
  int32_t pos = hashtable::get_next(table, &key, key_op(case_sensitive), lookup);
  if (pos < 0) {
    Cell* stored = stack::push(key);
    normalize_key(stored, arg1);
    Cell* pair = reinterpret_cast<Cell*>(alloc_tail_bytes(block, 2 * sizeof(Cell)));
    pair[0] = *stored;
    pair[1] = make_unset();
    pos = int32_t(memory::buffer(block)->used() / sizeof(Cell)) - 2;
    hashtable::put_key_at(table, uint32_t(pos), &lookup);
    stack::pop(1);
  } else if (is_removed(cell_head(memory::buffer(block)) + pos + 1)) {
    hashtable::get_header(table)->size++;  // revived where it was
  }
  cell_head(memory::buffer(block))[pos + 1] = value;
}

// The position of the live pair whose key matches, or -1.
int32_t find_live(const Cell* m, const Cell* key, int32_t op) {
  int32_t pos = hashtable::find_key(m->w3, key, op);
  if (pos < 0 || is_removed(cells(m) + pos + 1)) return -1;
  return pos;
}

}  // namespace

bool valid_key_type(uint32_t type) {
  switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER:
    case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE:
    case TYPE_BINARY: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE:
    case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D: case TYPE_POINT3D:
      return true;
    default:
      return false;
  }
}

void normalize_key(Cell* key, const Cell* arg1) {
  uint32_t t = TYPE_OF(key);
  if (!valid_key_type(t)) {
    Cell a = arg1 ? *arg1 : none_value, dt = make_datatype(t);
    fire(err::SCRIPT, err::script::INVALID_PATH, &a, &dt);
  }
  if (is_word_kind(t)) {
    key->header = TYPE_SET_WORD;
  } else if (string::is_string_type(t) || t == TYPE_BINARY) {
    // A private copy: later changes to the caller's series do not reach it.
    Cell* copy = stack::push_unset();
    actions::get_copy(key)(key, copy, nullptr, false, nullptr);
    *key = *copy;
    stack::pop(1);
  }
}

Cell* make_at(Cell* cell, const Cell* block, uint32_t size) {
  if (size == 0) size = 2;
  if (block) {
    Cell b = *block;
    *cell = b;
    cell->header = (b.header & CELL_NEW_LINE) | TYPE_BLOCK;
  } else {
    block::make_at(cell, int32_t(size));
  }
  cell->w3 = 0;
  node_t table = hashtable::init(size, cell, hashtable::KIND_MAP, 0);
  cell->w3 = table;
  set_type(cell, TYPE_MAP);
  index_pairs(cell);
  return cell;
}

Cell* push(const Cell* m) { return stack::push(m); }

void index_last_pair(Cell* m) {
  uint32_t n = cell_count(m);
  if (n < 2) return;
  Cell* stored = stack::push(cells(m)[n - 2]);
  normalize_key(stored, nullptr);
  hashtable::cursor lookup;
  int32_t pos = hashtable::get_next(m->w3, stored, COMP_STRICT_EQUAL, lookup);
  if (pos >= 0) {
    cells(m)[pos + 1] = cells(m)[n - 1];
    GET_BUFFER(m)->tail -= 2 * uint32_t(sizeof(Cell));
  } else {
    cells(m)[n - 2] = *stored;
    hashtable::put_key_at(m->w3, n - 2, &lookup);
  }
  stack::pop(1);
}

uint32_t ks_length(const Cell* m) { return live_count(m); }

Cell* extend(Cell* m, const Cell* block_in, bool case_sensitive) {
  Cell spec = *block_in;
  int32_t n = std::max(block::rs_length(&spec), 0);
  if (n % 2) invalid_arg(&spec);
  // Room for every pair at once, so that the block grows a single time.
  series_buffer* b = GET_BUFFER(m);
  uint64_t need = uint64_t(b->tail) + uint64_t(n) * sizeof(Cell);
  if (need > b->size) memory::expand_series(b, need);
  for (int32_t i = 0; i < n; i += 2) {
    Cell key = block::rs_head(&spec)[i], value = block::rs_head(&spec)[i + 1];
    set_value(m, &key, &value, case_sensitive, nullptr);
    if (block::rs_length(&spec) < i + 2) break;
  }
  return m;
}

bool foreach_step(const Cell* words_in, Cell* series, int32_t count) {
  Cell words = *words_in;
  bool any = false;
  uint32_t at = series->w1;
  for (int32_t i = 0; i < count; i++) {
    Cell word = block::rs_head(&words)[i];
    if (!is_word_kind(TYPE_OF(&word))) invalid_arg(&word);
    uint32_t n = cell_count(series);
    if (i % 2 == 0) {
      while (at + 1 < n && is_removed(cells(series) + at + 1)) {
        at += 2;
        series->w1 += 2;
      }
    }
    Cell v = at < n ? cells(series)[at] : none_value;
    if (at < n) {
      any = true;
      at++;
      if (TYPE_OF(&v) == TYPE_SET_WORD) v.header = TYPE_WORD;
    }
    word::set(&word, &v);
  }
  return any;
}

namespace {

// --- Actions -------------------------------------------------------------------------

Cell* build(Cell* proto, const Cell* spec, bool to) {
  Cell s = *spec;
  uint32_t st = TYPE_OF(&s);
  if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
    if (to) {
      Cell dt = make_datatype(TYPE_MAP);
      fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &s);
    }
    int32_t count = support::number_to_integer(&s);
    if (count < 0) fire(err::SCRIPT, err::script::OUT_OF_RANGE, &s);
    uint64_t size = std::min<uint64_t>(uint64_t(count) * 2, 0x7FFFFFF0 / sizeof(Cell));
    return make_at(proto, nullptr, uint32_t(size));
  }
  if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
    if (std::max(block::rs_length(&s), 0) % 2) invalid_arg(&s);
    Cell* copy = block::clone(&s, false, false);
    uint32_t n = uint32_t(block::rs_length(copy));
    for (uint32_t i = 0; i < n; i++) clear_new_line(block::rs_head(copy) + i);
    make_at(copy, copy, n);
    *proto = *copy;
    stack::pop(1);
    return proto;
  }
  if (st == TYPE_MAP) return actions::get_copy(&s)(&s, proto, nullptr, false, nullptr);
  Cell dt = make_datatype(TYPE_MAP);
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &s);
}

Cell* make(Cell* proto, const Cell* spec, uint32_t) { return build(proto, spec, false); }
Cell* to(Cell* proto, const Cell* spec, uint32_t) { return build(proto, spec, true); }

Cell* eval_path(path_step& step, Cell* out) {
  Cell key = *step.element;
  if (step.value) {
    Cell v = *step.value;
    Cell path = step.path ? *step.path : none_value;
    set_value(step.parent, &key, &v, step.case_sensitive, &path);
    *out = v;
    return out;
  }
  int32_t pos = find_live(step.parent, &key, key_op(step.case_sensitive));
  *out = pos < 0 ? none_value : cells(step.parent)[pos + 1];
  return out;
}

Cell* put(Cell* m, Cell* key, Cell* value, bool case_sensitive) {
  Cell v = *value;
  set_value(m, key, &v, case_sensitive, nullptr);
  *m = v;
  return m;
}

int32_t lookup_op(const find_options& o) {
  return o.same ? COMP_SAME : o.case_sensitive ? COMP_STRICT_EQUAL : COMP_EQUAL;
}

Cell* select(Cell* m, const Cell* value, const find_options& o) {
  int32_t pos = find_live(m, value, lookup_op(o));
  *m = pos < 0 ? none_value : cells(m)[pos + 1];
  return m;
}

Cell* find(Cell* m, const Cell* value, const find_options& o) {
  int32_t pos = find_live(m, value, lookup_op(o));
  Cell k = pos < 0 ? none_value : cells(m)[pos];
  if (TYPE_OF(&k) == TYPE_SET_WORD) k.header = TYPE_WORD;
  *m = k;
  return m;
}

Cell* remove(Cell* m, const Cell*, const Cell* key) {
  if (!key) fire(err::SCRIPT, err::script::MISSING_ARG);
  int32_t pos = find_live(m, key, COMP_STRICT_EQUAL);
  if (pos >= 0) hashtable::delete_pair(m->w3, uint32_t(pos));
  return m;
}

Cell* clear(Cell* m) {
  hashtable::clear(m->w3);
  return m;
}

int32_t length_q(const Cell* m) { return int32_t(live_count(m)); }

Cell* reflect(Cell* m, uint32_t field) {
  uint32_t f = symbol::resolve(field);
  int kind = f == symbol::resolve(words::words)    ? 0
             : f == symbol::resolve(words::values) ? 1
             : f == symbol::resolve(words::body)   ? 2
                                                   : -1;
  if (kind < 0) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell map = *m;
  uint32_t live = live_count(&map);
  Cell* out = block::push_only(int32_t(std::max(live, 1u) * (kind == 2 ? 2 : 1)));
  uint32_t seen = 0;
  for (uint32_t pos = 0; seen < live && pos + 1 < cell_count(&map); pos += 2) {
    Cell key = cells(&map)[pos], value = cells(&map)[pos + 1];
    if (is_removed(&value)) continue;
    seen++;
    if (kind == 0) {
      if (TYPE_OF(&key) == TYPE_SET_WORD) key.header = TYPE_WORD;
      block::rs_append(out, &key);
    } else if (kind == 1) {
      block::rs_append(out, &value);
    } else {
      key.header |= CELL_NEW_LINE;
      block::rs_append(out, &key);
      block::rs_append(out, &value);
    }
  }
  *m = *out;
  stack::pop(1);
  return m;
}

inline bool is_copyable_series(uint32_t t) {
  return block::is_block_type(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE || t == TYPE_MAP;
}

Cell* copy(Cell* value, Cell* out, const Cell*, bool deep, const Cell* types) {
  Cell m = *value;
  cycles::guard guard;
  if (deep) {
    // A map met again inside itself cannot be copied deeply.
    if (cycles::find(m.w2)) {
      cycles::reset();
      fire(err::INTERNAL, err::internal::NO_CYCLE);
    }
    cycles::push(m.w2);
  }
  Cell pairs = m;
  pairs.header = TYPE_BLOCK;
  pairs.w3 = 0;
  Cell* fresh = block::clone(&pairs, false, false);  // removed pairs come along
  node_t table = hashtable::copy(m.w3, fresh->w2);
  fresh->w3 = table;
  fresh->header = TYPE_MAP;
  uint32_t n = cell_count(fresh);
  if (types) {
    block::copy_by_types(fresh, 1, n, 2, deep, types);
  } else if (deep) {
    for (uint32_t i = 1; i < n; i += 2) {
      Cell v = cells(fresh)[i];
      if (is_removed(&v) || !is_copyable_series(TYPE_OF(&v))) continue;
      Cell* nested = stack::push(v);
      Cell* copied = stack::push_unset();
      actions::get_copy(nested)(nested, copied, nullptr, true, nullptr);
      cells(fresh)[i] = *copied;
      stack::pop(2);
    }
  }
  if (deep) cycles::pop();
  *out = *fresh;
  stack::pop(1);
  return out;
}

// --- Comparison ------------------------------------------------------------------------

int32_t compare_each(const Cell* a_in, const Cell* b_in, int32_t op) {
  Cell a = *a_in, b = *b_in;
  if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
  if (op == COMP_SAME) return -1;
  if (cycles::find(a.w2)) return cycles::find(b.w2) ? 0 : -1;
  uint32_t la = live_count(&a), lb = live_count(&b);
  if (la != lb) {
    if (op == COMP_EQUAL || op == COMP_NOT_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND)
      return 1;
    return la < lb ? -1 : 1;
  }
  if (la == 0) return 0;
  cycles::guard guard;
  cycles::push(a.w2);
  cycles::push(b.w2);
  bool failed = false;
  uint32_t seen = 0;
  for (uint32_t pos = 0; !failed && seen < la && pos + 1 < cell_count(&a); pos += 2) {
    Cell key = cells(&a)[pos], value = cells(&a)[pos + 1];
    if (is_removed(&value)) continue;
    seen++;
    if (op == COMP_STRICT_EQUAL) {
      int32_t other = find_live(&b, &key, COMP_STRICT_EQUAL);
      if (other < 0) {
        failed = true;
        continue;
      }
      Cell w = cells(&b)[other + 1];
      failed = actions::compare_values(&value, &w, COMP_STRICT_EQUAL) != 0;
      continue;
    }
    // Any entry of b whose key matches without case may hold the value.
    hashtable::cursor c;
    bool equal = false;
    for (int32_t other; !equal && (other = hashtable::get_next(b.w3, &key, COMP_EQUAL, c)) >= 0;) {
      Cell w = cells(&b)[other + 1];
      equal = !is_removed(&w) && actions::compare_values(&value, &w, COMP_EQUAL) == 0;
    }
    failed = !equal;
  }
  cycles::pop_n(2);
  return failed ? 1 : 0;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_MAP) return -2;
  switch (op) {
    case COMP_SORT:
    case COMP_CASE_SORT: return a->w2 < b->w2 ? -1 : a->w2 > b->w2 ? 1 : 0;
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_STRICT_EQUAL:
    case COMP_SAME:
    case COMP_FIND: return compare_each(a, b, op);
    default: return -2;
  }
}

// --- Text ------------------------------------------------------------------------------

// Writes the live pairs: with `lines` each on its own indented line, else
// separated by a space (flat) or a line feed.
int32_t serialize(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
                  bool lines, int32_t indent, bool lead) {
  Cell m = *value;
  uint32_t live = live_count(&m);
  if (live == 0) return part;
  const char* separator = "\n";
  if (flat) {
    separator = " ";
    lines = false;
  } else if (lead) {
    if (only) lines = false;
    else part -= string::append_literal(out, "\n");
  }
  cycles::guard guard;
  cycles::push(m.w2);
  uint32_t seen = 0;
  for (uint32_t pos = 0; seen < live && pos + 1 < cell_count(&m); pos += 2) {
    Cell key = cells(&m)[pos], v = cells(&m)[pos + 1];
    if (is_removed(&v)) continue;
    seen++;
    if (lines) part = support::append_indent(out, indent, part);
    part = actions::mold(&key, out, false, all, flat, part, indent);
    part -= string::append_literal(out, " ");
    part = actions::mold(&v, out, false, all, flat, part, indent);
    if (lines || seen < live) part -= string::append_literal(out, separator);
    if (part <= 0) break;
  }
  cycles::pop();
  return part;
}

int32_t form(const Cell* m, Cell* out, int32_t part) {
  if (cycles::detect(m, out, part, false)) return part;
  return serialize(m, out, false, false, false, part, false, 0, false);
}

int32_t mold(const Cell* m, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (cycles::detect(m, out, part, true)) return part;
  if (!only) part -= string::append_literal(out, "#[");
  int32_t before = part;
  part = serialize(m, out, only, all, flat, part, true, indent + 1, true);
  if (only) return part;
  if (part != before && indent > 0 && !flat) part = support::append_indent(out, indent, part);
  return part - string::append_literal(out, "]");
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
  r.clear = clear;
  r.copy = copy;
  r.find = find;
  r.length_q = length_q;
  r.put = put;
  r.remove = remove;
  r.select = select;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_MAP, 0, "map!", ROW); }

}  // namespace kez::map
