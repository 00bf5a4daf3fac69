#include "grid/triangle_pairing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "geomlib/g_container.h"
#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_vector.h"
#include "grid/grid_element.h"
#include "grid/grid_set.h"

namespace {

// The polygon is shrunk by this many pixels on every side before averaging,
// so that the blurred borders between dark and bright cells do not count.
constexpr int kInset = 2;

// Two means are "of equal brightness" when every 8-bit lane differs by less.
constexpr int64_t kMaxLaneDifference = 30;

struct Point2 {
    double x, y;
};

// Reads the pixel at (column, row) as a little-endian unsigned integer.
double pixelValue(const uint8_t* pixels, int64_t stride, int64_t bytesPerPixel, int64_t column, int64_t row) {
    const uint8_t* p = pixels + row * stride + column * bytesPerPixel;
    double value = 0.0;
    double weight = 1.0;
    for (int64_t j = 0; j < bytesPerPixel; ++j) {
        value += p[j] * weight;
        weight *= 256.0;
    }
    return value;
}

// The x range in which the side from `start` along `delta` meets row y: one
// crossing point, or the whole side when it is horizontal.
void chainSpan(const Point2& start, const Point2& delta, double y, double& low, double& high) {
    if (delta.y == 0.0) {
        low = std::min(start.x, start.x + delta.x);
        high = std::max(start.x, start.x + delta.x);
    } else {
        low = high = (y - start.y) / delta.y * delta.x + start.x;
    }
}

int64_t absDifference(uint32_t a, uint32_t b) {
    return std::llabs(static_cast<int64_t>(a) - static_cast<int64_t>(b));
}

bool lanesClose(uint32_t a, uint32_t b) {
    for (uint32_t mask : {0xFFu, 0xFF00u, 0xFF0000u, 0xFF000000u})
        if (absDifference(a & mask, b & mask) >= kMaxLaneDifference) return false;
    return true;
}

// The neighbour in `candidates` whose mean is closest to `mean`; the earlier
// one wins on equal differences. Null when there is no GridElement among them.
GridElement* closestInBrightness(g_container<g_element*>& candidates, uint32_t mean) {
    GridElement* best = nullptr;
    int64_t bestDifference = 0;
    for (uint32_t k = 0; k < candidates.numberOfItems(); ++k) {
        auto* candidate = dynamic_cast<GridElement*>(candidates.item(k));
        if (candidate == nullptr) continue;
        const int64_t difference = absDifference(candidate->meanGrey, mean);
        if (best == nullptr || difference < bestDifference) {
            best = candidate;
            bestDifference = difference;
        }
    }
    return best;
}

// First position (0, 1, 2, ...) of `element`'s nodes whose node is not a node
// of `other`; -1 when every node is shared.
int firstNodeNotIn(g_element& element, g_element& other) {
    g_container<g_node*>& nodes = element.nodes();
    for (uint32_t k = 0; k < nodes.numberOfItems(); ++k)
        if (!other.isNode(nodes.item(k))) return static_cast<int>(k);
    return -1;
}

// The node of `gridPart` at the position that `node` holds in `trianglePart`;
// null when the triangle part does not hold it or the grid part is shorter.
g_node* counterpart(g_part& trianglePart, g_part& gridPart, g_node* node) {
    uint32_t position = 0;
    if (!trianglePart.nodes().find(node, position)) return nullptr;
    if (position >= gridPart.nodes().numberOfItems()) return nullptr;
    return gridPart.nodes().item(position);
}

}  // namespace

uint32_t meanInPolygon(const uint8_t* pixels, int width, int height, int bitsPerPixel, g_element* element) {
    if (pixels == nullptr || width <= 0 || height <= 0 || bitsPerPixel <= 0 || element == nullptr) return 0;

    const int64_t bytesPerPixel = std::max(1, bitsPerPixel / 8);
    const int64_t stride = (bytesPerPixel * width + 3) / 4 * 4;

    const uint32_t count = element->nodes().numberOfItems();
    if (count < 3) return 0;  // no area
    const int m = static_cast<int>(count);

    std::vector<Point2> P(count);
    std::vector<Point2> D(count);
    for (int k = 0; k < m; ++k) {
        const g_vector c = element->getNode(static_cast<uint32_t>(k))->getCoordinates();
        // A non-finite coordinate leaves nothing to scan; it would otherwise
        // reach the integer conversions below.
        if (!std::isfinite(c.x) || !std::isfinite(c.y)) return 0;
        P[k] = {c.x, c.y};
    }
    int top = 0;
    double yMax = P[0].y;
    for (int k = 0; k < m; ++k) {
        const Point2& next = P[(k + 1) % m];
        D[k] = {next.x - P[k].x, next.y - P[k].y};
        if (P[k].y < P[top].y) top = k;
        yMax = std::max(yMax, P[k].y);
    }

    // Rows are worked out in double precision and clamped to the image before
    // they become integers, so coordinates far outside the image are safe.
    double firstRow = std::trunc(P[top].y) + kInset;
    double lastRow = std::trunc(yMax) - kInset;
    if (lastRow > height - 1) lastRow = height - 1;
    const bool startsAboveImage = firstRow < 0;
    if (startsAboveImage) firstRow = 0;
    if (firstRow > lastRow) return 0;

    int L = (top == 0) ? m - 1 : top - 1;  // left side runs from P[L] up to P[L + 1]
    int R = top;                           // right side runs from P[R] down to P[R + 1]
    auto stepLeft = [&](double y) {
        if (y > std::trunc(P[L].y)) {
            L = (L == 0) ? m - 1 : L - 1;
            return true;
        }
        return false;
    };
    auto stepRight = [&](double y) {
        if (y > std::trunc(P[(R + 1) % m].y)) {
            R = (R + 1) % m;
            return true;
        }
        return false;
    };

    const int first = static_cast<int>(firstRow);
    const int last = static_cast<int>(lastRow);
    if (startsAboveImage) {
        // The rows above the image are not scanned (there may be billions of
        // them); instead both chains move on at once to the sides that reach
        // down to row 0.
        for (int k = 0; k < m && stepLeft(first); ++k) {
        }
        for (int k = 0; k < m && stepRight(first); ++k) {
        }
    }

    // Both chains are walked once per scan; the state is reset so that the
    // scan can be repeated with another accumulator.
    const int startL = L;
    const int startR = R;
    auto scanRows = [&](auto&& addSpan) {
        L = startL;
        R = startR;
        for (int y = first; y <= last; ++y) {
            if (y != first || !startsAboveImage) {
                stepLeft(y);
                stepRight(y);
            }
            // Where a chain's current side is horizontal the crossing formula
            // divides by zero; the side then contributes its whole x range to the
            // row's span. This arises only for a side in the middle of a
            // non-convex polygon (the first and last rows never reach the top or
            // bottom side), so every other polygon scans as before.
            double lowA, highA, lowB, highB;
            chainSpan(P[L], D[L], y, lowA, highA);
            chainSpan(P[R], D[R], y, lowB, highB);
            const double low = std::min(lowA, lowB);
            const double high = std::max(highA, highB);
            // Extreme coordinates can overflow the crossing; such a row has no span.
            if (!std::isfinite(low) || !std::isfinite(high)) continue;

            double startColumn = std::trunc(low) + kInset;
            double endColumn = std::trunc(high) - kInset;
            if (startColumn < 0) startColumn = 0;
            if (endColumn > width - 1) endColumn = width - 1;
            if (startColumn > endColumn) continue;

            if (!addSpan(y, static_cast<int64_t>(startColumn), static_cast<int64_t>(endColumn))) return false;
        }
        return true;
    };

    // Pixels of up to 4 bytes are summed exactly in 64-bit integers, a row at
    // a time. While the running total stays within 2^53 every partial sum is
    // exact in double precision too, so the total equals what per-pixel
    // double accumulation gives. Past that (or for wider pixels) the pixels
    // are summed in double precision one by one, which rounds the same way
    // as always.
    constexpr uint64_t kExactDoubleLimit = uint64_t{1} << 53;
    constexpr int64_t kNarrowRow = int64_t{1} << 24;
    int64_t pixelCount = 0;
    double sum = 0.0;
    bool exact = false;
    if (bytesPerPixel <= 4) {
        uint64_t total = 0;
        exact = scanRows([&](int64_t y, int64_t startX, int64_t endX) {
            const uint8_t* row = pixels + y * stride;
            uint64_t rowSum = 0;
            if (bytesPerPixel == 1 && endX - startX < kNarrowRow) {
                // 32-bit lanes: twice as many summed at a time, and a row of
                // fewer than 2^24 bytes cannot overflow them.
                uint32_t narrowSum = 0;
                for (int64_t x = startX; x <= endX; ++x) narrowSum += row[x];
                rowSum = narrowSum;
            } else if (bytesPerPixel == 1) {
                for (int64_t x = startX; x <= endX; ++x) rowSum += row[x];
            } else {
                for (int64_t x = startX; x <= endX; ++x) {
                    const uint8_t* p = row + x * bytesPerPixel;
                    uint64_t value = 0;
                    for (int64_t j = bytesPerPixel - 1; j >= 0; --j) value = (value << 8) | p[j];
                    rowSum += value;
                }
            }
            total += rowSum;
            pixelCount += endX - startX + 1;
            return total <= kExactDoubleLimit;
        });
        if (exact) sum = static_cast<double>(total);
    }
    if (!exact) {
        pixelCount = 0;
        sum = 0.0;
        scanRows([&](int64_t y, int64_t startX, int64_t endX) {
            for (int64_t x = startX; x <= endX; ++x) {
                sum += pixelValue(pixels, stride, bytesPerPixel, x, y);
                ++pixelCount;
            }
            return true;
        });
    }
    if (pixelCount <= 0) return 0;
    const double mean = std::trunc(sum / static_cast<double>(pixelCount));
    // Pixels wider than 4 bytes can exceed the 32-bit result.
    if (mean >= 4294967295.0) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(mean);
}

void pairTriangles(GridSet& set, int frame, const cv::Mat& image) {
    if (!set.hasFrame(frame) || image.empty()) return;
    g_part* trianglePart = set.frames[static_cast<size_t>(frame)].trianglePart.get();
    g_part* gridPart = set.frames[static_cast<size_t>(frame)].gridPart.get();

    set.pendingElements.clear();
    if (image.depth() != CV_8U || image.dims != 2) return;

    const int width = image.cols;
    const int height = image.rows;
    const int channels = image.channels();
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    const size_t stride = (rowBytes + 3) / 4 * 4;

    // meanInPolygon addresses rows by the padded stride of a frame image; any
    // other layout is first copied into one.
    cv::Mat padded;
    const uint8_t* pixels = image.data;
    if (image.step[0] != stride) {
        padded = cv::Mat::zeros(height, static_cast<int>(stride), CV_8UC1);
        for (int y = 0; y < height; ++y) std::memcpy(padded.ptr(y), image.ptr(y), rowBytes);
        pixels = padded.data;
    }
    const int bitsPerPixel = channels * 8;

    g_container<g_element*>& triangles = trianglePart->elements();
    const uint32_t n = triangles.numberOfItems();
    std::vector<GridElement*> T(n, nullptr);
    for (uint32_t i = 0; i < n; ++i) {
        T[i] = dynamic_cast<GridElement*>(triangles.item(i));
        if (T[i] != nullptr) T[i]->meanGrey = meanInPolygon(pixels, width, height, bitsPerPixel, T[i]);
    }

    for (uint32_t i = 0; i < n; ++i) {
        GridElement* t = T[i];
        if (t == nullptr || t->inGrid) continue;

        g_container<g_element*> neighbours = t->edgeNeighbours();
        if (neighbours.isEmpty()) continue;
        GridElement* u = closestInBrightness(neighbours, t->meanGrey);
        if (u == nullptr || !lanesClose(u->meanGrey, t->meanGrey)) continue;

        g_container<g_element*> partnerNeighbours = u->edgeNeighbours();
        if (closestInBrightness(partnerNeighbours, u->meanGrey) != t) continue;

        const int a = firstNodeNotIn(*t, *u);
        const int b = firstNodeNotIn(*u, *t);
        if (a < 0 || b < 0) continue;

        const uint32_t tCount = t->nodes().numberOfItems();
        if (tCount < 3) continue;  // not a polygon: the cell would repeat a node
        g_node* corners[4] = {
            counterpart(*trianglePart, *gridPart, t->getNode(static_cast<uint32_t>(a))),
            counterpart(*trianglePart, *gridPart, t->getNode((static_cast<uint32_t>(a) + 1) % tCount)),
            counterpart(*trianglePart, *gridPart, u->getNode(static_cast<uint32_t>(b))),
            counterpart(*trianglePart, *gridPart, t->getNode((static_cast<uint32_t>(a) + 2) % tCount)),
        };
        if (std::find(std::begin(corners), std::end(corners), nullptr) != std::end(corners)) continue;

        auto* cell = new GridElement();
        for (g_node* corner : corners) cell->addNode(corner);
        cell->meanGrey = meanInPolygon(pixels, width, height, bitsPerPixel, cell);
        set.pendingElements.append(cell);
        t->inGrid = 1;
        u->inGrid = 1;
    }
}
