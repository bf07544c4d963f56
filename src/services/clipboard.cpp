// The clipboard: the process's own contents, and the hand-over to the
// desktop's clipboard tools.
//
// The desktop receives text as UTF-8 text, files as a text/uri-list of
// file:// addresses (absolute, percent-encoded), images as PNG. Reading
// prefers text, then files, then an image, the first present of the types
// the tool lists; a tool that lists none of them answers "empty".
#include "services/clipboard.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "boot/routines.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "services/process.h"
#include "types/image.h"
#include "types/image_backend.h"
#include "types/image_codecs.h"
#include "values/block.h"
#include "values/error_ids.h"
#include "values/file.h"
#include "values/string.h"

namespace kez::clipboard {

namespace {

namespace backend = image_backend;
namespace codecs = image_codecs;

struct contents {
  enum kind_t { EMPTY, TEXT, FILES, IMAGE } kind = EMPTY;
  std::string text;                // UTF-8
  std::vector<std::string> files;  // platform paths, as written
  uint32_t width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

contents held;

// --- The desktop's tools ----------------------------------------------------------

enum class desktop { NONE, WAYLAND, X };

desktop session() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("WAYLAND_DISPLAY") ? desktop::WAYLAND : set("DISPLAY") ? desktop::X : desktop::NONE;
}

constexpr const char* URI_LIST = "text/uri-list";
constexpr const char* PNG = "image/png";
// Text as each tool's own sessions name UTF-8 text most widely.
const char* text_type(desktop d) {
  return d == desktop::WAYLAND ? "text/plain;charset=utf-8" : "UTF8_STRING";
}
// What a read takes as text, and as an image, in order of preference.
constexpr const char* TEXT_TYPES[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};
constexpr const char* IMAGE_TYPES[] = {PNG, "image/jpeg", "image/gif", "image/bmp"};

// Runs a tool with `input` on its standard input and, when `output` is
// given, its standard output captured. True when it ran and succeeded.
// Nothing of it reaches the console: a tool that stays to serve the
// clipboard must not hold our streams either, and runs in a session of its
// own, so that the terminal's signals do not end it with our own.
bool run_tool(std::vector<std::string> argv, std::string_view input, process::received* output) {
  process::request r;
  r.argv = std::move(argv);
  r.detach = !output;
  r.in.how = output ? process::stream::DEV_NULL : process::stream::PIPE;
  r.in.data = input;
  r.out.how = output ? process::stream::PIPE : process::stream::DEV_NULL;
  r.out.captured = output;
  r.err.how = process::stream::DEV_NULL;
  return process::launch(r) == 0;
}

// `type` null: the tool empties its clipboard.
bool hand_to_tool(desktop d, const char* type, std::string_view data) {
  if (d == desktop::WAYLAND) {
    if (!type) return run_tool({"wl-copy", "--clear"}, {}, nullptr);
    return run_tool({"wl-copy", "--type", type}, data, nullptr);
  }
  // xclip has no way to empty a selection: it is given an empty text.
  return run_tool({"xclip", "-selection", "clipboard", "-t", type ? type : text_type(d), "-i"}, data,
                  nullptr);
}

// `type` null: the list of the types on offer.
bool take_from_tool(desktop d, const char* type, process::received* out) {
  if (d == desktop::WAYLAND) {
    if (!type) return run_tool({"wl-paste", "--list-types"}, {}, out);
    return run_tool({"wl-paste", "--no-newline", "--type", type}, {}, out);
  }
  return run_tool({"xclip", "-selection", "clipboard", "-o", "-t", type ? type : "TARGETS"}, {}, out);
}

// --- File lists as addresses ------------------------------------------------------

bool unreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("-._~/", c);
}

std::string uri_list(const std::vector<std::string>& paths) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string list;
  for (const std::string& p : paths) {
    // An address needs the whole path.
    std::string path = !p.empty() && p[0] == '/' ? p : platform::get_current_dir() + "/" + p;
    list += "file://";
    for (unsigned char c : path) {
      if (c && unreserved(c)) {
        list += char(c);
      } else {
        list += '%';
        list += HEX[c >> 4];
        list += HEX[c & 15];
      }
    }
    list += "\r\n";
  }
  return list;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The paths of the file:// addresses of a list; other addresses and
// comment lines are passed over.
std::vector<std::string> paths_of(std::string_view list) {
  std::vector<std::string> paths;
  while (!list.empty()) {
    size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.starts_with("file://")) continue;
    line.remove_prefix(7);
    size_t root = line.find('/');  // after the host, if any
    if (root == std::string_view::npos) continue;
    std::string path;
    for (size_t i = root; i < line.size(); i++) {
      int hi, lo;
      if (line[i] == '%' && i + 2 < line.size() && (hi = hex_digit(line[i + 1])) >= 0 &&
          (lo = hex_digit(line[i + 2])) >= 0) {
        path += char(hi << 4 | lo);
        i += 2;
      } else {
        path += line[i];
      }
    }
    // A NUL cannot be part of a path.
    if (path.find('\0') == std::string::npos) paths.push_back(std::move(path));
  }
  return paths;
}

// --- Contents to values and back --------------------------------------------------

Cell* files_block(const std::vector<std::string>& paths, Cell* out) {
  block::make_at(out, int32_t(paths.size()));
  for (const std::string& p : paths) {
    Cell* f = file::load(p);
    block::rs_append(out, f);
    stack::pop(1);
  }
  return out;
}

Cell* image_value(uint32_t width, uint32_t height, const uint32_t* pixels, Cell* out) {
  node_t node = 0;
  *out = make_unset();
  backend::from_memory(width, height, 0, reinterpret_cast<const uint8_t*>(pixels), &node);
  return image::make_at(out, node);
}

Cell* value_of(const contents& c, Cell* out) {
  switch (c.kind) {
    case contents::TEXT: return string::load_at(c.text.data(), uint32_t(c.text.size()), out);
    case contents::FILES: return files_block(c.files, out);
    case contents::IMAGE: return image_value(c.width, c.height, c.pixels.data(), out);
    default: *out = make_none(); return out;
  }
}

[[noreturn]] void invalid(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

contents contents_of(const Cell* value) {
  contents c;
  Cell v = *value;
  switch (TYPE_OF(&v)) {
    case TYPE_NONE: break;
    case TYPE_STRING:
      c.kind = contents::TEXT;
      c.text = string::to_utf8(&v);
      break;
    case TYPE_BLOCK: {
      c.kind = contents::FILES;
      int32_t n = block::rs_length(&v);
      for (int32_t i = 0; i < n; i++) {
        const Cell* f = block::rs_head(&v) + i;
        if (TYPE_OF(f) != TYPE_FILE) invalid(value);
        c.files.push_back(string::to_utf8(f));
        if (c.files.back().find('\0') != std::string::npos) invalid(value);
      }
      break;
    }
    case TYPE_IMAGE: {
      // The whole picture, whatever the position; one without pixels
      // leaves nothing to place.
      if (!v.w2 || image::pixel_count(&v) == 0) break;
      backend::lock px = backend::lock_bitmap(v.w2, false);
      c.kind = contents::IMAGE;
      c.width = backend::width_of(v.w2);
      c.height = backend::height_of(v.w2);
      c.pixels.assign(px.pixels, px.pixels + uint64_t(c.width) * c.height);
      break;
    }
    default: invalid(value);
  }
  return c;
}

// What the desktop's clipboard holds; false when the tool could not say.
bool read_desktop(desktop d, Cell* out) {
  process::received list;
  if (!take_from_tool(d, nullptr, &list)) return false;
  std::vector<std::string_view> types;
  for (std::string_view rest = list.view(); !rest.empty();) {
    size_t end = rest.find('\n');
    std::string_view t = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    while (!t.empty() && (t.back() == '\r' || t.back() == ' ')) t.remove_suffix(1);
    types.push_back(t);
  }
  auto offered = [&](std::string_view type) {
    for (std::string_view t : types)
      if (t == type) return true;
    return false;
  };
  process::received data;
  for (const char* type : TEXT_TYPES) {
    if (!offered(type)) continue;
    if (!take_from_tool(d, type, &data)) return false;
    *out = *process::push_text(data.view());
    stack::pop(1);
    return true;
  }
  if (offered(URI_LIST)) {
    if (!take_from_tool(d, URI_LIST, &data)) return false;
    files_block(paths_of(data.view()), out);
    return true;
  }
  for (const char* type : IMAGE_TYPES) {
    if (!offered(type)) continue;
    if (!take_from_tool(d, type, &data)) return false;
    backend::collect_before(0);
    codecs::decoded image;
    if (codecs::decode(reinterpret_cast<const uint8_t*>(data.data), data.size, &image) !=
        codecs::OK)
      return false;
    *out = make_unset();
    image::make_at(out, backend::adopt(image.width, image.height, image.pixels));
    return true;
  }
  *out = make_none();
  return true;
}

void write_desktop(desktop d, const contents& c) {
  switch (c.kind) {
    case contents::EMPTY: hand_to_tool(d, nullptr, {}); break;
    case contents::TEXT: hand_to_tool(d, text_type(d), c.text); break;
    case contents::FILES: hand_to_tool(d, URI_LIST, uri_list(c.files)); break;
    case contents::IMAGE: {
      codecs::encoded png;
      if (codecs::encode(codecs::IMAGE_PNG, c.pixels.data(), c.width, c.height, &png) == codecs::OK)
        hand_to_tool(d, PNG, {reinterpret_cast<const char*>(png.data), png.size});
      std::free(png.data);
      break;
    }
  }
}

inline Cell* arg(int i) { return stack::arguments + i; }

// Without arguments the result cell may stand at the top of the stack:
// what the read pushes goes above it.
void read_clipboard() {
  if (stack::top < arg(1)) stack::top = arg(1);
  read(arg(0));
}
void write_clipboard() { *arg(0) = make_logic(write(arg(0))); }

constexpr boot::routine_entry ROUTINES[] = {
    {"read-clipboard",
     R"spec("Return the contents of the system clipboard"
        return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")spec",
     read_clipboard},
    {"write-clipboard",
     R"spec("Write content to the system clipboard"
        data [any-type!] "string!, block! of files!, an image! or none!"
        return: [logic!] "indicates success")spec",
     write_clipboard},
};

}  // namespace

Cell* read(Cell* out) {
  desktop d = session();
  if (d != desktop::NONE && read_desktop(d, out)) return out;
  return value_of(held, out);
}

bool write(const Cell* value) {
  held = contents_of(value);
  desktop d = session();
  if (d != desktop::NONE) write_desktop(d, held);
  return true;
}

void make_routines() { boot::define_routines(ROUTINES); }

}  // namespace kez::clipboard
