#include "grid/marker_cells.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <map>
#include <utility>
#include <sstream>

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_vector.h"
#include "grid/grid_element.h"
#include "grid/grid_labelling.h"
#include "grid/grid_set.h"

namespace {

constexpr int kSlotCount = 3;

// Column or row index of a centroid coordinate, truncated toward zero; far
// or non-finite values land well outside any image so the window is empty.
int64_t truncatedIndex(double coordinate) {
    constexpr double kLimit = 1.0e12;
    if (!std::isfinite(coordinate)) return static_cast<int64_t>(-kLimit);
    return static_cast<int64_t>(std::clamp(coordinate, -kLimit, kLimit));
}

bool usableImage(const cv::Mat& image) {
    return !image.empty() && image.depth() == CV_8U && image.dims == 2;
}

// Deletes the pattern nodes made by labelGrid when the call ends, whatever way.
struct PatternNodeRelease {
    g_container<g_node*>& nodes;
    ~PatternNodeRelease() {
        g_node* node = nullptr;
        while (nodes.removeFirst(node)) delete node;
    }
};

std::string describeFalseMarker(GridElement* cell, int markerClass) {
    const g_vector centre = cell->centroid();
    std::ostringstream text;
    text.precision(1);
    text << std::fixed << "marker cell of class " << markerClass << " at image (" << centre.x << ", " << centre.y
         << ") was labelled (" << cell->gridX << ", " << cell->gridY
         << "), which carries no marker of that class; labels not trusted";
    return text.str();
}

}  // namespace

bool isPrintedMarker(int cellX, int cellY, int markerClass) {
    if (markerClass == kMarkerBrightCell) return cellX == kOriginCellX && cellY == kOriginCellY;
    if (markerClass == kMarkerDarkCell) return (cellX == 0 && cellY == 0) || (cellX == 1 && cellY == 1);
    return false;
}

namespace {

// Why the labels cannot be trusted because of a marker: a cell called a
// marker that ended inside the window must sit on a printed marker cell of
// its class. Empty when every such cell does.
std::string falseMarkerReason(const std::vector<FoundMarker>& found) {
    for (const FoundMarker& marker : found) {
        GridElement* cell = marker.cell;
        if (cell->inGrid == 0 || isPrintedMarker(cell->gridX, cell->gridY, marker.markerClass)) continue;
        return describeFalseMarker(cell, marker.markerClass);
    }
    return {};
}

}  // namespace

bool refinementWindowInside(double x, double y, int width, int height, int halfWindow) {
    // The refinement reads one pixel beyond its window for the gradients and
    // the sub-pixel interpolation.
    const double reach = halfWindow + 1.0 + kBorderMargin;
    return x >= reach && y >= reach && x <= width - 1 - reach && y <= height - 1 - reach;
}

bool unrefinedStart(double x, double y) {
    // Corners are found on the half-resolution frame at whole pixels and
    // doubled; the sub-pixel refinement moves every corner it settles off
    // those even whole numbers.
    auto evenWhole = [](double v) { return std::isfinite(v) && v == 2.0 * std::floor(v / 2.0); };
    return evenWhole(x) && evenWhole(y);
}

std::string latticeReason(g_container<g_node*>& imageNodes, g_container<g_node*>& patternNodes) {
    std::map<std::pair<int, int>, cv::Point2d> at;
    const uint32_t n = std::min(imageNodes.numberOfItems(), patternNodes.numberOfItems());
    for (uint32_t k = 0; k < n; ++k) {
        const g_vector image = imageNodes.item(k)->getCoordinates();
        const g_vector pattern = patternNodes.item(k)->getCoordinates();
        at[{static_cast<int>(std::lround(pattern.x)), static_cast<int>(std::lround(pattern.y))}] =
            cv::Point2d(image.x, image.y);
    }
    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const auto& [label, point] : at) {
        for (const auto& step : steps) {
            const auto near = at.find({label.first + step[0], label.second + step[1]});
            const auto far = at.find({label.first + 2 * step[0], label.second + 2 * step[1]});
            if (near == at.end() || far == at.end()) continue;
            const cv::Point2d predicted = 2.0 * near->second - far->second;
            const double spacing = cv::norm(near->second - far->second);
            const double off = cv::norm(point - predicted);
            if (!(off <= kLatticeTolerance * spacing)) {
                std::ostringstream text;
                text.precision(1);
                text << std::fixed << "corner labelled (" << label.first << ", " << label.second << ") at image ("
                     << point.x << ", " << point.y << ") lies " << off << " px off the line of its neighbours ("
                     << spacing << " px apart); labels not trusted";
                return text.str();
            }
        }
    }
    return {};
}

int classifyMarkerCell(const uint8_t* pixels, int width, int height, int rowStep, int bitsPerPixel,
                       GridElement* cell) {
    if (pixels == nullptr || cell == nullptr || width < 1 || height < 1 || bitsPerPixel < 1) return kNotAMarker;
    const int bytesPerPixel = bitsPerPixel / 8;
    const uint32_t v = cell->meanGrey;

    uint32_t quads = 0;
    uint32_t sum = 0;
    uint32_t brighter = 0;
    uint32_t notBrighter = 0;
    g_container<g_element*> around = cell->edgeNeighbours();
    const uint32_t count = around.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* other = dynamic_cast<GridElement*>(around.item(i));
        if (other == nullptr || other->nodes().numberOfItems() != 4) continue;
        ++quads;
        sum += other->meanGrey;
        if (other->meanGrey > v) ++brighter;
        else ++notBrighter;
    }
    if (quads == 0) return kNotAMarker;
    const uint32_t neighbourMean = sum / quads;

    const g_vector centre = cell->centroid();
    const int64_t cx = truncatedIndex(centre.x);
    const int64_t cy = truncatedIndex(centre.y);
    const int64_t x0 = std::max<int64_t>(cx - 2, 0);
    const int64_t x1 = std::min<int64_t>(cx + 2, width - 1);
    const int64_t y0 = std::max<int64_t>(cy - 2, 0);
    const int64_t y1 = std::min<int64_t>(cy + 2, height - 1);

    // Pixel values hold at most four bytes; wider pixels keep their low four.
    const int valueBytes = std::min(bytesPerPixel, 4);
    uint64_t total = 0;
    uint64_t pixelCount = 0;
    for (int64_t y = y0; y <= y1; ++y) {
        const uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * rowStep;
        for (int64_t x = x0; x <= x1; ++x) {
            const uint8_t* pixel = row + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
            uint32_t value = 0;
            for (int b = 0; b < valueBytes; ++b) value |= static_cast<uint32_t>(pixel[b]) << (8 * b);
            total += value;
            ++pixelCount;
        }
    }
    const uint32_t centreMean = pixelCount == 0 ? 0u : static_cast<uint32_t>(total / pixelCount);

    if (brighter == quads) {
        // A dark cell: a marker when its centre is nearer the bright neighbours than its own grey.
        if (centreMean > v && (centreMean > neighbourMean || neighbourMean - centreMean < centreMean - v))
            return kMarkerDarkCell;
    } else if (notBrighter == quads) {
        if (centreMean < v && (centreMean < neighbourMean || centreMean - neighbourMean < v - centreMean))
            return kMarkerBrightCell;
    }
    return kNotAMarker;
}

namespace {

// Area of a cell's polygon (either orientation).
double cellArea(g_element* cell) {
    const uint32_t n = cell->nodes().numberOfItems();
    double twice = 0.0;
    for (uint32_t k = 0; k < n; ++k) {
        const g_vector p = cell->getNode(k)->getCoordinates();
        const g_vector q = cell->getNode((k + 1) % n)->getCoordinates();
        twice += p.x * q.y - q.x * p.y;
    }
    return std::abs(twice) / 2.0;
}

}  // namespace

bool sitsInLattice(GridElement* cell) {
    if (cell == nullptr) return false;
    const double own = cellArea(cell);
    if (!(own > 0.0)) return false;
    int alike = 0;
    g_container<g_element*> around = cell->edgeNeighbours();
    const uint32_t count = around.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        g_element* other = around.item(i);
        if (other->nodes().numberOfItems() != 4) continue;
        const double ratio = cellArea(other) / own;
        if (ratio >= 1.0 / kLatticeAreaRatio && ratio <= kLatticeAreaRatio) ++alike;
    }
    return alike >= kLatticeSides;
}

void findMarkerCells(GridSet& set, int frame, const cv::Mat& image, GridElement** slots, int slotCount,
                     std::vector<FoundMarker>* found) {
    if (!set.hasFrame(frame) || slots == nullptr || !usableImage(image)) return;
    const uint8_t* pixels = image.data;
    const int rowStep = static_cast<int>(image.step[0]);
    const int bitsPerPixel = 8 * image.channels();
    for (int j = 0; j < slotCount; ++j) slots[j] = nullptr;

    g_container<g_element*>& cells = set.frames[static_cast<size_t>(frame)].gridPart->elements();
    const uint32_t count = cells.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(cells.item(i));
        if (cell == nullptr) continue;
        const int k = classifyMarkerCell(pixels, image.cols, image.rows, rowStep, bitsPerPixel, cell);
        if (k < 0) continue;
        if (found != nullptr) found->push_back({cell, k});
        if (!sitsInLattice(cell)) continue;
        for (int j = k; j < slotCount; ++j) {
            if (slots[j] == nullptr) {
                slots[j] = cell;
                break;
            }
        }
    }
}

bool labelFrameGrid(GridSet& set, int frame, const cv::Mat& image, std::array<GridElement*, 3>* markers,
                    std::string* rejected) {
    if (markers != nullptr) markers->fill(nullptr);
    if (rejected != nullptr) rejected->clear();
    if (!set.hasFrame(frame) || !usableImage(image)) return false;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];

    std::array<GridElement*, kSlotCount> slots{};
    std::vector<FoundMarker> found;
    findMarkerCells(set, frame, image, slots.data(), kSlotCount, &found);
    if (markers != nullptr) *markers = slots;

    g_container<g_element*>& cells = record.gridPart->elements();
    g_container<g_node*> imageList;
    g_container<g_node*> patternList;
    PatternNodeRelease release{patternList};
    int n = labelGrid(slots.data(), kSlotCount, cells, imageList, patternList);

    if (n >= 1) {
        std::string reason = falseMarkerReason(found);
        if (reason.empty()) reason = latticeReason(imageList, patternList);
        if (!reason.empty()) {
            if (rejected != nullptr) *rejected = reason;
            const uint32_t count = cells.numberOfItems();
            for (uint32_t i = 0; i < count; ++i) {
                if (auto* other = dynamic_cast<GridElement*>(cells.item(i))) other->inGrid = 0;
            }
            n = 0;
        }
    }

    // Every image node is one of the frame's corner nodes, so n fits the
    // frame's slots; the bound only guards against a record built otherwise.
    if (n > set.maxPoints) n = set.maxPoints;
    int kept = 0;
    for (int k = 0; k < n; ++k) {
        const g_vector imageAt = imageList.item(static_cast<uint32_t>(k))->getCoordinates();
        if (!refinementWindowInside(imageAt.x, imageAt.y, image.cols, image.rows)) continue;
        if (unrefinedStart(imageAt.x, imageAt.y)) continue;
        const g_vector patternAt = patternList.item(static_cast<uint32_t>(k))->getCoordinates();
        const auto slot = static_cast<size_t>(kept);
        record.imagePoints[slot] = GridPoint{static_cast<float>(imageAt.x), static_cast<float>(imageAt.y)};
        record.patternPoints[slot] = GridPoint{static_cast<float>(patternAt.x), static_cast<float>(patternAt.y)};
        ++kept;
    }
    record.pointCount = kept;
    return kept > 0;
}
