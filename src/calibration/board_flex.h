#pragma once
// A smooth bend of the printed board out of its plane: two parabolic arches,
// one along each board axis. The printed point (x, y) (cells) lies
//   alongX (1 - u^2) + alongY (1 - v^2)
// cells above the plane, towards the printed side, where u and v run from
// -1 to 1 across the printed board (x from -6 to 5, y from -6 to 6). So
// alongX is how far the middle of the board stands above the straight line
// between its left and right edges, and its centre stands alongX + alongY
// above its four corners. A tilt or shift of the whole sheet is part of the
// pose of each view, so these two numbers are all the shape there is.

struct BoardFlex {
    bool estimated = false;  // a calibration with board flex found these
    double alongX = 0.0;     // cells
    double alongY = 0.0;     // cells
    double sdX = 0.0;        // standard deviations, cells
    double sdY = 0.0;
    // How far the board's centre stands above its corners, cells.
    double atCentre() const { return alongX + alongY; }
};

// The heights of the two arches at pattern point (x, y), per cell of bend.
inline void boardFlexShape(double x, double y, double& alongX, double& alongY) {
    constexpr double midX = -0.5, halfX = 5.5, midY = 0.0, halfY = 6.0;
    const double u = (x - midX) / halfX, v = (y - midY) / halfY;
    alongX = 1.0 - u * u;
    alongY = 1.0 - v * v;
}
