// Sorting: both sorts against the standard library on inputs of every shape
// and element size, stability, the linear cost of ordered input, inconsistent
// comparators, comparators that move the array or raise, and the work buffer
// the collector sees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/memory.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "foundation/sort.h"
#include "test_support.h"
#include "values/error_ids.h"

using namespace kez;

namespace {

// Elements are `size` bytes; the key is in the first min(size, 4) bytes
// (little-endian) and bytes from 4 on carry a unique tag, so that stability
// shows in the output.
uint32_t key_of(const uint8_t* e, uint32_t size) {
  uint32_t k = 0;
  std::memcpy(&k, e, std::min(size, 4u));
  return k;
}

uint64_t comparisons = 0;

int32_t by_key(const void* a, const void* b, uintptr_t size, uintptr_t) {
  comparisons++;
  uint32_t x = key_of(static_cast<const uint8_t*>(a), uint32_t(size));
  uint32_t y = key_of(static_cast<const uint8_t*>(b), uint32_t(size));
  return x < y ? -1 : x > y ? 1 : 0;
}

enum shape { RANDOM, SORTED, REVERSED, FEW_KEYS, EQUAL, SAWTOOTH, NEARLY_SORTED, ORGAN_PIPE };

std::vector<uint8_t> make_input(shape s, uint32_t n, uint32_t size, std::mt19937& rng) {
  std::vector<uint8_t> data(size_t(n) * size);
  uint32_t key_mask = size == 1 ? 0xFF : size == 2 ? 0xFFFF : size == 3 ? 0xFFFFFF : 0xFFFFFFFF;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t key = 0;
    switch (s) {
      case RANDOM: key = rng(); break;
      case SORTED: key = i; break;
      case REVERSED: key = n - i; break;
      case FEW_KEYS: key = rng() % 4; break;
      case EQUAL: key = 7; break;
      case SAWTOOTH: key = i % 37; break;
      case NEARLY_SORTED: key = i + (rng() % 100 == 0 ? rng() % 1000 : 0); break;
      case ORGAN_PIPE: key = i < n / 2 ? i : n - i; break;
    }
    key &= key_mask;
    uint8_t* e = data.data() + size_t(i) * size;
    std::memcpy(e, &key, std::min(size, 4u));
    for (uint32_t b = 4; b < size; b++) e[b] = uint8_t(i >> (8 * ((b - 4) % 4)));
  }
  return data;
}

// The reference: std::stable_sort over element indexes.
std::vector<uint8_t> stable_reference(const std::vector<uint8_t>& in, uint32_t size) {
  uint32_t n = uint32_t(in.size() / size);
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; i++) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return key_of(&in[size_t(a) * size], size) < key_of(&in[size_t(b) * size], size);
  });
  std::vector<uint8_t> out(in.size());
  for (uint32_t i = 0; i < n; i++)
    std::memcpy(&out[size_t(i) * size], &in[size_t(order[i]) * size], size);
  return out;
}

// The elements in byte order, to compare two arrays as multisets.
std::vector<uint8_t> elements(const std::vector<uint8_t>& data, uint32_t size) {
  uint32_t n = uint32_t(data.size() / size);
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; i++) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return std::memcmp(&data[size_t(a) * size], &data[size_t(b) * size], size) < 0;
  });
  std::vector<uint8_t> out(data.size());
  for (uint32_t i = 0; i < n; i++)
    std::memcpy(&out[size_t(i) * size], &data[size_t(order[i]) * size], size);
  return out;
}

bool keys_sorted(const std::vector<uint8_t>& data, uint32_t size) {
  for (size_t i = size; i < data.size(); i += size)
    if (key_of(&data[i - size], size) > key_of(&data[i], size)) return false;
  return true;
}

template <class F>
uint32_t raised_by(F&& body) {
  uint32_t code = runtime::catch_region(RAISE_ERROR, body);
  runtime::rt.thrown = 0;
  return code;
}

}  // namespace

TEST(Sorting, BothSortsAgreeWithTheStandardLibrary) {
  std::mt19937 rng(42);
  const uint32_t sizes[] = {1, 2, 3, 4, 8, 16, 20};
  const uint32_t counts[] = {0, 1, 2, 7, 8, 23, 24, 25, 100, 1000, 20011};
  const shape shapes[] = {RANDOM, SORTED, REVERSED, FEW_KEYS, EQUAL, SAWTOOTH, NEARLY_SORTED, ORGAN_PIPE};
  for (uint32_t size : sizes)
    for (uint32_t n : counts)
      for (shape s : shapes) {
        std::vector<uint8_t> in = make_input(s, n, size, rng);
        std::vector<uint8_t> expected = stable_reference(in, size);
        std::vector<uint8_t> merged = in;
        sorting::merge_sort(merged.data(), n, size, size, 0, by_key);
        ASSERT_EQ(merged, expected) << "merge sort, size " << size << " n " << n << " shape " << s;
        std::vector<uint8_t> quick = in;
        sorting::quick_sort(quick.data(), n, size, size, 0, by_key);
        ASSERT_TRUE(keys_sorted(quick, size)) << "quicksort, size " << size << " n " << n << " shape " << s;
        ASSERT_EQ(elements(quick, size), elements(in, size)) << "quicksort lost elements";
      }
}

TEST(Sorting, LargeInputsAndSampledPasses) {
  // Large enough for the quicksort's growing sample to take several passes.
  std::mt19937 rng(7);
  for (shape s : {RANDOM, FEW_KEYS}) {
    std::vector<uint8_t> in = make_input(s, 300000, 8, rng);
    std::vector<uint8_t> quick = in;
    sorting::quick_sort(quick.data(), 300000, 8, 8, 0, by_key);
    EXPECT_TRUE(keys_sorted(quick, 8));
    EXPECT_EQ(elements(quick, 8), elements(in, 8));
    std::vector<uint8_t> merged = in;
    sorting::merge_sort(merged.data(), 300000, 8, 8, 0, by_key);
    EXPECT_EQ(merged, stable_reference(in, 8));
  }
}

TEST(Sorting, OrderedInputCostsLinearTime) {
  std::mt19937 rng(1);
  for (shape s : {SORTED, REVERSED}) {
    std::vector<uint8_t> in = make_input(s, 10000, 4, rng);
    comparisons = 0;
    sorting::merge_sort(in.data(), 10000, 4, 4, 0, by_key);
    EXPECT_EQ(comparisons, 9999u) << "one run, found (and reversed) in one pass";
    in = make_input(s, 10000, 4, rng);
    comparisons = 0;
    sorting::quick_sort(in.data(), 10000, 4, 4, 0, by_key);
    EXPECT_EQ(comparisons, 9999u) << "the presorted prefix covers everything";
    EXPECT_TRUE(keys_sorted(in, 4));
  }
  uint32_t one = 5;
  comparisons = 0;
  sorting::merge_sort(&one, 1, 4, 4, 0, by_key);
  sorting::quick_sort(&one, 1, 4, 4, 0, by_key);
  sorting::merge_sort(nullptr, 0, 4, 4, 0, by_key);
  sorting::quick_sort(nullptr, 0, 4, 4, 0, by_key);
  EXPECT_EQ(comparisons, 0u);
}

TEST(Sorting, InconsistentComparatorStaysInsideTheArray) {
  // Answers at random: any permutation may come out, but every access must
  // stay in the array (the sanitizers check) and no element may be lost.
  static std::mt19937 chaos(99);
  auto random_answer = +[](const void*, const void*, uintptr_t, uintptr_t) -> int32_t {
    return int32_t(chaos() % 3) - 1;
  };
  std::mt19937 rng(3);
  for (uint32_t n : {2u, 7u, 8u, 30u, 600u, 5000u, 70000u})
    for (uint32_t size : {1u, 4u, 16u}) {
      std::vector<uint8_t> in = make_input(RANDOM, n, size, rng);
      std::vector<uint8_t> a = in, b = in;
      sorting::merge_sort(a.data(), n, size, 0, 0, random_answer);
      sorting::quick_sort(b.data(), n, size, 0, 0, random_answer);
      EXPECT_EQ(elements(a, size), elements(in, size));
      EXPECT_EQ(elements(b, size), elements(in, size));
    }
  // A comparator that always says "after" (and one that always says
  // "before") on sorted input, both of which defeat the usual sentinels.
  for (int32_t answer : {1, -1}) {
    std::vector<uint8_t> in = make_input(SORTED, 20000, 4, rng);
    std::vector<uint8_t> a = in, b = in;
    auto fixed = answer > 0 ? +[](const void*, const void*, uintptr_t, uintptr_t) -> int32_t { return 1; }
                            : +[](const void*, const void*, uintptr_t, uintptr_t) -> int32_t { return -1; };
    sorting::merge_sort(a.data(), 20000, 4, 0, 0, fixed);
    sorting::quick_sort(b.data(), 20000, 4, 0, 0, fixed);
    EXPECT_EQ(elements(a, 4), elements(in, 4));
    EXPECT_EQ(elements(b, 4), elements(in, 4));
  }
}

namespace {

// Cells of a series, keyed by their first word and tagged by their second.
struct series_fixture {
  node_t node;
  uint32_t n;
};
series_fixture* current = nullptr;
uint32_t calls = 0;
bool lost_element = false;

int32_t moving_compare(const void* a, const void* b, uintptr_t, uintptr_t) {
  uint32_t x = key_of(static_cast<const uint8_t*>(a), 16), y = key_of(static_cast<const uint8_t*>(b), 16);
  // Move every buffer now and then, as an evaluating comparator would.
  if (++calls % 1009 == 0) memory::relocate_all();
  return x < y ? -1 : x > y ? 1 : 0;
}

// Checks that every tag is in the array or in a work buffer at this moment.
int32_t watching_compare(const void* a, const void* b, uintptr_t, uintptr_t) {
  std::vector<bool> seen(current->n);
  auto* cells = memory::buffer(current->node)->data();
  for (uint32_t i = 0; i < current->n; i++) {
    uint32_t tag;
    std::memcpy(&tag, cells + 16 * i + 4, 4);
    seen[tag] = true;
  }
  sorting::visit_work_buffers(
      [](const void* first, uint32_t count, uint32_t size, void* context) {
        auto& s = *static_cast<std::vector<bool>*>(context);
        for (uint32_t i = 0; i < count; i++) {
          uint32_t tag;
          std::memcpy(&tag, static_cast<const uint8_t*>(first) + size * i + 4, 4);
          s[tag] = true;
        }
      },
      &seen);
  if (std::find(seen.begin(), seen.end(), false) != seen.end()) lost_element = true;
  uint32_t x = key_of(static_cast<const uint8_t*>(a), 16), y = key_of(static_cast<const uint8_t*>(b), 16);
  return x < y ? -1 : x > y ? 1 : 0;
}

series_fixture make_series_input(uint32_t n, std::mt19937& rng) {
  node_t node = memory::alloc_cells(n);
  series_buffer* b = memory::buffer(node);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t words[4] = {uint32_t(rng() % 50), i, 0, 0};
    std::memcpy(b->data() + 16 * i, words, 16);
  }
  b->tail = 16 * n;
  return {node, n};
}

}  // namespace

TEST(Sorting, SeriesSortsSurviveAMovingArray) {
  test::ensure_runtime();
  std::mt19937 rng(5);
  for (bool stable : {true, false}) {
    series_fixture f = make_series_input(2000, rng);
    std::vector<uint8_t> in(memory::buffer(f.node)->data(), memory::buffer(f.node)->data() + 16 * 2000);
    calls = 0;
    if (stable) {
      sorting::merge_sort_series(f.node, 0, f.n, 16, 0, 0, moving_compare);
    } else {
      sorting::quick_sort_series(f.node, 0, f.n, 16, 0, 0, moving_compare);
    }
    std::vector<uint8_t> out(memory::buffer(f.node)->data(), memory::buffer(f.node)->data() + 16 * 2000);
    if (stable) {
      EXPECT_EQ(out, stable_reference(in, 16));
    } else {
      EXPECT_TRUE(keys_sorted(out, 16));
      EXPECT_EQ(elements(out, 16), elements(in, 16));
    }
  }
}

TEST(Sorting, WorkBufferShowsTheElementsOnlyItHolds) {
  test::ensure_runtime();
  std::mt19937 rng(11);
  series_fixture f = make_series_input(500, rng);
  current = &f;
  lost_element = false;
  sorting::merge_sort_series(f.node, 0, f.n, 16, 0, 0, watching_compare);
  current = nullptr;
  EXPECT_FALSE(lost_element);
  int visits = 0;
  sorting::visit_work_buffers([](const void*, uint32_t, uint32_t, void* c) { ++*static_cast<int*>(c); },
                              &visits);
  EXPECT_EQ(visits, 0);
}

TEST(Sorting, ErrorsLeaveNoWorkBufferBehind) {
  static int countdown;
  countdown = 500;
  auto raising = +[](const void* a, const void* b, uintptr_t, uintptr_t) -> int32_t {
    if (--countdown == 0) fire(err::USER, err::user::MESSAGE);
    return by_key(a, b, 4, 0);
  };
  std::mt19937 rng(2);
  std::vector<uint8_t> in = make_input(RANDOM, 2000, 4, rng);
  EXPECT_EQ(raised_by([&] { sorting::merge_sort(in.data(), 2000, 4, 0, 0, raising); }), RAISE_ERROR);
  int visits = 0;
  sorting::visit_work_buffers([](const void*, uint32_t, uint32_t, void* c) { ++*static_cast<int*>(c); },
                              &visits);
  EXPECT_EQ(visits, 0);
  // The work buffer's size must fit 32 bits: refused before any access.
  last_fire = {};
  EXPECT_EQ(raised_by([] { sorting::merge_sort(nullptr, 0x80000000u, 16, 0, 0, by_key); }), RAISE_ERROR);
  EXPECT_EQ(last_fire.id, err::script::TOO_LONG);
}

TEST(Sorting, SwapAndUnsignedComparator) {
  uint8_t a[6] = {1, 2, 3, 4, 5, 6}, b[6] = {9, 8, 7, 6, 5, 4};
  sorting::swap(a, b, 6, true);
  EXPECT_EQ(a[0], 9);
  EXPECT_EQ(b[5], 6);
  uint32_t x[2] = {1, 2}, y[2] = {3, 4};
  sorting::swap(x, y, 8, false);
  EXPECT_EQ(x[1], 4u);
  uint32_t words[] = {0x80000000u, 5, 0xFFFFFFFFu, 0};
  std::qsort(words, 4, 4, sorting::compare_unsigned);
  EXPECT_EQ(words[0], 0u);
  EXPECT_EQ(words[3], 0xFFFFFFFFu);
  EXPECT_EQ(words[2], 0x80000000u);
}
