// Raw arrays: byte series used as growable arrays of fixed-size units that
// are not values (bytes, 32-bit integers, node handles). They live in series
// buffers, so they move like any series and are reached through their node.
// Positions are 1-based in pick/poke/cut, byte offsets in find/remove; no
// operation checks positions.
#pragma once
#include <cstdint>

#include "foundation/memory.h"

namespace kez::array {

node_t make(uint32_t count, uint32_t unit);
uint32_t length(node_t a);
void clear(node_t a);
void cut_at(node_t a, uint32_t n);
node_t copy(node_t a);
uint32_t flags(node_t a);

void append_byte(node_t a, uint8_t byte);
uint8_t pick_byte(node_t a, uint32_t n);
void append_bytes(node_t a, const void* source, uint32_t length);

void append_int(node_t a, int32_t value);
int32_t find_int(node_t a, int32_t value);       // byte offset or -1
int32_t pick_int(node_t a, uint32_t n);
void insert_int(node_t a, int32_t value, uint32_t position);  // 0-based

// Handles stand where the runtime would keep addresses.
inline void append_ptr(node_t a, uint32_t h) { append_int(a, int32_t(h)); }
inline int32_t find_ptr(node_t a, uint32_t h) { return find_int(a, int32_t(h)); }
inline uint32_t pick_ptr(node_t a, uint32_t n) { return uint32_t(pick_int(a, n)); }
void poke_ptr(node_t a, uint32_t n, uint32_t h);
void remove_ptr(node_t a, uint32_t h);
void remove_at(node_t a, uint32_t offset, uint32_t length);

}  // namespace kez::array
