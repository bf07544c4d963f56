// Number scanners for conversions of text.
//
// They read characters of any unit through unicode::get_char and never
// allocate; the float scanner goes through the same grammar and correctly
// rounded conversion as float literals.
#include "services/scan_number.h"

#include <limits>

#include "foundation/unicode.h"
#include "services/lexer_engine.h"
#include "services/lexer_values.h"

namespace kez::lexer {

namespace {
inline uint32_t char_at(const uint8_t* chars, uint32_t i, uint32_t unit) {
  return unicode::get_char(chars + uint64_t(i) * unit, unit);
}
inline bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }
inline bool is_letter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

int32_t scan_integer(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error) {
  *error = 0;
  uint32_t i = 0;
  bool negative = false;
  if (count > 0) {
    uint32_t c = char_at(chars, 0, unit);
    if (c == '+' || c == '-') negative = c == '-', i = 1;
  }
  // Accumulated negatively: the minimum has no positive counterpart.
  int64_t v = 0;
  for (; i < count; i++) {
    uint32_t c = char_at(chars, i, unit);
    if (c == '\'') continue;
    if (!is_digit(c)) {
      *error = SCAN_BAD_CHAR;
      break;
    }
    int64_t next = v * 10 - int64_t(c - '0');
    if (next < (negative ? -2147483648LL : -2147483647LL)) {
      *error = SCAN_OVERFLOW;
      break;
    }
    v = next;
  }
  return int32_t(negative ? v : -v);
}

double scan_float(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error) {
  *error = 0;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  if (count > MAX_FLOAT_TEXT) {
    *error = -1;
    return nan;
  }
  uint8_t text[MAX_FLOAT_TEXT];
  for (uint32_t i = 0; i < count; i++) {
    uint32_t c = char_at(chars, i, unit);
    if (c > 0x7F) {
      *error = -1;
      return nan;
    }
    text[i] = c == ',' ? '.' : uint8_t(c);
  }
  double d;
  if (!check_float(text, text + count) || !read_float(text, text + count, 0, &d)) {
    *error = -1;
    return nan;
  }
  return d;
}

Cell* scan_money(const uint8_t* chars, uint32_t count, uint32_t unit, int32_t* error, Cell* out) {
  *error = -1;
  uint32_t i = 0;
  bool negative = false;
  if (count > 0 && (char_at(chars, 0, unit) == '+' || char_at(chars, 0, unit) == '-'))
    negative = char_at(chars, i++, unit) == '-';
  char code[4] = {};
  bool has_code = false;
  if (i < count && is_letter(char_at(chars, i, unit))) {
    if (count - i < 5) return out;
    for (uint32_t k = 0; k < 3; k++) {
      uint32_t c = char_at(chars, i + k, unit);
      if (!is_letter(c)) return out;
      code[k] = char(c);
    }
    if (char_at(chars, i + 3, unit) != '$') return out;
    has_code = true;
    i += 4;
  } else if (i < count && char_at(chars, i, unit) == '$') {
    i++;
  }
  if (i >= count) return out;
  uint8_t integer[17], fraction[5];
  uint32_t ni = 0, nf = 0;
  bool point = false;
  uint32_t previous = 0;  // the character before, 0 at the start
  for (; i < count; i++) {
    uint32_t c = char_at(chars, i, unit);
    bool last = i + 1 == count;
    if (c == '.') {
      if (point || previous == 0 || previous == '\'' || last) return out;
      point = true;
    } else if (c == '\'') {
      if (point || previous == 0 || previous == '\'' || last) return out;
    } else if (is_digit(c)) {
      if (point) {
        if (nf < 5) fraction[nf++] = uint8_t(c - '0');
      } else if (ni > 0 || c != '0') {
        // More integer digits than money holds would lose the leading ones.
        if (ni == 17) return out;
        integer[ni++] = uint8_t(c - '0');
      }
    } else {
      return out;
    }
    previous = c;
  }
  if (!values::make_money(out, negative, has_code ? code : nullptr, integer, ni, fraction, nf))
    return out;
  *error = 0;
  return out;
}

}  // namespace kez::lexer
