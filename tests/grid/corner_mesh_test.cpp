#include "grid/corner_mesh.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "geomlib/fatal_error.h"
#include "geomlib/g_node.h"
#include "grid/nnsort.h"
#include "support/frame_vectors.h"

namespace {

std::vector<std::vector<int>> triangleNodeLists(g_part& part) {
    std::vector<std::vector<int>> lists;
    for (uint32_t i = 0; i < part.elements().numberOfItems(); ++i) {
        g_element* e = part.elements().item(i);
        std::vector<int> nodes;
        for (uint32_t k = 0; k < e->nodes().numberOfItems(); ++k) nodes.push_back(e->getNode(k)->getId() - 1);
        lists.push_back(nodes);
    }
    return lists;
}

void setCorners(GridSet& set, int frame, const std::vector<GridPoint>& corners) {
    for (size_t k = 0; k < corners.size(); ++k) set.frames[frame].imagePoints[k] = corners[k];
    set.frames[frame].pointCount = static_cast<int>(corners.size());
}

TEST(CornerMesh, VectorFramesGiveTheReferenceTriangles) {
    for (const std::string& name : vexel::test::vectorFrameNames()) {
        SCOPED_TRACE(name);
        const nlohmann::json expected = vexel::test::loadExpected(name);
        GridSet set;
        std::ostringstream diag;
        vexel::test::triangulateExpectedCorners(set, expected, diag);

        g_part& triangles = *set.frames[0].trianglePart;
        EXPECT_EQ(triangleNodeLists(triangles), vexel::test::expectedNodeLists(expected, "triangles"));
        for (uint32_t i = 0; i < triangles.elements().numberOfItems(); ++i) {
            g_element* e = triangles.elements().item(i);
            EXPECT_EQ(e->getId(), static_cast<int>(i) + 1);
            for (uint32_t k = 0; k < 3; ++k) EXPECT_TRUE(e->getNode(k)->elements().memberOf(e));
        }
        EXPECT_NE(diag.str().find("\nBGS*EPS is <"), std::string::npos);
    }
}

TEST(CornerMesh, BuildsTwoIndependentNodeSets) {
    GridSet set;
    set.allocate(2, 200);
    setCorners(set, 1, {{10.25f, 20.5f}, {60.0f, 22.0f}, {30.0f, 70.0f}, {80.0f, 75.0f}});
    std::ostringstream diag;
    triangulateCorners(set, 1, diag);

    g_part& triangles = *set.frames[1].trianglePart;
    g_part& grid = *set.frames[1].gridPart;
    ASSERT_EQ(triangles.nodes().numberOfItems(), 4u);
    ASSERT_EQ(grid.nodes().numberOfItems(), 4u);
    EXPECT_EQ(triangles.elements().numberOfItems(), 2u);
    EXPECT_EQ(grid.elements().numberOfItems(), 0u);
    for (int id = 1; id <= 4; ++id) {
        g_node* t = triangles.getNode(id);
        g_node* g = grid.getNode(id);
        EXPECT_NE(t, g);
        EXPECT_EQ(g->getId(), id);
        EXPECT_EQ(g->elements().numberOfItems(), 0u);
        const GridPoint& slot = set.frames[1].imagePoints[id - 1];
        for (g_node* node : {t, g}) {
            EXPECT_EQ(node->getCoordinates().x, static_cast<double>(slot.x));
            EXPECT_EQ(node->getCoordinates().y, static_cast<double>(slot.y));
            EXPECT_EQ(node->getCoordinates().z, 0.0);
        }
    }
    EXPECT_EQ(set.frames[0].trianglePart->nodes().numberOfItems(), 0u);
}

TEST(CornerMesh, EmptyCollinearAndMissingFrames) {
    GridSet set;
    set.allocate(2, 200);
    set.frames[0].pointCount = 0;
    std::ostringstream diag;
    triangulateCorners(set, 0, diag);
    EXPECT_EQ(set.frames[0].trianglePart->nodes().numberOfItems(), 0u);
    EXPECT_EQ(set.frames[0].gridPart->nodes().numberOfItems(), 0u);
    EXPECT_EQ(diag.str(), "\nBGS is <0.000000e+00>\nBGS*EPS is <0.000000e+00>");

    setCorners(set, 1, {{1, 1}, {2, 2}, {3, 3}});
    triangulateCorners(set, 1, diag);
    EXPECT_EQ(set.frames[1].trianglePart->nodes().numberOfItems(), 3u);
    EXPECT_EQ(set.frames[1].gridPart->nodes().numberOfItems(), 3u);
    EXPECT_EQ(set.frames[1].trianglePart->elements().numberOfItems(), 0u);

    // Out of range or unallocated: nothing happens, nothing is printed.
    std::ostringstream quiet;
    triangulateCorners(set, -1, quiet);
    triangulateCorners(set, 2, quiet);
    GridSet empty;
    triangulateCorners(empty, 0, quiet);
    EXPECT_EQ(quiet.str(), "");
}

TEST(CornerMesh, CountBeyondTheSlotsReadsOnlyTheFramesOwnSlots) {
    GridSet set;
    set.allocate(2, 5);
    set.frames[0].pointCount = 9;   // corrupt: more than maxPoints
    set.frames[1].pointCount = 50;  // last frame: beyond the end of the slot array
    std::ostringstream diag;
    triangulateCorners(set, 0, diag);
    triangulateCorners(set, 1, diag);
    EXPECT_EQ(set.frames[0].trianglePart->nodes().numberOfItems(), 5u);
    EXPECT_EQ(set.frames[1].trianglePart->nodes().numberOfItems(), 5u);
}

TEST(MakeTriangle, RegistersNodesInOrderWithoutAddingToThePart) {
    g_part part;
    for (int i = 0; i < 4; ++i) part.addNode(new g_node(g_vector(i, i * i, 0)));
    GridElement* t = makeTriangle(part, 3, 0, 2);
    EXPECT_EQ(t->getNode(0), part.getNode(4));
    EXPECT_EQ(t->getNode(1), part.getNode(1));
    EXPECT_EQ(t->getNode(2), part.getNode(3));
    EXPECT_TRUE(part.getNode(4)->elements().memberOf(t));
    EXPECT_EQ(part.elements().numberOfItems(), 0u);
    EXPECT_EQ(t->inGrid, 0);
    EXPECT_EQ(t->labelled, 0);
    EXPECT_EQ(t->meanGrey, 0u);
    EXPECT_EQ(t->gridX, NO_LABEL);
    EXPECT_EQ(t->gridY, NO_LABEL);
    part.addElement(t);
}

TEST(MakeTriangle, BadPositionsThrowAndLeaveNodesClean) {
    g_part part;
    part.addNode(new g_node(g_vector(0, 0, 0)));
    part.addNode(new g_node(g_vector(1, 0, 0)));
    EXPECT_THROW(makeTriangle(part, 0, 1, 2), Fatal_Error);
    EXPECT_THROW(makeTriangle(part, -1, 0, 1), Fatal_Error);
    part.addNode(new g_node(g_vector(0, 1, 0)));
    EXPECT_THROW(makeTriangle(part, 0, 1, 0), Fatal_Error);
    for (int id = 1; id <= 3; ++id) EXPECT_EQ(part.getNode(id)->elements().numberOfItems(), 0u);
}

TEST(FrameVectors, LoadsFrameImagesAsPaddedGrey) {
    const cv::Mat image = vexel::test::loadFrameImage("frontal");
    EXPECT_EQ(image.cols, 640);
    EXPECT_EQ(image.rows, 480);
    EXPECT_EQ(image.type(), CV_8UC1);
    EXPECT_EQ(image.step % 4, 0u);
}

}  // namespace
