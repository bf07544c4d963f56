// The command line, the environment and the OS description on Linux.
//
// The OS description comes from uname (kernel release, machine, the
// kernel's build number after "#" in its version text) and from
// /etc/os-release for the distribution's name; either may be missing, and
// then the fields fall back to what remains (the kernel's name, 0).
#include "services/environment.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

#include "evaluator/stack.h"
#include "foundation/runtime.h"
#include "types/map.h"
#include "types/tuple.h"
#include "values/block.h"
#include "values/context.h"
#include "values/object.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

extern char** environ;

namespace kez::environment {

namespace {

// The architecture words, by the machine names the kernel reports.
const char* arch_name(std::string_view machine) {
  if (machine == "x86_64" || machine == "amd64") return "x86-64";
  if (machine == "aarch64" || machine == "arm64") return "ARM64";
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return "x86-32";
  if (machine.substr(0, 3) == "arm") return "ARM";
  if (machine == "ia64") return "IA-64";
  return "Unknown";
}

// A field of /etc/os-release (shell-style: KEY=value, the value maybe
// quoted, backslash escapes inside double quotes); empty when absent.
std::string os_release(std::string_view key) {
  std::ifstream in("/etc/os-release");
  if (!in) in.open("/usr/lib/os-release");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
        line[key.size()] != '=')
      continue;
    std::string_view v(line);
    v.remove_prefix(key.size() + 1);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
      char q = v[0];
      v = v.substr(1, v.size() - 2);
      std::string out;
      for (size_t i = 0; i < v.size(); i++) {
        if (q == '"' && v[i] == '\\' && i + 1 < v.size()) i++;
        out += v[i];
      }
      return out;
    }
    return std::string(v);
  }
  return {};
}

void add_field(Cell* obj, const char* name, const Cell* value) {
  Cell w = word::make(TYPE_WORD, 0, symbol::make(name), context::NO_INDEX);
  context::add_with(obj->w1, &w, value);
}

}  // namespace

std::string get_cmdline() {
  std::string line;
  for (int i = 0; i < runtime::rt.argc; i++) {
    std::string_view a(runtime::rt.argv[i]);
    if (i) line += ' ';
    bool quote = a.empty() || a.find_first_of(" \t") != std::string_view::npos;
    if (quote) line += '"';
    line += a;
    if (quote) line += '"';
  }
  return line;
}

Cell* list_env(Cell* out) {
  int32_t count = 0;
  for (char** e = environ; e && *e; e++) count++;
  Cell* block = block::push_only(count * 2);
  for (char** e = environ; e && *e; e++) {
    std::string_view entry(*e);
    // A name never starts with its own separator: the first "=" after the
    // first character splits.
    size_t eq = entry.size() > 1 ? entry.find('=', 1) : std::string_view::npos;
    std::string_view name = entry.substr(0, eq);
    std::string_view value =
        eq == std::string_view::npos ? std::string_view() : entry.substr(eq + 1);
    string::load_in(name, block);
    string::load_in(value, block);
  }
  map::make_at(out, block, uint32_t(count));
  stack::pop(1);
  return out;
}

Cell* os_info(Cell* out) {
  struct utsname u{};
  uname(&u);
  int32_t version[3] = {0, 0, 0};
  std::sscanf(u.release, "%d.%d.%d", &version[0], &version[1], &version[2]);
  for (int32_t& v : version) v = v < 0 ? 0 : v > 255 ? 255 : v;
  int32_t build = 0;
  if (const char* hash = std::strchr(u.version, '#'))
    build = int32_t(std::strtol(hash + 1, nullptr, 10));
  std::string name = os_release("PRETTY_NAME");
  if (name.empty()) name = os_release("NAME");
  if (name.empty()) name = u.sysname;

  Cell* obj = stack::push_unset();
  object::make_at(obj, 4);
  obj->w2 = object::new_class_id();
  *context::owner(obj->w1) = *obj;
  Cell* text = string::load(name);
  add_field(obj, "name", text);
  stack::pop(1);
  Cell arch = word::make_global(symbol::make(arch_name(u.machine)));
  add_field(obj, "arch", &arch);
  Cell v;
  tuple::make_from_ints(&v, 3, version);
  add_field(obj, "version", &v);
  Cell b = make_integer(build);
  add_field(obj, "build", &b);
  *out = *obj;
  stack::pop(1);
  return out;
}

}  // namespace kez::environment
