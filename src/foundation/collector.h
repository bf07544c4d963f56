// The garbage collector: precise, stop-the-world mark and compacting sweep.
//
// Marking starts from the runtime's roots (root block, symbol table, value
// stack and frames, global context, the current-position cell, the slot
// table, registered C++ root cells and mark callbacks) and follows values by
// type with an explicit mark stack, so that a million-deep block collects.
// The sweep frees the nodes of unmarked buffers and slides the live runs of
// each series frame together (or moves them into the next frame), releases
// dead big buffers, empty node frames and unreachable handle slots. Nodes
// never move, so only node-table entries are rewritten.
//
// Under KEZ_GC_STRESS=N a full collection runs every N allocations and
// copies every live buffer to fresh frames, leaving the old pages unreadable.
#pragma once
#include <cstdint>

#include "values/cell.h"

namespace kez::collector {

struct statistics {
  uint32_t cycles = 0;
  uint32_t nodes_cycles = 0;
};
extern statistics stats;
extern bool active;   // automatic collections allowed
extern bool running;  // a cycle is in progress

void init();
// One full collection.
void do_cycle();
// The memory manager's hook: collects when active.
void collect_if_active();

// Marking, for mark callbacks: each answers whether the node was newly marked.
bool mark_series(node_t node);
void mark_block(node_t node);
void mark_context(node_t node);
void mark_values(const Cell* first, const Cell* end);
// A hash table with its parts and the values it indexes.
void mark_table(node_t table);
inline void mark_value(const Cell* c) { mark_values(c, c + 1); }

using mark_callback = void (*)();
void register_callback(mark_callback cb);
void unregister_callback(mark_callback cb);

// C++ globals that hold cells register them so that what they refer to
// stays alive.
void add_root(const Cell* cell);

// Keeps nodes alive while a structure is built from several series that are
// not yet reachable from each other: every node added stays a root until the
// hold goes out of scope.
class hold {
 public:
  hold();
  ~hold();
  hold(const hold&) = delete;
  hold& operator=(const hold&) = delete;
  node_t add(node_t node);

 private:
  size_t level_;
};

// Bytes in use (memory statistics of `stats`).
double memory_in_use();

}  // namespace kez::collector
