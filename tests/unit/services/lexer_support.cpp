#include "lexer_support.h"

#include <cstdio>
#include <cstring>

#include "evaluator/stack.h"
#include "foundation/float_text.h"
#include "foundation/raise.h"
#include "foundation/runtime.h"
#include "test_support.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/symbol.h"

namespace kez::test {

namespace {

std::string text_of(const Cell* v) {
  Cell copy = *v;
  return string::to_utf8(&copy);
}

std::string float_text(double d) { return dtoa::form_float(d, 0, true); }

std::string single_text(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", double(f));
  return buf;
}

std::string path_of(const Cell* v) {
  Cell b = *v;
  std::string out;
  int32_t n = block::rs_length(&b);
  for (int32_t i = 0; i < n; i++) {
    if (i) out += "/";
    out += show(block::rs_head(&b) + i);
  }
  return out;
}

std::string money_text(const Cell* v) {
  uint8_t image[16];
  std::memcpy(image, v, 16);
  std::string digits;
  for (int p = 0; p < 22; p++) {
    uint8_t byte = image[5 + p / 2];
    digits += char('0' + (p % 2 == 0 ? byte >> 4 : byte & 15));
  }
  std::string integer = digits.substr(0, 17);
  size_t nz = integer.find_first_not_of('0');
  integer = nz == std::string::npos ? "0" : integer.substr(nz);
  std::string out = (v->header & MONEY_SIGN) ? "-" : "";
  if (image[4]) out += "C" + std::to_string(image[4]);
  return out + "$" + integer + "." + digits.substr(17);
}

std::string date_text(const Cell* v) {
  int32_t word = int32_t(v->w1);
  std::string out = std::to_string(word >> 17) + "-" + std::to_string((word >> 12) & 15) + "-" +
                    std::to_string((word >> 7) & 31);
  if (word & (1 << 16)) {
    out += "/" + float_text(get_float(v));
    uint32_t z = uint32_t(word) & 0x7F;
    if (z) {
      out += (z & 0x40) ? "-" : "+";
      out += std::to_string((z >> 2) & 15) + ":" + std::to_string((z & 3) * 15);
    }
  }
  return out;
}

std::string captured;

void capture(int category, int id, const Cell* a1, const Cell* a2, const Cell* a3) {
  auto arg = [](const Cell* c) -> std::string {
    if (!c) return "";
    uint32_t t = TYPE_OF(c);
    if (string::is_string_type(t)) return text_of(c);
    if (t == TYPE_CHAR) return std::string(1, char(c->w2));
    return show(c);
  };
  if (category == err::SYNTAX) {
    switch (id) {
      case err::syntax::INVALID:
        captured = arg(a1) + " invalid " + arg(a2) + " at " + arg(a3);
        return;
      case err::syntax::MISSING:
        captured = arg(a1) + " missing " + arg(a2) + " at " + arg(a3);
        return;
      case err::syntax::MALCONSTRUCT:
        captured = arg(a1) + " invalid construction spec at " + arg(a2);
        return;
      case err::syntax::BAD_CHAR:
        captured = arg(a1) + " invalid character at " + arg(a2);
        return;
      default:
        break;
    }
  }
  captured = std::string(err::CATEGORY_NAMES[category]) + "/" + err::ID_NAMES[category][id];
}

}  // namespace

std::string show(const Cell* v) {
  uint32_t t = TYPE_OF(v);
  switch (t) {
    case TYPE_BLOCK: return "[" + show_items(v) + "]";
    case TYPE_PAREN: return "(" + show_items(v) + ")";
    case TYPE_MAP: return "#[" + show_items(v) + "]";
    case TYPE_PATH: return path_of(v);
    case TYPE_SET_PATH: return path_of(v) + ":";
    case TYPE_GET_PATH: return ":" + path_of(v);
    case TYPE_LIT_PATH: return "'" + path_of(v);
    case TYPE_WORD: return symbol::to_cstr(v->w2);
    case TYPE_SET_WORD: return std::string(symbol::to_cstr(v->w2)) + ":";
    case TYPE_GET_WORD: return ":" + std::string(symbol::to_cstr(v->w2));
    case TYPE_LIT_WORD: return "'" + std::string(symbol::to_cstr(v->w2));
    case TYPE_REFINEMENT: return "/" + std::string(symbol::to_cstr(v->w2));
    case TYPE_ISSUE: return "#" + std::string(symbol::to_cstr(v->w2));
    case TYPE_INTEGER: return std::to_string(get_integer(v));
    case TYPE_FLOAT: return float_text(get_float(v));
    case TYPE_PERCENT: return "pct:" + float_text(get_float(v));
    case TYPE_TIME: return "time:" + float_text(get_float(v));
    case TYPE_STRING: return "\"" + text_of(v) + "\"";
    case TYPE_FILE: return "%" + text_of(v);
    case TYPE_URL: return "url:" + text_of(v);
    case TYPE_TAG: return "<" + text_of(v) + ">";
    case TYPE_EMAIL: return "email:" + text_of(v);
    case TYPE_REF: return "@" + text_of(v);
    case TYPE_CHAR: {
      uint32_t cp = v->w2;
      if (cp >= 0x20 && cp < 0x7F) return std::string("#\"") + char(cp) + "\"";
      char buf[24];
      std::snprintf(buf, sizeof buf, "#\"^(%X)\"", cp);
      return buf;
    }
    case TYPE_BINARY: {
      Cell b = *v;
      series_buffer* buf = GET_BUFFER(&b);
      std::string out = "#{";
      for (uint32_t i = b.w1; i < buf->used(); i++) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", buf->data()[buf->head + i]);
        out += hex;
      }
      return out + "}";
    }
    case TYPE_TUPLE: {
      uint8_t bytes[12];
      std::memcpy(bytes, &v->w1, 4);
      std::memcpy(bytes + 4, &v->w2, 4);
      std::memcpy(bytes + 8, &v->w3, 4);
      uint32_t n = (v->header >> TUPLE_SIZE_SHIFT) & 15;
      std::string out;
      for (uint32_t i = 0; i < n; i++) out += (i ? "." : "") + std::to_string(bytes[i]);
      return out;
    }
    case TYPE_PAIR: return std::to_string(int32_t(v->w2)) + "x" + std::to_string(int32_t(v->w3));
    case TYPE_POINT2D: return "(" + single_text(v->w1) + ", " + single_text(v->w2) + ")";
    case TYPE_POINT3D:
      return "(" + single_text(v->w1) + ", " + single_text(v->w2) + ", " + single_text(v->w3) + ")";
    case TYPE_DATE: return "date:" + date_text(v);
    case TYPE_MONEY: return "money:" + money_text(v);
    case TYPE_LOGIC: return v->w1 ? "#(true)" : "#(false)";
    case TYPE_NONE: return "#(none)";
    case TYPE_UNSET: return "#(unset)";
    case TYPE_DATATYPE: return std::string(datatype::name_of(v->w1));
    default: return "?" + std::to_string(t);
  }
}

std::string show_items(const Cell* block) {
  Cell b = *block;
  std::string out;
  int32_t n = block::rs_length(&b);
  for (int32_t i = 0; i < n; i++) {
    if (i) out += " ";
    out += show(block::rs_head(&b) + i);
  }
  return out;
}

std::string error_begin_end(void (*body)(void*), void* context) {
  fire_builder saved = fire_hook;
  fire_hook = capture;
  captured.clear();
  stack::mark mark;
  uint32_t code = runtime::catch_region(RAISE_ERROR, [&] { body(context); });
  mark.restore();
  fire_hook = saved;
  return code ? captured : "";
}

std::string load(const std::string& text) {
  std::string out;
  std::string error = error_of([&] {
    stack::mark mark;
    Cell* block = lexer::scan_utf8(text.data(), uint32_t(text.size()));
    out = show_items(block);
    mark.restore();
  });
  return error.empty() ? out : error;
}

std::string scan(const std::string& text, lexer::scan_options options, int32_t* type,
                 uint32_t* consumed) {
  std::string out;
  std::string error = error_of([&] {
    stack::mark mark;
    Cell* source = string::load(text);
    options.source = source;
    Cell* dst = stack::push_unset();
    int32_t t = lexer::scan_string(dst, source, -1, options, consumed);
    if (type) *type = t;
    out = show(dst);
    mark.restore();
  });
  return error.empty() ? out : error;
}

}  // namespace kez::test
