// port!: made from a spec through the scheme registry, and answered by its
// scheme's actor.
//
// Forwarding calls the actor's function with the port and the action's
// arguments pushed in a function frame, exactly as the interpreter would
// lay them out for a call with every refinement written: the actor's
// function must have the action's spec. A function whose spec is shorter or
// longer still gets a well-formed frame: surplus slots are dropped, and
// missing ones are filled as for a call that leaves them out. Nothing the forwarders push is held across an
// allocation outside the value stack.
#include "types/port.h"

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "boot/system.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/block.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/object.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::port {

namespace {

// The port's class id: every port shares it whatever its fields.
constexpr uint32_t PORT_CLASS = 2;

// The words of the actions from `append` on, by id - 25: the names of the
// actor functions and of the frames that call them.
constexpr const char* ACTION_NAMES[NATIVE_COUNT] = {
    "append", "at",      "back",   "change", "clear",  "copy",   "find",  "head",
    "head?",  "index?",  "insert", "length?", "move",  "next",   "pick",  "poke",
    "put",    "remove",  "reverse", "select", "sort",  "skip",   "swap",  "tail",
    "tail?",  "take",    "trim",   "create", "close",  "delete", "modify", "open",
    "open?",  "query",   "read",   "rename", "update", "write",
};
static_assert(ACT_write - ACT_append + 1 == NATIVE_COUNT);

uint32_t action_symbol(int action) {
  static uint32_t symbols[NATIVE_COUNT];
  uint32_t& s = symbols[action - NATIVE_FIRST];
  if (!s) s = symbol::make(ACTION_NAMES[action - NATIVE_FIRST]);
  return s;
}

enum field_name { F_SPEC, F_SCHEME, F_ACTOR, F_COUNT };
uint32_t field_symbol(field_name f) {
  static uint32_t symbols[F_COUNT];
  static constexpr const char* NAMES[F_COUNT] = {"spec", "scheme", "actor"};
  if (!symbols[f]) symbols[f] = symbol::make(NAMES[f]);
  return symbols[f];
}

// A field of an object-like value by symbol, or nullptr.
Cell* field_of(const Cell* object, uint32_t sym) {
  int32_t i = context::find_word(object->w1, sym, true);
  return i < 0 ? nullptr : context::values(object->w1) + i;
}

std::vector<const native_table*> native_tables;

// port/get-actor: the actor object, else access invalid-port.
Cell get_actor(const Cell* port) {
  const Cell* actor = field_of(port, field_symbol(F_ACTOR));
  if (!actor || TYPE_OF(actor) != TYPE_OBJECT) fire(err::ACCESS, err::access::INVALID_PORT);
  return *actor;
}

// Pushes the frame slots a function takes before its locals beyond the
// first `given` (its arguments, and each refinement's flag with the
// refinement's own arguments), as a call that leaves them out would: false
// for a refinement, none for an argument. Returns the slot count.
int32_t fill_parameters(const Cell* fn, int32_t given) {
  Cell spec = make_series(TYPE_BLOCK, fn->w2);
  int32_t n = block::rs_length(&spec), slots = 0;
  for (int32_t i = 0; i < n; i++) {
    const Cell* v = block::rs_head(&spec) + i;
    switch (TYPE_OF(v)) {
      case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
        if (slots++ >= given) stack::push(none_value);
        break;
      case TYPE_REFINEMENT:
        if (symbol::resolve(v->w2) == symbol::resolve(words::local)) return slots;
        if (slots++ >= given) stack::push(false_value);
        break;
      default: break;
    }
  }
  return slots;
}

}  // namespace

Cell* call(Cell* result, const Cell* fn_in, const Cell* name_in, const Cell* args, size_t count) {
  Cell fn = *fn_in, name = *name_in;
  Cell* saved_top = stack::top;
  stack::push(fn);  // keeps the function alive during the call
  stack::open_function_frame(&name, fn.w1);
  Cell* frame = stack::arguments;
  for (size_t i = 0; i < count; i++) stack::push(args[i]);
  stack::top = frame + fill_parameters(&fn, int32_t(count));
  function::init_locals(function::count_locals(fn.w2, 0, false));
  interpreter::call_function(&fn, fn.w1, &name, 0);
  if (stack::pending()) return result;
  stack::pop_function_frame();
  *result = *frame;
  stack::top = saved_top;
  return result;
}

namespace {

// port/call-actor: calls the actor's function for the action with the port
// and then `args` as its frame.
Cell* forward(Cell* result, int action, const Cell* port, const Cell* args, size_t count) {
  Cell actor = get_actor(port);
  uint32_t sym = action_symbol(action);
  Cell name = word::make_global(sym);
  const Cell* slot = field_of(&actor, sym);
  if (!slot || TYPE_OF(slot) != TYPE_FUNCTION) fire(err::ACCESS, err::access::NO_PORT_ACTION, &name);
  Cell fn = *slot;
  Cell* frame = stack::push(*port);
  for (size_t i = 0; i < count; i++) stack::push(args[i]);
  call(result, &fn, &name, frame, count + 1);
  if (!stack::pending()) stack::top = frame;
  return result;
}

Cell* forward(Cell* result, int action, const Cell* port, std::initializer_list<Cell> args) {
  return forward(result, action, port, args.begin(), args.size());
}

Cell flag(bool on) { return make_logic(on); }
Cell flag(const Cell* refinement_argument) { return make_logic(refinement_argument != nullptr); }
Cell or_none(const Cell* v) { return v ? *v : none_value; }
Cell count_or_none(int32_t n, bool given) { return given ? make_integer(n) : none_value; }

// The forwarders, one per action, in action order.

// append, insert and change: /part as the count measured by the entry, /dup
// set only for a count above 1.
template <int ACTION>
Cell* forward_insertion(Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
  return forward(port, ACTION, port,
                 {*value, flag(part >= 0), count_or_none(part, part >= 0), flag(only),
                  flag(dup > 1), count_or_none(dup, dup > 1)});
}

template <int ACTION>
Cell* forward_plain(Cell* port) {
  return forward(port, ACTION, port, {});
}

template <int ACTION, class ARG>
Cell* forward_one(Cell* port, ARG* arg) {
  return forward(port, ACTION, port, {*arg});
}

// /part alone.
template <int ACTION>
Cell* forward_part(Cell* port, const Cell* part, const Cell*) {
  return forward(port, ACTION, port, {flag(part), or_none(part)});
}

Cell* copy(Cell* port, Cell* out, const Cell* part, bool deep, const Cell* types) {
  return forward(out, ACT_copy, port,
                 {flag(part), or_none(part), flag(deep), flag(types), or_none(types)});
}

// find and select share their refinements; select stops before /tail.
template <int ACTION>
Cell* forward_search(Cell* port, const Cell* value, const find_options& o) {
  const Cell args[] = {*value,          flag(o.part),  or_none(o.part), flag(o.only),
                       flag(o.case_sensitive), flag(o.same), flag(o.any), flag(o.with),
                       or_none(o.with), flag(o.skip),  or_none(o.skip), flag(o.last),
                       flag(o.reverse), flag(o.tail),  flag(o.match)};
  constexpr size_t count = sizeof args / sizeof args[0] - (ACTION == ACT_select ? 2 : 0);
  return forward(port, ACTION, port, args, count);
}

int32_t length_q(const Cell* port) {
  Cell* result = stack::push_unset();
  forward(result, ACT_length_q, port, {});
  if (stack::pending()) return -1;
  int32_t n = TYPE_OF(result) == TYPE_INTEGER ? get_integer(result) : -1;
  stack::pop(1);
  return n;
}

Cell* move(Cell* port, Cell* target, const Cell* part) {
  return forward(port, ACT_move, port, {*target, flag(part), or_none(part)});
}

Cell* pick(Cell* port, int32_t, const Cell* index) { return forward(port, ACT_pick, port, {*index}); }

Cell* poke(Cell* port, int32_t, Cell* value, const Cell* index) {
  return forward(port, ACT_poke, port, {*index, *value});
}

// put and modify: a key or field, the value, and /case.
template <int ACTION, class KEY>
Cell* forward_keyed(Cell* port, KEY* key, Cell* value, bool case_sensitive) {
  return forward(port, ACTION, port, {*key, *value, flag(case_sensitive)});
}

Cell* sort(Cell* port, const sort_options& o) {
  return forward(port, ACT_sort, port,
                 {flag(o.case_sensitive), flag(o.skip), or_none(o.skip), flag(o.comparator),
                  or_none(o.comparator), flag(o.part), or_none(o.part), flag(o.all),
                  flag(o.reverse), flag(o.stable)});
}

Cell* take(Cell* port, const Cell* part, bool deep, bool last) {
  return forward(port, ACT_take, port, {flag(part), or_none(part), flag(deep), flag(last)});
}

Cell* trim(Cell* port, const trim_options& o) {
  return forward(port, ACT_trim, port,
                 {flag(o.head), flag(o.tail), flag(o.automatic), flag(o.lines), flag(o.all),
                  flag(o.with), or_none(o.with)});
}

Cell* open(Cell* port, const open_options& o) {
  return forward(port, ACT_open, port,
                 {flag(o.is_new), flag(o.read), flag(o.write), flag(o.seek), flag(o.allow),
                  or_none(o.allow)});
}

// read is open (with the call's /seek only), copy with /part, and close;
// the copy is the result.
Cell* read(Cell* port, const read_options& o) {
  Cell* held = stack::push(*port);
  Cell* scratch = stack::push_unset();
  open_options opening;
  opening.seek = o.seek != nullptr;
  open(stack::push(*held), opening);
  if (stack::pending()) return port;
  Cell* data = stack::push_unset();
  copy(held, data, o.part, false, nullptr);
  if (stack::pending()) return port;
  forward(scratch, ACT_close, held, {});
  if (stack::pending()) return port;
  *port = *data;
  stack::top = held;
  return port;
}

// write is open for writing, insert of the data (/part only as an
// integer), copy with that /part, and close; the copy is the result.
Cell* write(Cell* port, Cell* data, const write_options& o) {
  const Cell* part = o.part && TYPE_OF(o.part) == TYPE_INTEGER ? o.part : nullptr;
  Cell* held = stack::push(*port);
  Cell* scratch = stack::push_unset();
  open_options opening;
  opening.write = true;
  opening.seek = o.seek != nullptr;
  open(stack::push(*held), opening);
  if (stack::pending()) return port;
  forward(scratch, ACT_insert, held,
          {*data, flag(part), or_none(part), flag(false), flag(false), none_value});
  if (stack::pending()) return port;
  Cell* result = stack::push_unset();
  copy(held, result, part, false, nullptr);
  if (stack::pending()) return port;
  forward(scratch, ACT_close, held, {});
  if (stack::pending()) return port;
  *port = *result;
  stack::top = held;
  return port;
}

// A port molds as the object body it is made of, so it forms the same way.
int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t indent) {
  if (cycles::detect(value, out, part, true)) return part;
  part -= string::append_literal(out, "make port! [");
  Cell obj = *value;
  set_type(&obj, TYPE_OBJECT);
  part = object::serialize(&obj, out, false, all, false, part, indent + 1, true);
  part -= string::append_literal(out, "\n");
  for (int32_t k = 0; k < indent; k++) part -= string::append_literal(out, "    ");
  part -= string::append_literal(out, "]");
  return part;
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return mold(value, out, false, false, false, part, 0);
}

// The scheme object registered under a name in system/schemes (pairs of a
// name and a scheme), or nullptr.
const Cell* find_scheme(const Cell* name) {
  const Cell* schemes = system::field({"schemes"});
  if (!schemes || !block::is_block_type(TYPE_OF(schemes))) return nullptr;
  Cell list = *schemes;
  int32_t n = block::rs_length(&list);
  for (int32_t i = 0; i + 1 < n; i += 2) {
    const Cell* key = block::rs_head(&list) + i;
    if (word::is_any_word(TYPE_OF(key)) && word::same_symbol(key, name)) return key + 1;
  }
  return nullptr;
}

}  // namespace

uint32_t register_native_actor(const native_table* table) {
  native_tables.push_back(table);
  return uint32_t(native_tables.size());
}

actions::generic_fn native_action(const Cell* port, int action) {
  const Cell* actor = field_of(port, field_symbol(F_ACTOR));
  if (!actor || TYPE_OF(actor) != TYPE_HANDLE) return nullptr;
  uint32_t v = actor->w2;
  actions::generic_fn f = nullptr;
  if (v >= 1 && v <= native_tables.size()) f = (*native_tables[v - 1])[action - NATIVE_FIRST];
  if (!f) fire(err::ACCESS, err::access::NO_PORT_ACTION);
  return f;
}

// port/make: an object! spec is taken as it is, any other becomes a copy of
// system/standard/url-parts made with it; its first field names the scheme.
Cell* make(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell* given = stack::push(*spec_in);
  Cell* spec = stack::push(*spec_in);
  if (TYPE_OF(spec) != TYPE_OBJECT) {
    const Cell* parts = system::field({"standard", "url-parts"});
    if (!parts || TYPE_OF(parts) != TYPE_OBJECT) fire(err::INTERNAL, err::internal::NOT_DONE);
    *spec = *parts;
    actions::peek_make(TYPE_OBJECT)(spec, given, TYPE_OBJECT);
    if (stack::pending()) return proto;
  }
  if (context::size(spec->w1) == 0 || TYPE_OF(context::values(spec->w1)) != TYPE_WORD)
    fire(err::ACCESS, err::access::NO_SCHEME, given);
  Cell scheme_name = *context::values(spec->w1);
  const Cell* standard = system::field({"standard", "port"});
  if (!standard || TYPE_OF(standard) != TYPE_OBJECT) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell* port = stack::push_unset();
  object::duplicate(standard, port, false, nullptr, true);
  set_type(port, TYPE_PORT);
  port->w2 = PORT_CLASS;
  *context::owner(port->w1) = *port;
  if (Cell* f = field_of(port, field_symbol(F_SPEC))) *f = *spec;
  if (Cell* f = field_of(port, field_symbol(F_SCHEME))) *f = scheme_name;
  const Cell* scheme = find_scheme(&scheme_name);
  if (!scheme || TYPE_OF(scheme) != TYPE_OBJECT) fire(err::ACCESS, err::access::UNKNOWN_SCHEME, given);
  const Cell* actor = field_of(scheme, field_symbol(F_ACTOR));
  if (!actor || (TYPE_OF(actor) != TYPE_OBJECT && TYPE_OF(actor) != TYPE_HANDLE))
    fire(err::ACCESS, err::access::INVALID_ACTOR, given);
  Cell actor_value = *actor;
  if (Cell* f = field_of(port, field_symbol(F_ACTOR))) *f = actor_value;
  *proto = *port;
  stack::top = given;
  return proto;
}

namespace {

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.form = form;
  r.mold = mold;
  // Reflection, paths and comparison are an object's.
  r.reflect = INHERIT;
  r.eval_path = INHERIT;
  r.compare = INHERIT;
  r.append = forward_insertion<ACT_append>;
  r.at = forward_one<ACT_at, const Cell>;
  r.back = forward_plain<ACT_back>;
  r.change = forward_insertion<ACT_change>;
  r.clear = forward_plain<ACT_clear>;
  r.copy = copy;
  r.find = forward_search<ACT_find>;
  r.head = forward_plain<ACT_head>;
  r.head_q = forward_plain<ACT_head_q>;
  r.index_q = forward_plain<ACT_index_q>;
  r.insert = forward_insertion<ACT_insert>;
  r.length_q = length_q;
  r.move = move;
  r.next = forward_plain<ACT_next>;
  r.pick = pick;
  r.poke = poke;
  r.put = forward_keyed<ACT_put, Cell>;
  r.remove = forward_part<ACT_remove>;
  r.reverse = forward_part<ACT_reverse>;
  r.select = forward_search<ACT_select>;
  r.sort = sort;
  r.skip = forward_one<ACT_skip, const Cell>;
  r.swap = forward_one<ACT_swap, Cell>;
  r.tail = forward_plain<ACT_tail>;
  r.tail_q = forward_plain<ACT_tail_q>;
  r.take = take;
  r.trim = trim;
  r.create = forward_plain<ACT_create>;
  r.close = forward_plain<ACT_close>;
  r.delete_ = forward_plain<ACT_delete_>;
  r.modify = forward_keyed<ACT_modify, const Cell>;
  r.open = open;
  r.query = forward_plain<ACT_query>;
  r.read = read;
  r.rename = forward_one<ACT_rename, Cell>;
  r.update = forward_plain<ACT_update>;
  r.write = write;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_PORT, TYPE_OBJECT, "port!", ROW); }

}  // namespace kez::port
