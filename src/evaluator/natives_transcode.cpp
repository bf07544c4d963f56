// The transcode native: UTF-8 source (a binary!, or a string! converted
// first) to values through the lexer, with its scan modes and callback.
//
// The source argument is the cell the scan reads its positions from: the
// byte-order mark of a binary is skipped by moving that cell's head, and
// /next answers the input positioned after what was consumed.
#include <algorithm>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/lexer.h"
#include "values/block.h"
#include "values/error_ids.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// Units of the series from its head to its tail (bytes or characters).
uint32_t units_left(const Cell* series) {
  series_buffer* b = GET_BUFFER(series);
  uint32_t unit = TYPE_OF(series) == TYPE_BINARY ? 1 : b->unit();
  uint32_t total = b->used() / unit;
  return series->w1 < total ? total - series->w1 : 0;
}

}  // namespace

void transcode_star(bool, const int32_t* refs) {
  bool next = refs[0] >= 0, one = refs[1] >= 0, prescan = refs[2] >= 0, scan = refs[3] >= 0;
  Cell* src = arg(0);
  int32_t part = -1;
  if (refs[4] >= 0) {
    Cell length = *arg(refs[4]);
    if (TYPE_OF(&length) == TYPE_INTEGER) {
      part = std::max(get_integer(&length), 0);
    } else {
      if (TYPE_OF(&length) != TYPE_OF(src)) fire(err::SCRIPT, err::script::NOT_SAME_TYPE, &length);
      part = length.w1 > src->w1 ? int32_t(length.w1 - src->w1) : 0;
    }
  }
  Cell* into = refs[5] >= 0 ? arg(refs[5]) : nullptr;
  Cell* callback = refs[6] >= 0 ? arg(refs[6]) : nullptr;
  if (TYPE_OF(src) == TYPE_BINARY && units_left(src) >= 3) {
    const uint8_t* p = GET_BUFFER(src)->head_ptr() + src->w1;
    if (p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
      src->w1 += 3;
      if (part >= 0) part = std::max(part - 3, 0);
    }
  }
  lexer::scan_options options;
  options.one = next || one || scan;
  options.load_values = !prescan;
  options.not_scan = !scan;
  options.wrap = next;
  options.callback = callback;
  options.source = src;
  options.into = into;
  Cell* dst = stack::push_unset();
  uint32_t consumed = 0;
  int32_t type = lexer::scan_string(dst, src, part, options, &consumed);
  if (stack::pending()) return;
  Cell result;
  if (prescan || scan) {
    result = type > 0 ? make_datatype(uint32_t(type)) : make_none();
  } else if (next) {
    Cell rest = *src;
    rest.w1 += consumed;
    Cell* out = dst;
    if (into) {
      out = block::push_only(2);
      block::rs_append(out, into);
    }
    block::rs_append(out, &rest);
    result = *out;
  } else if (into) {
    result = *into;
  } else {
    result = *dst;
  }
  *arg(0) = result;
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
