// The text encodings of bytes: bases 2, 16, 58 and 64.
//
// Each decoder is driven by a 128-entry table that gives every ASCII
// character its digit value or its class (skipped blank, ";" comment to the
// end of the line, "=" padding, invalid). A character above 127 is invalid
// in every base, so no wide character can alias to a digit. Decoders read
// the text in its own unit and write into an area the caller sized with
// decoded_size; they never allocate in a series frame, so the text's
// address stays valid while they run.
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "types/binary.h"

namespace kez::binary {

namespace {

enum : int8_t { SKIP = -1, COMMENT = -2, INVALID = -3, PAD = -4 };
using class_table = std::array<int8_t, 128>;

constexpr std::string_view DIGITS_16 = "0123456789ABCDEF";
constexpr std::string_view DIGITS_58 =
    "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr std::string_view DIGITS_64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Blanks: every control character and space (bases 2 and 16), or only
// backspace, tab, line feed, form feed, carriage return, space and the
// apostrophe (bases 58 and 64).
constexpr class_table make_table(std::string_view digits, bool all_controls, bool padding) {
  class_table t{};
  for (auto& e : t) e = INVALID;
  if (all_controls) {
    for (int c = 0; c <= ' '; c++) t[c] = SKIP;
  } else {
    for (int c : {8, 9, 10, 12, 13, 32, 39}) t[c] = SKIP;
  }
  t[';'] = COMMENT;
  for (size_t i = 0; i < digits.size(); i++) t[uint8_t(digits[i])] = int8_t(i);
  if (padding) t['='] = PAD;
  return t;
}

constexpr class_table TABLE_2 = make_table("01", true, false);
constexpr class_table TABLE_16 = [] {
  class_table t = make_table(DIGITS_16, true, false);
  for (int c = 'a'; c <= 'f'; c++) t[c] = int8_t(c - 'a' + 10);
  return t;
}();
constexpr class_table TABLE_58 = make_table(DIGITS_58, false, false);
constexpr class_table TABLE_64 = make_table(DIGITS_64, false, true);

// The two base-64 digits of every 12-bit value: three bytes are written as
// two lookups, not four.
using digit_pair = std::array<uint8_t, 2>;
constexpr std::array<digit_pair, 4096> PAIRS_64 = [] {
  std::array<digit_pair, 4096> t{};
  for (uint32_t v = 0; v < 4096; v++)
    t[v] = {uint8_t(DIGITS_64[v >> 6]), uint8_t(DIGITS_64[v & 63])};
  return t;
}();

inline int8_t class_of(const class_table& t, uint32_t c) { return c < 128 ? t[c] : int8_t(INVALID); }

// Runs `body` with a reader of the text's characters for its unit.
template <class Body>
int64_t with_reader(const uint8_t* text, uint32_t unit, Body&& body) {
  switch (unit) {
    case 1: return body([text](uint32_t i) -> uint32_t { return text[i]; });
    case 2:
      return body([text](uint32_t i) -> uint32_t {
        uint16_t v;
        std::memcpy(&v, text + uint64_t(i) * 2, 2);
        return v;
      });
    default:
      return body([text](uint32_t i) -> uint32_t {
        uint32_t v;
        std::memcpy(&v, text + uint64_t(i) * 4, 4);
        return v;
      });
  }
}

// Moves `i` to the line feed that ends a ";" comment (or to the end).
template <class Get>
inline uint32_t skip_comment(Get& get, uint32_t i, uint32_t n) {
  while (i < n && get(i) != '\n') i++;
  return i;
}

template <class Get>
int64_t decode_2(Get get, uint32_t n, uint8_t* out) {
  int64_t count = 0;
  uint32_t bits = 0, acc = 0;
  for (uint32_t i = 0; i < n; i++) {
    int8_t v = class_of(TABLE_2, get(i));
    if (v >= 0) {
      acc = acc << 1 | uint32_t(v);
      if (++bits == 8) {
        out[count++] = uint8_t(acc);
        bits = acc = 0;
      }
    } else if (v == COMMENT) {
      i = skip_comment(get, i, n);
    } else if (v != SKIP) {
      return -1;
    }
  }
  return bits == 0 ? count : -1;
}

template <class Get>
int64_t decode_16(Get get, uint32_t n, uint8_t* out) {
  int64_t count = 0;
  int32_t high = -1;
  for (uint32_t i = 0; i < n; i++) {
    int8_t v = class_of(TABLE_16, get(i));
    if (v >= 0) {
      if (high < 0) {
        high = v;
      } else {
        out[count++] = uint8_t(high << 4 | v);
        high = -1;
      }
    } else if (v == COMMENT) {
      i = skip_comment(get, i, n);
    } else if (v != SKIP) {
      return -1;
    }
  }
  return count;  // a lone last digit is dropped
}

template <class Get>
int64_t decode_58(Get get, uint32_t n, uint8_t* out) {
  std::vector<uint8_t> digits;
  for (uint32_t i = 0; i < n; i++) {
    int8_t v = class_of(TABLE_58, get(i));
    if (v >= 0) digits.push_back(uint8_t(v));
    else if (v == COMMENT) i = skip_comment(get, i, n);
    else if (v != SKIP) return -1;
  }
  size_t zeros = 0;
  while (zeros < digits.size() && digits[zeros] == 0) zeros++;
  // The rest as one big-endian number, built least significant byte first.
  std::vector<uint8_t> value;
  for (size_t k = zeros; k < digits.size(); k++) {
    uint32_t carry = digits[k];
    for (uint8_t& byte : value) {
      carry += uint32_t(byte) * 58;
      byte = uint8_t(carry);
      carry >>= 8;
    }
    while (carry) {
      value.push_back(uint8_t(carry));
      carry >>= 8;
    }
  }
  std::memset(out, 0, zeros);
  for (size_t k = 0; k < value.size(); k++) out[zeros + k] = value[value.size() - 1 - k];
  return int64_t(zeros + value.size());
}

template <class Get>
int64_t decode_64(Get get, uint32_t n, uint8_t* out) {
  int64_t count = 0;
  uint32_t acc = 0, digits = 0;
  for (uint32_t i = 0; i < n; i++) {
    // Between groups, four digits in a row (the usual case) make three
    // bytes at once; anything else goes the character-by-character way.
    if (digits == 0) {
      while (i + 4 <= n) {
        int32_t a = class_of(TABLE_64, get(i)), b = class_of(TABLE_64, get(i + 1)),
                c = class_of(TABLE_64, get(i + 2)), d = class_of(TABLE_64, get(i + 3));
        if ((a | b | c | d) < 0) break;
        uint32_t group = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | uint32_t(d);
        out[count] = uint8_t(group >> 16);
        out[count + 1] = uint8_t(group >> 8);
        out[count + 2] = uint8_t(group);
        count += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    int8_t v = class_of(TABLE_64, get(i));
    if (v >= 0) {
      acc = acc << 6 | uint32_t(v);
      if (++digits == 4) {
        out[count] = uint8_t(acc >> 16);
        out[count + 1] = uint8_t(acc >> 8);
        out[count + 2] = uint8_t(acc);
        count += 3;
        digits = acc = 0;
      }
    } else if (v == PAD) {
      if (digits == 3) {
        out[count++] = uint8_t(acc >> 10);
        out[count++] = uint8_t(acc >> 2);
      } else if (digits == 2) {
        out[count++] = uint8_t(acc >> 4);
      } else {
        return -1;
      }
      return count;
    } else if (v == COMMENT) {
      i = skip_comment(get, i, n);
    } else if (v != SKIP) {
      return -1;
    }
  }
  return digits == 0 ? count : -1;
}

}  // namespace

uint64_t encoded_size(int32_t base, uint64_t n) {
  switch (base) {
    case 2: return n * 8;
    case 16: return n * 2;
    case 58: return n * 2;  // 58 digits hold more than half a byte each
    case 64: return (n + 2) / 3 * 4;
    default: return UINT64_MAX;
  }
}

uint64_t decoded_size(int32_t base, uint64_t n) {
  switch (base) {
    case 2: return n / 8;
    case 16: return n / 2;
    case 58: return n;
    case 64: return (3 * n + 9) / 4;
    default: return UINT64_MAX;
  }
}

uint8_t* enbase_2(uint8_t* out, const uint8_t* bytes, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    for (int bit = 7; bit >= 0; bit--) *out++ = uint8_t('0' + ((bytes[i] >> bit) & 1));
  }
  return out;
}

uint8_t* enbase_16(uint8_t* out, const uint8_t* bytes, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    *out++ = uint8_t(DIGITS_16[bytes[i] >> 4]);
    *out++ = uint8_t(DIGITS_16[bytes[i] & 15]);
  }
  return out;
}

uint8_t* enbase_58(uint8_t* out, const uint8_t* bytes, uint32_t n) {
  uint32_t zeros = 0;
  while (zeros < n && bytes[zeros] == 0) zeros++;
  // The number after the leading zeros in base 58, least significant first.
  std::vector<uint8_t> digits;
  digits.reserve((n - zeros) * 138 / 100 + 1);
  for (uint32_t i = zeros; i < n; i++) {
    uint32_t carry = bytes[i];
    for (uint8_t& d : digits) {
      carry += uint32_t(d) << 8;
      d = uint8_t(carry % 58);
      carry /= 58;
    }
    while (carry) {
      digits.push_back(uint8_t(carry % 58));
      carry /= 58;
    }
  }
  for (uint32_t i = 0; i < zeros; i++) *out++ = '1';
  for (size_t k = digits.size(); k-- > 0;) *out++ = uint8_t(DIGITS_58[digits[k]]);
  return out;
}

uint8_t* enbase_64(uint8_t* out, const uint8_t* bytes, uint32_t n) {
  uint32_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
    std::memcpy(out, PAIRS_64[v >> 12].data(), 2);
    std::memcpy(out + 2, PAIRS_64[v & 4095].data(), 2);
    out += 4;
  }
  if (n - i == 1) {
    uint32_t v = uint32_t(bytes[i]) << 16;
    *out++ = uint8_t(DIGITS_64[v >> 18]);
    *out++ = uint8_t(DIGITS_64[(v >> 12) & 63]);
    *out++ = '=';
    *out++ = '=';
  } else if (n - i == 2) {
    uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
    *out++ = uint8_t(DIGITS_64[v >> 18]);
    *out++ = uint8_t(DIGITS_64[(v >> 12) & 63]);
    *out++ = uint8_t(DIGITS_64[(v >> 6) & 63]);
    *out++ = '=';
  }
  return out;
}

int64_t debase_2(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out) {
  return with_reader(text, unit, [&](auto get) { return decode_2(get, n, out); });
}

int64_t debase_16(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out) {
  return with_reader(text, unit, [&](auto get) { return decode_16(get, n, out); });
}

int64_t debase_58(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out) {
  return with_reader(text, unit, [&](auto get) { return decode_58(get, n, out); });
}

int64_t debase_64(const uint8_t* text, uint32_t n, uint32_t unit, uint8_t* out) {
  return with_reader(text, unit, [&](auto get) { return decode_64(get, n, out); });
}

}  // namespace kez::binary
