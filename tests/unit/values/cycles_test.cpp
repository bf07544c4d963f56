// The recursion guard: its depth limit, the markers, and its level put back
// when an error unwinds through a walker.
#include <gtest/gtest.h>

#include <string>

#include "value_test_support.h"
#include "values/context.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/word.h"

using namespace kez;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Cycles : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    cycles::reset();
    saved = stack::top;
  }
  void TearDown() override {
    stack::top = saved;
    EXPECT_EQ(cycles::top, 0u) << "a walk left entries behind";
    cycles::reset();
  }
  Cell* saved = nullptr;
};

// An object with one field `f` holding the value, pushed on the stack.
Cell* push_object(const Cell& value) {
  Cell* obj = object::make_at(stack::push_unset(), 1);
  Cell w = word::load("f");
  context::add_with(obj->w1, &w, &value);
  return obj;
}

}  // namespace

TEST_F(Cycles, DepthLimitEmptiesTheStack) {
  for (uint32_t i = 0; i < cycles::CAPACITY - 1; i++) cycles::push(i + 1);
  EXPECT_EQ(cycles::top, cycles::CAPACITY - 1);
  EXPECT_TRUE(raises(raised([] { cycles::push(5000); }), err::INTERNAL, err::internal::TOO_DEEP));
  EXPECT_EQ(cycles::top, 0u);
}

TEST_F(Cycles, GuardRestoresItsLevelOnEveryExit) {
  cycles::push(7);
  fired f = raised([] {
    cycles::guard guard;
    cycles::push(8);
    cycles::push(9);
    fire(err::SCRIPT, err::script::INVALID_ARG);
  });
  EXPECT_TRUE(raises(f, err::SCRIPT, err::script::INVALID_ARG));
  EXPECT_EQ(cycles::top, 1u);
  EXPECT_TRUE(cycles::find(7));
  EXPECT_FALSE(cycles::find(8));
  cycles::pop();
}

TEST_F(Cycles, Markers) {
  Cell* b = block::push_only(1);
  Cell paren = *b;
  set_type(&paren, TYPE_PAREN);
  Cell path = *b;
  set_type(&path, TYPE_PATH);
  cycles::push(b->w2);
  struct Case {
    Cell v;
    bool mold;
    const char* marker;
  } cases[] = {{*b, true, "[...]"}, {paren, true, "(...)"}, {path, true, "..."}, {*b, false, "..."}};
  for (const Case& c : cases) {
    Cell* out = string::push_new(8);
    int32_t part = 100;
    EXPECT_TRUE(cycles::detect(&c.v, out, part, c.mold));
    EXPECT_EQ(string::to_utf8(out), c.marker);
    EXPECT_EQ(part, 100 - int32_t(std::string(c.marker).size()));
  }
  cycles::pop();
  Cell* out = string::push_new(8);
  int32_t part = 100;
  EXPECT_FALSE(cycles::detect(b, out, part, true));
}

TEST_F(Cycles, ErrorInsideAMoldLeavesNoMarkerBehind) {
  // A field whose datatype cannot be molded makes the object's mold fail
  // half way, with the object on the guard.
  Cell* obj = push_object(Cell{TYPE_EVENT, 0, 1, 2});
  EXPECT_TRUE(raises(raised([&] { mold_text(*obj); }), err::SCRIPT, err::script::EXPECT_ARG));
  EXPECT_EQ(cycles::top, 0u);
  Cell one = make_integer(1);
  Cell w = word::load("f");
  context::put(obj->w1, &w, &one);
  std::string text = mold_text(*obj);
  EXPECT_NE(text.find("f: 1"), std::string::npos) << text;
  EXPECT_EQ(text.find("..."), std::string::npos) << text;
}

TEST_F(Cycles, SelfReferenceMoldsAsMarker) {
  Cell* obj = push_object(make_none());
  Cell w = word::load("f");
  context::put(obj->w1, &w, obj);
  std::string text = mold_text(*obj);
  EXPECT_NE(text.find("f: make object! [...]"), std::string::npos) << text;
}

TEST_F(Cycles, BindingASelfContainingBlockEnds) {
  Cell* b = block::push_only(2);
  Cell word_f = word::load("f");
  word_f.w1 = 0;
  word_f.w3 = context::NO_INDEX;
  block::rs_append(b, &word_f);
  block::rs_append(b, b);
  Cell* obj = push_object(make_none());
  context::bind(b, obj->w1, false);
  EXPECT_EQ(block::rs_head(b)[0].w1, obj->w1);
  EXPECT_EQ(block::rs_head(b)[0].w3, 0u);
}

namespace {

// `depth` blocks each holding the next, the innermost holding 1.
Cell* push_nested(int depth) {
  Cell* inner = block::push_only(1);
  Cell one = make_integer(1);
  block::rs_append(inner, &one);
  for (int i = 1; i < depth; i++) {
    Cell* outer = block::push_only(1);
    block::rs_append(outer, inner);
    inner = outer;
  }
  return inner;
}

}  // namespace

TEST_F(Cycles, BlockWalks) {
  if (!actions::peek_mold(TYPE_BLOCK)) GTEST_SKIP() << "block! is not built yet";
  Cell* self = block::push_only(2);
  Cell one = make_integer(1);
  block::rs_append(self, &one);
  block::rs_append(self, self);
  EXPECT_EQ(mold_text(*self), "[1 [...]]");
  EXPECT_EQ(test::form_text(*self), "1 ...");

  // An error half way through a mold leaves nothing on the guard.
  Cell* bad = block::push_only(2);
  Cell pair = Cell{TYPE_EVENT, 0, 1, 2};
  block::rs_append(bad, &one);
  block::rs_append(bad, &pair);
  Cell* outer = test::push_block({*bad});
  EXPECT_TRUE(raises(raised([&] { mold_text(*outer); }), err::SCRIPT, err::script::EXPECT_ARG));
  EXPECT_EQ(cycles::top, 0u);
  block::rs_head(bad)[1] = one;
  EXPECT_EQ(mold_text(*outer), "[[1 1]]");

  // 999 nested blocks fit on the guard; one more is too deep, and the next
  // walk starts clean.
  std::string deep = mold_text(*push_nested(999));
  EXPECT_EQ(deep.size(), 999u * 2 + 1);
  Cell* too_deep = push_nested(1000);
  EXPECT_TRUE(raises(raised([&] { mold_text(*too_deep); }), err::INTERNAL, err::internal::TOO_DEEP));
  EXPECT_EQ(mold_text(*push_nested(2)), "[[1]]");
}
