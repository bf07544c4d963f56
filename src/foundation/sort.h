// Sorting: a stable natural merge sort and an unstable sampled quicksort over
// arrays of fixed-width elements, driven by a comparator callback.
//
// The comparator answers > 0 when a must come after b, 0 when they are equal
// and < 0 otherwise; its two context words pass through unchanged (the
// callers' sort options). Nothing in either sort trusts the comparator to be
// consistent: every scan is bounded by its range, so a comparator that
// contradicts itself gives some permutation of the input, never an access
// outside the array.
//
// A comparator that can allocate (one that evaluates code) must sort an
// array that does not move, or use the series entry points, which read the
// array's address again through its node after every comparison. While the
// merge sort runs, part of the elements may exist only in its work buffer;
// visit_work_buffers shows the collector those elements.
#pragma once
#include <cstdint>

#include "foundation/memory.h"

namespace kez::sorting {

using comparator = int32_t (*)(const void* a, const void* b, uintptr_t context1,
                               uintptr_t context2);

// Stable; needs a work buffer of count / 2 elements (script too-long when its
// size overflows 32 bits, internal no-memory when it cannot be had).
void merge_sort(void* base, uint32_t count, uint32_t size, uintptr_t context1,
                uintptr_t context2, comparator compare);
// Not stable; allocates nothing.
void quick_sort(void* base, uint32_t count, uint32_t size, uintptr_t context1,
                uintptr_t context2, comparator compare);

// The same over `count` elements starting `offset` bytes into a series'
// data, for comparators that may move the series.
void merge_sort_series(node_t node, uint32_t offset, uint32_t count, uint32_t size,
                       uintptr_t context1, uintptr_t context2, comparator compare);
void quick_sort_series(node_t node, uint32_t offset, uint32_t count, uint32_t size,
                       uintptr_t context1, uintptr_t context2, comparator compare);

// Exchanges two elements, byte by byte or 32-bit word by word.
void swap(void* a, void* b, uint32_t size, bool bytewise);

// The collector's comparator for qsort: the first 32-bit words, unsigned.
int compare_unsigned(const void* a, const void* b);

// Calls `visit` for the elements that running merge sorts hold only in their
// work buffers (first element, count, element size).
void visit_work_buffers(void (*visit)(const void* first, uint32_t count, uint32_t size,
                                      void* context),
                        void* context);

}  // namespace kez::sorting
