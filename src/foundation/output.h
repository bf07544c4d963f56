// Console output: every text the system prints to standard output, and the
// error reports it writes to standard error.
//
// Strings are written by their unit (1, 2 or 4 bytes a character) as UTF-8,
// both to a terminal and when redirected; escape sequences pass through
// byte for byte for the terminal to carry out. A line end is LF. Each call
// writes everything it was given before returning (nothing is held back
// between calls, so the order of the two streams is kept), in batches of
// about 1 KB.
//
// A failed write to standard output is never silent: a reader that closed
// the pipe ends the process as SIGPIPE would (status 141), any other
// failure reports once on standard error and ends it with status 1. Only a
// terminal that hung up is written to in vain: its reader is gone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kez {
struct Cell;

namespace output {

// Writes `bytes` bytes of text of the given unit; a code point above
// 0x10FFFF raises script invalid-char before anything of it is written.
void write_units(const void* text, size_t bytes, uint32_t unit, bool line_end);

inline void write_latin1(const void* t, size_t n) { write_units(t, n, 1, false); }
inline void write_latin1_line(const void* t, size_t n) { write_units(t, n, 1, true); }
inline void write_ucs2(const void* t, size_t n) { write_units(t, n, 2, false); }
inline void write_ucs2_line(const void* t, size_t n) { write_units(t, n, 2, true); }
inline void write_ucs4(const void* t, size_t n) { write_units(t, n, 4, false); }
inline void write_ucs4_line(const void* t, size_t n) { write_units(t, n, 4, true); }

// Writes raw bytes (already UTF-8) to standard output.
void write_bytes(const char* bytes, size_t length);

// While one exists, everything written goes to standard error instead.
struct to_error_stream {
  int saved;
  to_error_stream();
  ~to_error_stream();
};

// Writes all bytes to a descriptor, with standard output's failure rules.
void write_fd(int fd, const char* bytes, size_t length);

// True when the last text written to a terminal ended with a line end, so
// that the terminal's cursor stands at the start of a row.
bool at_line_start();

// The default value-output hook: writes a string value from its head.
void print_string(const Cell* value, bool line_end);
// The same without the GUI backend's hooks around it: for a caller that has
// erased the drawing itself and is leaving the redraw.
void write_string(const Cell* value, bool line_end);

// Writes the NUL-terminated bytes as they are, then fires the text hooks.
void print_c_string(const char* text);
void print_text(std::string_view text);

// Number writers ("%i", "%02X", "%08X", "%.16g", "%.7g").
void print_integer(int32_t value);
void print_hex_byte(uint32_t value);
void print_hex(uint32_t value);
void print_float64(double value);
void print_float32(float value);

}  // namespace output
}  // namespace kez
