// libFuzzer target: what `mold/all` writes, `transcode` reads back as an
// equal value. Any bytes are transcoded; the loaded values (or, by the first
// byte, those values converted with `to` to one datatype) are molded with
// /all, the text is transcoded again and molded again. The second load must
// succeed and give values strictly equal to the first, and the text must
// reach a fixed point: a value whose text spans lines comes back marked as
// starting a line, which may change the layout once, never again. A value
// that `mold/all` refuses to write (an error) passes: text that reads back
// as something else does not. The datatypes written as the code that makes
// them (make hash! [...], make bitset! #{...}, objects) load as that code
// and are not converted to.
//
// The check runs as Kez code over the language part of the boot library; a
// failure prints the text involved and aborts, so that libFuzzer keeps the
// input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "boot/routines.h"
#include "boot/startup.h"
#include "fuzz_support.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/collector.h"
#include "foundation/memory.h"
#include "foundation/platform.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

using namespace kez;

namespace {

// The first input byte below this value loads the text as it is; from it
// on, the byte picks the datatype that every loaded value is converted to.
constexpr uint8_t FIRST_CONVERSION = 96;
// Room kept below the depth guard's limit on the fuzzer's 8 MB main stack.
constexpr uintptr_t STACK_ROOM = 6u << 20;

constexpr std::string_view DRIVER = R"(
round-trip: func [src [binary!] mode [integer!] /local v1 m1 v2 m2 m3 types t out][
	if error? v1: try [transcode src] [return none]
	if mode >= 0 [
		types: [
			file! url! tag! email! issue! word! set-word! get-word! lit-word! refinement!
			string! percent! time! float! money! date! pair! tuple! char! path! set-path!
			get-path! lit-path! binary! ref! block! paren! integer! point2D! point3D!
			map! logic! datatype! none!
		]
		t: get pick types 1 + (mode // length? types)
		out: make block! length? v1
		foreach v v1 [unless error? set/any 'v try [to t :v] [append/only out :v]]
		v1: out
	]
	if error? m1: try [mold/all v1] [return none]
	if error? v2: try [transcode m1] [return reduce ["does not load" m1 v2]]
	unless all [1 = length? v2 block? first v2] [return reduce ["loads as other values" m1]]
	v2: first v2
	unless any [v1 == v2 find m1 "#NaN"] [return reduce ["loads a different value" m1]]
	if error? m2: try [mold/all v2] [return reduce ["does not mold again" m1 m2]]
	;-- A value whose text spans lines comes back marked as starting one:
	;-- the text may change once, then stays.
	m3: mold/all first transcode m2
	if m2 <> m3 [return reduce ["molds differently" m2 m3]]
	none
]
)";

void report(const Cell* result) {
  Cell* text = string::rs_make_at(stack::push_unset(), 256);
  actions::mold(result, text, false, true, false, 0x7FFFFFFF, 0);
  std::fprintf(stderr, "round trip failed: %s\n", string::to_utf8(text).c_str());
  std::abort();
}

void run(const uint8_t* data, size_t size) {
  uint8_t mode = size ? data[0] : 0;
  const uint8_t* text = size ? data + 1 : data;
  auto length = uint32_t(size ? size - 1 : 0);
  Cell* code = block::push_only(3);
  Cell w = word::make_global(symbol::make("round-trip"));
  block::rs_append(code, &w);
  node_t node = memory::alloc_bytes(length);
  std::memcpy(memory::buffer(node)->data(), text, length);
  memory::buffer(node)->tail = length;
  Cell src = make_series(TYPE_BINARY, node);
  block::rs_append(code, &src);
  Cell m = make_integer(mode < FIRST_CONVERSION ? -1 : mode - FIRST_CONVERSION);
  block::rs_append(code, &m);
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
        boot::make_all_routines();
        boot::run_boot_library(false);
        Cell* driver = lexer::scan_utf8(DRIVER.data(), uint32_t(DRIVER.size()));
        interpreter::eval_block(driver, false);
        stack::top = stack::bottom;
        stack::arguments = stack::bottom;
        collector::active = true;
      },
      [&] { run(data, size); });
  return 0;
}
