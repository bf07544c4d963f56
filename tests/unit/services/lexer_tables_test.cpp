// The tokenizer's tables: every row of the transition table against the
// rows as written "default, then exceptions", the byte classes, the types of
// the states, and one token of each kind read through /scan.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "lexer_support.h"
#include "services/lexer_engine.h"
#include "services/lexer_tables.h"
#include "test_support.h"

using namespace kez;
using namespace kez::lexer;

namespace {

// Each row: "* default; classes next; ...".
const char* const ROWS[STATE_COUNT] = {
    "* 52; blank, LF, control 0; ; 1; dquote 2; % 6; / 13; # 16; 1-9, 0 23; $ 36; E, A-F 40; < 43; +, - 47; . 49; ', : 51; @ 57; = 58; end 66; }, \\, continuation, illegal 67; [ 68; ] 69; ( 70; ) 71; { 72; , 78",  // 0
    "* 1; illegal 67; LF, end 77",  // 1
    "* 2; ^ 3; LF, illegal, end 67; dquote 79",  // 2
    "* 2; illegal, end 67",  // 3
    "* 4; ^ 5; illegal, end 67; { 72; } 73",  // 4
    "* 4; illegal, end 67",  // 5
    "* 7; dquote 8; % 9; { 10; : 54; illegal 67; blank, LF, [, ], (, ), }, ;, @, control, end 80",  // 6
    "* 7; dquote, illegal 67; blank, LF, [, ], (, ), {, }, :, ;, @, end 85",  // 7
    "* 8; LF, illegal, end 67; dquote 85",  // 8
    "* 7; % 9; { 10; illegal 67; blank, LF, [, ], (, ), }, dquote, \\, ;, control, end 80",  // 9
    "* 10; } 11; illegal, end 67",  // 10
    "* 10; } 11; % 12; illegal, end 67",  // 11
    "* 67; % 12; blank, LF, [, ], (, ), {, dquote, <, ;, control, end 100",  // 12
    "* 14; / 15; : 53; ,, illegal 67; blank, LF, [, ], (, ), {, }, dquote, #, ;, @, control, end 80",  // 13
    "* 14; :, ,, illegal 67; blank, LF, [, ], (, ), {, }, dquote, /, ;, @, control, end 83",  // 14
    "* 52; / 15; %, ,, $, illegal 67; blank, LF, [, ], (, ), {, }, dquote, #, ;, @, control, end 80",  // 15
    "* 22; { 17; dquote 19; ( 21; blank, LF, ], ), }, :, <, >, ,, illegal 67; [ 74; ;, @, control, end 81",  // 16
    "* 67; blank, LF, 1-9, 0, x X, T, h, e, E, a-f, A-F, /, =, +, letter 17; ; 18; } 86",  // 17
    "* 18; LF 17; illegal, end 67",  // 18
    "* 19; ^ 20; illegal, end 67; dquote 84",  // 19
    "* 19; illegal, end 67",  // 20
    "* 21; illegal, end 67; ) 76",  // 21
    "* 22; :, /, illegal 67; blank, LF, [, ], (, ), {, }, dquote, ;, @, control, end 81",  // 22
    "* 82; # 16; 1-9, 0, ' 23; . 24; e 26; E 27; T, /, - 30; : 31; x X 33; A-F 39; h 42; @ 56; a-f, \\, >, =, $, +, ^, continuation, letter, illegal 67; % 87",  // 23
    "* 67; 1-9, 0, ' 25; e, E 26; # 28; x X 33; % 87; blank, LF, [, ], (, ), {, }, dquote, /, <, ,, ;, control, end 88",  // 24
    "* 88; 1-9, 0, ' 25; e, E 26; . 29; x X 33; @ 56; #, T, h, a-f, A-F, \\, >, =, $, +, -, ^, continuation, letter, illegal 67; % 87",  // 25
    "* 67; 1-9, 0, +, - 26; @ 56; % 87; blank, LF, [, ], (, ), {, }, dquote, :, /, <, ,, ;, control, end 88",  // 26
    "* 88; +, - 26; 1-9, 0 27; . 29; E, A-F 40; h 42; @ 56; #, ', x X, T, e, a-f, \\, >, =, ;, $, ^, continuation, letter, illegal 67; % 87",  // 27
    "* 89; x X, T, h, e, E, a-f, A-F, >, =, ., +, -, continuation, letter 28; #, ', :, %, @, $, ^, illegal 67; 1-9 88",  // 28
    "* 67; 1-9, 0, . 29; blank, LF, [, ], (, ), {, }, dquote, :, /, <, ;, control, end 90",  // 29
    "* 30; %, ,, @, ^, continuation, illegal 67; blank, LF, [, ], (, ), {, }, dquote, <, ;, $, control, end 91",  // 30
    "* 67; 1-9, 0 32",  // 31
    "* 67; 1-9, 0, :, ., , 32; blank, LF, [, ], (, ), {, }, dquote, /, <, ;, control, end 94",  // 32
    "* 67; 1-9, 0, +, - 34; @ 56",  // 33
    "* 67; 1-9, 0, e, E, . 34; @ 56; blank, LF, [, ], (, ), {, }, dquote, :, /, <, ;, control, end 92",  // 34
    "* 67; blank, 1-9, 0, ], #, e, E, a-f, A-F, ,, ., +, -, letter 35; ) 93",  // 35
    "* 67; 1-9, 0 37",  // 36
    "* 67; 1-9, 0, ' 37; ., , 38; blank, LF, [, ], (, ), {, }, dquote, #, :, /, <, ;, control, end 95",  // 37
    "* 67; 1-9, 0, ' 38; blank, LF, [, ], (, ), {, }, dquote, #, :, /, <, ;, control, end 95",  // 38
    "* 67; 1-9, 0, E, A-F 39; h 41; @ 56",  // 39
    "* 80; $ 37; 1-9, 0, E, A-F 40; h 41; ', x X, T, e, a-f, <, >, =, ., +, -, ^, continuation, letter 52; : 53; @ 56; %, ,, illegal 67; / 75",  // 40
    "* 52; $ 37; : 53; @ 56; #, %, ,, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, \\, ;, control, end 99",  // 41
    "* 67; $ 37; @ 56; / 75; blank, LF, [, ], (, ), {, }, dquote, \\, <, ;, control, end 99",  // 42
    "* 44; < 43; ' 46; >, =, - 52; : 53; illegal 67; blank, LF, [, ], (, ), {, }, dquote, ;, control, end 80",  // 43
    "* 44; dquote 45; ' 46; illegal, end 67; > 96",  // 44
    "* 45; dquote 44; illegal, end 67",  // 45
    "* 46; ' 44; illegal, end 67",  // 46
    "* 52; 1-9, 0 23; $ 37; . 49; ', %, ,, ^, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, #, \\, ;, control, end 80",  // 47
    "* 52; ', %, ,, $, ^, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, #, \\, ;, control, end 80",  // 48
    "* 52; 1-9, 0, +, - 50; : 53; @ 56; %, ,, $, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, #, \\, ;, control, end 80",  // 49
    "* 67; x X 33; 1-9, 0, e, E, +, - 50; @ 56; % 87; blank, LF, [, ], (, ), {, }, dquote, :, /, <, control, end 88",  // 50
    "* 67; / 13; < 43; +, - 48; x X, T, h, e, E, a-f, A-F, >, ., ^, continuation, letter 52; % 54; = 58",  // 51
    "* 52; $ 36; : 53; @ 56; %, ,, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, #, \\, <, ;, control, end 80",  // 52
    "* 55; <, illegal 67; blank, LF, [, ], (, ), {, }, dquote, \\, ;, control, end 80",  // 53
    "* 67; % 54; blank, LF, [, ], (, ), {, }, \\, ;, control, end 80",  // 54
    "* 55; >, ^, illegal 67; blank, LF, [, ], (, ), {, }, dquote, \\, <, ;, control, end 97",  // 55
    "* 98; 1-9, 0, x X, T, h, e, E, a-f, A-F, %, ., +, -, continuation, letter 56; #, ', :, >, =, ,, @, $, ^, illegal 67",  // 56
    "* 57; #, ', \\, >, =, ,, @, $, ^, illegal 67; blank, LF, [, ], (, ), {, }, dquote, <, ;, control, end 101",  // 57
    "* 52; #, %, ,, @, $, illegal 67; / 75; blank, LF, [, ], (, ), {, }, dquote, :, \\, ;, control, end 80",  // 58
    "* 67; dquote 2; $ 36; < 43; @ 57; 1-9, 0 60; ', : 61; x X, T, h, e, E, a-f, A-F, >, =, ., continuation, letter 62; # 63; +, - 64; ( 70; ) 71",  // 59
    "* 67; . 24; e, E 26; x X 33; @ 56; 1-9, 0, ' 60; blank, LF, [, ], (, ), {, }, dquote, :, /, <, ;, control, end 82; % 87",  // 60
    "* 67; x X, T, h, e, E, a-f, A-F, <, >, =, ., +, -, continuation, letter 62",  // 61
    "* 62; $ 36; @ 56; #, %, ,, illegal 67; blank, LF, [, ], (, ), {, }, dquote, :, /, \\, ;, control, end 80",  // 62
    "* 22; dquote 19; [ 21; blank, LF, ], (, ), {, }, :, /, <, >, =, ,, ;, @, control, illegal, end 67",  // 63
    "* 80; $ 36; @ 56; 1-9, 0 60; x X, T, h, e, E, a-f, A-F, >, =, ., continuation, letter 62; +, - 64; #, ', <, %, ,, ^, illegal 67",  // 64
};

const std::map<std::string, uint32_t> CLASS_NAMES = {
    {"blank", C_BLANK}, {"LF", C_LINE}, {"1-9", C_DIGIT}, {"0", C_ZERO}, {"[", C_BLOCK_OPEN},
    {"]", C_BLOCK_CLOSE}, {"(", C_PAREN_OPEN}, {")", C_PAREN_CLOSE}, {"{", C_BRACE_OPEN},
    {"}", C_BRACE_CLOSE}, {"dquote", C_DQUOTE}, {"#", C_HASH}, {"'", C_QUOTE}, {":", C_COLON},
    {"x X", C_X}, {"T", C_T}, {"h", C_H}, {"e", C_E_LOW}, {"E", C_E_UP}, {"a-f", C_HEX_LOW},
    {"A-F", C_HEX_UP}, {"/", C_SLASH}, {"\\", C_BACKSLASH}, {"<", C_LESS}, {">", C_GREATER},
    {"=", C_EQUAL}, {"%", C_PERCENT}, {",", C_COMMA}, {";", C_SEMICOLON}, {"@", C_AT},
    {".", C_DOT}, {"$", C_DOLLAR}, {"+", C_PLUS}, {"-", C_MINUS}, {"^", C_CARET},
    {"control", C_CONTROL}, {"continuation", C_CONTINUATION}, {"letter", C_LETTER},
    {"illegal", C_ILLEGAL}, {"end", C_END},
};

// Splits a row into (classes, next) entries: an entry ends at a space,
// digits, and then "; " or the end of the row.
std::vector<std::pair<std::string, int>> entries(const std::string& row) {
  std::vector<std::pair<std::string, int>> out;
  size_t pos = 0;
  while (pos < row.size()) {
    for (size_t i = pos + 1; i < row.size(); i++) {
      if (row[i] != ' ') continue;
      size_t j = i + 1;
      while (j < row.size() && isdigit(static_cast<unsigned char>(row[j]))) j++;
      if (j == i + 1 || (j < row.size() && row.compare(j, 2, "; ") != 0)) continue;
      out.emplace_back(row.substr(pos, i - pos), std::stoi(row.substr(i + 1, j - i - 1)));
      pos = j + 2;
      break;
    }
  }
  return out;
}

std::vector<uint32_t> classes_of(const std::string& list) {
  std::vector<uint32_t> out;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(", ", pos);
    // "," itself is a class: ", ," reads as the class ",".
    if (comma == pos) comma = list.find(", ", pos + 1);
    std::string name = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    auto it = CLASS_NAMES.find(name);
    EXPECT_NE(it, CLASS_NAMES.end()) << "class " << name;
    if (it != CLASS_NAMES.end()) out.push_back(it->second);
    if (comma == std::string::npos) break;
    pos = comma + 2;
  }
  return out;
}

}  // namespace

TEST(LexerTables, EveryTransitionRow) {
  for (uint32_t s = 0; s < STATE_COUNT; s++) {
    std::vector<int> expected(CLASS_COUNT, -1);
    for (const auto& [list, next] : entries(ROWS[s])) {
      if (list == "*") {
        for (int& e : expected)
          if (e < 0) e = next;
        continue;
      }
      for (uint32_t c : classes_of(list)) expected[c] = next;
    }
    // The default applies to every class the row does not name.
    auto parsed = entries(ROWS[s]);
    for (uint32_t c = 0; c < CLASS_COUNT; c++) {
      int want = expected[c];
      bool named = false;
      for (const auto& [list, next] : parsed)
        if (list != "*")
          for (uint32_t k : classes_of(list)) named |= k == c;
      if (!named) want = parsed.front().second;
      EXPECT_EQ(TRANSITIONS[s * CLASS_COUNT + c], want) << "state " << s << " class " << c;
    }
    // Running out of input always ends a token.
    EXPECT_GE(TRANSITIONS[s * CLASS_COUNT + C_END], FIRST_FINAL) << "state " << s;
  }
}

TEST(LexerTables, ByteClasses) {
  struct expect {
    const char* bytes;
    uint32_t cls;
  };
  const expect cases[] = {
      {"\t\r ", C_BLANK}, {"\n", C_LINE}, {"123456789", C_DIGIT}, {"0", C_ZERO},
      {"xX", C_X}, {"T", C_T}, {"h", C_H}, {"e", C_E_LOW}, {"E", C_E_UP}, {"abcdf", C_HEX_LOW},
      {"ABCDF", C_HEX_UP}, {"!&*?GHIJKLMNOPQRSUVWYZ_`gijklmnopqrstuvwyz|~", C_LETTER},
      {"\x01\x08\x0B\x0C\x0E\x1F", C_CONTROL}, {"\x7F\x80\xBF", C_CONTINUATION},
      {"\xC2\xEF\xF0\xF7", C_LETTER}, {"\xC0\xC1\xF8\xFF", C_ILLEGAL},
  };
  for (const auto& e : cases)
    for (const char* p = e.bytes; *p; p++)
      EXPECT_EQ(CLASSES[uint8_t(*p)] & 0xFF, e.cls) << "byte " << int(uint8_t(*p));
  EXPECT_EQ(CLASSES[0], C_END | F_END);
  EXPECT_EQ(CLASSES[':'], C_COLON | F_COLON);
  EXPECT_EQ(CLASSES[0xC3], C_LETTER | F_UTF8_2 | F_HIGH);
  EXPECT_EQ(CLASSES[0xF0], C_LETTER | F_UTF8_4 | F_HIGH);
}

TEST(LexerTables, StateTypes) {
  const std::pair<std::vector<int>, uint32_t> groups[] = {
      {{2, 3, 4, 5, 10, 11, 12}, TYPE_STRING}, {{6, 7, 8, 9}, TYPE_FILE},
      {{13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}, TYPE_WORD},
      {{14}, TYPE_REFINEMENT}, {{16, 22, 63}, TYPE_ISSUE}, {{17}, TYPE_BINARY},
      {{19, 20}, TYPE_CHAR}, {{23, 40, 42, 60}, TYPE_INTEGER}, {{24, 25, 26, 27, 28, 50}, TYPE_FLOAT},
      {{29}, TYPE_TUPLE}, {{30}, TYPE_DATE}, {{31, 32}, TYPE_TIME}, {{33, 34}, TYPE_PAIR},
      {{35}, TYPE_POINT2D}, {{36, 37, 38}, TYPE_MONEY}, {{43, 44, 45, 46}, TYPE_TAG},
      {{53}, TYPE_SET_WORD}, {{55}, TYPE_URL}, {{56}, TYPE_EMAIL}, {{57}, TYPE_REF},
      {{59}, TYPE_PATH}, {{0, 1, 18, 21, 39}, 0},
  };
  uint32_t seen = 0;
  for (const auto& [states, type] : groups)
    for (int s : states) {
      EXPECT_EQ(STATE_TYPES[s], type) << "state " << s;
      seen++;
    }
  EXPECT_EQ(seen, STATE_COUNT);
}

// One token of each kind: the final state the tokenizer reaches from state
// 0, and the type /scan reports for it.
TEST(LexerTables, EveryToken) {
  test::ensure_runtime();
  struct token_case {
    const char* text;
    uint32_t token;
    int32_t scanned;  // type /scan answers, -1: not asked
  };
  const token_case cases[] = {
      {"", T_END, 0}, {"}", T_ERROR, TYPE_ERROR}, {"[", T_BLOCK_OPEN, -1},
      {"]", T_BLOCK_CLOSE, -1}, {"(", T_PAREN_OPEN, -1}, {")", T_PAREN_CLOSE, -1},
      {"{", T_BRACE_OPEN, -1}, {"#[", T_MAP_OPEN, -1}, {"a/", T_PATH, -1},
      {"#(none)", T_CONSTRUCT, TYPE_NONE}, {";x", T_COMMENT, 0}, {",", T_COMMA, -1},
      {"\"s\"", T_STRING, TYPE_STRING}, {"word", T_WORD, TYPE_WORD}, {"#is", T_ISSUE, TYPE_ISSUE},
      {"12", T_INTEGER, TYPE_INTEGER}, {"/ref", T_REFINEMENT, TYPE_REFINEMENT},
      {"#\"c\"", T_CHAR, TYPE_CHAR}, {"%f", T_FILE, TYPE_FILE}, {"#{00}", T_BINARY, TYPE_BINARY},
      {"5%", T_PERCENT, TYPE_PERCENT}, {"1.5", T_FLOAT, TYPE_FLOAT},
      {"1.#INF", T_SPECIAL_FLOAT, TYPE_FLOAT}, {"1.2.3", T_TUPLE, TYPE_TUPLE},
      {"1-1-2000", T_DATE, TYPE_DATE}, {"3x4", T_PAIR, TYPE_PAIR},
      {"(1, 2)", T_PAREN_OPEN, TYPE_POINT2D}, {"1:00", T_TIME, TYPE_TIME},
      {"$1", T_MONEY, TYPE_MONEY}, {"<t>", T_TAG, TYPE_TAG}, {"a:b", T_URL, TYPE_URL},
      {"a@b", T_EMAIL, TYPE_EMAIL}, {"FFh", T_HEX, TYPE_INTEGER},
      {"%{r}%", T_RAW_STRING, TYPE_STRING}, {"@r", T_REF, TYPE_REF},
  };
  for (const auto& c : cases) {
    uint32_t st = 0, next = 0;
    for (const char* p = c.text;; p++) {
      next = TRANSITIONS[st * CLASS_COUNT + (*p ? CLASSES[uint8_t(*p)] & 0xFF : uint32_t(C_END))];
      if (next >= FIRST_FINAL) break;
      st = next;
    }
    EXPECT_EQ(next - FIRST_FINAL, c.token) << c.text;
    if (c.scanned < 0) continue;
    scan_options o;
    o.one = true;
    o.not_scan = false;
    int32_t type = -1;
    test::scan(c.text, o, &type);
    EXPECT_EQ(type, c.scanned) << c.text;
  }
}
