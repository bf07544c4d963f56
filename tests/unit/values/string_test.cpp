// Strings: widening at the two thresholds, the actions that change text,
// mold and form, comparison, search, sort and set operations, with the
// mends (empty strings equal, /stable always stable, a NUL-free empty C
// string) and bad input that must raise without changing the target.
#include <gtest/gtest.h>

#include <string>

#include "foundation/memory.h"
#include "value_test_support.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"

using namespace kez;
using kez::test::form_text;
using kez::test::mold_text;
using kez::test::raised;
using kez::test::raises;

namespace {

struct Strings : testing::Test {
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
std::string T(const Cell& s) { return string::to_utf8(&s); }
uint32_t type(const Cell& c) { return TYPE_OF(&c); }
uint32_t unit(const Cell* s) { return GET_UNIT(s); }
Cell I(int32_t v) { return make_integer(v); }
Cell C(uint32_t cp) { return make_char(cp); }

Cell* append(Cell* s, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_append(s)(s, held, part, only, dup);
}
Cell* insert(Cell* s, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_insert(s)(s, held, part, only, dup);
}
Cell* change(Cell* s, Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
  Cell* held = stack::push(v);
  return actions::get_change(s)(s, held, part, only, dup);
}
Cell find(Cell s, Cell v, find_options o = {}) {
  Cell* r = stack::push(s);
  Cell* value = stack::push(v);
  actions::get_find(r)(r, value, o);
  return *r;
}
Cell select(Cell s, Cell v, find_options o = {}) {
  Cell* r = stack::push(s);
  Cell* value = stack::push(v);
  actions::get_select(r)(r, value, o);
  return *r;
}
std::string trim(const std::string& text, trim_options o = {}) {
  Cell* s = S(text);
  actions::get_trim(s)(s, o);
  return T(s);
}
Cell at(Cell s, uint32_t head) {
  s.w1 = head;
  return s;
}

}  // namespace

TEST_F(Strings, WideningFollowsTheTwoThresholds) {
  // Appending a char widens from 128; storing in place only from 256.
  Cell* a = S("abc");
  append(a, C(0xE9));
  EXPECT_EQ(unit(a), 2u);
  Cell* p = S("abc");
  Cell* v = stack::push(C(0xE9));
  Cell index = I(2);
  Cell* r = stack::push(*p);
  actions::get_poke(r)(r, 2, v, &index);
  EXPECT_EQ(unit(p), 1u);
  EXPECT_EQ(T(p), "aéc");
  Cell* wide = S("abc");
  append(wide, C(0x1F600));
  EXPECT_EQ(unit(wide), 4u);
  // Loading UTF-8 stores, so "é" alone keeps unit 1, and appending a
  // unit-1 string never widens.
  Cell* l = string::load("é");
  EXPECT_EQ(unit(l), 1u);
  Cell* b = S("abc");
  append(b, *l);
  EXPECT_EQ(unit(b), 1u);
  for (Cell* s : {a, b}) {
    EXPECT_EQ(form_text(*s), "abcé");
    EXPECT_EQ(mold_text(*s), "\"abcé\"");
  }
  EXPECT_EQ(form_text(*wide), "abc\xF0\x9F\x98\x80");
  // Appending a wide text to a narrow one converts on the way.
  Cell* n = S("xy");
  append(n, *wide);
  EXPECT_EQ(unit(n), 4u);
  EXPECT_EQ(T(n), "xyabc\xF0\x9F\x98\x80");
}

TEST_F(Strings, AppendInsertAndChange) {
  Cell* s = S("ab");
  append(s, *S("xy"), -1, false, 3);
  EXPECT_EQ(T(s), "abxyxyxy");
  EXPECT_EQ(s->w1, 0u);
  s = S("ab");
  append(s, *S("xyz"), 2);
  EXPECT_EQ(T(s), "abxy");
  s = S("");
  Cell* blk = test::push_block({I(12), *S("s"), C('c')});
  append(s, *blk);
  EXPECT_EQ(T(s), "12sc");
  s = S("");
  append(s, *blk, 2);  // /part counts block values
  EXPECT_EQ(T(s), "12s");
  s = S("");
  append(s, *blk, 3, true);  // with /only it counts characters
  EXPECT_EQ(T(s), "12s");
  Cell tag = *S("b");
  set_type(&tag, TYPE_TAG);
  s = S("a");
  append(s, tag);
  EXPECT_EQ(T(s), "a<b>");
  // Appending a string to itself reads the old text.
  s = S("ab");
  append(s, *s, -1, false, 2);
  EXPECT_EQ(T(s), "ababab");

  // insert: at the tail the head moves to the new tail; inside, past the text.
  s = S("abc");
  s->w1 = 3;
  insert(s, *S("de"));
  EXPECT_EQ(T(at(*s, 0)), "abcde");
  EXPECT_EQ(s->w1, 5u);
  s = S("abc");
  s->w1 = 1;
  insert(s, C(0x263A), -1, false, 2);
  EXPECT_EQ(T(at(*s, 0)), "a\u263A\u263Abc");
  EXPECT_EQ(s->w1, 3u);
  s = S("abc");
  s->w1 = 1;
  insert(s, I(42));
  EXPECT_EQ(T(at(*s, 0)), "a42bc");
  s = S("abcd");
  s->w1 = 2;
  insert(s, at(*s, 1));  // a source in the same buffer, before the gap
  EXPECT_EQ(T(at(*s, 0)), "abbcdcd");

  // change overwrites as many characters as it writes, or the /part range.
  s = S("abcdef");
  s->w1 = 1;
  change(s, *S("XY"));
  EXPECT_EQ(T(at(*s, 0)), "aXYdef");
  EXPECT_EQ(s->w1, 3u);
  s = S("abcdef");
  s->w1 = 1;
  change(s, C('Z'), 3);
  EXPECT_EQ(T(at(*s, 0)), "aZef");
  s = S("ab");
  s->w1 = 1;
  change(s, *S("XYZ"));
  EXPECT_EQ(T(at(*s, 0)), "aXYZ");
  s = S("ab");
  s->w1 = 2;
  change(s, *S("c"));
  EXPECT_EQ(T(at(*s, 0)), "abc");
  EXPECT_EQ(s->w1, 3u);
}

TEST_F(Strings, SwapAndPathAccess) {
  Cell* a = S("ab");
  Cell* b = S("é");
  append(b, C(0x263A));  // b is unit 2 now
  Cell* b2 = stack::push(at(*b, 1));
  actions::get_swap(a)(a, b2);
  EXPECT_EQ(T(a), "\u263Ab");
  EXPECT_EQ(T(b), "éa");
  Cell* i = stack::push(I(3));
  EXPECT_TRUE(raises(raised([&] { actions::get_swap(a)(a, i); }), err::SCRIPT,
                     err::script::INVALID_ARG));

  Cell* s = S("abc");
  Cell* out = stack::push_unset();
  Cell el = I(2);
  path_step get{s, &el, nullptr, nullptr, nullptr, nullptr, 1, false, false, false, true};
  actions::get_eval_path(s)(get, out);
  EXPECT_EQ(out->w2, uint32_t('b'));
  Cell nv = C('Z'), key = C('b');
  path_step set{s, &key, &nv, nullptr, nullptr, nullptr, 1, false, false, false, true};
  actions::get_eval_path(s)(set, out);
  EXPECT_EQ(T(s), "aZc");
  Cell missing = C('q');
  path_step bad{s, &missing, &nv, nullptr, nullptr, nullptr, 1, false, false, false, true};
  EXPECT_TRUE(raises(raised([&] { actions::get_eval_path(s)(bad, out); }), err::SCRIPT,
                     err::script::BAD_PATH_SET));
  Cell w = word::make_global(symbol::make("foo"));
  path_step word_step{s, &w, nullptr, nullptr, nullptr, nullptr, 1, false, false, false, true};
  EXPECT_TRUE(raises(raised([&] { actions::get_eval_path(s)(word_step, out); }), err::SCRIPT,
                     err::script::INVALID_PATH));
}

TEST_F(Strings, Trim) {
  trim_options all, with, head, tail, lines, automatic;
  all.all = true;
  head.head = true;
  tail.tail = true;
  lines.lines = true;
  automatic.automatic = true;
  EXPECT_EQ(trim("  a  \n   b c \t\n\n  "), "a\nb c\n");
  EXPECT_EQ(trim("a  \n\n  b"), "a\n\nb");
  EXPECT_EQ(trim("\t line one  \n    line two\n"), "line one\nline two\n");
  EXPECT_EQ(trim("  x  "), "x");
  EXPECT_EQ(trim(" a \n b ", lines), "a b");
  EXPECT_EQ(trim(" a \t b\r\n ", all), "ab");
  EXPECT_EQ(trim("  a b  ", head), "a b  ");
  EXPECT_EQ(trim("  a b \n", tail), "  a b");
  Cell* x = S("x");
  with.with = x;
  EXPECT_EQ(trim("axbxc", with), "abc");
  Cell* empty = S("");
  with.with = empty;
  EXPECT_EQ(trim("axb", with), "axb");
  Cell c = C('b');
  with.with = &c;
  EXPECT_EQ(trim("abcb", with), "ac");
  Cell* s = S(" a ");
  EXPECT_TRUE(raises(raised([&] { actions::get_trim(s)(s, automatic); }), err::INTERNAL,
                     err::internal::NOT_DONE));
  EXPECT_EQ(T(s), " a ");
}

TEST_F(Strings, MoldChoosesQuotesOrBracesAndEscapes) {
  struct Case {
    std::string text;
    std::string molded;
    bool all = false;
  } cases[] = {
      {std::string(49, 'a'), "\"" + std::string(49, 'a') + "\""},
      {std::string(50, 'a'), "{" + std::string(50, 'a') + "}"},
      {"a\nb\nc", "\"a^/b^/c\""},
      {"a\nb\nc\n", "{a^/b^/c^/}"},
      {"say \"hi\"", "{say \"hi\"}"},
      {"\x1E", "\"^(1E)\""},
      {"\x7F", "\"^~\""},
      {std::string(1, '\0'), "\"^@\""},
      {"\t^", "\"^-^^\""},
      {"\u0085\u00A0", "\"^(85)\u00A0\""},
      {"é", "\"^(E9)\"", true},
      {"\u263A", "\"^(263A)\"", true},
      {"", "\"\""},
      {"\"{a}", "{\"{a}}"},
      {"\"{a", "{\"^{a}"},
      {"\"}{ {}", "{\"^}^{ ^{^}}"},
  };
  for (const Case& c : cases) {
    Cell* s = string::push_new(4);
    string::append_utf8(s, c.text);
    EXPECT_EQ(mold_text(*s, c.all), c.molded) << c.text;
    EXPECT_EQ(form_text(*s), c.text);
  }
  // The budget: considered characters plus the two delimiters.
  Cell* s = S("abcdef");
  Cell* out = string::push_new(8);
  EXPECT_EQ(actions::mold(s, out, false, false, false, 100, 0), 92);
  EXPECT_EQ(actions::form(s, out, 100), 94);
}

TEST_F(Strings, CompareFoldsCaseUnlessStrict) {
  Cell* a = S("abc");
  Cell* b = S("ABC");
  EXPECT_TRUE(actions::compare(a, b, COMP_EQUAL));
  EXPECT_FALSE(actions::compare(a, b, COMP_STRICT_EQUAL));
  EXPECT_TRUE(actions::compare(a, S("abd"), COMP_LESSER));
  EXPECT_TRUE(actions::compare(S("ab"), a, COMP_LESSER));
  // Two distinct empty strings are equal.
  EXPECT_TRUE(actions::compare(S(""), S(""), COMP_EQUAL));
  EXPECT_TRUE(actions::compare(S(""), S(""), COMP_STRICT_EQUAL));
  EXPECT_FALSE(actions::compare(S(""), a, COMP_EQUAL));
  // Another string kind: equal? only.
  Cell f = *S("abc");
  set_type(&f, TYPE_FILE);
  EXPECT_TRUE(actions::compare(a, &f, COMP_EQUAL));
  EXPECT_EQ(actions::compare_values(a, &f, COMP_LESSER), -2);
  EXPECT_TRUE(raises(raised([&] { actions::compare(a, &f, COMP_LESSER); }), err::SCRIPT,
                     err::script::INVALID_COMPARE));
  // Texts of different units compare by characters.
  Cell* w = S("abc");
  append(w, C(0x263A));
  Cell* n = S("abc\u263A");
  EXPECT_TRUE(actions::compare(w, n, COMP_STRICT_EQUAL));
  EXPECT_EQ(actions::compare_values(a, a, COMP_SAME), 0);
  EXPECT_EQ(actions::compare_values(a, S("abc"), COMP_SAME), -1);
}

TEST_F(Strings, FindAndSelect) {
  Cell s = *S("abcabc");
  find_options cs, last, rev, match, tail, skip0, part0;
  cs.case_sensitive = true;
  last.last = true;
  rev.reverse = true;
  match.match = true;
  tail.tail = true;
  Cell zero = I(0);
  skip0.skip = &zero;
  part0.part = &zero;
  Cell r = find(s, *S("B"));
  EXPECT_EQ(T(&r), "bcabc");
  EXPECT_EQ(type(find(s, *S("B"), cs)), TYPE_NONE);
  EXPECT_EQ(find(s, C('C')).w1, 2u);
  EXPECT_EQ(find(s, *S("bc"), last).w1, 4u);
  EXPECT_EQ(type(find(s, *S("a"), rev)), TYPE_NONE);  // at the head
  EXPECT_EQ(find(at(s, 4), *S("a"), rev).w1, 3u);
  EXPECT_EQ(find(s, *S("ab"), match).w1, 0u);
  EXPECT_EQ(type(find(s, *S("bc"), match)), TYPE_NONE);
  match.tail = true;
  EXPECT_EQ(find(s, *S("ab"), match).w1, 2u);
  EXPECT_EQ(find(s, *S("ca"), tail).w1, 4u);
  EXPECT_EQ(type(find(s, C('a'), part0)), TYPE_NONE);
  EXPECT_TRUE(raises(raised([&] { find(s, C('a'), skip0); }), err::SCRIPT,
                     err::script::OUT_OF_RANGE));
  Cell two = I(2);
  find_options skip2;
  skip2.skip = &two;
  EXPECT_EQ(find(s, C('b'), skip2).w1, 4u);  // positions 0, 2, 4
  Cell* three = stack::push(I(3));
  find_options part3;
  part3.part = three;
  EXPECT_EQ(type(find(s, *S("ca"), part3)), TYPE_NONE);
  // A number is searched for as its text; a word by its name.
  EXPECT_EQ(find(*S("x12y"), I(12)).w1, 1u);
  EXPECT_EQ(find(*S("a foo"), word::make_global(symbol::make("FOO"))).w1, 2u);
  // select gives the character after the match; none past the end.
  Cell c = select(s, *S("ab"));
  EXPECT_EQ(c.w2, uint32_t('c'));
  EXPECT_EQ(type(select(s, C('c'), last)), TYPE_NONE);
  // A binary! pattern needs a binary! series.
  Cell bin = *S("a");
  set_type(&bin, TYPE_BINARY);
  EXPECT_TRUE(raises(raised([&] { find(s, bin); }), err::SCRIPT, err::script::INVALID_ARG));
  // Case folding reaches beyond ASCII, in any unit.
  Cell* u = S("straÉe");
  append(u, C(0x263A));
  EXPECT_EQ(find(*u, *S("aée")).w1, 3u);
}

TEST_F(Strings, Sort) {
  auto sorted = [&](Cell* s, sort_options o = {}) {
    actions::get_sort(s)(s, o);
    return T(s);
  };
  EXPECT_EQ(sorted(S("dBca")), "aBcd");
  sort_options cs;
  cs.case_sensitive = true;
  EXPECT_EQ(sorted(S("dBca"), cs), "Bacd");
  sort_options rev;
  rev.reverse = true;
  EXPECT_EQ(sorted(S("dBca"), rev), "dcBa");
  // Unit 1 folds only A-Z; a wider buffer folds é and É together.
  EXPECT_EQ(sorted(S("éÉe")), "eÉé");
  Cell* w = S("éÉe");
  append(w, C(0x263A));
  std::string t = sorted(w);
  EXPECT_EQ(t.substr(0, 1), "e");
  // /stable keeps records with equal keys in order, with or without /case.
  Cell size = I(2);
  sort_options st;
  st.skip = &size;
  st.stable = true;
  st.case_sensitive = true;
  std::string records;
  for (int i = 0; i < 40; i++) records += std::string(1, char('a' + i % 2)) + char('0' + i % 10);
  std::string expect;
  for (int k = 0; k < 2; k++)
    for (int i = k; i < 40; i += 2) expect += std::string(1, char('a' + k)) + char('0' + i % 10);
  EXPECT_EQ(sorted(S(records), st), expect);
  // /skip with /compare offset and /all.
  sort_options off;
  off.skip = &size;
  Cell second = I(2);
  off.comparator = &second;
  EXPECT_EQ(sorted(S("a3b1c2"), off), "b1c2a3");
  // A function as comparator: true when its first argument goes first.
  Cell* args = test::push_block({word::make_global(symbol::make("a")),
                                 word::make_global(symbol::make("b"))});
  Cell* lesser = stack::push(make_datatype(TYPE_NATIVE));
  Cell* spec = test::push_block({*args, I(28)});  // lesser?
  actions::peek_make(TYPE_NATIVE)(lesser, spec, TYPE_NATIVE);
  sort_options user;
  user.comparator = lesser;
  EXPECT_EQ(sorted(S("dbca"), user), "abcd");
  user.reverse = true;
  user.stable = true;
  EXPECT_EQ(sorted(S("dbca"), user), "dcba");
  sort_options records_user;
  records_user.comparator = lesser;
  records_user.skip = &size;
  records_user.all = true;
  EXPECT_EQ(sorted(S("b2a9b1"), records_user), "a9b1b2");
  // Bad refinements raise before anything changes.
  Cell* s = S("abc");
  Cell bad = I(2);
  sort_options o1;
  o1.skip = &bad;
  EXPECT_TRUE(raises(raised([&] { actions::get_sort(s)(s, o1); }), err::SCRIPT,
                     err::script::INVALID_REFINE_ARG));
  sort_options o2;
  o2.all = true;
  EXPECT_TRUE(raises(raised([&] { actions::get_sort(s)(s, o2); }), err::SCRIPT,
                     err::script::BAD_REFINES));
  sort_options o3;
  Cell one = I(1);
  o3.comparator = &one;
  EXPECT_TRUE(raises(raised([&] { actions::get_sort(s)(s, o3); }), err::SCRIPT,
                     err::script::BAD_REFINES));
  EXPECT_EQ(T(s), "abc");
  // A negative /part sorts before the head.
  Cell* p = S("cbaz");
  p->w1 = 3;
  Cell neg = I(-3);
  sort_options o4;
  o4.part = &neg;
  actions::get_sort(p)(p, o4);
  EXPECT_EQ(T(at(*p, 0)), "abcz");
}

TEST_F(Strings, SetOperations) {
  auto op = [&](const char* a, const char* b, int32_t code, bool cs = false,
                const Cell* skip = nullptr) {
    Cell* r = S(a);
    Cell* other = b ? S(b) : nullptr;
    string::do_set_op(r, other, code, cs, skip);
    return T(r);
  };
  EXPECT_EQ(op("abcAbca", nullptr, OP_UNIQUE), "abc");
  EXPECT_EQ(op("abcAbca", nullptr, OP_UNIQUE, true), "abcA");
  EXPECT_EQ(op("abc", "cdE", OP_UNION), "abcdE");
  EXPECT_EQ(op("abc", "BCD", OP_INTERSECT), "bc");
  EXPECT_EQ(op("abc", "BCD", OP_INTERSECT, true), "");
  EXPECT_EQ(op("abcd", "bd", OP_EXCLUDE), "ac");
  EXPECT_EQ(op("abc", "bcd", OP_DIFFERENCE), "ad");
  Cell two = I(2);
  EXPECT_EQ(op("a1b2a3", nullptr, OP_UNIQUE, false, &two), "a1b2");
  Cell zero = I(0);
  EXPECT_TRUE(raises(raised([&] { op("ab", nullptr, OP_UNIQUE, false, &zero); }), err::SCRIPT,
                     err::script::INVALID_REFINE_ARG));
  Cell f = *S("abca");
  set_type(&f, TYPE_FILE);
  Cell* r = stack::push(f);
  string::do_set_op(r, nullptr, OP_UNIQUE, false, nullptr);
  EXPECT_EQ(TYPE_OF(r), TYPE_FILE);
  EXPECT_EQ(T(r), "abc");
}

TEST_F(Strings, MakeAndTo) {
  Cell* proto = stack::push(make_datatype(TYPE_STRING));
  Cell neg = I(-1);
  EXPECT_TRUE(raises(raised([&] { actions::peek_make(TYPE_STRING)(proto, &neg, TYPE_STRING); }),
                     err::SCRIPT, err::script::OUT_OF_RANGE));
  Cell size = I(10);
  string::make(proto, &size, TYPE_STRING);
  EXPECT_EQ(TYPE_OF(proto), TYPE_STRING);
  EXPECT_EQ(string::rs_length(proto), 0u);
  EXPECT_TRUE(raises(raised([&] { string::to(proto, &none_value, TYPE_STRING); }), err::SCRIPT,
                     err::script::BAD_TO_ARG));
  Cell* blk = test::push_block({I(1), *S("a"), C('b')});
  string::to(proto, blk, TYPE_FILE);
  EXPECT_EQ(TYPE_OF(proto), TYPE_FILE);
  EXPECT_EQ(T(proto), "1ab");
  // A copy, not the same buffer.
  Cell* src = S("abc");
  src->w1 = 1;
  string::to(proto, src, TYPE_STRING);
  EXPECT_NE(proto->w2, src->w2);
  EXPECT_EQ(T(proto), "bc");
  // Binary decodes as UTF-8; invalid or cut sequences raise.
  std::string utf8 = "\xC3\xA9";
  Cell* good = stack::push_unset();
  *good = make_series(TYPE_BINARY, memory::alloc_bytes(4));
  std::memcpy(GET_BUFFER(good)->head_ptr(), utf8.data(), 2);
  GET_BUFFER(good)->tail = 2;
  string::to(proto, good, TYPE_STRING);
  EXPECT_EQ(T(proto), "é");
  GET_BUFFER(good)->tail = 1;
  EXPECT_TRUE(raises(raised([&] { string::to(proto, good, TYPE_STRING); }), err::ACCESS,
                     err::access::INVALID_UTF8));
  // A refinement forms for string! and molds for the other kinds.
  Cell ref = word::make_global(symbol::make("dir"));
  set_type(&ref, TYPE_REFINEMENT);
  string::to(proto, &ref, TYPE_STRING);
  EXPECT_EQ(T(proto), "dir");
  string::to(proto, &ref, TYPE_FILE);
  EXPECT_EQ(T(proto), "/dir");
}

TEST_F(Strings, Primitives) {
  Cell* s = S("ab");
  string::append_c_string(s, "");  // appends nothing, no NUL
  EXPECT_EQ(string::rs_length(s), 2u);
  string::append_c_string(s, "cd");
  EXPECT_EQ(T(s), "abcd");
  EXPECT_TRUE(string::match_c_string(s, "abc"));
  EXPECT_FALSE(string::match_c_string(s, "abcde"));
  EXPECT_EQ(string::find_char(s, 'c'), 2);
  EXPECT_TRUE(string::has_char(s, 'C', 1, false));
  EXPECT_FALSE(string::has_char(s, 'b', 2, false));  // positions 0 and 2 only
  string::insert_char(s->w2, 99, 'z');  // past the tail: at the tail
  EXPECT_EQ(T(s), "abcdz");
  string::overwrite_char(s->w2, 6, 0x263A);  // grows and widens
  EXPECT_EQ(string::rs_length(s), 7u);
  EXPECT_EQ(unit(s), 2u);
  string::remove_chars(s, 5, 99);
  EXPECT_EQ(T(s), "abcdz");
  Cell* t = S("XY");
  string::move_chars(s, t, 2);
  EXPECT_EQ(T(t), "abXY");
  EXPECT_EQ(T(s), "cdz");
  EXPECT_STREQ(string::to_hex(255, false), "000000FF");
  EXPECT_STREQ(string::to_hex(-1, false), "FFFFFFFF");
  EXPECT_STREQ(string::to_hex(0x1E, true), "1E");
  EXPECT_STREQ(string::to_hex(0, true), "00");
  Cell* o = S("hello");
  string::overwrite(o, S("HE"), -1, 0);
  EXPECT_EQ(T(o), "HEllo");
  string::concatenate(o, S("--"), -1, 2, true, 1);
  EXPECT_EQ(T(o), "HE--llo");
}

TEST_F(Strings, SurvivesBuffersMovingOnEveryAllocation) {
  memory::stress_interval = 1;
  Cell* s = S("abc");
  for (int i = 0; i < 50; i++) append(s, C(i % 7 == 0 ? 0x263A : 'a' + i % 26));
  s->w1 = 2;
  insert(s, *S("xyz"));
  Cell* blk = test::push_block({I(1), *S("é"), C('b')});
  s->w1 = 3;
  insert(s, *blk);
  change(s, *blk, 2);
  s->w1 = 0;
  append(s, *s);
  std::string before = T(s);
  EXPECT_EQ(mold_text(*s).size() > before.size(), true);
  sort_options o;
  o.stable = true;
  actions::get_sort(s)(s, o);
  Cell r = find(*s, *S("#"));
  EXPECT_EQ(TYPE_OF(&r), TYPE_NONE);
  string::do_set_op(s, nullptr, OP_UNIQUE, false, nullptr);
  EXPECT_LE(string::rs_length(s), 30u);
}
