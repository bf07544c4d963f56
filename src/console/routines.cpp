// The console's routines.
//
// A routine reads its arguments at stack::arguments[i] and leaves its result
// in stack::arguments[0]. The console object's `init` routine is bound here
// to a global word of its own, which the console's source moves into the
// object and then unsets.
#include "console/routines.h"

#include <string>
#include <string_view>

#include "boot/routines.h"
#include "boot/system.h"
#include "console/terminal.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/memory.h"
#include "foundation/output.h"
#include "foundation/tty.h"
#include "services/lexer.h"
#include "values/function.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::console {

namespace {

// The most `read-stdin` takes in one call.
constexpr int32_t READ_STDIN_LIMIT = 16 << 20;

inline Cell* arg(int i) { return stack::arguments + i; }

void set_buffer_history() { terminal::setup(arg(0), arg(1)); }

// True for a line, false at the end of redirected input, the word `quit`
// when the user asked to leave (Ctrl-C, Ctrl-D, a lost terminal): the line
// then holds "q"; the word `completion` when the edit ended by showing
// completion candidates: the line is then empty and not the user's.
void read_input() {
  switch (terminal::edit(arg(0), TYPE_OF(arg(1)) == TYPE_LOGIC && arg(1)->w1 != 0)) {
    case terminal::edit_end::line: *arg(0) = make_logic(true); break;
    case terminal::edit_end::end_of_input: *arg(0) = make_logic(false); break;
    case terminal::edit_end::leave:
      *arg(0) = word::make(TYPE_WORD, 0, symbol::make("quit"), 0);
      break;
    case terminal::edit_end::completion:
      *arg(0) = word::make(TYPE_WORD, 0, symbol::make("completion"), 0);
      break;
  }
}

// Prints as `print` does, on standard error: the console's error reports.
void print_report() {
  output::to_error_stream to_errors;
  natives::print_star(false, nullptr);
}

void interactive_q() { *arg(0) = make_logic(tty::input_is_terminal()); }

void terminate_console() { *arg(0) = make_unset(); }

void input_stdin() {
  std::u32string line;
  if (!terminal::stdin_readline(line)) {
    *arg(0) = make_none();
    return;
  }
  Cell* s = string::push_new(256);
  for (char32_t c : line) string::append_char(s->w2, uint32_t(c));
  *arg(0) = *s;
}

void read_stdin() {
  Cell buffer = *arg(0);
  int32_t want = get_integer(arg(1));
  if (want > READ_STDIN_LIMIT) want = READ_STDIN_LIMIT;
  if (want <= 0) return;
  series_buffer* b = memory::ensure_room(buffer.w2, uint32_t(want));
  b->tail += uint32_t(terminal::read_stdin(b->tail_ptr(), size_t(want)));
  *arg(0) = buffer;
}

void console_init() {
  Cell title = *arg(0);
  std::string text = string::to_utf8(&title);
  tty::set_title(text);
  terminal::init();
  terminal::init_globals();
  Cell* size = const_cast<Cell*>(system::field({"console", "size"}));
  if (size && (TYPE_OF(size) != TYPE_PAIR || size->w2 == 0 || size->w3 == 0))
    *size = Cell{TYPE_PAIR, 0, 80, 50};
  *arg(0) = make_unset();
}

using boot::routine_entry;

constexpr routine_entry ROUTINES[] = {
    {"_set-buffer-history", R"("Internal Use Only" line [string!] hist [block!])",
     set_buffer_history},
    {"_read-input",
     R"("Internal Use Only" prompt [string!] hidden? [logic!] return: [logic! word!])",
     read_input},
    {"_print-report", R"("Internal Use Only" value [any-type!])", print_report},
    {"_interactive?", R"("Internal Use Only" return: [logic!])", interactive_q},
    {"_terminate-console", "", terminate_console},
    {"input-stdin", R"("Temporary function, internal use only" return: [string! none!])",
     input_stdin},
    {"read-stdin",
     R"("Temporary function, internal use only" buffer [binary!] buflen [integer!])",
     read_stdin},
    {"_console-init", "str [string!]", console_init},
};

}  // namespace

void make_routines() { boot::define_routines(ROUTINES); }

}  // namespace kez::console
