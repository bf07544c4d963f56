// The cell walks of the draw dialect's shapes: lines, filled triangles and
// ellipses over a grid of character cells, each cell handed to a callback.
//
// What must stay true: a walk never reports a cell outside 0 <= x < width,
// 0 <= y < height, and its cost is bounded by the grid, whatever the
// coordinates: a segment is clipped to the grid before it is walked, a
// triangle or an ellipse is walked only over the rows and columns it
// covers inside the grid. Coordinates arrive as 64-bit integers already
// clamped to +/-COORD_LIMIT, so no arithmetic here overflows.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace kez::gui::shapes {

// Coordinates and radii are clamped to this before any conversion: far
// beyond any terminal, small enough that squares and sums stay exact in
// 64-bit integers and doubles.
inline constexpr int64_t COORD_LIMIT = int64_t(1) << 30;

inline int64_t clamp_coord(int64_t v) { return std::clamp(v, -COORD_LIMIT, COORD_LIMIT); }
// A float coordinate: NaN is 0, the rest clamped, then truncated.
inline int64_t clamp_coord(double v) {
  if (v != v) return 0;
  return int64_t(std::clamp(v, double(-COORD_LIMIT), double(COORD_LIMIT)));
}

struct grid {
  int32_t width = 0;
  int32_t height = 0;
  bool holds(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

// Clips the segment to the grid (Liang-Barsky); false when nothing of it
// lies inside. The end points come back rounded to cells inside the grid.
inline bool clip_segment(const grid& g, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) {
  if (g.width < 1 || g.height < 1) return false;
  if (g.holds(x0, y0) && g.holds(x1, y1)) return true;
  double dx = double(x1 - x0), dy = double(y1 - y0);
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {double(x0), double(g.width - 1 - x0), double(y0), double(g.height - 1 - y0)};
  for (int i = 0; i < 4; i++) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    double t = q[i] / p[i];
    if (p[i] < 0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
    if (t0 > t1) return false;
  }
  double sx = double(x0), sy = double(y0);
  x0 = std::clamp(int64_t(std::lround(sx + t0 * dx)), int64_t(0), int64_t(g.width - 1));
  y0 = std::clamp(int64_t(std::lround(sy + t0 * dy)), int64_t(0), int64_t(g.height - 1));
  x1 = std::clamp(int64_t(std::lround(sx + t1 * dx)), int64_t(0), int64_t(g.width - 1));
  y1 = std::clamp(int64_t(std::lround(sy + t1 * dy)), int64_t(0), int64_t(g.height - 1));
  return true;
}

// Bresenham's line from (x0, y0) to (x1, y1), both ends included, clipped
// to the grid.
template <class Plot>
void line(const grid& g, int64_t x0, int64_t y0, int64_t x1, int64_t y1, Plot&& plot) {
  if (!clip_segment(g, x0, y0, x1, y1)) return;
  int64_t dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = -(y1 > y0 ? y1 - y0 : y0 - y1);
  int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int64_t err = dx + dy;
  for (;;) {
    if (g.holds(x0, y0)) plot(int32_t(x0), int32_t(y0));
    if (x0 == x1 && y0 == y1) break;
    int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

// Every cell between the triangle's edges, row by row between the sorted
// vertices: on each row the cells from the leftmost to the rightmost
// crossing of the edges, limited to the grid.
template <class Plot>
void fill_triangle(const grid& g, int64_t ax, int64_t ay, int64_t bx, int64_t by, int64_t cx,
                   int64_t cy, Plot&& plot) {
  int64_t top = std::max<int64_t>(std::min({ay, by, cy}), 0);
  int64_t bottom = std::min<int64_t>(std::max({ay, by, cy}), g.height - 1);
  for (int64_t y = top; y <= bottom; y++) {
    double l = HUGE_VAL, r = -HUGE_VAL;
    // Widens [l, r] to where the edge from (x0, y0) to (x1, y1) meets row y.
    auto edge = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
      if (y < std::min(y0, y1) || y > std::max(y0, y1)) return;
      if (y0 == y1) {
        l = std::min({l, double(x0), double(x1)});
        r = std::max({r, double(x0), double(x1)});
        return;
      }
      double x = double(x0) + double(x1 - x0) * double(y - y0) / double(y1 - y0);
      l = std::min(l, x);
      r = std::max(r, x);
    };
    edge(ax, ay, bx, by);
    edge(bx, by, cx, cy);
    edge(cx, cy, ax, ay);
    if (l > r) continue;
    int64_t from = std::max<int64_t>(int64_t(std::ceil(l - 1e-9)), 0);
    int64_t to = std::min<int64_t>(int64_t(std::floor(r + 1e-9)), g.width - 1);
    for (int64_t x = from; x <= to; x++) plot(int32_t(x), int32_t(y));
  }
}

// The ellipse about (cx, cy) with half-axes a (across) and b (down), both
// at least 0: `outline` gets the cells on its edge, `inside` the cells
// within it. A cell belongs to the ellipse when (dx/a)^2 + (dy/b)^2 <= 1;
// it is on the edge when it ends its row's span or the row above or below
// does not reach it.
template <class Edge, class Inside>
void ellipse(const grid& g, int64_t cx, int64_t cy, int64_t a, int64_t b, Edge&& outline,
             Inside&& inside) {
  if (a < 0 || b < 0 || g.width < 1 || g.height < 1) return;
  // The row's span as half-widths: -1 for a row outside the ellipse.
  auto half = [&](int64_t dy) -> int64_t {
    if (dy < -b || dy > b) return -1;
    if (b == 0) return a;
    double f = 1.0 - (double(dy) / double(b)) * (double(dy) / double(b));
    return int64_t(std::floor(double(a) * std::sqrt(std::max(f, 0.0)) + 1e-9));
  };
  int64_t top = std::max<int64_t>(cy - b, 0), bottom = std::min<int64_t>(cy + b, g.height - 1);
  for (int64_t y = top; y <= bottom; y++) {
    int64_t h = half(y - cy), above = half(y - 1 - cy), below = half(y + 1 - cy);
    int64_t from = std::max<int64_t>(cx - h, 0), to = std::min<int64_t>(cx + h, g.width - 1);
    int64_t shared = std::min(above, below);  // cells within both neighbours' spans
    for (int64_t x = from; x <= to; x++) {
      int64_t d = x < cx ? cx - x : x - cx;
      if (d == h || d > shared) outline(int32_t(x), int32_t(y));
      else inside(int32_t(x), int32_t(y));
    }
  }
}

}  // namespace kez::gui::shapes
