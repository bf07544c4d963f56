// The terminal layer: what the line editor and the text-mode GUI backend
// need of a Linux terminal.
//
// Raw mode is a stack: each enter_raw saves the mode in force and each
// leave_raw puts the saved one back, so nested users (an editor inside a
// GUI loop) restore in order. Every way out of the process (exit hooks,
// SIGTERM, SIGHUP, a stop signal) puts back the mode found before the first
// entry. Input bytes are decoded into key codes by a decoder that keeps an
// incomplete sequence until its rest arrives or a short pause shows it was a
// lone Escape; terminal answers (cursor reports) come out as events of their
// own, and keys read while waiting for an answer are kept for later, however
// many. Between the brackets of a paste the bytes are text, not keys: each
// character comes as a key marked MOD_PASTED, control characters included.
//
// The layer also owns what it changes in the terminal beyond the mode: the
// bracketed-paste switch and the window title. Every way out puts both back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kez::tty {

// Key codes: a character is its code point; the special keys are negative.
enum : int32_t {
  KEY_UP = -20,
  KEY_DOWN = -21,
  KEY_RIGHT = -22,
  KEY_LEFT = -23,
  KEY_END = -24,
  KEY_HOME = -25,
  KEY_INSERT = -26,
  KEY_DELETE = -27,
  KEY_PAGE_UP = -28,
  KEY_PAGE_DOWN = -29,
  KEY_F1 = -31,  // F1 to F12: -31 to -42
  KEY_ESCAPE = 27,
  KEY_ENTER = 13,
};

// Modifier bits of a key. MOD_PASTED: a character of pasted text, its code
// the character as it came (a line feed stays 10).
enum : uint32_t { MOD_SHIFT = 1, MOD_ALT = 2, MOD_CONTROL = 4, MOD_PASTED = 8 };

enum event_kind : uint8_t {
  EV_KEY,            // code and mods
  EV_CURSOR_REPORT,  // row and col, 1-based
  EV_RESIZE,         // the window changed size (or the process was continued)
  EV_TIMEOUT,        // nothing arrived in time
  EV_FAIL,           // end of input, hang-up or a read error
  EV_PASTE_START,    // the terminal begins a bracketed paste
  EV_PASTE_END,      // and ends it
};

struct event {
  event_kind kind = EV_KEY;
  int32_t code = 0;
  uint32_t mods = 0;
  int32_t row = 0, col = 0;
};

// Turns input bytes into events. Bytes that make no known key are consumed
// without an event; a bad UTF-8 byte becomes U+FFFD.
struct key_decoder {
  static constexpr size_t CAPACITY = 512;
  uint8_t bytes[CAPACITY];
  size_t length = 0;
  bool pasting = false;  // between the brackets of a paste

  // Adds bytes; when the buffer is full the oldest undecodable bytes go.
  void feed(const uint8_t* data, size_t n);
  // Takes the next event from the bytes held. False when none is complete.
  // With `flush` an incomplete sequence is taken as it stands: a leading
  // escape becomes the Escape key, a cut UTF-8 character U+FFFD.
  bool next(event& out, bool flush);
  bool pending() const { return length > 0; }
};

// Starts the layer for standard input (once): the signal handlers and the
// exit hook. False when standard input is not a terminal.
bool init();
bool input_is_terminal();
bool output_is_terminal();

// Raw mode: no echo, no line discipline, no signal keys; output processing
// stays on so that a line feed written by the runtime still returns the
// carriage. enter_raw is false when standard input is not a terminal.
bool enter_raw();
void leave_raw();
// Puts back the mode found before the first entry, turns bracketed paste
// off and restores the window title (async-signal-safe). The screen hook,
// when set, runs first: the text-mode GUI puts back what it changed on the
// screen (it must be async-signal-safe too).
void restore_all();
void set_screen_restore(void (*hook)());

// For an event loop of its own: the descriptor that a window-size change
// or a continue makes readable (-1 when there is none), and whether one
// came since the last call (which drains the descriptor).
int wake_fd();
bool take_resize();

// Asks the terminal to bracket pasted text (on), or no longer (off).
void bracketed_paste(bool on);

// The window size in character cells; false when the terminal will not say.
bool window_size(int& cols, int& rows);

// Reads the next event from standard input, waiting at most timeout_ms
// (negative: no limit). Window-size changes interrupt the wait.
event read_event(int timeout_ms);
// True when read_event has an event without reading more.
bool event_ready();
// True when input is waiting: an event, part of one, or unread bytes.
bool input_waiting();
// Asks the terminal where the cursor is (1-based). Keys that arrive
// meanwhile are kept for read_event. False on timeout; a terminal that never
// answered is not asked again.
bool cursor_position(int& row, int& col);

// Writes all bytes to standard output.
void write_out(std::string_view bytes);
// Sets the window title when standard output is a terminal; the title
// found before is saved by the terminal and comes back on the way out.
void set_title(std::string_view title);

}  // namespace kez::tty
