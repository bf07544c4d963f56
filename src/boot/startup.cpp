// Start-up: the runtime's initialisation in its fixed order.
//
// The order matters: the value stack exists before the first context (its
// makers keep values under construction on it); datatypes register before
// the action table is used; the symbol table and global context exist
// before any word is made; the predefined words before the natives.
#include "boot/startup.h"

#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "foundation/collector.h"
#include "foundation/handles.h"
#include "foundation/memory.h"
#include "foundation/print.h"
#include "foundation/slot_table.h"
#include "services/random.h"
#include "types/binary.h"
#include "types/date.h"
#include "types/hash.h"
#include "types/image.h"
#include "types/handle.h"
#include "types/map.h"
#include "types/text_types.h"
#include "types/time.h"
#include "types/vector.h"
#include "types/money.h"
#include "types/pair.h"
#include "types/percent.h"
#include "types/point.h"
#include "types/port.h"
#include "types/tuple.h"
#include "values/block.h"
#include "values/bitset.h"
#include "values/char.h"
#include "values/context.h"
#include "values/error.h"
#include "values/file.h"
#include "values/float.h"
#include "values/function.h"
#include "values/integer.h"
#include "values/native.h"
#include "values/object.h"
#include "values/ownership.h"
#include "values/path.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/simple_types.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/url.h"
#include "values/typeset.h"
#include "values/word.h"
#include "values/word_types.h"
#include "values/words.h"

namespace kez::boot {

namespace {

struct type_entry {
  uint32_t id;
  uint32_t parent;
  const char* name;
  void (*init)();  // nullptr: not built yet, registered with an empty row
};

// Registration order: parents before children.
constexpr type_entry TYPES[] = {
    {TYPE_DATATYPE, 0, "datatype!", datatype::init},
    {TYPE_UNSET, 0, "unset!", unset::init},
    {TYPE_NONE, 0, "none!", none::init},
    {TYPE_LOGIC, 0, "logic!", logic::init},
    {TYPE_SERIES, 0, "series!", series::init},
    {TYPE_BLOCK, TYPE_SERIES, "block!", block::init},
    {TYPE_STRING, TYPE_SERIES, "string!", string::init},
    {TYPE_BINARY, TYPE_STRING, "binary!", binary::init},
    {TYPE_INTEGER, 0, "integer!", integer::init},
    {TYPE_SYMBOL, 0, "symbol!", symbol::init_type},
    {TYPE_CONTEXT, 0, "context!", context::init_type},
    {TYPE_WORD, TYPE_SYMBOL, "word!", word::init},
    {TYPE_LIT_WORD, TYPE_WORD, "lit-word!", lit_word::init},
    {TYPE_SET_WORD, TYPE_WORD, "set-word!", set_word::init},
    {TYPE_GET_WORD, TYPE_WORD, "get-word!", get_word::init},
    {TYPE_REFINEMENT, TYPE_WORD, "refinement!", refinement::init},
    {TYPE_CHAR, TYPE_INTEGER, "char!", char_::init},
    {TYPE_NATIVE, 0, "native!", native::init},  // also action! and op!
    {TYPE_PATH, TYPE_BLOCK, "path!", path::init},
    {TYPE_LIT_PATH, TYPE_PATH, "lit-path!", lit_path::init},
    {TYPE_SET_PATH, TYPE_PATH, "set-path!", set_path::init},
    {TYPE_GET_PATH, TYPE_PATH, "get-path!", get_path::init},
    {TYPE_FUNCTION, TYPE_CONTEXT, "function!", function::init},
    {TYPE_ROUTINE, TYPE_FUNCTION, "routine!", routine::init},
    {TYPE_PAREN, TYPE_BLOCK, "paren!", paren::init},
    {TYPE_ISSUE, TYPE_WORD, "issue!", issue::init},
    {TYPE_URL, TYPE_STRING, "url!", url::init},
    {TYPE_FILE, TYPE_URL, "file!", file::init},
    {TYPE_OBJECT, 0, "object!", object::init},
    {TYPE_BITSET, 0, "bitset!", bitset::init},
    {TYPE_TRIPLE, 0, "triple!", triple::init},
    {TYPE_FLOAT, 0, "float!", float_::init},
    {TYPE_TYPESET, 0, "typeset!", typeset::init},
    {TYPE_ERROR, TYPE_OBJECT, "error!", error::register_type},
    {TYPE_VECTOR, TYPE_STRING, "vector!", vector::init},
    {TYPE_MAP, 0, "map!", map::init},
    {TYPE_HASH, TYPE_BLOCK, "hash!", hash::init},
    {TYPE_PAIR, 0, "pair!", pair::init},
    {TYPE_PERCENT, TYPE_FLOAT, "percent!", percent::init},
    {TYPE_TUPLE, 0, "tuple!", tuple::init},
    {TYPE_TIME, TYPE_FLOAT, "time!", time::init},
    {TYPE_TAG, TYPE_STRING, "tag!", tag::init},
    {TYPE_EMAIL, TYPE_STRING, "email!", email::init},
    {TYPE_HANDLE, TYPE_INTEGER, "handle!", handle::init},
    {TYPE_DATE, 0, "date!", date::init},
    {TYPE_PORT, TYPE_OBJECT, "port!", port::init},
    {TYPE_MONEY, 0, "money!", money::init},
    {TYPE_REF, TYPE_STRING, "ref!", ref::init},
    {TYPE_POINT2D, 0, "point2D!", point2D::init},
    {TYPE_POINT3D, 0, "point3D!", point3D::init},
    {TYPE_IMAGE, TYPE_SERIES, "image!", image::init},
    // By name only, so that the word and the typesets know it from the
    // start: the GUI layer's boot phase registers its actions.
    {TYPE_EVENT, 0, "event!", nullptr},
};

void register_datatypes() {
  for (const auto& t : TYPES) {
    if (t.init) t.init();
    else datatype::register_type(t.id, t.parent, t.name, unsupported_row());
  }
}

// Each datatype's name becomes a global word whose value is the datatype.
void build_names() {
  for (uint32_t id = 1; id <= datatype::highest_id; id++) {
    if (!datatype::names[id].name) continue;
    Cell w = word::make_global(symbol::make(datatype::names[id].name));
    datatype::names[id].word = w;
    Cell dt = make_datatype(id);
    word::set(&w, &dt);
  }
}

}  // namespace

void init_runtime() {
  hooks::init();
  random::init();  // also fixes the hash seed, before anything is hashed
  memory::init();
  collector::init();
  handles::init();
  register_datatypes();
  actions::init();
  memory::alloc_node_frame(memory::NODES_PER_FRAME);
  memory::alloc_series_frame();
  stack::init();
  symbol::init();
  context::init();
  words::build();
  words::build_refinements();
  build_names();
  natives::init();
  ownership::init();
  interpreter::init();
  trace::init();
  slot_table::init();
  error::init();
}


}  // namespace kez::boot
