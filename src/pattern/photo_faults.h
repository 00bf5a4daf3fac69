#pragma once
// What users' own photographs of the board bring and clean renders do not:
// a hand over the board, a cast shadow, a specular glare, motion blur,
// defocus, wrong exposure (clipped whites, or a dark and noisy frame), strong
// JPEG compression and boards seen small. A view is rendered sharp and clean
// and the faults are then applied in the order the light meets them; the
// truth says which corners a careful person can still see.

#include <opencv2/core.hpp>

#include <limits>
#include <string>
#include <vector>

#include "pattern/renderer.h"

namespace vexel::pattern {

enum class FaultKind { None, Shadow, Hand, Glare, MotionBlur, Defocus, OverExposed, LowLight, SmallBoard, Jpeg };

// "none", "shadow", "hand", "glare", "motion", "defocus", "overexposed",
// "lowlight", "small", "jpeg".
const char* faultKindName(FaultKind kind);
bool faultKindFromName(const std::string& name, FaultKind& kind);
const std::vector<FaultKind>& allFaultKinds();

// A finger as a capsule: the points within `radius` of the segment from
// `base` to `tip` (image pixels).
struct Finger {
    cv::Point2d base;
    cv::Point2d tip;
    double radius = 0.0;
};

struct PhotoFaults {
    FaultKind kind = FaultKind::None;

    // Cast shadow: the band of the frame that starts at the line through
    // shadowPoint with unit normal shadowNormal and reaches shadowDepth
    // pixels along the normal (infinite: a half-plane) receives
    // shadowTransmission of the light (1: no shadow). Its edges ramp over
    // shadowSoftness pixels (0: hard).
    double shadowTransmission = 1.0;
    cv::Point2d shadowPoint;
    cv::Point2d shadowNormal{1.0, 0.0};
    double shadowDepth = std::numeric_limits<double>::infinity();
    double shadowSoftness = 0.0;

    // Occluder in front of the board: fingers and a palm (an ellipse; none
    // when its size is 0) of grey occluderGrey, shaded towards their edges.
    std::vector<Finger> fingers;
    cv::RotatedRect palm;
    double occluderGrey = 170.0;

    // Specular glare: glarePeak grey levels added at glareCentre, falling off
    // as a Gaussian of glareSigma pixels; a stripe of glareLength pixels
    // along glareAngle (radians) when glareLength > 0.
    cv::Point2d glareCentre;
    double glarePeak = 0.0;
    double glareSigma = 1.0;
    double glareLength = 0.0;
    double glareAngle = 0.0;

    // Optics: motion blur along a line of motionLength pixels at motionAngle
    // (radians), defocus as a disc of defocusRadius pixels.
    double motionLength = 0.0;
    double motionAngle = 0.0;
    double defocusRadius = 0.0;

    // Sensor: the light is multiplied by gain; besides the read noise
    // (RenderOptions::noiseSigma) the noise has a variance of shotNoise grey
    // levels per grey level of signal; the result is clipped to 0 .. 255.
    double gain = 1.0;
    double shotNoise = 0.0;

    // JPEG compression at this quality (0: none).
    int jpegQuality = 0;
};

// How poses are spread for a kind of fault: small boards for SmallBoard,
// randomPoses' own spread otherwise.
PoseRange poseRangeFor(FaultKind kind);

// Draws the faults of `kind` for the view of the board at `pose`: where
// the shadow falls, where the hand holds the board, the glare's place (half
// of the spots beside the origin marker), the blur lengths (6 to 15 px of
// motion, a defocus disc of 3.5 to 6 px), the gains (1.7 to 2.4 over, 0.2 to
// 0.3 under), the JPEG quality (40 to 48).
PhotoFaults drawFaults(FaultKind kind, const Camera& camera, const ViewPose& pose, PortableRandom& random);

struct FaultyView {
    RenderedView view;
    // Per corner of view.corners: whether a careful person cannot see it (out
    // of the frame, under the occluder, or without contrast under the glare).
    std::vector<bool> hidden;
    // How many of the three marker cells can be seen.
    int visibleMarkers = 0;
};

// Renders the view with `options` (samples, grey levels, margin, backdrop)
// sharp and clean, then: shadow and glare on the scene, the occluder in
// front of it, the optics' blur (options.blurSigma, motion, defocus), the
// gain, the noise (options.noiseSigma with options.noiseSeed, plus the shot
// noise), clipping, and JPEG compression. Throws std::invalid_argument as
// renderView does, and for faults out of range.
FaultyView renderFaultyView(const Camera& camera, const ViewPose& pose, const RenderOptions& options,
                            const PhotoFaults& faults);

// What the faults document says of one view.
struct FaultRecord {
    std::string file;
    FaultKind kind = FaultKind::None;
    std::vector<cv::Point> hiddenCorners;  // pattern coordinates
    int visibleMarkers = 0;
};

FaultRecord faultRecord(const std::string& file, FaultKind kind, const FaultyView& view);

// The faults document of a set: {"views": [{"file", "fault",
// "visible_markers", "hidden": [[x, y], ...]}]}.
std::string faultsJson(const std::vector<FaultRecord>& records);

}  // namespace vexel::pattern
