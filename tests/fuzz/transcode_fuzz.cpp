// libFuzzer target: any bytes through `transcode`, in every scan mode, from a
// binary! and (when the bytes are UTF-8) from a string!. No input may crash,
// hang or corrupt memory; syntax errors are ordinary outcomes.
//
// The first byte picks the refinements (/next /one /prescan /scan /part) and
// the source kind; the rest is the text.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/unicode.h"
#include "values/string.h"

using namespace kez;

namespace {

void run(const uint8_t* data, size_t size) {
  uint8_t mode = size ? data[0] : 0;
  const uint8_t* text = size ? data + 1 : data;
  auto length = uint32_t(size ? size - 1 : 0);
  Cell* src = stack::push_unset();
  bool as_string = mode & 0x40;
  if (as_string) {
    int32_t cp;
    for (const uint8_t* p = text; p < text + length;) {
      p = unicode::fast_decode_utf8_char(p, text + length, &cp);
      if (cp < 0) as_string = false;
    }
  }
  if (as_string) {
    string::load_at(reinterpret_cast<const char*>(text), length, src);
  } else {
    node_t node = memory::alloc_bytes(length);
    std::memcpy(memory::buffer(node)->data(), text, length);
    memory::buffer(node)->tail = length;
    *src = make_series(TYPE_BINARY, node);
  }
  // A native frame: the source, then the /part argument.
  stack::open_native_frame(nullptr);
  stack::push(*src);
  int32_t refs[7] = {-1, -1, -1, -1, -1, -1, -1};
  for (int r = 0; r < 4; r++)
    if (mode & (1 << r)) refs[r] = 1;
  if (mode & 0x10) {
    refs[4] = 1;
    stack::push(make_integer(int32_t(length / 2)));
  }
  natives::transcode_star(false, refs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_input([] {}, [&] { run(data, size); });
  return 0;
}
