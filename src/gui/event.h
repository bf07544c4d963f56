// event!: one user action on one face, as the GUI layer hands it to event
// functions and actors.
//
// An event is one cell. Header: the type byte and EVENT_MADE (bit 12) for an
// event a script made with `make event!`; clear for one the backend built.
// w1: the event type id (1 to 38; 0 for a made event given no type). w2: 0
// or the node of a block of cells holding the fields that do not fit in the
// cell (a made event's face, window, offset and picked; a backend event's
// own record): never an address. w3: the flag bits (EVENT_AWAY ...) and, in
// a made event, the key's whole code point in bits 0 to 20.
#pragma once
#include <cstdint>
#include <span>

#include "boot/routines.h"
#include "values/cell.h"

namespace kez::event {

inline constexpr uint32_t EVENT_MADE = 1u << 12;

// Flag bits of w3.
inline constexpr uint32_t EVENT_AUX_DOWN = 0x00400000;
inline constexpr uint32_t EVENT_ALT_DOWN = 0x00800000;
inline constexpr uint32_t EVENT_MID_DOWN = 0x01000000;
inline constexpr uint32_t EVENT_DOWN = 0x02000000;
inline constexpr uint32_t EVENT_AWAY = 0x04000000;
inline constexpr uint32_t EVENT_CONTROL = 0x10000000;
inline constexpr uint32_t EVENT_SHIFT = 0x20000000;
inline constexpr uint32_t EVENT_ALT = 0x40000000;
inline constexpr uint32_t EVENT_COMMAND = 0x80000000;
// A made event's key code point (0: no key).
inline constexpr uint32_t EVENT_KEY_MASK = 0x001FFFFF;

// Event type ids (1-based, in this fixed order).
enum type_id : uint32_t {
  EVT_DOWN = 1, EVT_UP, EVT_MID_DOWN, EVT_MID_UP, EVT_ALT_DOWN, EVT_ALT_UP, EVT_AUX_DOWN,
  EVT_AUX_UP, EVT_CLICK, EVT_DBL_CLICK, EVT_WHEEL, EVT_OVER, EVT_KEY, EVT_KEY_DOWN, EVT_KEY_UP,
  EVT_IME, EVT_FOCUS, EVT_UNFOCUS, EVT_ENTER, EVT_ZOOM, EVT_PAN, EVT_ROTATE, EVT_TWO_TAP,
  EVT_PRESS_TAP, EVT_SELECT, EVT_CHANGE, EVT_MENU, EVT_CLOSE, EVT_MOVE, EVT_RESIZE, EVT_MOVING,
  EVT_RESIZING, EVT_TIME, EVT_DRAWING, EVT_SCROLL, EVT_MINIMIZE, EVT_MAXIMIZE, EVT_RESTORE,
};
inline constexpr uint32_t EVENT_TYPE_COUNT = 38;

// Field indexes (the path words and `pick` positions).
enum field : int32_t {
  FIELD_TYPE = 1, FIELD_FACE, FIELD_WINDOW, FIELD_OFFSET, FIELD_KEY, FIELD_PICKED, FIELD_FLAGS,
  FIELD_AWAY_Q, FIELD_DOWN_Q, FIELD_MID_DOWN_Q, FIELD_ALT_DOWN_Q, FIELD_AUX_DOWN_Q, FIELD_CTRL_Q,
  FIELD_SHIFT_Q, FIELD_ORIENTATION,
};
inline constexpr int32_t FIELD_COUNT = 15;

// The index of a field word, or -1. When the word is not a field word and
// `value` is an event!, raises script cannot-use (word, event) instead.
int32_t field_index(const Cell* word, const Cell* value);
// A field's value, written to `out`.
void get_field(const Cell* event, int32_t index, Cell* out);
// The type word of the event's id (none for an id outside the table).
Cell type_to_word(const Cell* event);
// Whether a word is the field word `type`, in any case.
bool is_type_field(const Cell* word);
// Stores the id of a type word in the event; raises not-event-type.
void word_to_type(Cell* event, const Cell* word);
// Pushes a copy of the event on the value stack.
Cell* push(const Cell* event);

// A backend event answers face, window, offset, key, picked and orientation
// through the backend, which sets this when it builds events; until then
// such an event answers as a made event without fields.
extern void (*backend_field)(const Cell* event, int32_t index, Cell* out);
// The key field of a backend event: a special key (negative code) as its
// word, or none for an unknown one; any other code as its char.
Cell key_value(int32_t code);

// The routines `event?`, `send-event-os` and `find-flag?`.
std::span<const boot::routine_entry> routines();

// Registers event! (boot phase 22: the datatype and its words).
void init();

}  // namespace kez::event
