#include "grid/cell_pruning.h"

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_pedge.h"
#include "geomlib/g_vector.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"

namespace {

// Corner angles of an accepted cell lie within [45, 135] degrees.
constexpr double kMinCornerAngle = 0.7853981633974483;
constexpr double kMaxCornerAngle = 2.356194490192345;

// A grid corner has at most 4 successors; more means extra cells meet there.
constexpr uint32_t kMaxSuccessors = 4;

// Scans `pending` from the first cell. A rejected cell is moved to
// `rejected`; the last cell then fills its slot and is examined next, so only
// an accepted cell advances the index.
template <class Reject>
void scan(g_container<GridElement*>& pending, g_container<GridElement*>& rejected, Reject reject) {
    uint32_t index = 0;
    while (index < pending.numberOfItems()) {
        GridElement* cell = pending.item(index);
        if (reject(cell)) {
            pending.remove(cell);
            rejected.append(cell);
        } else {
            ++index;
        }
    }
}

// Pass 1: how the cell meets other cells at its nodes and sides.
bool failsTopology(GridElement* cell) {
    int overConnected = 0;
    for (uint32_t k = 0; k < 4; ++k)
        if (cell->getNode(k)->successors().numberOfItems() > kMaxSuccessors) ++overConnected;
    if (overConnected >= 2) return true;

    const uint32_t edgeCount = cell->edgeNeighbours().numberOfItems();
    const uint32_t vertexCount = cell->vertexNeighbours().numberOfItems();
    if (edgeCount == 0) return true;
    if (vertexCount == 8 && edgeCount < 4) return true;
    if ((vertexCount == 7 || vertexCount == 6) && edgeCount < 3) return true;

    // A cell that touches another element at a corner must share one of the
    // two sides that meet there.
    for (uint32_t i = 0; i < 4; ++i) {
        g_node* corner = cell->getNode(i);
        if (cell->othersAtNode(corner).isEmpty()) continue;
        const g_pedge before(cell->getNode((i + 3) % 4), corner);
        if (!cell->sharingEdge(before).isEmpty()) continue;
        const g_pedge after(corner, cell->getNode((i + 1) % 4));
        if (cell->sharingEdge(after).isEmpty()) return true;
    }
    return false;
}

bool angleInBounds(const g_vector& a, const g_vector& b) {
    // A zero-length side has no angle; it also makes angle() not a number.
    if (a.length() == 0.0 || b.length() == 0.0) return false;
    const double angle = a.angle(b);
    return angle >= kMinCornerAngle && angle <= kMaxCornerAngle;  // false for NaN
}

// Pass 2: every corner angle within bounds.
bool failsShape(GridElement* cell) {
    g_vector P[4];
    for (uint32_t k = 0; k < 4; ++k) P[k] = cell->getNode(k)->getCoordinates();
    for (int k = 0; k < 4; ++k) {
        const g_vector& corner = P[k];
        if (!angleInBounds(P[(k + 1) % 4] - corner, P[(k + 3) % 4] - corner)) return true;
    }
    return false;
}

// Pass 3: at least one side neighbour is a four-node cell still pending.
bool failsConnectivity(GridElement* cell, g_container<GridElement*>& pending) {
    g_container<g_element*> neighbours = cell->edgeNeighbours();
    for (uint32_t k = 0; k < neighbours.numberOfItems(); ++k) {
        auto* neighbour = dynamic_cast<GridElement*>(neighbours.item(k));
        if (neighbour != nullptr && neighbour->nodes().numberOfItems() == 4 && pending.memberOf(neighbour))
            return false;
    }
    return true;
}

}  // namespace

void deleteGridCell(g_container<GridElement*>& list, GridElement* cell) {
    if (cell == nullptr || !list.memberOf(cell)) return;
    // Every node lets go of the cell, so no element list keeps a dangling
    // pointer to it.
    g_container<g_node*>& nodes = cell->nodes();
    for (uint32_t k = 0; k < nodes.numberOfItems(); ++k) nodes.item(k)->removeElement(cell);
    list.remove(cell);
    delete cell;
}

void pruneGridCells(GridSet& set) {
    g_container<GridElement*>& pending = set.pendingElements;
    // Rejected cells stay registered at their nodes until the end, so every
    // neighbour query of the three passes still sees them.
    g_container<GridElement*> rejected;

    scan(pending, rejected, failsTopology);
    scan(pending, rejected, failsShape);
    scan(pending, rejected, [&pending](GridElement* cell) { return failsConnectivity(cell, pending); });

    while (!rejected.isEmpty()) deleteGridCell(rejected, rejected.item(0));
}
