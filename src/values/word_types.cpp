// The word datatypes: conversions, text forms and comparison of the six
// word kinds, and the rows of symbol! and context!.
//
// Words compare without regard to case through canonical symbol ids, so
// `'abc = 'ABC` while `==` sees the spellings differ; a word always molds
// with its own spelling. Conversions from text go through the lexer, so
// what reads as a word is decided in one place.
#include "values/word_types.h"

#include <string>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez {

namespace symbol {

namespace {
int32_t compare_symbols(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_SYMBOL) return -2;
  return compare(a, b, op);
}
constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.compare = compare_symbols;
  return r;
}();
}  // namespace

void init_type() { datatype::register_type(TYPE_SYMBOL, 0, "symbol!", ROW); }

}  // namespace symbol

namespace context {
void init_type() { datatype::register_type(TYPE_CONTEXT, 0, "context!", unsupported_row()); }
}  // namespace context

namespace word {

Cell* to_string(const Cell* w) {
  node_t s = symbol::cache_string(w->w2);
  return stack::push(make_series(TYPE_STRING, s));
}

uint32_t scan(uint32_t sym) {
  Cell* saved = stack::top;
  // The name lies in a buffer that scanning may move: read a copy.
  std::string name = symbol::to_cstr(sym);
  Cell* block = lexer::scan_utf8(name.data(), uint32_t(name.size()));
  uint32_t type = block::rs_length(block) > 0 ? TYPE_OF(block::rs_head(block)) : 0;
  stack::top = saved;
  return type;
}

namespace {

[[noreturn]] void bad_to(uint32_t type, const Cell* spec) {
  Cell dt = make_datatype(type), v = *spec;
  fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
}

// The word a text reads as: exactly one value of a word kind, bound to the
// global context under its symbol; anything else has invalid characters.
Cell from_text(const Cell* string) {
  Cell* saved = stack::top;
  Cell* block = lexer::scan_string(string);
  bool one = block::rs_length(block) == 1;
  Cell v = one ? *block::rs_head(block) : none_value;
  stack::top = saved;
  if (!one || !is_word_type(TYPE_OF(&v))) fire(err::SCRIPT, err::script::INVALID_CHARS);
  return make_global(v.w2);
}

// A one-character string! for a char!, pushed on the value stack.
Cell* push_char_string(const Cell* c) {
  Cell* s = string::push_new(1);
  string::append_char(s->w2, c->w2);
  return s;
}

// make and to for every kind but issue!: the word for the spec, typed as
// asked.
Cell* convert(Cell* proto, const Cell* spec, uint32_t type) {
  Cell s = *spec;
  Cell w;
  switch (TYPE_OF(&s)) {
    case TYPE_DATATYPE: {
      const datatype::type_name_entry& e = datatype::names[s.w1 < TYPE_COUNT ? s.w1 : 0];
      if (!e.name) bad_to(type, spec);
      w = TYPE_OF(&e.word) == TYPE_WORD ? e.word : make_global(symbol::make(e.name));
      break;
    }
    case TYPE_LOGIC: w = make_global(s.w1 ? words::true_ : words::false_); break;
    case TYPE_STRING: w = from_text(&s); break;
    case TYPE_CHAR: {
      Cell* saved = stack::top;
      Cell* text = push_char_string(&s);
      w = from_text(text);
      stack::top = saved;
      break;
    }
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: w = s; break;
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
      uint32_t t = scan(s.w2);
      if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD)
        bad_to(type, spec);
      w = make_global(s.w2);
      break;
    }
    default: bad_to(type, spec);
  }
  *proto = Cell{type, w.w1, w.w2, w.w3};
  return proto;
}

int32_t form(const Cell* v, Cell* out, int32_t part) {
  Cell name = make_series(TYPE_STRING, symbol::cache_string(v->w2));
  return part - string::append_string(out, &name);
}

// mold of the kinds that add one character before or after the name. The
// word is copied first: appending may move the buffer it was read from.
template <char PREFIX, char SUFFIX>
int32_t mold_kind(const Cell* v, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  const char prefix = PREFIX, suffix = SUFFIX;
  Cell w = *v;
  if (prefix) part -= string::append_literal(out, std::string_view(&prefix, 1));
  part = form(&w, out, part);
  if (suffix) part -= string::append_literal(out, std::string_view(&suffix, 1));
  return part;
}

bool word_or_lit(uint32_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD; }

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  uint32_t ta = TYPE_OF(a), tb = TYPE_OF(b);
  if (!is_word_type(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return -2;
  switch (op) {
    case COMP_SAME: return ta == tb && a->w2 == b->w2 && a->w1 == b->w1 ? 0 : 1;
    case COMP_STRICT_EQUAL_WORD:
      if (word_or_lit(ta) && word_or_lit(tb)) return a->w2 == b->w2 ? 0 : 1;
      [[fallthrough]];
    case COMP_STRICT_EQUAL: return ta == tb && a->w2 == b->w2 ? 0 : 1;
    case COMP_EQUAL_WORD:
      if (!(word_or_lit(ta) && word_or_lit(tb)))
        return ta == tb && canonical(a) == canonical(b) ? 0 : 1;
      [[fallthrough]];
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND: return canonical(a) == canonical(b) ? 0 : 1;
    default: {
      Cell x = *symbol::entry(a->w2), y = *symbol::entry(b->w2);
      return symbol::compare(&x, &y, op);
    }
  }
}

Cell* index_q(Cell* w) {
  uint32_t i = w->w3;
  *w = i == context::NO_INDEX ? make_none() : make_integer(int32_t(i + 1));
  return w;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = convert;
  r.to = convert;
  r.form = form;
  r.mold = mold_kind<0, 0>;
  r.compare = compare;
  r.index_q = index_q;
  return r;
}();

// The rows of the kinds that change only their mold.
constexpr action_row kind_row(mold_fn mold, bool with_index) {
  action_row r = unsupported_row();
  r.make = INHERIT;
  r.to = INHERIT;
  r.form = INHERIT;
  r.compare = INHERIT;
  if (with_index) r.index_q = INHERIT;
  r.mold = mold;
  return r;
}

}  // namespace

void init() { datatype::register_type(TYPE_WORD, TYPE_SYMBOL, "word!", ROW); }

}  // namespace word

namespace set_word {
void init() {
  static constexpr action_row ROW = word::kind_row(word::mold_kind<0, ':'>, true);
  datatype::register_type(TYPE_SET_WORD, TYPE_WORD, "set-word!", ROW);
}
}  // namespace set_word

namespace lit_word {
void init() {
  static constexpr action_row ROW = word::kind_row(word::mold_kind<'\'', 0>, true);
  datatype::register_type(TYPE_LIT_WORD, TYPE_WORD, "lit-word!", ROW);
}
}  // namespace lit_word

namespace get_word {
void init() {
  static constexpr action_row ROW = word::kind_row(word::mold_kind<':', 0>, true);
  datatype::register_type(TYPE_GET_WORD, TYPE_WORD, "get-word!", ROW);
}
}  // namespace get_word

namespace refinement {

Cell load(const char* text) {
  return word::make(TYPE_REFINEMENT, 0, symbol::make(text), context::NO_INDEX);
}

void init() {
  static constexpr action_row ROW = word::kind_row(word::mold_kind<'/', 0>, false);
  datatype::register_type(TYPE_REFINEMENT, TYPE_WORD, "refinement!", ROW);
}

}  // namespace refinement

namespace issue {

Cell* make_at(Cell* cell, const char* text) {
  *cell = word::make(TYPE_ISSUE, context::global_node, symbol::make(text), context::NO_INDEX);
  return cell;
}

namespace {

Cell* make(Cell* proto, const Cell* spec, uint32_t) {
  Cell s = *spec;
  switch (TYPE_OF(&s)) {
    case TYPE_STRING:
      *proto = word::make(TYPE_ISSUE, context::global_node, symbol::make_from_string(&s),
                          context::NO_INDEX);
      return proto;
    case TYPE_CHAR: {
      Cell* saved = stack::top;
      Cell* text = word::push_char_string(&s);
      uint32_t sym = symbol::make_from_string(text);
      stack::top = saved;
      *proto = word::make(TYPE_ISSUE, context::global_node, sym, context::NO_INDEX);
      return proto;
    }
    default:
      if (word::is_word_type(TYPE_OF(&s))) {
        *proto = Cell{TYPE_ISSUE, s.w1, s.w2, s.w3};
        return proto;
      }
      word::convert(proto, &s, TYPE_WORD);
      set_type(proto, TYPE_ISSUE);
      return proto;
  }
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_ISSUE) return -2;
  return word::compare(a, b, op);
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = make;
  r.form = INHERIT;
  r.mold = word::mold_kind<'#', 0>;
  r.compare = compare;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_ISSUE, TYPE_WORD, "issue!", ROW); }

}  // namespace issue
}  // namespace kez
