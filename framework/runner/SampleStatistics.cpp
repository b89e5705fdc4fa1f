#include "framework/runner/SampleStatistics.h"

#include <cmath>
#include <limits>

namespace {

// Continued fraction of the incomplete beta function (modified Lentz).
double BetaFraction(double a, double b, double x)
{
    const double tiny = 1e-300;
    double c = 1.0, d = 1.0 - (a + b) * x / (a + 1.0);
    if (std::fabs(d) < tiny) d = tiny;
    d = 1.0 / d;
    double h = d;
    for (int m = 1; m <= 300; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        h *= d * c;
        aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
        d = 1.0 + aa * d;
        if (std::fabs(d) < tiny) d = tiny;
        c = 1.0 + aa / c;
        if (std::fabs(c) < tiny) c = tiny;
        d = 1.0 / d;
        const double step = d * c;
        h *= step;
        if (std::fabs(step - 1.0) < 1e-15) break;
    }
    return h;
}

double RegularizedBeta(double x, double a, double b)
{
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    // The fraction converges fast only on this side of the mean; use the
    // symmetry I_x(a, b) = 1 - I_{1-x}(b, a) on the other.
    if (x < (a + 1.0) / (a + b + 2.0)) return front * BetaFraction(a, b, x) / a;
    return 1.0 - front * BetaFraction(b, a, 1.0 - x) / b;
}

}  // namespace

double SampleStatistics::StudentTCdf(double t, double df)
{
    const double tail = 0.5 * RegularizedBeta(df / (df + t * t), 0.5 * df, 0.5);
    return t > 0.0 ? 1.0 - tail : tail;
}

double SampleStatistics::StudentTQuantile(double p, double df)
{
    if (!(p > 0.0 && p < 1.0) || !(df > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    if (p == 0.5) return 0.0;
    if (p < 0.5) return -StudentTQuantile(1.0 - p, df);
    // Bisection: slow but sure, and called a handful of times per summary.
    double low = 0.0, high = 1.0;
    while (StudentTCdf(high, df) < p && high < 1e12) high *= 2.0;
    for (int i = 0; i < 200 && high - low > 1e-13 * high; ++i) {
        const double mid = 0.5 * (low + high);
        (StudentTCdf(mid, df) < p ? low : high) = mid;
    }
    return 0.5 * (low + high);
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
