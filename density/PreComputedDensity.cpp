#include "density/PreComputedDensity.h"

#include "density/DensityCache.h"
#include "density/DensityProgress.h"
#include "framework/study/FerrowDatasetManager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// Every density grid has this many nodes per axis.
const int kNodesPerAxis = 64;
// The box starts inverted at these values, so each bound before the margin is
// also limited by them.
const float kBoxStartLower = 1000.0f;
const float kBoxStartUpper = -1000.0f;
// Share of the extent added on each side, so every particle lies strictly
// inside. The product and difference are taken in double and only the bound
// is stored as a float.
const double kMargin = 0.05;

}  // namespace

PreComputedDensity* PreComputedDensity::instance = nullptr;

PreComputedDensity* PreComputedDensity::Instance()
{
    if (!instance) instance = new PreComputedDensity();
    return instance;
}

void PreComputedDensity::Destroy()
{
    delete instance;
    instance = nullptr;
}

void PreComputedDensity::computeDensities()
{
    int counter = 1;
    const int count = static_cast<int>(FerrowDatasetManager::Instance()->datasets.size());
    // The list is read afresh through the manager at every step.
    // Datasets that have their field already keep it: a caller may append
    // datasets and call again (the Python module does).
    counter += static_cast<int>(densities.size());
    for (size_t d = densities.size(); d < FerrowDatasetManager::Instance()->datasets.size(); ++d, ++counter) {
        DensityProgress::Report(static_cast<int>(d), count, DensityProgress::Looking);
        std::printf("Loading %d dataset\n", counter);
        std::fflush(stdout);
        const osg::Vec3Array* array = FerrowDatasetManager::Instance()->datasets[d].get();
        static const std::vector<osg::Vec3f> kNoParticles;
        const std::vector<osg::Vec3f>& positions = array ? array->asVector() : kNoParticles;

        float lower[3] = {kBoxStartLower, kBoxStartLower, kBoxStartLower};
        float upper[3] = {kBoxStartUpper, kBoxStartUpper, kBoxStartUpper};
        for (const osg::Vec3f& p : positions) {
            for (int a = 0; a < 3; ++a) {
                if (p[a] < lower[a]) lower[a] = p[a];
                if (p[a] > upper[a]) upper[a] = p[a];
            }
        }
        // Particles on a plane or a line: an axis without extent gets the
        // largest extent divided by the node count as its thickness, so the
        // grid has volume and what lies under a lasso can be selected. All
        // particles at one point keep a flat grid: nothing to select.
        const float largest = std::max({upper[0] - lower[0], upper[1] - lower[1], upper[2] - lower[2]});
        for (int a = 0; a < 3; ++a) {
            if (upper[a] == lower[a] && largest > 0.0f) {
                const double half = 0.5 * static_cast<double>(largest) / kNodesPerAxis;
                const float centre = lower[a];
                lower[a] = static_cast<float>(centre - half);
                upper[a] = static_cast<float>(centre + half);
            }
        }
        for (int a = 0; a < 3; ++a) {
            const float extent = upper[a] - lower[a];
            lower[a] = static_cast<float>(lower[a] - kMargin * extent);
            upper[a] = static_cast<float>(upper[a] + kMargin * extent);
        }

        boost::shared_ptr<ParticleDensityField3D> field = boost::make_shared<ParticleDensityField3D>(
            lower[0], upper[0], kNodesPerAxis, lower[1], upper[1], kNodesPerAxis,
            lower[2], upper[2], kNodesPerAxis);
        DensityProgress::Report(static_cast<int>(d), count, DensityProgress::Estimating);
        DensityCache::Source source = DensityCache::Computed;
        if (FerrowDatasetManager::Instance()->densityCache)
            source = DensityCache::Fill(*field, positions);
        else
            field->ComputeDensity(positions);
        densities.push_back(field);
        DensityProgress::Report(static_cast<int>(d), count, DensityProgress::Done, source == DensityCache::Cached);
    }
}

const boost::shared_ptr<ParticleDensityField3D>& PreComputedDensity::Field(int nr) const
{
    if (nr < 0 || nr >= static_cast<int>(densities.size())) {
        throw std::out_of_range("PreComputedDensity: no density field for dataset " + std::to_string(nr) +
                                " (" + std::to_string(densities.size()) +
                                " field(s); computeDensities must run after the datasets are loaded)");
    }
    return densities[static_cast<size_t>(nr)];
}
