// The lexer's inner interface: the scan state, the shared cell stack and the
// services that the engine (lexer.cpp) and the token loaders share.
//
// Invariants: a scan state lives for one call of scan_buffer; states of
// nested scans chain newest last and their cells lie above the enclosing
// scan's. Cells are addressed by index because the cell stack grows by
// reallocation: never keep a Cell* into it across a push or a callback. The
// input bytes never lie in a series buffer, so byte pointers into them stay
// valid across allocations.
#pragma once
#include <cstdint>

#include "services/lexer.h"
#include "services/lexer_tables.h"
#include "values/cell.h"

namespace kez::lexer {

// Ends the current scanner or loader when an error is not to be raised (scan
// and prescan modes, or a callback that declined it).
struct lex_abort {};
// A callback left a non-local exit pending: the scan unwinds without touching
// the value stack.
struct lex_halt {};

// Callback events.
constexpr uint32_t EV_PRESCAN = 1;
constexpr uint32_t EV_SCAN = 2;
constexpr uint32_t EV_LOAD = 4;
constexpr uint32_t EV_OPEN = 8;
constexpr uint32_t EV_CLOSE = 16;
constexpr uint32_t EV_ERROR = 32;
constexpr uint32_t EV_ALL = 63;

// Error kinds beside datatype ids.
constexpr int32_t K_BAD_CHAR = -1;
constexpr int32_t K_BAD_CONSTRUCT = -2;
constexpr int32_t K_MISSING = -3;
constexpr int32_t K_UNCLOSED = -4;

// An open series on the cell stack: w1 cells back to the previous series'
// first cell, w2 the datatype (low 16 bits) and the commas seen in a point
// (high 16 bits), w3 the byte offset of its opening delimiter.
constexpr uint32_t TYPE_MARKER = 31;

// The longest number text the float grammar accepts.
constexpr uint32_t MAX_FLOAT_TEXT = 312;

struct state {
  state* next;
  state* back;
  uint32_t head;  // first cell of this scan
  uint32_t buf;   // first cell of the innermost open series
  uint32_t tail;  // next free cell
  const uint8_t* input;
  const uint8_t* in_end;
  const uint8_t* in_pos;
  const uint8_t* tok_start;
  const uint8_t* tok_end;
  uint32_t flags;      // flags of the current token
  int32_t line;
  int32_t nlines;      // line breaks read for the current token
  int32_t mtype;       // datatype the current scanner or loader works for, -1 none
  int32_t type;        // datatype of the current token
  int32_t entry;       // state the next token starts in
  int32_t exit;        // state before the final one
  int32_t closing;     // datatype of the series an error concerns
  int32_t prev_type;
  const uint8_t* bstart;  // the open brace string's "{"
  int32_t bcount;
  uint32_t bflags;
  int32_t plines;
  const uint8_t* point_start;  // the "(" of the point being read
  Cell fun;               // the callback, or none!
  int32_t fun_locals;
  uint32_t events;
  Cell ser;               // the source series, or none!
  bool string_source;     // positions count characters
  bool load;              // values are built
  bool one;
  bool prescan;
  bool moved;             // a callback moved the input position
  uint32_t word_kind;     // decided by the word scanner
  uint32_t cache_byte;    // last byte offset turned into a character offset
  uint32_t cache_char;
};

// --- The cell stack -----------------------------------------------------------

extern Cell* cells;
// Appends a cell (unset!) and returns its index.
uint32_t push_cell(state& s);
inline Cell* cell_at(uint32_t i) { return cells + i; }
// The header bits a value of the current token starts with.
inline uint32_t new_line_bit(const state& s) { return s.nlines > 0 ? CELL_NEW_LINE : 0; }
// Pushes a finished simple value (no buffer) with the token's new-line bit.
void push_value(state& s, const Cell& value);

// --- Errors and events ---------------------------------------------------------

// Raises the syntax error of `kind` (a datatype id or a K_ kind) found at
// `pos` (null: the innermost open delimiter); in scan modes, or when a
// callback declines it, ends the current scanner instead.
[[noreturn]] void throw_error(state& s, const uint8_t* pos, int32_t kind);
// The error of the loader's datatype at the current token.
[[noreturn]] inline void token_error(state& s, int32_t type) { throw_error(s, s.tok_start, type); }
// Calls the callback for an event in its mask; answers whether to go on.
bool fire_event(state& s, uint32_t event, int32_t type, const uint8_t* start,
                const uint8_t* end, const Cell* value);

// --- Loaders (lexer_loaders.cpp) -------------------------------------------------

using loader_fn = void (*)(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                           bool build);
// By token index; null for tokens without a loader.
extern const loader_fn LOADERS[TOKEN_COUNT];

// A word of the kind already decided in s.word_kind, from [start, end)
// without its prefix or suffix characters.
void load_word(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build);
// A string of the current mtype (string! when -1) from the bytes between
// the delimiters, with "^" escapes decoded when the flags hold a caret.
void load_string_body(state& s, const uint8_t* start, const uint8_t* end, uint32_t flags,
                      bool build);
// The float grammar (digits with single apostrophes, fraction, exponent).
bool check_float(const uint8_t* start, const uint8_t* end);
// Reads a checked number text (apostrophes removed) with its decimal
// exponent moved by `shift`; false when it is no number.
bool read_float(const uint8_t* start, const uint8_t* end, int32_t shift, double* out);
// Decodes one escape after a "^" at p (p < end); answers the code point, or
// -1 when it is invalid, and moves p past it. `digits` receives the count of
// hexadecimal digits of a "^(...)" form (0 otherwise).
int32_t unescape_char(const uint8_t*& p, const uint8_t* end, int* digits);

}  // namespace kez::lexer
