// Method words and digests.
//
// The digest algorithms are fetched once per library context and kept; a
// failed fetch is not kept, so a later call tries again. Updates are fed in
// pieces of at most 1 GB, well within what the library's length type holds.
#include "services/digest.h"

#include <openssl/evp.h>

#include <cstring>

#include "foundation/library.h"
#include "foundation/output.h"
#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::crypto {

namespace {

struct method_entry {
  const char* name;
  const char* algorithm;  // the library's name; nullptr for our own sums
  uint32_t size;
};

constexpr method_entry METHODS[] = {
    {"tcp", nullptr, 0},          {"crc32", nullptr, 0},      {"md5", "MD5", 16},
    {"sha1", "SHA1", 20},         {"sha256", "SHA256", 32},   {"sha384", "SHA384", 48},
    {"sha512", "SHA512", 64},     {"adler32", nullptr, 0},    {"hash", nullptr, 0},
};
constexpr int32_t METHOD_COUNT = int32_t(sizeof METHODS / sizeof METHODS[0]);

uint32_t symbols[METHOD_COUNT];  // canonical symbol ids, 0 before init

OSSL_LIB_CTX* library_context = nullptr;
EVP_MD* fetched[METHOD_COUNT];

// The crypto library is opened on the first digest rather than linked (see
// foundation/library.h): without it, every digest raises not-here.
#define CRYPTO_FUNCTIONS(X)                                                               \
  X(EVP_MD_fetch) X(EVP_MD_free) X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex) \
  X(EVP_DigestUpdate) X(EVP_DigestFinal_ex)
struct crypto_api {
  CRYPTO_FUNCTIONS(KEZ_LIBRARY_MEMBER)
};

const crypto_api* open_crypto() {
  static crypto_api api;
  void* lib = library::open("libcrypto.so.3");
  bool found = lib CRYPTO_FUNCTIONS(KEZ_LIBRARY_BIND);
  return found ? &api : nullptr;
}

// The table, or null when the library cannot be used.
const crypto_api* lib_crypto() {
  static const crypto_api* api = open_crypto();
  return api;
}

constexpr uint64_t PIECE = uint64_t(1) << 30;

[[noreturn]] void not_here(int32_t code) {
  Cell w = word::make_global(symbol::make(METHODS[code].name));
  fire(err::INTERNAL, err::internal::NOT_HERE, &w);
}

// The table; raises not-here for the method when there is no library.
const crypto_api& crypto(int32_t code) {
  const crypto_api* api = lib_crypto();
  if (!api) not_here(code);
  return *api;
}

const EVP_MD* algorithm(int32_t code) {
  if (!fetched[code])
    fetched[code] = crypto(code).EVP_MD_fetch(library_context, METHODS[code].algorithm, nullptr);
  if (!fetched[code]) not_here(code);
  return fetched[code];
}

}  // namespace

void init_methods() {
  for (int32_t i = 0; i < METHOD_COUNT; i++) symbols[i] = symbol::resolve(symbol::make(METHODS[i].name));
}

int32_t method_of(uint32_t sym) {
  if (!symbols[0]) init_methods();
  uint32_t canonical = symbol::resolve(sym);
  for (int32_t i = 0; i < METHOD_COUNT; i++)
    if (symbols[i] == canonical) return i;
  return -1;
}

const char* method_name(int32_t code) { return METHODS[code].name; }

uint32_t digest_size(int32_t code) {
  return code >= 0 && code < METHOD_COUNT ? METHODS[code].size : 0;
}

uint32_t block_size(int32_t code) { return code == SHA384 || code == SHA512 ? 128 : 64; }

// A context exists only once the library was opened.
void digest_context::release::operator()(EVP_MD_CTX* ctx) const { lib_crypto()->EVP_MD_CTX_free(ctx); }

digest_context::digest_context(int32_t c) : code(c), ctx(crypto(c).EVP_MD_CTX_new()) {
  if (!ctx) not_here(code);
  restart();
}

void digest_context::restart() {
  if (crypto(code).EVP_DigestInit_ex(ctx.get(), algorithm(code), nullptr) != 1) not_here(code);
}

void digest_context::update(const uint8_t* data, uint64_t length) {
  do {
    uint64_t n = length < PIECE ? length : PIECE;
    if (crypto(code).EVP_DigestUpdate(ctx.get(), data, size_t(n)) != 1) not_here(code);
    data += n;
    length -= n;
  } while (length > 0);
}

void digest_context::finish(uint8_t* out) {
  unsigned int n = 0;
  uint8_t md[EVP_MAX_MD_SIZE];
  if (crypto(code).EVP_DigestFinal_ex(ctx.get(), md, &n) != 1 || n != digest_size(code)) not_here(code);
  std::memcpy(out, md, n);
}

void digest(const uint8_t* data, uint64_t length, int32_t code, uint8_t* out) {
  digest_context d(code);
  d.update(data, length);
  d.finish(out);
}

int32_t hash_not_implemented(const uint8_t*, uint64_t, int32_t) {
  static constexpr char MESSAGE[] = "** /hash support not yet implemented; algorithm TBD.";
  output::write_latin1_line(MESSAGE, sizeof MESSAGE - 1);
  return 0;
}

void use_library_context(OSSL_LIB_CTX* ctx) {
  for (EVP_MD*& md : fetched) {
    if (md) lib_crypto()->EVP_MD_free(md);
    md = nullptr;
  }
  library_context = ctx;
}

}  // namespace kez::crypto
