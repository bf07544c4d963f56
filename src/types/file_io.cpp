// The I/O actions of file!: read, write, query, delete and rename hand the
// path to the simple I/O layer and turn its answers into the actions'
// results. Each result lands in the action's first argument cell, a frame
// slot that never moves.
#include "types/file_io.h"

#include "foundation/raise.h"
#include "services/files.h"
#include "values/error_ids.h"

namespace kez::file_io {

Cell* read(Cell* source, const read_options& o) {
  if (o.as) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell file = *source;
  return simple_io::read(source, &file, o.part, o.seek, o.binary, o.lines);
}

Cell* write(Cell* destination, Cell* data, const write_options& o) {
  if (o.allow || o.as) fire(err::INTERNAL, err::internal::NOT_DONE);
  simple_io::write(destination, data, o.part, o.seek, o.append, o.lines);
  *destination = make_unset();
  return destination;
}

Cell* query(Cell* target) {
  Cell file = *target;
  return simple_io::query(target, &file);
}

Cell* delete_(Cell* file) {
  *file = make_logic(simple_io::delete_(file));
  return file;
}

Cell* rename(Cell* from, Cell* to) {
  *from = make_logic(simple_io::rename(from, to));
  return from;
}

}  // namespace kez::file_io
