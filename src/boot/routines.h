// Routines: boot functions whose bodies are C++. Each has a spec written in
// Kez and becomes a routine! value bound to its global word at start-up.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "evaluator/natives.h"

namespace kez::boot {

// The hash by which the start-up image of the routine specs recognises a
// spec's text (32-bit FNV-1a): computed when the program is compiled for
// the texts of the tables, so that replaying the image reads none of them.
constexpr uint32_t spec_hash(std::string_view text) {
  uint32_t h = 2166136261u;
  for (char c : text) h = (h ^ uint8_t(c)) * 16777619u;
  return h;
}

// A routine spec's text and its hash.
struct spec_text {
  std::string_view text;
  uint32_t hash;
  consteval spec_text(const char* literal) : text(literal), hash(spec_hash(text)) {}
  constexpr spec_text(std::string_view t, uint32_t h) : text(t), hash(h) {}
};

struct routine_entry {
  const char* name;
  spec_text spec;
  routines::routine_fn fn;
};

// Pushes the block of a routine spec's text on the value stack: lexed, or
// taken from the start-up image of the routine specs while it is replayed.
Cell* lex_spec(const spec_text& spec);
inline Cell* lex_spec(std::string_view text) { return lex_spec(spec_text(text, spec_hash(text))); }
// Runs `make` (make_all_routines) recording the specs it lexes and the
// names it binds: the start-up image of the routine specs (the pool's build
// step).
std::vector<uint8_t> record_routine_specs(void (*make)());
// Runs `make` taking the specs and names from that image instead of lexing
// them, as long as they match what it asks for; `hashes` are those of its
// names (kezbin::boot_load).
void replay_routine_specs(std::span<const uint8_t> image, std::span<const uint32_t> hashes,
                          void (*make)());
// The global word of a name make_all_routines binds or keeps, made (or
// taken from that image) in its order.
Cell routine_word(const char* name);
// The routine made from the spec block at the top of the value stack, in
// its place (the block becomes the routine's own).
Cell* routine_in_place(routines::routine_fn fn);
// Pushes a new routine! made from its spec text on the value stack.
Cell* push_routine(const spec_text& spec, routines::routine_fn fn);
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
