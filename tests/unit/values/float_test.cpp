// float!: text forms in every mode, tolerant equality, mixed arithmetic,
// the round table, conversions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "foundation/memory.h"
#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/float.h"

using namespace kez;
using kez::test::act1;
using kez::test::act2;
using kez::test::form_text;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Floats : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell F(double d) { return make_float(d); }
Cell P(double d) { return make_float_of(TYPE_PERCENT, d); }
double fv(Cell c) { return get_float(&c); }
constexpr double pinf = std::numeric_limits<double>::infinity();
constexpr double qnan = std::numeric_limits<double>::quiet_NaN();

}  // namespace

TEST_F(Floats, FormAndMold) {
  struct Case {
    double value;
    const char* form;
    const char* mold;
  } cases[] = {
      {1.0, "1.0", "1.0"},
      {100.0, "100.0", "100.0"},
      {1e20, "1.0e20", "1.0e20"},
      {1.5e-7, "1.5e-7", "1.5e-7"},
      {0.7 + 0.1, "0.8", "0.7999999999999999"},
      {-(0.7 + 0.1), "-0.8", "-0.7999999999999999"},
      {0.1 + 0.2, "0.3", "0.30000000000000004"},
      {1.0 / 3.0, "0.3333333333333333", "0.3333333333333333"},
      {123456789.123, "123456789.123", "123456789.123"},
      {1e-17, "0.0", "1.0e-17"},
      {-1e-300, "0.0", "-1.0e-300"},
      {1.7976931348623157e308, "1.797693134862316e308", "1.7976931348623157e308"},
      {qnan, "1.#NaN", "1.#NaN"},
      {pinf, "1.#INF", "1.#INF"},
      {-pinf, "-1.#INF", "-1.#INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_text(F(c.value)), c.form) << c.mold;
    EXPECT_EQ(mold_text(F(c.value)), c.mold) << c.form;
  }
}

TEST_F(Floats, TextModes) {
  using namespace float_;
  struct Case {
    double value;
    int32_t mode;
    const char* text;
  } cases[] = {
      {50.0, MODE_PERCENT, "50%"},
      {12.5, MODE_PERCENT, "12.5%"},
      {1e-20, MODE_PERCENT, "0%"},
      {double(0.1f), MODE_VECTOR32, "0.1"},
      {double(3.0f), MODE_VECTOR32, "3.0"},
      {double(0.1f), MODE_PERCENT32, "0.1%"},
      {1.0, MODE_POINT, "1"},
      {1e-30, MODE_POINT, "0"},
      {2.5e10, MODE_POINT, "2.5e10"},
      {1.5, MODE_TIME, "1.5"},
      {59.9999999, MODE_TIME, "60"},
      {1e-20, MODE_TIME, "0.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(to_text(c.value, c.mode), c.text) << c.text;
  // Without pretty printing tiny values and long digit runs stay as they are.
  pretty_print = false;
  EXPECT_EQ(to_text(1e-17, MODE_FLOAT), "1.0e-17");
  EXPECT_EQ(to_text(0.7 + 0.1, MODE_FLOAT), "0.7999999999999999");
  pretty_print = true;
}

// A locale whose decimal point is a comma: an installed one, else one
// compiled into a scratch directory when localedef is available.
bool use_comma_locale() {
  auto comma = [](const char* name) {
    return std::setlocale(LC_ALL, name) && std::strcmp(std::localeconv()->decimal_point, ",") == 0;
  };
  for (const char* n : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8"})
    if (comma(n)) return true;
  const char* dir = "/tmp/kez-test-locales";
  std::string made = std::string(dir) + "/de_DE.UTF-8";
  if (access(made.c_str(), F_OK) != 0) {
    std::string cmd = std::string("mkdir -p ") + dir + " && localedef -i de_DE -f UTF-8 " + made +
                      " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
  }
  setenv("LOCPATH", dir, 1);
  return comma("de_DE.UTF-8");
}

TEST_F(Floats, TextDoesNotFollowTheLocale) {
  std::string saved = std::setlocale(LC_ALL, nullptr);
  bool comma = use_comma_locale();
  std::string form = form_text(F(1.5)), mold = mold_text(F(1234.5678e20));
  std::string pct(float_::to_text(12.5, float_::MODE_PERCENT));
  std::setlocale(LC_ALL, saved.c_str());
  unsetenv("LOCPATH");
  if (!comma) GTEST_SKIP() << "no locale with a decimal comma available";
  EXPECT_EQ(form, "1.5");
  EXPECT_EQ(mold, "1.2345678e23");
  EXPECT_EQ(pct, "12.5%");
}

TEST_F(Floats, TolerantAndExactEquality) {
  auto cmp = [](Cell a, Cell b, int32_t op) { return actions::compare_values(&a, &b, op); };
  EXPECT_EQ(cmp(F(0.1 + 0.2), F(0.3), COMP_EQUAL), 0);
  EXPECT_EQ(cmp(F(0.1 + 0.2), F(0.3), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(cmp(F(1e-300), F(-1e-300), COMP_EQUAL), 0);  // below the epsilon
  EXPECT_EQ(cmp(F(1.0), F(1.0 + 1e-12), COMP_EQUAL), -1);
  EXPECT_EQ(cmp(F(qnan), F(qnan), COMP_EQUAL), 1);
  EXPECT_EQ(cmp(F(0.0), F(-0.0), COMP_EQUAL), 0);
  EXPECT_NE(cmp(F(0.0), F(-0.0), COMP_SAME), 0);
  EXPECT_EQ(cmp(F(qnan), F(1.0), COMP_LESSER), 1);   // so "lesser?" is false
  EXPECT_EQ(cmp(F(qnan), F(1.0), COMP_GREATER), -1);  // and "greater?" too
  EXPECT_EQ(cmp(F(2.0), make_integer(2), COMP_EQUAL), 0);
  EXPECT_EQ(cmp(F(2.0), make_integer(2), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(cmp(F(2.0), P(2.0), COMP_FIND), 1);
  EXPECT_EQ(cmp(F(2.0), make_char(2), COMP_EQUAL), -2);
  EXPECT_EQ(cmp(F(2.0), make_none(), COMP_EQUAL), -2);

  EXPECT_TRUE(float_::almost_equal(1.0, std::nextafter(std::nextafter(1.0, 2.0), 2.0)));
  EXPECT_TRUE(float_::almost_equal32(1.0f, std::nextafter(1.0f, 2.0f)));
  EXPECT_FALSE(float_::almost_equal32(1.0f, 1.001f));
  EXPECT_FALSE(float_::almost_equal32(INFINITY, -INFINITY));
  EXPECT_FALSE(float_::almost_equal32(NAN, NAN));
}

TEST_F(Floats, ArithmeticAndMixedTypes) {
  EXPECT_EQ(fv(act2(ACT_divide, F(1.0), F(0.0))), pinf);
  EXPECT_EQ(fv(act2(ACT_remainder, F(5.5), F(2.0))), 1.5);
  EXPECT_EQ(fv(act2(ACT_remainder, F(5.5), F(pinf))), 5.5);
  EXPECT_TRUE(std::isnan(fv(act2(ACT_remainder, F(pinf), F(2.0)))));
  EXPECT_TRUE(std::isnan(fv(act2(ACT_remainder, F(5.5), F(qnan)))));
  EXPECT_EQ(fv(act2(ACT_subtract, F(1.0), make_integer(3))), -2.0);

  // The result type: time! wins, then a percent! left operand, else float!.
  struct Case {
    Cell a, b;
    uint32_t type;
    double value;
  } cases[] = {
      {P(0.5), make_integer(1), TYPE_PERCENT, 1.5},
      {make_integer(1), P(0.5), TYPE_FLOAT, 1.5},
      {F(1.0), P(0.5), TYPE_FLOAT, 1.5},
      {P(0.5), make_float_of(TYPE_TIME, 2.0), TYPE_TIME, 2.5},
      {F(1.0), make_char(1), TYPE_FLOAT, 2.0},
  };
  for (Case& c : cases) {
    float_::do_math(&c.a, &c.b, OP_ADD);
    EXPECT_EQ(TYPE_OF(&c.a), c.type);
    EXPECT_EQ(get_float(&c.a), c.value);
  }
  using namespace err;
  Cell p = P(0.5), ch = make_char(1);
  EXPECT_TRUE(raises(raised([&] { float_::do_math(&p, &ch, OP_ADD); }), SCRIPT, script::INVALID_TYPE));
  EXPECT_TRUE(raises(raised([] { act2(ACT_add, F(1.0), make_none()); }), SCRIPT, script::INVALID_TYPE));
  EXPECT_TRUE(raises(raised([] { act2(ACT_subtract, F(1.0), Cell{TYPE_PAIR, 0, 1, 2}); }), SCRIPT,
                     script::NOT_RELATED));
  EXPECT_TRUE(raises(raised([] { float_::do_math_op(1.0, 2.0, OP_OR); }), SCRIPT, script::CANNOT_USE));

  EXPECT_EQ(fv(act1(ACT_negate, F(1.5))), -1.5);
  EXPECT_FALSE(std::signbit(fv(act1(ACT_negate, F(0.0)))));
  EXPECT_EQ(fv(act1(ACT_absolute, F(-0.0))), 0.0);
  EXPECT_FALSE(std::signbit(fv(act1(ACT_absolute, F(-0.0)))));
  EXPECT_EQ(fv(act2(ACT_power, F(4.0), F(0.5))), 2.0);
  EXPECT_EQ(fv(act2(ACT_power, F(2.0), make_integer(-2))), 0.25);
  EXPECT_TRUE(raises(raised([] { act2(ACT_power, F(2.0), make_none()); }), SCRIPT, script::EXPECT_ARG));

  struct Parity {
    double v;
    bool odd;
  } parity[] = {{3.7, true}, {-3.7, true}, {4.2, false}, {3000000001.0, true}, {pinf, false}, {qnan, false}};
  for (const Parity& c : parity) {
    Cell v = F(c.v);
    EXPECT_EQ(actions::peek_odd_q(TYPE_FLOAT)(&v), c.odd) << c.v;
    EXPECT_EQ(actions::peek_even_q(TYPE_FLOAT)(&v), !c.odd) << c.v;
  }
}

TEST_F(Floats, RoundTable) {
  struct Case {
    double value;
    Cell scale;
    round_options o;
    double expected;
  } cases[] = {
      {2.5, make_none(), {}, 3.0},
      {-2.5, make_none(), {}, -3.0},
      {2.4, make_none(), {}, 2.0},
      {2.5, make_none(), {.even = true}, 2.0},
      {3.5, make_none(), {.even = true}, 4.0},
      {2.5, make_none(), {.half_down = true}, 2.0},
      {-2.5, make_none(), {.half_ceiling = true}, -2.0},
      {2.5, make_none(), {.half_ceiling = true}, 3.0},
      {-2.7, make_none(), {.down = true}, -2.0},
      {-2.1, make_none(), {.floor = true}, -3.0},
      {-2.9, make_none(), {.ceiling = true}, -2.0},
      {1.2345, F(0.01), {}, 1.23},
      {1.2345, F(-0.01), {}, 1.23},
      {17.0, make_integer(5), {}, 15.0},
      {1e300, F(0.5), {}, 1e300},         // already a multiple of any such scale
      {1.5, F(0.0), {}, 1.5},             // a zero scale changes nothing
      {1e-310, F(5e-324), {}, 1e-310},    // the tiniest scales do not overflow
      {7.0, make_integer(10), {.ceiling = true}, 10.0},
  };
  for (const Case& c : cases) {
    Cell v = F(c.value);
    round_options o = c.o;
    if (TYPE_OF(&c.scale) != TYPE_NONE) o.scale = &c.scale;
    actions::peek_round(TYPE_FLOAT)(&v, o);
    EXPECT_EQ(TYPE_OF(&v), TYPE_FLOAT);
    EXPECT_EQ(get_float(&v), c.expected) << c.value;
  }
  Cell pct = P(0.12345), scale = make_integer(1);
  round_options o;
  o.scale = &scale;
  actions::peek_round(TYPE_FLOAT)(&pct, o);  // percent!: to 1%
  EXPECT_EQ(get_float(&pct), 0.12);
  Cell v = F(1.0), money = Cell{TYPE_MONEY, 0, 0, 0};
  o.scale = &money;
  EXPECT_TRUE(raises(raised([&] { actions::peek_round(TYPE_FLOAT)(&v, o); }), err::SCRIPT,
                     err::script::NOT_RELATED));
}

TEST_F(Floats, Conversions) {
  auto to = [](Cell spec, uint32_t type = TYPE_FLOAT) {
    Cell out = make_none();
    actions::peek_to(TYPE_FLOAT)(&out, &spec, type);
    return out;
  };
  Cell* saved = stack::top;
  EXPECT_EQ(fv(to(make_integer(-3))), -3.0);
  EXPECT_EQ(fv(to(*test::push_block({make_integer(1), make_integer(3)}))), 1000.0);
  EXPECT_EQ(fv(to(*test::push_block({make_float(1.5), make_integer(2)}))), 150.0);
  struct Text {
    const char* text;
    double value;
  } texts[] = {{"1,5", 1.5}, {"1e3", 1000.0}, {"-2.5E-1", -0.25}, {"1'000.5", 1000.5}, {".5", 0.5}};
  for (const Text& t : texts) EXPECT_EQ(fv(to(*test::push_string(t.text))), t.value) << t.text;
  using namespace err;
  for (const char* bad : {"", "abc", "1.2.3", "1e", "'1"})
    EXPECT_TRUE(raises(raised([&] { to(*test::push_string(bad)); }), SCRIPT, script::BAD_TO_ARG)) << bad;
  EXPECT_TRUE(raises(raised([&] { to(*test::push_block({make_integer(1)})); }), SCRIPT,
                     script::BAD_TO_ARG));
  EXPECT_TRUE(raises(raised([&] { to(make_none()); }), SCRIPT, script::BAD_TO_ARG));

  Cell* bin = stack::push_unset();
  node_t node = memory::alloc_bytes(8);
  const uint8_t one[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  std::memcpy(memory::buffer(node)->data(), one, 8);
  memory::buffer(node)->tail = memory::buffer(node)->head + 8;
  *bin = make_series(TYPE_BINARY, node);
  EXPECT_EQ(fv(to(*bin)), 1.0);

  Cell p = to(make_integer(2), TYPE_PERCENT);
  EXPECT_EQ(TYPE_OF(&p), TYPE_PERCENT);
  EXPECT_EQ(get_float(&p), 2.0);
  // percent! reads its text as one value.
  EXPECT_EQ(fv(to(*test::push_string("50%"), TYPE_PERCENT)), 0.5);
  EXPECT_EQ(fv(to(*test::push_string("2"), TYPE_PERCENT)), 2.0);
  for (const char* bad : {"abc", "1 2"})
    EXPECT_TRUE(raises(raised([&] { to(*test::push_string(bad), TYPE_PERCENT); }), SCRIPT,
                       script::BAD_TO_ARG))
        << bad;
  stack::top = saved;
}

TEST_F(Floats, Random) {
  auto random = actions::peek_random(TYPE_FLOAT);
  for (bool secure : {false, true})
    for (int i = 0; i < 100; i++) {
      Cell v = F(2.5);
      random(&v, false, secure, false);
      EXPECT_TRUE(get_float(&v) >= 0.0 && get_float(&v) <= 2.5);
    }
  Cell seed = F(1.5);
  random(&seed, true, false, false);
  EXPECT_EQ(TYPE_OF(&seed), TYPE_UNSET);
}
