// The lexer engine: the token loop, the structural scanners (blocks, parens,
// maps, paths, brace strings, points, constructions, commas), the callback
// events and the syntax errors. The value tokens' loaders live in
// lexer_loaders.cpp.
//
// What must stay true: the token loop does one class lookup and one
// transition lookup per byte and allocates nothing; a value is put on the
// shared cell stack only when it is built; a series is made once, with its
// exact size, when it closes. Open series are marker cells on the cell
// stack (see lexer_engine.h). The collector sees the cell stack through a
// mark callback, so everything built here is reachable until it is stored.
#include "services/lexer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/heap.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "services/lexer_engine.h"
#include "services/lexer_values.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/function.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::lexer {

Cell exit_states{TYPE_NONE, 0, 0, 0};
Cell* cells = nullptr;

namespace {

constexpr uint32_t INITIAL_CELLS = 1000;
// The cell stack doubles when full; past this many cells it gives up with
// internal no-memory rather than asking the heap for gigabytes.
constexpr uint32_t MAX_CELLS = 1u << 26;
constexpr uint32_t WORK_SIZE = 100000;
// The near text of a syntax error stops at the first character that starts
// this many bytes after the error.
constexpr uint32_t NEAR_LIMIT = 30;

uint32_t cells_capacity = 0;
uint8_t* work = nullptr;  // UTF-8 text of scanned string! and binary! values
uint32_t work_used = 0;
state* first_state = nullptr;
state* last_state = nullptr;

void mark_states() {
  if (!last_state) return;
  collector::mark_values(cells, cells + last_state->tail);
  for (state* s = first_state; s; s = s->next) {
    collector::mark_value(&s->fun);
    collector::mark_value(&s->ser);
  }
}

void init() {
  if (cells) return;
  cells = static_cast<Cell*>(heap::allocate(INITIAL_CELLS * sizeof(Cell)));
  cells_capacity = INITIAL_CELLS;
  work = static_cast<uint8_t*>(heap::allocate(WORK_SIZE));
  collector::register_callback(mark_states);
  collector::add_root(&exit_states);
}

inline uint32_t class_of(uint8_t b) { return CLASSES[b] & 0xFF; }
inline bool has_fun(const state& s) { return TYPE_OF(&s.fun) != TYPE_NONE; }

inline uint32_t marker_type(uint32_t index) { return cells[index].w2 & 0xFFFF; }
// The innermost open series' type, or 0.
inline uint32_t open_type(const state& s) { return s.buf > s.head ? marker_type(s.buf - 1) : 0; }

// --- Positions -------------------------------------------------------------------

// Offset of a position in the source's own units: characters for a string!,
// bytes otherwise. The last answer is cached: events ask in input order.
uint32_t source_offset(state& s, const uint8_t* pos) {
  uint32_t byte = uint32_t(pos - s.input);
  if (!s.string_source) return byte;
  if (byte < s.cache_byte) s.cache_byte = s.cache_char = 0;
  s.cache_char += unicode::count_chars(s.input + s.cache_byte, pos);
  s.cache_byte = byte;
  return s.cache_char;
}

const uint8_t* position_of(state& s, uint32_t offset) {
  if (!s.string_source) return s.input + std::min<uint64_t>(offset, uint64_t(s.in_end - s.input));
  return unicode::skip_chars(s.input, s.in_end, offset);
}

// --- Events ------------------------------------------------------------------------

const Cell& event_word(uint32_t event) {
  switch (event) {
    case EV_PRESCAN: return words::prescan_word;
    case EV_SCAN: return words::scan_word;
    case EV_LOAD: return words::load_word;
    case EV_OPEN: return words::open_word;
    case EV_CLOSE: return words::close_word;
    default: return words::error_word;
  }
}

Cell type_argument(int32_t type) {
  if (type > 0) return make_datatype(uint32_t(type));
  if (type < 0 && TYPE_OF(&exit_states) == TYPE_BLOCK) {
    int32_t index = -type - 1;
    if (index < block::rs_length(&exit_states)) return block::rs_head(&exit_states)[index];
  }
  return make_none();
}

// The events a callback asks for: the words of the block its body begins
// with, or all of them.
uint32_t event_mask(const Cell* fn) {
  Cell body = function::more(fn)[function::MORE_BODY];
  if (TYPE_OF(&body) != TYPE_BLOCK || block::rs_length(&body) <= 0) return EV_ALL;
  Cell first = block::rs_head(&body)[0];
  if (TYPE_OF(&first) != TYPE_BLOCK) return EV_ALL;
  uint32_t mask = 0;
  int32_t n = block::rs_length(&first);
  for (int32_t i = 0; i < n; i++) {
    Cell w = block::rs_head(&first)[i];
    if (TYPE_OF(&w) != TYPE_WORD) continue;
    uint32_t sym = symbol::resolve(w.w2);
    if (sym == symbol::resolve(words::prescan)) mask |= EV_PRESCAN;
    else if (sym == symbol::resolve(words::scan)) mask |= EV_SCAN;
    else if (sym == symbol::resolve(words::load)) mask |= EV_LOAD;
    else if (sym == symbol::resolve(words::open)) mask |= EV_OPEN;
    else if (sym == symbol::resolve(words::close)) mask |= EV_CLOSE;
    else if (sym == symbol::resolve(words::error)) mask |= EV_ERROR;
  }
  return mask;
}

void call_callback(const Cell& fn) {
  Cell name = words::lexer_callback_marker_word;
  if (TYPE_OF(&fn) == TYPE_FUNCTION) {
    interpreter::call_function(&fn, fn.w1, &name, 1);
    return;
  }
  uint32_t routine = uint32_t(get_integer(&function::more(&fn)[function::MORE_CODE]));
  context::record(fn.w1)->w2 = stack::encode_values(stack::arguments);
  routines::table[routine - 1]();
}

}  // namespace

bool fire_event(state& s, uint32_t event, int32_t type, const uint8_t* start, const uint8_t* end,
                const Cell* value) {
  if (!(s.events & event)) return true;
  const uint8_t* at = (event == EV_OPEN || (event == EV_PRESCAN && type <= 0)) ? start : end;
  uint32_t head = s.ser.w1;
  Cell input = s.ser;
  input.w1 = head + source_offset(s, at);
  Cell token;
  if (value) {
    token = *value;
  } else {
    uint32_t from = source_offset(s, start) + 1;
    uint32_t to = source_offset(s, end) + 1;
    token = Cell{TYPE_PAIR, 0, from, to};
  }
  Cell fn = s.fun;
  Cell* saved_top = stack::top;
  stack::push(fn);  // keeps the callback alive during the call
  Cell name = words::lexer_callback_marker_word;
  stack::open_function_frame(&name, fn.w1);
  stack::push(event_word(event));
  stack::push(input);
  stack::push(type_argument(type));
  stack::push(make_integer(s.line));
  stack::push(token);
  function::init_locals(s.fun_locals);
  call_callback(fn);
  if (stack::pending()) throw lex_halt{};
  Cell result = stack::arguments[0];
  Cell moved = stack::arguments[1];
  stack::pop_function_frame();
  stack::top = saved_top;
  if (TYPE_OF(&moved) == TYPE_OF(&input) && moved.w2 == input.w2 && moved.w1 != input.w1) {
    uint32_t offset = moved.w1 > head ? moved.w1 - head : 0;
    s.in_pos = position_of(s, offset);
    s.moved = true;
  }
  uint32_t rt = TYPE_OF(&result);
  return !(rt == TYPE_NONE || (rt == TYPE_LOGIC && result.w1 == 0));
}

// --- The cell stack ------------------------------------------------------------------

uint32_t push_cell(state& s) {
  if (s.tail >= cells_capacity) {
    if (cells_capacity >= MAX_CELLS) fire(err::INTERNAL, err::internal::NO_MEMORY);
    cells_capacity *= 2;
    cells = static_cast<Cell*>(heap::resize(cells, size_t(cells_capacity) * sizeof(Cell)));
  }
  cells[s.tail] = make_unset();
  return s.tail++;
}

void push_value(state& s, const Cell& value) {
  uint32_t i = push_cell(s);
  cells[i] = value;
  cells[i].header |= new_line_bit(s);
}

namespace {

// --- Nesting -----------------------------------------------------------------------------

void open_series(state& s, uint32_t type, const uint8_t* delimiter) {
  if (open_type(s) == TYPE_POINT2D) throw_error(s, delimiter, TYPE_POINT2D);
  if (has_fun(s) && !fire_event(s, EV_OPEN, int32_t(type), delimiter, delimiter, nullptr)) return;
  uint32_t i = push_cell(s);
  cells[i] = Cell{TYPE_MARKER | new_line_bit(s), i - s.buf, type, uint32_t(delimiter - s.input)};
  s.buf = s.tail;
  s.entry = S_START;
}

// Replaces the innermost marker by the series of its cells (or drops it
// when nothing is being built) and makes the enclosing series current.
void finish_series(state& s, uint32_t type, bool build) {
  uint32_t m = s.buf - 1;
  Cell marker = cells[m];
  uint32_t previous = m - marker.w1;
  if (build) {
    uint32_t n = s.tail - s.buf;
    node_t node = memory::alloc_cells(std::max<uint32_t>(n, 1));
    series_buffer* b = memory::buffer(node);
    std::memcpy(b->data(), cells + s.buf, size_t(n) * sizeof(Cell));
    b->tail = n * uint32_t(sizeof(Cell));
    uint32_t kind = type == TYPE_MAP ? TYPE_BLOCK : type;
    cells[m] = Cell{kind | (marker.header & CELL_NEW_LINE), 0, node, 0};
    s.tail = m + 1;
    s.buf = previous;
    if (type == TYPE_MAP) values::make_map(&cells[m]);
  } else {
    s.tail = m;
    s.buf = previous;
  }
}

void close_series(state& s, int32_t type, bool quiet, const uint8_t* pos) {
  if (s.buf == s.head) {
    s.closing = type;
    throw_error(s, pos, K_MISSING);
  }
  uint32_t m = s.buf - 1;
  uint32_t mt = marker_type(m);
  if (has_fun(s) && !quiet) {
    const uint8_t* opening = s.input + cells[m].w3;
    if (!fire_event(s, EV_CLOSE, int32_t(mt), opening, pos ? pos : s.in_pos, nullptr)) {
      s.entry = S_START;
      return;
    }
  }
  bool matches = type == -1 || uint32_t(type) == mt || (type == TYPE_BLOCK && mt == TYPE_MAP) ||
                 (type == TYPE_SET_PATH && mt == TYPE_PATH);
  if (!matches) {
    s.closing = int32_t(mt);
    throw_error(s, pos, K_MISSING);
  }
  uint32_t result = type == TYPE_SET_PATH ? TYPE_SET_PATH : mt;
  bool build = s.load || has_fun(s);
  if (mt == TYPE_MAP && s.load) {
    uint32_t n = s.tail - s.buf;
    bool valid = n % 2 == 0;
    for (uint32_t i = s.buf; valid && i < s.tail; i += 2)
      valid = values::valid_map_key(TYPE_OF(&cells[i]));
    if (!valid) throw_error(s, nullptr, TYPE_MAP);
  }
  finish_series(s, result, build);
  s.type = int32_t(result);
  s.entry = block::is_path_type(open_type(s)) ? S_PATH_SEGMENT : S_START;
}

// Before an error is raised: open blocks and parens become real series,
// every other open series is dropped.
void collapse(state& s) {
  while (s.buf > s.head) {
    uint32_t m = s.buf - 1;
    uint32_t mt = marker_type(m);
    if (mt == TYPE_BLOCK || mt == TYPE_PAREN) {
      finish_series(s, mt, true);
    } else {
      s.tail = m;
      s.buf = m - cells[m].w1;
    }
  }
}

// --- Syntax errors -------------------------------------------------------------------------

// A string of the near text, with bytes that are no UTF-8 shown as U+FFFD.
void load_near(const uint8_t* start, const uint8_t* end, Cell* cell) {
  uint32_t n = 0, top = 0;
  for (const uint8_t* p = start; p < end; n++) {
    int32_t cp;
    p = *p < 0x80 ? (cp = *p, p + 1) : unicode::fast_decode_utf8_char(p, end, &cp);
    top = std::max<uint32_t>(top, cp < 0 ? 0xFFFD : uint32_t(cp));
  }
  uint32_t unit = string::unit_for_append(top);
  string::make_at(cell, n, unit);
  series_buffer* b = GET_BUFFER(cell);
  uint8_t* out = b->data();
  for (const uint8_t* p = start; p < end; out += unit) {
    int32_t cp;
    p = *p < 0x80 ? (cp = *p, p + 1) : unicode::fast_decode_utf8_char(p, end, &cp);
    unicode::put_char(out, unit, cp < 0 ? 0xFFFD : uint32_t(cp));
  }
  b->tail = n * unit;
}

[[noreturn]] void raise_syntax(state& s, const uint8_t* pos, int32_t kind) {
  const uint8_t* at = pos;
  if (!at) at = s.buf > s.head ? s.input + cells[s.buf - 1].w3 : s.input;
  int32_t closing = s.closing;
  s.closing = 0;
  uint32_t missing = 0;
  if (kind == K_MISSING || kind == K_UNCLOSED) {
    if (block::is_path_type(uint32_t(closing))) {
      kind = K_BAD_CHAR;
    } else {
      const uint8_t* cur = pos ? pos : s.in_pos;
      if (cur >= s.in_end && cur > s.input) cur = s.in_end - 1;
      uint8_t b = kind == K_UNCLOSED || cur >= s.in_end ? '_' : *cur;
      if (closing == int32_t(TYPE_PAREN) || closing == int32_t(TYPE_POINT2D))
        missing = b == ')' ? '(' : ')';
      else
        missing = b == ']' ? '[' : ']';
    }
  }
  if (kind == 0) kind = K_BAD_CHAR;
  const uint8_t* near_end = at;
  while (near_end < s.in_end && *near_end != '\n') {
    if (uint32_t(near_end - at) >= NEAR_LIMIT && (*near_end & 0xC0) != 0x80) break;
    near_end++;
  }
  collapse(s);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "(line %d)", s.line);
  Cell* prefix_cell = stack::push_unset();
  string::load_at(prefix, uint32_t(std::strlen(prefix)), prefix_cell);
  Cell* near = stack::push_unset();
  load_near(at, near_end, near);
  switch (kind) {
    case K_BAD_CHAR:
      fire(err::SYNTAX, err::syntax::BAD_CHAR, prefix_cell, near);
    case K_BAD_CONSTRUCT:
      fire(err::SYNTAX, err::syntax::MALCONSTRUCT, prefix_cell, near);
    case K_MISSING:
    case K_UNCLOSED: {
      Cell c = make_char(missing);
      fire(err::SYNTAX, err::syntax::MISSING, prefix_cell, &c, near);
    }
    default: {
      Cell type = make_datatype(uint32_t(kind));
      fire(err::SYNTAX, err::syntax::INVALID, prefix_cell, &type, near);
    }
  }
}

}  // namespace

void throw_error(state& s, const uint8_t* pos, int32_t kind) {
  if (has_fun(s) && (s.events & EV_ERROR)) {
    int32_t k = kind > 0                    ? kind
                : s.closing > 0             ? s.closing
                : s.type > 0 && s.type != int32_t(TYPE_ERROR) ? s.type
                : s.mtype > 0               ? s.mtype
                                            : int32_t(TYPE_ERROR);
    if (block::is_path_type(open_type(s))) close_series(s, -1, true, s.in_pos);
    const uint8_t* at = pos ? pos : s.tok_start;
    if (!fire_event(s, EV_ERROR, k, at, std::max(at, s.in_pos), nullptr)) {
      s.type = TYPE_ERROR;
      s.closing = 0;
      if (s.entry == S_POINT_BODY) s.entry = S_START;
      throw lex_abort{};
    }
  }
  if (!s.load) {
    s.type = TYPE_ERROR;
    s.closing = 0;
    if (s.entry == S_POINT_BODY) s.entry = S_START;
    throw lex_abort{};
  }
  raise_syntax(s, pos, kind);
}

namespace {

// --- Structural scanners ---------------------------------------------------------------------

// True when the "(" at `paren` starts a point literal.
bool point_ahead(const state& s, const uint8_t* paren) {
  const uint8_t* p = paren + 1;
  if (s.in_end - p <= 3) return false;
  for (; p < s.in_end; p++)
    if (!in_point_set(*p)) return *p == ',';
  return true;
}

[[noreturn]] void error_token(state& s) {
  int32_t kind = s.exit == 0 ? K_BAD_CHAR : STATE_TYPES[uint32_t(s.exit)];
  const uint8_t* pos = s.tok_start;
  if (s.exit >= 2 && s.exit <= 5 && s.bcount > 0) pos = s.bstart;
  if (kind == int32_t(TYPE_PATH) || kind == int32_t(TYPE_PAREN) || kind == int32_t(TYPE_BLOCK))
    pos = nullptr;
  // Scanning may go on after the error (a callback that declines it): it
  // goes on at the byte that made it, but never without moving.
  s.in_pos = s.tok_end == s.tok_start && s.tok_end < s.in_end ? s.tok_end + 1 : s.tok_end;
  throw_error(s, pos, kind ? kind : K_BAD_CHAR);
}

void path_open(state& s);
void brace_close(state& s);
void deliver(state& s, uint32_t t, const uint8_t* start, const uint8_t* end, bool scanner);

void construct(state& s) {
  s.in_pos = s.tok_end + 1;
  const uint8_t* p = s.tok_start;
  while (*p != '#') p++;
  p += 2;
  std::string_view text(reinterpret_cast<const char*>(p), size_t(s.tok_end - p));
  auto same = [&text](std::string_view word) {
    if (text.size() != word.size()) return false;
    for (size_t i = 0; i < word.size(); i++)
      if ((text[i] | 0x20) != word[i]) return false;
    return true;
  };
  Cell value;
  if (same("true")) value = make_logic(true);
  else if (same("false")) value = make_logic(false);
  else if (same("none")) value = make_none();
  else if (same("unset")) value = make_unset();
  else {
    value = make_none();
    uint32_t found = 0;
    for (uint32_t id = 1; id <= datatype::highest_id && !found; id++) {
      const char* name = datatype::names[id].name;
      if (!name || std::strlen(name) < text.size()) continue;
      bool prefix = true;
      for (size_t i = 0; i < text.size() && prefix; i++)
        prefix = (name[i] | 0x20) == (text[i] | 0x20);
      if (prefix) found = id;
    }
    if (!found) throw_error(s, s.tok_start, K_BAD_CONSTRUCT);
    value = make_datatype(found);
  }
  s.type = int32_t(TYPE_OF(&value));
  if (s.load) push_value(s, value);
}

void brace_open(state& s) {
  s.in_pos = s.tok_end + 1;
  if (s.bcount == 0) {
    s.bstart = s.tok_end;
    s.bflags = 0;
    if (has_fun(s)) fire_event(s, EV_OPEN, TYPE_STRING, s.tok_end, s.tok_end, nullptr);
  }
  s.bcount++;
  s.bflags |= s.flags | (s.nlines > 0 ? F_BRACE_LINES : 0);
  s.entry = S_BRACE_BODY;
}

void brace_close(state& s) {
  s.in_pos = s.tok_end + 1;
  s.bflags |= s.flags;
  if (--s.bcount > 0) {
    if (s.in_pos >= s.in_end) throw_error(s, s.bstart, TYPE_STRING);
    return;
  }
  if (s.nlines > 0) s.bflags |= F_BRACE_LINES;
  const uint8_t* open = s.bstart;
  uint32_t flags = s.bflags;
  s.entry = S_START;
  s.bstart = nullptr;
  s.bflags = 0;
  if (has_fun(s)) fire_event(s, EV_CLOSE, TYPE_STRING, open, s.in_pos, nullptr);
  s.nlines = (flags & F_BRACE_LINES) ? 1 : 0;
  s.flags = flags;
  s.tok_start = open;
  s.type = TYPE_STRING;
  deliver(s, T_BRACE_CLOSE, open + 1, s.tok_end, true);
  if (!s.moved) s.in_pos = s.tok_end + 1;
}

void comma(state& s) {
  s.in_pos = s.tok_end + 1;
  if (s.buf > s.head) {
    Cell& m = cells[s.buf - 1];
    uint32_t mt = m.w2 & 0xFFFF;
    if (mt == TYPE_PAREN || mt == TYPE_POINT2D) {
      m.w2 = TYPE_POINT2D | (((m.w2 >> 16) + 1) << 16);
      return;
    }
  }
  throw_error(s, s.tok_end, TYPE_POINT2D);
}

// The word scanner: decides the word's kind from its prefix and suffix.
void word_scanner(state& s, const uint8_t* start, const uint8_t* end) {
  s.in_pos = end;
  uint32_t kind = TYPE_WORD;
  bool suffix = end - start > 1 && end[-1] == ':';
  // A prefix alone (the rest of the token was a delimiter code point) names
  // nothing.
  if (*start == ':') {
    kind = TYPE_GET_WORD;
    if (suffix || end - start == 1) token_error(s, TYPE_GET_WORD);
  } else if (*start == '\'') {
    kind = TYPE_LIT_WORD;
    if (suffix || end - start == 1) token_error(s, TYPE_LIT_WORD);
  } else if (suffix) {
    kind = TYPE_SET_WORD;
  } else if ((s.flags & F_COLON) && end < s.in_end && *end == ':' &&
             !block::is_path_type(open_type(s))) {
    // A ":" that ended the word belongs to it, unless a path takes it.
    kind = TYPE_SET_WORD;
    s.in_pos = end + 1;
  }
  s.word_kind = kind;
  s.type = int32_t(kind);
}

// Runs the scanner of a token (tokens below T_INTEGER have one).
void scan_token(state& s, uint32_t t) {
  switch (t) {
    case T_END:
      s.in_pos = s.in_end;
      break;
    case T_ERROR:
      error_token(s);
    case T_BLOCK_OPEN:
      s.in_pos = s.tok_end + 1;
      open_series(s, TYPE_BLOCK, s.tok_end);
      break;
    case T_BLOCK_CLOSE:
      s.in_pos = s.tok_end + 1;
      close_series(s, TYPE_BLOCK, false, s.tok_end);
      break;
    case T_PAREN_OPEN:
      s.in_pos = s.tok_end + 1;
      if (point_ahead(s, s.tok_end)) {
        s.plines = s.nlines;
        s.point_start = s.tok_end;
        s.entry = S_POINT_BODY;
      } else {
        open_series(s, TYPE_PAREN, s.tok_end);
      }
      break;
    case T_PAREN_CLOSE:
      s.in_pos = s.tok_end + 1;
      close_series(s, TYPE_PAREN, false, s.tok_end);
      break;
    case T_BRACE_OPEN:
      brace_open(s);
      break;
    case T_BRACE_CLOSE:
      brace_close(s);
      break;
    case T_MAP_OPEN:
      s.in_pos = s.tok_end + 1;
      if (*s.tok_start != '#') token_error(s, TYPE_MAP);
      open_series(s, TYPE_MAP, s.tok_start);
      break;
    case T_PATH:
      path_open(s);
      break;
    case T_CONSTRUCT:
      construct(s);
      break;
    case T_COMMENT:
      s.in_pos = s.tok_end;
      if (has_fun(s))
        fire_event(s, EV_SCAN, -int32_t(T_COMMENT) - 1, s.tok_start, s.tok_end, nullptr);
      break;
    case T_COMMA:
      comma(s);
      break;
    case T_STRING:
      s.in_pos = s.tok_end + 1;
      load_string_body(s, s.tok_start + 1, s.tok_end, s.flags, false);
      break;
    case T_WORD:
      word_scanner(s, s.tok_start, s.tok_end);
      break;
    case T_ISSUE:
      s.in_pos = s.tok_end;
      if (s.tok_end - s.tok_start <= 1) token_error(s, TYPE_ISSUE);
      break;
    default:
      break;
  }
}

// Runs a scanner; false when it ended on an error that was not raised.
bool run_scanner(state& s, uint32_t t) {
  try {
    scan_token(s, t);
    return true;
  } catch (const lex_abort&) {
    return false;
  }
}

// Checks, reports and builds one value over [start, end) (T_BRACE_CLOSE
// stands for a brace string's body): the syntax check runs unless values are
// built without anyone watching; the callback's `scan` event decides whether
// the value is built, its `load` event whether it is kept.
void deliver(state& s, uint32_t t, const uint8_t* start, const uint8_t* end, bool scanner) {
  bool fun = has_fun(s);
  bool build = true;
  if (!s.load || scanner || (fun && (s.events & EV_SCAN))) {
    // The string loaders check as they build: no separate pass then.
    bool text = t == T_STRING || t == T_BRACE_CLOSE;
    if (!(s.load && !fun && text)) {
      try {
        if (t == T_BRACE_CLOSE) load_string_body(s, start, end, s.flags, false);
        else if (scanner) scan_token(s, t);
        else LOADERS[t](s, start, end, s.flags, false);
      } catch (const lex_abort&) {
        return;
      }
      if (s.moved) return;
    }
    if (fun) build = fire_event(s, EV_SCAN, s.type, start, s.in_pos, nullptr);
    else build = s.load;
    if (s.moved || !build) return;
  }
  uint32_t before = s.tail;
  try {
    if (t == T_BRACE_CLOSE) load_string_body(s, start, end, s.flags, true);
    else LOADERS[t](s, start, end, s.flags, true);
  } catch (const lex_abort&) {
    s.tail = before;
    return;
  }
  if (fun && s.tail > before) {
    Cell v = cells[s.tail - 1];
    if (!fire_event(s, EV_LOAD, s.type, start, s.in_pos, &v)) s.tail = before;
  }
}

void path_open(state& s) {
  const uint8_t* start = s.tok_start;
  const uint8_t* end = s.tok_end;
  s.in_pos = end + 1;
  uint32_t kind = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
  uint32_t before = s.buf;
  open_series(s, kind, start);
  bool opened = s.buf != before;
  if (s.moved) return;
  if (kind != TYPE_PATH) start++;
  s.mtype = TYPE_WORD;
  s.word_kind = TYPE_WORD;
  s.type = TYPE_WORD;
  deliver(s, T_WORD, start, end, false);
  if (s.moved) return;
  s.in_pos = end + 1;
  s.type = 0;
  s.mtype = -1;
  if (opened) s.entry = S_PATH_SEGMENT;
}

// After a path segment: "/" goes on to the next segment, ":" closes a
// set-path, a terminator (or the end) closes the path, anything else is the
// path error.
void check_path_end(state& s) {
  if (s.in_pos >= s.in_end) {
    close_series(s, -1, false, s.in_pos);
    return;
  }
  uint8_t b = *s.in_pos;
  switch (class_of(b)) {
    case C_COLON:
      close_series(s, TYPE_SET_PATH, false, s.in_pos);
      s.in_pos++;
      if (s.in_pos < s.in_end && *s.in_pos == '/') throw_error(s, nullptr, TYPE_PATH);
      return;
    case C_BLANK: case C_LINE: case C_BLOCK_OPEN: case C_BLOCK_CLOSE: case C_PAREN_OPEN:
    case C_PAREN_CLOSE: case C_BRACE_OPEN: case C_DQUOTE: case C_LESS: case C_SEMICOLON:
    case C_LETTER: case C_ILLEGAL: case C_END:
      close_series(s, -1, false, s.in_pos);
      return;
    case C_SLASH:
      // The next segment may be a get-word (":" starts one); the input must
      // not end here.
      s.in_pos++;
      if (s.in_pos >= s.in_end) throw_error(s, nullptr, TYPE_PATH);
      return;
    default:
      throw_error(s, nullptr, TYPE_PATH);
  }
}

// Word tokens that start with a delimiter code point are scanned again after
// it; one that holds such a code point ends there.
bool is_delimiter_at(const uint8_t* p, const uint8_t* end, const uint8_t** after) {
  if (*p < 0xC2 || *p > 0xE3) return false;
  int32_t cp;
  const uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
  bool delimiter = cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) ||
                   cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
                   cp == 0x3000 || cp == 0x180E;
  if (delimiter) *after = next;
  return delimiter;
}

// Answers true when the token is to be scanned again from a new position.
bool split_word(state& s) {
  const uint8_t* after;
  if (is_delimiter_at(s.tok_start, s.tok_end, &after)) {
    while (after < s.tok_end && is_delimiter_at(after, s.tok_end, &after)) {
    }
    s.in_pos = after;
    return true;
  }
  for (const uint8_t* p = s.tok_start + 1; p < s.tok_end; p++) {
    if (is_delimiter_at(p, s.tok_end, &after)) {
      s.in_pos = s.tok_end = p;
      return false;
    }
  }
  return false;
}

void scan_tokens(state& s) {
  int32_t carried_line = -1;  // lines before a token that is scanned again
  for (;;) {
    // Step 1: read one token.
    s.moved = false;
    uint32_t flags = 0;
    uint32_t st = uint32_t(s.entry);
    uint32_t token_entry = st;
    const uint8_t* p = s.in_pos;
    const uint8_t* start = p;
    const uint8_t* end = s.in_end;
    int32_t line0 = carried_line >= 0 ? carried_line : s.line;
    carried_line = -1;
    // The hot loop: per byte one class lookup and one transition lookup.
    uint32_t row = st * CLASS_COUNT, next_row;
    int32_t line = s.line;
    for (;;) {
      if (p == end) {
        flags |= F_END;
        next_row = ROW_TRANSITIONS[row + C_END];
        break;
      }
      uint32_t c = CLASSES[*p];
      flags |= c;
      next_row = ROW_TRANSITIONS[row + (c & 0xFF)];
      start += next_row == 0;  // bytes read in state 0 are skipped
      if (next_row >= FIRST_FINAL_ROW) break;
      line += (c & F_LINE) >> 8;
      row = next_row;
      p++;
    }
    st = row / CLASS_COUNT;
    uint32_t next = next_row / CLASS_COUNT;
    s.line = line;
    s.in_pos = s.tok_end = p;
    s.tok_start = start;
    s.flags = flags & ~(0xFFu | F_LINE);
    s.nlines = s.line - line0;
    s.exit = int32_t(st);
    s.mtype = -1;
    s.type = STATE_TYPES[next];
    uint32_t t = next - FIRST_FINAL;
    // A "%"-run after "}" that did not end the raw string: its loader finds
    // where the string really ends.
    if (t == T_ERROR && st == 12 && *start == '%') {
      t = T_RAW_STRING;
      s.type = TYPE_STRING;
    }
    if (t == T_POINT) {
      s.tok_start = s.point_start;
      s.nlines = s.plines;
      s.entry = S_START;
    }
    // Step 4: in prescan mode the structure is followed token by token.
    bool scanned = false;
    if (s.prescan && t <= T_STRING) {
      if (!run_scanner(s, t)) break;
      scanned = true;
    }
    // Step 5: delimiter code points around words, refinements and issues
    // alike, so that such a code point is a blank wherever it stands.
    if ((t == T_WORD || t == T_REFINEMENT || t == T_ISSUE) && (s.flags & F_UTF8_2) &&
        split_word(s)) {
      carried_line = line0;
      continue;
    }
    // A "/" cut short by one is the word "/", as before a blank.
    if (t == T_REFINEMENT && s.tok_end - s.tok_start == 1) {
      t = T_WORD;
      s.type = TYPE_WORD;
    }
    // Step 6: the prescan event.
    bool go;
    if (!has_fun(s)) {
      go = !s.prescan;
    } else if (token_entry == S_BRACE_BODY) {
      go = true;
    } else if (t == T_PAREN_OPEN && point_ahead(s, s.tok_end)) {
      go = true;
    } else {
      int32_t type = s.type ? s.type : -int32_t(t) - 1;
      go = fire_event(s, EV_PRESCAN, type, s.tok_start, s.tok_end, nullptr);
      if (s.moved) continue;
    }
    // Step 7: scan and load.
    if (go && !scanned) {
      if (t < T_STRING) {
        if (!run_scanner(s, t) && s.one && !s.load) break;
      } else {
        bool scanner = t <= T_ISSUE;
        if (t == T_POINT) s.in_pos = s.tok_end + 1;
        deliver(s, t, s.tok_start, s.tok_end, scanner);
      }
      if (s.moved) continue;
    } else if (!go && t == T_POINT) {
      s.in_pos = s.tok_end + 1;
    }
    // Step 8: after a path segment.
    if (s.entry == S_PATH_SEGMENT && t != T_PATH && t != T_ERROR) {
      try {
        check_path_end(s);
      } catch (const lex_abort&) {
      }
      if (s.moved) continue;
    }
    // Step 9: one value, or one prescanned token, is all that is wanted.
    if ((s.one || s.prescan) && s.type != 0 && s.entry == S_START && t != T_PATH) {
      uint32_t n = s.tail - s.head;
      if (n == 0 || (n == 1 && TYPE_OF(&cells[s.head]) != TYPE_MARKER)) break;
    }
    s.prev_type = s.type;
    if (s.in_pos >= s.in_end) break;
  }
  if (s.entry == S_BRACE_BODY && s.bcount > 0 && s.in_pos >= s.in_end && s.type == 0) {
    try {
      throw_error(s, s.bstart, TYPE_STRING);
    } catch (const lex_abort&) {
    }
  }
}

void unlink(state& s) {
  if (s.back) s.back->next = nullptr;
  else first_state = nullptr;
  last_state = s.back;
}

// Stores the stacked values: a block in dst (or appended to into's block),
// or, for one value unwrapped, that value.
void store_results(state& s, Cell* dst, const scan_options& o) {
  uint32_t n = s.tail - s.head;
  if (o.one && !o.wrap && n >= 1) {
    Cell v = cells[s.head];
    if (o.into) {
      block::rs_append(o.into, &v);
      *dst = *o.into;
    } else {
      *dst = v;
    }
    return;
  }
  if (o.into) {
    Cell target = *o.into;
    series_buffer* b = memory::ensure_room(target.w2, uint64_t(n) * sizeof(Cell));
    std::memcpy(b->tail_ptr(), cells + s.head, size_t(n) * sizeof(Cell));
    b->tail += n * uint32_t(sizeof(Cell));
    *dst = target;
    return;
  }
  *dst = make_unset();
  node_t node = memory::alloc_cells(std::max<uint32_t>(n, 1));
  series_buffer* b = memory::buffer(node);
  std::memcpy(b->data(), cells + s.head, size_t(n) * sizeof(Cell));
  b->tail = n * uint32_t(sizeof(Cell));
  *dst = make_series(TYPE_BLOCK, node);
}

}  // namespace

int32_t scan_buffer(Cell* dst, const uint8_t* text, uint32_t size, const scan_options& o,
                    uint32_t* consumed) {
  init();
  state s{};
  s.back = last_state;
  if (last_state) last_state->next = &s;
  else first_state = &s;
  last_state = &s;
  s.head = s.buf = s.tail = s.back ? s.back->tail : 0;
  s.input = s.in_pos = s.tok_start = s.tok_end = text;
  s.in_end = text + size;
  s.line = 1;
  s.mtype = -1;
  s.load = o.load_values && o.not_scan;
  s.one = o.one;
  s.prescan = !o.load_values;
  s.fun = o.callback ? *o.callback : make_none();
  s.ser = o.source ? *o.source : make_none();
  s.string_source = o.source && TYPE_OF(o.source) != TYPE_BINARY;
  if (o.callback) {
    s.fun_locals = function::count_locals(o.callback->w2, 0, false);
    s.events = event_mask(o.callback);
  }
  try {
    scan_tokens(s);
    // Step 3: a series still open is missing its closing delimiter.
    if (s.tail > s.head) {
      uint32_t innermost = s.buf > s.head ? s.buf - 1 : s.head;
      if (s.prescan && s.entry == S_PATH_SEGMENT && s.type != int32_t(TYPE_ERROR)) {
        s.type = int32_t(marker_type(innermost));
      } else if (TYPE_OF(&cells[innermost]) == TYPE_MARKER) {
        s.closing = int32_t(marker_type(innermost));
        try {
          throw_error(s, s.input + cells[innermost].w3, K_UNCLOSED);
        } catch (const lex_abort&) {
          *dst = make_none();
          unlink(s);
          if (consumed) *consumed = source_offset(s, s.in_pos);
          return s.type;
        }
      }
    }
    if (o.not_scan) store_results(s, dst, o);
  } catch (const lex_halt&) {
    unlink(s);
    return 0;
  } catch (...) {
    // An error passing through leaves what was made so far in dst.
    if (s.load) {
      try {
        collapse(s);
        store_results(s, dst, o);
      } catch (...) {
      }
    }
    unlink(s);
    throw;
  }
  unlink(s);
  if (consumed) *consumed = source_offset(s, std::min(s.in_pos, s.in_end));
  return s.type;
}

namespace {

// Gives back the work-buffer bytes (or own buffer) of one string scan.
struct work_area {
  uint8_t* bytes = nullptr;
  uint32_t taken = 0;  // from the work buffer
  bool own = false;
  ~work_area() {
    if (own) heap::free(bytes);
    else work_used -= taken;
  }
};

}  // namespace

int32_t scan_string(Cell* dst, const Cell* series, int32_t length, const scan_options& options,
                    uint32_t* consumed) {
  init();
  Cell src = *series;
  bool binary = TYPE_OF(&src) == TYPE_BINARY;
  series_buffer* b = GET_BUFFER(&src);
  uint32_t unit = binary ? 1 : b->unit();
  uint32_t total = b->used() / unit;
  uint32_t head = std::min(src.w1, total);
  uint32_t n = total - head;
  if (length >= 0 && uint32_t(length) < n) n = uint32_t(length);
  uint64_t need = binary ? n : uint64_t(n) * (unit == 1 ? 2 : unit == 2 ? 3 : 4);
  work_area area;
  if (need <= WORK_SIZE - work_used) {
    area.bytes = work + work_used;
    area.taken = uint32_t(need);
    work_used += area.taken;
  } else {
    area.bytes = static_cast<uint8_t*>(heap::allocate(size_t(need ? need : 1)));
    area.own = true;
  }
  b = GET_BUFFER(&src);
  const uint8_t* from = b->head_ptr() + uint64_t(head) * unit;
  uint32_t size = 0;
  if (binary) {
    std::memcpy(area.bytes, from, n);
    size = n;
  } else {
    for (uint32_t i = 0; i < n; i++) {
      uint32_t cp = unicode::get_char(from + i * unit, unit);
      size += uint32_t(unicode::cp_to_utf8(cp, area.bytes + size));
    }
  }
  scan_options o = options;
  if (!o.source) o.source = series;
  return scan_buffer(dst, area.bytes, size, o, consumed);
}

Cell* scan_string(const Cell* value) {
  Cell* dst = stack::push_unset();
  Cell src = *value;
  Cell* source = stack::push(src);
  scan_string(dst, source, -1, scan_options{}, nullptr);
  stack::top = dst + 1;
  return dst;
}

Cell* scan_utf8(const char* text, uint32_t length) {
  Cell* dst = stack::push_unset();
  scan_buffer(dst, reinterpret_cast<const uint8_t*>(text), length, scan_options{}, nullptr);
  return dst;
}

}  // namespace kez::lexer
