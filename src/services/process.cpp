// Child processes on Linux: posix_spawn, the pipes served by one poll(2)
// loop, the reaping of children nobody waits for, and `call`'s conversions
// between values and bytes.
//
// The console writes everything it is given before returning, so what Kez
// printed is out before a child that shares its streams starts.
#include "services/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "types/binary.h"
#include "values/error_ids.h"
#include "values/string.h"

extern char** environ;

namespace kez::process {

namespace {

// A descriptor owned by one scope.
struct descriptor {
  int fd = -1;
  descriptor() = default;
  descriptor(const descriptor&) = delete;
  descriptor& operator=(const descriptor&) = delete;
  ~descriptor() { reset(); }
  void reset(int to = -1) {
    if (fd >= 0) close(fd);
    fd = to;
  }
};

// One standard stream of the child: the descriptor it receives, and our
// end when the stream is a pipe.
struct channel {
  descriptor child;
  descriptor ours;
};

// The children started without waiting, until they are reaped.
std::vector<pid_t> unwaited;

void reap_ended() {
  std::erase_if(unwaited, [](pid_t pid) {
    int status;
    pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}

// The child's descriptors are moved onto 0, 1 and 2; one that already sits
// there (our own streams were closed at start) could be overwritten by
// another's move first, so none is left below 3.
int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool has_nul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

// Opens what the stream is joined to. False when it cannot be: a file that
// does not open (an output file as much as an input file: a child whose
// redirection failed must not write into our own streams instead).
bool prepare(const stream& s, bool input, channel& c) {
  switch (s.how) {
    case stream::PARENT: return true;
    case stream::DEV_NULL:
      c.child.reset(above_standard(open("/dev/null", (input ? O_RDONLY : O_WRONLY) | O_CLOEXEC)));
      return c.child.fd >= 0;
    case stream::FILE: {
      if (has_nul(s.path)) return false;
      int flags = input ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
      c.child.reset(above_standard(open(s.path.c_str(), flags | O_CLOEXEC, 0666)));
      return c.child.fd >= 0;
    }
    case stream::PIPE: {
      int ends[2];
      if (pipe2(ends, O_CLOEXEC) != 0) return false;
      c.ours.reset(input ? ends[1] : ends[0]);
      c.child.reset(above_standard(input ? ends[0] : ends[1]));
      // Our end never blocks: poll says when it is ready.
      return c.child.fd >= 0 && fcntl(c.ours.fd, F_SETFL, O_NONBLOCK) == 0;
    }
  }
  return false;
}

// posix_spawn's records, released on every path.
struct spawn_setup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;

  spawn_setup(channel* ch, bool detach) {
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; i++)
      if (ch[i].child.fd >= 0) posix_spawn_file_actions_adddup2(&actions, ch[i].child.fd, i);
#if __GLIBC_PREREQ(2, 34)
    // Ours are close-on-exec already; this also keeps out any descriptor a
    // library opened without the flag.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    posix_spawnattr_init(&attributes);
    // Whatever we do with SIGPIPE and whatever we block, a child starts as
    // a program expects: a closed pipe ends it quietly.
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipe);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (detach) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);
  }
  ~spawn_setup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }

  // 0 or the error number of the start.
  int run(pid_t* pid, const std::vector<std::string>& argv, bool search) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return search ? posix_spawnp(pid, args[0], &actions, &attributes, args.data(), environ)
                  : posix_spawn(pid, args[0], &actions, &attributes, args.data(), environ);
  }
  int run_shell(pid_t* pid, const std::string& text) {
    return run(pid, {"/bin/sh", "-c", text}, false);
  }
};

// While the child's input is written, SIGPIPE is held back: a reader that
// went away shows as EPIPE on the write, never as the signal, even when
// the process keeps the signal's default action. A SIGPIPE that our writes
// raised is taken off the pending set before the mask is put back.
struct sigpipe_held {
  sigset_t pipe, old;
  bool pending_before;
  sigpipe_held() {
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pending_before = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
  }
  ~sigpipe_held() {
    if (!pending_before) {
      timespec zero{};
      while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }
};

// Bytes read at a time: the least room kept free in a capture.
constexpr size_t READ_CHUNK = 1 << 16;
// The most written in one call, so that a large input is fed as the child
// takes it.
constexpr size_t WRITE_CHUNK = 1 << 20;

struct capture {
  received* sink;
  bool overflow = false;
};

// Reads what is there; false at the end of the stream. An interrupted read
// is tried again at the next turn; any other error ends the stream. Past
// the limit, or when growing fails, the bytes are read and dropped.
bool read_some(int fd, capture& c) {
  char scratch[4096];
  char* to = scratch;
  size_t room = sizeof scratch;
  if (c.sink && !c.overflow) {
    received& r = *c.sink;
    if (r.capacity - r.size < READ_CHUNK) {
      size_t grown = std::max(r.capacity * 2, r.size + READ_CHUNK);
      if (char* p = static_cast<char*>(std::realloc(r.data, grown))) {
        r.data = p;
        r.capacity = grown;
      }
    }
    if (r.capacity - r.size >= READ_CHUNK) {
      to = r.data + r.size;
      room = r.capacity - r.size;
    } else {
      c.overflow = true;
    }
  }
  ssize_t n = read(fd, to, room);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  if (to != scratch) {
    c.sink->size += size_t(n);
    if (c.sink->size > CAPTURE_LIMIT) c.overflow = true;
  }
  return true;
}

// Serves the pipes until each has ended: the input written in pieces as
// the child takes them, output and error read as they come.
void serve(channel* ch, std::string_view input, capture* captures) {
  std::optional<sigpipe_held> held;
  if (ch[0].ours.fd >= 0) {
    if (input.empty()) ch[0].ours.reset();
    else held.emplace();
  }
  size_t sent = 0;
  for (;;) {
    pollfd fds[3];
    int which[3], n = 0;
    for (int i = 0; i < 3; i++) {
      if (ch[i].ours.fd < 0) continue;
      fds[n] = {ch[i].ours.fd, short(i == 0 ? POLLOUT : POLLIN), 0};
      which[n++] = i;
    }
    if (n == 0) break;
    if (poll(fds, nfds_t(n), -1) < 0) {
      if (errno == EINTR) continue;
      break;  // nothing can be served: closing our ends lets the child end
    }
    for (int k = 0; k < n; k++) {
      if (!fds[k].revents) continue;
      channel& c = ch[which[k]];
      if (which[k] != 0) {
        if (!read_some(c.ours.fd, captures[which[k]])) c.ours.reset();
        continue;
      }
      ssize_t w = write(c.ours.fd, input.data() + sent, std::min(input.size() - sent, WRITE_CHUNK));
      if (w > 0) sent += size_t(w);
      // EPIPE: the child stopped reading, which ends its input.
      if ((w < 0 && errno != EINTR && errno != EAGAIN) || sent == input.size()) c.ours.reset();
    }
  }
  for (int i = 1; i < 3; i++)
    if (captures[i].sink) captures[i].sink->size = std::min(captures[i].sink->size, CAPTURE_LIMIT);
}

int32_t wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// A text the shell reads as one word.
std::string shell_quoted(std::string_view text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

// The bytes with each invalid sequence as U+FFFD; empty when they are
// valid as they stand.
std::string repaired_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* end = p + bytes.size();
  const uint8_t* at = p;
  while (at < end && *at < 0x80) at++;
  std::string fixed;
  bool bad = false;
  while (at < end) {
    int32_t cp;
    const uint8_t* next = unicode::fast_decode_utf8_char(at, end, &cp);
    if (cp < 0 && !bad) {
      fixed.assign(bytes.data(), size_t(at - p));
      bad = true;
    }
    if (bad) {
      if (cp < 0) fixed += "\xEF\xBF\xBD";
      else fixed.append(reinterpret_cast<const char*>(at), size_t(next - at));
    }
    at = next;
  }
  return fixed;
}

// Captured bytes into the target: onto the end of a string, decoded; at
// the position of a binary.
void store(const Cell* target, const received& bytes) {
  if (bytes.size == 0) return;
  Cell t = *target;
  if (TYPE_OF(&t) == TYPE_BINARY) {
    binary::rs_insert(&t, 0, reinterpret_cast<const uint8_t*>(bytes.data), uint32_t(bytes.size));
    return;
  }
  string::append_string(&t, push_text(bytes.view()));
  stack::pop(1);
}

}  // namespace

Cell* push_text(std::string_view bytes) {
  std::string fixed = repaired_utf8(bytes);
  if (!fixed.empty()) bytes = fixed;
  Cell* text = string::load(bytes);
  // Loading takes a leading byte-order mark for a signature; here it is
  // part of what the program wrote.
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) string::insert_char(text->w2, 0, 0xFEFF);
  return text;
}

std::vector<std::string> split_command(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (char c : text) {
    if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '"') quoted = !quoted;
    else word += c;
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

int32_t launch(request& r, bool* overflow) {
  reap_ended();
  for (const std::string& a : r.argv)
    if (has_nul(a)) return -1;
  if (has_nul(r.shell_text)) return -1;

  channel ch[3];
  if (!prepare(r.in, true, ch[0]) || !prepare(r.out, false, ch[1]) ||
      !prepare(r.err, false, ch[2]))
    return -1;

  pid_t pid = 0;
  int failure;
  {
    spawn_setup setup(ch, r.detach);
    if (r.shell) failure = r.argv.empty() ? ENOENT : setup.run_shell(&pid, r.argv[0]);
    else failure = r.argv.empty() ? ENOENT : setup.run(&pid, r.argv, true);
    if (failure == ENOENT && !r.shell && !r.shell_text.empty())
      failure = setup.run_shell(&pid, r.shell_text);
  }
  if (failure) return -1;
  for (channel& c : ch) c.child.reset();

  capture captures[3] = {{nullptr}, {r.out.captured}, {r.err.captured}};
  serve(ch, r.in.data, captures);
  if (overflow) *overflow = captures[1].overflow || captures[2].overflow;

  if (!r.wait) {
    unwaited.push_back(pid);
    return int32_t(pid);
  }
  return wait_for(pid);
}

int32_t call(const Cell* command, bool wait, bool console, bool shell, const Cell* in,
             const Cell* out, const Cell* err) {
  std::string text = string::to_utf8(command);
  if (text.empty()) return 0;
  request r;
  // A file! names the program itself, blanks and all, by its path: one in
  // the current directory is not looked for in PATH.
  bool program = TYPE_OF(command) == TYPE_FILE;
  if (program && text.find('/') == std::string::npos) text.insert(0, "./");
  if (shell) {
    r.shell = true;
    r.argv.push_back(program ? shell_quoted(text) : text);
  } else {
    r.argv = program ? std::vector<std::string>{text} : split_command(text);
    r.shell_text = program ? shell_quoted(text) : text;
  }

  std::string input;
  if (in) {
    Cell v = *in;
    switch (TYPE_OF(&v)) {
      case TYPE_FILE:
        r.in.how = stream::FILE;
        r.in.path = string::to_utf8(&v);
        break;
      case TYPE_BINARY:
        input.assign(reinterpret_cast<const char*>(binary::rs_head(&v)), binary::rs_length(&v));
        r.in.how = stream::PIPE;
        break;
      default: input = string::to_utf8(&v); r.in.how = stream::PIPE;
    }
    r.in.data = input;
  }
  // Streams that are not redirected never reach the console's own unless
  // asked to.
  received captured[2];
  const Cell* targets[2] = {out, err};
  stream* streams[2] = {&r.out, &r.err};
  for (int i = 0; i < 2; i++) {
    if (!targets[i]) {
      streams[i]->how = console ? stream::PARENT : stream::DEV_NULL;
    } else if (TYPE_OF(targets[i]) == TYPE_FILE) {
      streams[i]->how = stream::FILE;
      streams[i]->path = string::to_utf8(targets[i]);
    } else {
      streams[i]->how = stream::PIPE;
      streams[i]->captured = &captured[i];
    }
  }
  r.wait = wait || console || in || out || err;

  bool overflow = false;
  int32_t result = launch(r, &overflow);
  if (overflow) fire(err::INTERNAL, err::internal::NO_MEMORY);
  for (int i = 0; i < 2; i++)
    if (streams[i]->captured) store(targets[i], captured[i]);
  return result;
}

void open_detached(const std::string& program, const std::string& argument) {
  request r;
  r.argv = {program, argument};
  r.in.how = r.out.how = r.err.how = stream::DEV_NULL;
  r.wait = false;
  r.detach = true;
  launch(r);
}

}  // namespace kez::process
