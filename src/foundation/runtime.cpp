// Runtime records, the low-level throw and the fatal runtime error report.
#include "foundation/runtime.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/heap.h"
#include "foundation/output.h"
#include "foundation/platform.h"

extern "C" char __executable_start;  // load base of the executable image
#ifdef KEZ_PROFILE_GENERATE
extern "C" void __gcov_dump();  // writes an instrumented build's counts
#endif

namespace kez::runtime {

record rt;
int error_catchers = 0;

void throw_code(uint32_t code) {
  rt.thrown = code;
  throw runtime_throw{code};
}

namespace {

struct error_entry {
  int number;
  const char* message;
};

constexpr error_entry error_table[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// Appends text to a fixed buffer without allocating (the fatal paths run in
// signal handlers).
struct fixed_text {
  char* out;
  int size;
  int len = 0;
  void add(const char* s) {
    while (*s && len < size) out[len++] = *s++;
  }
  void add_decimal(int n) {
    char digits[16];
    int i = 0;
    unsigned v = n < 0 ? 0u - unsigned(n) : unsigned(n);
    do digits[i++] = char('0' + v % 10); while ((v /= 10) != 0);
    if (n < 0 && len < size) out[len++] = '-';
    while (i > 0 && len < size) out[len++] = digits[--i];
  }
  void add_hex8(uint32_t v) {
    for (int shift = 28; shift >= 0 && len < size; shift -= 4)
      out[len++] = "0123456789ABCDEF"[(v >> shift) & 15];
  }
};

}  // namespace

const char* error_message(int number) {
  for (const auto& e : error_table)
    if (e.number == number) return e.message;
  return "unknown error code!";
}

int format_report(char* out, int size, int number, uint32_t address) {
  fixed_text t{out, size};
  t.add("\n*** Runtime Error ");
  t.add_decimal(number);
  t.add(": ");
  t.add(error_message(number));
  t.add("\n*** at: ");
  t.add_hex8(address);
  t.add("h\n");
  return t.len;
}

uint32_t code_offset(const void* address) {
  return uint32_t(reinterpret_cast<uintptr_t>(address) -
                  reinterpret_cast<uintptr_t>(&__executable_start));
}

void exit_cleanup() { heap::free_all(); }

int exit_status(int status) {
  // A status is 8 bits: a failure must not wrap round to success.
  if (status != 0 && (status & 0xFF) == 0) return 1;
  return status & 0xFF;
}

void exit_process(int status) {
  platform::before_exit();
  exit_cleanup();
#ifdef KEZ_PROFILE_GENERATE
  __gcov_dump();  // _Exit skips the exit handlers that would write them
#endif
  std::_Exit(exit_status(status));
}

void runtime_error(int number, uint32_t address) {
  if (number != 0) {
    char report[160];
    int len = format_report(report, sizeof report, number, address);
    report[len] = 0;
    output::to_error_stream to_errors;
    output::print_c_string(report);
  }
  exit_process(number);
}

void top_level(void (*body)()) {
  try {
    body();
  } catch (const runtime_throw& t) {
    if (t.code == THROW_NORMAL_EXIT) runtime_error(0, 0);
    runtime_error(95, code_offset(reinterpret_cast<void*>(&top_level)));
  }
  exit_process(0);
}

}  // namespace kez::runtime
