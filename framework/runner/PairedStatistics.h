#pragma once
// PairedStatistics: the within-subject comparison of two conditions measured
// on the same participants, as a user study reports it.
//
// In: two equally long samples a and b, element i of both from participant i.
// Out: for the differences d = a - b, their number n, mean and 95 % interval
// (the same percentile bootstrap of the mean that SampleStatistics gives every
// per-technique table, so the paired table and the technique table follow one
// rule), the paired t-test (t, two-sided p with n - 1 degrees of freedom),
// Cohen's dz (mean / standard deviation of d) and the Wilcoxon signed-rank
// test.
//
// Wilcoxon: zero differences are dropped (Wilcoxon's own convention), the
// rest ranked by |d| with mid-ranks for ties, w is the sum of the ranks of
// the positive differences. With at most ExactWilcoxonLimit differences left
// and no ties the two-sided p is exact (twice the smaller tail of the null
// distribution, counted over all 2^n sign patterns, at most 1); otherwise it
// is the normal approximation with the tie correction of the variance and a
// continuity correction of 0.5. `wilcoxonExact` says which.
//
// Holm: the step-down adjustment of a family of p values (one measure, all
// pairs of techniques), each adjusted p at most 1 and never below that of a
// smaller raw p. NaN p values stay NaN and do not count in the family.
//
// Cost: the bootstrap's 10000 × n additions dominate; the exact null
// distribution is n^3 / 4 additions.
#include <vector>

struct PairedStatistics {
    static const int ExactWilcoxonLimit = 25;

    int n = 0;                // pairs
    double meanDiff = 0.0;    // mean of a - b
    double ciLow = 0.0, ciHigh = 0.0;
    double t = 0.0, pT = 0.0;
    double dz = 0.0;
    int wilcoxonN = 0;        // non-zero differences
    double w = 0.0;           // sum of the positive ranks
    double pWilcoxon = 0.0;
    bool wilcoxonExact = false;

    // NaN where a statistic is undefined (n < 2, no non-zero difference, no
    // spread: a standard deviation below 1e-12 of the largest |difference|).
    static PairedStatistics Of(const std::vector<double>& a, const std::vector<double>& b);

    // Number of sign patterns of ranks 1..n whose positive ranks sum to k,
    // k = 0 .. n (n + 1) / 2. Doubles hold the counts exactly up to n = 50.
    static std::vector<double> WilcoxonNullCounts(int n);
    // Two-sided exact p of the sum of positive ranks w among n untied ranks.
    static double WilcoxonExactP(int n, int w);

    static std::vector<double> Holm(const std::vector<double>& p);
};
