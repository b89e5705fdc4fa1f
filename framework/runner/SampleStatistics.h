#pragma once
// SampleStatistics: mean, standard deviation and 95 % interval of the mean of
// a sample.
//
// The interval is a percentile bootstrap of the mean (BootstrapResamples
// resamples with replacement, drawn from a fixed seed, so the same sample
// always gives the same interval). Its ends are means of values of the
// sample, so it stays within the measure's range: an F1 interval never goes
// above 1, a time interval never below 0, which a Student t interval does
// for the skewed, bounded samples a user study gives. The t half-width is
// kept beside it for those who report the classic interval. Cost:
// BootstrapResamples × n additions and one sort of the resampled means;
// Boost.Math's t distribution takes microseconds.
#include <vector>

struct SampleStatistics {
    static const int BootstrapResamples = 10000;
    // One line for outputs that show the intervals.
    static const char* const IntervalRule;

    int n = 0;
    double mean = 0.0;
    double sd = 0.0;          // sample standard deviation (n - 1); 0 for n < 2
    double low = 0.0;         // bootstrap interval of the mean; NaN for n < 2
    double high = 0.0;
    double halfWidth = 0.0;   // t(0.975, n - 1) * sd / sqrt(n); NaN for n < 2
    double Low() const { return low; }
    double High() const { return high; }

    static SampleStatistics Of(const std::vector<double>& values);
    // The 2.5 % and 97.5 % points (linear interpolation between order
    // statistics) of the means of resamples of `values`; NaN for fewer than 2.
    static void BootstrapInterval(const std::vector<double>& values, double& low, double& high);
    // The p point of an ascending sample, interpolated linearly between
    // order statistics; `sorted` must not be empty.
    static double Quantile(const std::vector<double>& sorted, double p);
    // Distribution function and quantile of Student's t with `df` degrees of freedom.
    static double StudentTCdf(double t, double df);
    static double StudentTQuantile(double p, double df);
};
