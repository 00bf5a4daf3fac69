#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_pedge.h"

// The neighbour queries and intersection take shortcuts for short lists; here
// they are held, item by item and slot by slot, to the same queries spelled
// out with the general container operations, on random meshes whose node
// lists are short, long, and hold repeats.
namespace {

// Sorted copies merged, as a plain reading of intersection.
g_container<g_element*> mergedIntersection(const g_container<g_element*>& a, const g_container<g_element*>& b) {
    g_container<g_element*> result;
    if (a.isEmpty() || b.isEmpty()) return result;
    g_container<g_element*> left(a), right(b);
    left.sortUnique();
    right.sortUnique();
    uint32_t i = 0, j = 0;
    while (i < left.numberOfItems() && j < right.numberOfItems()) {
        g_element* x = left.item(i);
        g_element* y = right.item(j);
        if (x == y) {
            result.append(x);
            ++i;
            ++j;
        } else if (x->serial() < y->serial()) {
            ++i;
        } else {
            ++j;
        }
    }
    return result;
}

g_container<g_element*> plainEdgeNeighbours(g_element* e) {
    g_container<g_element*> result;
    const uint32_t count = e->nodes().numberOfItems();
    for (uint32_t k = 0; k < count; ++k) {
        g_container<g_element*> shared = mergedIntersection(e->getNode(k)->elements(),
                                                            e->getNode((k + 1) % count)->elements());
        shared.remove(e);
        result.appendAll(shared);
    }
    result.sortUnique();
    return result;
}

g_container<g_element*> plainVertexNeighbours(g_element* e) {
    g_container<g_element*> result;
    for (uint32_t k = 0; k < e->nodes().numberOfItems(); ++k) result.appendAll(e->getNode(k)->elements());
    result.sortUnique();
    result.remove(e);
    return result;
}

void expectSame(const g_container<g_element*>& actual, const g_container<g_element*>& expected) {
    ASSERT_EQ(actual.numberOfItems(), expected.numberOfItems());
    for (uint32_t i = 0; i < actual.numberOfItems(); ++i) EXPECT_EQ(actual.item(i), expected.item(i)) << i;
    EXPECT_EQ(actual.containerSize(), expected.containerSize());
    EXPECT_EQ(actual.firstSlot(), expected.firstSlot());
    EXPECT_EQ(actual.lastSlot(), expected.lastSlot());
}

TEST(NeighbourQueries, ShortcutsAgreeWithTheGeneralOperations) {
    std::mt19937 random(3);
    for (int round = 0; round < 40; ++round) {
        g_part part;
        // Few nodes for many elements make some node lists longer than the
        // shortcut takes; the later rounds use more nodes and short lists.
        const int nodeCount = 4 + round;
        const int elementCount = 10 + (round % 7) * 6;
        std::vector<g_node*> nodes;
        for (int i = 0; i < nodeCount; ++i) {
            nodes.push_back(new g_node(g_vector(i, 0, 0)));
            part.addNode(nodes.back());
        }
        std::vector<g_element*> elements;
        std::uniform_int_distribution<int> pick(0, nodeCount - 1);
        for (int i = 0; i < elementCount; ++i) {
            auto* e = new g_element();
            const int corners = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < corners; ++k) {
                g_node* n = nodes[static_cast<size_t>(pick(random))];
                if (!e->isNode(n)) e->addNode(n);
            }
            part.addElement(e);
            elements.push_back(e);
        }
        // Repeats in a node's list, which addElement never makes.
        for (int i = 0; i < 3; ++i) {
            g_node* n = nodes[static_cast<size_t>(pick(random))];
            if (!n->elements().isEmpty()) n->elements().append(n->elements().item(0));
        }
        for (g_element* e : elements) {
            SCOPED_TRACE(round);
            expectSame(e->edgeNeighbours(), plainEdgeNeighbours(e));
            expectSame(e->vertexNeighbours(), plainVertexNeighbours(e));
            for (uint32_t k = 0; k < e->nodes().numberOfItems(); ++k) {
                const g_pedge side = e->edge(k);
                expectSame(intersection(side.firstNode()->elements(), side.lastNode()->elements()),
                           mergedIntersection(side.firstNode()->elements(), side.lastNode()->elements()));
            }
        }
    }
}

}  // namespace
