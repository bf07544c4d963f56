// The checksum methods by word, and the message digests (MD5, SHA-1,
// SHA-256, SHA-384, SHA-512) computed by the platform's crypto library.
//
// Method words are compared by their canonical symbol, so any letter case
// names the same method. Every call into the library is checked: a digest
// that cannot be computed raises internal not-here with the method's word
// and never yields bytes. A context is taken per use and released on every
// path, errors included.
#pragma once
#include <openssl/types.h>

#include <cstdint>
#include <memory>

namespace kez::crypto {

// Method codes; tcp to sha512 are the checksum codes that stored data and
// callers know, adler32 and hash come after them.
enum method : int32_t {
  TCP = 0,
  CRC32 = 1,
  MD5 = 2,
  SHA1 = 3,
  SHA256 = 4,
  SHA384 = 5,
  SHA512 = 6,
  ADLER32 = 7,
  HASH = 8,
};

constexpr uint32_t MAX_DIGEST = 64;

// Makes the nine method symbols.
void init_methods();
// The method a word's symbol names, or -1 when it names none.
int32_t method_of(uint32_t symbol);
// The method's word, for error reports.
const char* method_name(int32_t code);
// Digest size in bytes: 16 to 64 for the digests, 0 for other methods.
uint32_t digest_size(int32_t code);
// HMAC block size: 128 for SHA-384 and SHA-512, 64 for the others.
uint32_t block_size(int32_t code);

// A running digest. Raises internal not-here when the library refuses.
struct digest_context {
  explicit digest_context(int32_t code);
  void update(const uint8_t* data, uint64_t length);
  // Writes digest_size(code) bytes.
  void finish(uint8_t* out);
  // Starts a new digest of the same method.
  void restart();

  struct release {
    void operator()(EVP_MD_CTX* ctx) const;
  };
  int32_t code;
  std::unique_ptr<EVP_MD_CTX, release> ctx;
};

// The digest of the bytes into `out` (digest_size(code) bytes).
void digest(const uint8_t* data, uint64_t length, int32_t code, uint8_t* out);

// Prints that the hash method has no algorithm yet; gives 0.
int32_t hash_not_implemented(const uint8_t* data, uint64_t length, int32_t size);

// The library context digests are fetched from (nullptr: the default one).
// Tests hand in a context without algorithms to see digests fail.
void use_library_context(OSSL_LIB_CTX* ctx);

}  // namespace kez::crypto
