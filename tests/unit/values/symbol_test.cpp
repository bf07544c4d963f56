// Symbols: interning in both modes, aliases, the string cache, C texts and
// comparison.
#include <gtest/gtest.h>

#include <string>

#include "foundation/memory.h"
#include "foundation/unicode.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/symbol.h"

using namespace kez;

namespace {

struct Symbols : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell make_string(const std::string& utf8) {
  return make_series(TYPE_STRING, unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()),
                                                         uint32_t(utf8.size())));
}

std::string name_of(int32_t id) {
  series_buffer* b = memory::buffer(symbol::entry(id)->w3);
  return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used());
}

}  // namespace

TEST_F(Symbols, InternsOnceWithCanonicalAliases) {
  int32_t lower = symbol::make("symAlpha");
  int32_t upper = symbol::make("SymAlpha");
  EXPECT_NE(lower, upper);
  EXPECT_EQ(symbol::get_alias(lower), -1);
  EXPECT_EQ(symbol::get_alias(upper), lower);
  EXPECT_EQ(symbol::resolve(lower), lower);
  EXPECT_EQ(symbol::resolve(upper), lower);
  EXPECT_EQ(symbol::make("symAlpha"), lower);
  EXPECT_EQ(symbol::make("SymAlpha"), upper);

  uint32_t before = symbol::count();
  EXPECT_EQ(symbol::make_ci("SYMALPHA"), lower);
  EXPECT_EQ(symbol::make_ci("SymAlpha"), lower);
  EXPECT_EQ(symbol::count(), before);
  int32_t fresh = symbol::make_ci("symNeverSeen");
  EXPECT_EQ(symbol::count(), before + 1);
  EXPECT_EQ(symbol::get_alias(fresh), -1);

  EXPECT_EQ(symbol::make_alt("symAlphabet", 8), lower);
  EXPECT_EQ(TYPE_OF(symbol::entry(lower)), TYPE_SYMBOL);
  EXPECT_EQ(name_of(upper), "SymAlpha");
  EXPECT_EQ(symbol::entry(upper)->w2, 0u);  // no string form until asked
}

TEST_F(Symbols, CachesTheStringFormOnce) {
  int32_t id = symbol::make("na\xC3\xAFve\xE2\x82\xAC");
  Cell* e = symbol::get(id);
  node_t cache = e->w2;
  ASSERT_NE(cache, 0u);
  EXPECT_EQ(symbol::get(id)->w2, cache);
  EXPECT_EQ(symbol::cache_string(id), cache);
  series_buffer* b = memory::buffer(cache);
  EXPECT_EQ(b->unit(), 2u);
  EXPECT_EQ(b->used() / 2, 6u);
  EXPECT_EQ(unicode::get_char(b->head_ptr() + 4, 2), 0xEFu);
}

TEST_F(Symbols, CTextOfAFullBuffer) {
  int32_t id = symbol::make("fifteen-letters");  // 15 bytes: a 16-byte buffer
  EXPECT_STREQ(symbol::to_cstr(id), "fifteen-letters");
  // Fill the buffer to its end: the NUL must not be written past it.
  series_buffer* b = memory::buffer(symbol::entry(id)->w3);
  ASSERT_EQ(b->size, 16u);
  b->data()[15] = '!';
  b->tail = 16;
  const char* text = symbol::to_cstr(id);
  EXPECT_STREQ(text, "fifteen-letters!");
  EXPECT_GT(memory::buffer(symbol::entry(id)->w3)->size, 16u);
}

TEST_F(Symbols, InternsStringValues) {
  Cell s = make_string("str\xC3\xA9\xE2\x82\xAC");
  s.w1 = 1;  // from the head
  uint32_t saved = memory::stress_interval;
  memory::stress_interval = 1;
  int32_t id = symbol::make_from_string(&s);
  memory::stress_interval = saved;
  EXPECT_EQ(name_of(id), "tr\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(symbol::make("tr\xC3\xA9\xE2\x82\xAC"), id);
}

TEST_F(Symbols, AnyTypeAndComparison) {
  int32_t any = symbol::make("any-type!");
  int32_t spelled = symbol::make("Any-Type!");
  Cell w{TYPE_WORD, 0, uint32_t(spelled), 0};
  EXPECT_TRUE(symbol::any_type(&w));
  w.w2 = uint32_t(symbol::make("integer!"));
  EXPECT_FALSE(symbol::any_type(&w));
  (void)any;

  auto sym = [](const char* name) { return *symbol::entry(symbol::make(name)); };
  Cell abc = sym("cmpAbc"), ABC = sym("CMPABC"), abd = sym("cmpAbd"), ab = sym("cmpAb");
  EXPECT_EQ(symbol::compare(&abc, &ABC, 0), 0);
  EXPECT_NE(symbol::compare(&abc, &ABC, 2), 0);
  EXPECT_EQ(symbol::compare(&abc, &abc, 9), 0);
  EXPECT_EQ(symbol::compare(&abc, &ABC, 9), -1);
  EXPECT_EQ(symbol::compare(&abc, &abd, 3), -1);
  EXPECT_EQ(symbol::compare(&abd, &abc, 5), 1);
  EXPECT_EQ(symbol::compare(&ab, &abc, 7), -1);
  EXPECT_EQ(symbol::compare(&ab, &abc, 0), 1);  // lengths differ: not equal
  EXPECT_EQ(symbol::compare(&ABC, &abc, 8), -1);  // case-sensitive order
}
