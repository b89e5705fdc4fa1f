#include "tests/support/GridFixture.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowManager.h"

#include <boost/make_shared.hpp>

GridFixture::GridFixture(double min, double max, int count)
    : GridFixture(min, max, count, min, max, count, min, max, count)
{
}

GridFixture::GridFixture(double xMin, double xMax, int xCount, double yMin, double yMax, int yCount,
                         double zMin, double zMax, int zCount)
{
    PreComputedDensity::Destroy();
    density = boost::make_shared<ParticleDensityField3D>(xMin, xMax, xCount, yMin, yMax, yCount, zMin, zMax,
                                                         zCount);
    PreComputedDensity::Instance()->densities.push_back(density);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
}

GridFixture::~GridFixture()
{
    density.reset();
    PreComputedDensity::Destroy();
}
