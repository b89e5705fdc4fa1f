// The base part every selection volume shares: positions and mask, the grid
// lookup, Contains, the per-particle mask and the volume fraction.
#include "geometry/SelectionGeometry.h"
#include "density/PreComputedDensity.h"
#include "tests/support/FunctionVolume.h"
#include "tests/support/GridFixture.h"

#include <gtest/gtest.h>

#include <osg/ref_ptr>

#include <cmath>
#include <random>
#include <stdexcept>

namespace {

double Ball(double x, double y, double z) { return 2.5 - std::sqrt((x - 4) * (x - 4) + (y - 5) * (y - 5) + (z - 3.5) * (z - 3.5)); }

osg::ref_ptr<osg::Vec3Array> RandomCloud(size_t count, float lo, float hi, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(lo, hi);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    for (size_t i = 0; i < count; ++i)
        cloud->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
    return cloud;
}

}  // namespace

TEST(SelectionGeometry, HoldsPositionsForItsLifetimeAndSizesTheMask)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = RandomCloud(37, 0, 9, 1);
    const int before = cloud->referenceCount();
    {
        FunctionVolume volume(cloud.get(), Ball);
        EXPECT_EQ(cloud->referenceCount(), before + 1);
        EXPECT_EQ(volume.positions, cloud.get());
        EXPECT_EQ(volume.mask.size(), 37u);
        EXPECT_EQ(&volume.GetSurface(), &volume.field->surface);
        volume.UpdateThreshold(3.0);  // does nothing for this kind
        EXPECT_EQ(volume.mask.size(), 37u);
    }
    EXPECT_EQ(cloud->referenceCount(), before);
}

TEST(SelectionGeometry, FieldCopiesTheCurrentGridOrThrowsWhenThereIsNone)
{
    PreComputedDensity::Destroy();
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    EXPECT_THROW(FunctionVolume(cloud.get(), Ball), std::out_of_range);

    GridFixture grid(-1.0, 2.0, 7, 0.5, 4.5, 9, -3.0, 3.0, 13);
    FunctionVolume volume(cloud.get(), [](double, double, double) { return -1.0; });
    const ScalarField3D& f = *volume.field;
    EXPECT_NE(volume.field.get(), static_cast<ScalarField3D*>(grid.density.get()));
    EXPECT_EQ(f.xMin, -1.0);
    EXPECT_EQ(f.xMax, 2.0);
    EXPECT_EQ(f.xCount, 7);
    EXPECT_EQ(f.yMin, 0.5);
    EXPECT_EQ(f.yMax, 4.5);
    EXPECT_EQ(f.yCount, 9);
    EXPECT_EQ(f.zMin, -3.0);
    EXPECT_EQ(f.zMax, 3.0);
    EXPECT_EQ(f.zCount, 13);
    EXPECT_EQ(f.xStep, grid.density->xStep);
    EXPECT_TRUE(volume.mask.empty());
}

TEST(SelectionGeometry, MaskAndContainsFollowTheSurface)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = RandomCloud(3000, -1, 10, 2);
    cloud->push_back(osg::Vec3f(4, 5, 3.5f));       // centre
    cloud->push_back(osg::Vec3f(-0.5f, 5, 3.5f));   // outside the box on x
    cloud->push_back(osg::Vec3f(4, 5, 9.01f));      // a hair beyond the maximum z face
    FunctionVolume volume(cloud.get(), Ball);
    int inside = 0;
    for (size_t i = 0; i < cloud->size(); ++i) {
        const osg::Vec3f& p = (*cloud)[i];
        ASSERT_EQ(volume.mask[i], volume.Contains(p)) << i;
        const double value = Ball(p.x(), p.y(), p.z());
        if (std::fabs(value) > 1.0) {
            EXPECT_EQ(volume.mask[i], value > 0) << p.x() << " " << p.y() << " " << p.z();
        }
        inside += volume.mask[i];
    }
    EXPECT_GT(inside, 50);
    EXPECT_TRUE(volume.mask[3000]);
    EXPECT_FALSE(volume.mask[3001]);
    EXPECT_FALSE(volume.mask[3002]);
}

TEST(SelectionGeometry, FaceNodesAndFarParticlesAgainstAFullVolume)
{
    // Every node positive: inside everywhere except in the cells beyond the
    // maximum faces, which the point test maps to the outside.
    GridFixture grid(0, 4, 5);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    cloud->push_back(osg::Vec3f(0, 0, 0));      // minimum corner
    cloud->push_back(osg::Vec3f(0, 2.5f, 1));   // minimum face
    cloud->push_back(osg::Vec3f(4, 2, 2));      // maximum face
    cloud->push_back(osg::Vec3f(2, 2, 4));      // maximum face
    cloud->push_back(osg::Vec3f(-0.2f, 2, 2));  // just outside the box
    cloud->push_back(osg::Vec3f(1e30f, 2, 2));  // far away
    FunctionVolume volume(cloud.get(), [](double, double, double) { return 1.0; });
    EXPECT_TRUE(volume.mask[0]);
    EXPECT_TRUE(volume.mask[1]);
    EXPECT_FALSE(volume.mask[2]);
    EXPECT_FALSE(volume.mask[3]);
    EXPECT_FALSE(volume.mask[4]);
    EXPECT_FALSE(volume.mask[5]);
    // Nodes on a maximum face are outside: (n−1)³ of n³ remain.
    EXPECT_DOUBLE_EQ(volume.VolumeFraction(), 64.0 / 125.0);
}

TEST(SelectionGeometry, VolumeFractionCountsNodesThroughContains)
{
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    FunctionVolume volume(cloud.get(), Ball);
    const ScalarField3D& f = *volume.field;
    int inside = 0;
    for (int ix = 0; ix < 10; ++ix)
        for (int iy = 0; iy < 10; ++iy)
            for (int iz = 0; iz < 10; ++iz)
                inside += volume.Contains(osg::Vec3f(static_cast<float>(f.xMin + ix * f.xStep),
                                                     static_cast<float>(f.yMin + iy * f.yStep),
                                                     static_cast<float>(f.zMin + iz * f.zStep)));
    EXPECT_GT(inside, 20);
    EXPECT_EQ(volume.VolumeFraction(), inside / 1000.0);
}

TEST(SelectionGeometry, LargeMasksMatchTheParticleByParticleTest)
{
    // Enough particles to be split across threads; chunk ends fall inside a
    // word of the packed mask only if the split is wrong.
    GridFixture grid(0, 9, 10);
    osg::ref_ptr<osg::Vec3Array> cloud = RandomCloud(300007, -0.5f, 9.5f, 3);
    // Points on node planes and a float step beside them, where the cell
    // index is most easily got wrong.
    std::mt19937 rng(4);
    for (size_t i = 0; i < cloud->size(); i += 3) {
        osg::Vec3f& p = (*cloud)[i];
        const int axis = rng() % 3;
        p[axis] = std::round(p[axis]);
        if (i % 2)
            p[axis] = std::nextafter(p[axis], rng() % 2 ? 1e30f : -1e30f);
    }
    FunctionVolume volume(cloud.get(), Ball);
    size_t inside = 0;
    for (size_t i = 0; i < cloud->size(); ++i) {
        const osg::Vec3f& p = (*cloud)[i];
        ASSERT_EQ(volume.mask[i], volume.field->IsWithinBounds(p) && volume.field->IsInsideSurface(p)) << i;
        inside += volume.mask[i];
    }
    EXPECT_GT(inside, 10000u);
}
