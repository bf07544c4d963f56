// Shared helpers of the C++ tests: a runtime initialised once per process,
// and capture of what is written to standard output.
#pragma once
#include <string>

namespace kez::test {

// Initialises the runtime once (memory, hooks, ...) for in-process tests.
void ensure_runtime();

// Runs `body` with standard output redirected and returns the bytes written.
template <class F>
std::string capture_stdout(F&& body);

std::string capture_begin_end(void (*body)(void*), void* context);

template <class F>
std::string capture_stdout(F&& body) {
  return capture_begin_end([](void* f) { (*static_cast<F*>(f))(); }, &body);
}

}  // namespace kez::test
