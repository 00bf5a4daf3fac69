#pragma once

#include <cstdint>

#include "geomlib/g_container.h"
#include "geomlib/g_vector.h"

class g_element;

// Returns the next value of the process-wide creation counter shared by nodes
// and elements; containers order mesh entities by it.
uint64_t g_nextSerial();

// A point of a mesh with the list of elements that use it.
class g_node {
public:
    g_node();
    explicit g_node(const g_vector& coordinates);
    // A copy is a new node (own serial) with the same id, element list and
    // coordinates.
    g_node(const g_node& other);
    g_node& operator=(const g_node& other);
    virtual ~g_node();

    // A new default node.
    virtual g_node* create() const;

    g_vector getCoordinates() const { return coordinates; }
    void setCoordinates(const g_vector& at) { coordinates = at; }
    int getId() const { return id; }
    void setId(int anId) { id = anId; }

    g_container<g_element*>& elements() { return myElements; }
    const g_container<g_element*>& elements() const { return myElements; }

    // Registers e unless it is already registered.
    void addElement(g_element* e);
    // Unregisters e; the last entry takes its place.
    void removeElement(g_element* e);

    // End nodes of the element sides that start at this node, sorted, no repeats.
    g_container<g_node*> successors() const;

    uint64_t serial() const { return mySerial; }

private:
    g_vector coordinates;
    int id = 0;
    g_container<g_element*> myElements;
    uint64_t mySerial;
};
