// The structure lasso and the point click on hand-made density grids where
// the right structure is known: balls of density on the line of sight.
#include "geometry/PointGeometry.h"
#include "geometry/StructureGeometry.h"

#include "geometry/LassoProjection.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/LassoShapes.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct Ball {
    osg::Vec3f centre;
    float radius;
};

// Balls of density 1 − r²/R² on a 40³ grid over [-1, 1]³, seen from +z
// (front = larger z) by an orthographic camera, so equal balls look equal on
// screen; a particle sits at every ball's centre.
struct BallScene {
    explicit BallScene(const std::vector<Ball>& balls)
        : particles(new osg::Vec3Array), grid((addCentres(balls), particles.get()), 40), scene(particles.get())
    {
        scene.Ortho(-1.5, 1.5, -1.125, 1.125, 1.0, 100.0);
        ScalarField3D& d = *grid.density;
        for (int iz = 0; iz < 40; ++iz)
            for (int iy = 0; iy < 40; ++iy)
                for (int ix = 0; ix < 40; ++ix) {
                    const osg::Vec3f p = LassoProjection::NodePosition(d, ix, iy, iz);
                    double rho = 0.0;
                    for (const Ball& b : balls)
                        rho = std::max(rho, 1.0 - (p - b.centre).length2() / (b.radius * b.radius));
                    d.values[static_cast<size_t>(d.NodeIndex(ix, iy, iz))] = rho;
                }
    }
    osg::Vec3Array* addCentres(const std::vector<Ball>& balls)
    {
        for (const Ball& b : balls) particles->push_back(b.centre);
        return particles.get();
    }
    // A circular lasso (window pixels) around the outline of a ball, a few pixels out.
    std::vector<osg::Vec2f> LassoAround(const Ball& b, float pixelsOut = 4.0f)
    {
        const osg::Vec3d c = scene.Project(b.centre), edge = scene.Project(b.centre + osg::Vec3f(b.radius, 0, 0));
        const std::vector<osg::Vec2f> lasso = Circle(static_cast<float>(c.x()), static_cast<float>(c.y()),
                                                     static_cast<float>(edge.x() - c.x()) + pixelsOut, 120);
        scene.PaintLassoImage(lasso);
        return lasso;
    }
    // Whether every node with a positive value lies within ball b (and some do).
    static bool PositiveOnlyIn(const ScalarField3D& f, const Ball& b)
    {
        int positive = 0;
        for (int iz = 0; iz < f.zCount; ++iz)
            for (int iy = 0; iy < f.yCount; ++iy)
                for (int ix = 0; ix < f.xCount; ++ix) {
                    if (!(f.values[static_cast<size_t>(f.NodeIndex(ix, iy, iz))] > 0.0)) continue;
                    ++positive;
                    if ((LassoProjection::NodePosition(f, ix, iy, iz) - b.centre).length() > b.radius) return false;
                }
        return positive > 0;
    }
    osg::ref_ptr<osg::Vec3Array> particles;
    HandDensityGrid grid;
    SceneFixture scene;
};

const Ball kFront{osg::Vec3f(0, 0, 0.5f), 0.3f};
const Ball kBack{osg::Vec3f(0, 0, -0.5f), 0.3f};

}  // namespace

TEST(StructureGeometryTest, KeepsTheBallWhoseOutlineMatchesTheLassoOfTwoOnOneRay)
{
    // A small ball in front of a large one, centred on one ray.
    const Ball small{osg::Vec3f(0, 0, 0.5f), 0.15f}, large{osg::Vec3f(0, 0, -0.45f), 0.4f};
    BallScene s({small, large});
    for (const Ball& target : {small, large}) {
        const std::vector<osg::Vec2f> lasso = s.LassoAround(target);
        StructureGeometry structure(s.particles.get(), s.scene.viewer.get(), lasso, osg::Matrixf());
        structure.UpdateThreshold(1.0);
        EXPECT_TRUE(BallScene::PositiveOnlyIn(*structure.field, target)) << "radius " << target.radius;
        // The other ball under the lasso no longer raises the kept ball's level.
        EXPECT_LT(structure.keptLevel, structure.meanDensity) << "radius " << target.radius;
        EXPECT_EQ(structure.mask[0], target.radius == small.radius);
        EXPECT_EQ(structure.mask[1], target.radius == large.radius);
        // The density-aware lasso keeps both.
        MarchingCubesGeometry density(s.particles.get(), s.scene.viewer.get(), lasso, osg::Matrixf());
        density.UpdateThreshold(1.0);
        EXPECT_TRUE(density.mask[0] && density.mask[1]);
    }
}

TEST(StructureGeometryTest, EqualOutlinesGoToTheBallNearestTheViewerAtEveryThreshold)
{
    BallScene s({kBack, kFront});  // the back ball's nodes come first in the grid
    const std::vector<osg::Vec2f> lasso = s.LassoAround(kFront);
    StructureGeometry structure(s.particles.get(), s.scene.viewer.get(), lasso, osg::Matrixf());
    for (double factor : {1.0, 3.0, 0.5}) {
        structure.UpdateThreshold(factor);
        ASSERT_GE(structure.candidates.size(), 2u);
        EXPECT_NEAR(structure.candidates[0].score, structure.candidates[1].score, 1e-9);
        EXPECT_TRUE(BallScene::PositiveOnlyIn(*structure.field, kFront)) << factor;
        EXPECT_FALSE(structure.mask[0]);
        EXPECT_TRUE(structure.mask[1]);
    }
}

TEST(StructureGeometryTest, OneStructureUnderTheLassoIsTheDensityAwareVolumeBitForBit)
{
    // The lasso splits the ball: its right half stays outside.
    BallScene s({kFront});
    const osg::Vec3d c = s.scene.Project(kFront.centre);
    const std::vector<osg::Vec2f> lasso = {osg::Vec2f(100, 100), osg::Vec2f(static_cast<float>(c.x()), 100),
                                           osg::Vec2f(static_cast<float>(c.x()), 500), osg::Vec2f(100, 500)};
    s.scene.PaintLassoImage(lasso);
    StructureGeometry structure(s.particles.get(), s.scene.viewer.get(), lasso, osg::Matrixf());
    MarchingCubesGeometry density(s.particles.get(), s.scene.viewer.get(), lasso, osg::Matrixf());
    for (double factor : {1.0, 2.5}) {
        structure.UpdateThreshold(factor);
        density.UpdateThreshold(factor);
        EXPECT_EQ(structure.field->values, density.field->values);
        EXPECT_EQ(structure.surface.vertices, density.surface.vertices);
        EXPECT_EQ(structure.mask, density.mask);
    }
}

TEST(PointGeometryTest, TakesTheNearestBallOnTheRayAtAHalfPeakLevel)
{
    BallScene s({kBack, kFront});
    const osg::Vec3d c = s.scene.Project(kFront.centre);
    PointGeometry point(s.particles.get(), s.scene.viewer.get(), osg::Vec2f(static_cast<float>(c.x()), static_cast<float>(c.y())),
                        osg::Matrixf());
    ASSERT_GE(point.seed, 0);
    EXPECT_GT(point.peakDensity, 0.5);
    point.UpdateThreshold(1.0);
    EXPECT_TRUE(BallScene::PositiveOnlyIn(*point.field, kFront));
    EXPECT_FALSE(point.mask[0]);
    EXPECT_TRUE(point.mask[1]);
    // A higher level keeps a smaller ball.
    int inside = 0, shell = 0;
    const ScalarField3D& f = *point.field;
    for (int i = 0; i < f.nodeCount; ++i) inside += f.values[static_cast<size_t>(i)] > 0.0;
    point.UpdateThreshold(2.0);
    // A threshold swaps in a new field: f is the old one's.
    for (int i = 0; i < point.field->nodeCount; ++i) shell += point.field->values[static_cast<size_t>(i)] > 0.0;
    EXPECT_GT(inside, 2 * shell);
    EXPECT_GT(shell, 0);

    // Beside both balls the ray meets nothing dense: nothing is selected.
    PointGeometry miss(s.particles.get(), s.scene.viewer.get(), osg::Vec2f(20, 20), osg::Matrixf());
    miss.UpdateThreshold(1.0);
    EXPECT_EQ(miss.seed, -1);
    EXPECT_TRUE(miss.surface.vertices.empty());
    EXPECT_FALSE(miss.mask[0] || miss.mask[1]);
}
