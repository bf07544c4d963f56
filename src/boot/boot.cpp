// The boot library: Kez sources embedded at build time (src/boot/*.kez,
// named so that file-name order is boot-phase order) and evaluated at start.
#include <cstring>
#include <string_view>

#include "boot/routines.h"
#include "boot/startup.h"
#include "evaluator/interpreter.h"
#include "foundation/collector.h"
#include "evaluator/stack.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/symbol.h"

namespace kez::boot {

namespace {

struct boot_source {
  const char* name;
  const char* text;
};

constexpr boot_source SOURCES[] = {
#include "boot-sources.inc"
};

// A source starts with its header: the word Kez and a block.
void skip_header(Cell* code) {
  if (block::rs_length(code) < 2) return;
  Cell* head = block::rs_head(code);
  if (TYPE_OF(head) == TYPE_WORD && std::strcmp(symbol::to_cstr(head->w2), "Kez") == 0 &&
      TYPE_OF(head + 1) == TYPE_BLOCK)
    code->w1 += 2;
}

}  // namespace

void run_boot_library() {
  for (const auto& source : SOURCES) {
    std::string_view text(source.text);
    Cell* code = lexer::scan_utf8(text.data(), uint32_t(text.size()));
    skip_header(code);
    interpreter::eval_block(code, false);
    stack::top = stack::bottom;
    stack::arguments = stack::bottom;
  }
}

void start() {
  init_runtime();
  make_routines();
  collector::active = true;
  run_boot_library();
  runtime::exit_process(0);
}

}  // namespace kez::boot
