#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geomlib/g_container.h"
#include "geomlib/g_part.h"
#include "grid/grid_element.h"

// A position in the image (pixels) or on the pattern (cells).
struct GridPoint {
    float x, y;
};

// The per-frame store of grid extraction: point slots, the two meshes of
// every frame and the work list of candidate cells. An empty vector means the
// array is absent.
class GridSet {
public:
    GridSet() = default;
    GridSet(const GridSet&) = delete;
    GridSet& operator=(const GridSet&) = delete;
    ~GridSet();

    int maxPoints = 0;
    int frameCount = 0;
    // Per frame: maxPoints until corners are searched, then the corner count,
    // finally the correspondence count.
    std::vector<int> pointCount;
    // Per frame: index of the first slot, frame * maxPoints.
    std::vector<int> pointOffset;
    std::vector<GridPoint> imagePoints;
    std::vector<GridPoint> patternPoints;
    // Per frame: corner nodes and their Delaunay triangles.
    std::vector<std::unique_ptr<g_part>> triangleParts;
    // Per frame: a second node per corner and the accepted cells.
    std::vector<std::unique_ptr<g_part>> gridParts;
    // Candidate cells on their way into gridParts; owns nothing.
    g_container<GridElement*> pendingElements;

    // Releases everything, then makes frameCount records of maxPoints
    // zero-filled slots and two empty parts each. Nothing is made when an
    // argument is not positive or the slot total does not fit 32 bits.
    void allocate(int frameCount, int maxPoints);
    // Frees all arrays and parts (elements first); maxPoints, frameCount and
    // pendingElements keep their contents.
    void release();
    // Removes frame `frame`'s record; the frames after it move down by one.
    // The work list is emptied (it may name cells of the removed frame).
    // Nothing happens when the frame is not held.
    void removeFrame(int frame);

    bool hasFrame(int frame) const;
    int getPointCount(int frame) const;
    int getTotalPointCount() const;
    bool getImagePoint(int frame, int index, GridPoint& out) const;
    bool getPatternPoint(int frame, int index, GridPoint& out) const;
    int getCellCount(int frame) const;
    GridElement* getCell(int frame, int index) const;

private:
    bool getPoint(const std::vector<GridPoint>& points, int frame, int index, GridPoint& out) const;
};
