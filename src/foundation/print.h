// Typed low-level print and the output hook lists.
//
// `print(...)` writes a list of machine values with no separator: bool as
// true/false, int32 as decimal, char as that byte, float as "%.7g", double as
// "%.16g", text as its bytes, and any other 32-bit or address value as eight
// upper-case hex digits. The hooks: every value the language prints goes to
// the value-output callbacks (the first is output::print_string), and the
// runtime's low-level text writes go to the text-output callbacks.
#pragma once
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "foundation/output.h"

namespace kez {

namespace detail {
inline void print_item(bool v) { output::print_text(v ? "true" : "false"); }
inline void print_item(int32_t v) { output::print_integer(v); }
inline void print_item(char v) {
  char s[2] = {v, 0};
  output::print_c_string(s);
}
inline void print_item(float v) { output::print_float32(v); }
inline void print_item(double v) { output::print_float64(v); }
inline void print_item(const char* v) { output::print_c_string(v); }
inline void print_item(std::string_view v) { output::print_text(v); }
inline void print_item(uint32_t v) { output::print_hex(v); }
inline void print_item(const void* v) {
  output::print_hex(uint32_t(reinterpret_cast<uintptr_t>(v)));
}
}  // namespace detail

void print_begin();  // suspends a text-mode window
void print_end();    // resumes it

template <class... Items>
void print(const Items&... items) {
  print_begin();
  (detail::print_item(items), ...);
  print_end();
}

template <class... Items>
void print_line(const Items&... items) {
  print(items...);
  output::print_text("\n");
}

namespace hooks {

using value_callback = void (*)(const Cell* value, bool line_end);
using text_callback = void (*)(const char* text, int32_t length, int32_t flag);

// Both lists start with room for 5 and grow by 5.
void init();
void add(value_callback value, text_callback text);
void remove(value_callback value, text_callback text);
void fire_value(const Cell* value, bool line_end);
void fire_text(const char* text, int32_t length, int32_t flag);
int value_count();
int value_capacity();
value_callback value_at(int i);

}  // namespace hooks
}  // namespace kez
