#pragma once
// A density grid without a dataset: the density cache holds one all-zero field
// on the given box (dataset 0, which the current trial shows), so selection
// volumes can be built on a grid whose bounds the test chooses. The destructor
// empties the density cache again.
#include "density/ParticleDensityField3D.h"

#include <boost/shared_ptr.hpp>

struct GridFixture {
    GridFixture(double min, double max, int count);
    GridFixture(double xMin, double xMax, int xCount, double yMin, double yMax, int yCount,
                double zMin, double zMax, int zCount);
    ~GridFixture();
    GridFixture(const GridFixture&) = delete;
    GridFixture& operator=(const GridFixture&) = delete;

    boost::shared_ptr<ParticleDensityField3D> density;
};
