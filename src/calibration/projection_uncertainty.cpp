#include "calibration/projection_uncertainty.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <Eigen/Dense>

namespace {

constexpr int POSE = 6;
using PoseMatrix = Eigen::Matrix<double, POSE, POSE>;
using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr double ROTATION_STEP = 1e-6;  // radians

double step(double value) { return 1e-6 * std::max(1.0, std::abs(value)); }

// The rotation matrix of `rotation` moved by +-ROTATION_STEP along each
// axis: [2 j] plus, [2 j + 1] minus.
std::array<cv::Matx33d, 6> nudgedRotations(const cv::Vec3d& rotation) {
    std::array<cv::Matx33d, 6> out;
    for (int j = 0; j < 3; ++j) {
        for (int sign = 0; sign < 2; ++sign) {
            FramePose nudged{rotation, cv::Vec3d()};
            nudged.rotation[j] += sign == 0 ? ROTATION_STEP : -ROTATION_STEP;
            out[static_cast<std::size_t>(2 * j + sign)] = nudged.rotationMatrix();
        }
    }
    return out;
}

cv::Point3d apply(const cv::Matx33d& r, const cv::Vec3d& t, const cv::Point3d& p) {
    const cv::Vec3d c = r * cv::Vec3d(p.x, p.y, p.z) + t;
    return {c[0], c[1], c[2]};
}

// d project / d parameters at a camera point: 2 rows of n, row by row.
std::vector<double> intrinsicSlopes(const CameraModel& model, const cv::Point3d& point) {
    const int n = model.parameterCount();
    std::vector<double> k = model.parameters();
    std::vector<double> out(static_cast<std::size_t>(2 * n));
    for (int j = 0; j < n; ++j) {
        const double value = k[static_cast<std::size_t>(j)], h = step(value);
        k[static_cast<std::size_t>(j)] = value + h;
        const cv::Point2d plus = model.project(k.data(), point);
        k[static_cast<std::size_t>(j)] = value - h;
        const cv::Point2d minus = model.project(k.data(), point);
        k[static_cast<std::size_t>(j)] = value;
        out[static_cast<std::size_t>(j)] = (plus.x - minus.x) / (2 * h);
        out[static_cast<std::size_t>(n + j)] = (plus.y - minus.y) / (2 * h);
    }
    return out;
}

// d project / d camera point: 2 x 3.
cv::Matx23d pointSlopes(const CameraModel& model, const cv::Point3d& point) {
    cv::Matx23d out;
    const double h = 1e-6 * std::max(1.0, std::abs(point.z));
    for (int j = 0; j < 3; ++j) {
        cv::Point3d plus = point, minus = point;
        (&plus.x)[j] += h;
        (&minus.x)[j] -= h;
        const cv::Point2d d = (model.project(plus) - model.project(minus)) / (2 * h);
        out(0, j) = d.x;
        out(1, j) = d.y;
    }
    return out;
}

// The inverse of a symmetric positive matrix, scaled to unit diagonal first:
// focal lengths and distortion coefficients differ by many orders of
// magnitude. False when it is singular.
bool invertScaled(const Eigen::MatrixXd& m, Eigen::MatrixXd& inverse) {
    const Eigen::VectorXd scale = m.diagonal().cwiseMax(1e-300).cwiseSqrt().cwiseInverse();
    const Eigen::MatrixXd scaled = scale.asDiagonal() * m * scale.asDiagonal();
    const Eigen::LDLT<Eigen::MatrixXd> ldlt(scaled);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive()) return false;
    const Eigen::VectorXd d = ldlt.vectorD();
    if (d.minCoeff() <= 1e-14 * d.maxCoeff()) return false;
    inverse = scale.asDiagonal() * ldlt.solve(Eigen::MatrixXd::Identity(m.rows(), m.cols())) * scale.asDiagonal();
    return inverse.allFinite();
}

}  // namespace

bool ParameterCovariance::compute(const CameraModel& model, const CalibrationViews& views,
                                  const std::vector<FramePose>& poses) {
    *this = ParameterCovariance{};
    const int n = model.parameterCount();
    const int viewCount = views.viewCount();
    if (viewCount == 0 || static_cast<int>(poses.size()) != viewCount ||
        static_cast<int>(views.imagePoints.size()) != viewCount ||
        static_cast<int>(views.objectPoints.size()) != viewCount)
        return false;

    Eigen::MatrixXd a = Eigen::MatrixXd::Zero(n, n);
    std::vector<Eigen::MatrixXd> b(static_cast<std::size_t>(viewCount));
    std::vector<PoseMatrix> c(static_cast<std::size_t>(viewCount));
    Eigen::MatrixXd jk(2, n);
    Eigen::Matrix<double, 2, POSE> jp;
    double squares = 0;
    long long points = 0;
    for (int v = 0; v < viewCount; ++v) {
        const FramePose& pose = poses[static_cast<std::size_t>(v)];
        const cv::Matx33d rotation = pose.rotationMatrix();
        const std::array<cv::Matx33d, 6> nudged = nudgedRotations(pose.rotation);
        const auto& image = views.imagePoints[static_cast<std::size_t>(v)];
        const auto& object = views.objectPoints[static_cast<std::size_t>(v)];
        if (image.size() != object.size()) return false;
        b[static_cast<std::size_t>(v)] = Eigen::MatrixXd::Zero(n, POSE);
        c[static_cast<std::size_t>(v)].setZero();
        for (std::size_t i = 0; i < image.size(); ++i) {
            const cv::Point3d x(object[i].x, object[i].y, object[i].z);
            const cv::Point3d camera = apply(rotation, pose.translation, x);
            const cv::Point2d residual = model.project(camera) - cv::Point2d(image[i].x, image[i].y);
            if (!std::isfinite(residual.x) || !std::isfinite(residual.y)) return false;
            squares += residual.dot(residual);

            const std::vector<double> slopes = intrinsicSlopes(model, camera);
            jk = Eigen::Map<const RowMajor>(slopes.data(), 2, n);
            for (int j = 0; j < 3; ++j) {
                const cv::Point2d plus = model.project(apply(nudged[2 * j], pose.translation, x));
                const cv::Point2d minus = model.project(apply(nudged[2 * j + 1], pose.translation, x));
                jp(0, j) = (plus.x - minus.x) / (2 * ROTATION_STEP);
                jp(1, j) = (plus.y - minus.y) / (2 * ROTATION_STEP);
                const double h = step(pose.translation[j]);
                cv::Point3d forward = camera, back = camera;
                (&forward.x)[j] += h;
                (&back.x)[j] -= h;
                const cv::Point2d d = (model.project(forward) - model.project(back)) / (2 * h);
                jp(0, 3 + j) = d.x;
                jp(1, 3 + j) = d.y;
            }
            if (!jk.allFinite() || !jp.allFinite()) return false;
            a += jk.transpose() * jk;
            b[static_cast<std::size_t>(v)] += jk.transpose() * jp;
            c[static_cast<std::size_t>(v)] += jp.transpose() * jp;
        }
        points += static_cast<long long>(image.size());
    }
    const long long freedom = 2 * points - n - static_cast<long long>(POSE) * viewCount;
    if (freedom <= 0) return false;

    // Eliminating the poses leaves the reduced system of the intrinsics.
    Eigen::MatrixXd reduced = a;
    std::vector<cv::Matx<double, 6, 6>> poseInverse(static_cast<std::size_t>(viewCount));
    for (int v = 0; v < viewCount; ++v) {
        Eigen::MatrixXd inverse;
        if (!invertScaled(c[static_cast<std::size_t>(v)], inverse)) return false;
        reduced -= b[static_cast<std::size_t>(v)] * inverse * b[static_cast<std::size_t>(v)].transpose();
        for (int r = 0; r < POSE; ++r)
            for (int k = 0; k < POSE; ++k) poseInverse[static_cast<std::size_t>(v)](r, k) = inverse(r, k);
    }
    Eigen::MatrixXd reducedInverse;
    if (!invertScaled(reduced, reducedInverse)) return false;

    m_parameters = n;
    m_variance = squares / static_cast<double>(freedom);
    m_reducedInverse.resize(static_cast<std::size_t>(n * n));
    Eigen::Map<RowMajor>(m_reducedInverse.data(), n, n) = reducedInverse;
    m_coupling.resize(static_cast<std::size_t>(viewCount));
    for (int v = 0; v < viewCount; ++v) {
        m_coupling[static_cast<std::size_t>(v)].resize(static_cast<std::size_t>(n * POSE));
        Eigen::Map<RowMajor>(m_coupling[static_cast<std::size_t>(v)].data(), n, POSE) = b[static_cast<std::size_t>(v)];
    }
    m_poseInverse = std::move(poseInverse);
    m_valid = true;
    return true;
}

std::vector<double> ParameterCovariance::intrinsicCovariance() const {
    std::vector<double> out = m_reducedInverse;
    for (double& value : out) value *= m_variance;
    return out;
}

cv::Matx22d ParameterCovariance::propagate(const std::vector<double>& intrinsics,
                                           const std::vector<cv::Matx<double, 2, 6>>& poses) const {
    const int n = m_parameters;
    if (!m_valid || static_cast<int>(intrinsics.size()) != 2 * n || poses.size() != m_poseInverse.size()) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return cv::Matx22d(nan, nan, nan, nan);
    }
    // Solves (J^T J) [x; y] = G^T for the gradient G = [intrinsics, poses]
    // by the block elimination, then G (J^T J)^-1 G^T = G [x; y].
    const Eigen::MatrixXd a = Eigen::Map<const RowMajor>(intrinsics.data(), 2, n).transpose();  // n x 2
    std::vector<Eigen::Matrix<double, POSE, 2>> g(poses.size());
    std::vector<PoseMatrix> inverse(poses.size());
    Eigen::MatrixXd t = a;
    for (std::size_t v = 0; v < poses.size(); ++v) {
        for (int r = 0; r < POSE; ++r) {
            g[v](r, 0) = poses[v](0, r);
            g[v](r, 1) = poses[v](1, r);
            for (int k = 0; k < POSE; ++k) inverse[v](r, k) = m_poseInverse[v](r, k);
        }
        const Eigen::Map<const RowMajor> coupling(m_coupling[v].data(), n, POSE);
        t -= coupling * (inverse[v] * g[v]);
    }
    const Eigen::MatrixXd x = Eigen::Map<const RowMajor>(m_reducedInverse.data(), n, n) * t;
    Eigen::Matrix2d result = a.transpose() * x;
    for (std::size_t v = 0; v < poses.size(); ++v) {
        const Eigen::Map<const RowMajor> coupling(m_coupling[v].data(), n, POSE);
        const Eigen::Matrix<double, POSE, 2> y = inverse[v] * (g[v] - coupling.transpose() * x);
        result += g[v].transpose() * y;
    }
    result *= m_variance;
    return cv::Matx22d(result(0, 0), result(0, 1), result(1, 0), result(1, 1));
}

ProjectionUncertainty::ProjectionUncertainty(const CameraModel& model, const ParameterCovariance& covariance,
                                             const std::vector<FramePose>& poses, double depth)
    : m_model(model), m_covariance(covariance), m_poses(poses), m_depth(depth) {
    for (const FramePose& pose : poses) {
        m_rotations.push_back(pose.rotationMatrix());
        const std::array<cv::Matx33d, 6> nudged = nudgedRotations(pose.rotation);
        std::array<cv::Matx33d, 3> slopes;
        for (int j = 0; j < 3; ++j) slopes[static_cast<std::size_t>(j)] = (nudged[2 * j] - nudged[2 * j + 1]) * (1.0 / (2 * ROTATION_STEP));
        m_rotationSlopes.push_back(slopes);
    }
}

double ProjectionUncertainty::at(const cv::Point2d& pixel) const {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    cv::Point2d ray;
    if (!m_covariance.valid() || m_poses.empty() || !m_model.unproject(pixel, ray)) return nan;
    const cv::Point3d point(ray.x * m_depth, ray.y * m_depth, m_depth);

    // The point is carried into every view's pattern frame and back with
    // that view's pose; the mean of the results is where it is projected.
    // Its derivative by view v's pose is 1 / views of the derivative of
    // R_v x_v + t_v.
    const cv::Matx23d toPixel = pointSlopes(m_model, point);
    const double share = 1.0 / static_cast<double>(m_poses.size());
    std::vector<cv::Matx<double, 2, 6>> poseSlopes(m_poses.size());
    for (std::size_t v = 0; v < m_poses.size(); ++v) {
        const cv::Vec3d inPattern =
            m_rotations[v].t() * (cv::Vec3d(point.x, point.y, point.z) - m_poses[v].translation);
        cv::Matx<double, 3, 6> slopes;
        for (int j = 0; j < 3; ++j) {
            const cv::Vec3d column = m_rotationSlopes[v][static_cast<std::size_t>(j)] * inPattern;
            for (int r = 0; r < 3; ++r) {
                slopes(r, j) = column[r];
                slopes(r, 3 + j) = r == j ? 1.0 : 0.0;
            }
        }
        poseSlopes[v] = toPixel * slopes * share;
    }
    const cv::Matx22d covariance = m_covariance.propagate(intrinsicSlopes(m_model, point), poseSlopes);
    const double mean = (covariance(0, 0) + covariance(1, 1)) / 2;
    const double half = (covariance(0, 0) - covariance(1, 1)) / 2;
    const double largest = mean + std::sqrt(half * half + covariance(0, 1) * covariance(1, 0));
    return std::isfinite(largest) ? std::sqrt(std::max(0.0, largest)) : nan;
}

cv::Point2d UncertaintyMap::samplePosition(int column, int row) const {
    const double x = columns > 1 ? static_cast<double>(column) * (imageSize.width - 1) / (columns - 1) : 0.0;
    const double y = rows > 1 ? static_cast<double>(row) * (imageSize.height - 1) / (rows - 1) : 0.0;
    return {x, y};
}

double UncertaintyMap::at(double x, double y) const {
    if (empty() || columns < 2 || rows < 2) return std::numeric_limits<double>::quiet_NaN();
    const double u = std::clamp(x / std::max(1, imageSize.width - 1), 0.0, 1.0) * (columns - 1);
    const double v = std::clamp(y / std::max(1, imageSize.height - 1), 0.0, 1.0) * (rows - 1);
    const int c = std::min(static_cast<int>(u), columns - 2);
    const int r = std::min(static_cast<int>(v), rows - 2);
    const double fu = u - c, fv = v - r;
    return (1 - fv) * ((1 - fu) * sample(c, r) + fu * sample(c + 1, r)) +
           fv * ((1 - fu) * sample(c, r + 1) + fu * sample(c + 1, r + 1));
}

double UncertaintyMap::minimum() const {
    double low = std::numeric_limits<double>::infinity();
    for (double v : values)
        if (std::isfinite(v)) low = std::min(low, v);
    return std::isfinite(low) ? low : 0.0;
}

double UncertaintyMap::maximum() const {
    double high = 0;
    for (double v : values)
        if (std::isfinite(v)) high = std::max(high, v);
    return high;
}

UncertaintyMap sampleUncertainty(const ProjectionUncertainty& uncertainty, cv::Size imageSize, double depth,
                                 int columns) {
    UncertaintyMap map;
    if (imageSize.width < 2 || imageSize.height < 2 || columns < 2) return map;
    map.imageSize = imageSize;
    map.depth = depth;
    map.columns = std::min(columns, imageSize.width);
    map.rows = std::clamp(static_cast<int>(std::lround(static_cast<double>(map.columns) * imageSize.height /
                                                      imageSize.width)),
                          2, imageSize.height);
    map.values.resize(static_cast<std::size_t>(map.columns * map.rows));
    for (int r = 0; r < map.rows; ++r)
        for (int c = 0; c < map.columns; ++c)
            map.values[static_cast<std::size_t>(r * map.columns + c)] = uncertainty.at(map.samplePosition(c, r));
    // A sample whose ray cannot be found (beyond where the lens model can
    // be inverted) takes the highest value found, so the map stays whole.
    const double high = map.maximum();
    for (double& v : map.values)
        if (!std::isfinite(v)) v = high;
    return map;
}

namespace {

// The values span enough to be shown on a logarithmic scale.
bool logarithmic(double low, double high) { return low > 0 && high >= 4 * low; }

}  // namespace

std::vector<double> contourLevels(const UncertaintyMap& map, int atMost) {
    std::vector<double> levels;
    const double low = map.minimum(), high = map.maximum();
    if (!(high > low) || atMost < 1) return levels;
    if (logarithmic(low, high)) {
        for (double power = std::pow(10.0, std::floor(std::log10(low))); power < high; power *= 10)
            for (double f : {1.0, 2.0, 5.0})
                if (f * power > low && f * power < high) levels.push_back(f * power);
        // Too many: every second, third, ... of them, the highest kept.
        const std::size_t stride = (levels.size() + static_cast<std::size_t>(atMost) - 1) / static_cast<std::size_t>(atMost);
        if (stride > 1) {
            std::vector<double> fewer;
            for (std::size_t i = (levels.size() - 1) % stride; i < levels.size(); i += stride) fewer.push_back(levels[i]);
            levels = std::move(fewer);
        }
        return levels;
    }
    const double rough = (high - low) / atMost;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double stride = 10 * power;
    for (double f : {1.0, 2.0, 5.0})
        if (f * power >= rough) {
            stride = f * power;
            break;
        }
    for (long long k = static_cast<long long>(std::ceil(low / stride)); k * stride < high; ++k)
        if (k * stride > low) levels.push_back(static_cast<double>(k) * stride);
    return levels;
}

std::vector<std::vector<cv::Point2d>> contourLines(const UncertaintyMap& map, double level) {
    std::vector<std::vector<cv::Point2d>> lines;
    if (map.empty() || map.columns < 2 || map.rows < 2) return lines;
    // Each crossing lies on one edge between two samples; an edge's key is
    // 2 x (its first sample's index), plus 1 for a vertical edge.
    auto crossing = [&](int c0, int r0, int c1, int r1) {
        const double a = map.sample(c0, r0) - level, b = map.sample(c1, r1) - level;
        const double t = a == b ? 0.5 : a / (a - b);
        return map.samplePosition(c0, r0) + (map.samplePosition(c1, r1) - map.samplePosition(c0, r0)) * t;
    };
    struct Segment {
        long long keys[2];
        cv::Point2d ends[2];
    };
    std::vector<Segment> segments;
    for (int r = 0; r + 1 < map.rows; ++r) {
        for (int c = 0; c + 1 < map.columns; ++c) {
            // Corners in turn: top left, top right, bottom right, bottom left;
            // edges: top, right, bottom, left.
            const bool above[4] = {map.sample(c, r) > level, map.sample(c + 1, r) > level,
                                   map.sample(c + 1, r + 1) > level, map.sample(c, r + 1) > level};
            const long long base = static_cast<long long>(r) * map.columns + c;
            const long long keys[4] = {2 * base, 2 * (base + 1) + 1, 2 * (base + map.columns), 2 * base + 1};
            const cv::Point2d points[4] = {
                above[0] != above[1] ? crossing(c, r, c + 1, r) : cv::Point2d(),
                above[1] != above[2] ? crossing(c + 1, r, c + 1, r + 1) : cv::Point2d(),
                above[3] != above[2] ? crossing(c, r + 1, c + 1, r + 1) : cv::Point2d(),
                above[0] != above[3] ? crossing(c, r, c, r + 1) : cv::Point2d()};
            std::vector<int> edges;
            for (int e = 0; e < 4; ++e)
                if (above[e] != above[(e + 1) % 4]) edges.push_back(e);
            if (edges.size() == 2) {
                segments.push_back({{keys[edges[0]], keys[edges[1]]}, {points[edges[0]], points[edges[1]]}});
            } else if (edges.size() == 4) {
                // A saddle: the mean of the corners says which pair belongs together.
                const double centre = (map.sample(c, r) + map.sample(c + 1, r) + map.sample(c + 1, r + 1) +
                                       map.sample(c, r + 1)) / 4;
                const bool joinTopLeft = (centre > level) != above[0];
                const int pairs[2][2] = {{joinTopLeft ? 3 : 0, joinTopLeft ? 0 : 1}, {joinTopLeft ? 1 : 2, joinTopLeft ? 2 : 3}};
                for (const auto& pair : pairs)
                    segments.push_back({{keys[pair[0]], keys[pair[1]]}, {points[pair[0]], points[pair[1]]}});
            }
        }
    }
    // Joined into polylines through the edges they share.
    std::multimap<long long, std::size_t> byKey;
    for (std::size_t s = 0; s < segments.size(); ++s)
        for (long long key : segments[s].keys) byKey.emplace(key, s);
    std::vector<bool> used(segments.size(), false);
    auto next = [&](long long key, std::size_t from) -> long long {
        auto [first, last] = byKey.equal_range(key);
        for (auto it = first; it != last; ++it)
            if (it->second != from && !used[it->second]) return static_cast<long long>(it->second);
        return -1;
    };
    for (std::size_t s = 0; s < segments.size(); ++s) {
        if (used[s]) continue;
        used[s] = true;
        std::vector<cv::Point2d> line{segments[s].ends[0], segments[s].ends[1]};
        // Forward from the second end, then backward from the first.
        for (int direction = 0; direction < 2; ++direction) {
            long long key = segments[s].keys[direction == 0 ? 1 : 0];
            std::size_t from = s;
            for (long long found = next(key, from); found >= 0; found = next(key, from)) {
                const Segment& seg = segments[static_cast<std::size_t>(found)];
                used[static_cast<std::size_t>(found)] = true;
                const int far = seg.keys[0] == key ? 1 : 0;
                if (direction == 0)
                    line.push_back(seg.ends[far]);
                else
                    line.insert(line.begin(), seg.ends[far]);
                key = seg.keys[far];
                from = static_cast<std::size_t>(found);
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

double highUncertaintyLevel(const UncertaintyMap& map) {
    if (map.empty()) return 0;
    std::vector<double> sorted = map.values;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(sorted.size() / 2), sorted.end());
    return std::max(HIGH_UNCERTAINTY_FACTOR * sorted[sorted.size() / 2], HIGH_UNCERTAINTY_FLOOR);
}

std::vector<cv::Point2d> highUncertaintyRegions(const UncertaintyMap& map) {
    std::vector<std::pair<double, cv::Point2d>> peaks;
    if (map.empty()) return {};
    const double level = highUncertaintyLevel(map);
    std::vector<int> seen(map.values.size(), 0);
    for (int r = 0; r < map.rows; ++r) {
        for (int c = 0; c < map.columns; ++c) {
            const std::size_t start = static_cast<std::size_t>(r * map.columns + c);
            if (seen[start] || !(map.values[start] > level)) continue;
            // One region: every sample above the level reached from here.
            std::vector<std::size_t> stack{start};
            seen[start] = 1;
            std::size_t peak = start;
            while (!stack.empty()) {
                const std::size_t i = stack.back();
                stack.pop_back();
                if (map.values[i] > map.values[peak]) peak = i;
                const int ic = static_cast<int>(i) % map.columns, ir = static_cast<int>(i) / map.columns;
                const int around[4][2] = {{ic - 1, ir}, {ic + 1, ir}, {ic, ir - 1}, {ic, ir + 1}};
                for (const auto& n : around) {
                    if (n[0] < 0 || n[1] < 0 || n[0] >= map.columns || n[1] >= map.rows) continue;
                    const std::size_t j = static_cast<std::size_t>(n[1] * map.columns + n[0]);
                    if (!seen[j] && map.values[j] > level) {
                        seen[j] = 1;
                        stack.push_back(j);
                    }
                }
            }
            peaks.emplace_back(map.values[peak], map.samplePosition(static_cast<int>(peak) % map.columns,
                                                                     static_cast<int>(peak) / map.columns));
        }
    }
    std::stable_sort(peaks.begin(), peaks.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<cv::Point2d> out;
    for (const auto& peak : peaks) out.push_back(peak.second);
    return out;
}

double uncertaintyShade(double value) {
    if (std::isnan(value)) return 0;
    if (!(value > UNCERTAINTY_SCALE_LOW)) return 0;
    return std::clamp(std::log(value / UNCERTAINTY_SCALE_LOW) / std::log(UNCERTAINTY_SCALE_HIGH / UNCERTAINTY_SCALE_LOW),
                      0.0, 1.0);
}

std::array<unsigned char, 3> uncertaintyColour(double shade) {
    // Dark blue, blue, teal, green, yellow at equal steps.
    static const double stops[5][3] = {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
    const double t = (std::isfinite(shade) ? std::clamp(shade, 0.0, 1.0) : 0.0) * 4;
    const int i = std::min(static_cast<int>(t), 3);
    const double f = t - i;
    std::array<unsigned char, 3> out{};
    for (int k = 0; k < 3; ++k)
        out[static_cast<std::size_t>(k)] =
            static_cast<unsigned char>(std::lround(stops[i][k] + f * (stops[i + 1][k] - stops[i][k])));
    return out;
}
