#pragma once
// The store of grid extraction: one record per frame (FrameGrid) and the
// work list of candidate cells.

#include <vector>

#include "geomlib/g_container.h"
#include "grid/frame_grid.h"
#include "grid/grid_element.h"

class GridSet {
public:
    GridSet() = default;
    GridSet(const GridSet&) = delete;
    GridSet& operator=(const GridSet&) = delete;
    ~GridSet();

    // Point slots of every record.
    int maxPoints = 0;
    // One record per frame, by frame index.
    std::vector<FrameGrid> frames;
    // Candidate cells on their way into a record's grid part; owns nothing.
    g_container<GridElement*> pendingElements;

    // Releases everything, then makes frameCount records of maxPoints
    // zero-filled slots (the count maxPoints: not searched) and two empty
    // parts each. Nothing is made when an argument is not positive or the
    // slot total does not fit 32 bits.
    void allocate(int frameCount, int maxPoints);
    // Empties every record (parts deleted, elements first); the number of
    // records, maxPoints and pendingElements keep their contents.
    void release();
    // Sets the number of records to `frameCount`: the records below it are
    // kept, new ones are absent (no slots, no parts) until reset.
    void resize(int frameCount);
    // Makes frame `frame`'s record anew: zero-filled slots, `count` slots
    // in use, two empty parts, not searched. False (the record absent) when
    // the frame is out of range or the storage cannot be had.
    bool resetFrame(int frame, int count);
    // Removes frame `frame`'s record; the frames after it move down by one.
    // The work list is emptied (it may name cells of the removed frame).
    // Nothing happens when the frame is out of range.
    void removeFrame(int frame);

    int frameCount() const { return static_cast<int>(frames.size()); }
    // The record has its slots and both parts.
    bool hasFrame(int frame) const;
    int getPointCount(int frame) const;
    int getTotalPointCount() const;
    bool getImagePoint(int frame, int index, GridPoint& out) const;
    bool getPatternPoint(int frame, int index, GridPoint& out) const;
    int getCellCount(int frame) const;
    GridElement* getCell(int frame, int index) const;

private:
    bool getPoint(const std::vector<GridPoint> FrameGrid::*points, int frame, int index, GridPoint& out) const;
};
