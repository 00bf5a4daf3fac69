#include "geomlib/g_pedge.h"

#include "geomlib/g_node.h"

g_pedge::g_pedge(g_node* a, g_node* b) {
    myNodes.append(a);
    myNodes.append(b);
}

void g_pedge::setNodes(const g_container<g_node*>& list) {
    G_CHECK(list.numberOfItems() >= 2, "myNodes.numberOfItems() >= 2", "Edge has less than 2 nodes.");
    myNodes = list;
}

g_node* g_pedge::firstNode() const { return myNodes.item(0); }

g_node* g_pedge::lastNode() const {
    const uint32_t count = myNodes.numberOfItems();
    return myNodes.item(count == 0 ? 0 : count - 1);
}
