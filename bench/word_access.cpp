// Getting and setting a global word through its cached slot index: after
// the first binding no lookup runs, only an indexed access of the values.
#include <chrono>
#include <cstdio>

#include "boot/startup.h"
#include "values/context.h"
#include "values/word.h"

int main() {
  using namespace kez;
  boot::init_runtime();
  Cell w = word::load("bench-counter");
  constexpr int N = 50'000'000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < N; i++) {
    Cell v = make_integer(i);
    word::set(&w, &v);
  }
  double set_ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  int64_t sink = 0;
  t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < N; i++) sink += get_integer(context::get(&w));
  double get_ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  std::printf("word set through the cached index: %.2f ns\n", set_ns / N);
  std::printf("word get through the cached index: %.2f ns [%lld]\n", get_ns / N, (long long)(sink & 1));
}
