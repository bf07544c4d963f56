// Contexts and the global context.
//
// Invariants: a context's word list and values block have the same length
// (heap contexts); every word of the word list is bound to its own context
// with its own index; the record is typed context! before any allocation
// that could start a collection after its word list exists.
#include "values/context.h"

#include <algorithm>
#include <vector>

#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::context {

node_t global_node = 0;
Cell root{TYPE_UNSET, 0, 0, 0};

namespace {

void append_value(node_t ctx, const Cell* value) {
  Cell copy = *value;
  node_t vals = record(ctx)->w2;
  *alloc_tail_cell(vals) = copy;
}

// The most words a function spec may have for make to keep them unique by
// scanning its word list instead of hashing them.
constexpr uint32_t SCAN_WORDS = 32;

// Appends a word for `sym` to `ctx`'s word list unless one with the same
// canonical symbol is there (answers true then), without touching the index.
bool add_unindexed(node_t ctx, uint32_t sym) {
  uint32_t canonical = symbol::resolve(sym);
  node_t words = words_node(ctx);
  series_buffer* b = memory::buffer(words);
  for (const Cell* w = cell_head(b); w < cell_tail(b); w++)
    if (symbol::resolve(w->w2) == canonical) return true;
  uint32_t position = uint32_t(b->used() / sizeof(Cell));
  Cell* word = alloc_tail_cell(words);
  *word = Cell{TYPE_WORD, ctx, sym, position};
  return false;
}

}  // namespace

node_t words_node(node_t ctx) { return hashtable::get_header(record(ctx)->w1)->block; }

Cell* values(node_t ctx) {
  Cell* r = record(ctx);
  if (r->header & CONTEXT_ON_STACK) return stack::stack_values(r->w2);
  return r->w2 ? cells_of(memory::buffer(r->w2)) : nullptr;
}

uint32_t size(node_t ctx) { return memory::buffer(words_node(ctx))->used() / sizeof(Cell); }

void init() {
  root = make_unset();
  root = make_series(TYPE_BLOCK, memory::alloc_cells(100));
  global_node = create(GLOBAL_SLOTS, false, false, 0, CONTEXT_GLOBAL);
}

void keep(const Cell* value) {
  Cell copy = *value;
  *alloc_tail(&root) = copy;
}

int32_t find_word(node_t ctx, uint32_t sym, bool ci) {
  return hashtable::find_symbol(record(ctx)->w1, int32_t(sym), ci, 0, nullptr);
}

int32_t add_word(node_t ctx, uint32_t sym, bool ci, uint32_t* added) {
  int32_t index = 0;
  int32_t found = hashtable::find_symbol(record(ctx)->w1, int32_t(sym), ci, ctx, &index);
  if (found < 0 && added) *added = uint32_t(index);
  return found;
}

uint32_t add(node_t ctx, const Cell* word) {
  uint32_t added = 0;
  int32_t found = add_word(ctx, word->w2, true, &added);
  if (found >= 0) return uint32_t(found);
  if (!on_stack(ctx)) append_value(ctx, &unset_value);
  return added;
}

Cell* add_with(node_t ctx, const Cell* word, const Cell* value) {
  Cell copy = *value;
  uint32_t added = 0;
  if (add_word(ctx, word->w2, true, &added) >= 0) return nullptr;
  append_value(ctx, &copy);
  return values(ctx) + added;
}

void put(node_t ctx, const Cell* word, const Cell* value) {
  Cell copy = *value;
  int32_t found = find_word(ctx, word->w2, true);
  if (found >= 0) {
    values(ctx)[found] = copy;
    return;
  }
  add_with(ctx, word, &copy);
}

Cell* symbol_value(uint32_t sym, node_t ctx) {
  if (on_stack(ctx)) ctx = global_node;
  int32_t i = find_word(ctx, sym, true);
  return i < 0 ? nullptr : values(ctx) + i;
}

node_t create(uint32_t slots, bool stack_values, bool self, node_t proto, uint32_t kind) {
  if (slots == 0) slots = 1;
  node_t ctx = memory::alloc_unset_cells(2);
  memory::buffer(ctx)->tail = 2 * sizeof(Cell);
  // Keep the new context reachable while its parts are allocated.
  Cell* hold = stack::push(make_series(TYPE_BLOCK, ctx));
  // A function context's words are seldom looked up by name (binding to
  // it goes through the bind table): its index waits for the first lookup.
  node_t table = proto ? hashtable::init_from(record(proto)->w1)
                 : kind == CONTEXT_FUNCTION ? hashtable::init_deferred(slots)
                                            : hashtable::init(slots, nullptr, hashtable::KIND_SYMBOLS, 0);
  if (proto) {
    // The copied word list belongs to the new context.
    series_buffer* b = memory::buffer(hashtable::get_header(table)->block);
    for (Cell* w = cell_head(b); w < cell_tail(b); w++) w->w1 = ctx;
  }
  uint32_t header = TYPE_CONTEXT | (kind << CONTEXT_KIND_SHIFT);
  if (stack_values) header |= CONTEXT_ON_STACK;
  if (self) header |= CONTEXT_SELF;
  *record(ctx) = Cell{header, table, 0, 0};
  if (!stack_values && proto && !on_stack(proto)) {
    // The prototype's values, copied at once: nothing can allocate before
    // the tail is set, so the cells past it are never seen unset.
    node_t vals = memory::alloc_cells(slots);
    record(ctx)->w2 = vals;
    uint32_t n = std::min(size(proto), slots);
    series_buffer* to = memory::buffer(vals);
    std::copy_n(cells_of(memory::buffer(record(proto)->w2)), n, cells_of(to));
    to->tail = to->head + n * uint32_t(sizeof(Cell));
  } else if (!stack_values) {
    node_t vals = memory::alloc_unset_cells(slots);
    record(ctx)->w2 = vals;
  }
  (void)hold;
  stack::pop(1);
  return ctx;
}

node_t make(const Cell* spec, bool stack_values, bool self, uint32_t kind) {
  series_buffer* b = GET_BUFFER(spec);
  uint32_t count = b->used() / sizeof(Cell);
  count = spec->w1 < count ? count - spec->w1 : 0;
  node_t ctx = create(count, stack_values, self, 0, kind);
  Cell* hold = stack::push(make_series(TYPE_BLOCK, ctx));
  (void)hold;
  // A short spec is kept unique by a scan, which leaves a deferred index
  // unbuilt; a long one is indexed as it is read.
  bool deferred = kind == CONTEXT_FUNCTION && count <= SCAN_WORDS;
  if (!deferred) hashtable::reserve(record(ctx)->w1, count);
  for (uint32_t i = 0; i < count; i++) {
    const Cell* v = cells_of(GET_BUFFER(spec)) + spec->w1 + i;
    uint32_t t = TYPE_OF(v);
    if (t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT) {
      uint32_t sym = v->w2;
      uint32_t added;
      if (deferred) {
        if (add_unindexed(ctx, sym)) continue;
      } else if (add_word(ctx, sym, true, &added) >= 0) {
        continue;
      }
      if (!stack_values) append_value(ctx, &unset_value);
    }
  }
  stack::pop(1);
  return ctx;
}

node_t clone(Cell* value) {
  node_t src = value->w1;
  Cell* rec = record(src);
  uint32_t kind_bits = (rec->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
  bool stack_values = rec->header & CONTEXT_ON_STACK;
  bool self = rec->header & CONTEXT_SELF;
  uint32_t n = size(src);
  node_t ctx = create(n, stack_values, self, src, kind_bits);
  value->w1 = ctx;
  return ctx;
}

bool collect_set_words(node_t ctx, const Cell* block) {
  uint32_t before = size(ctx);
  series_buffer* b = GET_BUFFER(block);
  uint32_t n = b->used() / sizeof(Cell);
  // Size the word table once for all the set-words (a repeated one only
  // leaves room unused) rather than growing it step by step as they come.
  uint32_t set_words = 0;
  for (const Cell* v = cells_of(b) + std::min(block->w1, n); v < cells_of(b) + n; v++)
    set_words += TYPE_OF(v) == TYPE_SET_WORD;
  hashtable::reserve(record(ctx)->w1, set_words);
  for (uint32_t i = block->w1; i < n; i++) {
    Cell v = cells_of(GET_BUFFER(block))[i];
    if (TYPE_OF(&v) == TYPE_SET_WORD) add(ctx, &v);
  }
  return size(ctx) > before;
}

int32_t bind_word(node_t ctx, Cell* word) {
  int32_t i = find_word(ctx, word->w2, true);
  if (i >= 0) {
    word->w1 = ctx;
    word->w3 = uint32_t(i);
  }
  return i;
}

namespace {

// Binding a block walks every word in it, often thousands (a module's or a
// face's whole spec, or a function body at each copy): a lookup per word in
// the context's hash table was most of start-up's binding time. A context of
// at most BIND_TABLE_WORDS words is bound through a table instead, indexed by
// canonical symbol and holding each word's index + 1 (0: not in the
// context). The table is filled before a walk and emptied after it, even
// when the walk raises; a walk neither allocates nor evaluates, so walks
// never nest. Larger contexts (the global one) keep the hash lookup: filling
// the table would cost more than the walk saves.
//
// One exception to emptying: the bodies of the functions an object makes
// are walked one after another with the same outer levels (the object and
// those around it) and a level of their own. The outer levels' entries stay
// in the table after such a walk, and the next walk with exactly the same
// outer levels, and no collection in between (none can have given a
// context's node to another), takes them as they are; any other walk empties
// them first. A walk's own level is always taken out again, putting back
// the outer entries it covered.
constexpr uint32_t BIND_TABLE_WORDS = 512;
std::vector<uint32_t> bind_table;

// A walk may bind to several contexts at once, outermost first: a word takes
// the innermost one that has it, as if each had bound the block in turn.
// Each binds only its first `words` words (those it had when its own walk
// began); `self`: a plain `self` takes the context. A table entry holds the
// level above LEVEL_SHIFT.
struct bind_level {
  node_t ctx;
  uint32_t words;
  bool self;
};
constexpr uint32_t LEVEL_SHIFT = 20, INDEX_MASK = (1u << LEVEL_SHIFT) - 1;

// An object's spec or a function's body that the walk of an enclosing
// object's spec left to the object's or the function's own walk (see
// bind_spec and bind_body), with the contexts it is owed.
// Their levels lie in owed_levels, from `first`. They are taken mostly in
// the order they were left, so a search starts at the oldest not taken.
struct owed_bind {
  node_t block;  // 0 once taken
  uint32_t first, count;
};
std::vector<owed_bind> owed_binds;
std::vector<bind_level> owed_levels;
size_t owed_oldest = 0;

// The most contexts one walk binds to; a spec nested deeper is bound by
// walks of its own.
constexpr uint32_t MAX_LEVELS = 16;

// The outer levels whose entries the table still holds (see above), with
// the canonical symbols they fill, and the collection count they are good
// for.
struct kept_outer {
  uint32_t count = 0;
  bind_level levels[MAX_LEVELS];
  uint32_t cycles = 0;
  std::vector<uint32_t> symbols;
};
kept_outer kept;
// The entries a walk's own level covered, to be put back in reverse order.
struct covered_entry {
  uint32_t symbol, entry;
};
std::vector<covered_entry> covered;

bool same_levels(const bind_level* a, const bind_level* b, uint32_t count) {
  for (uint32_t l = 0; l < count; l++)
    if (a[l].ctx != b[l].ctx || a[l].words != b[l].words || a[l].self != b[l].self) return false;
  return true;
}

void drop_kept() {
  for (uint32_t sym : kept.symbols) bind_table[sym] = 0;
  kept.symbols.clear();
  kept.count = 0;
}

struct bind_lookup {
  node_t ctx;  // the innermost context
  bool table;
  uint32_t self_sym;    // 0 when no level binds a plain `self`
  uint32_t self_level;  // the innermost level that does
  // Object spec walks leave the specs of objects made once inside to them.
  bool defer = false;
  uint32_t level_count;
  bind_level levels[MAX_LEVELS];
  // The symbol table's entries, read for each word's canonical symbol. A
  // walk that allocates (copy_bound) reads them again after each allocation.
  mutable const Cell* symbols;

  bind_lookup(node_t c, bool self) {
    level_count = 1;
    levels[0] = {c, size(c), self};
    init();
  }
  // `given`, outermost first: all but the innermost have at most
  // BIND_TABLE_WORDS words, and there are at most MAX_LEVELS.
  bind_lookup(const bind_level* given, uint32_t count) {
    level_count = count;
    for (uint32_t l = 0; l < count; l++) levels[l] = given[l];
    init();
  }
  void init() {
    ctx = levels[level_count - 1].ctx;
    table = levels[level_count - 1].words <= BIND_TABLE_WORDS;
    self_sym = 0;
    for (uint32_t l = 0; l < level_count; l++)
      if (levels[l].self) {
        self_level = l;
        self_sym = symbol::resolve(words::self);
      }
    refresh();
    if (!table) return;
    uint32_t count = symbol::count() + 1;
    if (bind_table.size() < count) bind_table.resize(count + count / 2, 0);
    // The first of two spellings of one word wins, as in the hash table.
    uint32_t outer = level_count - 1;
    if (outer == 0 || kept.count != outer || kept.cycles != collector::stats.cycles ||
        !same_levels(kept.levels, levels, outer)) {
      drop_kept();
      for (uint32_t l = 0; l < outer; l++) {
        const Cell* w = cells_of(memory::buffer(words_node(levels[l].ctx)));
        for (uint32_t i = levels[l].words; i-- > 0;) {
          uint32_t sym = canonical(w[i].w2);
          bind_table[sym] = l << LEVEL_SHIFT | (i + 1);
          kept.symbols.push_back(sym);
        }
      }
    }
    covered.clear();
    const Cell* w = cells_of(memory::buffer(words_node(ctx)));
    for (uint32_t i = levels[outer].words; i-- > 0;) {
      uint32_t sym = canonical(w[i].w2);
      covered.push_back({sym, bind_table[sym]});
      bind_table[sym] = outer << LEVEL_SHIFT | (i + 1);
    }
  }
  ~bind_lookup() {
    if (!table) return;
    for (size_t k = covered.size(); k-- > 0;) bind_table[covered[k].symbol] = covered[k].entry;
    covered.clear();
    uint32_t outer = level_count - 1;
    kept.count = outer;
    std::copy_n(levels, outer, kept.levels);
    kept.cycles = collector::stats.cycles;
  }
  bind_lookup(const bind_lookup&) = delete;
  bind_lookup& operator=(const bind_lookup&) = delete;

  // Adds to the innermost context the set-words of `spec`'s top level that
  // it lacks, as collect_set_words would, and gives them their entries:
  // a word is looked up in the table this walk fills anyway, not in the
  // context's hash table. The table holds the innermost context whole.
  void collect_set_words(const Cell* spec);

  void refresh() const { symbols = cells_of(memory::buffer(symbol::table.w2)); }
  // symbol::resolve through the entries read at the last refresh.
  [[gnu::always_inline]] uint32_t canonical(uint32_t id) const {
    int32_t alias = int32_t(symbols[id - 1].w1);
    return alias > 0 ? uint32_t(alias) : id;
  }

  // A word of any kind; a plain `self` takes the context of the innermost
  // level that binds it, unless a level inside that one has the word.
  [[gnu::always_inline]] void any_word(Cell* v) const {
    uint32_t sym = canonical(v->w2);
    if (sym == self_sym && TYPE_OF(v) == TYPE_WORD) [[unlikely]] {
      uint32_t i = table ? bind_table[sym] : 0;
      if (!i || (i >> LEVEL_SHIFT) <= self_level) {
        v->w1 = levels[self_level].ctx;
        v->w3 = NO_INDEX;
        return;
      }
    }
    if (!table) {
      bind_word(ctx, v);
      refresh();  // a deferred word table is indexed on first use
      return;
    }
    uint32_t i = bind_table[sym];
    if (i) {
      v->w1 = levels[i >> LEVEL_SHIFT].ctx;
      v->w3 = (i & INDEX_MASK) - 1;
    }
  }

  // Leaves the spec of an object made once, or the body of a function made
  // once, to its own walk; false for any other block.
  bool leave(node_t node) const {
    if (!defer || level_count == MAX_LEVELS) return false;
    if (!function::is_once_spec(node) && !function::is_once_body(node)) return false;
    owed_binds.push_back({node, uint32_t(owed_levels.size()), level_count});
    owed_levels.insert(owed_levels.end(), levels, levels + level_count);
    return true;
  }
};

// The symbols (as written) of the set-words a spec adds to its context.
std::vector<uint32_t> fresh_words;

void bind_lookup::collect_set_words(const Cell* spec) {
  uint32_t inner = level_count - 1;
  node_t target = levels[inner].ctx;
  uint32_t base = levels[inner].words;
  fresh_words.clear();
  series_buffer* b = GET_BUFFER(spec);
  const Cell* end = cells_of(b) + b->used() / sizeof(Cell);
  for (const Cell* v = cells_of(b) + spec->w1; v < end; v++) {
    if (TYPE_OF(v) != TYPE_SET_WORD) continue;
    uint32_t sym = canonical(v->w2);
    uint32_t entry = bind_table[sym];
    if (entry && entry >> LEVEL_SHIFT == inner) continue;  // the context has it
    // The entry covered is put back after the walk, as for the words the
    // context had; the first of two spellings wins.
    covered.push_back({sym, entry});
    bind_table[sym] = inner << LEVEL_SHIFT | (base + uint32_t(fresh_words.size()) + 1);
    fresh_words.push_back(v->w2);
  }
  if (fresh_words.empty()) return;
  uint32_t more = uint32_t(fresh_words.size());
  hashtable::reserve(record(target)->w1, more);
  memory::ensure_room(record(target)->w2, uint64_t(more) * sizeof(Cell));
  for (uint32_t sym : fresh_words) {
    uint32_t added = 0;
    add_word(target, sym, true, &added);
    append_value(target, &unset_value);
  }
  levels[inner].words += more;
  ctx = target;
  refresh();
}

// Binding a word again to the same context changes nothing, so a block met
// again inside itself only has to stop the walk before it goes on forever:
// the cycle stack is searched once the walk is this deep, not at each block.
constexpr uint32_t BIND_CYCLE_DEPTH = 8;

// Walks a block and the blocks in it (a block met again inside itself only
// once), handing each word to `on_word`. `on_word` comes by value, so that
// what it holds stays in registers: stores into the walked cells could
// otherwise change it as far as the compiler knows.
template <class OnWord>
void walk_words(node_t block_node, uint32_t head, const bind_lookup& to, OnWord on_word) {
  if (cycles::top >= BIND_CYCLE_DEPTH && cycles::find(block_node)) return;
  cycles::push(block_node);
  series_buffer* b = memory::buffer(block_node);
  Cell* v = cells_of(b) + head;
  Cell* end = cells_of(b) + b->used() / sizeof(Cell);
  for (; v < end; v++) {
    switch (TYPE_OF(v)) {
      case TYPE_BLOCK:
        if (to.leave(v->w2)) break;
        [[fallthrough]];
      case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH:
      case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_HASH:
        walk_words(v->w2, v->w1, to, on_word);
        break;
      case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        on_word(v);
        break;
      default: break;
    }
  }
  cycles::pop();
}

void bind_cells(node_t block_node, uint32_t head, const bind_lookup& to) {
  if (!to.table) {
    walk_words(block_node, head, to, [&to](Cell* v) { to.any_word(v); });
    return;
  }
  // A walk through the table does the lookup of any_word itself, with what
  // it reads held in the walker's copy.
  walk_words(block_node, head, to,
             [&to, symbols = to.symbols, entries = bind_table.data(),
              self_sym = to.self_sym](Cell* v) {
               int32_t alias = int32_t(symbols[v->w2 - 1].w1);
               uint32_t sym = alias > 0 ? uint32_t(alias) : v->w2;
               if (sym == self_sym) [[unlikely]] {
                 to.any_word(v);
                 return;
               }
               if (uint32_t i = entries[sym]) {
                 v->w1 = to.levels[i >> LEVEL_SHIFT].ctx;
                 v->w3 = (i & INDEX_MASK) - 1;
               }
             });
}
}  // namespace

Cell* bind(Cell* block, node_t ctx, bool self) {
  cycles::guard guard;
  bind_lookup to(ctx, self);
  bind_cells(block->w2, block->w1, to);
  return block;
}

namespace {

// The contexts an enclosing object's walk left to `block`, taken out; none
// when it left none. The block is made once (function::is_once_spec,
// is_once_body), so nothing looked at its words in between.
uint32_t take_owed(node_t block, bind_level* levels) {
  uint32_t count = 0;
  for (size_t i = owed_oldest; i < owed_binds.size(); i++) {
    owed_bind& owed = owed_binds[i];
    if (owed.block != block) continue;
    count = owed.count;
    std::copy_n(owed_levels.begin() + owed.first, count, levels);
    owed.block = 0;
    break;
  }
  while (owed_oldest < owed_binds.size() && !owed_binds[owed_oldest].block) owed_oldest++;
  if (owed_oldest == owed_binds.size()) {
    owed_binds.clear();
    owed_levels.clear();
    owed_oldest = 0;
  }
  return count;
}

// Binds `block` to the owed contexts in `levels` and to `ctx`, in one walk
// when the table can hold them all. `defer`: an object spec's walk.
void bind_levels(Cell* block, node_t ctx, bool self, bool defer, bind_level* levels,
                 uint32_t count) {
  cycles::guard guard;
  if (size(ctx) > BIND_TABLE_WORDS || count == MAX_LEVELS) {
    // Too large to share the table: the owed contexts first, then its own.
    if (count) {
      bind_lookup owed(levels, count);
      bind_cells(block->w2, block->w1, owed);
    }
    bind_lookup to(ctx, self);
    bind_cells(block->w2, block->w1, to);
    return;
  }
  levels[count++] = {ctx, size(ctx), self};
  bind_lookup to(levels, count);
  to.defer = defer;
  bind_cells(block->w2, block->w1, to);
}

// Binds `block` to its owed contexts and to `ctx`.
void bind_owed(Cell* block, node_t ctx, bool self, bool defer) {
  bind_level levels[MAX_LEVELS + 1];
  uint32_t count = take_owed(block->w2, levels);
  bind_levels(block, ctx, self, defer, levels, count);
}

}  // namespace

Cell* bind_spec(Cell* spec, node_t ctx) {
  bind_owed(spec, ctx, true, true);
  return spec;
}

bool collect_bind_spec(Cell* spec, node_t ctx) {
  uint32_t before = size(ctx);
  bind_level levels[MAX_LEVELS + 1];
  uint32_t count = take_owed(spec->w2, levels);
  series_buffer* b = GET_BUFFER(spec);
  uint32_t n = b->used() / sizeof(Cell);
  if (spec->w1 >= n) return false;  // no word to collect or bind
  uint32_t set_words = 0;
  for (const Cell* v = cells_of(b) + spec->w1; v < cells_of(b) + n; v++)
    set_words += TYPE_OF(v) == TYPE_SET_WORD;
  if (before + set_words > BIND_TABLE_WORDS || count == MAX_LEVELS) {
    collect_set_words(ctx, spec);
    bind_levels(spec, ctx, true, true, levels, count);
    return size(ctx) > before;
  }
  cycles::guard guard;
  levels[count++] = {ctx, before, true};
  bind_lookup to(levels, count);
  to.defer = true;
  if (set_words) to.collect_set_words(spec);
  bind_cells(spec->w2, spec->w1, to);
  return size(ctx) > before;
}

Cell* bind_body(Cell* body, node_t ctx) {
  bind_owed(body, ctx, false, false);
  return body;
}

namespace {

// The shallow copy `copy` (on the stack) of the block `source` made deep and
// bound: the walk of block::clone (deep, paths included) and of bind over
// its result, in one pass over the new cells.
void copy_bound(Cell* copy, node_t source, const bind_lookup& to) {
  // A block met again inside itself cannot be copied deeply.
  if (cycles::find(source)) {
    cycles::reset();
    fire(err::INTERNAL, err::internal::NO_CYCLE);
  }
  cycles::push(source);
  node_t node = copy->w2;
  uint32_t n = memory::buffer(node)->used() / sizeof(Cell);
  for (uint32_t i = 0; i < n; i++) {
    // Copying allocates: the cells are found again through the node.
    Cell* v = cells_of(memory::buffer(node)) + i;
    uint32_t t = TYPE_OF(v);
    switch (t) {
      case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH:
      case TYPE_SET_PATH: case TYPE_GET_PATH: {
        Cell inner = *v;
        Cell* made = block::clone(&inner, false, false);
        to.refresh();
        made->header |= inner.header & CELL_NEW_LINE;  // the break belongs to the outer block
        copy_bound(made, inner.w2, to);
        cells_of(memory::buffer(node))[i] = *made;
        stack::pop(1);
        break;
      }
      case TYPE_HASH:
        bind_cells(v->w2, v->w1, to);
        break;
      case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        to.any_word(v);
        break;
      default: break;
    }
  }
  cycles::pop();
}

}  // namespace

Cell* clone_bound(const Cell* block_in, node_t ctx) {
  Cell source = *block_in;
  cycles::guard guard;
  bind_lookup to(ctx, false);
  Cell* copy = block::clone(&source, false, false);
  to.refresh();
  copy_bound(copy, source.w2, to);
  return copy;
}

void get_global(uint32_t sym, Cell* out) {
  int32_t i = find_word(global_node, sym, false);
  if (i < 0) {
    Cell w = word::make(TYPE_WORD, global_node, sym, NO_INDEX);
    i = int32_t(add(global_node, &w));
  }
  *out = values(global_node)[i];
}

Cell* get_global_value(uint32_t sym) {
  int32_t i = find_word(global_node, sym, true);
  return i < 0 ? nullptr : values(global_node) + i;
}

Cell add_global(uint32_t sym, bool ci, bool keep_spelling) {
  uint32_t added = 0;
  int32_t found = add_word(global_node, sym, ci, &added);
  if (found >= 0) {
    Cell w = *word_at(global_node, uint32_t(found));
    if (ci && keep_spelling && w.w2 != sym) {
      w.w2 = sym;
      keep(&w);
    }
    return w;
  }
  append_value(global_node, &unset_value);
  Cell w = *word_at(global_node, added);
  if (symbol::get_alias(sym) > 0) {
    int32_t first = find_word(global_node, sym, true);
    if (first >= 0) w.w3 = uint32_t(first);
  }
  return w;
}

Cell* get_in(const Cell* word, node_t ctx) {
  if (word->w3 != NO_INDEX && ctx) {
    Cell* vals = values(ctx);
    if (!vals) {
      Cell w = *word;
      fire(err::SCRIPT, err::script::NOT_IN_CONTEXT, &w);
    }
    return vals + word->w3;
  }
  if (ctx && symbol::resolve(word->w2) == symbol::resolve(words::self)) return owner(ctx);
  Cell w = *word;
  fire(err::SCRIPT, err::script::NO_VALUE, &w);
}

Cell* set_in(Cell* word, const Cell* value, node_t ctx, bool fire_on_set) {
  if (!ctx) {
    Cell w = *word;
    fire(err::SCRIPT, err::script::NOT_DEFINED, &w);
  }
  if (word->w3 == NO_INDEX) {
    int32_t i = find_word(ctx, word->w2, false);
    if (i < 0) {
      Cell copy = *value;
      Cell* held = stack::push(copy);
      i = int32_t(add(ctx, word));
      value = held;
      stack::pop(1);
      // The held cell stays valid: popping does not clear it.
    }
    word->w3 = uint32_t(i);
  }
  Cell* vals = values(ctx);
  if (!vals) {
    Cell w = *word;
    fire(err::SCRIPT, err::script::NOT_DEFINED, &w);
  }
  Cell* slot = vals + word->w3;
  if (kind(ctx) == CONTEXT_OBJECT && !on_stack(ctx)) {
    word_at(ctx, word->w3)->header |= WORD_FIELD_SET;
    Cell* own = owner(ctx);
    if (fire_on_set && TYPE_OF(own) == TYPE_OBJECT && own->w3) {
      Cell old = *slot;
      *slot = *value;
      object::fire_on_set(own, word, &old, slot);
      return values(ctx) + word->w3;
    }
  }
  *slot = *value;
  return slot;
}

}  // namespace kez::context
