// Delaunay triangulation by incremental insertion (Bowyer-Watson style): each
// new point deletes every simplex whose circumsphere holds it, and the cavity
// is re-filled with simplices joining the point to the cavity's boundary faces.
//
// The results must be reproducible to the last bit: on a frontal view of the
// board many circumcircle tests are near-ties, so the arithmetic below keeps
// one fixed order of operations, and this file is compiled without fused
// multiply-add contraction.

#include "grid/nnsort.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>

#include "grid/corner_mesh.h"
#include "grid/crt_random.h"
#include "grid/grid_element.h"

namespace {

constexpr double HUGE_COORDINATE = 1e37;  // start of the limits, radius² of the first simplex
constexpr double SCALE_FLOOR = 1e-8;      // coordinates at or below this do not set the scale
constexpr double PERTURBATION = 1e-5;     // perturbation size relative to the largest range
constexpr double RAND_FACTOR = 4.656612875245797e-10;
constexpr double DEGENERATE_AREA = 1e-8;
constexpr int PERTURBATION_SEED = 367;
constexpr int FACE_LIST_FACTOR = 4000;    // face list rows per d!
constexpr int SLOT_FACTOR = 10;           // simplex slots per d! per point

const char* const MSG_DIMENSION = "\nError: only 2 or 3 dimensions are acceptable";
const char* const MSG_IVECTOR = "\nnsort: Unable to allocate storage for ivector";
const char* const MSG_IMATRIX = "\nnsort: Unable to allocate storage for imatrix[]";
const char* const MSG_DMATRIX = "\nnsort: Unable to allocate storage for dmatrix[]";
const char* const MSG_FACES = "\nnnsort: Temporary storage exceeded - increase TSIZE";
const char* const MSG_SLOTS = "\nnnsort: Simplex storage exceeded";

// A row-major matrix in one contiguous block. Like the storage it models, a
// matrix has at least two rows and two columns.
template <class T>
class Matrix {
public:
    Matrix(size_t rows, size_t cols, const char* failure) : cols_(cols < 2 ? 2 : cols) {
        if (rows < 2) rows = 2;
        // A size beyond any storage gives up the triangulation; running out
        // of memory ends the search (std::bad_alloc passes through).
        try {
            data_.assign(rows * cols_, T{});
        } catch (const std::length_error&) {
            throw TriangulationError(failure);
        }
        rows_ = rows;
    }
    T* operator[](size_t r) { return data_.data() + r * cols_; }
    const T* operator[](size_t r) const { return data_.data() + r * cols_; }
    size_t rows() const { return rows_; }

private:
    size_t cols_;
    size_t rows_ = 0;
    std::vector<T> data_;
};

std::vector<int> makeIntVector(size_t n) {
    try {
        return std::vector<int>(n);
    } catch (const std::length_error&) {
        throw TriangulationError(MSG_IVECTOR);
    }
}

// printf's "%.6e", independent of the C library's numeric locale.
void writeScientific(std::ostream& out, const char* label, double value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 6);
    out << label << '<' << std::string(buffer, result.ptr) << '>';
}

double determinant3(const double m[3][3]) {
    return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
           m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

}  // namespace

std::vector<std::array<int, 3>> delaunayTriangles(const std::vector<g_vector>& input, int dimension,
                                                  std::ostream& diag) {
    if (dimension < 2 || dimension > 3) throw TriangulationError(MSG_DIMENSION);
    const int d = dimension;
    const int f = d == 2 ? 2 : 6;  // d!

    // Point rows and simplex entries are 32-bit; keep every row number representable.
    if (input.size() > static_cast<size_t>(std::numeric_limits<int>::max() / (SLOT_FACTOR * f)) - f)
        throw TriangulationError(MSG_IVECTOR);
    const int n = static_cast<int>(input.size());

    Matrix<double> limits(2, d, MSG_DMATRIX);
    for (int j = 0; j < d; ++j) {
        limits[0][j] = -HUGE_COORDINATE;
        limits[1][j] = HUGE_COORDINATE;
    }
    Matrix<double> work(d, d + 1, MSG_DMATRIX);
    for (int i = 0; i < d; ++i)
        for (int j = 0; j <= d; ++j) work[i][j] = -1.5;
    for (int j = 0; j < d; ++j) work[j][j] = (3 * d - 1) * 1.5;

    Matrix<double> points(static_cast<size_t>(n) + d + 1, d, MSG_DMATRIX);

    // Copy the coordinates; the scale is the smallest absolute coordinate
    // above the floor, so zeros never decide it.
    double scale = HUGE_COORDINATE;
    for (int i = 0; i < n; ++i) {
        const double coordinates[3] = {input[i].x, input[i].y, input[i].z};
        for (int j = 0; j < d; ++j) {
            points[i][j] = coordinates[j];
            const double magnitude = std::fabs(coordinates[j]);
            if (magnitude > SCALE_FLOOR && magnitude <= scale) scale = magnitude;
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < d; ++j) {
            points[i][j] /= scale;
            if (points[i][j] > limits[0][j]) limits[0][j] = points[i][j];
            if (points[i][j] < limits[1][j]) limits[1][j] = points[i][j];
        }
    }

    double range[3] = {0.0, 0.0, 0.0};
    double biggest = 0.0;
    for (int j = 0; j < d; ++j) {
        range[j] = limits[0][j] - limits[1][j];
        if (range[j] > biggest) biggest = range[j];
    }
    writeScientific(diag, "\nBGS is ", biggest);
    biggest *= PERTURBATION;
    writeScientific(diag, "\nBGS*EPS is ", biggest);

    // Move every coordinate by about half a perturbation unit plus a small
    // pseudo-random part, so that no four points stay exactly co-circular.
    CrtRandom random(PERTURBATION_SEED);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < d; ++j) points[i][j] += (0.5 - random.next() * RAND_FACTOR) * biggest;

    // The super-simplex encloses all points with a wide margin.
    for (int k = 0; k <= d; ++k)
        for (int j = 0; j < d; ++j) points[n + k][j] = range[j] * work[j][k] + limits[1][j];

    const size_t faceCapacity = static_cast<size_t>(FACE_LIST_FACTOR) * f + 1;
    const size_t slotCount = static_cast<size_t>(SLOT_FACTOR) * f * (static_cast<size_t>(n) + f);
    Matrix<int> faces(faceCapacity, d, MSG_IMATRIX);
    std::vector<int> freeList = makeIntVector(slotCount);
    for (size_t i = 0; i < slotCount; ++i) freeList[i] = static_cast<int>(i);
    Matrix<int> simplices(slotCount, d + 1, MSG_IMATRIX);
    Matrix<double> spheres(slotCount, d + 1, MSG_DMATRIX);

    for (int k = 0; k <= d; ++k) simplices[0][k] = n + k;
    for (int j = 0; j < d; ++j) spheres[0][j] = 0.0;
    spheres[0][d] = HUGE_COORDINATE;
    size_t liveCount = 1;
    size_t nextFree = 1;
    size_t slotsUsed = 1;  // every slot below this has been a simplex at some time

    int face[3];
    for (int p = 0; p < n; ++p) {
        const double* point = points[p];
        size_t faceCount = 0;
        size_t deleted = 0;
        const size_t toVisit = liveCount;

        size_t visited = 0;
        for (size_t slot = 0; visited < toVisit && slot < slotsUsed; ++slot) {
            int* simplex = simplices[slot];
            if (simplex[0] < 0) continue;
            ++visited;

            // Inside (or on) the circumsphere when nothing is left of the
            // squared radius; a NaN remainder (singular circumcentre) never is.
            const double* sphere = spheres[slot];
            double remainder = sphere[d];
            bool outside = false;
            for (int j = 0; j < d; ++j) {
                const double delta = point[j] - sphere[j];
                remainder -= delta * delta;
                if (remainder < 0.0) {
                    outside = true;
                    break;
                }
            }
            if (outside || !(remainder >= 0.0)) continue;

            --nextFree;
            freeList[nextFree] = static_cast<int>(slot);
            ++deleted;

            // A face shared with an earlier deleted simplex is inside the
            // cavity and leaves the list; the others form its boundary.
            for (int v = 0; v <= d; ++v) {
                int m = 0;
                for (int u = 0; u <= d; ++u)
                    if (u != v) face[m++] = simplex[u];
                bool matched = false;
                if (faceCount >= static_cast<size_t>(d) + 1) {
                    for (size_t k = 0; k < faceCount; ++k) {
                        int* candidate = faces[k];
                        bool same = true;
                        for (int j = 0; j < d; ++j)
                            if (candidate[j] != face[j]) {
                                same = false;
                                break;
                            }
                        if (!same) continue;
                        const int* last = faces[faceCount - 1];
                        for (int j = 0; j < d; ++j) candidate[j] = last[j];
                        --faceCount;
                        matched = true;
                        break;
                    }
                }
                if (!matched) {
                    if (faceCount + 1 > faceCapacity) throw TriangulationError(MSG_FACES);
                    for (int j = 0; j < d; ++j) faces[faceCount][j] = face[j];
                    ++faceCount;
                }
            }
            simplex[0] = -1;
        }

        // Join the point to every boundary face. Freed slots come back most
        // recently freed first, then never-used slots in ascending order.
        for (size_t k = 0; k < faceCount; ++k) {
            if (nextFree >= slotCount) throw TriangulationError(MSG_SLOTS);
            const size_t slot = static_cast<size_t>(freeList[nextFree]);
            ++nextFree;
            if (slot + 1 > slotsUsed) slotsUsed = slot + 1;

            int* simplex = simplices[slot];
            const int* boundary = faces[k];
            for (int j = 0; j < d; ++j) simplex[j] = boundary[j];
            simplex[d] = p;

            // Circumcentre c: (q_j - p) . c = sum over axes of (q_j + p)(q_j - p) / 2.
            double rows[3][3];
            double rhs[3];
            for (int i = 0; i < d; ++i) {
                const double* q = points[boundary[i]];
                rhs[i] = 0.0;
                for (int j = 0; j < d; ++j) {
                    rows[i][j] = q[j] - point[j];
                    rhs[i] += (q[j] + point[j]) * rows[i][j] / 2.0;
                }
            }
            double* sphere = spheres[slot];
            double centre[3];
            if (d == 2) {
                const double det = rows[1][1] * rows[0][0] - rows[0][1] * rows[1][0];
                centre[0] = (rhs[0] * rows[1][1] - rhs[1] * rows[0][1]) / det;
                centre[1] = (rhs[1] * rows[0][0] - rhs[0] * rows[1][0]) / det;
            } else {
                const double det = determinant3(rows);
                for (int axis = 0; axis < 3; ++axis) {
                    double replaced[3][3];
                    for (int i = 0; i < 3; ++i)
                        for (int j = 0; j < 3; ++j) replaced[i][j] = j == axis ? rhs[i] : rows[i][j];
                    centre[axis] = determinant3(replaced) / det;
                }
            }
            // Points on a line (or plane) give det = 0 and an infinite or NaN
            // centre; the IEEE values propagate into a NaN remainder above,
            // so such a simplex is never deleted. Nothing converts them to integers.
            double radius2 = 0.0;
            for (int j = 0; j < d; ++j) {
                sphere[j] = centre[j];
                const double delta = point[j] - centre[j];
                radius2 += delta * delta;
            }
            sphere[d] = radius2;
        }
        liveCount = liveCount + faceCount - deleted;
    }

    std::vector<std::array<int, 3>> triangles;
    // Dimension 3: the tetrahedra are built above, but the mesh library has no
    // element type for a tetrahedron and nothing in this system uses them, so
    // none is emitted.
    if (d != 2) return triangles;

    size_t visited = 0;
    for (size_t slot = 0; visited < liveCount && slot < slotsUsed; ++slot) {
        const int* simplex = simplices[slot];
        if (simplex[0] < 0) continue;
        ++visited;
        if (simplex[0] >= n) continue;  // uses a super-simplex vertex
        const double x0 = points[simplex[0]][0], y0 = points[simplex[0]][1];
        const double x1 = points[simplex[1]][0], y1 = points[simplex[1]][1];
        const double x2 = points[simplex[2]][0], y2 = points[simplex[2]][1];
        const double det = (x0 - x2) * (y1 - y2) - (y0 - y2) * (x1 - x2);
        if (std::fabs(det) <= DEGENERATE_AREA) continue;
        if (det < 0.0)
            triangles.push_back({simplex[0], simplex[2], simplex[1]});
        else
            triangles.push_back({simplex[0], simplex[1], simplex[2]});
    }
    return triangles;
}

void nnsort(g_part& part, int dimension, std::ostream& diag) {
    if (dimension < 2 || dimension > 3) throw TriangulationError(MSG_DIMENSION);
    const uint32_t n = part.nodes().numberOfItems();
    std::vector<g_vector> coordinates;
    coordinates.reserve(n);
    for (uint32_t id = 1; id <= n; ++id) coordinates.push_back(part.getNode(static_cast<int>(id))->getCoordinates());

    for (const auto& t : delaunayTriangles(coordinates, dimension, diag))
        part.addElement(makeTriangle(part, t[0], t[1], t[2]));
}
