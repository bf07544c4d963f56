// Access to the `system` object from C++: fields reached by path, for the
// runtime parts that read the language's switches (error reports, tracing).
#pragma once
#include <initializer_list>

#include "values/cell.h"

namespace kez::system {

// The field at system/name1/name2/..., or nullptr when `system` or a field
// on the way does not exist (yet) or is not an object.
const Cell* field(std::initializer_list<const char*> path);

}  // namespace kez::system
