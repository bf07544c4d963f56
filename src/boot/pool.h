// The boot pool: the boot library packed at build time into one compact
// KEZBIN image, embedded in the binary and decoded at start-up instead of
// lexing the sources.
//
// The image holds, in this order: a set-word record for every datatype,
// native and action word (the `make native!` and `make action!`
// statements of the sources become these records and leave the sources),
// then for each embedded source, in phase order, its file name and its
// loaded block (header included, the head past it). Decoding it yields the
// blocks the lexer gives, new-line markers included.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "values/cell.h"

namespace kez::boot {

struct boot_source {
  const char* name;
  const char* text;
};

// The sources the build embeds, in phase order (boot.cpp).
std::span<const boot_source> embedded_sources();
// Loads a source with the lexer, its head past the header: pushed on the
// value stack (boot.cpp).
Cell* load_source(const boot_source& source);

// Packs the embedded sources into the pool's image (the build step).
std::vector<uint8_t> build_pool();
// The pool the build embedded; empty in the program that builds it.
std::span<const uint8_t> embedded_pool();
// The hashes of the names of the pool's symbol table, which the build
// stores beside it (kezbin::symbol_hashes).
std::span<const uint32_t> embedded_pool_hashes();
// The image of the routine specs the build embedded beside the pool
// (routines.h: record_routine_specs); empty in the program that builds it.
std::span<const uint8_t> embedded_routine_specs();
// The hashes of the names of that image's symbol table.
std::span<const uint32_t> embedded_routine_spec_hashes();
// Where the boot statements made once lie in the decoded image
// (function::mark_once_paths): the build decodes the image and scans it as
// start-up would, so that start-up only follows these paths.
std::vector<uint32_t> once_paths(std::span<const uint8_t> image);
// Those paths as the build embedded them beside the pool.
std::span<const uint32_t> embedded_once_paths();
// True when start-up decodes the pool rather than lexing the sources.
bool boot_from_pool();
// Decodes the embedded pool into the root block and answers the index of
// its first cell: name and block pairs from there to the block's end.
uint32_t load_pool();

}  // namespace kez::boot
