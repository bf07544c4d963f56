// url! open, read and write: the choice between HTTP and a scheme's port.
//
// Each result lands in the action's first argument cell, a frame slot that
// never moves; every value made on the way lives on the value stack.
#include "types/url_io.h"

#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/http.h"
#include "types/port.h"
#include "values/block.h"
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

// One HTTP request whose reply goes into `url`'s cell; a transport failure
// raises access no-connect with the URL.
Cell* request(Cell* url, uint32_t method, const Cell* headers, const Cell* body, bool binary,
              bool lines, bool info) {
  Cell* target = stack::push(*url);  // kept for the error once `url` holds the reply
  simple_io::request_http(url, method, target, headers, body, binary, lines, info);
  if (TYPE_OF(url) == TYPE_NONE) fire(err::ACCESS, err::access::NO_CONNECT, target);
  stack::top = target;
  return url;
}

// The data of an HTTP write: none, a block!, a string! or a binary!.
const Cell* request_data(const Cell* data) {
  switch (TYPE_OF(data)) {
    case TYPE_NONE: return nullptr;
    case TYPE_BLOCK: case TYPE_STRING: case TYPE_BINARY: return data;
    default: {
      Cell v = *data;
      fire(err::SCRIPT, err::script::INVALID_ARG, &v);
    }
  }
}

// write of a request description: [method headers data], every part
// optional; an empty block is a plain GET.
Cell* write_request(Cell* url, const Cell* spec_in, const write_options& o) {
  Cell* spec = stack::push(*spec_in);
  int32_t n = block::rs_length(spec);
  uint32_t method = symbol::make("get");
  const Cell* headers = nullptr;
  const Cell* data = nullptr;
  if (n > 0) {
    const Cell* first = block::rs_head(spec);
    uint32_t t = TYPE_OF(first);
    if (t != TYPE_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD && t != TYPE_SET_WORD) {
      Cell v = *first;
      fire(err::SCRIPT, err::script::INVALID_ARG, &v);
    }
    method = symbol::resolve(first->w2);
  }
  if (n > 1) {
    headers = block::rs_head(spec) + 1;
    if (TYPE_OF(headers) != TYPE_BLOCK) {
      Cell v = *headers;
      fire(err::SCRIPT, err::script::INVALID_ARG, &v);
    }
  }
  if (n > 2) data = request_data(block::rs_head(spec) + 2);
  // Copies on the stack: the request may allocate, and the spec's buffer
  // with it could move.
  Cell* held_headers = headers ? stack::push(*headers) : nullptr;
  Cell* held_data = data ? stack::push(*data) : nullptr;
  request(url, method, held_headers, held_data, o.binary, o.lines, o.info);
  stack::top = spec;
  return url;
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
  if (is_http(source)) {
    if (o.part || o.seek || o.as) fire(err::INTERNAL, err::internal::NOT_DONE);
    return request(source, symbol::make("get"), nullptr, nullptr, o.binary, o.lines, o.info);
  }
  call_scheme(source, nullptr);
  if (stack::pending()) return source;
  return actions::get_read(source)(source, o);
}

Cell* write(Cell* destination, Cell* data, const write_options& o) {
  if (is_http(destination)) {
    if (o.part || o.seek || o.allow || o.as) fire(err::INTERNAL, err::internal::NOT_DONE);
    if (TYPE_OF(data) == TYPE_BLOCK) return write_request(destination, data, o);
    return request(destination, symbol::make("post"), nullptr, request_data(data), o.binary,
                   o.lines, o.info);
  }
  call_scheme(destination, nullptr);
  if (stack::pending()) return destination;
  return actions::get_write(destination)(destination, data, o);
}

}  // namespace kez::url_io
