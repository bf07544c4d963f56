// Child processes: `call` and `browse` start other programs, the clipboard
// hands its data to the desktop's tools.
//
// `launch` is the platform half and knows nothing of values: a program
// started with posix_spawn, its redirected streams joined to pipes that are
// all served together by one poll(2) loop (the input written while output
// and error are drained, so neither side can block the other), or to files,
// or to /dev/null. `call` is the language half: values in, values out.
//
// What must stay true:
//  - every descriptor of ours is close-on-exec, and a child receives only
//    its three standard streams;
//  - a child starts with SIGPIPE at its default action and no signal
//    blocked; writing its input never raises SIGPIPE here, whatever the
//    parent's disposition of it (a reader that went away ends the input);
//  - no child we do not wait for stays a zombie: each is reaped by a later
//    launch once it has ended;
//  - no value's buffer is touched between the start and the end of a child:
//    input bytes are copied out before, captured bytes stored after.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "values/cell.h"

namespace kez::process {

// Bytes received from a child. The block comes from malloc and grows by
// realloc, which moves a large block by remapping its pages, not by
// copying them.
struct received {
  char* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  received() = default;
  received(const received&) = delete;
  received& operator=(const received&) = delete;
  ~received() { std::free(data); }
  std::string_view view() const { return {data, size}; }
};

// One of the child's standard streams.
struct stream {
  enum mode : uint8_t {
    PARENT,    // the parent's own stream, inherited
    DEV_NULL,  // /dev/null
    PIPE,      // input: `data` is sent; output: received into `captured`
    FILE,      // input: `path` is read; output: appended to `path`
  };
  mode how = PARENT;
  std::string path;
  std::string_view data;
  received* captured = nullptr;
};

struct request {
  // The program and its arguments, searched in PATH; or, with `shell`,
  // one command text for /bin/sh -c.
  std::vector<std::string> argv;
  bool shell = false;
  // A program that is not found is retried once through the shell with
  // this text (empty: no retry).
  std::string shell_text;
  stream in, out, err;
  bool wait = true;
  // A new session, so that the terminal's signals never reach it (browse).
  bool detach = false;
};

// Captured streams stop growing at this size (the most a series holds);
// the rest is read and dropped so that the child can finish.
constexpr size_t CAPTURE_LIMIT = size_t(MAX_SERIES_SIZE);

// Starts the child and, when asked to, serves its pipes and waits for it.
// The result: its exit status when waited for (128 + the signal number for
// a child ended by a signal), else its process id; -1 when it could not be
// started (a file that does not open, a program that cannot run) and then
// nothing was started. `overflow` is set when a capture passed the limit.
int32_t launch(request& r, bool* overflow = nullptr);

// Splits a command text at blanks and tabs outside double quotes, the
// quotes removed.
std::vector<std::string> split_command(std::string_view text);

// Bytes a program wrote, as a new string! pushed on the value stack:
// UTF-8, each invalid sequence as U+FFFD, a leading byte-order mark kept.
Cell* push_text(std::string_view bytes);

// The `call` native's work: `command` a string! or file!; in, out and err
// are null when not redirected.
int32_t call(const Cell* command, bool wait, bool console, bool shell, const Cell* in,
             const Cell* out, const Cell* err);

// Hands a text (an address, a file's path) to the desktop's opener, started
// on its own; its outcome is never examined.
void open_detached(const std::string& program, const std::string& argument);

}  // namespace kez::process
