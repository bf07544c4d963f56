// file!: a file or directory path in the language's own notation (forward
// slashes, a leading slash for an absolute path), with its mold and the
// conversion to the POSIX path the platform calls take.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "values/cell.h"

namespace kez::file {

// Appends the platform form of the path (from its head) to a string; with
// `full` a relative path gets the current directory in front.
void to_local_path(const Cell* file, Cell* target, bool full);
// The path as NUL-free UTF-8 for the platform calls; a name holding a NUL
// raises access cannot-open.
std::string to_os_path(const Cell* file);
// The current directory, ending with a slash, as a new string! on the stack.
Cell* get_current_dir();
// Turns every backslash from the head into a forward slash, in place.
void normalize_slashes(Cell* file);
Cell* push(const Cell* file);
// A new file! decoded from UTF-8, pushed on the value stack.
Cell* load(std::string_view utf8);

void init();  // registers file!

}  // namespace kez::file
