// Pointer containers order mesh entities by creation, never by address, so
// results of the pipeline are the same from run to run.
#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <vector>

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"

namespace {

// Constructs objects into a buffer from its last slot to its first, so the
// creation order is the reverse of the address order.
template <class T, size_t N>
struct ReversedStorage {
    alignas(T) std::byte buffer[N][sizeof(T)];
    T* at[N];
    ReversedStorage() {
        for (size_t i = N; i-- > 0;) at[i] = new (buffer[i]) T();
    }
    ~ReversedStorage() {
        for (size_t i = 0; i < N; ++i) at[i]->~T();
    }
};

TEST(SerialOrder, SerialsIncreaseInCreationOrderAcrossKinds) {
    g_node n;
    g_element e;
    g_node m;
    EXPECT_LT(n.serial(), e.serial());
    EXPECT_LT(e.serial(), m.serial());
}

TEST(SerialOrder, SortUniqueOfNodesFollowsCreationNotAddress) {
    ReversedStorage<g_node, 4> nodes;  // created 3, 2, 1, 0
    ASSERT_LT(nodes.at[0], nodes.at[3]);
    g_container<g_node*> c;
    for (size_t i : {1, 3, 0, 2, 3}) c.append(nodes.at[i]);
    c.sortUnique();
    ASSERT_EQ(c.numberOfItems(), 4u);
    EXPECT_EQ(c.item(0), nodes.at[3]);
    EXPECT_EQ(c.item(1), nodes.at[2]);
    EXPECT_EQ(c.item(2), nodes.at[1]);
    EXPECT_EQ(c.item(3), nodes.at[0]);
}

TEST(SerialOrder, IntersectionOfElementsFollowsCreation) {
    ReversedStorage<g_element, 5> elements;  // created 4, 3, 2, 1, 0
    g_container<g_element*> a, b;
    for (size_t i : {0, 1, 2, 4}) a.append(elements.at[i]);
    for (size_t i : {4, 3, 1, 0}) b.append(elements.at[i]);
    g_container<g_element*> both = intersection(a, b);
    ASSERT_EQ(both.numberOfItems(), 3u);
    EXPECT_EQ(both.item(0), elements.at[4]);
    EXPECT_EQ(both.item(1), elements.at[1]);
    EXPECT_EQ(both.item(2), elements.at[0]);
}

TEST(SerialOrder, DerivedElementsAreOrderedBySerial) {
    struct Cell : g_element {
        int payload = 0;
    };
    ReversedStorage<Cell, 3> cells;
    g_container<Cell*> c;
    for (size_t i : {0, 2, 1}) c.append(cells.at[i]);
    c.sortUnique();
    EXPECT_EQ(c.item(0), cells.at[2]);
    EXPECT_EQ(c.item(1), cells.at[1]);
    EXPECT_EQ(c.item(2), cells.at[0]);
}

TEST(SerialOrder, NeighbourQueriesFollowCreation) {
    ReversedStorage<g_node, 4> nodes;
    ReversedStorage<g_element, 3> tris;  // created 2, 1, 0
    // Three triangles around node 0, each sharing a side with the centre one.
    g_element* centre = tris.at[1];
    for (size_t i : {0, 1, 2}) centre->addNode(nodes.at[i]);
    for (size_t i : {0, 2, 3}) tris.at[0]->addNode(nodes.at[i]);
    for (size_t i : {0, 1, 3}) tris.at[2]->addNode(nodes.at[i]);
    g_container<g_element*> around = centre->edgeNeighbours();
    ASSERT_EQ(around.numberOfItems(), 2u);
    EXPECT_EQ(around.item(0), tris.at[2]);
    EXPECT_EQ(around.item(1), tris.at[0]);

    // Successors of node 0: 1 (centre, tris[2]) and 2 (tris[0]); 3 is never a side end from 0.
    g_container<g_node*> next = nodes.at[0]->successors();
    ASSERT_EQ(next.numberOfItems(), 2u);
    EXPECT_EQ(next.item(0), nodes.at[2]);
    EXPECT_EQ(next.item(1), nodes.at[1]);
}

}  // namespace
