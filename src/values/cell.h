// The value cell: every value of the language is one 16-byte cell.
//
// A cell is a 32-bit header and three 32-bit payload words. The header's low
// byte is the type id; bit 30 is the new-line marker that mold writes before
// the value; other bits belong to the type (see the flag constants). Payloads
// never hold a machine address: a series names its buffer by node handle, a
// native or action by its 1-based table position, a stack context by a cell
// index into the value stack.
//
// Payload words by type (w1, w2, w3):
//   datatype!            type id, -, -
//   logic!               0/1, -, -
//   integer!, char!      -, value, -
//   float! (and kin)     -, IEEE double over w2 (low) and w3 (high)
//   series kinds         head index (elements), node, extra
//   symbol!              alias (-1 none), string cache node, name node
//   word kinds           context node, symbol id, index (-1 unknown)
//   context!             word table (hash table node), values node (or stack
//                        index with CONTEXT_ON_STACK), -
//   object!, error!      context node, class id, on-change record node
//   native!, action!     table position, spec node, more node
//   function!, routine!  context node, spec node, more node
//   bitset!              -, node, -
//   typeset!             96 bits over w1..w3
//
// Building a value in place: set the cell to unset! first, allocate, store
// the node, and write the real type last, so that a collection during the
// allocation never meets a type that promises a missing buffer.
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>

#include "foundation/memory.h"

namespace kez {

struct Cell {
  uint32_t header;
  uint32_t w1;
  uint32_t w2;
  uint32_t w3;
};
static_assert(sizeof(Cell) == 16);

inline constexpr uint32_t TYPE_DATATYPE = 1;
inline constexpr uint32_t TYPE_UNSET = 2;
inline constexpr uint32_t TYPE_NONE = 3;
inline constexpr uint32_t TYPE_LOGIC = 4;
inline constexpr uint32_t TYPE_BLOCK = 5;
inline constexpr uint32_t TYPE_PAREN = 6;
inline constexpr uint32_t TYPE_STRING = 7;
inline constexpr uint32_t TYPE_FILE = 8;
inline constexpr uint32_t TYPE_URL = 9;
inline constexpr uint32_t TYPE_CHAR = 10;
inline constexpr uint32_t TYPE_INTEGER = 11;
inline constexpr uint32_t TYPE_FLOAT = 12;
inline constexpr uint32_t TYPE_SYMBOL = 13;
inline constexpr uint32_t TYPE_CONTEXT = 14;
inline constexpr uint32_t TYPE_WORD = 15;
inline constexpr uint32_t TYPE_SET_WORD = 16;
inline constexpr uint32_t TYPE_LIT_WORD = 17;
inline constexpr uint32_t TYPE_GET_WORD = 18;
inline constexpr uint32_t TYPE_REFINEMENT = 19;
inline constexpr uint32_t TYPE_ISSUE = 20;
inline constexpr uint32_t TYPE_NATIVE = 21;
inline constexpr uint32_t TYPE_ACTION = 22;
inline constexpr uint32_t TYPE_OP = 23;
inline constexpr uint32_t TYPE_FUNCTION = 24;
inline constexpr uint32_t TYPE_PATH = 25;
inline constexpr uint32_t TYPE_LIT_PATH = 26;
inline constexpr uint32_t TYPE_SET_PATH = 27;
inline constexpr uint32_t TYPE_GET_PATH = 28;
inline constexpr uint32_t TYPE_ROUTINE = 29;
inline constexpr uint32_t TYPE_BITSET = 30;
inline constexpr uint32_t TYPE_TRIPLE = 31;
inline constexpr uint32_t TYPE_OBJECT = 32;
inline constexpr uint32_t TYPE_TYPESET = 33;
inline constexpr uint32_t TYPE_ERROR = 34;
inline constexpr uint32_t TYPE_VECTOR = 35;
inline constexpr uint32_t TYPE_HASH = 36;
inline constexpr uint32_t TYPE_PAIR = 37;
inline constexpr uint32_t TYPE_PERCENT = 38;
inline constexpr uint32_t TYPE_TUPLE = 39;
inline constexpr uint32_t TYPE_MAP = 40;
inline constexpr uint32_t TYPE_BINARY = 41;
inline constexpr uint32_t TYPE_SERIES = 42;
inline constexpr uint32_t TYPE_TIME = 43;
inline constexpr uint32_t TYPE_TAG = 44;
inline constexpr uint32_t TYPE_EMAIL = 45;
inline constexpr uint32_t TYPE_HANDLE = 46;
inline constexpr uint32_t TYPE_DATE = 47;
inline constexpr uint32_t TYPE_PORT = 48;
inline constexpr uint32_t TYPE_MONEY = 49;
inline constexpr uint32_t TYPE_REF = 50;
inline constexpr uint32_t TYPE_POINT2D = 51;
inline constexpr uint32_t TYPE_POINT3D = 52;
inline constexpr uint32_t TYPE_IMAGE = 53;
inline constexpr uint32_t TYPE_EVENT = 54;

constexpr uint32_t TYPE_COUNT = 57;  // rows of the action table (ids 1..56)

// Header bits.
inline constexpr uint32_t TYPE_MASK = 0xFF;
inline constexpr uint32_t CELL_NEW_LINE = 1u << 30;
inline constexpr uint32_t CONTEXT_KIND_SHIFT = 11;          // context! kind in bits 11-12
inline constexpr uint32_t CONTEXT_KIND_MASK = 3u << 11;
inline constexpr uint32_t WORD_FIELD_SET = 1u << 13;        // object field set since made
inline constexpr uint32_t CONTEXT_OWNER = 1u << 16;         // object claimed ownership (also image!)
inline constexpr uint32_t TUPLE_SIZE_SHIFT = 19;            // tuple! byte count in bits 19-22
inline constexpr uint32_t CONTEXT_ON_STACK = 1u << 22;
inline constexpr uint32_t CONTEXT_SELF = 1u << 24;
inline constexpr uint32_t OP_TYPE_SHIFT = 16;               // op!: wrapped function's type, bits 16-23
inline constexpr uint32_t OP_QUICK_SHIFT = 24;              // op!: the operator the evaluator computes itself, bits 24-27
inline constexpr uint32_t ROUTINE_ARITY_SHIFT = 25;         // routine!: arity in bits 25-29
inline constexpr uint32_t MONEY_SIGN = 1u << 14;            // money!: set when negative

enum context_kind : uint32_t { CONTEXT_GLOBAL = 0, CONTEXT_FUNCTION = 1, CONTEXT_OBJECT = 2 };

inline uint32_t TYPE_OF(const Cell* c) { return c->header & TYPE_MASK; }

// Replaces the type and keeps every other header bit.
inline Cell* set_type(Cell* c, uint32_t type) {
  c->header = (c->header & ~TYPE_MASK) | type;
  return c;
}
inline void clear_new_line(Cell* c) { c->header &= ~CELL_NEW_LINE; }

inline Cell* copy_cell(const Cell* src, Cell* dst) {
  if (src != dst) *dst = *src;
  return dst;
}

// Doubles over two payload words, never through a double* into a cell.
inline double get_float(const Cell* c) {
  uint64_t bits = uint64_t(c->w2) | (uint64_t(c->w3) << 32);
  return std::bit_cast<double>(bits);
}
inline void put_float(Cell* c, double d) {
  auto bits = std::bit_cast<uint64_t>(d);
  c->w2 = uint32_t(bits);
  c->w3 = uint32_t(bits >> 32);
}

// Simple constructors (whole cell).
inline Cell make_unset() { return Cell{TYPE_UNSET, 0, 0, 0}; }
inline Cell make_none() { return Cell{TYPE_NONE, 0, 0, 0}; }
inline Cell make_logic(bool b) { return Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }
inline Cell make_integer(int32_t i) { return Cell{TYPE_INTEGER, 0, uint32_t(i), 0}; }
inline Cell make_char(uint32_t cp) { return Cell{TYPE_CHAR, 0, cp, 0}; }
inline Cell make_float_of(uint32_t type, double d) {
  Cell c{type, 0, 0, 0};
  put_float(&c, d);
  return c;
}
inline Cell make_float(double d) { return make_float_of(TYPE_FLOAT, d); }
inline Cell make_datatype(uint32_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }
inline Cell make_series(uint32_t type, node_t node, uint32_t head = 0) {
  return Cell{type, head, node, 0};
}

// Writes a whole cell in one 16-byte store. A cell written a word at a time
// and read whole right after (as a copy of it reads it) waits until those
// stores reach the cache: the processor forwards a load from one store only.
// A result its caller copies at once is worth writing this way.
// The register is filled from two 64-bit halves (the header and w1, then
// w2 and w3): from four words the optimiser makes a longer sequence (a
// logic! takes one instruction more, a double's two words twice as many).
inline void store_halves(Cell* to, uint64_t low, uint64_t high) {
  using halves = uint64_t __attribute__((vector_size(16)));
  halves v = {low, high};
  std::memcpy(to, &v, sizeof(Cell));
}
inline void store_cell(Cell* to, uint32_t header, uint32_t w1, uint32_t w2, uint32_t w3) {
  store_halves(to, header | uint64_t(w1) << 32, w2 | uint64_t(w3) << 32);
}

// Copies a whole cell as one 16-byte load and one store. A plain copy made
// right after a test of the source's type is put together by the optimiser
// from the test's load and three more, packed into one register: eight
// instructions for two.
inline void move_cell(Cell* to, const Cell* from) {
  using words = uint32_t __attribute__((vector_size(16)));
  words v;
  std::memcpy(&v, from, sizeof(Cell));
  std::memcpy(to, &v, sizeof(Cell));
}

inline int32_t get_integer(const Cell* c) { return int32_t(c->w2); }

// Series access through the node.
inline series_buffer* GET_BUFFER(const Cell* series) { return memory::buffer(series->w2); }
inline uint32_t GET_UNIT(const Cell* series) { return GET_BUFFER(series)->unit(); }

// Cells of a cell buffer.
inline Cell* cells_of(series_buffer* b) { return reinterpret_cast<Cell*>(b->data()); }
inline Cell* cell_head(series_buffer* b) { return reinterpret_cast<Cell*>(b->head_ptr()); }
inline Cell* cell_tail(series_buffer* b) { return reinterpret_cast<Cell*>(b->tail_ptr()); }

// Appends one cell at the buffer's tail (growing it when full) and returns
// it, typed unset!. The buffer may have moved: the returned cell is in the
// buffer the node holds now.
Cell* alloc_tail_cell(node_t node);
inline Cell* alloc_tail(const Cell* block) { return alloc_tail_cell(block->w2); }
// Reserves n bytes at the tail and returns their address (old tail).
uint8_t* alloc_tail_bytes(node_t node, uint32_t n);
// New byte buffer of the same unit with n characters from absolute index.
node_t copy_string_part(node_t node, uint32_t index, uint32_t n);

// Static values answered by lookups that find nothing.
extern const Cell unset_value;
extern const Cell none_value;
extern const Cell true_value;
extern const Cell false_value;

}  // namespace kez
