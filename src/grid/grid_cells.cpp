#include "grid/grid_cells.h"

#include "geomlib/g_part.h"
#include "grid/cell_pruning.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"
#include "grid/triangle_pairing.h"

int buildGridCells(GridSet& set, int frame, const cv::Mat& image) {
    if (!set.hasFrame(frame) || image.empty()) return 0;
    g_part* gridPart = set.frames[static_cast<size_t>(frame)].gridPart.get();

    pairTriangles(set, frame, image);
    const int candidateCount = static_cast<int>(set.pendingElements.numberOfItems());
    pruneGridCells(set);

    // The part takes the survivors in list order and numbers them; the list
    // is left empty so that it never points at cells the part owns.
    GridElement* cell = nullptr;
    while (set.pendingElements.removeFirst(cell)) gridPart->addElement(cell);
    return candidateCount;
}
