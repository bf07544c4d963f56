// Random numbers: the seeded generator's exact sequence (expected values
// worked out from its signed-arithmetic definition, not from the reference
// generator, whose outputs differ on purpose), rand's ranges, the secure
// source and the hash seed.
#include <gtest/gtest.h>

#include <climits>

#include "foundation/hashtable.h"
#include "services/random.h"

using namespace kez;

TEST(Random, SeededSequenceFollowsTheSignedAlgorithm) {
  random::seed(1);
  // The first draws temper the seeded words before any twist: the first is
  // the tempered seed itself.
  const int32_t first[] = {4194449, 1284266036, 226251983, 714404583, 850230422, 434920052};
  for (int32_t v : first) EXPECT_EQ(random::next(), v);
  for (int i = 6; i < 623; i++) random::next();
  // The last word before the first twist, and the first ones after it.
  const int32_t around_twist[] = {1575299422, 462010977, 662441838, 2134020178};
  for (int32_t v : around_twist) EXPECT_EQ(random::next(), v);
  for (int i = 627; i < 999; i++) random::next();
  EXPECT_EQ(random::next(), 1175250580);

  random::seed(-5);  // a negative seed: its shifts copy the sign bit
  EXPECT_EQ(random::next(), 16908868);
  EXPECT_EQ(random::next(), 660066555);
  random::init();
  EXPECT_EQ(random::next(), 1573102752);
  EXPECT_EQ(random::next(), 2054623780);
}

TEST(Random, RandMapsDrawsWithoutBias) {
  random::seed(1);
  const int32_t n[] = {6, 6, 6, 100, -10, 1, -1, INT32_MAX, INT32_MIN, 3};
  const int32_t expected[] = {6, 3, 6, 84, -3, 1, -1, 1252336208, -1056659077, 2};
  for (int i = 0; i < 10; i++) EXPECT_EQ(random::rand(false, n[i]), expected[i]) << n[i];
  EXPECT_EQ(random::rand(false, 0), 0);
  // Never negative draws, never outside the range.
  random::seed(12345);
  for (int i = 0; i < 100000; i++) {
    ASSERT_GE(random::next(), 0);
    int32_t r = random::rand(false, 7);
    ASSERT_TRUE(r >= 1 && r <= 7);
  }
  for (int i = 0; i < 1000; i++) {
    int32_t r = random::rand(true, -3);
    ASSERT_TRUE(r >= -3 && r <= -1);
    ASSERT_GE(random::secure_int(), 0);
    ASSERT_LT(random::rand(true, INT32_MIN), 0);
  }
}

TEST(Random, InitFixesTheHashSeed) {
  random::init();
  uint32_t seed = hashtable::hash_seed;
  EXPECT_NE(seed, 0u);
  random::seed(77);
  random::init();
  EXPECT_EQ(hashtable::hash_seed, seed);
}
