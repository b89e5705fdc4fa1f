#include "framework/runner/SampleStatistics.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SampleStatistics, StudentTQuantilesMatchTheTables)
{
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 1), 12.706204736174707, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 2), 4.302652729749464, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 5), 2.570581835636314, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 10), 2.228138851986274, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 30), 2.042272456301238, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 1000), 1.962339, 1e-6);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.025, 10), -2.228138851986274, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.995, 3), 5.840909309733, 1e-8);
    EXPECT_NEAR(SampleStatistics::StudentTCdf(0.0, 4), 0.5, 1e-15);
    EXPECT_NEAR(SampleStatistics::StudentTCdf(1.0, 1), 0.75, 1e-12);  // Cauchy: 1/2 + atan(1)/pi
    // One-sided table columns and a fractional df (Welch-style degrees of freedom).
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.95, 1), 6.313751514675043, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.90, 20), 1.325340706985046, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.99, 7), 2.997951566868529, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTQuantile(0.975, 2.5), 3.574654842003682, 1e-9);
    EXPECT_NEAR(SampleStatistics::StudentTCdf(SampleStatistics::StudentTQuantile(0.975, 9), 9), 0.975, 1e-14);
    // Outside the domain: NaN, never an exception that would stop a summary.
    EXPECT_TRUE(std::isnan(SampleStatistics::StudentTQuantile(1.0, 5)));
    EXPECT_TRUE(std::isnan(SampleStatistics::StudentTQuantile(0.975, 0)));
    EXPECT_TRUE(std::isnan(SampleStatistics::StudentTCdf(1.0, -1)));
}

TEST(SampleStatistics, MeanAndIntervalOfSmallSamples)
{
    const SampleStatistics s = SampleStatistics::Of({10.0, 12.0, 14.0});
    EXPECT_EQ(s.n, 3);
    EXPECT_DOUBLE_EQ(s.mean, 12.0);
    EXPECT_DOUBLE_EQ(s.sd, 2.0);
    EXPECT_NEAR(s.halfWidth, 4.302652729749464 * 2.0 / std::sqrt(3.0), 1e-9);
    EXPECT_LT(s.Low(), 12.0);
    EXPECT_GT(s.High(), 12.0);

    const SampleStatistics one = SampleStatistics::Of({7.5});
    EXPECT_EQ(one.n, 1);
    EXPECT_DOUBLE_EQ(one.mean, 7.5);
    EXPECT_TRUE(std::isnan(one.halfWidth));
    EXPECT_TRUE(std::isnan(one.Low()) && std::isnan(one.High()));
    EXPECT_TRUE(std::isnan(SampleStatistics::Of({}).mean));

    const SampleStatistics same = SampleStatistics::Of({3.0, 3.0, 3.0, 3.0});
    EXPECT_DOUBLE_EQ(same.halfWidth, 0.0);
    EXPECT_DOUBLE_EQ(same.Low(), 3.0);
    EXPECT_DOUBLE_EQ(same.High(), 3.0);
}

TEST(SampleStatistics, BootstrapIntervalStaysWithinTheMeasuresRangeAndMatchesTheTIntervalOfLargeSamples)
{
    // F1 near its ceiling and a skewed completion time: the t interval
    // crosses 1 and 0, the bootstrap interval cannot.
    const SampleStatistics f1 = SampleStatistics::Of({1.0, 1.0, 1.0, 1.0, 0.55});
    EXPECT_GT(f1.mean + f1.halfWidth, 1.0);
    EXPECT_LE(f1.High(), 1.0);
    EXPECT_GE(f1.Low(), 0.55);
    EXPECT_LT(f1.Low(), f1.mean);
    const SampleStatistics time = SampleStatistics::Of({2.0, 2.5, 3.0, 40.0});
    EXPECT_LT(time.mean - time.halfWidth, 0.0);
    EXPECT_GE(time.Low(), 2.0);
    EXPECT_GT(time.High(), time.mean);

    // Two values: resample means are 0, 1/2 and 1 with chances 1/4, 1/2, 1/4,
    // so the 2.5 % and 97.5 % points are the values themselves.
    const SampleStatistics two = SampleStatistics::Of({0.0, 1.0});
    EXPECT_DOUBLE_EQ(two.Low(), 0.0);
    EXPECT_DOUBLE_EQ(two.High(), 1.0);

    // The same sample always gives the same interval.
    const SampleStatistics again = SampleStatistics::Of({2.0, 2.5, 3.0, 40.0});
    EXPECT_EQ(again.Low(), time.Low());
    EXPECT_EQ(again.High(), time.High());

    // An interval of the mean, not of the values: for a large, symmetric
    // sample it is about the t interval.
    std::vector<double> values;
    for (int i = 0; i < 400; ++i) values.push_back(10.0 + std::sin(i * 1.7) * 3.0 + (i % 7) * 0.1);
    const SampleStatistics large = SampleStatistics::Of(values);
    EXPECT_NEAR(large.Low(), large.mean - large.halfWidth, 0.1 * large.halfWidth);
    EXPECT_NEAR(large.High(), large.mean + large.halfWidth, 0.1 * large.halfWidth);
}
