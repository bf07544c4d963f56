// Random numbers.
//
// Shifts and products are written on unsigned words where the signed form
// would be undefined or implementation-defined, and converted back; the
// right shifts stay on signed words, where C++ defines them as arithmetic.
#include "services/random.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstring>

#include "foundation/hashtable.h"
#include "foundation/raise.h"
#include "values/error_ids.h"
#include "values/symbol.h"
#include "values/word.h"

namespace kez::random {

namespace {

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX = 0x9908B0DF;

int32_t mt[N];
int index = N;

// Any fixed non-zero value serves: hashes are never stored outside memory.
constexpr uint32_t HASH_SEED = 0x5EED1E55;

inline int32_t from_bits(uint32_t v) { return int32_t(v); }
inline uint32_t bits(int32_t v) { return uint32_t(v); }

void twist() {
  for (int i = 0; i < N; i++) {
    int32_t y = from_bits((bits(mt[i]) & 0x80000000u) | (bits(mt[(i + 1) % N]) & 0x7FFFFFFFu));
    int32_t v = mt[(i + M) % N] ^ (y >> 1);
    if (y & 1) v ^= from_bits(MATRIX);
    mt[i] = v;
  }
  index = 0;
}

bool read_from_kernel(void* out, size_t length) {
  auto* p = static_cast<uint8_t*>(out);
  while (length > 0) {
    ssize_t n = getrandom(p, length, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    p += n;
    length -= size_t(n);
  }
  if (length == 0) return true;
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  while (length > 0) {
    ssize_t n = ::read(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    length -= size_t(n);
  }
  ::close(fd);
  return length == 0;
}

}  // namespace

kernel_source read_kernel = read_from_kernel;

void init() {
  seed(DEFAULT_SEED);
  hashtable::hash_seed = HASH_SEED;
}

void seed(int32_t s) {
  mt[0] = s;
  for (int i = 1; i < N; i++) {
    int32_t prev = mt[i - 1];
    mt[i] = from_bits(1812433253u * bits(prev ^ (prev >> 30)) + uint32_t(i));
  }
  index = 0;
}

int32_t next() {
  if (index >= N) twist();
  int32_t y = mt[index++];
  y ^= y >> 11;
  y ^= from_bits((bits(y) << 7) & 0x9D2C5680u);
  y ^= from_bits((bits(y) << 15) & 0xEFC60000u);
  y ^= y >> 18;
  return y;
}

int32_t secure_int() {
  uint8_t b[4];
  // A kernel that gives nothing must not pass off a constant as random.
  if (!read_kernel(b, sizeof b)) {
    Cell w = word::make_global(symbol::make("secure"));
    fire(err::INTERNAL, err::internal::NOT_HERE, &w);
  }
  uint32_t v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
  return int32_t(v & 0x7FFFFFFFu);
}

int32_t rand(bool secure, int32_t n) {
  auto draw = [secure] { return secure ? secure_int() : next(); };
  if (n == 0) return 0;
  if (n == INT32_MIN) return -draw() - 1;
  int32_t m = n < 0 ? -n : n;
  int32_t limit = (INT32_MAX / m) * m;
  int32_t d;
  do d = draw(); while (d >= limit);
  int32_t r = d % m + 1;
  return n > 0 ? r : -r;
}

}  // namespace kez::random
