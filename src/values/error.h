// error! values: objects over a copy of the error prototype's context, with
// the fields below in this order. Raising is `fire` (foundation/raise.h);
// this module builds the value and forms the report the console prints.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::error {

enum field_index : uint32_t {
  FIELD_CODE = 0,
  FIELD_TYPE = 1,
  FIELD_ID = 2,
  FIELD_ARG1 = 3,
  FIELD_ARG2 = 4,
  FIELD_ARG3 = 5,
  FIELD_NEAR = 6,
  FIELD_WHERE = 7,
  FIELD_STACK = 8,
  FIELD_FILES = 9,
};

constexpr uint32_t ERROR_CLASS = 1;

extern Cell prototype;  // the object every error copies

void init();

inline Cell* field(const Cell* error, uint32_t i) {
  Cell* rec = cells_of(memory::buffer(error->w1));
  return cells_of(memory::buffer(rec->w2)) + i;
}

// Builds the error and raises it (the builder behind `fire`).
[[noreturn]] void raise(int category, int id, const Cell* arg1, const Cell* arg2,
                        const Cell* arg3);
// Pushes a new error of the catalogue with up to three arguments.
Cell* create(int category, int id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// The report text ("*** Title: message", Where, Near, ...) into `out`.
int32_t form(const Cell* error, Cell* out, int32_t part);
// Prints the report of an error nothing caught, on standard error.
void print_uncaught(const Cell* error);
// Fills `stack` and `files` before an error is shown.
void capture_stack(Cell* error);
void register_type();  // registers error!

}  // namespace kez::error
