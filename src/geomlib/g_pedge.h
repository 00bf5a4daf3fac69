#pragma once

#include "geomlib/g_container.h"

class g_node;

// An ordered run of at least two nodes; for an element side exactly its start
// and end node.
class g_pedge {
public:
    g_pedge() = default;
    g_pedge(g_node* a, g_node* b);

    // Takes a copy of the list, which must hold at least two nodes.
    void setNodes(const g_container<g_node*>& list);

    g_node* firstNode() const;
    g_node* lastNode() const;

    g_container<g_node*>& nodes() { return myNodes; }
    const g_container<g_node*>& nodes() const { return myNodes; }

private:
    g_container<g_node*> myNodes;
};
