// Faces as the C++ side of the GUI layer reads them: the 25 facets of
// `face!` in their fixed order (a change of facet n sets bit n of the
// face's change flags, counting from 0).
//
// Facets are found by name, so that any object with face fields (`face?`
// accepts objects of other classes) reads right; the pointer returned points
// into the object's values and is valid only until the next allocation.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::gui::face {

enum facet : uint32_t {
  TYPE, OFFSET, SIZE, TEXT, IMAGE, COLOR, MENU, DATA, ENABLED_Q, VISIBLE_Q, SELECTED, FLAGS,
  OPTIONS, PARENT, PANE, STATE, RATE, EDGE, PARA, FONT, ACTORS, EXTRA, DRAW, ON_CHANGE,
  ON_DEEP_CHANGE, FACET_COUNT,
};
inline constexpr uint32_t change_flag(facet f) { return 1u << f; }

// The facet's value, or none when the object has no such field.
const Cell* get(const Cell* face, facet f);
// The facet's value slot, written without change notification; null when
// the object has no such field. Valid until the next allocation.
Cell* slot(const Cell* face, facet f);
// True when the value is a word! naming the symbol (case-insensitively).
bool is_word(const Cell* value, uint32_t canonical_symbol);

// Makes the facet names' symbols (once, at start-up).
void init();

}  // namespace kez::gui::face
