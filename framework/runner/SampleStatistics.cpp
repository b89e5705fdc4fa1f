#include "framework/runner/SampleStatistics.h"

#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

const char* const SampleStatistics::IntervalRule =
    "95 % intervals: percentile bootstrap of the mean (10000 resamples, fixed seed)";

namespace {

// Any fixed value: what matters is that every run draws the same resamples.
const std::uint64_t kBootstrapSeed = 0x7472656c6c616eULL;

}  // namespace

double SampleStatistics::Quantile(const std::vector<double>& sorted, double p)
{
    const double h = (sorted.size() - 1) * p;
    const size_t below = static_cast<size_t>(std::floor(h));
    if (below + 1 >= sorted.size()) return sorted.back();
    return sorted[below] + (h - below) * (sorted[below + 1] - sorted[below]);
}

void SampleStatistics::BootstrapInterval(const std::vector<double>& values, double& low, double& high)
{
    low = high = std::numeric_limits<double>::quiet_NaN();
    const size_t n = values.size();
    if (n < 2) return;
    // mt19937_64's output is the same everywhere; the standard distributions'
    // are not, so an index is taken from it by modulo (a bias below n / 2^64).
    std::mt19937_64 random(kBootstrapSeed);
    std::vector<double> means(BootstrapResamples);
    for (double& m : means) {
        double sum = 0.0;
        for (size_t i = 0; i < n; ++i) sum += values[random() % n];
        m = sum / n;
    }
    std::sort(means.begin(), means.end());
    low = Quantile(means, 0.025);
    high = Quantile(means, 0.975);
}

double SampleStatistics::StudentTCdf(double t, double df)
{
    if (!(df > 0.0) || std::isnan(t)) return std::numeric_limits<double>::quiet_NaN();
    return boost::math::cdf(boost::math::students_t(df), t);
}

double SampleStatistics::StudentTQuantile(double p, double df)
{
    // The domain is checked here so that bad input gives NaN rather than
    // Boost's exception: a summary of a broken sample still prints.
    if (!(p > 0.0 && p < 1.0) || !(df > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    return boost::math::quantile(boost::math::students_t(df), p);
}

SampleStatistics SampleStatistics::Of(const std::vector<double>& values)
{
    SampleStatistics s;
    s.n = static_cast<int>(values.size());
    if (s.n == 0) {
        s.mean = s.halfWidth = s.low = s.high = std::numeric_limits<double>::quiet_NaN();
        return s;
    }
    double sum = 0.0;
    for (double v : values) sum += v;
    s.mean = sum / s.n;
    BootstrapInterval(values, s.low, s.high);
    if (s.n < 2) {
        s.halfWidth = std::numeric_limits<double>::quiet_NaN();
        return s;
    }
    double squares = 0.0;
    for (double v : values) squares += (v - s.mean) * (v - s.mean);
    s.sd = std::sqrt(squares / (s.n - 1));
    s.halfWidth = StudentTQuantile(0.975, s.n - 1) * s.sd / std::sqrt(static_cast<double>(s.n));
    return s;
}
