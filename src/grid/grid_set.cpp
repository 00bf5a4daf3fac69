#include "grid/grid_set.h"

#include <algorithm>
#include <climits>
#include <new>

GridSet::~GridSet() { release(); }

void GridSet::allocate(int aFrameCount, int aMaxPoints) {
    release();
    if (aFrameCount <= 0 || aMaxPoints <= 0) return;
    // Slot indices and offsets are 32-bit: refuse sizes they cannot address.
    const long long slots = static_cast<long long>(aFrameCount) * aMaxPoints;
    if (slots > INT_MAX) return;
    maxPoints = aMaxPoints;
    frameCount = aFrameCount;
    try {
        pointCount.assign(static_cast<size_t>(aFrameCount), aMaxPoints);
        pointOffset.resize(static_cast<size_t>(aFrameCount));
        imagePoints.assign(static_cast<size_t>(slots), GridPoint{0.0f, 0.0f});
        patternPoints.assign(static_cast<size_t>(slots), GridPoint{0.0f, 0.0f});
        triangleParts.reserve(static_cast<size_t>(aFrameCount));
        gridParts.reserve(static_cast<size_t>(aFrameCount));
        for (int f = 0; f < aFrameCount; ++f) {
            triangleParts.push_back(std::make_unique<g_part>());
            gridParts.push_back(std::make_unique<g_part>());
        }
    } catch (const std::bad_alloc&) {
        release();
        return;
    }
    for (int f = 0; f < aFrameCount; ++f) pointOffset[static_cast<size_t>(f)] = f * aMaxPoints;
}

void GridSet::release() {
    std::vector<int>().swap(pointCount);
    std::vector<int>().swap(pointOffset);
    std::vector<GridPoint>().swap(imagePoints);
    std::vector<GridPoint>().swap(patternPoints);
    for (auto* parts : {&triangleParts, &gridParts}) {
        for (auto& part : *parts) {
            if (part) part->clearElements();
        }
    }
    // Destroying the parts deletes their nodes.
    std::vector<std::unique_ptr<g_part>>().swap(triangleParts);
    std::vector<std::unique_ptr<g_part>>().swap(gridParts);
}

void GridSet::removeFrame(int frame) {
    if (!hasFrame(frame)) return;
    const auto f = static_cast<std::size_t>(frame);
    pendingElements.clear();
    triangleParts[f]->clearElements();
    gridParts[f]->clearElements();
    triangleParts.erase(triangleParts.begin() + frame);
    gridParts.erase(gridParts.begin() + frame);
    pointCount.erase(pointCount.begin() + frame);
    const auto first = static_cast<std::ptrdiff_t>(f * static_cast<std::size_t>(maxPoints));
    imagePoints.erase(imagePoints.begin() + first, imagePoints.begin() + first + maxPoints);
    patternPoints.erase(patternPoints.begin() + first, patternPoints.begin() + first + maxPoints);
    pointOffset.pop_back();
    --frameCount;
}

bool GridSet::hasFrame(int frame) const {
    if (frame < 0 || frame >= frameCount) return false;
    const size_t f = static_cast<size_t>(frame);
    const size_t slots = static_cast<size_t>(frameCount) * static_cast<size_t>(maxPoints > 0 ? maxPoints : 0);
    return pointCount.size() > f && pointOffset.size() > f && triangleParts.size() > f && gridParts.size() > f &&
           !imagePoints.empty() && imagePoints.size() == slots && patternPoints.size() == slots &&
           triangleParts[f] != nullptr && gridParts[f] != nullptr;
}

int GridSet::getPointCount(int frame) const {
    if (pointCount.empty() || frame < 0 || frame >= frameCount) return 0;
    if (static_cast<size_t>(frame) >= pointCount.size()) return 0;
    return pointCount[static_cast<size_t>(frame)];
}

int GridSet::getTotalPointCount() const {
    if (pointCount.empty() || frameCount < 1) return 0;
    long long total = 0;
    const size_t n = std::min(pointCount.size(), static_cast<size_t>(frameCount));
    for (size_t f = 0; f < n; ++f) total += pointCount[f];
    if (total > INT_MAX) return INT_MAX;
    if (total < INT_MIN) return INT_MIN;
    return static_cast<int>(total);
}

bool GridSet::getPoint(const std::vector<GridPoint>& points, int frame, int index, GridPoint& out) const {
    if (pointCount.empty() || pointOffset.empty() || points.empty()) return false;
    if (frame < 0 || frame >= frameCount) return false;
    const size_t f = static_cast<size_t>(frame);
    if (f >= pointCount.size() || f >= pointOffset.size()) return false;
    if (index < 0 || index >= pointCount[f]) return false;
    // A count beyond the frame's slots would read another frame's data.
    if (index >= maxPoints) return false;
    const long long slot = static_cast<long long>(pointOffset[f]) + index;
    if (slot < 0 || static_cast<unsigned long long>(slot) >= points.size()) return false;
    out = points[static_cast<size_t>(slot)];
    return true;
}

bool GridSet::getImagePoint(int frame, int index, GridPoint& out) const {
    return getPoint(imagePoints, frame, index, out);
}

bool GridSet::getPatternPoint(int frame, int index, GridPoint& out) const {
    return getPoint(patternPoints, frame, index, out);
}

int GridSet::getCellCount(int frame) const {
    if (gridParts.empty() || frame < 0 || frame >= frameCount) return 0;
    const size_t f = static_cast<size_t>(frame);
    if (f >= gridParts.size() || !gridParts[f]) return 0;
    return static_cast<int>(gridParts[f]->elements().numberOfItems());
}

GridElement* GridSet::getCell(int frame, int index) const {
    if (index < 0 || index >= getCellCount(frame)) return nullptr;
    g_element* e = gridParts[static_cast<size_t>(frame)]->elements().item(static_cast<uint32_t>(index));
    return dynamic_cast<GridElement*>(e);
}
