#include "geomlib/g_element.h"

#include <memory>
#include <new>
#include <vector>

#include "geomlib/g_part.h"

g_element::g_element() : mySerial(g_nextSerial()) {}

g_element::~g_element() = default;

g_element* g_element::create() const {
    g_element* e = new (std::nothrow) g_element();
    if (e == nullptr) G_FAIL_ALLOC("Out of memory");
    return e;
}

void g_element::addNode(g_node* n) {
    G_CHECK(e_nodes.memberOf(n) == g_FALSE, "e_nodes.memberOf( aNodePtr ) == g_FALSE", "Redundant nodes");
    G_CHECK(n != nullptr, "aNodePtr != 0", "NULL node pointer");
    e_nodes.append(n);
    n->addElement(this);
}

g_node* g_element::getNode(uint32_t index) const {
    G_CHECK(e_nodes.numberOfItems() > index, "e_nodes.numberOfItems() > index", "Invalid node index");
    return e_nodes.item(index);
}

g_pedge g_element::edge(uint32_t index) const {
    const uint32_t count = e_nodes.numberOfItems();
    G_CHECK(index < count, "index < e_nodes.numberOfItems()", "edge index out of range");
    return g_pedge(e_nodes.item(index), e_nodes.item((index + 1) % count));
}

g_container<g_pedge*> g_element::edges() const {
    g_container<g_pedge*> result;
    const uint32_t count = e_nodes.numberOfItems();
    for (uint32_t k = 0; k < count; ++k) {
        g_pedge* side = new (std::nothrow) g_pedge(e_nodes.item(k), e_nodes.item((k + 1) % count));
        if (side == nullptr) {
            g_pedge* made = nullptr;
            while (result.removeFirst(made)) delete made;
            G_FAIL_ALLOC("Out of memory.");
        }
        result.append(side);
    }
    return result;
}

g_container<g_element*> g_element::sharingEdge(const g_pedge& anEdge) const {
    g_container<g_element*> result =
        intersection(anEdge.firstNode()->elements(), anEdge.lastNode()->elements());
    result.remove(const_cast<g_element*>(this));
    return result;
}

g_container<g_element*> g_element::edgeNeighbours() const {
    g_container<g_element*> result;
    g_container<g_pedge*> sides = edges();
    // Own the temporary sides so they are freed even when a check throws.
    std::vector<std::unique_ptr<g_pedge>> owned;
    const uint32_t count = sides.numberOfItems();
    owned.reserve(count);
    for (uint32_t k = 0; k < count; ++k) owned.emplace_back(sides.item(k));
    for (const auto& side : owned) result.appendAll(sharingEdge(*side));
    result.sortUnique();
    return result;
}

g_container<g_element*> g_element::vertexNeighbours() const {
    g_container<g_element*> result;
    const uint32_t count = e_nodes.numberOfItems();
    for (uint32_t k = 0; k < count; ++k) result.appendAll(e_nodes.item(k)->elements());
    result.sortUnique();
    result.remove(const_cast<g_element*>(this));
    return result;
}

g_container<g_element*> g_element::othersAtNode(g_node* n) const {
    g_container<g_element*> result(n->elements());
    if (!result.remove(const_cast<g_element*>(this))) result.clear();
    return result;
}

g_vector g_element::centroid() const {
    g_vector sum;
    const uint32_t count = e_nodes.numberOfItems();
    if (count == 0) return sum;
    for (uint32_t k = 0; k < count; ++k) sum += e_nodes.item(k)->getCoordinates();
    sum *= 1.0 / static_cast<double>(count);
    return sum;
}
