// The boot library: Kez sources embedded at build time (src/boot/*.kez,
// named so that file-name order is boot-phase order) and evaluated at start.
#include <cstring>
#include <string_view>

#include "boot/routines.h"
#include "boot/startup.h"
#include "console/routines.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "foundation/collector.h"
#include "evaluator/stack.h"
#include "foundation/runtime.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/symbol.h"
#include "values/word.h"

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

// `make` must exist before the sources can make anything: a first action!
// value is bound here; the actions source then defines it with its spec.
void make_first_action() {
  constexpr std::string_view spec = "[type [any-type!] spec [any-type!]] 1";
  Cell* args = lexer::scan_utf8(spec.data(), uint32_t(spec.size()));
  Cell* value = stack::push(make_datatype(TYPE_ACTION));
  actions::peek_make(TYPE_ACTION)(value, args, TYPE_ACTION);
  Cell w = word::make_global(symbol::make("make"));
  word::set(&w, value);
  stack::pop(2);
}

}  // namespace

// The environment's own sources make little garbage, so they run with the
// collector off: start-up pays for no collection. It is switched on before
// the console's sources (the 9x group; the console's launch may never
// return) and, at the latest, when all sources have run.
void run_boot_library(bool with_console) {
  make_first_action();
  for (const auto& source : SOURCES) {
    if (source.name[0] >= '9') {
      if (!with_console) break;
      collector::active = true;
    }
    std::string_view text(source.text);
    Cell* code = lexer::scan_utf8(text.data(), uint32_t(text.size()));
    skip_header(code);
    interpreter::eval_block(code, false);
    stack::top = stack::bottom;
    stack::arguments = stack::bottom;
  }
  collector::active = true;
}

void start() {
  init_runtime();
  make_routines();
  console::make_routines();
  // The library's last statement starts the console, which ends the
  // process itself unless a script run without "--catch" returns.
  run_boot_library();
  runtime::exit_process(0);
}

}  // namespace kez::boot
