// The thin layer between the runtime and Linux: process start, the evaluator
// thread, fault signals, pages for the memory manager, and small services
// (current directory, environment, sleeping, time of day, date and zone).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kez::platform {

// Takes the arguments (UTF-8 on Linux) into the runtime record and installs
// the fault handlers. Called first by the process entry.
void init_process(int argc, char** argv);

// Runs `body` on the evaluator thread (512 MB of stack, committed lazily)
// and ends the process when it returns; the calling thread only waits.
[[noreturn]] void run_evaluator(void (*body)());

// Lowest address the evaluator may use before its depth guard must raise
// stack-overflow (0 when not on the evaluator thread).
extern uintptr_t stack_limit;

// True when the native stack of the current thread is close to its end.
inline bool stack_exhausted() {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < stack_limit;
}

// Called on every way out of the process (normal, fatal or by signal):
// flushes output and runs the registered exit hooks (terminal restore).
void before_exit();
void add_exit_hook(void (*hook)());

// Pages for the memory manager: committed read-write. Failure throws
// THROW_NO_PAGES (allocate) or THROW_NO_RELEASE (free).
void* allocate_virtual(size_t size);
void free_virtual(void* address, size_t size);
// The same for a span aligned to HUGE_PAGE whose whole huge pages are backed
// by huge pages where the system gives them (a rest shorter than one stays
// in small pages): one fault and one clearing for each instead of one per
// small page touched, which is most of the kernel's share of start-up.
// Freed with free_virtual.
constexpr size_t HUGE_PAGE = size_t(2) << 20;
void* allocate_huge_pages(size_t size);

std::string get_current_dir();
bool set_current_dir(const std::string& path);
std::optional<std::string> get_env(const std::string& name);
bool set_env(const std::string& name, const std::optional<std::string>& value);

// Sleeps for `seconds`, at least one millisecond.
void wait(double seconds);

// Time of day in UTC, in seconds (with the fraction when `precise`).
double get_time(bool precise);

// Packed date: bits 17+ year, 12-16 month, 7-11 day, bit 6 west of UTC,
// bits 2-5 whole hours of the offset, bits 0-1 remaining quarter hours.
uint32_t get_date(bool utc);
// Packs a zone offset in minutes east of UTC into the low 7 bits.
uint32_t pack_zone(int offset_minutes);

// The date and time of one reading of the clock: the packed date (as
// get_date) of the local date (the UTC date when `utc`), with the local
// zone rounded to quarter hours, and the time of day under that zone minus
// its offset, so that the local date's day x 86400 + time is the instant.
// Whole seconds unless `precise`.
struct clock_reading {
  uint32_t date;
  double time;
};
clock_reading get_now(bool utc, bool precise);

// Whether standard output is a terminal (decided once at start).
bool stdout_is_terminal();

// Processor features for the checksums' wide paths, as the C library found
// them when it loaded: asking the processor again costs tens of
// microseconds at every start on a virtual machine.
bool cpu_has_avx2();
bool cpu_has_clmul();  // carry-less multiply and SSE4.1

}  // namespace kez::platform
