// The native table.
//
// Every native has a default entry here that raises internal not-done; the
// family files (natives_*.cpp) define the real entries, which take
// precedence at link time (the defaults are weak). The check flag is always
// false in this system: the interpreter checks arguments before the call,
// and no compiled code calls natives directly.
#include "evaluator/natives.h"

#include <array>
#include <utility>

#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "values/block.h"
#include "values/context.h"
#include "values/error_ids.h"

namespace kez::natives {

native_fn table[CAPACITY];
uint32_t next_id = 1;
Cell print_buffer{TYPE_UNSET, 0, 0, 0};
bool last_lf = false;  // no output yet

#define KEZ_NATIVE_DEFAULT(id, name, word)                    \
  __attribute__((weak)) void name(bool, const int32_t*) {     \
    fire(err::INTERNAL, err::internal::NOT_DONE);             \
  }
KEZ_NATIVES(KEZ_NATIVE_DEFAULT)
#undef KEZ_NATIVE_DEFAULT

void no_memory() { fire(err::INTERNAL, err::internal::NO_MEMORY); }

void register_natives(const native_fn* fns, uint32_t count) {
  for (uint32_t i = 0; i < count; i++) table[next_id++ - 1] = fns[i];
}

void init() {
  next_id = 1;
  Cell* buffer = block::make_in(&context::root, 32);
  print_buffer = *buffer;
  static constexpr native_fn all[] = {
#define KEZ_NATIVE_ENTRY(id, name, word) memory_guarded<name, bool, const int32_t*>,
      KEZ_NATIVES(KEZ_NATIVE_ENTRY)
#undef KEZ_NATIVE_ENTRY
  };
  register_natives(all, sizeof all / sizeof all[0]);
}

}  // namespace kez::natives

namespace kez::routines {

routine_fn table[CAPACITY];
uint8_t tested_type[CAPACITY];
static uint32_t count = 0;

namespace {

// Each slot's routine, called through a wrapper that guards its memory.
routine_fn originals[CAPACITY];

template <size_t... I>
constexpr std::array<routine_fn, CAPACITY> make_guards(std::index_sequence<I...>) {
  return {[]() {
    try {
      originals[I]();
    } catch (const std::bad_alloc&) {
      natives::no_memory();
    }
  }...};
}
constexpr std::array<routine_fn, CAPACITY> GUARDS =
    make_guards(std::make_index_sequence<CAPACITY>());

}  // namespace

uint32_t add(routine_fn fn) {
  // The table is sized for every routine the runtime makes; running past it
  // is a build fault, stopped here rather than writing past the table.
  if (count == CAPACITY) runtime::runtime_error(5, KEZ_ERROR_LOCATION());
  originals[count] = fn;
  table[count] = GUARDS[count];
  tested_type[count] = 0;
  return ++count;
}

void mark_type_test(uint32_t type) {
  static_assert(TYPE_COUNT < 255, "a tested type + 1 fits a byte");
  if (count) tested_type[count - 1] = uint8_t(type + 1);
}

}  // namespace kez::routines
