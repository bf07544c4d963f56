// simple-io/request-http over libcurl's easy interface.
//
// A request is three steps that never overlap: the method, URL, headers and
// body are copied out of their values into a `request`; the transfer fills
// a `reply` with no Kez code or allocation running; the reply becomes
// values. The URL is sent in its molded form, percent-encoded where its
// characters stand outside the URL syntax, which the client requires.
#include "services/http.h"

// The library is reached through the table below, never by its symbols.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <charconv>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "foundation/library.h"
#include "foundation/memory.h"
#include "services/files.h"
#include "types/binary.h"
#include "types/map.h"
#include "values/block.h"
#include "values/string.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::simple_io {

namespace {

// Limits that keep a request from hanging: the time to connect, and the
// time the transfer may go on without receiving anything.
constexpr long CONNECT_TIMEOUT_SECONDS = 60;
constexpr long STALL_TIMEOUT_SECONDS = 30;
constexpr long MAX_REDIRECTS = 10;
// The client's receive buffer: large bodies arrive in fewer, larger pieces.
constexpr long RECEIVE_BUFFER = 512 * 1024;
// The largest body kept: the size a series can hold.
constexpr size_t MAX_BODY = 0x7FFFFFFF;

// The headers sent when the caller gives none.
constexpr const char* DEFAULT_HEADERS[] = {
    "Content-Type: application/x-www-form-urlencoded",
    "Accept-Charset: UTF-8",
    "User-Agent: Mozilla/5.0 (X11; Linux x86_64)",
};

enum class verb { get, head, post, other };

struct request {
  verb kind = verb::get;
  std::string method;  // the method's text, for `other`
  std::string url;
  std::vector<std::string> headers;
  bool has_body = false;
  std::string body;
};

struct header_field {
  std::string name;
  std::vector<std::string> values;
};

struct reply {
  long status = 0;
  std::vector<header_field> headers;  // the final reply's, in order of first sight
  std::vector<uint8_t> body;
  // A binary! on the value stack that takes the body as it arrives, saving
  // the copy out of `body` (nullptr: the body goes to `body`).
  Cell* into = nullptr;
};

// A value's formed text as UTF-8.
std::string formed(const Cell* value) {
  Cell* saved = stack::top;
  Cell* held = stack::push(*value);
  Cell* out = string::push_new(16);
  actions::form(held, out, 0x7FFFFFFF);
  std::string text = string::to_utf8(out);
  stack::top = saved;
  return text;
}

std::string text_of(const Cell* value) {
  return string::is_string_type(TYPE_OF(value)) ? string::to_utf8(value) : formed(value);
}

// A header name: a word of any kind gives its spelling, anything else its
// formed text.
std::string header_name(const Cell* name) {
  if (word::is_word_type(TYPE_OF(name))) return symbol::to_cstr(name->w2);
  return formed(name);
}

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

request describe(uint32_t method, const Cell* url, const Cell* headers, const Cell* body) {
  request r;
  std::string name = symbol::to_cstr(symbol::resolve(method));
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  if (lower == "get") r.kind = verb::get;
  else if (lower == "head") r.kind = verb::head;
  else if (lower == "post") r.kind = verb::post;
  else r.kind = verb::other, r.method = upper(name);
  {
    Cell* saved = stack::top;
    Cell* held = stack::push(*url);
    Cell* out = string::push_new(64);
    actions::mold(held, out, false, false, false, 0x7FFFFFFF, 0);
    r.url = string::to_utf8(out);
    stack::top = saved;
  }
  if (headers) {
    Cell* list = stack::push(*headers);
    int32_t n = block::rs_length(list);
    for (int32_t i = 0; i + 1 < n; i += 2) {
      Cell name_cell = block::rs_head(list)[i];
      Cell value_cell = block::rs_head(list)[i + 1];
      std::string line = header_name(&name_cell);
      line += ": ";
      line += text_of(&value_cell);
      r.headers.push_back(std::move(line));
    }
    stack::pop(1);
  } else {
    for (const char* h : DEFAULT_HEADERS) r.headers.emplace_back(h);
  }
  if (body && r.kind != verb::get && r.kind != verb::head) {
    r.has_body = true;
    if (TYPE_OF(body) == TYPE_BINARY) {
      Cell b = *body;
      const uint8_t* p = binary::rs_head(&b);
      r.body.assign(reinterpret_cast<const char*>(p), binary::rs_length(&b));
    } else {
      r.body = text_of(body);
    }
  }
  return r;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<reply*>(user);
  size_t n = size * count;
  const auto* bytes = reinterpret_cast<const uint8_t*>(data);
  if (r->into) {
    uint32_t held = binary::rs_length(r->into);
    if (held + n <= MAX_SERIES_SIZE) {
      binary::rs_append(r->into, bytes, uint32_t(n));
      return n;
    }
    // Past what a series holds (an error must not be raised through the
    // client library): the body goes on in `body` and ends as one there does.
    const uint8_t* head = binary::rs_head(r->into);
    r->body.assign(head, head + held);
    r->into = nullptr;
  }
  // A body larger than a binary! can hold ends the transfer as a failure.
  if (r->body.size() + n > MAX_BODY) return 0;
  r->body.insert(r->body.end(), bytes, bytes + n);
  return n;
}

// One header line of a reply. A status line starts a reply of its own
// (after a redirect, or an interim 100), whose headers replace those seen
// so far. A field is split at its first ':', with the blanks around the
// value and the line end dropped; a line without ':' is not a field.
size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* r = static_cast<reply*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    r->headers.clear();
    return line.size();
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return line.size();
  std::string_view name = line.substr(0, colon);
  std::string_view value = line.substr(colon + 1);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!value.empty() && blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && blank(value.back())) value.remove_suffix(1);
  // The announced length sizes the body's buffer once (never beyond what
  // a binary! can hold; a wrong announcement only costs a regrowth).
  if (same_name(name, "Content-Length")) {
    size_t n = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (error == std::errc() && end == value.data() + value.size() && n <= MAX_BODY) {
      if (!r->into) r->body.reserve(n);
      else if (n <= MAX_SERIES_SIZE && binary::rs_length(r->into) == 0)
        binary::make_at(r->into, uint32_t(n));
    }
  }
  for (header_field& f : r->headers) {
    if (same_name(f.name, name)) {
      f.values.emplace_back(value);
      return line.size();
    }
  }
  r->headers.push_back({std::string(name), {std::string(value)}});
  return line.size();
}

// The client library is opened on the first transfer rather than linked:
// it brings some forty libraries of its own (TLS, Kerberos, LDAP and more),
// and loading and relocating them at every start of kez cost more than the
// rest of start-up together. No library (or one without these functions)
// makes every transfer fail, as an unreachable host does.
#define CURL_FUNCTIONS(X)                                                                 \
  X(curl_global_init) X(curl_easy_init) X(curl_easy_setopt) X(curl_easy_perform)            \
  X(curl_easy_getinfo) X(curl_easy_cleanup) X(curl_slist_append) X(curl_slist_free_all)
struct curl_api {
  CURL_FUNCTIONS(KEZ_LIBRARY_MEMBER)
};

const curl_api* open_curl() {
  static curl_api api;
  void* lib = library::open("libcurl.so.4");
  bool found = lib CURL_FUNCTIONS(KEZ_LIBRARY_BIND);
  if (!found || api.curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
  return &api;
}

// The table, or null when the library cannot be used.
const curl_api* lib_curl() {
  static const curl_api* api = open_curl();
  return api;
}

struct curl_deleter {
  void operator()(CURL* c) const { lib_curl()->curl_easy_cleanup(c); }
};
struct slist_deleter {
  void operator()(curl_slist* l) const { lib_curl()->curl_slist_free_all(l); }
};

using header_list = std::unique_ptr<curl_slist, slist_deleter>;

// Appends a line to the header list; false when there is no room.
bool add_header(header_list& list, const char* line) {
  curl_slist* grown = lib_curl()->curl_slist_append(list.get(), line);
  if (!grown) return false;
  list.release();
  list.reset(grown);
  return true;
}

// Runs the transfer; false when it could not be made or did not complete.
bool transfer(const request& q, reply& r) {
  const curl_api* lib = lib_curl();
  if (!lib) return false;
  std::unique_ptr<CURL, curl_deleter> curl(lib->curl_easy_init());
  if (!curl) return false;
  CURL* c = curl.get();
  header_list list;
  for (const std::string& h : q.headers)
    if (!add_header(list, h.c_str())) return false;
  // Headers of the client's own that the caller did not ask for are
  // removed (a name with nothing after its colon): it would announce a
  // large body and wait for the server's go-ahead, and it would label a
  // body as form data.
  auto given = [&](std::string_view name) {
    for (const std::string& h : q.headers)
      if (h.size() > name.size() && h[name.size()] == ':' && same_name(h.substr(0, name.size()), name))
        return true;
    return false;
  };
  for (const char* name : {"Expect", "Content-Type"}) {
    if (given(name)) continue;
    if (!add_header(list, (std::string(name) + ":").c_str())) return false;
  }
  bool ok = lib->curl_easy_setopt(c, CURLOPT_URL, q.url.c_str()) == CURLE_OK;
  lib->curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
  lib->curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  lib->curl_easy_setopt(c, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
  lib->curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
  lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, STALL_TIMEOUT_SECONDS);
  lib->curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  lib->curl_easy_setopt(c, CURLOPT_BUFFERSIZE, RECEIVE_BUFFER);
  lib->curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  lib->curl_easy_setopt(c, CURLOPT_WRITEDATA, &r);
  lib->curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
  lib->curl_easy_setopt(c, CURLOPT_HEADERDATA, &r);
  switch (q.kind) {
    case verb::get: lib->curl_easy_setopt(c, CURLOPT_HTTPGET, 1L); break;
    case verb::head: lib->curl_easy_setopt(c, CURLOPT_NOBODY, 1L); break;
    case verb::post: lib->curl_easy_setopt(c, CURLOPT_POST, 1L); break;
    case verb::other: lib->curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, q.method.c_str()); break;
  }
  // POST always sends a body, empty when there is none; another method
  // sends one only when it has one.
  if (q.kind == verb::post || q.has_body) {
    lib->curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(q.body.size()));
    lib->curl_easy_setopt(c, CURLOPT_POSTFIELDS, q.body.data());
  }
  if (!ok || lib->curl_easy_perform(c) != CURLE_OK) return false;
  return lib->curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status) == CURLE_OK;
}

// The reply's headers as a map!: each name a word key; a name seen more
// than once holds a block of its values in order.
Cell* push_header_map(const reply& r) {
  Cell* pairs = block::push_only(int32_t(r.headers.size() * 2));
  for (const header_field& f : r.headers) {
    Cell key = word::make(TYPE_WORD, 0, symbol::make(f.name.c_str()), 0);
    block::rs_append(pairs, &key);
    if (f.values.size() == 1) {
      string::load_in(f.values[0], pairs);
      continue;
    }
    Cell* values = block::push_only(int32_t(f.values.size()));
    for (const std::string& v : f.values) string::load_in(v, values);
    block::rs_append(pairs, values);
    stack::pop(1);
  }
  Cell* map = stack::push_unset();
  map::make_at(map, pairs, uint32_t(r.headers.size()));
  *pairs = *map;
  stack::pop(1);
  return pairs;
}

}  // namespace

Cell* request_http(Cell* out, uint32_t method, const Cell* url, const Cell* headers,
                   const Cell* body, bool binary, bool lines, bool info) {
  request q = describe(method, url, headers, body);
  reply r;
  Cell* saved = stack::top;
  Cell* result = stack::push_unset();
  if (binary) r.into = binary::make_at(result, 0);
  if (!transfer(q, r)) {
    stack::top = saved;
    *out = none_value;
    return out;
  }
  if (binary) {
    if (!r.into) *result = *binary::push_bytes(r.body.data(), uint32_t(r.body.size()));
  } else if (lines) simple_io::lines(result, r.body.data(), r.body.size());
  else string::load_at(reinterpret_cast<const char*>(r.body.data()), uint32_t(r.body.size()), result);
  if (info) {
    Cell* map = push_header_map(r);
    Cell* block = block::push_only(3);
    Cell status = make_integer(int32_t(r.status));
    block::rs_append(block, &status);
    block::rs_append(block, map);
    block::rs_append(block, result);
    *result = *block;
  }
  *out = *result;
  stack::top = saved;
  return out;
}

}  // namespace kez::simple_io
