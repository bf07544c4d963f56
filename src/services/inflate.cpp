// The decompressor: every deflate stream (stored, fixed and dynamic blocks).
//
// What must stay true:
// - input that ends before the final block has ended, a code or extra bits
//   that need bits past the input, a stored length whose complement does
//   not match, and malformed code tables (over-subscribed, incomplete
//   beyond the one-code case, no end-of-block code, symbols that do not
//   exist) are all BAD_DATA: no partial output is ever reported as success;
// - a distance reaching before the output's start is BAD_DISTANCE, judged
//   on the bytes produced, whether or not they were stored;
// - output bytes are stored only below the capacity, and counted always.
// Decoding tables live on the stack of the call: codes of up to 10 bits are
// found with one lookup, longer ones (rare) by walking the canonical code.
#include <array>
#include <cstring>

#include "foundation/byte_order.h"
#include "services/deflate.h"

namespace kez::deflate {

namespace {

using namespace kez::byte_order;

constexpr uint32_t MAX_BITS = 15;
constexpr uint32_t ROOT_BITS = 10;  // one lookup resolves codes this long
constexpr uint32_t LITLEN_CODES = 288;
constexpr uint32_t DIST_CODES = 32;
constexpr uint32_t END_OF_BLOCK = 256;

constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,   2,   3,    4,    5,    7,    9,    13,    17,    25,
                                    33,  49,  65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which code length code lengths are sent.
constexpr uint8_t CLEN_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Bits least significant first. Past the input's end zero bits are
// supplied and counted in `pad`; consuming any of them is an overrun.
struct bit_reader {
  const uint8_t* p;
  const uint8_t* end;
  uint64_t acc = 0;
  uint32_t count = 0;
  uint32_t pad = 0;

  // At least 56 bits in the accumulator afterwards.
  void refill() {
    if (end - p >= 8) {
      acc |= load_le64(p) << count;
      p += (63 - count) >> 3;
      count |= 56;
      return;
    }
    while (count <= 56) {
      if (p < end) acc |= uint64_t(*p++) << count;
      else pad += 8;
      count += 8;
    }
  }
  uint32_t peek(uint32_t n) const { return uint32_t(acc & ((uint64_t(1) << n) - 1)); }
  void drop(uint32_t n) {
    acc >>= n;
    count -= n;
  }
  uint32_t take(uint32_t n) {
    uint32_t v = peek(n);
    drop(n);
    return v;
  }
  bool overrun() const { return count < pad; }
  // Drops to a byte boundary and hands back the first unread byte, the
  // accumulator emptied: stored blocks are copied from the input itself.
  const uint8_t* align() {
    drop(count & 7);
    const uint8_t* at = p - (count - pad) / 8;
    acc = 0;
    count = pad = 0;
    p = at;
    return at;
  }
};

// What a symbol means, baked into its table entries so that decoding needs
// no further lookup: bits 0-5 the code's length, 6-7 the kind, 8-11 the
// extra bits that follow, 16-31 the value (literal byte, length or
// distance base, code length symbol). An entry of 0 means "not in the fast
// table". Distance symbols use VALUE for the valid ones.
enum entry_kind : uint32_t { VALUE = 0, LENGTH = 1, END = 2, INVALID = 3 };

constexpr uint32_t entry(uint32_t kind, uint32_t extra, uint32_t value) {
  return kind << 6 | extra << 8 | value << 16;
}
// The length alone fills bits 0-5, so a shift by it needs no mask.
inline uint32_t code_length(uint32_t e) { return e & 63; }
inline uint32_t kind_of(uint32_t e) { return (e >> 6) & 3; }
inline uint32_t extra_of(uint32_t e) { return (e >> 8) & 15; }
inline uint32_t value_of(uint32_t e) { return e >> 16; }

using meanings = std::array<uint32_t, LITLEN_CODES>;

constexpr meanings litlen_meanings() {
  meanings m{};
  for (uint32_t s = 0; s < 256; s++) m[s] = entry(VALUE, 0, s);
  m[END_OF_BLOCK] = entry(END, 0, 0);
  for (uint32_t s = 0; s < 29; s++) m[257 + s] = entry(LENGTH, LENGTH_EXTRA[s], LENGTH_BASE[s]);
  m[286] = m[287] = entry(INVALID, 0, 0);
  return m;
}

constexpr meanings dist_meanings() {
  meanings m{};
  for (uint32_t s = 0; s < 30; s++) m[s] = entry(VALUE, DIST_EXTRA[s], DIST_BASE[s]);
  m[30] = m[31] = entry(INVALID, 0, 0);
  return m;
}

constexpr meanings plain_meanings() {
  meanings m{};
  for (uint32_t s = 0; s < 19; s++) m[s] = entry(VALUE, 0, s);
  return m;
}

constexpr meanings LITLEN_MEANINGS = litlen_meanings();
constexpr meanings DIST_MEANINGS = dist_meanings();
constexpr meanings PLAIN_MEANINGS = plain_meanings();

// A decoding table: `fast` maps the next ROOT_BITS bits to an entry;
// `count` and `symbols` describe the canonical code for longer codes.
struct huffman {
  uint32_t fast[1u << ROOT_BITS];
  uint16_t count[MAX_BITS + 1];
  uint16_t symbols[LITLEN_CODES];
  const meanings* meaning;
};

// What incompleteness a code set may have: the code length code must be
// complete; a length or distance code may be a single one-bit code; a
// distance code may also have no codes at all (a block of literals only).
enum class code_set { COMPLETE, ONE_CODE, MAYBE_EMPTY };

// Builds a table from code lengths; false for an over-subscribed set or one
// more incomplete than `kind` allows.
bool build(huffman& h, const uint8_t* lengths, uint32_t n, code_set kind, const meanings& meaning) {
  h.meaning = &meaning;
  std::memset(h.count, 0, sizeof h.count);
  for (uint32_t s = 0; s < n; s++) h.count[lengths[s]]++;
  h.count[0] = 0;
  int32_t left = 1;
  uint32_t codes = 0;
  for (uint32_t len = 1; len <= MAX_BITS; len++) {
    left = (left << 1) - h.count[len];
    if (left < 0) return false;
    codes += h.count[len];
  }
  if (left > 0) {
    bool one_code = codes == 1 && h.count[1] == 1;
    bool empty = codes == 0;
    if (kind == code_set::COMPLETE) return false;
    if (!one_code && !(empty && kind == code_set::MAYBE_EMPTY)) return false;
  }
  uint16_t offsets[MAX_BITS + 1];
  uint32_t next_code[MAX_BITS + 1];
  uint32_t code = 0, offset = 0;
  for (uint32_t len = 1; len <= MAX_BITS; len++) {
    offsets[len] = uint16_t(offset);
    offset += h.count[len];
    next_code[len] = code;
    code = (code + h.count[len]) << 1;
  }
  std::memset(h.fast, 0, sizeof h.fast);
  for (uint32_t s = 0; s < n; s++) {
    uint32_t len = lengths[s];
    if (len == 0) continue;
    h.symbols[offsets[len]++] = uint16_t(s);
    uint32_t c = next_code[len]++;
    if (len > ROOT_BITS) continue;
    uint32_t r = 0;
    for (uint32_t i = 0; i < len; i++) r |= ((c >> i) & 1) << (len - 1 - i);
    for (uint32_t k = r; k < (1u << ROOT_BITS); k += 1u << len) h.fast[k] = meaning[s] | len;
  }
  return true;
}

// The entry of the next code, its bits consumed; INVALID when the bits
// form no code. The caller has refilled the reader and checks overrun.
inline uint32_t decode(bit_reader& in, const huffman& h) {
  uint32_t e = h.fast[in.peek(ROOT_BITS)];
  if (e) {
    in.drop(code_length(e));
    return e;
  }
  // Longer codes: walk the canonical code a bit at a time.
  int32_t code = 0, first = 0, index = 0;
  for (uint32_t len = 1; len <= MAX_BITS; len++) {
    code |= int32_t(in.take(1));
    int32_t count = h.count[len];
    if (code - count < first) return (*h.meaning)[h.symbols[index + (code - first)]];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return entry(INVALID, 0, 0);
}

struct output {
  uint8_t* out;
  uint64_t capacity;
  uint64_t pos = 0;

  void literal(uint8_t b) {
    if (pos < capacity) out[pos] = b;
    pos++;
  }
  void copy(uint32_t dist, uint32_t len) {
    if (pos < capacity) {
      uint64_t n = capacity - pos < len ? capacity - pos : len;
      uint8_t* to = out + pos;
      const uint8_t* from = to - dist;
      if (dist >= n) std::memcpy(to, from, n);
      else if (dist == 1) std::memset(to, *from, n);
      else
        for (uint64_t i = 0; i < n; i++) to[i] = from[i];
    }
    pos += len;
  }
  void bytes(const uint8_t* from, uint64_t n) {
    if (pos < capacity) std::memcpy(out + pos, from, capacity - pos < n ? capacity - pos : n);
    pos += n;
  }
};

// Works on copies of the reader and the output, written back at the end:
// output bytes may alias anything, and state kept in memory would be
// reloaded after every byte stored.
int codes_on(bit_reader& in, output& out, const huffman& litlen, const huffman& dist) {
  for (;;) {
    in.refill();
    if (in.overrun()) return BAD_DATA;
    uint32_t e = decode(in, litlen);
    if (kind_of(e) == VALUE) {
      out.literal(uint8_t(value_of(e)));
      // Two more literals fit in what one refill gives (codes are at most
      // 15 bits); anything else waits for the next refill.
      for (int more = 0; more < 2; more++) {
        uint32_t next = litlen.fast[in.peek(ROOT_BITS)];
        if (!next || kind_of(next) != VALUE) break;
        in.drop(code_length(next));
        out.literal(uint8_t(value_of(next)));
      }
      continue;
    }
    if (kind_of(e) == END) return in.overrun() ? BAD_DATA : OK;
    if (kind_of(e) == INVALID) return BAD_DATA;
    uint32_t len = value_of(e) + in.take(extra_of(e));
    uint32_t d = decode(in, dist);
    if (kind_of(d) == INVALID) return BAD_DATA;
    uint32_t distance = value_of(d) + in.take(extra_of(d));
    if (in.overrun()) return BAD_DATA;
    if (distance > out.pos) return BAD_DISTANCE;
    out.copy(distance, len);
  }
}

int codes(bit_reader& in, output& out, const huffman& litlen, const huffman& dist) {
  bit_reader r = in;
  output o = out;
  int result = codes_on(r, o, litlen, dist);
  in = r;
  out = o;
  return result;
}

int fixed_block(bit_reader& in, output& out) {
  uint8_t lengths[LITLEN_CODES + DIST_CODES];
  for (uint32_t s = 0; s < 144; s++) lengths[s] = 8;
  for (uint32_t s = 144; s < 256; s++) lengths[s] = 9;
  for (uint32_t s = 256; s < 280; s++) lengths[s] = 7;
  for (uint32_t s = 280; s < 288; s++) lengths[s] = 8;
  for (uint32_t s = 0; s < DIST_CODES; s++) lengths[LITLEN_CODES + s] = 5;
  huffman litlen, dist;
  build(litlen, lengths, LITLEN_CODES, code_set::COMPLETE, LITLEN_MEANINGS);
  build(dist, lengths + LITLEN_CODES, DIST_CODES, code_set::COMPLETE, DIST_MEANINGS);
  return codes(in, out, litlen, dist);
}

int dynamic_block(bit_reader& in, output& out) {
  in.refill();
  uint32_t nlen = in.take(5) + 257, ndist = in.take(5) + 1, nclen = in.take(4) + 4;
  if (nlen > 286 || ndist > 30) return BAD_DATA;
  uint8_t lengths[LITLEN_CODES + DIST_CODES] = {};
  for (uint32_t i = 0; i < nclen; i++) {
    in.refill();
    lengths[CLEN_ORDER[i]] = uint8_t(in.take(3));
  }
  if (in.overrun()) return BAD_DATA;
  huffman h;
  if (!build(h, lengths, 19, code_set::COMPLETE, PLAIN_MEANINGS)) return BAD_DATA;
  uint32_t total = nlen + ndist, i = 0;
  std::memset(lengths, 0, sizeof lengths);
  while (i < total) {
    in.refill();
    uint32_t e = decode(in, h);
    if (kind_of(e) == INVALID) return BAD_DATA;
    uint32_t sym = value_of(e);
    if (sym < 16) {
      lengths[i++] = uint8_t(sym);
    } else {
      uint8_t value = 0;
      uint32_t repeat;
      if (sym == 16) {
        if (i == 0) return BAD_DATA;
        value = lengths[i - 1];
        repeat = 3 + in.take(2);
      } else if (sym == 17) {
        repeat = 3 + in.take(3);
      } else {
        repeat = 11 + in.take(7);
      }
      if (i + repeat > total) return BAD_DATA;
      while (repeat--) lengths[i++] = value;
    }
    if (in.overrun()) return BAD_DATA;
  }
  if (lengths[END_OF_BLOCK] == 0) return BAD_DATA;
  huffman litlen, dist;
  // Distances may lack codes altogether when the block holds only literals.
  if (!build(litlen, lengths, nlen, code_set::ONE_CODE, LITLEN_MEANINGS) ||
      !build(dist, lengths + nlen, ndist, code_set::MAYBE_EMPTY, DIST_MEANINGS))
    return BAD_DATA;
  return codes(in, out, litlen, dist);
}

int stored_block(bit_reader& in, output& out) {
  in.refill();
  if (in.overrun()) return BAD_DATA;
  in.drop(in.count & 7);
  uint32_t len = in.take(16), nlen = in.take(16);
  if (in.overrun() || (len ^ 0xFFFF) != nlen) return BAD_DATA;
  const uint8_t* at = in.align();
  if (uint64_t(in.end - at) < len) return STORED_SHORT;
  out.bytes(at, len);
  in.p = at + len;
  return OK;
}

}  // namespace

int inflate(uint8_t* out, uint64_t& size, const uint8_t* in, uint64_t length) {
  bit_reader bits{in, in + length};
  output o{out, out ? size : 0};
  for (;;) {
    bits.refill();
    uint32_t final = bits.take(1), type = bits.take(2);
    if (bits.overrun()) return BAD_DATA;
    int r = type == 0   ? stored_block(bits, o)
            : type == 1 ? fixed_block(bits, o)
            : type == 2 ? dynamic_block(bits, o)
                        : BAD_BLOCK;
    if (r != OK) return r;
    if (final) break;
  }
  size = o.pos;
  return o.pos > o.capacity ? TOO_SMALL : OK;
}

}  // namespace kez::deflate
