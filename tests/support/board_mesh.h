#pragma once
// Hand-built grid meshes of the printed board for the labelling tests: a
// block of square cells seen face-on (optionally turned by quarter turns in
// the image), each cell a GridElement with its four nodes in the mesh's
// rotational sense (positive signed area in x-right, y-down coordinates),
// and an image painter for the marker tests.

#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

#include "geomlib/g_element.h"
#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "geomlib/g_vector.h"
#include "grid/frame_image.h"
#include "grid/grid_element.h"

namespace vexel::test {

// Where the board lies in the image: pattern (px, py) (y up) goes to
// origin + cellPixels * R^quarterTurns (px, -py).
struct BoardLayout {
    int quarterTurns = 0;
    double cellPixels = 20.0;
    double originX = 320.0;
    double originY = 240.0;
};

inline cv::Point2d patternToImage(const BoardLayout& layout, double px, double py) {
    double x = px;
    double y = -py;
    for (int i = 0; i < ((layout.quarterTurns % 4) + 4) % 4; ++i) {
        const double turned = -y;
        y = x;
        x = turned;
    }
    return {layout.originX + layout.cellPixels * x, layout.originY + layout.cellPixels * y};
}

inline cv::Point2d imageToPattern(const BoardLayout& layout, double ix, double iy) {
    double x = (ix - layout.originX) / layout.cellPixels;
    double y = (iy - layout.originY) / layout.cellPixels;
    for (int i = 0; i < ((layout.quarterTurns % 4) + 4) % 4; ++i) {
        const double turned = y;
        y = -x;
        x = turned;
    }
    return {x, -y};
}

// Which node of a cell (in its positive-area order) comes first.
using StartRule = std::function<int(int cellX, int cellY)>;

inline int spreadStart(int cellX, int cellY) { return ((cellX * 7 + cellY * 3) % 4 + 4) % 4; }

// Cells with pattern labels X in [minX, maxX] and Y in [minY, maxY], made row
// by row from (minX, minY), on shared corner nodes. The part owns everything.
class BoardMesh {
public:
    BoardMesh(const BoardLayout& layout, int minX, int maxX, int minY, int maxY,
              const StartRule& start = spreadStart)
        : layout_(layout), part_(std::make_unique<g_part>()) {
        for (int Y = minY; Y <= maxY; ++Y)
            for (int X = minX; X <= maxX; ++X) addCell(X, Y, start(X, Y));
    }

    // Adds cell (X, Y) to the mesh, in `owner` (default: the mesh's part);
    // a cell made in another part is registered at the nodes but not one of
    // this part's elements.
    GridElement* addCell(int X, int Y, int startNode, g_part* owner = nullptr) {
        std::array<g_node*, 4> nodes{corner(X - 1, Y - 1), corner(X, Y - 1), corner(X, Y), corner(X - 1, Y)};
        double area = 0.0;
        for (int i = 0; i < 4; ++i) {
            const g_vector a = nodes[i]->getCoordinates();
            const g_vector b = nodes[(i + 1) % 4]->getCoordinates();
            area += a.x * b.y - b.x * a.y;
        }
        if (area < 0) std::swap(nodes[1], nodes[3]);
        auto* cell = new GridElement();
        for (int i = 0; i < 4; ++i) cell->addNode(nodes[(i + startNode) % 4]);
        cell->meanGrey = isBright(X, Y) ? 200u : 40u;
        (owner != nullptr ? *owner : *part_).addElement(cell);
        if (owner == nullptr) cells_[{X, Y}] = cell;
        return cell;
    }

    static bool isBright(int X, int Y) { return ((X + Y) % 2 + 2) % 2 == 1; }

    g_part& part() { return *part_; }
    g_container<g_element*>& cells() { return part_->elements(); }
    GridElement* cell(int X, int Y) const {
        auto it = cells_.find({X, Y});
        return it == cells_.end() ? nullptr : it->second;
    }
    const BoardLayout& layout() const { return layout_; }

    // The pattern position the layout gives an image node.
    cv::Point2d patternOf(g_node* node) const {
        const g_vector c = node->getCoordinates();
        return imageToPattern(layout_, c.x, c.y);
    }

    g_node* corner(int px, int py) {
        auto it = corners_.find({px, py});
        if (it != corners_.end()) return it->second;
        const cv::Point2d at = patternToImage(layout_, px, py);
        auto* node = new g_node(g_vector(at.x, at.y, 0.0));
        part_->addNode(node);
        corners_[{px, py}] = node;
        return node;
    }

private:
    BoardLayout layout_;
    std::unique_ptr<g_part> part_;
    std::map<std::pair<int, int>, GridElement*> cells_;
    std::map<std::pair<int, int>, g_node*> corners_;
};

// A spot painted into a cell: the cell (X, Y) and the spot's grey level.
struct PaintedSpot {
    int cellX;
    int cellY;
    int grey;
};

// A frame image of the board under `layout`: bright cells 200, dark cells
// 40, background 200, and a disk of diameter 0.6 cell in each given cell.
inline cv::Mat paintBoard(const BoardLayout& layout, int width, int height, int minX, int maxX, int minY, int maxY,
                          const std::vector<PaintedSpot>& spots) {
    cv::Mat image = makeFrameImage(width, height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const cv::Point2d p = imageToPattern(layout, c, r);
            const int X = static_cast<int>(std::floor(p.x)) + 1;
            const int Y = static_cast<int>(std::floor(p.y)) + 1;
            int grey = 200;
            if (X >= minX && X <= maxX && Y >= minY && Y <= maxY) {
                grey = BoardMesh::isBright(X, Y) ? 200 : 40;
                for (const PaintedSpot& spot : spots) {
                    const double dx = p.x - (spot.cellX - 0.5);
                    const double dy = p.y - (spot.cellY - 0.5);
                    if (spot.cellX == X && spot.cellY == Y && dx * dx + dy * dy <= 0.09) grey = spot.grey;
                }
            }
            image.at<uint8_t>(r, c) = static_cast<uint8_t>(grey);
        }
    }
    return image;
}

}  // namespace vexel::test
