#pragma once

#include <cstdint>

#include "geomlib/g_element.h"

// Label value of a cell that has not been labelled.
constexpr int NO_LABEL = -1000000;

// The element class of both frame meshes: Delaunay triangles and
// quadrilateral grid cells. Deleting one does not unlink it from its nodes.
class GridElement : public g_element {
public:
    // Triangle: merged into a cell. Cell: lies in the final labelled window.
    uint8_t inGrid = 0;
    // The cell received both grid labels.
    uint8_t labelled = 0;
    // Mean pixel value inside the polygon.
    uint32_t meanGrey = 0;
    int32_t gridX = NO_LABEL;
    int32_t gridY = NO_LABEL;
};
