// integer!: arithmetic with its float promotion and errors, power, the
// round table, comparison, conversions and text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "foundation/memory.h"
#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/float.h"
#include "values/integer.h"
#include "values/word_types.h"

using namespace kez;
using kez::test::act1;
using kez::test::act2;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Integers : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell I(int32_t v) { return make_integer(v); }
Cell F(double d) { return make_float(d); }
int32_t iv(Cell c) { return get_integer(&c); }

}  // namespace

TEST_F(Integers, ArithmeticPromotesToFloatOnlyWhenInexact) {
  struct Case {
    int action;
    Cell a, b;
    uint32_t type;
    std::string text;
  } cases[] = {
      {ACT_add, I(2147483647), I(1), TYPE_FLOAT, "2147483648.0"},
      {ACT_subtract, I(-2147483647 - 1), I(1), TYPE_FLOAT, "-2147483649.0"},
      {ACT_multiply, I(65536), I(65536), TYPE_FLOAT, "4294967296.0"},
      {ACT_multiply, I(-46341), I(46341), TYPE_FLOAT, "-2147488281.0"},
      {ACT_add, I(2), I(3), TYPE_INTEGER, "5"},
      {ACT_divide, I(7), I(2), TYPE_FLOAT, "3.5"},
      {ACT_divide, I(6), I(2), TYPE_INTEGER, "3"},
      {ACT_divide, I(-2147483647 - 1), I(2), TYPE_INTEGER, "-1073741824"},
      {ACT_remainder, I(7), I(2), TYPE_INTEGER, "1"},
      {ACT_remainder, I(-7), I(2), TYPE_INTEGER, "-1"},
      {ACT_remainder, I(-2147483647 - 1), I(1), TYPE_INTEGER, "0"},
      {ACT_add, I(1), F(2.5), TYPE_FLOAT, "3.5"},
      {ACT_subtract, I(1), F(0.5), TYPE_FLOAT, "0.5"},
      {ACT_add, I(1), make_char('a'), TYPE_INTEGER, "98"},
      {ACT_and_t, I(12), I(10), TYPE_INTEGER, "8"},
      {ACT_or_t, I(12), I(10), TYPE_INTEGER, "14"},
      {ACT_xor_t, I(12), I(10), TYPE_INTEGER, "6"},
  };
  for (const Case& c : cases) {
    Cell r = act2(c.action, c.a, c.b);
    EXPECT_EQ(TYPE_OF(&r), c.type) << c.text;
    EXPECT_EQ(mold_text(r), c.text);
  }
}

TEST_F(Integers, TrappingAndOverflowingOperationsRaise) {
  using namespace err;
  EXPECT_TRUE(raises(raised([] { act2(ACT_divide, I(1), I(0)); }), MATH, math::ZERO_DIVIDE));
  EXPECT_TRUE(raises(raised([] { act2(ACT_remainder, I(1), I(0)); }), MATH, math::ZERO_DIVIDE));
  // These two would trap in the machine division: refused before it runs.
  EXPECT_TRUE(raises(raised([] { act2(ACT_divide, I(INT32_MIN), I(-1)); }), MATH, math::OVERFLOW));
  EXPECT_TRUE(raises(raised([] { act2(ACT_remainder, I(INT32_MIN), I(-1)); }), MATH, math::OVERFLOW));
  EXPECT_TRUE(raises(raised([] { act1(ACT_negate, I(INT32_MIN)); }), MATH, math::OVERFLOW));
  EXPECT_TRUE(raises(raised([] { act1(ACT_absolute, I(INT32_MIN)); }), MATH, math::OVERFLOW));
  EXPECT_TRUE(raises(raised([] { act2(ACT_add, I(1), make_none()); }), SCRIPT, script::INVALID_TYPE));
  // An operand type that has not registered its arithmetic is refused too.
  EXPECT_TRUE(raises(raised([] { act2(ACT_add, I(1), Cell{TYPE_EVENT, 1, 2, 0}); }), SCRIPT,
                     script::INVALID_TYPE));
  EXPECT_TRUE(raises(raised([] { act2(ACT_divide, I(1), Cell{TYPE_PAIR, 1, 2, 0}); }), SCRIPT,
                     script::NOT_RELATED));
  EXPECT_TRUE(raises(raised([] { act2(ACT_and_t, I(1), F(1.0)); }), SCRIPT, script::CANNOT_USE));
  EXPECT_EQ(iv(act1(ACT_negate, I(5))), -5);
  EXPECT_EQ(iv(act1(ACT_absolute, I(-5))), 5);
}

TEST_F(Integers, DoMathOpReportsInexactResultsThroughTheStatusCell) {
  Cell status = make_none();
  integer::do_math_op(2147483647, 1, OP_ADD, &status);
  EXPECT_EQ(TYPE_OF(&status), TYPE_FLOAT);
  EXPECT_EQ(get_float(&status), 2147483648.0);
  status = make_none();
  EXPECT_EQ(integer::do_math_op(7, 2, OP_DIV, &status), 3);
  EXPECT_EQ(TYPE_OF(&status), TYPE_FLOAT);
  // Without a status cell the 32-bit result wraps and division truncates.
  EXPECT_EQ(integer::do_math_op(2147483647, 1, OP_ADD, nullptr), INT32_MIN);
  EXPECT_EQ(integer::do_math_op(7, 2, OP_DIV, nullptr), 3);
}

TEST_F(Integers, Power) {
  EXPECT_EQ(mold_text(act2(ACT_power, I(2), I(10))), "1024");
  EXPECT_EQ(mold_text(act2(ACT_power, I(2), I(31))), "2147483648.0");
  EXPECT_EQ(mold_text(act2(ACT_power, I(-2), I(31))), "-2147483648");
  EXPECT_EQ(mold_text(act2(ACT_power, I(3), I(40))), "1.2157665459056929e19");
  EXPECT_EQ(mold_text(act2(ACT_power, I(2), I(-1))), "0.5");
  EXPECT_EQ(mold_text(act2(ACT_power, I(4), F(0.5))), "2.0");
  EXPECT_EQ(mold_text(act2(ACT_power, I(7), I(0))), "1");
  EXPECT_TRUE(raises(raised([] { act2(ACT_power, I(2), make_none()); }), err::SCRIPT,
                     err::script::EXPECT_ARG));
}

TEST_F(Integers, RoundTable) {
  struct Case {
    int32_t value, scale;
    round_options o;
    int32_t expected;
  } cases[] = {
      {17, 5, {}, 15},
      {18, 5, {}, 20},
      {15, 10, {}, 20},
      {-15, 10, {}, -20},
      {25, 10, {.even = true}, 20},
      {35, 10, {.even = true}, 40},
      {15, 10, {.half_down = true}, 10},
      {-15, 10, {.half_ceiling = true}, -10},
      {15, 10, {.half_ceiling = true}, 20},
      {-11, 5, {.floor = true}, -15},
      {-11, 5, {.ceiling = true}, -10},
      {11, 5, {.floor = true}, 10},
      {-19, 5, {.down = true}, -15},
      {17, -5, {}, 15},
      {17, 0, {}, 17},
      {INT32_MIN, 10, {}, INT32_MIN},
      {2147483647, 10, {.down = true}, 2147483640},
      {2147483641, 10, {}, 2147483640},
  };
  for (const Case& c : cases) {
    Cell v = I(c.value), scale = I(c.scale);
    round_options o = c.o;
    o.scale = &scale;
    actions::peek_round(TYPE_INTEGER)(&v, o);
    EXPECT_EQ(TYPE_OF(&v), TYPE_INTEGER);
    EXPECT_EQ(get_integer(&v), c.expected) << c.value << " " << c.scale;
  }
  // Without /to the scale is 1: nothing changes.
  Cell v = I(7);
  actions::peek_round(TYPE_INTEGER)(&v, round_options{});
  EXPECT_EQ(get_integer(&v), 7);
}

TEST_F(Integers, RoundOverflowAndFloatScale) {
  auto round_to = [](int32_t value, Cell scale, round_options o) {
    Cell v = I(value);
    o.scale = &scale;
    actions::peek_round(TYPE_INTEGER)(&v, o);
    return v;
  };
  using namespace err;
  // The up candidate leaves 32 bits: raised when chosen, and under /floor
  // and /ceiling whichever is chosen; never for /down.
  EXPECT_TRUE(raises(raised([&] { round_to(2147483647, I(10), {}); }), MATH, math::OVERFLOW));
  EXPECT_TRUE(raises(raised([&] { round_to(2147483647, I(10), {.floor = true}); }), MATH,
                     math::OVERFLOW));
  EXPECT_TRUE(raises(raised([&] { round_to(2147483647, I(10), {.down = true}); }), -1, -1));
  EXPECT_TRUE(raises(raised([&] { round_to(17, Cell{TYPE_MONEY, 0, 0, 0}, {}); }), SCRIPT,
                     script::NOT_RELATED));
  Cell r = round_to(7, F(2.5), {});
  EXPECT_EQ(mold_text(r), "7.5");
}

TEST_F(Integers, Compare) {
  auto cmp = [](Cell a, Cell b, int32_t op) { return actions::compare_values(&a, &b, op); };
  EXPECT_EQ(cmp(I(1), I(2), COMP_LESSER), -1);
  EXPECT_EQ(cmp(I(1), F(1.0), COMP_EQUAL), 0);
  EXPECT_EQ(cmp(I(1), F(1.0), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(cmp(I(1), F(1.0), COMP_FIND), 1);
  EXPECT_EQ(cmp(I(3), F(2.5), COMP_GREATER), 1);
  EXPECT_EQ(cmp(I(97), make_char('a'), COMP_EQUAL), 0);
  EXPECT_EQ(cmp(I(97), make_char('a'), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(cmp(I(1), make_none(), COMP_EQUAL), -2);
  EXPECT_EQ(cmp(I(INT32_MIN), I(INT32_MAX), COMP_SORT), -1);
}

TEST_F(Integers, Conversions) {
  auto to = [](Cell spec) {
    Cell out = make_none();
    actions::peek_to(TYPE_INTEGER)(&out, &spec, TYPE_INTEGER);
    return out;
  };
  EXPECT_EQ(iv(to(F(3.9))), 3);
  EXPECT_EQ(iv(to(F(-3.9))), -3);
  EXPECT_EQ(iv(to(F(-2147483648.0))), INT32_MIN);
  EXPECT_EQ(iv(to(make_char(0x263A))), 0x263A);
  EXPECT_EQ(iv(to(make_float_of(TYPE_TIME, 59.5))), 60);
  using namespace err;
  for (double bad : {1e10, -2147483649.0, double(NAN), double(INFINITY)})
    EXPECT_TRUE(raises(raised([&] { to(F(bad)); }), SCRIPT, script::TYPE_LIMIT)) << bad;
  EXPECT_TRUE(raises(raised([&] { to(make_none()); }), SCRIPT, script::BAD_TO_ARG));

  Cell issue;
  EXPECT_EQ(iv(to(*issue::make_at(&issue, "FF"))), 255);
  EXPECT_EQ(iv(to(*issue::make_at(&issue, "ffffffff"))), -1);
  for (const char* bad : {"FG", "123456789", "-1"})
    EXPECT_TRUE(raises(raised([&] { to(*issue::make_at(&issue, bad)); }), SCRIPT, script::INVALID_DATA))
        << bad;

  Cell* saved = stack::top;
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  for (uint32_t n : {5u, 2u}) {
    Cell* bin = stack::push_unset();
    node_t node = memory::alloc_bytes(8);
    series_buffer* b = memory::buffer(node);
    std::memcpy(b->data(), bytes, n);
    b->tail = b->head + n;
    *bin = make_series(TYPE_BINARY, node);
    EXPECT_EQ(iv(to(*bin)), n == 5 ? 16909060 : 258);
  }

  struct Text {
    const char* text;
    int32_t value;
    bool ok;
  } texts[] = {{"12'345", 12345, true}, {"+7", 7, true}, {"-2147483648", INT32_MIN, true},
               {"12a", 0, false},       {"2147483648", 0, false}};
  for (const Text& t : texts) {
    Cell* s = test::push_string(t.text);
    if (t.ok) EXPECT_EQ(iv(to(*s)), t.value) << t.text;
    else EXPECT_TRUE(raises(raised([&] { to(*s); }), SCRIPT, script::BAD_TO_ARG)) << t.text;
  }
  stack::top = saved;

  Cell out = make_none(), t = make_logic(true);
  actions::peek_make(TYPE_INTEGER)(&out, &t, TYPE_INTEGER);
  EXPECT_EQ(get_integer(&out), 1);
}

TEST_F(Integers, NumberToIntegerForNatives) {
  Cell f = I(-7);
  EXPECT_EQ(integer::from_number(&f), -7);
  f = F(2147483647.0);
  EXPECT_EQ(integer::from_number(&f), 2147483647);
  f = F(-1.5);
  EXPECT_EQ(integer::from_number(&f), -1);
  for (double bad : {2147483647.5, -2147483649.0, double(NAN)}) {
    f = F(bad);
    EXPECT_TRUE(raises(raised([&] { integer::from_number(&f); }), err::SCRIPT, err::script::OUT_OF_RANGE));
  }
}

TEST_F(Integers, TextParityComplementAndRandom) {
  EXPECT_EQ(mold_text(I(INT32_MIN)), "-2147483648");
  EXPECT_EQ(test::form_text(I(0)), "0");
  Cell v = I(7);
  EXPECT_TRUE(actions::peek_odd_q(TYPE_INTEGER)(&v));
  EXPECT_FALSE(actions::peek_even_q(TYPE_INTEGER)(&v));
  v = I(-8);
  EXPECT_TRUE(actions::peek_even_q(TYPE_INTEGER)(&v));
  EXPECT_EQ(iv(act1(ACT_complement, I(0))), -1);

  auto random = actions::peek_random(TYPE_INTEGER);
  for (int i = 0; i < 200; i++) {
    Cell up = I(10), down = I(-5), zero = I(0);
    random(&up, false, false, false);
    random(&down, false, false, false);
    random(&zero, false, false, false);
    EXPECT_TRUE(get_integer(&up) >= 1 && get_integer(&up) <= 10);
    EXPECT_TRUE(get_integer(&down) >= -5 && get_integer(&down) <= -1);
    EXPECT_EQ(get_integer(&zero), 0);
  }
  Cell seed = I(42);
  random(&seed, true, false, false);
  EXPECT_EQ(TYPE_OF(&seed), TYPE_UNSET);
}
