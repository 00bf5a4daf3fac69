#include "grid/marker_cells.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "grid/grid_set.h"
#include "support/board_mesh.h"

namespace {

using vexel::test::BoardLayout;
using vexel::test::BoardMesh;
using vexel::test::PaintedSpot;

// A cross of five 10-pixel cells: the centre cell (0, 0) and its four side
// neighbours, centred on image pixel (cx, cy) (the centre cell's centroid).
struct Cross {
    Cross(double cx, double cy, uint32_t centreGrey, std::array<uint32_t, 4> armGreys) {
        BoardLayout layout;
        layout.cellPixels = 10.0;
        layout.originX = cx + 5.0;
        layout.originY = cy - 5.0;
        mesh = std::make_unique<BoardMesh>(layout, 0, 0, 0, 0);
        const int arms[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (int i = 0; i < 4; ++i) mesh->addCell(arms[i][0], arms[i][1], 0)->meanGrey = armGreys[i];
        centre()->meanGrey = centreGrey;
    }
    GridElement* centre() { return mesh->cell(0, 0); }
    std::unique_ptr<BoardMesh> mesh;
};

// A width x height image of `background` with the 5 x 5 window at (cx, cy)
// set to `window`.
cv::Mat windowImage(int width, int height, int cx, int cy, uint8_t background, uint8_t window) {
    cv::Mat image = makeFrameImage(width, height);
    image.setTo(background);
    for (int y = cy - 2; y <= cy + 2; ++y)
        for (int x = cx - 2; x <= cx + 2; ++x)
            if (x >= 0 && y >= 0 && x < width && y < height) image.at<uint8_t>(y, x) = window;
    return image;
}

int classify(const cv::Mat& image, GridElement* cell) {
    return classifyMarkerCell(image.data, image.cols, image.rows, static_cast<int>(image.step[0]), 8, cell);
}

TEST(ClassifyMarkerCell, DarkCellWithBrightCentreAgainstNeighbourMean) {
    Cross cross(30, 30, 40, {200, 210, 190, 220});  // neighbour mean 205
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 40, 150), cross.centre()), kMarkerDarkCell);
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 40, 100), cross.centre()), kNotAMarker);
    // Strict: a centre exactly at the cell's own grey is no spot.
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 40, 40), cross.centre()), kNotAMarker);
    // A centre brighter than every neighbour is a spot whatever the distances.
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 40, 230), cross.centre()), kMarkerDarkCell);
}

TEST(ClassifyMarkerCell, BrightCellWithDarkCentre) {
    Cross cross(30, 30, 200, {40, 30, 50, 40});  // neighbour mean 40
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 200, 60), cross.centre()), kMarkerBrightCell);
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 200, 130), cross.centre()), kNotAMarker);
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 200, 200), cross.centre()), kNotAMarker);
    EXPECT_EQ(classify(windowImage(64, 64, 30, 30, 200, 20), cross.centre()), kMarkerBrightCell);
}

TEST(ClassifyMarkerCell, MixedOrMissingNeighboursAndBadImagesAreNoMarkers) {
    Cross mixed(30, 30, 100, {200, 50, 200, 200});
    const cv::Mat image = windowImage(64, 64, 30, 30, 100, 220);
    EXPECT_EQ(classify(image, mixed.centre()), kNotAMarker);

    BoardMesh lone(BoardLayout{}, 0, 0, 0, 0);
    EXPECT_EQ(classify(image, lone.cell(0, 0)), kNotAMarker);

    Cross good(30, 30, 40, {200, 200, 200, 200});
    const cv::Mat spot = windowImage(64, 64, 30, 30, 40, 200);
    ASSERT_EQ(classify(spot, good.centre()), kMarkerDarkCell);
    EXPECT_EQ(classifyMarkerCell(nullptr, 64, 64, 64, 8, good.centre()), kNotAMarker);
    EXPECT_EQ(classifyMarkerCell(spot.data, 0, 64, 64, 8, good.centre()), kNotAMarker);
    EXPECT_EQ(classifyMarkerCell(spot.data, 64, 0, 64, 8, good.centre()), kNotAMarker);
    EXPECT_EQ(classifyMarkerCell(spot.data, 64, 64, 64, 0, good.centre()), kNotAMarker);
    EXPECT_EQ(classifyMarkerCell(spot.data, 64, 64, 64, 8, nullptr), kNotAMarker);
}

// Centroid at (1, 1): the window keeps its 4 x 4 pixels inside the image.
// Those read 130, so the centre mean is 130 (205 - 130 < 130 - 40); a mean
// taken over 25 pixels would not give a spot.
TEST(ClassifyMarkerCell, WindowIsClippedAtTheBorder) {
    Cross cross(1, 1, 40, {200, 210, 190, 220});
    cv::Mat image = makeFrameImage(32, 32);
    image.setTo(40);
    image(cv::Rect(0, 0, 4, 4)).setTo(130);
    EXPECT_EQ(classify(image, cross.centre()), kMarkerDarkCell);
    Cross corner(31, 31, 40, {200, 210, 190, 220});
    image.setTo(40);
    image(cv::Rect(29, 29, 3, 3)).setTo(130);
    EXPECT_EQ(classify(image, corner.centre()), kMarkerDarkCell);
    Cross outside(-50, 10, 40, {200, 210, 190, 220});
    EXPECT_EQ(classify(image, outside.centre()), kNotAMarker);  // empty window: mean 0
}

// Rows are read at the row step: a 30-pixel-wide view into a 100-byte-row
// image. Reading with the width as the step would land on the dark bytes
// beyond the view instead of the spot.
TEST(ClassifyMarkerCell, RowsAreReadAtTheRowStep) {
    cv::Mat wide(40, 100, CV_8UC1, cv::Scalar(40));
    cv::Mat view = wide(cv::Rect(0, 0, 30, 40));
    view.setTo(40);
    view(cv::Rect(13, 18, 5, 5)).setTo(210);
    ASSERT_EQ(view.step[0], 100u);
    Cross cross(15, 20, 40, {200, 210, 190, 220});
    EXPECT_EQ(classify(view, cross.centre()), kMarkerDarkCell);
    EXPECT_EQ(classifyMarkerCell(view.data, view.cols, view.rows, view.cols, 8, cross.centre()), kNotAMarker);
}

// Several independent crosses in one frame's grid part, each centre a
// chosen marker class; the part's element order is the order of `classes`.
struct MarkerFrame {
    explicit MarkerFrame(const std::vector<int>& classes) {
        set.allocate(1, 200);
        image = makeFrameImage(40 * static_cast<int>(classes.size()) + 40, 60);
        image.setTo(128);
        for (size_t i = 0; i < classes.size(); ++i) {
            const int cx = 40 * static_cast<int>(i) + 30;
            const int cy = 30;
            const bool dark = classes[i] == kMarkerDarkCell;
            const uint32_t own = dark ? 40 : 200;
            const uint32_t arm = dark ? 200 : 40;
            const uint8_t window = classes[i] < 0 ? static_cast<uint8_t>(own) : static_cast<uint8_t>(arm);
            image(cv::Rect(cx - 2, cy - 2, 5, 5)).setTo(window);
            auto* centre = addCell(cx - 5, cy - 5, own);
            centres.push_back(centre);
        }
        for (size_t i = 0; i < classes.size(); ++i) {
            const int cx = 40 * static_cast<int>(i) + 30;
            const bool dark = classes[i] == kMarkerDarkCell;
            const uint32_t arm = dark ? 200 : 40;
            const int offsets[4][2] = {{10, 0}, {-10, 0}, {0, 10}, {0, -10}};
            for (const auto& o : offsets) {
                // Each arm's own centre window shows its own grey: no marker.
                image(cv::Rect(cx + o[0] - 2, 30 + o[1] - 2, 5, 5)).setTo(static_cast<uint8_t>(arm));
                addCell(cx + o[0] - 5, 30 + o[1] - 5, arm);
            }
        }
    }

    // A 10 x 10 square cell with top-left (x, y), sharing nodes at equal positions.
    GridElement* addCell(int x, int y, uint32_t grey) {
        const int corners[4][2] = {{x, y}, {x + 10, y}, {x + 10, y + 10}, {x, y + 10}};
        auto* cell = new GridElement();
        for (const auto& c : corners) cell->addNode(node(c[0], c[1]));
        cell->meanGrey = grey;
        set.frames[0].gridPart->addElement(cell);
        return cell;
    }

    g_node* node(int x, int y) {
        auto it = nodes.find({x, y});
        if (it != nodes.end()) return it->second;
        auto* n = new g_node(g_vector(x, y, 0));
        set.frames[0].gridPart->addNode(n);
        nodes[{x, y}] = n;
        return n;
    }

    std::array<GridElement*, 3> slots() {
        std::array<GridElement*, 3> s{};
        findMarkerCells(set, 0, image, s.data(), 3);
        return s;
    }

    GridSet set;
    cv::Mat image;
    std::vector<GridElement*> centres;
    std::map<std::pair<int, int>, g_node*> nodes;
};

TEST(FindMarkerCells, FillsSlotsInCellOrder) {
    {
        MarkerFrame frame({0, 0, 1});
        const auto s = frame.slots();
        EXPECT_EQ(s[0], frame.centres[0]);
        EXPECT_EQ(s[1], frame.centres[1]);
        EXPECT_EQ(s[2], frame.centres[2]);
    }
    {
        MarkerFrame frame({0, 1, 0, -1, 1});  // the last marker finds no slot
        const auto s = frame.slots();
        EXPECT_EQ(s[0], frame.centres[0]);
        EXPECT_EQ(s[1], frame.centres[1]);
        EXPECT_EQ(s[2], frame.centres[2]);
        std::vector<FoundMarker> found;
        std::array<GridElement*, 3> again{};
        findMarkerCells(frame.set, 0, frame.image, again.data(), 3, &found);
        ASSERT_EQ(found.size(), 4u);  // every marker is reported, slotted or not
        EXPECT_EQ(found[3].cell, frame.centres[4]);
        EXPECT_EQ(found[3].markerClass, 1);
    }
    {
        MarkerFrame frame({1, 1, 1, 0});  // slot 0 waits for a class 0 cell
        const auto s = frame.slots();
        EXPECT_EQ(s[0], frame.centres[3]);
        EXPECT_EQ(s[1], frame.centres[0]);
        EXPECT_EQ(s[2], frame.centres[1]);
    }
    {
        MarkerFrame frame({-1, -1});
        std::array<GridElement*, 3> s{frame.centres[0], frame.centres[1], frame.centres[0]};
        findMarkerCells(frame.set, 0, frame.image, s.data(), 3);
        EXPECT_EQ(s, (std::array<GridElement*, 3>{}));  // emptied first
    }
}

// The printed board with its three markers, as the grid part of frame 0.
struct BoardFrame {
    // The corners lie off whole pixels by `offset`, as refined corners do:
    // corners still at even whole pixels are the corner search's unrefined
    // starts, which are not output.
    explicit BoardFrame(int turns, std::vector<PaintedSpot> extraSpots = {}, bool extraCellsFirst = false,
                        double offset = 0.25)
        : layout{turns, 20.0, 320.0 + offset, 240.0 + offset} {
        set.allocate(1, 200);
        mesh = std::make_unique<BoardMesh>(layout, -5, 5, -5, 6);
        // Hand the mesh's cells to the frame's grid part in mesh order,
        // optionally with the cells carrying extra spots first.
        std::vector<GridElement*> order;
        for (const PaintedSpot& spot : extraSpots)
            if (extraCellsFirst) order.push_back(mesh->cell(spot.cellX, spot.cellY));
        for (uint32_t i = 0; i < mesh->cells().numberOfItems(); ++i) {
            auto* cell = static_cast<GridElement*>(mesh->cells().item(i));
            if (std::find(order.begin(), order.end(), cell) == order.end()) order.push_back(cell);
        }
        g_element* dropped = nullptr;
        while (mesh->cells().removeFirst(dropped)) {
        }
        for (GridElement* cell : order) set.frames[0].gridPart->addElement(cell);
        std::vector<PaintedSpot> spots{{0, 3, 40}, {0, 0, 200}, {1, 1, 200}};
        spots.insert(spots.end(), extraSpots.begin(), extraSpots.end());
        image = vexel::test::paintBoard(layout, 640, 480, -5, 5, -5, 6, spots);
        for (GridElement* cell : order) {
            if (cell == mesh->cell(0, 3)) cell->meanGrey = 150;
            if (cell == mesh->cell(0, 0) || cell == mesh->cell(1, 1)) cell->meanGrey = 90;
        }
        for (const PaintedSpot& spot : extraSpots) mesh->cell(spot.cellX, spot.cellY)->meanGrey = 90;
    }

    BoardLayout layout;
    GridSet set;
    std::unique_ptr<BoardMesh> mesh;  // owns the nodes; the grid part owns the cells
    cv::Mat image;
};

TEST(LabelFrameGrid, StoresEveryCornerWithItsPatternPosition) {
    for (int turns = 0; turns < 4; ++turns) {
        SCOPED_TRACE(turns);
        BoardFrame frame(turns);
        std::array<GridElement*, 3> markers{};
        std::string rejected = "stale";
        EXPECT_TRUE(labelFrameGrid(frame.set, 0, frame.image, &markers, &rejected));
        EXPECT_EQ(rejected, "");
        EXPECT_EQ(markers[0], frame.mesh->cell(0, 3));
        EXPECT_NE(markers[1], nullptr);
        ASSERT_EQ(frame.set.getPointCount(0), 110);
        std::set<std::pair<int, int>> seen;
        for (int k = 0; k < 110; ++k) {
            GridPoint at{};
            GridPoint on{};
            ASSERT_TRUE(frame.set.getImagePoint(0, k, at));
            ASSERT_TRUE(frame.set.getPatternPoint(0, k, on));
            // The painted edges lie half a pixel from the mesh's nodes; the
            // last check may move a corner onto them.
            const cv::Point2d truth = vexel::test::imageToPattern(frame.layout, at.x, at.y);
            EXPECT_NEAR(on.x, truth.x, 0.6 / frame.layout.cellPixels);
            EXPECT_NEAR(on.y, truth.y, 0.6 / frame.layout.cellPixels);
            seen.insert({static_cast<int>(on.x), static_cast<int>(on.y)});
        }
        EXPECT_EQ(seen.size(), 110u);
    }
}

// A false class 1 marker in the origin's row, met before the real ones,
// takes slot 1 and turns every label; the marker check refuses the frame.
TEST(LabelFrameGrid, FalseMarkerRejectsTheFrame) {
    BoardFrame frame(0, {{1, 3, 200}}, /*extraCellsFirst=*/true);
    std::array<GridElement*, 3> markers{};
    std::string rejected;
    EXPECT_FALSE(labelFrameGrid(frame.set, 0, frame.image, &markers, &rejected));
    EXPECT_EQ(markers[1], frame.mesh->cell(1, 3));
    EXPECT_NE(rejected, "");
    EXPECT_EQ(frame.set.getPointCount(0), 0);
    for (int i = 0; i < frame.set.getCellCount(0); ++i) EXPECT_EQ(frame.set.getCell(0, i)->inGrid, 0) << i;
}

// The same false marker met after the real ones finds no slot; it sits in
// the window at a cell without a marker, so the frame is refused all the same.
TEST(LabelFrameGrid, FalseMarkerInWindowIsRefusedEvenWithoutSlot) {
    BoardFrame frame(2, {{1, 3, 200}}, /*extraCellsFirst=*/false);
    std::string rejected;
    EXPECT_FALSE(labelFrameGrid(frame.set, 0, frame.image, nullptr, &rejected));
    EXPECT_NE(rejected, "");
    EXPECT_EQ(frame.set.getPointCount(0), 0);
}

// A corner the refinement gave up on (still at the even whole pixels the
// search found it at) is left out; refined corners stay.
TEST(LabelFrameGrid, CornersLeftUnrefinedAreNotOutput) {
    EXPECT_TRUE(unrefinedStart(320.0, 240.0));
    EXPECT_TRUE(unrefinedStart(0.0, -18.0));
    EXPECT_FALSE(unrefinedStart(321.0, 240.0));
    EXPECT_FALSE(unrefinedStart(320.0, 240.5));
    EXPECT_FALSE(unrefinedStart(320.0001, 240.0));

    // A board whose every corner is at even whole pixels gives nothing.
    BoardFrame frame(0, {}, false, 0.0);
    EXPECT_FALSE(labelFrameGrid(frame.set, 0, frame.image));
    EXPECT_EQ(frame.set.getPointCount(0), 0);
}

// A spot on a ring cell outside the window is not checked.
TEST(LabelFrameGrid, MarkerOutsideWindowPasses) {
    BoardFrame frame(1, {{5, 1, 200}});
    std::string rejected;
    EXPECT_TRUE(labelFrameGrid(frame.set, 0, frame.image, nullptr, &rejected));
    EXPECT_EQ(rejected, "");
    EXPECT_EQ(frame.set.getPointCount(0), 110);
}

TEST(LabelFrameGrid, NoMarkersGiveZeroAndGuardsWriteNothing) {
    BoardFrame frame(0);
    cv::Mat plain = vexel::test::paintBoard(frame.layout, 640, 480, -5, 5, -5, 6, {});
    EXPECT_FALSE(labelFrameGrid(frame.set, 0, plain));
    EXPECT_EQ(frame.set.getPointCount(0), 0);

    BoardFrame other(0);
    EXPECT_FALSE(labelFrameGrid(other.set, 1, other.image));
    EXPECT_FALSE(labelFrameGrid(other.set, -1, other.image));
    EXPECT_FALSE(labelFrameGrid(other.set, 0, cv::Mat()));
    cv::Mat wide;
    other.image.convertTo(wide, CV_16U);
    EXPECT_FALSE(labelFrameGrid(other.set, 0, wide));
    EXPECT_EQ(other.set.getPointCount(0), 200);
}

}  // namespace

namespace {

// Corner lists for the lattice check.
struct Lattice {
    void add(int i, int j, cv::Point2d at) { points.push_back({i, j, cv::Point2f(at)}); }
    std::vector<LabelledPoint> points;
};

// A steep perspective view of the corner block with barrel distortion.
cv::Point2d steepView(int i, int j) {
    const double w = 1.0 + 0.045 * i;  // depth grows along x: about 50 degrees of tilt
    double x = 14.0 * i / w;
    double y = -14.0 * j / w;
    const double r2 = (x * x + y * y) / (300.0 * 300.0);
    x *= 1.0 - 0.18 * r2;
    y *= 1.0 - 0.18 * r2;
    return {320.0 + x, 240.0 + y};
}

TEST(LatticeCheck, AcceptsPerspectiveAndRefusesShiftedCorners) {
    {
        Lattice lattice;
        for (int j = -5; j <= 5; ++j)
            for (int i = -5; i <= 4; ++i) lattice.add(i, j, steepView(i, j));
        EXPECT_EQ(latticeReason(lattice.points), "");
    }
    {
        // A corner carrying its neighbour's position, as when a cell merged
        // from two board cells shifts the labels by one.
        Lattice lattice;
        for (int j = -5; j <= 5; ++j)
            for (int i = -5; i <= 4; ++i) lattice.add(i, j, steepView(i == 2 && j == 1 ? 3 : i, j));
        EXPECT_NE(latticeReason(lattice.points), "");
    }
    {
        // Corners with fewer than two neighbours in any line are not judged.
        Lattice lattice;
        lattice.add(0, 0, {10, 10});
        lattice.add(1, 0, {500, 3});
        lattice.add(0, 1, {7, 300});
        EXPECT_EQ(latticeReason(lattice.points), "");
    }
}

}  // namespace
