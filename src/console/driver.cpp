// The stand-in console driver.
#include "console/driver.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/output.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/error.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez::console {

namespace {

constexpr int32_t WIDTH = 80;

// Evaluates code under a try frame; false when an error was printed.
bool evaluate(std::string_view text, bool print_result) {
  Cell* saved_top = stack::top;
  Cell* result = stack::push_unset();
  stack::arguments = result;
  bool ok = true;
  Cell try_word = words::try_word;
  stack::open_try_all_frame(&try_word);
  try {
    Cell* code = lexer::scan_utf8(text.data(), uint32_t(text.size()));
    // A script's header is skipped.
    if (block::rs_length(code) >= 2 && TYPE_OF(block::rs_head(code)) == TYPE_WORD &&
        TYPE_OF(block::rs_head(code) + 1) == TYPE_BLOCK) {
      Cell first = block::rs_head(code)[0];
      if (std::string(symbol::to_cstr(first.w2)) == "Kez") code->w1 += 2;
    }
    interpreter::eval_block(code, true);
    if (stack::pending()) stack::raise_code = 0;
    stack::pop_frame_return();
  } catch (const runtime_throw& t) {
    if (t.code != RAISE_ERROR) throw;
    stack::arguments = result;
    stack::settle_try_result();
  }
  Cell value = *result;
  if (TYPE_OF(&value) == TYPE_ERROR) {
    Cell* text_out = string::push_new(64);
    error::form(&value, text_out, 0x7FFFFFFF);
    output::print_string(text_out, true);
    if (print_result) output::print_text("\n");
    ok = false;
  } else if (print_result && TYPE_OF(&value) != TYPE_UNSET) {
    Cell* text_out = string::push_new(64);
    int32_t limit = WIDTH - 3;
    if (TYPE_OF(&value) == TYPE_FLOAT) actions::form(&value, text_out, limit + 5);
    else actions::mold(&value, text_out, false, false, false, limit + 5, 0);
    if (int32_t(string::rs_length(text_out)) > limit) {
      string::cut_to(text_out, limit - 3 - 1);
      string::append_literal(text_out, "...");
    }
    std::string line = "== " + string::to_utf8(text_out);
    output::print_text(line + "\n");
  }
  stack::top = saved_top;
  stack::arguments = stack::bottom;
  stack::frames_top = stack::frames_bottom;
  return ok;
}

// True when the text leaves a block, paren or braced string open.
bool unfinished(const std::string& text) {
  int depth = 0;
  bool in_string = false;
  int braces = 0;
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (braces) {
      if (c == '^') i++;
      else if (c == '{') braces++;
      else if (c == '}') braces--;
      continue;
    }
    if (in_string) {
      if (c == '^') i++;
      else if (c == '"') in_string = false;
      continue;
    }
    if (c == ';') {
      while (i < text.size() && text[i] != '\n') i++;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      braces = 1;
    } else if (c == '[' || c == '(') {
      depth++;
    } else if (c == ']' || c == ')') {
      depth--;
    }
  }
  return depth > 0 || braces > 0;
}

}  // namespace

void run_driver() {
  if (runtime::rt.argc > 1) {
    std::ifstream in(runtime::rt.argv[1], std::ios::binary);
    if (!in) {
      output::print_text(std::string("*** Access Error: cannot open: ") + runtime::rt.argv[1] +
                         "\n");
      return;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    size_t header = text.find("Kez");
    if (header == std::string::npos) {
      output::print_text("*** Error: Kez header not found!\n");
      return;
    }
    evaluate(std::string_view(text).substr(header), false);
    return;
  }
  std::string buffer, line;
  while (std::getline(std::cin, line)) {
    if (buffer.empty() && line.empty()) continue;
    buffer += line;
    buffer += '\n';
    if (unfinished(buffer)) continue;
    evaluate(buffer, true);
    buffer.clear();
  }
  if (!buffer.empty()) evaluate(buffer, true);
}

}  // namespace kez::console
