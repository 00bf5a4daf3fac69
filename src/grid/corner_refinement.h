#pragma once
// A second, finer refinement of a frame's correspondences, once they are
// labelled: each corner is refined on the full-resolution frame with a
// window sized from the cells around it, where detection had to use one
// small window for every corner.

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

#include "grid/point_check.h"

// The refinement window's half-size is kRefineCellShare of the shortest side
// from the corner to its labelled neighbours, clamped to kMinHalfWindow ..
// kMaxHalfWindow pixels and kept inside the image (refinementWindowInside).
// A marker's spot reaches to a third of a side from the cell's corners along
// the diagonal (0.707 - 0.375), which a window of 0.3 reaches (0.42): the
// spot's edges would pull the corner towards it. Corners of a marker cell
// use kMarkerCornerShare, whose window ends at 0.28 along the diagonal.
constexpr double kRefineCellShare = 0.3;
constexpr double kMarkerCornerShare = 0.2;
constexpr int kMinHalfWindow = 3;
constexpr int kMaxHalfWindow = 25;
// Whether pattern corner (x, y) is a corner of one of the printed marker cells.
bool isMarkerCorner(int x, int y);
// The half-size of the window for pattern corner (x, y) with cells `side`
// pixels short: `cellShare` of the side (at most kMarkerCornerShare at a
// marker's corners), clamped to kMinHalfWindow .. `maxHalfWindow`.
int refinementHalfWindow(int x, int y, double side, double cellShare = kRefineCellShare,
                         int maxHalfWindow = kMaxHalfWindow);
// `at` refined on `image` in a window of half-size `halfWindow`; a step
// under `epsilon` pixels ends the refinement.
constexpr double kRefineEpsilon = 0.001;
cv::Point2f refinedCorner(const cv::Mat& image, const cv::Point2f& at, int halfWindow,
                          double epsilon = kRefineEpsilon);
// A corner the refinement moves farther than this share of that side has
// run to another feature (a spot, a neighbouring corner): it keeps its
// position.
constexpr double kMaxMoveShare = 0.25;

// A frame whose corners lie farther than this (the median over its points)
// from where their neighbours put them is rough (blur larger than the
// detection's 9 x 9 window, strong noise): all its points are refined with
// windows sized from their cells before they are checked.
constexpr double kRoughResidual = 0.25;
// A corner whose position moves by more than kStableShift pixels when it is
// refined again in a window of half-size kStableHalfWindow (kStableIterations
// steps) depends on its window: the frame is blurred wider than the
// detection's window saw. Such a corner is refined with a window sized from
// its cells; a frame with more than kRoughUnstableShare of them is rough.
constexpr int kStableHalfWindow = 6;
constexpr int kStableIterations = 10;
constexpr double kStableShift = 0.3;
// That refinement stops early once a step is shorter than kStableEpsilon
// pixels: a corner that settles that fast is stable whatever it would do next.
constexpr double kStableEpsilon = 0.01;
constexpr double kRoughUnstableShare = 0.2;
std::vector<bool> unstablePoints(const cv::Mat& image, const std::vector<LabelledPoint>& points);

// A rough frame is refined on the half-resolution image of the board's
// part of the frame (see finalPoints); the part reaches this many frame
// pixels beyond the outermost points, room for the widest window.
constexpr int kRoughMargin = 2 * (kMaxHalfWindow + 8);
// There the windows are kRoughCellShare of the shortest side (the pyramid
// has already averaged over two pixels; a wider window costs more than it
// gains), and a step under kRoughEpsilon pixels of the half-size image ends
// the refinement (a rough corner is not known that closely anyway).
constexpr double kRoughCellShare = 0.2;
constexpr double kRoughEpsilon = 0.01;
// A corner of cells too small for that (its window there would be under
// kMinHalfWindow) is refined on the frame smoothed by kRoughSmoothing pixels.
constexpr double kRoughSmoothing = 1.0;
// On a frame that is not rough, a refined corner is kept only within this
// many pixels of its first position.
constexpr double kRefineAgreement = 0.5;
// A window of kNarrowShare of the refinement's sees less of what lies
// around a corner. Where the refinements in both windows lie farther apart
// than kNarrowAgreement pixels, the wider one has met something else (the
// edge of a shadow or a glare, a finger's): the corner takes the narrow
// window's position. On clean frames the two agree far more closely.
constexpr double kNarrowShare = 0.5;
constexpr double kNarrowAgreement = 0.05;
// `at` refined in a window of half-size `halfWindow`, then in windows of
// kNarrowShare of the last while the last two positions lie more than
// kNarrowAgreement pixels apart; the wider of the last two that agree. None
// when no two agree down to kMinHalfWindow: the corner moves with every
// window (a glare clips the light cells around it and lights the dark ones,
// and even the least window finds it a pixel off).
std::optional<cv::Point2f> narrowedCorner(const cv::Mat& image, const cv::Point2f& at, int halfWindow,
                                          double epsilon = kRefineEpsilon);
// A corner whose saddle samples average more than kBrighterLight over the
// frame's median lies beside a glare; refined with `refineAll` it is narrowed.
constexpr double kBrighterLight = 0.15;

// `points` with those marked in `which` (all when it is empty) refined on
// `image` (8-bit, one channel) with the window above; a point that cannot
// be refined there, or that would move too far, keeps its position.
// `refined`, when given, says which points were refined.
std::vector<LabelledPoint> refinedPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                         const std::vector<bool>& which, std::vector<bool>* refined = nullptr);

// The detection's 9 x 9 window was made for frames of 640 x 480. On larger
// frames a pixel is smaller against the optics' blur and that window sees
// too little of a corner: on rendered views 0.044 px RMS at 1920 x 1080,
// where cornerSubPix in an 11 x 11 window gets 0.038, and 0.10 to 0.13 px
// at 4032 x 3024. finalPoints refines the points of a frame whose longer
// side exceeds kRefinedFrameSide (twice 640) as `refineAll` does, whatever
// it is asked, in windows of at most kDefaultMaxHalfWindow pixels (twice
// the detection's) until a step is shorter than kDefaultEpsilon: 0.030 px
// at 1920 x 1080, for up to a tenth more time per frame. A frame whose
// longer side exceeds kLargeFrameSide (a phone's 12 megapixels, 4K video)
// gets those windows (0.02 to 0.04 px); a rough one is refined at half
// resolution even with `refineAll`: there the pyramid averages more noise
// than the smoothing of the full frame does.
constexpr int kRefinedFrameSide = 1280;
constexpr int kDefaultMaxHalfWindow = 8;
constexpr double kDefaultEpsilon = 0.01;
constexpr int kLargeFrameSide = 2560;

// The last step before correspondences are output; every point is checked
// with its neighbours (soundPoints). On a rough frame the points are
// refined (at half resolution, or on the frame smoothed with `refineAll`)
// and a refined point that fails is tried at its first position. Otherwise
// the first positions are checked and a point that fails is tried refined,
// an unstable one is refined (or dropped when it cannot be); with
// `refineAll`, and on a frame larger than kRefinedFrameSide, every point
// that passed is then refined (in the narrow window where the two disagree,
// kNarrowAgreement; narrowed further, narrowedCorner, beside a glare,
// kBrighterLight) and keeps the refined position when it lies within
// kRefineAgreement of the first and passes. Points that pass at no
// position are dropped; the rest keep their order.
std::vector<LabelledPoint> finalPoints(const cv::Mat& image, const std::vector<LabelledPoint>& points,
                                       bool refineAll);
