#pragma once
// How far the projection of a calibration may be off across the image.
//
// The covariance of every fitted parameter (the intrinsics and each view's
// pose) is sigma^2 (J^T J)^-1, J the derivatives of all reprojection
// residuals at the solution, sigma^2 the residual variance per coordinate.
// It is kept in the block form that eliminating the poses gives, so its
// cost grows linearly with the number of views; the full matrix, not only
// its diagonal, reaches every quantity propagated through it.
//
// The uncertainty at a pixel is that of where a point seen there lands when
// the calibration is made again from equally noisy observations of the same
// views: the point sits at a given depth on the pixel's ray and is held
// fixed relative to the boards (its place in every view's pattern frame is
// carried back with that view's pose and the results averaged), so that a
// shift of the camera's frame that the poses absorb is not counted as error.
// The value is the standard deviation in the worst direction, in pixels.

#include <array>
#include <vector>

#include <opencv2/core/matx.hpp>
#include <opencv2/core/types.hpp>

#include "calibration/camera_calibration.h"
#include "calibration/camera_model.h"

class ParameterCovariance {
public:
    // From the views and poses of a calibration with `model`'s parameters.
    // False (and nothing held) when there are no more residuals than
    // parameters or the system cannot be inverted.
    bool compute(const CameraModel& model, const CalibrationViews& views, const std::vector<FramePose>& poses);
    bool valid() const { return m_valid; }

    // Residual variance per image coordinate: the sum of squared residuals
    // over (2 x points - parameters), pixels squared.
    double residualVariance() const { return m_variance; }
    int viewCount() const { return static_cast<int>(m_poseInverse.size()); }
    // The covariance of the intrinsic parameters, parameterCount^2 values
    // row by row.
    std::vector<double> intrinsicCovariance() const;

    // The 2 x 2 covariance of a quantity whose derivatives are `intrinsics`
    // (2 rows of parameterCount values, row by row) and `poses` (per view
    // 2 x 6: by the rotation vector, then the translation).
    cv::Matx22d propagate(const std::vector<double>& intrinsics, const std::vector<cv::Matx<double, 2, 6>>& poses) const;

private:
    bool m_valid = false;
    int m_parameters = 0;
    double m_variance = 0;
    std::vector<double> m_reducedInverse;               // (A - sum B C^-1 B^T)^-1, n x n
    std::vector<std::vector<double>> m_coupling;        // B per view, n x 6
    std::vector<cv::Matx<double, 6, 6>> m_poseInverse;  // C^-1 per view
};

// Projection uncertainty at any pixel for one calibration.
class ProjectionUncertainty {
public:
    // `depth`: the distance along the optical axis of the point looked at,
    // pattern units.
    ProjectionUncertainty(const CameraModel& model, const ParameterCovariance& covariance,
                          const std::vector<FramePose>& poses, double depth);

    // The standard deviation in the worst direction at `pixel`, pixels; not
    // finite when the pixel's ray cannot be found.
    double at(const cv::Point2d& pixel) const;

private:
    CameraModel m_model;
    ParameterCovariance m_covariance;
    std::vector<FramePose> m_poses;
    double m_depth;
    // Per view the rotation matrix and its derivatives by the three
    // components of the rotation vector.
    std::vector<cv::Matx33d> m_rotations;
    std::vector<std::array<cv::Matx33d, 3>> m_rotationSlopes;
};

// The uncertainty sampled over the image: columns x rows samples, the first
// and last of each row and column on the image's edges (pixel 0 and width -
// 1), so that the image corners are samples.
struct UncertaintyMap {
    cv::Size imageSize;
    int columns = 0;
    int rows = 0;
    std::vector<double> values;  // row by row, pixels
    double depth = 0;            // the depth the point was put at, pattern units

    bool empty() const { return values.empty(); }
    double sample(int column, int row) const { return values[static_cast<std::size_t>(row * columns + column)]; }
    // The image position of sample (column, row).
    cv::Point2d samplePosition(int column, int row) const;
    // The bilinear interpolation of the samples at an image position.
    double at(double x, double y) const;
    double minimum() const;
    double maximum() const;
};

// Samples across `imageSize`, at most `columns` across, rows in proportion.
UncertaintyMap sampleUncertainty(const ProjectionUncertainty& uncertainty, cv::Size imageSize, double depth,
                                 int columns = 48);

// Round levels strictly between the map's least and greatest value: from
// 1, 2, 5 times the powers of ten when the values span a factor of 4 or
// more, else equal round steps; at most `atMost` of them.
std::vector<double> contourLevels(const UncertaintyMap& map, int atMost = 8);

// The lines where the map crosses `level`, image pixels, as polylines
// (marching squares over the samples).
std::vector<std::vector<cv::Point2d>> contourLines(const UncertaintyMap& map, double level);

// Where the map is high: above HIGH_UNCERTAINTY_FACTOR times its median
// and above HIGH_UNCERTAINTY_FLOOR. One point per connected high region
// (where it peaks), highest first.
constexpr double HIGH_UNCERTAINTY_FACTOR = 3.0;
constexpr double HIGH_UNCERTAINTY_FLOOR = 0.5;  // pixels
double highUncertaintyLevel(const UncertaintyMap& map);
std::vector<cv::Point2d> highUncertaintyRegions(const UncertaintyMap& map);

// The colour scale of the uncertainty is the same for every calibration, so
// that maps can be compared: logarithmic from 0.01 px to 1 px.
constexpr double UNCERTAINTY_SCALE_LOW = 0.01;  // pixels
constexpr double UNCERTAINTY_SCALE_HIGH = 1.0;
// Where `value` lies on that scale: 0 at its low end (and below), 1 at its
// high end (and above).
double uncertaintyShade(double value);

// The colour of a shade: dark blue through green to yellow (red, green,
// blue, 0 to 255).
std::array<unsigned char, 3> uncertaintyColour(double shade);
