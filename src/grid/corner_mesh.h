#pragma once
// The corner mesh of a frame: two node sets made from the frame's corner
// slots, and the Delaunay triangles of the first one.

#include <ostream>

#include "geomlib/g_part.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"

// Adds one node per corner slot of the frame to the frame's trianglePart and a
// second, independent one to the frame's gridPart (node id k + 1 from slot k),
// then triangulates the frame's trianglePart. Does nothing when the frame's
// record is absent or the frame is out of range. The triangulation's two
// diagnostic lines go to `diag`; TriangulationError passes through.
void triangulateCorners(GridSet& set, int frame, std::ostream& diag);

// A new triangle on the nodes at 0-based positions a, b, c of the part's node
// list, in that order, registered with those nodes but not added to the part.
// A position outside the node list, or a repeated node, throws Fatal_Error and
// leaves the nodes as they were.
GridElement* makeTriangle(g_part& part, int a, int b, int c);
