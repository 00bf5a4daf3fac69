#include "grid/extract_frame.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <streambuf>
#include <utility>

#include "grid/corner_detection.h"
#include "grid/corner_mesh.h"
#include "grid/corner_refinement.h"
#include "grid/grid_cells.h"
#include "grid/lattice_growth.h"
#include "grid/marker_cells.h"
#include "grid/nnsort.h"

namespace {

// A stream that swallows everything, for the null diagnostics stream.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// What one search of a frame left on the way.
struct SearchOutcome {
    std::vector<GridPoint> corners;
    int candidateCount = 0;
    std::array<GridElement*, 3> markers{};
    std::string rejected;
    std::string failure;  // the triangulation's, when it failed
    bool weakLabels = false;  // the labels rest on a marker seen only by its spot, or a walk round a hole
};

// Runs the stages from corner detection to the correspondences on one frame
// of `set` with the corner search `search`.
SearchOutcome runSearch(GridSet& set, int frame, const cv::Mat& image, const CornerSearch& search,
                        std::ostream& diagnostics, bool refine, bool traced) {
    SearchOutcome outcome;
    detectCornersWith(set, frame, image, search);
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    if (traced) {
        const auto first = record.imagePoints.begin();
        outcome.corners.assign(first, first + std::clamp(record.pointCount, 0, set.maxPoints));
    }
    try {
        triangulateCorners(set, frame, diagnostics);
    } catch (const TriangulationError& failure) {
        record.pointCount = 0;
        outcome.failure = failure.what();
        return outcome;
    }
    outcome.candidateCount = buildGridCells(set, frame, image);
    labelFrameGrid(set, frame, image, &outcome.markers, &outcome.rejected, refine, &outcome.weakLabels);
    return outcome;
}

// Moves the record of frame 0 of `from` (its points and both parts) into
// frame `frame` of `into`; the parts of `into` go to `from`.
void adoptFrame(GridSet& into, int frame, GridSet& from) {
    FrameGrid& to = into.frames[static_cast<size_t>(frame)];
    FrameGrid& source = from.frames[0];
    const int count = std::clamp(source.pointCount, 0, into.maxPoints);
    std::copy_n(source.imagePoints.begin(), count, to.imagePoints.begin());
    std::copy_n(source.patternPoints.begin(), count, to.patternPoints.begin());
    to.pointCount = count;
    std::swap(to.trianglePart, source.trianglePart);
    std::swap(to.gridPart, source.gridPart);
}

// The first `count` correspondences of `record`, their image positions
// times `scale`.
std::vector<LabelledPoint> recordedPoints(const FrameGrid& record, int count, float scale = 1.0f) {
    std::vector<LabelledPoint> points;
    points.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int k = 0; k < count; ++k) {
        const GridPoint& at = record.imagePoints[static_cast<size_t>(k)];
        const GridPoint& on = record.patternPoints[static_cast<size_t>(k)];
        points.push_back({static_cast<int>(std::lround(on.x)), static_cast<int>(std::lround(on.y)),
                          {scale * at.x, scale * at.y}});
    }
    return points;
}

// `points` as `record`'s correspondences, as many as its `room` slots hold.
void storePoints(FrameGrid& record, const std::vector<LabelledPoint>& points, int room) {
    const int total = std::min(static_cast<int>(points.size()), room);
    for (int k = 0; k < total; ++k) {
        const LabelledPoint& p = points[static_cast<size_t>(k)];
        record.imagePoints[static_cast<size_t>(k)] = GridPoint{p.at.x, p.at.y};
        record.patternPoints[static_cast<size_t>(k)] = GridPoint{static_cast<float>(p.x), static_cast<float>(p.y)};
    }
    record.pointCount = total;
}

// Appends to frame `frame`'s correspondences the board's corners found by
// growing them (grownPoints); the points it has keep their slots.
void growFrame(GridSet& set, int frame, const cv::Mat& image) {
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    const int count = std::clamp(record.pointCount, 0, set.maxPoints);
    const std::vector<LabelledPoint> grown = grownPoints(image, recordedPoints(record, count));
    if (static_cast<int>(grown.size()) > count) storePoints(record, grown, set.maxPoints);
}

// Every node of `part` moved to `factor` times its position.
void scaleNodes(g_part& part, double factor) {
    g_container<g_node*>& nodes = part.nodes();
    for (uint32_t k = 0; k < nodes.numberOfItems(); ++k) {
        g_vector at = nodes.item(k)->getCoordinates();
        at *= factor;
        nodes.item(k)->setCoordinates(at);
    }
}

// Frame `frame` of `set` searched with the whole extraction on `image`
// halved (pyrDown: its pixel (i, j) lies at (2i, 2j) here), in a record of
// its own; its points, doubled, are checked on `image` (finalPoints). When
// more of them pass than the frame has, they, the halved frame's cells and
// corners (scaled to `image`) and its outcome take the frame's place.
bool searchHalved(GridSet& set, int frame, const cv::Mat& image, const ExtractOptions& options,
                  SearchOutcome& outcome) {
    cv::Mat half;
    cv::pyrDown(image, half);
    GridSet scratch;
    scratch.allocate(1, set.maxPoints);
    ExtractTrace halved;
    extractFrame(scratch, 0, half, &halved, nullptr, nullptr, options);
    FrameGrid& found = scratch.frames[0];
    const std::vector<LabelledPoint> points =
        finalPoints(image, recordedPoints(found, scratch.getPointCount(0), 2.0f), options.refineCorners);
    if (static_cast<int>(points.size()) <= set.getPointCount(frame)) return false;
    storePoints(found, points, scratch.maxPoints);
    scaleNodes(*found.trianglePart, 2.0);
    scaleNodes(*found.gridPart, 2.0);
    adoptFrame(set, frame, scratch);
    outcome = SearchOutcome{};
    for (const GridPoint& c : halved.corners) outcome.corners.push_back(GridPoint{2.0f * c.x, 2.0f * c.y});
    outcome.candidateCount = halved.candidateCount;
    outcome.markers = halved.markers;
    outcome.rejected = halved.rejected;
    return true;
}

// Union-find root of `k`, halving the paths on the way.
size_t rootOf(std::vector<size_t>& parent, size_t k) {
    while (parent[k] != k) k = parent[k] = parent[parent[k]];
    return k;
}

}  // namespace

cv::Rect crowdedRegion(const std::vector<GridPoint>& corners) {
    const size_t n = corners.size();
    if (n == 0) return {};
    std::vector<size_t> parent(n);
    for (size_t k = 0; k < n; ++k) parent[k] = k;
    const double reach = kSmallCellSide * kSmallCellSide;
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            const double dx = corners[i].x - corners[j].x, dy = corners[i].y - corners[j].y;
            if (dx * dx + dy * dy < reach) parent[rootOf(parent, i)] = rootOf(parent, j);
        }
    }
    std::vector<int> size(n, 0);
    size_t largest = 0;
    for (size_t k = 0; k < n; ++k)
        if (++size[rootOf(parent, k)] > size[largest]) largest = rootOf(parent, k);
    if (size[largest] < kCrowdedCorners) return {};
    float left = corners[largest].x, right = left, top = corners[largest].y, bottom = top;
    for (size_t k = 0; k < n; ++k) {
        if (rootOf(parent, k) != largest) continue;
        left = std::min(left, corners[k].x);
        right = std::max(right, corners[k].x);
        top = std::min(top, corners[k].y);
        bottom = std::max(bottom, corners[k].y);
    }
    if (std::max(right - left, bottom - top) > kSmallBoardSpan) return {};
    const double margin = 2.0 * kSmallCellSide;
    const int x0 = static_cast<int>(std::floor(left - margin)), y0 = static_cast<int>(std::floor(top - margin));
    const int x1 = static_cast<int>(std::ceil(right + margin)), y1 = static_cast<int>(std::ceil(bottom + margin));
    return {x0, y0, x1 - x0, y1 - y0};
}

const std::vector<CornerSearch>& furtherSearches() {
    static const std::vector<CornerSearch> searches = [] {
        CornerSearch contrast;
        contrast.normalised = true;
        CornerSearch blurred = contrast;
        blurred.smoothingShare = kBlurredSmoothing;
        blurred.refineHalfWindow = kBlurredHalfWindow;
        CornerSearch small = contrast;
        small.fullResolution = true;
        small.minDistance = kSmallCellDistance;
        return std::vector<CornerSearch>{contrast, blurred, small};
    }();
    return searches;
}

void extractFrame(GridSet& set, int frame, const cv::Mat& image, ExtractTrace* trace, std::ostream* diagnostics,
                  std::ostream* errors, const ExtractOptions& options) {
    if (!set.hasFrame(frame) || image.empty()) return;

    NullBuffer nullBuffer;
    std::ostream nullStream(&nullBuffer);
    SearchOutcome outcome = runSearch(set, frame, image, CornerSearch{},
                                      diagnostics != nullptr ? *diagnostics : nullStream, options.refineCorners,
                                      true);
    // A frame where the first search labels less than half the board (too
    // few corners, no grid, no markers, labels refused, or a fragment) is
    // searched the other ways in turn, each in a record of its own; one that
    // labels more takes the frame's place, until one labels the whole board.
    // A frame the first search labels to half the board or more keeps what
    // it found. One where it kept fewer than kCellsWorthSearching grid cells
    // shows no board to search for (the further searches cost some thirty
    // times the first on a frame without a board), unless its corners crowd
    // together as a small board's do: then only that region is searched, at
    // full resolution. Labels that rest on a marker seen only by its spot,
    // or on a walk round quadrilaterals that join cells, are the weakest the
    // first search gives: such a frame is searched further as well, since
    // another search may find that marker's cell, or the hidden corners, and
    // more of the board.
    int search = 0;
    auto searchAgain = [&](const CornerSearch& way, int index) {
        GridSet scratch;
        scratch.allocate(1, kFurtherMaxPoints);
        SearchOutcome other =
            runSearch(scratch, 0, image, way, nullStream, options.refineCorners, trace != nullptr);
        if (!other.failure.empty() || scratch.getPointCount(0) <= set.getPointCount(frame)) return;
        adoptFrame(set, frame, scratch);
        outcome = std::move(other);
        search = index;
    };
    const bool worthMore =
        (set.getPointCount(frame) < kFirstSearchEnough || outcome.weakLabels) && image.type() == CV_8UC1;
    if (worthMore && set.getCellCount(frame) >= kCellsWorthSearching) {
        const std::vector<CornerSearch>& further = furtherSearches();
        for (size_t k = 0; k < further.size() && set.getPointCount(frame) < kBoardCorners; ++k)
            searchAgain(further[k], static_cast<int>(k) + 1);
        if (std::max(image.cols, image.rows) > kHalvedFrameSide && set.getPointCount(frame) < kBoardCorners &&
            searchHalved(set, frame, image, options, outcome))
            search = kHalvedSearch;
    } else if (worthMore) {
        CornerSearch small;
        small.fullResolution = true;
        small.minDistance = kSmallCellDistance;
        small.region = crowdedRegion(outcome.corners);
        if (!small.region.empty()) searchAgain(small, kSmallBoardSearch);
    }
    if (outcome.failure.empty() && image.type() == CV_8UC1) growFrame(set, frame, image);
    if (!outcome.failure.empty()) {
        if (errors != nullptr) *errors << "frame " << frame << ": triangulation failed: " << outcome.failure << '\n';
        if (trace != nullptr) trace->corners = outcome.corners;
        return;
    }

    if (!outcome.rejected.empty() && errors != nullptr) *errors << "frame " << frame << ": " << outcome.rejected << '\n';
    if (trace != nullptr) {
        trace->corners = std::move(outcome.corners);
        trace->candidateCount = outcome.candidateCount;
        trace->markers = outcome.markers;
        trace->rejected = outcome.rejected;
        trace->search = search;
    }
}
