// ScalarField3D::ExtractIsoSurface and IsInsideSurface.
//
// The key check compares the compact cell storage against a reference that
// keeps the full record of every cell (corner positions and values, twelve
// edge vertices, its own triangle list) exactly as the algorithm describes
// it: mesh and point answers must agree bit for bit.
#include "density/ScalarField3D.h"
#include "density/EngineSwitches.h"
#include "geometry/MarchingCubesTables.h"

#include "geometry/SurfaceMembership.h"
#include "tests/support/CellRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Reference: one full record per cell, in nested vectors [i][j][k].
struct RefCell {
    double iso = 0;
    int cubeIndex = 0;
    osg::Vec3f cornerPositions[8];
    double cornerValues[8] = {};
    int edgeVertices[12] = {};
    std::vector<TriangleIndices> triangles;
};

const int kRefOffset[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                              {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const int kRefEdge[12][2] = {{0, 1}, {1, 2}, {3, 2}, {3, 0}, {4, 5}, {5, 6},
                             {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
// Neighbour offset (di, dj, dk) and its edge; dk = 9 marks "always created".
const int kRefReuse[12][4] = {{0, -1, 0, 2}, {0, 0, -1, 5}, {0, 0, -1, 6}, {-1, 0, 0, 1},
                              {0, -1, 0, 6}, {0, 0, 9, 0},  {0, 0, 9, 0},  {-1, 0, 0, 5},
                              {-1, 0, 0, 9}, {0, -1, 0, 10}, {0, 0, 9, 0}, {-1, 0, 0, 10}};
const double kRefBorder = -3.4028234663852886e38;

struct RefField {
    const ScalarField3D& f;
    std::vector<std::vector<std::vector<RefCell>>> cells;
    bool cellsBuilt = false;
    SurfaceMesh surface;

    explicit RefField(const ScalarField3D& field) : f(field) {}

    void Extract(double iso)
    {
        if (!cellsBuilt) {
            cells.assign(f.xCount + 1, std::vector<std::vector<RefCell>>(
                                           f.yCount + 1, std::vector<RefCell>(f.zCount + 1)));
            cellsBuilt = true;
        }
        surface.vertices.clear();
        surface.triangles.clear();
        for (int i = 0; i <= f.xCount; ++i)
            for (int j = 0; j <= f.yCount; ++j)
                for (int k = 0; k <= f.zCount; ++k)
                    for (int c = 0; c < 8; ++c) {
                        RefCell& cell = cells[i][j][k];
                        const int ix = i - 1 + kRefOffset[c][0], iy = j - 1 + kRefOffset[c][1],
                                  iz = k - 1 + kRefOffset[c][2];
                        const bool in = ix >= 0 && ix < f.xCount && iy >= 0 && iy < f.yCount && iz >= 0 &&
                                        iz < f.zCount;
                        cell.cornerValues[c] = in ? f.values[ix + iy * f.xCount + iz * f.xCount * f.yCount]
                                                  : kRefBorder;
                        cell.cornerPositions[c] = osg::Vec3f(static_cast<float>(f.xMin + ix * f.xStep),
                                                             static_cast<float>(f.yMin + iy * f.yStep),
                                                             static_cast<float>(f.zMin + iz * f.zStep));
                    }
        for (int k = 0; k <= f.zCount; ++k)
            for (int j = 0; j <= f.yCount; ++j)
                for (int i = 0; i <= f.xCount; ++i) {
                    RefCell& cell = cells[i][j][k];
                    cell.iso = iso;
                    cell.cubeIndex = 0;
                    for (int c = 0; c < 8; ++c)
                        if (cell.cornerValues[c] < iso)
                            cell.cubeIndex |= 1 << c;
                    const int edgeMask = kEdgeTable[cell.cubeIndex];
                    if (edgeMask == 0)
                        continue;
                    for (int e = 0; e < 12; ++e) {
                        if (!(edgeMask & (1 << e)))
                            continue;
                        const int* r = kRefReuse[e];
                        const int ni = i + r[0], nj = j + r[1], nk = k + r[2];
                        if (r[2] != 9 && ni >= 0 && nj >= 0 && nk >= 0) {
                            cell.edgeVertices[e] = cells[ni][nj][nk].edgeVertices[r[3]];
                            continue;
                        }
                        const int a = kRefEdge[e][0], b = kRefEdge[e][1];
                        const double va = cell.cornerValues[a], vb = cell.cornerValues[b];
                        const double mu = std::fabs(vb - va) >= 1e-14 ? (iso - va) / (vb - va) : 0.5;
                        const osg::Vec3f& pa = cell.cornerPositions[a];
                        const osg::Vec3f& pb = cell.cornerPositions[b];
                        osg::Vec3f p;
                        for (int d = 0; d < 3; ++d)
                            p[d] = static_cast<float>(static_cast<double>(pa[d]) +
                                                      mu * (static_cast<double>(pb[d]) - static_cast<double>(pa[d])));
                        surface.vertices.push_back(p);
                        cell.edgeVertices[e] = static_cast<int>(surface.vertices.size()) - 1;
                    }
                    cell.triangles.clear();
                    const int* row = kTriangleTable[cell.cubeIndex];
                    for (int t = 0; row[t] != -1; t += 3)
                        cell.triangles.push_back({cell.edgeVertices[row[t]], cell.edgeVertices[row[t + 1]],
                                                  cell.edgeVertices[row[t + 2]]});
                    surface.triangles.insert(surface.triangles.end(), cell.triangles.begin(),
                                             cell.triangles.end());
                }
    }

    static float Dot(const float* a, const float* b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

    static bool Crosses(const osg::Vec3f& P0, const osg::Vec3f& P1, const osg::Vec3f& V0, const osg::Vec3f& V1,
                        const osg::Vec3f& V2)
    {
        float u[3], v[3], n[3], d[3], p0v0[3], w[3];
        for (int c = 0; c < 3; ++c) {
            u[c] = V1[c] - V0[c];
            v[c] = V2[c] - V0[c];
            d[c] = P1[c] - P0[c];
            p0v0[c] = P0[c] - V0[c];
        }
        n[0] = u[1] * v[2] - u[2] * v[1];
        n[1] = u[2] * v[0] - u[0] * v[2];
        n[2] = u[0] * v[1] - u[1] * v[0];
        if (n[0] == 0 && n[1] == 0 && n[2] == 0)
            return false;
        const float b = Dot(n, d);
        const float a = -Dot(n, p0v0);
        if (std::fabs(b) < 1e-14)
            return false;
        const float r = a / b;
        if (r < 0 || r > 1)
            return false;
        for (int c = 0; c < 3; ++c) {
            const float I = P0[c] + r * d[c];
            w[c] = I - V0[c];
        }
        const float uu = Dot(u, u), uv = Dot(u, v), vv = Dot(v, v), wu = Dot(w, u), wv = Dot(w, v);
        const float D = uv * uv - uu * vv;
        const float s = (uv * wv - vv * wu) / D;
        if (s < 0 || s > 1)
            return false;
        const float t = (uv * wu - uu * wv) / D;
        if (t < 0 || s + t > 1)
            return false;
        return true;
    }

    bool Inside(const osg::Vec3f& p) const
    {
        const double fi = std::trunc((p.x() - f.xMin) / f.xStep), fj = std::trunc((p.y() - f.yMin) / f.yStep),
                     fk = std::trunc((p.z() - f.zMin) / f.zStep);
        if (std::fabs(fi) > 1e6 || std::fabs(fj) > 1e6 || std::fabs(fk) > 1e6)
            return false;
        const int i = static_cast<int>(fi) + 1, j = static_cast<int>(fj) + 1, k = static_cast<int>(fk) + 1;
        if (i < 0 || i > f.xCount - 1 || j < 0 || j > f.yCount - 1 || k < 0 || k > f.zCount - 1)
            return false;
        const RefCell& cell = cells[i][j][k];
        if (cell.cubeIndex == 0)
            return true;
        if (cell.cubeIndex == 255)
            return false;
        for (int c = 0; c < 8; ++c) {
            if (!(cell.cornerValues[c] < cell.iso))
                continue;
            for (const TriangleIndices& t : cell.triangles)
                if (Crosses(p, cell.cornerPositions[c], surface.vertices[t.v0], surface.vertices[t.v1],
                            surface.vertices[t.v2]))
                    return true;
        }
        return false;
    }
};
// ---------------------------------------------------------------------------

bool SameBits(const osg::Vec3f& a, const osg::Vec3f& b) { return std::memcmp(a.ptr(), b.ptr(), sizeof(float) * 3) == 0; }

void ExpectSameMesh(const SurfaceMesh& expected, const SurfaceMesh& actual)
{
    ASSERT_EQ(expected.vertices.size(), actual.vertices.size());
    ASSERT_EQ(expected.triangles.size(), actual.triangles.size());
    for (size_t v = 0; v < expected.vertices.size(); ++v)
        ASSERT_TRUE(SameBits(expected.vertices[v], actual.vertices[v])) << "vertex " << v;
    for (size_t t = 0; t < expected.triangles.size(); ++t) {
        ASSERT_EQ(expected.triangles[t].v0, actual.triangles[t].v0) << "triangle " << t;
        ASSERT_EQ(expected.triangles[t].v1, actual.triangles[t].v1) << "triangle " << t;
        ASSERT_EQ(expected.triangles[t].v2, actual.triangles[t].v2) << "triangle " << t;
    }
}

// Every undirected edge in exactly two triangles, used once in each direction.
void ExpectClosedAndOriented(const SurfaceMesh& mesh)
{
    std::map<std::pair<int, int>, int> directed;
    for (const TriangleIndices& t : mesh.triangles) {
        ++directed[{t.v0, t.v1}];
        ++directed[{t.v1, t.v2}];
        ++directed[{t.v2, t.v0}];
    }
    for (const auto& [edge, count] : directed) {
        EXPECT_EQ(count, 1) << "edge " << edge.first << "-" << edge.second;
        const auto back = directed.find({edge.second, edge.first});
        ASSERT_NE(back, directed.end()) << "open edge " << edge.first << "-" << edge.second;
        EXPECT_EQ(back->second, 1);
    }
}

ScalarField3D UnitGrid(int n) { return ScalarField3D(0, n - 1, n, 0, n - 1, n, 0, n - 1, n); }

osg::Vec3f RandomPoint(std::mt19937& rng, const ScalarField3D& f)
{
    // Mostly inside the box, some up to two steps beyond it, some snapped to
    // nodes, faces and half-steps where ties are most likely.
    std::uniform_real_distribution<double> u(-2.0, 1.0 + 2.0);
    std::uniform_int_distribution<int> kind(0, 3);
    osg::Vec3f p;
    const double mins[3] = {f.xMin, f.yMin, f.zMin}, steps[3] = {f.xStep, f.yStep, f.zStep};
    const int counts[3] = {f.xCount, f.yCount, f.zCount};
    for (int a = 0; a < 3; ++a) {
        const double span = steps[a] * (counts[a] - 1);
        double t = u(rng) / 3.0 * 1.2 - 0.1;  // −0.1 … 1.1 of the box
        const int k = kind(rng);
        if (k == 1)
            t = std::round(t * (counts[a] - 1)) / (counts[a] - 1);
        else if (k == 2)
            t = (std::floor(t * (counts[a] - 1)) + 0.5) / (counts[a] - 1);
        p[a] = static_cast<float>(mins[a] + t * span);
        if (k == 3)  // a float step away from a node plane, either side
            p[a] = std::nextafter(static_cast<float>(mins[a] + std::round(t * (counts[a] - 1)) * steps[a]),
                                  rng() % 2 ? 1e30f : -1e30f);
    }
    return p;
}

}  // namespace

TEST(IsoSurfaceExtraction, MatchesFullCellRecordsOnRandomFields)
{
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 24; ++trial) {
        const int nx = 5 + trial % 8, ny = 12 - trial % 5, nz = 6 + trial % 7;
        ScalarField3D field(-1.5, 2.25 + trial, nx, 0.1, 3.7, ny, -7.0, -2.0 + 0.3 * trial, nz);
        RefField ref(field);
        // Values on a coarse lattice so that many equal the level exactly, a
        // few pairs nearly equal across it, and the rest continuous.
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (int extraction = 0; extraction < 3; ++extraction) {
            for (double& v : field.values) {
                const double r = u(rng);
                v = trial % 3 == 0 ? std::round(r * 4) / 4 : (trial % 3 == 1 ? r : 0.25 + (r > 0 ? 1e-15 : -1e-15));
            }
            const double iso = extraction == 0 ? 0.0 : (extraction == 1 ? 0.25 : u(rng) * 0.5);
            ref.Extract(iso);
            field.ExtractIsoSurface(iso);
            ExpectSameMesh(ref.surface, field.surface);
            for (int q = 0; q < 20000; ++q) {
                const osg::Vec3f p = RandomPoint(rng, field);
                for (bool vectorTest : {true, false}) {
                    EngineSwitches::Scoped<bool> vector(EngineSwitches::vectorPointTest, vectorTest);
                    ASSERT_EQ(ref.Inside(p), field.IsInsideSurface(p))
                        << "trial " << trial << " extraction " << extraction << " at " << p.x() << " " << p.y()
                        << " " << p.z() << (vectorTest ? " eight corners at a time" : " one segment at a time");
                }
            }
            for (int i = 0; i <= nx; ++i)
                for (int j = 0; j <= ny; ++j)
                    for (int k = 0; k <= nz; ++k) {
                        const CubeCell cell = CellRecord(field, i, j, k);
                        const RefCell& r = ref.cells[i][j][k];
                        ASSERT_EQ(r.cubeIndex, cell.cubeIndex);
                        ASSERT_EQ(r.iso, cell.iso);
                        for (int c = 0; c < 8; ++c)
                            ASSERT_TRUE(SameBits(r.cornerPositions[c], cell.cornerPositions[c]));
                        if (cell.triangleCount > 0) {
                            ASSERT_EQ(r.triangles.size(), static_cast<size_t>(cell.triangleCount));
                            for (int t = 0; t < cell.triangleCount; ++t)
                                ASSERT_EQ(r.triangles[t].v1, field.surface.triangles[cell.firstTriangle + t].v1);
                        }
                    }
        }
    }
}

// The extraction classifies a row of cells 64 at a time: rows just below,
// at and beyond a word's length, NaN values (never below the level) and a
// level below the border value (border nodes then not below) must give the
// reference's mesh and cell cases too.
TEST(IsoSurfaceExtraction, MatchesFullCellRecordsOnRowsAroundAWordLong)
{
    std::mt19937 rng(777);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int nx : {61, 62, 63, 64, 65, 126, 127, 130}) {
        ScalarField3D field(0.5, 0.5 + 0.1 * nx, nx, -1.0, 1.0, 4, 2.0, 3.0, 3);
        RefField ref(field);
        for (int extraction = 0; extraction < 3; ++extraction) {
            for (double& v : field.values) {
                const double r = u(rng);
                v = r > 0.97 ? std::nan("") : (extraction == 2 && r < -0.9 ? -1e39 : r);
            }
            const double iso = extraction == 2 ? -3.5e38 : 0.1 * extraction;
            ref.Extract(iso);
            field.ExtractIsoSurface(iso);
            ExpectSameMesh(ref.surface, field.surface);
            for (int i = 0; i <= field.xCount; ++i)
                for (int j = 0; j <= field.yCount; ++j)
                    for (int k = 0; k <= field.zCount; ++k) {
                        const CubeCell cell = CellRecord(field, i, j, k);
                        ASSERT_EQ(ref.cells[i][j][k].cubeIndex, cell.cubeIndex)
                            << "row of " << nx << " nodes, cell " << i << " " << j << " " << k;
                        for (int t = 0; t < cell.triangleCount; ++t)
                            ASSERT_EQ(ref.cells[i][j][k].triangles.at(t).v2,
                                      field.surface.triangles[cell.firstTriangle + t].v2);
                    }
            for (int q = 0; q < 2000; ++q) {
                const osg::Vec3f p = RandomPoint(rng, field);
                ASSERT_EQ(ref.Inside(p), field.IsInsideSurface(p)) << "row of " << nx << " nodes";
            }
        }
    }
}

TEST(IsoSurfaceExtraction, AllNegativeFieldHasNoSurfaceAndNothingInside)
{
    ScalarField3D field = UnitGrid(8);
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(3, 3, 3)));  // before any extraction
    for (double& v : field.values)
        v = -1.0;
    field.ExtractIsoSurface(0.0);
    EXPECT_TRUE(field.cellsBuilt);
    EXPECT_TRUE(field.surface.vertices.empty());
    EXPECT_TRUE(field.surface.triangles.empty());
    std::mt19937 rng(7);
    for (int q = 0; q < 2000; ++q)
        EXPECT_FALSE(field.IsInsideSurface(RandomPoint(rng, field)));
}

TEST(IsoSurfaceExtraction, AllZeroFieldIsCutOnlyAtTheBorder)
{
    const int n = 6;
    ScalarField3D field = UnitGrid(n);
    field.ExtractIsoSurface(0.0);
    EXPECT_FALSE(field.surface.triangles.empty());
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j)
            for (int k = 0; k <= n; ++k) {
                const bool border = i == 0 || j == 0 || k == 0 || i == n || j == n || k == n;
                const CubeCell cell = CellRecord(field, i, j, k);
                if (border)
                    EXPECT_NE(cell.cubeIndex, 0) << i << " " << j << " " << k;
                else
                    EXPECT_EQ(cell.cubeIndex, 0) << i << " " << j << " " << k;
            }
    // Vertices towards the border value sit on the border nodes.
    for (const osg::Vec3f& v : field.surface.vertices)
        for (int a = 0; a < 3; ++a) {
            EXPECT_GE(v[a], 0.0f);
            EXPECT_LE(v[a], static_cast<float>(n - 1));
            EXPECT_EQ(v[a], std::round(v[a]));
        }
    EXPECT_TRUE(field.IsInsideSurface(osg::Vec3f(2.5f, 2.5f, 2.5f)));
    EXPECT_TRUE(field.IsInsideSurface(osg::Vec3f(0.5f, 4.9f, 1.0f)));
    EXPECT_TRUE(field.IsInsideSurface(osg::Vec3f(0, 0, 0)));
    // The maximum faces fall into the cell index count, which is outside.
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(n - 1, 2, 2)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(2, n - 1, 2)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(2, 2, n - 1)));
    // Far away, or not a number: outside, without overflowing the cell index.
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(-3e38f, 2, 2)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(2, 3e38f, 2)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(2, 2, std::nanf(""))));
}

TEST(IsoSurfaceExtraction, SphereGivesClosedMeshAndAgreesWithTheFunction)
{
    const int n = 24;
    ScalarField3D field(-2.0, 2.0, n, -2.0, 2.0, n, -2.0, 2.0, n);
    const double cx = 0.13, cy = -0.07, cz = 0.21, radius = 1.3;
    auto f = [&](double x, double y, double z) {
        return radius - std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz));
    };
    for (int iz = 0; iz < n; ++iz)
        for (int iy = 0; iy < n; ++iy)
            for (int ix = 0; ix < n; ++ix)
                field.values[field.NodeIndex(ix, iy, iz)] =
                    f(field.xMin + ix * field.xStep, field.yMin + iy * field.yStep, field.zMin + iz * field.zStep);
    field.ExtractIsoSurface(0.0);
    ASSERT_GT(field.surface.triangles.size(), 100u);
    ExpectClosedAndOriented(field.surface);
    for (const osg::Vec3f& v : field.surface.vertices)
        EXPECT_NEAR(f(v.x(), v.y(), v.z()), 0.0, field.xStep * 0.2);

    std::mt19937 rng(99);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    int inside = 0;
    for (int q = 0; q < 20000; ++q) {
        const osg::Vec3f p(u(rng), u(rng), u(rng));
        const double value = f(p.x(), p.y(), p.z());
        if (std::fabs(value) < field.xStep)
            continue;
        EXPECT_EQ(value > 0, field.IsInsideSurface(p)) << p.x() << " " << p.y() << " " << p.z();
        inside += value > 0;
    }
    EXPECT_GT(inside, 500);

    // A second extraction at the same level reproduces the mesh exactly.
    const SurfaceMesh first = field.surface;
    field.ExtractIsoSurface(0.0);
    ExpectSameMesh(first, field.surface);
}

TEST(IsoSurfaceExtraction, RegionTouchingTheBorderIsClosedThroughTheBorderNodes)
{
    const int n = 10;
    ScalarField3D field = UnitGrid(n);
    // A slab x < 3.5 that covers the whole x = 0 face.
    for (int iz = 0; iz < n; ++iz)
        for (int iy = 0; iy < n; ++iy)
            for (int ix = 0; ix < n; ++ix)
                field.values[field.NodeIndex(ix, iy, iz)] = 3.5 - ix;
    field.ExtractIsoSurface(0.0);
    ExpectClosedAndOriented(field.surface);
    bool sawLowerFace = false;
    for (const osg::Vec3f& v : field.surface.vertices) {
        // Vertices are at x = 3.5, or on the border nodes towards the value beyond the grid.
        // (to within rounding: mu towards the border value is about 1e-38).
        auto near = [](float a, float b) { return std::fabs(a - b) < 1e-30f; };
        const bool onCut = v.x() == 3.5f;
        const bool onBorder = near(v.x(), 0) || near(v.y(), 0) || near(v.z(), 0) || near(v.y(), n - 1) ||
                              near(v.z(), n - 1);
        EXPECT_TRUE(onCut || onBorder) << v.x() << " " << v.y() << " " << v.z();
        sawLowerFace |= near(v.x(), 0);
    }
    EXPECT_TRUE(sawLowerFace);
    EXPECT_TRUE(field.IsInsideSurface(osg::Vec3f(0.0f, 4.0f, 4.0f)));  // on the minimum face
    EXPECT_TRUE(field.IsInsideSurface(osg::Vec3f(3.4f, 0.0f, 0.0f)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(3.6f, 4.0f, 4.0f)));
    EXPECT_FALSE(field.IsInsideSurface(osg::Vec3f(2.0f, 4.0f, n - 1)));  // maximum face
}

TEST(IsoSurfaceExtraction, NearlyEqualValuesAcrossTheLevelPutTheVertexAtTheMidpoint)
{
    ScalarField3D field = UnitGrid(4);
    for (double& v : field.values)
        v = -1.0;
    field.values[field.NodeIndex(1, 1, 1)] = 0.5e-14;  // edge to (2,1,1): difference just under 1e-14
    field.values[field.NodeIndex(2, 1, 1)] = -0.4e-14;
    field.ExtractIsoSurface(0.0);
    bool sawMidpoint = false, sawInterpolated = false;
    for (const osg::Vec3f& v : field.surface.vertices) {
        sawMidpoint |= v == osg::Vec3f(1.5f, 1.0f, 1.0f);
        // Towards (0,1,1) the difference is large: mu = (0 − v1)/(−1 − v1).
        const double mu = (0.0 - 0.5e-14) / (-1.0 - 0.5e-14);
        sawInterpolated |= v == osg::Vec3f(static_cast<float>(1.0 + mu * (0.0 - 1.0)), 1.0f, 1.0f);
    }
    EXPECT_TRUE(sawMidpoint);
    EXPECT_TRUE(sawInterpolated);
}

TEST(IsoSurfaceExtraction, AnswersIgnoreValuesWrittenAfterTheExtraction)
{
    ScalarField3D field = UnitGrid(8);
    for (int iz = 0; iz < 8; ++iz)
        for (int iy = 0; iy < 8; ++iy)
            for (int ix = 0; ix < 8; ++ix)
                field.values[field.NodeIndex(ix, iy, iz)] = 2.2 - std::fabs(ix - 3.5) - 0.5 * std::fabs(iy - 3.0);
    field.ExtractIsoSurface(0.0);
    std::mt19937 rng(3);
    std::vector<osg::Vec3f> points;
    std::vector<bool> answers;
    for (int q = 0; q < 5000; ++q) {
        points.push_back(RandomPoint(rng, field));
        answers.push_back(field.IsInsideSurface(points.back()));
    }
    for (double& v : field.values)
        v = -v;
    for (size_t q = 0; q < points.size(); ++q)
        ASSERT_EQ(answers[q], field.IsInsideSurface(points[q]));
    EXPECT_THROW(CellRecord(field, 9, 0, 0), std::out_of_range);
    EXPECT_THROW(CellRecord(field, 0, -1, 0), std::out_of_range);
}
