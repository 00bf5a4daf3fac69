#include "grid/cell_pruning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"

namespace {

// Hand-built candidate cells on a lattice of nodes. Cell (i, j) has the
// corners (i, j), (i+1, j), (i+1, j+1), (i, j+1): positive orientation in
// x-right, y-down coordinates, like the cells that pairing makes.
class CellPruning : public ::testing::Test {
protected:
    // Lattice point (i, j) lies at `origin + i * across + j * down`.
    g_vector across{10.0, 0.0, 0.0};
    g_vector down{0.0, 10.0, 0.0};

    g_node* node(int i, int j) {
        auto found = lattice.find({i, j});
        if (found != lattice.end()) return found->second;
        g_vector position(100.0, 100.0, 0.0);
        g_vector a = across;
        a *= i;
        g_vector d = down;
        d *= j;
        position += a;
        position += d;
        auto* n = new g_node(position);
        nodes.addNode(n);
        lattice[{i, j}] = n;
        return n;
    }

    GridElement* cell(int i, int j) {
        auto* c = new GridElement();
        c->addNode(node(i, j));
        c->addNode(node(i + 1, j));
        c->addNode(node(i + 1, j + 1));
        c->addNode(node(i, j + 1));
        set.pendingElements.append(c);
        return c;
    }

    // A triangle registered at the lattice node, with one side starting there:
    // one more successor and one more vertex neighbour for the cells at it.
    void spike(int i, int j) {
        auto* s = new GridElement();
        s->addNode(node(i, j));
        auto* a = new g_node(g_vector(-50.0, -50.0, 0.0));
        auto* b = new g_node(g_vector(-60.0, -50.0, 0.0));
        nodes.addNode(a);
        nodes.addNode(b);
        s->addNode(a);
        s->addNode(b);
        nodes.addElement(s);  // the part owns and deletes it
    }

    std::vector<GridElement*> pending() {
        std::vector<GridElement*> items;
        for (uint32_t k = 0; k < set.pendingElements.numberOfItems(); ++k)
            items.push_back(set.pendingElements.item(k));
        return items;
    }

    // No node refers to anything but the surviving cells and the part's own
    // elements (spikes).
    void expectNoStaleRegistrations() {
        for (uint32_t n = 0; n < nodes.nodes().numberOfItems(); ++n) {
            g_container<g_element*>& registered = nodes.nodes().item(n)->elements();
            for (uint32_t k = 0; k < registered.numberOfItems(); ++k) {
                g_element* e = registered.item(k);
                const bool survivor = set.pendingElements.memberOf(static_cast<GridElement*>(e));
                EXPECT_TRUE(survivor || nodes.elements().memberOf(e)) << "node " << n;
            }
        }
    }

    void TearDown() override {
        expectNoStaleRegistrations();
        while (!set.pendingElements.isEmpty()) deleteGridCell(set.pendingElements, set.pendingElements.item(0));
    }

    g_part nodes;  // owns the lattice nodes and spikes; the cells are owned by the test
    std::map<std::pair<int, int>, g_node*> lattice;
    GridSet set;
};

TEST_F(CellPruning, EmptyListStaysEmpty) {
    pruneGridCells(set);
    EXPECT_TRUE(set.pendingElements.isEmpty());
}

TEST_F(CellPruning, RegularBlocksKeepEveryCellInOrder) {
    std::vector<GridElement*> block;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i) block.push_back(cell(i, j));
    // An L of three cells apart from the block.
    std::vector<GridElement*> ell{cell(10, 10), cell(11, 10), cell(10, 11)};
    block.insert(block.end(), ell.begin(), ell.end());

    pruneGridCells(set);
    EXPECT_EQ(pending(), block);
}

TEST_F(CellPruning, CellsWithoutSharedSideAreDestroyed) {
    cell(0, 0);  // alone
    cell(5, 5);  // these two share only node (6, 6)
    cell(6, 6);
    pruneGridCells(set);
    EXPECT_TRUE(set.pendingElements.isEmpty());
    for (uint32_t n = 0; n < nodes.nodes().numberOfItems(); ++n)
        EXPECT_TRUE(nodes.nodes().item(n)->elements().isEmpty()) << "node " << n;
}

TEST_F(CellPruning, CornerContactRejectsBothSidesOfTheContact) {
    // A and B share a side; E touches A only at A's corner (2, 2), which is
    // not on that side. E has no side neighbour, A fails the corner test, B
    // outlives the first pass only because rejected A still counts there, and
    // then has no pending neighbour left.
    cell(1, 1);  // A
    cell(0, 1);  // B
    cell(2, 2);  // E
    pruneGridCells(set);
    EXPECT_TRUE(set.pendingElements.isEmpty());
    for (uint32_t n = 0; n < nodes.nodes().numberOfItems(); ++n)
        EXPECT_TRUE(nodes.nodes().item(n)->elements().isEmpty()) << "node " << n;
}

TEST_F(CellPruning, CornerContactSparesNeighboursThatKeepAnotherSide) {
    cell(1, 1);                      // A: touched by E at its corner (2, 2)
    GridElement* b = cell(0, 1);     // B: side neighbour of A and of D
    cell(2, 2);                      // E
    GridElement* d = cell(0, 2);     // D
    pruneGridCells(set);
    EXPECT_EQ(pending(), (std::vector<GridElement*>{d, b}));  // A removed: D took its slot
}

TEST_F(CellPruning, RejectedCellIsReplacedByTheLastOne) {
    GridElement* a = cell(0, 0);
    GridElement* b = cell(20, 20);  // lone: the only rejected cell
    GridElement* e = cell(1, 0);
    GridElement* d = cell(0, 1);
    (void)b;
    pruneGridCells(set);
    EXPECT_EQ(pending(), (std::vector<GridElement*>{a, d, e}));
}

TEST_F(CellPruning, OneOverConnectedCornerIsAllowedTwoAreNot) {
    // 3 x 3 block; spikes at both ends of the side that the centre cell (1, 1)
    // shares with (1, 0), so exactly those two cells have two corners with
    // five successors.
    std::vector<GridElement*> kept;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            GridElement* c = cell(i, j);
            if (!(i == 1 && j <= 1)) kept.push_back(c);
        }
    spike(1, 1);
    spike(2, 1);
    ASSERT_EQ(node(1, 1)->successors().numberOfItems(), 5u);

    pruneGridCells(set);
    std::vector<GridElement*> survivors = pending();
    EXPECT_EQ(survivors.size(), kept.size());
    for (GridElement* c : kept) EXPECT_TRUE(set.pendingElements.memberOf(c));
}

TEST_F(CellPruning, EightNodeNeighboursNeedFourSideNeighbours) {
    // 3 x 3 block without the top middle cell: the centre cell has 3 side
    // and 7 node neighbours and stays. A spike at its corner (1, 1) makes that
    // 8 node neighbours, and 3 side neighbours are then too few.
    for (int withSpike = 0; withSpike < 2; ++withSpike) {
        SCOPED_TRACE(withSpike ? "with spike" : "without spike");
        GridElement* centre = nullptr;
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i) {
                if (i == 1 && j == 0) continue;
                GridElement* c = cell(i + 10 * withSpike, j);
                if (i == 1 && j == 1) centre = c;
            }
        if (withSpike) spike(11, 1);
        ASSERT_EQ(centre->vertexNeighbours().numberOfItems(), withSpike ? 8u : 7u);
        ASSERT_EQ(centre->edgeNeighbours().numberOfItems(), 3u);

        pruneGridCells(set);
        EXPECT_EQ(set.pendingElements.numberOfItems(), withSpike ? 7u : 8u);
        EXPECT_EQ(set.pendingElements.memberOf(centre), !withSpike);
        while (!set.pendingElements.isEmpty()) deleteGridCell(set.pendingElements, set.pendingElements.item(0));
    }
}

TEST_F(CellPruning, CornerAnglesAtTheBoundsPass) {
    // Sheared lattice: every cell is a parallelogram with corners of 45 and
    // 135 degrees.
    down = g_vector(10.0, 10.0, 0.0);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) cell(i, j);
    pruneGridCells(set);
    EXPECT_EQ(set.pendingElements.numberOfItems(), 4u);
}

TEST_F(CellPruning, SharpCornersAreRejected) {
    // Parallelograms with corners of 30 and 150 degrees.
    down = g_vector(10.0 * std::sqrt(3.0), 10.0, 0.0);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) cell(i, j);
    pruneGridCells(set);
    EXPECT_TRUE(set.pendingElements.isEmpty());
}

TEST_F(CellPruning, CoincidentCornersAreRejected) {
    // In a 2 x 2 block, the outer corner (2, 2) of cell (1, 1) is put on top of
    // its corner (2, 1); the other three cells are untouched and stay.
    GridElement* a = cell(0, 0);
    GridElement* b = cell(1, 0);
    GridElement* c = cell(0, 1);
    auto* collapsed = new GridElement();
    auto* onTop = new g_node(node(2, 1)->getCoordinates());
    nodes.addNode(onTop);
    collapsed->addNode(node(1, 1));
    collapsed->addNode(node(2, 1));
    collapsed->addNode(onTop);
    collapsed->addNode(node(1, 2));
    set.pendingElements.append(collapsed);

    pruneGridCells(set);
    EXPECT_EQ(pending(), (std::vector<GridElement*>{a, b, c}));
}

TEST(DeleteGridCell, IgnoresNullAndNonMembersAndUnlinksMembers) {
    g_part part;
    auto* cell = new GridElement();
    for (int k = 0; k < 4; ++k) {
        auto* n = new g_node(g_vector(k, k * k, 0.0));
        part.addNode(n);
        cell->addNode(n);
    }
    g_container<GridElement*> list;
    deleteGridCell(list, nullptr);
    deleteGridCell(list, cell);  // not a member: untouched
    EXPECT_EQ(part.nodes().item(0)->elements().numberOfItems(), 1u);

    auto* other = new GridElement();
    list.append(cell);
    list.append(other);
    deleteGridCell(list, cell);
    ASSERT_EQ(list.numberOfItems(), 1u);
    EXPECT_EQ(list.item(0), other);
    for (uint32_t k = 0; k < 4; ++k) EXPECT_TRUE(part.nodes().item(k)->elements().isEmpty());
    deleteGridCell(list, other);
    EXPECT_TRUE(list.isEmpty());
}

}  // namespace
