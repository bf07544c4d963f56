// The quick road of the face's change hook.
//
// Every facet set runs the face's `on-change*`, and the layout dialect sets
// many facets of faces that are not shown yet. Most of those changes only
// set a change flag, or nothing at all, once the hook's checks have run; in
// Kez those checks cost several times the set itself. `quick-face-change*`
// makes them in one call and finishes such a change itself. It answers none
// when the change is done, `show` when the face is to be shown now (a shown
// face with auto-sync on), and true when the whole hook
// (`on-face-change*`) must run: traces on, a series or object on either
// side, a facet with derived facets or links, reactions to check, a rich
// text face without a state, or any value these checks cannot judge
// exactly as the hook would. What must stay true: it finishes a change
// only where the whole hook would have done exactly the same.
#include "gui/face_change.h"

#include "evaluator/stack.h"
#include "values/block.h"
#include "values/context.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::face_change {

namespace {

struct symbols {
  uint32_t system, view, reactivity, debug_q, auto_sync_q, relations, type, state;
  uint32_t extra, size, offset, pane, font, para, text, data, selected, rich_text, window;
  Cell show, update;
};

uint32_t canonical_of(const char* name) { return symbol::resolve(symbol::make(name)); }

// Made on the first change, before any value is read: interning allocates.
const symbols& names() {
  static const symbols s = [] {
    symbols n{};
    n.system = canonical_of("system");
    n.view = canonical_of("view");
    n.reactivity = canonical_of("reactivity");
    n.debug_q = canonical_of("debug?");
    n.auto_sync_q = canonical_of("auto-sync?");
    n.relations = canonical_of("relations");
    n.type = canonical_of("type");
    n.state = canonical_of("state");
    n.extra = canonical_of("extra");
    n.size = canonical_of("size");
    n.offset = canonical_of("offset");
    n.pane = canonical_of("pane");
    n.font = canonical_of("font");
    n.para = canonical_of("para");
    n.text = canonical_of("text");
    n.data = canonical_of("data");
    n.selected = canonical_of("selected");
    n.rich_text = canonical_of("rich-text");
    n.window = canonical_of("window");
    n.show = word::make_global(symbol::make("show"));
    n.update = word::make_global(symbol::make("update"));
    return n;
  }();
  return s;
}

// The field's value, or null when the value is not an object or has no such
// field. Valid until the next allocation. Objects of one shape keep a field
// in the same slot, so the slot where it was found last is tried first.
const Cell* field(const Cell* object, uint32_t sym, uint32_t& last_slot) {
  if (!object || TYPE_OF(object) != TYPE_OBJECT) return nullptr;
  node_t ctx = object->w1;
  if (last_slot < context::size(ctx) && symbol::resolve(context::word_at(ctx, last_slot)->w2) == sym)
    return context::values(ctx) + last_slot;
  int32_t i = context::find_word(ctx, sym, true);
  if (i < 0) return nullptr;
  last_slot = uint32_t(i);
  return context::values(ctx) + i;
}

// The slots last found, one for each field read.
struct {
  uint32_t view, reactivity, debug_q, auto_sync_q, relations, type, state, pane;
} slots;

// What a condition makes of a value: no (none, false), yes, or unknown
// (unset, which conditions treat in their own ways).
enum class truth { no, yes, unknown };
truth truth_of(const Cell* v) {
  if (!v) return truth::unknown;
  switch (TYPE_OF(v)) {
    case TYPE_NONE: return truth::no;
    case TYPE_LOGIC: return v->w1 ? truth::yes : truth::no;
    case TYPE_UNSET: return truth::unknown;
    default: return truth::yes;
  }
}

// Values that are neither series nor objects, so that the hook never moves
// their ownership (everything else takes the whole hook).
bool plain_value(const Cell* v) {
  switch (TYPE_OF(v)) {
    case TYPE_UNSET: case TYPE_NONE: case TYPE_LOGIC: case TYPE_CHAR: case TYPE_INTEGER:
    case TYPE_FLOAT: case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE: case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_PAIR:
    case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_DATE: case TYPE_MONEY:
    case TYPE_POINT2D: case TYPE_POINT3D: case TYPE_HANDLE:
      return true;
    default:
      return false;
  }
}

inline Cell* arg(int i) { return stack::arguments + i; }

// face word old new: the face's own change, as its hook receives it.
void quick_face_change() {
  const symbols& n = names();
  const Cell yes = make_logic(true), done = make_none();
  Cell* result = arg(0);
  const Cell* face = arg(0);
  const Cell* old_value = arg(2);
  const Cell* new_value = arg(3);
  uint32_t word = word::canonical(arg(1));

  const Cell* system = context::get_global_value(n.system);
  const Cell* view = field(system, n.view, slots.view);
  if (truth_of(field(view, n.debug_q, slots.debug_q)) != truth::no) return void(*result = yes);

  if (word == n.state || word == n.extra) return void(*result = done);
  if (word == n.size || word == n.offset) {
    // Only pairs are judged here: other values compare by their own rules
    if (TYPE_OF(old_value) != TYPE_PAIR || TYPE_OF(new_value) != TYPE_PAIR)
      return void(*result = yes);
    if (old_value->w2 == new_value->w2 && old_value->w3 == new_value->w3)
      return void(*result = done);
  }
  if (word == n.pane || word == n.font || word == n.para || word == n.text || word == n.data ||
      word == n.selected || !plain_value(old_value) || !plain_value(new_value))
    return void(*result = yes);

  const Cell* relations = field(field(system, n.reactivity, slots.reactivity), n.relations, slots.relations);
  if (!relations || TYPE_OF(relations) != TYPE_BLOCK || !block::rs_tail_q(relations))
    return void(*result = yes);

  const Cell* state = field(face, n.state, slots.state);
  const Cell* type = field(face, n.type, slots.type);
  if (!state || !type) return void(*result = yes);
  switch (truth_of(state)) {
    case truth::unknown: return void(*result = yes);
    case truth::no:
      if (TYPE_OF(type) == TYPE_WORD) {
        *result = word::canonical(type) == n.rich_text ? yes : done;
        return;
      }
      *result = word::is_word_type(TYPE_OF(type)) ? yes : done;
      return;
    case truth::yes: break;
  }
  if (TYPE_OF(state) != TYPE_BLOCK) return void(*result = done);

  // Marks the facet's change flag in the state block, quietly
  Cell block = *state;
  int32_t slot = context::find_word(face->w1, word, true);
  if (block::rs_length(&block) < 2 || slot < 0 || slot > 30) return void(*result = yes);
  Cell* items = block::rs_head(&block);
  if (TYPE_OF(items + 1) != TYPE_INTEGER) return void(*result = yes);
  truth handle = truth_of(items), sync = truth_of(field(view, n.auto_sync_q, slots.auto_sync_q));
  if (handle == truth::unknown || (handle == truth::yes && sync == truth::unknown))
    return void(*result = yes);
  items[1].w2 |= 1u << slot;
  if (handle == truth::no || sync == truth::no) return void(*result = done);

  // `show` of a face with no pane, no waiting deep changes and no window of
  // its own only hands it to the backend's update-view: so does the caller
  const Cell* pane = field(face, n.pane, slots.pane);
  Cell pending = block::rs_length(&block) > 2 ? items[2] : make_none();
  bool only_update = pane && TYPE_OF(pane) != TYPE_BLOCK && TYPE_OF(type) == TYPE_WORD &&
                     word::canonical(type) != n.window &&
                     (TYPE_OF(&pending) == TYPE_NONE ||
                      (TYPE_OF(&pending) == TYPE_BLOCK && block::rs_tail_q(&pending)));
  *result = only_update ? n.update : n.show;
}

}  // namespace

std::span<const boot::routine_entry> routines() {
  static constexpr boot::routine_entry TABLE[] = {
      {"quick-face-change*",
       R"spec("Internal Use Only" face [object!] word [any-word!] old [any-type!]
          new [any-type!] return: [word! logic! none!])spec",
       quick_face_change},
  };
  return TABLE;
}

}  // namespace kez::gui::face_change
