// The compressor: one final block of fixed Huffman codes, with a greedy
// first-hit matcher.
//
// What must stay true, because the output is fixed byte for byte:
// - positions within the first 3 bytes and the last 2 are literals;
// - the hash of the 3 bytes at a position picks one of 1,024 buckets of 4
//   slots; the slots are tried in order and the first holding an earlier
//   position less than 32,768 back whose 3 bytes agree is taken at once,
//   then extended up to 258 bytes;
// - after each literal or match, the position where it began is stored in
//   the bucket of its own 3 bytes, in the slot chosen by the 3 bytes at the
//   position that follows it.
// The hash table lives on this call's stack and is zeroed at entry; the
// compressor allocates nothing. Bytes past the buffer's end are counted
// but not written, so the count is the size a retry needs.
#include <array>
#include <cstring>

#include "foundation/byte_order.h"
#include "services/deflate.h"
#include "values/symbol.h"

namespace kez::deflate {

namespace {

using namespace kez::byte_order;

constexpr uint32_t BUCKETS = 1024;
constexpr uint32_t SLOTS = 4;
constexpr uint32_t WINDOW = 32768;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 258;

constexpr uint32_t reverse(uint32_t code, uint32_t bits) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < bits; i++) r |= ((code >> i) & 1) << (bits - 1 - i);
  return r;
}

// A code ready for the least-significant-first writer: bits and count.
struct code {
  uint32_t bits;
  uint32_t count;
};

constexpr code fixed_literal(uint32_t sym) {
  if (sym < 144) return {reverse(0x30 + sym, 8), 8};
  if (sym < 256) return {reverse(0x190 + sym - 144, 9), 9};
  if (sym < 280) return {reverse(sym - 256, 7), 7};
  return {reverse(0xC0 + sym - 280, 8), 8};
}

constexpr uint32_t floor_log2(uint32_t v) {
  uint32_t h = 0;
  while (v >>= 1) h++;
  return h;
}

// Each match length 3-258 as its fixed code followed by its extra bits.
constexpr std::array<code, MAX_MATCH + 1> make_lengths() {
  std::array<code, MAX_MATCH + 1> t{};
  for (uint32_t len = MIN_MATCH; len <= MAX_MATCH; len++) {
    uint32_t v = len - 3, sym, extra = 0, value = 0;
    if (len == MAX_MATCH) {
      sym = 285;
    } else if (v < 8) {
      sym = 257 + v;
    } else {
      uint32_t h = floor_log2(v);
      sym = 257 + 4 * (h - 1) + ((v >> (h - 2)) & 3);
      extra = h - 2;
      value = v & ((1u << extra) - 1);
    }
    code c = fixed_literal(sym);
    t[len] = {c.bits | value << c.count, c.count + extra};
  }
  return t;
}

constexpr std::array<code, 288> make_literals() {
  std::array<code, 288> t{};
  for (uint32_t s = 0; s < 288; s++) t[s] = fixed_literal(s);
  return t;
}

constexpr std::array<code, 288> LITERALS = make_literals();
constexpr std::array<code, MAX_MATCH + 1> LENGTHS = make_lengths();

constexpr std::array<uint32_t, 32> make_distance_codes() {
  std::array<uint32_t, 32> t{};
  for (uint32_t s = 0; s < 32; s++) t[s] = reverse(s, 5);
  return t;
}

constexpr std::array<uint32_t, 32> DISTANCE_CODES = make_distance_codes();

// A distance 1-32768 as its 5-bit fixed code followed by its extra bits.
inline code distance_code(uint32_t d) {
  uint32_t v = d - 1;
  if (v < 4) return {DISTANCE_CODES[v], 5};
  uint32_t h = 31 - uint32_t(__builtin_clz(v)), extra = h - 1;
  uint32_t sym = 2 * h + ((v >> extra) & 1);
  return {DISTANCE_CODES[sym] | (v & ((1u << extra) - 1)) << 5, 5 + extra};
}

inline uint32_t three(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

inline uint32_t bucket_of(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x & (BUCKETS - 1);
}

inline uint32_t slot_of(uint32_t x) { return ((x >> 14) - x) & (SLOTS - 1); }

// How far the bytes at a and b agree, from `len` up to `max`.
inline uint32_t extend(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t max) {
  while (len + 8 <= max) {
    uint64_t diff = load_le64(a + len) ^ load_le64(b + len);
    if (diff) return len + uint32_t(__builtin_ctzll(diff)) / 8;
    len += 8;
  }
  while (len < max && a[len] == b[len]) len++;
  return len;
}

// Appends bits least significant first; whole bytes go out while they fit.
struct bit_writer {
  uint8_t* out;
  uint64_t capacity;
  uint64_t pos = 0;
  uint64_t acc = 0;
  uint32_t count = 0;

  void put(uint32_t bits, uint32_t n) {
    acc |= uint64_t(bits) << count;
    count += n;
    if (count >= 32) {
      if (pos + 4 <= capacity) {
        out[pos] = uint8_t(acc);
        out[pos + 1] = uint8_t(acc >> 8);
        out[pos + 2] = uint8_t(acc >> 16);
        out[pos + 3] = uint8_t(acc >> 24);
      } else {
        for (uint64_t i = 0; i < 4; i++)
          if (pos + i < capacity) out[pos + i] = uint8_t(acc >> (8 * i));
      }
      pos += 4;
      acc >>= 32;
      count -= 32;
    }
  }

  void flush() {
    for (; count > 0; count = count > 8 ? count - 8 : 0) {
      if (pos < capacity) out[pos] = uint8_t(acc);
      pos++;
      acc >>= 8;
    }
  }
};

}  // namespace

int compress(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  if (length > MAX_COMPRESS_INPUT) return BAD_DATA;
  // Each slot holds a position + WINDOW, so that an empty slot (0) is
  // always out of reach.
  uint32_t table[BUCKETS][SLOTS];
  std::memset(table, 0, sizeof table);
  bit_writer w{out, size};
  w.put(1, 1);  // the final block
  w.put(1, 2);  // of fixed codes
  const uint32_t n = uint32_t(length);
  // The 3 bytes at p (while 3 remain): `here` as the hash reads them, the
  // first byte highest; `key` in load order, to compare with a candidate's
  // 4-byte load masked to 3 bytes (that load ends before p + 3, inside the
  // input).
  uint32_t p = 0;
  uint32_t here = n >= MIN_MATCH ? three(in) : 0;
  while (n - p >= MIN_MATCH) {
    uint32_t start = p;
    uint32_t bucket = bucket_of(here);
    if (p >= MIN_MATCH) {
      uint32_t key = __builtin_bswap32(here) >> 8;
      const uint32_t* slots = table[bucket];
      for (uint32_t s = 0; s < SLOTS; s++) {
        uint32_t dist = p + WINDOW - slots[s];
        if (dist - 1 >= WINDOW - 1 || (load_le32(in + p - dist) & 0xFFFFFF) != key) continue;
        uint32_t max = n - p < MAX_MATCH ? n - p : MAX_MATCH;
        uint32_t len = extend(in + p - dist, in + p, MIN_MATCH, max);
        w.put(LENGTHS[len].bits, LENGTHS[len].count);
        code d = distance_code(dist);
        w.put(d.bits, d.count);
        p += len;
        break;
      }
    }
    if (p == start) {
      w.put(LITERALS[in[p]].bits, LITERALS[in[p]].count);
      p++;
    }
    // When fewer than 3 bytes follow, no position is looked up again and
    // the store would never be read.
    if (n - p < MIN_MATCH) break;
    here = three(in + p);
    table[bucket][slot_of(here)] = start + WINDOW;
  }
  for (; p < n; p++) w.put(LITERALS[in[p]].bits, LITERALS[in[p]].count);
  w.put(0, 7);  // end of block
  w.flush();
  size = w.pos;
  return w.pos > w.capacity ? TOO_SMALL : OK;
}

// --- Method words ------------------------------------------------------------------

namespace {

constexpr const char* METHOD_NAMES[] = {"zlib", "deflate", "gzip"};
uint32_t method_symbols[3];

}  // namespace

void init_words() {
  for (int i = 0; i < 3; i++) method_symbols[i] = symbol::resolve(symbol::make(METHOD_NAMES[i]));
}

int32_t method_of(uint32_t sym) {
  if (!method_symbols[0]) init_words();
  uint32_t canonical = symbol::resolve(sym);
  for (int32_t i = 0; i < 3; i++)
    if (method_symbols[i] == canonical) return i;
  return -1;
}

}  // namespace kez::deflate
