// The byte layout of KEZBIN images, shared by the encoder and the decoder.
//
// Everything here is explicit little-endian bytes: no struct is ever copied
// into or out of an image. The two forms share one record model; the
// constants say where each form keeps a record's flags (normal: header word
// bits; compact: bit 6 of the leading byte and prefix bytes).
#pragma once
#include <cstdint>

namespace kez::kezbin {

inline constexpr uint8_t MAGIC[6] = {'K', 'E', 'Z', 'B', 'I', 'N'};
inline constexpr uint8_t VERSION = 2;
inline constexpr uint32_t HEADER_SIZE = 8;  // magic, version, flags

inline constexpr uint8_t FLAG_COMPACT = 1;
inline constexpr uint8_t FLAG_COMPRESSED = 2;
inline constexpr uint8_t FLAG_SYMBOLS = 4;

// Normal form: header word bits.
inline constexpr uint32_t N_NEW_LINE = 1u << 31;
inline constexpr uint32_t N_REFERENCE = 1u << 19;
inline constexpr uint32_t N_MONEY_NEGATIVE = 1u << 22;
inline constexpr uint32_t N_BITSET_COMPLEMENT = 1u << 23;
inline constexpr uint32_t N_ON_CHANGE = 1u << 24;
inline constexpr uint32_t N_GLOBAL_WORD = 1u << 25;  // codec: bound to the global context; boot: set-word
inline constexpr uint32_t N_CONTEXT_SELF = 1u << 28;
inline constexpr uint32_t N_CONTEXT_ON_STACK = 1u << 29;
inline constexpr uint32_t N_CONTEXT_VALUES = 1u << 30;
inline constexpr uint32_t N_SUB_SHIFT = 8;        // unit, element size, tuple length
inline constexpr uint32_t N_OP_SHIFT = 16;        // op!: wrapped type
inline constexpr uint32_t N_CONTEXT_KIND_SHIFT = 26;
inline constexpr uint32_t N_REFERENCE_WORD = 255;  // starts a reference record

// Compact form: prefixes and leading bytes.
inline constexpr uint8_t C_NEW_LINE = 0xC0;
inline constexpr uint8_t C_REFERENCE = 0xC1;
inline constexpr uint8_t C_TRUE = 0xC2;
inline constexpr uint8_t C_FALSE = 0xC3;
inline constexpr uint8_t C_SET_WORD = 0xC4;
inline constexpr uint8_t C_STANDALONE_REFERENCE = 0xFF;
inline constexpr uint8_t C_SMALL_INTEGER = 0x80;  // 0x80-0xBF: integer! 0 to 63
inline constexpr uint8_t C_FLAG = 0x40;           // bit 6 of a leading byte
inline constexpr uint8_t C_TYPE_MASK = 0x3F;
inline constexpr uint8_t C_WIDE_TYPE = 63;        // the type id follows as a uvarint

// Compact context flags byte.
inline constexpr uint8_t CC_KIND_MASK = 3;
inline constexpr uint8_t CC_ON_STACK = 4;
inline constexpr uint8_t CC_SELF = 8;
inline constexpr uint8_t CC_VALUES = 16;

// A path has 1 to this many elements.
inline constexpr uint32_t MAX_PATH = 65536;

// The integral forms of the compact writer: a float! or time! stands as an
// integer within these bounds (included), a percent! as its hundredths.
inline constexpr double INTEGRAL_LIMIT = 2147483000.0;
inline constexpr double PERCENT_LIMIT = 21474836.0;

inline uint32_t zigzag(int32_t v) { return (uint32_t(v) << 1) ^ uint32_t(v >> 31); }
inline int32_t unzigzag(uint32_t u) { return int32_t((u >> 1) ^ (0u - (u & 1))); }

inline uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Unit codes of compact strings and vectors: 0, 1, 2, 3 for 1, 2, 4, 8 bytes.
inline uint32_t unit_code(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

}  // namespace kez::kezbin
