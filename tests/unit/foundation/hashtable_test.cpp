// Hash tables: the hash functions, the growth points, records, the symbol
// text index and context word tables, integer tables, and the collector's
// entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/hashtable.h"
#include "foundation/memory.h"
#include "foundation/unicode.h"
#include "test_support.h"
#include "values/cell.h"
#include "values/symbol.h"

using namespace kez;
using namespace kez::hashtable;

namespace {

struct HashTable : testing::Test {
  void SetUp() override { test::ensure_runtime(); }
};

Cell make_string(const std::string& utf8) {
  return make_series(TYPE_STRING, unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(utf8.data()),
                                                         uint32_t(utf8.size())));
}

int32_t intern(node_t table, const std::string& name, int mode = FIND_EXACT) {
  return find_text(table, reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), mode);
}

// Runs `body` with every movable buffer moved after every allocation.
template <class F>
void with_stress(F&& body) {
  uint32_t saved = memory::stress_interval;
  memory::stress_interval = 1;
  body();
  memory::stress_interval = saved;
}

}  // namespace

TEST(MurmurHash3, PublishedVectors) {
  // The verification value of the reference test suite: hashes of the keys
  // {}, {0}, {0, 1}, ... {0..254} with seeds 256 down to 1, hashed again.
  uint8_t key[256];
  uint32_t hashes[256];
  for (int i = 0; i < 256; i++) {
    key[i] = uint8_t(i);
    hashes[i] = murmur3_seeded(key, size_t(i), uint32_t(256 - i));
  }
  EXPECT_EQ(murmur3_seeded(hashes, sizeof hashes, 0), 0xB0F57EE3u);
  struct Case {
    const char* text;
    size_t length;
    uint32_t seed, hash;
  } cases[] = {
      {"", 0, 0, 0},
      {"", 0, 1, 0x514E28B7},
      {"", 0, 0xFFFFFFFF, 0x81F16F39},
      {"\0\0\0\0", 4, 0, 0x2362F9DE},
      {"Hello, world!", 13, 0x9747B28C, 0x24884CBA},
      {"The quick brown fox jumps over the lazy dog", 43, 0x9747B28C, 0x2FA826CD},
  };
  for (const Case& c : cases) EXPECT_EQ(murmur3_seeded(c.text, c.length, c.seed), c.hash) << c.text;
  EXPECT_EQ(mix(1), 0x514E28B7u);  // the finaliser alone: the empty key with seed 1
}

TEST_F(HashTable, LoweredHashMatchesHashOfLoweredBytes) {
  std::mt19937 rng(4);
  for (int length = 0; length < 70; length++) {
    std::string s;
    for (int i = 0; i < length; i++) s += char("AZaz@[`{09_-\xC3\x9F\xFF"[rng() % 16]);
    std::string lower = s;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
    EXPECT_EQ(murmur3_lower(reinterpret_cast<const uint8_t*>(s.data()), s.size()),
              murmur3(lower.data(), lower.size()))
        << s;
  }
}

TEST_F(HashTable, HashesValuesByType) {
  Cell i = make_integer(42);
  EXPECT_EQ(hash_value(&i, false), mix(42));
  Cell f = make_float(1.5);
  EXPECT_EQ(hash_value(&f, false), murmur3(&f.w2, 8));
  Cell b = make_series(TYPE_BLOCK, 77, 3);
  EXPECT_EQ(hash_value(&b, false), murmur3(&b.w1, 8));
  Cell u = make_unset(), n = make_none();
  EXPECT_EQ(hash_value(&u, false), uint32_t(-2));
  EXPECT_EQ(hash_value(&n, false), uint32_t(-1));
  Cell t{uint32_t(TYPE_TUPLE) | (3u << TUPLE_SIZE_SHIFT), 0x030201, 0, 0};
  EXPECT_EQ(hash_value(&t, false), murmur3(&t.w1, 3));
  // Money: only the type and the sign of the header count.
  Cell m1{uint32_t(TYPE_MONEY) | MONEY_SIGN | CELL_NEW_LINE, 1, 2, 3};
  Cell m2{uint32_t(TYPE_MONEY) | MONEY_SIGN, 1, 2, 3};
  EXPECT_EQ(hash_value(&m1, false), hash_value(&m2, false));

  // Strings hash by code point whatever the unit, folded unless asked not.
  Cell lower = make_string("stra\xC3\x9F" "e"), upper = make_string("STRASE");
  Cell wide = make_string("abc\xE2\x82\xAC"), wide_upper = make_string("ABC\xE2\x82\xAC");
  EXPECT_EQ(hash_value(&wide, false), hash_value(&wide_upper, false));
  EXPECT_NE(hash_value(&wide, true), hash_value(&wide_upper, true));
  EXPECT_EQ(hash_value(&lower, false), hash_value(&upper, false));
  Cell latin = make_string("abc"), widened = make_string("abc");
  unicode::latin1_to_ucs4(widened.w2);
  EXPECT_EQ(hash_value(&latin, true), hash_value(&widened, true));
  // A search key hashes only as many characters as its word 3 says.
  Cell key = make_string("abcdef");
  key.header = TYPE_SEARCH_KEY;
  key.w3 = 3;
  EXPECT_EQ(hash_value(&key, true), hash_value(&latin, true));

  // Symbols by their lowered name; words by their canonical symbol.
  int32_t foo = symbol::make("hashFoo"), variant = symbol::make("HASHFOO");
  EXPECT_EQ(hash_value(symbol::entry(foo), false), hash_value(symbol::entry(variant), false));
  Cell w1{TYPE_WORD, 0, uint32_t(foo), 0}, w2{TYPE_SET_WORD, 0, uint32_t(variant), 0};
  EXPECT_EQ(hash_value(&w1, false), mix(uint32_t(foo)));
  EXPECT_EQ(hash_value(&w2, false), mix(uint32_t(foo)));
}

TEST_F(HashTable, SizesAndGrowthPoints) {
  for (uint32_t size : {0u, 1u, 4u}) {
    node_t t = init(size, nullptr, KIND_RECORDS, 1);
    EXPECT_EQ(get_header(t)->buckets, 8u);
    EXPECT_EQ(get_header(t)->upper, 6u);
  }
  node_t big = init(100, nullptr, KIND_RECORDS, 1);
  EXPECT_EQ(get_header(big)->buckets, 256u);  // 100 / 0.77 = 129 -> 256
  EXPECT_EQ(get_header(big)->upper, 197u);

  // The symbol index made for 3,200 names: 8,192 buckets.
  EXPECT_EQ(get_header(symbol::text_index)->buckets, 8192u);
  EXPECT_EQ(get_header(symbol::text_index)->upper, 6307u);
  // A table of 4,000 or more is doubled first: 8,000, 16,384 buckets.
  node_t names = init(4000, nullptr, KIND_SYMBOLS, 0);
  for (int i = 0; i < 12615; i++) intern(names, "name" + std::to_string(i));
  EXPECT_EQ(get_header(names)->buckets, 16384u);
  EXPECT_EQ(get_header(names)->occupied, 12615u);
  intern(names, "one more");  // few deleted buckets: doubles
  EXPECT_EQ(get_header(names)->buckets, 32768u);
  for (int i = 0; i < 12615; i += 1000) EXPECT_EQ(intern(names, "name" + std::to_string(i)), i + 1);

  // A small text table: 7 names grow 8 buckets to 16.
  node_t small = init(4, nullptr, KIND_SYMBOLS, 0);
  for (int i = 0; i < 7; i++) intern(small, std::to_string(i));
  EXPECT_EQ(get_header(small)->buckets, 16u);
  // Room reserved for 100 more keys: one resize to 256 (upper 197), none
  // while they come; a deferred table is indexed for its words and those.
  reserve(small, 100);
  EXPECT_EQ(get_header(small)->buckets, 256u);
  for (int i = 7; i < 107; i++) intern(small, std::to_string(i));
  EXPECT_EQ(get_header(small)->buckets, 256u);
  node_t deferred = init_deferred(4);
  reserve(deferred, 20);
  EXPECT_EQ(get_header(deferred)->buckets, 32u);

  // A record table with mostly deleted buckets keeps its bucket count.
  node_t records = init(4, nullptr, KIND_RECORDS, 1);
  for (uint32_t k = 1; k <= 6; k++) put_key(records, k * 1000);
  for (uint32_t k = 1; k <= 5; k++) remove_key(records, k * 1000);
  put_key(records, 77);  // occupied 6 >= 6, buckets 8 > 2 x 1: cleaned in place
  EXPECT_EQ(get_header(records)->buckets, 8u);
  EXPECT_EQ(get_header(records)->occupied, 2u);
  EXPECT_NE(get_key(records, 6000), nullptr);
  EXPECT_NE(get_key(records, 77), nullptr);
}

TEST_F(HashTable, Records) {
  node_t t = init(8, nullptr, KIND_RECORDS, 2);
  EXPECT_EQ(get_header(t)->index, 48u);  // record size: 3 cells
  std::mt19937 rng(8);
  std::unordered_map<uint32_t, int32_t> model;
  for (int round = 0; round < 20000; round++) {
    uint32_t key = rng() % 700 + 1;
    switch (rng() % 3) {
      case 0: {
        Cell* v = put_key(t, key);
        EXPECT_EQ(TYPE_OF(v), TYPE_UNSET);
        EXPECT_EQ(TYPE_OF(v + 1), TYPE_UNSET);
        *v = make_integer(int32_t(round));
        model[key] = round;
        break;
      }
      case 1: {
        Cell* v = remove_key(t, key);
        EXPECT_EQ(v != nullptr, model.erase(key) == 1);
        break;
      }
      default: {
        Cell* v = get_key(t, key);
        auto at = model.find(key);
        ASSERT_EQ(v != nullptr, at != model.end()) << key;
        if (v) {
          EXPECT_EQ(get_integer(v), at->second);
        }
      }
    }
  }
  EXPECT_EQ(get_header(t)->size, model.size());
  // A removed key comes back into its deleted bucket and its old record.
  uint32_t key = model.begin()->first;
  uint32_t occupied = get_header(t)->occupied, records = memory::buffer(get_header(t)->block)->used();
  remove_key(t, key);
  EXPECT_EQ(get_key(t, key), nullptr);
  Cell* again = put_key(t, key);
  EXPECT_EQ(TYPE_OF(again), TYPE_UNSET);  // every cell unset, also when present
  EXPECT_EQ(get_header(t)->occupied, occupied);
  EXPECT_EQ(memory::buffer(get_header(t)->block)->used(), records);
}

TEST_F(HashTable, SymbolIndexAliasesAndModes) {
  node_t t = init(4, nullptr, KIND_SYMBOLS, 0);
  int32_t foo = intern(t, "foo");
  int32_t Foo = intern(t, "Foo");
  EXPECT_NE(foo, Foo);
  EXPECT_EQ(int32_t(cell_head(memory::buffer(get_header(t)->block))[Foo - 1].w1), foo);
  EXPECT_EQ(intern(t, "foo"), foo);
  EXPECT_EQ(intern(t, "FOO", FIND_ANY_CASE), foo);
  EXPECT_EQ(intern(t, "Foo", FIND_ANY_CASE), foo) << "any case answers the canonical symbol";
  EXPECT_EQ(lookup_text(t, reinterpret_cast<const uint8_t*>("fOO"), 3, FIND_EXACT), foo);
  EXPECT_EQ(lookup_text(t, reinterpret_cast<const uint8_t*>("bar"), 3, FIND_EXACT), 0);
  // The alias stays the first spelling after the table has grown many times.
  for (int i = 0; i < 3000; i++) intern(t, "x" + std::to_string(i));
  int32_t FOO = intern(t, "FOO");
  EXPECT_EQ(int32_t(cell_head(memory::buffer(get_header(t)->block))[FOO - 1].w1), foo);
  // Non-ASCII letters are not folded: names hash by lowering ASCII only.
  int32_t e = intern(t, "caf\xC3\xA9"), E = intern(t, "CAF\xC3\x89");
  EXPECT_EQ(int32_t(cell_head(memory::buffer(get_header(t)->block))[E - 1].w1), -1);
  EXPECT_NE(e, E);
}

TEST_F(HashTable, InterningNamesAtOnceAgreesWithOneByOne) {
  // The same names, some known already, some equal up to case to a known
  // one or to an earlier one of the batch, into two tables small enough to
  // grow while the batch is read (and with every buffer moving).
  std::vector<std::string> texts = {"foo", "Foo", "bar", "BAR", "baz", "FOO"};
  for (int i = 0; i < 300; i++) {
    std::string text = std::to_string(i / 2);
    text.insert(text.begin(), i % 2 ? 'N' : 'n');
    texts.push_back(text);
  }
  node_t one = init(4, nullptr, KIND_SYMBOLS, 0), all = init(4, nullptr, KIND_SYMBOLS, 0);
  for (node_t t : {one, all}) intern(t, "bar"), intern(t, "Baz");
  std::vector<stable_name> names;
  for (const std::string& text : texts) {
    auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    names.push_back({bytes, uint32_t(text.size()), murmur3_lower(bytes, text.size())});
  }
  std::vector<uint32_t> ids(names.size());
  with_stress([&] { intern_stable(all, names.data(), uint32_t(names.size()), ids.data()); });
  auto entry = [](node_t t, uint32_t id) { return cell_head(memory::buffer(get_header(t)->block))[id - 1]; };
  for (size_t i = 0; i < texts.size(); i++) {
    uint32_t id = uint32_t(intern(one, texts[i]));
    ASSERT_EQ(ids[i], id) << texts[i];
    EXPECT_EQ(entry(all, id).w1, entry(one, id).w1) << texts[i] << ": the same alias";
    EXPECT_EQ(intern(all, texts[i]), int32_t(id)) << texts[i] << ": found again by its text";
  }
}

TEST_F(HashTable, ContextWordTables) {
  // Word tables find words by symbol; with the resolve flag spellings that
  // differ only in case share a slot.
  node_t context = memory::alloc_cells(2);
  node_t t = init(4, nullptr, KIND_SYMBOLS, 0);
  int32_t a = symbol::make("ctxAlpha"), A = symbol::make("CTXALPHA"), b = symbol::make("ctxBeta");
  int32_t index = 99;
  EXPECT_EQ(find_symbol(t, a, true, context, &index), -1);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(find_symbol(t, b, true, context, &index), -1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(find_symbol(t, a, true, 0, nullptr), 0);
  EXPECT_EQ(find_symbol(t, A, true, 0, nullptr), 0);
  EXPECT_EQ(find_symbol(t, A, false, 0, nullptr), -1);
  EXPECT_EQ(find_symbol(t, A, false, context, &index), -1);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(find_symbol(t, A, false, 0, nullptr), 2);
  Cell* words = cell_head(memory::buffer(get_header(t)->block));
  EXPECT_EQ(TYPE_OF(&words[1]), TYPE_WORD);
  EXPECT_EQ(words[1].w1, context);
  EXPECT_EQ(int32_t(words[1].w2), b);
  EXPECT_EQ(words[1].w3, 1u);
  // Growth keeps every word reachable.
  std::vector<int32_t> ids;
  for (int i = 0; i < 500; i++) {
    ids.push_back(symbol::make(("ctxWord" + std::to_string(i)).c_str()));
    find_symbol(t, ids.back(), true, context, &index);
  }
  for (int i = 0; i < 500; i++) EXPECT_EQ(find_symbol(t, ids[size_t(i)], true, 0, nullptr), i + 3);
  // A clone is a table of its own.
  node_t copy = init_from(t);
  EXPECT_NE(get_header(copy)->block, get_header(t)->block);
  find_symbol(copy, symbol::make("onlyInCopy"), true, context, &index);
  EXPECT_EQ(find_symbol(t, symbol::make("onlyInCopy"), true, 0, nullptr), -1);
  EXPECT_EQ(find_symbol(copy, ids[7], true, 0, nullptr), 10);
  clear(copy);
  EXPECT_EQ(get_header(copy)->size, 0u);
  EXPECT_EQ(find_symbol(copy, ids[7], true, 0, nullptr), -1);
  // A table made over an existing block indexes it from the head.
  Cell block = make_series(TYPE_BLOCK, get_header(t)->block, 1);
  node_t over = init(10, &block, KIND_SYMBOLS, 0);
  EXPECT_EQ(find_symbol(over, b, true, 0, nullptr), 1);
  EXPECT_EQ(find_symbol(over, a, false, 0, nullptr), -1);  // before the head
  EXPECT_EQ(find_symbol(over, a, true, 0, nullptr), 2);   // its other spelling
}

TEST_F(HashTable, SurvivesMovingBuffers) {
  node_t words = init(4, nullptr, KIND_SYMBOLS, 0);
  node_t records = init(4, nullptr, KIND_RECORDS, 1);
  node_t context = memory::alloc_cells(2);
  with_stress([&] {
    for (int i = 0; i < 300; i++) {
      std::string name = "moving" + std::to_string(i);
      int32_t id = symbol::make(name.c_str());
      int32_t index;
      find_symbol(words, id, true, context, &index);
      *put_key(records, uint32_t(i + 1)) = make_integer(i);
    }
  });
  for (int i = 0; i < 300; i++) {
    std::string name = "moving" + std::to_string(i);
    EXPECT_EQ(find_symbol(words, symbol::make(name.c_str()), true, 0, nullptr), i);
    EXPECT_EQ(get_integer(get_key(records, uint32_t(i + 1))), i);
  }
  // A new name read from a series that its interning moves.
  node_t names = init(4, nullptr, KIND_SYMBOLS, 0);
  node_t source = memory::alloc_bytes(32);
  std::memcpy(memory::buffer(source)->data(), "from-a-series", 13);
  int32_t id = 0;
  with_stress([&] { id = find_text(names, memory::buffer(source)->data(), 13, FIND_EXACT); });
  EXPECT_EQ(intern(names, "from-a-series"), id);
}

namespace {
std::set<node_t> marked;
bool mark_series(node_t n) { return marked.insert(n).second; }
void mark_block(node_t n) { marked.insert(n); }
bool is_marked(node_t n) { return marked.count(n) != 0; }
}  // namespace

TEST_F(HashTable, MarkAndSweep) {
  node_t owners = init(4, nullptr, KIND_OWNER, 3);
  node_t kept = memory::alloc_bytes(8), dropped = memory::alloc_bytes(8);
  node_t live_owner = memory::alloc_cells(2), dead_owner = memory::alloc_cells(2);
  Cell* r = put_key(owners, kept);
  r[1] = Cell{TYPE_OBJECT, live_owner, 0, 0};
  r = put_key(owners, dropped);
  r[1] = Cell{TYPE_OBJECT, dead_owner, 0, 0};
  marked.clear();
  mark(owners, {mark_series, mark_block});
  for (node_t n : {owners, get_header(owners)->flags, get_header(owners)->keys, get_header(owners)->block,
                   kept, dropped})
    EXPECT_TRUE(marked.count(n)) << n;
  // The collector finds the dropped record's owner dead: the record goes.
  marked.erase(dead_owner);
  marked.insert(live_owner);
  sweep(owners, is_marked);
  EXPECT_NE(get_key(owners, kept), nullptr);
  EXPECT_EQ(get_key(owners, dropped), nullptr);
  EXPECT_EQ(get_header(owners)->size, 1u);
  // Marking twice does nothing more.
  marked.clear();
  marked.insert(owners);
  mark(owners, {mark_series, mark_block});
  EXPECT_EQ(marked.size(), 1u);
}

TEST(IntHash, AgreesWithAMap) {
  inthash::table* t = inthash::init(0);
  EXPECT_EQ(t->buckets, 8u);
  EXPECT_EQ(t->upper, 6u);
  std::mt19937 rng(6);
  std::unordered_map<uint32_t, uint32_t> model;
  for (int round = 0; round < 200000; round++) {
    uint32_t key = rng() % 5000;
    int op = int(rng() % 4);
    if (op < 2) {
      inthash::put(t, key, uint32_t(round));
      model[key] = uint32_t(round);
    } else if (op == 2) {
      inthash::remove(t, key);
      model.erase(key);
    } else {
      uint32_t* v = inthash::get(t, key);
      auto at = model.find(key);
      ASSERT_EQ(v != nullptr, at != model.end());
      if (v) {
        ASSERT_EQ(*v, at->second);
      }
    }
    if (round == 100000) inthash::resize(t, 3);  // refused: too many live keys
  }
  EXPECT_EQ(inthash::size(t), model.size());
  size_t walked = 0;
  for (int32_t b = inthash::next(t, -1); b >= 0; b = inthash::next(t, b)) {
    EXPECT_EQ(model.at(inthash::key_at(t, b)), inthash::value_at(t, b));
    walked++;
  }
  EXPECT_EQ(walked, model.size());
  // Shrinking in place once most keys are gone keeps the rest.
  for (uint32_t k = 0; k < 5000; k++)
    if (k % 50) {
      inthash::remove(t, k);
      model.erase(k);
    }
  uint32_t before = t->buckets;
  inthash::resize(t, model.size() * 2);
  EXPECT_LT(t->buckets, before);
  for (auto& [k, v] : model) ASSERT_EQ(*inthash::get(t, k), v);
  EXPECT_EQ(inthash::find(t, 1), -1);
  inthash::clear(t);
  EXPECT_EQ(inthash::size(t), 0u);
  EXPECT_EQ(inthash::get(t, 0), nullptr);
  inthash::destroy(t);
}
