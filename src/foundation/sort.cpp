// Sorting.
//
// Merge sort: natural runs (a strictly descending run is reversed), each
// extended to at least 24 elements by insertion sort, merged under the
// powersort policy (a stack of pending runs ordered by the power of their
// boundaries) through a buffer of half the array. Ties keep the left run's
// element first, which makes it stable.
//
// Quicksort: after taking a presorted prefix, pivots come from a sorted
// sample that grows sixteenfold each pass: a pass partitions a spread subset
// of 16 x sample elements around the sample's median, sorts it, and the
// sorted subset becomes the next sample. Elements equal to the pivot are
// gathered next to it and take no further part. Of the two sides one is
// sorted by recursion and the loop continues on the other; recursion always
// takes the smaller side (or a subset of at most 1/16 of the range), so the
// depth stays logarithmic whatever the comparator answers. The order in which
// independent sides are sorted does not change the result.
//
// Positions are indexes, and the array's address is read through the base
// policy at each use: for a series that is the node table, so a comparator
// that moves the series is harmless.
#include "foundation/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/raise.h"
#include "values/error_ids.h"

namespace kez::sorting {

namespace {

// Runs shorter than this are extended by insertion sort before merging.
constexpr uint32_t MIN_RUN = 24;
// Ranges this short are insertion-sorted by the quicksort.
constexpr uint32_t SMALL_RANGE = 7;
// Pass sizes of the quicksort without a sample.
constexpr uint32_t LARGE_RANGE = 511;
constexpr uint32_t FIRST_SUBSET = 63;
// The presorted-prefix scan: neighbours compared every 97 elements, windows
// 10 elements apart, segments of fewer than 4 elements ignored.
constexpr uint32_t ESTIMATE_STRIDE = 97;
constexpr uint32_t WINDOW_STRIDE = 10;
constexpr uint32_t MIN_SEGMENT = 4;

inline void swap_elements(uint8_t* a, uint8_t* b, uint32_t size) {
  switch (size) {
    case 16: {
      uint64_t x[2], y[2];
      std::memcpy(x, a, 16);
      std::memcpy(y, b, 16);
      std::memcpy(a, y, 16);
      std::memcpy(b, x, 16);
      return;
    }
    case 8: {
      uint64_t x, y;
      std::memcpy(&x, a, 8);
      std::memcpy(&y, b, 8);
      std::memcpy(a, &y, 8);
      std::memcpy(b, &x, 8);
      return;
    }
    case 4: {
      uint32_t x, y;
      std::memcpy(&x, a, 4);
      std::memcpy(&y, b, 4);
      std::memcpy(a, &y, 4);
      std::memcpy(b, &x, 4);
      return;
    }
    case 2: {
      uint16_t x, y;
      std::memcpy(&x, a, 2);
      std::memcpy(&y, b, 2);
      std::memcpy(a, &y, 2);
      std::memcpy(b, &x, 2);
      return;
    }
    case 1: std::swap(*a, *b); return;
    default: swap(a, b, size, size % 4 != 0); return;
  }
}

inline void copy_element(uint8_t* to, const uint8_t* from, uint32_t size) {
  switch (size) {
    case 16: std::memcpy(to, from, 16); return;
    case 8: std::memcpy(to, from, 8); return;
    case 4: std::memcpy(to, from, 4); return;
    default: std::memcpy(to, from, size); return;
  }
}

// Work buffers of the merge sorts running now, innermost first: the valid
// elements are [first, first + count).
struct work_buffer {
  work_buffer* outer;
  uint8_t* data;
  uint32_t first;
  uint32_t count;
  uint32_t size;
};
work_buffer* active_work = nullptr;

// Frees the buffer and unlinks it on every exit, an error from the
// comparator included.
struct work_guard {
  work_buffer work;
  work_guard(uint8_t* data, uint32_t size) : work{active_work, data, 0, 0, size} {
    active_work = &work;
  }
  ~work_guard() {
    active_work = work.outer;
    std::free(work.data);
  }
  work_guard(const work_guard&) = delete;
  work_guard& operator=(const work_guard&) = delete;
};

struct fixed_base {
  uint8_t* base;
  uint8_t* get() const { return base; }
};

struct series_base {
  node_t node;
  uint32_t offset;
  uint8_t* get() const { return memory::buffer(node)->data() + offset; }
};

template <class Base>
struct sorter {
  Base base;
  uint32_t n;
  uint32_t size;
  uintptr_t c1, c2;
  comparator cmp;

  uint8_t* at(uint32_t i) const { return base.get() + uint64_t(i) * size; }
  int32_t compare(uint32_t i, uint32_t j) const { return cmp(at(i), at(j), c1, c2); }
  void exchange(uint32_t i, uint32_t j) const {
    if (i != j) swap_elements(at(i), at(j), size);
  }
  // Exchanges two disjoint blocks of `count` elements.
  void exchange_blocks(uint32_t a, uint32_t b, uint32_t count) const {
    for (uint32_t k = 0; k < count; k++) exchange(a + k, b + k);
  }
  void reverse(uint32_t first, uint32_t last) const {  // [first, last)
    while (first + 1 < last) exchange(first++, --last);
  }
  // [first, middle) and [middle, last) change places, each keeping its order.
  void rotate(uint32_t first, uint32_t middle, uint32_t last) const {
    reverse(first, middle);
    reverse(middle, last);
    reverse(first, last);
  }
  // Moves each element of [sorted_end, last) down into [first, ...) by
  // adjacent swaps while its left neighbour comes after it.
  void insertion_sort(uint32_t first, uint32_t sorted_end, uint32_t last) const {
    for (uint32_t i = std::max(sorted_end, first + 1); i < last; i++)
      for (uint32_t j = i; j > first && compare(j - 1, j) > 0; j--) exchange(j - 1, j);
  }

  // --- merge sort ----------------------------------------------------------

  uint32_t find_run(uint32_t start) const {
    if (start + 1 >= n) return n;
    uint32_t i = start + 1;
    if (compare(start, i) > 0) {
      for (i++; i < n && compare(i - 1, i) > 0; i++) {}
      reverse(start, i);
    } else {
      for (i++; i < n && compare(i - 1, i) <= 0; i++) {}
    }
    return i;
  }

  uint32_t next_run(uint32_t start) const {
    uint32_t end = find_run(start);
    if (end - start < MIN_RUN) {
      uint32_t target = uint32_t(std::min<uint64_t>(uint64_t(start) + MIN_RUN, n));
      insertion_sort(start, end, target);
      end = target;
    }
    return end;
  }

  // The power of the boundary between [s1, s2) and [s2, e2): the first
  // binary digit in which the two runs' midpoints, as fractions of the
  // array, differ.
  uint32_t boundary_power(uint32_t s1, uint32_t s2, uint32_t e2) const {
    uint64_t a = uint64_t(s1) + s2, b = uint64_t(s2) + e2;
    uint32_t doublings = 0;
    for (;;) {
      bool a_low = a < n, b_low = b < n;
      if (a_low != b_low) break;
      doublings++;
      if (!a_low) {
        a -= n;
        b -= n;
      }
      a *= 2;
      b *= 2;
    }
    return doublings + 1;
  }

  void merge(uint32_t p, uint32_t q, uint32_t r, work_buffer& work) const {
    if (p >= q || q >= r) return;
    uint8_t* buf = work.data;
    auto slot = [&](uint32_t k) { return buf + uint64_t(k) * size; };
    uint32_t left = q - p, right = r - q;
    if (right < left) {
      std::memcpy(buf, at(q), uint64_t(right) * size);
      uint32_t i = q, j = right, out = r;  // one past the next to take
      while (j > 0 && i > p) {
        work.first = 0;
        work.count = j;
        if (cmp(at(i - 1), slot(j - 1), c1, c2) > 0) {
          copy_element(at(--out), at(--i), size);
        } else {
          copy_element(at(--out), slot(--j), size);
        }
      }
      while (j > 0) copy_element(at(--out), slot(--j), size);
    } else {
      std::memcpy(buf, at(p), uint64_t(left) * size);
      uint32_t i = 0, j = q, out = p;
      while (i < left && j < r) {
        work.first = i;
        work.count = left - i;
        if (cmp(slot(i), at(j), c1, c2) <= 0) {
          copy_element(at(out++), slot(i++), size);
        } else {
          copy_element(at(out++), at(j++), size);
        }
      }
      while (i < left) copy_element(at(out++), slot(i++), size);
    }
    work.count = 0;
  }

  void merge_sort() const {
    if (n < 2) return;
    uint64_t bytes = uint64_t(n / 2) * size;
    if (bytes > UINT32_MAX) fire(err::SCRIPT, err::script::TOO_LONG);
    auto* data = static_cast<uint8_t*>(std::malloc(std::max<uint64_t>(bytes, 1)));
    if (!data) fire(err::INTERNAL, err::internal::NO_MEMORY);
    work_guard guard(data, size);

    // Powers on the stack strictly increase, and a power never exceeds
    // log2(n) + 2: 40 entries cover every 32-bit count.
    struct pending {
      uint32_t start, power;
    } stack[40];
    uint32_t top = 0;
    uint32_t s1 = 0, e1 = next_run(0);
    while (e1 < n) {
      uint32_t s2 = e1, e2 = next_run(s2);
      uint32_t power = boundary_power(s1, s2, e2);
      while (top > 0 && stack[top - 1].power > power) {
        top--;
        merge(stack[top].start, s1, s2, guard.work);
        s1 = stack[top].start;
      }
      stack[top++] = {s1, power};
      s1 = s2;
      e1 = e2;
    }
    while (top > 0) {
      top--;
      merge(stack[top].start, s1, n, guard.work);
      s1 = stack[top].start;
    }
  }

  // --- quicksort -----------------------------------------------------------

  // Sorts [lo, lo + count) whose first `sample` elements (or, when sample is
  // negative, last -sample elements) are already sorted.
  void core(uint32_t lo, uint32_t count, int64_t sample) const {
    while (count > SMALL_RANGE) {
      uint32_t h = uint32_t(sample < 0 ? -sample : sample);
      if (h >= count) return;
      uint32_t l, pivot, upper;
      if (h > 2) {
        l = count / 256 < h ? count : 16 * h - 1;
        if (sample < 0 && l == count) {
          // Only the lower half of the sample comes forward; its last
          // element is the pivot, the upper half stays at the end.
          uint32_t lower = (h + 1) / 2, from = count - h;
          if (from >= lower) {
            exchange_blocks(lo, lo + from, lower);
          } else {
            rotate(lo, lo + from, lo + from + lower);
          }
          pivot = lower - 1;
          upper = h / 2;
        } else {
          if (sample < 0) exchange_blocks(lo, lo + count - h, h);
          if (l < count) {
            // Spread the step over the whole range.
            uint32_t stride = count / l;
            for (uint32_t i = h; i < l; i++) exchange(lo + i, lo + i * stride);
          }
          pivot = (h - 1) / 2;
          upper = h / 2;
          uint32_t from = pivot + 1;  // the upper half goes to the end of the l positions
          if (l - upper >= h) {
            exchange_blocks(lo + from, lo + l - upper, upper);
          } else {
            rotate(lo + from, lo + h, lo + l);
          }
        }
      } else {
        l = count > LARGE_RANGE ? FIRST_SUBSET : count;
        exchange(lo + l / 2, lo + 1);
        if (compare(lo, lo + 1) > 0) exchange(lo, lo + 1);
        if (compare(lo + 1, lo + l - 1) > 0) {
          exchange(lo + 1, lo + l - 1);
          if (compare(lo, lo + 1) > 0) exchange(lo, lo + 1);
        }
        pivot = 1;
        upper = 1;
      }

      // Partition (pivot, l - upper): smaller elements, the pivot's equals
      // gathered in a zone right after it, larger elements at the end.
      uint32_t pv = lo + pivot;
      uint32_t equal_end = pv + 1, i = pv + 1, j = lo + l - upper;
      while (i < j) {
        int32_t c = compare(i, pv);
        if (c < 0) {
          i++;
          continue;
        }
        if (c == 0) {
          exchange(i, equal_end++);
          i++;
          continue;
        }
        int32_t cj = 0;
        do j--; while (j > i && (cj = compare(j, pv)) > 0);
        if (j == i) break;
        exchange(i, j);
        if (cj == 0) exchange(i, equal_end++);
        i++;
      }
      uint32_t smaller = i - equal_end, equal = equal_end - pv;
      uint32_t m = std::min(equal, smaller);
      exchange_blocks(pv, i - m, m);

      uint32_t left_count = pivot + smaller;
      uint32_t right_start = i - lo, right_count = l - right_start;
      if (l < count) {
        if (right_count > upper) core(lo + right_start, right_count, -int64_t(upper));
        if (left_count > pivot) core(lo, left_count, pivot);
        sample = l;  // the sorted subset is the next pass's sample
      } else if (left_count <= right_count) {
        if (left_count > pivot) core(lo, left_count, pivot);
        if (right_count <= upper) return;
        lo += right_start;
        count = right_count;
        sample = -int64_t(upper);
      } else {
        if (right_count > upper) core(lo + right_start, right_count, -int64_t(upper));
        if (left_count <= pivot) return;
        count = left_count;
        sample = pivot;
      }
    }
    insertion_sort(lo, lo, lo + count);
  }

  bool in_order(uint32_t a, uint32_t b, bool ascending) const {
    int32_t c = compare(a, b);
    return ascending ? c <= 0 : c >= 0;
  }

  void quick_sort() const {
    if (n < 2) return;
    uint32_t i = 1;
    int32_t c = 0;
    for (; i < n; i++)
      if ((c = compare(i - 1, i)) != 0) break;
    if (i == n) return;  // every element equal
    bool ascending = c < 0;
    uint32_t prefix = i + 1;
    while (prefix < n && in_order(prefix - 1, prefix, ascending)) prefix++;

    // Estimate the order of the rest; when it is markedly sorted one way,
    // gather in-order segments after the prefix.
    int64_t estimate = ascending ? int64_t(prefix) : -int64_t(prefix);
    for (uint64_t k = uint64_t(prefix) + ESTIMATE_STRIDE; k < n; k += ESTIMATE_STRIDE) {
      int32_t d = compare(uint32_t(k - 1), uint32_t(k));
      estimate += d < 0 ? 1 : d > 0 ? -1 : 0;
    }
    if (std::abs(estimate) > int64_t(n / 512)) {
      if ((estimate > 0) != ascending) {
        prefix = 1;
        ascending = !ascending;
      }
      uint64_t w = prefix;
      while (w < n) {
        uint32_t a = uint32_t(w), b = a + 1;
        while (a > prefix && in_order(a - 1, a, ascending)) a--;
        while (b < n && in_order(b - 1, b, ascending)) b++;
        uint32_t length = b - a;
        if (length >= MIN_SEGMENT && in_order(prefix - 1, a, ascending)) {
          if (a >= prefix + length) {
            exchange_blocks(prefix, a, length);
          } else if (a > prefix) {
            rotate(prefix, a, b);
          }
          prefix += length;
        }
        w = std::max<uint64_t>({w + WINDOW_STRIDE, b, prefix});
      }
    }
    if (!ascending) reverse(0, prefix);
    if (prefix >= n) return;
    core(0, n, prefix);
  }
};

template <class Base>
sorter<Base> make_sorter(Base base, uint32_t count, uint32_t size, uintptr_t c1, uintptr_t c2,
                         comparator cmp) {
  return sorter<Base>{base, count, size, c1, c2, cmp};
}

}  // namespace

void merge_sort(void* base, uint32_t count, uint32_t size, uintptr_t context1,
                uintptr_t context2, comparator compare) {
  make_sorter(fixed_base{static_cast<uint8_t*>(base)}, count, size, context1, context2, compare)
      .merge_sort();
}

void quick_sort(void* base, uint32_t count, uint32_t size, uintptr_t context1,
                uintptr_t context2, comparator compare) {
  make_sorter(fixed_base{static_cast<uint8_t*>(base)}, count, size, context1, context2, compare)
      .quick_sort();
}

void merge_sort_series(node_t node, uint32_t offset, uint32_t count, uint32_t size,
                       uintptr_t context1, uintptr_t context2, comparator compare) {
  make_sorter(series_base{node, offset}, count, size, context1, context2, compare).merge_sort();
}

void quick_sort_series(node_t node, uint32_t offset, uint32_t count, uint32_t size,
                       uintptr_t context1, uintptr_t context2, comparator compare) {
  make_sorter(series_base{node, offset}, count, size, context1, context2, compare).quick_sort();
}

void swap(void* a, void* b, uint32_t size, bool bytewise) {
  auto* x = static_cast<uint8_t*>(a);
  auto* y = static_cast<uint8_t*>(b);
  if (bytewise || size % 4 != 0) {
    for (uint32_t i = 0; i < size; i++) std::swap(x[i], y[i]);
    return;
  }
  for (uint32_t i = 0; i < size; i += 4) {
    uint32_t u, v;
    std::memcpy(&u, x + i, 4);
    std::memcpy(&v, y + i, 4);
    std::memcpy(x + i, &v, 4);
    std::memcpy(y + i, &u, 4);
  }
}

int compare_unsigned(const void* a, const void* b) {
  uint32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y ? 1 : 0;
}

void visit_work_buffers(void (*visit)(const void* first, uint32_t count, uint32_t size,
                                      void* context),
                        void* context) {
  for (work_buffer* w = active_work; w; w = w->outer)
    if (w->count) visit(w->data + uint64_t(w->first) * w->size, w->count, w->size, context);
}

}  // namespace kez::sorting
