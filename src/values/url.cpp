// url!: percent encoding and decoding, the mold form, URLs built from a
// block of parts, and path selectors joined onto a URL.
//
// A URL value holds the decoded characters; only molding encodes them (as
// the UTF-8 bytes of each character). Decoding accepts a run of escapes as
// one character only when the run is valid UTF-8, so no text decodes into a
// broken or overlong sequence.
#include "values/url.h"

#include <array>
#include <cstring>
#include <string>

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "types/url_io.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/word.h"

namespace kez::url {

namespace {

constexpr bool in_set(uint32_t cp, std::string_view set) { return set.find(char(cp)) != set.npos; }

bool is_unreserved(uint32_t cp) {
  return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9') ||
         in_set(cp, "-._~");
}

int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool is_safe(uint32_t cp) {
  if (cp >= 128) return true;
  return is_unreserved(cp) || in_set(cp, "!#$&'()*+,/:=?@");
}

std::string_view encode_char(uint8_t selector, uint8_t byte) {
  static char text[4];
  bool keep = byte < 128 && (selector == COMPONENT_TABLE ? is_unreserved(byte) : is_safe(byte));
  if (keep) {
    text[0] = char(byte);
    return {text, 1};
  }
  const char* hex = string::byte_to_hex(byte);
  text[0] = '%';
  text[1] = hex[0];
  text[2] = hex[1];
  return {text, 3};
}

void encode(const uint8_t* bytes, uint32_t length, uint8_t selector, Cell* target) {
  std::string copy(reinterpret_cast<const char*>(bytes), length);  // appending may move them
  for (unsigned char c : copy) string::append_literal(target, encode_char(selector, c));
}

bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
  if (end - p < 3 || p[0] != '%') return false;
  int hi = hex_value(p[1]), lo = hex_value(p[2]);
  if (hi < 0 || lo < 0) return false;
  *byte = uint8_t(hi * 16 + lo);
  return true;
}

void decode(const uint8_t* bytes, uint32_t length, Cell* target) {
  std::string copy(reinterpret_cast<const char*>(bytes), length);
  const auto* p = reinterpret_cast<const uint8_t*>(copy.data());
  const uint8_t* end = p + copy.size();
  while (p < end) {
    // A run of plain ASCII characters, the usual text, goes in at once.
    const uint8_t* plain = p;
    while (plain < end && *plain < 0x80 && *plain != '%') plain++;
    if (plain > p) {
      string::append_literal(target, {reinterpret_cast<const char*>(p), size_t(plain - p)});
      p = plain;
      continue;
    }
    uint8_t lead;
    if (decode_escape(p, end, &lead)) {
      int n = unicode::utf8_char_size(lead);
      if (n == 0) {
        string::append_char(target->w2, lead);
        p += 3;
        continue;
      }
      uint8_t seq[4] = {lead};
      bool escapes = true;
      for (int k = 1; k < n && escapes; k++) escapes = decode_escape(p + 3 * k, end, &seq[k]);
      if (escapes) {
        int32_t cp;
        const uint8_t* after = unicode::fast_decode_utf8_char(seq, seq + n, &cp);
        if (cp >= 0 && after == seq + n) {
          string::append_char(target->w2, uint32_t(cp));
          p += 3 * n;
          continue;
        }
      }
      // Not a character: the percent sign stands for itself.
    }
    int32_t cp;
    p = unicode::fast_decode_utf8_char(p, end, &cp);
    string::append_char(target->w2, cp < 0 ? 0xFFFD : uint32_t(cp));
  }
}

Cell* decode_new(const uint8_t* bytes, uint32_t length) {
  Cell* s = string::push_new(length);
  decode(bytes, length, s);
  return s;
}

Cell* push(const Cell* url) { return stack::push(url); }

namespace {

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, int32_t part, int32_t) {
  // The ASCII characters that stand for themselves, the usual case, go
  // out as they are; every other one as its escaped UTF-8 bytes. The text
  // is made aside and appended at once: appending may move the buffers.
  static const auto plain = [] {
    std::array<bool, 128> t{};
    for (uint32_t c = 0; c < 128; c++) t[c] = is_safe(c);
    return t;
  }();
  Cell v = *value;
  uint32_t n = string::rs_length(&v);
  series_buffer* b = GET_BUFFER(&v);
  uint32_t unit = b->unit();
  const uint8_t* from = b->head_ptr() + uint64_t(v.w1) * unit;
  std::string text;
  text.reserve(n);
  for (uint32_t i = 0; i < n && int32_t(text.size()) < part; i++) {
    uint32_t cp = unicode::get_char(from + uint64_t(i) * unit, unit);
    if (cp < 128 && plain[cp]) {
      text.push_back(char(cp));
      continue;
    }
    uint8_t seq[4] = {uint8_t(cp)};
    int len = cp < 0x80 ? 1 : unicode::cp_to_utf8(cp, seq);
    for (int k = 0; k < len && int32_t(text.size()) < part; k++)
      text.append(encode_char(URL_TABLE, seq[k]));
  }
  // ASCII needs no wider unit than any string has.
  series_buffer* o = GET_BUFFER(out);
  uint32_t ounit = o->unit();
  uint64_t bytes = uint64_t(text.size()) * ounit;
  if (o->tail + bytes > o->size) o = memory::ensure_room(out->w2, bytes);
  uint8_t* to = o->tail_ptr();
  if (ounit == 1) std::memcpy(to, text.data(), text.size());
  else
    for (size_t i = 0; i < text.size(); i++)
      unicode::put_char(to + i * ounit, ounit, uint8_t(text[i]));
  o->tail += uint32_t(bytes);
  return part - int32_t(text.size());
}

// The URL of a block of parts: scheme://host[:port][/value/...#issue].
void build_from_block(Cell* out, const Cell* spec, uint32_t type) {
  Cell* parts = stack::push(*spec);
  int32_t n = block::rs_length(parts);
  if (n <= 0) {
    Cell dt = make_datatype(type), v = *spec;
    fire(err::SCRIPT, err::script::BAD_TO_ARG, &dt, &v);
  }
  string::make_at(out, 32, 1);
  Cell* item = stack::push_unset();
  auto form_item = [&](int32_t i) {
    *item = block::rs_head(parts)[i];
    actions::form(item, out, 0x7FFFFFFF);
  };
  form_item(0);
  string::append_literal(out, "://");
  int32_t next = 1;
  if (n > 1) form_item(next++);
  if (n > 2 && TYPE_OF(&block::rs_head(parts)[2]) == TYPE_INTEGER) {
    string::append_char(out->w2, ':');
    form_item(next++);
    if (n == 3) {
      set_type(out, type);
      stack::top = parts;
      return;
    }
  }
  string::append_char(out->w2, '/');
  for (int32_t i = next; i < n; i++) {
    if (i > next) {
      bool issue = TYPE_OF(&block::rs_head(parts)[i]) == TYPE_ISSUE;
      string::append_char(out->w2, issue ? '#' : '/');
    }
    form_item(i);
  }
  set_type(out, type);
  stack::top = parts;
}

bool is_block_spec(const Cell* spec) {
  uint32_t t = TYPE_OF(spec);
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH;
}

}  // namespace

Cell* make(Cell* proto, const Cell* spec, uint32_t type) {
  if (type == TYPE_URL && is_block_spec(spec)) {
    build_from_block(proto, spec, type);
    return proto;
  }
  return string::make(proto, spec, type);
}

Cell* to(Cell* proto, const Cell* spec, uint32_t type) {
  if (type == TYPE_URL && is_block_spec(spec)) {
    build_from_block(proto, spec, type);
    return proto;
  }
  return string::to(proto, spec, type);
}

Cell* eval_path(path_step& step, Cell* out) {
  Cell base = *step.parent;
  if (step.value) {
    Cell p = step.path ? *step.path : base, el = *step.element;
    fire(err::SCRIPT, err::script::BAD_PATH_SET, &p, &el);
  }
  Cell* held = stack::push(base);
  Cell* selector = stack::push(*step.element);
  if (TYPE_OF(selector) == TYPE_GET_WORD) {
    const Cell* v = word::get_value_or_null(selector);
    *selector = v ? *v : unset_value;
  }
  Cell* formed = string::push_new(16);
  actions::form(selector, formed, 0x7FFFFFFF);
  bool ends_slash = !string::rs_tail_q(held) &&
                    string::rs_abs_at(held, string::rs_abs_length(held) - 1) == '/';
  bool starts_slash = !string::rs_tail_q(formed) && string::rs_abs_at(formed, formed->w1) == '/';
  Cell* result = string::push_new(string::rs_length(held) + string::rs_length(formed) + 1);
  uint32_t base_length = string::rs_length(held);
  if (ends_slash && starts_slash) base_length--;
  string::append_string(result, held, int32_t(base_length));
  if (!ends_slash && !starts_slash) string::append_char(result->w2, '/');
  string::append_string(result, formed);
  set_type(result, TYPE_OF(held));
  *out = *result;
  stack::top = held;
  return out;
}

namespace {

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from string!
  r.make = make;
  r.random = UNSUPPORTED;
  r.reflect = UNSUPPORTED;
  r.to = to;
  r.mold = mold;
  r.eval_path = eval_path;
  r.set_path = UNSUPPORTED;
  r.put = UNSUPPORTED;
  r.sort = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  r.create = UNSUPPORTED;
  r.close = UNSUPPORTED;
  r.delete_ = UNSUPPORTED;
  r.open_q = UNSUPPORTED;
  r.query = UNSUPPORTED;
  r.rename = UNSUPPORTED;
  r.update = UNSUPPORTED;
  // Reading, writing and opening go through HTTP and the scheme ports.
  r.open = url_io::open;
  r.read = url_io::read;
  r.write = url_io::write;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_URL, TYPE_STRING, "url!", ROW); }

}  // namespace kez::url
