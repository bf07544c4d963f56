// Random numbers: a seeded generator whose sequence is reproducible after
// random::seed, a secure source from the kernel, and the unbiased mapping of
// a draw onto an integer range that every random action builds on.
//
// The generator is of the Mersenne Twister family but works on signed 32-bit
// words: every right shift copies the sign bit and products wrap modulo 2^32.
// Its outputs therefore differ on purpose from the reference generator for
// the same seed, and must stay exactly as they are (scripts that seed expect
// the same sequence on every run). Both sources give integers 0 to 2^31 - 1.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kez::random {

constexpr int32_t DEFAULT_SEED = 19650218;

// Seeds the generator with DEFAULT_SEED and fixes the hash seed.
void init();
void seed(int32_t seed);
// Next draw of the seeded generator: 0 to 2^31 - 1.
int32_t next();
// Four bytes from the kernel with bit 31 cleared. When the kernel cannot
// fill them, raises internal not-here with the word `secure` (as a digest
// that cannot be computed does): an unfilled buffer is never drawn from.
int32_t secure_int();
// Fills the buffer from the kernel; false when it could not fill all of it.
// Tests replace it to see the secure source fail.
using kernel_source = bool (*)(void* out, size_t length);
extern kernel_source read_kernel;
// 1 to n for n > 0, n to -1 for n < 0, 0 for 0; -2^31 gives -2^31 to -1.
int32_t rand(bool secure, int32_t n);

}  // namespace kez::random
