// integer! add through its action: the common case is one checked addition
// and a type test; an overflowing add leaves a float! instead.
#include <chrono>
#include <cstdio>

#include "boot/startup.h"
#include "evaluator/actions.h"
#include "values/cell.h"

int main() {
  using namespace kez;
  boot::init_runtime();
  add_fn add = actions::peek_add(TYPE_INTEGER);
  constexpr int N = 50'000'000;
  auto time = [&](const char* what, int32_t start, int32_t step) {
    int64_t sink = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < N; i++) {
      Cell a = make_integer(start), b = make_integer(step + (i & 1));
      add(&a, &b);
      sink += a.header + a.w2;
    }
    double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-34s %.2f ns per add [%lld]\n", what, ns / N, (long long)(sink & 1));
  };
  time("integer add (no overflow)", 1000, 7);
  time("integer add overflowing to float", 2147483647, 1);
}
