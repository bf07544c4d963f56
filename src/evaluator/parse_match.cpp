// Literal matching for the parse engine: one match, repeated matches and
// searches, over strings of any width, binaries and blocks.
//
// A text value is read once into a small array of code points (folded when
// the comparison ignores case; UTF-8 bytes when the input is a binary), so
// the loops below only read the input's buffer, which stays put because
// nothing here allocates. Binary input compares bytes exactly; a char!
// matches a byte of the same value.
#include <algorithm>
#include <cstring>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/parse_engine.h"
#include "foundation/casefold.h"
#include "foundation/unicode.h"
#include "values/typeset.h"

namespace kez::parser::match {

namespace {

inline uint32_t fold(uint32_t c) { return case_folding::to_upper(c); }

// What a literal compares against the input.
struct pattern {
  enum kind_t { TEXT, CHAR, BITSET, NOTHING } kind = NOTHING;
  uint32_t small[32];
  std::vector<uint32_t> large;  // used once the codes outgrow `small`
  uint8_t raw[32];               // the codes unfolded, as bytes, while `narrow`
  bool narrow = true;
  uint32_t n = 0;
  uint32_t ch = 0;
  bool fold = false;

  const uint32_t* codes() const { return n > 32 ? large.data() : small; }
  void push(uint32_t c, uint32_t unfolded) {
    if (n == 32) large.assign(small, small + 32);
    if (n >= 32) large.push_back(c);
    else small[n] = c;
    if (n >= 32 || unfolded > 255) narrow = false;
    else raw[n] = uint8_t(unfolded);
    n++;
  }
  void push(uint32_t c) { push(c, c); }
};

bool is_text(uint32_t t) { return string::is_string_type(t); }

// Reads a text value (tag!: with its angle brackets) as the codes that the
// input's elements are compared with.
void read_text(pattern& p, const Cell* value, bool binary_input) {
  series_buffer* b = GET_BUFFER(value);
  uint32_t unit = b->unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(value->w1, total);
  const uint8_t* at = b->head_ptr() + uint64_t(head) * unit;
  uint32_t count = total - head;
  bool tag = TYPE_OF(value) == TYPE_TAG;
  if (tag) p.push('<');
  if (TYPE_OF(value) == TYPE_BINARY) {
    for (uint32_t i = 0; i < count; i++) p.push(at[i]);
  } else if (binary_input) {
    for (uint32_t i = 0; i < count; i++) {
      uint8_t seq[4];
      int k = unicode::cp_to_utf8(unicode::get_char(at + uint64_t(i) * unit, unit), seq);
      for (int j = 0; j < k; j++) p.push(seq[j]);
    }
  } else {
    for (uint32_t i = 0; i < count; i++) {
      uint32_t c = unicode::get_char(at + uint64_t(i) * unit, unit);
      p.push(p.fold ? fold(c) : c, c);
    }
  }
  if (tag) p.push('>');
}

// The pattern of a value against string or binary input. `searching`
// admits a binary! value in string input (searches take it, a single
// literal match does not).
pattern make(const Cell* input, const Cell* value, bool cs, bool searching) {
  pattern p;
  bool binary_input = TYPE_OF(input) == TYPE_BINARY;
  uint32_t vt = TYPE_OF(value);
  p.fold = !cs && !binary_input;
  if (vt == TYPE_CHAR) {
    p.kind = pattern::CHAR;
    p.ch = p.fold ? fold(value->w2) : value->w2;
  } else if (vt == TYPE_BITSET) {
    p.kind = pattern::BITSET;
  } else if (is_text(vt) || (vt == TYPE_BINARY && (binary_input || searching))) {
    p.kind = pattern::TEXT;
    read_text(p, value, binary_input);
  }
  return p;
}

// A view of the input's elements.
template <uint32_t UNIT>
struct view {
  const uint8_t* data;
  bool fold;
  uint32_t at(int64_t i) const {
    uint32_t c = unicode::get_char(data + uint64_t(i) * UNIT, UNIT);
    if (!fold) return c;
    if constexpr (UNIT < 4) return case_folding::upper_table[c];
    return case_folding::to_upper(c);
  }
};

template <uint32_t UNIT>
inline bool text_at(const view<UNIT>& in, int64_t i, const pattern& p) {
  const uint32_t* c = p.codes();
  for (uint32_t k = 0; k < p.n; k++) {
    if (in.at(i + k) != c[k]) return false;
  }
  return true;
}

template <uint32_t UNIT>
int64_t repeat_unit(const uint8_t* data, uint32_t& pos, uint32_t end, const pattern& p,
                    const Cell* value, int64_t max) {
  view<UNIT> in{data, p.fold};
  int64_t count = 0;
  uint32_t i = pos;
  switch (p.kind) {
    case pattern::TEXT: {
      uint32_t m = p.n;
      if (m == 0) return max == 0 ? 0 : 1;
      if (UNIT == 1 && p.narrow) {
        // Bytes as the value spells them first (the common case even when
        // case is ignored), folded only when they differ.
        if (m == 2) {
          uint16_t two;
          std::memcpy(&two, p.raw, 2);
          while ((max < 0 || count < max) && i + 2 <= end) {
            uint16_t here;
            std::memcpy(&here, data + i, 2);
            if (here != two && !(p.fold && text_at(in, i, p))) break;
            i += 2;
            count++;
          }
        } else {
          while ((max < 0 || count < max) && uint64_t(i) + m <= end &&
                 (std::memcmp(data + i, p.raw, m) == 0 || (p.fold && text_at(in, i, p)))) {
            i += m;
            count++;
          }
        }
        pos = i;
        return count;
      }
      while ((max < 0 || count < max) && uint64_t(i) + m <= end && text_at(in, i, p)) {
        i += m;
        count++;
      }
      break;
    }
    case pattern::CHAR:
      while ((max < 0 || count < max) && i < end && in.at(i) == p.ch) {
        i++;
        count++;
      }
      break;
    case pattern::BITSET: {
      bits_view bits(value);
      view<UNIT> raw{data, false};
      while ((max < 0 || count < max) && i < end && bits.has(raw.at(i))) {
        i++;
        count++;
      }
      break;
    }
    case pattern::NOTHING: break;
  }
  pos = i;
  return count;
}

template <uint32_t UNIT>
int64_t search_unit(const uint8_t* data, uint32_t pos, uint32_t end, const pattern& p,
                    const Cell* value) {
  view<UNIT> in{data, p.fold};
  switch (p.kind) {
    case pattern::TEXT: {
      uint32_t m = p.n;
      if (m == 0) return pos;
      if (uint64_t(pos) + m > end) return -1;
      uint32_t last = end - m;
      uint32_t first = p.codes()[0];
      if (UNIT == 1 && !p.fold) {
        if (first > 255) return -1;
        const uint8_t* at = data + pos;
        const uint8_t* stop = data + last + 1;
        while (at < stop) {
          at = static_cast<const uint8_t*>(std::memchr(at, int(first), size_t(stop - at)));
          if (!at) return -1;
          if (text_at(in, at - data, p)) return at - data;
          at++;
        }
        return -1;
      }
      for (uint32_t i = pos; i <= last; i++) {
        if (in.at(i) == first && text_at(in, i, p)) return i;
      }
      return -1;
    }
    case pattern::CHAR:
      for (uint32_t i = pos; i < end; i++) {
        if (in.at(i) == p.ch) return i;
      }
      return -1;
    case pattern::BITSET: {
      bits_view bits(value);
      view<UNIT> raw{data, false};
      for (uint32_t i = pos; i < end; i++) {
        if (bits.has(raw.at(i))) return i;
      }
      return -1;
    }
    case pattern::NOTHING: break;
  }
  return -1;
}

int32_t block_op(const Cell* value, bool cs) {
  uint32_t t = TYPE_OF(value);
  if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH)
    return cs ? COMP_STRICT_EQUAL_WORD : COMP_EQUAL_WORD;
  return cs ? COMP_STRICT_EQUAL : COMP_EQUAL;
}

bool element_equal(const Cell* input, uint32_t i, const Cell* value, int32_t op) {
  Cell e = cell_head(GET_BUFFER(input))[i];
  Cell v = *value;
  return actions::compare_values(&e, &v, op) == 0;
}

}  // namespace

int64_t literal(const Cell* input, uint32_t pos, uint32_t end, const Cell* value, bool cs) {
  uint32_t it = TYPE_OF(input);
  if (is_any_block(it)) return element_equal(input, pos, value, block_op(value, cs)) ? 1 : -1;
  // One character against a char! or a bitset: the commonest literal step,
  // decided without building a pattern.
  uint32_t vt = TYPE_OF(value);
  if (vt == TYPE_CHAR || vt == TYPE_BITSET) return one_char(input, pos, value, cs) ? 1 : -1;
  pattern p = make(input, value, cs, false);
  uint32_t at = pos;
  int64_t n;
  series_buffer* b = GET_BUFFER(input);
  switch (b->unit()) {
    case 1: n = repeat_unit<1>(b->head_ptr(), at, end, p, value, 1); break;
    case 2: n = repeat_unit<2>(b->head_ptr(), at, end, p, value, 1); break;
    default: n = repeat_unit<4>(b->head_ptr(), at, end, p, value, 1); break;
  }
  return n == 1 ? int64_t(at - pos) : -1;
}

int64_t repeat(const Cell* input, uint32_t& pos, uint32_t end, const Cell* value, bool cs,
               int64_t max) {
  uint32_t it = TYPE_OF(input);
  if (is_any_block(it)) {
    int32_t op = block_op(value, cs);
    int64_t count = 0;
    while ((max < 0 || count < max) && pos < std::min(end, input_length(input)) &&
           element_equal(input, pos, value, op)) {
      pos++;
      count++;
    }
    return count;
  }
  pattern p = make(input, value, cs, false);
  series_buffer* b = GET_BUFFER(input);
  switch (b->unit()) {
    case 1: return repeat_unit<1>(b->head_ptr(), pos, end, p, value, max);
    case 2: return repeat_unit<2>(b->head_ptr(), pos, end, p, value, max);
    default: return repeat_unit<4>(b->head_ptr(), pos, end, p, value, max);
  }
}

int64_t search(const Cell* input, uint32_t pos, uint32_t end, const Cell* value, bool cs,
               uint32_t& length) {
  uint32_t it = TYPE_OF(input);
  length = 1;
  if (is_any_block(it)) {
    int32_t op = block_op(value, cs);
    for (uint32_t i = pos; i < std::min(end, input_length(input)); i++) {
      if (element_equal(input, i, value, op)) return i;
    }
    return -1;
  }
  pattern p = make(input, value, cs, true);
  if (p.kind == pattern::NOTHING) return -2;
  if (p.kind == pattern::TEXT) length = p.n;
  series_buffer* b = GET_BUFFER(input);
  switch (b->unit()) {
    case 1: return search_unit<1>(b->head_ptr(), pos, end, p, value);
    case 2: return search_unit<2>(b->head_ptr(), pos, end, p, value);
    default: return search_unit<4>(b->head_ptr(), pos, end, p, value);
  }
}

bool type_in(uint32_t type, const Cell* types) {
  if (TYPE_OF(types) == TYPE_DATATYPE) return types->w1 == type;
  return typeset::has(types, type);
}

bool type_at(const Cell* input, uint32_t pos, const Cell* types) {
  return type_in(TYPE_OF(cell_head(GET_BUFFER(input)) + pos), types);
}

}  // namespace kez::parser::match
