// Symbols.
//
// Interning is the text index's work (hashtable::find_text); this module
// holds the table, the string forms and the comparisons. Names compare up to
// case the way they hash: ASCII letters only, so that names equal up to case
// always share a probe chain.
#include "values/symbol.h"

#include <cstring>
#include <string>

#include "foundation/casefold.h"
#include "foundation/hashtable.h"
#include "foundation/unicode.h"

namespace kez::symbol {

Cell table = make_none();
node_t text_index = 0;

namespace {

// The UTF-8 text of a string being interned. Grows, never shrinks.
std::string scratch;

uint32_t any_type_id = 0;

series_buffer* name_of(uint32_t id) { return memory::buffer(entry(id)->w3); }

}  // namespace

void init() {
  node_t block = memory::alloc_cells(INITIAL_SYMBOLS);
  table = make_series(TYPE_BLOCK, block);
  text_index = hashtable::init(INITIAL_SYMBOLS, &table, hashtable::KIND_SYMBOLS, 0);
  any_type_id = 0;
}

uint32_t make(const char* text) {
  return hashtable::find_text(text_index, reinterpret_cast<const uint8_t*>(text),
                              uint32_t(std::strlen(text)), hashtable::FIND_EXACT);
}

uint32_t make_ci(const char* text) {
  return hashtable::find_text(text_index, reinterpret_cast<const uint8_t*>(text),
                              uint32_t(std::strlen(text)), hashtable::FIND_ANY_CASE);
}

uint32_t make_alt(const char* text, uint32_t length) {
  return hashtable::find_text(text_index, reinterpret_cast<const uint8_t*>(text), length,
                              hashtable::FIND_EXACT);
}

uint32_t make_from_string(const Cell* string) {
  series_buffer* b = GET_BUFFER(string);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t total = b->used() / unit;
  uint32_t head = string->w1 < total ? string->w1 : total;
  const uint8_t* p = b->head_ptr() + uint64_t(head) * unit;
  const uint8_t* end = b->head_ptr() + uint64_t(total) * unit;
  scratch.clear();
  uint8_t seq[4];
  for (; p < end; p += unit) {
    int n = unicode::cp_to_utf8(unicode::get_char(p, unit), seq);
    scratch.append(reinterpret_cast<const char*>(seq), size_t(n));
  }
  return make_alt(scratch.data(), uint32_t(scratch.size()));
}

Cell* get(uint32_t id) {
  if (entry(id)->w2 == 0) cache_string(id);
  return entry(id);
}

node_t cache_string(uint32_t id) {
  if (entry(id)->w2 == 0) {
    node_t name = entry(id)->w3;
    series_buffer* b = memory::buffer(name);
    node_t string = unicode::load_utf8_from(name, b->head, b->used(), 0, nullptr, false);
    entry(id)->w2 = string;
  }
  return entry(id)->w2;
}

const char* to_cstr(uint32_t id) {
  series_buffer* b = name_of(id);
  if (b->tail >= b->size) b = memory::expand_series(b, uint64_t(b->size) + 1);
  *b->tail_ptr() = 0;
  return reinterpret_cast<const char*>(b->head_ptr());
}

uint32_t count() { return memory::buffer(table.w2)->used() / sizeof(Cell); }

bool any_type(const Cell* word) {
  if (!any_type_id) {
    static constexpr char name[] = "any-type!";
    any_type_id = hashtable::lookup_text(text_index, reinterpret_cast<const uint8_t*>(name),
                                         sizeof name - 1, hashtable::FIND_ANY_CASE);
    if (!any_type_id) return false;
  }
  return resolve(word->w2) == any_type_id;
}

int32_t compare(const Cell* a, const Cell* b, int op) {
  if (op == 9) return a->w3 == b->w3 ? 0 : -1;
  if (a->w3 == b->w3) return 0;
  // The names compare as strings do: by code point, folded to upper case
  // except for strict equality (2) and the case-sensitive sort (8).
  series_buffer* x = memory::buffer(a->w3);
  series_buffer* y = memory::buffer(b->w3);
  const uint8_t *p = x->head_ptr(), *p_end = x->tail_ptr();
  const uint8_t *q = y->head_ptr(), *q_end = y->tail_ptr();
  bool equality = op == 0 || op == 1 || op == 2 || op == 12;
  if (equality && unicode::count_chars(p, p_end) != unicode::count_chars(q, q_end)) return 1;
  bool fold = op != 2 && op != 8;
  while (p < p_end && q < q_end) {
    int32_t c, d;
    p = unicode::fast_decode_utf8_char(p, p_end, &c);
    q = unicode::fast_decode_utf8_char(q, q_end, &d);
    uint32_t u = uint32_t(c), v = uint32_t(d);
    if (fold) {
      u = case_folding::to_upper(u);
      v = case_folding::to_upper(v);
    }
    if (u != v) return u < v ? -1 : 1;
  }
  if (p < p_end) return 1;
  if (q < q_end) return -1;
  return 0;
}

}  // namespace kez::symbol
