#include "grid/grid_cells.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "grid/corner_mesh.h"
#include "grid/frame_image.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"
#include "support/frame_vectors.h"

namespace {

// 0-based node positions of an element, from the 1-based node ids.
std::vector<int> nodePositions(g_element* element) {
    std::vector<int> positions;
    for (uint32_t k = 0; k < element->nodes().numberOfItems(); ++k)
        positions.push_back(element->getNode(k)->getId() - 1);
    return positions;
}

// Every element registered at a node of the part is one of the part's own
// elements: nothing refers to a destroyed candidate.
void expectNodesReferOnlyToPartElements(g_part& part) {
    for (uint32_t n = 0; n < part.nodes().numberOfItems(); ++n) {
        g_container<g_element*>& registered = part.nodes().item(n)->elements();
        for (uint32_t k = 0; k < registered.numberOfItems(); ++k)
            EXPECT_TRUE(part.elements().memberOf(registered.item(k))) << "node " << n;
    }
}

class VectorFrameCells : public ::testing::TestWithParam<std::string> {};

TEST_P(VectorFrameCells, MatchesReferenceFromExpectedCorners) {
    const std::string name = GetParam();
    const nlohmann::json expected = vexel::test::loadExpected(name);
    const cv::Mat image = vexel::test::loadFrameImage(name);

    GridSet set;
    std::ostringstream diagnostics;
    vexel::test::triangulateExpectedCorners(set, expected, diagnostics);

    const int candidates = buildGridCells(set, 0, image);
    EXPECT_EQ(candidates, expected.at("candidateCount").get<int>());
    EXPECT_TRUE(set.pendingElements.isEmpty());

    g_part& triangles = *set.frames[0].trianglePart;
    const nlohmann::json& expectedTriangles = expected.at("triangles");
    ASSERT_EQ(triangles.elements().numberOfItems(), expectedTriangles.size());
    for (uint32_t i = 0; i < triangles.elements().numberOfItems(); ++i) {
        auto* triangle = static_cast<GridElement*>(triangles.elements().item(i));
        const nlohmann::json& want = expectedTriangles[i];
        ASSERT_EQ(nodePositions(triangle), want.at("nodes").get<std::vector<int>>()) << "triangle " << i;
        EXPECT_EQ(triangle->meanGrey, want.at("meanGrey").get<uint32_t>()) << "triangle " << i;
        EXPECT_EQ(triangle->inGrid, want.at("inGrid").get<int>()) << "triangle " << i;
    }

    g_part& grid = *set.frames[0].gridPart;
    const nlohmann::json& expectedCells = expected.at("cells");
    ASSERT_EQ(set.getCellCount(0), static_cast<int>(expectedCells.size()));
    for (int i = 0; i < set.getCellCount(0); ++i) {
        GridElement* cell = set.getCell(0, i);
        EXPECT_EQ(cell->getId(), i + 1);
        EXPECT_EQ(nodePositions(cell), expectedCells[i].at("nodes").get<std::vector<int>>()) << "cell " << i;
        EXPECT_EQ(cell->meanGrey, expectedCells[i].at("meanGrey").get<uint32_t>()) << "cell " << i;
        EXPECT_EQ(cell->inGrid, 0) << "cell " << i;
        EXPECT_EQ(cell->gridX, NO_LABEL) << "cell " << i;
    }
    expectNodesReferOnlyToPartElements(grid);
}

INSTANTIATE_TEST_SUITE_P(Frames, VectorFrameCells, ::testing::ValuesIn(vexel::test::vectorFrameNames()));

TEST(BuildGridCells, MissingFrameOrImageChangesNothing) {
    GridSet set;
    const cv::Mat image = makeFrameImage(64, 48);
    EXPECT_EQ(buildGridCells(set, 0, image), 0);  // nothing allocated

    set.allocate(2, 10);
    EXPECT_EQ(buildGridCells(set, -1, image), 0);
    EXPECT_EQ(buildGridCells(set, 2, image), 0);
    EXPECT_EQ(buildGridCells(set, 0, cv::Mat()), 0);
    EXPECT_EQ(set.getCellCount(0), 0);
    EXPECT_TRUE(set.pendingElements.isEmpty());
}

TEST(BuildGridCells, FrameWithoutTrianglesGetsNoCells) {
    GridSet set;
    set.allocate(1, 10);
    set.frames[0].pointCount = 0;
    std::ostringstream diagnostics;
    triangulateCorners(set, 0, diagnostics);
    EXPECT_EQ(buildGridCells(set, 0, makeFrameImage(64, 48)), 0);
    EXPECT_EQ(set.getCellCount(0), 0);
    EXPECT_TRUE(set.pendingElements.isEmpty());
}

}  // namespace
