// The string benchmarks through the actions themselves: a million
// characters appended one by one with one widening halfway, a case-folding
// find at the end of a 10 MB string, and a sort of 200,000 strings.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "boot/startup.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "values/block.h"
#include "values/string.h"

using namespace kez;

namespace {

template <class F>
double ms(F&& body) {
  auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  boot::init_runtime();

  Cell* s = string::push_new(16);
  Cell* c = stack::push_unset();
  double append = ms([&] {
    for (int i = 0; i < 1000000; i++) {
      *c = make_char(i == 500000 ? 0xE9 : i < 500000 ? 'a' : 'b');
      string::append(s, c, -1, false, 1);
    }
  });
  std::printf("append 1M chars, one widening: %7.1f ms (%u chars, unit %u)\n", append,
              string::rs_length(s), GET_UNIT(s));

  Cell* big = string::push_new(10000010);
  Cell* piece = string::load("abcdefghij");
  for (int i = 0; i < 1000000; i++) string::append(big, piece, -1, false, 1);
  string::append_literal(big, "NEEDLE");
  Cell* needle = string::load("needle");
  Cell* r = stack::push_unset();
  double find = ms([&] {
    for (int i = 0; i < 10; i++) {
      *r = *big;
      string::find(r, needle, {});
    }
  });
  std::printf("find (no case) in 10 MB, x10:   %7.1f ms (at %u)\n", find, r->w1 + 1);

  Cell* b = block::push_only(200000);
  std::mt19937 rng(1);
  for (int i = 0; i < 200000; i++) {
    Cell* t = string::load(std::to_string(rng() % 1000000000));
    block::rs_append(b, t);
    stack::pop(1);
  }
  double sort = ms([&] { actions::get_sort(b)(b, {}); });
  std::printf("sort 200,000 strings:            %7.1f ms\n", sort);
}
