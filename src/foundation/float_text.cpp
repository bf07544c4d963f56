// Float and text conversion.
//
// Writing: std::to_chars in scientific form gives the digits and the decimal
// exponent, which are then laid out: plain notation for point positions from
// -5 to 17 (0.000001 and 10000000000000000.0 stay plain), exponent notation
// beyond (1.0e-7, 1.0e17). Reading: the text is normalised into digits and
// one decimal exponent in a bounded stack buffer (digits beyond what can
// affect rounding are folded into one sticky digit) and handed to
// std::from_chars; its range errors become infinity or zero.
#include "foundation/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace kez {
namespace dtoa {

namespace {

void special(digit_result* out, const char* text, int32_t point) {
  std::strcpy(out->text, text);
  out->point = point;
  out->count = int32_t(std::strlen(text));
}

// Splits to_chars' scientific text "d.ddde+xx" into digits and point.
void take_scientific(const char* s, const char* end, digit_result* out) {
  int n = 0;
  const char* p = s;
  for (; p < end && *p != 'e'; p++)
    if (*p != '.') out->text[n++] = *p;
  while (n > 1 && out->text[n - 1] == '0') n--;
  out->text[n] = 0;
  out->count = n;
  int32_t exponent = 0;
  bool negative = false;
  if (p < end) {
    p++;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    for (; p < end; p++) exponent = exponent * 10 + (*p - '0');
  }
  out->point = (negative ? -exponent : exponent) + 1;
}

// Plain notation from point -5 to 17; outside it the exponent form.
constexpr int32_t LOWEST_PLAIN_POINT = -5;
constexpr int32_t HIGHEST_PLAIN_POINT = 17;

// Longest significant-digit buffer handed to from_chars: enough digits to
// decide the rounding of any double, plus one sticky digit.
constexpr int MAX_DIGITS = 800;

}  // namespace

void digits(double value, int32_t max_digits, bool point_zero, digit_result* out) {
  out->negative = std::signbit(value);
  if (std::isnan(value)) {
    out->negative = false;
    return special(out, "1.#NaN", POINT_SPECIAL);
  }
  if (std::isinf(value)) return special(out, out->negative ? "-1.#INF" : "1.#INF", POINT_SPECIAL);
  if (value == 0) {
    const char* text = point_zero ? (out->negative ? "-0.0" : "0.0") : (out->negative ? "-0" : "0");
    return special(out, text, POINT_ZERO);
  }
  double magnitude = std::fabs(value);
  char buffer[FORM_BUFFER];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  take_scientific(buffer, r.ptr, out);
  if (max_digits > 0 && out->count > max_digits) {
    r = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific,
                      max_digits - 1);
    take_scientific(buffer, r.ptr, out);
  }
}

namespace {

// Writes n digits with the value 0.digits x 10^k as the language lays it out.
int lay_out(char* out, bool negative, const char* digits, int32_t n, int32_t k, bool point_zero) {
  char* p = out;
  if (negative) *p++ = '-';
  if (k > HIGHEST_PLAIN_POINT || k < LOWEST_PLAIN_POINT) {
    *p++ = digits[0];
    if (n > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, size_t(n - 1));
      p += n - 1;
    } else if (point_zero) {
      *p++ = '.';
      *p++ = '0';
    }
    *p++ = 'e';
    p = std::to_chars(p, out + FORM_BUFFER, k - 1).ptr;
  } else if (k > 0) {
    if (n <= k) {
      std::memcpy(p, digits, size_t(n));
      std::memset(p + n, '0', size_t(k - n));
      p += k;
      if (point_zero) {
        *p++ = '.';
        *p++ = '0';
      }
    } else {
      std::memcpy(p, digits, size_t(k));
      p += k;
      *p++ = '.';
      std::memcpy(p, digits + k, size_t(n - k));
      p += n - k;
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', size_t(-k));
    p += -k;
    std::memcpy(p, digits, size_t(n));
    p += n;
  }
  *p = 0;
  return int(p - out);
}

}  // namespace

int form_float_to(char* out, double value, int32_t max_digits, bool point_zero) {
  if (max_digits <= 0 && std::isfinite(value) && value != 0) {
    // The hot path: shortest digits straight from to_chars' "d.ddde+xx",
    // the first digit moved over the point to make the digits contiguous.
    char sci[FORM_BUFFER];
    char* end = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific).ptr;
    char* e = static_cast<char*>(std::memchr(sci, 'e', size_t(end - sci)));
    int32_t exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    const char* digits = sci;
    int32_t n = 1;
    if (sci[1] == '.') {
      sci[1] = sci[0];
      digits = sci + 1;
      n = int32_t(e - digits);
    }
    return lay_out(out, std::signbit(value), digits, n, exponent + 1, point_zero);
  }
  digit_result d;
  digits(value, max_digits, point_zero, &d);
  if (d.point >= POINT_ZERO) {
    std::memcpy(out, d.text, size_t(d.count) + 1);
    return d.count;
  }
  return lay_out(out, d.negative, d.text, d.count, d.point, point_zero);
}

const char* form_float(double value, int32_t max_digits, bool point_zero) {
  static char text[FORM_BUFFER];
  form_float_to(text, value, max_digits, point_zero);
  return text;
}

double strtod(const char* start, const char* end, int32_t extra_exponent, int32_t* unparsed) {
  const char* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (end - p >= 3 && *p >= '0' && *p <= '9' && p[1] == '.' && p[2] == '#') {
    char c = end - p > 3 ? p[3] : 0;
    if (c == 'I' || c == 'i' || c == 'N' || c == 'n') {
      if (unparsed) *unparsed = 0;
      if (c == 'N' || c == 'n') return std::numeric_limits<double>::quiet_NaN();
      return negative ? -HUGE_VAL : HUGE_VAL;
    }
  }
  // The common case: a plain number whose own exponent is all there is.
  // from_chars reads the same grammar (it is entered only at a digit or a
  // point, so it never sees its own "inf" and "nan"); a range error or text
  // without digits takes the general path below.
  if (extra_exponent == 0 && p < end && ((*p >= '0' && *p <= '9') || *p == '.')) {
    double v;
    auto r = std::from_chars(p, end, v);
    if (r.ec == std::errc()) {
      if (unparsed) *unparsed = int32_t(end - r.ptr);
      return negative ? 0.0 - v : v;
    }
  }
  // Significant digits (leading zeros dropped) and the exponent of the last.
  char buffer[MAX_DIGITS + 24];
  int n = 0;
  int64_t exponent = 0;   // value = digits x 10^exponent
  bool sticky = false;    // nonzero digits beyond the buffer
  auto take = [&](char c, bool fraction) {
    if (n == 0 && c == '0') {
      if (fraction) exponent--;
      return;
    }
    if (n < MAX_DIGITS) {
      buffer[n++] = c;
      if (fraction) exponent--;
    } else {
      if (!fraction) exponent++;
      if (c != '0') sticky = true;
    }
  };
  for (; p < end && *p >= '0' && *p <= '9'; p++) take(*p, false);
  if (p < end && *p == '.') {
    for (p++; p < end && *p >= '0' && *p <= '9'; p++) take(*p, true);
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool exp_negative = false;
    if (q < end && (*q == '+' || *q == '-')) exp_negative = *q++ == '-';
    if (q < end && *q >= '0' && *q <= '9') {
      int64_t e = 0;
      for (; q < end && *q >= '0' && *q <= '9'; q++)
        if (e < 1000000000) e = e * 10 + (*q - '0');
      exponent += exp_negative ? -e : e;
      p = q;
    }
  }
  if (unparsed) *unparsed = int32_t(end - p);
  exponent += extra_exponent;
  if (n == 0) return 0.0;
  if (sticky) {
    buffer[n++] = '1';
    exponent--;
  }
  // Far outside the range of doubles the answer is known without rounding.
  int64_t magnitude = exponent + n;
  double result;
  if (magnitude > 400) {
    result = HUGE_VAL;
  } else if (magnitude < -400) {
    result = 0.0;
  } else {
    char* q = buffer + n;
    *q++ = 'e';
    q = std::to_chars(q, buffer + sizeof buffer, exponent).ptr;
    auto r = std::from_chars(buffer, q, result);
    if (r.ec == std::errc::result_out_of_range) result = magnitude > 0 ? HUGE_VAL : 0.0;
  }
  // Subtracting from zero makes "-0" read as +0.
  return negative ? 0.0 - result : result;
}

}  // namespace dtoa

namespace runtime {

double to_radians(double degrees, int32_t mode) {
  double a = std::fmod(degrees, 360.0);
  if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
  if (a > 90.0 || a < -90.0) {
    if (mode == 0) {
      a += a < 0 ? 180.0 : -180.0;
    } else if (mode == 2) {
      a = a >= 0 ? 180.0 - a : -180.0 - a;
    }
  }
  return a * std::numbers::pi / 180.0;
}

}  // namespace runtime
}  // namespace kez
