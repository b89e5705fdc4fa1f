#pragma once
// SampleStatistics: mean and 95 % confidence interval of a sample, with the
// Student t distribution for the interval (small samples are the rule in a
// user study, where the normal approximation would be too narrow). The
// distribution is Boost.Math's; each call costs microseconds.
#include <vector>

struct SampleStatistics {
    int n = 0;
    double mean = 0.0;
    double sd = 0.0;          // sample standard deviation (n - 1); 0 for n < 2
    double halfWidth = 0.0;   // t(0.975, n - 1) * sd / sqrt(n); NaN for n < 2
    double Low() const { return mean - halfWidth; }
    double High() const { return mean + halfWidth; }

    static SampleStatistics Of(const std::vector<double>& values);
    // Distribution function and quantile of Student's t with `df` degrees of freedom.
    static double StudentTCdf(double t, double df);
    static double StudentTQuantile(double p, double df);
};
