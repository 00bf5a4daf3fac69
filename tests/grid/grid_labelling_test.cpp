#include "grid/grid_labelling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "support/board_mesh.h"

namespace {

using vexel::test::BoardLayout;
using vexel::test::BoardMesh;

// Deletes the pattern nodes labelGrid hands over.
struct Correspondences {
    g_container<g_node*> image;
    g_container<g_node*> pattern;
    ~Correspondences() {
        g_node* node = nullptr;
        while (pattern.removeFirst(node)) delete node;
    }
};

int label(BoardMesh& mesh, std::array<GridElement*, 3>& markers, Correspondences& out) {
    return labelGrid(markers.data(), 3, mesh.cells(), out.image, out.pattern);
}

// Every correspondence pairs an image corner with the pattern position the
// board layout gives it, and every position of the 10 x 11 corner block
// comes exactly once.
void expectWholeWindow(const BoardMesh& mesh, Correspondences& out, int count) {
    ASSERT_EQ(count, 110);
    ASSERT_EQ(out.image.numberOfItems(), 110u);
    ASSERT_EQ(out.pattern.numberOfItems(), 110u);
    std::set<std::pair<int, int>> seen;
    for (uint32_t i = 0; i < 110; ++i) {
        const g_vector p = out.pattern.item(i)->getCoordinates();
        const cv::Point2d truth = mesh.patternOf(out.image.item(i));
        EXPECT_NEAR(p.x, truth.x, 1e-9) << "correspondence " << i;
        EXPECT_NEAR(p.y, truth.y, 1e-9) << "correspondence " << i;
        EXPECT_EQ(p.z, 0.0);
        EXPECT_GE(p.x, -5);
        EXPECT_LE(p.x, 4);
        EXPECT_GE(p.y, -5);
        EXPECT_LE(p.y, 5);
        seen.insert({static_cast<int>(p.x), static_cast<int>(p.y)});
    }
    EXPECT_EQ(seen.size(), 110u);
}

bool untouched(BoardMesh& mesh) {
    g_container<g_element*>& cells = mesh.cells();
    for (uint32_t i = 0; i < cells.numberOfItems(); ++i) {
        auto* cell = static_cast<GridElement*>(cells.item(i));
        if (cell->inGrid || cell->labelled || cell->gridX != NO_LABEL || cell->gridY != NO_LABEL) return false;
    }
    return true;
}

enum class MarkerSetup { RowOrColumn, DiagonalOnly, DiagonalThenColumn };

// The window block in all four walk directions (the origin cell's first side
// faces each way once), with the column marker in slot 1, the diagonal
// marker alone, or the diagonal marker before the column marker: every row
// of both orientation tables, and each must give the board's own labels.
TEST(LabelGrid, WindowBlockGivesEveryCornerOnceInEveryOrientation) {
    for (int turns = 0; turns < 4; ++turns) {
        for (int originStart = 0; originStart < 4; ++originStart) {
            for (MarkerSetup setup :
                 {MarkerSetup::RowOrColumn, MarkerSetup::DiagonalOnly, MarkerSetup::DiagonalThenColumn}) {
                SCOPED_TRACE(testing::Message() << "turns " << turns << " origin start " << originStart << " setup "
                                                << static_cast<int>(setup));
                BoardLayout layout;
                layout.quarterTurns = turns;
                BoardMesh mesh(layout, -4, 4, -4, 5, [originStart](int X, int Y) {
                    return X == 0 && Y == 3 ? originStart : vexel::test::spreadStart(X, Y);
                });
                GridElement* origin = mesh.cell(0, 3);
                GridElement* column = mesh.cell(0, 0);
                GridElement* diagonal = mesh.cell(1, 1);
                std::array<GridElement*, 3> markers{origin, column, diagonal};
                if (setup == MarkerSetup::DiagonalOnly) markers = {origin, diagonal, nullptr};
                if (setup == MarkerSetup::DiagonalThenColumn) markers = {origin, diagonal, column};

                Correspondences out;
                const int count = label(mesh, markers, out);
                expectWholeWindow(mesh, out, count);
                EXPECT_EQ(origin->gridX, 0);
                EXPECT_EQ(origin->gridY, 3);
                EXPECT_EQ(origin->inGrid, 1);
                EXPECT_EQ(column->gridX, 0);
                EXPECT_EQ(column->gridY, 0);
                EXPECT_EQ(diagonal->gridX, 1);
                EXPECT_EQ(diagonal->gridY, 1);
                // A diagonal slot 1 trades places with slot 2.
                if (setup == MarkerSetup::RowOrColumn) {
                    EXPECT_EQ(markers[1], column);
                }
                if (setup == MarkerSetup::DiagonalOnly) {
                    EXPECT_EQ(markers[1], nullptr);
                    EXPECT_EQ(markers[2], diagonal);
                }
                if (setup == MarkerSetup::DiagonalThenColumn) {
                    EXPECT_EQ(markers[1], column);
                    EXPECT_EQ(markers[2], diagonal);
                }
            }
        }
    }
}

// Cells made row by row from (-4, -4): the first cell is the block's corner
// and emits class 1, 0, 2, 3 in that order; an interior cell emits only its
// class 1 corner (X, Y).
TEST(LabelGrid, CorrespondencesFollowCellOrderAndCornerClasses) {
    BoardMesh mesh(BoardLayout{}, -4, 4, -4, 5);
    std::array<GridElement*, 3> markers{mesh.cell(0, 3), mesh.cell(0, 0), nullptr};
    Correspondences out;
    ASSERT_EQ(label(mesh, markers, out), 110);
    const std::pair<int, int> first[4] = {{-4, -4}, {-4, -5}, {-5, -4}, {-5, -5}};
    for (int i = 0; i < 4; ++i) {
        const g_vector p = out.pattern.item(i)->getCoordinates();
        EXPECT_EQ(p.x, first[i].first) << i;
        EXPECT_EQ(p.y, first[i].second) << i;
    }
    // The second row's second cell, (-3, -3), comes after the whole first row
    // (cell (-4,-4): 4 corners, the other eight: 2 each) and the second row's
    // first cell (class 1 and class 2 corners).
    const g_vector interior = out.pattern.item(4 + 8 * 2 + 2)->getCoordinates();
    EXPECT_EQ(interior.x, -3);
    EXPECT_EQ(interior.y, -3);
}

// The whole printed board: the outer ring lies outside the window, is walked
// and labelled but gets no inGrid and no corners; a cell registered at the
// corners but not among the frame's cells is never labelled.
TEST(LabelGrid, CellsOutsideWindowOrOutsideListGiveNoCorners) {
    BoardLayout layout;
    layout.quarterTurns = 1;
    BoardMesh mesh(layout, -5, 5, -5, 6);
    g_part elsewhere;
    GridElement* stranger = mesh.addCell(6, 0, 0, &elsewhere);
    std::array<GridElement*, 3> markers{mesh.cell(0, 3), mesh.cell(1, 1), nullptr};
    Correspondences out;
    expectWholeWindow(mesh, out, label(mesh, markers, out));
    for (int X = -5; X <= 5; ++X) {
        for (int Y = -5; Y <= 6; ++Y) {
            GridElement* cell = mesh.cell(X, Y);
            const bool ring = X == -5 || X == 5 || Y == -5 || Y == 6;
            EXPECT_EQ(cell->labelled, 1) << X << "," << Y;
            EXPECT_EQ(cell->inGrid, ring ? 0 : 1) << X << "," << Y;
            if (!ring) {
                EXPECT_EQ(cell->gridX, X);
                EXPECT_EQ(cell->gridY, Y);
            }
        }
    }
    EXPECT_EQ(stranger->labelled, 0);
    EXPECT_EQ(stranger->gridX, NO_LABEL);
    for (uint32_t i = 0; i < out.image.numberOfItems(); ++i) EXPECT_FALSE(stranger->isNode(out.image.item(i)));
}

// A slot 1 with walk labels (0, 0) leaves the orientation open: nothing is
// emitted, no cell is kept, and the walk labels stay, showing the walk's own
// axes: +x across the origin's side (m0, m1), +y across (m1, m2).
TEST(LabelGrid, UndeterminedOrientationKeepsWalkLabels) {
    BoardMesh mesh(BoardLayout{}, -4, 4, -4, 5);
    GridElement* origin = mesh.cell(0, 3);
    std::array<GridElement*, 3> markers{origin, origin, nullptr};
    Correspondences out;
    EXPECT_EQ(label(mesh, markers, out), 0);
    EXPECT_EQ(out.image.numberOfItems(), 0u);
    EXPECT_EQ(out.pattern.numberOfItems(), 0u);
    const int expected[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
    for (int side = 0; side < 4; ++side) {
        g_pedge edge = origin->edge(static_cast<uint32_t>(side));
        g_container<g_element*> across = origin->sharingEdge(edge);
        ASSERT_EQ(across.numberOfItems(), 1u);
        auto* neighbour = static_cast<GridElement*>(across.item(0));
        EXPECT_EQ(neighbour->gridX, expected[side][0]) << "side " << side;
        EXPECT_EQ(neighbour->gridY, expected[side][1]) << "side " << side;
    }
    for (uint32_t i = 0; i < mesh.cells().numberOfItems(); ++i) {
        auto* cell = static_cast<GridElement*>(mesh.cells().item(i));
        EXPECT_EQ(cell->labelled, 1);
        EXPECT_EQ(cell->inGrid, 0);
    }
}

TEST(LabelGrid, BadArgumentsLeaveCellsUntouched) {
    BoardMesh mesh(BoardLayout{}, -4, 4, -4, 5);
    BoardMesh other(BoardLayout{}, 0, 1, 0, 1);
    GridElement* origin = mesh.cell(0, 3);
    GridElement* column = mesh.cell(0, 0);
    Correspondences out;
    std::array<GridElement*, 3> noSlot1{origin, nullptr, column};
    std::array<GridElement*, 3> noSlot0{nullptr, column, nullptr};
    std::array<GridElement*, 3> foreignOrigin{other.cell(0, 0), column, nullptr};
    std::array<GridElement*, 3> good{origin, column, nullptr};
    EXPECT_EQ(labelGrid(nullptr, 3, mesh.cells(), out.image, out.pattern), 0);
    EXPECT_EQ(labelGrid(good.data(), 2, mesh.cells(), out.image, out.pattern), 0);
    EXPECT_EQ(label(mesh, noSlot1, out), 0);
    EXPECT_EQ(label(mesh, noSlot0, out), 0);
    EXPECT_EQ(label(mesh, foreignOrigin, out), 0);
    EXPECT_TRUE(untouched(mesh));
    EXPECT_TRUE(untouched(other));
    EXPECT_EQ(out.image.numberOfItems(), 0u);
}

// Slot 1 in a separate block: the walk labels what it reaches, then gives up.
TEST(LabelGrid, UnreachableSlot1Fails) {
    BoardMesh mesh(BoardLayout{}, -4, 4, 1, 5);
    for (int X = -4; X <= 4; ++X) mesh.addCell(X, -2, 0);  // two rows of cells missing in between
    GridElement* island = mesh.cell(0, -2);
    std::array<GridElement*, 3> markers{mesh.cell(0, 3), island, nullptr};
    Correspondences out;
    EXPECT_EQ(label(mesh, markers, out), 0);
    EXPECT_EQ(island->labelled, 0);
    EXPECT_EQ(mesh.cell(0, 1)->labelled, 1);
    for (uint32_t i = 0; i < mesh.cells().numberOfItems(); ++i)
        EXPECT_EQ(static_cast<GridElement*>(mesh.cells().item(i))->inGrid, 0);
}

// A single row (or column) of kept cells has no node shared by two other
// kept cells, so no corner class is decided.
TEST(LabelGrid, SingleRowOrColumnGivesNothing) {
    {
        BoardMesh row(BoardLayout{}, -4, 4, 3, 3);
        std::array<GridElement*, 3> markers{row.cell(0, 3), row.cell(2, 3), nullptr};
        Correspondences out;
        EXPECT_EQ(label(row, markers, out), 0);
        EXPECT_EQ(row.cell(0, 3)->inGrid, 1);
        EXPECT_EQ(out.image.numberOfItems(), 0u);
    }
    {
        BoardMesh column(BoardLayout{}, 0, 0, -4, 5);
        std::array<GridElement*, 3> markers{column.cell(0, 3), column.cell(0, 0), nullptr};
        Correspondences out;
        EXPECT_EQ(label(column, markers, out), 0);
        EXPECT_EQ(column.cell(0, 0)->gridY, 0);
        EXPECT_EQ(out.image.numberOfItems(), 0u);
    }
}

// Two cells made before the origin share one of its sides with it and with
// each other. Each finds the other first across that side, neither ever
// takes labels from the origin, and they would queue each other forever.
TEST(LabelGrid, SideSharedByThreeCellsEnds) {
    BoardLayout layout;
    BoardMesh mesh(layout, 0, 0, 5, 5);  // made first: serial order decides
    g_part& part = mesh.part();
    g_node* a = mesh.corner(-1, 2);
    g_node* b = mesh.corner(0, 2);
    auto makeCell = [&part](std::array<g_node*, 4> nodes) {
        auto* cell = new GridElement();
        for (g_node* n : nodes) cell->addNode(n);
        part.addElement(cell);
        return cell;
    };
    GridElement* x = makeCell({b, a, mesh.corner(-1, 1), mesh.corner(0, 1)});
    GridElement* y = makeCell({b, a, mesh.corner(-1, 0), mesh.corner(0, 0)});
    GridElement* origin = makeCell({a, b, mesh.corner(0, 3), mesh.corner(-1, 3)});
    std::array<GridElement*, 3> markers{origin, x, nullptr};
    Correspondences out;
    EXPECT_EQ(label(mesh, markers, out), 0);
    EXPECT_EQ(x->labelled, 0);
    EXPECT_EQ(y->labelled, 0);
    EXPECT_EQ(origin->labelled, 1);
}

}  // namespace
