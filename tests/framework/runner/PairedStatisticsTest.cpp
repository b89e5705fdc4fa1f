// PairedStatistics against values SciPy computed once on fixed data sets
// (paired/make_reference.py), ties and zeros included, and its exact
// Wilcoxon distribution against a count of every sign pattern. Runs in
// milliseconds.
#include "framework/runner/PairedStatistics.h"
#include "framework/runner/SampleStatistics.h"
#include "tests/framework/runner/paired/PairedReference.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectRelative(double actual, double expected, const char* what, const char* set)
{
    EXPECT_NEAR(actual, expected, 1e-9 * std::fabs(expected)) << what << " of " << set;
}

}  // namespace

TEST(PairedStatistics, MatchesTheIndependentReferenceOnSetsWithTiesAndZeros)
{
    bool sawExact = false, sawApproximation = false;
    for (const PairedReference& r : PairedReferences()) {
        const PairedStatistics s = PairedStatistics::Of(r.a, r.b);
        EXPECT_EQ(s.n, static_cast<int>(r.a.size())) << r.name;
        ExpectRelative(s.t, r.t, "t", r.name);
        ExpectRelative(s.pT, r.pT, "p of t", r.name);
        ExpectRelative(s.dz, r.dz, "dz", r.name);
        ExpectRelative(s.w, r.w, "w", r.name);
        ExpectRelative(s.pWilcoxon, r.pWilcoxon, "p of w", r.name);
        EXPECT_EQ(s.wilcoxonExact, r.exact) << r.name;
        sawExact |= r.exact;
        sawApproximation |= !r.exact;

        // The interval is the per-technique table's rule applied to the differences.
        std::vector<double> d;
        for (size_t i = 0; i < r.a.size(); ++i) d.push_back(r.a[i] - r.b[i]);
        const SampleStatistics ds = SampleStatistics::Of(d);
        EXPECT_EQ(s.ciLow, ds.Low()) << r.name;
        EXPECT_EQ(s.ciHigh, ds.High()) << r.name;
        EXPECT_LT(s.ciLow, s.meanDiff) << r.name;
        EXPECT_GT(s.ciHigh, s.meanDiff) << r.name;
    }
    EXPECT_TRUE(sawExact && sawApproximation);

    // Swapping the conditions mirrors everything but the p values.
    const PairedReference& r = PairedReferences()[1];
    const PairedStatistics s = PairedStatistics::Of(r.a, r.b), m = PairedStatistics::Of(r.b, r.a);
    EXPECT_DOUBLE_EQ(m.t, -s.t);
    EXPECT_DOUBLE_EQ(m.pT, s.pT);
    EXPECT_DOUBLE_EQ(m.pWilcoxon, s.pWilcoxon);
    EXPECT_EQ(m.wilcoxonN, s.wilcoxonN);
    EXPECT_DOUBLE_EQ(m.w, s.wilcoxonN * (s.wilcoxonN + 1) / 2.0 - s.w);

    // Nothing to test: NaN rather than a made-up p.
    const PairedStatistics same = PairedStatistics::Of({1.0, 2.0, 3.0}, {1.0, 2.0, 3.0});
    EXPECT_TRUE(std::isnan(same.t) && std::isnan(same.pT) && std::isnan(same.w) && std::isnan(same.pWilcoxon));
    EXPECT_EQ(same.wilcoxonN, 0);
    EXPECT_TRUE(std::isnan(PairedStatistics::Of({1.0}, {0.0}).pT));
}

TEST(PairedStatistics, ExactWilcoxonDistributionAtSmallN)
{
    // Every sign pattern of ranks 1..n counted one by one.
    for (int n = 1; n <= 12; ++n) {
        std::vector<double> counted(n * (n + 1) / 2 + 1, 0.0);
        for (unsigned pattern = 0; pattern < (1u << n); ++pattern) {
            int sum = 0;
            for (int r = 1; r <= n; ++r)
                if (pattern & (1u << (r - 1))) sum += r;
            counted[sum] += 1.0;
        }
        EXPECT_EQ(PairedStatistics::WilcoxonNullCounts(n), counted) << "n " << n;
    }
    const std::vector<std::vector<double>>& reference = WilcoxonExactReference();
    for (size_t n = 1; n <= reference.size(); ++n)
        for (size_t w = 0; w < reference[n - 1].size(); ++w)
            EXPECT_NEAR(PairedStatistics::WilcoxonExactP(static_cast<int>(n), static_cast<int>(w)),
                        reference[n - 1][w], 1e-12)
                << "n " << n << ", w " << w;
    // 25 is the largest exact n: its 2^25 patterns still sum exactly.
    const std::vector<double> c25 = PairedStatistics::WilcoxonNullCounts(25);
    double total = 0.0;
    for (double c : c25) total += c;
    EXPECT_EQ(total, std::ldexp(1.0, 25));
    EXPECT_EQ(c25[0], 1.0);
    EXPECT_EQ(c25[1], 1.0);
    EXPECT_EQ(c25[3], 2.0);
}

TEST(PairedStatistics, HolmAdjustsStepDownWithinTheFamily)
{
    const double nan = std::nan("");
    const std::vector<double> adjusted = PairedStatistics::Holm({0.01, 0.04, nan, 0.03, 0.5});
    // Four p values: 0.01 × 4, then 0.03 × 3, then max(0.04 × 2, 0.09), then 0.5 × 1.
    EXPECT_DOUBLE_EQ(adjusted[0], 0.04);
    EXPECT_DOUBLE_EQ(adjusted[3], 0.09);
    EXPECT_DOUBLE_EQ(adjusted[1], 0.09);
    EXPECT_DOUBLE_EQ(adjusted[4], 0.5);
    EXPECT_TRUE(std::isnan(adjusted[2]));
    EXPECT_DOUBLE_EQ(PairedStatistics::Holm({0.6, 0.7})[0], 1.0);
}

TEST(PairedStatistics, DifferencesEqualButForRoundingHaveNoSpread)
{
    // Means of the same six ratings: -17.5 twice, up to the last bit.
    const double a1 = (35.0 + 20 + 30 + 25 + 40 + 20) / 6, b1 = (55.0 + 30 + 45 + 40 + 60 + 45) / 6;
    const double a2 = (40.0 + 25 + 35 + 30 + 45 + 25) / 6, b2 = (60.0 + 35 + 50 + 45 + 65 + 50) / 6;
    const PairedStatistics s = PairedStatistics::Of({a1, a2}, {b1, b2});
    EXPECT_NEAR(s.meanDiff, -17.5, 1e-12);
    EXPECT_TRUE(std::isnan(s.t) && std::isnan(s.dz));
}
