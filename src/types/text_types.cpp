// tag!, email! and ref!: their text forms, the rows of actions they take
// from string!, and the `user` and `host` paths of an e-mail address.
//
// An address's user part runs from the head to the first "@" (the whole
// text when there is none) and its host part from after that "@" to the
// tail. Setting the host of an address without "@" appends "@" first, so a
// path never addresses text past the tail.
#include "types/text_types.h"

#include <algorithm>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/words.h"

namespace kez {

namespace tag {

namespace {

int32_t form(const Cell* value, Cell* out, int32_t part) {
  string::append_char(out->w2, '<');
  part = string::form(value, out, part - 1);
  string::append_char(out->w2, '>');
  return part;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return form(value, out, part);
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.random = UNSUPPORTED;
  r.form = form;
  r.mold = mold;
  r.sort = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_TAG, TYPE_STRING, "tag!", ROW); }

}  // namespace tag

namespace email {

namespace {

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  return string::form(value, out, part);
}

[[noreturn]] void invalid_path(const path_step& step, const Cell& element) {
  Cell path = step.path ? *step.path : element, el = element;
  fire(err::SCRIPT, err::script::INVALID_PATH, &path, &el);
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell element = *step.element;
  if (TYPE_OF(&element) == TYPE_INTEGER) return actions::peek_eval_path(TYPE_STRING)(step, out);
  if (TYPE_OF(&element) != TYPE_WORD) invalid_path(step, element);
  uint32_t name = symbol::resolve(element.w2);
  bool user = name == symbol::resolve(words::user);
  if (!user && name != symbol::resolve(words::host)) invalid_path(step, element);

  Cell* address = stack::push(*step.parent);
  uint32_t head = std::min(address->w1, string::rs_abs_length(address));
  address->w1 = head;
  uint32_t length = string::rs_length(address);
  int32_t at = string::find_char(address, '@');
  uint32_t split = at < 0 ? length : uint32_t(at);
  if (!step.value) {
    uint32_t from = user ? head : head + split + 1;
    uint32_t count = user ? split : at < 0 ? 0 : length - split - 1;
    *out = make_unset();
    node_t node = series::copy_range(address, from, count);
    *out = make_series(TYPE_STRING, node);
  } else {
    Cell* target = stack::push(*address);
    Cell* value = stack::push(*step.value);
    int32_t part;
    if (user) {
      part = int32_t(split);
    } else if (at < 0) {
      string::append_char(address->w2, '@');
      target->w1 = head + length + 1;
      part = 0;
    } else {
      target->w1 = head + split + 1;
      part = int32_t(length - split - 1);
    }
    string::change(target, value, part, false, 1);
    *out = *value;
  }
  stack::top = address;
  return out;
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.random = UNSUPPORTED;
  r.mold = mold;
  r.eval_path = eval_path;
  r.sort = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_EMAIL, TYPE_STRING, "email!", ROW); }

}  // namespace email

namespace ref {

namespace {

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  string::append_char(out->w2, '@');
  return string::form(value, out, part - 1);
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.random = UNSUPPORTED;
  r.mold = mold;
  r.eval_path = UNSUPPORTED;
  r.append = UNSUPPORTED;
  r.put = UNSUPPORTED;
  r.sort = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_REF, TYPE_STRING, "ref!", ROW); }

}  // namespace ref

}  // namespace kez
