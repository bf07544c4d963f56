// Routines: boot functions whose bodies are C++. Each has a spec written in
// Kez and becomes a routine! value bound to its global word at start-up.
#pragma once

#include <span>
#include <string_view>

#include "evaluator/natives.h"

namespace kez::boot {

struct routine_entry {
  const char* name;
  const char* spec;
  routines::routine_fn fn;
};

// Pushes a new routine! made from its spec text on the value stack.
Cell* push_routine(std::string_view spec, routines::routine_fn fn);
// Makes one routine from its spec text and binds it to its global word.
void define_routine(const char* name, std::string_view spec, routines::routine_fn fn);
// The same, from a spec block already loaded (copied for the routine): for
// routines that share one spec, which is then lexed once.
void define_routine(const char* name, const Cell* spec, routines::routine_fn fn);
void define_routines(std::span<const routine_entry> table);

// Makes every routine of the table and binds it to its word.
void make_routines();
// Makes the type tests (`block?`, `series?` ...), routines too.
void make_type_tests();
// Makes the JSON decoder's `unescape` (under a boot-time name).
void make_json_routines();
// Makes the preprocessor's `holds-type?` (under a boot-time name).
void make_preprocessor_routines();

}  // namespace kez::boot
