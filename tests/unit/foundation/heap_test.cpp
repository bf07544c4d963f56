// The tracked heap and platform services.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/heap.h"
#include "foundation/platform.h"

using namespace kez;

TEST(TrackedHeap, ListStaysConsistent) {
  size_t before = heap::block_count();
  auto* a = static_cast<char*>(heap::allocate(10));
  auto* b = static_cast<char*>(heap::allocate_zeroed(20));
  auto* c = static_cast<char*>(heap::allocate(30));
  EXPECT_EQ(heap::block_count(), before + 3);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  for (int i = 0; i < 20; i++) EXPECT_EQ(b[i], 0);
  std::memcpy(b, "abcdefghij", 10);
  b = static_cast<char*>(heap::resize(b, 4000));  // keeps contents and list place
  EXPECT_EQ(std::memcmp(b, "abcdefghij", 10), 0);
  heap::free(c);  // the last block
  heap::free(a);
  heap::free(a);  // twice: harmless
  heap::free(b);
  EXPECT_EQ(heap::block_count(), before);
  EXPECT_EQ(heap::resize(nullptr, 0) == nullptr, false);
}

TEST(TrackedHeap, FreeFindsEachBlockAmongMany) {
  // Enough blocks for the address table to grow several times; freed in an
  // order unlike the allocation's, some moved by a resize first, so that
  // entries are shifted back into freed slots. A lost entry would leave a
  // block that free() ignores, and the count would not come back.
  size_t before = heap::block_count();
  constexpr int N = 5000;
  std::vector<void*> blocks;
  for (int i = 0; i < N; i++) blocks.push_back(heap::allocate(size_t(16 + i % 100)));
  EXPECT_EQ(heap::block_count(), before + N);
  for (int i = 0; i < N; i += 7) blocks[size_t(i)] = heap::resize(blocks[size_t(i)], 5000);
  for (int step : {3, 2, 1})
    for (int i = N - 1; i >= 0; i--) {
      if (i % step || !blocks[size_t(i)]) continue;
      heap::free(blocks[size_t(i)]);
      heap::free(blocks[size_t(i)]);  // twice: ignored, and nothing else is lost
      blocks[size_t(i)] = nullptr;
    }
  alignas(16) static char foreign[64];
  heap::free(foreign + 32);  // not a block of this heap: ignored
  EXPECT_EQ(heap::block_count(), before);
}

TEST(Platform, ZoneKeepsItsSignApart) {
  struct { int offset; uint32_t packed; } cases[] = {
      {0, 0},
      {60, 1 << 2},
      {-210, 0x40 | (3 << 2) | 2},  // UTC-3:30
      {-30, 0x40 | 2},              // sign kept for less than an hour west
      {345, (5 << 2) | 3},          // UTC+5:45
  };
  for (auto& c : cases) EXPECT_EQ(platform::pack_zone(c.offset), c.packed) << c.offset;
}

TEST(Platform, TimeDateEnvironmentDirectory) {
  double t = platform::get_time(false);
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 86400.0);
  EXPECT_EQ(t, double(int64_t(t)));
  uint32_t d = platform::get_date(true);
  EXPECT_GE(d >> 17, 2024u);
  EXPECT_GE((d >> 12) & 31, 1u);
  EXPECT_LE((d >> 12) & 31, 12u);
  EXPECT_EQ(d & 0x7F, 0u);

  EXPECT_TRUE(platform::set_env("KEZ_TEST_VAR", std::string("v\xC3\xA9")));
  EXPECT_EQ(platform::get_env("KEZ_TEST_VAR").value_or(""), "v\xC3\xA9");
  EXPECT_TRUE(platform::set_env("KEZ_TEST_VAR", std::nullopt));
  EXPECT_FALSE(platform::get_env("KEZ_TEST_VAR").has_value());
  EXPECT_FALSE(platform::set_env(std::string("A\0B", 3), std::string("x")));

  std::string cwd = platform::get_current_dir();
  EXPECT_FALSE(cwd.empty());
  EXPECT_TRUE(platform::set_current_dir("/"));
  EXPECT_EQ(platform::get_current_dir(), "/");
  EXPECT_FALSE(platform::set_current_dir(std::string("/tm\0p", 5)));
  EXPECT_TRUE(platform::set_current_dir(cwd));
}

// The VmFlags line of the mapping that holds `address`, from /proc/self/smaps.
static std::string vm_flags_at(const void* address) {
  std::ifstream smaps("/proc/self/smaps");
  auto a = reinterpret_cast<uintptr_t>(address);
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long low = 0, high = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &low, &high) == 2) inside = a >= low && a < high;
    else if (inside && line.rfind("VmFlags:", 0) == 0) return line;
  }
  return "";
}

TEST(Platform, HugePagesCoverWholeHugePagesOnly) {
  // A span of one huge page and a half: aligned, the huge page advised for
  // huge pages, the rest left to small ones (the first series frame's tail).
  size_t size = platform::HUGE_PAGE + platform::HUGE_PAGE / 4;
  auto* p = static_cast<uint8_t*>(platform::allocate_huge_pages(size));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % platform::HUGE_PAGE, 0u);
  std::memset(p, 1, size);
  if (std::ifstream("/proc/self/smaps")) {
    // Without huge pages in the kernel the advice is refused, and ignored.
    if (std::ifstream("/sys/kernel/mm/transparent_hugepage/enabled")) {
      EXPECT_NE(vm_flags_at(p).find(" hg"), std::string::npos) << vm_flags_at(p);
    }
    std::string tail = vm_flags_at(p + platform::HUGE_PAGE);
    EXPECT_EQ(tail.find(" hg"), std::string::npos) << tail;
  }
  platform::free_virtual(p, size);
}
