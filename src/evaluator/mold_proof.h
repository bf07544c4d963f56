// What `mold/all` writes must load back as the value itself.
//
// The text forms of words, paths, and the string kinds written without
// delimiters (url!, email!, tag!, ref!, a bare file!) depend on how the
// lexer splits tokens: a name can hold characters that end its token, or
// make it read as another datatype. Rather than restate the lexer's rules
// per type, such a value's molded text is scanned back and compared with the
// value; a value that its own text form cannot say raises script
// invalid-arg instead of leaving text that loads as something else.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::mold_proof {

// True for the datatypes whose molded text is checked by scanning it back.
bool needs_proof(uint32_t type);

// Checks the text that molding `value` appended to `out` from the character
// index `start`; raises script invalid-arg with the value when it does not
// load back as exactly one value strictly equal to it.
void prove(const Cell* value, const Cell* out, uint32_t start);

}  // namespace kez::mold_proof
