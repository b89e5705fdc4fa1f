#include "density/ScalarField3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(ScalarField3D, NewFieldIsZeroWithIndexedGeometry)
{
    ScalarField3D f(0, 63, 64, 0, 63, 64, 0, 63, 64);
    EXPECT_EQ(f.nodeCount, 64 * 64 * 64);
    EXPECT_EQ(f.sliceSize, 64 * 64);
    EXPECT_EQ(f.values.size(), 262144u);
    EXPECT_DOUBLE_EQ(f.xStep, 1.0);
    EXPECT_DOUBLE_EQ(f.yStep, 1.0);
    EXPECT_DOUBLE_EQ(f.zStep, 1.0);
    EXPECT_EQ(f.NodeIndex(1, 2, 3), 12417);
    EXPECT_EQ(f.Mean(), 0.0);
    EXPECT_TRUE(f.surface.triangles.empty());
    EXPECT_TRUE(f.surface.vertices.empty());
    EXPECT_FALSE(f.cellsBuilt);
    for (double v : f.values) ASSERT_EQ(v, 0.0);

    ScalarField3D g(-1, 2, 4, 10, 20, 3, 0, 1, 2);
    EXPECT_DOUBLE_EQ(g.xStep, 1.0);
    EXPECT_DOUBLE_EQ(g.yStep, 5.0);
    EXPECT_DOUBLE_EQ(g.zStep, 1.0);
    EXPECT_EQ(g.NodeIndex(3, 2, 1), 3 + 4 * 2 + 12 * 1);
}

TEST(ScalarField3D, CountsBelowTwoAreRaisedToTwo)
{
    ScalarField3D f(0, 4, 1, 0, 2, 0, 0, 1, -3);
    EXPECT_EQ(f.xCount, 2);
    EXPECT_EQ(f.yCount, 2);
    EXPECT_EQ(f.zCount, 2);
    EXPECT_EQ(f.nodeCount, 8);
    EXPECT_EQ(f.values.size(), 8u);
    EXPECT_DOUBLE_EQ(f.xStep, 4.0);
    EXPECT_DOUBLE_EQ(f.yStep, 2.0);
    EXPECT_TRUE(std::isfinite(f.Sample(osg::Vec3f(1, 1, 0.5f))));
}

TEST(ScalarField3D, SampleInterpolatesTrilinearly)
{
    ScalarField3D f(0, 3, 4, 0, 3, 4, 0, 3, 4);
    // A linear function is reproduced exactly by trilinear interpolation.
    for (int z = 0; z < 4; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) f.values[f.NodeIndex(x, y, z)] = 1.0 + x + 10.0 * y + 100.0 * z;

    EXPECT_EQ(f.Sample(osg::Vec3f(1, 2, 1)), f.values[f.NodeIndex(1, 2, 1)]);
    EXPECT_EQ(f.Sample(osg::Vec3f(0, 0, 0)), 1.0);
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(1.5f, 2, 1)),
                     0.5 * (f.values[f.NodeIndex(1, 2, 1)] + f.values[f.NodeIndex(2, 2, 1)]));
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(0.25f, 1.5f, 2.75f)), 1.0 + 0.25 + 15.0 + 275.0);

    // A single non-zero node spreads with the product of the three weights.
    ScalarField3D g(0, 3, 4, 0, 3, 4, 0, 3, 4);
    g.values[g.NodeIndex(1, 1, 1)] = 8.0;
    EXPECT_DOUBLE_EQ(g.Sample(osg::Vec3f(1.5f, 1.5f, 1.5f)), 1.0);
    EXPECT_DOUBLE_EQ(g.Sample(osg::Vec3f(0.5f, 1.0f, 1.0f)), 4.0);
}

TEST(ScalarField3D, SampleNeverLeavesTheGrid)
{
    ScalarField3D f(0, 3, 4, 0, 3, 4, 0, 3, 4);
    for (int i = 0; i < f.nodeCount; ++i) f.values[i] = i;
    const double last = f.values[f.NodeIndex(3, 3, 3)];
    // On the upper faces the last node's value comes back, beyond them it is held.
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(3, 3, 3)), last);
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(30, 300, 3000)), last);
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(-5, -50, -500)), 0.0);
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(3, 0, 0)), f.values[f.NodeIndex(3, 0, 0)]);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(nan, nan, nan)), 0.0);
    EXPECT_DOUBLE_EQ(f.Sample(osg::Vec3f(inf, -inf, 0)), f.values[f.NodeIndex(3, 0, 0)]);
}

TEST(ScalarField3D, BoundsIncludeFacesAndCorners)
{
    ScalarField3D f(-1, 1, 8, 0, 2, 8, 5, 6, 8);
    EXPECT_TRUE(f.IsWithinBounds(osg::Vec3f(-1, 0, 5)));
    EXPECT_TRUE(f.IsWithinBounds(osg::Vec3f(1, 2, 6)));
    EXPECT_TRUE(f.IsWithinBounds(osg::Vec3f(0, 1, 5.5f)));
    EXPECT_TRUE(f.IsWithinBounds(osg::Vec3f(1, 1, 5.5f)));
    EXPECT_FALSE(f.IsWithinBounds(osg::Vec3f(std::nextafter(1.0f, 2.0f), 1, 5.5f)));
    EXPECT_FALSE(f.IsWithinBounds(osg::Vec3f(0, std::nextafter(0.0f, -1.0f), 5.5f)));
    EXPECT_FALSE(f.IsWithinBounds(osg::Vec3f(0, 1, std::nextafter(6.0f, 7.0f))));
    EXPECT_FALSE(f.IsWithinBounds(osg::Vec3f(std::numeric_limits<float>::quiet_NaN(), 1, 5.5f)));
}

TEST(ScalarField3D, MeanAndScale)
{
    ScalarField3D f(0, 1, 2, 0, 1, 2, 0, 1, 2);
    for (int i = 0; i < f.nodeCount; ++i) f.values[i] = i + 1;  // 1..8
    EXPECT_DOUBLE_EQ(f.Mean(), 4.5);
    f.Scale(2.0);
    EXPECT_DOUBLE_EQ(f.Mean(), 9.0);
    EXPECT_DOUBLE_EQ(f.values[7], 16.0);
    f.Scale(0.0);
    for (double v : f.values) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(f.Mean(), 0.0);
}
