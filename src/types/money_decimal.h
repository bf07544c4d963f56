// The decimal engine of money!: exact amounts of 22 packed BCD digits
// (17 before the point, 5 after), a sign and a currency index in one cell.
//
// Cell bytes: 0-3 the header (the sign is MONEY_SIGN, set = negative),
// byte 4 the currency index (0 for none), bytes 5-15 the digits, most
// significant first, high nibble before low nibble. Digit positions are
// numbered 1-22 from the most significant; 17 is the units digit. Every
// nibble holds 0-9. A value whose digits are all 0 is zero whatever its
// sign bit. The arithmetic works digit by digit on the cell or on stack
// buffers: it never allocates and never uses binary floating point, and a
// failing operation leaves its operands unchanged.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::money {

constexpr int32_t DIGITS = 22;        // digit positions in a value
constexpr int32_t FRACTION = 5;       // digits after the point
constexpr int32_t INTEGER = DIGITS - FRACTION;
constexpr int32_t BYTES = DIGITS / 2;  // packed bytes in a cell
constexpr int32_t UNITS = INTEGER;     // position of the units digit

// Cell access.
inline int32_t get_sign(const Cell* c) { return (c->header & MONEY_SIGN) ? 1 : 0; }
inline void set_sign(Cell* c, int32_t s) {
  c->header = (c->header & ~MONEY_SIGN) | (s ? MONEY_SIGN : 0);
}
inline void flip_sign(Cell* c) { c->header ^= MONEY_SIGN; }
inline uint32_t get_currency(const Cell* c) { return c->w1 & 0xFF; }
inline void set_currency(Cell* c, uint32_t index) { c->w1 = (c->w1 & ~0xFFu) | (index & 0xFF); }
inline uint8_t* digits(Cell* c) { return reinterpret_cast<uint8_t*>(c) + 5; }
inline const uint8_t* digits(const Cell* c) { return reinterpret_cast<const uint8_t*>(c) + 5; }
void set_digits(Cell* c, const uint8_t* packed);
// Zeroes the currency and the digits, keeping the header.
inline void clear(Cell* c) { c->w1 = c->w2 = c->w3 = 0; }

// Digit access on packed digits (positions 1-22).
inline int32_t get_digit(const uint8_t* d, int32_t p) {
  uint8_t b = d[(p - 1) / 2];
  return (p & 1) ? b >> 4 : b & 0xF;
}
inline void set_digit(uint8_t* d, int32_t p, int32_t v) {
  uint8_t& b = d[(p - 1) / 2];
  b = (p & 1) ? uint8_t((b & 0x0F) | (v << 4)) : uint8_t((b & 0xF0) | v);
}
// Digits from the first non-zero one to position 22, at least 1.
int32_t significant_digits(const uint8_t* d);
bool zero_digits_q(const uint8_t* d);
int32_t compare_digits(const uint8_t* a, const uint8_t* b);  // <0, 0, >0

// Signs and order.
int32_t sign_q(const Cell* c);  // -1, 0 or 1
inline bool zero_q(const Cell* c) { return zero_digits_q(digits(c)); }
inline bool negative_q(const Cell* c) { return sign_q(c) < 0; }
inline bool positive_q(const Cell* c) { return sign_q(c) > 0; }
inline int32_t sign_pair(int32_t sa, int32_t sb) { return (sa + 1) << 4 | (sb + 1); }
int32_t compare_amounts(const Cell* a, const Cell* b);  // <0, 0, >0 by value
// True when the integer part does not fit a 32-bit integer.
bool int_overflow_q(const Cell* c);

// Arithmetic on two money cells; the result goes into `a` (the currency
// byte of `a` is kept) and is returned. Overflow raises script type-limit
// (money!); a zero divisor math zero-divide.
Cell* bcd_add(Cell* a, const Cell* b);
Cell* bcd_subtract(Cell* a, const Cell* b);
Cell* bcd_multiply(Cell* a, const Cell* b);
// The quotient with 5 fraction digits truncated toward zero, or with
// `remainder` the remainder of the division, with the sign of `a`.
Cell* bcd_divide(Cell* a, const Cell* b, bool remainder);
// add, subtract, multiply, divide, remainder by operator code.
Cell* do_op(Cell* a, const Cell* b, int32_t op);

}  // namespace kez::money
