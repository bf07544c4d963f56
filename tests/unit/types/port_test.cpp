// port!: a port whose actor is a handle! is answered by the C++ table the
// handle names, through the action dispatcher, with no Kez function
// involved (nothing in the language makes such a handle, so this runs in
// C++).
#include <gtest/gtest.h>

#include "../values/value_test_support.h"
#include "types/handle.h"
#include "types/port.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"

using namespace kez;

namespace {

struct NativePorts : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
  Cell* saved = nullptr;
};

int appended = 0;
Cell* native_append(Cell* port, Cell* value, int32_t part, bool, int32_t dup) {
  appended = get_integer(value) * 100 + part * 10 + dup;
  return port;
}
int32_t native_length(const Cell*) { return 7; }

const port::native_table* table_with_entries() {
  static port::native_table t{};
  t[ACT_append - port::NATIVE_FIRST] = reinterpret_cast<actions::generic_fn>(native_append);
  t[ACT_length_q - port::NATIVE_FIRST] = reinterpret_cast<actions::generic_fn>(native_length);
  return &t;
}

// A port over an object with the three fields that matter here.
Cell* push_port(const Cell& actor) {
  Cell* p = stack::push_unset();
  object::make_at(p, 4);
  const char* names[] = {"spec", "scheme", "actor"};
  Cell values[] = {none_value, none_value, actor};
  for (int i = 0; i < 3; i++) {
    Cell w = word::make_global(symbol::make(names[i]));
    context::put(p->w1, &w, &values[i]);
  }
  set_type(p, TYPE_PORT);
  return p;
}

}  // namespace

TEST_F(NativePorts, HandleActorAnswersFromItsTable) {
  uint32_t id = port::register_native_actor(table_with_entries());
  Cell* p = push_port(handle::make(id, handle::CLASS_NULL));
  Cell v = make_integer(3);
  actions::get_append(p)(p, &v, 2, false, 4);
  EXPECT_EQ(appended, 324);
  EXPECT_EQ(actions::get_length_q(p)(p), 7);
}

TEST_F(NativePorts, EmptyEntryOrUnknownTableIsNoPortAction) {
  uint32_t id = port::register_native_actor(table_with_entries());
  struct Case {
    Cell actor;
    int action;
  } cases[] = {
      {handle::make(id, handle::CLASS_NULL), ACT_clear},  // entry not filled
      {handle::make(0, handle::CLASS_NULL), ACT_append},  // names no table
      {handle::make(id + 1000, handle::CLASS_NULL), ACT_append},
  };
  for (const Case& c : cases) {
    Cell* p = push_port(c.actor);
    auto f = test::raised([&] { actions::lookup(TYPE_PORT, p, c.action); });
    EXPECT_TRUE(test::raises(f, err::ACCESS, err::access::NO_PORT_ACTION)) << c.action;
  }
}

TEST_F(NativePorts, ActionsBeforeAppendStayThePorts) {
  // form is the port's own even with a handle actor.
  Cell* p = push_port(handle::make(1, handle::CLASS_NULL));
  EXPECT_EQ(test::form_text(*p).rfind("make port! [", 0), 0u);
}
