// Float text: the layout rules, the special texts, reading, and exact round
// trips checked against independent formatters (the C library's printf and
// strtod, and Python's repr on a stored sample).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "foundation/float_text.h"

using namespace kez;

namespace {

struct splitmix64 {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
};

std::string form(double x, int digits = 0, bool point_zero = true) {
  return dtoa::form_float(x, digits, point_zero);
}

double read(const char* text, int32_t extra = 0, int32_t* unparsed = nullptr) {
  return dtoa::strtod(text, text + std::strlen(text), extra, unparsed);
}

bool same_bits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// Digits and decimal exponent of a text in exponent form "d.ddde[+-]xx" or
// plain form, as (digits without leading/trailing zeros, point position).
std::pair<std::string, int> split_decimal(const std::string& text) {
  std::string digits;
  int exponent = 0, point = -1;
  size_t i = 0;
  for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; i++) {
    if (text[i] == '.') point = int(digits.size());
    else if (text[i] >= '0' && text[i] <= '9') digits += text[i];
  }
  if (i < text.size()) exponent = std::atoi(text.c_str() + i + 1);
  if (point < 0) point = int(digits.size());
  size_t lead = digits.find_first_not_of('0');
  if (lead == std::string::npos) return {"", 0};
  digits = digits.substr(lead);
  point -= int(lead);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return {digits, point + exponent};
}

// A digit string of at most 17 digits (or 18 after a carry), in place.
struct digit_text {
  char d[24];
  int n = 0;
  int point = 0;
  bool operator==(const dtoa::digit_result& r) const {
    return point == r.point && n == r.count && std::memcmp(d, r.text, size_t(n)) == 0;
  }
};

// The n significant digits of x as printf rounds them, and the point.
digit_text printf_digits(double x, int n) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.*e", n - 1, x);
  digit_text t;
  const char* p = buffer;
  for (; *p && *p != 'e'; p++)
    if (*p >= '0' && *p <= '9') t.d[t.n++] = *p;
  t.point = std::atoi(p + 1) + 1;
  return t;
}

digit_text strip_zeros(digit_text t) {
  while (t.n > 1 && t.d[t.n - 1] == '0') t.n--;
  return t;
}

// Adds delta (+1 or -1) to the last digit; n = 0 when the change leaves the
// digit count.
digit_text bump_last(digit_text t, int delta) {
  int i = t.n - 1;
  while (i >= 0) {
    int d = t.d[i] - '0' + delta;
    if (d >= 0 && d <= 9) {
      t.d[i] = char('0' + d);
      break;
    }
    t.d[i] = delta > 0 ? '0' : '9';
    i--;
  }
  if (i < 0 || t.d[0] == '0') t.n = 0;
  return t;
}

bool reads_back(const digit_text& t, double x) {
  if (t.n == 0) return false;
  char text[48];
  std::snprintf(text, sizeof text, "0.%.*se%d", t.n, t.d, t.point);
  return std::strtod(text, nullptr) == x;
}

// Checks the shortest digits of a positive finite x with printf and strtod
// only: printf's correctly rounded n-digit string, or else its neighbour on
// the wider side of the rounding interval, must be ours, and no string of
// n - 1 digits near x may read back. Answers what is wrong, or "".
std::string check_digits(double x) {
  dtoa::digit_result d;
  dtoa::digits(x, 0, false, &d);
  digit_text nearest = printf_digits(x, d.count);
  if (reads_back(nearest, x)) {
    if (!(strip_zeros(nearest) == d)) return "not the nearest";
  } else if (!(strip_zeros(bump_last(nearest, 1)) == d) &&
             !(strip_zeros(bump_last(nearest, -1)) == d)) {
    return "no neighbour of printf's digits matches";
  }
  if (d.count > 1) {
    digit_text shorter = printf_digits(x, d.count - 1);
    for (const digit_text& s : {shorter, bump_last(shorter, 1), bump_last(shorter, -1)})
      if (reads_back(s, x)) return "a shorter string reads back";
  }
  return "";
}

#ifdef KEZ_SANITIZE
constexpr uint64_t RANDOM_VALUES = 1'000'000;
#else
constexpr uint64_t RANDOM_VALUES = 10'000'000;
#endif

}  // namespace

TEST(FloatText, FormsAsTheLanguageWritesFloats) {
  struct Case {
    double value;
    int digits;
    bool point_zero;
    const char* text;
  } cases[] = {
      {0.1, 0, true, "0.1"},
      {1.0 / 3, 0, true, "0.3333333333333333"},
      {1e16, 0, true, "10000000000000000.0"},
      {1e17, 0, true, "1.0e17"},
      {1e-6, 0, true, "0.000001"},
      {1e-7, 0, true, "1.0e-7"},
      {1.2345678901234568e17, 0, true, "1.2345678901234568e17"},
      {100.0, 0, false, "100"},
      {100.0, 0, true, "100.0"},
      {2.5e20, 0, false, "2.5e20"},
      {1e20, 0, false, "1e20"},
      {12345.678, 0, true, "12345.678"},
      {0.001234, 0, true, "0.001234"},
      {-1.5, 0, true, "-1.5"},
      {-0.0, 0, true, "-0.0"},
      {-0.0, 0, false, "-0"},
      {0.0, 0, true, "0.0"},
      {0.0, 0, false, "0"},
      {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
      {4.9e-324, 0, true, "5.0e-324"},
      {-2.2250738585072014e-308, 0, false, "-2.2250738585072014e-308"},
      {std::numeric_limits<double>::infinity(), 0, true, "1.#INF"},
      {-std::numeric_limits<double>::infinity(), 0, true, "-1.#INF"},
      {std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
      {-std::numeric_limits<double>::quiet_NaN(), 0, true, "1.#NaN"},
      // At most N digits: the shortest digits when they are fewer, else the
      // value rounded to N digits (ties to even).
      {3723.5, 6, false, "3723.5"},
      {1.0 / 3, 6, false, "0.333333"},
      {2.0 / 3, 6, false, "0.666667"},
      {0.1, 22, true, "0.1"},
      {0.125, 2, false, "0.12"},
      {0.375, 2, false, "0.38"},
      {999999.5, 6, true, "1000000.0"},
      {123456789.0, 3, true, "123000000.0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(form(c.value, c.digits, c.point_zero), c.text) << c.value << " digits " << c.digits;
}

TEST(FloatText, DigitResultAndSpecialPoints) {
  dtoa::digit_result d;
  dtoa::digits(12345.678, 0, false, &d);
  EXPECT_STREQ(d.text, "12345678");
  EXPECT_EQ(d.point, 5);
  EXPECT_EQ(d.count, 8);
  EXPECT_FALSE(d.negative);
  dtoa::digits(-0.00125, 0, false, &d);
  EXPECT_STREQ(d.text, "125");
  EXPECT_EQ(d.point, -2);
  EXPECT_TRUE(d.negative);
  dtoa::digits(-std::numeric_limits<double>::infinity(), 0, false, &d);
  EXPECT_EQ(d.point, dtoa::POINT_SPECIAL);
  dtoa::digits(0.0, 0, true, &d);
  EXPECT_EQ(d.point, dtoa::POINT_ZERO);
  EXPECT_STREQ(d.text, "0.0");
}

TEST(FloatText, Reads) {
  struct Case {
    const char* text;
    int32_t extra;
    double value;
    int32_t unparsed;
  } cases[] = {
      {"0.1", 0, 0.1, 0},
      {"+12.5", 0, 12.5, 0},
      {"-12.5", 0, -12.5, 0},
      {"000123", 0, 123.0, 0},
      {"1.5e3", 0, 1500.0, 0},
      {"1.5E-3", 0, 0.0015, 0},
      {"2.5", -2, 0.025, 0},
      {"25", -2, 0.25, 0},
      {"1.7976931348623157e308", 0, 1.7976931348623157e308, 0},
      {"4.9e-324", 0, 4.9e-324, 0},
      {"1e309", 0, HUGE_VAL, 0},
      {"-1e309", 0, -HUGE_VAL, 0},
      {"1e-400", 0, 0.0, 0},
      {"1e999999999999999999", 0, HUGE_VAL, 0},
      {"1e-999999999999999999", 0, 0.0, 0},
      {"1.#INF", 0, HUGE_VAL, 0},
      {"-1.#inf", 0, -HUGE_VAL, 0},
      {"12.5abc", 0, 12.5, 3},
      {"1e", 0, 1.0, 1},
      {".5", 0, 0.5, 0},
      {"5.", 0, 5.0, 0},
      // The smallest double above 1: only the last of 800 digits decides.
      {"1.0000000000000002220446049250313080847263336181640625", 0, 1.0000000000000002, 0},
      // Halfway between 1 and the next double: ties to even, unless any
      // later digit, however far, is not zero.
      {"1.00000000000000011102230246251565404236316680908203125", 0, 1.0, 0},
      {"1.000000000000000111022302462515654042363166809082031250000000001", 0,
       1.0000000000000002, 0},
  };
  for (const Case& c : cases) {
    int32_t unparsed = -1;
    double v = read(c.text, c.extra, &unparsed);
    EXPECT_TRUE(same_bits(v, c.value)) << c.text << " read " << v;
    EXPECT_EQ(unparsed, c.unparsed) << c.text;
  }
  EXPECT_TRUE(std::isnan(read("1.#NaN")));
  EXPECT_TRUE(std::isnan(read("1.#nan")));
  // "-0" reads as positive zero.
  EXPECT_TRUE(same_bits(read("-0"), 0.0));
  EXPECT_TRUE(same_bits(read("-0.0e5"), 0.0));
  EXPECT_TRUE(same_bits(read(form(-0.0).c_str()), 0.0));
  // Far more digits than a double holds: a sticky digit keeps the rounding.
  std::string long_text = "0." + std::string(2000, '0') + "1e2000";
  EXPECT_EQ(read(long_text.c_str()), 0.1);
  std::string huge = "1" + std::string(999, '0') + "1e-1000";
  EXPECT_EQ(read(huge.c_str()), 1.0);
}

TEST(FloatText, DegreesToRadians) {
  EXPECT_DOUBLE_EQ(runtime::to_radians(270, 2), -std::numbers::pi / 2);
  EXPECT_DOUBLE_EQ(runtime::to_radians(135, 0), -std::numbers::pi / 4);
  EXPECT_DOUBLE_EQ(runtime::to_radians(135, 1), 135 * std::numbers::pi / 180);
  EXPECT_DOUBLE_EQ(runtime::to_radians(150, 2), 30 * std::numbers::pi / 180);
  EXPECT_DOUBLE_EQ(runtime::to_radians(-150, 2), -30 * std::numbers::pi / 180);
  EXPECT_DOUBLE_EQ(runtime::to_radians(-720 - 45, 1), -45 * std::numbers::pi / 180);
  EXPECT_EQ(runtime::to_radians(180, 2), 0.0);
}

TEST(FloatText, AgreesWithPythonRepr) {
  struct Row {
    uint64_t bits;
    const char* repr;
  } rows[] = {
#include "float_repr_sample.inc"
  };
  splitmix64 rng{0x4B455A};
  for (int i = 0; i < 1000; i++) ASSERT_EQ(rows[i].bits, rng.next()) << "sample out of step";
  for (const Row& r : rows) {
    double x = std::bit_cast<double>(r.bits);
    std::string repr = r.repr;
    if (std::isnan(x)) {
      EXPECT_EQ(form(x), "1.#NaN");
      continue;
    }
    if (std::isinf(x)) {
      EXPECT_EQ(form(x), x > 0 ? "1.#INF" : "-1.#INF");
      continue;
    }
    dtoa::digit_result d;
    dtoa::digits(x, 0, false, &d);
    auto [digits, point] = split_decimal(repr);
    EXPECT_EQ(d.text, digits) << repr;
    EXPECT_EQ(d.point, point) << repr;
    EXPECT_EQ(d.negative, repr[0] == '-') << repr;
  }
}

// Ten million random bit patterns (fewer under the sanitizers) and every
// power of two: each forms as the shortest nearest digits, by printf's
// reckoning, and reads back to the same bits.
TEST(FloatText, RoundTripsRandomBitPatterns) {
  unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  std::vector<std::string> failures(threads);
  std::vector<uint64_t> checked(threads);
  auto work = [&](unsigned t) {
    splitmix64 rng{0x5EED0000ull + t};
    uint64_t count = RANDOM_VALUES / threads + (t == 0 ? 2098 : 0);
    char text[dtoa::FORM_BUFFER];
    for (uint64_t i = 0; i < count && failures[t].empty(); i++) {
      uint64_t bits = i < 2098 && t == 0 ? std::bit_cast<uint64_t>(std::ldexp(1.0, int(i) - 1074))
                                         : rng.next();
      double x = std::bit_cast<double>(bits);
      dtoa::form_float_to(text, x, 0, true);
      double y = dtoa::strtod(text, text + std::strlen(text), 0, nullptr);
      if (std::isnan(x) ? !std::isnan(y) : (x != 0 && !same_bits(x, y))) {
        failures[t] = std::string("no round trip: ") + text;
        break;
      }
      if (std::isfinite(x) && x != 0) {
        std::string why = check_digits(std::fabs(x));
        if (!why.empty()) failures[t] = std::string(text) + ": " + why;
      }
      checked[t]++;
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; t++) pool.emplace_back(work, t);
  for (auto& th : pool) th.join();
  uint64_t total = 0;
  for (unsigned t = 0; t < threads; t++) {
    EXPECT_EQ(failures[t], "");
    total += checked[t];
  }
  EXPECT_GE(total, RANDOM_VALUES);
}
