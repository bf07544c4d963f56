// handle!: its text forms, its comparison, and the actions it refuses (it has
// no literal, so these run in C++).
#include <gtest/gtest.h>

#include "../values/value_test_support.h"
#include "gui/terminal/face_image.h"
#include "types/handle.h"

using namespace kez;
using kez::test::form_text;
using kez::test::mold_text;

namespace {

struct Handles : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

}  // namespace

TEST_F(Handles, TextForms) {
  struct Case {
    Cell h;
    const char *form, *mold_all;
  } cases[] = {
      {handle::make(255, handle::CLASS_WINDOW), "000000FFh", "#[handle! 000000FFh window]"},
      {handle::make(0xFFFFFFFE, 1), "FFFFFFFEh", "#[handle! FFFFFFFEh fd]"},
      {handle::make(16, handle::CLASS_NULL), "00000010h", "#[handle! 00000010h]"},
      {handle::make(16, 99), "00000010h", "#[handle! 00000010h]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_text(c.h), c.form);
    EXPECT_EQ(mold_text(c.h, true), c.mold_all);
    EXPECT_EQ(mold_text(c.h), "handle!");
  }
}

TEST_F(Handles, CompareByValueOnly) {
  Cell a = handle::make(5, 3), b = handle::make(5, 1), c = handle::make(0xFFFFFFFF, 3);
  Cell i = make_integer(5);
  EXPECT_EQ(actions::compare_values(&a, &b, COMP_EQUAL), 0);
  EXPECT_EQ(actions::compare_values(&c, &a, COMP_LESSER), -1);  // signed values
  EXPECT_EQ(actions::compare_values(&a, &i, COMP_EQUAL), 1);    // different, no error
}

TEST_F(Handles, OnlyThreeActions) {
  for (int action = 1; action <= ACTION_COUNT; action++) {
    bool own = action == ACT_form || action == ACT_mold || action == ACT_compare;
    EXPECT_EQ(actions::table[TYPE_HANDLE][action] != nullptr, own) << "action " << action;
  }
}

TEST_F(Handles, MakersAndTheTerminalFaceImage) {
  Cell* h = handle::push(7, handle::CLASS_WINDOW);
  EXPECT_EQ(TYPE_OF(h), TYPE_HANDLE);
  EXPECT_EQ(h->w3, 0xFFFFFFFFu);
  Cell* n = handle::push_null();
  EXPECT_EQ(n->w1, handle::CLASS_NULL);
  EXPECT_EQ(n->w2, 0u);
  Cell face = make_none();
  EXPECT_EQ(gui::face_to_image(&face), 0u);
}
