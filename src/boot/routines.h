// Routines: boot functions whose bodies are C++. Each has a spec written in
// Kez and becomes a routine! value bound to its global word at start-up.
#pragma once

namespace kez::boot {

// Makes every routine of the table and binds it to its word.
void make_routines();
// Makes the type tests (`block?`, `series?` ...), routines too.
void make_type_tests();

}  // namespace kez::boot
