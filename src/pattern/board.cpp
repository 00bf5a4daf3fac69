#include "pattern/board.h"

#include <cmath>

namespace vexel::pattern {

bool isBoardCell(int cellX, int cellY) {
    return cellX >= kFirstCellX && cellX <= kLastCellX && cellY >= kFirstCellY && cellY <= kLastCellY;
}

bool isBrightCell(int cellX, int cellY) {
    // Works for negative labels too: the sum is odd exactly when its low bit is set.
    return ((cellX + cellY) & 1) != 0;
}

bool isMarkerCell(int cellX, int cellY) {
    for (const MarkerCell& m : kMarkerCells) {
        if (m.x == cellX && m.y == cellY) return true;
    }
    return false;
}

int cellLabelOf(double coordinate) {
    // Far-away (or not-a-number) coordinates get labels far outside the board
    // instead of an out-of-range conversion.
    constexpr double kFar = 1e6;
    if (!(coordinate >= -kFar)) return -static_cast<int>(kFar);
    if (coordinate > kFar) return static_cast<int>(kFar) + 1;
    return static_cast<int>(std::floor(coordinate)) + 1;
}

double spotBlend(double r) {
    if (r <= kSpotInnerRadius) return 0.0;
    if (r >= kSpotOuterRadius) return 1.0;
    return (r - kSpotInnerRadius) / (kSpotOuterRadius - kSpotInnerRadius);
}

double boardReflectance(double x, double y) {
    if (!(x >= kBoardMinX && x < kBoardMaxX && y >= kBoardMinY && y < kBoardMaxY)) return kBright;
    const int cellX = cellLabelOf(x);
    const int cellY = cellLabelOf(y);
    const double cellColour = isBrightCell(cellX, cellY) ? kBright : kDark;
    if (!isMarkerCell(cellX, cellY)) return cellColour;
    const double dx = x - (cellX - 0.5);
    const double dy = y - (cellY - 0.5);
    const double spotColour = kBright - cellColour;
    const double t = spotBlend(std::sqrt(dx * dx + dy * dy));
    return spotColour + (cellColour - spotColour) * t;
}

bool onSheet(double x, double y, double marginCells) {
    return x >= kBoardMinX - marginCells && x <= kBoardMaxX + marginCells && y >= kBoardMinY - marginCells &&
           y <= kBoardMaxY + marginCells;
}

}  // namespace vexel::pattern
