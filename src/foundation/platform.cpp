// Platform glue on Linux.
//
// The evaluator runs on its own thread so that deep recursion has a large,
// lazily committed stack and always ends in the language's stack-overflow
// error (through `stack_limit`) or, failing that, in runtime error 19 from
// the fault handler, which runs on an alternate signal stack.
#include "foundation/platform.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#if defined(__x86_64__)
// The C library's feature header is C: its _Bool is spelt bool in C++.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
#endif
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/output.h"
#include "foundation/runtime.h"

namespace kez::platform {

uintptr_t stack_limit = 0;

namespace {

constexpr size_t EVALUATOR_STACK = size_t(512) << 20;
// Room kept below the depth guard for the error machinery itself.
constexpr size_t STACK_RESERVE = size_t(2) << 20;
constexpr size_t ALT_STACK = 64 * 1024;

uintptr_t eval_stack_low = 0;    // lowest address of the evaluator's stack
bool terminal_output = false;
std::vector<void (*)()>* exit_hooks = nullptr;
void (*evaluator_body)() = nullptr;

void install_alt_stack() {
  stack_t ss{};
  ss.ss_sp = std::malloc(ALT_STACK);
  ss.ss_size = ALT_STACK;
  ss.ss_flags = 0;
  if (ss.ss_sp) sigaltstack(&ss, nullptr);
}

int fault_number(int sig, const siginfo_t* info) {
  switch (sig) {
    case SIGSEGV: {
      auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
      // A fault just below the evaluator's stack is the stack running out.
      if (eval_stack_low && addr < eval_stack_low + 65536 &&
          addr + (size_t(16) << 20) >= eval_stack_low)
        return 19;
      return 1;
    }
    case SIGBUS: return info->si_code == BUS_ADRALN ? 2 : 16;
    case SIGILL: return 17;
    case SIGTRAP: return 3;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 99;
      }
    default: return 99;
  }
}

void fault_handler(int sig, siginfo_t* info, void* context) {
  int number = fault_number(sig, info);
  const void* pc = nullptr;
#if defined(__x86_64__)
  pc = reinterpret_cast<const void*>(
      static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  pc = reinterpret_cast<const void*>(static_cast<ucontext_t*>(context)->uc_mcontext.pc);
#else
  (void)context;
#endif
  char report[160];
  int len = runtime::format_report(report, sizeof report, number, runtime::code_offset(pc));
  if (exit_hooks)
    for (auto hook : *exit_hooks) hook();
  ssize_t ignored = write(STDERR_FILENO, report, size_t(len));
  (void)ignored;
  _exit(number);
}

void interrupt_handler(int sig) {
  // Ctrl-C during an evaluation ends the process quietly, and as an
  // interrupted program: a shell sees status 130 and stops its own script.
  if (exit_hooks)
    for (auto hook : *exit_hooks) hook();
  signal(sig, SIG_DFL);
  raise(sig);  // delivered when this handler returns
}

// Sets the depth guard from the bounds of the calling thread's stack.
void take_stack_bounds() {
  pthread_attr_t attr;
  void* low = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
  }
  eval_stack_low = reinterpret_cast<uintptr_t>(low);
  // A small stack (the main thread's) keeps a proportionate reserve.
  size_t reserve = size / 4 < STACK_RESERVE ? size / 4 : STACK_RESERVE;
  stack_limit = eval_stack_low ? eval_stack_low + reserve : 0;
}

// The processors the process may run on, when the evaluator's thread was
// started on the creating thread's own one (run_evaluator).
cpu_set_t evaluator_cpus;
bool evaluator_pinned = false;

void* evaluator_main(void*) {
  if (evaluator_pinned) sched_setaffinity(0, sizeof evaluator_cpus, &evaluator_cpus);
  take_stack_bounds();
  install_alt_stack();
  runtime::top_level(evaluator_body);
}

}  // namespace

void init_process(int argc, char** argv) {
  runtime::rt.argc = argc;
  runtime::rt.argv = argv;
  terminal_output = isatty(STDOUT_FILENO) == 1;

  struct sigaction sa{};
  sa.sa_sigaction = fault_handler;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP}) sigaction(sig, &sa, nullptr);

  // An interrupt ignored by whoever started us (a background job) stays
  // ignored.
  struct sigaction si{};
  if (sigaction(SIGINT, nullptr, &si) != 0 || si.sa_handler != SIG_IGN) {
    si = {};
    si.sa_handler = interrupt_handler;
    sigemptyset(&si.sa_mask);
    sigaction(SIGINT, &si, nullptr);
  }
  // A closed pipe is an error of the write that meets it: on standard
  // output it ends the process as the signal would (output.cpp); sockets
  // and the pipes of child processes report it to their callers.
  signal(SIGPIPE, SIG_IGN);
  install_alt_stack();
}

void run_evaluator(void (*body)()) {
  evaluator_body = body;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, EVALUATOR_STACK);
  pthread_attr_setguardsize(&attr, 65536);
  // The thread starts on this thread's processor, which waiting for it
  // leaves free at once: a new thread is otherwise placed on another,
  // which may first have to wake or, on a busy machine, finish other work.
  // Once running it may go anywhere the process may.
  int cpu = sched_getcpu();
  if (cpu >= 0 && cpu < CPU_SETSIZE &&
      sched_getaffinity(0, sizeof evaluator_cpus, &evaluator_cpus) == 0) {
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(cpu, &here);
    evaluator_pinned = pthread_attr_setaffinity_np(&attr, sizeof here, &here) == 0;
  }
  pthread_t thread;
  if (pthread_create(&thread, &attr, evaluator_main, nullptr) != 0) {
    // No room for the large stack: run on this thread instead, with the
    // depth guard set from its own stack.
    pthread_attr_destroy(&attr);
    take_stack_bounds();
    runtime::top_level(body);
  }
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
  runtime::exit_process(0);
}

void before_exit() {
  if (exit_hooks)
    for (auto hook : *exit_hooks) hook();
}

void add_exit_hook(void (*hook)()) {
  if (!exit_hooks) exit_hooks = new std::vector<void (*)()>;
  exit_hooks->push_back(hook);
}

void* allocate_virtual(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) runtime::throw_code(THROW_NO_PAGES);
  return p;
}

void* allocate_huge_pages(size_t size) {
  // The kernel aligns a mapping of whole huge pages to them by itself where
  // it can: map that much and give back what lies beyond `size`. Elsewhere,
  // over-map by one huge page and trim both ends.
  size_t span = (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  void* p = allocate_virtual(span);
  auto start = reinterpret_cast<uintptr_t>(p);
  if (start % HUGE_PAGE != 0) {
    munmap(p, span);
    span = size + HUGE_PAGE;
    p = allocate_virtual(span);
    start = reinterpret_cast<uintptr_t>(p);
  }
  uintptr_t aligned = (start + HUGE_PAGE - 1) & ~uintptr_t(HUGE_PAGE - 1);
  if (aligned > start) munmap(p, aligned - start);
  if (aligned + size < start + span)
    munmap(reinterpret_cast<void*>(aligned + size), start + span - (aligned + size));
  p = reinterpret_cast<void*>(aligned);
  // Only advice: where huge pages are off or none is free, small ones serve.
  if (size_t whole = size & ~(HUGE_PAGE - 1)) madvise(p, whole, MADV_HUGEPAGE);
  return p;
}

void free_virtual(void* address, size_t size) {
  if (munmap(address, size) != 0) runtime::throw_code(THROW_NO_RELEASE);
}

std::string get_current_dir() {
  std::string dir(256, '\0');
  while (!getcwd(dir.data(), dir.size())) {
    if (errno != ERANGE) return {};
    dir.resize(dir.size() * 2);
  }
  dir.resize(std::strlen(dir.c_str()));
  return dir;
}

bool set_current_dir(const std::string& path) {
  return path.find('\0') == std::string::npos && chdir(path.c_str()) == 0;
}

std::optional<std::string> get_env(const std::string& name) {
  if (name.find('\0') != std::string::npos) return std::nullopt;
  const char* v = getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

bool set_env(const std::string& name, const std::optional<std::string>& value) {
  if (name.empty() || name.find_first_of(std::string("=\0", 2)) != std::string::npos)
    return false;
  if (!value) return unsetenv(name.c_str()) == 0;
  if (value->find('\0') != std::string::npos) return false;
  return setenv(name.c_str(), value->c_str(), 1) == 0;
}

void wait(double seconds) {
  double ms = seconds * 1000.0;
  if (!(ms >= 1.0)) ms = 1.0;
  if (ms > 4.0e12) ms = 4.0e12;
  auto whole = int64_t(ms);
  timespec ts{time_t(whole / 1000), long(whole % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

double get_time(bool precise) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  double t = double(ts.tv_sec % 86400);
  if (precise) t += double(ts.tv_nsec / 100) / 1.0e7;  // 100 ns resolution
  return t;
}

uint32_t pack_zone(int offset) {
  // The sign is kept apart from the magnitude so that offsets between
  // -59 and -1 minutes stay west of UTC.
  uint32_t west = offset < 0 ? 1 : 0;
  int magnitude = offset < 0 ? -offset : offset;
  uint32_t hours = uint32_t(magnitude / 60) & 15;
  uint32_t quarters = uint32_t((magnitude % 60) / 15) & 3;
  return (west << 6) | (hours << 2) | quarters;
}

uint32_t get_date(bool utc) {
  time_t now = time(nullptr);
  struct tm t{};
  uint32_t zone = 0;
  if (utc) {
    gmtime_r(&now, &t);
  } else {
    localtime_r(&now, &t);
    zone = pack_zone(int(t.tm_gmtoff / 60));
  }
  return (uint32_t(t.tm_year + 1900) << 17) | (uint32_t(t.tm_mon + 1) << 12) |
         (uint32_t(t.tm_mday) << 7) | zone;
}

clock_reading get_now(bool utc, bool precise) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  int offset = 0;  // seconds east of UTC, a whole number of quarter hours
  if (!utc) {
    struct tm t{};
    time_t now = ts.tv_sec;
    localtime_r(&now, &t);
    long quarters = std::lround(double(t.tm_gmtoff) / 900.0);
    offset = int(quarters * 900);
  }
  // The local date is the UTC date of the instant moved by the offset.
  time_t local = ts.tv_sec + offset;
  struct tm d{};
  gmtime_r(&local, &d);
  double day_time = double(d.tm_hour * 3600 + d.tm_min * 60 + d.tm_sec);
  if (precise) day_time += double(ts.tv_nsec / 100) / 1.0e7;
  uint32_t zone = utc ? 0 : pack_zone(offset / 60);
  uint32_t date = (uint32_t(d.tm_year + 1900) << 17) | (uint32_t(d.tm_mon + 1) << 12) |
                  (uint32_t(d.tm_mday) << 7) | zone;
  return {date, day_time - double(offset)};
}

bool stdout_is_terminal() { return terminal_output; }

#if defined(__x86_64__)
bool cpu_has_avx2() { return CPU_FEATURE_ACTIVE(AVX2); }
bool cpu_has_clmul() { return CPU_FEATURE_ACTIVE(PCLMULQDQ) && CPU_FEATURE_ACTIVE(SSE4_1); }
#else
bool cpu_has_avx2() { return false; }
bool cpu_has_clmul() { return false; }
#endif

}  // namespace kez::platform
