// The routines behind the `kezbin` codec of system/codecs: `encode*` writes
// a value as an image, `decode` reads one back.
//
// `decode` refuses anything but a binary!, file! or url!, and a binary of
// 10 bytes or fewer from its position, before the reader is asked; an image
// of exactly one value answers that value, any other count a block.
#include "boot/routines.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/kezbin.h"
#include "values/block.h"
#include "values/error_ids.h"

namespace kez::kezbin {

namespace {

// An image is longer than its 8-byte header and two counts.
constexpr uint32_t MIN_IMAGE = 11;

inline Cell* arg(int i) { return stack::arguments + i; }

void encode_star() {
  Cell data = *arg(0);
  bool compact = arg(1)->w1 != 0;
  Cell* image = encode(&data, compact);
  *arg(0) = *image;
}

void decode_routine() {
  Cell payload = *arg(0);
  Cell* data = arg(0);
  uint32_t t = TYPE_OF(&payload);
  if (t == TYPE_FILE || t == TYPE_URL) {
    read_options o;
    o.binary = true;
    data = stack::push(payload);
    actions::get_read(data)(data, o);
    t = TYPE_OF(data);
  }
  if (t != TYPE_BINARY) fire(err::SCRIPT, err::script::INVALID_DATA, &payload);
  series_buffer* b = GET_BUFFER(data);
  uint32_t length = b->used() > data->w1 ? b->used() - data->w1 : 0;
  if (length < MIN_IMAGE) fire(err::SCRIPT, err::script::INVALID_DATA, &payload);
  Cell* into = block::push_only(1);
  // The reader copies the bytes before it allocates anything.
  decode(GET_BUFFER(data)->head_ptr() + data->w1, length, into, &payload);
  *arg(0) = block::rs_length(into) == 1 ? *block::rs_head(into) : *into;
}

constexpr boot::routine_entry ROUTINES[] = {
    {"_kezbin-encode", "data [any-type!] compact? [logic!]", encode_star},
    {"_kezbin-decode", "payload [any-type!]", decode_routine},
};

}  // namespace

void make_routines() { boot::define_routines(ROUTINES); }

}  // namespace kez::kezbin
