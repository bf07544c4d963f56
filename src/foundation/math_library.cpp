// The maths library opened on first use instead of linked.
//
// A linked maths library is mapped and relocated at every start (about 15
// page faults), though most scripts never take a sine; and a static copy
// cannot be linked into a dynamically linked program (its resolvers need the
// loader). So the program defines the maths functions it uses itself, each
// forwarding to the library's own, which are found the first time any is
// called. What must stay true: call sites are compiled exactly as before
// (the compiler still sees the standard declarations, so whatever it computes
// inline it computes as it did), and every result is the library's own, bit
// for bit. A maths function not listed here links the library again
// (`ldd kez` then shows it): add it to the list.
// (The sanitizer builds link the shared C++ runtime, which brings the maths
// library in anyway: they keep the plain link.)
#ifndef KEZ_SANITIZE
#include <atomic>
#include <cfenv>
#include <cmath>
#include <unistd.h>

#include "foundation/library.h"

// Each function as X(result type, name, parameters, arguments).
#define KEZ_MATH_FUNCTIONS(X)                                   \
  X(double, acos, (double x), (x))                              \
  X(double, asin, (double x), (x))                              \
  X(double, atan, (double x), (x))                              \
  X(double, atan2, (double y, double x), (y, x))                \
  X(double, ceil, (double x), (x))                              \
  X(double, cos, (double x), (x))                               \
  X(double, floor, (double x), (x))                             \
  X(double, fmod, (double x, double y), (x, y))                 \
  X(double, frexp, (double x, int* exponent), (x, exponent))    \
  X(double, ldexp, (double x, int exponent), (x, exponent))     \
  X(double, log, (double x), (x))                               \
  X(double, log10, (double x), (x))                             \
  X(long, lround, (double x), (x))                              \
  X(double, modf, (double x, double* whole), (x, whole))        \
  X(double, pow, (double x, double y), (x, y))                  \
  X(double, sin, (double x), (x))                               \
  X(double, sqrt, (double x), (x))                              \
  X(double, tan, (double x), (x))                               \
  X(double, trunc, (double x), (x))                             \
  X(int, fegetround, (), ())                                    \
  X(int, fesetround, (int mode), (mode))

namespace kez::math_library {
namespace {

void load();

// Until the library is loaded every pointer holds a function that loads it
// and then calls the library's own.
#define KEZ_MATH_FIRST(type, name, params, args) type name##_first params;
KEZ_MATH_FUNCTIONS(KEZ_MATH_FIRST)
#define KEZ_MATH_POINTER(type, name, params, args) std::atomic<type(*) params> name##_fn{name##_first};
KEZ_MATH_FUNCTIONS(KEZ_MATH_POINTER)
#define KEZ_MATH_FIRST_BODY(type, name, params, args) \
  type name##_first params {                          \
    load();                                           \
    return name##_fn.load(std::memory_order_acquire) args; \
  }
KEZ_MATH_FUNCTIONS(KEZ_MATH_FIRST_BODY)

template <class F>
void bind(void* lib, std::atomic<F>& fn, const char* name, bool& ok) {
  F found = nullptr;
  if (lib != nullptr && library::bind(lib, found, name)) fn.store(found, std::memory_order_release);
  else ok = false;
}

// Loads the library once, whichever thread asks first; a system without it
// cannot compute, so the process ends.
void load() {
  static const bool loaded = [] {
    void* lib = library::open("libm.so.6");
    bool ok = true;
#define KEZ_MATH_BIND(type, name, params, args) bind(lib, name##_fn, #name, ok);
    KEZ_MATH_FUNCTIONS(KEZ_MATH_BIND)
    if (!ok) {
      static const char message[] = "Error: the maths library cannot be loaded\n";
      (void)!write(2, message, sizeof message - 1);
      _exit(1);
    }
    return true;
  }();
  (void)loaded;
}

}  // namespace
}  // namespace kez::math_library

extern "C" {
#define KEZ_MATH_DEFINE(type, name, params, args) \
  type name params noexcept { return kez::math_library::name##_fn.load(std::memory_order_acquire) args; }
KEZ_MATH_FUNCTIONS(KEZ_MATH_DEFINE)
}

#endif  // KEZ_SANITIZE
