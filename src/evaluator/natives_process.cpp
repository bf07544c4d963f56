// The natives that start other programs: call and browse. Both hand their
// work to the process service; `browse` never reports how the opener did.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "services/process.h"
#include "values/string.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }
inline const Cell* given(int32_t ref) { return ref >= 0 ? arg(ref) : nullptr; }

// The desktop's opener of addresses and files.
constexpr const char* OPENER = "xdg-open";

}  // namespace

// /show has no meaning without windows and is accepted.
void call_star(bool, const int32_t* refs) {
  Cell cmd = *arg(0);
  int32_t result = process::call(&cmd, refs[0] >= 0, refs[2] >= 0, refs[3] >= 0, given(refs[4]),
                                 given(refs[5]), given(refs[6]));
  *arg(0) = make_integer(result);
}

// A file! goes as its platform path, which is its text here.
void browse_star(bool, const int32_t*) {
  Cell target = *arg(0);
  process::open_detached(OPENER, string::to_utf8(&target));
  *arg(0) = make_unset();
}

}  // namespace kez::natives
