// Decimal arithmetic of money!: schoolbook addition, subtraction,
// multiplication and long division on decimal digits.
//
// The packed digits of a cell are unpacked into one digit a byte in stack
// buffers (22 digits for a value, 28 for a product, 32 for a dividend),
// computed on, checked, and packed back only once the result is known, so
// an operation that fails leaves both operands as they were. A result that
// is zero is stored positive.
#include "types/money_decimal.h"

#include <cstring>

#include "evaluator/actions.h"
#include "foundation/raise.h"
#include "values/error_ids.h"

namespace kez::money {

namespace {

// Digits of a product before its last 5 are dropped: 22 + 5 (and one more
// that must stay 0), and of a dividend: a value shifted 5 places up inside a
// buffer of whole 32-bit words.
constexpr int32_t PRODUCT = DIGITS + FRACTION + 1;
constexpr int32_t DIVIDEND = 32;

[[noreturn]] void overflow() {
  Cell dt = make_datatype(TYPE_MONEY);
  fire(err::SCRIPT, err::script::TYPE_LIMIT, &dt);
}

void unpack(const uint8_t* packed, uint8_t* out) {
  for (int32_t i = 0; i < BYTES; i++) {
    out[2 * i] = packed[i] >> 4;
    out[2 * i + 1] = packed[i] & 0xF;
  }
}

// Stores 22 digits and the sign into the cell (the currency byte is kept);
// a zero result is stored positive.
Cell* store(Cell* c, const uint8_t* d, int32_t sign) {
  uint8_t* p = digits(c);
  bool zero = true;
  for (int32_t i = 0; i < BYTES; i++) {
    p[i] = uint8_t(d[2 * i] << 4 | d[2 * i + 1]);
    zero = zero && p[i] == 0;
  }
  set_sign(c, zero ? 0 : sign);
  return c;
}

// Magnitude order of two digit arrays of n digits.
int32_t compare_n(const uint8_t* a, const uint8_t* b, int32_t n) {
  for (int32_t i = 0; i < n; i++)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// out = a + b over n digits; returns the carry out of the top digit.
int32_t add_n(const uint8_t* a, const uint8_t* b, uint8_t* out, int32_t n) {
  int32_t carry = 0;
  for (int32_t i = n - 1; i >= 0; i--) {
    int32_t s = a[i] + b[i] + carry;
    carry = s >= 10;
    out[i] = uint8_t(carry ? s - 10 : s);
  }
  return carry;
}

// out = a - b over n digits, a >= b.
void subtract_n(const uint8_t* a, const uint8_t* b, uint8_t* out, int32_t n) {
  int32_t borrow = 0;
  for (int32_t i = n - 1; i >= 0; i--) {
    int32_t d = a[i] - b[i] - borrow;
    borrow = d < 0;
    out[i] = uint8_t(borrow ? d + 10 : d);
  }
}

// Significant digits of an unpacked value (at least 1).
int32_t significant_n(const uint8_t* d, int32_t n) {
  int32_t i = 0;
  while (i < n - 1 && d[i] == 0) i++;
  return n - i;
}

// Signed addition of the magnitudes with their signs: the common core of
// add and subtract (subtract passes b's sign flipped).
Cell* add_signed(Cell* a, const Cell* b, int32_t sb) {
  uint8_t x[DIGITS], y[DIGITS], r[DIGITS];
  unpack(digits(a), x);
  unpack(digits(b), y);
  int32_t sa = get_sign(a);
  if (sa == sb) {
    // A carry out of position 1 is a sum beyond 17 integer digits.
    if (x[0] + y[0] >= 10 || add_n(x, y, r, DIGITS)) overflow();
    return store(a, r, sa);
  }
  if (compare_n(x, y, DIGITS) >= 0) {
    subtract_n(x, y, r, DIGITS);
    return store(a, r, sa);
  }
  subtract_n(y, x, r, DIGITS);
  return store(a, r, sb);
}

}  // namespace

void set_digits(Cell* c, const uint8_t* packed) { std::memcpy(digits(c), packed, BYTES); }

int32_t significant_digits(const uint8_t* d) {
  int32_t n = DIGITS;
  for (int32_t i = 0; i < BYTES; i++) {
    if (d[i] == 0) {
      n -= 2;
      continue;
    }
    if ((d[i] >> 4) == 0) n--;
    return n;
  }
  return 1;
}

bool zero_digits_q(const uint8_t* d) {
  for (int32_t i = 0; i < BYTES; i++)
    if (d[i]) return false;
  return true;
}

int32_t compare_digits(const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, BYTES); }

int32_t sign_q(const Cell* c) {
  if (zero_q(c)) return 0;
  return get_sign(c) ? -1 : 1;
}

int32_t compare_amounts(const Cell* a, const Cell* b) {
  int32_t sa = sign_q(a), sb = sign_q(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  int32_t c = compare_digits(digits(a), digits(b));
  c = c < 0 ? -1 : c > 0 ? 1 : 0;
  return sa < 0 ? -c : c;
}

bool int_overflow_q(const Cell* c) {
  const uint8_t* d = digits(c);
  uint64_t v = 0;
  for (int32_t p = 1; p <= UNITS; p++) {
    v = v * 10 + uint64_t(get_digit(d, p));
    if (v > 2147483648ull) return true;
  }
  return v > (get_sign(c) ? 2147483648ull : 2147483647ull);
}

Cell* bcd_add(Cell* a, const Cell* b) {
  if (zero_q(b)) return a;
  if (zero_q(a)) {
    set_digits(a, digits(b));
    set_sign(a, get_sign(b));
    return a;
  }
  return add_signed(a, b, get_sign(b));
}

Cell* bcd_subtract(Cell* a, const Cell* b) {
  if (zero_q(b)) return a;
  if (zero_q(a)) {
    set_digits(a, digits(b));
    set_sign(a, get_sign(b) ^ 1);
    return a;
  }
  return add_signed(a, b, get_sign(b) ^ 1);
}

Cell* bcd_multiply(Cell* a, const Cell* b) {
  if (zero_q(b)) {
    set_digits(a, digits(b));
    set_sign(a, 0);
    return a;
  }
  if (zero_q(a)) return a;
  int32_t sign = get_sign(a) ^ get_sign(b);
  uint8_t x[DIGITS], y[DIGITS];
  unpack(digits(a), x);
  unpack(digits(b), y);
  int32_t na = significant_n(x, DIGITS), nb = significant_n(y, DIGITS);
  if (na + nb > PRODUCT) overflow();
  // The product of two values with 5 fraction digits each has 10: it is
  // built in full, aligned at the low end, and its 5 lowest digits dropped.
  uint8_t work[PRODUCT] = {};
  for (int32_t i = 0; i < nb; i++) {
    int32_t db = y[DIGITS - 1 - i], carry = 0;
    for (int32_t j = 0; j < na; j++) {
      int32_t at = PRODUCT - 1 - i - j;
      int32_t t = x[DIGITS - 1 - j] * db + work[at] + carry;
      work[at] = uint8_t(t % 10);
      carry = t / 10;
    }
    work[PRODUCT - 1 - i - na] = uint8_t(carry);
  }
  if (work[0] != 0) overflow();
  const uint8_t* r = work + 1;
  if (significant_n(r, DIGITS) == 1 && r[DIGITS - 1] == 0) overflow();  // truncated to nothing
  return store(a, r, sign);
}

Cell* bcd_divide(Cell* a, const Cell* b, bool remainder) {
  if (zero_q(b)) fire(err::MATH, err::math::ZERO_DIVIDE);
  if (zero_q(a)) return a;
  // The dividend: a's digits at the low end of DIVIDEND digits, moved 5
  // places up for a quotient so that it keeps 5 fraction digits; PAD zeros
  // in front let the divisor's window start before the first digit.
  constexpr int32_t PAD = DIGITS + 1;
  uint8_t n[PAD + DIVIDEND] = {}, y[DIGITS];
  uint8_t* dividend = n + PAD;
  unpack(digits(a), dividend + DIVIDEND - DIGITS - (remainder ? 0 : FRACTION));
  unpack(digits(b), y);
  int32_t nb = significant_n(y, DIGITS);
  const uint8_t* divisor = y + DIGITS - nb;
  // Long division by repeated subtraction: for quotient digit i the divisor
  // stands under the nb + 1 digits that end at dividend digit i (everything
  // before them is already 0, as the window stays below 10 times it).
  uint8_t q[DIVIDEND] = {};
  for (int32_t i = DIVIDEND - significant_n(dividend, DIVIDEND); i < DIVIDEND; i++) {
    uint8_t* window = dividend + i - nb;  // nb + 1 digits, the first one above the divisor
    uint8_t count = 0;
    while (window[0] != 0 || compare_n(window + 1, divisor, nb) >= 0) {
      int32_t borrow = 0;
      for (int32_t k = nb; k >= 1; k--) {
        int32_t d = window[k] - divisor[k - 1] - borrow;
        borrow = d < 0;
        window[k] = uint8_t(borrow ? d + 10 : d);
      }
      window[0] = uint8_t(window[0] - borrow);
      count++;
    }
    q[i] = count;
  }
  // What is left of the dividend is the remainder.
  if (remainder) return store(a, dividend + DIVIDEND - DIGITS, get_sign(a));
  // The quotient must fit 22 digits, and a non-zero dividend must not give
  // a quotient truncated to nothing.
  const uint8_t* r = q + DIVIDEND - DIGITS;
  for (int32_t i = 0; i < DIVIDEND - DIGITS; i++)
    if (q[i]) overflow();
  if (significant_n(r, DIGITS) == 1 && r[DIGITS - 1] == 0) overflow();
  return store(a, r, get_sign(a) ^ get_sign(b));
}

Cell* do_op(Cell* a, const Cell* b, int32_t op) {
  switch (op) {
    case OP_ADD: return bcd_add(a, b);
    case OP_SUB: return bcd_subtract(a, b);
    case OP_MUL: return bcd_multiply(a, b);
    case OP_DIV: return bcd_divide(a, b, false);
    case OP_REM: return bcd_divide(a, b, true);
    default: {
      Cell dt = make_datatype(TYPE_OF(a));
      fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
    }
  }
}

}  // namespace kez::money
