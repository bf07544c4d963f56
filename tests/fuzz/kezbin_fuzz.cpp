// libFuzzer target: any bytes through the KEZBIN reader in codec mode, and
// whatever it decodes back through the writer in both forms. No input may
// crash, hang, read out of bounds or grow the heap past a small multiple of
// its own size; refused images are ordinary outcomes.
//
// Seeds: valid images of every type (tests/fuzz/kezbin-seeds.kez writes them).
#include <cstdint>

#include "foundation/platform.h"
#include "fuzz_support.h"
#include "services/kezbin.h"
#include "values/block.h"

using namespace kez;

namespace {

// Room left on the fuzzer's own thread below the point where deep images
// raise the language's stack-overflow error.
constexpr uintptr_t STACK_ROOM = 6u << 20;

void run(const uint8_t* data, size_t size) {
  Cell* into = block::push_only(1);
  Cell arg = make_none();
  kezbin::decode(data, size, into, &arg);
  Cell decoded = *into;
  kezbin::encode(&decoded, true);
  kezbin::encode(&decoded, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_input(
      [] {
        platform::stack_limit =
            reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - STACK_ROOM;
      },
      [&] { run(data, size); });
  return 0;
}
