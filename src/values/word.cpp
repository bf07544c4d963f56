// Words: making, getting and setting.
#include "values/word.h"

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/symbol.h"

namespace kez::word {

Cell make_global(uint32_t sym) {
  Cell w = make(TYPE_WORD, context::global_node, sym, context::NO_INDEX);
  w.w3 = context::add(context::global_node, &w);
  return w;
}

Cell load(const char* text) {
  return context::add_global(symbol::make(text), true, true);
}

void make_at(uint32_t sym, Cell* cell) { *cell = make_global(sym); }

Cell lookup(node_t ctx, uint32_t sym) {
  if (ctx) {
    int32_t i = context::find_word(ctx, sym, false);
    if (i >= 0) return *context::word_at(ctx, uint32_t(i));
  }
  return context::add_global(sym, false, true);
}

Cell* set(Cell* word, const Cell* value) { return context::set_in(word, value, word->w1, true); }

Cell* get(const Cell* word) {
  const Cell* v = context::get(word);
  if (TYPE_OF(v) == TYPE_UNSET) {
    Cell w = *word;
    fire(err::SCRIPT, err::script::NO_VALUE, &w);
  }
  return stack::push(v);
}

Cell* get_any(const Cell* word) { return context::get(word); }

const Cell* get_value_or_null(const Cell* word) {
  node_t ctx = word->w1;
  if (!ctx) return nullptr;
  if (word->w3 == context::NO_INDEX) return nullptr;
  Cell* vals = context::values(ctx);
  return vals ? vals + word->w3 : nullptr;
}

uint32_t canonical(const Cell* word) { return symbol::resolve(word->w2); }

bool same_symbol(const Cell* a, const Cell* b) { return canonical(a) == canonical(b); }

}  // namespace kez::word
