// The natives of the process environment and of file sizes: set-env,
// get-env, list-env and size?. A variable's name is the text of any string
// or the spelling of a word; names and values reach the platform as UTF-8.
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/platform.h"
#include "foundation/raise.h"
#include "services/environment.h"
#include "services/files.h"
#include "values/error_ids.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

std::string name_of(const Cell* var) {
  if (word::is_any_word(TYPE_OF(var))) return symbol::to_cstr(var->w2);
  return string::to_utf8(var);
}

}  // namespace

// none! removes the variable. A name the platform cannot hold (empty, or
// holding "=" or a NUL) or a value holding a NUL is refused, never
// reported as set.
void set_env_star(bool, const int32_t*) {
  Cell var = *arg(0), value = *arg(1);
  std::optional<std::string> text;
  if (TYPE_OF(&value) != TYPE_NONE) text = string::to_utf8(&value);
  if (!platform::set_env(name_of(&var), text)) {
    bool bad_value = text && text->find('\0') != std::string::npos;
    fire(err::SCRIPT, err::script::INVALID_ARG, bad_value ? &value : &var);
  }
  *arg(0) = value;
}

void get_env_star(bool, const int32_t*) {
  Cell var = *arg(0);
  std::optional<std::string> value = platform::get_env(name_of(&var));
  if (!value) {
    *arg(0) = make_none();
    return;
  }
  string::load_at(value->data(), uint32_t(value->size()), arg(0));
}

void list_env_star(bool, const int32_t*) { environment::list_env(arg(0)); }

// Sizes past the integer range come as a float! rather than wrapping.
void size_q_star(bool, const int32_t*) {
  Cell file = *arg(0);
  int64_t size = simple_io::file_size(&file);
  if (size < 0) *arg(0) = make_none();
  else if (size > INT32_MAX) *arg(0) = make_float(double(size));
  else *arg(0) = make_integer(int32_t(size));
}

}  // namespace kez::natives
