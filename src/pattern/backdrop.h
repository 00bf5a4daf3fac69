#pragma once
// A busy scene to put behind the printed sheet in rendered views, so that
// the extraction meets what photographs bring: edges, corners, text, dark
// and bright blobs and texture all around the board.

#include <cstdint>

#include <opencv2/core.hpp>

namespace vexel::pattern {

// An 8-bit grey scene of `size`: a lit wall with a gradient, boxes and
// books at angles, round things, cables and table edges, lines of print,
// fine grain, slightly out of focus. The same size and seed give the same
// scene.
cv::Mat makeBackdrop(cv::Size size, uint32_t seed);

}  // namespace vexel::pattern
