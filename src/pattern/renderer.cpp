#include "pattern/renderer.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string_view>

#include "pattern/backdrop.h"
#include "pattern/board.h"
#include "pattern/image_encoding.h"

namespace vexel::pattern {

// ---------------------------------------------------------------- random draws

double PortableRandom::uniform() {
    // 53 random bits from two raw draws, the usual construction of a double in [0, 1).
    const uint64_t a = raw() >> 5;  // 27 bits
    const uint64_t b = raw() >> 6;  // 26 bits
    return static_cast<double>((a << 26) | b) * (1.0 / 9007199254740992.0);
}

double PortableRandom::uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }

double PortableRandom::normal() {
    if (hasSpare_) {
        hasSpare_ = false;
        return spare_;
    }
    const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
    const double u2 = uniform();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    const double angle = 2.0 * std::numbers::pi * u2;
    spare_ = radius * std::sin(angle);
    hasSpare_ = true;
    return radius * std::cos(angle);
}

// ---------------------------------------------------------------- camera model

namespace {

// theta_d of the equidistant model and its derivative by theta.
double equidistantRadius(const Camera& c, double theta) {
    const double t2 = theta * theta;
    return theta * (1.0 + t2 * (c.k1 + t2 * (c.k2 + t2 * (c.k3 + t2 * c.k4))));
}

double equidistantSlope(const Camera& c, double theta) {
    const double t2 = theta * theta;
    return 1.0 + t2 * (3.0 * c.k1 + t2 * (5.0 * c.k2 + t2 * (7.0 * c.k3 + t2 * 9.0 * c.k4)));
}

// The angle theta whose theta_d is `radius`, by Newton iteration; false when
// the model folds over before it gets there.
bool equidistantAngle(const Camera& c, double radius, double& theta) {
    double t = radius;
    for (int iteration = 0; iteration < 60; ++iteration) {
        const double slope = equidistantSlope(c, t);
        if (!(slope > 1e-9)) return false;
        const double step = (equidistantRadius(c, t) - radius) / slope;
        t -= step;
        if (!std::isfinite(t) || t < 0.0 || t > std::numbers::pi) return false;
        if (std::abs(step) <= 1e-15 * (1.0 + t)) break;
    }
    if (std::abs(equidistantRadius(c, t) - radius) > 1e-12 * (1.0 + radius) || !(equidistantSlope(c, t) > 0.0))
        return false;
    theta = t;
    return true;
}

// The rational model's radial factor and twice its derivative by r^2.
void rationalRadial(const Camera& c, double r2, double& radial, double& dRadial) {
    const double numerator = 1.0 + r2 * (c.k1 + r2 * (c.k2 + r2 * c.k3));
    const double denominator = 1.0 + r2 * (c.k4 + r2 * (c.k5 + r2 * c.k6));
    const double dNumerator = c.k1 + r2 * (2.0 * c.k2 + r2 * 3.0 * c.k3);
    const double dDenominator = c.k4 + r2 * (2.0 * c.k5 + r2 * 3.0 * c.k6);
    radial = numerator / denominator;
    dRadial = 2.0 * (dNumerator * denominator - numerator * dDenominator) / (denominator * denominator);
}

}  // namespace

cv::Point2d distortNormalised(const Camera& c, cv::Point2d p) {
    const double x = p.x, y = p.y;
    const double r2 = x * x + y * y;
    if (c.projection == Projection::Equidistant) {
        const double r = std::sqrt(r2);
        const double scale = r > 0.0 ? equidistantRadius(c, std::atan(r)) / r : 1.0;
        return {x * scale, y * scale};
    }
    double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2;
    if (c.rational()) {
        double unused;
        rationalRadial(c, r2, radial, unused);
    }
    return {x * radial + 2.0 * c.p1 * x * y + c.p2 * (r2 + 2.0 * x * x),
            y * radial + c.p1 * (r2 + 2.0 * y * y) + 2.0 * c.p2 * x * y};
}

namespace {

// Jacobian of the perspective distortNormalised at p: [a b; d e].
void distortionJacobian(const Camera& c, double x, double y, double& a, double& b, double& d, double& e) {
    const double r2 = x * x + y * y;
    double radial = 1.0 + c.k1 * r2 + c.k2 * r2 * r2;
    double dRadial = 2.0 * (c.k1 + 2.0 * c.k2 * r2);  // d radial / d x = dRadial * x
    if (c.rational()) rationalRadial(c, r2, radial, dRadial);
    a = radial + x * dRadial * x + 2.0 * c.p1 * y + 6.0 * c.p2 * x;
    b = x * dRadial * y + 2.0 * c.p1 * x + 2.0 * c.p2 * y;
    d = y * dRadial * x + 2.0 * c.p1 * x + 2.0 * c.p2 * y;
    e = radial + y * dRadial * y + 6.0 * c.p1 * y + 2.0 * c.p2 * x;
}

bool validCamera(const Camera& c) {
    return c.width >= 1 && c.height >= 1 && c.width <= 16384 && c.height <= 16384 && std::isfinite(c.fx) &&
           std::isfinite(c.fy) && std::isfinite(c.cx) && std::isfinite(c.cy) && c.fx != 0.0 && c.fy != 0.0 &&
           std::isfinite(c.k1) && std::isfinite(c.k2) && std::isfinite(c.p1) && std::isfinite(c.p2) &&
           std::isfinite(c.k3) && std::isfinite(c.k4) && std::isfinite(c.k5) && std::isfinite(c.k6);
}

}  // namespace

bool undistortNormalised(const Camera& c, cv::Point2d distorted, cv::Point2d& undistorted) {
    if (c.projection == Projection::Equidistant) {
        const double radius = std::hypot(distorted.x, distorted.y);
        double theta = 0.0;
        if (!equidistantAngle(c, radius, theta) || !(theta < std::numbers::pi / 2)) return false;
        const double scale = radius > 0.0 ? std::tan(theta) / radius : 1.0;
        undistorted = {distorted.x * scale, distorted.y * scale};
        return true;
    }
    double x = distorted.x, y = distorted.y;
    for (int iteration = 0; iteration < 60; ++iteration) {
        const cv::Point2d f = distortNormalised(c, {x, y});
        const double rx = f.x - distorted.x, ry = f.y - distorted.y;
        double a, b, d, e;
        distortionJacobian(c, x, y, a, b, d, e);
        const double det = a * e - b * d;
        if (!(det > 1e-12)) return false;  // folded or degenerate model here
        const double dx = (e * rx - b * ry) / det;
        const double dy = (a * ry - d * rx) / det;
        x -= dx;
        y -= dy;
        if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > 1e6 || std::abs(y) > 1e6) return false;
        if (std::abs(dx) + std::abs(dy) <= 1e-15 * (1.0 + std::abs(x) + std::abs(y))) break;
    }
    const cv::Point2d check = distortNormalised(c, {x, y});
    if (std::abs(check.x - distorted.x) + std::abs(check.y - distorted.y) > 1e-11) return false;
    double a, b, d, e;
    distortionJacobian(c, x, y, a, b, d, e);
    if (!(a * e - b * d > 0.0)) return false;
    undistorted = {x, y};
    return true;
}

bool projectCameraPoint(const Camera& c, const cv::Vec3d& p, cv::Point2d& image) {
    if (c.projection == Projection::Equidistant) {
        const double rho = std::hypot(p[0], p[1]);
        const double theta = std::atan2(rho, p[2]);
        if (!(theta < std::numbers::pi - 1e-6) || !(equidistantSlope(c, theta) > 0.0)) return false;
        const double scale = rho > 0.0 ? equidistantRadius(c, theta) / rho : 0.0;
        image = {c.fx * p[0] * scale + c.cx, c.fy * p[1] * scale + c.cy};
        return true;
    }
    if (!(p[2] > 1e-9)) return false;
    const cv::Point2d d = distortNormalised(c, {p[0] / p[2], p[1] / p[2]});
    image = {c.fx * d.x + c.cx, c.fy * d.y + c.cy};
    return true;
}

bool imageRay(const Camera& c, cv::Point2d image, cv::Vec3d& ray) {
    const cv::Point2d distorted((image.x - c.cx) / c.fx, (image.y - c.cy) / c.fy);
    if (c.projection == Projection::Equidistant) {
        const double radius = std::hypot(distorted.x, distorted.y);
        double theta = 0.0;
        if (!equidistantAngle(c, radius, theta)) return false;
        const double scale = radius > 0.0 ? std::sin(theta) / radius : 0.0;
        ray = cv::Vec3d(distorted.x * scale, distorted.y * scale, std::cos(theta));
        return true;
    }
    cv::Point2d n;
    if (!undistortNormalised(c, distorted, n)) return false;
    ray = cv::Vec3d(n.x, n.y, 1.0);
    return true;
}

Camera equidistantCamera(int width, int height, double fovDegrees, double k1, double k2, double k3, double k4) {
    Camera c;
    c.projection = Projection::Equidistant;
    c.width = width;
    c.height = height;
    c.k1 = k1;
    c.k2 = k2;
    c.k3 = k3;
    c.k4 = k4;
    c.p1 = c.p2 = 0.0;
    const double edge = equidistantRadius(c, fovDegrees * std::numbers::pi / 360.0);
    c.fx = c.fy = width / 2.0 / edge;
    c.cx = (width - 1) / 2.0;
    c.cy = (height - 1) / 2.0;
    return c;
}

// ---------------------------------------------------------------- sheet

namespace {

// The board's middle and half extent along each axis.
constexpr double kMidX = (kBoardMinX + kBoardMaxX) / 2, kHalfX = (kBoardMaxX - kBoardMinX) / 2;
constexpr double kMidY = (kBoardMinY + kBoardMaxY) / 2, kHalfY = (kBoardMaxY - kBoardMinY) / 2;

// Where the ray o + s a (s > 0, pattern frame) meets the sheet, by Newton
// iteration on s from where it meets the plane. False when it does not.
bool meetSheet(const SheetBend& bend, const cv::Vec3d& o, const cv::Vec3d& a, cv::Vec2d& at) {
    if (!(std::abs(a[2]) > 1e-12)) return false;
    double s = -o[2] / a[2];
    for (int iteration = 0; iteration < 30; ++iteration) {
        const double x = o[0] + s * a[0], y = o[1] + s * a[1];
        const double u = (x - kMidX) / kHalfX, v = (y - kMidY) / kHalfY;
        const double f = o[2] + s * a[2] - sheetHeight(bend, x, y);
        const double slope = a[2] + 2.0 * (bend.alongX * u / kHalfX * a[0] + bend.alongY * v / kHalfY * a[1]);
        if (!(std::abs(slope) > 1e-12)) return false;
        const double step = f / slope;
        s -= step;
        if (!std::isfinite(s)) return false;
        if (std::abs(step) <= 1e-13 * (1.0 + std::abs(s))) break;
    }
    if (!(s > 0.0)) return false;
    const double x = o[0] + s * a[0], y = o[1] + s * a[1];
    if (std::abs(o[2] + s * a[2] - sheetHeight(bend, x, y)) > 1e-9 * (1.0 + std::abs(s))) return false;
    at = cv::Vec2d(x, y);
    return true;
}

}  // namespace

double sheetHeight(const SheetBend& bend, double x, double y) {
    if (bend.flat()) return 0.0;
    const double u = (x - kMidX) / kHalfX, v = (y - kMidY) / kHalfY;
    return bend.alongX * (1.0 - u * u) + bend.alongY * (1.0 - v * v);
}

namespace {

cv::Matx33d rotationOf(const cv::Vec3d& rvec) {
    cv::Matx33d r;
    cv::Rodrigues(rvec, r);
    return r;
}

bool projectWith(const Camera& c, const cv::Matx33d& r, const cv::Vec3d& t, const SheetBend& bend, double x,
                 double y, cv::Point2d& image) {
    return projectCameraPoint(c, r * cv::Vec3d(x, y, sheetHeight(bend, x, y)) + t, image);
}

}  // namespace

bool projectPatternPoint(const Camera& camera, const ViewPose& pose, double x, double y, cv::Point2d& image) {
    return projectWith(camera, rotationOf(pose.rvec), pose.tvec, pose.bend, x, y, image);
}

std::vector<CornerTruth> trueCorners(const Camera& camera, const ViewPose& pose) {
    const cv::Matx33d r = rotationOf(pose.rvec);
    std::vector<CornerTruth> corners;
    corners.reserve(kCornerCount);
    for (int j = kFirstCornerY; j <= kLastCornerY; ++j) {
        for (int i = kFirstCornerX; i <= kLastCornerX; ++i) {
            cv::Point2d p(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
            projectWith(camera, r, pose.tvec, pose.bend, i, j, p);
            corners.push_back({i, j, p.x, p.y});
        }
    }
    return corners;
}

// ---------------------------------------------------------------- rendering

namespace {

constexpr double kOutside = std::numeric_limits<double>::quiet_NaN();

// Which constant-colour rectangle of the pattern plane a point falls in: the
// board's cells, the four margin bands and the background beyond the sheet
// split the plane into a grid of convex rectangles. A pixel whose four
// corners share a rectangle (and that rectangle has no spot) has one colour.
int bandOf(double v, double boardMin, double boardMax, double margin) {
    if (v < boardMin - margin) return -1000;
    if (v < boardMin) return -500;
    if (v >= boardMax + margin) return 1000;
    if (v >= boardMax) return 500;
    return cellLabelOf(v);
}

struct Shader {
    double dark, bright, background, margin;

    double grey(double x, double y) const {
        if (!onSheet(x, y, margin)) return background;
        return dark + (bright - dark) * boardReflectance(x, y);
    }
};

// Area of polygon `poly` (n vertices) clipped to the rectangle [x0, x1] x
// [y0, y1] (Sutherland-Hodgman against the four sides).
double clippedArea(const cv::Point2d* poly, int n, double x0, double x1, double y0, double y1) {
    cv::Point2d a[16], b[16];
    int count = n;
    for (int k = 0; k < n; ++k) a[k] = poly[k];
    auto clip = [&](auto inside, auto cross) {
        int out = 0;
        for (int k = 0; k < count; ++k) {
            const cv::Point2d& cur = a[k];
            const cv::Point2d& prev = a[(k + count - 1) % count];
            const bool ci = inside(cur), pi = inside(prev);
            if (ci != pi) b[out++] = cross(prev, cur);
            if (ci) b[out++] = cur;
        }
        count = out;
        for (int k = 0; k < count; ++k) a[k] = b[k];
    };
    auto atX = [](double x) {
        return [x](const cv::Point2d& p, const cv::Point2d& q) {
            const double t = (x - p.x) / (q.x - p.x);
            return cv::Point2d(x, p.y + t * (q.y - p.y));
        };
    };
    auto atY = [](double y) {
        return [y](const cv::Point2d& p, const cv::Point2d& q) {
            const double t = (y - p.y) / (q.y - p.y);
            return cv::Point2d(p.x + t * (q.x - p.x), y);
        };
    };
    clip([x0](const cv::Point2d& p) { return p.x >= x0; }, atX(x0));
    if (count > 0) clip([x1](const cv::Point2d& p) { return p.x <= x1; }, atX(x1));
    if (count > 0) clip([y0](const cv::Point2d& p) { return p.y >= y0; }, atY(y0));
    if (count > 0) clip([y1](const cv::Point2d& p) { return p.y <= y1; }, atY(y1));
    double twice = 0.0;
    for (int k = 0; k < count; ++k) {
        const cv::Point2d& p = a[k];
        const cv::Point2d& q = a[(k + 1) % count];
        twice += p.x * q.y - q.x * p.y;
    }
    return std::abs(twice) * 0.5;
}

// Grey level of a pixel whose footprint on the board plane (the quadrilateral
// through the plane points of its four corners) crosses an edge: the exact
// area average of the background, the margin and the cells, plus the spots'
// soft profile averaged over sub-samples. Within one pixel the image-to-plane
// map is so close to bilinear that straight footprint sides are exact far
// below the sample spacing.
double mixedPixel(const cv::Vec2d& p00, const cv::Vec2d& p10, const cv::Vec2d& p11, const cv::Vec2d& p01,
                  const Shader& shader, const std::vector<cv::Point2d>& offsets) {
    const cv::Point2d quad[4] = {{p00[0], p00[1]}, {p10[0], p10[1]}, {p11[0], p11[1]}, {p01[0], p01[1]}};
    double twice = 0.0;
    double minX = quad[0].x, maxX = minX, minY = quad[0].y, maxY = minY;
    for (int k = 0; k < 4; ++k) {
        const cv::Point2d& p = quad[k];
        const cv::Point2d& q = quad[(k + 1) % 4];
        twice += p.x * q.y - q.x * p.y;
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    const double area = std::abs(twice) * 0.5;
    // Degenerate or unbounded footprints (a pixel at the horizon): take the
    // colour at its first corner.
    if (!(area > 1e-300) || !std::isfinite(area)) return shader.grey(quad[0].x, quad[0].y);

    const double m = shader.margin;
    const double onSheetArea = clippedArea(quad, 4, kBoardMinX - m, kBoardMaxX + m, kBoardMinY - m, kBoardMaxY + m);
    double boardArea = 0.0, brightArea = 0.0;
    bool spot = false;
    const int firstX = std::max(kFirstCellX, cellLabelOf(minX)), lastX = std::min(kLastCellX, cellLabelOf(maxX));
    const int firstY = std::max(kFirstCellY, cellLabelOf(minY)), lastY = std::min(kLastCellY, cellLabelOf(maxY));
    for (int cy = firstY; cy <= lastY; ++cy) {
        for (int cx = firstX; cx <= lastX; ++cx) {
            const double a = clippedArea(quad, 4, cx - 1, cx, cy - 1, cy);
            boardArea += a;
            if (isBrightCell(cx, cy)) brightArea += a;
            spot = spot || (a > 0.0 && isMarkerCell(cx, cy));
        }
    }
    const double marginArea = std::max(0.0, onSheetArea - boardArea);
    const double backgroundArea = std::max(0.0, area - onSheetArea);
    double grey = (shader.background * backgroundArea + shader.bright * (marginArea + brightArea) +
                   shader.dark * std::max(0.0, boardArea - brightArea)) /
                  area;
    if (spot) {
        // The spots lie inside their cells: add their departure from the
        // plain cell colour, averaged over the sub-samples.
        double departure = 0.0;
        for (const cv::Point2d& o : offsets) {
            const double w00 = (1 - o.x) * (1 - o.y), w10 = o.x * (1 - o.y);
            const double w01 = (1 - o.x) * o.y, w11 = o.x * o.y;
            const double x = w00 * p00[0] + w10 * p10[0] + w01 * p01[0] + w11 * p11[0];
            const double y = w00 * p00[1] + w10 * p10[1] + w01 * p01[1] + w11 * p11[1];
            const int cx = cellLabelOf(x), cy = cellLabelOf(y);
            if (!isMarkerCell(cx, cy)) continue;
            departure += boardReflectance(x, y) - (isBrightCell(cx, cy) ? kBright : kDark);
        }
        grey += (shader.bright - shader.dark) * departure / offsets.size();
    }
    return grey;
}

}  // namespace

cv::Mat1f sheetOverScene(const Camera& camera, const ViewPose& pose, const RenderOptions& options,
                         const cv::Mat1f& scene) {
    RenderOptions flat = options;
    flat.backdropSeed = 0;
    flat.blurSigma = 0.0;
    flat.noiseSigma = 0.0;
    flat.backgroundGrey = 0.0;
    const RenderedView dark = renderView(camera, pose, flat);
    flat.backgroundGrey = 255.0;
    const RenderedView light = renderView(camera, pose, flat);
    cv::Mat1f grey(camera.height, camera.width);
    for (int row = 0; row < camera.height; ++row) {
        const uint8_t* d = dark.image.ptr<uint8_t>(row);
        const uint8_t* l = light.image.ptr<uint8_t>(row);
        const float* b = scene.ptr<float>(row);
        float* out = grey.ptr<float>(row);
        for (int col = 0; col < camera.width; ++col) {
            const float share = (static_cast<float>(l[col]) - static_cast<float>(d[col])) / 255.0f;
            out[col] = static_cast<float>(d[col]) + share * b[col];
        }
    }
    return grey;
}

cv::Mat toFrameBuffer(const cv::Mat& grey, double noiseSigma, PortableRandom* random) {
    // A region of a wider buffer: the padding stays zero.
    const int stride = (grey.cols + 3) / 4 * 4;
    cv::Mat buffer(grey.rows, stride, CV_8UC1, cv::Scalar(0));
    cv::Mat image = buffer(cv::Rect(0, 0, grey.cols, grey.rows));
    for (int row = 0; row < grey.rows; ++row) {
        const float* in = grey.ptr<float>(row);
        uint8_t* out = image.ptr<uint8_t>(row);
        for (int col = 0; col < grey.cols; ++col) {
            const double v =
                std::round(random ? in[col] + noiseSigma * random->normal() : static_cast<double>(in[col]));
            out[col] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
        }
    }
    return image;
}

namespace {

// Blur and noise as the options ask, then the frame image with the truth.
RenderedView finishView(cv::Mat1f& grey, const Camera& camera, const ViewPose& pose, const RenderOptions& options) {
    const int width = camera.width, height = camera.height;
    if (options.blurSigma > 0.0) cv::GaussianBlur(grey, grey, cv::Size(0, 0), options.blurSigma, options.blurSigma,
                                                  cv::BORDER_REPLICATE);
    if (options.noiseSigma > 0.0) {
        PortableRandom random(options.noiseSeed);
        for (int row = 0; row < height; ++row) {
            float* p = grey.ptr<float>(row);
            for (int col = 0; col < width; ++col) p[col] += static_cast<float>(options.noiseSigma * random.normal());
        }
    }

    RenderedView view;
    view.image = toFrameBuffer(grey);
    view.corners = trueCorners(camera, pose);
    return view;
}

// The view over a busy scene of the backdrop's.
RenderedView renderOverBackdrop(const Camera& camera, const ViewPose& pose, const RenderOptions& options) {
    cv::Mat1f scene;
    makeBackdrop(cv::Size(camera.width, camera.height), options.backdropSeed ^ (options.noiseSeed * 2246822519u))
        .convertTo(scene, CV_32F);
    cv::Mat1f grey = sheetOverScene(camera, pose, options, scene);
    return finishView(grey, camera, pose, options);
}

}  // namespace

RenderedView renderView(const Camera& camera, const ViewPose& pose, const RenderOptions& options) {
    if (!validCamera(camera)) throw std::invalid_argument("renderView: camera size or parameters out of range");
    if (options.samples < 1 || options.samples > 32)
        throw std::invalid_argument("renderView: samples per pixel axis must be 1 .. 32");
    if (!(options.blurSigma >= 0.0) || !(options.noiseSigma >= 0.0) || !(options.marginCells >= 0.0))
        throw std::invalid_argument("renderView: blur, noise and margin must not be negative");
    if (options.backdropSeed != 0) return renderOverBackdrop(camera, pose, options);

    const int width = camera.width, height = camera.height;
    const cv::Matx33d r = rotationOf(pose.rvec);
    const cv::Matx33d rt = r.t();
    const cv::Vec3d b = rt * pose.tvec;  // camera centre is -b in pattern coordinates

    // Pattern-plane point seen through every pixel corner (c - 0.5, r - 0.5).
    const int gridW = width + 1;
    cv::Mat_<cv::Vec2d> plane(height + 1, gridW);
    cv::parallel_for_(cv::Range(0, height + 1), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            for (int col = 0; col < gridW; ++col) {
                cv::Vec3d ray;
                cv::Vec2d out(kOutside, kOutside);
                if (imageRay(camera, cv::Point2d(col - 0.5, row - 0.5), ray)) {
                    const cv::Vec3d a = rt * ray;
                    if (!pose.bend.flat()) {
                        meetSheet(pose.bend, -b, a, out);
                    } else if (std::abs(a[2]) > 1e-12) {
                        const double s = b[2] / a[2];
                        if (s > 0.0) out = cv::Vec2d(s * a[0] - b[0], s * a[1] - b[1]);
                    }
                }
                plane(row, col) = out;
            }
        }
    });

    const Shader shader{options.darkGrey, options.brightGrey, options.backgroundGrey, options.marginCells};
    const int n = options.samples;
    // Sample offsets inside a pixel: an n x n grid whose rows and columns are
    // staggered so that all n * n samples have distinct x and distinct y
    // positions; edges parallel to the pixel grid are then resolved to 1/n^2.
    std::vector<cv::Point2d> offsets;
    offsets.reserve(n * n);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            offsets.emplace_back((i + (j + 0.5) / n) / n, (j + (i + 0.5) / n) / n);
        }
    }

    cv::Mat1f grey(height, width);
    cv::parallel_for_(cv::Range(0, height), [&](const cv::Range& rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            float* out = grey.ptr<float>(row);
            for (int col = 0; col < width; ++col) {
                const cv::Vec2d p00 = plane(row, col), p10 = plane(row, col + 1);
                const cv::Vec2d p01 = plane(row + 1, col), p11 = plane(row + 1, col + 1);
                if (std::isnan(p00[0]) || std::isnan(p10[0]) || std::isnan(p01[0]) || std::isnan(p11[0])) {
                    out[col] = static_cast<float>(options.backgroundGrey);
                    continue;
                }
                const int bx = bandOf(p00[0], kBoardMinX, kBoardMaxX, options.marginCells);
                const int by = bandOf(p00[1], kBoardMinY, kBoardMaxY, options.marginCells);
                const bool uniform =
                    bx == bandOf(p10[0], kBoardMinX, kBoardMaxX, options.marginCells) &&
                    bx == bandOf(p01[0], kBoardMinX, kBoardMaxX, options.marginCells) &&
                    bx == bandOf(p11[0], kBoardMinX, kBoardMaxX, options.marginCells) &&
                    by == bandOf(p10[1], kBoardMinY, kBoardMaxY, options.marginCells) &&
                    by == bandOf(p01[1], kBoardMinY, kBoardMaxY, options.marginCells) &&
                    by == bandOf(p11[1], kBoardMinY, kBoardMaxY, options.marginCells) && !isMarkerCell(bx, by);
                if (uniform) {
                    out[col] = static_cast<float>(shader.grey(p00[0], p00[1]));
                    continue;
                }
                out[col] = static_cast<float>(mixedPixel(p00, p10, p11, p01, shader, offsets));
            }
        }
    });

    return finishView(grey, camera, pose, options);
}

// ---------------------------------------------------------------- poses

namespace {

// Points along the board's outline and across its face, enough to catch the
// bulge of a distorted edge.
const std::vector<cv::Point2d>& boardProbePoints() {
    static const std::vector<cv::Point2d> points = [] {
        std::vector<cv::Point2d> p;
        const int steps = 24;
        for (int k = 0; k <= steps; ++k) {
            const double fx = kBoardMinX + (kBoardMaxX - kBoardMinX) * k / steps;
            const double fy = kBoardMinY + (kBoardMaxY - kBoardMinY) * k / steps;
            p.emplace_back(fx, kBoardMinY);
            p.emplace_back(fx, kBoardMaxY);
            p.emplace_back(kBoardMinX, fy);
            p.emplace_back(kBoardMaxX, fy);
        }
        for (int j = kFirstCellY - 1; j <= kLastCellY; ++j)
            for (int i = kFirstCellX - 1; i <= kLastCellX; ++i) p.emplace_back(i, j);
        return p;
    }();
    return points;
}

// The board's outline walked once around, for its projected area.
const std::vector<cv::Point2d>& boardOutline() {
    static const std::vector<cv::Point2d> points = [] {
        std::vector<cv::Point2d> p;
        const int steps = 24;
        const cv::Point2d corners[4] = {
            {kBoardMinX, kBoardMinY}, {kBoardMaxX, kBoardMinY}, {kBoardMaxX, kBoardMaxY}, {kBoardMinX, kBoardMaxY}};
        for (int side = 0; side < 4; ++side) {
            const cv::Point2d a = corners[side], b = corners[(side + 1) % 4];
            for (int k = 0; k < steps; ++k) p.push_back(a + (b - a) * (static_cast<double>(k) / steps));
        }
        return p;
    }();
    return points;
}

double projectedBoardArea(const Camera& camera, const cv::Matx33d& r, const cv::Vec3d& t) {
    const std::vector<cv::Point2d>& outline = boardOutline();
    std::vector<cv::Point2d> image(outline.size());
    for (size_t k = 0; k < outline.size(); ++k) {
        if (!projectWith(camera, r, t, SheetBend{}, outline[k].x, outline[k].y, image[k]))
            return std::numeric_limits<double>::quiet_NaN();
    }
    double twice = 0.0;
    for (size_t k = 0; k < image.size(); ++k) {
        const cv::Point2d& p = image[k];
        const cv::Point2d& q = image[(k + 1) % image.size()];
        twice += p.x * q.y - q.x * p.y;
    }
    return std::abs(twice) * 0.5;
}

struct Extent {
    bool valid = false;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
};

Extent boardExtent(const Camera& camera, const cv::Matx33d& r, const cv::Vec3d& t) {
    Extent e;
    e.minX = e.minY = std::numeric_limits<double>::infinity();
    e.maxX = e.maxY = -std::numeric_limits<double>::infinity();
    for (const cv::Point2d& q : boardProbePoints()) {
        cv::Point2d image;
        if (!projectWith(camera, r, t, SheetBend{}, q.x, q.y, image)) return e;
        e.minX = std::min(e.minX, image.x);
        e.maxX = std::max(e.maxX, image.x);
        e.minY = std::min(e.minY, image.y);
        e.maxY = std::max(e.maxY, image.y);
    }
    e.valid = std::isfinite(e.minX) && std::isfinite(e.maxX) && std::isfinite(e.minY) && std::isfinite(e.maxY);
    return e;
}

cv::Matx33d axisRotation(cv::Vec3d axis, double angle) {
    cv::Matx33d r;
    cv::Rodrigues(axis * angle, r);
    return r;
}

}  // namespace

double boardAreaFraction(const Camera& camera, const ViewPose& pose) {
    if (!validCamera(camera)) return std::numeric_limits<double>::quiet_NaN();
    return projectedBoardArea(camera, rotationOf(pose.rvec), pose.tvec) /
           (static_cast<double>(camera.width) * camera.height);
}

namespace {

// Whether the sheet point printed at (x, y) is seen inside the frame with
// `marginPixels` to spare, and the lens model maps that image position back
// to this very point, not to another branch of a folded distortion (the
// renderer maps pixels back to the board).
bool seenInsideFrame(const Camera& camera, const cv::Matx33d& r, const ViewPose& pose, double x, double y,
                     double marginPixels) {
    const cv::Vec3d p = r * cv::Vec3d(x, y, sheetHeight(pose.bend, x, y)) + pose.tvec;
    cv::Point2d image;
    if (!projectCameraPoint(camera, p, image)) return false;
    const double u = image.x, v = image.y;
    if (!(u >= marginPixels - 0.5 && u <= camera.width - 0.5 - marginPixels && v >= marginPixels - 0.5 &&
          v <= camera.height - 0.5 - marginPixels))
        return false;
    if (camera.projection == Projection::Equidistant) {
        cv::Vec3d ray;
        if (!imageRay(camera, image, ray)) return false;
        return cv::norm(ray - p / cv::norm(p)) <= 1e-9;
    }
    const cv::Point2d normalised(p[0] / p[2], p[1] / p[2]);
    cv::Point2d back;
    if (!undistortNormalised(camera, distortNormalised(camera, normalised), back)) return false;
    return std::abs(back.x - normalised.x) + std::abs(back.y - normalised.y) <= 1e-9;
}

}  // namespace

bool boardInsideFrame(const Camera& camera, const ViewPose& pose, double marginPixels) {
    if (!validCamera(camera)) return false;
    const cv::Matx33d r = rotationOf(pose.rvec);
    for (const cv::Point2d& q : boardProbePoints())
        if (!seenInsideFrame(camera, r, pose, q.x, q.y, marginPixels)) return false;
    return true;
}

std::vector<ViewPose> rimPoses(const Camera& camera, int count, uint32_t seed, double nearest) {
    std::vector<ViewPose> poses;
    if (count <= 0 || !validCamera(camera)) return poses;
    PortableRandom random(seed);
    const double pi = std::numbers::pi;
    const double focal = std::sqrt(std::abs(camera.fx * camera.fy));
    const cv::Matx33d facing = axisRotation({1, 0, 0}, pi);
    // The marker cells with a cell around them: what the labelling needs.
    const cv::Vec3d markers(0.5, 1.5, 0.0);
    int attempts = 0;
    while (static_cast<int>(poses.size()) < count && attempts < count * 400) {
        ++attempts;
        const double direction = random.uniform(0.0, 2.0 * pi);
        const double reach = random.uniform(std::clamp(nearest, 0.0, 1.0), 1.0);
        const double tilt = random.uniform(0.0, 40.0) * pi / 180.0;
        const double tiltAxis = random.uniform(0.0, 2.0 * pi);
        const double roll = random.uniform(0.0, 2.0 * pi);
        // Cells of 25 to 60 pixels where the board crosses the optical axis.
        const double distance = focal / random.uniform(25.0, 60.0);

        // Towards the frame's edge: the image point `reach` of the way out.
        const double cosD = std::cos(direction), sinD = std::sin(direction);
        const double toEdge = std::min(std::abs(cosD) > 1e-9 ? (camera.width / 2.0) / std::abs(cosD) : 1e300,
                                       std::abs(sinD) > 1e-9 ? (camera.height / 2.0) / std::abs(sinD) : 1e300);
        const cv::Point2d target(camera.cx + reach * toEdge * cosD, camera.cy + reach * toEdge * sinD);
        cv::Vec3d ray;
        if (!imageRay(camera, target, ray)) continue;
        ray /= cv::norm(ray);
        // The rotation that turns the optical axis onto the ray, then the
        // board faces the camera along it, tilted and rolled.
        const cv::Vec3d axis = cv::Vec3d(0, 0, 1).cross(ray);
        const double angle = std::atan2(cv::norm(axis), ray[2]);
        const cv::Matx33d towards =
            cv::norm(axis) > 1e-12 ? axisRotation(axis / cv::norm(axis), angle) : cv::Matx33d::eye();
        const cv::Matx33d r = towards * axisRotation({std::cos(tiltAxis), std::sin(tiltAxis), 0.0}, tilt) *
                              axisRotation({0, 0, 1}, roll) * facing;
        ViewPose pose;
        cv::Rodrigues(r, pose.rvec);
        pose.tvec = ray * distance - r * markers;

        bool ok = true;
        for (int j = -2; j <= 4 && ok; ++j)
            for (int i = -2; i <= 2 && ok; ++i) ok = seenInsideFrame(camera, r, pose, i, j, 4.0);
        if (!ok) continue;
        // Cells around the markers of at least 20 pixels.
        cv::Point2d a, b, c;
        for (int j = -1; j <= 3 && ok; ++j) {
            for (int i = -1; i <= 1 && ok; ++i) {
                ok = projectPatternPoint(camera, pose, i, j, a) && projectPatternPoint(camera, pose, i + 1, j, b) &&
                     projectPatternPoint(camera, pose, i, j + 1, c) && cv::norm(a - b) >= 20.0 &&
                     cv::norm(a - c) >= 20.0;
            }
        }
        if (ok) poses.push_back(pose);
    }
    return poses;
}

std::vector<ViewPose> randomPoses(const Camera& camera, int count, uint32_t seed) {
    return randomPoses(camera, count, seed, PoseRange{});
}

std::vector<ViewPose> randomPoses(const Camera& camera, int count, uint32_t seed, const PoseRange& range) {
    std::vector<ViewPose> poses;
    if (count <= 0 || !validCamera(camera)) return poses;
    if (!(range.minFill > 0.0 && range.minFill <= range.maxFill && range.maxFill <= 1.0 && range.minTilt >= 0.0 &&
          range.minTilt <= range.maxTilt && range.maxTilt < 90.0))
        return poses;
    PortableRandom random(seed);
    const double pi = std::numbers::pi;
    const double margin = 2.0;
    const cv::Vec3d centre((kBoardMinX + kBoardMaxX) / 2, (kBoardMinY + kBoardMaxY) / 2, 0.0);
    // Seen frontally the board faces the camera with pattern y up: a half
    // turn about x maps pattern y (up) to image rows (down).
    const cv::Matx33d facing = axisRotation({1, 0, 0}, pi);
    const double focal = std::sqrt(std::abs(camera.fx * camera.fy));
    const double boardArea = (kBoardMaxX - kBoardMinX) * (kBoardMaxY - kBoardMinY);
    const double frameArea = static_cast<double>(camera.width) * camera.height;

    int attempts = 0;
    while (static_cast<int>(poses.size()) < count && attempts < count * 200) {
        ++attempts;
        const double tilt = random.uniform(range.minTilt, range.maxTilt) * pi / 180.0;
        const double tiltAxis = random.uniform(0.0, 2.0 * pi);
        const double roll = random.uniform(range.minRoll * pi / 180.0, range.maxRoll * pi / 180.0);
        const double fill = random.uniform(range.minFill, range.maxFill);
        double placeX = random.uniform(range.minPlace, range.maxPlace);
        double placeY = random.uniform(range.minPlace, range.maxPlace);
        if (range.corners) {
            // Views in turn to the top left, top right, bottom left and bottom right.
            const int corner = static_cast<int>(poses.size()) % 4;
            placeX = corner % 2;
            placeY = corner / 2;
        }

        const cv::Matx33d r = axisRotation({std::cos(tiltAxis), std::sin(tiltAxis), 0.0}, tilt) *
                              axisRotation({0, 0, 1}, roll) * facing;
        const double depth = focal * std::sqrt(boardArea / (fill * frameArea));
        cv::Vec3d t = cv::Vec3d(0, 0, depth) - r * centre;

        bool ok = true;
        for (int iteration = 0; iteration < 30 && ok; ++iteration) {
            const Extent e = boardExtent(camera, r, t);
            if (!e.valid) {
                ok = false;
                break;
            }
            const double w = e.maxX - e.minX, h = e.maxY - e.minY;
            const double area = projectedBoardArea(camera, r, t);
            // Scale: the apparent area goes roughly with 1 / depth^2 of the centre.
            const double ratio = std::sqrt(area / (fill * frameArea));
            const double slackX = camera.width - 1.0 - 2 * margin - w;
            const double slackY = camera.height - 1.0 - 2 * margin - h;
            if (!std::isfinite(ratio) || slackX < -0.5 * camera.width || slackY < -0.5 * camera.height) {
                ok = false;  // far too large for the frame at this size
                break;
            }
            const double wantMinX = margin - 0.5 + placeX * std::max(slackX, 0.0);
            const double wantMinY = margin - 0.5 + placeY * std::max(slackY, 0.0);
            const double shiftX = wantMinX - e.minX, shiftY = wantMinY - e.minY;
            if (std::abs(ratio - 1.0) < 1e-4 && std::abs(shiftX) < 0.05 && std::abs(shiftY) < 0.05) break;
            const cv::Vec3d c = r * centre + t;
            const double z = c[2] * ratio;
            t = cv::Vec3d(c[0] * ratio + shiftX * z / camera.fx, c[1] * ratio + shiftY * z / camera.fy, z) - r * centre;
        }
        if (!ok) continue;
        const Extent e = boardExtent(camera, r, t);
        if (!e.valid) continue;
        const double area = projectedBoardArea(camera, r, t) / frameArea;
        if (!(area >= range.minFill - 1e-3 && area <= range.maxFill + 1e-3)) continue;
        ViewPose pose;
        cv::Rodrigues(r, pose.rvec);
        pose.tvec = t;
        if (!boardInsideFrame(camera, pose, margin)) continue;
        poses.push_back(pose);
    }
    return poses;
}

// ---------------------------------------------------------------- render sets

std::string viewFileName(int index, ImageFormat format) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "view_%03d", index);
    return std::string(digits) + (format == ImageFormat::Jpeg ? ".jpg" : ".pgm");
}

namespace {

// Shortest decimal form that reads back to the same double, independent of
// the C locale.
std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
    if (ec != std::errc()) return "null";
    return std::string(buffer, end);
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::string vector3(const cv::Vec3d& v) {
    std::string s("[");
    for (int k = 0; k < 3; ++k) {
        if (k > 0) s.append(", ");
        s.append(number(v[k]));
    }
    s.append("]");
    return s;
}

}  // namespace

std::string truthJson(const Camera& camera, const std::vector<std::string>& files,
                      const std::vector<ViewPose>& poses) {
    std::string s;
    auto add = [&s](std::initializer_list<std::string_view> parts) {
        for (std::string_view p : parts) s.append(p);
    };
    add({"{\n  \"camera\": {\"width\": ", std::to_string(camera.width), ", \"height\": ",
         std::to_string(camera.height), ", \"fx\": ", number(camera.fx), ", \"fy\": ", number(camera.fy),
         ", \"cx\": ", number(camera.cx), ", \"cy\": ", number(camera.cy), ",\n    "});
    if (camera.projection == Projection::Equidistant) {
        add({"\"projection\": \"equidistant\", \"distortion\": [", number(camera.k1), ", ", number(camera.k2), ", ",
             number(camera.k3), ", ", number(camera.k4), "]"});
    } else {
        add({"\"distortion\": [", number(camera.k1), ", ", number(camera.k2), ", ", number(camera.p1), ", ",
             number(camera.p2)});
        if (camera.rational())
            add({", ", number(camera.k3), ", ", number(camera.k4), ", ", number(camera.k5), ", ", number(camera.k6)});
        add({"]"});
    }
    add({"},\n  \"views\": ["});
    const size_t count = std::min(files.size(), poses.size());
    for (size_t v = 0; v < count; ++v) {
        add({v == 0 ? "\n" : ",\n", "    {\"file\": ", jsonString(files[v]), ", \"rvec\": ", vector3(poses[v].rvec),
             ", \"tvec\": ", vector3(poses[v].tvec)});
        if (!poses[v].bend.flat())
            add({", \"bend\": [", number(poses[v].bend.alongX), ", ", number(poses[v].bend.alongY), "]"});
        add({",\n     \"corners\": ["});
        const std::vector<CornerTruth> corners = trueCorners(camera, poses[v]);
        for (size_t k = 0; k < corners.size(); ++k) {
            const CornerTruth& c = corners[k];
            add({k == 0 ? "\n      [" : ",\n      [", std::to_string(c.patternX), ", ", std::to_string(c.patternY),
                 ", ", number(c.imageX), ", ", number(c.imageY), "]"});
        }
        add({"]}"});
    }
    add({"\n  ]\n}\n"});
    return s;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    if (out) out << text;
    if (out) out.close();
    if (!out) {
        error = path + ": cannot write the file";
        return false;
    }
    return true;
}

bool writeRenderSet(const std::string& dir, const Camera& camera, const std::vector<ViewPose>& poses,
                    const RenderOptions& options, ImageFormat format, std::string& error) {
    const ViewRenderer render = [&camera, &options](const ViewPose& pose, int index) {
        RenderOptions viewOptions = options;
        viewOptions.noiseSeed = options.noiseSeed + static_cast<uint32_t>(index);
        return renderView(camera, pose, viewOptions);
    };
    return writeRenderSet(dir, camera, poses, render, format, error);
}

bool writeRenderSet(const std::string& dir, const Camera& camera, const std::vector<ViewPose>& poses,
                    const ViewRenderer& render, ImageFormat format, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path root(dir);
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec || !fs::is_directory(root, ec)) {
        error = dir + ": cannot create the output directory";
        return false;
    }
    if (!validCamera(camera)) {
        error = dir + ": camera size or parameters out of range";
        return false;
    }
    std::vector<std::string> files;
    std::string list;
    for (size_t v = 0; v < poses.size(); ++v) {
        RenderedView view;
        try {
            view = render(poses[v], static_cast<int>(v));
        } catch (const std::invalid_argument& e) {
            error = dir + ": " + e.what();
            return false;
        }
        const std::string name = viewFileName(static_cast<int>(v), format);
        const fs::path path = root / name;
        const std::string bytes = format == ImageFormat::Jpeg ? encodeJpeg(view.image, 95) : encodePgm(view.image);
        if (bytes.empty() || !writeTextFile(path.string(), bytes, error)) {
            error = path.string() + ": cannot write the image";
            return false;
        }
        files.push_back(name);
        list += name + "\n";
    }
    if (!writeTextFile((root / "views.iml").string(), list, error)) return false;
    return writeTextFile((root / "truth.json").string(), truthJson(camera, files, poses), error);
}

}  // namespace vexel::pattern
