#include "geomlib/g_node.h"

#include <atomic>

#include "geomlib/g_element.h"

uint64_t g_nextSerial() {
    static std::atomic<uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

g_node::g_node() : mySerial(g_nextSerial()) {}

g_node::g_node(const g_vector& aCoordinates) : coordinates(aCoordinates), mySerial(g_nextSerial()) {}

g_node::g_node(const g_node& other)
    : coordinates(other.coordinates), id(other.id), myElements(other.myElements), mySerial(g_nextSerial()) {}

g_node& g_node::operator=(const g_node& other) {
    if (this == &other) return *this;
    id = other.id;
    myElements = other.myElements;
    coordinates = other.coordinates;
    return *this;
}

g_node::~g_node() = default;

g_node* g_node::create() const {
    g_node* n = new (std::nothrow) g_node();
    if (n == nullptr) G_FAIL_ALLOC("Out of memory");
    return n;
}

void g_node::addElement(g_element* e) {
    if (!myElements.memberOf(e)) myElements.append(e);
}

void g_node::removeElement(g_element* e) { myElements.remove(e); }

g_container<g_node*> g_node::successors() const {
    g_container<g_node*> result;
    const uint32_t numElements = myElements.numberOfItems();
    for (uint32_t i = 0; i < numElements; ++i) {
        const g_element* e = myElements.item(i);
        const auto& corners = e->nodes();
        const uint32_t count = corners.numberOfItems();
        for (uint32_t k = 0; k < count; ++k) {
            if (corners.item(k) == this) result.append(corners.item((k + 1) % count));
        }
    }
    result.sortUnique();
    return result;
}
