// Redirected line input: UTF-8 lines read from standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/terminal.h"

namespace kez::terminal {
namespace {

// Runs `body` with `bytes` as standard input.
template <class F>
void with_stdin(const std::string& bytes, F&& body) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
  close(fds[1]);
  int saved = dup(STDIN_FILENO);
  dup2(fds[0], STDIN_FILENO);
  close(fds[0]);
  body();
  dup2(saved, STDIN_FILENO);
  close(saved);
}

// Reads every line of `bytes` as standard input gives them.
std::vector<std::u32string> lines_of(const std::string& bytes) {
  std::vector<std::u32string> lines;
  with_stdin(bytes, [&] {
    std::u32string line;
    while (stdin_readline(line)) lines.push_back(line);
    EXPECT_FALSE(stdin_readline(line));  // the end stays the end
  });
  return lines;
}

TEST(StdinReadline, LinesKeepTheirCarriageReturn) {
  EXPECT_EQ(lines_of("a\r\n\nb"), (std::vector<std::u32string>{U"a\r", U"", U"b"}));
  EXPECT_EQ(lines_of(""), std::vector<std::u32string>{});
  EXPECT_EQ(lines_of("\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80\n"),
            (std::vector<std::u32string>{U"\u00e9t\u00e9 \U0001F600"}));
}

TEST(StdinReadline, BadBytesReadAsReplacement) {
  // A stray continuation byte, a cut sequence before an ASCII byte and a
  // line end, a surrogate, and a sequence cut by the end of input.
  EXPECT_EQ(lines_of("a\x80" "b\xe4\xbd" "c\xc3\n\xed\xa0\x80\n\xe4"),
            (std::vector<std::u32string>{U"a\uFFFDb\uFFFDc\uFFFD", U"\uFFFD", U"\uFFFD"}));
}

TEST(StdinReadline, BinaryReadsGetWhatTheLineReaderReadAhead) {
  // The line reader reads standard input in blocks; read_stdin must start
  // where the line ended, not where the block did.
  std::string rest(50000, 'r');  // within one pipe buffer
  with_stdin("first\n" + rest, [&] {
    std::u32string line;
    EXPECT_TRUE(stdin_readline(line));
    EXPECT_EQ(line, U"first");
    std::string got;
    uint8_t buffer[4096];
    while (size_t n = read_stdin(buffer, sizeof buffer))
      got.append(reinterpret_cast<char*>(buffer), n);
    EXPECT_EQ(got, rest);
  });
}

}  // namespace
}  // namespace kez::terminal
