#pragma once
// PreComputedDensity: process-wide store of one 64³ density field per study
// dataset, in the dataset manager's order. computeDensities() fills it once;
// selection volumes look their grid up by the current dataset number.
// Each field comes from the density cache when it holds a valid entry
// (density/DensityCache.h), and the steps are reported to DensityProgress.
// An axis along which all particles share one value gets a thickness of the
// largest extent divided by the node count (see computeDensities).
//
// Lifetime rule: volumes of the density-aware kind keep a plain pointer to the
// field of their dataset. Destroy() must only run once no volume is left; the
// fields themselves are shared pointers, so a caller that must outlive Destroy
// can hold the shared pointer returned by Field().
#include "density/ParticleDensityField3D.h"

#include <boost/shared_ptr.hpp>
#include <vector>

class PreComputedDensity {
public:
    static PreComputedDensity* Instance();
    static void Destroy();

    // Builds and appends one density field per dataset of the dataset manager
    // that has none yet, printing "Loading %d dataset\n" for each.
    void computeDensities();

    // The field of dataset nr; throws std::out_of_range with a clear message
    // when there is none (never reads outside the list).
    const boost::shared_ptr<ParticleDensityField3D>& Field(int nr) const;

    std::vector<boost::shared_ptr<ParticleDensityField3D>> densities;

private:
    PreComputedDensity() = default;
    static PreComputedDensity* instance;
};
