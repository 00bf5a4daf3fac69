#include "grid/grid_set.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

struct LoggingNode : g_node {
    explicit LoggingNode(std::vector<char>* aLog) : log(aLog) {}
    ~LoggingNode() override { log->push_back('n'); }
    std::vector<char>* log;
};

struct LoggingCell : GridElement {
    explicit LoggingCell(std::vector<char>* aLog) : log(aLog) {}
    ~LoggingCell() override { log->push_back('e'); }
    std::vector<char>* log;
};

void expectNothingAnswered(const GridSet& set, int frame) {
    GridPoint out{7.0f, 7.0f};
    EXPECT_FALSE(set.hasFrame(frame));
    EXPECT_EQ(set.getPointCount(frame), 0);
    EXPECT_FALSE(set.getImagePoint(frame, 0, out));
    EXPECT_FALSE(set.getPatternPoint(frame, 0, out));
    EXPECT_EQ(set.getCellCount(frame), 0);
    EXPECT_EQ(set.getCell(frame, 0), nullptr);
    EXPECT_EQ(out.x, 7.0f);
}

TEST(GridElement, StartsUnlabelled) {
    GridElement cell;
    EXPECT_EQ(cell.inGrid, 0);
    EXPECT_EQ(cell.labelled, 0);
    EXPECT_EQ(cell.meanGrey, 0u);
    EXPECT_EQ(cell.gridX, NO_LABEL);
    EXPECT_EQ(cell.gridY, -1000000);
}

TEST(GridSet, NewSetIsEmpty) {
    GridSet set;
    EXPECT_EQ(set.maxPoints, 0);
    EXPECT_EQ(set.frameCount(), 0);
    EXPECT_TRUE(set.pendingElements.isEmpty());
    EXPECT_EQ(set.pendingElements.containerSize(), 9u);
    EXPECT_EQ(set.getTotalPointCount(), 0);
    expectNothingAnswered(set, 0);
}

TEST(GridSet, AllocateMakesZeroedRecords) {
    GridSet set;
    set.allocate(3, 200);
    EXPECT_EQ(set.frameCount(), 3);
    EXPECT_EQ(set.maxPoints, 200);
    for (int f = 0; f < 3; ++f) {
        const FrameGrid& record = set.frames[f];
        EXPECT_TRUE(set.hasFrame(f));
        EXPECT_EQ(record.pointCount, 200);
        ASSERT_EQ(record.imagePoints.size(), 200u);
        ASSERT_EQ(record.patternPoints.size(), 200u);
        for (size_t i = 0; i < 200; ++i) {
            EXPECT_EQ(record.imagePoints[i].x, 0.0f);
            EXPECT_EQ(record.patternPoints[i].y, 0.0f);
        }
        EXPECT_TRUE(record.trianglePart->nodes().isEmpty());
        EXPECT_TRUE(record.gridPart->elements().isEmpty());
        EXPECT_NE(record.trianglePart.get(), record.gridPart.get());
        EXPECT_FALSE(record.searched);
    }
    EXPECT_FALSE(set.hasFrame(-1));
    EXPECT_FALSE(set.hasFrame(3));
    EXPECT_EQ(set.getTotalPointCount(), 600);
    EXPECT_EQ(set.getPointCount(2), 200);
}

TEST(GridSet, NonPositiveSizesLeaveTheSetReleased) {
    GridSet set;
    set.allocate(2, 10);
    set.allocate(0, 200);
    EXPECT_EQ(set.getTotalPointCount(), 0);
    expectNothingAnswered(set, 0);

    for (auto [frames, points] : {std::pair{3, 0}, std::pair{-1, 5}, std::pair{4, -200}}) {
        set.allocate(frames, points);
        EXPECT_EQ(set.getTotalPointCount(), 0);
        expectNothingAnswered(set, 0);
    }
}

TEST(GridSet, SizesBeyondThirtyTwoBitPointTotalsAreRefused) {
    GridSet set;
    set.allocate(INT_MAX / 100 + 1, 100);
    EXPECT_TRUE(set.frames.empty());
    expectNothingAnswered(set, 0);
}

TEST(GridSet, PointQueriesHonourFrameAndCount) {
    GridSet set;
    set.allocate(2, 5);
    set.frames[0].pointCount = 0;
    set.frames[1].pointCount = 3;
    for (int k = 0; k < 5; ++k) {
        set.frames[1].imagePoints[k] = {10.0f + k, 20.0f + k};
        set.frames[1].patternPoints[k] = {-1.0f * k, 2.0f};
    }
    GridPoint out{};
    EXPECT_FALSE(set.getImagePoint(0, 0, out));  // frame 0 has no points
    ASSERT_TRUE(set.getImagePoint(1, 2, out));
    EXPECT_EQ(out.x, 12.0f);
    EXPECT_EQ(out.y, 22.0f);
    ASSERT_TRUE(set.getPatternPoint(1, 2, out));
    EXPECT_EQ(out.x, -2.0f);
    EXPECT_EQ(out.y, 2.0f);

    out = {99.0f, 99.0f};
    EXPECT_FALSE(set.getImagePoint(1, 3, out));  // index == pointCount
    EXPECT_FALSE(set.getImagePoint(1, -1, out));
    EXPECT_FALSE(set.getPatternPoint(1, 3, out));
    EXPECT_FALSE(set.getImagePoint(2, 0, out));
    EXPECT_FALSE(set.getImagePoint(-1, 0, out));
    EXPECT_EQ(out.x, 99.0f);

    EXPECT_EQ(set.getPointCount(0), 0);
    EXPECT_EQ(set.getPointCount(1), 3);
    EXPECT_EQ(set.getPointCount(2), 0);
    EXPECT_EQ(set.getPointCount(-1), 0);
    EXPECT_EQ(set.getTotalPointCount(), 3);
}

TEST(GridSet, CountAboveSlotsNeverReadsPastThem) {
    GridSet set;
    set.allocate(2, 4);
    set.frames[0].pointCount = 9;
    set.frames[1].pointCount = 9;
    GridPoint out{};
    EXPECT_TRUE(set.getImagePoint(0, 3, out));
    EXPECT_FALSE(set.getImagePoint(0, 4, out));
    EXPECT_FALSE(set.getImagePoint(1, 4, out));
}

TEST(GridSet, CellQueries) {
    GridSet set;
    set.allocate(2, 10);
    auto* first = new GridElement();
    auto* second = new GridElement();
    set.frames[1].gridPart->addElement(first);
    set.frames[1].gridPart->addElement(second);
    set.frames[0].trianglePart->addElement(new GridElement());

    EXPECT_EQ(set.getCellCount(0), 0);  // triangles are not cells
    EXPECT_EQ(set.getCellCount(1), 2);
    EXPECT_EQ(set.getCell(1, 0), first);
    EXPECT_EQ(set.getCell(1, 1), second);
    EXPECT_EQ(set.getCell(1, -1), nullptr);
    EXPECT_EQ(set.getCell(1, 2), nullptr);
    EXPECT_EQ(set.getCell(0, 0), nullptr);
    EXPECT_EQ(set.getCell(2, 0), nullptr);
    EXPECT_EQ(set.getCellCount(2), 0);

    // An element of another class is never handed out as a cell.
    set.frames[0].gridPart->addElement(new g_element());
    EXPECT_EQ(set.getCellCount(0), 1);
    EXPECT_EQ(set.getCell(0, 0), nullptr);
}

TEST(GridSet, ReleaseDeletesElementsThenNodesAndKeepsSizes) {
    std::vector<char> log;
    GridSet set;
    set.allocate(1, 10);
    for (g_part* part : {set.frames[0].trianglePart.get(), set.frames[0].gridPart.get()}) {
        auto* a = new LoggingNode(&log);
        auto* b = new LoggingNode(&log);
        auto* c = new LoggingNode(&log);
        part->addNode(a);
        part->addNode(b);
        part->addNode(c);
        auto* cell = new LoggingCell(&log);
        cell->addNode(a);
        cell->addNode(b);
        cell->addNode(c);
        part->addElement(cell);
    }
    GridElement pending;
    set.pendingElements.append(&pending);

    set.release();
    EXPECT_EQ(log, (std::vector<char>{'e', 'e', 'n', 'n', 'n', 'n', 'n', 'n'}));
    EXPECT_FALSE(set.frames[0].trianglePart);
    EXPECT_FALSE(set.frames[0].gridPart);
    EXPECT_EQ(set.frameCount(), 1);
    EXPECT_EQ(set.maxPoints, 10);
    EXPECT_EQ(set.pendingElements.numberOfItems(), 1u);
    expectNothingAnswered(set, 0);
    set.pendingElements.clear();
}

TEST(GridSet, ReallocateStartsOver) {
    GridSet set;
    set.allocate(2, 3);
    set.frames[1].pointCount = 1;
    set.frames[1].imagePoints[0] = {5.0f, 6.0f};
    set.frames[1].searched = true;
    set.frames[1].gridPart->addNode(new g_node());
    set.frames[1].gridPart->addElement(new GridElement());

    set.allocate(3, 3);
    EXPECT_EQ(set.frames[1].pointCount, 3);
    EXPECT_EQ(set.frames[1].imagePoints[0].x, 0.0f);
    EXPECT_FALSE(set.frames[1].searched);
    EXPECT_EQ(set.getCellCount(1), 0);
    EXPECT_TRUE(set.frames[1].gridPart->nodes().isEmpty());
    EXPECT_TRUE(set.hasFrame(2));
}

TEST(GridSet, ResizeKeepsTheRecordsBelowAndAddsAbsentOnes) {
    GridSet set;
    set.allocate(2, 4);
    set.frames[1].pointCount = 2;
    set.resize(4);
    EXPECT_TRUE(set.hasFrame(1));
    EXPECT_EQ(set.getPointCount(1), 2);
    expectNothingAnswered(set, 3);
    ASSERT_TRUE(set.resetFrame(3, 0));
    EXPECT_TRUE(set.hasFrame(3));
    EXPECT_EQ(set.getPointCount(3), 0);
    EXPECT_FALSE(set.resetFrame(4, 0));
    set.resize(1);
    EXPECT_EQ(set.frameCount(), 1);
}

TEST(GridSet, DestructionFreesEverything) {
    // Runs clean under the leak checker: parts, nodes and cells all go.
    auto set = std::make_unique<GridSet>();
    set->allocate(2, 4);
    for (FrameGrid& record : set->frames) {
        auto* n = new g_node();
        record.trianglePart->addNode(n);
        auto* e = new GridElement();
        e->addNode(n);
        record.trianglePart->addElement(e);
    }
    set.reset();
    SUCCEED();
}

}  // namespace
