// HMAC over the message digests (MD5 and the SHA family).
//
// The key is padded to the digest's block size (128 bytes for SHA-384 and
// SHA-512, 64 for the others); a longer key is replaced by its digest
// first, while a key of exactly the block size is used as it is. Failures
// of the digest raise as the digests do, and no bytes are produced then.
#pragma once
#include <cstdint>

namespace kez::crypto {

// The HMAC of the data under the key into `out` (digest_size(code) bytes);
// `code` is a digest method (MD5 to SHA512).
void hmac(const uint8_t* data, uint64_t length, const uint8_t* key, uint64_t key_length,
          int32_t code, uint8_t* out);

}  // namespace kez::crypto
