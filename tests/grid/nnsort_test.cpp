#include "grid/nnsort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "geomlib/g_node.h"
#include "geomlib/g_part.h"
#include "grid/crt_random.h"

namespace {

using Point = std::array<double, 2>;
using Triangle = std::array<int, 3>;

std::unique_ptr<g_part> makePart(const std::vector<Point>& points) {
    auto part = std::make_unique<g_part>();
    for (const Point& p : points) part->addNode(new g_node(g_vector(p[0], p[1], 0.0)));
    return part;
}

// The part's elements as 0-based node positions, in element order.
std::vector<Triangle> elementsOf(g_part& part) {
    std::vector<Triangle> result;
    for (uint32_t i = 0; i < part.elements().numberOfItems(); ++i) {
        g_element* e = part.elements().item(i);
        EXPECT_EQ(e->nodes().numberOfItems(), 3u);
        result.push_back({e->getNode(0)->getId() - 1, e->getNode(1)->getId() - 1, e->getNode(2)->getId() - 1});
    }
    return result;
}

std::vector<Triangle> triangulate(const std::vector<Point>& points, std::string* diagnostics = nullptr) {
    auto part = makePart(points);
    std::ostringstream diag;
    nnsort(*part, 2, diag);
    if (diagnostics) *diagnostics = diag.str();
    return elementsOf(*part);
}

nlohmann::json loadVectors() {
    std::ifstream in(std::string(VEXEL_TEST_DATA_DIR) + "/nnsort.json");
    return nlohmann::json::parse(in);
}

double signedArea(const std::vector<Point>& p, const Triangle& t) {
    const Point &a = p[t[0]], &b = p[t[1]], &c = p[t[2]];
    return 0.5 * ((a[0] - c[0]) * (b[1] - c[1]) - (a[1] - c[1]) * (b[0] - c[0]));
}

double hullArea(std::vector<Point> p) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    if (p.size() < 3) return 0.0;
    auto cross = [](const Point& o, const Point& a, const Point& b) {
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
    };
    std::vector<Point> hull(2 * p.size());
    size_t k = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], p[i]) <= 0) --k;
        hull[k++] = p[i];
    }
    for (size_t i = p.size() - 1, t = k + 1; i > 0; --i) {
        while (k >= t && cross(hull[k - 2], hull[k - 1], p[i - 1]) <= 0) --k;
        hull[k++] = p[i - 1];
    }
    double area = 0.0;
    for (size_t i = 0; i + 1 < k; ++i) area += hull[i][0] * hull[i + 1][1] - hull[i + 1][0] * hull[i][1];
    return std::fabs(area) / 2.0;
}

// True when the open triangles share interior: no edge normal of either
// separates them (beyond a small tolerance, so shared sides only touch).
bool overlap(const std::vector<Point>& p, const Triangle& s, const Triangle& t) {
    const Triangle* both[2] = {&s, &t};
    for (const Triangle* owner : both) {
        for (int e = 0; e < 3; ++e) {
            const Point& a = p[(*owner)[e]];
            const Point& b = p[(*owner)[(e + 1) % 3]];
            const double nx = a[1] - b[1], ny = b[0] - a[0];
            const double len = std::hypot(nx, ny);
            double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
            for (int w = 0; w < 2; ++w)
                for (int v : *both[w]) {
                    const double d = (p[v][0] * nx + p[v][1] * ny) / len;
                    lo[w] = std::min(lo[w], d);
                    hi[w] = std::max(hi[w], d);
                }
            if (hi[0] <= lo[1] + 1e-7 || hi[1] <= lo[0] + 1e-7) return false;
        }
    }
    return true;
}

// Checks what any Delaunay triangulation of the points must satisfy.
void expectDelaunay(const std::vector<Point>& p, const std::vector<Triangle>& tris, bool coversHull) {
    double total = 0.0;
    for (const Triangle& t : tris) {
        const double area = signedArea(p, t);
        EXPECT_GT(area, 0.0);
        total += area;
        const Point &a = p[t[0]], &b = p[t[1]], &c = p[t[2]];
        const long double d = 2.0L * (a[0] * (b[1] - c[1]) + b[0] * (c[1] - a[1]) + c[0] * (a[1] - b[1]));
        const long double a2 = a[0] * a[0] + a[1] * a[1], b2 = b[0] * b[0] + b[1] * b[1],
                          c2 = c[0] * c[0] + c[1] * c[1];
        const long double ux = (a2 * (b[1] - c[1]) + b2 * (c[1] - a[1]) + c2 * (a[1] - b[1])) / d;
        const long double uy = (a2 * (c[0] - b[0]) + b2 * (a[0] - c[0]) + c2 * (b[0] - a[0])) / d;
        const long double r2 = (a[0] - ux) * (a[0] - ux) + (a[1] - uy) * (a[1] - uy);
        for (size_t v = 0; v < p.size(); ++v) {
            if (static_cast<int>(v) == t[0] || static_cast<int>(v) == t[1] || static_cast<int>(v) == t[2]) continue;
            const long double d2 = (p[v][0] - ux) * (p[v][0] - ux) + (p[v][1] - uy) * (p[v][1] - uy);
            EXPECT_GE(d2, r2 * (1.0L - 1e-9L)) << "point " << v << " inside circumcircle of " << t[0] << ","
                                                << t[1] << "," << t[2];
        }
    }
    for (size_t i = 0; i < tris.size(); ++i)
        for (size_t j = i + 1; j < tris.size(); ++j) EXPECT_FALSE(overlap(p, tris[i], tris[j])) << i << " " << j;
    const double hull = hullArea(p);
    EXPECT_LE(total, hull * (1.0 + 1e-9));
    if (coversHull) {
        EXPECT_NEAR(total, hull, hull * 1e-9);
    }
}

TEST(CrtRandom, FollowsTheLinearCongruence) {
    // state = state * 214013 + 2531011 mod 2^32, value = bits 16..30 of the state.
    CrtRandom one(1);
    EXPECT_EQ(one.next(), 41);  // 2745024 >> 16
    EXPECT_EQ(one.next(), 18467);
    EXPECT_EQ(one.next(), 6334);
    CrtRandom wrap(0xFFFFFFFFu);
    EXPECT_EQ(wrap.next(), 35);  // (2^32 - 214013 + 2531011) mod 2^32 = 2316998
    EXPECT_EQ(wrap.state(), 2316998u);

    CrtRandom seeded(367);
    const nlohmann::json vectors = loadVectors();
    for (int expected : vectors.at("msvc_rand_seed_367_first_10")) EXPECT_EQ(seeded.next(), expected);
}

TEST(Nnsort, MatchesReferenceTriangulationsInEmissionOrder) {
    const nlohmann::json vectors = loadVectors();
    for (const auto& c : vectors.at("nnsort_2d")) {
        std::vector<Point> points;
        for (const auto& q : c.at("points")) points.push_back({q.at(0).get<double>(), q.at(1).get<double>()});
        EXPECT_EQ(triangulate(points), c.at("triangles").get<std::vector<Triangle>>()) << c.at("name");
    }
}

TEST(Nnsort, WritesTheTwoDiagnosticLines) {
    // Scale 10: x spans 1..5 and y 1..4, so the largest range is 4.
    std::string diag;
    triangulate({{10, 10}, {50, 12}, {30, 40}}, &diag);
    EXPECT_EQ(diag, "\nBGS is <4.000000e+00>\nBGS*EPS is <4.000000e-05>");
    triangulate({}, &diag);
    EXPECT_EQ(diag, "\nBGS is <0.000000e+00>\nBGS*EPS is <0.000000e+00>");
}

TEST(Nnsort, SmallAndDegenerateInputs) {
    EXPECT_TRUE(triangulate({}).empty());
    EXPECT_TRUE(triangulate({{3, 4}}).empty());
    EXPECT_TRUE(triangulate({{3, 4}, {5, 6}}).empty());
    EXPECT_TRUE(triangulate({{0, 0}, {1, 1}, {2, 2}}).empty());
    std::vector<Point> line;
    for (int i = 0; i < 40; ++i) line.push_back({10.0 + 3 * i, 20.0});
    EXPECT_TRUE(triangulate(line).empty());
    EXPECT_TRUE(triangulate({{0, 0}, {0, 0}, {0, 0}, {0, 0}}).empty());
    // Clockwise input comes out with positive signed area.
    EXPECT_EQ(triangulate({{0, 0}, {0, 5}, {7, 1}}), (std::vector<Triangle>{{0, 2, 1}}));
}

TEST(Nnsort, RandomPointSetsAreDelaunay) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        for (int n : {3, 4, 7, 20, 64, 200}) {
            std::mt19937 gen(seed * 1000 + n);
            std::vector<Point> points;
            for (int i = 0; i < n; ++i)
                points.push_back({static_cast<float>(gen() % 640000u / 1000.0),
                                  static_cast<float>(gen() % 480000u / 1000.0)});
            SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << n << " points");
            // Hull triangles whose circumcircle reaches a super-simplex vertex
            // (flat ones, for instance) are not emitted, so only an upper
            // bound on the area holds.
            expectDelaunay(points, triangulate(points), false);
        }
    }
}

TEST(Nnsort, RegularGridsAreCoveredCompletely) {
    struct Grid { int cols, rows; double spacing, x0, y0; };
    for (const Grid& g : {Grid{5, 4, 32, 100, 80}, Grid{12, 9, 25, 0, 0}, Grid{2, 2, 1, 0, 0}, Grid{15, 11, 0.5, 3, 7}}) {
        std::vector<Point> points;
        for (int r = 0; r < g.rows; ++r)
            for (int c = 0; c < g.cols; ++c) points.push_back({g.x0 + c * g.spacing, g.y0 + r * g.spacing});
        SCOPED_TRACE(testing::Message() << g.cols << "x" << g.rows << " spacing " << g.spacing);
        const auto tris = triangulate(points);
        EXPECT_EQ(tris.size(), static_cast<size_t>(2 * (g.cols - 1) * (g.rows - 1)));
        expectDelaunay(points, tris, true);
    }
}

TEST(Nnsort, RejectsOtherDimensionsAndEmitsNothingForThree) {
    auto part = makePart({{10, 10}, {50, 12}, {30, 40}});
    std::ostringstream diag;
    for (int dimension : {1, 4}) {
        try {
            nnsort(*part, dimension, diag);
            ADD_FAILURE() << "dimension " << dimension << " accepted";
        } catch (const TriangulationError& e) {
            EXPECT_STREQ(e.what(), "\nError: only 2 or 3 dimensions are acceptable");
        }
    }
    EXPECT_EQ(diag.str(), "");

    auto solid = std::make_unique<g_part>();
    std::mt19937 gen(7);
    for (int i = 0; i < 60; ++i) solid->addNode(new g_node(g_vector(gen() % 1000, gen() % 1000, gen() % 1000)));
    nnsort(*solid, 3, diag);
    nnsort(*part, 3, diag);
    EXPECT_EQ(solid->elements().numberOfItems(), 0u);
    EXPECT_EQ(part->elements().numberOfItems(), 0u);
    EXPECT_NE(diag.str().find("\nBGS is <"), std::string::npos);
}

TEST(Nnsort, ConcurrentCallsGiveTheSameResult) {
    std::vector<Point> points;
    std::mt19937 gen(11);
    for (int i = 0; i < 150; ++i) points.push_back({gen() % 640000u / 1000.0, gen() % 480000u / 1000.0});
    const auto expected = triangulate(points);
    std::vector<std::vector<Triangle>> results(4);
    std::vector<std::thread> threads;
    for (auto& r : results) threads.emplace_back([&] { r = triangulate(points); });
    for (auto& t : threads) t.join();
    for (const auto& r : results) EXPECT_EQ(r, expected);
}

}  // namespace
