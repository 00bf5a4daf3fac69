#include "grid/corner_detection.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <vector>

#include "grid/frame_image.h"
#include "grid/grid_set.h"
#include "support/frame_vectors.h"

namespace {

constexpr unsigned char DARK = 30;
constexpr unsigned char BRIGHT = 225;

// Integral over [a, b] of the square wave that is +1 on [origin + 2ks,
// origin + (2k+1)s) and -1 on the other half periods.
double squareWaveIntegral(double a, double b, double origin, double s) {
    auto primitive = [&](double x) {
        const double u = (x - origin) / s;
        const double k = std::floor(u);
        const double frac = u - k;
        // Over every full period the wave integrates to 0; within the half
        // period k it rises (k even) or falls (k odd) linearly.
        const bool even = std::fmod(std::fabs(k), 2.0) == 0.0;
        return s * (even ? frac : 1.0 - frac);
    };
    return primitive(b) - primitive(a);
}

// A frontal checkerboard filling the whole frame, its square edges at
// origin + k * square in x and y, rendered with exact pixel coverage (pixel
// (i, j) covers [i - 0.5, i + 0.5] x [j - 0.5, j + 0.5]).
cv::Mat frontalBoard(int width, int height, double originX, double originY, double square) {
    cv::Mat image = makeFrameImage(width, height);
    for (int j = 0; j < height; ++j) {
        const double wy = squareWaveIntegral(j - 0.5, j + 0.5, originY, square);
        for (int i = 0; i < width; ++i) {
            const double wx = squareWaveIntegral(i - 0.5, i + 0.5, originX, square);
            const double bright = 0.5 + 0.5 * wx * wy;  // coverage of the bright squares
            image.at<unsigned char>(j, i) = static_cast<unsigned char>(std::lround(DARK + (BRIGHT - DARK) * bright));
        }
    }
    return image;
}

// The X-junctions of the frontal board that lie at least `margin` pixels
// inside the frame.
std::vector<cv::Point2d> frontalJunctions(int width, int height, double originX, double originY, double square,
                                          double margin) {
    std::vector<cv::Point2d> junctions;
    for (double y = originY; y < height; y += square) {
        for (double x = originX; x < width; x += square) {
            if (x >= margin && y >= margin && x <= width - 1 - margin && y <= height - 1 - margin)
                junctions.emplace_back(x, y);
        }
    }
    return junctions;
}

// A checkerboard plane, turned in its own plane by `spin` radians, seen by a
// pinhole camera after a rotation of `tilt` radians about the vertical axis.
// Board point (X, Y) (square size 1) maps to the image by the homography H;
// every pixel averages n x n samples. The spin keeps the square edges off the
// pixel axes, where the regular sampling would bias the edges.
struct TiltedBoard {
    cv::Matx33d H;
    cv::Matx33d inverse;

    TiltedBoard(double tilt, double spin, double focal, double distance, double cx, double cy) {
        const cv::Matx33d K(focal, 0, cx, 0, focal, cy, 0, 0, 1);
        const double a = std::cos(spin), b = std::sin(spin);
        // Columns: the board's x axis, y axis (both in camera coordinates),
        // and the board origin.
        const cv::Matx33d Rt(std::cos(tilt) * a, -std::cos(tilt) * b, 0,  //
                             b, a, 0,                                      //
                             std::sin(tilt) * a, -std::sin(tilt) * b, distance);
        H = K * Rt;
        inverse = H.inv();
    }

    cv::Point2d project(double X, double Y) const {
        const cv::Vec3d p = H * cv::Vec3d(X, Y, 1);
        return {p[0] / p[2], p[1] / p[2]};
    }

    cv::Mat render(int width, int height, int samples) const {
        cv::Mat image = makeFrameImage(width, height);
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                int bright = 0;
                for (int sy = 0; sy < samples; ++sy) {
                    for (int sx = 0; sx < samples; ++sx) {
                        const double u = i - 0.5 + (sx + 0.5) / samples;
                        const double v = j - 0.5 + (sy + 0.5) / samples;
                        const cv::Vec3d b = inverse * cv::Vec3d(u, v, 1);
                        const long long cellX = static_cast<long long>(std::floor(b[0] / b[2]));
                        const long long cellY = static_cast<long long>(std::floor(b[1] / b[2]));
                        if (((cellX + cellY) & 1) == 0) ++bright;
                    }
                }
                const double coverage = static_cast<double>(bright) / (samples * samples);
                image.at<unsigned char>(j, i) =
                    static_cast<unsigned char>(std::lround(DARK + (BRIGHT - DARK) * coverage));
            }
        }
        return image;
    }
};

std::vector<GridPoint> storedCorners(const GridSet& set, int frame) {
    std::vector<GridPoint> corners;
    for (int k = 0; k < set.getPointCount(frame); ++k) corners.push_back(set.frames[frame].imagePoints[k]);
    return corners;
}

double nearestDistance(const GridPoint& p, const std::vector<cv::Point2d>& truth) {
    double best = std::numeric_limits<double>::infinity();
    for (const cv::Point2d& t : truth) best = std::min(best, std::hypot(p.x - t.x, p.y - t.y));
    return best;
}

TEST(DetectCorners, MatchesTheReferenceFrames) {
    for (const std::string& name : vexel::test::vectorFrameNames()) {
        SCOPED_TRACE(name);
        const nlohmann::json expected = vexel::test::loadExpected(name);
        const cv::Mat image = vexel::test::loadFrameImage(name);
        GridSet set;
        set.allocate(1, 200);
        detectCorners(set, 0, image);

        const nlohmann::json& corners = expected.at("corners");
        ASSERT_EQ(set.getPointCount(0), static_cast<int>(corners.size()));
        for (size_t k = 0; k < corners.size(); ++k) {
            GridPoint p{};
            ASSERT_TRUE(set.getImagePoint(0, static_cast<int>(k), p));
            EXPECT_NEAR(p.x, corners[k].at(0).get<double>(), 1e-3) << "slot " << k;
            EXPECT_NEAR(p.y, corners[k].at(1).get<double>(), 1e-3) << "slot " << k;
        }
    }
}

TEST(DetectCorners, FindsEveryJunctionOfAFrontalBoard) {
    const double ox = 20.37, oy = 20.81, square = 40.0;
    const cv::Mat image = frontalBoard(640, 480, ox, oy, square);
    const std::vector<cv::Point2d> truth = frontalJunctions(640, 480, ox, oy, square, 0.0);
    ASSERT_EQ(truth.size(), 16u * 12u);

    GridSet set;
    set.allocate(2, 200);
    detectCorners(set, 1, image);
    const std::vector<GridPoint> found = storedCorners(set, 1);
    EXPECT_EQ(found.size(), truth.size());
    for (const GridPoint& p : found) EXPECT_LT(nearestDistance(p, truth), 0.1) << p.x << ", " << p.y;

    // Every junction is found once.
    std::vector<int> hits(truth.size(), 0);
    for (const GridPoint& p : found) {
        for (size_t t = 0; t < truth.size(); ++t)
            if (std::hypot(p.x - truth[t].x, p.y - truth[t].y) < 1.0) ++hits[t];
    }
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), static_cast<long>(truth.size()));

    // Frame 0 was not touched.
    EXPECT_EQ(set.frames[0].pointCount, 200);
}

TEST(DetectCorners, StoresAtMostMaxPointsCorners) {
    const cv::Mat image = frontalBoard(640, 480, 20.37, 20.81, 40.0);
    GridSet set;
    set.allocate(1, 50);
    detectCorners(set, 0, image);
    EXPECT_EQ(set.getPointCount(0), 50);
}

TEST(DetectCorners, OddWidthFrameKeepsFullResolutionCoordinates) {
    // 641 pixels wide: the half image is 320 wide; junctions near the right
    // edge still come back at full-resolution positions.
    const double ox = 20.6, oy = 20.2, square = 40.0;
    const cv::Mat image = frontalBoard(641, 481, ox, oy, square);
    const std::vector<cv::Point2d> truth = frontalJunctions(641, 481, ox, oy, square, 0.0);
    GridSet set;
    set.allocate(1, 200);
    detectCorners(set, 0, image);
    const std::vector<GridPoint> found = storedCorners(set, 0);
    EXPECT_EQ(found.size(), truth.size());
    double maxX = 0;
    for (const GridPoint& p : found) {
        EXPECT_LT(nearestDistance(p, truth), 0.1);
        maxX = std::max(maxX, static_cast<double>(p.x));
    }
    EXPECT_NEAR(maxX, 620.6, 0.1);
}

TEST(DetectCorners, StronglyTiltedBoardStaysAccurate) {
    const double tilt = 55.0 * CV_PI / 180.0;
    const TiltedBoard board(tilt, 20.0 * CV_PI / 180.0, 2000.0, 30.0, 320.0, 240.0);
    const cv::Mat image = board.render(640, 480, 8);

    std::vector<cv::Point2d> truth;
    for (int Y = -40; Y <= 40; ++Y)
        for (int X = -40; X <= 40; ++X) truth.push_back(board.project(X, Y));

    GridSet set;
    set.allocate(1, 200);
    detectCorners(set, 0, image);
    const std::vector<GridPoint> found = storedCorners(set, 0);
    ASSERT_GE(found.size(), 60u);

    // A junction cut by the frame border is no full X pattern; the corners
    // at such junctions are left out of the accuracy count.
    auto inside = [](const cv::Point2d& t) { return t.x >= 5 && t.y >= 5 && t.x <= 634 && t.y <= 474; };
    std::vector<cv::Point2d> innerTruth;
    std::copy_if(truth.begin(), truth.end(), std::back_inserter(innerTruth), inside);
    size_t close = 0, counted = 0;
    double worst = 0;
    for (const GridPoint& p : found) {
        if (nearestDistance(p, truth) < nearestDistance(p, innerTruth)) continue;  // nearest junction is at the border
        if (!inside(cv::Point2d(p.x, p.y))) continue;
        ++counted;
        const double d = nearestDistance(p, innerTruth);
        if (d <= 0.1) ++close;
        worst = std::max(worst, d);
    }
    ASSERT_GE(counted, 100u);
    EXPECT_GE(static_cast<double>(close), 0.98 * counted) << close << " of " << counted;
    EXPECT_LE(worst, 0.5);
}

TEST(DetectCorners, BlankAndTinyFramesGiveNoCorners) {
    GridSet set;
    set.allocate(4, 200);
    detectCorners(set, 0, makeFrameImage(640, 480));  // all zero
    EXPECT_EQ(set.getPointCount(0), 0);

    cv::Mat grey = makeFrameImage(320, 240);
    grey.setTo(cv::Scalar(128));
    detectCorners(set, 1, grey);
    EXPECT_EQ(set.getPointCount(1), 0);

    detectCorners(set, 2, makeFrameImage(1, 480));  // no half image to search
    EXPECT_EQ(set.getPointCount(2), 0);

    // Smaller than the refinement window: searched without crashing.
    detectCorners(set, 3, frontalBoard(12, 12, 5.5, 5.5, 6.0));
    EXPECT_GE(set.getPointCount(3), 0);
    EXPECT_LE(set.getPointCount(3), 200);
}

TEST(DetectCorners, SearchesOnlyOncePerAllocation) {
    const cv::Mat board = frontalBoard(640, 480, 20.37, 20.81, 40.0);
    GridSet set;
    set.allocate(1, 200);
    detectCorners(set, 0, makeFrameImage(640, 480));
    ASSERT_EQ(set.getPointCount(0), 0);
    detectCorners(set, 0, board);  // already searched: nothing happens
    EXPECT_EQ(set.getPointCount(0), 0);

    set.allocate(1, 200);
    detectCorners(set, 0, board);
    EXPECT_EQ(set.getPointCount(0), 192);
}

TEST(DetectCorners, IgnoresMissingRecordsAndUnsuitableImages) {
    const cv::Mat board = frontalBoard(160, 120, 20.37, 20.81, 40.0);
    GridSet empty;
    detectCorners(empty, 0, board);  // nothing allocated
    EXPECT_TRUE(empty.frames.empty());

    GridSet set;
    set.allocate(1, 200);
    detectCorners(set, -1, board);
    detectCorners(set, 1, board);
    detectCorners(set, 0, cv::Mat());
    cv::Mat colour;
    cv::Mat channels[] = {board, board, board};
    cv::merge(channels, 3, colour);
    detectCorners(set, 0, colour);
    EXPECT_EQ(set.frames[0].pointCount, 200);
    for (const GridPoint& p : set.frames[0].imagePoints) {
        EXPECT_EQ(p.x, 0.0f);
        EXPECT_EQ(p.y, 0.0f);
    }
}

}  // namespace

// The local mean and deviation of the normalised search are wide blurs of a
// board and of its square; computed shrunk, they must match the full blur
// closely (here within 0.5 % of the board's contrast), edges included.
TEST(WideGaussianBlur, MatchesTheFullBlurOfABoard) {
    cv::Mat board;
    frontalBoard(1280, 720, 200.0, 120.0, 60.0).convertTo(board, CV_32F);
    for (double sigma : {25.6, 70.0}) {
        cv::Mat full;
        cv::GaussianBlur(board, full, cv::Size(0, 0), sigma, sigma, cv::BORDER_REFLECT);
        const cv::Mat fast = wideGaussianBlur(board, sigma);
        ASSERT_EQ(fast.size(), board.size());
        EXPECT_LT(cv::norm(fast, full, cv::NORM_INF), 0.005 * 255.0) << "sigma " << sigma;
    }
}
