// The text natives that work on strings and characters: dehex, enhex,
// uppercase, lowercase and to-local-file. Each is a thin layer over the
// string, URL and file code; the result lands in the frame's first cell.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/casefold.h"
#include "values/file.h"
#include "values/string.h"
#include "values/url.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }
inline const Cell* ref_arg(const int32_t* refs, int i) {
  return refs[i] < 0 ? nullptr : stack::arguments + refs[i];
}

// The value's characters from its head as UTF-8.
std::string utf8_of(const Cell* value) { return string::to_utf8(value); }

}  // namespace

void dehex_star(bool, const int32_t*) {
  std::string text = utf8_of(arg(0));
  stack::top = arg(0) + 1;
  Cell* out = url::decode_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

void enhex_star(bool, const int32_t*) {
  uint8_t selector = TYPE_OF(arg(0)) == TYPE_STRING ? url::COMPONENT_TABLE : url::URL_TABLE;
  std::string text = utf8_of(arg(0));
  stack::top = arg(0) + 1;
  Cell* out = string::push_new(uint32_t(text.size()));
  url::encode(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), selector, out);
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

void uppercase_star(bool, const int32_t* refs) {
  case_folding::change_case(arg(0), ref_arg(refs, 0), true);
}

void lowercase_star(bool, const int32_t* refs) {
  case_folding::change_case(arg(0), ref_arg(refs, 0), false);
}

void to_local_file_star(bool, const int32_t* refs) {
  bool full = refs[0] >= 0;
  Cell* path = arg(0);
  stack::top = arg(0) + 1;
  Cell* out = string::push_new(string::rs_length(path) + 1);
  file::to_local_path(path, out, full);
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
