// event!: the values that the GUI layer hands to event functions and actors.
//
// Made events (`make event!`) keep their type, key and flags in the cell and
// their face, window, offset and picked in a 4-cell record; backend events
// answer those fields through the backend (event::backend_field). Either
// way the type, the flags and the flag tests are read from the cell by the
// same code. Field words are matched by canonical symbol, so case does not
// matter. Only `type` can be set through a path. Events compare as none!
// does: any two are equal, and none is ordered.
#include "gui/event.h"

#include <array>

#include "boot/routines.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "gui/terminal/platform.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::event {

void (*backend_field)(const Cell* event, int32_t index, Cell* out) = nullptr;

namespace {

// The names of the tables, in their fixed orders.
constexpr const char* TYPE_NAMES[EVENT_TYPE_COUNT] = {
    "down",     "up",       "mid-down", "mid-up",    "alt-down",  "alt-up",   "aux-down",
    "aux-up",   "click",    "dbl-click", "wheel",    "over",      "key",      "key-down",
    "key-up",   "ime",      "focus",    "unfocus",   "enter",     "zoom",     "pan",
    "rotate",   "two-tap",  "press-tap", "select",   "change",    "menu",     "close",
    "move",     "resize",   "moving",   "resizing",  "time",      "drawing",  "scroll",
    "minimize", "maximize", "restore",
};

constexpr const char* FIELD_NAMES[FIELD_COUNT] = {
    "type",      "face",      "window",    "offset", "key",    "picked", "flags", "away?",
    "down?",     "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};

struct flag_entry {
  const char* name;
  uint32_t bit;
};
// `flags` lists the set bits in this order; `command` is accepted by `make`
// and never listed.
constexpr flag_entry FLAGS[] = {
    {"away", EVENT_AWAY},         {"down", EVENT_DOWN},   {"mid-down", EVENT_MID_DOWN},
    {"alt-down", EVENT_ALT_DOWN}, {"aux-down", EVENT_AUX_DOWN}, {"control", EVENT_CONTROL},
    {"shift", EVENT_SHIFT},       {"alt", EVENT_ALT},     {"command", EVENT_COMMAND},
};
constexpr size_t LISTED_FLAGS = 8;

// The flag tests, fields 8 to 14.
constexpr uint32_t FLAG_TESTS[] = {EVENT_AWAY,     EVENT_DOWN,    EVENT_MID_DOWN, EVENT_ALT_DOWN,
                                   EVENT_AUX_DOWN, EVENT_CONTROL, EVENT_SHIFT};

// Special keys of a backend event: -20 to -29, then -31 to -42.
constexpr const char* KEY_NAMES[] = {
    "up",   "down", "right", "left", "end",  "home", "insert", "delete", "page-up", "page-down",
    nullptr, "F1",  "F2",    "F3",   "F4",   "F5",   "F6",     "F7",     "F8",      "F9",
    "F10",  "F11",  "F12",
};
constexpr int32_t FIRST_KEY = -20;
constexpr int32_t KEY_COUNT = int32_t(sizeof KEY_NAMES / sizeof KEY_NAMES[0]);

// Canonical symbols and global words, made when the type registers.
struct names {
  std::array<uint32_t, EVENT_TYPE_COUNT> types{};
  std::array<Cell, EVENT_TYPE_COUNT> type_words{};
  std::array<uint32_t, FIELD_COUNT> fields{};
  std::array<uint32_t, std::size(FLAGS)> flags{};
  std::array<Cell, std::size(FLAGS)> flag_words{};
  std::array<Cell, KEY_COUNT> key_words{};
};
names N;

uint32_t canonical_of(const char* name) { return symbol::resolve(symbol::make(name)); }

// The id of a type word (canonical symbol), 0 when it names no type.
uint32_t type_of_symbol(uint32_t sym) {
  for (uint32_t i = 0; i < EVENT_TYPE_COUNT; i++)
    if (N.types[i] == sym) return i + 1;
  return 0;
}

bool is_made(const Cell* e) { return e->header & EVENT_MADE; }

// Record cells of a made event: face, window, offset, picked.
enum record_cell : uint32_t { REC_FACE, REC_WINDOW, REC_OFFSET, REC_PICKED, REC_COUNT };

Cell record_cell(const Cell* e, uint32_t i) {
  if (e->w2) return cell_head(memory::buffer(e->w2))[i];
  switch (i) {
    case REC_OFFSET: return Cell{TYPE_PAIR, 0, 0, 0};
    case REC_PICKED: return make_integer(0);
    default: return make_none();
  }
}

void made_field(const Cell* e, int32_t index, Cell* out) {
  switch (index) {
    case FIELD_FACE: *out = record_cell(e, REC_FACE); break;
    case FIELD_WINDOW: *out = record_cell(e, REC_WINDOW); break;
    case FIELD_OFFSET: *out = record_cell(e, REC_OFFSET); break;
    case FIELD_PICKED: *out = record_cell(e, REC_PICKED); break;
    case FIELD_KEY: {
      uint32_t cp = e->w3 & EVENT_KEY_MASK;
      *out = cp ? make_char(cp) : make_none();
      break;
    }
    default: *out = make_none(); break;  // orientation
  }
}

// A fresh block each read: a kept `flags` block never changes under the
// script that kept it.
void flags_block(uint32_t bits, Cell* out) {
  Cell* b = block::push_only(int32_t(LISTED_FLAGS));
  for (size_t i = 0; i < LISTED_FLAGS; i++)
    if (bits & FLAGS[i].bit) block::rs_append(b, &N.flag_words[i]);
  *out = *b;
  stack::pop(1);
}

[[noreturn]] void raise_path(int id, const Cell* path, const Cell* second) {
  Cell p = path ? *path : *second, s = *second;
  fire(err::SCRIPT, id, &p, &s);
}

[[noreturn]] void not_event_type(const Cell* word) {
  Cell w = *word;
  set_type(&w, TYPE_WORD);
  fire(err::SCRIPT, err::script::NOT_EVENT_TYPE, &w);
}

// --- make ---

// A spec value as `make` takes it: a word! or get-word! bound to a context
// stands for the value it refers to, when it has one.
const Cell* spec_value(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  if ((t != TYPE_WORD && t != TYPE_GET_WORD) || !v->w1) return v;
  const Cell* got = word::get_value_or_null(v);
  return got && TYPE_OF(got) != TYPE_UNSET ? got : v;
}

bool is_plain_word(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD; }

uint32_t flag_bits(const Cell* block) {
  uint32_t bits = 0;
  Cell b = *block;
  for (int32_t i = 0, n = block::rs_length(&b); i < n; i++) {
    const Cell* item = block::rs_head(&b) + i;
    if (TYPE_OF(item) != TYPE_WORD) continue;
    uint32_t sym = word::canonical(item);
    for (size_t f = 0; f < std::size(FLAGS); f++)
      if (N.flags[f] == sym) bits |= FLAGS[f].bit;
  }
  return bits;
}

Cell* make(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell spec = *spec_in;
  Cell ev{TYPE_EVENT | EVENT_MADE, 0, 0, 0};
  Cell rec[REC_COUNT] = {make_none(), make_none(), Cell{TYPE_PAIR, 0, 0, 0}, make_integer(0)};
  bool any_field = false;
  if (TYPE_OF(&spec) == TYPE_BLOCK) {
    int32_t n = block::rs_length(&spec);
    for (int32_t i = 0; i + 1 < n; i++) {
      const Cell* item = block::rs_head(&spec) + i;
      if (TYPE_OF(item) != TYPE_SET_WORD) continue;
      i++;
      const Cell* raw = item + 1;
      uint32_t sym = word::canonical(item);
      if (sym == N.fields[FIELD_TYPE - 1]) {
        // A word that names a type is the type itself, even when it also has
        // a value (`select`, `change`, `move` are actions).
        const Cell* v = is_plain_word(TYPE_OF(raw)) && type_of_symbol(word::canonical(raw))
                            ? raw
                            : spec_value(raw);
        if (!is_plain_word(TYPE_OF(v))) continue;
        ev.w1 = type_of_symbol(word::canonical(v));
        if (!ev.w1) not_event_type(v);
        continue;
      }
      const Cell* v = spec_value(raw);
      uint32_t t = TYPE_OF(v);
      if (sym == N.fields[FIELD_KEY - 1]) {
        if (t == TYPE_CHAR) ev.w3 |= v->w2 & EVENT_KEY_MASK;
      } else if (sym == N.fields[FIELD_FLAGS - 1]) {
        if (t == TYPE_BLOCK) ev.w3 |= flag_bits(v);
      } else if (sym == N.fields[FIELD_FACE - 1] || sym == N.fields[FIELD_WINDOW - 1]) {
        if (t != TYPE_OBJECT) continue;
        rec[sym == N.fields[FIELD_FACE - 1] ? REC_FACE : REC_WINDOW] = *v;
        any_field = true;
      } else if (sym == N.fields[FIELD_OFFSET - 1]) {
        if (t != TYPE_PAIR && t != TYPE_POINT2D) continue;
        rec[REC_OFFSET] = *v;
        any_field = true;
      } else if (sym == N.fields[FIELD_PICKED - 1]) {
        if (t != TYPE_INTEGER) continue;
        rec[REC_PICKED] = *v;
        any_field = true;
      }
    }
  }
  if (any_field) {
    // The kept values stay reachable through the spec while the record is
    // allocated; nodes never move.
    Cell* r = block::push_only(REC_COUNT);
    for (auto& c : rec) {
      clear_new_line(&c);
      block::rs_append(r, &c);
    }
    ev.w2 = r->w2;
    *proto = ev;
    stack::pop(1);
    return proto;
  }
  *proto = ev;
  return proto;
}

// --- the other actions ---

int32_t form(const Cell*, Cell* out, int32_t part) {
  return part - string::append_literal(out, "event");
}

int32_t mold(const Cell* v, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(v, out, part);
}

Cell* eval_path(path_step& step, Cell* out) {
  const Cell* el = step.element;
  int32_t index = word::is_word_type(TYPE_OF(el)) ? field_index(el, nullptr) : -1;
  if (!step.value) {
    if (index < 0) raise_path(err::script::INVALID_PATH, step.path, el);
    Cell ev = *step.parent;
    get_field(&ev, index, out);
    return out;
  }
  if (index != FIELD_TYPE) raise_path(err::script::BAD_PATH_SET, step.path, el);
  Cell v = *step.value;
  if (TYPE_OF(&v) != TYPE_WORD) raise_path(err::script::BAD_PATH_SET, step.path, &v);
  word_to_type(step.parent, &v);
  *out = v;
  return out;
}

int32_t compare(const Cell*, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_EVENT) return -2;
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
    case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
      return 0;
    default: return -2;
  }
}

Cell* pick(Cell* ev, int32_t index, const Cell* index_value) {
  if (word::is_word_type(TYPE_OF(index_value))) {
    index = field_index(index_value, ev);
  } else if (TYPE_OF(index_value) != TYPE_INTEGER || index < 1 || index > FIELD_COUNT) {
    Cell v = *index_value;
    fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
  }
  Cell e = *ev;
  get_field(&e, index, ev);
  return ev;
}

// --- routines ---

inline Cell* arg(int i) { return stack::arguments + i; }

void event_q() { *arg(0) = make_logic(TYPE_OF(arg(0)) == TYPE_EVENT); }

void send_event_os() {
  Cell ev = *arg(0);
  *arg(0) = make_logic(gui::os_send_event(&ev, arg(1)->w1 != 0));
}

void find_flag_q() {
  Cell facet = *arg(0);
  uint32_t flag = word::canonical(arg(1));
  bool found = false;
  if (TYPE_OF(&facet) == TYPE_WORD) {
    found = word::canonical(&facet) == flag;
  } else if (TYPE_OF(&facet) == TYPE_BLOCK) {
    for (int32_t i = 0, n = block::rs_length(&facet); i < n && !found; i++) {
      const Cell* item = block::rs_head(&facet) + i;
      found = is_plain_word(TYPE_OF(item)) && word::canonical(item) == flag;
    }
  }
  *arg(0) = make_logic(found);
}


}  // namespace

int32_t field_index(const Cell* word, const Cell* value) {
  uint32_t sym = word::canonical(word);
  for (int32_t i = 0; i < FIELD_COUNT; i++)
    if (N.fields[size_t(i)] == sym) return i + 1;
  if (value && TYPE_OF(value) == TYPE_EVENT) {
    Cell w = *word, v = *value;
    fire(err::SCRIPT, err::script::CANNOT_USE, &w, &v);
  }
  return -1;
}

void get_field(const Cell* event, int32_t index, Cell* out) {
  Cell e = *event;
  switch (index) {
    case FIELD_TYPE: *out = type_to_word(&e); return;
    case FIELD_FLAGS: flags_block(e.w3, out); return;
    case FIELD_AWAY_Q: case FIELD_DOWN_Q: case FIELD_MID_DOWN_Q: case FIELD_ALT_DOWN_Q:
    case FIELD_AUX_DOWN_Q: case FIELD_CTRL_Q: case FIELD_SHIFT_Q:
      *out = make_logic(e.w3 & FLAG_TESTS[index - FIELD_AWAY_Q]);
      return;
    default: break;
  }
  if (!is_made(&e) && backend_field) {
    backend_field(&e, index, out);
    return;
  }
  if (!is_made(&e)) e.w2 = 0;
  made_field(&e, index, out);
}

bool is_type_field(const Cell* word) {
  return symbol::resolve(word->w2) == N.fields[FIELD_TYPE - 1];
}

Cell type_to_word(const Cell* event) {
  uint32_t id = event->w1;
  return id >= 1 && id <= EVENT_TYPE_COUNT ? N.type_words[id - 1] : make_none();
}

void word_to_type(Cell* event, const Cell* word) {
  uint32_t id = type_of_symbol(word::canonical(word));
  if (!id) not_event_type(word);
  event->w1 = id;
}

Cell* push(const Cell* event) { return stack::push(event); }

Cell key_value(int32_t code) {
  if (code >= 0) return make_char(uint32_t(code));
  int32_t i = FIRST_KEY - code;
  if (i >= 0 && i < KEY_COUNT && KEY_NAMES[i]) return N.key_words[size_t(i)];
  return make_none();
}

std::span<const boot::routine_entry> routines() {
  static constexpr boot::routine_entry TABLE[] = {
      {"event?",
       R"spec("Returns true if the value is of type event!" value [any-type!] return: [logic!])spec",
       event_q},
      {"send-event-os",
       R"spec("Hands an event to the backend; true when it took it"
          event [event!] queued? [logic!] return: [logic!])spec",
       send_event_os},
      {"find-flag?",
       R"spec("Returns true if a flags facet (a word or a block of words) holds the flag"
          facet [any-type!] flag [word!] return: [logic!])spec",
       find_flag_q},
  };
  return TABLE;
}

namespace {

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.pick = pick;
  return r;
}();

}  // namespace

void init() {
  for (uint32_t i = 0; i < EVENT_TYPE_COUNT; i++) {
    N.type_words[i] = word::make_global(symbol::make(TYPE_NAMES[i]));
    N.types[i] = word::canonical(&N.type_words[i]);
  }
  for (size_t i = 0; i < FIELD_COUNT; i++) N.fields[i] = canonical_of(FIELD_NAMES[i]);
  for (size_t i = 0; i < std::size(FLAGS); i++) {
    N.flag_words[i] = word::make_global(symbol::make(FLAGS[i].name));
    N.flags[i] = word::canonical(&N.flag_words[i]);
  }
  for (int32_t i = 0; i < KEY_COUNT; i++)
    N.key_words[size_t(i)] = KEY_NAMES[i] ? word::make_global(symbol::make(KEY_NAMES[i])) : make_none();
  datatype::register_type(TYPE_EVENT, 0, "event!", ROW);
}

}  // namespace kez::event
