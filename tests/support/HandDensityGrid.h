#pragma once
// A one-dataset study whose density grid is set by hand instead of estimated:
// the particles become dataset 0, the current trial shows dataset 0, and the
// density cache holds one field over the cube [lo, hi]³ with `count` nodes per
// axis, all values 0 until the test writes `density->values`. Bounds such as
// −1 and 1 put grid nodes exactly on chosen screen positions. The destructor
// tears the density cache and the dataset manager down again.
#include "density/ParticleDensityField3D.h"

#include <boost/shared_ptr.hpp>
#include <osg/Array>
#include <osg/ref_ptr>

struct HandDensityGrid {
    explicit HandDensityGrid(osg::Vec3Array* particles, int count = 64, double lo = -1.0, double hi = 1.0);
    ~HandDensityGrid();
    HandDensityGrid(const HandDensityGrid&) = delete;
    HandDensityGrid& operator=(const HandDensityGrid&) = delete;

    osg::ref_ptr<osg::Vec3Array> particles;
    boost::shared_ptr<ParticleDensityField3D> density;
};
