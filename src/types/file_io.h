// The I/O actions of file!, in file!'s action row.
#pragma once
#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::file_io {

Cell* read(Cell* source, const read_options& o);
Cell* write(Cell* destination, Cell* data, const write_options& o);
Cell* query(Cell* target);
Cell* delete_(Cell* file);
Cell* rename(Cell* from, Cell* to);

}  // namespace kez::file_io
