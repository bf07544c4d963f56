// `v + 1` on a vector of ten million 32-bit integers, through the add
// action, beside the same loop over a plain C++ array (the floor it should
// stay within twice of). Also 8-bit and 64-bit float vectors, and the sum of
// two vectors into a new one.
#include <chrono>
#include <cstdio>
#include <vector>

#include "boot/startup.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "types/vector.h"

using namespace kez;

namespace {

constexpr uint32_t N = 10000000;
constexpr int ROUNDS = 10;

template <class F>
double ms(F&& body) {
  auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

Cell* filled(uint32_t type, uint32_t width) {
  Cell* v = stack::push_unset();
  vector::make_at(v, N, type, width);
  series_buffer* b = GET_BUFFER(v);
  std::memset(b->data(), 0, uint64_t(N) * width);
  b->tail = N * width;
  return v;
}

double add_rounds(Cell* v, Cell number) {
  add_fn add = actions::peek_add(TYPE_VECTOR);
  Cell* a = stack::push_unset();
  Cell* b = stack::push_unset();
  double t = ms([&] {
    for (int r = 0; r < ROUNDS; r++) {
      *a = *v;
      *b = number;
      add(a, b);
    }
  });
  stack::pop(2);
  return t / ROUNDS;
}

}  // namespace

int main() {
  boot::init_runtime();

  std::vector<int32_t> plain(N, 0);
  double floor = ms([&] {
    for (int r = 0; r < ROUNDS; r++) {
      int32_t* p = plain.data();
      for (uint32_t i = 0; i < N; i++) p[i] = int32_t(uint32_t(p[i]) + 1u);
      asm volatile("" : : "r"(p) : "memory");
    }
  }) / ROUNDS;

  Cell* v32 = filled(TYPE_INTEGER, 4);
  double t32 = add_rounds(v32, make_integer(1));
  Cell* v8 = filled(TYPE_INTEGER, 1);
  double t8 = add_rounds(v8, make_integer(1));
  Cell* f64 = filled(TYPE_FLOAT, 8);
  double tf = add_rounds(f64, make_float(1.5));

  add_fn add = actions::peek_add(TYPE_VECTOR);
  Cell* a = stack::push(*v32);
  double tv = ms([&] {
    for (int r = 0; r < ROUNDS; r++) {
      *a = *v32;
      add(a, v32);
    }
  }) / ROUNDS;

  std::printf("plain C++ loop, int32 + 1:     %7.2f ms\n", floor);
  std::printf("v + 1, integer! 32:            %7.2f ms (x%.2f of the loop)\n", t32, t32 / floor);
  std::printf("v + 1, integer! 8:             %7.2f ms\n", t8);
  std::printf("v + 1.5, float! 64:            %7.2f ms\n", tf);
  std::printf("v + v, integer! 32 (new):      %7.2f ms\n", tv);
  return 0;
}
