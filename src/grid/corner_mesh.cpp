#include "grid/corner_mesh.h"

#include <algorithm>
#include <new>

#include "geomlib/fatal_error.h"
#include "geomlib/g_node.h"
#include "geomlib/g_vector.h"
#include "grid/nnsort.h"

void triangulateCorners(GridSet& set, int frame, std::ostream& diag) {
    if (set.imagePoints.empty() || set.pointCount.empty() || set.pointOffset.empty() || set.triangleParts.empty() ||
        set.gridParts.empty())
        return;
    if (frame < 0 || frame >= set.frameCount) return;
    const size_t f = static_cast<size_t>(frame);
    if (f >= set.pointCount.size() || f >= set.pointOffset.size() || f >= set.triangleParts.size() ||
        f >= set.gridParts.size() || !set.triangleParts[f] || !set.gridParts[f])
        return;

    // Only the frame's own slots are read, whatever the count says: a count
    // beyond maxPoints would otherwise walk into the next frame's corners.
    const long long offset = set.pointOffset[f];
    long long count = std::min(set.pointCount[f], set.maxPoints);
    if (offset < 0 || count < 0) count = 0;
    count = std::max(0LL, std::min(count, static_cast<long long>(set.imagePoints.size()) - offset));

    g_part& triangles = *set.triangleParts[f];
    g_part& grid = *set.gridParts[f];
    for (long long k = 0; k < count; ++k) {
        const GridPoint& corner = set.imagePoints[static_cast<size_t>(offset + k)];
        const g_vector position(static_cast<double>(corner.x), static_cast<double>(corner.y), 0.0);
        // A node that cannot be made is left out of that part only.
        if (g_node* node = new (std::nothrow) g_node(position)) triangles.addNode(node);
        if (g_node* node = new (std::nothrow) g_node(position)) grid.addNode(node);
    }
    nnsort(triangles, 2, diag);
}

GridElement* makeTriangle(g_part& part, int a, int b, int c) {
    const uint32_t count = part.nodes().numberOfItems();
    const int positions[3] = {a, b, c};
    for (int position : positions)
        G_CHECK(position >= 0 && static_cast<uint32_t>(position) < count, "index < numberOfItems()",
                "Index out of range.");

    auto* triangle = new GridElement();
    try {
        for (int position : positions) triangle->addNode(part.nodes().item(static_cast<uint32_t>(position)));
    } catch (...) {
        // A repeated node: take the half-made triangle off the nodes it
        // reached before it goes, so no node keeps a dangling entry.
        for (uint32_t i = 0; i < triangle->nodes().numberOfItems(); ++i)
            triangle->nodes().item(i)->removeElement(triangle);
        delete triangle;
        throw;
    }
    return triangle;
}
