#include "density/PreComputedDensity.h"

#include "framework/study/FerrowDatasetManager.h"
#include "tests/support/DatasetFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>

TEST(PreComputedDensity, FixtureRegistersDatasetZeroAndTearsDown)
{
    {
        DatasetFixture fixture(DatasetFixture::BlobInNoise(2000, 1000).get());
        ASSERT_TRUE(fixture.density);
        EXPECT_EQ(FerrowDatasetManager::Instance()->datasets.size(), 1u);
        EXPECT_EQ(PreComputedDensity::Instance()->densities.size(), 1u);
        EXPECT_EQ(fixture.density->xCount, 64);
        EXPECT_GT(fixture.density->Mean(), 0.0);
    }
    EXPECT_TRUE(PreComputedDensity::Instance()->densities.empty());
    EXPECT_TRUE(FerrowDatasetManager::Instance()->datasets.empty());
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}
