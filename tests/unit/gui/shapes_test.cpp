// The draw dialect's cell walks: lines, triangles and ellipses drawn into a
// small grid of characters, clipped at its edges, and bounded by it for
// coordinates and radii far outside.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/terminal/shapes.h"

namespace kez::gui::shapes {
namespace {

// A grid of rows of characters: '.' untouched, 'o' an outline or line cell,
// '#' an inside cell. Every plot is counted, and a plot outside fails.
struct canvas {
  grid g;
  std::vector<std::string> rows;
  long plots = 0;
  canvas(int32_t w, int32_t h) : g{w, h}, rows(size_t(h), std::string(size_t(w), '.')) {}
  auto put(char c) {
    return [this, c](int32_t x, int32_t y) {
      plots++;
      ASSERT_TRUE(g.holds(x, y)) << x << "," << y;
      rows[size_t(y)][size_t(x)] = c;
    };
  }
  std::string text() const {
    std::string s;
    for (const auto& r : rows) s += r + "\n";
    return s;
  }
};

TEST(Shapes, LinesWalkEveryCellBetweenTheirEnds) {
  struct line_case {
    int64_t x0, y0, x1, y1;
    const char* rows;
  } cases[] = {
      {0, 0, 3, 0, "oooo..\n......\n......\n"},
      {5, 2, 0, 0, "oo....\n..oo..\n....oo\n"},
      {2, 2, 2, 2, "......\n......\n..o...\n"},
      {-3, 1, 100, 1, "......\noooooo\n......\n"},  // clipped at both sides
      {-10, -10, -1, -1, "......\n......\n......\n"},  // wholly outside
      {1, -5, 1, 50, ".o....\n.o....\n.o....\n"},
  };
  for (const auto& c : cases) {
    canvas cv(6, 3);
    line(cv.g, c.x0, c.y0, c.x1, c.y1, cv.put('o'));
    EXPECT_EQ(cv.text(), c.rows) << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1;
  }
}

TEST(Shapes, HugeLinesCostNoMoreThanTheGrid) {
  canvas cv(6, 3);
  line(cv.g, -COORD_LIMIT, -COORD_LIMIT, COORD_LIMIT, COORD_LIMIT, cv.put('o'));
  line(cv.g, -COORD_LIMIT, 1, COORD_LIMIT, 2, cv.put('o'));
  EXPECT_LE(cv.plots, 12);
  EXPECT_EQ(cv.rows[1].find('o') == std::string::npos, false);
}

TEST(Shapes, TrianglesFillBetweenTheirEdges) {
  canvas cv(7, 4);
  fill_triangle(cv.g, 0, 0, 6, 0, 0, 3, cv.put('#'));
  EXPECT_EQ(cv.text(), "#######\n#####..\n###....\n#......\n");
  canvas flat(5, 2);
  fill_triangle(flat.g, 4, 1, 0, 1, 2, 1, flat.put('#'));
  EXPECT_EQ(flat.text(), ".....\n#####\n");
  canvas huge(5, 3);
  fill_triangle(huge.g, -COORD_LIMIT, -COORD_LIMIT, COORD_LIMIT, -COORD_LIMIT, 0, COORD_LIMIT,
                huge.put('#'));
  EXPECT_EQ(huge.plots, 15);
}

TEST(Shapes, EllipsesHaveAnOutlineAndAnInside) {
  canvas cv(11, 5);
  ellipse(cv.g, 5, 2, 4, 2, cv.put('o'), cv.put('#'));
  EXPECT_EQ(cv.text(),
            ".....o.....\n"
            "..ooo#ooo..\n"
            ".o#######o.\n"
            "..ooo#ooo..\n"
            ".....o.....\n");
  canvas dot(3, 3);
  ellipse(dot.g, 1, 1, 0, 0, dot.put('o'), dot.put('#'));
  EXPECT_EQ(dot.text(), "...\n.o.\n...\n");
}

TEST(Shapes, HugeEllipsesAreWalkedOnlyInsideTheGrid) {
  canvas cv(8, 4);
  ellipse(cv.g, 0, 0, 2 * COORD_LIMIT, COORD_LIMIT, cv.put('o'), cv.put('#'));
  EXPECT_EQ(cv.plots, 32);
  EXPECT_EQ(cv.text(), "########\n########\n########\n########\n");
  canvas off(8, 4);
  ellipse(off.g, -COORD_LIMIT, -COORD_LIMIT, 3, 3, off.put('o'), off.put('#'));
  EXPECT_EQ(off.plots, 0);
}

TEST(Shapes, FloatCoordinatesAreClampedBeforeConversion) {
  EXPECT_EQ(clamp_coord(1e300), COORD_LIMIT);
  EXPECT_EQ(clamp_coord(-1e300), -COORD_LIMIT);
  EXPECT_EQ(clamp_coord(0.0 / 0.0), 0);
  EXPECT_EQ(clamp_coord(-2.7), -2);
  EXPECT_EQ(clamp_coord(int64_t(1) << 40), COORD_LIMIT);
}

}  // namespace
}  // namespace kez::gui::shapes
