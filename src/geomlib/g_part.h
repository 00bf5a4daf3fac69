#pragma once

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"

// Owns nodes and elements and numbers each kind from 1 in the order taken.
// Destroying a part deletes its elements, then its nodes.
class g_part {
public:
    g_part() = default;
    g_part(const g_part&) = delete;
    g_part& operator=(const g_part&) = delete;
    virtual ~g_part();

    // A new empty part.
    virtual g_part* create() const;
    // Takes ownership of n and gives it the next node id.
    virtual void addNode(g_node* n);
    // Takes ownership of e, records this part in e and gives it the next element id.
    virtual void addElement(g_element* e);

    // The node with the 1-based id.
    g_node* getNode(int id) const;

    g_container<g_node*>& nodes() { return p_nodes; }
    const g_container<g_node*>& nodes() const { return p_nodes; }
    g_container<g_element*>& elements() { return p_elements; }
    const g_container<g_element*>& elements() const { return p_elements; }

    // Deletes every element, taking them off from the first.
    void clearElements();

private:
    g_container<g_node*> p_nodes;
    g_container<g_element*> p_elements;
};
