// libFuzzer target: any text through `load-csv`, as the boot library runs
// it, with refinements chosen by the first byte. No input may crash, hang or
// corrupt memory; an error value or a raised error is an ordinary outcome.
// Lines that load in the plain shape must load again, strictly equal, from
// what `to-csv` writes of them with the same delimiter and quote.
#include <cstdint>
#include <string_view>

#include "driver_support.h"

using namespace kez;

namespace {

// Mode bits: 1 /flat, 2 /as-records, 4 /header, 8 /trim, 16 /as-columns,
// 32 a semicolon as the delimiter, 64 a single quote as the quote.
constexpr std::string_view DRIVER = R"(
csv-trip: func [text [string!] mode [integer!] /local refs delim qt rows back out][
	refs: copy [load-csv with]
	foreach [bit ref] [1 flat 2 as-records 4 header 8 trim 16 as-columns][
		if 0 < (mode and bit) [append refs ref]
	]
	append refs 'quote
	delim: either 0 < (mode and 32) [";"][","]
	qt: either 0 < (mode and 64) [#"'"][#"^""]
	if error? set/any 'rows try [do reduce [to path! refs text delim qt]] [return none]
	if any [0 < (mode and 31) not block? :rows empty? rows] [return none]
	out: to-csv/with/quote rows delim qt
	if error? set/any 'back try [load-csv/with/quote out delim qt] [
		return reduce ["does not load again" text out :back]
	]
	unless rows == :back [return reduce ["loads other lines" text out]]
	none
]
)";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t mode = size ? data[0] : 0;
  fuzz::run_input([] { fuzz::boot_with_driver(DRIVER); },
                  [&] { fuzz::run_driver("csv-trip", size ? data + 1 : data, size ? size - 1 : 0, mode); });
  return 0;
}
