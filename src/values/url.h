// url!: a uniform resource locator as a value, kept decoded: percent
// encoding is applied when it is molded and removed by the decoder that the
// lexer and `dehex` use. The parent of file!.
#pragma once
#include <cstdint>
#include <string_view>

#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::url {

// Table selectors: the component table keeps only A-Z a-z 0-9 - . _ ~; any
// other selector picks the URL table, which also keeps ! # $ & ' ( ) * + , /
// : = ? @. Bytes of 128 and above are always encoded.
constexpr uint8_t COMPONENT_TABLE = 254;
constexpr uint8_t URL_TABLE = 255;

// The characters below 127 that stand unquoted in a molded file! and
// unescaped in an encoded URL; code points of 128 and above count as safe.
bool is_safe(uint32_t cp);

// The byte itself, or "%" and two upper-case digits (a static area).
std::string_view encode_char(uint8_t selector, uint8_t byte);
// Appends the encoded form of a byte range to a string.
void encode(const uint8_t* bytes, uint32_t length, uint8_t selector, Cell* target);
// Decodes percent escapes (into characters) from UTF-8 bytes onto a string.
// A run of escapes becomes one character only when its bytes are valid,
// shortest-form UTF-8; otherwise the percent sign stays as it is.
void decode(const uint8_t* bytes, uint32_t length, Cell* target);
// A new string with the decoded text, pushed on the value stack.
Cell* decode_new(const uint8_t* bytes, uint32_t length);
// True when "%" and two hexadecimal digits stand at `p` (before `end`).
bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte);
Cell* push(const Cell* url);

// The actions file! inherits.
Cell* make(Cell* proto, const Cell* spec, uint32_t type);
Cell* to(Cell* proto, const Cell* spec, uint32_t type);
Cell* eval_path(path_step& step, Cell* out);

void init();  // registers url!

}  // namespace kez::url
