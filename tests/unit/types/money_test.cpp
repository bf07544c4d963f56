// The decimal engine of money! against a 128-bit integer reference on
// amounts scaled by 10^5, with the overflow boundaries, and a check that it
// never allocates; the text of triple!, which has no literal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <random>
#include <string>

#include "foundation/memory.h"
#include "types/money.h"
#include "types/percent.h"
#include "values/error_ids.h"
#include "values/value_test_support.h"

using namespace kez;

// Heap allocations through operator new, counted for the check that the
// engine makes none (the sanitizer builds keep their own allocator).
#ifndef KEZ_SANITIZE
namespace {
size_t news = 0;
}
void* operator new(size_t n) {
  news++;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

using i128 = __int128;
const i128 P5 = 100000;
const i128 LIMIT = i128(10000000000000000000ull) * 1000;  // 10^22: the digits' range

struct Money : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

// A money cell of an amount in hundred-thousandths, |v| < 10^22.
Cell money_of(i128 v) {
  Cell m{TYPE_MONEY, 0, 0, 0};
  i128 a = v < 0 ? -v : v;
  for (int32_t p = money::DIGITS; p >= 1; p--, a /= 10) money::set_digit(money::digits(&m), p, int(a % 10));
  money::set_sign(&m, v < 0);
  return m;
}

i128 value_of(const Cell& m) {
  i128 v = 0;
  for (int32_t p = 1; p <= money::DIGITS; p++) v = v * 10 + money::get_digit(money::digits(&m), p);
  return money::get_sign(&m) ? -v : v;
}

// The reference: the result in hundred-thousandths, or `overflow` /
// `zero_divide` set.
struct expected {
  i128 value = 0;
  bool overflow = false, zero_divide = false;
};

i128 abs128(i128 v) { return v < 0 ? -v : v; }

expected reference(i128 a, i128 b, int32_t op) {
  expected e;
  switch (op) {
    case OP_ADD: e.value = a + b; break;
    case OP_SUB: e.value = a - b; break;
    case OP_MUL: {
      if (a == 0 || b == 0) return e;
      i128 p;
      // A product beyond 128 bits is far beyond 10^27 too.
      if (__builtin_mul_overflow(abs128(a), abs128(b), &p)) {
        e.overflow = true;
        return e;
      }
      e.value = p / P5;
      if (e.value == 0) e.overflow = true;
      if ((a < 0) != (b < 0)) e.value = -e.value;
      break;
    }
    case OP_DIV:
      if (b == 0) {
        e.zero_divide = true;
        return e;
      }
      if (a == 0) return e;
      e.value = abs128(a) * P5 / abs128(b);
      if (e.value == 0) e.overflow = true;
      if ((a < 0) != (b < 0)) e.value = -e.value;
      break;
    case OP_REM:
      if (b == 0) {
        e.zero_divide = true;
        return e;
      }
      e.value = abs128(a) % abs128(b);
      if (a < 0) e.value = -e.value;
      break;
  }
  if (abs128(e.value) >= LIMIT) e.overflow = true;
  return e;
}

std::string text(i128 v) {
  std::string s;
  i128 a = abs128(v);
  do s.insert(s.begin(), char('0' + int(a % 10))); while ((a /= 10) > 0);
  return v < 0 ? "-" + s : s;
}

// Amounts of every length, boundaries more often than chance would give.
i128 draw(std::mt19937_64& g) {
  static const i128 special[] = {0, 1, -1, P5, LIMIT - 1, -(LIMIT - 1), LIMIT / 2,
                                 LIMIT / 2 - 1, LIMIT / 10, 99999, 50000, 214748364700000};
  if (g() % 8 == 0) return special[g() % std::size(special)];
  int digits = int(g() % 22) + 1;
  i128 v = 0;
  for (int i = 0; i < digits; i++) v = v * 10 + i128(g() % 10);
  return g() % 2 ? -v : v;
}

}  // namespace

TEST_F(Money, EngineMatchesIntegerReference) {
  std::mt19937_64 g(20261209);
  const int32_t ops[] = {OP_ADD, OP_SUB, OP_MUL, OP_DIV, OP_REM};
  int overflows = 0;
  for (int n = 0; n < 200000; n++) {
    i128 a = draw(g), b = draw(g);
    int32_t op = ops[n % 5];
    Cell x = money_of(a), y = money_of(b);
    expected e = reference(a, b, op);
    fired f = test::raised([&] { money::do_op(&x, &y, op); });
    std::string where = text(a) + " op " + std::to_string(op) + " " + text(b);
    if (e.overflow || e.zero_divide) {
      ASSERT_TRUE(e.overflow ? test::raises(f, err::SCRIPT, err::script::TYPE_LIMIT)
                             : test::raises(f, err::MATH, err::math::ZERO_DIVIDE))
          << where;
      ASSERT_EQ(value_of(x), a) << where << ": operand changed";
      overflows++;
    } else {
      ASSERT_EQ(f.id, -1) << where;
      ASSERT_EQ(text(value_of(x)), text(e.value)) << where;
      ASSERT_FALSE(e.value == 0 && money::get_sign(&x)) << where << ": negative zero";
    }
  }
  EXPECT_GT(overflows, 1000);  // the boundaries were reached
}

TEST_F(Money, EngineNeverAllocates) {
  std::mt19937_64 g(7);
  Cell pairs[64][2];
  for (auto& p : pairs) p[0] = money_of(draw(g)), p[1] = money_of(draw(g) / 1000 + 1);
  uint64_t before = memory::allocations;
#ifndef KEZ_SANITIZE
  size_t news_before = news;
#endif
  for (auto& p : pairs) {
    for (int32_t op : {OP_ADD, OP_SUB, OP_DIV, OP_REM}) {
      Cell x = p[0];
      // Only the arithmetic runs here: errors would allocate their value.
      if (reference(value_of(p[0]), value_of(p[1]), op).overflow) continue;
      money::do_op(&x, &p[1], op);
      money::compare_amounts(&x, &p[1]);
    }
  }
  EXPECT_EQ(memory::allocations, before);
#ifndef KEZ_SANITIZE
  EXPECT_EQ(news, news_before);
#endif
}

TEST_F(Money, TripleText) {
  Cell t{};
  triple::make_at(&t, 1, -2, 2147483647);
  EXPECT_EQ(test::mold_text(t), "make triple! [1 -2 2147483647]");
  EXPECT_EQ(test::form_text(t), "make triple! [1 -2 2147483647]");
}
