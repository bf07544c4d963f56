// libFuzzer target: any text through `load-json`, as the boot library runs
// it. No input may crash, hang or corrupt memory; a rejected text (an error
// value or a raised error) is an ordinary outcome. A text that loads must
// load again, to a strictly equal value, from what `to-json` writes of it,
// compact, indented and ASCII-only.
#include <cstdint>
#include <string_view>

#include "driver_support.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_input([] { fuzz::boot_with_driver(DRIVER); },
                  [&] { fuzz::run_driver("json-trip", data, size, -1); });
  return 0;
}
