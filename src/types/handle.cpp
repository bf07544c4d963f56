// handle!: the text forms and comparison of platform handles.
//
// A handle forms as its value in eight hexadecimal digits and "h"; it molds
// as the plain word handle! unless molded for loading, where the value and
// its class name show. Handles compare by value (the class is ignored); any
// other value is simply different.
#include "types/handle.h"

#include <string_view>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "values/block.h"
#include "values/registry.h"
#include "values/string.h"

namespace kez::handle {

namespace {

// Names of the classes, by class number (class 0 has none).
constexpr std::string_view CLASS_NAMES[] = {"", "fd", "monitor", "window", "font", "rich-text"};
constexpr uint32_t CLASS_NAME_COUNT = sizeof CLASS_NAMES / sizeof CLASS_NAMES[0];

int32_t form(const Cell* value, Cell* out, int32_t part) {
  int32_t n = string::append_literal(out, string::to_hex(int32_t(value->w2), false));
  string::append_char(out->w2, 'h');
  return part - n - 1;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  if (!all) return part - string::append_literal(out, "handle!");
  part -= string::append_literal(out, "#[handle! ");
  part = form(value, out, part);
  uint32_t handle_class = value->w1;
  if (handle_class > 0 && handle_class < CLASS_NAME_COUNT) {
    string::append_char(out->w2, ' ');
    part -= 1 + string::append_literal(out, CLASS_NAMES[handle_class]);
  }
  string::append_char(out->w2, ']');
  return part - 1;
}

int32_t compare(const Cell* a, const Cell* b, int32_t) {
  if (TYPE_OF(b) != TYPE_HANDLE) return 1;
  auto x = int32_t(a->w2), y = int32_t(b->w2);
  return x == y ? 0 : x < y ? -1 : 1;
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.form = form;
  r.mold = mold;
  r.compare = compare;
  return r;
}();

}  // namespace

void box(uint32_t value, uint32_t handle_class) { *stack::arguments = make(value, handle_class); }

Cell* make_in(Cell* block, uint32_t value, uint32_t handle_class) {
  Cell h = make(value, handle_class);
  return block::rs_append(block, &h);
}

Cell* push(uint32_t value, uint32_t handle_class) { return stack::push(make(value, handle_class)); }

void init() { datatype::register_type(TYPE_HANDLE, TYPE_INTEGER, "handle!", ROW); }

}  // namespace kez::handle
