#include "grid/grid_set.h"

#include <algorithm>
#include <climits>
#include <new>

const char* gridFailureText(GridFailure failure) {
    switch (failure) {
        case GridFailure::NotRead: return "not read";
        case GridFailure::NoBoardFound: return "no board found";
        case GridFailure::MarkersMisfit: return "markers do not fit the grid";
        case GridFailure::None: break;
    }
    return "";
}

std::string frameFailureText(const FrameGrid& grid) {
    std::string text = gridFailureText(grid.failure);
    if (grid.failure == GridFailure::NotRead && !grid.unreadReason.empty()) text += ": " + grid.unreadReason;
    return text;
}

GridFailure searchFailure(int points, const std::string& rejected) {
    if (points > 0) return GridFailure::None;
    return rejected.empty() ? GridFailure::NoBoardFound : GridFailure::MarkersMisfit;
}

GridSet::~GridSet() { release(); }

void GridSet::allocate(int aFrameCount, int aMaxPoints) {
    release();
    if (aFrameCount <= 0 || aMaxPoints <= 0) return;
    // Point totals are 32-bit: refuse sizes they cannot count.
    if (static_cast<long long>(aFrameCount) * aMaxPoints > INT_MAX) return;
    try {
        frames.clear();
        frames.resize(static_cast<size_t>(aFrameCount));
    } catch (const std::bad_alloc&) {
        return;
    }
    maxPoints = aMaxPoints;
    for (int f = 0; f < aFrameCount; ++f) {
        if (!resetFrame(f, aMaxPoints)) {
            release();
            return;
        }
    }
}

void GridSet::release() {
    // Every element goes before any node; destroying a part then deletes
    // its nodes.
    for (FrameGrid& record : frames) {
        if (record.trianglePart) record.trianglePart->clearElements();
        if (record.gridPart) record.gridPart->clearElements();
    }
    for (FrameGrid& record : frames) record = FrameGrid{};
}

void GridSet::resize(int frameCount) { frames.resize(static_cast<size_t>(std::max(frameCount, 0))); }

bool GridSet::resetFrame(int frame, int count) {
    if (frame < 0 || frame >= frameCount()) return false;
    FrameGrid& record = frames[static_cast<size_t>(frame)];
    // The work list may still name cells of the parts freed here.
    pendingElements.clear();
    record = FrameGrid{};
    if (maxPoints <= 0) return false;
    try {
        record.imagePoints.assign(static_cast<size_t>(maxPoints), GridPoint{0.0f, 0.0f});
        record.patternPoints.assign(static_cast<size_t>(maxPoints), GridPoint{0.0f, 0.0f});
        record.trianglePart = std::make_unique<g_part>();
        record.gridPart = std::make_unique<g_part>();
    } catch (const std::bad_alloc&) {
        record = FrameGrid{};
        return false;
    }
    record.pointCount = count;
    return true;
}

void GridSet::removeFrame(int frame) {
    if (frame < 0 || frame >= frameCount()) return;
    pendingElements.clear();
    FrameGrid& record = frames[static_cast<size_t>(frame)];
    // Elements before nodes, as in release().
    if (record.trianglePart) record.trianglePart->clearElements();
    if (record.gridPart) record.gridPart->clearElements();
    frames.erase(frames.begin() + frame);
}

bool GridSet::hasFrame(int frame) const {
    if (frame < 0 || frame >= frameCount() || maxPoints <= 0) return false;
    const FrameGrid& record = frames[static_cast<size_t>(frame)];
    const size_t slots = static_cast<size_t>(maxPoints);
    return record.imagePoints.size() == slots && record.patternPoints.size() == slots && record.trianglePart &&
           record.gridPart;
}

int GridSet::getPointCount(int frame) const {
    if (frame < 0 || frame >= frameCount()) return 0;
    return frames[static_cast<size_t>(frame)].pointCount;
}

int GridSet::getTotalPointCount() const {
    long long total = 0;
    for (const FrameGrid& record : frames) total += record.pointCount;
    if (total > INT_MAX) return INT_MAX;
    if (total < INT_MIN) return INT_MIN;
    return static_cast<int>(total);
}

bool GridSet::getPoint(const std::vector<GridPoint> FrameGrid::*points, int frame, int index, GridPoint& out) const {
    if (frame < 0 || frame >= frameCount()) return false;
    const FrameGrid& record = frames[static_cast<size_t>(frame)];
    // A count beyond the frame's slots would read past them.
    if (index < 0 || index >= record.pointCount || static_cast<size_t>(index) >= (record.*points).size()) return false;
    out = (record.*points)[static_cast<size_t>(index)];
    return true;
}

bool GridSet::getImagePoint(int frame, int index, GridPoint& out) const {
    return getPoint(&FrameGrid::imagePoints, frame, index, out);
}

bool GridSet::getPatternPoint(int frame, int index, GridPoint& out) const {
    return getPoint(&FrameGrid::patternPoints, frame, index, out);
}

int GridSet::getCellCount(int frame) const {
    if (frame < 0 || frame >= frameCount()) return 0;
    const g_part* part = frames[static_cast<size_t>(frame)].gridPart.get();
    return part ? static_cast<int>(part->elements().numberOfItems()) : 0;
}

GridElement* GridSet::getCell(int frame, int index) const {
    if (index < 0 || index >= getCellCount(frame)) return nullptr;
    g_element* e = frames[static_cast<size_t>(frame)].gridPart->elements().item(static_cast<uint32_t>(index));
    return dynamic_cast<GridElement*>(e);
}
