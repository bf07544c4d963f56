// object! values.
//
// Invariants: the context's owner cell holds a copy of the object; a class
// id is shared only by objects of the same word list; the on-set record
// caches handler slots and is recounted when the handler's spec changed.
// The record's cells are block values of the specs they counted, so that
// the collector keeps those specs alive: a freed spec's node could be given
// to a new function's spec, which would then pass for the counted one.
#include "values/object.h"

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/registry.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/ownership.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::object {

namespace {

uint32_t class_counter = 1;  // 1 is the class of error! values
constexpr uint32_t NO_HANDLER = 0xFFFF0000;

uint32_t canon(uint32_t sym) { return symbol::resolve(sym); }

bool is_series_type(uint32_t t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_STRING || t == TYPE_FILE ||
         t == TYPE_URL || (t >= TYPE_PATH && t <= TYPE_GET_PATH) || t == TYPE_TAG ||
         t == TYPE_EMAIL || t == TYPE_REF;
}

bool is_bindable_series(uint32_t t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || block::is_path_type(t);
}

// Deep copy of a series value through the copy action.
void deep_copy(Cell* v) {
  Cell* out = stack::push_unset();
  Cell src = *v;
  Cell* src_on_stack = stack::push(src);
  actions::get_copy(src_on_stack)(src_on_stack, out, nullptr, true, nullptr);
  *v = *out;
  stack::pop(2);
}

void call_handler(const Cell* fn_in, const Cell* name, int32_t locals, const Cell* args,
                  int count) {
  Cell fn = *fn_in;
  Cell* saved_top = stack::top;
  stack::push(fn);  // keeps the handler alive during the call
  stack::open_function_frame(name, fn.w1);
  for (int i = 0; i < count; i++) stack::push(args[i]);
  function::init_locals(locals);
  interpreter::call_function(&fn, fn.w1, name, 0);
  if (!stack::pending()) stack::pop_function_frame();
  if (!stack::pending()) stack::top = saved_top;
}

// The on-set record's cell `k` of an object that has one.
Cell* record_cell(const Cell* obj, int k) { return cells_of(memory::buffer(obj->w3)) + k; }

// Re-counts the handler's locals when its spec changed since they were cached.
// A record cell: the handler's spec in w2 (marked as a block), its slot
// and locals count (slot << 16 | locals) in w3.
int32_t handler_locals(Cell* slot_cell, const Cell* fn) {
  if (slot_cell->w2 != fn->w2) {
    int32_t n = function::count_locals(fn->w2, 0, false);
    slot_cell->w3 = (slot_cell->w3 & 0xFFFF0000) | uint32_t(n & 0xFFFF);
    slot_cell->w2 = fn->w2;
  }
  return int32_t(slot_cell->w3 & 0xFFFF);
}

}  // namespace

uint32_t new_class_id() { return ++class_counter; }

Cell* make_at(Cell* cell, uint32_t slots) {
  *cell = make_unset();
  node_t ctx = context::create(slots, false, true, 0, CONTEXT_OBJECT);
  *cell = Cell{TYPE_OBJECT, ctx, 0, 0};
  *context::owner(ctx) = *cell;
  return cell;
}

Cell* push(node_t ctx, node_t on_set, uint32_t class_id) {
  Cell* c = stack::push(Cell{TYPE_OBJECT, ctx, class_id, on_set});
  *context::owner(ctx) = *c;
  return c;
}

int32_t find_word(const Cell* obj, const Cell* word) {
  return context::find_word(obj->w1, word->w2, true);
}

const Cell* select_word(const Cell* obj, const Cell* word) {
  int32_t i = find_word(obj, word);
  return i < 0 ? &none_value : context::values(obj->w1) + i;
}

Cell get_word(node_t ctx, uint32_t index) { return *context::word_at(ctx, index); }

void clear_marks(node_t ctx) {
  uint32_t n = context::size(ctx);
  Cell* words = context::word_at(ctx, 0);
  for (uint32_t i = 0; i < n; i++) words[i].header &= ~WORD_FIELD_SET;
}

void clear_new_lines(Cell* series) {
  series_buffer* b = GET_BUFFER(series);
  for (Cell* c = cell_head(b) + series->w1; c < cell_tail(b); c++) clear_new_line(c);
}

namespace {

// The on-set record's two cells for the handlers `ctx` holds now; false
// when it has neither handler word.
bool handler_cells(node_t ctx, Cell cells[2]) {
  int32_t change = -1, deep = -1;
  uint32_t n = context::size(ctx);
  uint32_t change_sym = canon(words::on_change_star), deep_sym = canon(words::on_deep_change_star);
  const Cell* words = context::word_at(ctx, 0);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t s = canon(words[i].w2);
    if (s == change_sym) change = int32_t(i);
    if (s == deep_sym) deep = int32_t(i);
  }
  if (change < 0 && deep < 0) return false;
  int32_t slots[2] = {change, deep};
  for (int k = 0; k < 2; k++) {
    cells[k] = Cell{TYPE_BLOCK, 0, 0, NO_HANDLER};
    if (slots[k] < 0) continue;
    Cell v = context::values(ctx)[slots[k]];
    if (TYPE_OF(&v) != TYPE_FUNCTION && TYPE_OF(&v) != TYPE_ROUTINE) {
      Cell w = *context::word_at(ctx, uint32_t(slots[k]));
      Cell type = make_datatype(TYPE_OF(&v));
      fire(err::SCRIPT, err::script::BAD_FIELD_SET, &w, &type);
    }
    int32_t locals = function::count_locals(v.w2, 0, false);
    cells[k].w2 = v.w2;
    cells[k].w3 = (uint32_t(slots[k]) << 16) | uint32_t(locals & 0xFFFF);
  }
  return true;
}

void store_cells(node_t record, const Cell cells[2]) {
  cells_of(memory::buffer(record))[0] = cells[0];
  cells_of(memory::buffer(record))[1] = cells[1];
}

}  // namespace

node_t build_on_set(node_t ctx) {
  Cell cells[2];
  if (!handler_cells(ctx, cells)) return 0;
  node_t node = empty_on_set();
  store_cells(node, cells);
  return node;
}

node_t empty_on_set() {
  node_t node = memory::alloc_cells(2);
  series_buffer* b = memory::buffer(node);
  cells_of(b)[0] = cells_of(b)[1] = Cell{TYPE_BLOCK, 0, 0, NO_HANDLER};
  b->tail = 2 * sizeof(Cell);
  return node;
}

void fill_on_set(node_t record, node_t ctx) {
  Cell cells[2];
  if (handler_cells(ctx, cells)) store_cells(record, cells);
}

uint32_t handler_record(const Cell* obj, int k) { return record_cell(obj, k)->w3; }

void init_on_set(Cell* obj, node_t ctx) {
  obj->w3 = build_on_set(ctx);
  *context::owner(ctx) = *obj;
  if (on_deep(obj)) ownership::set_owner(obj, obj, nullptr);
}

bool on_deep(const Cell* obj) {
  return obj->w3 && handler_record(obj, 1) < NO_HANDLER;
}

void fire_on_set(const Cell* obj_in, const Cell* word_in, const Cell* old_value,
                 const Cell* new_value) {
  Cell obj = *obj_in;
  if (!obj.w3) return;
  uint32_t record = handler_record(&obj, 0);
  if (record >= NO_HANDLER) return;
  uint32_t slot = record >> 16;
  Cell fn = context::values(obj.w1)[slot];
  if (TYPE_OF(&fn) != TYPE_FUNCTION) fire(err::SCRIPT, err::script::INVALID_OBJ_EVT, &fn);
  int32_t locals = handler_locals(record_cell(&obj, 0), &fn);
  Cell args[3] = {*word_in, *old_value, *new_value};
  if (args[0].w1 != obj.w1) context::bind_word(obj.w1, &args[0]);
  call_handler(&fn, &words::on_change_star_word, locals, args, 3);
}

void fire_on_deep(const Cell* owner_in, const Cell* word, const Cell* target, const Cell* action,
                  const Cell* value, int32_t index, int32_t part) {
  Cell owner = *owner_in;
  if (!owner.w3) return;
  uint32_t record = handler_record(&owner, 1);
  if (record >= NO_HANDLER) return;
  Cell fn = context::values(owner.w1)[record >> 16];
  if (TYPE_OF(&fn) != TYPE_FUNCTION) return;
  int32_t locals = handler_locals(record_cell(&owner, 1), &fn);
  Cell args[7] = {owner, *word, *target, *action, value ? *value : make_none(),
                  make_integer(index), make_integer(part)};
  call_handler(&fn, &words::on_deep_change_star_word, locals, args, 7);
}

void copy_function(Cell* field, node_t ctx) {
  Cell fn = *field;
  Cell body = function::more(&fn)[function::MORE_BODY];
  if (TYPE_OF(&body) != TYPE_BLOCK) fire(err::SCRIPT, err::script::BAD_FUNC_DEF, &fn);
  Cell* held = stack::push(fn);
  Cell* copy = block::clone(&body, true, true);
  context::bind(copy, ctx, true);
  Cell fn_copy = *held;
  // The new function's context is reachable from nothing until the function
  // is made: keep it alive across the allocations of function::push.
  collector::hold keep;
  node_t fctx = keep.add(context::clone(&fn_copy));
  context::bind(copy, fctx, false);
  Cell spec = make_series(TYPE_BLOCK, held->w2);
  function::push(&spec, copy, fctx, 0, 0, held->header & ~TYPE_MASK);
  Cell made = *stack::top_cell();
  function::more(&made)[function::MORE_CODE] = make_unset();
  *field = made;
  stack::pop(3);
}

void duplicate(const Cell* proto_in, Cell* target, bool deep, const Cell* types, bool rebuild) {
  Cell proto = *proto_in;
  node_t src = proto.w1;
  uint32_t n = context::size(src);
  *target = make_unset();
  node_t ctx = context::create(n, false, true, src, CONTEXT_OBJECT);
  *target = Cell{TYPE_OBJECT, ctx, proto.w2, 0};
  if (proto.w3 && !rebuild) target->w3 = memory::copy_series(memory::buffer(proto.w3));
  *context::owner(ctx) = *target;
  // The values came with the context; most prototypes hold no function or
  // series to copy, which one pass without allocation finds.
  uint32_t first = 0;
  {
    const Cell* values = context::values(ctx);
    while (first < n && TYPE_OF(values + first) != TYPE_FUNCTION &&
           !(deep && is_series_type(TYPE_OF(values + first))))
      first++;
  }
  cycles::guard guard;
  if (deep && types) {
    if (cycles::find(src)) {
      cycles::reset();
      fire(err::INTERNAL, err::internal::NO_CYCLE);
    }
    cycles::push(src);
  }
  for (uint32_t i = first; i < n; i++) {
    // Copying allocates and may move the values block: work on a copy.
    Cell v = context::values(ctx)[i];
    uint32_t t = TYPE_OF(&v);
    if (t == TYPE_FUNCTION) copy_function(&v, ctx);
    else if (deep && is_series_type(t)) deep_copy(&v);
    else continue;
    context::values(ctx)[i] = v;
  }
  if (rebuild) init_on_set(target, ctx);
}

bool extend_from(node_t target, const Cell* source_in) {
  Cell source = *source_in;
  uint32_t before = context::size(target);
  uint32_t n = context::size(source.w1);
  for (uint32_t i = 0; i < n; i++) {
    Cell w = *context::word_at(source.w1, i);
    Cell v = context::values(source.w1)[i];
    context::put(target, &w, &v);
  }
  uint32_t total = context::size(target);
  for (uint32_t i = 0; i < total; i++) {
    Cell v = context::values(target)[i];  // see duplicate: the block may move
    uint32_t t = TYPE_OF(&v);
    if (t == TYPE_FUNCTION) copy_function(&v, target);
    else if (is_series_type(t) || t == TYPE_HASH || t == TYPE_VECTOR || t == TYPE_BINARY ||
             t == TYPE_IMAGE)
      deep_copy(&v);
    else continue;
    context::values(target)[i] = v;
  }
  return total > before;
}

namespace {

// Values of `construct`: standard logic words become logic! and none.
Cell construct_value(const Cell* v, bool only) {
  Cell r = *v;
  uint32_t t = TYPE_OF(v);
  if (t == TYPE_WORD && !only) {
    uint32_t s = canon(v->w2);
    if (s == canon(words::true_) || s == canon(words::yes) || s == canon(words::on))
      return make_logic(true);
    if (s == canon(words::false_) || s == canon(words::no) || s == canon(words::off))
      return make_logic(false);
    if (s == canon(words::none)) return make_none();
  } else if (t == TYPE_LIT_WORD) {
    r.header = TYPE_WORD;
  } else if (t == TYPE_LIT_PATH) {
    r.header = TYPE_PATH;
  }
  return r;
}

bool construct_values(node_t ctx, const Cell* spec_in, bool only) {
  Cell spec = *spec_in;
  uint32_t before = context::size(ctx);
  int32_t n = block::rs_length(&spec);
  int32_t i = 0;
  while (i < n) {
    int32_t first = i;
    while (i < n && TYPE_OF(block::rs_head(&spec) + i) == TYPE_SET_WORD) i++;
    Cell value = i < n ? construct_value(block::rs_head(&spec) + i, only) : make_none();
    for (int32_t k = first; k < i; k++) {
      Cell w = block::rs_head(&spec)[k];
      context::put(ctx, &w, &value);
    }
    i++;
  }
  return context::size(ctx) > before;
}

}  // namespace

Cell* construct(Cell* out, const Cell* spec, const Cell* proto, bool only) {
  if (proto) {
    duplicate(proto, out, false, nullptr, false);
  } else {
    make_at(out, 4);
    out->w2 = new_class_id();
  }
  construct_values(out->w1, spec, only);
  init_on_set(out, out->w1);
  return out;
}

void set_many(Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
  Cell obj = *obj_in;
  Cell value = *value_in;
  node_t ctx = obj.w1;
  uint32_t n = context::size(ctx);
  uint32_t vt = TYPE_OF(&value);
  bool spread = !only && (vt == TYPE_BLOCK || vt == TYPE_OBJECT);
  auto source_at = [&](uint32_t i, Cell& out) -> bool {
    if (vt == TYPE_BLOCK) {
      int32_t len = block::rs_length(&value);
      out = int32_t(i) < len ? block::rs_head(&value)[i] : make_none();
      return true;
    }
    Cell w = *context::word_at(ctx, i);
    int32_t k = context::find_word(value.w1, w.w2, true);
    if (k < 0) return false;
    out = context::values(value.w1)[k];
    return true;
  };
  if (spread && !some && !any) {
    for (uint32_t i = 0; i < n; i++) {
      Cell v;
      if (source_at(i, v) && TYPE_OF(&v) == TYPE_UNSET) {
        Cell w = *context::word_at(ctx, i);
        fire(err::SCRIPT, err::script::NEED_VALUE, &w);
      }
    }
  }
  for (uint32_t i = 0; i < n; i++) {
    Cell v = value;
    if (spread && !source_at(i, v)) continue;
    if (some && TYPE_OF(&v) == TYPE_NONE) continue;
    Cell w = *context::word_at(ctx, i);
    if (obj.w3) {
      uint32_t s = canon(w.w2);
      if (s == canon(words::on_change_star) || s == canon(words::on_deep_change_star)) continue;
      Cell old = context::values(ctx)[i];
      context::values(ctx)[i] = v;
      fire_on_set(&obj, &w, &old, &v);
    } else {
      context::values(ctx)[i] = v;
    }
  }
}

int32_t serialize(const Cell* obj_in, Cell* out, bool only, bool all, bool flat, int32_t part,
                  int32_t indent, bool mold) {
  (void)only;
  Cell obj = *obj_in;
  node_t ctx = obj.w1;
  uint32_t n = context::size(ctx);
  if (n == 0) return part;
  cycles::guard guard;
  cycles::push(ctx);
  bool first = true;
  for (uint32_t i = 0; i < n; i++) {
    Cell w = *context::word_at(ctx, i);
    uint32_t s = canon(w.w2);
    if (!all && (s == canon(words::on_change_star) || s == canon(words::on_deep_change_star)))
      continue;
    // Indented fields each start on a line of their own; otherwise fields
    // are separated by a line feed (a blank when flat).
    if (indent > 0 && !flat) {
      part -= string::append_literal(out, "\n");
      for (int32_t k = 0; k < indent; k++) part -= string::append_literal(out, "    ");
    } else if (!first) {
      part -= string::append_literal(out, flat ? " " : "\n");
    }
    first = false;
    w.header = TYPE_WORD;
    part = actions::form(&w, out, part);
    part -= string::append_literal(out, ": ");
    Cell v = context::values(ctx)[i];
    if (TYPE_OF(&v) == TYPE_UNSET) {
      part -= string::append_literal(out, "unset!");
    } else {
      if (TYPE_OF(&v) == TYPE_WORD && mold) part -= string::append_literal(out, "'");
      part = mold ? actions::mold(&v, out, false, all, flat, part, indent)
                  : actions::form(&v, out, part);
    }
    if (part < 1) break;
  }
  return part;
}

// Actions --------------------------------------------------------------------

namespace {

Cell* make(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell spec = *spec_in;
  Cell* result = stack::push_unset();
  bool from_object = TYPE_OF(proto) == TYPE_OBJECT;
  if (from_object) duplicate(proto, result, true, nullptr, false);
  else make_at(result, 4);
  node_t ctx = result->w1;
  uint32_t class_id = from_object ? proto->w2 : 0;
  switch (TYPE_OF(&spec)) {
    case TYPE_OBJECT:
      if (extend_from(ctx, &spec) || !from_object) class_id = new_class_id();
      break;
    case TYPE_BLOCK: {
      Cell* code = stack::push(spec);
      bool grew = context::collect_bind_spec(code, ctx);
      if (from_object) {
        // Binding neither allocates nor moves the values block.
        uint32_t n = context::size(ctx);
        Cell* values = context::values(ctx);
        for (uint32_t i = 0; i < n; i++)
          if (is_bindable_series(TYPE_OF(values + i))) context::bind(values + i, ctx, true);
      }
      interpreter::eval_block(code, false);
      if (stack::pending()) return proto;
      clear_marks(ctx);
      Cell values = make_series(TYPE_BLOCK, context::record(ctx)->w2);
      clear_new_lines(&values);
      if (grew || !from_object) class_id = new_class_id();
      break;
    }
    default: {
      Cell s = spec;
      fire(err::SYNTAX, err::syntax::MALCONSTRUCT, &s);
    }
  }
  result->w2 = class_id;
  init_on_set(result, ctx);
  *proto = *result;
  stack::top = result;
  return proto;
}

Cell* reflect(Cell* obj, uint32_t field) {
  node_t ctx = obj->w1;
  uint32_t f = canon(field);
  uint32_t n = context::size(ctx);
  if (f == canon(words::changed_word.w2)) {
    Cell* out = block::push_only(int32_t(n));
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      if (w.header & WORD_FIELD_SET) {
        w.header = TYPE_WORD;
        block::rs_append(out, &w);
      }
    }
    *obj = *out;
    stack::pop(1);
  } else if (f == canon(words::class_)) {
    *obj = make_integer(int32_t(obj->w2));
  } else if (f == canon(words::words)) {
    Cell list = make_series(TYPE_BLOCK, context::words_node(ctx));
    Cell* copy = block::clone(&list, false, false);
    *obj = *copy;
    stack::pop(1);
  } else if (f == canon(words::values)) {
    Cell list = make_series(TYPE_BLOCK, context::record(ctx)->w2);
    Cell* copy = block::clone(&list, false, false);
    *obj = *copy;
    stack::pop(1);
  } else if (f == canon(words::body)) {
    Cell* out = block::push_only(int32_t(n * 2));
    for (uint32_t i = 0; i < n; i++) {
      Cell w = *context::word_at(ctx, i);
      w.header = TYPE_SET_WORD | CELL_NEW_LINE;
      block::rs_append(out, &w);
      Cell v = context::values(ctx)[i];
      if (TYPE_OF(&v) == TYPE_WORD) set_type(&v, TYPE_LIT_WORD);
      else if (TYPE_OF(&v) == TYPE_PATH) set_type(&v, TYPE_LIT_PATH);
      block::rs_append(out, &v);
    }
    *obj = *out;
    stack::pop(1);
  } else if (f == canon(words::owner)) {
    *obj = make_logic(context::record(ctx)->header & CONTEXT_OWNER);
  } else if (f == canon(words::events_q)) {
    *obj = make_logic(obj->w3 != 0);
  } else {
    fire(err::INTERNAL, err::internal::NOT_DONE);
  }
  return obj;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  return serialize(v, out, false, false, false, part, 0, true);
}

int32_t mold(const Cell* v, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  int32_t budget = part;
  if (cycles::detect(v, out, budget, true)) return budget;
  if (!only) part -= string::append_literal(out, "make object! [");
  int32_t before = part;
  part = serialize(v, out, only, all, flat, part, indent + 1, true);
  bool wrote = part != before;
  if (!only) {
    if (wrote && !flat) {
      part -= string::append_literal(out, "\n");
      for (int32_t k = 0; k < indent; k++) part -= string::append_literal(out, "    ");
    }
    part -= string::append_literal(out, "]");
  }
  return part;
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell obj = *step.parent;
  const Cell* element = step.element;
  uint32_t t = TYPE_OF(element);
  if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
    Cell p = step.path ? *step.path : none_value, e = *element;
    fire(err::SCRIPT, err::script::INVALID_PATH, &p, &e);
  }
  int32_t i = find_word(&obj, element);
  if (i < 0) {
    Cell p = step.path ? *step.path : none_value, e = *element;
    fire(err::SCRIPT, err::script::INVALID_PATH, &p, &e);
  }
  Cell* slot = context::values(obj.w1) + i;
  if (step.value) {
    Cell w = *context::word_at(obj.w1, uint32_t(i));
    Cell value = *step.value;
    if (obj.w3) {
      Cell old = *slot;
      context::set_in(&w, &value, obj.w1, false);
      fire_on_set(&obj, &w, &old, &value);
    } else {
      context::set_in(&w, &value, obj.w1, false);
    }
    *out = value;
    return out;
  }
  if (TYPE_OF(slot) == TYPE_UNSET && !step.get) {
    Cell p = step.path ? *step.path : none_value, e = *element;
    fire(err::SCRIPT, err::script::UNSET_PATH, &p, &e);
  }
  *out = *slot;
  return out;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_OF(a)) return -2;
  node_t ca = a->w1, cb = b->w1;
  if (ca == cb) return 0;
  if (op == COMP_SAME) return -1;
  bool fa = cycles::find(ca), fb = cycles::find(cb);
  if (fa || fb) return fa && fb ? 0 : -1;
  uint32_t na = context::size(ca), nb = context::size(cb);
  if (na != nb) return na > nb ? 1 : -1;
  cycles::guard guard;
  cycles::push(ca);
  cycles::push(cb);
  for (uint32_t i = 0; i < na; i++) {
    uint32_t sa = canon(context::word_at(ca, i)->w2), sb = canon(context::word_at(cb, i)->w2);
    if (sa != sb) return sa < sb ? -1 : 1;
  }
  for (uint32_t i = 0; i < na; i++) {
    Cell va = context::values(ca)[i], vb = context::values(cb)[i];
    uint32_t ta = TYPE_OF(&va), tb = TYPE_OF(&vb);
    auto number = [](uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
    int32_t r;
    if (ta == tb || (word::is_any_word(ta) && word::is_any_word(tb)) || (number(ta) && number(tb))) {
      r = actions::compare_values(&va, &vb, op);
      if (r == -2) r = ta < tb ? -1 : ta > tb ? 1 : 0;
    } else {
      r = ta < tb ? -1 : 1;
    }
    if (r != 0) return r;
  }
  return 0;
}

Cell* copy(Cell* obj, Cell* out, const Cell* part, bool deep, const Cell* types) {
  if (part) {
    Cell w = word::make_global(words::part), p = *part;
    fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &p);
  }
  duplicate(obj, out, deep, types, true);
  return out;
}

Cell* select(Cell* obj, const Cell* key, const find_options&) {
  uint32_t t = TYPE_OF(key);
  if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) {
    Cell type = make_datatype(t);
    fire(err::SCRIPT, err::script::INVALID_TYPE, &type);
  }
  *obj = *select_word(obj, key);
  return obj;
}

Cell* put(Cell* obj, Cell* key, Cell* value, bool) {
  if (TYPE_OF(key) != TYPE_WORD) {
    Cell type = make_datatype(TYPE_OF(key));
    fire(err::SCRIPT, err::script::INVALID_KEY_TYPE, &type);
  }
  Cell o = *obj;
  path_step step{&o, key, value, nullptr, nullptr, nullptr, 0, false, false, true, true};
  Cell result;
  eval_path(step, &result);
  *obj = *value;
  return obj;
}

Cell* modify(Cell* obj, const Cell* field, Cell* value, bool) {
  uint32_t f = canon(field->w2);
  if (f == canon(words::changed_word.w2)) {
    if (TYPE_OF(value) != TYPE_NONE) fire(err::SCRIPT, err::script::INVALID_ARG, value);
    clear_marks(obj->w1);
  } else if (f == canon(words::owner)) {
    ownership::set_owner(obj, obj, nullptr);
  } else if (f == canon(words::owned)) {
    if (TYPE_OF(value) == TYPE_NONE) {
      ownership::unbind(obj);
    } else if (TYPE_OF(value) == TYPE_BLOCK && block::rs_length(value) >= 2) {
      Cell owner = block::rs_head(value)[0], word = block::rs_head(value)[1];
      if (TYPE_OF(&owner) == TYPE_OBJECT) ownership::bind(obj, &owner, &word);
    }
  }
  *obj = *value;
  return obj;
}

constexpr action_row OBJECT_ACTIONS = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.reflect = reflect;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.copy = copy;
  r.select = select;
  r.put = put;
  r.modify = modify;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_OBJECT, 0, "object!", OBJECT_ACTIONS); }

}  // namespace kez::object
