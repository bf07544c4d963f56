// Number scanning for conversions of text (any string unit), and money
// literals with a known currency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "lexer_support.h"
#include "foundation/unicode.h"
#include "services/lexer_values.h"
#include "services/scan_number.h"
#include "test_support.h"

using namespace kez;

namespace {

// The text widened to `unit` bytes a character.
std::vector<uint8_t> chars(const std::string& text, uint32_t unit) {
  std::vector<uint8_t> out(text.size() * unit);
  for (size_t i = 0; i < text.size(); i++) unicode::put_char(&out[i * unit], unit, uint8_t(text[i]));
  return out;
}

int32_t usd_only(const char* code) {
  return std::strncmp(code, "USD", 3) == 0 || std::strncmp(code, "usd", 3) == 0 ? 1 : -1;
}

}  // namespace

TEST(LexerNumbers, Integers) {
  struct row {
    const char* text;
    int32_t value, error;
  };
  const row rows[] = {{"12'345", 12345, 0},         {"+7", 7, 0},
                      {"12a", 12, lexer::SCAN_BAD_CHAR}, {"2147483648", 214748364, lexer::SCAN_OVERFLOW},
                      {"-2147483648", INT32_MIN, 0}, {"-2147483649", -214748364, lexer::SCAN_OVERFLOW},
                      {"2147483647", INT32_MAX, 0},  {"''1'", 1, 0}};
  for (uint32_t unit : {1u, 2u, 4u}) {
    for (const auto& r : rows) {
      auto c = chars(r.text, unit);
      int32_t error = 99;
      EXPECT_EQ(lexer::scan_integer(c.data(), uint32_t(std::strlen(r.text)), unit, &error), r.value)
          << r.text;
      EXPECT_EQ(error, r.error) << r.text;
    }
  }
}

TEST(LexerNumbers, Floats) {
  struct row {
    const char* text;
    double value;
  };
  const row rows[] = {{"1,5", 1.5}, {"1e3", 1000.0}, {"-0.1", -0.1}, {"1'000.5", 1000.5},
                      {".5", 0.5},  {"1.", 1.0}};
  for (uint32_t unit : {1u, 2u, 4u}) {
    for (const auto& r : rows) {
      auto c = chars(r.text, unit);
      int32_t error = 99;
      EXPECT_EQ(lexer::scan_float(c.data(), uint32_t(std::strlen(r.text)), unit, &error), r.value);
      EXPECT_EQ(error, 0) << r.text;
    }
  }
  for (const std::string& bad : std::vector<std::string>{"abc", "1e", "", "1..2", "1''0", std::string(313, '1')}) {
    auto c = chars(bad, 1);
    int32_t error = 0;
    EXPECT_TRUE(std::isnan(lexer::scan_float(c.data(), uint32_t(bad.size()), 1, &error))) << bad;
    EXPECT_EQ(error, -1) << bad;
  }
}

TEST(LexerNumbers, Money) {
  test::ensure_runtime();
  auto saved = lexer::values::currency_index;
  lexer::values::currency_index = usd_only;
  struct row {
    const char* text;
    const char* shown;  // "" when the text is refused
  };
  const row rows[] = {{"USD$1.25", "money:C1$1.25000"}, {"$1.25", "money:$1.25000"},
                      {"1.25", "money:$1.25000"},       {"-1'000.5", "money:-$1000.50000"},
                      {"$0.123456", "money:$0.12345"},  {"US$1", ""},
                      {"1.2.3", ""},                    {"1'", ""},
                      {"EUR$1", ""},                    {"$", ""},
                      {"12345678901234567", "money:$12345678901234567.00000"},
                      {"123456789012345678", ""}};
  for (uint32_t unit : {1u, 4u}) {
    for (const auto& r : rows) {
      auto c = chars(r.text, unit);
      int32_t error = 0;
      Cell out = make_none();
      lexer::scan_money(c.data(), uint32_t(std::strlen(r.text)), unit, &error, &out);
      EXPECT_EQ(error == 0 ? test::show(&out) : "", r.shown) << r.text;
    }
  }
  EXPECT_EQ(test::load("$1.50 USD$1.50 -usd$2 $0'001"),
            "money:$1.50000 money:C1$1.50000 money:-C1$2.00000 money:$1.00000");
  EXPECT_EQ(test::load("EUR$1"), "(line 1) invalid money! at EUR$1");
  lexer::values::currency_index = saved;
}
