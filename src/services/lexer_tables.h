// The lexer's tables: byte classes, the transition table of the tokenizer and
// the datatype each state stands for.
//
// The tokenizer reads one byte at a time: the class table gives the byte's
// class (low 8 bits) and a flag (upper bits), and the transition table gives
// the next state from (state, class). A next state above LAST_STATE is final:
// the token ends before that byte, and the token index is next - FIRST_FINAL.
// Every row sends the end class to a final state, so running out of input
// always ends a token. The rows are written below as "default, then
// exceptions" over sets of classes; the whole table is built at compile time.
#pragma once
#include <array>
#include <cstdint>

#include "values/cell.h"

namespace kez::lexer {

enum char_class : uint8_t {
  C_BLANK, C_LINE, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
  C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_HASH, C_QUOTE, C_COLON, C_X, C_T, C_H, C_E_LOW,
  C_E_UP, C_HEX_LOW, C_HEX_UP, C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT,
  C_COMMA, C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CONTROL,
  C_CONTINUATION, C_LETTER, C_ILLEGAL, C_END,
  CLASS_COUNT
};

// Internal bits beside the class flags: F_LINE marks the line feed so that
// the tokenizer counts lines without a compare (cleared from a token's
// flags); F_HIGH marks every byte of 0x80 and above, so that loaders know
// plain ASCII text without looking at it again.
constexpr uint32_t F_LINE = 0x100;
constexpr uint32_t F_HIGH = 0x200;

// Token flags: the class flags of every byte read for a token are ORed.
constexpr uint32_t F_BRACE_LINES = 0x00020000;  // a line break in a brace string's "{" chunk
constexpr uint32_t F_PERCENT = 0x00040000;
constexpr uint32_t F_GREATER = 0x00080000;
constexpr uint32_t F_LESS = 0x00100000;
constexpr uint32_t F_SIGN = 0x00200000;
constexpr uint32_t F_END = 0x00400000;
constexpr uint32_t F_HASH = 0x00800000;
constexpr uint32_t F_EXPONENT = 0x01000000;
constexpr uint32_t F_QUOTE = 0x02000000;
constexpr uint32_t F_COLON = 0x04000000;
constexpr uint32_t F_COMMA = 0x08000000;
constexpr uint32_t F_DOT = 0x10000000;
constexpr uint32_t F_CARET = 0x20000000;
constexpr uint32_t F_UTF8_2 = 0x40000000;  // a two- or three-byte UTF-8 lead byte
constexpr uint32_t F_UTF8_4 = 0x80000000;  // a four-byte UTF-8 lead byte

constexpr uint32_t STATE_COUNT = 65;
constexpr uint32_t LAST_STATE = 65;   // states are 0..64; 65 is never used
constexpr uint32_t FIRST_FINAL = 66;  // final states are 66..101
constexpr uint32_t FINAL_COUNT = 36;

// Entry states that scanners set for the next token.
constexpr int32_t S_START = 0;
constexpr int32_t S_BRACE_BODY = 4;
constexpr int32_t S_POINT_BODY = 35;
constexpr int32_t S_PATH_SEGMENT = 59;

// Token indexes (final state - FIRST_FINAL).
enum token : uint32_t {
  T_END, T_ERROR, T_BLOCK_OPEN, T_BLOCK_CLOSE, T_PAREN_OPEN, T_PAREN_CLOSE, T_BRACE_OPEN,
  T_BRACE_CLOSE, T_MAP_OPEN, T_PATH, T_CONSTRUCT, T_COMMENT, T_COMMA, T_STRING, T_WORD,
  T_ISSUE, T_INTEGER, T_REFINEMENT, T_CHAR, T_FILE, T_BINARY, T_PERCENT, T_FLOAT,
  T_SPECIAL_FLOAT, T_TUPLE, T_DATE, T_PAIR, T_POINT, T_TIME, T_MONEY, T_TAG, T_URL, T_EMAIL,
  T_HEX, T_RAW_STRING, T_REF,
  TOKEN_COUNT
};
static_assert(TOKEN_COUNT == FINAL_COUNT);

namespace tables {

constexpr uint64_t bit(char_class c) { return uint64_t(1) << c; }

constexpr uint32_t class_entry(uint8_t b) {
  auto in = [b](int lo, int hi) { return b >= lo && b <= hi; };
  if (b == 0) return C_END | F_END;
  if (b == '\t' || b == '\r' || b == ' ') return C_BLANK;
  if (b == '\n') return C_LINE | F_LINE;
  if (in('1', '9')) return C_DIGIT;
  switch (b) {
    case '0': return C_ZERO;
    case '[': return C_BLOCK_OPEN;
    case ']': return C_BLOCK_CLOSE;
    case '(': return C_PAREN_OPEN;
    case ')': return C_PAREN_CLOSE;
    case '{': return C_BRACE_OPEN;
    case '}': return C_BRACE_CLOSE;
    case '"': return C_DQUOTE;
    case '#': return C_HASH | F_HASH;
    case '\'': return C_QUOTE | F_QUOTE;
    case ':': return C_COLON | F_COLON;
    case 'x': case 'X': return C_X;
    case 'T': return C_T;
    case 'h': return C_H;
    case 'e': return C_E_LOW | F_EXPONENT;
    case 'E': return C_E_UP | F_EXPONENT;
    case 'a': case 'b': case 'c': case 'd': case 'f': return C_HEX_LOW;
    case 'A': case 'B': case 'C': case 'D': case 'F': return C_HEX_UP;
    case '/': return C_SLASH;
    case '\\': return C_BACKSLASH;
    case '<': return C_LESS | F_LESS;
    case '>': return C_GREATER | F_GREATER;
    case '=': return C_EQUAL;
    case '%': return C_PERCENT | F_PERCENT;
    case ',': return C_COMMA | F_COMMA;
    case ';': return C_SEMICOLON;
    case '@': return C_AT;
    case '.': return C_DOT | F_DOT;
    case '$': return C_DOLLAR;
    case '+': return C_PLUS | F_SIGN;
    case '-': return C_MINUS | F_SIGN;
    case '^': return C_CARET | F_CARET;
    default: break;
  }
  if (in(0x01, 0x08) || b == 0x0B || b == 0x0C || in(0x0E, 0x1F)) return C_CONTROL;
  if (b == 0x7F || in(0x80, 0xBF)) return C_CONTINUATION;
  if (b == 0xC0 || b == 0xC1 || b >= 0xF8) return C_ILLEGAL;
  if (in(0xC2, 0xEF)) return C_LETTER | F_UTF8_2;
  if (in(0xF0, 0xF7)) return C_LETTER | F_UTF8_4;
  return C_LETTER;  // ! & * ? _ ` | ~ and the remaining ASCII letters
}

constexpr std::array<uint32_t, 256> make_classes() {
  std::array<uint32_t, 256> t{};
  for (int b = 0; b < 256; b++) t[size_t(b)] = class_entry(uint8_t(b)) | (b >= 0x80 ? F_HIGH : 0);
  return t;
}

// Class sets, named as they read in the rows below.
constexpr uint64_t BL = bit(C_BLANK), LF = bit(C_LINE), D19 = bit(C_DIGIT), D0 = bit(C_ZERO),
                   LB = bit(C_BLOCK_OPEN), RB = bit(C_BLOCK_CLOSE), LP = bit(C_PAREN_OPEN),
                   RP = bit(C_PAREN_CLOSE), LC = bit(C_BRACE_OPEN), RC = bit(C_BRACE_CLOSE),
                   DQ = bit(C_DQUOTE), HS = bit(C_HASH), QT = bit(C_QUOTE), CL = bit(C_COLON),
                   XX = bit(C_X), TT = bit(C_T), HH = bit(C_H), EL = bit(C_E_LOW),
                   EU = bit(C_E_UP), AL = bit(C_HEX_LOW), AU = bit(C_HEX_UP), SL = bit(C_SLASH),
                   BS = bit(C_BACKSLASH), LT = bit(C_LESS), GT = bit(C_GREATER),
                   EQ = bit(C_EQUAL), PC = bit(C_PERCENT), CM = bit(C_COMMA),
                   SC = bit(C_SEMICOLON), AT = bit(C_AT), DT = bit(C_DOT), DL = bit(C_DOLLAR),
                   PL = bit(C_PLUS), MI = bit(C_MINUS), CR = bit(C_CARET), CT = bit(C_CONTROL),
                   CO = bit(C_CONTINUATION), LE = bit(C_LETTER), IL = bit(C_ILLEGAL),
                   EN = bit(C_END);
// The delimiters that end most tokens.
constexpr uint64_t DELIM = BL | LF | LB | RB | LP | RP | LC | RC | DQ | SC | CT | EN;

struct rule {
  uint64_t classes;
  uint8_t next;
};
struct row {
  uint8_t otherwise;
  rule rules[16];
};

// One row per state: the default next state, then the exceptions.
constexpr row ROWS[STATE_COUNT] = {
    /* 0 token start */ {52, {{BL | LF | CT, 0}, {SC, 1}, {DQ, 2}, {PC, 6}, {SL, 13}, {HS, 16},
                              {D19 | D0, 23}, {DL, 36}, {EU | AU, 40}, {LT, 43}, {PL | MI, 47},
                              {DT, 49}, {QT | CL, 51}, {AT, 57}, {EQ, 58}, {EN, 66}}},
    /* 1 comment */ {1, {{IL, 67}, {LF | EN, 77}}},
    /* 2 string */ {2, {{CR, 3}, {LF | IL | EN, 67}, {DQ, 79}}},
    /* 3 ^ in string */ {2, {{IL | EN, 67}}},
    /* 4 brace body */ {4, {{CR, 5}, {IL | EN, 67}, {LC, 72}, {RC, 73}}},
    /* 5 ^ in braces */ {4, {{IL | EN, 67}}},
    /* 6 % */ {7, {{DQ, 8}, {PC, 9}, {LC, 10}, {CL, 54}, {IL, 67},
                   {BL | LF | LB | RB | LP | RP | RC | SC | AT | CT | EN, 80}}},
    /* 7 file */ {7, {{DQ | IL, 67}, {BL | LF | LB | RB | LP | RP | LC | RC | CL | SC | AT | EN, 85}}},
    /* 8 quoted file */ {8, {{LF | IL | EN, 67}, {DQ, 85}}},
    /* 9 %% */ {7, {{PC, 9}, {LC, 10}, {IL, 67},
                    {BL | LF | LB | RB | LP | RP | RC | DQ | BS | SC | CT | EN, 80}}},
    /* 10 raw body */ {10, {{RC, 11}, {IL | EN, 67}}},
    /* 11 } in raw */ {10, {{RC, 11}, {PC, 12}, {IL | EN, 67}}},
    /* 12 % after } */ {67, {{PC, 12}, {BL | LF | LB | RB | LP | RP | LC | DQ | LT | SC | CT | EN, 100}}},
    /* 13 / */ {14, {{SL, 15}, {CL, 53}, {CM | IL, 67}, {(DELIM | HS | AT), 80}}},
    /* 14 refinement */ {14, {{CL | CM | IL, 67}, {(DELIM | SL | AT), 83}}},
    /* 15 // */ {52, {{SL, 15}, {PC | CM | DL | IL, 67}, {(DELIM | HS | AT), 80}}},
    /* 16 # */ {22, {{LC, 17}, {DQ, 19}, {LP, 21}, {BL | LF | RB | RP | RC | CL | LT | GT | CM | IL, 67},
                     {LB, 74}, {SC | AT | CT | EN, 81}}},
    /* 17 binary */ {67, {{BL | LF | D19 | D0 | XX | TT | HH | EL | EU | AL | AU | SL | EQ | PL | LE, 17},
                          {SC, 18}, {RC, 86}}},
    /* 18 ; in binary */ {18, {{LF, 17}, {IL | EN, 67}}},
    /* 19 char */ {19, {{CR, 20}, {IL | EN, 67}, {DQ, 84}}},
    /* 20 ^ in char */ {19, {{IL | EN, 67}}},
    /* 21 #( */ {21, {{IL | EN, 67}, {RP, 76}}},
    /* 22 issue */ {22, {{CL | SL | IL, 67}, {(DELIM | AT), 81}}},
    /* 23 digits */ {82, {{HS, 16}, {D19 | D0 | QT, 23}, {DT, 24}, {EL, 26}, {EU, 27},
                          {TT | SL | MI, 30}, {CL, 31}, {XX, 33}, {AU, 39}, {HH, 42}, {AT, 56},
                          {AL | BS | GT | EQ | DL | PL | CR | CO | LE | IL, 67}, {PC, 87}}},
    /* 24 digits . */ {67, {{D19 | D0 | QT, 25}, {EL | EU, 26}, {HS, 28}, {XX, 33}, {PC, 87},
                           {(DELIM | SL | LT | CM), 88}}},
    /* 25 fraction */ {88, {{D19 | D0 | QT, 25}, {EL | EU, 26}, {DT, 29}, {XX, 33}, {AT, 56},
                           {HS | TT | HH | AL | AU | BS | GT | EQ | DL | PL | MI | CR | CO | LE | IL, 67},
                           {PC, 87}}},
    /* 26 exponent */ {67, {{D19 | D0 | PL | MI, 26}, {AT, 56}, {PC, 87}, {(DELIM | CL | SL | LT | CM), 88}}},
    /* 27 digits E */ {88, {{PL | MI, 26}, {D19 | D0, 27}, {DT, 29}, {EU | AU, 40}, {HH, 42}, {AT, 56},
                           {HS | QT | XX | TT | EL | AL | BS | GT | EQ | SC | DL | CR | CO | LE | IL, 67},
                           {PC, 87}}},
    /* 28 1.# */ {89, {{XX | TT | HH | EL | EU | AL | AU | GT | EQ | DT | PL | MI | CO | LE, 28},
                       {HS | QT | CL | PC | AT | DL | CR | IL, 67}, {D19, 88}}},
    /* 29 tuple */ {67, {{D19 | D0 | DT, 29}, {(DELIM | CL | SL | LT), 90}}},
    /* 30 date */ {30, {{PC | CM | AT | CR | CO | IL, 67}, {(DELIM | LT | DL), 91}}},
    /* 31 digits : */ {67, {{D19 | D0, 32}}},
    /* 32 time */ {67, {{D19 | D0 | CL | DT | CM, 32}, {(DELIM | SL | LT), 94}}},
    /* 33 number x */ {67, {{D19 | D0 | PL | MI, 34}, {AT, 56}}},
    /* 34 pair y */ {67, {{D19 | D0 | EL | EU | DT, 34}, {AT, 56}, {(DELIM | CL | SL | LT), 92}}},
    /* 35 point body */ {67, {{BL | D19 | D0 | RB | HS | EL | EU | AL | AU | CM | DT | PL | MI | LE, 35},
                             {RP, 93}}},
    /* 36 $ */ {67, {{D19 | D0, 37}}},
    /* 37 money */ {67, {{D19 | D0 | QT, 37}, {DT | CM, 38}, {(DELIM | HS | CL | SL | LT), 95}}},
    /* 38 money decimals */ {67, {{D19 | D0 | QT, 38}, {(DELIM | HS | CL | SL | LT), 95}}},
    /* 39 digits A-F */ {67, {{D19 | D0 | EU | AU, 39}, {HH, 41}, {AT, 56}}},
    /* 40 word of E/A-F */ {80, {{DL, 37}, {D19 | D0 | EU | AU, 40}, {HH, 41},
                                 {QT | XX | TT | EL | AL | LT | GT | EQ | DT | PL | MI | CR | CO | LE, 52},
                                 {CL, 53}, {AT, 56}, {PC | CM | IL, 67}, {SL, 75}}},
    /* 41 ...h word-like */ {52, {{DL, 37}, {CL, 53}, {AT, 56}, {HS | PC | CM | IL, 67}, {SL, 75},
                                  {(DELIM | BS), 99}}},
    /* 42 digits ...h */ {67, {{DL, 37}, {AT, 56}, {SL, 75}, {(DELIM | BS | LT), 99}}},
    /* 43 < */ {44, {{LT, 43}, {QT, 46}, {GT | EQ | MI, 52}, {CL, 53}, {IL, 67}, {DELIM, 80}}},
    /* 44 tag */ {44, {{DQ, 45}, {QT, 46}, {IL | EN, 67}, {GT, 96}}},
    /* 45 "" in tag */ {45, {{DQ, 44}, {IL | EN, 67}}},
    /* 46 '' in tag */ {46, {{QT, 44}, {IL | EN, 67}}},
    /* 47 + - */ {52, {{D19 | D0, 23}, {DL, 37}, {DT, 49}, {QT | PC | CM | CR | IL, 67}, {SL, 75},
                       {(DELIM | HS | BS), 80}}},
    /* 48 ' : then + - */ {52, {{QT | PC | CM | DL | CR | IL, 67}, {SL, 75}, {(DELIM | HS | BS), 80}}},
    /* 49 . */ {52, {{D19 | D0 | PL | MI, 50}, {CL, 53}, {AT, 56}, {PC | CM | DL | IL, 67}, {SL, 75},
                     {(DELIM | HS | BS), 80}}},
    /* 50 .digits */ {67, {{XX, 33}, {D19 | D0 | EL | EU | PL | MI, 50}, {AT, 56}, {PC, 87},
                          {((DELIM & ~SC) | CL | SL | LT), 88}}},
    /* 51 ' : at start */ {67, {{SL, 13}, {LT, 43}, {PL | MI, 48},
                                {XX | TT | HH | EL | EU | AL | AU | GT | DT | CR | CO | LE, 52},
                                {PC, 54}, {EQ, 58}}},
    /* 52 word */ {52, {{DL, 36}, {CL, 53}, {AT, 56}, {PC | CM | IL, 67}, {SL, 75},
                        {(DELIM | HS | BS | LT), 80}}},
    /* 53 word: */ {55, {{LT | IL, 67}, {(DELIM | BS), 80}}},
    /* 54 word of % */ {67, {{PC, 54}, {((DELIM & ~DQ) | BS), 80}}},
    /* 55 url */ {55, {{GT | CR | IL, 67}, {(DELIM | BS | LT), 97}}},
    /* 56 email */ {98, {{D19 | D0 | XX | TT | HH | EL | EU | AL | AU | PC | DT | PL | MI | CO | LE, 56},
                         {HS | QT | CL | GT | EQ | CM | AT | DL | CR | IL, 67}}},
    /* 57 @ref */ {57, {{HS | QT | BS | GT | EQ | CM | AT | DL | CR | IL, 67}, {(DELIM | LT), 101}}},
    /* 58 = */ {52, {{HS | PC | CM | AT | DL | IL, 67}, {SL, 75}, {(DELIM | CL | BS), 80}}},
    /* 59 path segment */ {67, {{DQ, 2}, {DL, 36}, {LT, 43}, {AT, 57}, {D19 | D0, 60}, {QT | CL, 61},
                                {XX | TT | HH | EL | EU | AL | AU | GT | EQ | DT | CO | LE, 62},
                                {HS, 63}, {PL | MI, 64}, {LP, 70}, {RP, 71}}},
    /* 60 integer segment */ {67, {{DT, 24}, {EL | EU, 26}, {XX, 33}, {AT, 56}, {D19 | D0 | QT, 60},
                                  {(DELIM | CL | SL | LT), 82}, {PC, 87}}},
    /* 61 ' : in segment */ {67, {{XX | TT | HH | EL | EU | AL | AU | LT | GT | EQ | DT | PL | MI | CO | LE, 62}}},
    /* 62 word segment */ {62, {{DL, 36}, {AT, 56}, {HS | PC | CM | IL, 67},
                                {(DELIM | CL | SL | BS), 80}}},
    /* 63 # segment */ {22, {{DQ, 19}, {LB, 21},
                             {BL | LF | RB | LP | RP | LC | RC | CL | SL | LT | GT | EQ | CM | SC | AT | CT | IL | EN, 67}}},
    /* 64 + - segment */ {80, {{DL, 36}, {AT, 56}, {D19 | D0, 60},
                               {XX | TT | HH | EL | EU | AL | AU | GT | EQ | DT | CO | LE, 62}, {PL | MI, 64},
                               {HS | QT | LT | PC | CM | CR | IL, 67}}},
};

// Row 0 has more exceptions than a row holds: the rest are applied here.
constexpr rule ROW0_MORE[] = {
    {RC | BS | CO | IL, 67}, {LB, 68}, {RB, 69}, {LP, 70}, {RP, 71}, {LC, 72}, {CM, 78},
};

constexpr std::array<uint8_t, STATE_COUNT * CLASS_COUNT> make_transitions() {
  std::array<uint8_t, STATE_COUNT * CLASS_COUNT> t{};
  auto apply = [&t](uint32_t state, const rule& r) {
    for (uint32_t c = 0; c < CLASS_COUNT; c++)
      if (r.classes & (uint64_t(1) << c)) t[state * CLASS_COUNT + c] = r.next;
  };
  for (uint32_t s = 0; s < STATE_COUNT; s++) {
    for (uint32_t c = 0; c < CLASS_COUNT; c++) t[s * CLASS_COUNT + c] = ROWS[s].otherwise;
    for (const rule& r : ROWS[s].rules)
      if (r.classes) apply(s, r);
  }
  for (const rule& r : ROW0_MORE) apply(0, r);
  return t;
}

// The datatype each state (and final state) stands for: the type of the
// token that ends there, or of the error met in it.
constexpr std::array<uint8_t, FIRST_FINAL + FINAL_COUNT> make_state_types() {
  std::array<uint8_t, FIRST_FINAL + FINAL_COUNT> t{};
  auto set = [&t](uint32_t from, uint32_t to, uint32_t type) {
    for (uint32_t s = from; s <= to; s++) t[s] = uint8_t(type);
  };
  set(2, 5, TYPE_STRING);
  set(10, 12, TYPE_STRING);
  set(6, 9, TYPE_FILE);
  for (uint32_t s : {13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}) t[s] = TYPE_WORD;
  t[14] = TYPE_REFINEMENT;
  for (uint32_t s : {16, 22, 63}) t[s] = TYPE_ISSUE;
  t[17] = TYPE_BINARY;
  set(19, 20, TYPE_CHAR);
  for (uint32_t s : {23, 40, 42, 60}) t[s] = TYPE_INTEGER;
  set(24, 28, TYPE_FLOAT);
  t[50] = TYPE_FLOAT;
  t[29] = TYPE_TUPLE;
  t[30] = TYPE_DATE;
  set(31, 32, TYPE_TIME);
  set(33, 34, TYPE_PAIR);
  t[35] = TYPE_POINT2D;
  set(36, 38, TYPE_MONEY);
  set(43, 46, TYPE_TAG);
  t[53] = TYPE_SET_WORD;
  t[55] = TYPE_URL;
  t[56] = TYPE_EMAIL;
  t[57] = TYPE_REF;
  t[59] = TYPE_PATH;
  // Final states: the token's own type (0 for structure without a value).
  constexpr uint8_t FINAL_TYPES[FINAL_COUNT] = {
      0, TYPE_ERROR, 0, 0, 0, 0, 0, TYPE_STRING, 0, 0, 0, 0, 0, TYPE_STRING, TYPE_WORD,
      TYPE_ISSUE, TYPE_INTEGER, TYPE_REFINEMENT, TYPE_CHAR, TYPE_FILE, TYPE_BINARY,
      TYPE_PERCENT, TYPE_FLOAT, TYPE_FLOAT, TYPE_TUPLE, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D,
      TYPE_TIME, TYPE_MONEY, TYPE_TAG, TYPE_URL, TYPE_EMAIL, TYPE_INTEGER, TYPE_STRING, TYPE_REF};
  for (uint32_t i = 0; i < FINAL_COUNT; i++) t[FIRST_FINAL + i] = FINAL_TYPES[i];
  return t;
}

}  // namespace tables

inline constexpr std::array<uint32_t, 256> CLASSES = tables::make_classes();
inline constexpr std::array<uint8_t, STATE_COUNT * CLASS_COUNT> TRANSITIONS =
    tables::make_transitions();
inline constexpr std::array<uint8_t, FIRST_FINAL + FINAL_COUNT> STATE_TYPES =
    tables::make_state_types();

// The transition table with every entry multiplied by CLASS_COUNT, so that
// the tokenizer walks row offsets instead of multiplying per byte.
inline constexpr std::array<uint16_t, STATE_COUNT * CLASS_COUNT> ROW_TRANSITIONS = [] {
  std::array<uint16_t, STATE_COUNT * CLASS_COUNT> t{};
  for (size_t i = 0; i < t.size(); i++) t[i] = uint16_t(TRANSITIONS[i] * CLASS_COUNT);
  return t;
}();
constexpr uint32_t FIRST_FINAL_ROW = FIRST_FINAL * CLASS_COUNT;


}  // namespace kez::lexer
