// Whole-file writes: the new content replaces the target only once it is on
// the disk, so a write that fails part-way (here: past a file-size limit)
// leaves the old content, raises a write error and leaves no stray file;
// appending writes in place. Replacing keeps the target's mode and a
// symbolic link. A folder lists names that are not UTF-8. A failed
// standard-library allocation in an action or a routine is raised as
// no-memory instead of ending the process.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "evaluator/natives.h"
#include "services/files.h"
#include "values/value_test_support.h"
#include "values/error_ids.h"

using namespace kez;
using kez::test::raised;
using kez::test::raises;

namespace {

namespace fs = std::filesystem;

struct Files : testing::Test {
  Cell* saved = nullptr;
  fs::path dir;
  void SetUp() override {
    test::ensure_runtime();
    saved = stack::top;
    char tmpl[] = "/tmp/kez-files-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override {
    stack::top = saved;
    fs::remove_all(dir);
  }
  // A file! value for a path in the test's folder.
  Cell file(const std::string& name) {
    Cell f = *test::push_string((dir / name).string());
    f.header = (f.header & ~0xFFu) | TYPE_FILE;
    return f;
  }
  std::string content(const std::string& name) {
    std::ifstream in(dir / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void put(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  }
  size_t entries() { return size_t(std::distance(fs::directory_iterator(dir), {})); }
  mode_t mode(const std::string& name) {
    struct stat st;
    EXPECT_EQ(stat((dir / name).c_str(), &st), 0);
    return st.st_mode & 07777;
  }
};

// Writes beyond `bytes` in any file fail (EFBIG) while it lives.
struct file_size_limit {
  rlimit saved{};
  void (*handler)(int);
  explicit file_size_limit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit l = saved;
    l.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &l);
    handler = signal(SIGXFSZ, SIG_IGN);
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
  }
};

TEST_F(Files, AWriteFailingPartWayKeepsTheOldContent) {
  put("f.txt", "old content");
  chmod((dir / "f.txt").c_str(), 0640);
  Cell f = file("f.txt");
  Cell* data = test::push_string(std::string(100000, 'x'));
  fired e;
  {
    file_size_limit limit(4096);
    e = raised([&] { simple_io::write(&f, data, nullptr, nullptr, false, false); });
  }
  EXPECT_TRUE(raises(e, err::ACCESS, err::access::NO_CREATE));
  EXPECT_EQ(content("f.txt"), "old content");
  EXPECT_EQ(mode("f.txt"), 0640u);
  EXPECT_EQ(entries(), 1u);  // no partial file left beside it
}

TEST_F(Files, AppendingWritesInPlace) {
  put("f.txt", "old");
  Cell f = file("f.txt");
  Cell* more = test::push_string("+new");
  simple_io::write(&f, more, nullptr, nullptr, true, false);
  EXPECT_EQ(content("f.txt"), "old+new");
  Cell* big = test::push_string(std::string(100000, 'x'));
  fired e;
  {
    file_size_limit limit(4096);
    e = raised([&] { simple_io::write(&f, big, nullptr, nullptr, true, false); });
  }
  EXPECT_TRUE(raises(e, err::ACCESS, err::access::NO_CREATE));
  EXPECT_EQ(content("f.txt").substr(0, 7), "old+new");
}

TEST_F(Files, ReplacingKeepsTheModeAndTheLink) {
  put("f.txt", "old");
  chmod((dir / "f.txt").c_str(), 0604);
  fs::create_symlink("f.txt", dir / "link.txt");
  Cell link = file("link.txt");
  Cell* data = test::push_string("new");
  simple_io::write(&link, data, nullptr, nullptr, false, false);
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(content("f.txt"), "new");
  EXPECT_EQ(mode("f.txt"), 0604u);
  Cell fresh = file("fresh.txt");
  simple_io::write(&fresh, data, nullptr, nullptr, false, false);
  EXPECT_EQ(content("fresh.txt"), "new");
  EXPECT_EQ(entries(), 3u);
}

TEST_F(Files, ANameThatIsNotUtf8IsListedWithReplacementCharacters) {
  put("ok.txt", "");
  put("a\xFF\xFE" "b", "");
  Cell d = file("");
  Cell* out = stack::push_unset();
  simple_io::read_dir(out, &d);
  ASSERT_EQ(block::rs_length(out), 2);
  EXPECT_EQ(string::to_utf8(block::rs_head(out)), "a\uFFFD\uFFFD" "b");
  EXPECT_EQ(string::to_utf8(block::rs_head(out) + 1), "ok.txt");
}

// --- No-memory at the call boundary ---------------------------------------------

void throwing_native(bool, const int32_t*) { throw std::bad_alloc(); }
void throwing_routine() { throw std::bad_alloc(); }
Cell* throwing_read(Cell*, const read_options&) { throw std::bad_alloc(); }

TEST(NoMemory, ABadAllocInANativeOrRoutineRaisesNoMemory) {
  test::ensure_runtime();
  int32_t refs[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  auto guarded = natives::memory_guarded<throwing_native, bool, const int32_t*>;
  EXPECT_TRUE(raises(raised([&] { guarded(false, refs); }), err::INTERNAL,
                     err::internal::NO_MEMORY));
  uint32_t code = routines::add(throwing_routine);
  EXPECT_TRUE(raises(raised([&] { routines::table[code - 1](); }), err::INTERNAL,
                     err::internal::NO_MEMORY));
}

TEST(NoMemory, ABadAllocInAnActionRaisesNoMemory) {
  test::ensure_runtime();
  Cell* saved = stack::top;
  actions::generic_fn old = actions::table[TYPE_TRIPLE][ACT_read];
  actions::table[TYPE_TRIPLE][ACT_read] = reinterpret_cast<actions::generic_fn>(throwing_read);
  int32_t refs[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  fired e = raised([&] {
    stack::arguments = stack::push(Cell{TYPE_TRIPLE, 1, 2, 3});
    actions::entries[ACT_read - 1](refs);
  });
  actions::table[TYPE_TRIPLE][ACT_read] = old;
  stack::top = saved;
  EXPECT_TRUE(raises(e, err::INTERNAL, err::internal::NO_MEMORY));
}

}  // namespace
