#include "pattern/photo_faults.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

#include "pattern/board.h"
#include "pattern/image_encoding.h"

namespace vexel::pattern {

namespace {

constexpr double kPi = std::numbers::pi;

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultKind::None, "none"},          {FaultKind::Shadow, "shadow"},
    {FaultKind::Hand, "hand"},          {FaultKind::Glare, "glare"},
    {FaultKind::MotionBlur, "motion"},  {FaultKind::Defocus, "defocus"},
    {FaultKind::OverExposed, "overexposed"}, {FaultKind::LowLight, "lowlight"},
    {FaultKind::SmallBoard, "small"},   {FaultKind::Jpeg, "jpeg"},
};

// A corner or cell is hidden when its contrast after the faults falls below
// this many grey levels (a careful person no longer tells dark from bright).
constexpr double kMinVisibleContrast = 20.0;

// The neighbourhood of a corner that must be seen, in cells.
constexpr double kVisibleRadiusCells = 0.3;

cv::Point2d project(const Camera& camera, const ViewPose& pose, double x, double y) {
    cv::Point2d p(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
    projectPatternPoint(camera, pose, x, y, p);
    return p;
}

// The side of one cell in pixels around pattern point (x, y): the shorter
// of the two projected unit steps.
double cellPixels(const Camera& camera, const ViewPose& pose, double x, double y) {
    const cv::Point2d p = project(camera, pose, x, y);
    const double a = cv::norm(project(camera, pose, x + 1.0, y) - p);
    const double b = cv::norm(project(camera, pose, x, y + 1.0) - p);
    const double side = std::min(a, b);
    return std::isfinite(side) ? side : 0.0;
}

double distanceToSegment(cv::Point2d p, cv::Point2d a, cv::Point2d b) {
    const cv::Point2d ab = b - a;
    const double length2 = ab.dot(ab);
    const double t = length2 > 0.0 ? std::clamp((p - a).dot(ab) / length2, 0.0, 1.0) : 0.0;
    return cv::norm(p - (a + t * ab));
}

// Share of light the shadow lets through at p.
double transmissionAt(const PhotoFaults& f, cv::Point2d p) {
    if (f.shadowTransmission >= 1.0) return 1.0;
    const double soft = std::max(f.shadowSoftness, 1.0);
    const double d = (p - f.shadowPoint).dot(f.shadowNormal);
    double cover = std::clamp(d / soft + 0.5, 0.0, 1.0);
    if (std::isfinite(f.shadowDepth)) cover = std::min(cover, std::clamp((f.shadowDepth - d) / soft + 0.5, 0.0, 1.0));
    return 1.0 - cover * (1.0 - f.shadowTransmission);
}

// Grey levels the glare adds at p.
double glareAt(const PhotoFaults& f, cv::Point2d p) {
    if (f.glarePeak <= 0.0) return 0.0;
    double d = 0.0;
    if (f.glareLength > 0.0) {
        const cv::Point2d half = 0.5 * f.glareLength * cv::Point2d(std::cos(f.glareAngle), std::sin(f.glareAngle));
        d = distanceToSegment(p, f.glareCentre - half, f.glareCentre + half);
    } else {
        d = cv::norm(p - f.glareCentre);
    }
    return f.glarePeak * std::exp(-d * d / (2.0 * f.glareSigma * f.glareSigma));
}

// Coverage (0 .. 1, antialiased over a pixel) of the occluder at p and its
// grey there.
double occluderAt(const PhotoFaults& f, cv::Point2d p, double& grey) {
    double best = 0.0;
    for (const Finger& finger : f.fingers) {
        const double axis = distanceToSegment(p, finger.base, finger.tip);
        const double cover = std::clamp(finger.radius - axis + 0.5, 0.0, 1.0);
        if (cover > best) {
            best = cover;
            const double r = std::min(axis / finger.radius, 1.0);
            grey = f.occluderGrey * (1.0 - 0.35 * r * r);
        }
    }
    if (f.palm.size.width > 0.0f && f.palm.size.height > 0.0f) {
        const double a = 0.5 * f.palm.size.width, b = 0.5 * f.palm.size.height;
        const double angle = f.palm.angle * kPi / 180.0;
        const cv::Point2d d = p - cv::Point2d(f.palm.center);
        const double u = (d.x * std::cos(angle) + d.y * std::sin(angle)) / a;
        const double v = (-d.x * std::sin(angle) + d.y * std::cos(angle)) / b;
        const double r = std::hypot(u, v);
        const double cover = std::clamp((1.0 - r) * std::min(a, b) + 0.5, 0.0, 1.0);
        if (cover > best) {
            best = cover;
            grey = f.occluderGrey * (1.0 - 0.25 * std::min(r * r, 1.0));
        }
    }
    return best;
}

bool occluded(const PhotoFaults& f, cv::Point2d centre, double radius) {
    if (f.fingers.empty() && !(f.palm.size.width > 0.0f)) return false;
    double grey = 0.0;
    if (occluderAt(f, centre, grey) > 0.0) return true;
    for (double r : {0.5 * radius, radius}) {
        for (int k = 0; k < 16; ++k) {
            const double a = 2.0 * kPi * k / 16.0;
            if (occluderAt(f, centre + r * cv::Point2d(std::cos(a), std::sin(a)), grey) > 0.0) return true;
        }
    }
    return false;
}

// Whether a careful person can no longer see the board around `centre`
// (a corner, or a cell's centre) whose cells are `cell` pixels wide.
bool hiddenAt(const PhotoFaults& f, const RenderOptions& options, cv::Size size, cv::Point2d centre, double cell) {
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y) || !(cell > 0.0)) return true;
    const double radius = std::max(2.0, kVisibleRadiusCells * cell);
    if (centre.x < radius || centre.y < radius || centre.x > size.width - 1 - radius ||
        centre.y > size.height - 1 - radius)
        return true;
    if (occluded(f, centre, radius)) return true;
    const double t = transmissionAt(f, centre);
    const double g = glareAt(f, centre);
    const double bright = std::min(255.0, f.gain * (options.brightGrey * t + g));
    const double dark = std::min(255.0, f.gain * (options.darkGrey * t + g));
    return bright - dark < kMinVisibleContrast;
}

// A kernel that spreads a point along a centred line of `length` pixels at
// `angle`, by sub-sampling the line; point-symmetric, so it moves no corner.
cv::Mat motionKernel(double length, double angle) {
    const int half = static_cast<int>(std::ceil(length / 2.0)) + 1;
    cv::Mat1f kernel = cv::Mat1f::zeros(2 * half + 1, 2 * half + 1);
    const int samples = std::max(8, static_cast<int>(length * 16));
    const cv::Point2d step(std::cos(angle), std::sin(angle));
    for (int s = 0; s < samples; ++s) {
        const double t = ((s + 0.5) / samples - 0.5) * length;
        const double x = half + t * step.x, y = half + t * step.y;
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        const double fx = x - x0, fy = y - y0;
        kernel(y0, x0) += static_cast<float>((1 - fx) * (1 - fy));
        kernel(y0, x0 + 1) += static_cast<float>(fx * (1 - fy));
        kernel(y0 + 1, x0) += static_cast<float>((1 - fx) * fy);
        kernel(y0 + 1, x0 + 1) += static_cast<float>(fx * fy);
    }
    return kernel / cv::sum(kernel)[0];
}

// A disc of `radius` pixels with antialiased rim, for defocus.
cv::Mat discKernel(double radius) {
    const int half = static_cast<int>(std::ceil(radius)) + 1;
    cv::Mat1f kernel(2 * half + 1, 2 * half + 1);
    constexpr int kSub = 8;
    for (int y = -half; y <= half; ++y) {
        for (int x = -half; x <= half; ++x) {
            int inside = 0;
            for (int j = 0; j < kSub; ++j)
                for (int i = 0; i < kSub; ++i)
                    inside += std::hypot(x - 0.5 + (i + 0.5) / kSub, y - 0.5 + (j + 0.5) / kSub) <= radius;
            kernel(y + half, x + half) = static_cast<float>(inside);
        }
    }
    return kernel / cv::sum(kernel)[0];
}

void checkFaults(const PhotoFaults& f) {
    auto within = [](double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; };
    if (!within(f.shadowTransmission, 0.01, 1.0) || !within(f.shadowSoftness, 0.0, 1e5) ||
        !(f.shadowDepth >= 0.0) || !within(f.glarePeak, 0.0, 1e4) || !within(f.glareSigma, 0.1, 1e5) ||
        !within(f.glareLength, 0.0, 1e5) || !within(f.motionLength, 0.0, 200.0) ||
        !within(f.defocusRadius, 0.0, 100.0) || !within(f.gain, 0.01, 100.0) || !within(f.shotNoise, 0.0, 100.0) ||
        f.jpegQuality < 0 || f.jpegQuality > 100)
        throw std::invalid_argument("renderFaultyView: fault parameters out of range");
    for (const Finger& finger : f.fingers)
        if (!within(finger.radius, 0.0, 1e5))
            throw std::invalid_argument("renderFaultyView: finger radius out of range");
}

// A hand holding the board at one edge: fingers (or a thumb) reaching over
// the board from beyond the sheet, with the palm outside the sheet.
void drawHand(PhotoFaults& f, const Camera& camera, const ViewPose& pose, PortableRandom& random) {
    const int side = std::min(3, static_cast<int>(random.uniform() * 4));
    const double along = random.uniform(-4.0, 4.0);
    const double edgeDistance = kMarginCells;
    // Pattern point on the board's edge and the inward direction.
    cv::Point2d edge, inward, alongAxis;
    switch (side) {
        case 0: edge = {kBoardMinX, along}, inward = {1, 0}, alongAxis = {0, 1}; break;
        case 1: edge = {kBoardMaxX, along}, inward = {-1, 0}, alongAxis = {0, 1}; break;
        case 2: edge = {along, kBoardMinY}, inward = {0, 1}, alongAxis = {1, 0}; break;
        default: edge = {along, kBoardMaxY}, inward = {0, -1}, alongAxis = {1, 0}; break;
    }
    const bool thumb = random.uniform() < 0.3;
    const int count = thumb ? 1 : 2 + std::min(2, static_cast<int>(random.uniform() * 3));
    const double radiusCells = thumb ? random.uniform(0.4, 0.5) : random.uniform(0.3, 0.42);
    const bool glove = random.uniform() < 0.35;
    f.occluderGrey = glove ? random.uniform(35.0, 70.0) : random.uniform(140.0, 190.0);
    const double cell = cellPixels(camera, pose, edge.x, edge.y);
    const double reachBase = random.uniform(0.6, 3.2);
    for (int k = 0; k < count; ++k) {
        const double offset = (k - (count - 1) / 2.0) * 2.15 * radiusCells;
        const double reach = std::max(0.3, reachBase + random.uniform(-0.6, 0.6) - (thumb ? 0.0 : 0.4 * std::abs(offset)));
        const cv::Point2d tip = edge + offset * alongAxis + reach * inward;
        const cv::Point2d base = edge + offset * alongAxis - (edgeDistance + 1.0) * inward;
        f.fingers.push_back({project(camera, pose, base.x, base.y), project(camera, pose, tip.x, tip.y),
                             radiusCells * cell});
    }
    if (!thumb) {
        const cv::Point2d centre = edge - (edgeDistance + 1.8) * inward;
        const cv::Point2d centreImage = project(camera, pose, centre.x, centre.y);
        const cv::Point2d alongImage =
            project(camera, pose, centre.x + alongAxis.x, centre.y + alongAxis.y) - centreImage;
        const double width = (count * 2.15 * radiusCells + 1.2) * cell;
        const double height = 3.2 * cell;
        f.palm = cv::RotatedRect(cv::Point2f(centreImage), cv::Size2f(static_cast<float>(width), static_cast<float>(height)),
                                 static_cast<float>(std::atan2(alongImage.y, alongImage.x) * 180.0 / kPi));
    }
}

}  // namespace

const char* faultKindName(FaultKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "none";
}

bool faultKindFromName(const std::string& name, FaultKind& kind) {
    for (const KindName& k : kKindNames) {
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

const std::vector<FaultKind>& allFaultKinds() {
    static const std::vector<FaultKind> kinds = [] {
        std::vector<FaultKind> all;
        for (const KindName& k : kKindNames) all.push_back(k.kind);
        return all;
    }();
    return kinds;
}

PoseRange poseRangeFor(FaultKind kind) {
    PoseRange spread;
    if (kind == FaultKind::SmallBoard) {
        spread.minFill = 0.012;
        spread.maxFill = 0.03;
        spread.maxTilt = 40.0;
    }
    return spread;
}

PhotoFaults drawFaults(FaultKind kind, const Camera& camera, const ViewPose& pose, PortableRandom& random) {
    PhotoFaults f;
    f.kind = kind;
    switch (kind) {
        case FaultKind::Shadow: {
            const cv::Point2d on(random.uniform(-3.5, 3.5), random.uniform(-3.5, 3.5));
            const double cell = cellPixels(camera, pose, on.x, on.y);
            const double angle = random.uniform(0.0, 2.0 * kPi);
            f.shadowPoint = project(camera, pose, on.x, on.y);
            f.shadowNormal = {std::cos(angle), std::sin(angle)};
            f.shadowTransmission = random.uniform(0.35, 0.5);
            f.shadowSoftness = random.uniform() < 0.5 ? random.uniform(0.0, 1.5) : random.uniform(0.5, 2.0) * cell;
            if (random.uniform() < 0.5) f.shadowDepth = random.uniform(2.0, 5.0) * cell;
            break;
        }
        case FaultKind::Hand: drawHand(f, camera, pose, random); break;
        case FaultKind::Glare: {
            cv::Point2d on;
            if (random.uniform() < 0.5) {
                // Beside the origin marker, whose centre is (-0.5, 2.5).
                const double a = random.uniform(0.0, 2.0 * kPi);
                on = cv::Point2d(-0.5, 2.5) + random.uniform(0.8, 1.6) * cv::Point2d(std::cos(a), std::sin(a));
            } else {
                on = {random.uniform(-4.0, 4.0), random.uniform(-4.0, 4.0)};
            }
            const double cell = cellPixels(camera, pose, on.x, on.y);
            f.glareCentre = project(camera, pose, on.x, on.y);
            f.glarePeak = random.uniform(260.0, 420.0);
            if (random.uniform() < 0.4) {
                f.glareSigma = random.uniform(0.3, 0.7) * cell;
                f.glareLength = random.uniform(3.0, 8.0) * cell;
                f.glareAngle = random.uniform(0.0, kPi);
            } else {
                f.glareSigma = random.uniform(0.5, 1.3) * cell;
            }
            break;
        }
        case FaultKind::MotionBlur: {
            const double lengths[3] = {6.0, 10.0, 15.0};
            f.motionLength = lengths[std::min(2, static_cast<int>(random.uniform() * 3))] * random.uniform(0.9, 1.1);
            f.motionAngle = random.uniform(0.0, kPi);
            break;
        }
        case FaultKind::Defocus:
            f.defocusRadius = (random.uniform() < 0.5 ? 3.5 : 6.0) * random.uniform(0.9, 1.1);
            break;
        case FaultKind::OverExposed:
            f.gain = random.uniform(1.7, 2.4);
            if (random.uniform() < 0.5) f.defocusRadius = random.uniform(1.0, 2.5);
            break;
        case FaultKind::LowLight:
            f.gain = random.uniform(0.2, 0.3);
            f.shotNoise = random.uniform(0.8, 1.5);
            break;
        case FaultKind::Jpeg: f.jpegQuality = 40 + std::min(8, static_cast<int>(random.uniform() * 9)); break;
        case FaultKind::None:
        case FaultKind::SmallBoard: break;
    }
    return f;
}

FaultyView renderFaultyView(const Camera& camera, const ViewPose& pose, const RenderOptions& options,
                            const PhotoFaults& faults) {
    checkFaults(faults);
    RenderOptions sharp = options;
    sharp.blurSigma = 0.0;
    sharp.noiseSigma = 0.0;
    const RenderedView clean = renderView(camera, pose, sharp);
    const int width = camera.width, height = camera.height;

    cv::Mat1f light;
    clean.image.convertTo(light, CV_32F);
    const bool lit = faults.shadowTransmission < 1.0 || faults.glarePeak > 0.0;
    const bool covered = !faults.fingers.empty() || faults.palm.size.width > 0.0f;
    if (lit || covered) {
        cv::parallel_for_(cv::Range(0, height), [&](const cv::Range& rows) {
            for (int row = rows.start; row < rows.end; ++row) {
                float* p = light.ptr<float>(row);
                for (int col = 0; col < width; ++col) {
                    const cv::Point2d at(col, row);
                    double v = p[col];
                    if (lit) v = v * transmissionAt(faults, at) + glareAt(faults, at);
                    if (covered) {
                        double grey = 0.0;
                        const double cover = occluderAt(faults, at, grey);
                        if (cover > 0.0) v = (1.0 - cover) * v + cover * grey;
                    }
                    p[col] = static_cast<float>(v);
                }
            }
        });
    }

    if (options.blurSigma > 0.0)
        cv::GaussianBlur(light, light, cv::Size(0, 0), options.blurSigma, options.blurSigma, cv::BORDER_REPLICATE);
    if (faults.motionLength > 0.0)
        cv::filter2D(light, light, -1, motionKernel(faults.motionLength, faults.motionAngle), cv::Point(-1, -1), 0.0,
                     cv::BORDER_REPLICATE);
    if (faults.defocusRadius > 0.0)
        cv::filter2D(light, light, -1, discKernel(faults.defocusRadius), cv::Point(-1, -1), 0.0,
                     cv::BORDER_REPLICATE);

    cv::Mat grey(height, width, CV_8UC1);
    PortableRandom noise(options.noiseSeed);
    const double read = options.noiseSigma * options.noiseSigma;
    for (int row = 0; row < height; ++row) {
        const float* in = light.ptr<float>(row);
        uint8_t* out = grey.ptr<uint8_t>(row);
        for (int col = 0; col < width; ++col) {
            double v = faults.gain * in[col];
            const double variance = read + faults.shotNoise * std::max(v, 0.0);
            if (variance > 0.0) v += std::sqrt(variance) * noise.normal();
            out[col] = static_cast<uint8_t>(std::clamp(std::round(v), 0.0, 255.0));
        }
    }
    if (faults.jpegQuality > 0) {
        const cv::Mat decoded = decodeJpegGrey(encodeJpeg(grey, faults.jpegQuality));
        if (!decoded.empty()) grey = decoded;
    }

    // Frame images have rows padded to a multiple of 4 bytes.
    cv::Mat buffer(height, (width + 3) / 4 * 4, CV_8UC1, cv::Scalar(0));
    FaultyView result;
    result.view.image = buffer(cv::Rect(0, 0, width, height));
    grey.copyTo(result.view.image);
    result.view.corners = clean.corners;
    const cv::Size size(width, height);
    for (const CornerTruth& c : clean.corners) {
        const double cell = cellPixels(camera, pose, c.patternX, c.patternY);
        result.hidden.push_back(hiddenAt(faults, options, size, {c.imageX, c.imageY}, cell));
    }
    for (const MarkerCell& m : kMarkerCells) {
        const cv::Point2d centre = project(camera, pose, m.x - 0.5, m.y - 0.5);
        if (!hiddenAt(faults, options, size, centre, cellPixels(camera, pose, m.x - 0.5, m.y - 0.5)))
            ++result.visibleMarkers;
    }
    return result;
}

FaultRecord faultRecord(const std::string& file, FaultKind kind, const FaultyView& view) {
    FaultRecord record{file, kind, {}, view.visibleMarkers};
    for (size_t k = 0; k < view.view.corners.size() && k < view.hidden.size(); ++k)
        if (view.hidden[k]) record.hiddenCorners.emplace_back(view.view.corners[k].patternX, view.view.corners[k].patternY);
    return record;
}

std::string faultsJson(const std::vector<FaultRecord>& records) {
    std::string s = "{\n  \"views\": [";
    for (size_t v = 0; v < records.size(); ++v) {
        const FaultRecord& r = records[v];
        s += v == 0 ? "\n" : ",\n";
        // File names come from viewFileName: nothing in them needs escaping.
        s += "    {\"file\": \"" + r.file + "\", \"fault\": \"" + faultKindName(r.kind) +
             "\", \"visible_markers\": " + std::to_string(r.visibleMarkers) + ", \"hidden\": [";
        for (size_t k = 0; k < r.hiddenCorners.size(); ++k) {
            if (k > 0) s += ", ";
            s += "[" + std::to_string(r.hiddenCorners[k].x) + ", " + std::to_string(r.hiddenCorners[k].y) + "]";
        }
        s += "]}";
    }
    return s + "\n  ]\n}\n";
}

}  // namespace vexel::pattern
