#pragma once
// First stage of a frame's grid extraction: the strong corner features of the
// frame, at sub-pixel accuracy, into the frame's point slots.

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

class GridSet;

// Finds up to `set.maxPoints` corners in `image` (8-bit, one channel, the full
// resolution frame) and stores their positions, in full-resolution pixels, in
// the first slots of the frame's `imagePoints`, their number in its `pointCount`.
//
// The search runs on a half-resolution copy (Gaussian pyramid step), keeps the
// corners whose smaller gradient eigenvalue reaches a quarter of the strongest,
// at least 8 half-resolution pixels apart, strongest first; their doubled
// positions are then refined on the full frame in a 9 x 9 window. A corner the
// refinement leaves exactly where it started (it gives up when the estimate
// runs out of the window) is refined again from the same start in a 13 x 13
// window and then once more in the 9 x 9 window.
//
// Works only while the frame's pointCount == maxPoints, i.e. once per allocation.
// Does nothing for a missing record or frame, or an image that is not 8-bit
// one-channel. A frame narrower or lower than 2 pixels gives 0 corners. When
// the vision library fails (e.g. out of memory) its exception passes through:
// a frame that could not be searched is no frame without corners.
void detectCorners(GridSet& set, int frame, const cv::Mat& image);

// The first search's least distance between two corners, in half-resolution
// pixels.
constexpr double kFirstSearchDistance = 8.0;

// Another way to search a frame's corners, for frames the first search
// does not label.
struct CornerSearch {
    // Search the frame itself rather than its half-resolution copy (cells
    // too small for the half-resolution search's minimum distance).
    bool fullResolution = false;
    // Normalise the contrast locally before the search (shadows, glare, dim
    // parts of the frame), so that the strongest corner of the frame does
    // not set the bar for all.
    bool normalised = false;
    // Gaussian smoothing before the search, as a share of the searched
    // image's longer side (blurred frames: a motion-blurred corner shows two
    // peaks of corner strength, sharp print in the surroundings outshines
    // the board; smoothed, both become one blur).
    double smoothingShare = 0.0;
    // Least distance between two corners, in pixels of the searched image.
    double minDistance = kFirstSearchDistance;
    // Half-size of the refinement window on the frame; the default one's
    // corners that run out of it are tried again in a wider window.
    int refineHalfWindow = 4;
    // Search only this part of the frame, in full-resolution pixels (a
    // small board where the first search's corners crowd together); empty:
    // the whole frame. The corners are refined on the whole frame.
    cv::Rect region;
};

// `image` (32-bit float) blurred by a Gaussian of deviation `sigma` pixels.
// A wide blur is computed on the image shrunk by the largest power of two
// that leaves the Gaussian at least kShrunkSigma pixels wide there, then
// stretched back: a local mean over tens of pixels varies slowly, so this
// stays within a fraction of a percent of the full blur (at 1920 x 1080 and
// a deviation of 38 pixels, about a twentieth of its cost).
constexpr double kShrunkSigma = 8.0;
cv::Mat wideGaussianBlur(const cv::Mat& image, double sigma);

// detectCorners with `search`; the default search is detectCorners' own.
// Other searches leave out the corners that are blobs of the searched image
// (a blurred marker spot) and those the refinement gave up on.
void detectCornersWith(GridSet& set, int frame, const cv::Mat& image, const CornerSearch& search);
