// The boot pool: decoding the embedded image gives, source by source, the
// values the lexer gives (new-line markers included), and the boot mode's
// own rules hold on small hand-made pools.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/pool.h"
#include "boot/routines.h"
#include "boot/startup.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "evaluator/interpreter.h"
#include "foundation/platform.h"
#include "services/kezbin.h"
#include "services/lexer.h"
#include "test_support.h"
#include "values/block.h"
#include "values/context.h"
#include "values/function.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

using namespace kez;

namespace {

struct Pool : testing::Test {
  Cell* saved = nullptr;
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
  }
  void TearDown() override { stack::top = saved; }
};

// Equal values with the same header bits (new-line markers included),
// blocks compared cell by cell, words by symbol and context.
bool same_value(const Cell* a, const Cell* b) {
  if (a->header != b->header) return false;
  uint32_t t = TYPE_OF(a);
  if (block::is_block_type(t)) {
    uint32_t n = GET_BUFFER(a)->used() / sizeof(Cell);
    if (a->w1 != b->w1 || n != GET_BUFFER(b)->used() / sizeof(Cell)) return false;
    for (uint32_t i = 0; i < n; i++)
      if (!same_value(block::rs_abs_at(a, i), block::rs_abs_at(b, i))) return false;
    return true;
  }
  if (t >= TYPE_WORD && t <= TYPE_ISSUE) return a->w1 == b->w1 && a->w2 == b->w2;
  return actions::compare_values(a, b, COMP_STRICT_EQUAL) == 0;
}

bool is_named(const Cell* c, const char* name) {
  return TYPE_OF(c) == TYPE_WORD && std::string(symbol::to_cstr(c->w2)) == name;
}

TEST_F(Pool, DecodesToTheSourcesTheLexerLoads) {
  std::span<const uint8_t> pool = boot::embedded_pool();
  ASSERT_FALSE(pool.empty());
  Cell* decoded = block::push_only(64);
  kezbin::boot_load(pool.data(), pool.size(), decoded, true);
  auto sources = boot::embedded_sources();
  ASSERT_EQ(uint32_t(block::rs_length(decoded)), 2 * sources.size());
  uint32_t builtins = 0;
  for (size_t k = 0; k < sources.size(); k++) {
    Cell name = block::rs_head(decoded)[2 * k];
    EXPECT_EQ(string::to_utf8(&name), sources[k].name);
    Cell* from_pool = stack::push(block::rs_head(decoded)[2 * k + 1]);
    Cell* loaded = boot::load_source(sources[k]);
    ASSERT_EQ(from_pool->w1, loaded->w1) << sources[k].name;
    for (uint32_t i = 0; i < loaded->w1; i++)
      EXPECT_TRUE(same_value(block::rs_abs_at(from_pool, i), block::rs_abs_at(loaded, i)));
    // Statement by statement: a native or action definition became a
    // set-word record, whose value has the statement's spec and position;
    // every other cell is in the pool's block, in order.
    int32_t p = 0;
    for (int32_t i = 0; i < block::rs_length(loaded);) {
      Cell* c = block::rs_head(loaded) + i;
      if (TYPE_OF(c) == TYPE_SET_WORD && i + 3 < block::rs_length(loaded) && is_named(c + 1, "make") &&
          (is_named(c + 2, "native!") || is_named(c + 2, "action!"))) {
        Cell* args = block::rs_head(c + 3);
        Cell w = word::make_global(c->w2);
        const Cell* value = context::get(&w);
        EXPECT_EQ(TYPE_OF(value), is_named(c + 2, "native!") ? TYPE_NATIVE : TYPE_ACTION);
        EXPECT_EQ(int32_t(value->w1), get_integer(args + 1));
        Cell spec = make_series(TYPE_BLOCK, value->w2);
        EXPECT_TRUE(same_value(&spec, args)) << symbol::to_cstr(c->w2);
        builtins++;
        i += 4;
        continue;
      }
      ASSERT_LT(p, block::rs_length(from_pool)) << sources[k].name;
      EXPECT_TRUE(same_value(block::rs_head(from_pool) + p, c)) << sources[k].name << " cell " << i;
      p++;
      i++;
    }
    EXPECT_EQ(p, block::rs_length(from_pool)) << sources[k].name;
    stack::pop(2);
  }
  EXPECT_GT(builtins, 150u);
}

TEST_F(Pool, BuildingIsDeterministic) {
  EXPECT_EQ(boot::build_pool(), boot::build_pool());
  std::span<const uint8_t> pool = boot::embedded_pool();
  EXPECT_EQ(boot::build_pool(), std::vector<uint8_t>(pool.begin(), pool.end()));
}

// The hashes stored beside the images are those of their names, so interning
// them finds the symbols hashing finds.
TEST_F(Pool, HashesBesideTheImagesAreThoseOfTheirNames) {
  std::pair<std::span<const uint8_t>, std::span<const uint32_t>> images[] = {
      {boot::embedded_pool(), boot::embedded_pool_hashes()},
      {boot::embedded_routine_specs(), boot::embedded_routine_spec_hashes()}};
  for (auto [image, stored] : images) {
    ASSERT_FALSE(stored.empty());
    EXPECT_EQ(kezbin::symbol_hashes(image), std::vector<uint32_t>(stored.begin(), stored.end()));
  }
}

// A compact pool with a symbol table of the given names.
std::vector<uint8_t> pool_of(std::vector<std::string> names, std::vector<uint8_t> payload) {
  std::vector<uint8_t> image = {'K', 'E', 'Z', 'B', 'I', 'N', 1, 5, 1, uint8_t(payload.size())};
  std::string strings;
  std::vector<uint32_t> offsets;
  for (const auto& n : names) {
    offsets.push_back(uint32_t(strings.size()));
    strings += n;
    strings += '\0';
  }
  image.push_back(uint8_t(names.size()));
  image.push_back(uint8_t(strings.size()));
  for (uint32_t o : offsets)
    for (int i = 0; i < 4; i++) image.push_back(uint8_t(o >> (8 * i)));
  image.insert(image.end(), strings.begin(), strings.end());
  image.insert(image.end(), payload.begin(), payload.end());
  return image;
}

Cell global_value(const char* name) {
  Cell w = word::make_global(symbol::make(name));
  return *context::get(&w);
}

TEST_F(Pool, SetWordRecordLeavesNoCell) {
  // pool-test-a: 7 ; then the integer 1
  auto image = pool_of({"pool-test-a"}, {0xC4, 0x0F, 0x00, 0x87, 0x81});
  Cell* into = block::push_only(4);
  kezbin::boot_load(image.data(), image.size(), into, true);
  ASSERT_EQ(block::rs_length(into), 1);
  EXPECT_EQ(get_integer(block::rs_head(into)), 1);
  Cell a = global_value("pool-test-a");
  EXPECT_EQ(get_integer(&a), 7);
}

TEST_F(Pool, WordsTakeTheContextOfATopLevelValue) {
  // An object [x: 1 y: 2], then y bound there at index 1, then y at -1
  // (looked up by its symbol), then a global y.
  auto image = pool_of({"x", "y"}, {0x20, 0x00, 0x0E, 0x1A, 0x02, 0x00, 0x01, 0x81, 0x82,  //
                                    0x4F, 0x01, 0x00, 0x02,                                  //
                                    0x4F, 0x01, 0x00, 0x01,                                  //
                                    0x0F, 0x01});
  Cell* into = block::push_only(4);
  kezbin::boot_load(image.data(), image.size(), into, true);
  ASSERT_EQ(block::rs_length(into), 4);
  Cell obj = block::rs_head(into)[0];
  for (int i = 1; i <= 2; i++) {
    Cell w = block::rs_head(into)[i];
    EXPECT_EQ(w.w1, obj.w1);
    EXPECT_EQ(w.w3, 1u);
    EXPECT_EQ(get_integer(context::get(&w)), 2);
  }
  EXPECT_EQ(block::rs_head(into)[3].w1, context::global_node);
}

TEST_F(Pool, KeepCellsLeavesTheFirstPoolsCells) {
  auto first = pool_of({"k"}, {0x81, 0x82});
  auto second = pool_of({"k"}, {0x83});
  Cell* into = block::push_only(4);
  uint32_t a = kezbin::boot_load(first.data(), first.size(), into, false);
  EXPECT_EQ(kezbin::literal_base, a);
  uint32_t b = kezbin::boot_load(second.data(), second.size(), into, true);
  EXPECT_EQ(kezbin::literal_base, a);
  EXPECT_EQ(b, a + 2);
  EXPECT_EQ(get_integer(block::rs_abs_at(into, a)), 1);
  EXPECT_EQ(get_integer(block::rs_abs_at(into, a + 1)), 2);
  EXPECT_EQ(get_integer(block::rs_abs_at(into, b)), 3);
}

TEST_F(Pool, WithoutTheMagicStartUpStops) {
  std::vector<uint8_t> image = {'K', 'E', 'Z', 'B', 'I', 'X', 1, 1, 1, 1, 0x81};
  EXPECT_EXIT(
      {
        Cell* into = block::push_only(4);
        kezbin::boot_load(image.data(), image.size(), into, false);
      },
      testing::ExitedWithCode(1), "^Error: Not a Kezbin file!\n$");
}

TEST_F(Pool, CorruptCompressedPayloadStopsStartUp) {
  std::vector<uint8_t> image = {'K', 'E', 'Z', 'B', 'I', 'N', 1, 3, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EXIT(
      {
        Cell* into = block::push_only(4);
        kezbin::boot_load(image.data(), image.size(), into, false);
      },
      testing::ExitedWithCode(1), "^Error: Kezbin compressed data corrupted!\n$");
}

// Recording the routine specs again (in a child: it binds every routine
// anew) gives the image the build embedded.
TEST_F(Pool, RoutineSpecsImageIsTheOneTheBuildRecorded) {
  std::span<const uint8_t> embedded = boot::embedded_routine_specs();
  ASSERT_FALSE(embedded.empty());
  std::vector<uint8_t> expected(embedded.begin(), embedded.end());
  EXPECT_EXIT(
      {
        bool same = boot::record_routine_specs(boot::make_all_routines) == expected;
        std::_Exit(same ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

// The first word of the spec of the routine a global word holds.
std::string first_spec_word(const char* name) {
  Cell v = global_value(name);
  Cell spec = make_series(TYPE_BLOCK, v.w2);
  if (TYPE_OF(&v) != TYPE_ROUTINE || block::rs_length(&spec) < 1) return "";
  return symbol::to_cstr(block::rs_head(&spec)->w2);
}

// The bodies `func SPEC BODY` statements give, found deeply.
void func_bodies(const Cell* block, std::vector<node_t>& out) {
  uint32_t n = GET_BUFFER(block)->used() / sizeof(Cell);
  for (uint32_t i = block->w1; i < n; i++) {
    const Cell* c = block::rs_abs_at(block, i);
    if (TYPE_OF(c) == TYPE_BLOCK) func_bodies(c, out);
    if (is_named(c, "func") && i + 2 < n && TYPE_OF(block::rs_abs_at(block, i + 2)) == TYPE_BLOCK)
      out.push_back(block::rs_abs_at(block, i + 2)->w2);
  }
}

// Which boot statements are known to run once, so that their function takes
// the pool's body as it is: a statement ends where a word that cannot be an
// op follows (a native, an action, a routine, a word starting such a
// statement) or any other value; a single value, or a native taking only
// single values, is a whole statement. Marked blocks are run (their bodies
// are taken) and kept for good, as the pool's are. In a child process: the
// scan needs the booted library's words.
TEST_F(Pool, BootStatementsMadeOnceLendTheirBodies) {
  struct Case {
    const char* text;
    bool once;
  };
  static const Case cases[] = {
      {"pool-once-1: context [f: func [] [1]] set-quiet 'pool-once-v 1", true},
      {"pool-once-2: func [] [2] context [g: func [] [3]]", true},
      {"pool-once-3: func [] [4] 5 pool-once-4: func [] [5] system/options", true},
      {"pool-once-5: none context [g: func [] [6]]", true},
      {"unset 'pool-once-v context [g: func [] [7]]", true},
      {"make typeset! [issue!] context [g: func [] [8]]", true},
      {"pool-once-6: func [] [9] = 1", false},                  // an op takes the body
      {"pool-once-fn 'a func [] [10]", false},                  // arguments of unknown number
      {"unset pool-once-w context [g: func [] [11]]", false},   // an argument read from a word
      {"pool-once-7: none + context [g: func [] [12]]", false}, // an op after the value
  };
  auto child = [] {
    platform::stack_limit = reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - (6u << 20);
    boot::make_all_routines();
    boot::run_boot_library(false);
    int failures = 0;
    for (const Case& k : cases) {
      Cell* code = lexer::scan_utf8(k.text, uint32_t(std::strlen(k.text)));
      block::rs_append(&context::root, code);
      std::vector<node_t> bodies;
      func_bodies(code, bodies);
      function::mark_once_bodies(code);
      bool taken = !bodies.empty();
      for (node_t b : bodies) taken = taken && function::is_once_body(b) == k.once;
      if (taken && k.once) {
        interpreter::eval_block(code, false);
        for (node_t b : bodies) taken = taken && !function::is_once_body(b);
      }
      if (!taken) {
        std::fprintf(stderr, "wrong: %s\n", k.text);
        failures++;
      }
    }
    std::exit(failures ? 1 : 0);
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");
}

// Start-up follows the paths the build recorded instead of scanning the
// sources: they must be the ones a scan of the same state records. In a
// child process: the scan needs the routines and the decoded pool's words.
TEST_F(Pool, OncePathsAreThoseAScanRecords) {
  std::span<const uint32_t> embedded = boot::embedded_once_paths();
  ASSERT_FALSE(embedded.empty());
  std::vector<uint32_t> expected(embedded.begin(), embedded.end());
  EXPECT_EXIT(
      {
        boot::make_all_routines();
        bool same = boot::once_paths(boot::embedded_pool()) == expected;
        std::_Exit(same ? 0 : 3);
      },
      testing::ExitedWithCode(0), "");
}

// A path notes the block it leads to; a set of paths where one leads
// nowhere (out of a block, to a value that is no block, to a block with a
// head index) notes nothing, and start-up scans instead.
TEST_F(Pool, OncePathsNoteTheirBlocksOrNothing) {
  static const char* text = "[a: func [] [body] b: context [x: 1] c: [1 2] d: [3 4]]";
  Cell* root = lexer::scan_utf8(text, uint32_t(std::strlen(text)));
  Cell* source = block::rs_head(root);
  auto at = [&](uint32_t i) { return block::rs_head(source)[i].w2; };
  node_t body = at(3), spec = at(6), plain = at(8);
  block::rs_head(source)[10].w1 = 1;  // d: next [3 4]
  EXPECT_TRUE(function::mark_once_paths(root, 0, std::vector<uint32_t>{4, 0, 3, 5, 0, 6}));
  EXPECT_TRUE(function::is_once_body(body));
  EXPECT_TRUE(function::is_once_spec(spec));
  struct Case {
    std::vector<uint32_t> paths;
    const char* why;
  };
  const Case cases[] = {
      {{4, 0, 8, 4, 0, 20}, "an index past the block"},
      {{4, 0, 8, 4, 0, 0}, "a set-word"},
      {{4, 0, 8, 4, 0, 10}, "a block with a head index"},
      {{4, 0, 8, 4, 1, 0}, "a source past the root block"},
      {{4, 0, 8, 6, 0, 8}, "a path longer than what follows"},
  };
  for (const Case& k : cases) {
    EXPECT_FALSE(function::mark_once_paths(root, 0, k.paths)) << k.why;
    EXPECT_FALSE(function::is_once_body(plain)) << k.why;
  }
  stack::pop(1);
}

// A replay takes each spec and name only while they match what is asked
// for; from the first that does not, the specs are lexed.
TEST_F(Pool, ReplayEndsAtTheFirstSpecOrNameThatDiffers) {
  static const char* spec_b = "y [block!]";
  static const char* name_c = "pool-test-c";
  auto make = [] {
    boot::define_routine("pool-test-a", "x [integer!]", [] {});
    boot::define_routine("pool-test-b", spec_b, [] {});
    boot::define_routine(name_c, "z [string!]", [] {});
  };
  std::vector<uint8_t> image = boot::record_routine_specs(make);
  spec_b = "q [logic!]";  // as long as "y [block!]"
  boot::replay_routine_specs(image, {}, make);
  EXPECT_EQ(first_spec_word("pool-test-a"), "x");
  EXPECT_EQ(first_spec_word("pool-test-b"), "q");
  EXPECT_EQ(first_spec_word("pool-test-c"), "z");
  spec_b = "y [block!]";
  name_c = "pool-test-d";
  boot::replay_routine_specs(image, {}, make);
  EXPECT_EQ(first_spec_word("pool-test-b"), "y");
  EXPECT_EQ(first_spec_word("pool-test-d"), "z");
}

}  // namespace
