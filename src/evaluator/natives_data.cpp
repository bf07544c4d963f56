// The data-service natives: compress, decompress and checksum.
//
// Input bytes are either a binary's own buffer or a UTF-8 copy of a text.
// A binary's address is read again after every allocation (a new buffer
// may move it); the services themselves never allocate or call back into
// Kez, so within one service call the address holds. Output is sized
// exactly: compressors first try input length + 32 and retry once with the
// size they report; decompressors measure first unless a larger size is
// given, so no input makes us allocate more than its real output.
#include <string>
#include <vector>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "foundation/raise.h"
#include "services/checksums.h"
#include "services/deflate.h"
#include "services/digest.h"
#include "services/files.h"
#include "services/hmac.h"
#include "types/binary.h"
#include "values/error_ids.h"
#include "values/file.h"
#include "values/string.h"
#include "values/words.h"

namespace kez::natives {

namespace {

inline Cell* arg(int i) { return stack::arguments + i; }

// The bytes of a binary! (from its head), of a file's contents when
// `read_files` (a file! is otherwise text like any string), or of a text as
// UTF-8. `at` re-reads a binary's address, which an allocation may have
// moved.
struct input_bytes {
  Cell* cell;
  std::string copy;
  bool binary;

  input_bytes(Cell* value, bool read_files) : cell(value), binary(TYPE_OF(value) == TYPE_BINARY) {
    if (binary) return;
    if (read_files && TYPE_OF(value) == TYPE_FILE) {
      std::vector<uint8_t> contents;
      if (!simple_io::read_bytes(file::to_os_path(value), -1, -1, contents)) {
        Cell v = *value;
        fire(err::ACCESS, err::access::CANNOT_OPEN, &v);
      }
      copy.assign(contents.begin(), contents.end());
    } else {
      copy = string::to_utf8(value);
    }
  }
  const uint8_t* at() const {
    return binary ? binary::rs_head(cell) : reinterpret_cast<const uint8_t*>(copy.data());
  }
  uint64_t length() const { return binary ? binary::rs_length(cell) : copy.size(); }
};

[[noreturn]] void invalid_arg(const Cell* value) {
  Cell v = *value;
  fire(err::SCRIPT, err::script::INVALID_ARG, &v);
}

[[noreturn]] void invalid_data() {
  Cell v = *arg(0);
  fire(err::SCRIPT, err::script::INVALID_DATA, &v);
}

[[noreturn]] void bad_with(const Cell* value) {
  Cell w = words::with_ref, v = *value;
  fire(err::SCRIPT, err::script::INVALID_REFINE_ARG, &w, &v);
}

// A new empty binary of `capacity` bytes in the cell after the arguments.
Cell* new_output(uint64_t capacity) {
  if (capacity > MAX_SERIES_SIZE) fire(err::INTERNAL, err::internal::NO_MEMORY);
  stack::top = arg(1);
  Cell* out = stack::push_unset();
  return binary::make_at(out, uint32_t(capacity));
}

// Runs a service into a new binary of `capacity` bytes, and once more with
// the size it asks for. The result is left in the first argument cell.
using service = int (*)(uint8_t*, uint64_t&, const uint8_t*, uint64_t);

void run_into_binary(service fn, const input_bytes& in, uint64_t capacity) {
  for (int attempt = 0; attempt < 2; attempt++) {
    Cell* out = new_output(capacity);
    series_buffer* b = GET_BUFFER(out);
    uint64_t size = capacity;
    int r = fn(capacity ? b->head_ptr() : nullptr, size, in.at(), in.length());
    if (r == deflate::OK) {
      b->tail = b->head + uint32_t(size);
      *arg(0) = *out;
      stack::top = arg(1);
      return;
    }
    if (r != deflate::TOO_SMALL) break;
    capacity = size;
  }
  invalid_data();
}

service compressor(int32_t method) {
  return method == deflate::ZLIB ? deflate::zlib_compress
         : method == deflate::GZIP ? deflate::gzip
                                   : deflate::compress;
}

service decompressor(int32_t method) {
  return method == deflate::ZLIB ? deflate::zlib_uncompress
         : method == deflate::GZIP ? deflate::gunzip
                                   : deflate::inflate;
}

int32_t compression_method(const Cell* word) {
  int32_t m = deflate::method_of(word->w2);
  if (m < 0) invalid_arg(word);
  return m;
}

}  // namespace

void compress_star(bool, const int32_t*) {
  int32_t method = compression_method(arg(1));
  input_bytes in(arg(0), false);
  run_into_binary(compressor(method), in, in.length() + 32);
}

void decompress_star(bool, const int32_t* refs) {
  int32_t method = compression_method(arg(1));
  int64_t hint = refs[0] >= 0 ? get_integer(arg(refs[0])) : 0;
  input_bytes in(arg(0), false);
  service fn = decompressor(method);
  // The size given is only a hint, and only for the framings without a
  // length of their own; otherwise inflate once without storing to learn
  // the exact size.
  uint64_t capacity = uint64_t(hint > 0 ? hint : 0);
  if (method == deflate::GZIP || capacity <= in.length() || capacity > MAX_SERIES_SIZE) {
    capacity = 0;
    int r = fn(nullptr, capacity, in.at(), in.length());
    if (r != deflate::OK && r != deflate::TOO_SMALL) invalid_data();
  }
  run_into_binary(fn, in, capacity);
}

// --- checksum --------------------------------------------------------------------------

void checksum_star(bool, const int32_t* refs) {
  Cell* method_word = arg(1);
  int32_t method = crypto::method_of(method_word->w2);
  if (method < 0) invalid_arg(method_word);
  const Cell* with = refs[0] >= 0 ? arg(refs[0]) : nullptr;
  bool integer_key = with && TYPE_OF(with) == TYPE_INTEGER;
  bool is_digest = crypto::digest_size(method) > 0;
  if (with && !is_digest && method != crypto::HASH) bad_with(with);
  if (method == crypto::HASH && !with) bad_with(method_word);
  if (with && (method == crypto::HASH) != integer_key) bad_with(with);

  std::string key;
  if (with && !integer_key) {
    input_bytes k(arg(refs[0]), false);
    key.assign(reinterpret_cast<const char*>(k.at()), k.length());
  }
  input_bytes in(arg(0), true);
  const uint8_t* data = in.at();
  uint64_t length = in.length();

  Cell result;
  switch (method) {
    case crypto::CRC32: result = make_integer(int32_t(crypto::crc32(data, length))); break;
    case crypto::TCP: result = make_integer(int32_t(crypto::tcp_checksum(data, length))); break;
    case crypto::ADLER32: result = make_integer(int32_t(crypto::adler32(data, length))); break;
    case crypto::HASH:
      result = make_integer(crypto::hash_not_implemented(data, length, get_integer(with)));
      break;
    default: {
      uint8_t out[crypto::MAX_DIGEST];
      if (with)
        crypto::hmac(data, length, reinterpret_cast<const uint8_t*>(key.data()), key.size(), method,
                     out);
      else
        crypto::digest(data, length, method, out);
      result = *binary::push_bytes(out, crypto::digest_size(method));
    }
  }
  *arg(0) = result;
  stack::top = arg(1);
}

}  // namespace kez::natives
