// The range form of the point test against the point-by-point answers.
#include "density/EngineSwitches.h"
#include "density/SharedCpuFeatures.h"
#include "geometry/SurfaceMembership.h"
#include "tests/support/CellRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

ScalarField3D TwoBlobs()
{
    ScalarField3D field(-1.0, 1.0, 20, -1.0, 1.0, 20, -1.0, 1.0, 20);
    for (int iz = 0; iz < 20; ++iz)
        for (int iy = 0; iy < 20; ++iy)
            for (int ix = 0; ix < 20; ++ix) {
                const double x = field.xMin + ix * field.xStep, y = field.yMin + iy * field.yStep,
                             z = field.zMin + iz * field.zStep;
                field.values[field.NodeIndex(ix, iy, iz)] =
                    std::max(0.5 - std::hypot(x - 0.3, y, z), 0.4 - std::hypot(x + 0.4, y - 0.2, z + 0.1));
            }
    return field;
}

std::vector<osg::Vec3f> Points(size_t count)
{
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> u(-1.1f, 1.1f);
    std::vector<osg::Vec3f> points(count);
    for (osg::Vec3f& p : points)
        p.set(u(rng), u(rng), u(rng));
    points[5].set(1.0f, 0.0f, 0.0f);   // maximum face
    points[6].set(-1.0f, 0.0f, 0.0f);  // minimum face
    points[7].set(0.3f, 0.0f, 0.0f);   // inside
    return points;
}

}  // namespace

TEST(SurfaceMembership, RangesMatchPointByPointAndLeaveOtherFlagsAlone)
{
    ScalarField3D field = TwoBlobs();
    field.ExtractIsoSurface(0.0);
    const std::vector<osg::Vec3f> points = Points(5000);
    const SurfaceMembership membership(field);
    std::vector<bool> expected(points.size());
    size_t inside = 0;
    for (size_t q = 0; q < points.size(); ++q) {
        expected[q] = field.IsWithinBounds(points[q]) && field.IsInsideSurface(points[q]);
        ASSERT_EQ(membership.IsInside(points[q]), field.IsInsideSurface(points[q]));
        inside += expected[q];
    }
    EXPECT_GT(inside, 200u);
    EXPECT_TRUE(expected[7]);
    EXPECT_FALSE(expected[5]);

    // The cells found by a test, in two ranges, serve later tests as well.
    ParticleCells cells = membership.NewParticleCells(points.size());
    std::vector<bool> finding(points.size());
    membership.ContainsRange(points.data(), 0, 1234, finding, cells);
    membership.ContainsRange(points.data(), 1234, points.size(), finding, cells);
    EXPECT_EQ(finding, expected);
    EXPECT_TRUE(membership.OnGridOf(cells));
    EXPECT_FALSE(SurfaceMembership(ScalarField3D(-1.0, 1.0, 20, -1.0, 1.0, 20, -1.0, 1.5, 20)).OnGridOf(cells));
    EXPECT_FALSE(SurfaceMembership(ScalarField3D(-1.0, 1.0, 20, -1.0, 1.0, 21, -1.0, 1.0, 20)).OnGridOf(cells));
    EXPECT_EQ(cells.cell[5], ParticleCells::kNoCell);  // on the maximum face: in no cell that can hold a point

    // Aligned and unaligned ranges, over masks prefilled both ways.
    const size_t ranges[][2] = {{0, 5000}, {0, 64}, {64, 4096}, {3, 61}, {3, 4999}, {130, 131}, {200, 200}};
    for (const auto& range : ranges)
        for (bool fill : {false, true}) {
            std::vector<bool> mask(points.size(), fill);
            membership.ContainsRange(points.data(), range[0], range[1], mask);
            std::vector<bool> fromCells(points.size(), fill);
            membership.ContainsRange(points.data(), cells, range[0], range[1], fromCells);
            for (size_t q = 0; q < points.size(); ++q) {
                const bool inRange = q >= range[0] && q < range[1];
                ASSERT_EQ(mask[q], inRange ? expected[q] : fill) << range[0] << "-" << range[1] << " at " << q;
                ASSERT_EQ(fromCells[q], mask[q]) << range[0] << "-" << range[1] << " at " << q;
            }
        }
}

TEST(SurfaceMembership, NothingIsInsideBeforeTheFirstExtraction)
{
    ScalarField3D field = TwoBlobs();
    const std::vector<osg::Vec3f> points = Points(300);
    const SurfaceMembership membership(field);
    std::vector<bool> mask(points.size(), true);
    membership.ContainsRange(points.data(), 0, points.size(), mask);
    for (size_t q = 0; q < points.size(); ++q) {
        EXPECT_FALSE(mask[q]);
        EXPECT_FALSE(membership.IsInside(points[q]));
    }
}

// The point test transcribed on its own: the cell found by division, then
// every corner below the level against every triangle of the cell, the
// segment test in single precision as written. It shares only the cell
// records and the mesh with the engine, not a line of its test.
bool CrossesLiterally(const osg::Vec3f& v0, const osg::Vec3f& v1, const osg::Vec3f& v2, const osg::Vec3f& p0,
                      const osg::Vec3f& p1)
{
    const osg::Vec3f u = v1 - v0, v = v2 - v0, n = u ^ v;
    if (n.x() == 0.0f && n.y() == 0.0f && n.z() == 0.0f) return false;
    const osg::Vec3f d = p1 - p0;
    const float b = n * d, a = -(n * (p0 - v0));
    if (std::fabs(b) < 1e-14) return false;
    const float r = a / b;
    if (r < 0.0f || r > 1.0f) return false;
    const osg::Vec3f i = p0 + d * r, w = i - v0;
    const float uu = u * u, uv = u * v, vv = v * v, wu = w * u, wv = w * v;
    const float den = uv * uv - uu * vv;
    const float s = (uv * wv - vv * wu) / den;
    if (s < 0.0f || s > 1.0f) return false;
    const float t = (uv * wu - uu * wv) / den;
    return !(t < 0.0f || s + t > 1.0f);
}

bool InsideLiterally(const ScalarField3D& field, const osg::Vec3f& p)
{
    const long i = static_cast<long>(std::trunc((p.x() - field.xMin) / field.xStep)) + 1;
    const long j = static_cast<long>(std::trunc((p.y() - field.yMin) / field.yStep)) + 1;
    const long k = static_cast<long>(std::trunc((p.z() - field.zMin) / field.zStep)) + 1;
    if (i < 0 || i > field.xCount - 1 || j < 0 || j > field.yCount - 1 || k < 0 || k > field.zCount - 1) return false;
    const CubeCell cell = CellRecord(field, static_cast<int>(i), static_cast<int>(j), static_cast<int>(k));
    if (cell.cubeIndex == 0) return true;
    if (cell.cubeIndex == 255) return false;
    const SurfaceMesh& mesh = field.surface;
    for (int c = 0; c < 8; ++c) {
        if (!(cell.cubeIndex & (1 << c))) continue;
        for (int t = 0; t < cell.triangleCount; ++t) {
            const TriangleIndices& tri = mesh.triangles[static_cast<size_t>(cell.firstTriangle + t)];
            if (CrossesLiterally(mesh.vertices[tri.v0], mesh.vertices[tri.v1], mesh.vertices[tri.v2], p,
                                 cell.cornerPositions[c]))
                return true;
        }
    }
    return false;
}

std::vector<bool> LiteralAnswers(const ScalarField3D& field, const std::vector<osg::Vec3f>& points)
{
    std::vector<bool> expected(points.size());
    for (size_t q = 0; q < points.size(); ++q)
        expected[q] = field.IsWithinBounds(points[q]) && InsideLiterally(field, points[q]);
    return expected;
}

// The range forms, whose whole words are classified eight points at a time
// and whose cut cells are tested eight corners at a time, against the
// literal test on fields where most cells are cut and many values equal the
// level, on grids of several shapes (cell numbers are split without
// division); both ways of testing cut cells.
TEST(SurfaceMembership, RangesGiveTheLiteralAnswersOnMostlyCutCells)
{
    const int shapes[][3] = {{23, 17, 29}, {64, 3, 5}, {2, 41, 7}};
    std::mt19937 rng(21);
    for (const auto& shape : shapes) {
        ScalarField3D field(-1.0, 1.5, shape[0], -0.5, 1.0, shape[1], -2.0, 0.0, shape[2]);
        std::uniform_int_distribution<int> level(-2, 2);
        for (double& v : field.values)
            v = level(rng) / 2.0;
        field.ExtractIsoSurface(0.0);
        std::uniform_real_distribution<float> x(-1.1f, 1.6f), y(-0.6f, 1.1f), z(-2.1f, 0.1f);
        std::vector<osg::Vec3f> points(40000);
        for (size_t q = 0; q < points.size(); ++q) {
            points[q].set(x(rng), y(rng), z(rng));
            if (q % 7 == 0)  // on node planes
                points[q].x() = static_cast<float>(field.xMin + field.xStep * static_cast<int>(q % shape[0]));
        }
        // On the surface, where the segments' parameters land on the bounds
        // that rounding decides: vertices, edge midpoints, centroids.
        const std::vector<osg::Vec3f>& vertices = field.surface.vertices;
        for (size_t t = 0; t < field.surface.triangles.size() && t < 3000; ++t) {
            const osg::Vec3f& a = vertices[field.surface.triangles[t].v0];
            const osg::Vec3f& b = vertices[field.surface.triangles[t].v1];
            const osg::Vec3f& c = vertices[field.surface.triangles[t].v2];
            points[3 * t + 1] = t % 2 ? a : (a + b) * 0.5f;
            points[3 * t + 2] = (a + b + c) / 3.0f;
        }
        const std::vector<bool> expected = LiteralAnswers(field, points);
        const size_t inside = static_cast<size_t>(std::count(expected.begin(), expected.end(), true));
        EXPECT_GT(inside, points.size() / 10);
        EXPECT_LT(inside, points.size() * 4 / 5);
        const SurfaceMembership membership(field);
        ParticleCells cells = membership.NewParticleCells(points.size());
        std::vector<bool> finding(points.size());
        membership.ContainsRange(points.data(), 0, points.size(), finding, cells);
        ASSERT_EQ(finding, expected) << shape[0] << "x" << shape[1] << "x" << shape[2];
        for (size_t q = 0; q < points.size(); ++q) {  // the point test's own vector path
            if (field.IsWithinBounds(points[q])) {
                ASSERT_EQ(membership.IsInside(points[q]), expected[q]) << q;
            }
        }
        const size_t ranges[][2] = {{0, 40000}, {5, 39997}, {64, 6417}, {4096, 4160}};
        for (bool vectorTest : {true, false}) {
            EngineSwitches::Scoped<bool> vector(EngineSwitches::vectorPointTest, vectorTest);
            for (const auto& range : ranges) {
                std::vector<bool> mask(points.size(), true);
                membership.ContainsRange(points.data(), cells, range[0], range[1], mask);
                for (size_t q = range[0]; q < range[1]; ++q)
                    ASSERT_EQ(mask[q], expected[q])
                        << range[0] << "-" << range[1] << " at " << q << " vector " << vectorTest;
            }
        }

        // Cut cells tested cell by cell, a lane per point, once the points
        // are ordered by cell; classified in two ranges first, over a mask
        // prefilled the wrong way.
        EXPECT_FALSE(membership.TestsCutCellsTogether(cells));
        membership.OrderByCell(cells);
        const size_t cellCount = static_cast<size_t>(shape[0] + 1) * (shape[1] + 1) * (shape[2] + 1);
        ASSERT_EQ(cells.cellStart.size(), cellCount + 1);
        const size_t inCells = points.size() - static_cast<size_t>(std::count(cells.cell.begin(), cells.cell.end(),
                                                                                 ParticleCells::kNoCell));
        ASSERT_EQ(cells.byCell.size(), inCells);
        for (size_t c = 0; c < cellCount; ++c)
            for (uint32_t n = cells.cellStart[c]; n < cells.cellStart[c + 1]; ++n) {
                ASSERT_EQ(cells.cell[cells.byCell[n]], c);
                ASSERT_TRUE(n == cells.cellStart[c] || cells.byCell[n - 1] < cells.byCell[n]);
            }
        if (SharedCpu::Avx2Allowed()) {
            ASSERT_TRUE(membership.TestsCutCellsTogether(cells));
            std::vector<bool> together(points.size(), true);
            membership.ClassifyRange(points.data(), cells, 0, 12800, together);
            membership.ClassifyRange(points.data(), cells, 12800, points.size(), together);
            membership.ContainsCutCells(points.data(), cells, together);
            for (size_t q = 0; q < points.size(); ++q)
                ASSERT_EQ(together[q], expected[q]) << "cell by cell at " << q;
        }
        EngineSwitches::Scoped<bool> scalar(EngineSwitches::vectorPointTest, false);
        EXPECT_FALSE(membership.TestsCutCellsTogether(cells));
    }
}
