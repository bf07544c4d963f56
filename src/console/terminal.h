// Console line input: the line editor on a terminal, and plain UTF-8 lines
// when standard input is redirected.
//
// There is one console, so the module keeps one set of state: the edit line
// and history given by `setup` (collector roots), the pending input that
// completion leaves for the next edit, and the screen geometry. The editor
// works on a copy of the line and writes it back into the string it was
// given when the edit ends; the terminal is in raw mode only while an edit
// runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "values/cell.h"

namespace kez::terminal {

// Notes whether the console is a terminal (standard input and output both)
// and, when it is, reads the window size.
void init();
// Makes the pending input (once).
void init_globals();
// True when lines are edited on a terminal.
bool console_input();

// The string the next edit fills and the history it walks (a block of
// strings, newest first).
void setup(const Cell* line, const Cell* history);

// How an edit ended: with a line (Enter, or a line of redirected input), at
// the end of redirected input, with the user asking to leave (Ctrl-C,
// Ctrl-D on an empty line, a lost terminal), the line then being "q", or
// with completion candidates shown: the line is then empty, and it is no
// input of the user's (the next edit starts with their common prefix).
enum class edit_end { line, end_of_input, leave, completion };

// Reads one line into the string given to `setup`, without its line end:
// edited on the terminal after `prompt`, or read from redirected input
// without prompt or echo.
edit_end edit(const Cell* prompt, bool hidden);

// One line of redirected standard input, decoded from UTF-8 (bad bytes as
// U+FFFD), without its line feed. False at the end of input when nothing
// was read.
bool stdin_readline(std::u32string& out);

// Reads at most `size` bytes of standard input, those the line reader has
// taken ahead first. 0 at the end of input or on a failed read.
size_t read_stdin(uint8_t* into, size_t size);

// Reads the window size into `system/console/size`.
void query_size();

}  // namespace kez::terminal
