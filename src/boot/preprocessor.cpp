// The preprocessor's native half: the test that a block has nothing for it
// to do. Every script passes through the preprocessor, and most hold no
// directive at all; walking them with parse rules would cost more than
// loading them did, so this walk reads the cells in place instead.
//
// Nothing here allocates in the heap or calls back into Kez, so cell
// addresses stay valid for the whole walk. Each buffer is scanned once and
// from its head, whatever position refers to it: a cyclic block ends the
// walk, and a directive is never missed because a later reference starts
// before it (a value before the referenced position only makes the answer
// "maybe", which the caller treats as "yes").
#include <cstdint>
#include <vector>

#include "boot/routines.h"
#include "evaluator/stack.h"
#include "values/block.h"
#include "values/typeset.h"

namespace kez::boot {

namespace {

// The buffers already scanned: open addressing over node handles, which
// are never 0. Loaded code holds thousands of small blocks, so a node is
// one probe, not one allocation.
struct node_set {
  std::vector<node_t> slots = std::vector<node_t>(256, 0);
  size_t used = 0;

  // False when the node was there already.
  bool insert(node_t node) {
    if ((used + 1) * 2 > slots.size()) grow();
    size_t mask = slots.size() - 1;
    for (size_t i = (node * 2654435761u) & mask;; i = (i + 1) & mask) {
      if (slots[i] == node) return false;
      if (slots[i] == 0) {
        slots[i] = node;
        used++;
        return true;
      }
    }
  }

  void grow() {
    std::vector<node_t> old(slots.size() * 2, 0);
    old.swap(slots);
    used = 0;
    for (node_t node : old)
      if (node) insert(node);
  }
};

// Whether the block, or a block or paren nested in it at any depth, holds
// a value of one of the types.
void holds_type_q() {
  Cell code = stack::arguments[0], types = stack::arguments[1];
  std::vector<Cell> pending{code};
  node_set seen;
  seen.insert(code.w2);
  bool found = false;
  while (!pending.empty() && !found) {
    Cell b = pending.back();
    pending.pop_back();
    const Cell* cell = block::rs_abs_at(&b, 0);
    const Cell* tail = block::rs_tail(&b);
    for (; cell < tail; cell++) {
      uint32_t t = TYPE_OF(cell);
      if (typeset::has(&types, t)) {
        found = true;
        break;
      }
      if ((t == TYPE_BLOCK || t == TYPE_PAREN) && seen.insert(cell->w2)) pending.push_back(*cell);
    }
  }
  stack::arguments[0] = make_logic(found);
}

constexpr routine_entry PREPROCESSOR_ROUTINES[] = {
    {"_holds-type?", "code [block! paren!] types [typeset!] return: [logic!]", holds_type_q},
};

}  // namespace

void make_preprocessor_routines() { define_routines(PREPROCESSOR_ROUTINES); }

}  // namespace kez::boot
