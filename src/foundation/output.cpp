// Console output.
#include "foundation/output.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/platform.h"
#include "foundation/print.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "gui/terminal/screen.h"
#include "values/cell.h"
#include "values/error_ids.h"

namespace kez::output {
namespace {

constexpr size_t BUFFER_SIZE = 1024;
// Flush once fewer bytes than one character and a line end are left.
constexpr size_t FLUSH_AT = BUFFER_SIZE - 4;

int stream = STDOUT_FILENO;   // where the text goes now
bool line_start = true;       // the terminal's cursor is at a row start
bool failing = false;         // a failure is being reported

// Standard output could not take what was written: the process ends.
[[noreturn]] void output_failed(int error) {
  failing = true;
  if (error == EPIPE) {
    // The reader is gone: end as the signal would, quietly.
    platform::before_exit();
    signal(SIGPIPE, SIG_DFL);
    raise(SIGPIPE);
    _exit(128 + SIGPIPE);
  }
  std::string report = "*** Access Error: cannot write to standard output: ";
  report += std::strerror(error);
  report += '\n';
  write_fd(STDERR_FILENO, report.data(), report.size());
  runtime::exit_process(1);
}

void write_all(const char* p, size_t n) { write_fd(stream, p, n); }

uint32_t read_unit(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1: return p[0];
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    default: { uint32_t v; std::memcpy(&v, p, 4); return v; }
  }
}

size_t encode(uint32_t cp, char* out) {
  if (cp < 0x80) { out[0] = char(cp); return 1; }
  if (cp < 0x800) {
    out[0] = char(0xC0 | (cp >> 6));
    out[1] = char(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = char(0xE0 | (cp >> 12));
    out[1] = char(0x80 | ((cp >> 6) & 0x3F));
    out[2] = char(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = char(0xF0 | (cp >> 18));
  out[1] = char(0x80 | ((cp >> 12) & 0x3F));
  out[2] = char(0x80 | ((cp >> 6) & 0x3F));
  out[3] = char(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

void write_fd(int fd, const char* p, size_t n) {
  if (n > 0 && (fd == STDOUT_FILENO ? platform::stdout_is_terminal() : isatty(fd) == 1))
    line_start = p[n - 1] == '\n';
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      // Nothing can be said about a failing error stream, and a terminal
      // that hung up has no reader left to tell.
      if (fd == STDOUT_FILENO && !failing && !(errno == EIO && platform::stdout_is_terminal()))
        output_failed(errno);
      return;
    }
    p += w;
    n -= size_t(w);
  }
}

bool at_line_start() { return line_start; }

to_error_stream::to_error_stream() : saved(stream) { stream = STDERR_FILENO; }
to_error_stream::~to_error_stream() { stream = saved; }

void write_bytes(const char* bytes, size_t length) { write_all(bytes, length); }

void write_units(const void* text, size_t bytes, uint32_t unit, bool line_end) {
  const auto* p = static_cast<const uint8_t*>(text);
  const uint8_t* end = p + (bytes / unit) * unit;
  if (unit == 4) {
    // Check the whole text first so that nothing is half written.
    for (const uint8_t* q = p; q < end; q += 4) {
      uint32_t cp = read_unit(q, 4);
      if (cp > 0x10FFFF) {
        Cell arg = make_integer(int32_t(cp));
        fire(err::SCRIPT, err::script::INVALID_CHAR, &arg);
      }
    }
  }
  char buf[BUFFER_SIZE];
  size_t n = 0;
  if (unit == 1) {
    // ASCII runs go out unchanged.
    for (; p < end; p++) {
      if (n >= FLUSH_AT) { write_all(buf, n); n = 0; }
      uint8_t c = *p;
      if (c < 0x80) buf[n++] = char(c);
      else n += encode(c, buf + n);
    }
  } else {
    for (; p < end; p += unit) {
      if (n >= FLUSH_AT) { write_all(buf, n); n = 0; }
      n += encode(read_unit(p, unit), buf + n);
    }
  }
  if (line_end) buf[n++] = '\n';
  if (n) write_all(buf, n);
}

void write_string(const Cell* value, bool line_end) {
  series_buffer* b = GET_BUFFER(value);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) {
    print_line("Error: unknown string encoding: ", int32_t(unit));
  } else {
    const uint8_t* head = b->head_ptr() + (uint64_t(value->w1) * unit);
    const uint8_t* tail = b->tail_ptr();
    size_t bytes = head < tail ? size_t(tail - head) : 0;
    write_units(head, bytes, unit, line_end);
  }
}

void print_string(const Cell* value, bool line_end) {
  gui::suspend_screen();
  write_string(value, line_end);
  gui::resume_screen();
}

void print_c_string(const char* text) { print_text(text); }

void print_text(std::string_view text) {
  write_all(text.data(), text.size());
  hooks::fire_text(text.data(), int32_t(text.size()), 0);
}

namespace {
void print_formatted(const char* format, auto value) {
  char buf[64];
  int len = std::snprintf(buf, sizeof buf, format, value);
  if (len < 0) return;
  if (len >= int(sizeof buf)) len = int(sizeof buf) - 1;
  write_all(buf, size_t(len));
  hooks::fire_text(buf, len, 0);
}
}  // namespace

void print_integer(int32_t value) { print_formatted("%i", value); }
void print_hex_byte(uint32_t value) { print_formatted("%02X", value & 0xFF); }
void print_hex(uint32_t value) { print_formatted("%08X", value); }
void print_float64(double value) { print_formatted("%.16g", value); }
void print_float32(float value) { print_formatted("%.7g", double(value)); }

}  // namespace kez::output
