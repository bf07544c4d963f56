// The terminal key decoder over byte sequences, whole and split across reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/tty.h"

namespace kez::tty {
namespace {

struct key {
  int32_t code;
  uint32_t mods;
  bool operator==(const key&) const = default;
};

// Feeds the chunks one after the other, decoding after each; `flush` takes
// what is left as it stands at the end (the pause after a lone escape).
std::vector<key> decode(const std::vector<std::string>& chunks, bool flush = false) {
  key_decoder d;
  std::vector<key> keys;
  event e;
  for (const std::string& c : chunks) {
    d.feed(reinterpret_cast<const uint8_t*>(c.data()), c.size());
    while (d.next(e, false)) keys.push_back({e.kind == EV_KEY ? e.code : -1000, e.mods});
  }
  while (flush && d.next(e, true)) keys.push_back({e.code, e.mods});
  return keys;
}

TEST(KeyDecoder, SequencesGiveTheirKeys) {
  struct {
    const char* bytes;
    key expected;
  } cases[] = {
      {"\x1b[A", {KEY_UP, 0}},        {"\x1b[B", {KEY_DOWN, 0}},
      {"\x1b[C", {KEY_RIGHT, 0}},     {"\x1b[D", {KEY_LEFT, 0}},
      {"\x1b[H", {KEY_HOME, 0}},      {"\x1b[F", {KEY_END, 0}},
      {"\x1bOA", {KEY_UP, 0}},        {"\x1bOH", {KEY_HOME, 0}},
      {"\x1bOF", {KEY_END, 0}},       {"\x1b[1~", {KEY_HOME, 0}},
      {"\x1b[7~", {KEY_HOME, 0}},     {"\x1b[4~", {KEY_END, 0}},
      {"\x1b[8~", {KEY_END, 0}},      {"\x1b[2~", {KEY_INSERT, 0}},
      {"\x1b[3~", {KEY_DELETE, 0}},   {"\x1b[5~", {KEY_PAGE_UP, 0}},
      {"\x1b[6~", {KEY_PAGE_DOWN, 0}}, {"\x1bOP", {KEY_F1, 0}},
      {"\x1b[24~", {KEY_F1 - 11, 0}}, {"\x1b[1;5C", {KEY_RIGHT, MOD_CONTROL}},
      {"\x1b[1;2D", {KEY_LEFT, MOD_SHIFT}}, {"\x1b[3;3~", {KEY_DELETE, MOD_ALT}},
      {"\x1b[Z", {9, MOD_SHIFT}},     {"\r", {KEY_ENTER, 0}},
      {"\n", {KEY_ENTER, 0}},         {"\x7f", {127, 0}},
      {"\x03", {3, 0}},               {"\xc3\xa9", {0xE9, 0}},
      {"\xe4\xbd\xa0", {0x4F60, 0}},  {"\xf0\x9f\x98\x80", {0x1F600, 0}},
      {"\x1bx", {'x', MOD_ALT}},
  };
  for (const auto& c : cases) {
    std::vector<key> keys = decode({c.bytes});
    ASSERT_EQ(keys.size(), 1u) << c.bytes + 1;
    EXPECT_EQ(keys[0], c.expected) << c.bytes + 1;
  }
}

TEST(KeyDecoder, SplitSequencesWaitForTheirRest) {
  // Every split point of a few sequences gives the same single key.
  for (std::string s : {"\x1b[1;5C", "\x1b[24~", "\xf0\x9f\x98\x80", "\x1bOH"}) {
    std::vector<key> whole = decode({s});
    for (size_t cut = 1; cut < s.size(); cut++)
      EXPECT_EQ(decode({s.substr(0, cut), s.substr(cut)}), whole) << cut;
  }
  EXPECT_EQ(decode({"a\x1b", "[Db"}), (std::vector<key>{{'a', 0}, {KEY_LEFT, 0}, {'b', 0}}));
}

TEST(KeyDecoder, LoneEscapeAfterThePause) {
  EXPECT_TRUE(decode({"\x1b"}).empty());
  EXPECT_EQ(decode({"\x1b"}, true), (std::vector<key>{{KEY_ESCAPE, 0}}));
  EXPECT_EQ(decode({"\x1b\x1b[A"}), (std::vector<key>{{KEY_ESCAPE, 0}, {KEY_UP, 0}}));
  // A sequence cut short by the pause: the escape alone, then its bytes.
  EXPECT_EQ(decode({"\x1b["}, true), (std::vector<key>{{KEY_ESCAPE, 0}, {'[', 0}}));
}

TEST(KeyDecoder, ReportsAndUnknownSequences) {
  key_decoder d;
  std::string s = "\x1b[12;40Rx";
  d.feed(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  event e;
  ASSERT_TRUE(d.next(e, false));
  EXPECT_EQ(e.kind, EV_CURSOR_REPORT);
  EXPECT_EQ(e.row, 12);
  EXPECT_EQ(e.col, 40);
  ASSERT_TRUE(d.next(e, false));
  EXPECT_EQ(e.code, 'x');
  // Unknown sequences, title reports and mouse reports make no key.
  EXPECT_EQ(decode({"\x1b[99~\x1b]0;t\x07\x1b[<0;1;1M", "a"}), (std::vector<key>{{'a', 0}}));
}

TEST(KeyDecoder, BadUtf8BecomesReplacement) {
  EXPECT_EQ(decode({"\xff" "a"}), (std::vector<key>{{0xFFFD, 0}, {'a', 0}}));
  EXPECT_EQ(decode({"\xc3" "a"}), (std::vector<key>{{0xFFFD, 0}, {'a', 0}}));
  EXPECT_EQ(decode({"\xed\xa0\x80"}).front(), (key{0xFFFD, 0}));  // a surrogate
  EXPECT_EQ(decode({"\xe4\xbd"}, true), (std::vector<key>{{0xFFFD, 0}}));
}

}  // namespace
}  // namespace kez::tty
