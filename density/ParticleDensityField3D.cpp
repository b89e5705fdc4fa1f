#include "density/ParticleDensityField3D.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

// 15/(8π): the normalisation of the three-dimensional Epanechnikov kernel.
const double kEpanechnikov = 0.5968310365946075;
// The quantile rule needs ⌈0.8·n⌉ < n and ln n > 0.
const size_t kMinParticles = 5;
// No local bandwidth grows beyond this many node steps.
const double kBandwidthCapInSteps = 10.0;
// Ranges this short are finished by straight insertion.
const int kInsertionSortLimit = 7;
// Below this many kernel evaluations threads cost more than they save.
const size_t kParallelMinParticles = 20000;

// Where a kernel's support starts on one axis: the first node index not more
// than one bandwidth below the particle and its bandwidth-scaled offset.
struct AxisStart {
    int index;
    double offset;
};

// Returns false when the support lies entirely beyond the last node, so the
// start index is never formed from an out-of-range (or infinite) quotient.
bool StartOnAxis(double min, double p, double h, double s, int count, AxisStart& start)
{
    const double u0 = (min - p) / h;
    if (u0 < -1.0) {
        const double skip = (std::fabs(u0) - 1.0) / s;
        if (!(skip < count)) return false;
        start.index = static_cast<int>(skip);
        start.offset = u0 + start.index * s;
    } else {
        start.index = 0;
        start.offset = u0;
    }
    return true;
}

bool UsableBandwidth(double h) { return h > 0.0 && std::isfinite(h); }

std::atomic<int> maxThreads{0};

int ThreadCount(size_t particles, int planes)
{
    if (particles < kParallelMinParticles) return 1;
    const unsigned hw = std::thread::hardware_concurrency();
    int threads = hw == 0 ? 1 : static_cast<int>(std::min(hw, 16u));
    const int limit = maxThreads.load();
    if (limit > 0) threads = std::min(threads, limit);
    return std::max(1, std::min(threads, planes));
}

// Runs body(first, last) over [0, count) split into `threads` contiguous parts.
template <class Body>
void ForEachRange(size_t count, int threads, Body body)
{
    if (threads <= 1) {
        body(size_t(0), count);
        return;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        const size_t first = count * t / threads, last = count * (t + 1) / threads;
        pool.emplace_back([=] { body(first, last); });
    }
    for (std::thread& th : pool) th.join();
}

// Runs body(plane, planeStride) on `threads` threads, each owning the planes
// congruent to its number: every node is written by one thread only, and that
// thread adds the particles in their order, so sums match a single thread.
template <class Body>
void ForEachPlaneSet(int threads, Body body)
{
    if (threads <= 1) {
        body(0, 1);
        return;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back([=] { body(t, threads); });
    for (std::thread& th : pool) th.join();
}

}  // namespace

ParticleDensityField3D::ParticleDensityField3D(double xMin_, double xMax_, int xCount_,
                                               double yMin_, double yMax_, int yCount_,
                                               double zMin_, double zMax_, int zCount_)
    : ScalarField3D(xMin_, xMax_, xCount_, yMin_, yMax_, yCount_, zMin_, zMax_, zCount_)
{
}

void ParticleDensityField3D::SetMaxThreads(int threads) { maxThreads.store(threads < 0 ? 0 : threads); }

bool ParticleDensityField3D::SortAscending(double* a, int count)
{
    if (!a || count < 2) return true;
    // Pushing the larger part and continuing with the smaller keeps the number
    // of pending ranges below log2(count), so this stack never overflows.
    int stack[2 * 64];
    int top = 0;
    int l = 0, r = count - 1;
    for (;;) {
        if (r - l < kInsertionSortLimit) {
            for (int j = l + 1; j <= r; ++j) {
                const double v = a[j];
                int i = j - 1;
                for (; i >= l && a[i] > v; --i) a[i + 1] = a[i];
                a[i + 1] = v;
            }
            if (top == 0) break;
            r = stack[--top];
            l = stack[--top];
            continue;
        }
        const int mid = l + (r - l) / 2;
        std::swap(a[mid], a[l + 1]);
        if (a[l] > a[r]) std::swap(a[l], a[r]);
        if (a[l + 1] > a[r]) std::swap(a[l + 1], a[r]);
        if (a[l + 1] > a[l]) std::swap(a[l + 1], a[l]);
        const double pivot = a[l];
        int i = l + 1, j = r;
        for (;;) {
            do ++i; while (a[i] < pivot);
            do --j; while (a[j] > pivot);
            if (j < i) break;
            std::swap(a[i], a[j]);
        }
        a[l] = a[j];
        a[j] = pivot;
        if (r - i + 1 >= j - l) {
            stack[top++] = i;
            stack[top++] = r;
            r = j - 1;
        } else {
            stack[top++] = l;
            stack[top++] = j - 1;
            l = i;
        }
    }
    return true;
}

void ParticleDensityField3D::SplatKernel(const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                                         bool normalise)
{
    SplatPlanes(bandwidth, point, normalise, 0, 1);
}

void ParticleDensityField3D::SplatPlanes(const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                                         bool normalise, int firstPlane, int planeStride)
{
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();
    if (!UsableBandwidth(hx) || !UsableBandwidth(hy) || !UsableBandwidth(hz)) return;

    // Node spacing in bandwidth units; a flat or non-finite grid has no nodes
    // that a kernel could reach one by one.
    const double sx = (xMax - xMin) / (hx * (xCount - 1));
    const double sy = (yMax - yMin) / (hy * (yCount - 1));
    const double sz = (zMax - zMin) / (hz * (zCount - 1));
    if (!UsableBandwidth(sx) || !UsableBandwidth(sy) || !UsableBandwidth(sz)) return;
    const double sx2 = sx * sx;
    const double divisor = normalise ? hx * hy * hz : 1.0;

    AxisStart xs, ys, zs;
    if (!StartOnAxis(xMin, point.x(), hx, sx, xCount, xs)) return;
    if (!StartOnAxis(yMin, point.y(), hy, sy, yCount, ys)) return;
    if (!StartOnAxis(zMin, point.z(), hz, sz, zCount, zs)) return;

    double* v = values.data();
    double uz = zs.offset;
    for (int iz = zs.index; iz < zCount && uz <= 1.0; ++iz, uz += sz) {
        // Every plane's offset is still reached by the same chain of
        // additions; only the work inside the plane is left to its owner.
        if (iz % planeStride != firstPlane) continue;
        double* plane = v + static_cast<size_t>(sliceSize) * iz;
        double uy = ys.offset;
        for (int iy = ys.index; iy < yCount && uy <= 1.0; ++iy, uy += sy) {
            double* row = plane + static_cast<size_t>(xCount) * iy;
            int ix = xs.index;
            const double ux = xs.offset;
            double q = ux * ux + uy * uy + uz * uz;
            double p = ux * sx;
            // Walk in from the left edge of the support without touching nodes.
            if (p < 0.0) {
                while (q > 1.0 && ix < xCount) {
                    ++ix;
                    q = q + 2.0 * p + sx2;
                    p = p + sx2;
                    if (p >= 0.0) break;
                }
            }
            while (ix < xCount && q <= 1.0) {
                row[ix] += (1.0 - q) / divisor;
                ++ix;
                q = q + 2.0 * p + sx2;
                p = p + sx2;
            }
        }
    }
}

double ParticleDensityField3D::PilotDensity(const osg::Vec3f& bandwidth,
                                            const std::vector<osg::Vec3f>& positions,
                                            std::vector<double>& densities)
{
    const size_t n = positions.size();
    if (n == 0) return 0.0;
    densities.resize(n);
    const int threads = ThreadCount(n, zCount);

    ForEachPlaneSet(threads, [&](int firstPlane, int stride) {
        for (const osg::Vec3f& p : positions) SplatPlanes(bandwidth, p, false, firstPlane, stride);
    });
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();
    Scale(kEpanechnikov / (static_cast<double>(n) * hx * hy * hz));

    ForEachRange(n, threads, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) densities[i] = Sample(positions[i]);
    });
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += densities[i];

    std::fill(values.begin(), values.end(), 0.0);
    return sum / static_cast<double>(n);
}

void ParticleDensityField3D::AdaptiveDensity(const osg::Vec3f& bandwidth,
                                             const std::vector<double>& densities, double mean,
                                             const std::vector<osg::Vec3f>& positions)
{
    const size_t n = std::min(positions.size(), densities.size());
    if (n == 0) return;
    const int threads = ThreadCount(n, zCount);

    const double capX = kBandwidthCapInSteps * xStep;
    const double capY = kBandwidthCapInSteps * yStep;
    const double capZ = kBandwidthCapInSteps * zStep;
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();

    // λ shrinks the kernel where the pilot density is above the mean. A pilot
    // density of 0 (or a mean of 0, which means every density is 0) would
    // divide by zero; such a particle simply gets the cap on every axis.
    std::vector<osg::Vec3f> local(n);
    ForEachRange(n, threads, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            float lx = static_cast<float>(capX), ly = static_cast<float>(capY),
                  lz = static_cast<float>(capZ);
            if (mean > 0.0 && densities[i] > 0.0) {
                const double lambda = std::sqrt(densities[i] / mean);
                const float bx = static_cast<float>(hx / lambda);
                const float by = static_cast<float>(hy / lambda);
                const float bz = static_cast<float>(hz / lambda);
                if (bx < capX) lx = bx;
                if (by < capY) ly = by;
                if (bz < capZ) lz = bz;
            }
            local[i].set(lx, ly, lz);
        }
    });

    ForEachPlaneSet(threads, [&](int firstPlane, int stride) {
        for (size_t i = 0; i < n; ++i) SplatPlanes(local[i], positions[i], true, firstPlane, stride);
    });
    Scale(kEpanechnikov / static_cast<double>(n));
}

void ParticleDensityField3D::ComputeDensity(const std::vector<osg::Vec3f>& positions)
{
    const size_t n = positions.size();
    if (n < kMinParticles) {
        std::printf("Density: %zu particle(s) are too few for an estimate (at least %zu needed); "
                    "the density stays zero\n", n, kMinParticles);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const osg::Vec3f& p = positions[i];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
            std::printf("Density: particle %zu has a non-finite coordinate; the density stays zero\n", i);
            return;
        }
    }

    const size_t highIndex = std::min(static_cast<size_t>(std::ceil(0.8 * static_cast<double>(n))), n - 1);
    const size_t lowIndex = std::min(static_cast<size_t>(std::ceil(0.2 * static_cast<double>(n))), n - 1);
    const double logN = std::log(static_cast<double>(n));

    // Only the two quantiles of each axis are needed; selecting them gives the
    // very elements a full ascending sort would leave at those indices.
    std::vector<double> axis(n);
    float h[3];
    const double steps[3] = {xStep, yStep, zStep};
    const char names[3] = {'x', 'y', 'z'};
    for (int a = 0; a < 3; ++a) {
        for (size_t i = 0; i < n; ++i) axis[i] = positions[i][a];
        std::nth_element(axis.begin(), axis.begin() + highIndex, axis.end());
        const double high = axis[highIndex];
        std::nth_element(axis.begin(), axis.begin() + lowIndex, axis.begin() + highIndex);
        const double low = axis[lowIndex];
        h[a] = static_cast<float>(std::fabs(high - low) * 2.0 / logN);
        if (!UsableBandwidth(h[a])) {
            h[a] = static_cast<float>(steps[a]);
            std::printf("Density: the %c coordinates have no spread between their 20%% and 80%% "
                        "quantiles; the %c bandwidth falls back to the node step %g\n",
                        names[a], names[a], static_cast<double>(h[a]));
        }
        if (!UsableBandwidth(h[a])) {
            std::printf("Density: the grid is flat on %c, so no bandwidth fits; the density stays zero\n",
                        names[a]);
            return;
        }
    }
    std::vector<double>().swap(axis);

    const osg::Vec3f bandwidth(h[0], h[1], h[2]);
    std::vector<double> densities(n, 0.0);
    const double mean = PilotDensity(bandwidth, positions, densities);
    AdaptiveDensity(bandwidth, densities, mean, positions);
}
