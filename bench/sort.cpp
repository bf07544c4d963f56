// Sorting a million 32-bit integers through the comparator protocol (merge
// sort and quicksort) beside std::sort and std::stable_sort with an inline
// comparison, on random, sorted and duplicate-heavy input.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/sort.h"

namespace {

int32_t compare_ints(const void* a, const void* b, uintptr_t, uintptr_t) {
  int32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return (x > y) - (x < y);
}

template <class F>
double ms(std::vector<int32_t> data, F&& sort) {
  auto start = std::chrono::steady_clock::now();
  sort(data);
  double t = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!std::is_sorted(data.begin(), data.end())) std::printf("NOT SORTED\n");
  return t;
}

}  // namespace

int main() {
  constexpr uint32_t N = 1'000'000;
  std::mt19937 rng(1);
  struct input {
    const char* name;
    std::vector<int32_t> data;
  } inputs[] = {{"random", {}}, {"sorted", {}}, {"few keys", {}}};
  for (uint32_t i = 0; i < N; i++) {
    inputs[0].data.push_back(int32_t(rng()));
    inputs[1].data.push_back(int32_t(i));
    inputs[2].data.push_back(int32_t(rng() % 16));
  }
  for (auto& in : inputs) {
    double merge = ms(in.data, [](auto& v) { kez::sorting::merge_sort(v.data(), N, 4, 0, 0, compare_ints); });
    double quick = ms(in.data, [](auto& v) { kez::sorting::quick_sort(v.data(), N, 4, 0, 0, compare_ints); });
    double std_sort = ms(in.data, [](auto& v) { std::sort(v.begin(), v.end()); });
    double std_stable = ms(in.data, [](auto& v) { std::stable_sort(v.begin(), v.end()); });
    std::printf("%-9s merge_sort %6.1f ms  quick_sort %6.1f ms  std::sort %6.1f ms  std::stable_sort %6.1f ms\n",
                in.name, merge, quick, std_sort, std_stable);
  }
}
