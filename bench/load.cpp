// Loading source text: a generated file of 270,000 records (20 MB) of
// numbers, strings, words and nested blocks, read by the lexer into values,
// in MB/s: once as a scan runs in the system (the collector on), once with
// automatic collections held off, which measures the lexer alone. The same
// records in Python's and Lua's own notation are read by ast.literal_eval and
// load (bench/load.py, bench/load.lua, run after this when present). The
// values take about six times the source's size in fresh memory: the time
// the kernel spends providing those pages is shown apart (system time).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/startup.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "services/lexer.h"

namespace {

constexpr int RECORDS = 270000;
const char* const WORDS[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta",
                             "theta", "iota", "kappa", "lambda", "mu", "nu", "xi", "omicron",
                             "pi", "rho", "sigma", "tau", "upsilon", "phi", "chi", "psi", "omega"};
constexpr uint32_t WORD_COUNT = sizeof WORDS / sizeof WORDS[0];

// The generator every peer shares, so that all three read the same data.
uint32_t seed = 1;
uint32_t next() {
  seed = (seed * 1103515245u + 12345u) & 0x7FFFFFFF;
  return seed >> 8;
}

// One record: [int float "text" word [int int word "text" [int word]] word]
void record(std::string& out) {
  auto word = [] { return std::string(WORDS[next() % WORD_COUNT]); };
  auto text = [&] { return word() + " " + word(); };
  char number[48];
  std::snprintf(number, sizeof number, "[%u %u.%02u \"", next() % 100000, next() % 1000, next() % 100);
  out += number;
  out += text() + "\" " + word() + " [";
  std::snprintf(number, sizeof number, "%u %u ", next() % 1000, next() % 1000000);
  out += number + word() + " \"" + text() + "\" [";
  out += std::to_string(next() % 100) + " " + word() + "]] " + word() + "]\n";
}

double cpu_seconds(bool system) {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  const timeval& t = system ? u.ru_stime : u.ru_utime;
  return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

}  // namespace

int main() {
  kez::boot::init_runtime();
  kez::collector::active = true;
  std::string source;
  for (int i = 0; i < RECORDS; i++) record(source);
  double mb = double(source.size()) / (1 << 20);
  for (bool collecting : {true, false}) {
    double best = 1e9, best_user = 0, best_system = 0;
    size_t values = 0;
    for (int run = 0; run < 5; run++) {
      kez::stack::mark mark;
      kez::collector::active = collecting;
      double user = cpu_seconds(false), system = cpu_seconds(true);
      auto start = std::chrono::steady_clock::now();
      kez::Cell* block = kez::lexer::scan_utf8(source.data(), uint32_t(source.size()));
      double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      user = cpu_seconds(false) - user;
      system = cpu_seconds(true) - system;
      kez::collector::active = true;
      values = kez::GET_BUFFER(block)->used() / sizeof(kez::Cell);
      mark.restore();
      kez::collector::do_cycle();
      if (s < best) best = s, best_user = user, best_system = system;
    }
    std::printf("  kez %-16s %6.1f MB in %7.1f ms  %7.1f MB/s  (%zu records; user %.0f ms, system %.0f ms)\n",
                collecting ? "load" : "lexer alone", mb, best * 1000, mb / best, values,
                best_user * 1000, best_system * 1000);
  }
  std::fflush(stdout);
  if (std::system("command -v python3 >/dev/null") == 0) std::system("python3 bench/load.py");
  if (std::system("command -v lua5.4 >/dev/null") == 0) std::system("lua5.4 bench/load.lua");
  return 0;
}
