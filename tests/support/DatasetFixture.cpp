#include "tests/support/DatasetFixture.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"

#include <cmath>
#include <cstdint>

namespace {

// Small fixed generator so the cloud never depends on the standard library.
struct SplitMix64 {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double Uniform() { return (Next() >> 11) * (1.0 / 9007199254740992.0); }
};

}  // namespace

DatasetFixture::DatasetFixture(osg::Vec3Array* p, const std::vector<int>& labels)
    : particles(p ? p : new osg::Vec3Array)
{
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
    FerrowDatasetManager::Instance()->Add("fixture", particles, labels);
    FerrowManager::Instance()->SetCurrentDatasetNr(0);
    PreComputedDensity::Instance()->computeDensities();
    density = PreComputedDensity::Instance()->Field(0);
}

DatasetFixture::~DatasetFixture()
{
    density.reset();
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}

osg::ref_ptr<osg::Vec3Array> DatasetFixture::BlobInNoise(int blobCount, int noiseCount, unsigned seed,
                                                         std::vector<int>* labels)
{
    SplitMix64 rng{seed};
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    cloud->reserve(static_cast<size_t>(blobCount + noiseCount));
    if (labels) labels->clear();
    for (int i = 0; i < blobCount; ++i) {
        // Rejection sampling in the unit ball.
        double x, y, z;
        do {
            x = 2.0 * rng.Uniform() - 1.0;
            y = 2.0 * rng.Uniform() - 1.0;
            z = 2.0 * rng.Uniform() - 1.0;
        } while (x * x + y * y + z * z > 1.0);
        cloud->push_back(osg::Vec3f(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
        if (labels) labels->push_back(1);
    }
    for (int i = 0; i < noiseCount; ++i) {
        const double x = 10.0 * rng.Uniform() - 5.0;
        const double y = 10.0 * rng.Uniform() - 5.0;
        const double z = 10.0 * rng.Uniform() - 5.0;
        cloud->push_back(osg::Vec3f(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)));
        if (labels) labels->push_back(0);
    }
    return cloud;
}
