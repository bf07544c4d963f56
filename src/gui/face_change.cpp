// The quick road of the face's change hook.
//
// Every facet set runs the face's `on-change*`, and the layout dialect sets
// many facets of faces that are not shown yet. Most of those changes only
// move the ownership of a series or object, set a change flag, or do
// nothing at all, once the hook's checks have run; in Kez those checks cost
// several times the set itself. `quick-face-change*` makes them in one call
// and finishes such a change itself. It answers none when the change is
// done, `update` or `show` when the face is to be synchronised now (a shown
// face with auto-sync on), and true when the whole hook (`on-face-change*`)
// must run: traces on, a pane, font, para, data or selected facet, the text
// of a field or text, reactions of the face to check, a rich text without a state, a
// value of another kind than block, string, object or the plain ones, or
// anything these checks cannot judge exactly as the hook would. What must
// stay true: it finishes a change only where the whole hook would have done
// exactly the same, and it changes nothing before it has decided.
#include "gui/face_change.h"

#include "evaluator/stack.h"
#include "values/block.h"
#include "values/context.h"
#include "values/ownership.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::gui::face_change {

namespace {

struct symbols {
  uint32_t view, reactivity, debug_q, auto_sync_q, relations, type, state;
  uint32_t extra, size, offset, pane, font, para, text, data, selected, rich_text, window;
  uint32_t field, edge, actors;
  Cell show, update;
  // `system` as the global context holds it: its slot never changes.
  Cell system_word;
};

uint32_t canonical_of(const char* name) { return symbol::resolve(symbol::make(name)); }

// Made on the first change, before any value is read: interning allocates.
const symbols& names() {
  static const symbols s = [] {
    symbols n{};
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
    n.field = canonical_of("field");
    n.edge = canonical_of("edge");
    n.actors = canonical_of("actors");
    n.show = word::make_global(symbol::make("show"));
    n.update = word::make_global(symbol::make("update"));
    n.system_word = word::make_global(symbol::make("system"));
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

// How the hook treats a value's ownership: not at all, as a series or an
// object it owns, or beyond these checks (the whole hook decides).
enum class owned { no, series, object, other };
owned owned_kind(const Cell* v) {
  if (plain_value(v)) return owned::no;
  switch (TYPE_OF(v)) {
    case TYPE_BLOCK: case TYPE_STRING: return owned::series;
    case TYPE_OBJECT: return owned::object;
    default: return owned::other;
  }
}

inline Cell* arg(int i) { return stack::arguments + i; }

// True unless the registry of reactive relations (records of four: source
// object, field, reaction, target) surely holds none whose source is this
// face, so that checking its reactions would find nothing to run.
bool has_relations(const Cell* relations, const Cell* face) {
  if (TYPE_OF(relations) != TYPE_BLOCK) return true;
  Cell list = *relations;
  int32_t n = block::rs_length(&list);
  if (n % 4) return true;
  const Cell* record = block::rs_head(&list);
  for (int32_t i = 0; i < n; i += 4) {
    if (TYPE_OF(record + i) == TYPE_OBJECT && record[i].w1 == face->w1) return true;
  }
  return false;
}

enum class road { whole, done, show, update };

// Judges the change; marks the face's change flag where the hook would.
// Changes nothing else, allocates nothing.
road judge(const symbols& n, const Cell* face, uint32_t word, const Cell* old_value,
           const Cell* new_value, bool& owns) {
  const Cell* system = word::get_value_or_null(&n.system_word);
  const Cell* view = field(system, n.view, slots.view);
  if (truth_of(field(view, n.debug_q, slots.debug_q)) != truth::no) return road::whole;

  if (word == n.state || word == n.extra) return road::done;
  uint32_t old_type = TYPE_OF(old_value), new_type = TYPE_OF(new_value);
  if (word == n.size || word == n.offset) {
    // Pairs and none are judged here: other values compare by their own rules
    if (old_type == TYPE_PAIR && new_type == TYPE_PAIR) {
      if (old_value->w2 == new_value->w2 && old_value->w3 == new_value->w3) return road::done;
    } else if ((old_type == TYPE_NONE) == (new_type == TYPE_NONE)) {
      return road::whole;
    }
  }
  owned old_kind = owned_kind(old_value), new_kind = owned_kind(new_value);
  if (word == n.pane || word == n.font || word == n.para || word == n.data ||
      word == n.selected || old_kind == owned::other || new_kind == owned::other)
    return road::whole;
  owns = old_kind != owned::no || new_kind != owned::no;

  const Cell* relations =
      field(field(system, n.reactivity, slots.reactivity), n.relations, slots.relations);
  if (!relations || has_relations(relations, face)) return road::whole;

  const Cell* state = field(face, n.state, slots.state);
  const Cell* type = field(face, n.type, slots.type);
  if (!state || !type) return road::whole;
  // The text of a field or a text derives its data
  if (word == n.text && (TYPE_OF(type) != TYPE_WORD || word::canonical(type) == n.field ||
                         word::canonical(type) == n.text))
    return road::whole;
  switch (truth_of(state)) {
    case truth::unknown: return road::whole;
    case truth::no:
      if (TYPE_OF(type) == TYPE_WORD)
        return word::canonical(type) == n.rich_text ? road::whole : road::done;
      return word::is_word_type(TYPE_OF(type)) ? road::whole : road::done;
    case truth::yes: break;
  }
  if (TYPE_OF(state) != TYPE_BLOCK) return road::done;

  // Marks the facet's change flag in the state block, quietly
  Cell block = *state;
  int32_t slot = context::find_word(face->w1, word, true);
  if (block::rs_length(&block) < 2 || slot < 0 || slot > 30) return road::whole;
  Cell* items = block::rs_head(&block);
  if (TYPE_OF(items + 1) != TYPE_INTEGER) return road::whole;
  truth handle = truth_of(items), sync = truth_of(field(view, n.auto_sync_q, slots.auto_sync_q));
  if (handle == truth::unknown || (handle == truth::yes && sync == truth::unknown))
    return road::whole;
  items[1].w2 |= 1u << slot;
  if (handle == truth::no || sync == truth::no) return road::done;

  // `show` of a face with no pane, no waiting deep changes and no window of
  // its own only hands it to the backend's update-view: so does the caller
  const Cell* pane = field(face, n.pane, slots.pane);
  Cell pending = block::rs_length(&block) > 2 ? items[2] : make_none();
  bool only_update = pane && TYPE_OF(pane) != TYPE_BLOCK && TYPE_OF(type) == TYPE_WORD &&
                     word::canonical(type) != n.window &&
                     (TYPE_OF(&pending) == TYPE_NONE ||
                      (TYPE_OF(&pending) == TYPE_BLOCK && block::rs_tail_q(&pending)));
  return only_update ? road::update : road::show;
}

// The old value loses its owner; the new one is owned by the face under the
// facet's word, except in the facets that hold shared objects (edge,
// actors). A block replaced by another position of its own series keeps
// its owner.
void move_ownership(const symbols& n, uint32_t word) {
  Cell face = *arg(0), old_value = *arg(2), new_value = *arg(3);
  Cell w{TYPE_WORD, arg(1)->w1, arg(1)->w2, arg(1)->w3};
  owned old_kind = owned_kind(&old_value), new_kind = owned_kind(&new_value);
  if (old_kind == owned::series && new_kind == owned::series &&
      TYPE_OF(&old_value) == TYPE_BLOCK && TYPE_OF(&new_value) == TYPE_BLOCK &&
      old_value.w2 == new_value.w2)
    return;
  if (old_kind != owned::no) ownership::unbind(&old_value);
  if (new_kind == owned::no || word == n.edge || word == n.actors) return;
  ownership::unbind(&new_value);
  if (new_kind == owned::series) ownership::set_owner(&new_value, &face, &w);
  else ownership::bind(&new_value, &face, &w);
}

// face word old new: the face's own change, as its hook receives it.
void quick_face_change() {
  const symbols& n = names();
  uint32_t word = word::canonical(arg(1));
  bool owns = false;
  road r = judge(n, arg(0), word, arg(2), arg(3), owns);
  if (r != road::whole && owns) move_ownership(n, word);
  switch (r) {
    case road::whole: *arg(0) = make_logic(true); break;
    case road::done: *arg(0) = make_none(); break;
    case road::show: *arg(0) = n.show; break;
    case road::update: *arg(0) = n.update; break;
  }
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
