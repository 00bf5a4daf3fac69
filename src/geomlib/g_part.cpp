#include "geomlib/g_part.h"

#include <new>

g_part::~g_part() {
    clearElements();
    g_node* n = nullptr;
    while (p_nodes.removeFirst(n)) delete n;
}

g_part* g_part::create() const {
    g_part* p = new (std::nothrow) g_part();
    if (p == nullptr) G_FAIL_ALLOC("Out of memory");
    return p;
}

void g_part::addNode(g_node* n) {
    n->setId(static_cast<int>(p_nodes.numberOfItems()) + 1);
    p_nodes.append(n);
}

void g_part::addElement(g_element* e) {
    const int count = static_cast<int>(p_elements.numberOfItems());
    e->addPart(this);
    e->setId(count + 1);
    p_elements.append(e);
}

g_node* g_part::getNode(int id) const {
    G_CHECK(id >= 1 && p_nodes.numberOfItems() >= static_cast<uint32_t>(id), "p_nodes.numberOfItems() >= id",
            "Invalid node id");
    return p_nodes.item(static_cast<uint32_t>(id - 1));
}

void g_part::clearElements() {
    g_element* e = nullptr;
    while (p_elements.removeFirst(e)) delete e;
}
