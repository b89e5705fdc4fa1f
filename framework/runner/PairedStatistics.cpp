#include "framework/runner/PairedStatistics.h"

#include "framework/runner/SampleStatistics.h"

#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Ranks of |d| from 1, tied values sharing the mean of their ranks; `tieTerm`
// gets the sum of t^3 - t over the groups of t tied values.
std::vector<double> MidRanks(const std::vector<double>& d, double& tieTerm)
{
    std::vector<size_t> order(d.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t i, size_t j) { return std::fabs(d[i]) < std::fabs(d[j]); });
    std::vector<double> rank(d.size());
    tieTerm = 0.0;
    for (size_t start = 0; start < order.size();) {
        size_t end = start + 1;
        while (end < order.size() && std::fabs(d[order[end]]) == std::fabs(d[order[start]])) ++end;
        const double mid = (start + 1 + end) / 2.0;
        for (size_t k = start; k < end; ++k) rank[order[k]] = mid;
        const double t = static_cast<double>(end - start);
        tieTerm += t * t * t - t;
        start = end;
    }
    return rank;
}

}  // namespace

std::vector<double> PairedStatistics::WilcoxonNullCounts(int n)
{
    // Adding rank r to the ranks 1..r-1: each pattern either leaves r out or
    // takes it, shifting its sum by r.
    std::vector<double> counts(1, 1.0);
    for (int r = 1; r <= n; ++r) {
        counts.resize(counts.size() + r, 0.0);
        for (size_t k = counts.size(); k-- > static_cast<size_t>(r);) counts[k] += counts[k - r];
    }
    return counts;
}

double PairedStatistics::WilcoxonExactP(int n, int w)
{
    const std::vector<double> counts = WilcoxonNullCounts(n);
    if (w < 0 || w >= static_cast<int>(counts.size())) return kNaN;
    double below = 0.0, above = 0.0;
    for (int k = 0; k <= w; ++k) below += counts[k];
    for (size_t k = w; k < counts.size(); ++k) above += counts[k];
    return std::min(1.0, 2.0 * std::min(below, above) / std::ldexp(1.0, n));
}

PairedStatistics PairedStatistics::Of(const std::vector<double>& a, const std::vector<double>& b)
{
    PairedStatistics s;
    const size_t n = std::min(a.size(), b.size());
    std::vector<double> d(n);
    for (size_t i = 0; i < n; ++i) d[i] = a[i] - b[i];
    const SampleStatistics diff = SampleStatistics::Of(d);
    s.n = static_cast<int>(n);
    s.meanDiff = diff.mean;
    s.ciLow = diff.Low();
    s.ciHigh = diff.High();
    s.t = s.pT = s.dz = kNaN;
    // Differences equal but for rounding (means of the same values summed in
    // another order) have no spread: a t of 1e16 would be an artefact.
    double largest = 0.0;
    for (double v : d) largest = std::max(largest, std::fabs(v));
    if (n >= 2 && diff.sd > 1e-12 * largest) {
        s.dz = diff.mean / diff.sd;
        s.t = s.dz * std::sqrt(static_cast<double>(n));
        const boost::math::students_t dist(static_cast<double>(n - 1));
        s.pT = 2.0 * boost::math::cdf(boost::math::complement(dist, std::fabs(s.t)));
    }

    std::vector<double> nonZero;
    for (double v : d)
        if (v != 0.0) nonZero.push_back(v);
    s.wilcoxonN = static_cast<int>(nonZero.size());
    s.w = s.pWilcoxon = kNaN;
    if (nonZero.empty()) return s;
    double tieTerm = 0.0;
    const std::vector<double> rank = MidRanks(nonZero, tieTerm);
    s.w = 0.0;
    for (size_t i = 0; i < nonZero.size(); ++i)
        if (nonZero[i] > 0.0) s.w += rank[i];
    const double m = static_cast<double>(nonZero.size());
    if (s.wilcoxonN <= ExactWilcoxonLimit && tieTerm == 0.0) {
        s.wilcoxonExact = true;
        s.pWilcoxon = WilcoxonExactP(s.wilcoxonN, static_cast<int>(s.w));
        return s;
    }
    const double mean = m * (m + 1.0) / 4.0;
    const double sd = std::sqrt((m * (m + 1.0) * (2.0 * m + 1.0) - 0.5 * tieTerm) / 24.0);
    const double distance = s.w - mean;
    const double corrected = distance - 0.5 * ((distance > 0.0) - (distance < 0.0));
    if (!(sd > 0.0)) return s;
    s.pWilcoxon = 2.0 * boost::math::cdf(boost::math::complement(boost::math::normal(), std::fabs(corrected / sd)));
    return s;
}

std::vector<double> PairedStatistics::Holm(const std::vector<double>& p)
{
    std::vector<size_t> order;
    for (size_t i = 0; i < p.size(); ++i)
        if (!std::isnan(p[i])) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t i, size_t j) { return p[i] < p[j]; });
    std::vector<double> adjusted(p.size(), kNaN);
    double running = 0.0;
    for (size_t k = 0; k < order.size(); ++k) {
        running = std::max(running, std::min(1.0, (order.size() - k) * p[order[k]]));
        adjusted[order[k]] = running;
    }
    return adjusted;
}
