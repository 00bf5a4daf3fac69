#include "grid/corner_mesh.h"

#include <algorithm>
#include <new>

#include "geomlib/fatal_error.h"
#include "geomlib/g_node.h"
#include "geomlib/g_vector.h"
#include "grid/nnsort.h"

void triangulateCorners(GridSet& set, int frame, std::ostream& diag) {
    if (!set.hasFrame(frame)) return;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    // Only the frame's own slots are read, whatever the count says.
    const int count = std::clamp(record.pointCount, 0, set.maxPoints);

    g_part& triangles = *record.trianglePart;
    g_part& grid = *record.gridPart;
    for (int k = 0; k < count; ++k) {
        const GridPoint& corner = record.imagePoints[static_cast<size_t>(k)];
        const g_vector position(static_cast<double>(corner.x), static_cast<double>(corner.y), 0.0);
        triangles.addNode(new g_node(position));
        grid.addNode(new g_node(position));
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
