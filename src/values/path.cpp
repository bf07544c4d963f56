// path!, lit-path!, set-path!, get-path! and paren!: block-like series that
// differ from block! in their type, their evaluation and their text.
//
// They share the block cell and storage and inherit most block actions
// through the registry (parents before children: block!, path!, then the
// other path kinds; paren! under block!). A path molds its elements joined
// by "/" with its kind's prefix or suffix; writing a path that contains
// itself prints the recursion guard's marker instead of looping.
#include "values/path.h"

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/cycles.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/support.h"

namespace kez {

namespace path {

Cell* push(const Cell* b, uint32_t type) {
  Cell* c = stack::push(b);
  set_type(c, type);
  return c;
}

Cell* make_at(Cell* cell, int32_t capacity) {
  block::make_at(cell, capacity < 1 ? 1 : capacity);
  cell->header = TYPE_PATH;
  return cell;
}

namespace {

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  uint32_t st = TYPE_OF(spec);
  if (block::is_block_type(st)) return block::make(proto, spec, type);
  if (st == TYPE_INTEGER || st == TYPE_FLOAT || st == TYPE_PERCENT) {
    int32_t n = support::number_to_integer(spec);
    make_at(proto, n);
    proto->header = type;
    return proto;
  }
  Cell dt = make_datatype(type), s = *spec;
  fire(err::SCRIPT, err::script::BAD_MAKE_ARG, &dt, &s);
}

Cell* to(Cell* proto, const Cell* spec, uint32_t type) {
  uint32_t st = TYPE_OF(spec);
  if (st == TYPE_OBJECT || st == TYPE_TYPESET || st == TYPE_MAP) {
    Cell v = *spec;
    Cell* out = block::push_only(1);
    block::rs_append(out, &v);
    Cell r = *out;
    r.header = type;
    stack::pop(1);
    *proto = r;
    return proto;
  }
  block::to(proto, spec, type);
  set_type(proto, type);
  return proto;
}

// The elements joined by "/"; with a budget in force the walk stops once
// it falls below 1.
int32_t write_elements(const Cell* value, Cell* out, bool mold, bool all, bool flat,
                       int32_t part, int32_t indent) {
  Cell p = *value;
  cycles::guard guard;
  cycles::push(p.w2);
  for (uint32_t i = 0;; i++) {
    int32_t n = block::rs_length(&p);
    if (int32_t(i) >= n || part < 1) break;
    if (i > 0) part -= string::append_literal(out, "/");
    Cell e = block::rs_head(&p)[i];
    part = mold ? actions::mold(&e, out, false, all, flat, part, indent)
                : actions::form(&e, out, part);
  }
  cycles::pop();
  return part;
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  if (cycles::detect(value, out, part, false)) return part;
  return write_elements(value, out, false, false, false, part, 0);
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (cycles::detect(value, out, part, true)) return part;
  uint32_t t = TYPE_OF(value);
  if (t == TYPE_LIT_PATH) part -= string::append_literal(out, "'");
  else if (t == TYPE_GET_PATH) part -= string::append_literal(out, ":");
  part = write_elements(value, out, true, all, flat, part, indent);
  if (t == TYPE_SET_PATH) part -= string::append_literal(out, ":");
  return part;
}

constexpr action_row PATH_ACTIONS = [] {
  action_row r;
  r.make = make;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.copy = block::copy;
  r.random = UNSUPPORTED;
  r.set_path = UNSUPPORTED;
  r.sort = UNSUPPORTED;
  return r;
}();

constexpr action_row PATH_KIND_ACTIONS = [] {
  action_row r;
  r.mold = mold;
  r.random = UNSUPPORTED;
  r.set_path = UNSUPPORTED;
  r.sort = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_PATH, TYPE_BLOCK, "path!", PATH_ACTIONS); }

}  // namespace path

namespace lit_path {
void init() {
  datatype::register_type(TYPE_LIT_PATH, TYPE_PATH, "lit-path!", path::PATH_KIND_ACTIONS);
}
}  // namespace lit_path

namespace set_path {
void init() {
  datatype::register_type(TYPE_SET_PATH, TYPE_PATH, "set-path!", path::PATH_KIND_ACTIONS);
}
}  // namespace set_path

namespace get_path {
void init() {
  datatype::register_type(TYPE_GET_PATH, TYPE_PATH, "get-path!", path::PATH_KIND_ACTIONS);
}
}  // namespace get_path

namespace paren {

Cell* push(const Cell* b) { return path::push(b, TYPE_PAREN); }

namespace {

// True when the paren's text from `start` (after its "(") would open a
// point literal: values whose own text holds a comma (an issue such as
// #a,) can start a paren only at the price of reading back as a point.
bool reads_as_point(const Cell* out, uint32_t start) {
  uint32_t end = string::rs_abs_length(out);
  for (uint32_t i = start; i < end; i++) {
    uint32_t c = string::rs_abs_at(out, i);
    if (!lexer::in_point_set(c)) return c == ',';
  }
  return false;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t part,
             int32_t indent) {
  if (cycles::detect(value, out, part, true)) return part;
  if (!only) part -= string::append_literal(out, "(");
  uint32_t start = string::rs_abs_length(out);
  part = block::mold_each(value, out, only, all, flat, part, indent);
  if (!only) part -= string::append_literal(out, ")");
  if (all && !only && part > 0 && reads_as_point(out, start)) {
    Cell v = *value;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  return part;
}

constexpr action_row PAREN_ACTIONS = [] {
  action_row r;
  r.mold = mold;
  r.set_path = UNSUPPORTED;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_PAREN, TYPE_BLOCK, "paren!", PAREN_ACTIONS); }

}  // namespace paren

}  // namespace kez
