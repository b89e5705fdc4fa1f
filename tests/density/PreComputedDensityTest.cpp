#include "density/PreComputedDensity.h"

#include "framework/study/FerrowDatasetManager.h"
#include "tests/support/DatasetFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

osg::ref_ptr<osg::Vec3Array> Line(float x0, float x1, int count, float y = 0.0f)
{
    osg::ref_ptr<osg::Vec3Array> a = new osg::Vec3Array;
    for (int i = 0; i < count; ++i) {
        const float t = count > 1 ? static_cast<float>(i) / (count - 1) : 0.0f;
        a->push_back(osg::Vec3f(x0 + t * (x1 - x0), y + (i % 7), static_cast<float>(i % 5)));
    }
    return a;
}

struct CleanSingletons : testing::Test {
    void SetUp() override
    {
        PreComputedDensity::Destroy();
        FerrowDatasetManager::Destroy();
    }
    void TearDown() override
    {
        PreComputedDensity::Destroy();
        FerrowDatasetManager::Destroy();
    }
};

using PreComputedDensityTest = CleanSingletons;

}  // namespace

TEST_F(PreComputedDensityTest, InstanceAndDestroy)
{
    PreComputedDensity* a = PreComputedDensity::Instance();
    EXPECT_EQ(a, PreComputedDensity::Instance());
    EXPECT_TRUE(a->densities.empty());
    FerrowDatasetManager::Instance()->Add("line", Line(0, 10, 50));
    a->computeDensities();
    EXPECT_EQ(a->densities.size(), 1u);
    PreComputedDensity::Destroy();
    PreComputedDensity::Destroy();  // harmless
    EXPECT_TRUE(PreComputedDensity::Instance()->densities.empty());
}

TEST_F(PreComputedDensityTest, ADatasetAddedLaterGetsItsFieldAndTheOthersKeepTheirs)
{
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    m->Add("a", Line(0, 10, 40));
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    const auto first = PreComputedDensity::Instance()->densities.at(0);
    m->Add("b", Line(2000, 3000, 40));
    PreComputedDensity::Instance()->computeDensities();
    PreComputedDensity::Instance()->computeDensities();  // nothing left to do
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Loading 1 dataset\nLoading 2 dataset\n");
    ASSERT_EQ(PreComputedDensity::Instance()->densities.size(), 2u);
    EXPECT_EQ(PreComputedDensity::Instance()->densities[0], first);
    EXPECT_EQ(PreComputedDensity::Instance()->densities[1]->xMin, 900.0);  // the second dataset's box
}

TEST_F(PreComputedDensityTest, OneFieldPerDatasetWithProgressLines)
{
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    m->Add("a", Line(0, 10, 40));
    m->Add("b", Line(2000, 3000, 40));
    m->Add("c", Line(-5, 5, 40, 3.0f));
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Loading 1 dataset\nLoading 2 dataset\nLoading 3 dataset\n");

    const auto& d = PreComputedDensity::Instance()->densities;
    ASSERT_EQ(d.size(), 3u);
    for (const auto& f : d) {
        EXPECT_EQ(f->xCount, 64);
        EXPECT_EQ(f->yCount, 64);
        EXPECT_EQ(f->zCount, 64);
        EXPECT_GT(f->Mean(), 0.0);
    }
    // 0..10 grows by 5 % of its extent on each side.
    EXPECT_EQ(d[0]->xMin, -0.5);
    EXPECT_EQ(d[0]->xMax, 10.5);
    EXPECT_DOUBLE_EQ(d[0]->xStep, 11.0 / 63.0);
    // 2000..3000: the box starts at +1000 below, so the lower bound before the
    // margin is 1000 and the extent 2000.
    EXPECT_EQ(d[1]->xMin, 900.0);
    EXPECT_EQ(d[1]->xMax, 3100.0);
    // Lists are found in order; the third dataset's y starts at 3.
    EXPECT_EQ(d[2]->yMin, static_cast<float>(3.0 - 0.05 * 6.0));
    EXPECT_EQ(PreComputedDensity::Instance()->Field(2), d[2]);

    // A second run has nothing left to do: every dataset has its field.
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(d.size(), 3u);
}

TEST_F(PreComputedDensityTest, SmallAndEmptyDatasetsKeepTheirSlots)
{
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    m->Add("empty", nullptr);
    m->Add("three", Line(0, 1, 3));
    m->Add("line", Line(0, 10, 40));
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Loading 3 dataset\n"), std::string::npos);
    EXPECT_NE(out.find("0 particle(s) are too few"), std::string::npos) << out;
    EXPECT_NE(out.find("3 particle(s) are too few"), std::string::npos) << out;
    const auto& d = PreComputedDensity::Instance()->densities;
    ASSERT_EQ(d.size(), 3u);
    EXPECT_EQ(d[0]->Mean(), 0.0);
    EXPECT_EQ(d[1]->Mean(), 0.0);
    EXPECT_GT(d[2]->Mean(), 0.0);
}

TEST_F(PreComputedDensityTest, LookupOutsideTheListFailsClearly)
{
    EXPECT_THROW(PreComputedDensity::Instance()->Field(0), std::out_of_range);
    FerrowDatasetManager::Instance()->Add("line", Line(0, 10, 40));
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    testing::internal::GetCapturedStdout();
    EXPECT_NO_THROW(PreComputedDensity::Instance()->Field(0));
    EXPECT_THROW(PreComputedDensity::Instance()->Field(1), std::out_of_range);
    EXPECT_THROW(PreComputedDensity::Instance()->Field(-1), std::out_of_range);
    try {
        PreComputedDensity::Instance()->Field(7);
        ADD_FAILURE() << "dataset 7 has no field, yet the lookup returned";
    } catch (const std::out_of_range& e) {
        EXPECT_NE(std::string(e.what()).find("dataset 7"), std::string::npos) << e.what();
    }
}

TEST(DatasetFixture, RegistersDatasetZeroAndTearsDown)
{
    {
        std::vector<int> labels;
        testing::internal::CaptureStdout();
        DatasetFixture fixture(DatasetFixture::BlobInNoise(2000, 1000, 1, &labels).get(), labels);
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(fixture.density);
        EXPECT_EQ(FerrowDatasetManager::Instance()->datasets.size(), 1u);
        EXPECT_EQ(FerrowDatasetManager::Instance()->labels[0].size(), 3000u);
        EXPECT_EQ(PreComputedDensity::Instance()->densities.size(), 1u);
        EXPECT_EQ(fixture.density->xCount, 64);
        // The blob is far denser than the noise around it.
        EXPECT_GT(fixture.density->Sample(osg::Vec3f(0, 0, 0)), 50.0 * fixture.density->Sample(osg::Vec3f(4, 4, 4)));
    }
    EXPECT_TRUE(PreComputedDensity::Instance()->densities.empty());
    EXPECT_TRUE(FerrowDatasetManager::Instance()->datasets.empty());
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}

TEST_F(PreComputedDensityTest, PlanesAndLinesGetAThicknessAndOnePointStaysFlat)
{
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    osg::ref_ptr<osg::Vec3Array> plane = new osg::Vec3Array, line = new osg::Vec3Array, point = new osg::Vec3Array;
    for (int i = 0; i < 20000; ++i) {
        plane->push_back(osg::Vec3f((i % 200) * 0.5f, (i / 200) * 1.0f, 0.0f));
        line->push_back(osg::Vec3f(3.0f, i * 0.01f, -2.0f));
        if (i < 100) point->push_back(osg::Vec3f(1, 2, 3));
    }
    m->Add("plane", plane);
    m->Add("line", line);
    m->Add("point", point);
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    testing::internal::GetCapturedStdout();
    const auto& d = PreComputedDensity::Instance()->densities;
    // The plane's largest extent is 99.5: z gets 99.5/64, then the margin.
    EXPECT_NEAR(d[0]->zMax - d[0]->zMin, 99.5 / 64 * 1.1, 1e-4);
    EXPECT_NEAR(d[0]->zMin + d[0]->zMax, 0.0, 1e-6);
    EXPECT_GT(d[0]->Mean(), 0.0);
    EXPECT_NEAR(d[1]->xMax - d[1]->xMin, 199.99 / 64 * 1.1, 1e-3);
    EXPECT_NEAR(d[1]->zMax - d[1]->zMin, 199.99 / 64 * 1.1, 1e-3);
    EXPECT_GT(d[1]->Mean(), 0.0);
    EXPECT_EQ(d[2]->xMax, d[2]->xMin);
    EXPECT_EQ(d[2]->Mean(), 0.0);
}
