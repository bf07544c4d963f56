// libFuzzer target: any text through `load-json`, as the boot library runs
// it. No input may crash, hang or corrupt memory; a rejected text (an error
// value or a raised error) is an ordinary outcome. A text that loads must
// load again, to a strictly equal value, from what `to-json` writes of it,
// compact, indented and ASCII-only; a failure prints the texts involved and
// aborts, so that libFuzzer keeps the input.
//
// Bytes that are UTF-8 are decoded as such; other bytes are taken one
// character each, so that every input reaches the decoder.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "boot/routines.h"
#include "fuzz_support.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/unicode.h"
#include "services/kezbin.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

using namespace kez;

namespace {

// Infinity (a number too big for a double) has no JSON form: such a value
// is written as null and is not expected back.
constexpr std::string_view DRIVER = R"(
json-trip: func [text [string!] /local v w t][
	if error? set/any 'v try [load-json text] [return none]
	if any [error? :v find mold/all :v "#INF"] [return none]
	foreach t reduce [to-json v to-json/pretty v "  " to-json/ascii v][
		if error? set/any 'w try [load-json t] [return reduce ["does not load again" t :w]]
		unless :v == :w [return reduce ["loads a different value" text t]]
	]
	none
]
)";

// Room left on the fuzzer's own thread below the point where deep nesting
// raises the language's stack-overflow error.
constexpr uintptr_t STACK_ROOM = 6u << 20;

void report(const Cell* result) {
  Cell* text = string::rs_make_at(stack::push_unset(), 256);
  actions::mold(result, text, false, true, false, 0x7FFFFFFF, 0);
  std::fprintf(stderr, "json round trip failed: %s\n", string::to_utf8(text).c_str());
  std::abort();
}

bool is_utf8(const uint8_t* p, const uint8_t* end) {
  int32_t cp;
  while (p < end) {
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    if (cp < 0) return false;
  }
  return true;
}

void run(const uint8_t* data, size_t size) {
  Cell* code = block::push_only(2);
  Cell w = word::make_global(symbol::make("json-trip"));
  block::rs_append(code, &w);
  Cell* text = stack::push_unset();
  if (is_utf8(data, data + size)) {
    string::load_at(reinterpret_cast<const char*>(data), uint32_t(size), text);
  } else {
    string::rs_make_at(text, uint32_t(size));
    string::append_bytes(text, data, uint32_t(size));
  }
  block::rs_append(code, text);
  interpreter::eval_block(code, false);
  const Cell* result = stack::top - 1;
  if (TYPE_OF(result) != TYPE_NONE) report(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_input(
      [] {
        platform::stack_limit =
            reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - STACK_ROOM;
        boot::make_routines();
        kezbin::make_routines();
        boot::run_boot_library(false);
        Cell* driver = lexer::scan_utf8(DRIVER.data(), uint32_t(DRIVER.size()));
        interpreter::eval_block(driver, false);
        stack::top = stack::bottom;
        stack::arguments = stack::bottom;
      },
      [&] { run(data, size); });
  return 0;
}
