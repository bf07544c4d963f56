// Digests and the secure random source when the platform fails them: the
// error is raised and no bytes are handed out.
#include <gtest/gtest.h>

#include <openssl/crypto.h>
#include <openssl/provider.h>

#include <cstring>

#include "services/digest.h"
#include "services/hmac.h"
#include "services/random.h"
#include "test_support.h"
#include "values/error_ids.h"
#include "values/value_test_support.h"

using namespace kez;

TEST(Crypto, AFailingDigestRaisesAndGivesNoBytes) {
  test::ensure_runtime();
  // A library context with only the provider that has no algorithms.
  OSSL_LIB_CTX* empty = OSSL_LIB_CTX_new();
  ASSERT_NE(empty, nullptr);
  OSSL_PROVIDER* null = OSSL_PROVIDER_load(empty, "null");
  ASSERT_NE(null, nullptr);
  crypto::use_library_context(empty);
  const uint8_t data[] = "abc";
  for (int32_t code = crypto::MD5; code <= crypto::SHA512; code++) {
    uint8_t out[crypto::MAX_DIGEST];
    std::memset(out, 0xA5, sizeof out);
    fired f = test::raised([&] { crypto::digest(data, 3, code, out); });
    EXPECT_TRUE(test::raises(f, err::INTERNAL, err::internal::NOT_HERE)) << code;
    f = test::raised([&] { crypto::hmac(data, 3, data, 3, code, out); });
    EXPECT_TRUE(test::raises(f, err::INTERNAL, err::internal::NOT_HERE)) << code;
    for (uint8_t b : out) ASSERT_EQ(b, 0xA5);
  }
  crypto::use_library_context(nullptr);
  OSSL_PROVIDER_unload(null);
  OSSL_LIB_CTX_free(empty);
  // Back on the default context, digests work again.
  uint8_t out[crypto::MAX_DIGEST];
  crypto::digest(data, 3, crypto::MD5, out);
  EXPECT_EQ(out[0], 0x90);
  EXPECT_EQ(out[15], 0x72);
}

namespace {

// A kernel that fills part of the buffer, then fails.
bool failing_kernel(void* out, size_t length) {
  std::memset(out, 0x7F, length / 2);
  return false;
}

}  // namespace

TEST(Crypto, AFailingSecureSourceRaisesAndDrawsNothing) {
  test::ensure_runtime();
  random::kernel_source saved = random::read_kernel;
  random::read_kernel = failing_kernel;
  int32_t drawn = -1;
  fired f = test::raised([&] { drawn = random::secure_int(); });
  EXPECT_TRUE(test::raises(f, err::INTERNAL, err::internal::NOT_HERE));
  f = test::raised([&] { drawn = random::rand(true, 6); });
  EXPECT_TRUE(test::raises(f, err::INTERNAL, err::internal::NOT_HERE));
  EXPECT_EQ(drawn, -1);
  random::read_kernel = saved;
  EXPECT_GE(random::secure_int(), 0);
}
