// Float text per value: forming (shortest digits laid out as the language
// writes floats) and reading, beside std::to_chars and std::from_chars alone.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/float_text.h"

namespace {

template <class F>
double ns_per(size_t n, F&& body) {
  auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / double(n);
}

}  // namespace

int main() {
  constexpr size_t N = 2'000'000;
  std::mt19937_64 rng(1);
  std::vector<double> values(N);
  // Typical script numbers: a mix of short decimals and full-precision values.
  std::uniform_real_distribution<double> full(-1e6, 1e6);
  for (size_t i = 0; i < N; i++) values[i] = i % 2 ? full(rng) : double(int64_t(rng() % 100000)) / 100;
  std::vector<char> texts(N * 32);
  size_t sink = 0;
  double form = ns_per(N, [&] {
    for (size_t i = 0; i < N; i++) sink += size_t(kez::dtoa::form_float_to(&texts[i * 32], values[i], 0, true));
  });
  double to_chars = ns_per(N, [&] {
    char buffer[32];
    for (size_t i = 0; i < N; i++) sink += size_t(std::to_chars(buffer, buffer + 32, values[i]).ptr - buffer);
  });
  double parse = ns_per(N, [&] {
    for (size_t i = 0; i < N; i++) {
      const char* t = &texts[i * 32];
      sink += size_t(kez::dtoa::strtod(t, t + std::strlen(t), 0, nullptr) != 0);
    }
  });
  double from_chars = ns_per(N, [&] {
    for (size_t i = 0; i < N; i++) {
      const char* t = &texts[i * 32];
      double v;
      std::from_chars(t, t + std::strlen(t), v);
      sink += v != 0;
    }
  });
  std::printf("form_float:       %6.1f ns per value   (std::to_chars alone %5.1f ns)\n", form, to_chars);
  std::printf("strtod:           %6.1f ns per value   (std::from_chars alone %5.1f ns)  [%zu]\n", parse,
              from_chars, sink % 10);
}
