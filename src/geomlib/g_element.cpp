#include "geomlib/g_element.h"

#include <algorithm>
#include <cstddef>
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

namespace {

// Lists at most this long are searched linearly by the neighbour queries;
// longer ones take the general container route.
constexpr uint32_t kShortList = 16;

void sortUniqueElements(std::vector<g_element*>& items) {
    std::sort(items.begin(), items.end(), g_detail::itemLess<g_element*>);
    items.erase(std::unique(items.begin(), items.end()), items.end());
}

}  // namespace

// Fills `result` (a default container) with `items` in order, giving it the
// slot count the general route would have left it with.
void g_element::fillNeighbours(g_container<g_element*>& result, const std::vector<g_element*>& items,
                               uint32_t slots) {
    if (slots > result.containerSize()) result.resize(slots);
    for (g_element* e : items) result.append(e);
}

g_container<g_element*> g_element::edgeNeighbours() const {
    const uint32_t count = e_nodes.numberOfItems();
    bool shortLists = true;
    for (uint32_t k = 0; k < count && shortLists; ++k)
        shortLists = e_nodes.item(k)->elements().numberOfItems() <= kShortList;
    if (!shortLists) return edgeNeighboursGeneral();

    // For each side, the other elements at both its end nodes (each once),
    // as sharingEdge would give them; then all of them sorted, no repeats.
    g_container<g_element*> result;
    std::vector<g_element*> found;
    found.reserve(8);
    uint32_t slots = result.containerSize();
    uint32_t total = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const g_container<g_element*>& first = e_nodes.item(k)->elements();
        const g_container<g_element*>& last = e_nodes.item((k + 1) % count)->elements();
        const size_t sideStart = found.size();
        const uint32_t nFirst = first.numberOfItems();
        for (uint32_t i = 0; i < nFirst; ++i) {
            g_element* e = first.item(i);
            if (e == this || !last.memberOf(e)) continue;
            if (std::find(found.begin() + static_cast<std::ptrdiff_t>(sideStart), found.end(), e) != found.end())
                continue;
            found.push_back(e);
        }
        const auto shared = static_cast<uint32_t>(found.size() - sideStart);
        slots = g_container<g_element*>::slotsAfterAppendAll(slots, total, shared);
        total += shared;
    }
    sortUniqueElements(found);
    fillNeighbours(result, found, slots);
    return result;
}

g_container<g_element*> g_element::edgeNeighboursGeneral() const {
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
    // Every element at any node, sorted, no repeats; this element's place
    // then goes to the last one, as container removal does.
    g_container<g_element*> result;
    const uint32_t count = e_nodes.numberOfItems();
    std::vector<g_element*> found;
    uint32_t slots = result.containerSize();
    uint32_t total = 0;
    for (uint32_t k = 0; k < count; ++k) {
        const g_container<g_element*>& around = e_nodes.item(k)->elements();
        const uint32_t n = around.numberOfItems();
        slots = g_container<g_element*>::slotsAfterAppendAll(slots, total, n);
        total += n;
    }
    found.reserve(total);
    for (uint32_t k = 0; k < count; ++k) {
        const g_container<g_element*>& around = e_nodes.item(k)->elements();
        const uint32_t n = around.numberOfItems();
        for (uint32_t i = 0; i < n; ++i) found.push_back(around.item(i));
    }
    sortUniqueElements(found);
    const auto self = std::find(found.begin(), found.end(), this);
    if (self != found.end()) {
        *self = found.back();
        found.pop_back();
    }
    fillNeighbours(result, found, slots);
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
