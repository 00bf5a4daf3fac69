#include "grid/point_check.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>

namespace {

// A fit needs a few more neighbours than it has coefficients, so that the
// neighbours' spread about it means something.
constexpr int kSpareNeighbours = 2;
// A pivot below this share of the largest diagonal term of the normal
// equations means the neighbours do not fix the fit (all in one row, say).
constexpr double kMinPivotShare = 1e-9;
// The saddle samples sit this far from the corner along the cells'
// diagonals, in cells: a spot's soft edge ends 0.375 cell from its cell's
// centre, which lies 0.71 cell from the corner.
constexpr double kSaddleOffset = 0.2;

// The models of the lattice around a corner: polynomials in the pattern
// offsets (dx, dy) of 3, 6 or 10 terms, over the neighbours within
// kNeighbourReach cells (or one more). Inside the labelled block a
// quadratic follows lens bending and mild perspective; a board seen steeply
// foreshortens along five cells more than a quadratic bends (its neighbours
// scatter half a pixel about it, which would widen every tolerance there),
// and a cubic over the same neighbours follows it. At the block's edge,
// where they must extrapolate, a cubic over a wider reach (or an affine
// map, on a strip of corners) predicts more surely.
constexpr int kMaxTerms = 10;
constexpr int kMaxReach = kNeighbourReach + 1;
// A corner with this many neighbours within kNeighbourReach is inside the block.
constexpr int kInnerNeighbours = 20;

void monomials(double x, double y, double* t) {
    t[0] = 1.0, t[1] = x, t[2] = y, t[3] = x * x, t[4] = x * y, t[5] = y * y;
    t[6] = x * x * x, t[7] = x * x * y, t[8] = x * y * y, t[9] = y * y * y;
}

// Solves the symmetric system a x = b for three right-hand sides by Gaussian
// elimination with partial pivoting; false when it is (nearly) singular.
bool solve(int n, double a[kMaxTerms][kMaxTerms], double b[kMaxTerms][3]) {
    double largest = 0.0;
    for (int i = 0; i < n; ++i) largest = std::max(largest, std::abs(a[i][i]));
    if (!(largest > 0.0)) return false;
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        if (!(std::abs(a[pivot][c]) > kMinPivotShare * largest)) return false;
        if (pivot != c) {
            std::swap(a[pivot], a[c]);
            std::swap(b[pivot], b[c]);
        }
        for (int r = c + 1; r < n; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            for (int k = 0; k < 3; ++k) b[r][k] -= f * b[c][k];
        }
    }
    for (int c = n - 1; c >= 0; --c) {
        for (int k = 0; k < 3; ++k) {
            double v = b[c][k];
            for (int j = c + 1; j < n; ++j) v -= a[c][j] * b[j][k];
            b[c][k] = v / a[c][c];
        }
    }
    return true;
}

int64_t keyOf(int x, int y) { return (static_cast<int64_t>(x) << 32) ^ static_cast<uint32_t>(y); }

// Where each labelled point stands in the list: a table over the labels'
// bounding box (a board's labels span a few dozen), a hash map when the
// labels spread wider.
class LabelIndex {
public:
    explicit LabelIndex(const std::vector<LabelledPoint>& points) {
        if (points.empty()) return;
        int64_t x1 = points[0].x, y1 = points[0].y;
        x0_ = x1, y0_ = y1;
        for (const LabelledPoint& p : points) {
            x0_ = std::min<int64_t>(x0_, p.x), x1 = std::max<int64_t>(x1, p.x);
            y0_ = std::min<int64_t>(y0_, p.y), y1 = std::max<int64_t>(y1, p.y);
        }
        width_ = x1 - x0_ + 1, height_ = y1 - y0_ + 1;
        if (width_ * height_ <= kMaxTableCells) {
            table_.assign(static_cast<size_t>(width_ * height_), -1);
            for (size_t i = 0; i < points.size(); ++i)
                table_[static_cast<size_t>((points[i].y - y0_) * width_ + (points[i].x - x0_))] = static_cast<long>(i);
        } else {
            for (size_t i = 0; i < points.size(); ++i) at_[keyOf(points[i].x, points[i].y)] = i;
        }
    }
    // Index of the point labelled (x, y), or -1.
    long find(int x, int y) const {
        if (!table_.empty()) {
            const int64_t dx = x - x0_, dy = y - y0_;
            if (dx < 0 || dy < 0 || dx >= width_ || dy >= height_) return -1;
            return table_[static_cast<size_t>(dy * width_ + dx)];
        }
        const auto it = at_.find(keyOf(x, y));
        return it == at_.end() ? -1 : static_cast<long>(it->second);
    }

private:
    static constexpr int64_t kMaxTableCells = 1 << 16;
    int64_t x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
    std::vector<long> table_;
    std::unordered_map<int64_t, size_t> at_;
};

struct Sample {
    double dx, dy, u, v;
    double t[kMaxTerms];  // the monomials of (dx, dy)
};

// The normal equations of the largest model over the samples within
// `reach`: a smaller model's are their leading rows and columns, summed in
// the same order.
struct NormalEquations {
    int reach = 0;
    int count = 0;  // samples within reach
    double a[kMaxTerms][kMaxTerms] = {};
    double b[kMaxTerms][3] = {};
};

NormalEquations normalEquations(const Sample* samples, int count, int reach, int terms) {
    NormalEquations e;
    e.reach = reach;
    for (int s = 0; s < count; ++s) {
        const Sample& q = samples[s];
        if (std::abs(q.dx) > reach || std::abs(q.dy) > reach) continue;
        ++e.count;
        for (int i = 0; i < terms; ++i) {
            e.b[i][0] += q.t[i] * q.u;
            e.b[i][1] += q.t[i] * q.v;
            for (int j = i; j < terms; ++j) e.a[i][j] += q.t[i] * q.t[j];
        }
    }
    return e;
}

// Fits the model of `terms` terms over the samples of `equations` and, when
// it predicts more surely than `result` holds, puts its prediction there.
void fitModel(const NormalEquations& equations, int terms, const Sample* samples, int count, const cv::Point2f& at,
              LatticeFit& result) {
    const int n = equations.count;
    if (n < terms + kSpareNeighbours) return;
    double a[kMaxTerms][kMaxTerms];
    double b[kMaxTerms][3];
    for (int i = 0; i < terms; ++i) {
        for (int j = i; j < terms; ++j) a[i][j] = a[j][i] = equations.a[i][j];
        b[i][0] = equations.b[i][0], b[i][1] = equations.b[i][1], b[i][2] = 0.0;
    }
    b[0][2] = 1.0;  // the third right-hand side gives the leverage of the prediction at (0, 0)
    if (!solve(terms, a, b)) return;

    double squares = 0.0;
    for (int s = 0; s < count; ++s) {
        const Sample& q = samples[s];
        if (std::abs(q.dx) > equations.reach || std::abs(q.dy) > equations.reach) continue;
        double fu = 0.0, fv = 0.0;
        for (int i = 0; i < terms; ++i) fu += b[i][0] * q.t[i], fv += b[i][1] * q.t[i];
        squares += (fu - q.u) * (fu - q.u) + (fv - q.v) * (fv - q.v);
    }
    const double spread = std::sqrt(squares / (n - terms));
    const double leverage = std::max(b[0][2], 0.0);
    const double tolerance = std::min(
        kMaxTolerancePixels, std::max(kFitTolerancePixels, kFitSpread * spread) * std::sqrt(1.0 + leverage));
    if (result.valid && !(tolerance < result.tolerance)) return;
    result.valid = true;
    result.predicted = {b[0][0], b[0][1]};
    result.jacobian = cv::Matx22d(b[1][0], b[2][0], b[1][1], b[2][1]);
    result.residual = std::hypot(at.x - b[0][0], at.y - b[0][1]);
    result.tolerance = tolerance;
    result.cellPixels = std::min(std::hypot(b[1][0], b[1][1]), std::hypot(b[2][0], b[2][1]));
}

LatticeFit fit(const std::vector<LabelledPoint>& points, const std::vector<bool>& alive, const LabelIndex& index,
               size_t self) {
    LatticeFit result;
    const LabelledPoint& p = points[self];
    Sample samples[(2 * kMaxReach + 1) * (2 * kMaxReach + 1)];
    int n = 0;
    int near = 0;
    for (int dy = -kMaxReach; dy <= kMaxReach; ++dy) {
        for (int dx = -kMaxReach; dx <= kMaxReach; ++dx) {
            if (dx == 0 && dy == 0) continue;
            const long k = index.find(p.x + dx, p.y + dy);
            if (k < 0 || !alive[static_cast<size_t>(k)]) continue;
            const cv::Point2f& q = points[static_cast<size_t>(k)].at;
            Sample& sample = samples[n++];
            sample.dx = dx, sample.dy = dy, sample.u = q.x, sample.v = q.y;
            monomials(sample.dx, sample.dy, sample.t);
            if (std::abs(dx) <= kNeighbourReach && std::abs(dy) <= kNeighbourReach) ++near;
        }
    }
    const NormalEquations inner = normalEquations(samples, n, kNeighbourReach, kMaxTerms);
    if (near >= kInnerNeighbours) {
        fitModel(inner, 6, samples, n, p.at, result);
        fitModel(inner, 10, samples, n, p.at, result);
    } else {
        fitModel(inner, 6, samples, n, p.at, result);
        fitModel(inner, 3, samples, n, p.at, result);
        fitModel(normalEquations(samples, n, kNeighbourReach + 1, kMaxTerms), 10, samples, n, p.at, result);
    }
    return result;
}

// How badly a point fits: above 1 it does not.
double badness(const LatticeFit& f) {
    if (!f.valid || !std::isfinite(f.residual)) return std::numeric_limits<double>::infinity();
    return f.residual / f.tolerance;
}

// Mean of the 3 x 3 pixels around (x, y); NaN outside the image.
double greyAround(const cv::Mat& image, double x, double y) {
    const int cx = static_cast<int>(std::lround(x)), cy = static_cast<int>(std::lround(y));
    if (!std::isfinite(x) || !std::isfinite(y) || cx < 1 || cy < 1 || cx > image.cols - 2 || cy > image.rows - 2)
        return std::numeric_limits<double>::quiet_NaN();
    int sum = 0;
    for (int r = cy - 1; r <= cy + 1; ++r) {
        const uint8_t* row = image.ptr<uint8_t>(r);
        sum += row[cx - 1] + row[cx] + row[cx + 1];
    }
    return sum / 9.0;
}

}  // namespace

LatticeFit fitFromNeighbours(const std::vector<LabelledPoint>& points, const std::vector<bool>& alive, size_t index) {
    if (index >= points.size() || alive.size() != points.size()) return {};
    return fit(points, alive, LabelIndex(points), index);
}

SaddleLevels saddleLevels(const cv::Mat& image, const LabelledPoint& point, const cv::Matx22d& jacobian) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    SaddleLevels levels{nan, nan, nan};
    if (image.empty() || image.type() != CV_8UC1) return levels;
    // Cell (X, Y) spans pattern [X - 1, X] x [Y - 1, Y] and is bright when
    // X + Y is odd: of the four cells at corner (i, j), (i, j) and
    // (i + 1, j + 1) are bright when i + j is odd.
    auto sample = [&](double sx, double sy) {
        const cv::Vec2d d = jacobian * cv::Vec2d(sx * kSaddleOffset, sy * kSaddleOffset);
        return greyAround(image, point.at.x + d[0], point.at.y + d[1]);
    };
    const double lowLeft = sample(-1, -1), upRight = sample(1, 1);
    const double lowRight = sample(1, -1), upLeft = sample(-1, 1);
    const bool diagonalBright = ((point.x + point.y) & 1) != 0;
    const double brightA = diagonalBright ? lowLeft : lowRight, brightB = diagonalBright ? upRight : upLeft;
    const double darkA = diagonalBright ? lowRight : lowLeft, darkB = diagonalBright ? upLeft : upRight;
    levels.margin = std::min(brightA, brightB) - std::max(darkA, darkB);
    levels.mean = 0.25 * (brightA + brightB + darkA + darkB);
    levels.darkSpread = std::abs(darkA - darkB);
    return levels;
}

bool isLabelledSaddle(const cv::Mat& image, const LabelledPoint& point, const cv::Matx22d& jacobian) {
    const SaddleLevels levels = saddleLevels(image, point, jacobian);
    return levels.margin >= kSaddleContrast && levels.darkSpread <= levels.margin;  // false for NaN
}

std::vector<bool> soundPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                              const std::vector<bool>& candidates, const std::vector<LatticeFit>* firstFits) {
    const size_t n = points.size();
    std::vector<bool> alive(n, true);
    if (candidates.size() == n) alive = candidates;
    if (n == 0) return alive;
    const LabelIndex index(points);
    std::vector<LatticeFit> fits(n);
    const bool allAlive = std::find(alive.begin(), alive.end(), false) == alive.end();
    if (firstFits != nullptr && firstFits->size() == n && allAlive) fits = *firstFits;
    else
        for (size_t i = 0; i < n; ++i)
            if (alive[i]) fits[i] = fit(points, alive, index, i);

    for (;;) {
        size_t worst = n;
        double worstBadness = 1.0;
        for (size_t i = 0; i < n; ++i) {
            if (!alive[i]) continue;
            const double b = badness(fits[i]);
            if (b > worstBadness) {
                worstBadness = b;
                worst = i;
            }
        }
        if (worst == n) break;
        alive[worst] = false;
        const LabelledPoint& gone = points[worst];
        for (int dy = -kNeighbourReach; dy <= kNeighbourReach; ++dy) {
            for (int dx = -kNeighbourReach; dx <= kNeighbourReach; ++dx) {
                const long k = index.find(gone.x + dx, gone.y + dy);
                if (k >= 0 && alive[static_cast<size_t>(k)])
                    fits[static_cast<size_t>(k)] = fit(points, alive, index, static_cast<size_t>(k));
            }
        }
    }
    for (size_t i = 0; i < n; ++i)
        if (alive[i] && !isLabelledSaddle(image, points[i], fits[i].jacobian)) alive[i] = false;
    return alive;
}

double medianResidual(const std::vector<LabelledPoint>& points, std::vector<LatticeFit>* fits) {
    if (fits != nullptr) fits->assign(points.size(), LatticeFit{});
    if (points.empty()) return 0.0;
    const std::vector<bool> alive(points.size(), true);
    const LabelIndex index(points);
    std::vector<double> residuals;
    for (size_t i = 0; i < points.size(); ++i) {
        const LatticeFit f = fit(points, alive, index, i);
        if (f.valid) residuals.push_back(f.residual);
        if (fits != nullptr) (*fits)[i] = f;
    }
    if (residuals.empty()) return 0.0;
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    return residuals[residuals.size() / 2];
}
