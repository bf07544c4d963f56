// The line editor and the redirected line reader.
//
// Screen positions are linear cell offsets counted from column 0 of the row
// where the prompt starts; a row is `width` cells. The editor knows where it
// left the terminal's cursor (`phys`, and whether it sits past the end of a
// full row waiting to wrap) and moves it only relatively, so scrolling never
// invalidates a position; after a width change the same offsets read with
// the new width match a terminal that rewraps its lines. Drawing collects in
// one buffer that is written when the editor is about to wait for a key, so
// that a burst of pasted or typed-ahead keys costs one write, not one each.
//
// Redirected input is read in blocks that the line reader and `read-stdin`
// share, so that neither loses what the other read ahead.
#include "console/terminal.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "boot/system.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "foundation/collector.h"
#include "foundation/output.h"
#include "foundation/tty.h"
#include "values/block.h"
#include "values/context.h"
#include "values/object.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::terminal {

namespace {

// The size assumed when the terminal will not tell.
constexpr long DEFAULT_WIDTH = 80;

Cell edit_line;   // string! filled by the edit
Cell history;     // block! of strings, newest first
bool roots_registered = false;
bool has_console = false;
bool initialised = false;

std::u32string pending;  // what the next edit starts with
size_t pending_index = 0;

struct editor {
  std::u32string prompt, line;
  size_t cursor = 0;
  bool hidden = false;
  long width = DEFAULT_WIDTH, height = 24;
  long start = 0;          // offset of the prompt's first cell
  long phys = 0;           // where the terminal's cursor is
  bool phys_wrap = false;  // at the end of a full row, before the wrap
  long pos_c = 0, pos_e = 0;
  bool first_refresh = true, redraw = true;
  std::string out;
};
editor ed;

// --- strings ------------------------------------------------------------

std::u32string text_of(const Cell* s, bool from_start) {
  std::u32string t;
  if (!string::is_string_type(TYPE_OF(s))) return t;
  series_buffer* b = GET_BUFFER(s);
  uint32_t unit = b->unit();
  uint32_t n = b->used() / unit;
  for (uint32_t i = from_start ? 0 : s->w1; i < n; i++)
    t.push_back(char32_t(string::get_char(b->head_ptr() + uint64_t(i) * unit, unit)));
  return t;
}

void store_text(Cell* s, const std::u32string& t) {
  node_t node = s->w2;
  string::truncate_at(node, 0);
  for (char32_t c : t) string::append_char(node, uint32_t(c));
  s->w1 = 0;
}

// --- measuring and drawing ----------------------------------------------

int char_width(char32_t c) {
  if (c == '\t') return 4;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 1;  // shown as "?"
  if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
  return unicode::char_width(uint32_t(c));
}

void put_utf8(std::string& o, char32_t c) {
  uint8_t buf[4];
  int n = unicode::cp_to_utf8(uint32_t(c), buf);
  o.append(reinterpret_cast<const char*>(buf), size_t(n));
}

void put_csi(std::string& o, long n, char final) {
  o += "\x1b[";
  o += std::to_string(n);
  o += final;
}

// Walks text[from, to) from offset `pos`, writing it into ed.out when
// `draw`. Prompts may hold escape sequences (no width) and line feeds.
// Sets `wrap` when the last character filled its row exactly.
long layout(const std::u32string& text, size_t from, size_t to, long pos, bool masked,
            bool is_prompt, bool draw, bool& wrap) {
  long w = ed.width;
  for (size_t i = from; i < to; i++) {
    char32_t c = text[i];
    if (is_prompt && c == 0x1B) {
      if (draw) ed.out += '\x1b';
      if (i + 1 < to && (text[i + 1] == '[' || text[i + 1] == '(')) {
        size_t j = i + 2;
        while (j < to && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) j++;
        if (j < to) j++;  // the final character
        if (draw)
          for (size_t k = i + 1; k < j; k++) put_utf8(ed.out, text[k]);
        i = j - 1;
      }
      continue;
    }
    if (is_prompt && c == '\n') {
      if (!wrap) pos = (pos / w + 1) * w;
      if (draw) ed.out += "\r\n";
      wrap = false;
      continue;
    }
    int cw = masked ? 1 : char_width(c);
    if (cw == 0) {
      if (draw) put_utf8(ed.out, c);
      continue;
    }
    if (cw == 2 && pos % w == w - 1) {
      // A wide character never straddles rows: the last cell stays blank.
      if (draw) ed.out += ' ';
      pos++;
    }
    if (draw) {
      if (masked) ed.out += '*';
      else if (c == '\t') ed.out += "    ";
      else if (cw == 1 && (c < 0x20 || (c >= 0x7F && c < 0xA0))) ed.out += '?';
      else put_utf8(ed.out, c);
    }
    pos += cw;
    wrap = pos % w == 0;
  }
  return pos;
}

// Moves the terminal's cursor to `target` with relative motions.
void move_to(long target) {
  long w = ed.width;
  long trow = target / w, tcol = target % w;
  long prow, pcol;
  if (ed.phys_wrap && ed.phys > 0) {
    prow = (ed.phys - 1) / w;
    pcol = w - 1;
  } else {
    prow = ed.phys / w;
    pcol = ed.phys % w;
  }
  bool reset_col = ed.phys_wrap;
  if (trow > prow) {
    ed.out += '\r';
    for (long k = prow; k < trow; k++) ed.out += '\n';
    pcol = 0;
    reset_col = false;
  } else if (trow < prow) {
    put_csi(ed.out, prow - trow, 'A');
  }
  if (tcol != pcol || reset_col) {
    ed.out += '\r';
    if (tcol > 0) put_csi(ed.out, tcol, 'C');
  }
  ed.phys = target;
  ed.phys_wrap = false;
}

void flush_out() {
  if (!ed.out.empty()) tty::write_out(ed.out);
  ed.out.clear();
}

// The start of the edit: where the terminal's cursor stands now. With input
// waiting (pasted, or typed ahead while a command ran) the terminal is not
// asked when the last output ended its row: the prompt starts that row,
// over what the terminal may have echoed of the input, which the editor
// shows again.
void take_start() {
  int row, col;
  if (output::at_line_start() && tty::input_waiting()) {
    ed.out += "\r\x1b[K";
    ed.start = 0;
  } else {
    ed.start = tty::cursor_position(row, col) ? col - 1 : 0;
  }
  if (ed.start < 0) ed.start = 0;
  if (ed.start >= ed.width) ed.start = ed.width - 1;
  ed.phys = ed.start;
  ed.phys_wrap = false;
}

// Redraws prompt and line from the start when the redraw flag is set, then
// places the cursor.
void refresh() {
  if (ed.first_refresh) {
    ed.first_refresh = false;
    take_start();
  } else if (ed.redraw) {
    move_to(ed.start);
    ed.out += "\x1b[J";
  }
  bool wrap = false;
  long p = layout(ed.prompt, 0, ed.prompt.size(), ed.start, false, true, ed.redraw, wrap);
  ed.pos_c = layout(ed.line, 0, ed.cursor, p, ed.hidden, false, ed.redraw, wrap);
  ed.pos_e = layout(ed.line, ed.cursor, ed.line.size(), ed.pos_c, ed.hidden, false, ed.redraw, wrap);
  // When nothing was drawn the cursor is still where it was placed last.
  if (ed.redraw) {
    ed.phys = ed.pos_e;
    ed.phys_wrap = wrap;
  }
  long target = ed.pos_c;
  if (ed.cursor < ed.line.size() && !ed.hidden && char_width(ed.line[ed.cursor]) == 2 &&
      target % ed.width == ed.width - 1)
    target++;
  move_to(target);
}

// Leaves the cursor at the start of the row after the input.
void finish_rows() {
  long last = ed.pos_e;
  if (last > ed.start && last % ed.width == 0) last--;
  move_to(last - last % ed.width);
  flush_out();
}

// --- sizes --------------------------------------------------------------

Cell* size_field() { return const_cast<Cell*>(system::field({"console", "size"})); }

}  // namespace

void query_size() {
  Cell* size = size_field();
  long w = ed.width, h = ed.height;
  if (size && TYPE_OF(size) == TYPE_PAIR) {
    w = int32_t(size->w2);
    h = int32_t(size->w3);
  }
  int cols, rows;
  if (tty::window_size(cols, rows)) {
    w = cols;
    h = rows;
  }
  if (w <= 0) w = DEFAULT_WIDTH;
  ed.width = w;
  ed.height = h;
  size = size_field();
  if (size && (TYPE_OF(size) == TYPE_PAIR || TYPE_OF(size) == TYPE_NONE))
    *size = Cell{TYPE_PAIR, 0, uint32_t(int32_t(w)), uint32_t(int32_t(h))};
}

namespace {

// --- history and completion ----------------------------------------------

int32_t history_length() {
  if (!block::is_block_type(TYPE_OF(&history))) return 0;
  return int32_t(GET_BUFFER(&history)->used() / sizeof(Cell));
}

void load_entry(int32_t i) {
  Cell entry = cell_head(GET_BUFFER(&history))[i];
  ed.line = text_of(&entry, true);
  ed.cursor = ed.line.size();
}

void add_to_history() {
  if (ed.hidden || ed.line.empty() || !block::is_block_type(TYPE_OF(&history))) return;
  if (history_length() > 0) {
    Cell newest = cell_head(GET_BUFFER(&history))[0];
    if (text_of(&newest, true) == ed.line) return;
  }
  Cell at_head = history;
  at_head.w1 = 0;
  block::insert_value(&at_head, &edit_line, true, false);
}

struct completion {
  std::u32string text;
  size_t index;
};

// The entries that `kez-complete-ctx/complete-input` offers for the line at
// the cursor; none while completion does not exist, or when it fails.
std::vector<completion> complete() {
  std::vector<completion> entries;
  const Cell* found = context::get_global_value(symbol::make("kez-complete-ctx"));
  if (!found || TYPE_OF(found) != TYPE_OBJECT) return entries;
  Cell ctx = *found;
  Cell name = word::make(TYPE_WORD, 0, symbol::make("complete-input"), 0);
  int32_t slot = object::find_word(&ctx, &name);
  if (slot < 0) return entries;
  Cell fn = context::values(ctx.w1)[slot];
  if (TYPE_OF(&fn) != TYPE_FUNCTION && TYPE_OF(&fn) != TYPE_ROUTINE) return entries;
  store_text(&edit_line, ed.line);
  stack::mark saved;
  Cell* result = stack::push_unset();
  stack::arguments = result;
  Cell try_word = words::try_word;
  stack::open_try_all_frame(&try_word);
  Cell position = interpreter::current;
  try {
    Cell* code = block::push_only(3);
    block::rs_append(code, &fn);
    Cell at_cursor = edit_line;
    at_cursor.w1 = uint32_t(ed.cursor);
    block::rs_append(code, &at_cursor);
    block::rs_append(code, &true_value);
    interpreter::eval_block(code, true);
    if (stack::pending()) stack::raise_code = 0;
    else stack::pop_frame_return();
  } catch (const runtime_throw& t) {
    if (t.code != RAISE_ERROR) throw;
    interpreter::current = position;
    stack::arguments = result;
    stack::settle_try_result();
  }
  Cell value = *result;
  if (block::is_block_type(TYPE_OF(&value))) {
    int32_t n = block::rs_length(&value);
    for (int32_t i = 0; i < n; i++) {
      Cell e = block::rs_head(&value)[i];
      if (!string::is_string_type(TYPE_OF(&e))) continue;
      entries.push_back({text_of(&e, true), e.w1});
    }
  }
  saved.restore();
  return entries;
}

// --- the edit -----------------------------------------------------------

void insert_char(char32_t c) {
  if (ed.cursor == ed.line.size() && (ed.hidden || (char_width(c) == 1 && c >= 0x20 &&
                                                    !(c >= 0x7F && c < 0xA0)))) {
    // At the end of the line only the new character is written.
    ed.line.push_back(c);
    ed.cursor++;
    if (ed.hidden) ed.out += '*';
    else put_utf8(ed.out, c);
    ed.phys++;
    ed.phys_wrap = ed.phys % ed.width == 0;
    ed.redraw = false;
    refresh();
    return;
  }
  ed.line.insert(ed.line.begin() + long(ed.cursor), c);
  ed.cursor++;
  refresh();
}

// How the editor ended: Enter (the one ending that adds the line to the
// history), Escape, candidates shown by completion, or the user leaving.
enum class ending { enter, escape, completion, leave };

// A pasted line break was a carriage return: a line feed right after it
// belongs to the same break. Kept across edits, as a paste spans them.
bool after_pasted_cr = false;

// The next event; what was drawn is written first when the editor would
// otherwise wait for it.
tty::event next_event() {
  if (!tty::event_ready()) flush_out();
  return tty::read_event(-1);
}

// Runs the editor; the line ends up in ed.line.
ending run_editor() {
  int32_t n = history_length();
  int32_t index = -1;
  ed.line.clear();
  ed.cursor = 0;
  Cell given = edit_line;
  ed.line = text_of(&given, true);
  ed.cursor = given.w1 <= ed.line.size() ? given.w1 : ed.line.size();
  if (!pending.empty()) {
    ed.line += pending;
    ed.cursor = pending_index <= ed.line.size() ? pending_index : ed.line.size();
  }
  ed.first_refresh = true;
  ed.redraw = true;
  refresh();
  for (;;) {
    ed.redraw = true;
    tty::event ev = next_event();
    if (ev.kind == tty::EV_FAIL) {
      // The terminal is gone: end as Ctrl-C does.
      ed.line.assign(1, U'q');
      ed.cursor = 1;
      return ending::leave;
    }
    if (ev.kind == tty::EV_RESIZE) {
      query_size();
      ed.phys_wrap = false;
      continue;
    }
    if (ev.kind != tty::EV_KEY) continue;
    int32_t key = ev.code;
    if (ev.mods & tty::MOD_PASTED) {
      // Pasted text is typed text whose line breaks are Enter; its tabs
      // and other characters are never commands.
      bool lf_of_crlf = key == '\n' && after_pasted_cr;
      after_pasted_cr = key == '\r';
      if (lf_of_crlf) continue;
      if (key == '\r' || key == '\n') {
        pending.clear();
        pending_index = 0;
        return ending::enter;
      }
      if (key == '\t' || (key > 31 && key != 127)) insert_char(char32_t(key));
      continue;
    }
    after_pasted_cr = false;
    if ((ev.mods & tty::MOD_ALT) && key > 0) continue;
    size_t len = ed.line.size();
    switch (key) {
      case 9: {
        flush_out();
        std::vector<completion> entries = complete();
        if (entries.empty()) {
          insert_char('\t');
        } else if (entries.size() == 1) {
          pending = ed.line;
          pending_index = ed.cursor;
          ed.line = entries[0].text;
          ed.cursor = entries[0].index <= ed.line.size() ? entries[0].index : ed.line.size();
          refresh();
        } else {
          pending = entries[0].text;
          pending_index = entries[0].index;
          ed.line.clear();
          for (size_t i = 1; i < entries.size(); i++) {
            ed.line += entries[i].text;
            ed.line += U' ';
          }
          ed.cursor = ed.line.size();
          refresh();
          ed.line.clear();
          ed.cursor = 0;
          return ending::completion;
        }
        break;
      }
      case tty::KEY_ENTER:
        pending.clear();
        pending_index = 0;
        return ending::enter;
      case 8:
      case 127:
        if (ed.cursor > 0) {
          ed.cursor--;
          ed.line.erase(ed.cursor, 1);
          if (ed.cursor == ed.line.size()) {
            ed.redraw = false;
            refresh();
            ed.out += "\x1b[J";
          } else {
            refresh();
          }
        }
        break;
      case 2:
      case tty::KEY_LEFT:
        if (ed.cursor > 0) {
          ed.cursor--;
          ed.redraw = false;
          refresh();
        }
        break;
      case 6:
      case tty::KEY_RIGHT:
        if (ed.cursor < len) {
          ed.cursor++;
          ed.redraw = false;
          refresh();
        }
        break;
      case 1:
      case tty::KEY_HOME:
        ed.cursor = 0;
        refresh();
        break;
      case 5:
      case tty::KEY_END:
        ed.cursor = len;
        refresh();
        break;
      case tty::KEY_DELETE:
        if (ed.cursor < len) {
          ed.line.erase(ed.cursor, 1);
          refresh();
        }
        break;
      case 11:
        if (ed.cursor < len) {
          ed.line.erase(ed.cursor);
          refresh();
        }
        break;
      case 4:
        if (ed.cursor < len) {
          ed.line.erase(ed.cursor, 1);
          refresh();
        } else if (len == 0) {
          ed.line.assign(1, U'q');
          ed.cursor = 1;
          return ending::leave;
        }
        break;
      case 3:
        ed.line.assign(1, U'q');
        ed.cursor = 1;
        return ending::leave;
      case tty::KEY_ESCAPE:
        pending.clear();
        pending_index = 0;
        ed.line.push_back(0x1B);
        return ending::escape;
      case 16:
      case tty::KEY_UP:
        if (index < n - 1) {
          index++;
          load_entry(index);
        } else {
          ed.line.clear();
          ed.cursor = 0;
        }
        refresh();
        break;
      case 14:
      case tty::KEY_DOWN:
        if (index < 0) {
          ed.line.clear();
          ed.cursor = 0;
        } else {
          load_entry(index);
          index--;
        }
        refresh();
        break;
      default:
        if (key > 31) insert_char(char32_t(key));
        break;
    }
  }
}

// Keeps the terminal in raw mode, with pasted text bracketed, for the
// edit, on every way out of it.
struct raw_guard {
  bool on = tty::enter_raw();
  raw_guard() {
    if (on) tty::bracketed_paste(true);
  }
  ~raw_guard() {
    if (!on) return;
    tty::bracketed_paste(false);
    tty::leave_raw();
  }
};

// --- redirected input ---------------------------------------------------

// One block of standard input read ahead, shared by the line reader and
// read_stdin: large enough that a long line costs few reads.
struct stdin_block {
  static constexpr size_t SIZE = 64 * 1024;
  uint8_t data[SIZE];
  size_t head = 0, tail = 0;
};
stdin_block in;

// Makes a byte available; false at the end of input or on a failed read.
bool fill_stdin() {
  if (in.head < in.tail) return true;
  for (;;) {
    ssize_t n = read(STDIN_FILENO, in.data, stdin_block::SIZE);
    if (n > 0) {
      in.head = 0;
      in.tail = size_t(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// One character of UTF-8, or -1 at the end of input. A byte that cannot
// continue the sequence is left for the next character.
int32_t read_utf8_char() {
  if (!fill_stdin()) return -1;
  int lead = in.data[in.head++];
  int size;
  int32_t value;
  if (lead < 0x80) return lead;
  if (lead >= 0xC2 && lead <= 0xDF) { size = 2; value = lead & 0x1F; }
  else if (lead >= 0xE0 && lead <= 0xEF) { size = 3; value = lead & 0x0F; }
  else if (lead >= 0xF0 && lead <= 0xF4) { size = 4; value = lead & 0x07; }
  else return 0xFFFD;
  for (int i = 1; i < size; i++) {
    if (!fill_stdin()) return 0xFFFD;
    uint8_t b = in.data[in.head];
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    in.head++;
    value = (value << 6) | (b & 0x3F);
  }
  bool overlong = (size == 3 && value < 0x800) || (size == 4 && value < 0x10000);
  if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0xFFFD;
  return value;
}

}  // namespace

bool stdin_readline(std::u32string& out) {
  out.clear();
  bool any = false;
  while (fill_stdin()) {
    any = true;
    // ASCII runs are taken straight from the block.
    while (in.head < in.tail && in.data[in.head] < 0x80) {
      uint8_t b = in.data[in.head++];
      if (b == '\n') return true;
      out.push_back(char32_t(b));
    }
    if (in.head < in.tail) out.push_back(char32_t(read_utf8_char()));
  }
  return any;
}

size_t read_stdin(uint8_t* into, size_t size) {
  if (in.head < in.tail) {
    size_t n = in.tail - in.head < size ? in.tail - in.head : size;
    std::memcpy(into, in.data + in.head, n);
    in.head += n;
    return n;
  }
  for (;;) {
    ssize_t n = read(STDIN_FILENO, into, size);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? size_t(n) : 0;
  }
}

void init() {
  initialised = true;
  has_console = tty::input_is_terminal() && tty::output_is_terminal();
  if (has_console) query_size();
}

void init_globals() {
  pending.clear();
  pending_index = 0;
}

bool console_input() {
  if (!initialised) init();
  return has_console;
}

void setup(const Cell* line, const Cell* hist) {
  if (!roots_registered) {
    roots_registered = true;
    edit_line = make_none();
    history = make_none();
    collector::add_root(&edit_line);
    collector::add_root(&history);
  }
  edit_line = *line;
  history = *hist;
  history.w1 = 0;
}

edit_end edit(const Cell* prompt, bool hidden) {
  if (!roots_registered || !string::is_string_type(TYPE_OF(&edit_line))) {
    Cell fresh = *string::push_new(1);
    Cell none = make_none();
    setup(&fresh, &none);
    stack::pop(1);
  }
  if (!console_input()) {
    ed.hidden = false;
    std::u32string text;
    bool got = stdin_readline(text);
    store_text(&edit_line, text);
    return got ? edit_end::line : edit_end::end_of_input;
  }
  ed.prompt = text_of(prompt, false);
  ed.hidden = hidden;
  query_size();
  ending how;
  {
    raw_guard raw;
    how = run_editor();
    finish_rows();
  }
  store_text(&edit_line, ed.line);
  if (how == ending::enter) add_to_history();
  output::print_text("\n");
  switch (how) {
    case ending::leave: return edit_end::leave;
    case ending::completion: return edit_end::completion;
    default: return edit_end::line;
  }
}

}  // namespace kez::terminal
