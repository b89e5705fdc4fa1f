#include "density/PreComputedDensity.h"
#include "framework/study/FerrowDatasetManager.h"
#include <stdexcept>
// placeholder: the cache is being written
PreComputedDensity* PreComputedDensity::instance = nullptr;
PreComputedDensity* PreComputedDensity::Instance() { if (!instance) instance = new PreComputedDensity(); return instance; }
void PreComputedDensity::Destroy() { delete instance; instance = nullptr; }
void PreComputedDensity::computeDensities() {}
const boost::shared_ptr<ParticleDensityField3D>& PreComputedDensity::Field(int nr) const
{
    if (nr < 0 || nr >= static_cast<int>(densities.size())) throw std::out_of_range("no density field");
    return densities[static_cast<size_t>(nr)];
}
