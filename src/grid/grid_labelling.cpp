#include "grid/grid_labelling.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <unordered_map>

#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_vector.h"
#include "grid/grid_element.h"

namespace {

// A cell of the walk: a GridElement with four nodes; anything else is ignored.
GridElement* asCell(g_element* element) {
    auto* cell = dynamic_cast<GridElement*>(element);
    if (cell == nullptr || cell->nodes().numberOfItems() != 4) return nullptr;
    return cell;
}

bool hasBothLabels(const GridElement* cell) {
    return cell->gridX != NO_LABEL && cell->gridY != NO_LABEL;
}

bool hasNoLabels(const GridElement* cell) {
    return cell->gridX == NO_LABEL && cell->gridY == NO_LABEL;
}

// Node positions are taken modulo 4 (the cell's two low bits).
g_node* nodeAt(GridElement* cell, int position) {
    return cell->getNode(static_cast<uint32_t>(position) & 3u);
}

int positionOf(GridElement* cell, g_node* node) {
    uint32_t position = 0;
    if (!cell->nodes().find(node, position)) return -1;
    return static_cast<int>(position);
}

// label + delta, kept inside the 32-bit range and off NO_LABEL.
int32_t shifted(int32_t label, int delta) {
    const int64_t value = static_cast<int64_t>(label) + delta;
    const int64_t lo = static_cast<int64_t>(std::numeric_limits<int32_t>::min()) + 1;
    const int64_t hi = std::numeric_limits<int32_t>::max();
    int64_t clamped = std::clamp(value, lo, hi);
    if (clamped == NO_LABEL) clamped = label;  // never turn a label into "no label"
    return static_cast<int32_t>(clamped);
}

struct WalkEntry {
    GridElement* cell;
    g_node* p;  // the oriented edge (p, q) on the cell's +x side,
    g_node* q;  // q at its +y end
};

// The four side neighbours of a queued cell, by what they share with (p, q).
struct SideNeighbours {
    GridElement* nq = nullptr;   // has q, not p
    GridElement* npq = nullptr;  // has p and q
    GridElement* no = nullptr;   // has neither
    GridElement* np = nullptr;   // has p, not q
};

SideNeighbours findSideNeighbours(GridElement* cell, g_node* p, g_node* q) {
    SideNeighbours found;
    g_container<g_element*> around = cell->edgeNeighbours();
    const uint32_t count = around.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        GridElement* other = asCell(around.item(i));
        if (other == nullptr) continue;
        const bool hasP = other->isNode(p);
        const bool hasQ = other->isNode(q);
        GridElement** slot = nullptr;
        if (hasQ && !hasP) slot = &found.nq;
        else if (hasP && hasQ) slot = &found.npq;
        else if (!hasP && !hasQ) slot = &found.no;
        else slot = &found.np;
        if (*slot == nullptr) *slot = other;
    }
    return found;
}

}  // namespace

void walkGrid(GridElement* origin, g_container<g_element*>& cells) {
    origin->gridX = 0;
    origin->gridY = 0;
    std::deque<WalkEntry> queue;
    queue.push_back({origin, nodeAt(origin, 0), nodeAt(origin, 1)});
    std::unordered_map<const GridElement*, int> visits;

    auto isQueued = [&queue](const GridElement* cell) {
        return std::any_of(queue.begin(), queue.end(), [cell](const WalkEntry& entry) { return entry.cell == cell; });
    };

    while (!queue.empty()) {
        const WalkEntry entry = queue.front();
        queue.pop_front();
        GridElement* e = entry.cell;
        g_node* p = entry.p;
        g_node* q = entry.q;
        if (!cells.memberOf(e)) continue;
        if (++visits[e] > kMaxWalkVisits) continue;

        const SideNeighbours n = findSideNeighbours(e, p, q);

        if (hasNoLabels(e)) {
            if (n.nq != nullptr && hasBothLabels(n.nq)) {
                e->gridX = n.nq->gridX;
                e->gridY = shifted(n.nq->gridY, -1);
            } else if (n.npq != nullptr && hasBothLabels(n.npq)) {
                e->gridX = shifted(n.npq->gridX, -1);
                e->gridY = n.npq->gridY;
            } else if (n.no != nullptr && hasBothLabels(n.no)) {
                e->gridX = shifted(n.no->gridX, 1);
                e->gridY = n.no->gridY;
            } else if (n.np != nullptr && hasBothLabels(n.np)) {
                e->gridX = n.np->gridX;
                e->gridY = shifted(n.np->gridY, 1);
            }
        }
        if (hasBothLabels(e)) e->labelled = 1;

        auto wanted = [&isQueued](GridElement* cell) {
            return cell != nullptr && cell->labelled == 0 && !isQueued(cell);
        };
        if (wanted(n.nq)) {
            const int k = positionOf(n.nq, q);
            if (k >= 0) queue.push_back({n.nq, q, nodeAt(n.nq, k + 1)});
        }
        if (wanted(n.npq)) {
            const int k = positionOf(n.npq, p);
            if (k >= 0) queue.push_back({n.npq, nodeAt(n.npq, k + 1), nodeAt(n.npq, k + 2)});
        }
        if (wanted(n.no)) {
            const int k = positionOf(e, p);
            if (k >= 0) {
                g_node* r = nodeAt(e, k - 1);
                const int k2 = positionOf(n.no, r);
                if (k2 >= 0) queue.push_back({n.no, r, nodeAt(n.no, k2 + 1)});
            }
        }
        if (wanted(n.np)) {
            const int k = positionOf(n.np, p);
            if (k >= 0) queue.push_back({n.np, nodeAt(n.np, k - 1), p});
        }
    }
}

namespace {

// The eight ways from walk labels (x, y) to pattern labels; each maps the
// origin marker's (0, 0) to (0, 3) and reverses the walk's sense of rotation.
enum class Orientation { None, YX3, NegY3X, NegXY3, X3Y };

Orientation fromRowOrColumnMarker(int32_t a, int32_t b) {
    if (a < 0) return Orientation::YX3;
    if (a > 0) return Orientation::NegY3X;
    if (b < 0) return Orientation::NegXY3;
    if (b > 0) return Orientation::X3Y;
    return Orientation::None;
}

Orientation fromDiagonalMarker(int32_t a, int32_t b) {
    if (a < 0 && b < 0) return Orientation::NegXY3;
    if (a < 0 && b > 0) return Orientation::YX3;
    if (a > 0 && b < 0) return Orientation::NegY3X;
    if (a > 0 && b > 0) return Orientation::X3Y;
    return Orientation::None;
}

void toPattern(Orientation orientation, int64_t x, int64_t y, int64_t& px, int64_t& py) {
    switch (orientation) {
        case Orientation::YX3: px = y; py = x + 3; break;
        case Orientation::NegY3X: px = -y; py = 3 - x; break;
        case Orientation::NegXY3: px = -x; py = y + 3; break;
        case Orientation::X3Y: px = x; py = 3 - y; break;
        case Orientation::None: px = x; py = y; break;
    }
}

Orientation chooseOrientation(GridElement** markers) {
    if (!hasBothLabels(markers[1])) return Orientation::None;
    if (markers[1]->gridX != 0 && markers[1]->gridY != 0) std::swap(markers[1], markers[2]);
    if (markers[1] != nullptr && hasBothLabels(markers[1]))
        return fromRowOrColumnMarker(markers[1]->gridX, markers[1]->gridY);
    if (markers[2] == nullptr || !hasBothLabels(markers[2])) return Orientation::None;
    return fromDiagonalMarker(markers[2]->gridX, markers[2]->gridY);
}

bool isKept(g_element* element) {
    auto* cell = dynamic_cast<GridElement*>(element);
    return cell != nullptr && cell->inGrid != 0;
}

// Emits the corners of one kept cell with pattern labels (X, Y).
void emitCorners(GridElement* cell, g_container<g_node*>& imageNodes, g_container<g_node*>& patternNodes,
                 int& count) {
    const int64_t X = cell->gridX;
    const int64_t Y = cell->gridY;
    int t[4] = {0, 0, 0, 0};
    int deciding = -1;
    int decidingClass = 0;
    for (int i = 0; i < 4; ++i) {
        g_container<g_element*> others = cell->othersAtNode(nodeAt(cell, i));
        int64_t sx = 0;
        int64_t sy = 0;
        const uint32_t n = others.numberOfItems();
        for (uint32_t j = 0; j < n; ++j) {
            if (!isKept(others.item(j))) continue;
            auto* other = static_cast<GridElement*>(others.item(j));
            ++t[i];
            sx += other->gridX - X;
            sy += other->gridY - Y;
        }
        if (deciding < 0 && t[i] >= 2 && sx != 0 && sy != 0) {
            deciding = i;
            if (sx > 0 && sy < 0) decidingClass = 0;
            else if (sx > 0 && sy > 0) decidingClass = 1;
            else if (sx < 0 && sy > 0) decidingClass = 2;
            else decidingClass = 3;
        }
    }
    if (deciding < 0) return;

    bool hasUpper = false;
    bool hasRight = false;
    bool hasLeft = false;
    g_container<g_element*> around = cell->edgeNeighbours();
    const uint32_t n = around.numberOfItems();
    for (uint32_t j = 0; j < n; ++j) {
        if (!isKept(around.item(j))) continue;
        auto* other = static_cast<GridElement*>(around.item(j));
        if (other->gridX < X) hasUpper = true;
        else if (other->gridX == X && other->gridY > Y) hasRight = true;
        else if (other->gridX == X && other->gridY < Y) hasLeft = true;
    }

    // Node i has class (decidingClass + deciding - i) mod 4.
    auto nodeOfClass = [&](int cls) { return (deciding + decidingClass - cls + 8) & 3; };
    auto emit = [&](int cls) {
        g_node* node = nodeAt(cell, nodeOfClass(cls));
        if (imageNodes.memberOf(node)) return;
        int64_t px = X;
        int64_t py = Y;
        if (cls == 0) py = Y - 1;
        else if (cls == 2) px = X - 1;
        else if (cls == 3) { px = X - 1; py = Y - 1; }
        auto* patternNode = new g_node(g_vector(static_cast<double>(px), static_cast<double>(py), 0.0));
        try {
            patternNodes.append(patternNode);
        } catch (...) {
            delete patternNode;
            throw;
        }
        imageNodes.append(node);
        ++count;
    };

    emit(1);
    if (!hasLeft) emit(0);
    const int t2 = t[nodeOfClass(2)];
    if (t2 == 0 || (t2 == 1 && !hasUpper && hasRight)) emit(2);
    if (t[nodeOfClass(3)] == 0) emit(3);
}

}  // namespace

int placeGrid(const GridPlacement& placement, g_container<g_element*>& cells, g_container<g_node*>& imageNodes,
              g_container<g_node*>& patternNodes) {
    const uint32_t cellCount = cells.numberOfItems();
    for (uint32_t i = 0; i < cellCount; ++i) {
        GridElement* cell = asCell(cells.item(i));
        if (cell == nullptr || !hasBothLabels(cell)) continue;
        int64_t px = 0;
        int64_t py = 0;
        toPattern(static_cast<Orientation>(placement.orientation + 1),
                  static_cast<int64_t>(cell->gridX) - placement.originX,
                  static_cast<int64_t>(cell->gridY) - placement.originY, px, py);
        if (px >= kWindowMinX && px <= kWindowMaxX && py >= kWindowMinY && py <= kWindowMaxY) {
            cell->inGrid = 1;
            cell->gridX = static_cast<int32_t>(px);
            cell->gridY = static_cast<int32_t>(py);
        }
    }

    int count = 0;
    for (uint32_t i = 0; i < cellCount; ++i) {
        GridElement* cell = asCell(cells.item(i));
        if (cell == nullptr || cell->inGrid == 0) continue;
        emitCorners(cell, imageNodes, patternNodes, count);
    }
    return count;
}

cv::Point walkOffsetOf(int orientation, int patternX, int patternY) {
    // The inverse of toPattern's maps, for the offset from the origin cell.
    switch (static_cast<Orientation>(orientation + 1)) {
        case Orientation::YX3: return {patternY - kOriginCellY, patternX};
        case Orientation::NegY3X: return {kOriginCellY - patternY, -patternX};
        case Orientation::NegXY3: return {-patternX, patternY - kOriginCellY};
        case Orientation::X3Y: return {patternX, kOriginCellY - patternY};
        case Orientation::None: break;
    }
    return {0, 0};
}

int labelGrid(GridElement** markers, int markerCount, g_container<g_element*>& cells,
              g_container<g_node*>& imageNodes, g_container<g_node*>& patternNodes) {
    if (markers == nullptr || markerCount != 3 || markers[0] == nullptr || markers[1] == nullptr) return 0;
    GridElement* origin = markers[0];
    if (!cells.memberOf(origin) || origin->nodes().numberOfItems() != 4) return 0;

    walkGrid(origin, cells);

    const Orientation orientation = chooseOrientation(markers);
    if (orientation == Orientation::None) return 0;
    return placeGrid({static_cast<int>(orientation) - 1, 0, 0}, cells, imageNodes, patternNodes);
}
