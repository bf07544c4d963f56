// Typed print and the output hook lists.
#include "foundation/print.h"

#include <cstring>

#include "foundation/heap.h"
#include "gui/terminal/screen.h"

namespace kez {

void print_begin() { gui::suspend_screen(); }
void print_end() { gui::resume_screen(); }

namespace hooks {
namespace {

constexpr int GROWTH = 5;

template <class F>
struct hook_list {
  F* items = nullptr;
  int count = 0;
  int capacity = 0;

  void init() {
    items = static_cast<F*>(heap::allocate(sizeof(F) * GROWTH));
    count = 0;
    capacity = GROWTH;
  }
  void add(F f) {
    if (!items) init();
    if (count == capacity) {
      auto* grown = static_cast<F*>(heap::allocate(sizeof(F) * size_t(capacity + GROWTH)));
      std::memcpy(grown, items, sizeof(F) * size_t(count));
      heap::free(items);
      items = grown;
      capacity += GROWTH;
    }
    items[count++] = f;
  }
  void remove(F f) {
    for (int i = 0; i < count; i++) {
      if (items[i] != f) continue;
      std::memmove(items + i, items + i + 1, sizeof(F) * size_t(count - i - 1));
      count--;
      return;
    }
  }
};

hook_list<value_callback> values;
hook_list<text_callback> texts;

}  // namespace

void init() {
  values.init();
  texts.init();
  values.add(output::print_string);
}

void add(value_callback value, text_callback text) {
  if (value) values.add(value);
  if (text) texts.add(text);
}

void remove(value_callback value, text_callback text) {
  if (value) values.remove(value);
  if (text) texts.remove(text);
}

void fire_value(const Cell* value, bool line_end) {
  for (int i = 0; i < values.count; i++) values.items[i](value, line_end);
}

void fire_text(const char* text, int32_t length, int32_t flag) {
  for (int i = 0; i < texts.count; i++) texts.items[i](text, length, flag);
}

int value_count() { return values.count; }
int value_capacity() { return values.capacity; }
value_callback value_at(int i) { return values.items[i]; }

}  // namespace hooks
}  // namespace kez
