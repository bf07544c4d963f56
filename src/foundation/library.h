// Platform libraries opened on first use instead of linked.
//
// Every library linked into kez is loaded and relocated at each start, even
// by a script that never uses it; for the heavy ones (the crypto library,
// the TIFF library with its codecs, the HTTP client) that cost more than the
// rest of start-up. Such a library is reached through a table of function
// pointers filled on first use. What must stay true: a table is usable only
// when the library and every one of its functions were found; otherwise the
// caller gets null and reports the feature as missing, never calls through
// an empty pointer.
#pragma once
#include <dlfcn.h>

namespace kez::library {

// The library by its run-time name, or null when the system has none.
inline void* open(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

// Fills `fn` with the library's function `name`; false when it has none.
template <class F>
bool bind(void* lib, F& fn, const char* name) {
  fn = reinterpret_cast<F>(dlsym(lib, name));
  return fn != nullptr;
}

}  // namespace kez::library

// A table lists its functions once, as X(name) entries, and gets from it
// both its members (typed as the header declares them) and their binding:
//   #define ZIP_FUNCTIONS(X) X(zip_open) X(zip_close)
//   struct zip_api { ZIP_FUNCTIONS(KEZ_LIBRARY_MEMBER) };
//   bool ok = lib ZIP_FUNCTIONS(KEZ_LIBRARY_BIND);   // lib: the handle
#define KEZ_LIBRARY_MEMBER(name) decltype(&::name) name;
#define KEZ_LIBRARY_BIND(name) &&::kez::library::bind(lib, api.name, #name)
