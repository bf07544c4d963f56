// The I/O actions of url!: open, read and write, in url!'s action row.
//
// An http or https URL is one request through the HTTP client; any other
// scheme is reached through a port made from the parsed URL, whose actor
// answers the action.
#pragma once
#include "evaluator/actions.h"
#include "values/cell.h"

namespace kez::url_io {

// url/call-scheme: the port! for a URL (parsed by the boot library's
// `parse-url`), opened with the given refinements when `opening` is set;
// into `url`. A URL that does not parse raises script invalid-arg.
Cell* call_scheme(Cell* url, const open_options* opening);

Cell* open(Cell* url, const open_options& o);
Cell* read(Cell* source, const read_options& o);
Cell* write(Cell* destination, Cell* data, const write_options& o);

}  // namespace kez::url_io
