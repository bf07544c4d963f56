// char!, bitset!, file! and url! as values, and the text natives: char
// arithmetic and its range, bitset specs, bit order, bitwise operations
// with complemented operands, the file and URL text forms, and percent
// decoding that only accepts valid UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/natives.h"
#include "foundation/memory.h"
#include "value_test_support.h"
#include "values/bitset.h"
#include "values/error_ids.h"
#include "values/file.h"
#include "values/symbol.h"
#include "values/url.h"
#include "values/word.h"

using namespace kez;
using kez::test::act2;
using kez::test::form_text;
using kez::test::mold_text;
using kez::test::push_block;
using kez::test::raised;
using kez::test::raises;

namespace {

struct TextValues : testing::Test {
  Cell* saved = nullptr;
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override {
    stack::top = saved;
    memory::stress_interval = 0;
  }
};

Cell* S(const std::string& utf8) { return test::push_string(utf8); }
std::string T(const Cell* s) { return string::to_utf8(s); }
Cell I(int32_t v) { return make_integer(v); }
Cell C(uint32_t cp) { return make_char(cp); }
Cell F(double d) { return make_float(d); }
Cell W(const char* name) { return word::make_global(symbol::make(name)); }
Cell typed(Cell c, uint32_t type) { return *set_type(&c, type); }

Cell to(uint32_t type, Cell spec) {
  Cell* proto = stack::push(make_datatype(type));
  Cell* s = stack::push(spec);
  actions::peek_to(type)(proto, s, type);
  return *proto;
}
Cell make(uint32_t type, Cell spec) {
  Cell* proto = stack::push(make_datatype(type));
  Cell* s = stack::push(spec);
  actions::peek_make(type)(proto, s, type);
  return *proto;
}
Cell bits(Cell spec) { return make(TYPE_BITSET, spec); }
bool in(Cell b, Cell v) {
  Cell* r = stack::push(b);
  Cell* value = stack::push(v);
  actions::get_find(r)(r, value, {});
  return TYPE_OF(r) == TYPE_LOGIC;
}

// A native on the given arguments, its result.
template <class F>
Cell native(F fn, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs = {-1}) {
  Cell* saved_args = stack::arguments;
  stack::arguments = stack::top;
  for (const Cell& a : args) stack::push(a);
  std::vector<int32_t> r(refs);
  fn(false, r.data());
  Cell result = *stack::arguments;
  stack::top = stack::arguments;
  stack::arguments = saved_args;
  return result;
}

}  // namespace

TEST_F(TextValues, CharArithmeticAndRange) {
  Cell b = act2(ACT_add, C('a'), I(1));
  EXPECT_EQ(TYPE_OF(&b), TYPE_CHAR);
  EXPECT_EQ(b.w2, uint32_t('b'));
  EXPECT_EQ(act2(ACT_multiply, C(2), F(3.9)).w2, 6u);
  EXPECT_EQ(act2(ACT_remainder, C('z'), I(10)).w2, uint32_t('z') % 10);
  EXPECT_EQ(act2(ACT_or_t, C('A'), I(32)).w2, uint32_t('a'));
  EXPECT_TRUE(raises(raised([&] { act2(ACT_subtract, C('a'), C('b')); }), err::MATH,
                     err::math::OVERFLOW));
  EXPECT_TRUE(raises(raised([&] { act2(ACT_add, C('a'), I(1114111)); }), err::MATH,
                     err::math::OVERFLOW));
  EXPECT_TRUE(raises(raised([&] { act2(ACT_add, C('a'), I(0x7FFFFFFF)); }), err::MATH,
                     err::math::OVERFLOW));
  EXPECT_TRUE(raises(raised([&] { act2(ACT_divide, C('a'), I(0)); }), err::MATH,
                     err::math::ZERO_DIVIDE));
  EXPECT_TRUE(raises(raised([&] { act2(ACT_add, C('a'), *S("x")); }), err::SCRIPT,
                     err::script::INVALID_TYPE));

  EXPECT_EQ(to(TYPE_CHAR, F(65.9)).w2, uint32_t('A'));
  EXPECT_EQ(to(TYPE_CHAR, F(-0.5)).w2, 0u);
  EXPECT_EQ(to(TYPE_CHAR, *S("xyz")).w2, uint32_t('x'));
  EXPECT_EQ(make(TYPE_CHAR, I(0x263A)).w2, 0x263Au);
  for (Cell bad : {I(1114112), I(-1), F(1e300)}) {
    EXPECT_TRUE(raises(raised([&] { to(TYPE_CHAR, bad); }), err::SCRIPT, err::script::OUT_OF_RANGE));
  }
  for (Cell bad : {*S(""), none_value, W("a")}) {
    EXPECT_TRUE(raises(raised([&] { to(TYPE_CHAR, bad); }), err::SCRIPT, err::script::BAD_TO_ARG));
  }

  Cell* a = stack::push(C('a'));
  Cell n = I(97);
  EXPECT_TRUE(actions::compare(a, &n, COMP_EQUAL));
  EXPECT_FALSE(actions::compare(a, &n, COMP_STRICT_EQUAL));
  Cell upper = C('A');
  EXPECT_FALSE(actions::compare(a, &upper, COMP_EQUAL));
  EXPECT_TRUE(actions::compare(&upper, a, COMP_LESSER));

  struct Case {
    uint32_t cp;
    const char* molded;
    bool all = false;
  } cases[] = {{'"', "#\"^\"\""}, {0, "#\"^@\""},       {10, "#\"^/\""},
               {9, "#\"^-\""},    {30, "#\"^(1E)\""},   {127, "#\"^~\""},
               {0x85, "#\"^(85)\""}, {0xE9, "#\"é\""}, {0xE9, "#\"^(E9)\"", true}};
  for (const Case& c : cases) EXPECT_EQ(mold_text(C(c.cp), c.all), c.molded);
  EXPECT_EQ(form_text(C(0xE9)), "é");
}

TEST_F(TextValues, BitsetSpecsAndMold) {
  Cell a = bits(C('a'));
  EXPECT_EQ(mold_text(a), "make bitset! #{00000000000000000000000040}");
  Cell* held = stack::push(a);
  EXPECT_EQ(actions::get_length_q(held)(held), 104);
  EXPECT_TRUE(in(a, C('a')));
  EXPECT_FALSE(in(a, C('b')));
  EXPECT_FALSE(in(a, C(0x263A)));  // beyond the buffer

  Cell ten = bits(I(10));
  Cell* t = stack::push(ten);
  EXPECT_EQ(actions::get_length_q(t)(t), 16);
  EXPECT_FALSE(in(ten, I(3)));

  Cell not_a = bits(*push_block({W("not"), C('a')}));
  EXPECT_TRUE(in(not_a, C('z')));
  EXPECT_TRUE(in(not_a, C(0x10FFFF)));
  EXPECT_FALSE(in(not_a, C('a')));
  EXPECT_EQ(mold_text(not_a), "make bitset! [not #{00000000000000000000000040}]");

  Cell range = bits(*push_block({C('a'), W("-"), C('c'), *S("xz"), I(2)}));
  for (uint32_t c : {97u, 98u, 99u, 120u, 122u, 2u}) EXPECT_TRUE(in(range, C(c))) << c;
  EXPECT_FALSE(in(range, C('y')));
  EXPECT_TRUE(in(range, *push_block({C('a'), W("-"), C('c')})));
  EXPECT_FALSE(in(range, *S("ay")));
  EXPECT_FALSE(in(range, I(-5)));

  struct Bad {
    Cell spec;
    int id;
  } bad[] = {
      {*push_block({C('c'), W("-"), C('a')}), err::script::PAST_END},
      {*push_block({C('a'), W("-")}), err::script::PAST_END},
      {*push_block({C('a'), W("-"), *S("b")}), err::script::PAST_END},
      {*push_block({C('a'), W("-"), I(5)}), err::script::INVALID_ARG},
      {I(-1), err::script::OUT_OF_RANGE},
      {*push_block({I(-1)}), err::script::OUT_OF_RANGE},
      {W("x"), err::script::BAD_MAKE_ARG},
  };
  for (const Bad& b : bad) {
    EXPECT_TRUE(raises(raised([&] { bits(b.spec); }), err::SCRIPT, b.id)) << b.id;
  }
  EXPECT_TRUE(raises(raised([&] { to(TYPE_BITSET, I(8)); }), err::SCRIPT, err::script::BAD_TO_ARG));

  // From a binary!, its bytes (inverted after `not`).
  Cell* bin = stack::push(make_series(TYPE_BINARY, memory::alloc_bytes(2)));
  GET_BUFFER(bin)->head_ptr()[0] = 0x80;
  GET_BUFFER(bin)->tail = 1;
  EXPECT_TRUE(in(bits(*bin), I(0)));
  Cell inv = bits(*push_block({W("not"), *bin}));
  EXPECT_FALSE(in(inv, I(0)));
  EXPECT_TRUE(in(inv, I(1)));
  EXPECT_EQ(mold_text(inv), "make bitset! [not #{80}]");
}

TEST_F(TextValues, BitsetActions) {
  Cell* b = stack::push(bits(*S("ab")));
  Cell v = C('a'), off = false_value;
  Cell* r = stack::push(*b);
  actions::get_poke(r)(r, 0, &off, &v);
  EXPECT_FALSE(in(*b, C('a')));
  Cell* value = stack::push(C(300));
  actions::get_append(b)(b, value, -1, false, 1);
  EXPECT_TRUE(in(*b, C(300)));
  r = stack::push(*b);
  Cell key = C(1000);
  actions::get_pick(r)(r, 0, &key);
  EXPECT_EQ(TYPE_OF(r), TYPE_LOGIC);
  EXPECT_EQ(r->w1, 0u);
  EXPECT_TRUE(raises(raised([&] { actions::get_remove(b)(b, nullptr, nullptr); }), err::SCRIPT,
                     err::script::MISSING_ARG));
  Cell part = C('b');
  actions::get_remove(b)(b, &part, nullptr);
  EXPECT_FALSE(in(*b, C('b')));
  // Removing from a complemented bitset takes the members out too.
  Cell* c = stack::push(bits(*push_block({W("not"), C('a')})));
  actions::get_remove(c)(c, &part, nullptr);
  EXPECT_FALSE(in(*c, C('b')));
  EXPECT_TRUE(in(*c, C('c')));
  EXPECT_TRUE(in(*c, C(5000)));

  // complement toggles the flag and inverts the bytes.
  Cell* n = stack::push(bits(C('a')));
  actions::get_complement(n)(n);
  EXPECT_FALSE(in(*n, C('a')));
  EXPECT_TRUE(in(*n, C('b')));
  EXPECT_TRUE(in(*n, C(9999)));

  // clear empties the set; a complemented one keeps its flag.
  actions::get_clear(n)(n);
  EXPECT_TRUE(in(*n, C('a')));
  Cell* p = stack::push(bits(*S("xyz")));
  actions::get_clear(p)(p);
  EXPECT_FALSE(in(*p, C('x')));

  Cell* x = stack::push(bits(*S("ab")));
  Cell* y = stack::push(bits(*S("ab")));
  EXPECT_TRUE(actions::compare(x, y, COMP_EQUAL));
  EXPECT_FALSE(actions::compare(x, y, COMP_SAME));
  EXPECT_EQ(actions::compare_values(x, stack::push(I(1)), COMP_EQUAL), -2);
}

TEST_F(TextValues, BitsetOperationsRespectComplements) {
  auto op = [&](Cell a, Cell b, int32_t code) {
    Cell* r = stack::push(a);
    bitset::do_set_op(r, &b, code);
    return *r;
  };
  Cell plain = bits(*S("ab"));
  Cell wide = bits(*S("a\u263A"));
  Cell not_b = bits(*push_block({W("not"), C('b')}));
  Cell u = op(plain, not_b, OP_UNION);
  EXPECT_TRUE(bitset::complemented(&u));
  EXPECT_TRUE(in(u, C('b')));
  EXPECT_TRUE(in(u, C(0x263A)));
  // The complemented operand is shorter: past its end it holds every value.
  Cell i = op(wide, not_b, OP_INTERSECT);
  EXPECT_FALSE(bitset::complemented(&i));
  EXPECT_TRUE(in(i, C(0x263A)));
  EXPECT_TRUE(in(i, C('a')));
  Cell e = op(wide, not_b, OP_EXCLUDE);
  EXPECT_FALSE(in(e, C(0x263A)));
  EXPECT_FALSE(in(e, C('a')));
  Cell d = op(plain, not_b, OP_DIFFERENCE);
  EXPECT_TRUE(bitset::complemented(&d));
  EXPECT_FALSE(in(d, C('a')));
  EXPECT_TRUE(in(d, C('b')));
  EXPECT_TRUE(in(d, C('c')));
  EXPECT_TRUE(in(d, C(70000)));
  Cell andp = op(plain, wide, OP_AND);
  EXPECT_TRUE(in(andp, C('a')));
  EXPECT_FALSE(in(andp, C('b')));
  EXPECT_TRUE(raises(raised([&] { op(plain, I(1), OP_OR); }), err::SCRIPT,
                     err::script::INVALID_TYPE));
  Cell same = op(plain, plain, OP_UNIQUE);
  EXPECT_EQ(same.w2, plain.w2);
}

TEST_F(TextValues, FileMoldAndLocalPath) {
  struct Case {
    std::string text;
    std::string molded;
  } cases[] = {
      {"abc-1", "%abc-1"},
      {"a b", "%\"a b\""},
      {"a;b", "%\"a;b\""},
      {"", "%\"\""},
      {"dé/x.txt", "%dé/x.txt"},
      {"a\"^\nb", "%\"a^(22)^^^/b\""},
      {"(x)", "%\"(x)\""},
      {"a:b@c", "%\"a:b@c\""},
  };
  for (const Case& c : cases) {
    Cell f = typed(*S(c.text), TYPE_FILE);
    EXPECT_EQ(mold_text(f), c.molded);
    EXPECT_EQ(form_text(f), c.text);
  }
  Cell* out = string::push_new(8);
  file::to_local_path(stack::push(typed(*S("/c/x"), TYPE_FILE)), out, true);
  EXPECT_EQ(T(out), "/c/x");
  out = string::push_new(8);
  file::to_local_path(stack::push(typed(*S("dir/f"), TYPE_FILE)), out, false);
  EXPECT_EQ(T(out), "dir/f");
  Cell full = native(natives::to_local_file_star, {typed(*S("dir/f"), TYPE_FILE)}, {1});
  std::string text = T(&full);
  EXPECT_EQ(text.front(), '/');
  EXPECT_EQ(text.substr(text.size() - 6), "/dir/f");
  Cell* nul = stack::push(typed(*S(std::string("a\0b", 3)), TYPE_FILE));
  EXPECT_TRUE(raises(raised([&] { file::to_os_path(nul); }), err::ACCESS,
                     err::access::CANNOT_OPEN));
}

TEST_F(TextValues, UrlsEncodeDecodeAndJoin) {
  Cell u = to(TYPE_URL, *S("http://a.b/c dé"));
  EXPECT_EQ(TYPE_OF(&u), TYPE_URL);
  EXPECT_EQ(mold_text(u), "http://a.b/c%20d%C3%A9");
  EXPECT_EQ(form_text(u), "http://a.b/c dé");
  EXPECT_EQ(mold_text(typed(*S("http://x.y/?a=1&b:2"), TYPE_URL)), "http://x.y/?a=1&b:2");
  // An empty URL leaves the budget as it found it.
  Cell* empty = stack::push(typed(*S(""), TYPE_URL));
  Cell* out = string::push_new(4);
  EXPECT_EQ(actions::mold(empty, out, false, false, false, 50, 0), 50);

  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"%41", "A"},          {"%C3%A9", "é"},       {"%C3%41", "%C3A"},
      {"%C3x", "%C3x"},      {"%zz%4", "%zz%4"},    {"%E2%98%BA", "\u263A"},
      {"%C0%80", "%C0\u0080"},  {"%ED%A0%80", "%ED\u00A0\u0080"}, {"a%20b", "a b"},
      {"%A9", "\u00A9"},
  };
  for (const Case& c : cases) {
    Cell r = native(natives::dehex_star, {*S(c.in)});
    EXPECT_EQ(T(&r), c.out) << c.in;
  }
  Cell e = native(natives::enhex_star, {*S("a b/é")});
  EXPECT_EQ(T(&e), "a%20b%2F%C3%A9");
  Cell eu = native(natives::enhex_star, {typed(*S("a b/é"), TYPE_URL)});
  EXPECT_EQ(T(&eu), "a%20b/%C3%A9");

  Cell built = to(TYPE_URL, *push_block({W("http"), *S("host"), I(8080), *S("a"), *S("b"),
                                         typed(W("frag"), TYPE_ISSUE)}));
  EXPECT_EQ(T(&built), "http://host:8080/a/b#frag");
  Cell short_url = to(TYPE_URL, *push_block({W("ftp"), *S("h"), I(21)}));
  EXPECT_EQ(T(&short_url), "ftp://h:21");
  EXPECT_TRUE(raises(raised([&] { to(TYPE_URL, *push_block({})); }), err::SCRIPT,
                     err::script::BAD_TO_ARG));

  auto join = [&](Cell base, Cell sel) {
    Cell* parent = stack::push(base);
    Cell* res = stack::push_unset();
    path_step step{parent, &sel, nullptr, nullptr, nullptr, nullptr, 1, false, false, false, true};
    actions::get_eval_path(parent)(step, res);
    return *res;
  };
  Cell j = join(typed(*S("http://a/"), TYPE_URL), *S("/x"));
  EXPECT_EQ(T(&j), "http://a/x");
  j = join(typed(*S("http://a"), TYPE_URL), W("x"));
  EXPECT_EQ(T(&j), "http://a/x");
  j = join(typed(*S("dir"), TYPE_FILE), *S("f.txt"));
  EXPECT_EQ(TYPE_OF(&j), TYPE_FILE);
  EXPECT_EQ(T(&j), "dir/f.txt");
}

TEST_F(TextValues, CaseNatives) {
  Cell* s = S("abc");
  Cell two = I(2);
  Cell* limit = stack::push(two);
  (void)limit;
  Cell r = native(natives::uppercase_star, {*s, two}, {1});
  EXPECT_EQ(T(&r), "ABc");
  r = native(natives::lowercase_star, {C(0x3A9)});
  EXPECT_EQ(r.w2, 0x3C9u);
  Cell* y = S("\u00FF");
  native(natives::uppercase_star, {*y});
  EXPECT_EQ(T(y), "\u0178");
  EXPECT_EQ(GET_UNIT(y), 2u);
}
