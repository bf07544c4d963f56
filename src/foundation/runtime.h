// Runtime records, the low-level throw, and the fatal runtime error report.
//
// Below the language's own error! machinery the runtime unwinds with a throw
// carrying an unsigned 32-bit code. A catch region takes every code up to its
// level (unsigned "at least" comparison); the top level takes everything and
// ends the process: 0xBADCAFE quietly with status 0, any other code as
// runtime error 95. Fatal failures print the three-line report on standard
// error and exit with the error number as status; the report's address is the faulting code's
// offset from the executable's load base, as eight hex digits.
#pragma once
#include <cstdint>
#include <exception>

namespace kez {

// Throw codes. The evaluator's raise codes sit at the top of the range so
// that a catch level can take "these and everything below".
enum : uint32_t {
  RAISE_ERROR = 0x7FFFFFFF,
  RAISE_BREAK = 0x7FFFFFFE,
  RAISE_CONTINUE = 0x7FFFFFFD,
  RAISE_RETURN = 0x7FFFFFFC,
  RAISE_EXIT = 0x7FFFFFFB,
  RAISE_THROW = 0x7FFFFFFA,
  THROW_VIRTUAL_LEVEL = 0x7FFFFFF8,
  THROW_NO_PAGES = 0x7FFFFFF7,
  THROW_NO_RELEASE = 0x7FFFFFF6,
  THROW_NORMAL_EXIT = 0x0BADCAFE,
};

// The exception that carries a throw code up the machine stack.
struct runtime_throw {
  uint32_t code;
};

namespace runtime {

// The process-wide record: arguments and the code of the last throw.
struct record {
  int argc = 0;
  char** argv = nullptr;     // UTF-8 texts, null-terminated list
  uint32_t thrown = 0;       // code of the last throw; cleared by its handler
};
extern record rt;

// Unwinds to the nearest catch region whose level is at least `code`.
[[noreturn]] void throw_code(uint32_t code);

// C++ catch regions open that take language errors: an error with no try
// frame on the value stack unwinds to them instead of ending the process.
extern int error_catchers;

// Runs `body` as a catch region of the given level. Returns 0 when the body
// ended normally, else the code it was left by (the thrown field keeps it
// until the caller clears it). Codes above the level pass through.
template <class F>
uint32_t catch_region(uint32_t level, F&& body) {
  bool takes_errors = level >= RAISE_ERROR;
  if (takes_errors) error_catchers++;
  try {
    body();
    if (takes_errors) error_catchers--;
    return 0;
  } catch (const runtime_throw& t) {
    if (takes_errors) error_catchers--;
    if (t.code > level) throw;
    rt.thrown = t.code;
    return t.code;
  }
}

// The message of a runtime error number ("unknown error code!" for others).
const char* error_message(int number);

// Prints the report (nothing for 0), frees the tracked heap and ends the
// process with `number` as status.
[[noreturn]] void runtime_error(int number, uint32_t address);

// The report as bytes, for the fatal paths that cannot allocate.
int format_report(char* out, int size, int number, uint32_t address);

// Offset of a code address from the executable's load base, low 32 bits.
uint32_t code_offset(const void* address);

// Frees what the runtime holds before the process ends.
void exit_cleanup();

// The 8-bit process status of a status: its low byte, except that a
// non-zero status whose low byte is 0 gives 1.
int exit_status(int status);

// Ends the process with exit_status(status) after the cleanup every exit
// path shares (output flushed, terminal restored, tracked heap freed).
[[noreturn]] void exit_process(int status);

// Runs the whole evaluation under the top-level catch; never returns.
[[noreturn]] void top_level(void (*body)());

// Rounds `value` up to a multiple of `alignment` (a power of two).
constexpr uint64_t round_up(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

}  // namespace runtime
}  // namespace kez

// The address just after the call in the function that asks.
#define KEZ_ERROR_LOCATION() \
  ::kez::runtime::code_offset(__builtin_return_address(0))
