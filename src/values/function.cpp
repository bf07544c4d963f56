// function! and routine! values.
//
// Invariants: a function's spec series starts at position 0; its context's
// owner cell holds a copy of the function; the body is bound to the context
// made here (a caller passing its own context has bound the body itself).
#include "values/function.h"

#include <cstring>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/registry.h"
#include "values/error_ids.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::function {

namespace {

uint32_t canon(const Cell* c) { return symbol::resolve(c->w2); }
bool is_refinement(const Cell* c, uint32_t sym) {
  return TYPE_OF(c) == TYPE_REFINEMENT && canon(c) == symbol::resolve(sym);
}

// The bodies and object specs mark_once_bodies found, by node; each body is
// taken by the one call that makes its function. `seen`: every block found,
// to leave out a block met twice. The pool's blocks stay reachable from the
// root block for good, so their nodes are never given to other series.
std::vector<bool> once_bodies, once_specs, once_seen;

// Takes `node` out of the once bodies; false when it is not one of them.
bool take_once_body(node_t node) {
  if (node >= once_bodies.size() || !once_bodies[node]) return false;
  once_bodies[node] = false;
  return true;
}

void add_once(std::vector<bool>& kind, node_t node) {
  if (node >= once_seen.size()) {
    for (auto* v : {&once_bodies, &once_specs, &once_seen}) v->resize(node + node / 2 + 1024);
  }
  kind[node] = !once_seen[node];
  if (once_seen[node]) once_bodies[node] = once_specs[node] = false;
  once_seen[node] = true;
}

[[noreturn]] void bad_def(const Cell* spec) {
  Cell s = *spec;
  fire(err::SCRIPT, err::script::BAD_FUNC_DEF, &s);
}

void check_type_block(const Cell* block) {
  Cell b = *block;
  int32_t n = block::rs_length(&b);
  // Nothing here allocates: the cells stay where they are.
  const Cell* cells = block::rs_head(&b);
  for (int32_t i = 0; i < n; i++) {
    Cell entry = cells[i];
    Cell value = entry;
    if (TYPE_OF(&entry) == TYPE_WORD) {
      const Cell* v = context::get(&entry);
      if (TYPE_OF(v) == TYPE_UNSET) fire(err::SCRIPT, err::script::NO_VALUE, &entry);
      value = *v;
    }
    uint32_t t = TYPE_OF(&value);
    if (t != TYPE_DATATYPE && t != TYPE_TYPESET && t != TYPE_WORD)
      fire(err::SCRIPT, err::script::INVALID_TYPE_SPEC, &entry);
  }
}

}  // namespace

uint32_t validate(const Cell* spec_in) {
  Cell spec = *spec_in;
  uint32_t flags = 0;
  int32_t n = block::rs_length(&spec);
  // Checking allocates nothing until it raises: the cells stay where they are.
  const Cell* cells = block::rs_head(&spec);
  auto at = [&](int32_t i) { return cells + i; };
  int32_t i = 0;
  if (n > 0 && TYPE_OF(at(0)) == TYPE_BLOCK) {
    Cell attrs = *at(0);
    int32_t m = block::rs_length(&attrs);
    const Cell* attr_cells = block::rs_head(&attrs);
    for (int32_t k = 0; k < m; k++) {
      const Cell* a = attr_cells + k;
      if (TYPE_OF(a) != TYPE_WORD) bad_def(&spec);
      if (canon(a) == symbol::resolve(words::trace)) flags |= ATTR_TRACE;
      if (canon(a) == symbol::resolve(words::no_trace)) flags |= ATTR_NO_TRACE;
    }
    i = 1;
  }
  bool after_return = false, after_local = false;
  for (; i < n; i++) {
    const Cell* v = at(i);
    uint32_t t = TYPE_OF(v);
    switch (t) {
      case TYPE_WORD:
      case TYPE_LIT_WORD:
      case TYPE_GET_WORD: {
        if (after_local && t != TYPE_WORD) bad_def(&spec);
        if (after_return && !after_local) bad_def(&spec);
        if (i + 2 < n && TYPE_OF(at(i + 1)) == TYPE_STRING && TYPE_OF(at(i + 2)) == TYPE_BLOCK)
          bad_def(&spec);
        if (i + 1 < n && TYPE_OF(at(i + 1)) == TYPE_BLOCK) {
          if (after_local) bad_def(&spec);
          Cell types = *at(i + 1);
          check_type_block(&types);
          i++;
        }
        break;
      }
      case TYPE_STRING: break;
      case TYPE_SET_WORD: {
        if (canon(v) != symbol::resolve(words::return_) || after_return || after_local)
          bad_def(&spec);
        if (i + 1 >= n || TYPE_OF(at(i + 1)) != TYPE_BLOCK) bad_def(&spec);
        if (i + 2 < n) {
          uint32_t next = TYPE_OF(at(i + 2));
          if (next != TYPE_REFINEMENT && next != TYPE_STRING) bad_def(&spec);
        }
        Cell types = *at(i + 1);
        check_type_block(&types);
        after_return = true;
        i++;
        break;
      }
      case TYPE_REFINEMENT: {
        if (is_refinement(v, words::local)) {
          after_local = true;
        } else if (after_local || after_return) {
          bad_def(&spec);
        }
        if (i + 1 < n) {
          uint32_t next = TYPE_OF(at(i + 1));
          if (next != TYPE_WORD && next != TYPE_GET_WORD && next != TYPE_LIT_WORD &&
              next != TYPE_REFINEMENT && next != TYPE_SET_WORD && next != TYPE_STRING)
            bad_def(&spec);
        }
        break;
      }
      default: bad_def(&spec);
    }
  }
  // Repeated names, compared through canonical symbols: the first name met
  // again is reported, at its second place.
  auto is_name = [](uint32_t t) {
    return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT;
  };
  constexpr int32_t KEPT = 64;
  uint32_t names[KEPT];
  int32_t positions[KEPT];
  int32_t count = 0;
  for (int32_t a = 0; a < n; a++) {
    if (!is_name(TYPE_OF(at(a)))) continue;
    if (count == KEPT) {
      count = -1;  // a spec this long is checked pair by pair below
      break;
    }
    names[count] = canon(at(a));
    positions[count++] = a;
  }
  for (int32_t x = 0; x < count; x++)
    for (int32_t y = x + 1; y < count; y++)
      if (names[x] == names[y]) {
        Cell dup = *at(positions[y]);
        fire(err::SCRIPT, err::script::DUP_VARS, &dup);
      }
  if (count < 0) {
    for (int32_t a = 0; a < n; a++) {
      if (!is_name(TYPE_OF(at(a)))) continue;
      for (int32_t b = a + 1; b < n; b++) {
        if (is_name(TYPE_OF(at(b))) && canon(at(a)) == canon(at(b))) {
          Cell dup = *at(b);
          fire(err::SCRIPT, err::script::DUP_VARS, &dup);
        }
      }
    }
  }
  return flags;
}

namespace {

// The canonical symbol of a name the boot library already interned, or 0.
uint32_t known_symbol(const char* name) {
  return uint32_t(hashtable::lookup_text(symbol::text_index, reinterpret_cast<const uint8_t*>(name),
                                         uint32_t(std::strlen(name)), hashtable::FIND_ANY_CASE));
}

struct once_words {
  uint32_t func, function, has, does, context, object, make, object_type, set, none;
};

bool is_word_of(const Cell* c, uint32_t sym) {
  return sym && TYPE_OF(c) == TYPE_WORD && symbol::resolve(c->w2) == sym;
}

// Scans one block that is evaluated once, from its head, and that nothing
// but its evaluation reaches: a boot source, or the spec of an object made
// by a statement of such a block. A statement is recognised only where an
// expression surely starts (the head, after a set-word or set-path, after
// `set 'name` with the set native, or after a statement recognised before)
// and only when what follows it cannot take its last block as an infix op
// would: only a word can be an op, so the end, any value but a word, a word
// whose value is a native, an action or a routine when the pool is decoded,
// or a word that starts one of these statements:
//   func SPEC BODY, function SPEC BODY, has SPEC BODY, does BODY: the body
//     is taken by that one call;
//   context SPEC, object SPEC, make object! SPEC: the spec is made into an
//     object once (and scanned too);
//   a single value (one that evaluates to itself, a get-word, none, or a
//     word whose value is a datatype), or a native or an action followed by
//     as many single values as it takes arguments: skipped, as they take no
//     more cells whatever their arguments' kind.
// The boot library's func, function, has and does are the natives, context
// and object make the object at once, none and the datatype words keep
// their values, and no boot object has fields of these names; its ops are
// made by `name: make op!` statements, none over the name of a native, an
// action, a routine or a word above; its blocks come from the lexer, so no
// block is held twice.
//
// `trail`, when paths are recorded: the indexes from the root block down to
// this block.
void scan_once(node_t node, uint32_t head, const once_words& w, uint32_t depth,
               std::vector<uint32_t>* paths, std::vector<uint32_t>& trail) {
  if (depth > 64) return;
  // Notes the block at index i of this one, and where it lies.
  auto note = [&](std::vector<bool>& kind, uint32_t i) {
    add_once(kind, cells_of(memory::buffer(node))[i].w2);
    if (!paths) return;
    paths->push_back(uint32_t(trail.size() + 1) << 1 | (&kind == &once_specs ? 1 : 0));
    paths->insert(paths->end(), trail.begin(), trail.end());
    paths->push_back(i);
  };
  // Scans the object spec at index i of this one.
  auto scan_spec = [&](uint32_t i) {
    trail.push_back(i);
    scan_once(cells_of(memory::buffer(node))[i].w2, 0, w, depth + 1, paths, trail);
    trail.pop_back();
  };
  uint32_t n = memory::buffer(node)->used() / sizeof(Cell);
  auto at = [&](uint32_t i) { return cells_of(memory::buffer(node)) + i; };
  auto ends_statement = [&](uint32_t i) {
    if (i == n || TYPE_OF(at(i)) != TYPE_WORD) return true;
    const Cell* c = at(i);
    if (is_word_of(c, w.func) || is_word_of(c, w.function) || is_word_of(c, w.has) ||
        is_word_of(c, w.does) || is_word_of(c, w.context) || is_word_of(c, w.object))
      return true;
    const Cell* v = word::get_value_or_null(c);
    return v && (TYPE_OF(v) == TYPE_NATIVE || TYPE_OF(v) == TYPE_ACTION ||
                 TYPE_OF(v) == TYPE_ROUTINE);
  };
  auto is_block = [&](uint32_t i) { return i < n && TYPE_OF(at(i)) == TYPE_BLOCK && at(i)->w1 == 0; };
  // One cell that is a whole expression unless an op follows it.
  auto is_literal = [&](uint32_t i) {
    if (i >= n) return false;
    const Cell* c = at(i);
    switch (TYPE_OF(c)) {
      case TYPE_WORD: {
        if (is_word_of(c, w.none)) return true;
        const Cell* v = word::get_value_or_null(c);
        return v && TYPE_OF(v) == TYPE_DATATYPE;
      }
      case TYPE_SET_WORD: case TYPE_SET_PATH: case TYPE_PATH: case TYPE_GET_PATH: case TYPE_PAREN:
        return false;
      default: return true;
    }
  };
  // The number of arguments a native or an action takes (its spec's
  // arguments before the first refinement), else -1.
  auto arity = [&](const Cell* c) -> int32_t {
    const Cell* v = word::get_value_or_null(c);
    if (!v || (TYPE_OF(v) != TYPE_NATIVE && TYPE_OF(v) != TYPE_ACTION)) return -1;
    series_buffer* spec = memory::buffer(v->w2);
    uint32_t count = spec->used() / sizeof(Cell);
    int32_t args = 0;
    for (const Cell* p = cells_of(spec); p < cells_of(spec) + count; p++) {
      uint32_t pt = TYPE_OF(p);
      if (pt == TYPE_REFINEMENT || pt == TYPE_SET_WORD) break;
      if (pt == TYPE_WORD || pt == TYPE_LIT_WORD || pt == TYPE_GET_WORD) args++;
    }
    return args;
  };
  bool start = true;
  for (uint32_t i = head; i < n;) {
    const Cell* c = at(i);
    uint32_t t = TYPE_OF(c);
    if (t == TYPE_SET_WORD || t == TYPE_SET_PATH) {
      start = true;
      i++;
      continue;
    }
    if (start && is_literal(i) && ends_statement(i + 1)) {
      i++;
      continue;
    }
    if (start && t == TYPE_WORD) {
      if ((is_word_of(c, w.func) || is_word_of(c, w.function) || is_word_of(c, w.has)) &&
          is_block(i + 1) && is_block(i + 2) && ends_statement(i + 3)) {
        note(once_bodies, i + 2);
        i += 3;
        continue;
      }
      if (is_word_of(c, w.does) && is_block(i + 1) && ends_statement(i + 2)) {
        note(once_bodies, i + 1);
        i += 2;
        continue;
      }
      if ((is_word_of(c, w.context) || is_word_of(c, w.object)) && is_block(i + 1) &&
          ends_statement(i + 2)) {
        note(once_specs, i + 1);
        scan_spec(i + 1);
        i += 2;
        continue;
      }
      if (is_word_of(c, w.make) && i + 1 < n && is_word_of(at(i + 1), w.object_type) &&
          is_block(i + 2) && ends_statement(i + 3)) {
        note(once_specs, i + 2);
        scan_spec(i + 2);
        i += 3;
        continue;
      }
      // A native or an action whose arguments are all single values: the
      // statement ends after them unless an op follows.
      if (int32_t k = arity(c); k >= 0) {
        int32_t j = 0;
        while (j < k && is_literal(i + 1 + uint32_t(j))) j++;
        if (j == k && ends_statement(i + 1 + uint32_t(k))) {
          i += 1 + uint32_t(k);
          continue;
        }
      }
      // set 'name: the native, whose value argument starts an expression.
      if (is_word_of(c, w.set) && i + 1 < n && TYPE_OF(at(i + 1)) == TYPE_LIT_WORD) {
        const Cell* v = word::get_value_or_null(c);
        if (v && TYPE_OF(v) == TYPE_NATIVE) {
          i += 2;
          continue;
        }
      }
    }
    start = false;
    i++;
  }
}

}  // namespace

bool is_once_spec(node_t node) { return node < once_specs.size() && once_specs[node]; }
bool is_once_body(node_t node) { return node < once_bodies.size() && once_bodies[node]; }

void mark_once_bodies(const Cell* source, std::vector<uint32_t>* paths, uint32_t root_offset) {
  // Symbol ids never change: these are looked up once.
  static const once_words w{known_symbol("func"),    known_symbol("function"),
                            known_symbol("has"),     known_symbol("does"),
                            known_symbol("context"), known_symbol("object"),
                            known_symbol("make"),    known_symbol("object!"),
                            known_symbol("set"),     known_symbol("none")};
  std::vector<uint32_t> trail{root_offset};
  scan_once(source->w2, source->w1, w, 0, paths, trail);
}

bool mark_once_paths(const Cell* root, uint32_t first, std::span<const uint32_t> paths) {
  // The node of the block a path leads to, else 0. A source block starts
  // past its header; a block inside is one a scan takes, at its head.
  auto follow = [&](size_t at, uint32_t length) -> node_t {
    node_t node = root->w2;
    uint32_t base = first;
    for (uint32_t k = 0; k < length; k++) {
      series_buffer* b = memory::buffer(node);
      uint64_t i = uint64_t(base) + paths[at + k];
      if (i >= b->used() / sizeof(Cell)) return 0;
      const Cell* c = cells_of(b) + i;
      if (TYPE_OF(c) != TYPE_BLOCK || (k > 0 && c->w1 != 0)) return 0;
      node = c->w2;
      base = 0;
    }
    return node;
  };
  std::vector<node_t> found;
  for (size_t at = 0; at < paths.size(); at += 1 + (paths[at] >> 1)) {
    uint32_t length = paths[at] >> 1;
    node_t node = length >= 2 && paths.size() - at - 1 >= length ? follow(at + 1, length) : 0;
    if (!node) return false;
    found.push_back(node);
  }
  size_t k = 0;
  for (size_t at = 0; at < paths.size(); at += 1 + (paths[at] >> 1))
    add_once(paths[at] & 1 ? once_specs : once_bodies, found[k++]);
  return true;
}

node_t push(const Cell* spec_in, const Cell* body_in, node_t ctx, uint32_t code, uint32_t extra,
            uint32_t flags) {
  Cell* spec = stack::push(spec_in);
  Cell* body = stack::push(body_in ? *body_in : none_value);
  if (spec->w1 != 0) {
    Cell* copy = block::clone(spec, false, false);
    *spec = *copy;
    stack::pop(1);
  }
  if (TYPE_OF(body) != TYPE_NONE) block::rs_head(body);
  Cell* fn = stack::push_unset();
  node_t more_node = memory::alloc_unset_cells(5);
  memory::buffer(more_node)->tail = 5 * sizeof(Cell);
  fn->w3 = more_node;
  // Keep the more series reachable while the context is made.
  fn->header = TYPE_BLOCK;
  fn->w1 = 0;
  fn->w2 = more_node;
  bool made_here = ctx == 0;
  if (made_here) ctx = context::make(spec, true, false, CONTEXT_FUNCTION);
  *fn = Cell{TYPE_FUNCTION | flags, ctx, spec->w2, more_node};
  *context::owner(ctx) = *fn;
  if (TYPE_OF(body) != TYPE_NONE && made_here && body->w1 == 0 && take_once_body(body->w2)) {
    // A body no one else reaches: bound in place, it is what a copy would be.
    Cell own = make_series(TYPE_BLOCK, body->w2);
    context::bind_body(&own, ctx);
    more(fn)[MORE_BODY] = own;
  } else if (TYPE_OF(body) != TYPE_NONE) {
    Cell* copy = made_here ? context::clone_bound(body, ctx) : block::clone(body, true, true);
    Cell body_copy = *copy;
    more(fn)[MORE_BODY] = body_copy;
    stack::pop(1);
  } else {
    more(fn)[MORE_BODY] = make_none();
  }
  if (code) more(fn)[MORE_CODE] = make_integer(int32_t(code));
  if (extra) more(fn)[MORE_EXTRA] = make_integer(int32_t(extra));
  // Leave the function where the spec was pushed.
  Cell result = *fn;
  stack::pop(3);
  *stack::push_new() = result;
  return ctx;
}

int32_t count_locals(node_t spec_node, uint32_t start, bool required) {
  series_buffer* b = memory::buffer(spec_node);
  Cell* c = cell_head(b);
  uint32_t n = b->used() / sizeof(Cell);
  for (uint32_t i = start; i < n; i++) {
    if (!is_refinement(c + i, words::local)) continue;
    int32_t count = 1;
    for (uint32_t k = i + 1; k < n; k++) {
      uint32_t t = TYPE_OF(c + k);
      if (t == TYPE_SET_WORD) break;
      if (t == TYPE_WORD) count++;
    }
    return count;
  }
  return required ? -1 : 0;
}

void init_locals(int32_t n) {
  if (n <= 0) return;
  *stack::push_new() = make_logic(false);
  for (int32_t i = 1; i < n; i++) *stack::push_new() = make_none();
}

void collect_words(Cell* spec, const Cell* body) {
  Cell* result = block::push_only(8);
  Cell* ignore = block::clone(spec, false, false);
  // /extern: cut the spec there; what follows is ignored.
  bool has_extern = false;
  int32_t n = block::rs_length(spec);
  for (int32_t i = 0; i < n; i++) {
    Cell* v = block::rs_head(spec) + i;
    if (!is_refinement(v, words::extern_)) continue;
    has_extern = true;
    int32_t k = i + 1;
    while (k < n && TYPE_OF(block::rs_head(spec) + k) == TYPE_WORD) k++;
    if (k < n && is_refinement(block::rs_head(spec) + k, words::local)) {
      for (int32_t m = k + 1; m < n; m++) {
        Cell w = block::rs_head(spec)[m];
        if (TYPE_OF(&w) == TYPE_WORD) block::rs_append(result, &w);
      }
    }
    block::rs_truncate_at(spec, spec->w1 + uint32_t(i));
    break;
  }
  int32_t m = block::rs_length(ignore);
  for (int32_t i = 0; i < m; i++) {
    Cell* v = block::rs_head(ignore) + i;
    switch (TYPE_OF(v)) {
      case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        set_type(v, TYPE_WORD);
        break;
      case TYPE_BLOCK: case TYPE_STRING: case TYPE_WORD: break;
      default:
        if (has_extern) {
          Cell bad = *v;
          fire(err::SCRIPT, err::script::BAD_FUNC_EXTERN, &bad);
        }
    }
  }
  auto known = [&](const Cell* w) {
    uint32_t s = symbol::resolve(w->w2);
    for (const Cell* list : {static_cast<const Cell*>(spec), static_cast<const Cell*>(ignore),
                             static_cast<const Cell*>(result)}) {
      Cell l = *list;
      int32_t len = block::rs_length(&l);
      for (int32_t i = 0; i < len; i++) {
        const Cell* c = block::rs_head(&l) + i;
        if (word::is_any_word(TYPE_OF(c)) && symbol::resolve(c->w2) == s) return true;
      }
    }
    return false;
  };
  auto offer = [&](const Cell* w) {
    Cell word = *w;
    word.header = TYPE_WORD;
    if (!known(&word)) block::rs_append(result, &word);
  };
  // Walk the body deeply, as binding does: a block met again inside itself
  // is not walked twice, and nesting beyond the cycle stack raises
  // internal too-deep.
  struct walker {
    static void walk(const Cell* blk, decltype(offer)& offer_fn) {
      Cell b = *blk;
      if (cycles::find(b.w2)) return;
      cycles::push(b.w2);
      walk_cells(b, offer_fn);
      cycles::pop();
    }
    static void walk_cells(Cell b, decltype(offer)& offer_fn) {
      int32_t len = block::rs_length(&b);
      for (int32_t i = 0; i < len; i++) {
        Cell v = block::rs_head(&b)[i];
        uint32_t t = TYPE_OF(&v);
        if (t == TYPE_SET_WORD) {
          offer_fn(&v);
        } else if (t == TYPE_BLOCK || t == TYPE_PAREN) {
          walk(&v, offer_fn);
        } else if (t == TYPE_WORD && i + 1 < len) {
          uint32_t s = symbol::resolve(v.w2);
          Cell next = block::rs_head(&b)[i + 1];
          bool loop_words = s == symbol::resolve(words::foreach) ||
                            s == symbol::resolve(words::remove_each);
          if (loop_words && TYPE_OF(&next) == TYPE_BLOCK) {
            int32_t k = block::rs_length(&next);
            for (int32_t j = 0; j < k; j++) {
              Cell w = block::rs_head(&next)[j];
              uint32_t wt = TYPE_OF(&w);
              if (wt == TYPE_WORD || wt == TYPE_GET_WORD || wt == TYPE_LIT_WORD) offer_fn(&w);
            }
          } else if ((loop_words || s == symbol::resolve(words::repeat)) &&
                     (TYPE_OF(&next) == TYPE_WORD || TYPE_OF(&next) == TYPE_SET_WORD)) {
            offer_fn(&next);
          }
        }
      }
    }
  };
  {
    cycles::guard guard;
    walker::walk(body, offer);
  }
  int32_t found = block::rs_length(result);
  if (found > 0) {
    bool has_local = false;
    int32_t len = block::rs_length(spec);
    for (int32_t i = 0; i < len; i++)
      if (is_refinement(block::rs_head(spec) + i, words::local)) has_local = true;
    if (!has_local) block::rs_append(spec, &words::local_ref);
    for (int32_t i = 0; i < found; i++) {
      Cell w = block::rs_head(result)[i];
      if (symbol::resolve(w.w2) == symbol::resolve(words::local)) continue;
      block::rs_append(spec, &w);
    }
  }
  stack::pop(2);
}

// Actions -----------------------------------------------------------------------

namespace {

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  if (TYPE_OF(spec) != TYPE_BLOCK || block::rs_length(spec) < 2) bad_def(spec);
  Cell s = *spec;
  Cell fspec = block::rs_head(&s)[0];
  Cell fbody = block::rs_head(&s)[1];
  if (TYPE_OF(&fspec) != TYPE_BLOCK || TYPE_OF(&fbody) != TYPE_BLOCK) bad_def(spec);
  uint32_t flags = validate(&fspec);
  push(&fspec, &fbody, 0, 0, 0, flags);
  *proto = *stack::top_cell();
  stack::pop(1);
  return proto;
}

Cell* reflect(Cell* fn, uint32_t field) {
  uint32_t f = symbol::resolve(field);
  if (f == symbol::resolve(words::spec)) {
    *fn = make_series(TYPE_BLOCK, fn->w2);
  } else if (f == symbol::resolve(words::body)) {
    *fn = more(fn)[MORE_BODY];
  } else if (f == symbol::resolve(words::words)) {
    node_t ctx = fn->w1;
    Cell list = make_series(TYPE_BLOCK, context::words_node(ctx));
    Cell* copy = block::clone(&list, false, false);
    *fn = *copy;
    stack::pop(1);
  } else {
    fire(err::INTERNAL, err::internal::NOT_DONE);
  }
  return fn;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return part - string::append_literal(out, TYPE_OF(v) == TYPE_ROUTINE ? "?routine?" : "?function?");
}

int32_t mold(const Cell* v, Cell* out, bool, bool all, bool flat, int32_t part, int32_t indent) {
  Cell fn = *v;
  Cell spec = make_series(TYPE_BLOCK, fn.w2);
  Cell body = more(&fn)[MORE_BODY];
  if (TYPE_OF(&fn) == TYPE_ROUTINE) {
    part -= string::append_literal(out, "routine ");
    part = actions::mold(&spec, out, false, all, flat, part, indent);
    if (TYPE_OF(&body) == TYPE_BLOCK) return actions::mold(&body, out, false, all, flat, part, indent);
    part -= string::append_literal(out, " ");
    return actions::mold(&body, out, false, all, flat, part, indent);
  }
  part -= string::append_literal(out, "func ");
  part = actions::mold(&spec, out, false, all, flat, part, indent);
  if (TYPE_OF(&body) == TYPE_BLOCK) return actions::mold(&body, out, false, all, flat, part, indent);
  return part - string::append_literal(out, " none");
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(a) != TYPE_OF(b)) return -2;
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
      return a->w3 == b->w3 ? 0 : (a->w3 < b->w3 ? -1 : 1);
    default: return -2;
  }
}

constexpr action_row FUNCTION_ACTIONS = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.reflect = reflect;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

constexpr action_row ROUTINE_ACTIONS = [] {
  action_row r = unsupported_row();
  r.reflect = INHERIT;
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_FUNCTION, TYPE_CONTEXT, "function!", FUNCTION_ACTIONS); }

}  // namespace kez::function

namespace kez::routine {

void push(const Cell* spec_in, uint32_t code) {
  Cell* spec = stack::push(*spec_in);
  Cell* fn = stack::push_unset();
  node_t more_node = memory::alloc_unset_cells(5);
  memory::buffer(more_node)->tail = 5 * sizeof(Cell);
  *fn = Cell{TYPE_BLOCK, 0, more_node, 0};  // keeps the more series alive
  node_t ctx = context::make(spec, true, false, CONTEXT_FUNCTION);
  // The arity: the word! entries of the spec, at most 31.
  uint32_t arity = 0;
  int32_t n = block::rs_length(spec);
  for (int32_t i = 0; i < n; i++)
    if (TYPE_OF(block::rs_head(spec) + i) == TYPE_WORD) arity++;
  if (arity > 31) arity = 31;
  *fn = Cell{TYPE_ROUTINE | (arity << ROUTINE_ARITY_SHIFT), ctx, spec->w2, more_node};
  *context::owner(ctx) = *fn;
  Cell* more = kez::function::more(fn);
  more[kez::function::MORE_BODY] = make_none();
  more[kez::function::MORE_CODE] = make_integer(int32_t(code));
  Cell result = *fn;
  stack::pop(2);
  *stack::push_new() = result;
}

void init() {
  datatype::register_type(TYPE_ROUTINE, TYPE_FUNCTION, "routine!", kez::function::ROUTINE_ACTIONS);
}
}  // namespace kez::routine
