// Ownership of series by objects.
// (The owner table and its notifications: only the interface is wired yet.)
#include "values/ownership.h"

namespace kez::ownership {

void set_owner(const Cell*) {}
void unbind(const Cell*) {}
bool check(const Cell* series, uint32_t, const Cell*, int32_t, int32_t) {
  return (GET_BUFFER(series)->flags & SERIES_OWNED) != 0 && false;
}
Cell owner_of(const Cell*) { return make_none(); }
void init() {}

}  // namespace kez::ownership
