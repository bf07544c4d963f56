// The terminal layer on Linux: termios, poll(2), TIOCGWINSZ and signals.
//
// Signal handlers only touch what is async-signal-safe: tcsetattr on saved
// records, a flag and a byte written into the wake pipe. The pipe lets a
// size change (SIGWINCH) or a continue (SIGCONT) interrupt a wait on
// whichever thread the signal lands.
#include "foundation/tty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string>

#include "foundation/platform.h"

namespace kez::tty {

namespace {

// How long the rest of an escape sequence may take before the escape counts
// as the Escape key alone: longer than a terminal needs to send a sequence
// in one go, short enough not to be felt.
constexpr int ESCAPE_WAIT_MS = 50;
// How long a terminal may take to answer the cursor position request.
constexpr int REPORT_WAIT_MS = 300;
// Nesting depth of raw mode (editor inside a GUI loop inside an editor...).
constexpr int MAX_DEPTH = 8;

termios saved_modes[MAX_DEPTH];
termios raw_mode;
volatile sig_atomic_t depth = 0;
volatile sig_atomic_t resized = 0;
int wake_pipe[2] = {-1, -1};
bool started = false;
bool input_tty = false;
bool output_tty = false;
bool report_failed = false;
volatile sig_atomic_t paste_on = 0;      // bracketed paste asked for
volatile sig_atomic_t title_pushed = 0;  // the terminal keeps the old title
void (*volatile screen_restore)() = nullptr;

key_decoder decoder;
// Events decoded ahead: keys that came before a terminal's answer. A paste
// can bring thousands; none is dropped.
std::deque<event> queue;


// Writes a constant sequence to the terminal (async-signal-safe).
void put_sequence(const char* seq) {
  ssize_t ignored = write(STDOUT_FILENO, seq, std::strlen(seq));
  (void)ignored;
}

void wake() {
  if (wake_pipe[1] >= 0) {
    char c = 1;
    ssize_t ignored = write(wake_pipe[1], &c, 1);
    (void)ignored;
  }
}

void on_terminate(int sig) {
  restore_all();
  signal(sig, SIG_DFL);
  raise(sig);
}

void on_resize(int) {
  resized = 1;
  wake();
}

void on_stop(int) {
  if (depth > 0) tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes[0]);
  if (paste_on) put_sequence("\x1b[?2004l");
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);  // delivered once this handler returns
}

void install(int sig, void (*handler)(int)) {
  // A signal ignored by whoever started us (nohup) stays ignored.
  struct sigaction old{};
  if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
  struct sigaction sa{};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

void on_continue(int) {
  install(SIGTSTP, on_stop);
  if (depth > 0) tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
  if (paste_on) put_sequence("\x1b[?2004h");
  resized = 1;
  wake();
}

int64_t now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// --- decoding -------------------------------------------------------------

int32_t tilde_key(int n) {
  switch (n) {
    case 1: case 7: return KEY_HOME;
    case 2: return KEY_INSERT;
    case 3: return KEY_DELETE;
    case 4: case 8: return KEY_END;
    case 5: return KEY_PAGE_UP;
    case 6: return KEY_PAGE_DOWN;
    case 11: case 12: case 13: case 14: case 15: return KEY_F1 - (n - 11);
    case 17: case 18: case 19: case 20: case 21: return KEY_F1 - 5 - (n - 17);
    case 23: case 24: return KEY_F1 - 10 - (n - 23);
    default: return 0;
  }
}

// The key of a final letter shared by the CSI and SS3 forms.
int32_t letter_key(uint8_t f) {
  switch (f) {
    case 'A': return KEY_UP;
    case 'B': return KEY_DOWN;
    case 'C': return KEY_RIGHT;
    case 'D': return KEY_LEFT;
    case 'H': return KEY_HOME;
    case 'F': return KEY_END;
    case 'P': return KEY_F1;
    case 'Q': return KEY_F1 - 1;
    case 'R': return KEY_F1 - 2;
    case 'S': return KEY_F1 - 3;
    default: return 0;
  }
}

// xterm's modifier parameter: 1 + shift 1, alt 2, control 4.
uint32_t modifiers(int param) { return param > 1 ? uint32_t(param - 1) & 7 : 0; }

enum step { DONE, NEED_MORE };

// A control sequence from bytes[0] (escape) and bytes[1] ("["). Sets
// `consumed` and, when it makes one, the event.
step decode_csi(const uint8_t* b, size_t n, size_t& consumed, event& out, bool& made) {
  int params[8] = {0};
  int count = 0;
  bool digits = false, private_mark = false;
  for (size_t i = 2; i < n; i++) {
    uint8_t c = b[i];
    if (c >= '0' && c <= '9') {
      if (count == 0) count = 1;
      params[count - 1] = params[count - 1] * 10 + (c - '0');
      if (params[count - 1] > 100000) params[count - 1] = 100000;
      digits = true;
    } else if (c == ';') {
      if (count == 0) count = 1;
      if (count < 8) count++;
    } else if (c >= 0x3C && c <= 0x3F) {
      private_mark = true;
    } else if (c >= 0x20 && c <= 0x2F) {
      // intermediate bytes: none of the keys use them
      private_mark = true;
    } else if (c >= 0x40 && c <= 0x7E) {
      consumed = i + 1;
      made = false;
      if (private_mark) return DONE;
      if (c == 'R' && count == 2) {
        out = event{EV_CURSOR_REPORT, 0, 0, params[0], params[1]};
        made = true;
      } else if (c == '~' && (params[0] == 200 || params[0] == 201)) {
        out = event{params[0] == 200 ? EV_PASTE_START : EV_PASTE_END, 0, 0, 0, 0};
        made = true;
      } else if (c == '~') {
        int32_t k = tilde_key(params[0]);
        if (k) {
          out = event{EV_KEY, k, count >= 2 ? modifiers(params[1]) : 0, 0, 0};
          made = true;
        }
      } else if (c == 'Z' && !digits) {
        out = event{EV_KEY, 9, MOD_SHIFT, 0, 0};
        made = true;
      } else if (int32_t k = letter_key(c)) {
        // plain, or "1;m" with a modifier
        if (count <= 1 || params[0] == 1) {
          out = event{EV_KEY, k, count >= 2 ? modifiers(params[1]) : 0, 0, 0};
          made = true;
        }
      }
      return DONE;
    } else {
      // An escape or another control byte abandons the sequence before it.
      consumed = i;
      made = false;
      return DONE;
    }
  }
  return NEED_MORE;
}

// A string sequence (OSC "]" or DCS "P"): skipped up to its terminator.
step skip_string(const uint8_t* b, size_t n, size_t& consumed) {
  for (size_t i = 2; i < n; i++) {
    if (b[i] == 7) {
      consumed = i + 1;
      return DONE;
    }
    if (b[i] == 27 && i + 1 < n && b[i + 1] == '\\') {
      consumed = i + 2;
      return DONE;
    }
  }
  return NEED_MORE;
}

// One UTF-8 character; bad bytes give U+FFFD one at a time.
step decode_utf8(const uint8_t* b, size_t n, size_t& consumed, int32_t& cp) {
  uint8_t lead = b[0];
  int size;
  int32_t value;
  if (lead < 0x80) { consumed = 1; cp = lead; return DONE; }
  if (lead >= 0xC2 && lead <= 0xDF) { size = 2; value = lead & 0x1F; }
  else if (lead >= 0xE0 && lead <= 0xEF) { size = 3; value = lead & 0x0F; }
  else if (lead >= 0xF0 && lead <= 0xF4) { size = 4; value = lead & 0x07; }
  else { consumed = 1; cp = 0xFFFD; return DONE; }
  for (int i = 1; i < size; i++) {
    if (size_t(i) >= n) return NEED_MORE;
    if ((b[i] & 0xC0) != 0x80) { consumed = 1; cp = 0xFFFD; return DONE; }
    value = (value << 6) | (b[i] & 0x3F);
  }
  consumed = size_t(size);
  bool overlong = (size == 3 && value < 0x800) || (size == 4 && value < 0x10000);
  bool bad = overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF);
  cp = bad ? 0xFFFD : value;
  if (bad) consumed = 1;
  return DONE;
}

// Inside a paste: text up to the closing bracket.
constexpr char PASTE_END[] = "\x1b[201~";
constexpr size_t PASTE_END_LENGTH = sizeof PASTE_END - 1;

step decode_pasted(const uint8_t* b, size_t n, bool flush, size_t& consumed, event& out) {
  if (b[0] == 27) {
    size_t m = n < PASTE_END_LENGTH ? n : PASTE_END_LENGTH;
    if (std::memcmp(b, PASTE_END, m) == 0) {
      if (m < PASTE_END_LENGTH && !flush) return NEED_MORE;
      if (m == PASTE_END_LENGTH) {
        consumed = m;
        out = event{EV_PASTE_END, 0, 0, 0, 0};
        return DONE;
      }
    }
  }
  int32_t cp;
  step s = decode_utf8(b, n, consumed, cp);
  if (s == NEED_MORE) {
    if (!flush) return NEED_MORE;
    consumed = n;
    cp = 0xFFFD;
  }
  out = event{EV_KEY, cp, MOD_PASTED, 0, 0};
  return DONE;
}

}  // namespace

void key_decoder::feed(const uint8_t* data, size_t n) {
  if (n > CAPACITY) {
    data += n - CAPACITY;
    n = CAPACITY;
  }
  if (length + n > CAPACITY) {
    size_t drop = length + n - CAPACITY;
    std::memmove(bytes, bytes + drop, length - drop);
    length -= drop;
  }
  std::memcpy(bytes + length, data, n);
  length += n;
}

bool key_decoder::next(event& out, bool flush) {
  while (length > 0) {
    size_t consumed = 0;
    bool made = false;
    step s = DONE;
    uint8_t b = bytes[0];
    if (pasting) {
      s = decode_pasted(bytes, length, flush, consumed, out);
      made = s == DONE;
    } else if (b == 27) {
      if (length == 1) {
        s = NEED_MORE;
      } else if (bytes[1] == '[') {
        s = decode_csi(bytes, length, consumed, out, made);
      } else if (bytes[1] == 'O') {
        if (length < 3) {
          s = NEED_MORE;
        } else {
          consumed = 3;
          int32_t k = bytes[2] == 'M' ? KEY_ENTER : letter_key(bytes[2]);
          if (k) {
            out = event{EV_KEY, k, 0, 0, 0};
            made = true;
          }
        }
      } else if (bytes[1] == ']' || bytes[1] == 'P') {
        s = skip_string(bytes, length, consumed);
      } else if (bytes[1] == 27) {
        // two escapes: the first one was a key of its own
        consumed = 1;
        out = event{EV_KEY, KEY_ESCAPE, 0, 0, 0};
        made = true;
      } else {
        // escape and a character: the character with Alt
        int32_t cp;
        size_t used;
        s = decode_utf8(bytes + 1, length - 1, used, cp);
        if (s == DONE) {
          consumed = 1 + used;
          out = event{EV_KEY, cp == 10 ? KEY_ENTER : cp, MOD_ALT, 0, 0};
          made = true;
        }
      }
      if (s == NEED_MORE && flush) {
        // The pause showed the escape was typed alone.
        s = DONE;
        consumed = 1;
        out = event{EV_KEY, KEY_ESCAPE, 0, 0, 0};
        made = true;
      }
    } else {
      int32_t cp;
      s = decode_utf8(bytes, length, consumed, cp);
      if (s == NEED_MORE && flush) {
        s = DONE;
        consumed = length;
        cp = 0xFFFD;
      }
      if (s == DONE) {
        out = event{EV_KEY, cp == 10 ? KEY_ENTER : cp, 0, 0, 0};
        made = true;
      }
    }
    if (s == NEED_MORE) return false;
    std::memmove(bytes, bytes + consumed, length - consumed);
    length -= consumed;
    if (made && out.kind == EV_PASTE_START) pasting = true;
    if (made && out.kind == EV_PASTE_END) pasting = false;
    if (made) return true;
  }
  return false;
}

bool init() {
  if (started) return input_tty;
  started = true;
  input_tty = isatty(STDIN_FILENO) == 1;
  output_tty = isatty(STDOUT_FILENO) == 1;
  if (!input_tty && !output_tty) return false;
  // What the layer changes in the terminal is put back on every way out.
  install(SIGTERM, on_terminate);
  install(SIGHUP, on_terminate);
  install(SIGQUIT, on_terminate);
  platform::add_exit_hook(restore_all);
  if (!input_tty) return false;
  if (pipe2(wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  install(SIGWINCH, on_resize);
  install(SIGCONT, on_continue);
  install(SIGTSTP, on_stop);
  return true;
}

bool input_is_terminal() {
  init();
  return input_tty;
}

bool output_is_terminal() {
  init();
  return output_tty;
}

bool enter_raw() {
  if (!input_is_terminal() || depth >= MAX_DEPTH) return false;
  termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return false;
  saved_modes[depth] = mode;
  mode.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
  mode.c_cflag |= CS8;
  mode.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  raw_mode = mode;
  depth = depth + 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
  return true;
}

void leave_raw() {
  if (depth <= 0) return;
  depth = depth - 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes[depth]);
  if (depth > 0) tcgetattr(STDIN_FILENO, &raw_mode);
}

void set_screen_restore(void (*hook)()) { screen_restore = hook; }

int wake_fd() { return wake_pipe[0]; }

bool take_resize() {
  if (wake_pipe[0] >= 0) {
    char sink[64];
    while (read(wake_pipe[0], sink, sizeof sink) > 0) {
    }
  }
  if (!resized) return false;
  resized = 0;
  return true;
}

void restore_all() {
  if (auto hook = screen_restore) hook();
  if (paste_on) {
    paste_on = 0;
    put_sequence("\x1b[?2004l");
  }
  if (depth > 0) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes[0]);
    depth = 0;
  }
  if (title_pushed) {
    title_pushed = 0;
    put_sequence("\x1b[23;0t");
  }
}

void bracketed_paste(bool on) {
  if (!output_is_terminal() || bool(paste_on) == on) return;
  paste_on = on;
  put_sequence(on ? "\x1b[?2004h" : "\x1b[?2004l");
}

bool window_size(int& cols, int& rows) {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 && ioctl(STDIN_FILENO, TIOCGWINSZ, &ws) != 0)
    return false;
  cols = ws.ws_col;
  rows = ws.ws_row;
  return true;
}

bool event_ready() {
  if (!queue.empty()) return true;
  event e;
  if (!decoder.next(e, false)) return false;
  queue.push_back(e);
  return true;
}

bool input_waiting() {
  if (event_ready() || decoder.pending()) return true;
  pollfd fd = {STDIN_FILENO, POLLIN, 0};
  return poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

event read_event(int timeout_ms) {
  event e;
  if (!queue.empty()) {
    e = queue.front();
    queue.pop_front();
    return e;
  }
  int64_t deadline = timeout_ms >= 0 ? now_ms() + timeout_ms : -1;
  for (;;) {
    if (decoder.next(e, false)) return e;
    if (resized) {
      resized = 0;
      return event{EV_RESIZE, 0, 0, 0, 0};
    }
    int wait = -1;
    if (deadline >= 0) {
      wait = int(deadline - now_ms());
      if (wait < 0) wait = 0;
    }
    if (decoder.pending() && (wait < 0 || wait > ESCAPE_WAIT_MS)) wait = ESCAPE_WAIT_MS;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
    int r = poll(fds, wake_pipe[0] >= 0 ? 2 : 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return event{EV_FAIL, 0, 0, 0, 0};
    }
    if (r == 0) {
      if (decoder.pending()) {
        if (decoder.next(e, true)) return e;
        continue;
      }
      if (deadline >= 0 && now_ms() >= deadline) return event{EV_TIMEOUT, 0, 0, 0, 0};
      continue;
    }
    if (wake_pipe[0] >= 0 && (fds[1].revents & POLLIN)) {
      char sink[64];
      while (read(wake_pipe[0], sink, sizeof sink) > 0) {
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
      uint8_t buf[256];
      ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n > 0) {
        decoder.feed(buf, size_t(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        return event{EV_FAIL, 0, 0, 0, 0};
      }
    }
  }
}

bool cursor_position(int& row, int& col) {
  if (report_failed || !output_is_terminal()) return false;
  write_out("\x1b[6n");
  int64_t deadline = now_ms() + REPORT_WAIT_MS;
  for (;;) {
    int left = int(deadline - now_ms());
    if (left < 0) left = 0;
    // Keys already queued stay first: read past them without losing them.
    event e;
    if (decoder.next(e, false)) {
      if (e.kind == EV_CURSOR_REPORT) {
        row = e.row;
        col = e.col;
        return true;
      }
      queue.push_back(e);
      continue;
    }
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int r = poll(&fd, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    uint8_t buf[256];
    ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n > 0) decoder.feed(buf, size_t(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN)) break;
  }
  report_failed = true;
  return false;
}

void write_out(std::string_view bytes) {
  const char* p = bytes.data();
  size_t n = bytes.size();
  while (n > 0) {
    ssize_t w = write(STDOUT_FILENO, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= size_t(w);
  }
}

void set_title(std::string_view title) {
  if (!output_is_terminal()) return;
  if (!title_pushed) {
    title_pushed = 1;
    write_out("\x1b[22;0t");
  }
  std::string seq = "\x1b]0;";
  // Control characters would end the sequence early.
  for (char c : title)
    if (uint8_t(c) >= 0x20 && c != 0x7F) seq += c;
  seq += '\x07';
  write_out(seq);
}

}  // namespace kez::tty
