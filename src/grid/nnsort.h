#pragma once
// Delaunay triangulation of a part's nodes by incremental insertion.

#include <array>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "geomlib/g_part.h"
#include "geomlib/g_vector.h"

// Thrown when the triangulation cannot run: its storage cannot be obtained,
// its cavity face list overflows, or it was asked for a dimension other than
// 2 or 3. The part is left without new elements.
class TriangulationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The Delaunay triangles of the points (their first `dimension` coordinates),
// as point indices in emission order, each listed so that its signed area in
// (x, y) is positive. Writes the two diagnostic lines to `diag`.
// Dimension 3 builds the tetrahedra and returns no triangles.
std::vector<std::array<int, 3>> delaunayTriangles(const std::vector<g_vector>& points, int dimension,
                                                  std::ostream& diag);

// Adds one element per Delaunay triangle of the part's nodes (ids 1 .. n) to
// the part, made with makeTriangle from 0-based node positions.
void nnsort(g_part& part, int dimension, std::ostream& diag);
