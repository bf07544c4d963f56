// datatype!, unset!, none!, logic! and native!/action!/op! values.
#include <gtest/gtest.h>

#include <string>

#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/simple_types.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

using namespace kez;
using kez::test::form_text;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct SimpleTypes : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

Cell make_as(uint32_t type, Cell spec, bool to = false) {
  Cell out = make_none();
  if (to) actions::peek_to(type)(&out, &spec, type);
  else actions::peek_make(type)(&out, &spec, type);
  return out;
}

}  // namespace

TEST_F(SimpleTypes, TextForms) {
  struct Case {
    Cell v;
    const char *form, *mold, *mold_all;
  } cases[] = {
      {make_datatype(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
      {make_none(), "none", "none", "#(none)"},
      {make_unset(), "", "unset", "#(unset)"},
      {make_logic(true), "true", "true", "#(true)"},
      {make_logic(false), "false", "false", "#(false)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_text(c.v), c.form);
    EXPECT_EQ(mold_text(c.v), c.mold);
    EXPECT_EQ(mold_text(c.v, true), c.mold_all);
  }
}

TEST_F(SimpleTypes, Compare) {
  struct Case {
    Cell a, b;
    int32_t op, expected;
  } cases[] = {
      {make_datatype(TYPE_INTEGER), make_datatype(TYPE_INTEGER), COMP_EQUAL, 0},
      {make_datatype(TYPE_INTEGER), make_datatype(TYPE_FLOAT), COMP_EQUAL, 1},
      {make_datatype(TYPE_INTEGER), make_integer(11), COMP_EQUAL, 1},
      {make_datatype(TYPE_INTEGER), make_datatype(TYPE_FLOAT), COMP_LESSER, -2},
      {make_none(), make_none(), COMP_SORT, 0},
      {make_none(), make_unset(), COMP_EQUAL, -2},
      {make_unset(), make_unset(), COMP_SAME, 0},
      {make_unset(), make_unset(), COMP_LESSER, -2},
      {make_logic(true), make_logic(true), COMP_EQUAL, 0},
      {make_logic(false), make_logic(true), COMP_SORT, -1},
      {make_logic(true), make_integer(1), COMP_EQUAL, -2},
  };
  for (const Case& c : cases) EXPECT_EQ(actions::compare_values(&c.a, &c.b, c.op), c.expected);
}

TEST_F(SimpleTypes, LogicMakeToAndBitwise) {
  struct Case {
    Cell spec;
    bool make, to;
  } cases[] = {
      {make_integer(0), false, true},   {make_integer(2), true, true},
      {make_float(0.0), false, true},   {make_float(-0.0), false, true},
      {make_float(__builtin_nan("")), true, true},
      {make_none(), false, false},      {make_logic(false), false, false},
      {make_unset(), true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(make_as(TYPE_LOGIC, c.spec).w1, uint32_t(c.make)) << mold_text(c.spec);
    EXPECT_EQ(make_as(TYPE_LOGIC, c.spec, true).w1, uint32_t(c.to)) << mold_text(c.spec);
  }
  EXPECT_EQ(test::act2(ACT_and_t, make_logic(true), make_logic(false)).w1, 0u);
  EXPECT_EQ(test::act2(ACT_or_t, make_logic(true), make_logic(false)).w1, 1u);
  EXPECT_EQ(test::act2(ACT_xor_t, make_logic(true), make_logic(true)).w1, 0u);
  EXPECT_EQ(test::act1(ACT_complement, make_logic(false)).w1, 1u);
  EXPECT_TRUE(raises(raised([] { test::act2(ACT_and_t, make_logic(true), make_integer(1)); }),
                     err::SCRIPT, err::script::EXPECT_ARG));
  Cell seed = make_logic(true);
  actions::peek_random(TYPE_LOGIC)(&seed, true, false, false);
  EXPECT_EQ(TYPE_OF(&seed), TYPE_UNSET);
}

TEST_F(SimpleTypes, SeriesActionsOnNoneGiveNone) {
  Cell n = make_none();
  EXPECT_EQ(actions::peek_length_q(TYPE_NONE)(&n), -1);
  Cell key = make_integer(1);
  EXPECT_EQ(TYPE_OF(actions::peek_select(TYPE_NONE)(&n, &key, find_options{})), TYPE_NONE);
  EXPECT_EQ(TYPE_OF(actions::peek_take(TYPE_NONE)(&n, nullptr, false, false)), TYPE_NONE);
  EXPECT_EQ(make_as(TYPE_NONE, make_integer(1)).header, TYPE_NONE);
  EXPECT_EQ(make_as(TYPE_UNSET, make_integer(1)).header, TYPE_UNSET);
  EXPECT_EQ(actions::peek_append(TYPE_NONE), nullptr);
}

TEST_F(SimpleTypes, TruthTests) {
  EXPECT_FALSE(logic::true_value(&none_value, false, nullptr));
  EXPECT_FALSE(logic::true_value(&false_value, false, nullptr));
  EXPECT_TRUE(logic::true_value(&unset_value, false, nullptr));
  Cell zero = make_integer(0);
  EXPECT_TRUE(logic::true_value(&zero, true, nullptr));
  Cell w = word::load("noValueHere");
  EXPECT_TRUE(raises(raised([&] { logic::true_value(&unset_value, true, &w); }), err::SCRIPT,
                     err::script::NO_VALUE));
}

namespace {

// make native!/action! from [spec index] and op! from a built-in.
Cell make_builtin(uint32_t type, std::initializer_list<Cell> spec, int32_t index) {
  Cell* s = test::push_block(spec);
  Cell* pair = test::push_block({*s, make_integer(index)});
  return make_as(type, *pair);
}

Cell refinement_of(const char* name) {
  Cell w = word::load(name);
  set_type(&w, TYPE_REFINEMENT);
  return w;
}
Cell get_word_of(const char* name) {
  Cell w = word::load(name);
  set_type(&w, TYPE_GET_WORD);
  return w;
}

}  // namespace

TEST_F(SimpleTypes, NativesAndActions) {
  Cell a = word::load("a"), b = word::load("b");
  using namespace err;
  for (int32_t index : {1, 120}) {
    Cell n = make_builtin(TYPE_NATIVE, {a, b}, index);
    EXPECT_EQ(TYPE_OF(&n), TYPE_NATIVE);
    EXPECT_EQ(n.w1, uint32_t(index));
  }
  for (int32_t index : {0, 121, -1})
    EXPECT_TRUE(raises(raised([&] { make_builtin(TYPE_NATIVE, {a}, index); }), SCRIPT,
                       script::BAD_MAKE_ARG));
  EXPECT_TRUE(raises(raised([&] { make_builtin(TYPE_ACTION, {a}, 63); }), SCRIPT, script::BAD_MAKE_ARG));
  EXPECT_TRUE(raises(raised([&] { make_as(TYPE_NATIVE, make_integer(7)); }), SCRIPT,
                     script::BAD_MAKE_ARG));
  EXPECT_TRUE(raises(raised([&] { make_as(TYPE_NATIVE, *test::push_block({make_integer(7)})); }),
                     SCRIPT, script::BAD_MAKE_ARG));

  Cell n7 = make_builtin(TYPE_NATIVE, {a, b}, 7), again = make_builtin(TYPE_NATIVE, {a}, 7);
  Cell n8 = make_builtin(TYPE_NATIVE, {a}, 8), act = make_builtin(TYPE_ACTION, {a}, 7);
  EXPECT_EQ(actions::compare_values(&n7, &again, COMP_EQUAL), 0);
  EXPECT_EQ(actions::compare_values(&n7, &n8, COMP_SORT), -1);
  EXPECT_EQ(actions::compare_values(&n7, &act, COMP_EQUAL), -2);
  EXPECT_EQ(actions::compare_values(&n7, &n8, COMP_LESSER), -2);
  EXPECT_EQ(form_text(n7), "?native?");
  EXPECT_EQ(form_text(act), "?action?");
  if (actions::peek_mold(TYPE_BLOCK)) {
    EXPECT_EQ(mold_text(n7), "make native! [[a b]]");
    EXPECT_EQ(mold_text(act), "make action! [[a]]");
  }

  auto reflect = [](Cell v, uint32_t field) {
    actions::peek_reflect(TYPE_OF(&v))(&v, field);
    return v;
  };
  Cell body = reflect(n7, words::body);
  EXPECT_EQ(get_integer(&body), 7);
  Cell spec = reflect(act, words::spec);
  EXPECT_EQ(TYPE_OF(&spec), TYPE_BLOCK);
  EXPECT_EQ(block::rs_length(&spec), 1);
  EXPECT_TRUE(raises(raised([&] { reflect(n7, symbol::make("words")); }), INTERNAL,
                     internal::NOT_DONE));
}

TEST_F(SimpleTypes, OpSpecChecks) {
  Cell a = word::load("a"), b = word::load("b"), c = word::load("c");
  using namespace err;
  struct Case {
    std::initializer_list<Cell> spec;
    bool fits;
  } cases[] = {
      {{a, b}, true},
      {{a, get_word_of("b")}, true},
      {{a, b, refinement_of("local"), c}, true},
      {{a, b, make_none(), *test::push_block({})}, true},
      {{a}, false},
      {{a, b, c}, false},
      {{get_word_of("a"), b}, false},
      {{a, b, refinement_of("only")}, false},
      {{a, refinement_of("local"), b}, false},
  };
  for (const Case& k : cases) {
    Cell native = make_builtin(TYPE_NATIVE, k.spec, 5);
    fired f = raised([&] {
      Cell op = make_as(TYPE_OP, native);
      EXPECT_EQ(TYPE_OF(&op), TYPE_OP);
      EXPECT_EQ((op.header >> OP_TYPE_SHIFT) & 0xFF, TYPE_NATIVE);
      EXPECT_EQ(form_text(op), "?op?");
      Cell body = op;
      actions::peek_reflect(TYPE_OP)(&body, words::body);
      EXPECT_EQ(get_integer(&body), 5);
    });
    if (k.fits) EXPECT_TRUE(raises(f, -1, -1));
    else EXPECT_TRUE(raises(f, SCRIPT, script::BAD_OP_SPEC));
  }
  EXPECT_TRUE(raises(raised([] { make_as(TYPE_OP, make_integer(1)); }), SCRIPT, script::INVALID_TYPE));
}
