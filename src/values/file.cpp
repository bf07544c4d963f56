// file!: its mold form and the conversion to the paths the platform calls
// take.
//
// A molded file must load back as the same path: a name made only of safe
// characters that do not end a file token is written bare after "%", any
// other between double quotes with the caret escapes of strings (so a quote,
// a caret or a line feed in a name survives). The language's path notation is already POSIX: the
// platform form is the same text, made absolute on demand.
#include "values/file.h"

#include <algorithm>

#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "types/file_io.h"
#include "values/error_ids.h"
#include "values/registry.h"
#include "values/string.h"
#include "values/url.h"

namespace kez::file {

Cell* get_current_dir() {
  std::string dir = platform::get_current_dir();
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return string::load(dir);
}

void to_local_path(const Cell* file, Cell* target, bool full) {
  Cell* f = stack::push(*file);
  bool absolute = !string::rs_tail_q(f) && string::rs_abs_at(f, f->w1) == '/';
  if (full && !absolute) {
    Cell* dir = get_current_dir();
    string::append_string(target, dir);
    stack::pop(1);
  }
  string::append_string(target, f);
  stack::pop(1);
}

std::string to_os_path(const Cell* file) {
  std::string path = string::to_utf8(file);
  if (path.find('\0') != std::string::npos) {
    Cell v = *file;
    fire(err::ACCESS, err::access::CANNOT_OPEN, &v);
  }
  return path;
}

void normalize_slashes(Cell* file) {
  uint32_t total = string::rs_abs_length(file);
  for (uint32_t i = std::min(file->w1, total); i < total; i++) {
    if (string::rs_abs_at(file, i) == '\\') {
      series_buffer* b = GET_BUFFER(file);
      unicode::put_char(b->head_ptr() + uint64_t(i) * b->unit(), b->unit(), '/');
    }
  }
}

Cell* push(const Cell* file) { return stack::push(file); }

Cell* load(std::string_view utf8) {
  Cell* c = string::load(utf8);
  set_type(c, TYPE_FILE);
  return c;
}

namespace {

// A character that may stand in a bare file name: a safe one that does not
// end the file token ("(", ")", ":" and "@" do).
bool bare(uint32_t cp) {
  return url::is_safe(cp) && cp != '(' && cp != ')' && cp != ':' && cp != '@';
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, int32_t part, int32_t) {
  Cell v = *value;
  uint32_t length = string::rs_length(&v);
  uint32_t n = part <= 0 ? 0 : std::min<uint32_t>(length, uint32_t(part));
  string::append_char(out->w2, '%');
  if (n == 0) {
    string::append_literal(out, "\"\"");
    return part - 1;
  }
  bool quoted = false;
  for (uint32_t i = 0; i < n && !quoted; i++) quoted = !bare(string::rs_abs_at(&v, v.w1 + i));
  if (!quoted) {
    string::append_string(out, &v, int32_t(n));
    return part - int32_t(n) - 1;
  }
  string::append_char(out->w2, '"');
  for (uint32_t i = 0; i < n; i++) {
    uint32_t cp = string::rs_abs_at(&v, v.w1 + i);
    // A quote ends the quoted name whatever precedes it: its escape is the
    // code-point form.
    if (cp == '"') string::append_literal(out, "^(22)");
    else string::append_escaped_char(out, cp, all);
  }
  string::append_char(out->w2, '"');
  return part - int32_t(n) - 1;
}

constexpr action_row ROW = [] {
  action_row r;  // unset members inherit from url!
  r.random = UNSUPPORTED;
  r.reflect = UNSUPPORTED;
  r.mold = mold;
  r.set_path = UNSUPPORTED;
  r.put = UNSUPPORTED;
  r.sort = UNSUPPORTED;
  r.trim = UNSUPPORTED;
  r.create = UNSUPPORTED;
  r.close = UNSUPPORTED;
  r.open = UNSUPPORTED;
  r.open_q = UNSUPPORTED;
  r.update = UNSUPPORTED;
  // The file actions hand over to the file I/O services.
  r.delete_ = file_io::delete_;
  r.query = file_io::query;
  r.read = file_io::read;
  r.rename = file_io::rename;
  r.write = file_io::write;
  return r;
}();

}  // namespace

void init() { datatype::register_type(TYPE_FILE, TYPE_URL, "file!", ROW); }

}  // namespace kez::file
