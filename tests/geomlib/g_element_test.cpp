#include "geomlib/g_element.h"

#include <gtest/gtest.h>

#include <memory>
#include <typeinfo>
#include <vector>

#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_pedge.h"

namespace {

template <class T>
std::vector<T> contents(const g_container<T>& c) {
    std::vector<T> out;
    for (uint32_t i = 0; i < c.numberOfItems(); ++i) out.push_back(c.item(i));
    return out;
}

// A part owning the nodes a..f and helpers to make elements on them.
struct Mesh {
    g_part part;
    g_node* a = add(0, 0);
    g_node* b = add(1, 0);
    g_node* c = add(0, 1);
    g_node* d = add(1, 1);
    g_node* e = add(-1, 0);
    g_node* f = add(0, -1);

    g_node* add(double x, double y) {
        auto* n = new g_node(g_vector(x, y, 0));
        part.addNode(n);
        return n;
    }
    g_element* element(std::initializer_list<g_node*> corners) {
        auto* el = new g_element();
        for (g_node* n : corners) el->addNode(n);
        part.addElement(el);
        return el;
    }
};

using Elements = std::vector<g_element*>;
using Nodes = std::vector<g_node*>;

TEST(GElement, AddNodeRegistersAtTheNodeOnce) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    g_element* t2 = m.element({m.c, m.b, m.d});
    EXPECT_EQ(contents(m.b->elements()), (Elements{t1, t2}));
    EXPECT_EQ(contents(m.a->elements()), (Elements{t1}));
    EXPECT_EQ(contents(t2->nodes()), (Nodes{m.c, m.b, m.d}));
    EXPECT_TRUE(t1->isNode(m.a));
    EXPECT_FALSE(t1->isNode(m.d));
    EXPECT_EQ(t1->getNode(2), m.c);

    // Registering the same element again is a no-op.
    m.b->addElement(t1);
    EXPECT_EQ(m.b->elements().numberOfItems(), 2u);

    try {
        t1->addNode(m.a);
        FAIL() << "no exception";
    } catch (const Fatal_Error& error) {
        EXPECT_STREQ(error.what(), "Redundant nodes");
    }
    EXPECT_EQ(t1->nodes().numberOfItems(), 3u);
    EXPECT_THROW(t1->addNode(nullptr), Fatal_Error);
    EXPECT_THROW(t1->getNode(3), Fatal_Error);
}

TEST(GElement, RemoveElementMovesLastEntryIntoGap) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    g_element* t2 = m.element({m.a, m.c, m.d});
    g_element* t3 = m.element({m.a, m.d, m.e});
    m.a->removeElement(t1);
    EXPECT_EQ(contents(m.a->elements()), (Elements{t3, t2}));
    m.a->removeElement(t1);  // absent: nothing happens
    EXPECT_EQ(m.a->elements().numberOfItems(), 2u);
}

TEST(GElement, EdgesRunAroundThePolygon) {
    Mesh m;
    g_element* q = m.element({m.a, m.b, m.d, m.c});
    g_pedge last = q->edge(3);
    EXPECT_EQ(last.firstNode(), m.c);
    EXPECT_EQ(last.lastNode(), m.a);
    EXPECT_THROW(q->edge(4), Fatal_Error);

    g_container<g_pedge*> sides = q->edges();
    ASSERT_EQ(sides.numberOfItems(), 4u);
    const Nodes starts{m.a, m.b, m.d, m.c};
    const Nodes ends{m.b, m.d, m.c, m.a};
    for (uint32_t k = 0; k < 4; ++k) {
        EXPECT_EQ(sides.item(k)->firstNode(), starts[k]);
        EXPECT_EQ(sides.item(k)->lastNode(), ends[k]);
        delete sides.item(k);
    }

    g_element empty;
    EXPECT_THROW(empty.edge(0), Fatal_Error);
    EXPECT_TRUE(empty.edges().isEmpty());
}

TEST(GElement, NeighboursOfTrianglesSharingASide) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    g_element* t2 = m.element({m.c, m.b, m.d});
    EXPECT_EQ(contents(t1->edgeNeighbours()), (Elements{t2}));
    EXPECT_EQ(contents(t2->edgeNeighbours()), (Elements{t1}));
    EXPECT_EQ(contents(t1->vertexNeighbours()), (Elements{t2}));
    EXPECT_EQ(contents(t1->sharingEdge(t1->edge(1))), (Elements{t2}));
    EXPECT_TRUE(t1->sharingEdge(t1->edge(0)).isEmpty());
}

TEST(GElement, NeighboursOfTrianglesSharingOnlyANode) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    g_element* t2 = m.element({m.a, m.e, m.f});
    EXPECT_TRUE(t1->edgeNeighbours().isEmpty());
    EXPECT_EQ(contents(t1->vertexNeighbours()), (Elements{t2}));
    EXPECT_EQ(contents(t2->vertexNeighbours()), (Elements{t1}));
}

TEST(GElement, SharingEdgeFindsElementsWithBothNodesAnywhere) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    // a and c are not adjacent in this quadrilateral's polygon.
    g_element* q = m.element({m.a, m.d, m.c, m.e});
    EXPECT_EQ(contents(t1->sharingEdge(t1->edge(2))), (Elements{q}));
}

TEST(GElement, NeighbourListsAreSortedByCreationWithoutRepeats) {
    Mesh m;
    // A fan of four triangles around a, created out of angular order.
    g_element* t1 = m.element({m.a, m.b, m.d});
    g_element* t3 = m.element({m.a, m.e, m.f});
    g_element* t2 = m.element({m.a, m.d, m.c});
    g_element* t4 = m.element({m.a, m.c, m.e});
    EXPECT_EQ(contents(t2->edgeNeighbours()), (Elements{t1, t4}));
    EXPECT_EQ(contents(t4->edgeNeighbours()), (Elements{t3, t2}));
    EXPECT_EQ(contents(t2->vertexNeighbours()), (Elements{t1, t3, t4}));
}

TEST(GElement, OthersAtNode) {
    Mesh m;
    g_element* t1 = m.element({m.a, m.b, m.c});
    g_element* t2 = m.element({m.a, m.c, m.d});
    g_element* t3 = m.element({m.a, m.d, m.e});
    EXPECT_EQ(contents(t1->othersAtNode(m.a)), (Elements{t3, t2}));
    EXPECT_EQ(contents(t3->othersAtNode(m.a)), (Elements{t1, t2}));
    EXPECT_TRUE(t3->othersAtNode(m.b).isEmpty());
    // The node's own list is untouched.
    EXPECT_EQ(contents(m.a->elements()), (Elements{t1, t2, t3}));
}

TEST(GElement, CentroidIsTheMeanOfTheCorners) {
    g_node n0(g_vector(0, 0, 0)), n1(g_vector(2, 0, 0)), n2(g_vector(2, 2, 0)), n3(g_vector(0, 2, 0));
    g_element square;
    for (g_node* n : {&n0, &n1, &n2, &n3}) square.addNode(n);
    const g_vector c = square.centroid();
    EXPECT_DOUBLE_EQ(c.x, 1.0);
    EXPECT_DOUBLE_EQ(c.y, 1.0);
    EXPECT_DOUBLE_EQ(c.z, 0.0);

    const g_vector none = g_element().centroid();
    EXPECT_EQ(none.x, 0.0);
    EXPECT_EQ(none.y, 0.0);
    EXPECT_EQ(none.z, 0.0);
}

TEST(GElement, CreateMakesAPlainElement) {
    struct Derived : g_element {};
    Derived derived;
    std::unique_ptr<g_element> made(derived.create());
    EXPECT_EQ(typeid(*made), typeid(g_element));
    EXPECT_TRUE(made->nodes().isEmpty());
    EXPECT_EQ(made->getId(), 0);
}

TEST(GNode, SuccessorsAreTheEndsOfSidesStartingHere) {
    Mesh m;
    m.element({m.a, m.b, m.c});
    m.element({m.c, m.b, m.d});
    EXPECT_EQ(contents(m.b->successors()), (Nodes{m.c, m.d}));
    EXPECT_EQ(contents(m.c->successors()), (Nodes{m.a, m.b}));
    EXPECT_EQ(contents(m.d->successors()), (Nodes{m.c}));
    EXPECT_TRUE(m.e->successors().isEmpty());
}

TEST(GNode, SuccessorsDropRepeats) {
    Mesh m;
    // b -> a in both triangles.
    m.element({m.b, m.a, m.c});
    m.element({m.d, m.b, m.a});
    EXPECT_EQ(contents(m.b->successors()), (Nodes{m.a}));
}

TEST(GNode, ConstructionCopyAndAssignment) {
    g_node origin;
    EXPECT_EQ(origin.getId(), 0);
    EXPECT_EQ(origin.getCoordinates().x, 0.0);
    EXPECT_TRUE(origin.elements().isEmpty());

    g_node n(g_vector(3, 4, 5));
    n.setId(7);
    g_element el;
    n.addElement(&el);
    g_node assigned;
    assigned = n;
    EXPECT_EQ(assigned.getId(), 7);
    EXPECT_EQ(assigned.getCoordinates().y, 4.0);
    EXPECT_EQ(contents(assigned.elements()), (Elements{&el}));
    EXPECT_NE(assigned.serial(), n.serial());

    g_node copy(n);
    EXPECT_EQ(copy.getId(), 7);
    EXPECT_GT(copy.serial(), n.serial());

    std::unique_ptr<g_node> made(n.create());
    EXPECT_EQ(made->getId(), 0);
    EXPECT_TRUE(made->elements().isEmpty());
}

TEST(GPedge, NodesAndChecks) {
    g_node n0, n1, n2;
    g_pedge side(&n0, &n1);
    EXPECT_EQ(side.firstNode(), &n0);
    EXPECT_EQ(side.lastNode(), &n1);

    g_container<g_node*> run;
    run.append(&n2);
    EXPECT_THROW(side.setNodes(run), Fatal_Error);
    EXPECT_EQ(side.firstNode(), &n0);  // unchanged
    run.append(&n0);
    run.append(&n1);
    side.setNodes(run);
    EXPECT_EQ(side.firstNode(), &n2);
    EXPECT_EQ(side.lastNode(), &n1);
    run.clear();
    EXPECT_EQ(side.nodes().numberOfItems(), 3u);  // a copy was taken

    g_pedge copy = side;
    EXPECT_EQ(copy.lastNode(), &n1);

    g_pedge empty;
    EXPECT_THROW(empty.firstNode(), Fatal_Error);
    EXPECT_THROW(empty.lastNode(), Fatal_Error);
}

}  // namespace
