// HMAC: digest(key ^ opad, digest(key ^ ipad, message)).
//
// The padded key blocks are fed to the digest before the message rather
// than copied in front of it, so a message of any size costs no copy.
#include "services/hmac.h"

#include <cstring>

#include "services/digest.h"

namespace kez::crypto {

namespace {

constexpr uint8_t IPAD = 0x36;
constexpr uint8_t OPAD = 0x5C;
constexpr uint32_t MAX_BLOCK = 128;

}  // namespace

void hmac(const uint8_t* data, uint64_t length, const uint8_t* key, uint64_t key_length,
          int32_t code, uint8_t* out) {
  uint32_t block = block_size(code), size = digest_size(code);
  digest_context d(code);
  uint8_t k[MAX_BLOCK] = {};
  if (key_length > block) {
    d.update(key, key_length);
    d.finish(k);
    d.restart();
  } else if (key_length > 0) {
    std::memcpy(k, key, key_length);
  }
  uint8_t pad[MAX_BLOCK];
  for (uint32_t i = 0; i < block; i++) pad[i] = k[i] ^ IPAD;
  d.update(pad, block);
  d.update(data, length);
  uint8_t inner[MAX_DIGEST];
  d.finish(inner);
  d.restart();
  for (uint32_t i = 0; i < block; i++) pad[i] = k[i] ^ OPAD;
  d.update(pad, block);
  d.update(inner, size);
  d.finish(out);
}

}  // namespace kez::crypto
