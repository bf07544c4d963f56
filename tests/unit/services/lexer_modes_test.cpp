// The lexer's scan modes, its callback protocol and the transcode native.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/memory.h"
#include "lexer_support.h"
#include "test_support.h"
#include "values/block.h"
#include "values/function.h"
#include "values/string.h"
#include "values/symbol.h"

using namespace kez;

namespace {

struct LexerModes : testing::Test {
  void SetUp() override {
    test::ensure_runtime();
    mark = stack::mark();
  }
  void TearDown() override { mark.restore(); }
  stack::mark mark;
};

lexer::scan_options prescan() {
  lexer::scan_options o;
  o.load_values = false;
  return o;
}
lexer::scan_options scan_only() {
  lexer::scan_options o;
  o.one = true;
  o.not_scan = false;
  return o;
}

int32_t type_of_scan(const std::string& text, lexer::scan_options o) {
  int32_t type = -1;
  test::scan(text, o, &type);
  return type;
}

// A callback made of a C++ routine with the lexer callback's arguments;
// `body` is the callback's body block (its first block selects events).
Cell make_callback(routines::routine_fn fn, const char* body) {
  static Cell keep[16];
  static int used = 0;
  uint32_t code = routines::add(fn);
  const char* spec_text = "event input type line token";
  Cell* spec = lexer::scan_utf8(spec_text, uint32_t(std::strlen(spec_text)));
  Cell* body_block = lexer::scan_utf8(body, uint32_t(std::strlen(body)));
  function::push(spec, body_block, 0, code, 0, 0);
  Cell fn_value = *stack::top_cell();
  set_type(&fn_value, TYPE_ROUTINE);
  keep[used] = fn_value;
  collector::add_root(&keep[used++]);
  return fn_value;
}

std::vector<std::string> events;
int32_t move_at = -1, move_to = -1;  // 1-based token start, new input index
bool drop_integers = false;

void recorder() {
  Cell* a = stack::arguments;
  std::string e = symbol::to_cstr(a[0].w2);
  e += " " + test::show(&a[2]);
  if (TYPE_OF(&a[4]) == TYPE_PAIR && int32_t(a[4].w2) == move_at) a[1].w1 = uint32_t(move_to);
  bool keep = !(drop_integers && e == "load integer!");
  events.push_back(e);
  a[0] = make_logic(keep);
}

Cell transcode(const Cell& src, std::initializer_list<int> used, const Cell* part = nullptr,
               const Cell* into = nullptr, const Cell* trace = nullptr) {
  stack::open_native_frame(nullptr);
  stack::push(src);
  int32_t refs[7] = {-1, -1, -1, -1, -1, -1, -1};
  int32_t next = 1;
  for (int r : used) refs[r] = next;
  if (part) refs[4] = next++, stack::push(*part);
  if (into) refs[5] = next++, stack::push(*into);
  if (trace) refs[6] = next++, stack::push(*trace);
  natives::transcode_star(false, refs);
  Cell result = stack::arguments[0];
  stack::pop_frame();
  return result;
}
enum { NEXT, ONE, PRESCAN, SCAN };

}  // namespace

TEST_F(LexerModes, PrescanAndScanAnswerTypes) {
  EXPECT_EQ(type_of_scan("[1 2] x", prescan()), int32_t(TYPE_BLOCK));
  EXPECT_EQ(type_of_scan("  1 2", prescan()), int32_t(TYPE_INTEGER));
  EXPECT_EQ(type_of_scan("a/b c", prescan()), int32_t(TYPE_PATH));
  EXPECT_EQ(type_of_scan("{a{b}c} 1", prescan()), int32_t(TYPE_STRING));
  EXPECT_EQ(type_of_scan("", prescan()), 0);
  EXPECT_EQ(type_of_scan("; just a comment", prescan()), 0);
  EXPECT_EQ(type_of_scan("} 1", prescan()), int32_t(TYPE_ERROR));
  EXPECT_EQ(type_of_scan("[1 2", prescan()), int32_t(TYPE_ERROR));
  EXPECT_EQ(type_of_scan("1a", scan_only()), int32_t(TYPE_ERROR));
  EXPECT_EQ(type_of_scan("1.2.3 x", scan_only()), int32_t(TYPE_TUPLE));
  EXPECT_EQ(type_of_scan("x: 1", scan_only()), int32_t(TYPE_SET_WORD));
  EXPECT_EQ(type_of_scan("[a b] c", scan_only()), int32_t(TYPE_BLOCK));
  EXPECT_EQ(type_of_scan("#[a 1]", scan_only()), int32_t(TYPE_MAP));
  EXPECT_EQ(type_of_scan("(1, 2, 3)", scan_only()), int32_t(TYPE_POINT3D));
}

TEST_F(LexerModes, OneValue) {
  lexer::scan_options o;
  o.one = true;
  uint32_t consumed = 0;
  EXPECT_EQ(test::scan("[1 [2]] 3", o, nullptr, &consumed), "[1 [2]]");
  EXPECT_EQ(consumed, 7u);
  EXPECT_EQ(test::scan("é 3", o, nullptr, &consumed), "é");
  EXPECT_EQ(consumed, 1u);  // characters of the string, not bytes
  o.wrap = true;
  EXPECT_EQ(test::scan("a/b c", o, nullptr, &consumed), "[a/b]");
  EXPECT_EQ(consumed, 3u);
}

TEST_F(LexerModes, DeclinedErrorsGoOnWhereTheErrorWasFound) {
  const char* body_text = "[[error] #(false)]";
  Cell* spec = lexer::scan_utf8("event input type line token", 27);
  Cell* body = lexer::scan_utf8(body_text, uint32_t(std::strlen(body_text)));
  function::push(spec, block::rs_head(body), 0, 0, 0, 0);
  Cell fn = *stack::top_cell();
  ASSERT_EQ(TYPE_OF(&fn), TYPE_FUNCTION);
  lexer::scan_options o;
  o.callback = &fn;
  EXPECT_EQ(test::scan("1 2a 3", o), "[1 a 3]");
  EXPECT_EQ(test::scan("1 } ] 3", o), "[1 3]");
  EXPECT_EQ(test::scan("[1 (2, 3", o), "#(none)");
}

TEST_F(LexerModes, EventsInOrder) {
  Cell fn = make_callback(recorder, "");
  lexer::scan_options o;
  o.callback = &fn;
  events.clear();
  EXPECT_EQ(test::scan("[a 1] ;c\n{s}", o), "[[a 1] \"s\"]");
  std::vector<std::string> expected = {
      "prescan #(none)", "open block!",  "prescan word!",  "scan word!",
      "load word!",      "prescan integer!", "scan integer!", "load integer!",
      "prescan #(none)", "close block!", "prescan #(none)", "scan #(none)",
      "prescan #(none)", "open string!", "close string!", "scan string!", "load string!"};
  EXPECT_EQ(events, expected);
}

TEST_F(LexerModes, CallbackDecidesAndMovesInput) {
  Cell fn = make_callback(recorder, "[prescan load]");
  lexer::scan_options o;
  o.callback = &fn;
  drop_integers = true;
  EXPECT_EQ(test::scan("a 1 b 2", o), "[a b]");
  drop_integers = false;
  // At the token that starts at 3 the callback moves the input past "skip 2".
  move_at = 3;
  move_to = 8;
  EXPECT_EQ(test::scan("1 skip 2 3 4", o), "[1 3 4]");
  move_at = move_to = -1;
}

TEST_F(LexerModes, Transcode) {
  Cell* src = string::load("1 [2 3] x");
  EXPECT_EQ(test::show_items(&*stack::push(transcode(*src, {}))), "1 [2 3] x");
  Cell next = transcode(*src, {NEXT});
  ASSERT_EQ(TYPE_OF(&next), TYPE_BLOCK);
  EXPECT_EQ(test::show(block::rs_head(&next)), "1");
  EXPECT_EQ(block::rs_head(&next)[1].w1, 1u);
  Cell one = transcode(*src, {ONE});
  EXPECT_EQ(test::show(&one), "1");
  Cell type = transcode(*src, {PRESCAN});
  EXPECT_EQ(test::show(&type), "integer!");
  Cell bad = transcode(*string::load("1a"), {SCAN});
  EXPECT_EQ(test::show(&bad), "error!");
  Cell none = transcode(*string::load("  "), {SCAN});
  EXPECT_EQ(test::show(&none), "#(none)");
  Cell three = make_integer(3);
  Cell part = transcode(*string::load("1 234"), {}, &three);
  EXPECT_EQ(test::show(&part), "[1 2]");
  Cell* into = block::push_only(4);
  Cell zero = make_integer(0);
  block::rs_append(into, &zero);
  Cell filled = transcode(*src, {}, nullptr, into);
  EXPECT_EQ(test::show(&filled), "[0 1 [2 3] x]");
  const char bom[] = "\xEF\xBB\xBF" "a b";
  Cell* bin = stack::push(make_series(TYPE_BINARY, memory::alloc_bytes(6)));
  std::memcpy(GET_BUFFER(bin)->data(), bom, 6);
  GET_BUFFER(bin)->tail = 6;
  Cell from_binary = transcode(*bin, {});
  EXPECT_EQ(test::show(&from_binary), "[a b]");
  EXPECT_EQ(test::error_of([&] { transcode(*src, {}, bin); }), "script/not-same-type");
}

TEST_F(LexerModes, SurvivesCollectionsAndMoves) {
  std::string text;
  for (int i = 0; i < 200; i++)
    text += "[a/b/:c \"str" + std::to_string(i) + "\" #{0102} %f.txt #[k " + std::to_string(i) +
            "] (1, 2) {x{y}} 1.2.3] ";
  std::string plain = test::load(text);
  bool active = collector::active;
  auto hook = memory::stress_hook;
  collector::active = true;
  memory::stress_hook = [] {
    if (!collector::running) collector::do_cycle();
    memory::relocate_all();
  };
  memory::stress_interval = 7;
  uint32_t cycles = collector::stats.cycles;
  std::string stressed = test::load(text);
  EXPECT_GT(collector::stats.cycles, cycles + 100);
  memory::stress_interval = 0;
  memory::stress_hook = hook;
  collector::active = active;
  EXPECT_EQ(stressed, plain);
  EXPECT_EQ(stressed.substr(0, 59), "[a/b/:c \"str0\" #{0102} %f.txt #[k: 0] (1, 2) \"x{y}\" 1.2.3] ");
}
