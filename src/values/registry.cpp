// The datatype registry.
#include "values/registry.h"

#include <cstring>

#include "foundation/print.h"
#include "foundation/runtime.h"

namespace kez {

namespace actions {
generic_fn table[TYPE_COUNT][ACTION_COUNT + 1];
}

namespace datatype {

type_name_entry names[TYPE_COUNT];
uint32_t highest_id = 0;
void (*make_name_word)(uint32_t type) = nullptr;

namespace {

// Every slot of a row has the same size, whatever its signature.
constexpr int32_t ROW_SLOTS = int32_t(sizeof(action_row) / sizeof(action_slot<make_fn>));
static_assert(ROW_SLOTS == ACTION_COUNT, "an action row holds exactly 62 slots");

template <class F>
void fill(uint32_t id, uint32_t parent, int slot, const action_slot<F>& s) {
  actions::generic_fn& entry = actions::table[id][slot];
  switch (s.mode) {
    case slot_mode::implemented: entry = reinterpret_cast<actions::generic_fn>(s.fn); break;
    case slot_mode::unsupported: entry = nullptr; break;
    case slot_mode::inherit: entry = parent ? actions::table[parent][slot] : nullptr; break;
  }
}

}  // namespace

void check_action_count(uint32_t id, int32_t count) {
  if (count == ACTION_COUNT) return;
  output::to_error_stream to_errors;
  print_line("*** Datatype Error: invalid actions count for type: ", int32_t(id));
  print_line("*** Found: ", count);
  print_line("*** Expected: ", int32_t(ACTION_COUNT));
  runtime::exit_process(1);
}

void register_type(uint32_t id, uint32_t parent, const char* name, const action_row& row) {
  if (id > highest_id) highest_id = id;
  names[id].name = name;
  names[id].length = uint32_t(std::strlen(name)) - 1;
  check_action_count(id, ROW_SLOTS);
#define KEZ_ACTION_FILL(slot, member, sig) fill(id, parent, slot, row.member);
  KEZ_ACTIONS(KEZ_ACTION_FILL)
#undef KEZ_ACTION_FILL
  if (make_name_word) make_name_word(id);
}

void set_action(uint32_t type, int action, actions::generic_fn fn) {
  actions::table[type][action] = fn;
}

}  // namespace datatype
}  // namespace kez
