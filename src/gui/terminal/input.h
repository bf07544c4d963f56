// The event loop's input: terminal bytes turned into keys, mouse reports
// and cursor position reports.
//
// The bytes wait in a buffer until they form something whole: a sequence
// or a UTF-8 character cut by the end of a read stays at the buffer's front
// until its rest arrives. Decoding takes one item at a time, so that the
// loop can deliver it (which may run Kez, and a nested loop that empties
// the buffer) before the next one is read: `generation` changes whenever the
// buffer is emptied, and a decoder that sees it change stops.
//
// What must stay true: every step consumes at least one byte or stops; no
// read goes past the buffer's current length; a lone escape never swallows
// the bytes after it beyond its own sequence.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kez::gui::input {

enum class item_kind : uint8_t { key, mouse, cursor_report };

struct item {
  item_kind kind = item_kind::key;
  int32_t code = 0;     // key: the code point, or a special-key code (negative)
  bool special = false; // key: the code is a special-key code
  bool shift = false;   // key: tab from ESC [ Z
  // mouse: the button code and the 1-based column and row; press (M) or
  // release (m). cursor_report: row and column (1-based).
  int32_t button = 0, x = 0, y = 0;
  bool press = false;
};

struct buffer {
  std::vector<uint8_t> bytes;
  size_t pos = 0;              // the next byte to decode
  uint32_t generation = 0;     // changes whenever the buffer is emptied
  bool report_expected = false;  // a cursor position request is outstanding

  buffer() { bytes.reserve(100); }
  void feed(const uint8_t* data, size_t n) { bytes.insert(bytes.end(), data, data + n); }
  // Drops every byte (and tells decoders walking it to stop).
  void clear() {
    bytes.clear();
    pos = 0;
    generation++;
  }
};

// Takes the next item from the buffer. False when nothing whole is left:
// the undecoded bytes then move to the front, to wait for the rest. Bytes
// that make no key are consumed without an item (the call goes on to the
// next). A cursor position report is an item only while one is expected
// (it then stops being expected).
bool next(buffer& b, item& out);

}  // namespace kez::gui::input
