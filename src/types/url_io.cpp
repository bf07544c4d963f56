// url! open, read and write: the choice between HTTP and a scheme's port.
//
// Each result lands in the action's first argument cell, a frame slot that
// never moves; every value made on the way lives on the value stack.
#include "types/url_io.h"

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "types/port.h"
#include "values/context.h"
#include "values/error_ids.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::url_io {

namespace {

// Whether the URL's text, from its index, begins with "http" (exact case,
// so https too).
bool is_http(const Cell* url) {
  if (string::rs_length(url) < 4) return false;
  for (uint32_t i = 0; i < 4; i++)
    if (string::rs_abs_at(url, url->w1 + i) != uint32_t("http"[i])) return false;
  return true;
}

// The boot library's url-parser/parse-url, or nullptr before it exists.
const Cell* parse_url_function() {
  uint32_t field = symbol::make("parse-url");
  const Cell* parser = context::get_global_value(symbol::make("url-parser"));
  if (!parser || TYPE_OF(parser) != TYPE_OBJECT) return nullptr;
  const Cell* fn = context::symbol_value(field, parser->w1);
  return fn && TYPE_OF(fn) == TYPE_FUNCTION ? fn : nullptr;
}

}  // namespace

Cell* call_scheme(Cell* url, const open_options* opening) {
  const Cell* parse = parse_url_function();
  if (!parse) fire(err::INTERNAL, err::internal::NOT_DONE);
  Cell fn = *parse;
  Cell name = word::make_global(symbol::make("parse-url"));
  Cell* args = stack::push(*url);
  stack::push(make_logic(false));  // no /throw-error
  Cell* spec = stack::push_unset();
  port::call(spec, &fn, &name, args, 2);
  if (stack::pending()) return url;
  if (TYPE_OF(spec) != TYPE_OBJECT) {
    Cell u = *args;
    fire(err::SCRIPT, err::script::INVALID_ARG, &u);
  }
  Cell* made = stack::push_unset();
  port::make(made, spec, TYPE_PORT);
  if (opening) {
    Cell* opened = stack::push(*made);
    actions::get_open(opened)(opened, *opening);
    if (stack::pending()) return url;
  }
  *url = *made;
  stack::top = args;
  return url;
}

Cell* open(Cell* url, const open_options& o) { return call_scheme(url, &o); }

Cell* read(Cell* source, const read_options& o) {
  if (is_http(source)) fire(err::INTERNAL, err::internal::NOT_DONE);
  call_scheme(source, nullptr);
  if (stack::pending()) return source;
  return actions::get_read(source)(source, o);
}

Cell* write(Cell* destination, Cell* data, const write_options& o) {
  if (is_http(destination)) fire(err::INTERNAL, err::internal::NOT_DONE);
  call_scheme(destination, nullptr);
  if (stack::pending()) return destination;
  return actions::get_write(destination)(destination, data, o);
}

}  // namespace kez::url_io
