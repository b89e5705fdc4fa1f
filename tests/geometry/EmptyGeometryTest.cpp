#include "geometry/EmptyGeometry.h"
#include "tests/support/GridFixture.h"

#include <gtest/gtest.h>

#include <osg/ref_ptr>

TEST(EmptyGeometry, HoldsNothing)
{
    GridFixture grid(-2, 2, 9);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    cloud->push_back(osg::Vec3f(0, 0, 0));
    cloud->push_back(osg::Vec3f(-2, -2, -2));
    cloud->push_back(osg::Vec3f(5, 0, 0));
    EmptyGeometry empty(cloud.get());
    ASSERT_TRUE(empty.field);
    for (double v : empty.field->values)
        ASSERT_EQ(v, kBorderValue);
    EXPECT_EQ(kBorderValue, -3.4028234663852886e38);
    EXPECT_TRUE(empty.GetSurface().triangles.empty());
    EXPECT_TRUE(empty.GetSurface().vertices.empty());
    EXPECT_FALSE(empty.field->cellsBuilt);
    ASSERT_EQ(empty.mask.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(empty.mask[i]);
        EXPECT_FALSE(empty.Contains((*cloud)[i]));
    }
    EXPECT_EQ(empty.VolumeFraction(), 0.0);
}
