#include "grid/corner_refinement.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "grid/grid_set.h"
#include "grid/marker_cells.h"

namespace {

constexpr int kIterations = 40;
constexpr double kEpsilon = 0.001;

// The largest half-size whose window (and the pixel beyond it) stays inside
// the image with the border margin; below kMinHalfWindow when none does.
int halfWindowInside(double x, double y, int width, int height, int wanted) {
    int h = wanted;
    while (h >= kMinHalfWindow && !refinementWindowInside(x, y, width, height, h)) --h;
    return h;
}

// Whether corner (x, y) is a corner of one of the printed marker cells. The
// cells around corner (x, y) are (x, y) .. (x + 1, y + 1).
bool onMarkerCell(int x, int y) {
    for (int dx = 0; dx <= 1; ++dx)
        for (int dy = 0; dy <= 1; ++dy)
            if (isPrintedMarker(x + dx, y + dy, kMarkerBrightCell) || isPrintedMarker(x + dx, y + dy, kMarkerDarkCell))
                return true;
    return false;
}

}  // namespace

int refineCorrespondences(GridSet& set, int frame, const cv::Mat& image) {
    if (!set.hasFrame(frame) || image.empty() || image.type() != CV_8UC1) return 0;
    FrameGrid& record = set.frames[static_cast<size_t>(frame)];
    const int count = record.pointCount;
    if (count <= 0 || count > set.maxPoints) return 0;

    std::map<std::pair<int, int>, cv::Point2f> at;
    for (int k = 0; k < count; ++k) {
        const GridPoint& p = record.patternPoints[static_cast<size_t>(k)];
        const GridPoint& q = record.imagePoints[static_cast<size_t>(k)];
        at[{static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y))}] = cv::Point2f(q.x, q.y);
    }

    const int steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    int kept = 0;
    for (int k = 0; k < count; ++k) {
        const GridPoint pattern = record.patternPoints[static_cast<size_t>(k)];
        const GridPoint image0 = record.imagePoints[static_cast<size_t>(k)];
        const cv::Point2f start(image0.x, image0.y);
        const int px = static_cast<int>(std::lround(pattern.x));
        const int py = static_cast<int>(std::lround(pattern.y));
        double side = 0.0;
        for (const auto& step : steps) {
            const auto near = at.find({px + step[0], py + step[1]});
            if (near == at.end()) continue;
            const double d = cv::norm(near->second - start);
            if (side == 0.0 || d < side) side = d;
        }

        cv::Point2f refined = start;
        if (side > 0.0) {
            const double share = onMarkerCell(px, py) ? kMarkerCornerShare : kRefineCellShare;
            const int wanted =
                std::clamp(static_cast<int>(std::lround(share * side)), kMinHalfWindow, kMaxHalfWindow);
            const int h = halfWindowInside(start.x, start.y, image.cols, image.rows, wanted);
            if (h >= kMinHalfWindow) {
                std::vector<cv::Point2f> one{start};
                cv::cornerSubPix(image, one, cv::Size(h, h), cv::Size(-1, -1),
                                 cv::TermCriteria(cv::TermCriteria::EPS | cv::TermCriteria::COUNT, kIterations,
                                                  kEpsilon));
                refined = one[0];
            }
            if (!(cv::norm(refined - start) <= kMaxMoveShare * side)) continue;
            if (!refinementWindowInside(refined.x, refined.y, image.cols, image.rows)) continue;
        }
        record.imagePoints[static_cast<size_t>(kept)] = GridPoint{refined.x, refined.y};
        record.patternPoints[static_cast<size_t>(kept)] = pattern;
        ++kept;
    }
    record.pointCount = kept;
    return count - kept;
}
