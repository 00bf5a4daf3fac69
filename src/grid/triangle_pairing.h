#pragma once
// Triangle pairing: every Delaunay triangle gets its mean brightness, and two
// triangles that share a side and are each other's closest match in
// brightness become one four-node candidate cell.

#include <cstdint>

#include <opencv2/core.hpp>

class g_element;
class GridSet;

// Mean pixel value inside the element's polygon shrunk by 2 pixels on every
// side, by scan lines. `pixels` is the first byte of the image's first row;
// rows are `bitsPerPixel / 8 * width` bytes rounded up to a multiple of 4.
// A pixel's value is its bytes read as a little-endian unsigned integer.
// Returns 0 when nothing is given, when no pixel lies inside the shrunk
// polygon, and for polygons with non-finite coordinates.
uint32_t meanInPolygon(const uint8_t* pixels, int width, int height, int bitsPerPixel, g_element* element);

// Sets every triangle's meanGrey in the frame's trianglePart, empties
// pendingElements and fills it with the candidate cells (built on the nodes
// of the frame's gridPart, registered at them, owned by nobody yet). Paired
// triangles get inGrid = 1. Does nothing unless the frame is allocated and
// the image is given. The image must hold 8-bit channels.
void pairTriangles(GridSet& set, int frame, const cv::Mat& image);
