// enbase and debase: text encodings of bytes in bases 2, 16, 58 and 64.
//
// Both size their result from the input before allocating it, then read
// the input again through its node (the allocation may have moved it) and
// run the encoder or decoder, which allocate nothing in a series frame.
#include <string>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/binary.h"
#include "values/error_ids.h"
#include "values/string.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// The /base argument (64 without it); another base raises script invalid-arg.
int32_t base_of(const int32_t* refs) {
  if (refs[0] < 0) return 64;
  const Cell* base = arg(refs[0]);
  int32_t b = get_integer(base);
  if (TYPE_OF(base) != TYPE_INTEGER || (b != 2 && b != 16 && b != 58 && b != 64)) {
    Cell v = *base;
    fire(err::SCRIPT, err::script::INVALID_ARG, &v);
  }
  return b;
}

}  // namespace

void enbase_star(bool, const int32_t* refs) {
  int32_t base = base_of(refs);
  Cell* value = arg(0);
  std::string utf8;
  uint32_t n;
  if (TYPE_OF(value) == TYPE_BINARY) {
    n = binary::rs_length(value);
  } else {
    utf8 = string::to_utf8(value);
    n = uint32_t(utf8.size());
  }
  uint64_t size = binary::encoded_size(base, n);
  if (size > MAX_SERIES_SIZE) fire(err::SCRIPT, err::script::TOO_LONG);
  stack::top = arg(0) + 1;
  Cell* out = string::push_new(uint32_t(size));
  const uint8_t* bytes = TYPE_OF(value) == TYPE_BINARY
                             ? binary::rs_head(value)
                             : reinterpret_cast<const uint8_t*>(utf8.data());
  series_buffer* b = GET_BUFFER(out);
  uint8_t* start = b->data();
  uint8_t* end = base == 2    ? binary::enbase_2(start, bytes, n)
                 : base == 16 ? binary::enbase_16(start, bytes, n)
                 : base == 58 ? binary::enbase_58(start, bytes, n)
                              : binary::enbase_64(start, bytes, n);
  b->tail = uint32_t(end - start);
  *arg(0) = *out;
  stack::top = arg(0) + 1;
}

void debase_star(bool, const int32_t* refs) {
  int32_t base = base_of(refs);
  Cell* value = arg(0);
  uint32_t n = string::rs_length(value);
  uint64_t size = binary::decoded_size(base, n);
  stack::top = arg(0) + 1;
  Cell* out = stack::push_unset();
  binary::make_at(out, uint32_t(size));
  uint32_t unit = GET_UNIT(value);
  const uint8_t* text = string::rs_head(value);
  uint8_t* into = GET_BUFFER(out)->data();
  int64_t count = base == 2    ? binary::debase_2(text, n, unit, into)
                  : base == 16 ? binary::debase_16(text, n, unit, into)
                  : base == 58 ? binary::debase_58(text, n, unit, into)
                               : binary::debase_64(text, n, unit, into);
  if (count < 0) {
    *arg(0) = make_none();
  } else {
    GET_BUFFER(out)->tail = uint32_t(count);
    *arg(0) = *out;
  }
  stack::top = arg(0) + 1;
}

}  // namespace kez::natives
