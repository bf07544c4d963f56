// Helpers of the lexer tests: load text and show the values in a compact
// text of the test's own (so the tests do not depend on mold), and catch
// syntax errors with their arguments.
#pragma once
#include <string>

#include "services/lexer.h"
#include "values/cell.h"

namespace kez::test {

// A value as the tests write it: words as written, strings in quotes, floats
// with a point, tuple/pair/time/date/money/point in simple forms.
std::string show(const Cell* value);
// The values of a block, separated by spaces (no brackets).
std::string show_items(const Cell* block);

// Loads the text (all values) and shows them; a syntax error gives its
// message as the console would print it after "*** Syntax Error: ".
std::string load(const std::string& text);
// Runs a scan with the options over a string! of the text and shows dst
// (or the error message). `type` receives the scan's result type.
std::string scan(const std::string& text, lexer::scan_options options, int32_t* type = nullptr,
                 uint32_t* consumed = nullptr);

// The message of the error raised by `body`, or "" when none was.
template <class F>
std::string error_of(F&& body);
std::string error_begin_end(void (*body)(void*), void* context);
template <class F>
std::string error_of(F&& body) {
  return error_begin_end([](void* f) { (*static_cast<F*>(f))(); }, &body);
}

}  // namespace kez::test
