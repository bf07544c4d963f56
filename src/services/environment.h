// The process's command line, its environment variables and a description
// of the operating system, as values.
#pragma once
#include <string>

#include "values/cell.h"

namespace kez::environment {

// The command line rebuilt from the arguments as one text, each argument
// that holds a blank or a tab, or is empty, between double quotes (the form
// the command-line splitter reads back).
std::string get_cmdline();
// Every variable as a map! of name and value strings, into `out`.
Cell* list_env(Cell* out);
// A new object! with `name` (string!), `arch` (word!), `version` (tuple!)
// and `build` (integer!), into `out`.
Cell* os_info(Cell* out);

}  // namespace kez::environment
