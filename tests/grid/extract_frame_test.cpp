#include "grid/extract_frame.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "geomlib/g_part.h"
#include "grid/corner_mesh.h"
#include "grid/grid_cells.h"
#include "grid/marker_cells.h"
#include "support/frame_vectors.h"

namespace {

using nlohmann::json;

int positionInPart(g_part& part, g_element* element) {
    uint32_t position = 0;
    return part.elements().find(element, position) ? static_cast<int>(position) : -1;
}

json nodeList(g_element* element) {
    json nodes = json::array();
    for (uint32_t i = 0; i < element->nodes().numberOfItems(); ++i) nodes.push_back(element->getNode(i)->getId() - 1);
    return nodes;
}

// The stages after corner detection, run from the reference's own corners,
// must reproduce its triangles, cells, labels, markers and correspondences
// exactly.
class VectorFrame : public testing::TestWithParam<std::string> {};

TEST_P(VectorFrame, LaterStagesMatchReferenceExactly) {
    const json expected = vexel::test::loadExpected(GetParam());
    const cv::Mat image = vexel::test::loadFrameImage(GetParam());
    ASSERT_EQ(image.cols, expected.at("width").get<int>());
    ASSERT_EQ(image.rows, expected.at("height").get<int>());

    GridSet set;
    std::ostringstream diag;
    vexel::test::triangulateExpectedCorners(set, expected, diag);
    const int candidates = buildGridCells(set, 0, image);
    std::array<GridElement*, 3> markers{};
    std::string rejected;
    labelFrameGrid(set, 0, image, &markers, &rejected);

    EXPECT_EQ(candidates, expected.at("candidateCount").get<int>());
    EXPECT_EQ(rejected, "");

    g_part& triangles = *set.frames[0].trianglePart;
    const json& expectedTriangles = expected.at("triangles");
    ASSERT_EQ(triangles.elements().numberOfItems(), expectedTriangles.size());
    for (uint32_t i = 0; i < expectedTriangles.size(); ++i) {
        auto* t = static_cast<GridElement*>(triangles.elements().item(i));
        const json& want = expectedTriangles[i];
        EXPECT_EQ(nodeList(t), want.at("nodes")) << "triangle " << i;
        EXPECT_EQ(t->meanGrey, want.at("meanGrey").get<uint32_t>()) << "triangle " << i;
        EXPECT_EQ(t->inGrid, want.at("inGrid").get<int>()) << "triangle " << i;
    }

    g_part& grid = *set.frames[0].gridPart;
    const json& expectedCells = expected.at("cells");
    ASSERT_EQ(grid.elements().numberOfItems(), expectedCells.size());
    for (uint32_t i = 0; i < expectedCells.size(); ++i) {
        auto* c = static_cast<GridElement*>(grid.elements().item(i));
        const json& want = expectedCells[i];
        const json got = {{"nodes", nodeList(c)},   {"meanGrey", c->meanGrey}, {"inGrid", c->inGrid},
                          {"labelled", c->labelled}, {"gridX", c->gridX},       {"gridY", c->gridY}};
        EXPECT_EQ(got, want) << "cell " << i;
    }

    const json& expectedMarkers = expected.at("markers");
    ASSERT_EQ(expectedMarkers.size(), 3u);
    for (int j = 0; j < 3; ++j) {
        const int want = expectedMarkers[j].is_null() ? -1 : expectedMarkers[j].get<int>();
        const int got = markers[j] == nullptr ? -1 : positionInPart(grid, markers[j]);
        EXPECT_EQ(got, want) << "marker slot " << j;
    }

    const json& expectedPoints = expected.at("correspondences");
    ASSERT_EQ(set.getPointCount(0), static_cast<int>(expectedPoints.size()));
    for (int k = 0; k < set.getPointCount(0); ++k) {
        GridPoint imagePoint{};
        GridPoint patternPoint{};
        ASSERT_TRUE(set.getImagePoint(0, k, imagePoint));
        ASSERT_TRUE(set.getPatternPoint(0, k, patternPoint));
        const json& want = expectedPoints[k];
        EXPECT_EQ(imagePoint.x, static_cast<float>(want[0].get<double>())) << "correspondence " << k;
        EXPECT_EQ(imagePoint.y, static_cast<float>(want[1].get<double>())) << "correspondence " << k;
        EXPECT_EQ(patternPoint.x, static_cast<float>(want[2].get<double>())) << "correspondence " << k;
        EXPECT_EQ(patternPoint.y, static_cast<float>(want[3].get<double>())) << "correspondence " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, VectorFrame, testing::ValuesIn(vexel::test::vectorFrameNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

// The whole extraction on a reference frame: the trace shows the detected
// corners, the candidates and the marker slots, the diagnostics go where
// they are sent, and the correspondences all lie near the true corners.
TEST(ExtractFrame, RunsAllStagesOnReferenceFrame) {
    const json expected = vexel::test::loadExpected("frontal");
    const json truth = vexel::test::loadTruth("frontal");
    const cv::Mat image = vexel::test::loadFrameImage("frontal");
    GridSet set;
    set.allocate(2, 200);
    ExtractTrace trace;
    std::ostringstream diag;
    std::ostringstream errors;
    extractFrame(set, 1, image, &trace, &diag, &errors);

    EXPECT_EQ(errors.str(), "");
    EXPECT_EQ(trace.rejected, "");
    EXPECT_NE(diag.str(), "");
    EXPECT_EQ(trace.corners.size(), expected.at("corners").size());
    EXPECT_GT(trace.candidateCount, 0);
    ASSERT_NE(trace.markers[0], nullptr);
    EXPECT_EQ(trace.markers[0]->gridX, 0);
    EXPECT_EQ(trace.markers[0]->gridY, 3);
    EXPECT_EQ(set.getPointCount(0), 200);  // the other frame is not touched
    const int n = set.getPointCount(1);
    EXPECT_GE(n, 100);
    for (int k = 0; k < n; ++k) {
        GridPoint at{};
        GridPoint on{};
        set.getImagePoint(1, k, at);
        set.getPatternPoint(1, k, on);
        bool found = false;
        for (const json& corner : truth.at("corners")) {
            if (corner[0].get<double>() != on.x || corner[1].get<double>() != on.y) continue;
            found = true;
            EXPECT_NEAR(at.x, corner[2].get<double>(), 0.5) << k;
            EXPECT_NEAR(at.y, corner[3].get<double>(), 0.5) << k;
        }
        EXPECT_TRUE(found) << k;
    }
}

TEST(ExtractFrame, DoesNothingWithoutRecordOrImage) {
    const cv::Mat image = vexel::test::loadFrameImage("frontal");
    GridSet released;
    released.allocate(1, 200);
    released.release();
    std::ostringstream diag;
    std::ostringstream errors;
    ExtractTrace trace;
    extractFrame(released, 0, image, &trace, &diag, &errors);
    EXPECT_EQ(released.getTotalPointCount(), 0);
    EXPECT_TRUE(trace.corners.empty());

    GridSet set;
    set.allocate(1, 200);
    extractFrame(set, 1, image, &trace, &diag, &errors);
    extractFrame(set, -1, image, &trace, &diag, &errors);
    extractFrame(set, 0, cv::Mat(), &trace, &diag, &errors);
    EXPECT_EQ(set.getPointCount(0), 200);
    EXPECT_EQ(set.frames[0].gridPart->nodes().numberOfItems(), 0u);
    EXPECT_EQ(diag.str(), "");
    EXPECT_EQ(errors.str(), "");
}

// A blank frame: no corners, no cells, nothing labelled; null streams are fine.
TEST(ExtractFrame, BlankFrameGivesNoPoints) {
    cv::Mat image = makeFrameImage(160, 120);
    image.setTo(128);
    GridSet set;
    set.allocate(1, 200);
    extractFrame(set, 0, image, nullptr, nullptr, nullptr);
    EXPECT_EQ(set.getPointCount(0), 0);
    EXPECT_EQ(set.getCellCount(0), 0);
}

}  // namespace
