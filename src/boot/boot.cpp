// The boot library: Kez sources embedded at build time (src/boot/*.kez and
// the GUI layer's src/gui/*.kez, named so that file-name order is boot-phase
// order across both folders) and evaluated at start.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "boot/pool.h"
#include "boot/routines.h"
#include "boot/startup.h"
#include "console/routines.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "foundation/collector.h"
#include "evaluator/stack.h"
#include "foundation/runtime.h"
#include "gui/routines.h"
#include "services/kezbin.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/native.h"
#include "values/context.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::boot {

namespace {

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
  constexpr std::string_view spec = "type [any-type!] spec [any-type!]";
  Cell* args = lexer::scan_utf8(spec.data(), uint32_t(spec.size()));
  // Not registered: the actions source makes the registered one.
  Cell value = native::make_registered(TYPE_ACTION, 1, args, false);
  Cell w = word::make_global(symbol::make("make"));
  word::set(&w, &value);
  stack::pop(1);
}

}  // namespace

std::span<const boot_source> embedded_sources() { return SOURCES; }

Cell* load_source(const boot_source& source) {
  std::string_view text(source.text);
  Cell* code = lexer::scan_utf8(text.data(), uint32_t(text.size()));
  skip_header(code);
  return code;
}

namespace {

// The environment's own sources make little garbage, so they run with the
// collector off: start-up pays for no collection. It is switched on before
// the console's sources (the 9x group; the console's launch may never
// return) and, at the latest, when all sources have run.
void run_source(const char* name, Cell* code) {
  if (name[0] >= '9') collector::active = true;
  interpreter::eval_block(code, false);
  stack::top = stack::bottom;
  stack::arguments = stack::bottom;
}

}  // namespace

// Start-up decodes the pool the build made from the sources; without one
// (the build step's own program), or with KEZ_BOOT_FROM_SOURCE set in the
// environment (to compare the two), it lexes the sources.
bool boot_from_pool() {
  const char* from_source = std::getenv("KEZ_BOOT_FROM_SOURCE");
  return !embedded_pool().empty() && !(from_source && *from_source);
}

void run_boot_library(bool with_console) {
  if (!boot_from_pool()) {
    make_first_action();
    for (const auto& source : SOURCES) {
      if (!with_console && source.name[0] >= '9') break;
      run_source(source.name, load_source(source));
    }
  } else {
    uint32_t first = load_pool();
    uint32_t end = memory::buffer(context::root.w2)->used() / sizeof(Cell);
    for (uint32_t i = first; i + 1 < end; i += 2) {
      Cell name = *block::rs_abs_at(&context::root, i);
      std::string source_name = string::to_utf8(&name);
      if (!with_console && source_name[0] >= '9') break;
      Cell* code = stack::push(*block::rs_abs_at(&context::root, i + 1));
      run_source(source_name.c_str(), code);
    }
  }
  collector::active = true;
}

void make_all_routines() {
  make_routines();
  console::make_routines();
  kezbin::make_routines();
  gui::make_routines();
}

void start() {
  init_runtime();
  // The routine specs come from the pool's image of them when the library
  // does.
  if (boot_from_pool() && !embedded_routine_specs().empty())
    replay_routine_specs(embedded_routine_specs(), embedded_routine_spec_hashes(),
                         make_all_routines);
  else
    make_all_routines();
  // The library's last statement starts the console, which ends the
  // process itself unless a script run without "--catch" returns.
  run_boot_library();
  runtime::exit_process(0);
}

}  // namespace kez::boot
