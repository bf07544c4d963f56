// image!: making, positions, pixel access by index, pair and path, copy
// and crop, change as a blit, comparison and the molded form.
//
// Every action that reaches the pixels goes through `live`, which refuses
// a released node with access bad-media before any pixel is read. Pixel
// buffers never move, but image nodes are series buffers and do: no record
// address is kept across an allocation, and bytes taken from a binary! are
// read only after the image they go into has been made.
#include "types/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boot/routines.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "gui/terminal/face_image.h"
#include "services/files.h"
#include "types/binary.h"
#include "types/image_backend.h"
#include "types/image_codecs.h"
#include "types/pair.h"
#include "types/tuple.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/file.h"
#include "values/integer.h"
#include "values/registry.h"
#include "values/series.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"
#include "values/words.h"

namespace kez::image {

namespace backend = image_backend;
namespace codecs = image_codecs;

namespace {

[[noreturn]] void bad_media() { fire(err::ACCESS, err::access::BAD_MEDIA); }
// The only codec whose library is opened on first use is TIFF's.
[[noreturn]] void no_library() {
  Cell w = word::make_global(symbol::make("tiff"));
  fire(err::INTERNAL, err::internal::NOT_HERE, &w);
}
[[noreturn]] void not_done() { fire(err::INTERNAL, err::internal::NOT_DONE); }
[[noreturn]] void invalid_arg(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}
[[noreturn]] void invalid_type(const Cell* value) {
  Cell dt = make_datatype(TYPE_OF(value));
  fire(err::SCRIPT, err::script::INVALID_TYPE, &dt);
}
[[noreturn]] void out_of_range(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::OUT_OF_RANGE, &v);
}
[[noreturn]] void bad_part(const Cell* part) {
  Cell w = word::make_global(words::part), p = *part;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &p);
}

// The image's node, refused when its pixels were released; 0 when it has
// none.
node_t live(const Cell* img) {
  if (img->w2 && backend::released(img->w2)) bad_media();
  return img->w2;
}

// The pixels of an image that has some (read them again after anything
// that can run code: the owner's handler may release them).
uint32_t* pixels(const Cell* img, bool write) {
  return backend::lock_bitmap(live(img), write).pixels;
}

uint32_t head_of(const Cell* img) { return std::min(img->w1, pixel_count(img)); }

void tell(const Cell* img, const Cell& word, const Cell* value, uint32_t index,
          uint32_t count) {
  if (img->w2) series::tell(img, word, value, int32_t(index), int32_t(count));
}

// An empty image of the size word (no pixels: width or height 0).
Cell* make_empty(Cell* cell, uint32_t size) {
  *cell = Cell{TYPE_IMAGE, 0, 0, size};
  return cell;
}

}  // namespace

Cell* make_at(Cell* cell, node_t node) {
  *cell = Cell{TYPE_IMAGE, 0, node, node ? backend::record(node)->size : 0};
  return cell;
}

Cell* push(node_t node) { return make_at(stack::push_unset(), node); }

Cell pixel_to_tuple(uint32_t pixel) {
  const uint8_t bytes[4] = {uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel),
                            uint8_t(255 - (pixel >> 24))};
  Cell t = make_none();
  tuple::make_at(&t, bytes, 4);
  return t;
}

uint32_t tuple_to_pixel(const Cell* t) {
  const uint8_t* b = tuple::bytes(t);
  uint8_t alpha = tuple::count(t) > 3 ? uint8_t(255 - b[3]) : 255;
  return backend::pixel_word(alpha, b[0], b[1], b[2]);
}

Cell get_pixel_tuple(const Cell* img, uint32_t index) {
  if (index >= pixel_count(img)) return make_none();
  return pixel_to_tuple(pixels(img, false)[index]);
}

namespace {

// --- positions ---------------------------------------------------------------------

struct position_t {
  uint32_t index;     // clamped to 0 .. pixel count
  bool out_of_range;
};

// An integer! or pair! as a pixel index from the head: one-based as pick,
// poke and at count, zero-based as skip does.
position_t position(const Cell* img, const Cell* at, bool one_based) {
  int64_t w = width(img), h = height(img), e = 0;
  bool outside = false;
  if (TYPE_OF(at) == TYPE_PAIR) {
    int64_t x = pair::x(at), y = pair::y(at);
    if (one_based) {
      e = y <= 0 ? x + w * y : x + w * (y - 1);
      outside = x > w || x <= 0 || y > h || y <= 0;
    } else {
      e = x + w * y;
      outside = x >= w || x < 0 || y >= h || y < 0;
    }
  } else {
    e = TYPE_OF(at) == TYPE_INTEGER ? get_integer(at) : actions::get_index_arg(at);
  }
  int64_t head = img->w1, count = w * h;
  int64_t index = one_based && e > 0 ? head + e - 1 : head + e;
  outside = outside || e == 0 || index < 0 || index >= count;
  return {uint32_t(std::clamp<int64_t>(index, 0, count)), outside};
}

position_t position_of_int(const Cell* img, int32_t n) {
  Cell at = make_integer(n);
  return position(img, &at, true);
}

// --- making ----------------------------------------------------------------------

// A size as make takes it: negative sides count as 0; sides or pixel bytes
// beyond what a node holds raise out-of-range with the size.
uint32_t size_word(const Cell* size) {
  int64_t w = std::max(pair::x(size), 0), h = std::max(pair::y(size), 0);
  if (!backend::size_ok(uint64_t(w), uint64_t(h))) out_of_range(size);
  return backend::make_size(uint32_t(w), uint32_t(h));
}

// An image of `size` filled from the optional rgb and alpha binaries or the
// colour tuple, made in `out`.
Cell* make_image(Cell* out, const Cell* size, const Cell* colour, const Cell* alpha) {
  uint32_t sw = size_word(size);
  uint32_t w = backend::IMAGE_WIDTH(sw), h = backend::IMAGE_HEIGHT(sw);
  if (w == 0 || h == 0) return make_empty(out, sw);
  Cell* held = stack::push(colour ? *colour : none_value);
  Cell* held_alpha = stack::push(alpha ? *alpha : none_value);
  *out = make_unset();
  node_t node = backend::make_node(w, h);
  make_at(out, node);
  if (TYPE_OF(held) == TYPE_TUPLE) {
    backend::fill(node, tuple_to_pixel(held));
  } else {
    // The binaries are read only now: making the node may move them.
    auto bytes = [](Cell* bin, uint32_t& n) -> const uint8_t* {
      n = 0;
      if (TYPE_OF(bin) != TYPE_BINARY) return nullptr;
      n = binary::rs_length(bin);
      return binary::rs_head(bin);
    };
    uint32_t rgb_len, alpha_len;
    const uint8_t* rgb = bytes(held, rgb_len);
    const uint8_t* a = bytes(held_alpha, alpha_len);
    backend::fill_rgb_alpha(node, rgb, rgb_len, a, alpha_len);
  }
  stack::pop(2);
  return out;
}

Cell* copy(Cell* img, Cell* out, const Cell* part, bool deep, const Cell* types);

// A face (the GUI layer's `face?` says so) becomes the backend's image of it.
bool is_face(const Cell* value) {
  Cell w = word::make_global(symbol::make("face?"));
  const Cell* fn = word::get_value_or_null(&w);
  if (!fn || TYPE_OF(fn) != TYPE_FUNCTION) return false;
  Cell* base = stack::top;
  Cell* code = block::push_only(2);
  block::rs_append(code, &w);
  block::rs_append(code, value);
  interpreter::eval_block(code, false);
  const Cell* r = stack::top_cell();
  bool yes = TYPE_OF(r) == TYPE_LOGIC && r->w1;
  stack::top = base;
  return yes;
}

Cell* to(Cell* proto, const Cell* spec_in, uint32_t) {
  Cell* spec = stack::push(*spec_in);
  if (TYPE_OF(spec) == TYPE_IMAGE) {
    copy(spec, proto, nullptr, false, nullptr);
  } else if (TYPE_OF(spec) == TYPE_OBJECT && is_face(spec)) {
    make_at(proto, gui::face_to_image(spec));
  } else {
    Cell dt = make_datatype(TYPE_IMAGE), v = *spec;
    fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
  }
  stack::pop(1);
  return proto;
}

Cell* make(Cell* proto, const Cell* spec_in, uint32_t type) {
  Cell spec = *spec_in;
  if (TYPE_OF(&spec) == TYPE_PAIR) return make_image(proto, &spec, nullptr, nullptr);
  if (TYPE_OF(&spec) != TYPE_BLOCK) return to(proto, &spec, type);
  int32_t n = block::rs_length(&spec);
  if (n <= 0) {
    if (TYPE_OF(proto) != TYPE_IMAGE) invalid_arg(&spec);
    Cell* source = stack::push(*proto);
    copy(source, proto, nullptr, false, nullptr);
    stack::pop(1);
    return proto;
  }
  Cell size = block::rs_head(&spec)[0];
  if (TYPE_OF(&size) != TYPE_PAIR) invalid_type(&size);
  Cell colour = n > 1 ? block::rs_head(&spec)[1] : none_value;
  Cell alpha = n > 2 ? block::rs_head(&spec)[2] : none_value;
  if (n > 1 && TYPE_OF(&colour) != TYPE_BINARY && TYPE_OF(&colour) != TYPE_TUPLE)
    invalid_arg(&colour);
  if (n > 2 && TYPE_OF(&alpha) != TYPE_BINARY) invalid_type(&alpha);
  return make_image(proto, &size, n > 1 ? &colour : nullptr, n > 2 ? &alpha : nullptr);
}

// --- head moves and length ------------------------------------------------------

Cell* at(Cell* img, const Cell* index) {
  live(img);
  if (TYPE_OF(index) != TYPE_INTEGER && TYPE_OF(index) != TYPE_PAIR) invalid_arg(index);
  img->w1 = position(img, index, true).index;
  return img;
}

Cell* skip(Cell* img, const Cell* offset) {
  live(img);
  if (TYPE_OF(offset) != TYPE_INTEGER && TYPE_OF(offset) != TYPE_PAIR) invalid_arg(offset);
  img->w1 = position(img, offset, false).index;
  return img;
}

Cell* next(Cell* img) {
  live(img);
  if (img->w1 < pixel_count(img)) img->w1++;
  return img;
}

Cell* back(Cell* img) {
  live(img);
  if (img->w1 > 0) img->w1 = std::min(img->w1, pixel_count(img)) - 1;
  return img;
}

Cell* head(Cell* img) {
  live(img);
  img->w1 = 0;
  return img;
}

Cell* tail(Cell* img) {
  live(img);
  img->w1 = pixel_count(img);
  return img;
}

Cell* head_q(Cell* img) {
  live(img);
  *img = make_logic(img->w1 == 0);
  return img;
}

Cell* tail_q(Cell* img) {
  live(img);
  *img = make_logic(img->w1 >= pixel_count(img));
  return img;
}

Cell* index_q(Cell* img) {
  live(img);
  *img = make_integer(int32_t(img->w1 + 1));
  return img;
}

int32_t length_q(const Cell* img) {
  live(img);
  return int32_t(pixel_count(img));
}

// --- pick and poke ------------------------------------------------------------------

Cell* pick(Cell* img, int32_t index, const Cell* index_value) {
  live(img);
  position_t p = index_value ? position(img, index_value, true) : position_of_int(img, index);
  *img = p.out_of_range ? make_none() : get_pixel_tuple(img, p.index);
  return img;
}

Cell* poke(Cell* img, int32_t index, Cell* value, const Cell* index_value) {
  live(img);
  Cell at = index_value ? *index_value : make_integer(index);
  position_t p = position(img, &at, true);
  if (p.out_of_range) out_of_range(&at);
  if (TYPE_OF(value) != TYPE_TUPLE) invalid_arg(value);
  backend::set_pixel(img->w2, p.index, tuple_to_pixel(value));
  tell(img, words::poke_word, value, p.index, 1);
  *img = *value;
  return img;
}

// --- paths -----------------------------------------------------------------------

[[noreturn]] void invalid_path(const path_step& step) {
  Cell p = step.path ? *step.path : *step.element, e = *step.element;
  fire(err::SCRIPT, err::script::INVALID_PATH, &p, &e);
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell* img = stack::push(*step.parent);
  Cell el = *step.element;
  live(img);
  uint32_t et = TYPE_OF(&el);
  if (et == TYPE_INTEGER || et == TYPE_PAIR) {
    if (step.value) {
      Cell* v = stack::push(*step.value);
      poke(img, 0, v, &el);
      *out = *v;
    } else {
      pick(img, 0, &el);
      *out = *img;
    }
    stack::pop(step.value ? 2 : 1);
    return out;
  }
  if (et != TYPE_WORD) invalid_path(step);
  uint32_t name = symbol::resolve(el.w2);
  int mode = -1;
  if (name == symbol::resolve(words::argb)) mode = DATA_ARGB;
  else if (name == symbol::resolve(words::rgb)) mode = DATA_RGB;
  else if (name == symbol::resolve(words::alpha)) mode = DATA_ALPHA;
  else if (name != symbol::resolve(words::size)) invalid_path(step);
  if (mode < 0) {
    if (step.value) invalid_path(step);
    pair::make_at(out, int32_t(width(img)), int32_t(height(img)));
  } else if (step.value) {
    Cell* v = stack::push(*step.value);
    set_data(img, v, mode);
    *out = *v;
  } else {
    extract_data(img, mode, out);
  }
  stack::top = img;
  return out;
}

// --- copy ------------------------------------------------------------------------

// A crop of the image, or an empty image when the rectangle is empty.
Cell* crop_into(const Cell* img, Cell* out, int64_t x, int64_t y, int64_t w, int64_t h) {
  if (w < 1 || h < 1) return make_empty(out, 0);
  *out = make_unset();
  return make_at(out, backend::crop(img->w2, uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h)));
}

Cell* copy_whole(Cell* img, Cell* out) {
  if (!live(img) || pixel_count(img) == 0) return make_empty(out, 0);
  *out = make_unset();
  return make_at(out, backend::copy(img->w2));
}

Cell* copy(Cell* img, Cell* out, const Cell* part, bool, const Cell*) {
  live(img);
  int64_t w = width(img), h = height(img), count = w * h;
  if (!img->w2 || count == 0) return make_empty(out, 0);
  int64_t head = img->w1, x0 = head % w, y0 = head / w;
  if (!part) {
    if (head == 0) return copy_whole(img, out);
    return crop_into(img, out, x0, y0, w - x0, h - y0);
  }
  switch (TYPE_OF(part)) {
    case TYPE_PAIR: {
      int64_t px = pair::x(part), py = pair::y(part);
      if (px >= 1 && py >= 1 && head < count)
        return crop_into(img, out, x0, y0, std::min(w - x0, px), std::min(h - y0, py));
      if (px < 0 && py < 0 && head >= 1) {
        // The crop ends just before the head: at its column (exclusive) and
        // its row (inclusive); a head at a row's start is the end of the row
        // above.
        int64_t right = x0 == 0 ? w : x0, bottom = std::min(x0 == 0 ? y0 : y0 + 1, h);
        int64_t cw = std::min(-px, right), ch = std::min(-py, bottom);
        return crop_into(img, out, right - cw, bottom - ch, cw, ch);
      }
      return make_empty(out, 0);
    }
    case TYPE_IMAGE: {
      if (part->w2 != img->w2) bad_part(part);
      int64_t other = std::min<int64_t>(part->w1, count);
      int64_t low = std::min<int64_t>(head, other), high = std::max<int64_t>(head, other);
      if (head == other) low = high = other;
      int64_t lx = low % w, ly = low / w, hx = high % w, hy = high / w;
      return crop_into(img, out, lx, ly, hx - lx, hy - ly);
    }
    case TYPE_INTEGER: not_done();
    default: bad_part(part);
  }
}

// --- change ----------------------------------------------------------------------

// Copies the source's pixels into the target as a rectangle whose top-left
// corner is the target's head, clipped to the target; source and target
// may be one node. Returns the position after the last copied pixel.
Cell* blit(Cell* target, const Cell* source) {
  int64_t w = width(target), h = height(target), count = w * h;
  int64_t head = target->w1;
  if (head >= count) return target;
  live(source);
  int64_t sw = width(source), sh = height(source);
  int64_t x0 = head % w, y0 = head / w;
  int64_t cw = std::min(sw, w - x0), ch = std::min(sh, h - y0);
  tell(target, words::change_word, source, uint32_t(head), 0);
  if (cw < 1 || ch < 1 || !source->w2) {
    tell(target, words::changed_word, source, uint32_t(head), 0);
    return target;
  }
  const uint32_t* from = pixels(source, false);
  uint32_t* to = pixels(target, true);
  // Rows from the bottom up: on a shared node the target's rows lie at or
  // below the source's, so no row is overwritten before it is read.
  for (int64_t r = ch - 1; r >= 0; r--)
    std::memmove(to + (y0 + r) * w + x0, from + r * sw, uint64_t(cw) * 4);
  target->w1 = uint32_t((y0 + ch - 1) * w + std::min(x0 + sw, w));
  tell(target, words::changed_word, source, uint32_t(head), uint32_t(cw * ch));
  return target;
}

Cell* change(Cell* img, Cell* value, int32_t part, bool, int32_t dup) {
  live(img);
  if (part >= 0 || dup != 1) not_done();
  if (TYPE_OF(value) == TYPE_IMAGE) return blit(img, value);
  if (TYPE_OF(value) != TYPE_TUPLE) invalid_type(value);
  uint32_t head = head_of(img);
  tell(img, words::change_word, value, head, 1);
  if (head < pixel_count(img)) {
    backend::set_pixel(live(img), head, tuple_to_pixel(value));
    img->w1 = head + 1;
  }
  tell(img, words::changed_word, value, head, 1);
  return img;
}

// --- compare ----------------------------------------------------------------------

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (TYPE_OF(b) != TYPE_IMAGE) return -2;
  live(a);
  live(b);
  bool same_place = a->w2 == b->w2 && a->w1 == b->w1;
  if (op == COMP_SAME) return same_place ? 0 : -1;
  switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL:
    case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD:
      if (same_place) return 0;
      break;
    case COMP_FIND: case COMP_SORT: case COMP_CASE_SORT: break;
    default: return -2;
  }
  uint32_t na = pixel_count(a), nb = pixel_count(b);
  if (na != nb) return na < nb ? -1 : 1;
  // Equal counts over different shapes are different images.
  if (a->w3 != b->w3) return a->w3 < b->w3 ? -1 : 1;
  if (na == 0 || !a->w2 || !b->w2) return 0;
  int r = std::memcmp(pixels(a, false), pixels(b, false), uint64_t(na) * 4);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

// --- mold and form ------------------------------------------------------------------

constexpr char HEX[] = "0123456789ABCDEF";

int32_t text_of(const Cell* value, Cell* out, bool only, bool flat, int32_t part, int32_t level) {
  Cell img = *value;
  live(&img);
  std::string text;
  int64_t budget = part;
  auto put = [&](std::string_view s) {
    text += s;
    budget -= int64_t(s.size());
  };
  auto hex = [&](uint32_t byte) {
    text += HEX[(byte >> 4) & 15];
    text += HEX[byte & 15];
    budget -= 2;
  };
  auto new_line = [&](int32_t levels) {
    if (flat) return;
    levels = std::max(levels, 0);
    text += '\n';
    text.append(size_t(levels) * 4, ' ');
    budget -= 1 + 4 * int64_t(levels);
  };
  if (!only) put("make image! [");
  put(integer::to_text(int32_t(width(&img))));
  put("x");
  put(integer::to_text(int32_t(height(&img))));
  uint32_t count = pixel_count(&img);
  if (!img.w2) {
    put(" #{}");
  } else {
    uint32_t head = head_of(&img), n = count - head;
    bool long_form = uint64_t(n) * 4 > 30;
    put(" #{");
    if (long_form) new_line(level);
    // Nothing below allocates: the pixel address stays valid.
    const uint32_t* p = pixels(&img, false);
    bool transparent = false;
    uint32_t i = 0;
    for (; i < n && budget > 0; i++) {
      uint32_t px = p[head + i];
      transparent = transparent || (px >> 24) < 255;
      hex(px >> 16);
      hex(px >> 8);
      hex(px);
      if ((i + 1) % 10 == 0) new_line(level);
    }
    if (budget > 0) {
      if (long_form && n % 10 != 0) new_line(level - 1);
      put("}");
      if (transparent) {
        put(" #{");
        new_line(level);
        for (uint32_t j = 0; j < count && budget > 0; j++) {
          hex(255 - (p[j] >> 24));
          if ((j + 1) % 10 == 0) new_line(level);
        }
        new_line(level - 1);
        put("}");
      }
    }
  }
  if (!only && budget > 0) put("]");
  string::append_literal(out, text);
  return int32_t(std::max<int64_t>(budget, INT32_MIN));
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool flat, int32_t part,
             int32_t indent) {
  return text_of(value, out, only, flat, part, indent + 1);
}

int32_t form(const Cell* value, Cell* out, int32_t part) {
  return text_of(value, out, false, false, part, 0);
}

Cell* modify(Cell* img, const Cell* field, Cell* value, bool case_sensitive) {
  live(img);
  return actions::peek_modify(TYPE_SERIES)(img, field, value, case_sensitive);
}

constexpr action_row ROW = [] {
  action_row r = unsupported_row();
  r.make = make;
  r.to = to;
  r.form = form;
  r.mold = mold;
  r.eval_path = eval_path;
  r.compare = compare;
  r.at = at;
  r.back = back;
  r.change = change;
  r.copy = copy;
  r.head = head;
  r.head_q = head_q;
  r.index_q = index_q;
  r.length_q = length_q;
  r.modify = modify;
  r.next = next;
  r.pick = pick;
  r.poke = poke;
  r.skip = skip;
  r.tail = tail;
  r.tail_q = tail_q;
  return r;
}();

}  // namespace

// --- data as bytes -------------------------------------------------------------------

Cell* extract_data(const Cell* image, int mode, Cell* out) {
  Cell img = *image;
  live(&img);
  uint32_t count = img.w2 ? pixel_count(&img) : 0;
  uint32_t unit = mode == DATA_ARGB ? 4 : mode == DATA_RGB ? 3 : 1;
  uint64_t n = uint64_t(count) * unit;
  Cell* held = stack::push(img);
  binary::make_at(out, uint32_t(n));
  series_buffer* b = GET_BUFFER(out);
  if (n) {
    const uint32_t* p = pixels(held, false);
    uint8_t* d = b->data();
    switch (mode) {
      case DATA_ARGB: std::memcpy(d, p, n); break;
      case DATA_RGB:
        for (uint32_t i = 0; i < count; i++, d += 3) {
          uint32_t px = p[i];
          d[0] = uint8_t(px >> 16);
          d[1] = uint8_t(px >> 8);
          d[2] = uint8_t(px);
        }
        break;
      default:
        for (uint32_t i = 0; i < count; i++) d[i] = uint8_t(255 - (p[i] >> 24));
    }
  }
  b->tail = uint32_t(n);
  stack::pop(1);
  return out;
}

void set_data(Cell* img, const Cell* value_in, int mode) {
  live(img);
  Cell value = *value_in;
  uint32_t vt = TYPE_OF(&value);
  if (vt != TYPE_BINARY && vt != TYPE_TUPLE && vt != TYPE_INTEGER) invalid_arg(&value);
  uint32_t count = img->w2 ? pixel_count(img) : 0;
  if (count) {
    uint32_t* p = pixels(img, true);
    if (vt == TYPE_BINARY) {
      uint32_t len = binary::rs_length(&value);
      const uint8_t* s = binary::rs_head(&value);
      switch (mode) {
        case DATA_ARGB: std::memcpy(p, s, std::min<uint64_t>(uint64_t(count) * 4, len)); break;
        case DATA_RGB: {
          uint32_t n = std::min(count, len / 3);
          for (uint32_t i = 0; i < n; i++, s += 3)
            p[i] = (p[i] & 0xFF000000) | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
          break;
        }
        default: {
          uint32_t n = std::min(count, len);
          for (uint32_t i = 0; i < n; i++) p[i] = (p[i] & 0x00FFFFFF) | uint32_t(255 - s[i]) << 24;
        }
      }
    } else {
      // An integer stands for the bytes r, g, b, t of its value, low first.
      uint8_t c[4] = {};
      if (vt == TYPE_TUPLE) {
        std::memcpy(c, tuple::bytes(&value), std::min<uint32_t>(tuple::count(&value), 4));
      } else {
        uint32_t v = uint32_t(get_integer(&value));
        for (int i = 0; i < 4; i++) c[i] = uint8_t(v >> (8 * i));
      }
      uint32_t rgb = uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2];
      uint32_t v = vt == TYPE_INTEGER ? uint32_t(get_integer(&value)) : c[0];
      uint32_t a = uint8_t(255 - v);
      for (uint32_t i = 0; i < count; i++) {
        switch (mode) {
          case DATA_ARGB: p[i] = uint32_t(255 - c[3]) << 24 | rgb; break;
          case DATA_RGB: p[i] = (p[i] & 0xFF000000) | rgb; break;
          default: p[i] = (p[i] & 0x00FFFFFF) | a << 24;
        }
      }
    }
  }
  tell(img, words::poke_word, &value, 0, count);
}

Cell* resize(const Cell* image, uint32_t w, uint32_t h) {
  Cell* held = stack::push(*image);
  live(held);
  Cell* out = stack::push_unset();
  if (!held->w2 || w == 0 || h == 0 || !backend::size_ok(w, h))
    make_empty(out, backend::size_ok(w, h) ? backend::make_size(w, h) : 0);
  else
    make_at(out, backend::resize(held->w2, w, h));
  *held = *out;
  stack::pop(1);
  return held;
}

void delete_(const Cell* image) {
  if (image->w2) backend::release(image->w2);
}

// --- image files ----------------------------------------------------------------------

namespace {

// A decoded image as a new node in `out`; the node adopts the pixels.
Cell* adopt(const codecs::decoded& d, Cell* out) {
  *out = make_unset();
  return make_at(out, backend::adopt(d.width, d.height, d.pixels));
}

[[noreturn]] void cannot_open(const Cell* file) {
  Cell f = *file;
  fire(err::ACCESS, err::access::CANNOT_OPEN, &f);
}

}  // namespace

bool sniff(const Cell* binary) {
  Cell b = *binary;
  return codecs::sniff(binary::rs_head(&b), binary::rs_length(&b)) >= 0;
}

Cell* from_binary(const Cell* binary, Cell* out) {
  Cell* b = stack::push(*binary);
  // A due collection runs before the bytes' address is taken: from there
  // to the codec's return nothing allocates in the Kez heap.
  backend::collect_before(0);
  codecs::decoded d;
  codecs::status s = codecs::decode(binary::rs_head(b), binary::rs_length(b), &d);
  stack::pop(1);
  switch (s) {
    case codecs::OK: return adopt(d, out);
    case codecs::NOT_IMAGE: *out = make_none(); return out;
    case codecs::NO_MEMORY: fire(err::INTERNAL, err::internal::NO_MEMORY);
    case codecs::NO_LIBRARY: no_library();
    default: bad_media();
  }
}

Cell* load_file(const Cell* file, Cell* out) {
  std::string name = file::to_os_path(file);
  std::vector<uint8_t> bytes;
  if (name.find('\0') != std::string::npos || !simple_io::read_bytes(name, -1, -1, bytes))
    cannot_open(file);
  backend::collect_before(0);
  codecs::decoded d;
  switch (codecs::decode(bytes.data(), bytes.size(), &d)) {
    case codecs::OK: return adopt(d, out);
    case codecs::TOO_LARGE: bad_media();
    case codecs::NO_MEMORY: fire(err::INTERNAL, err::internal::NO_MEMORY);
    case codecs::NO_LIBRARY: no_library();
    default: cannot_open(file);
  }
}

Cell* encode(const Cell* image, int32_t format, Cell* out) {
  Cell* img = stack::push(*image);
  live(img);
  if (img->w3 == 0) bad_media();
  if (format < 0 || format >= codecs::FORMAT_COUNT) {
    Cell f = make_integer(format);
    fire(err::SCRIPT, err::script::INVALID_ARG, &f);
  }
  if (pixel_count(img) == 0 || !img->w2) {
    binary::make_at(out, 1);
    stack::pop(1);
    return out;
  }
  // The codec allocates nothing in the Kez heap: the pixels stay put.
  codecs::encoded e;
  codecs::status s = codecs::encode(format, pixels(img, false), width(img), height(img), &e);
  if (s == codecs::OK && e.size > MAX_SERIES_SIZE) s = codecs::CORRUPT;
  if (s != codecs::OK) {
    std::free(e.data);
    if (s == codecs::NO_MEMORY) fire(err::INTERNAL, err::internal::NO_MEMORY);
    if (s == codecs::NO_LIBRARY) no_library();
    bad_media();
  }
  binary::make_at(out, uint32_t(e.size));
  std::memcpy(GET_BUFFER(out)->data(), e.data, e.size);
  GET_BUFFER(out)->tail = uint32_t(e.size);
  std::free(e.data);
  stack::pop(1);
  return out;
}

Cell* decode(const Cell* data, Cell* out) {
  Cell* held = stack::push(*data);
  switch (TYPE_OF(held)) {
    case TYPE_BINARY: from_binary(held, out); break;
    case TYPE_URL: {
      read_options o;
      o.binary = true;
      actions::get_read(held)(held, o);
      if (TYPE_OF(held) != TYPE_BINARY) cannot_open(data);
      from_binary(held, out);
      break;
    }
    case TYPE_FILE: case TYPE_STRING: load_file(held, out); break;
    default: cannot_open(held);
  }
  stack::pop(1);
  return out;
}

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

template <int FORMAT>
void encode_routine() {
  Cell img = *arg(0);
  encode(&img, FORMAT, arg(0));
}

void decode_routine() {
  Cell data = *arg(0);
  decode(&data, arg(0));
}

#define KEZ_IMAGE_ENCODER(name, format) \
  {"_image-encode-" name, "img [image!] where [any-type!]", encode_routine<codecs::format>}
constexpr boot::routine_entry ROUTINES[] = {
    KEZ_IMAGE_ENCODER("png", IMAGE_PNG),   KEZ_IMAGE_ENCODER("jpeg", IMAGE_JPEG),
    KEZ_IMAGE_ENCODER("bmp", IMAGE_BMP),   KEZ_IMAGE_ENCODER("gif", IMAGE_GIF),
    KEZ_IMAGE_ENCODER("tiff", IMAGE_TIFF), {"_image-decode", "data [any-type!]", decode_routine},
};
#undef KEZ_IMAGE_ENCODER

}  // namespace

void make_routines() { boot::define_routines(ROUTINES); }

void init() {
  datatype::register_type(TYPE_IMAGE, TYPE_SERIES, "image!", ROW);
  backend::init();
}

}  // namespace kez::image
