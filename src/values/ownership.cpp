// Ownership of series by objects.
//
// Invariants: a buffer has the owned bit exactly when the owner table holds
// a record for its node; the first binding of a buffer wins.
#include "values/ownership.h"

#include "foundation/collector.h"
#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/string.h"
#include "values/word.h"

namespace kez::ownership {

node_t table = 0;

namespace {

constexpr uint32_t RECORD_CELLS = 3;  // value, owner, word

bool is_owned_series(uint32_t t) {
  return block::is_block_type(t) || string::is_string_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE || t == TYPE_BITSET;
}

bool nests(uint32_t t) { return block::is_block_type(t); }

bool is_object(uint32_t t) { return t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT; }

void mark_table() { collector::mark_table(table); }

void bind_cells(const Cell* block, const Cell* owner, const Cell* word);

void bind_value(const Cell* value, const Cell* owner, const Cell* word) {
  Cell v = *value;
  uint32_t t = TYPE_OF(&v);
  if (is_owned_series(t)) {
    if (!v.w2) return;  // an image without pixels has no buffer to own
    series_buffer* b = GET_BUFFER(&v);
    if (!(b->flags & SERIES_OWNED)) {
      b->flags |= SERIES_OWNED;
      Cell o = *owner, w = word ? *word : none_value;
      Cell* rec = hashtable::put_key(table, v.w2);
      rec[0] = v;
      rec[1] = o;
      rec[2] = w;
    }
    if (nests(t) && !cycles::find(v.w2)) {
      cycles::push(v.w2);
      bind_cells(&v, owner, word);
      cycles::pop();
    }
  } else if (is_object(t)) {
    node_t ctx = v.w1;
    if ((context::record(ctx)->header & CONTEXT_OWNER) || cycles::find(ctx)) return;
    cycles::push(ctx);
    uint32_t n = context::size(ctx);
    for (uint32_t i = 0; i < n; i++) {
      Cell field = context::values(ctx)[i];
      if (is_object(TYPE_OF(&field)) && field.w1 == owner->w1) continue;
      Cell fword = *context::word_at(ctx, i);
      bind_value(&field, owner, &fword);
    }
    cycles::pop();
  }
}

void bind_cells(const Cell* block, const Cell* owner, const Cell* word) {
  Cell b = *block;
  int32_t n = block::rs_length(&b);
  for (int32_t i = 0; i < n; i++) {
    Cell c = block::rs_head(&b)[i];
    bind_value(&c, owner, word);
  }
}

}  // namespace

void init() {
  table = hashtable::init(1024, nullptr, hashtable::KIND_OWNER, RECORD_CELLS);
  collector::register_callback(mark_table);
}

void bind(const Cell* value, const Cell* owner, const Cell* word) {
  cycles::guard guard;
  bind_value(value, owner, word);
}

void set_owner(const Cell* value, const Cell* owner, const Cell* word) {
  Cell o = *owner;
  if (is_object(TYPE_OF(value)) && value->w1 == o.w1) {
    // An object claiming its own series: bind each field through its word.
    cycles::guard guard;
    cycles::push(o.w1);
    uint32_t n = context::size(o.w1);
    for (uint32_t i = 0; i < n; i++) {
      Cell field = context::values(o.w1)[i];
      if (is_object(TYPE_OF(&field)) && field.w1 == o.w1) continue;
      Cell fword = *context::word_at(o.w1, i);
      bind_value(&field, &o, &fword);
    }
  } else {
    bind(value, &o, word);
  }
  context::record(o.w1)->header |= CONTEXT_OWNER;
}

void unbind(const Cell* value_in) {
  Cell v = *value_in;
  uint32_t t = TYPE_OF(&v);
  if (is_owned_series(t)) {
    if (!v.w2) return;
    GET_BUFFER(&v)->flags &= ~SERIES_OWNED;
    Cell* rec = hashtable::get_key(table, v.w2);
    if (!rec) return;
    rec[0] = rec[1] = rec[2] = unset_value;
    hashtable::remove_key(table, v.w2);
    if (nests(t)) {
      int32_t n = block::rs_length(&v);
      for (int32_t i = 0; i < n; i++) {
        Cell c = block::rs_head(&v)[i];
        unbind(&c);
      }
    }
  } else if (is_object(t)) {
    node_t ctx = v.w1;
    if ((context::record(ctx)->header & CONTEXT_OWNER) || cycles::find(ctx)) return;
    cycles::guard guard;
    cycles::push(ctx);
    uint32_t n = context::size(ctx);
    for (uint32_t i = 0; i < n; i++) {
      Cell field = context::values(ctx)[i];
      unbind(&field);
    }
  }
}

void modify_owned(const Cell* value, const Cell* setting) {
  Cell v = *setting;
  if (TYPE_OF(&v) == TYPE_NONE) {
    unbind(value);
    return;
  }
  if (TYPE_OF(&v) == TYPE_BLOCK && block::rs_length(&v) >= 2) {
    Cell owner = block::rs_head(&v)[0], w = block::rs_head(&v)[1];
    if (TYPE_OF(&owner) == TYPE_OBJECT && word::is_any_word(TYPE_OF(&w))) {
      set_owner(value, &owner, &w);
      return;
    }
  }
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

void unbind_range(const Cell* block, uint32_t index, uint32_t n) {
  Cell b = *block;
  for (uint32_t i = 0; i < n; i++) {
    series_buffer* buf = GET_BUFFER(&b);
    if (uint64_t(index + i) * sizeof(Cell) >= buf->used()) break;
    Cell c = cells_of(buf)[index + i];
    unbind(&c);
  }
}

const Cell* owner_of(node_t node) {
  Cell* rec = hashtable::get_key(table, node);
  return rec ? rec + 1 : nullptr;
}

Cell owner_of(const Cell* series) {
  const Cell* o = owner_of(series->w2);
  return o ? *o : none_value;
}

bool check(const Cell* series, uint32_t action_word, const Cell* value, int32_t index,
           int32_t part) {
  Cell s = *series;
  uint32_t t = TYPE_OF(&s);
  node_t key = is_object(t) ? s.w1 : s.w2;
  if (!is_object(t) && !(GET_BUFFER(&s)->flags & SERIES_OWNED)) return false;
  Cell* rec = hashtable::get_key(table, key);
  if (!rec) return false;
  Cell owner = rec[1], word = rec[2];
  if (TYPE_OF(&owner) != TYPE_OBJECT || !owner.w3) return false;
  Cell action = word::make_global(action_word);
  Cell v = value ? *value : none_value;
  object::fire_on_deep(&owner, &word, &s, &action, &v, index, part);
  return true;
}

}  // namespace kez::ownership
