// The datatype registry: for every type id its name, the word of that name,
// and its row of the action table (values/../evaluator/actions.h).
//
// A row is complete when it is registered: inherited slots are copied from
// the parent's row at that moment, so parents register before children and
// later changes to a parent never reach its children.
#pragma once
#include <cstdint>
#include <string_view>

#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::datatype {

struct type_name_entry {
  const char* name = nullptr;  // with its "!"
  uint32_t length = 0;         // without the "!"
  Cell word{TYPE_UNSET, 0, 0, 0};  // word! of the name, once words exist
};

extern type_name_entry names[TYPE_COUNT];
extern uint32_t highest_id;

// Registers a type with its parent (0 for none) and its row.
void register_type(uint32_t id, uint32_t parent, const char* name, const action_row& row);

// The count check of a registration list: anything but 62 prints the three
// "*** Datatype Error" lines and ends the process with status 1.
void check_action_count(uint32_t id, int32_t count);

// Makes the word of every registered name (once contexts exist).
void build_names();

inline std::string_view name_of(uint32_t type) {
  return {names[type].name ? names[type].name : "", names[type].name ? names[type].length + 1 : 0};
}

// Sets the type's row slot directly (start-up wiring of late types).
void set_action(uint32_t type, int action, actions::generic_fn fn);

}  // namespace kez::datatype
