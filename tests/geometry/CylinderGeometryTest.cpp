#include "geometry/CylinderGeometry.h"

#include "framework/study/FerrowManager.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/LassoShapes.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

const std::vector<osg::Vec2f> kWholeViewport = {osg::Vec2f(-10, -10), osg::Vec2f(900, -10), osg::Vec2f(900, 700),
                                                osg::Vec2f(-10, 700)};

}  // namespace

TEST(CylinderGeometryTest, EmptyLassoGivesZeroEverywhere)
{
    HandDensityGrid grid(nullptr, 16);
    SceneFixture scene(grid.particles.get());
    scene.PaintLassoImage(kWholeViewport);
    CylinderGeometry cylinder(grid.particles.get(), scene.viewer.get(), {}, osg::Matrixf());
    ASSERT_EQ(cylinder.field->values.size(), 16u * 16u * 16u);
    for (double v : cylinder.field->values) EXPECT_EQ(v, 0.0);
}

TEST(CylinderGeometryTest, SignFollowsImageDepthRangeAndViewportEdges)
{
    HandDensityGrid grid(nullptr);
    SceneFixture scene(grid.particles.get());
    // Grid [-1, 1]³ fills the viewport exactly; the depth range keeps the
    // slab |z| < 0.5 of it.
    scene.LookAt(osg::Vec3d(0, 0, 10), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
    scene.Ortho(-1, 1, -1, 1, 9.5, 10.5);
    scene.PaintLassoImage(kWholeViewport);
    CylinderGeometry cylinder(grid.particles.get(), scene.viewer.get(), {osg::Vec2f(400, 300)}, osg::Matrixf());
    const ScalarField3D& f = *cylinder.field;

    const LassoProjection& p = cylinder.projection;
    ASSERT_EQ(p.WindowPosition(p.EyePosition(LassoProjection::NodePosition(f, 0, 0, 32))).x(), 0.0);
    ASSERT_EQ(p.WindowPosition(p.EyePosition(LassoProjection::NodePosition(f, 0, 0, 32))).y(), 0.0);
    ASSERT_GE(p.WindowPosition(p.EyePosition(LassoProjection::NodePosition(f, 63, 63, 32))).x(), 800.0);
    ASSERT_GE(p.WindowPosition(p.EyePosition(LassoProjection::NodePosition(f, 63, 63, 32))).y(), 600.0);

    int wrong = 0;
    for (int iz = 0; iz < 64; ++iz)
        for (int iy = 0; iy < 64; ++iy)
            for (int ix = 0; ix < 64; ++ix) {
                const double z = LassoProjection::NodePosition(f, ix, iy, iz).z();
                // Left and bottom edge (index 0) inside, right and top outside.
                const bool inside = std::fabs(z) < 0.5 && ix < 63 && iy < 63;
                const double v = f.values[static_cast<size_t>(f.NodeIndex(ix, iy, iz))];
                wrong += inside ? !(v > 0.0) : !(v < 0.0);
            }
    EXPECT_EQ(wrong, 0);
}

TEST(CylinderGeometryTest, MagnitudeIsTheDistanceToTheNearestLassoPoint)
{
    // 65 nodes put a node on the origin, which projects to the viewport centre.
    HandDensityGrid grid(nullptr, 65);
    SceneFixture scene(grid.particles.get());
    // Four corner points only: deep inside, the nearest point is a corner,
    // farther than the nearest edge of the square.
    const std::vector<osg::Vec2f> square = {osg::Vec2f(300, 200), osg::Vec2f(500, 200), osg::Vec2f(500, 400),
                                            osg::Vec2f(300, 400)};
    scene.PaintLassoImage(square);
    CylinderGeometry cylinder(grid.particles.get(), scene.viewer.get(), square, osg::Matrixf());
    const ScalarField3D& f = *cylinder.field;

    EXPECT_NEAR(f.values[static_cast<size_t>(f.NodeIndex(32, 32, 32))], std::sqrt(2.0) * 100.0, 1e-6);
    double worst = 0.0;
    for (int iz = 0; iz < 65; iz += 4)
        for (int iy = 0; iy < 65; ++iy)
            for (int ix = 0; ix < 65; ++ix) {
                const osg::Vec3d win = scene.Project(osg::Vec3d(LassoProjection::NodePosition(f, ix, iy, iz)));
                double nearest = 1e300;
                for (const osg::Vec2f& q : square)
                    nearest = std::min(nearest, std::hypot(win.x() - q.x(), win.y() - q.y()));
                worst = std::max(worst, std::fabs(std::fabs(f.values[static_cast<size_t>(f.NodeIndex(ix, iy, iz))]) - nearest));
            }
    EXPECT_LT(worst, 1e-6);
}

TEST(CylinderGeometryTest, SelectsParticlesUnderTheLassoInsideTheGrid)
{
    osg::ref_ptr<osg::Vec3Array> particles = new osg::Vec3Array;
    const osg::Vec3f inside[] = {osg::Vec3f(0, 0, -0.8f), osg::Vec3f(0, 0, 0), osg::Vec3f(0, 0, 0.8f),
                                 osg::Vec3f(0.1f, 0.05f, 0)};
    // Beside the lasso, and under it but beyond the grid.
    const osg::Vec3f outside[] = {osg::Vec3f(0.8f, 0, 0), osg::Vec3f(0, -0.8f, 0.3f), osg::Vec3f(0, 0, 1.5f)};
    for (const osg::Vec3f& p : inside) particles->push_back(p);
    for (const osg::Vec3f& p : outside) particles->push_back(p);

    for (bool ortho : {false, true}) {
        HandDensityGrid grid(particles.get());
        SceneFixture scene(particles.get());
        if (ortho) scene.Ortho(-1.5, 1.5, -1.125, 1.125, 1.0, 100.0);
        const std::vector<osg::Vec2f> lasso = Circle(400, 300, 60, 64);
        scene.PaintLassoImage(lasso);
        CylinderGeometry cylinder(particles.get(), scene.viewer.get(), lasso, osg::Matrixf());

        ASSERT_EQ(cylinder.mask.size(), particles->size());
        for (size_t i = 0; i < particles->size(); ++i) {
            EXPECT_EQ(cylinder.mask[i], i < 4) << (ortho ? "orthographic" : "perspective") << ", particle " << i;
            EXPECT_EQ(cylinder.Contains((*particles)[i]), i < 4);
        }
        // The surface is the copy taken right after extraction.
        EXPECT_FALSE(cylinder.GetSurface().triangles.empty());
        EXPECT_EQ(&cylinder.GetSurface(), &cylinder.surface);
        EXPECT_EQ(cylinder.surface.vertices, cylinder.field->surface.vertices);
        EXPECT_EQ(cylinder.surface.triangles.size(), cylinder.field->surface.triangles.size());
        // Later camera motion does not move the volume.
        scene.LookAt(osg::Vec3d(10, 0, 0), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
        EXPECT_GT(cylinder.ScreenSignedDistance(cylinder.projection.EyePosition(osg::Vec3f(0, 0, 0))), 0.0);
    }
}

TEST(CylinderGeometryTest, RefusesADatasetWithoutDensityField)
{
    HandDensityGrid grid(nullptr, 8);
    SceneFixture scene(grid.particles.get());
    scene.PaintLassoImage(kWholeViewport);
    FerrowManager::Instance()->SetCurrentDatasetNr(3);
    EXPECT_THROW(CylinderGeometry(grid.particles.get(), scene.viewer.get(), {osg::Vec2f(1, 1)}, osg::Matrixf()),
                 std::out_of_range);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
    scene.viewer->getCamera()->setViewport(nullptr);
    EXPECT_THROW(CylinderGeometry(grid.particles.get(), scene.viewer.get(), {osg::Vec2f(1, 1)}, osg::Matrixf()),
                 std::runtime_error);
}
