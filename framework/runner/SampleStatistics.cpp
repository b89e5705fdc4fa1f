#include "framework/runner/SampleStatistics.h"

#include <boost/math/distributions/students_t.hpp>

#include <cmath>
#include <limits>

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
        s.mean = s.halfWidth = std::numeric_limits<double>::quiet_NaN();
        return s;
    }
    double sum = 0.0;
    for (double v : values) sum += v;
    s.mean = sum / s.n;
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
