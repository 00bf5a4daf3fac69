#pragma once
// The last check of a frame's correspondences before they are output: each
// labelled corner must agree with the position its labelled neighbours
// predict, and the image around it must be the saddle its label says (the
// two cells on one diagonal bright, on the other dark).

#include <opencv2/core.hpp>

#include <vector>

// A correspondence: the pattern corner (x, y) seen at image position `at`.
struct LabelledPoint {
    int x = 0;
    int y = 0;
    cv::Point2f at;
};

// The local lattice around a labelled corner, from its labelled neighbours
// within kNeighbourReach cells: a quadratic and a cubic map from pattern to
// image positions fitted without the corner itself (at the edge of the
// labelled block a quadratic, an affine map and a cubic over one cell more),
// whichever predicts most surely.
constexpr int kNeighbourReach = 2;

// Where the neighbours put a corner, and how far the corner may lie from it.
struct LatticeFit {
    bool valid = false;            // enough neighbours for a fit
    cv::Point2d predicted;         // image position the neighbours predict
    cv::Matx22d jacobian;          // image pixels per pattern cell, columns x and y
    double residual = 0.0;         // distance of the corner from `predicted`
    double tolerance = 0.0;        // largest residual accepted
    double cellPixels = 0.0;       // the shorter side of a cell there, in pixels
};

// A corner agrees with its neighbours when it lies within
// kFitTolerancePixels of their prediction, widened by kFitSpread times the
// spread of the neighbours about their own fit (rough frames: noise, lens
// distortion the quadratic leaves) and by the uncertainty of an
// extrapolated prediction (a corner at the edge of the labelled block), but
// never beyond kMaxTolerancePixels: a corner the neighbours cannot place
// more surely than that is not output.
constexpr double kFitTolerancePixels = 0.5;
constexpr double kFitSpread = 2.5;
constexpr double kMaxTolerancePixels = 1.5;

// The fit for point `index` from the points marked in `alive` (the point
// itself left out).
LatticeFit fitFromNeighbours(const std::vector<LabelledPoint>& points, const std::vector<bool>& alive, size_t index);

// The saddle test: the grey levels at a fifth of a cell from the corner
// along both diagonals (outside any marker spot) must be bright in the two
// cells its label makes bright and dark in the other two, by at least
// kSaddleContrast grey levels.
constexpr double kSaddleContrast = 8.0;
// Its two dark cells must also differ by no more than that margin: a dark
// cell lit up towards the white by a glare beside the corner (the bright
// cells clipped) bends the gradients the refinement follows, and such a
// corner is found up to a pixel off whatever window refines it.
bool isLabelledSaddle(const cv::Mat& image, const LabelledPoint& point, const cv::Matx22d& jacobian);
// The grey levels the saddle test samples: the margin by which its bright
// samples outshine its dark ones, and the mean of the four (NaN where a
// sample falls outside the image).
struct SaddleLevels {
    double margin;
    double mean;
    double darkSpread;  // the difference of the two dark samples
};
SaddleLevels saddleLevels(const cv::Mat& image, const LabelledPoint& point, const cv::Matx22d& jacobian);

// Which points to keep: the points that cannot be fitted, fit worst (their
// residual over their tolerance) or fail the saddle test are dropped one at
// a time, the worst first, since a wrong point spoils its neighbours'
// predictions; the rest are kept. Only the points marked in `candidates`
// (all when it is empty) take part. `image` is the 8-bit one-channel frame.
// `fits`, when given, holds every point's fit from all the others (as
// medianResidual leaves them) and spares computing them again.
std::vector<bool> soundPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                              const std::vector<bool>& candidates = {},
                              const std::vector<LatticeFit>* fits = nullptr);

// The median of the points' fit residuals: how rough the frame's corners
// are (a few hundredths of a pixel on a sharp frame). `fits`, when given,
// receives every point's fit.
double medianResidual(const std::vector<LabelledPoint>& points, std::vector<LatticeFit>* fits = nullptr);
