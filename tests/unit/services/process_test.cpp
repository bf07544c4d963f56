// What a child inherits from us, and what feeding it costs us, whatever
// state the parent's signals are in: things the language cannot set up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "services/process.h"

using namespace kez;

namespace {

// Runs a shell command with its output captured.
int32_t run(const std::string& command, std::string* out, std::string_view input = {}) {
  process::request r;
  r.shell = true;
  r.argv = {command};
  r.in.how = input.empty() ? process::stream::DEV_NULL : process::stream::PIPE;
  r.in.data = input;
  r.out.how = process::stream::PIPE;
  process::received captured;
  r.out.captured = &captured;
  r.err.how = process::stream::DEV_NULL;
  int32_t status = process::launch(r);
  out->assign(captured.view());
  return status;
}

bool sigpipe_pending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

TEST(Process, SplitsCommandsAtBlanksOutsideQuotes) {
  struct {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"ls -l", {"ls", "-l"}},
      {"  a\t\tb  ", {"a", "b"}},
      {R"(printf "%s|" "a b" c)", {"printf", "%s|", "a b", "c"}},
      {R"(x"y z"w "")", {"xy zw", ""}},
      {R"(open "unterminated  text)", {"open", "unterminated  text"}},
  };
  for (const auto& c : cases) EXPECT_EQ(process::split_command(c.text), c.words) << c.text;
}

// With SIGPIPE at its default action, a child that never reads its input
// must not end us: the writes see EPIPE, and no signal is left pending.
TEST(Process, FeedingAChildThatStopsReadingRaisesNoSignal) {
  struct sigaction old{};
  struct sigaction dfl{};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, &old);
  sigset_t before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);

  std::string input(10 << 20, 'x'), out;
  EXPECT_EQ(run("exit 0", &out, input), 0);
  EXPECT_EQ(run("head -c 5", &out, input), 0);
  EXPECT_EQ(out, "xxxxx");
  EXPECT_FALSE(sigpipe_pending());
  sigset_t after;
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  EXPECT_EQ(sigismember(&after, SIGPIPE), sigismember(&before, SIGPIPE));
  sigaction(SIGPIPE, &old, nullptr);
}

// A child starts with nothing blocked and SIGPIPE at its default, even
// when we block signals and ignore SIGPIPE.
TEST(Process, ChildStartsWithDefaultSignals) {
  struct sigaction old{};
  struct sigaction ign{};
  ign.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ign, &old);
  sigset_t blocked, saved;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &saved);

  std::string out;
  EXPECT_EQ(run("sed -n 's/^SigBlk:[[:space:]]*//p' /proc/self/status", &out), 0);
  EXPECT_EQ(out, "0000000000000000\n");
  out.clear();
  // Bit 12 of the ignored set is SIGPIPE (13).
  EXPECT_EQ(run("m=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/self/status); "
                "echo $(( 0x$m >> 12 & 1 ))",
                &out),
            0);
  EXPECT_EQ(out, "0\n");

  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  sigaction(SIGPIPE, &old, nullptr);
}

// Only the three standard streams reach a child, even a descriptor opened
// without close-on-exec.
TEST(Process, ChildReceivesOnlyItsStandardStreams) {
  int leaky = open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 3);
  std::string out;
  EXPECT_EQ(run("ls /proc/$$/fd", &out), 0);
  EXPECT_EQ(out, "0\n1\n2\n");
  close(leaky);
}

TEST(Process, FilesThatDoNotOpenStartNothing) {
  process::request r;
  r.argv = {"/bin/true"};
  r.out.how = process::stream::FILE;
  r.out.path = "/no/such/dir/out.txt";
  EXPECT_EQ(process::launch(r), -1);
  r.out.how = process::stream::DEV_NULL;
  r.in.how = process::stream::FILE;
  r.in.path = std::string("/etc/passwd\0x", 13);
  EXPECT_EQ(process::launch(r), -1);
  r.in.path = "/etc/passwd";
  EXPECT_EQ(process::launch(r), 0);
}
