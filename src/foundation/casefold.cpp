// Case folding and character widths.
//
// The pair lists and ranges come from the generated unicode_tables.inc; the
// BMP tables are expanded from the pair lists by the compiler. Lookups never
// allocate; above the BMP and for widths they are binary searches over a few
// hundred sorted entries.
#include "foundation/casefold.h"

#include <algorithm>

#include "foundation/raise.h"
#include "foundation/unicode.h"
#include "values/cell.h"
#include "values/error_ids.h"

namespace kez {

namespace {
#include "foundation/unicode_tables.inc"

template <size_t N>
constexpr std::array<uint16_t, 65536> expand_pairs(const uint16_t (&pairs)[N][2]) {
  std::array<uint16_t, 65536> table{};
  for (uint32_t c = 0; c < 65536; c++) table[c] = uint16_t(c);
  for (const auto& p : pairs) table[p[0]] = p[1];
  return table;
}

template <size_t N>
uint32_t find_pair(const uint32_t (&pairs)[N][2], uint32_t cp) {
  const auto* end = pairs + N;
  const auto* at = std::lower_bound(pairs, end, cp,
                                    [](const uint32_t(&p)[2], uint32_t c) { return p[0] < c; });
  return at != end && (*at)[0] == cp ? (*at)[1] : cp;
}

}  // namespace

namespace case_folding {

constinit const std::array<uint16_t, 65536> upper_table = expand_pairs(upper_pairs);
constinit const std::array<uint16_t, 65536> lower_table = expand_pairs(lower_pairs);

uint32_t convert_supplementary(uint32_t cp, bool to_upper) {
  return to_upper ? find_pair(upper_pairs_supplementary, cp)
                  : find_pair(lower_pairs_supplementary, cp);
}

uint32_t swap_case(uint32_t cp) {
  uint32_t up = to_upper(cp);
  return up != cp ? up : to_lower(cp);
}

void change_case(Cell* value, const Cell* part, bool to_upper) {
  if (TYPE_OF(value) == TYPE_CHAR) {
    value->w2 = convert_char(value->w2, to_upper);
    return;
  }
  node_t node = value->w2;
  series_buffer* b = memory::buffer(node);
  uint32_t unit = b->unit();
  if (unit != 1 && unit != 2 && unit != 4) unicode::bad_unit();
  uint32_t total = b->used() / unit;
  if (value->w1 > total) value->w1 = total;
  uint32_t head = value->w1;
  uint32_t count = total - head;
  if (part) {
    int64_t k;
    if (TYPE_OF(part) == TYPE_INTEGER) {
      k = get_integer(part);
    } else if (TYPE_OF(part) == TYPE_OF(value) && part->w2 == node) {
      k = int64_t(part->w1) - head;
    } else {
      fire(err::SCRIPT, err::script::INVALID_PART, part);
    }
    count = uint32_t(std::clamp<int64_t>(k, 0, count));
  }
  for (uint32_t i = head; i < head + count; i++) {
    b = memory::buffer(node);
    uint8_t* at = b->head_ptr() + uint64_t(i) * unit;
    uint32_t cp = unicode::get_char(at, unit);
    uint32_t converted = convert_char(cp, to_upper);
    if (converted == cp) continue;
    uint32_t needed = converted <= 0xFF ? 1 : converted <= 0xFFFF ? 2 : 4;
    if (needed > unit) {
      b = unicode::widen(node, needed);
      unit = needed;
      at = b->head_ptr() + uint64_t(i) * unit;
    }
    unicode::put_char(at, unit, converted);
  }
}

}  // namespace case_folding

namespace unicode {

bool in_ranges(uint32_t cp, std::span<const code_range> ranges) {
  if (ranges.empty() || cp < ranges.front()[0] || cp > ranges.back()[1]) return false;
  auto at = std::lower_bound(ranges.begin(), ranges.end(), cp,
                             [](const code_range& r, uint32_t c) { return r[1] < c; });
  return at != ranges.end() && (*at)[0] <= cp;
}

int char_width(uint32_t cp) {
  if (cp == 0) return 0;
  if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
  if (in_ranges(cp, kez::zero_width_ranges)) return 0;
  if (in_ranges(cp, kez::wide_ranges)) return 2;
  return 1;
}

int char_width_cjk(uint32_t cp) {
  if (in_ranges(cp, kez::ambiguous_ranges)) return 2;
  return char_width(cp);
}

std::span<const code_range> zero_width_table() { return kez::zero_width_ranges; }
std::span<const code_range> wide_table() { return kez::wide_ranges; }
std::span<const code_range> ambiguous_table() { return kez::ambiguous_ranges; }

}  // namespace unicode
}  // namespace kez
