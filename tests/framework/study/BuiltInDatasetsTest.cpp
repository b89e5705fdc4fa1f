#include "framework/study/BuiltInDatasets.h"

#include "framework/study/FerrowDatasetManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>

namespace {

uint64_t Fingerprint(const BuiltInDataset& d)
{
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](const void* p, size_t n) {
        const unsigned char* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    };
    mix(d.positions->getDataPointer(), d.positions->size() * sizeof(osg::Vec3f));
    mix(d.labels.data(), d.labels.size() * sizeof(int));
    return h;
}

}  // namespace

TEST(BuiltInDatasets, NamesAndLookup)
{
    const std::vector<std::string>& names = BuiltInDatasets::Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "clusters");
    EXPECT_EQ(names[1], "disk");
    EXPECT_EQ(names[2], "filaments");
    EXPECT_EQ(BuiltInDatasets::Find("disk"), 1);
    EXPECT_EQ(BuiltInDatasets::Find("Disk"), -1);
    EXPECT_EQ(BuiltInDatasets::Find(""), -1);
    BuiltInDataset d;
    EXPECT_FALSE(BuiltInDatasets::Generate("galaxy", d));
    EXPECT_FALSE(d.positions.valid());
}

TEST(BuiltInDatasets, DenseLabelledStructuresInSparseNoise)
{
    const int expectedLabels[] = {6, 2, 6};
    for (size_t k = 0; k < BuiltInDatasets::Names().size(); ++k) {
        const std::string& name = BuiltInDatasets::Names()[k];
        BuiltInDataset d;
        ASSERT_TRUE(BuiltInDatasets::Generate(name, d)) << name;
        EXPECT_EQ(d.name, name);
        const size_t n = d.positions->size();
        EXPECT_GE(n, 100000u) << name;
        EXPECT_LE(n, 500000u) << name;
        ASSERT_EQ(d.labels.size(), n) << name;

        std::map<int, size_t> perLabel;
        size_t noiseInCentre = 0;
        for (size_t i = 0; i < n; ++i) {
            const osg::Vec3f& p = (*d.positions)[i];
            ASSERT_TRUE(std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.z()));
            ASSERT_LE(std::fabs(p.x()), 50.0f);
            ASSERT_LE(std::fabs(p.y()), 50.0f);
            ASSERT_LE(std::fabs(p.z()), 50.0f);
            ++perLabel[d.labels[i]];
            if (d.labels[i] == 0 && std::fabs(p.x()) < 25 && std::fabs(p.y()) < 25 && std::fabs(p.z()) < 25)
                ++noiseInCentre;
        }
        EXPECT_EQ(static_cast<int>(perLabel.size()), expectedLabels[k] + 1) << name;
        EXPECT_EQ(perLabel.begin()->first, 0) << name;
        EXPECT_EQ(perLabel.rbegin()->first, expectedLabels[k]) << name;
        EXPECT_NEAR(static_cast<double>(perLabel[0]) / n, 0.15, 0.001) << name;
        // Uniform noise: an eighth of it in the central half-size cube.
        EXPECT_NEAR(static_cast<double>(noiseInCentre) / perLabel[0], 0.125, 0.01) << name;
        // Labels are shuffled along the particle order, not in runs.
        size_t changes = 0;
        for (size_t i = 1; i < n; ++i) changes += d.labels[i] != d.labels[i - 1];
        EXPECT_GT(changes, n / 3) << name;
    }
}

TEST(BuiltInDatasets, GenerationIsDeterministic)
{
    for (const std::string& name : BuiltInDatasets::Names()) {
        BuiltInDataset a, b;
        ASSERT_TRUE(BuiltInDatasets::Generate(name, a, 20000));
        ASSERT_TRUE(BuiltInDatasets::Generate(name, b, 20000));
        EXPECT_EQ(a.positions->size(), 20000u);
        EXPECT_EQ(Fingerprint(a), Fingerprint(b)) << name;
        EXPECT_EQ(std::memcmp(a.positions->getDataPointer(), b.positions->getDataPointer(), 20000 * 12), 0);
    }
    // Different clouds differ, and a size change changes the cloud.
    BuiltInDataset c, d, e;
    BuiltInDatasets::Generate("clusters", c, 20000);
    BuiltInDatasets::Generate("disk", d, 20000);
    BuiltInDatasets::Generate("clusters", e, 20001);
    EXPECT_NE(Fingerprint(c), Fingerprint(d));
    EXPECT_EQ(e.positions->size(), 20001u);
    // Tiny sizes still give exactly the requested count.
    for (size_t count : {1u, 2u, 7u, 10u}) {
        BuiltInDataset t;
        BuiltInDatasets::Generate("filaments", t, count);
        EXPECT_EQ(t.positions->size(), count);
        EXPECT_EQ(t.labels.size(), count);
    }
}

TEST(FerrowDatasetManager, ServesTheBuiltInsWhenNothingIsConfigured)
{
    FerrowDatasetManager::Destroy();
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    m->LoadConfigured({});
    ASSERT_EQ(m->datasets.size(), 3u);
    EXPECT_EQ(m->names[0], "clusters");
    EXPECT_EQ(m->names[2], "filaments");
    EXPECT_EQ(m->labels[1].size(), m->datasets[1]->size());
    BuiltInDataset disk;
    BuiltInDatasets::Generate("disk", disk);
    EXPECT_EQ(std::memcmp(m->datasets[1]->getDataPointer(), disk.positions->getDataPointer(),
                          disk.positions->size() * 12),
              0);
    m->LoadConfigured({"disk"});
    ASSERT_EQ(m->datasets.size(), 4u);
    EXPECT_EQ(m->names[3], "disk");
    FerrowDatasetManager::Destroy();
}
