// HTTP and HTTPS requests for url! values: one synchronous request at a
// time through the platform's HTTP client (libcurl's easy interface).
//
// The client does the transport: TLS with certificates verified, redirects
// followed, proxies taken from the environment. Only the reply's header
// text is parsed here, and only the final reply's headers are kept. Every
// input is turned into C++ data before the transfer starts and the reply
// becomes values only after it ends, so no series address is held across
// the transfer.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::simple_io {

// simple-io/request-http: the method is a word's symbol (get, head and post
// by name; any other is sent as its spelling in upper case); `headers` is a
// block of name/value pairs or null (then three default headers are sent);
// `body` is a binary! (its bytes), any other value (its formed text, as
// UTF-8), or null; GET and HEAD send none. The result goes into `out`: the
// body as a string!, a binary! (`binary`) or a block of lines (`lines`);
// with `info` the block [status headers body], the headers as a map! of
// word keys (a name seen more than once holds a block of its values). A
// transport failure gives none!; an HTTP error status is not a failure.
Cell* request_http(Cell* out, uint32_t method, const Cell* url, const Cell* headers,
                   const Cell* body, bool binary, bool lines, bool info);

}  // namespace kez::simple_io
