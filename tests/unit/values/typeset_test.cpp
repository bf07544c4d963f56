// typeset!: making from specs, membership, set operations, text forms.
#include <gtest/gtest.h>

#include <string>

#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/symbol.h"
#include "values/typeset.h"
#include "values/word.h"

using namespace kez;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Typesets : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

Cell type_word(const char* name) { return word::make_global(symbol::make(name)); }

// make typeset! from a block of values.
Cell make_from(std::initializer_list<Cell> spec) {
  Cell* b = test::push_block(spec);
  Cell out = make_none();
  actions::peek_make(TYPE_TYPESET)(&out, b, TYPE_TYPESET);
  return out;
}

bool find_in(Cell ts, uint32_t type) {
  Cell dt = make_datatype(type);
  actions::peek_find(TYPE_TYPESET)(&ts, &dt, find_options{});
  return ts.w1 != 0;
}

}  // namespace

TEST_F(Typesets, MakeFindAndMold) {
  Cell ts = make_from({type_word("integer!"), type_word("float!")});
  EXPECT_EQ(TYPE_OF(&ts), TYPE_TYPESET);
  EXPECT_EQ(typeset::count(&ts), 2u);
  EXPECT_TRUE(find_in(ts, TYPE_INTEGER));
  EXPECT_FALSE(find_in(ts, TYPE_STRING));
  EXPECT_EQ(mold_text(ts), "make typeset! [integer! float!]");
  EXPECT_EQ(test::form_text(ts), "make typeset! [integer! float!]");
  EXPECT_EQ(mold_text(ts, false, true), "integer! float!");
  EXPECT_EQ(mold_text(typeset::make_empty()), "make typeset! []");

  // A typeset! spec element is merged; make of a typeset! gives it back.
  Cell more = make_from({ts, make_datatype(TYPE_BLOCK)});
  EXPECT_EQ(mold_text(more), "make typeset! [block! integer! float!]");
  Cell same = make_none();
  actions::peek_make(TYPE_TYPESET)(&same, &more, TYPE_TYPESET);
  EXPECT_EQ(actions::compare_values(&same, &more, COMP_EQUAL), 0);

  using namespace err;
  EXPECT_TRUE(raises(raised([] { make_from({make_integer(5)}); }), SCRIPT, script::INVALID_ARG));
  EXPECT_TRUE(raises(raised([] {
                       Cell five = make_integer(5), out = make_none();
                       actions::peek_make(TYPE_TYPESET)(&out, &five, TYPE_TYPESET);
                     }),
                     SCRIPT, script::BAD_TO_ARG));
  EXPECT_TRUE(raises(raised([&] {
                       Cell t = ts, five = make_integer(5);
                       actions::peek_find(TYPE_TYPESET)(&t, &five, find_options{});
                     }),
                     SCRIPT, script::INVALID_ARG));
}

TEST_F(Typesets, TextBudgetAndBareNames) {
  Cell ts = make_from({type_word("integer!"), type_word("float!"), type_word("string!")});
  // The budget stops the names once used up: 15 for the opening text, then
  // each name's length plus 2.
  EXPECT_EQ(mold_text(ts, false, false, 20), "make typeset! [string!]");
  EXPECT_EQ(mold_text(ts, false, false, 24), "make typeset! [string! integer!]");
  EXPECT_EQ(mold_text(ts, false, false, 15), "make typeset! []");
  // Bare names of an empty set write nothing and take nothing back from
  // what the output held before.
  Cell* out = string::push_new(8);
  string::append_literal(out, "abc");
  Cell empty = typeset::make_empty();
  actions::mold(&empty, out, true, false, false, 0x7FFFFFFF, 0);
  EXPECT_EQ(string::to_utf8(out), "abc");
}

TEST_F(Typesets, DefaultComplementAndSetOperations) {
  Cell def = typeset::make_default();
  EXPECT_FALSE(typeset::has(&def, TYPE_UNSET));
  EXPECT_TRUE(typeset::has(&def, TYPE_NONE));
  Cell all = typeset::make_empty();
  actions::peek_complement(TYPE_TYPESET)(&all);
  EXPECT_TRUE(typeset::has(&all, TYPE_UNSET));
  EXPECT_EQ(typeset::count(&all), datatype::highest_id);

  Cell ts = make_from({type_word("integer!"), type_word("float!")});
  Cell other = make_from({type_word("float!"), type_word("string!")});
  struct Case {
    int32_t op;
    const char* text;
  } cases[] = {
      {OP_UNION, "string! integer! float!"}, {OP_OR, "string! integer! float!"},
      {OP_INTERSECT, "float!"},              {OP_AND, "float!"},
      {OP_DIFFERENCE, "string! integer!"},   {OP_XOR, "string! integer!"},
      {OP_EXCLUDE, "integer!"},              {OP_UNIQUE, "integer! float!"},
  };
  for (const Case& c : cases) {
    Cell a = ts;
    typeset::do_set_op(&a, &other, c.op);
    EXPECT_EQ(mold_text(a, false, true), c.text) << c.op;
  }
  Cell a = ts, dt = make_datatype(TYPE_BLOCK);
  typeset::do_set_op(&a, &dt, OP_UNION);
  EXPECT_EQ(typeset::count(&a), 3u);
  EXPECT_TRUE(raises(raised([&] {
                       Cell x = ts, five = make_integer(5);
                       typeset::do_set_op(&x, &five, OP_UNION);
                     }),
                     err::SCRIPT, err::script::INVALID_ARG));

  EXPECT_EQ(actions::compare_values(&ts, &other, COMP_EQUAL), 1);
  EXPECT_EQ(actions::compare_values(&ts, &all, COMP_SORT), -1);
  EXPECT_EQ(actions::compare_values(&ts, &other, COMP_SORT), 0);
  EXPECT_EQ(actions::compare_values(&ts, &other, COMP_LESSER), -2);
  EXPECT_EQ(actions::compare_values(&ts, &dt, COMP_EQUAL), -2);
}

TEST_F(Typesets, FunctionSpecTypesAndBlocks) {
  Cell* target = block::push_only(2);
  Cell* spec = test::push_block({type_word("integer!"), *test::push_block({}),
                                 make_datatype(TYPE_STRING)});
  typeset::make_from_block(target, spec);
  Cell ts = *block::rs_head(target);
  EXPECT_EQ(mold_text(ts, false, true), "string! integer!");
  Cell* bad = test::push_block({make_integer(1)});
  EXPECT_TRUE(raises(raised([&] { typeset::make_from_block(target, bad); }), err::SCRIPT,
                     err::script::INVALID_TYPE_SPEC));

  Cell* out = stack::push_unset();
  typeset::to_block(&ts, out);
  ASSERT_EQ(block::rs_length(out), 2);
  EXPECT_EQ(block::rs_head(out)[0].w1, TYPE_STRING);
  EXPECT_EQ(block::rs_head(out)[1].w1, TYPE_INTEGER);
}
