// Facets read by name from face objects.
#include "gui/face.h"

#include "values/context.h"
#include "values/object.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::face {

namespace {

constexpr const char* NAMES[FACET_COUNT] = {
    "type",  "offset",  "size",    "text",   "image",  "color", "menu",       "data",
    "enabled?", "visible?", "selected", "flags", "options", "parent", "pane", "state",
    "rate",  "edge",    "para",    "font",   "actors", "extra", "draw",       "on-change*",
    "on-deep-change*",
};
uint32_t symbols[FACET_COUNT];

}  // namespace

const Cell* get(const Cell* face, facet f) {
  Cell w = word::make(TYPE_WORD, 0, symbols[f], 0xFFFFFFFF);
  return object::select_word(face, &w);
}

Cell* slot(const Cell* face, facet f) {
  Cell w = word::make(TYPE_WORD, 0, symbols[f], 0xFFFFFFFF);
  int32_t i = object::find_word(face, &w);
  return i < 0 ? nullptr : context::values(face->w1) + i;
}

bool is_word(const Cell* value, uint32_t canonical_symbol) {
  return TYPE_OF(value) == TYPE_WORD && word::canonical(value) == canonical_symbol;
}

void init() {
  for (uint32_t i = 0; i < FACET_COUNT; i++) symbols[i] = symbol::make(NAMES[i]);
}

}  // namespace kez::gui::face
