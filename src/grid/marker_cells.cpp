#include "grid/marker_cells.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <sstream>

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_vector.h"
#include "grid/corner_refinement.h"
#include "grid/grid_element.h"
#include "grid/grid_labelling.h"
#include "grid/grid_set.h"
#include "grid/point_check.h"

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

std::string latticeReason(const std::vector<LabelledPoint>& points) {
    std::map<std::pair<int, int>, cv::Point2d> at;
    for (const LabelledPoint& p : points) {
        const auto [place, added] = at.insert({{p.x, p.y}, cv::Point2d(p.at.x, p.at.y)});
        if (added) continue;
        // Two corners with one label: cells met from two sides disagree.
        std::ostringstream text;
        text.precision(1);
        text << std::fixed << "corners at image (" << place->second.x << ", " << place->second.y << ") and ("
             << p.at.x << ", " << p.at.y << ") were both labelled (" << p.x << ", " << p.y
             << "); labels not trusted";
        return text.str();
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

bool hasCellShape(GridElement* cell) {
    if (cell == nullptr || cell->nodes().numberOfItems() != 4) return false;
    double side[4];
    for (uint32_t k = 0; k < 4; ++k) {
        const g_vector p = cell->getNode(k)->getCoordinates();
        const g_vector q = cell->getNode((k + 1) % 4)->getCoordinates();
        side[k] = std::hypot(q.x - p.x, q.y - p.y);
    }
    auto alike = [](double a, double b) { return a <= kCellSideRatio * b && b <= kCellSideRatio * a; };
    return alike(side[0], side[2]) && alike(side[1], side[3]);
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

namespace {

// Takes every label and flag off the cells, for another labelling.
void clearLabels(g_container<g_element*>& cells) {
    const uint32_t count = cells.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        if (auto* cell = dynamic_cast<GridElement*>(cells.item(i))) {
            cell->inGrid = 0;
            cell->labelled = 0;
            cell->gridX = NO_LABEL;
            cell->gridY = NO_LABEL;
        }
    }
}

// Deletes the cells of `part` that use `node`; the others keep their order.
void deleteCellsAt(g_part& part, g_node* node) {
    g_container<g_element*>& cells = part.elements();
    std::vector<g_element*> kept;
    std::vector<g_element*> gone;
    const uint32_t count = cells.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) (cells.item(i)->isNode(node) ? gone : kept).push_back(cells.item(i));
    if (gone.empty()) return;
    cells.clear();
    for (g_element* cell : kept) cells.append(cell);
    for (g_element* cell : gone) {
        g_container<g_node*>& nodes = cell->nodes();
        for (uint32_t k = 0; k < nodes.numberOfItems(); ++k) nodes.item(k)->removeElement(cell);
        delete cell;
    }
}

// The labelled corners worth judging: those whose refinement window lies
// inside the image and that the refinement settled.
void collectPoints(g_container<g_node*>& imageList, g_container<g_node*>& patternList, int n, const cv::Mat& image,
                   std::vector<LabelledPoint>& points, std::vector<g_node*>& nodes) {
    points.clear();
    nodes.clear();
    for (int k = 0; k < n; ++k) {
        g_node* node = imageList.item(static_cast<uint32_t>(k));
        const g_vector imageAt = node->getCoordinates();
        if (!refinementWindowInside(imageAt.x, imageAt.y, image.cols, image.rows)) continue;
        if (unrefinedStart(imageAt.x, imageAt.y)) continue;
        const g_vector patternAt = patternList.item(static_cast<uint32_t>(k))->getCoordinates();
        points.push_back({static_cast<int>(std::lround(patternAt.x)), static_cast<int>(std::lround(patternAt.y)),
                          cv::Point2f(static_cast<float>(imageAt.x), static_cast<float>(imageAt.y))});
        nodes.push_back(node);
    }
}

// Mean of the 3 x 3 pixels of the frame around (x, y); NaN outside it.
double greyAt(const cv::Mat& image, double x, double y) {
    if (!std::isfinite(x) || !std::isfinite(y)) return std::numeric_limits<double>::quiet_NaN();
    const long cx = std::lround(x), cy = std::lround(y);
    if (cx < 1 || cy < 1 || cx > image.cols - 2 || cy > image.rows - 2) return std::numeric_limits<double>::quiet_NaN();
    int sum = 0;
    for (long r = cy - 1; r <= cy + 1; ++r)
        for (long c = cx - 1; c <= cx + 1; ++c) sum += image.at<uint8_t>(static_cast<int>(r), static_cast<int>(c));
    return sum / 9.0;
}

// Grey level of the frame at bilinear position (s, t) of a four-node cell
// (its nodes 0 .. 3 at (0, 0), (1, 0), (1, 1), (0, 1)).
double cellGrey(const cv::Mat& image, GridElement* cell, double s, double t) {
    g_vector q[4];
    for (uint32_t k = 0; k < 4; ++k) q[k] = cell->getNode(k)->getCoordinates();
    return greyAt(image, (1 - s) * (1 - t) * q[0].x + s * (1 - t) * q[1].x + s * t * q[2].x + (1 - s) * t * q[3].x,
                  (1 - s) * (1 - t) * q[0].y + s * (1 - t) * q[1].y + s * t * q[2].y + (1 - s) * t * q[3].y);
}

double median(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return std::isnan(v); }), values.end());
    if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// The grey of a cell away from its middle and its sides (the median of
// eight samples between a spot's edge and the cell's), so that a glare or a
// shadow edge across part of it does not decide.
double rimGrey(const cv::Mat& image, GridElement* cell) {
    std::vector<double> samples;
    for (const auto& [s, t] : {std::pair{0.1, 0.5}, {0.9, 0.5}, {0.5, 0.1}, {0.5, 0.9}, {0.2, 0.2}, {0.8, 0.2},
                               {0.2, 0.8}, {0.8, 0.8}})
        samples.push_back(cellGrey(image, cell, s, t));
    return median(std::move(samples));
}

// The grey of a cell's middle, inside a spot's core.
double middleGrey(const cv::Mat& image, GridElement* cell) {
    std::vector<double> samples;
    for (const auto& [s, t] : {std::pair{0.5, 0.5}, {0.44, 0.44}, {0.56, 0.44}, {0.44, 0.56}, {0.56, 0.56}})
        samples.push_back(cellGrey(image, cell, s, t));
    return median(std::move(samples));
}

struct MarkerCandidate {
    GridElement* cell;
    int markerClass;
};

// Marker cells judged against the cells around them: a cell brighter than
// the median of its neighbours' rims whose middle is darker than its own
// rim by kSpotEvidence of that difference (a dark spot), or the other way
// round. Unlike classifyMarkerCell it lets one neighbour be lit by a glare
// or darkened by a shadow's edge.
std::vector<MarkerCandidate> markerCandidates(const cv::Mat& image, g_container<g_element*>& cells) {
    std::map<GridElement*, double> rims;
    const uint32_t count = cells.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(cells.item(i));
        if (cell != nullptr && cell->nodes().numberOfItems() == 4) rims[cell] = rimGrey(image, cell);
    }
    std::vector<MarkerCandidate> candidates;
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(cells.item(i));
        if (cell == nullptr || rims.count(cell) == 0) continue;
        std::vector<double> around;
        g_container<g_element*> neighbours = cell->edgeNeighbours();
        for (uint32_t k = 0; k < neighbours.numberOfItems(); ++k) {
            const auto it = rims.find(dynamic_cast<GridElement*>(neighbours.item(k)));
            if (it != rims.end()) around.push_back(it->second);
        }
        if (around.size() < kCandidateNeighbours) continue;
        const double rim = rims[cell];
        const double others = median(around);
        const double middle = middleGrey(image, cell);
        const double contrast = rim - others;  // positive: a bright cell
        if (!(std::abs(contrast) >= kMinCellContrast) || std::isnan(middle)) continue;
        if ((rim - middle) / contrast >= kSpotEvidence)
            candidates.push_back({cell, contrast > 0 ? kMarkerBrightCell : kMarkerDarkCell});
    }
    return candidates;
}

// The walked cells' centres by walk labels, which place any cell of the
// walk's lattice in the frame, found or not.
class WalkedLattice {
public:
    explicit WalkedLattice(g_container<g_element*>& cells) {
        const uint32_t count = cells.numberOfItems();
        for (uint32_t i = 0; i < count; ++i) {
            auto* cell = dynamic_cast<GridElement*>(cells.item(i));
            if (cell == nullptr || cell->labelled == 0) continue;
            const g_vector c = cell->centroid();
            centres_.push_back(
                {cell->gridX, cell->gridY, cv::Point2f(static_cast<float>(c.x), static_cast<float>(c.y))});
        }
    }

    // The fit of the lattice at walk labels (x, y) from the other cells.
    LatticeFit at(int x, int y) const {
        std::vector<LabelledPoint> points;
        points.reserve(centres_.size() + 1);
        for (const LabelledPoint& c : centres_)
            if (c.x != x || c.y != y) points.push_back(c);
        points.push_back({x, y, cv::Point2f()});
        return fitFromNeighbours(points, std::vector<bool>(points.size(), true), points.size() - 1);
    }

    // Whether the walked cells within kNeighbourReach of walk labels (x, y)
    // agree with each other: each lies within kLatticeTolerance of a cell
    // from where the others put it. A quadrilateral that joins several cells
    // (their corners lost to a glare) does not, nor do the cells the walk
    // labelled through it.
    bool soundAround(int x, int y) const {
        for (const LabelledPoint& c : centres_) {
            if (std::abs(c.x - x) > kNeighbourReach || std::abs(c.y - y) > kNeighbourReach) continue;
            const LatticeFit fit = at(c.x, c.y);
            if (!fit.valid || !(cv::norm(fit.predicted - cv::Point2d(c.at)) <= kLatticeTolerance * fit.cellPixels))
                return false;
        }
        return true;
    }

    // The grey of the frame at offset (dx, dy) cells from the centre of the
    // cell at walk labels (x, y); NaN where it cannot be placed. The fit
    // reaches one cell beyond the walked cells; a cell two beyond them (the
    // margin beside a board whose outer ring was not found) is placed one
    // step on from the next two cells toward them in its row or column.
    double grey(const cv::Mat& image, int x, int y, double dx = 0.0, double dy = 0.0) const {
        LatticeFit fit = at(x, y);
        for (const auto& [sx, sy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            if (fit.valid) break;
            const LatticeFit near = at(x + sx, y + sy);
            if (!near.valid) continue;
            const LatticeFit far = at(x + 2 * sx, y + 2 * sy);
            if (!far.valid) continue;
            fit = near;
            fit.predicted = 2.0 * near.predicted - far.predicted;
        }
        if (!fit.valid) return std::numeric_limits<double>::quiet_NaN();
        const cv::Vec2d d = fit.jacobian * cv::Vec2d(dx, dy);
        return greyAt(image, fit.predicted.x + d[0], fit.predicted.y + d[1]);
    }

private:
    std::vector<LabelledPoint> centres_;
};

// What the frame shows of a marker of `markerClass` at walk labels (x, y),
// where no cell may have been found (its corners lost to a glare or a
// shadow's edge): `evidence`, how clearly its middle stands out from its
// rim as the marker's spot would, in shares of its rim's contrast against
// the cells beside it. A bright cell's rim is judged against the darkest of
// them, a dark cell's against the brightest (a glare brightens some of
// them, which only makes a dark cell's spot count for less). NaN when it
// cannot be placed inside the frame or its rim does not stand out.
// `rimSpread` is the spread of its rim samples in the same shares (a glare
// lights one side of a cell more than the other), `sound` whether the
// walked cells around it agree with each other (WalkedLattice::soundAround;
// a quadrilateral joining several cells does not, nor do the cells the walk
// labelled through it; judged only with `judgeSound`).
struct SpotReading {
    double evidence = std::numeric_limits<double>::quiet_NaN();
    double rimSpread = std::numeric_limits<double>::quiet_NaN();
    bool sound = false;
};

// readSpot with the lattice's fit at (x, y) already made.
SpotReading readSpotWith(const cv::Mat& image, const WalkedLattice& lattice, const LatticeFit& fit, int x, int y,
                         int markerClass, bool judgeSound) {
    SpotReading reading;
    if (!fit.valid) return reading;
    auto at = [&](double dx, double dy) {
        const cv::Vec2d d = fit.jacobian * cv::Vec2d(dx, dy);
        return greyAt(image, fit.predicted.x + d[0], fit.predicted.y + d[1]);
    };
    std::vector<double> rim, middle;
    for (const auto& [dx, dy] : {std::pair{-0.4, 0.0}, {0.4, 0.0}, {0.0, -0.4}, {0.0, 0.4}, {-0.3, -0.3}, {0.3, -0.3},
                                 {-0.3, 0.3}, {0.3, 0.3}})
        rim.push_back(at(dx, dy));
    for (const auto& [dx, dy] : {std::pair{0.0, 0.0}, {-0.06, -0.06}, {0.06, -0.06}, {-0.06, 0.06}, {0.06, 0.06}})
        middle.push_back(at(dx, dy));
    // +1 for a bright cell (its rim above its sides), -1 for a dark one.
    const double sense = markerClass == kMarkerBrightCell ? 1.0 : -1.0;
    double beside = std::numeric_limits<double>::quiet_NaN();  // the darkest side (bright cell), brightest (dark)
    for (const auto& [dx, dy] : {std::pair{-1.0, 0.0}, {1.0, 0.0}, {0.0, -1.0}, {0.0, 1.0}}) {
        const double side = sense * at(dx, dy);
        if (!(side >= beside)) beside = side;
    }
    const double contrast = sense * median(rim) - beside;
    if (!(contrast >= kMinCellContrast)) return reading;
    const auto [low, high] = std::minmax_element(rim.begin(), rim.end());
    reading.evidence = sense * (median(rim) - median(middle)) / contrast;
    reading.rimSpread = (*high - *low) / contrast;
    reading.sound = judgeSound && lattice.soundAround(x, y);
    return reading;
}

SpotReading readSpot(const cv::Mat& image, const WalkedLattice& lattice, int x, int y, int markerClass,
                     bool judgeSound = true) {
    return readSpotWith(image, lattice, lattice.at(x, y), x, y, markerClass, judgeSound);
}

// How clearly the frame shows a marker of `markerClass` at walk labels
// (x, y) (readSpot's evidence). `strict` judges a marker that no cell
// stands for: the walked cells around it must agree with each other and
// its rim must be even, its samples within kEvenRimShare of the spot's
// depth of each other; NaN otherwise.
double spotEvidence(const cv::Mat& image, const WalkedLattice& lattice, int x, int y, int markerClass,
                    bool strict = false) {
    const SpotReading r = readSpot(image, lattice, x, y, markerClass, strict);
    if (strict && !(r.sound && r.rimSpread <= kEvenRimShare * std::abs(r.evidence)))
        return std::numeric_limits<double>::quiet_NaN();
    return r.evidence;
}

// How much the cells of pattern column `column` alternate from row to row
// under `placement`: the median grey difference of neighbouring rows, over
// the rows the frame shows (NaN for fewer than three pairs). A column of the
// board alternates by the board's contrast, the margin beside it not at all.
double columnAlternation(const cv::Mat& image, const WalkedLattice& lattice, const GridPlacement& placement,
                         int column) {
    std::vector<double> differences;
    double previous = std::numeric_limits<double>::quiet_NaN();
    for (int row = kFirstBoardRow; row <= kLastBoardRow; ++row) {
        const cv::Point o = walkOffsetOf(placement.orientation, column, row);
        const double g = lattice.grey(image, placement.originX + o.x, placement.originY + o.y);
        if (!std::isnan(g) && !std::isnan(previous)) differences.push_back(std::abs(g - previous));
        previous = g;
    }
    if (differences.size() < 3) return std::numeric_limits<double>::quiet_NaN();
    return median(std::move(differences));
}

// Which of two placements, that two dark markers alone leave open, the
// frame shows: the one whose origin cell shows the origin's spot while the
// other's shows none; else the one whose margin columns beside the board
// (one cell beyond its first and last columns) stay flat while the
// other's show the board's rows. -1 when the frame does not tell.
int choosePlacement(const cv::Mat& image, g_container<g_element*>& cells, const GridPlacement (&placements)[2]) {
    const WalkedLattice lattice(cells);
    double spot[2], margin[2], board[2];
    for (int k = 0; k < 2; ++k) {
        const cv::Point o = walkOffsetOf(placements[k].orientation, kOriginCellX, kOriginCellY);
        spot[k] = spotEvidence(image, lattice, placements[k].originX + o.x, placements[k].originY + o.y,
                               kMarkerBrightCell);
        const double left = columnAlternation(image, lattice, placements[k], kFirstBoardColumn - 1);
        const double right = columnAlternation(image, lattice, placements[k], kLastBoardColumn + 1);
        margin[k] = std::isnan(left) ? right : std::isnan(right) ? left : std::max(left, right);
        board[k] = columnAlternation(image, lattice, placements[k], kOriginCellX);
    }
    for (int k = 0; k < 2; ++k) {
        if (spot[k] >= kSpotEvidence && (std::isnan(spot[1 - k]) || spot[1 - k] < 0.5 * kSpotEvidence)) return k;
    }
    for (int k = 0; k < 2; ++k) {
        if (board[k] >= kMinCellContrast && margin[k] < kFlatMarginShare * board[k] &&
            margin[1 - k] > kBoardRowShare * board[k])
            return k;
    }
    return -1;
}

// The quadrilaterals of `cells` that are no larger than their neighbouring
// cells allow (kMergedCellRatio), in their order.
g_container<g_element*> boardSizedCells(g_container<g_element*>& cells) {
    std::map<GridElement*, double> size;
    std::vector<GridElement*> quads;
    const uint32_t count = cells.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(cells.item(i));
        if (cell == nullptr || cell->nodes().numberOfItems() != 4) continue;
        size[cell] = std::sqrt(cellArea(cell));  // the root of its area
        quads.push_back(cell);
    }
    // Each pass judges every quadrilateral against its neighbours not found
    // too large by the passes before, so that a cluster of joined
    // quadrilaterals does not vouch for itself.
    std::set<GridElement*> oversized;
    for (bool changed = true; changed;) {
        std::vector<GridElement*> found;
        for (GridElement* cell : quads) {
            if (oversized.count(cell) != 0) continue;
            std::vector<double> around;
            g_container<g_element*> neighbours = cell->edgeNeighbours();
            for (uint32_t k = 0; k < neighbours.numberOfItems(); ++k) {
                auto* other = dynamic_cast<GridElement*>(neighbours.item(k));
                const auto it = size.find(other);
                if (it != size.end() && oversized.count(other) == 0) around.push_back(it->second);
            }
            if (around.size() >= 2 && size[cell] > kMergedCellRatio * median(std::move(around))) found.push_back(cell);
        }
        oversized.insert(found.begin(), found.end());
        changed = !found.empty();
    }
    g_container<g_element*> kept;
    for (GridElement* cell : quads)
        if (oversized.count(cell) == 0) kept.append(cell);
    return kept;
}

// One cell of each part of `board` that a walk reaches from it, in the
// order of `board`, for parts of at least kMinSpotWalk cells (a glare or a
// shadow's edge may cut the board in two). Leaves the labels cleared.
std::vector<GridElement*> walkStarts(g_container<g_element*>& cells, g_container<g_element*>& board) {
    std::vector<GridElement*> starts;
    std::set<GridElement*> walked;
    const uint32_t count = board.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(board.item(i));
        if (cell == nullptr || walked.count(cell) != 0) continue;
        clearLabels(cells);
        walkGrid(cell, board);
        size_t reached = 0;
        for (uint32_t k = 0; k < count; ++k) {
            auto* other = dynamic_cast<GridElement*>(board.item(k));
            if (other == nullptr || other->labelled == 0) continue;
            walked.insert(other);
            ++reached;
        }
        if (reached >= kMinSpotWalk) starts.push_back(cell);
    }
    clearLabels(cells);
    return starts;
}

// The walk labels, on the walked cells of `board` and one cell around them,
// where the frame shows a marker's spot (readSpot's evidence at least
// kSpotEvidence, the walked cells around it in agreement), with the class
// of the marker it would be.
using SpotAnchors = std::vector<std::pair<std::pair<int, int>, int>>;

SpotAnchors spotAnchors(const cv::Mat& image, const WalkedLattice& lattice, g_container<g_element*>& board) {
    std::set<std::pair<int, int>> places;
    const uint32_t count = board.numberOfItems();
    for (uint32_t i = 0; i < count; ++i) {
        auto* cell = dynamic_cast<GridElement*>(board.item(i));
        if (cell == nullptr || cell->labelled == 0) continue;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy) places.insert({cell->gridX + dx, cell->gridY + dy});
    }
    SpotAnchors anchors;
    for (const auto& [x, y] : places) {
        const LatticeFit fit = lattice.at(x, y);
        bool sound = false, judged = false;  // the walked cells around (x, y) agree, once asked
        for (const int markerClass : {kMarkerBrightCell, kMarkerDarkCell}) {
            if (!(readSpotWith(image, lattice, fit, x, y, markerClass, false).evidence >= kSpotEvidence)) continue;
            if (!judged) sound = lattice.soundAround(x, y), judged = true;
            if (sound) anchors.push_back({{x, y}, markerClass});
        }
    }
    return anchors;
}

// Labels the cells from any two of the three markers, when labelGrid could
// not: the walk starts at a marker candidate, and every way of taking a
// candidate for one of the printed markers places the board (one of the
// four maps, an origin); a placement counts the printed markers it finds
// among the candidates. The one placement with the most, at least two, is
// taken; a tie refuses the frame (two dark markers alone fit two
// placements, the origin's spot decides between them).
//
// With `sampled`, a printed marker no candidate stands on also counts when
// the frame shows its spot where the walked lattice puts it (spotEvidence at
// least kSpotEvidence): a marker whose cell was not found, its corners lost
// to a glare or a shadow's edge beside it. A placement where the frame shows
// a spot only half as clearly might be the board's as well, so it ties with
// any placement that counts no more than that would give it. Without any
// candidate (every marker's cell cut by a glare or a shadow's edge), the
// walks start in each part of the grid (walkStarts) and the placements from
// where the walked lattice shows a spot (spotAnchors).
//
// With `uneven` as well, a spot counts where the marker's rim is uneven (a
// glare lights one side of it), but only for a placement that every other
// placement tried is refuted against: where that placement has no marker,
// none of its printed markers shows even half a spot, and at least one of
// them stands where the frame plainly shows a cell without one (its rim
// even, its spot evidence below kAbsentEvidence). A glare can light a
// cell's middle like a spot; it does not darken the spot of the board's own
// marker. (The spots both placements put a marker on, such as the one a
// placement was made from, tell nothing between them.)
//
// The walks, and the labels they give, leave out the quadrilaterals larger
// than a board cell (boardSizedCells): a glare that hides the origin's
// corners joins the cells around it.
int labelFromTwoMarkers(const cv::Mat& image, g_container<g_element*>& cells, const std::vector<FoundMarker>& found,
                        g_container<g_node*>& imageList, g_container<g_node*>& patternList, bool sampled, bool uneven,
                        g_container<g_element*>& board, std::map<GridElement*, SpotAnchors>& anchorsFrom) {
    std::vector<MarkerCandidate> candidates = markerCandidates(image, cells);
    for (const FoundMarker& f : found) {
        const bool known = std::any_of(candidates.begin(), candidates.end(),
                                       [&](const MarkerCandidate& c) { return c.cell == f.cell; });
        if (!known) candidates.push_back({f.cell, f.markerClass});
    }
    // A glare lights the middle of the cells around it: the quadrilaterals
    // left where it hid corners look like dark cells with bright spots, in
    // diagonal pairs that place the board as well as the markers do.
    std::erase_if(candidates, [](const MarkerCandidate& c) { return !hasCellShape(c.cell); });
    std::vector<GridElement*> starts;
    for (const MarkerCandidate& c : candidates) starts.push_back(c.cell);
    if (sampled && starts.empty()) starts = walkStarts(cells, board);
    for (GridElement* start : starts) {
        if (start->labelled != 0 || !board.memberOf(start)) continue;
        clearLabels(cells);
        walkGrid(start, board);
        std::map<std::pair<int, int>, int> classAt;  // walk labels -> class of the candidate there
        for (const MarkerCandidate& c : candidates)
            if (c.cell->labelled != 0) classAt[{c.cell->gridX, c.cell->gridY}] = c.markerClass;
        std::optional<WalkedLattice> lattice;
        if (sampled) {
            // The spots are looked for where the walked lattice puts them,
            // so the walk must be sound where it starts: the start cell
            // lies where the other walked cells put it.
            lattice.emplace(board);
            const LatticeFit fit = lattice->at(start->gridX, start->gridY);
            const g_vector c = start->centroid();
            if (!fit.valid || !(std::hypot(c.x - fit.predicted.x, c.y - fit.predicted.y) <=
                                kLatticeTolerance * fit.cellPixels))
                continue;
        }

        struct Scored {
            GridPlacement placement;
            int score;     // printed markers found
            int doubtful;  // printed markers whose spot the frame shows half as clearly
            std::vector<std::pair<int, int>> places;  // its printed markers' walk labels
            std::vector<std::pair<int, int>> shown;   // those read that show at least half a spot
            std::vector<std::pair<int, int>> plain;   // those that show a plain cell
        };
        std::vector<Scored> scored;
        std::vector<std::array<int, 3>> tried;
        // The placements tried put a printed marker on a candidate, or,
        // without any, where the lattice shows a spot.
        SpotAnchors anchors(classAt.begin(), classAt.end());
        if (lattice && candidates.empty()) {
            // A walk from the same start over the same cells gives the same
            // lattice: the spots found on it serve every pass.
            const auto known = anchorsFrom.find(start);
            anchors = known != anchorsFrom.end() ? known->second
                                                 : (anchorsFrom[start] = spotAnchors(image, *lattice, board));
        }
        for (const auto& [at, markerClass] : anchors) {
            for (const auto& printed : kPrintedMarkers) {
                if (printed.markerClass != markerClass) continue;
                for (int orientation = 0; orientation < 4; ++orientation) {
                    const cv::Point offset = walkOffsetOf(orientation, printed.x, printed.y);
                    const GridPlacement placement{orientation, at.first - offset.x, at.second - offset.y};
                    const std::array<int, 3> key{orientation, placement.originX, placement.originY};
                    if (std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
                    tried.push_back(key);
                    Scored s{placement, 0, 0, {}, {}, {}};
                    for (const auto& other : kPrintedMarkers) {
                        const cv::Point o = walkOffsetOf(orientation, other.x, other.y);
                        const int x = placement.originX + o.x, y = placement.originY + o.y;
                        s.places.push_back({x, y});
                        const auto it = classAt.find({x, y});
                        if (it != classAt.end()) {
                            if (it->second == other.markerClass) ++s.score;
                            continue;
                        }
                        if (!lattice) continue;
                        const SpotReading r = readSpot(image, *lattice, x, y, other.markerClass);
                        const bool even = r.sound && r.rimSpread <= kEvenRimShare * std::abs(r.evidence);
                        const double seen = even || (uneven && r.sound) ? r.evidence : std::nan("");
                        if (seen >= kSpotEvidence) ++s.score;
                        else if (seen >= 0.5 * kSpotEvidence) ++s.doubtful;
                        if (seen >= 0.5 * kSpotEvidence) s.shown.push_back({x, y});
                        if (r.sound && std::abs(r.evidence) < kAbsentEvidence && r.rimSpread <= kAbsentEvidence)
                            s.plain.push_back({x, y});
                    }
                    scored.push_back(s);
                }
            }
        }
        int bestScore = 0;
        for (const Scored& s : scored) bestScore = std::max(bestScore, s.score);
        if (bestScore < 2) continue;
        std::vector<GridPlacement> contenders;
        bool allSure = true;
        for (const Scored& s : scored) {
            // One that reaches the best only with a spot shown half as
            // clearly is out where a cell plainly without a spot stands in
            // a printed marker's place.
            if (s.score + s.doubtful < bestScore || (s.score < bestScore && !s.plain.empty())) continue;
            contenders.push_back(s.placement);
            allSure = allSure && s.score == bestScore;
        }
        if (contenders.size() == 2 && bestScore == 2 && allSure) {
            const GridPlacement open[2] = {contenders[0], contenders[1]};
            const int chosen = choosePlacement(image, board, open);
            if (chosen >= 0) contenders.assign(1, open[chosen]);
        }
        if (contenders.size() != 1) continue;
        if (uneven) {
            // A spot counted only unevenly lit: every other placement must
            // be a contender or refuted against the one taken. It is
            // refuted where one of its printed markers stands on a plain
            // cell and none shows even half a spot, both where the one
            // taken has no marker: the spots both put a marker on (among
            // them the one it was placed from) tell nothing between the two.
            const GridPlacement& taken = contenders.front();
            const auto chosen = std::find_if(scored.begin(), scored.end(), [&](const Scored& s) {
                return s.placement.orientation == taken.orientation && s.placement.originX == taken.originX &&
                       s.placement.originY == taken.originY;
            });
            auto apart = [&](const std::pair<int, int>& at) {
                return std::find(chosen->places.begin(), chosen->places.end(), at) == chosen->places.end();
            };
            const bool othersRefuted = std::all_of(scored.begin(), scored.end(), [&](const Scored& s) {
                return s.score + s.doubtful >= bestScore ||
                       (std::any_of(s.plain.begin(), s.plain.end(), apart) &&
                        std::none_of(s.shown.begin(), s.shown.end(), apart));
            });
            if (!othersRefuted) continue;
        }
        return placeGrid(contenders.front(), board, imageList, patternList);
    }
    clearLabels(cells);
    return 0;
}

// The corner that breaks the lattice worst: of two corners with one label,
// the one farther from where the other corners put it; otherwise the
// largest distance from where its neighbours put it, in cells.
size_t worstFittingPoint(const std::vector<LabelledPoint>& points) {
    std::vector<bool> alive(points.size(), true);
    std::map<std::pair<int, int>, std::vector<size_t>> byLabel;
    for (size_t i = 0; i < points.size(); ++i) byLabel[{points[i].x, points[i].y}].push_back(i);
    std::vector<size_t> candidates;
    for (const auto& [label, indices] : byLabel) {
        if (indices.size() < 2) continue;
        for (size_t i : indices) {
            alive[i] = false;
            candidates.push_back(i);
        }
    }
    // A corner without enough neighbours for a fit: among two with one
    // label it is the one to go, otherwise it breaks nothing.
    const double unfitted = candidates.empty() ? 0.0 : std::numeric_limits<double>::infinity();
    if (candidates.empty()) {
        for (size_t i = 0; i < points.size(); ++i) candidates.push_back(i);
    }
    size_t worst = candidates.front();
    double worstShare = -1.0;
    for (size_t i : candidates) {
        const LatticeFit fit = fitFromNeighbours(points, alive, i);
        const double share = fit.valid && fit.cellPixels > 0.0 ? fit.residual / fit.cellPixels : unfitted;
        if (share > worstShare) {
            worstShare = share;
            worst = i;
        }
    }
    return worst;
}

}  // namespace

bool labelFrameGrid(GridSet& set, int frame, const cv::Mat& image, std::array<GridElement*, 3>* markers,
                    std::string* rejected, bool refine, bool* weakLabels) {
    if (markers != nullptr) markers->fill(nullptr);
    if (rejected != nullptr) rejected->clear();
    if (weakLabels != nullptr) *weakLabels = false;
    if (!set.hasFrame(frame) || !usableImage(image)) return false;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];

    g_part& part = *record.gridPart;
    g_container<g_element*>& cells = part.elements();
    std::vector<LabelledPoint> points;
    std::vector<g_node*> nodes;
    std::string reason;
    for (int dropped = 0;; ++dropped) {
        if (dropped > 0) clearLabels(cells);
        std::array<GridElement*, kSlotCount> slots{};
        std::vector<FoundMarker> found;
        findMarkerCells(set, frame, image, slots.data(), kSlotCount, &found);
        if (markers != nullptr) *markers = slots;

        g_container<g_node*> imageList;
        g_container<g_node*> patternList;
        PatternNodeRelease release{patternList};
        int n = labelGrid(slots.data(), kSlotCount, cells, imageList, patternList);
        bool weak = false;
        if (n < 1) {
            // The three ways walk the same cells (boardSizedCells) and find
            // the same spots on a walk from the same start.
            g_container<g_element*> board = boardSizedCells(cells);
            const bool wentRound = board.numberOfItems() < cells.numberOfItems();
            std::map<GridElement*, SpotAnchors> anchorsFrom;
            n = labelFromTwoMarkers(image, cells, found, imageList, patternList, false, false, board, anchorsFrom);
            const bool fromCells = n > 0;
            if (n < 1)
                n = labelFromTwoMarkers(image, cells, found, imageList, patternList, true, false, board, anchorsFrom);
            if (n < 1)
                n = labelFromTwoMarkers(image, cells, found, imageList, patternList, true, true, board, anchorsFrom);
            weak = n > 0 && (!fromCells || wentRound);
        }
        if (weakLabels != nullptr) *weakLabels = weak;
        if (n < 1) {
            // Dropping corners cost the labels: the lattice's reason stands.
            points.clear();
            break;
        }
        // The corners left out anyway are not judged: a corner the
        // refinement gave up on may lie pixels off the lattice.
        collectPoints(imageList, patternList, n, image, points, nodes);
        reason = latticeReason(points);
        // The markers are judged once the lattice holds: a cell spanning
        // several board cells (the corners between them lost to a glare)
        // can look like a marker of either class, and its corners, labelled
        // as one cell's, break the lattice, so it goes with them.
        if (reason.empty()) {
            reason = falseMarkerReason(found);
            break;
        }
        // A corner that breaks the lattice is dropped with its cells, and
        // the rest is labelled again, up to a share of the corners.
        if (dropped >= kMaxDroppedCorners) break;
        deleteCellsAt(part, nodes[worstFittingPoint(points)]);
    }
    if (!reason.empty()) {
        if (rejected != nullptr) *rejected = reason;
        clearLabels(cells);
        points.clear();
    }
    points = finalPoints(image, points, refine);

    // Every image node is one of the frame's corner nodes, so the points fit
    // the frame's slots; the bound only guards against a record built otherwise.
    const auto room = static_cast<size_t>(std::max(set.maxPoints, 0));
    if (points.size() > room) points.resize(room);
    for (size_t k = 0; k < points.size(); ++k) {
        record.imagePoints[k] = GridPoint{points[k].at.x, points[k].at.y};
        record.patternPoints[k] = GridPoint{static_cast<float>(points[k].x), static_cast<float>(points[k].y)};
    }
    record.pointCount = static_cast<int>(points.size());
    return !points.empty();
}
