// The boot pool: packing the boot library's sources at build time, and
// decoding them at start-up.
//
// What must stay true: decoding the pool gives, source by source, the same
// values the lexer gives (the build step writes exactly what it loaded), and
// the statements moved into set-word records are only those that define a
// native or an action from a literal spec, so nothing else changes order.
#include "boot/pool.h"

#include <cstddef>

#include "evaluator/stack.h"
#include "services/kezbin.h"
#include "values/block.h"
#include "values/context.h"
#include "values/function.h"
#include "values/native.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

// The generated image (a weak definition: absent from the build step's own
// program, which boots from the sources).
extern const unsigned char kez_boot_pool[] __attribute__((weak));
extern const size_t kez_boot_pool_size __attribute__((weak));
extern const unsigned int kez_boot_pool_hashes[] __attribute__((weak));
extern const size_t kez_boot_pool_hashes_count __attribute__((weak));
extern const unsigned char kez_boot_routine_specs[] __attribute__((weak));
extern const unsigned int kez_boot_routine_specs_hashes[] __attribute__((weak));
extern const size_t kez_boot_routine_specs_hashes_count __attribute__((weak));
extern const size_t kez_boot_routine_specs_size __attribute__((weak));
extern const unsigned int kez_boot_once_paths[] __attribute__((weak));
extern const size_t kez_boot_once_paths_count __attribute__((weak));

namespace kez::boot {

namespace {

bool is_word_named(const Cell* c, const char* name) {
  return TYPE_OF(c) == TYPE_WORD && std::string_view(symbol::to_cstr(c->w2)) == name;
}

// `name: make native! [[spec] position]` (or action!): the type it makes,
// else 0.
uint32_t builtin_statement(const Cell* c, int32_t left) {
  if (left < 4 || TYPE_OF(c) != TYPE_SET_WORD || !is_word_named(c + 1, "make")) return 0;
  uint32_t type = is_word_named(c + 2, "native!") ? TYPE_NATIVE
                  : is_word_named(c + 2, "action!") ? TYPE_ACTION
                                                    : 0;
  if (!type || TYPE_OF(c + 3) != TYPE_BLOCK || block::rs_length(c + 3) != 2) return 0;
  const Cell* args = block::rs_head(const_cast<Cell*>(c + 3));
  if (TYPE_OF(args) != TYPE_BLOCK || TYPE_OF(args + 1) != TYPE_INTEGER) return 0;
  return type;
}

}  // namespace

std::vector<uint8_t> build_pool() {
  Cell* set_words = block::push_only(600);
  Cell* values = block::push_only(64);
  for (uint32_t id = 1; id <= datatype::highest_id; id++) {
    if (!datatype::names[id].name) continue;
    Cell w = word::make_global(symbol::make(datatype::names[id].name));
    block::rs_append(set_words, &w);
    Cell dt = make_datatype(id);
    block::rs_append(set_words, &dt);
  }
  for (const boot_source& source : embedded_sources()) {
    Cell* code = load_source(source);
    // The same block, without the statements that become set-word records.
    Cell* kept = block::push_only(block::rs_length(code) + int32_t(code->w1));
    for (uint32_t i = 0; i < code->w1; i++) block::rs_append(kept, block::rs_abs_at(code, i));
    kept->w1 = code->w1;
    for (int32_t i = 0; i < block::rs_length(code);) {
      Cell* c = block::rs_head(code) + i;
      if (uint32_t type = builtin_statement(c, block::rs_length(code) - i)) {
        Cell word = *c;
        Cell* args = block::rs_head(c + 3);
        Cell spec = args[0];
        Cell made = native::make_registered(type, uint32_t(get_integer(args + 1)), &spec);
        block::rs_append(set_words, &word);
        block::rs_append(set_words, &made);
        i += 4;
        continue;
      }
      Cell copy = *c;
      block::rs_append(kept, &copy);
      i++;
    }
    Cell* name = string::load(source.name);
    set_type(name, TYPE_FILE);
    block::rs_append(values, name);
    block::rs_append(values, kept);
    stack::pop(3);
  }
  std::vector<uint8_t> image = kezbin::encode_pool(set_words, values);
  stack::pop(2);
  return image;
}

namespace {

// An array the build generated beside the pool, or none in the program
// that builds it (the symbols are weak).
template <typename T>
std::span<const T> generated(const T* data, const size_t* size) {
  if (data == nullptr || size == nullptr) return {};
  return {data, *size};
}

}  // namespace

std::span<const uint8_t> embedded_pool() { return generated(kez_boot_pool, &kez_boot_pool_size); }

std::span<const uint8_t> embedded_routine_specs() {
  return generated(kez_boot_routine_specs, &kez_boot_routine_specs_size);
}

std::span<const uint32_t> embedded_pool_hashes() {
  return generated(kez_boot_pool_hashes, &kez_boot_pool_hashes_count);
}

std::span<const uint32_t> embedded_routine_spec_hashes() {
  return generated(kez_boot_routine_specs_hashes, &kez_boot_routine_specs_hashes_count);
}

std::span<const uint32_t> embedded_once_paths() {
  return generated(kez_boot_once_paths, &kez_boot_once_paths_count);
}

namespace {

// Notes the boot statements made once in the sources decoded from `first`
// of the root block on; with `paths`, records where they lie.
void mark_once(uint32_t first, std::vector<uint32_t>* paths) {
  uint32_t end = memory::buffer(context::root.w2)->used() / sizeof(Cell);
  for (uint32_t i = first; i < end; i++) {
    Cell* source = block::rs_abs_at(&context::root, i);
    if (TYPE_OF(source) == TYPE_BLOCK) function::mark_once_bodies(source, paths, i - first);
  }
}

}  // namespace

std::vector<uint32_t> once_paths(std::span<const uint8_t> image) {
  uint32_t first = kezbin::boot_load(image.data(), image.size(), &context::root, false, {});
  std::vector<uint32_t> paths;
  mark_once(first, &paths);
  return paths;
}

uint32_t load_pool() {
  std::span<const uint8_t> pool = embedded_pool();
  uint32_t first =
      kezbin::boot_load(pool.data(), pool.size(), &context::root, false, embedded_pool_hashes());
  // The build found them already; scanned again only where its paths lead
  // nowhere (a pool and paths of different builds).
  std::span<const uint32_t> paths = embedded_once_paths();
  if (paths.empty() || !function::mark_once_paths(&context::root, first, paths))
    mark_once(first, nullptr);
  return first;
}

}  // namespace kez::boot
