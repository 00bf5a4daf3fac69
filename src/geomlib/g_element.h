#pragma once

#include <cstdint>
#include <vector>

#include "geomlib/g_container.h"
#include "geomlib/g_node.h"
#include "geomlib/g_pedge.h"
#include "geomlib/g_vector.h"

class g_part;

// An ordered polygon of nodes; side k runs from node k to node (k + 1) mod
// count. An element registers itself with its nodes, and all neighbour
// queries go through the nodes' element lists. Destroying an element
// unregisters it nowhere.
class g_element {
public:
    g_element();
    g_element(const g_element&) = delete;
    g_element& operator=(const g_element&) = delete;
    virtual ~g_element();

    // A new plain g_element, also when called on a derived element.
    virtual g_element* create() const;

    // Appends n (not null, not yet present) and registers this element at n.
    void addNode(g_node* n);
    g_node* getNode(uint32_t index) const;
    g_container<g_node*>& nodes() { return e_nodes; }
    const g_container<g_node*>& nodes() const { return e_nodes; }
    bool isNode(g_node* n) const { return e_nodes.memberOf(n); }

    int getId() const { return id; }
    void setId(int anId) { id = anId; }

    g_container<g_part*>& parts() { return myParts; }
    const g_container<g_part*>& parts() const { return myParts; }
    void addPart(g_part* p) { myParts.append(p); }

    // Side index: node index to node (index + 1) mod count.
    g_pedge edge(uint32_t index) const;
    // Every side as a newly made g_pedge, in side order; the caller deletes them.
    g_container<g_pedge*> edges() const;
    // Every other element that has both end nodes of the edge.
    g_container<g_element*> sharingEdge(const g_pedge& anEdge) const;
    // Other elements sharing a side, sorted, no repeats.
    g_container<g_element*> edgeNeighbours() const;
    // Other elements sharing a node, sorted, no repeats.
    g_container<g_element*> vertexNeighbours() const;
    // n's element list without this element (the last entry takes its
    // place); empty when this element is not registered at n.
    g_container<g_element*> othersAtNode(g_node* n) const;
    // Mean of the node coordinates; (0, 0, 0) for an element without nodes.
    g_vector centroid() const;

    uint64_t serial() const { return mySerial; }

private:
    // edgeNeighbours for elements with a long element list at some node.
    g_container<g_element*> edgeNeighboursGeneral() const;
    static void fillNeighbours(g_container<g_element*>& result, const std::vector<g_element*>& items,
                               uint32_t slots);

    int id = 0;
    g_container<g_node*> e_nodes;
    g_container<g_part*> myParts;
    uint64_t mySerial;
};
