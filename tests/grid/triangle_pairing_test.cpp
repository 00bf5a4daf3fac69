#include "grid/triangle_pairing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/cell_pruning.h"
#include "grid/frame_image.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"

namespace {

struct Corner {
    double x, y;
};

// A polygon owned by the test, for meanInPolygon.
class Polygon {
public:
    explicit Polygon(const std::vector<Corner>& corners) {
        for (const Corner& c : corners) {
            auto* n = new g_node(g_vector(c.x, c.y, 0.0));
            part.addNode(n);
            element->addNode(n);
        }
        part.addElement(element);
    }
    g_element* get() { return element; }

private:
    g_part part;
    g_element* element = new g_element();
};

uint32_t meanOf(const cv::Mat& image, const std::vector<Corner>& corners) {
    Polygon polygon(corners);
    return meanInPolygon(image.data, image.cols, image.rows, image.channels() * 8, polygon.get());
}

TEST(MeanInPolygon, AveragesTheSquareShrunkByTwoPixels) {
    cv::Mat image = makeFrameImage(20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) image.at<uint8_t>(y, x) = static_cast<uint8_t>(x + 10 * y);
    // Rows 4 .. 10 and columns 4 .. 10: mean column 7, mean row 7.
    EXPECT_EQ(meanOf(image, {{2, 2}, {12, 2}, {12, 12}, {2, 12}}), 77u);
    // The orientation does not matter.
    EXPECT_EQ(meanOf(image, {{2, 2}, {2, 12}, {12, 12}, {12, 2}}), 77u);
    // Fewer than 5 rows high leaves nothing inside: rows 4 .. 3.
    EXPECT_EQ(meanOf(image, {{2, 2}, {12, 2}, {7, 5.9}}), 0u);
}

TEST(MeanInPolygon, ReadsMultiBytePixelsLittleEndian) {
    // Two-byte pixels: low byte 3, high byte 1 -> 259. Rows of 5 pixels take
    // 10 bytes, padded to 12.
    std::vector<uint8_t> pixels(12 * 12, 0);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 5; ++x) {
            pixels[y * 12 + 2 * x] = 3;
            pixels[y * 12 + 2 * x + 1] = 1;
        }
    Polygon polygon({{0, 0}, {8, 0}, {8, 11}, {0, 11}});
    EXPECT_EQ(meanInPolygon(pixels.data(), 5, 12, 16, polygon.get()), 259u);
}

TEST(MeanInPolygon, HorizontalSideSpansOnlyThePolygon) {
    // Non-convex quadrilaterals whose middle side is horizontal, so one chain
    // rests on it for a row. Inside the polygons the image is 77; the rest of
    // that row is 255 and must not be counted.
    cv::Mat image = makeFrameImage(80, 40);
    image.setTo(77);
    image.row(11).setTo(255);
    image.row(11).colRange(0, 21).setTo(77);
    EXPECT_EQ(meanOf(image, {{0, 0}, {10, 10}, {20, 10}, {0, 30}}), 77u);  // right chain

    image.row(11).setTo(255);
    image.row(11).colRange(50, 80).setTo(77);
    EXPECT_EQ(meanOf(image, {{70, 0}, {70, 30}, {50, 10}, {60, 10}}), 77u);  // left chain
}

TEST(MeanInPolygon, CoordinatesOutsideTheImageAreSafe) {
    cv::Mat image = makeFrameImage(30, 20);
    for (int y = 0; y < 20; ++y) image.row(y).setTo(y < 10 ? 40 : 80);
    const double big = 1e9;
    // Covering the whole image: the image's mean.
    EXPECT_EQ(meanOf(image, {{-big, -big}, {big, -big}, {big, big}, {-big, big}}), 60u);
    // Starting far above the image: only rows 0 .. 12 are scanned (10 rows of
    // 40, 3 of 80).
    EXPECT_EQ(meanOf(image, {{-big, -big}, {big, -big}, {big, 14}, {-big, 14}}), 49u);
    // Entirely outside and far away.
    EXPECT_EQ(meanOf(image, {{1e15, 1e15}, {1e15 + 50, 1e15}, {1e15, 1e15 + 50}}), 0u);
    EXPECT_EQ(meanOf(image, {{-1e300, 5}, {-1e299, 5}, {-1e299, 15}}), 0u);
    // Sides whose extent overflows to infinity.
    const double huge = std::numeric_limits<double>::max();
    EXPECT_EQ(meanOf(image, {{-huge, -huge}, {huge, -huge}, {huge, huge}, {-huge, huge}}), 60u);
    meanOf(image, {{-huge, -huge}, {huge, huge}, {-huge, huge}});  // any value; no undefined behaviour
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(meanOf(image, {{2, 2}, {nan, 2}, {12, 12}}), 0u);
    EXPECT_EQ(meanOf(image, {{2, 2}, {25, 2}, {12, nan}}), 0u);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(meanOf(image, {{2, 2}, {inf, 2}, {12, 12}}), 0u);
}

TEST(MeanInPolygon, MissingInputGivesZero) {
    cv::Mat image = makeFrameImage(20, 20);
    image.setTo(9);
    Polygon square({{2, 2}, {12, 2}, {12, 12}, {2, 12}});
    EXPECT_EQ(meanInPolygon(image.data, 20, 20, 8, square.get()), 9u);
    EXPECT_EQ(meanInPolygon(nullptr, 20, 20, 8, square.get()), 0u);
    EXPECT_EQ(meanInPolygon(image.data, 0, 20, 8, square.get()), 0u);
    EXPECT_EQ(meanInPolygon(image.data, 20, -1, 8, square.get()), 0u);
    EXPECT_EQ(meanInPolygon(image.data, 20, 20, 0, square.get()), 0u);
    EXPECT_EQ(meanInPolygon(image.data, 20, 20, 8, nullptr), 0u);
    Polygon segment({{2, 2}, {12, 12}});
    EXPECT_EQ(meanInPolygon(image.data, 20, 20, 8, segment.get()), 0u);
}

// A one-frame grid record with hand-made triangles, set up as the corner mesh
// stage leaves it: one node per corner in each part, triangles in the
// triangle part. The image is painted triangle by triangle.
class Pairing : public ::testing::Test {
protected:
    void SetUp() override { set.allocate(1, 20); }

    void TearDown() override {
        // Candidates are owned by nobody until transferred; free them here.
        GridElement* cell = nullptr;
        while (set.pendingElements.removeFirst(cell)) delete cell;
    }

    g_part& triangles() { return *set.frames[0].trianglePart; }
    g_part& grid() { return *set.frames[0].gridPart; }

    int corner(double x, double y) {
        triangles().addNode(new g_node(g_vector(x, y, 0.0)));
        grid().addNode(new g_node(g_vector(x, y, 0.0)));
        corners.push_back({x, y});
        return static_cast<int>(corners.size()) - 1;
    }

    // Adds the triangle on corners a, b, c and paints its inside `grey`.
    GridElement* triangle(int a, int b, int c, uint8_t grey) {
        auto* t = new GridElement();
        for (int k : {a, b, c}) t->addNode(triangles().nodes().item(static_cast<uint32_t>(k)));
        triangles().addElement(t);
        paint(corners[a], corners[b], corners[c], grey);
        return t;
    }

    void paint(Corner a, Corner b, Corner c, uint8_t grey) {
        auto side = [](Corner p, Corner q, double x, double y) {
            return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x);
        };
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.cols; ++x) {
                const double s1 = side(a, b, x, y), s2 = side(b, c, x, y), s3 = side(c, a, x, y);
                if ((s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0))
                    image.at<uint8_t>(y, x) = grey;
            }
    }

    std::vector<GridElement*> pending() {
        std::vector<GridElement*> items;
        for (uint32_t k = 0; k < set.pendingElements.numberOfItems(); ++k)
            items.push_back(set.pendingElements.item(k));
        return items;
    }

    // Positions of the cell's nodes in the grid part's node list; -1 for a
    // node that is not a grid-part node.
    std::vector<int> gridPositions(GridElement* cell) {
        std::vector<int> positions;
        for (uint32_t k = 0; k < cell->nodes().numberOfItems(); ++k) {
            uint32_t position = 0;
            positions.push_back(grid().nodes().find(cell->getNode(k), position) ? static_cast<int>(position) : -1);
        }
        return positions;
    }

    GridSet set;
    cv::Mat image = makeFrameImage(120, 70);
    std::vector<Corner> corners;
};

TEST_F(Pairing, TrianglesWithMeansWithinThirtyBecomeOneCell) {
    // t = (p, q, r) and u = (r, q, s) share side q-r.
    const int p = corner(10, 10), q = corner(50, 10), r = corner(10, 50), s = corner(50, 50);
    GridElement* t = triangle(p, q, r, 100);
    GridElement* u = triangle(r, q, s, 129);

    pairTriangles(set, 0, image);
    EXPECT_EQ(t->meanGrey, 100u);
    EXPECT_EQ(u->meanGrey, 129u);
    EXPECT_EQ(t->inGrid, 1);
    EXPECT_EQ(u->inGrid, 1);
    ASSERT_EQ(set.pendingElements.numberOfItems(), 1u);
    GridElement* cell = set.pendingElements.item(0);
    EXPECT_EQ(gridPositions(cell), (std::vector<int>{p, q, s, r}));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(cell->getNode(k)->elements().memberOf(cell));
    EXPECT_TRUE(cell->parts().isEmpty());
    EXPECT_EQ(cell->inGrid, 0);
    EXPECT_EQ(cell->labelled, 0);
    EXPECT_EQ(cell->gridX, NO_LABEL);
    EXPECT_EQ(cell->gridY, NO_LABEL);

    // The cell's mean covers rows and columns 12 .. 48 of both halves.
    double sum = 0;
    int count = 0;
    for (int y = 12; y <= 48; ++y)
        for (int x = 12; x <= 48; ++x, ++count) sum += image.at<uint8_t>(y, x);
    EXPECT_EQ(cell->meanGrey, static_cast<uint32_t>(sum / count));
}

TEST_F(Pairing, MeansThirtyApartStayUnpaired) {
    const int p = corner(10, 10), q = corner(50, 10), r = corner(10, 50), s = corner(50, 50);
    GridElement* t = triangle(p, q, r, 100);
    GridElement* u = triangle(r, q, s, 130);

    pairTriangles(set, 0, image);
    EXPECT_EQ(t->meanGrey, 100u);
    EXPECT_EQ(u->meanGrey, 130u);
    EXPECT_TRUE(set.pendingElements.isEmpty());
    EXPECT_EQ(t->inGrid, 0);
    EXPECT_EQ(u->inGrid, 0);
}

TEST_F(Pairing, PairsOnlyMutualClosestMatches) {
    // A strip t - u - v: t's closest is u, but u's closest is v. t is visited
    // first and stays unpaired; u and v pair.
    const int a = corner(10, 10), b = corner(50, 10), c = corner(10, 50), d = corner(50, 50), e = corner(90, 10);
    GridElement* t = triangle(a, b, c, 100);
    GridElement* u = triangle(c, b, d, 120);
    GridElement* v = triangle(b, e, d, 125);

    pairTriangles(set, 0, image);
    EXPECT_EQ(t->inGrid, 0);
    EXPECT_EQ(u->inGrid, 1);
    EXPECT_EQ(v->inGrid, 1);
    ASSERT_EQ(set.pendingElements.numberOfItems(), 1u);
    // u = (c, b, d), v = (b, e, d): a = 0 (c), b = 1 (e).
    EXPECT_EQ(gridPositions(set.pendingElements.item(0)), (std::vector<int>{c, b, e, d}));
}

TEST_F(Pairing, EqualDifferencesGoToTheEarlierNeighbour) {
    // u has t (95) and v (105) at the same distance; t was created first and
    // comes first among u's neighbours.
    const int a = corner(10, 10), b = corner(50, 10), c = corner(10, 50), d = corner(50, 50), e = corner(90, 10);
    GridElement* t = triangle(a, b, c, 95);
    GridElement* u = triangle(c, b, d, 100);
    GridElement* v = triangle(b, e, d, 105);

    pairTriangles(set, 0, image);
    EXPECT_EQ(t->inGrid, 1);
    EXPECT_EQ(u->inGrid, 1);
    EXPECT_EQ(v->inGrid, 0);
    ASSERT_EQ(set.pendingElements.numberOfItems(), 1u);
    EXPECT_EQ(gridPositions(set.pendingElements.item(0)), (std::vector<int>{a, b, d, c}));
}

TEST_F(Pairing, RowStrideOfOddWidthFrames) {
    // 641 pixels wide: frame image rows are 644 bytes apart. A plain,
    // unpadded image of the same pixels gives the same means.
    image = makeFrameImage(641, 60);
    ASSERT_EQ(image.step[0], 644u);
    const int p = corner(600, 5), q = corner(640, 5), r = corner(600, 55), s = corner(640, 55);
    GridElement* t = triangle(p, q, r, 60);
    GridElement* u = triangle(r, q, s, 70);
    image.col(640).setTo(200);  // the last column is outside the shrunk polygons

    pairTriangles(set, 0, image);
    EXPECT_EQ(t->meanGrey, 60u);
    EXPECT_EQ(u->meanGrey, 70u);
    ASSERT_EQ(set.pendingElements.numberOfItems(), 1u);
    const uint32_t cellMean = set.pendingElements.item(0)->meanGrey;

    cv::Mat plain = image.clone();
    ASSERT_EQ(plain.step[0], 641u);
    t->meanGrey = u->meanGrey = 0;
    t->inGrid = u->inGrid = 0;
    deleteGridCell(set.pendingElements, set.pendingElements.item(0));
    pairTriangles(set, 0, plain);
    EXPECT_EQ(t->meanGrey, 60u);
    EXPECT_EQ(u->meanGrey, 70u);
    ASSERT_EQ(set.pendingElements.numberOfItems(), 1u);
    EXPECT_EQ(set.pendingElements.item(0)->meanGrey, cellMean);
}

TEST_F(Pairing, NothingToPairLeavesTheListEmpty) {
    pairTriangles(set, 0, image);  // no triangles
    EXPECT_TRUE(set.pendingElements.isEmpty());

    const int p = corner(10, 10), q = corner(50, 10), r = corner(10, 50);
    GridElement* t = triangle(p, q, r, 90);
    pairTriangles(set, 1, image);  // frame out of range: untouched
    EXPECT_EQ(t->meanGrey, 0u);
    pairTriangles(set, 0, cv::Mat());
    EXPECT_EQ(t->meanGrey, 0u);
    pairTriangles(set, 0, image);  // a lone triangle has no partner
    EXPECT_EQ(t->meanGrey, 90u);
    EXPECT_TRUE(set.pendingElements.isEmpty());
}

}  // namespace
