#include "geometry/MarchingCubesGeometry.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"
#include "geometry/CylinderGeometry.h"
#include "tests/support/DatasetFixture.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/LassoShapes.h"
#include "tests/support/SceneFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

namespace {

const std::vector<osg::Vec2f> kWholeViewport = {osg::Vec2f(-10, -10), osg::Vec2f(900, -10), osg::Vec2f(900, 700),
                                                osg::Vec2f(-10, 700)};

// Zero on the half x < 0, rising from 1 to 2 along y on the other half.
void FillHalfRamp(ScalarField3D& density)
{
    for (int iz = 0; iz < density.zCount; ++iz)
        for (int iy = 0; iy < density.yCount; ++iy)
            for (int ix = 0; ix < density.xCount; ++ix)
                density.values[static_cast<size_t>(density.NodeIndex(ix, iy, iz))] =
                    ix >= density.xCount / 2 ? 1.0 + static_cast<double>(iy) / (density.yCount - 1) : 0.0;
}

// The half ramp on the hand grid, seen by a scene whose lasso images are
// painted by hand.
struct HalfRampScene {
    HalfRampScene() : grid(nullptr), scene(grid.particles.get()) { FillHalfRamp(*grid.density); }
    // The volume of a lasso (window points) whose image has just been painted.
    MarchingCubesGeometry Volume(const std::vector<osg::Vec2f>& lasso)
    {
        scene.PaintLassoImage(lasso);
        return MarchingCubesGeometry(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf());
    }
    HandDensityGrid grid;
    SceneFixture scene;
};

osg::ref_ptr<osg::Vec3Array> UniformParticles(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    osg::ref_ptr<osg::Vec3Array> particles = new osg::Vec3Array;
    for (int i = 0; i < n; ++i) particles->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
    return particles;
}

// A kind that narrows Contains: the mask must follow it.
struct RightHalfVolume : MarchingCubesGeometry {
    using MarchingCubesGeometry::MarchingCubesGeometry;
    bool Contains(const osg::Vec3f& p) const override { return p.x() > 0.0f && MarchingCubesGeometry::Contains(p); }
};

}  // namespace

TEST(MarchingCubesGeometryTest, MeanDensityUnderTheLassoWithWholeGridFallback)
{
    HalfRampScene ramp;
    const HandDensityGrid& grid = ramp.grid;
    MarchingCubesGeometry volume = ramp.Volume(Circle(420, 300, 80, 100));

    EXPECT_EQ(volume.xCount, 64);
    EXPECT_EQ(volume.yCount, 64);
    EXPECT_EQ(volume.zCount, 64);
    EXPECT_EQ(volume.densityField, grid.density.get());
    // Mean over the nodes with a positive screen distance, x outermost.
    double sum = 0.0;
    int count = 0;
    for (int ix = 0; ix < 64; ++ix)
        for (int iy = 0; iy < 64; ++iy)
            for (int iz = 0; iz < 64; ++iz) {
                const size_t i = static_cast<size_t>(grid.density->NodeIndex(ix, iy, iz));
                if (volume.lassoField->values[i] > 0.0) {
                    ++count;
                    sum += grid.density->values[i];
                }
            }
    ASSERT_GT(count, 1000);
    EXPECT_EQ(volume.meanDensity, sum / count);
    // The lasso leans to the dense half, so its mean differs from the grid's.
    EXPECT_GT(volume.meanDensity, grid.density->Mean() * 1.1);

    // A lasso beside the data: no node under it, ρ̄ is the whole grid's mean.
    const std::vector<osg::Vec2f> beside = Circle(60, 60, 20, 40);
    MarchingCubesGeometry away = ramp.Volume(beside);
    double all = 0.0;
    for (double v : grid.density->values) all += v;
    EXPECT_EQ(away.meanDensity, all / (64.0 * 64.0 * 64.0));
    for (double s : away.lassoField->values) ASSERT_LT(s, 0.0);
    away.UpdateThreshold(0.0);
    EXPECT_TRUE(away.GetSurface().triangles.empty());

    // An empty lasso gives s = 0 everywhere.
    MarchingCubesGeometry empty(grid.particles.get(), ramp.scene.viewer.get(), {}, osg::Matrixf());
    for (double s : empty.lassoField->values) ASSERT_EQ(s, 0.0);
}

TEST(MarchingCubesGeometryTest, ThresholdFactorOnlyEverRemovesNodes)
{
    HalfRampScene ramp;
    const HandDensityGrid& grid = ramp.grid;
    MarchingCubesGeometry volume = ramp.Volume(Circle(400, 300, 90, 120));
    const std::vector<double>& s = volume.lassoField->values;
    const std::vector<double>& rho = grid.density->values;

    // f = 0: inside exactly where the node is under the lasso with positive density.
    volume.UpdateThreshold(0.0);
    int mismatches = 0, insideAtZero = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const bool inside = volume.field->values[i] > 0.0;
        mismatches += inside != (s[i] > 0.0 && rho[i] > 0.0);
        insideAtZero += inside;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(insideAtZero, 1000);

    std::vector<double> previous = volume.field->values;
    int previousInside = insideAtZero;
    for (double f : {0.25, 0.7, 1.0, 1.2, 3.0}) {
        volume.UpdateThreshold(f);
        int raised = 0, inside = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            raised += volume.field->values[i] > previous[i];
            inside += volume.field->values[i] > 0.0;
        }
        EXPECT_EQ(raised, 0) << "factor " << f;
        EXPECT_LE(inside, previousInside) << "factor " << f;
        previous = volume.field->values;
        previousInside = inside;
    }
    // Density tops out at 2 while ρ̄ lies between 1 and 2: factor 3 keeps nothing.
    EXPECT_EQ(previousInside, 0);
    EXPECT_LT(volume.meanDensity * 1.2, 2.0);
}

TEST(MarchingCubesGeometryTest, UpdateThresholdIsRepeatableAndFillsSurfaceAndMask)
{
    osg::ref_ptr<osg::Vec3Array> particles = UniformParticles(20000, 3);
    HandDensityGrid grid(particles.get());
    FillHalfRamp(*grid.density);
    SceneFixture scene(particles.get());
    const std::vector<osg::Vec2f> lasso = Circle(400, 300, 90, 120);
    scene.PaintLassoImage(lasso);
    MarchingCubesGeometry volume(particles.get(), scene.viewer.get(), lasso, osg::Matrixf());

    // Construction prepares; the first UpdateThreshold computes.
    EXPECT_TRUE(volume.GetSurface().triangles.empty());
    EXPECT_EQ(std::count(volume.mask.begin(), volume.mask.end(), true), 0);

    volume.UpdateThreshold(1.0);
    const std::vector<double> values = volume.field->values;
    const std::vector<osg::Vec3f> vertices = volume.GetSurface().vertices;
    const size_t triangles = volume.GetSurface().triangles.size();
    const std::vector<bool> mask = volume.mask;
    EXPECT_GT(triangles, 0u);
    EXPECT_EQ(&volume.GetSurface(), &volume.surface);
    EXPECT_EQ(volume.surface.vertices, volume.field->surface.vertices);
    const long selected = std::count(mask.begin(), mask.end(), true);
    EXPECT_GT(selected, 100);
    EXPECT_LT(selected, 10000);
    for (size_t i = 0; i < particles->size(); ++i) ASSERT_EQ(mask[i], volume.Contains((*particles)[i])) << i;

    volume.UpdateThreshold(0.3);
    EXPECT_GT(std::count(volume.mask.begin(), volume.mask.end(), true), selected);
    volume.UpdateThreshold(1.0);
    EXPECT_EQ(volume.field->values, values);
    EXPECT_EQ(volume.GetSurface().vertices, vertices);
    EXPECT_EQ(volume.GetSurface().triangles.size(), triangles);
    EXPECT_EQ(volume.mask, mask);

    // The mask is Contains per particle, also where a derived kind changes it.
    RightHalfVolume right(particles.get(), scene.viewer.get(), lasso, osg::Matrixf());
    right.UpdateThreshold(1.0);
    int mismatches = 0;
    for (size_t i = 0; i < particles->size(); ++i)
        mismatches += right.mask[i] != (mask[i] && (*particles)[i].x() > 0.0f);
    EXPECT_EQ(mismatches, 0);
}

TEST(MarchingCubesGeometryTest, ViewportEdgesAreOutsideUnlikeTheCylinder)
{
    HandDensityGrid grid(nullptr);
    grid.density->values.assign(grid.density->values.size(), 1.0);
    SceneFixture scene(grid.particles.get());
    scene.Ortho(-1, 1, -1, 1, 1, 100);
    scene.PaintLassoImage(kWholeViewport);
    const std::vector<osg::Vec2f> lasso = {osg::Vec2f(400, 300)};
    MarchingCubesGeometry volume(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf());
    CylinderGeometry cylinder(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf());
    const ScalarField3D& f = *grid.density;
    for (int iz : {0, 31, 63})
        for (int i = 1; i < 63; ++i) {
            // Left edge (ix = 0) and bottom edge (iy = 0).
            for (int idx : {f.NodeIndex(0, i, iz), f.NodeIndex(i, 0, iz)}) {
                EXPECT_LT(volume.lassoField->values[static_cast<size_t>(idx)], 0.0);
                EXPECT_GT(cylinder.field->values[static_cast<size_t>(idx)], 0.0);
            }
            EXPECT_GT(volume.lassoField->values[static_cast<size_t>(f.NodeIndex(i, i, iz))], 0.0);
            // Right and top edge: outside for both.
            for (int idx : {f.NodeIndex(63, i, iz), f.NodeIndex(i, 63, iz)}) {
                EXPECT_LT(volume.lassoField->values[static_cast<size_t>(idx)], 0.0);
                EXPECT_LT(cylinder.field->values[static_cast<size_t>(idx)], 0.0);
            }
        }
    // Away from the edges both volumes share the signed distance.
    const size_t centre = static_cast<size_t>(f.NodeIndex(20, 40, 10));
    EXPECT_EQ(volume.lassoField->values[centre], cylinder.field->values[centre]);
}

TEST(MarchingCubesGeometryTest, SelectsTheDenseBlobNotTheNoiseAroundIt)
{
    std::vector<int> labels;
    osg::ref_ptr<osg::Vec3Array> cloud = DatasetFixture::BlobInNoise(4000, 4000, 5, &labels);
    DatasetFixture data(cloud.get(), labels);
    SceneFixture scene(cloud.get());
    scene.LookAt(osg::Vec3d(0, 0, 25), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0), 30.0, 1.0, 100.0);
    // About 3.4 data units around the blob's axis.
    const std::vector<osg::Vec2f> lasso = Circle(400, 300, 150, 200);
    scene.PaintLassoImage(lasso);
    MarchingCubesGeometry volume(cloud.get(), scene.viewer.get(), lasso, osg::Matrixf());
    volume.UpdateThreshold(1.0);

    int coreSelected = 0, core = 0, farSelected = 0, far = 0;
    for (size_t i = 0; i < cloud->size(); ++i) {
        const osg::Vec3f& p = (*cloud)[i];
        if (labels[i] == 1 && p.length() < 0.6f) {
            ++core;
            coreSelected += volume.mask[i];
        }
        if (labels[i] == 0 && p.length() > 2.5f) {
            ++far;
            farSelected += volume.mask[i];
        }
    }
    ASSERT_GT(core, 500);
    ASSERT_GT(far, 1000);
    EXPECT_GT(coreSelected, core * 95 / 100);
    EXPECT_LT(farSelected, far / 50);
}

TEST(MarchingCubesGeometryTest, KeepsItsDensityFieldPastTheCacheAndRefusesMissingOnes)
{
    HandDensityGrid grid(UniformParticles(2000, 9).get());
    FillHalfRamp(*grid.density);
    SceneFixture scene(grid.particles.get());
    const std::vector<osg::Vec2f> lasso = Circle(400, 300, 90, 120);
    scene.PaintLassoImage(lasso);
    MarchingCubesGeometry volume(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf());
    volume.UpdateThreshold(0.8);
    const std::vector<double> values = volume.field->values;
    const std::vector<bool> mask = volume.mask;

    // The cache goes first; the volume still reads its own hold of the field.
    grid.density.reset();
    PreComputedDensity::Destroy();
    volume.UpdateThreshold(0.8);
    EXPECT_EQ(volume.field->values, values);
    EXPECT_EQ(volume.mask, mask);

    // No field for the current dataset now.
    EXPECT_THROW(MarchingCubesGeometry(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf()),
                 std::out_of_range);
    FerrowManager::Instance()->SetCurrentDatasetNr(-1);
    EXPECT_THROW(MarchingCubesGeometry(grid.particles.get(), scene.viewer.get(), lasso, osg::Matrixf()),
                 std::out_of_range);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
}
