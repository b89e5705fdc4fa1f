#include "tests/support/HandDensityGrid.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"

#include <boost/make_shared.hpp>

HandDensityGrid::HandDensityGrid(osg::Vec3Array* p, int count, double lo, double hi)
    : particles(p ? p : new osg::Vec3Array)
{
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
    FerrowDatasetManager::Instance()->Add("hand", particles);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
    density = boost::make_shared<ParticleDensityField3D>(lo, hi, count, lo, hi, count, lo, hi, count);
    PreComputedDensity::Instance()->densities.push_back(density);
}

HandDensityGrid::~HandDensityGrid()
{
    density.reset();
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}
