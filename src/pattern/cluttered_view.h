#pragma once
// Views of the board in front of busy surroundings, as users' own pictures
// often are: the sheet is rendered sharp on black and on white, which gives
// every pixel's share of background; that share is filled from a clutter
// image (a smooth photograph-like texture with filled rectangles, ellipses
// and quadrilaterals of any grey, two thirds of them placed on the sheet's
// edge so that they touch the board's margin), then the frame is blurred and
// noise is added as renderView does.

#include "pattern/renderer.h"

namespace vexel::pattern {

// Renders the view with `options` (samples, grey levels, margin, blur,
// noise); options.noiseSeed seeds the clutter and the noise. The background
// grey is not used. The same arguments give the same frame.
RenderedView renderClutteredView(const Camera& camera, const ViewPose& pose, const RenderOptions& options);

}  // namespace vexel::pattern
