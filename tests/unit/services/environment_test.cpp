// The OS description and the command line as the environment service
// builds them (the boot routines hand them to the language).
#include <gtest/gtest.h>

#include <sys/utsname.h>

#include "evaluator/stack.h"
#include "foundation/runtime.h"
#include "services/environment.h"
#include "test_support.h"
#include "values/context.h"
#include "values/object.h"
#include "values/symbol.h"

using namespace kez;

TEST(Environment, CommandLineQuotesArgumentsWithBlanks) {
  char a0[] = "kez", a1[] = "a b", a2[] = "", a3[] = "t\tx", a4[] = "plain";
  char* argv[] = {a0, a1, a2, a3, a4, nullptr};
  int saved_argc = runtime::rt.argc;
  char** saved_argv = runtime::rt.argv;
  runtime::rt.argc = 5;
  runtime::rt.argv = argv;
  EXPECT_EQ(environment::get_cmdline(), "kez \"a b\" \"\" \"t\tx\" plain");
  runtime::rt.argc = saved_argc;
  runtime::rt.argv = saved_argv;
}

TEST(Environment, OsInfoHasItsFourFieldsInOrder) {
  test::ensure_runtime();
  Cell* info = stack::push_unset();
  environment::os_info(info);
  ASSERT_EQ(TYPE_OF(info), TYPE_OBJECT);
  const char* names[] = {"name", "arch", "version", "build"};
  const uint32_t types[] = {TYPE_STRING, TYPE_WORD, TYPE_TUPLE, TYPE_INTEGER};
  ASSERT_EQ(context::size(info->w1), 4u);
  for (uint32_t i = 0; i < 4; i++) {
    EXPECT_STREQ(symbol::to_cstr(context::word_at(info->w1, i)->w2), names[i]);
    EXPECT_EQ(TYPE_OF(context::values(info->w1) + i), types[i]) << names[i];
  }
  struct utsname u{};
  uname(&u);
  if (std::string_view(u.machine) == "x86_64") {
    EXPECT_STREQ(symbol::to_cstr(context::values(info->w1)[1].w2), "x86-64");
  }
  stack::pop(1);
}
