#include "density/ParticleDensityField3D.h"

#include "density/EngineSwitches.h"
#include "density/HugePageBuffer.h"
#include "density/KernelSplat.h"
#include "density/ParallelParts.h"
#include "density/SlabBalance.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <vector>

#include <tbb/task_arena.h>

using density::KernelPlanes;
using density::PlaneRange;
using density::SplatPlanes;
using density::SplatScratch;
using density::UsableBandwidth;

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

// How many parts (slabs of planes, runs of particles) the work is cut into.
int ThreadCount(size_t particles, int planes)
{
    if (particles < kParallelMinParticles) return 1;
    int threads = std::min(tbb::this_task_arena::max_concurrency(), 16);
    const int limit = EngineSwitches::maxThreads.load(std::memory_order_relaxed);
    if (limit > 0) threads = std::min(threads, limit);
    return std::max(1, std::min(threads, planes));
}

// Runs body(first, last) over [0, count) split into `parts` contiguous parts.
template <class Body>
void ForEachRange(size_t count, int parts, Body body)
{
    parallel::ForEachPart(count, parts, [&](int, size_t first, size_t last) { body(first, last); });
}

// Splats every particle into every slab it reaches, particles in their order.
// There is one slab of consecutive planes per thread: every node belongs to
// one slab, so the sums match a single thread exactly, and each particle is
// set up once per slab it reaches, so the fewer slabs the better. The slab
// borders split the estimated work evenly: a particle's work in one of its
// planes is about the nodes of its kernel's cross-section. bandwidthOf(i)
// gives particle i's bandwidth.
template <class BandwidthOf>
void SplatAll(ScalarField3D& f, const std::vector<osg::Vec3f>& positions, size_t n, BandwidthOf bandwidthOf,
              bool normalise, int threads)
{
    // Which planes each particle reaches, found once, so that a slab skips
    // the particles it does not hold with one comparison.
    std::vector<PlaneRange> ranges(n);
    const size_t planes = static_cast<size_t>(f.zCount);
    // Per thread, the work added at each plane where a particle's planes
    // start and taken away where they end.
    std::vector<double> workSteps(static_cast<size_t>(threads) * (planes + 1), 0.0);
    const double xNodes = 2.0 / f.xStep, yNodes = 2.0 / f.yStep;
    parallel::ForEachPart(n, threads, [&](int t, size_t first, size_t last) {
        double* steps = workSteps.data() + static_cast<size_t>(t) * (planes + 1);
        for (size_t i = first; i < last; ++i) {
            const osg::Vec3f& h = bandwidthOf(i);
            ranges[i] = KernelPlanes(f, h.z(), positions[i].z());
            if (ranges[i].end <= ranges[i].first) continue;
            const double work = (h.x() * xNodes + 1.0) * (h.y() * yNodes + 1.0);
            steps[ranges[i].first] += work;
            steps[ranges[i].end] -= work;
        }
    });
    const std::vector<int> border = BalancedSlabBorders(workSteps, threads, f.zCount, threads);
    // Summed in a copy of the grid on huge pages where the system offers them.
    HugePageBuffer buffer(f.values.size());
    double* grid = buffer.data() ? buffer.data() : f.values.data();
    if (buffer.data()) std::copy(f.values.begin(), f.values.end(), grid);
    parallel::ForEachPart(static_cast<size_t>(threads), threads, [&](int t, size_t, size_t) {
        const int firstPlane = border[static_cast<size_t>(t)], endPlane = border[static_cast<size_t>(t) + 1];
        if (firstPlane >= endPlane) return;
        SplatScratch scratch(f.xCount, f.yCount, endPlane - firstPlane);
        for (size_t i = 0; i < n; ++i) {
            if (ranges[i].end <= firstPlane || ranges[i].first >= endPlane) continue;
            SplatPlanes(f, grid, bandwidthOf(i), positions[i], normalise, firstPlane, endPlane, scratch);
        }
    });
    if (buffer.data()) std::copy(grid, grid + f.values.size(), f.values.begin());
}

}  // namespace

ParticleDensityField3D::ParticleDensityField3D(double xMin_, double xMax_, int xCount_,
                                               double yMin_, double yMax_, int yCount_,
                                               double zMin_, double zMax_, int zCount_)
    : ScalarField3D(xMin_, xMax_, xCount_, yMin_, yMax_, yCount_, zMin_, zMax_, zCount_)
{
}

bool ParticleDensityField3D::SortAscending(double* a, int count)
{
    if (!a || count < 2) return true;
    // Pushing the larger part and continuing with the smaller keeps the number
    // of pending ranges below log2(count), so this stack never overflows. A
    // range that keeps splitting badly (organ pipes and other inputs that
    // defeat the middle-element pivot) is finished by heapsort once it has
    // been split 2·log2(count) times, so the sort never turns quadratic.
    struct Range {
        int l, r, depth;
    };
    Range stack[64];
    int top = 0;
    int depthLimit = 0;
    for (int c = count; c > 1; c >>= 1) depthLimit += 2;
    int l = 0, r = count - 1, depth = 0;
    for (;;) {
        if (r - l < kInsertionSortLimit || depth >= depthLimit) {
            if (r - l < kInsertionSortLimit) {
                for (int j = l + 1; j <= r; ++j) {
                    const double v = a[j];
                    int i = j - 1;
                    for (; i >= l && a[i] > v; --i) a[i + 1] = a[i];
                    a[i + 1] = v;
                }
            } else {
                std::make_heap(a + l, a + r + 1);
                std::sort_heap(a + l, a + r + 1);
            }
            if (top == 0) break;
            --top;
            l = stack[top].l;
            r = stack[top].r;
            depth = stack[top].depth;
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
        ++depth;
        if (r - i + 1 >= j - l) {
            stack[top++] = {i, r, depth};
            r = j - 1;
        } else {
            stack[top++] = {l, j - 1, depth};
            l = i;
        }
    }
    return true;
}

void ParticleDensityField3D::SplatKernel(const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                                         bool normalise)
{
    SplatScratch scratch(xCount, yCount, zCount);
    SplatPlanes(*this, values.data(), bandwidth, point, normalise, 0, zCount, scratch);
}

double ParticleDensityField3D::PilotDensity(const osg::Vec3f& bandwidth,
                                            const std::vector<osg::Vec3f>& positions,
                                            std::vector<double>& densities)
{
    const size_t n = positions.size();
    if (n == 0) return 0.0;
    densities.resize(n);
    const int threads = ThreadCount(n, zCount);

    SplatAll(*this, positions, n, [&](size_t) -> const osg::Vec3f& { return bandwidth; }, false, threads);
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

    SplatAll(*this, positions, n, [&](size_t i) -> const osg::Vec3f& { return local[i]; }, true, threads);
    Scale(kEpanechnikov / static_cast<double>(n));
}

bool ParticleDensityField3D::GlobalBandwidth(const std::vector<osg::Vec3f>& positions, osg::Vec3f& bandwidth) const
{
    const size_t n = positions.size();
    if (n < kMinParticles) return false;
    const size_t highIndex = std::min(static_cast<size_t>(std::ceil(0.8 * static_cast<double>(n))), n - 1);
    const size_t lowIndex = std::min(static_cast<size_t>(std::ceil(0.2 * static_cast<double>(n))), n - 1);
    const double logN = std::log(static_cast<double>(n));

    // Only the two quantiles of each axis are needed; selecting them gives the
    // very elements a full ascending sort would leave at those indices. The
    // axes are independent, so they are split over threads.
    double spread[3];
    const int threads = std::min(3, ThreadCount(n, 3));
    // Allocated here, not on the threads, so that the memory goes back to the
    // system afterwards instead of staying with a thread's heap.
    std::vector<std::vector<double>> axes(static_cast<size_t>(threads), std::vector<double>(n));
    parallel::ForEachPart(3, threads, [&](int t, size_t firstAxis, size_t lastAxis) {
        std::vector<double>& axis = axes[static_cast<size_t>(t)];
        for (size_t a = firstAxis; a < lastAxis; ++a) {
            for (size_t i = 0; i < n; ++i) axis[i] = positions[i][static_cast<int>(a)];
            std::nth_element(axis.begin(), axis.begin() + highIndex, axis.end());
            const double high = axis[highIndex];
            std::nth_element(axis.begin(), axis.begin() + lowIndex, axis.begin() + highIndex);
            spread[a] = std::fabs(high - axis[lowIndex]);
        }
    });
    float h[3];
    const double steps[3] = {xStep, yStep, zStep};
    const char names[3] = {'x', 'y', 'z'};
    for (int a = 0; a < 3; ++a) {
        h[a] = static_cast<float>(spread[a] * 2.0 / logN);
        if (!UsableBandwidth(h[a])) {
            h[a] = static_cast<float>(steps[a]);
            std::printf("Density: the %c coordinates have no spread between their 20%% and 80%% "
                        "quantiles; the %c bandwidth falls back to the node step %g\n",
                        names[a], names[a], static_cast<double>(h[a]));
        }
        if (!UsableBandwidth(h[a])) {
            std::printf("Density: the grid is flat on %c, so no bandwidth fits; the density stays zero\n",
                        names[a]);
            return false;
        }
    }
    bandwidth.set(h[0], h[1], h[2]);
    return true;
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

    osg::Vec3f bandwidth;
    if (!GlobalBandwidth(positions, bandwidth)) return;
    std::vector<double> densities(n, 0.0);
    const double mean = PilotDensity(bandwidth, positions, densities);
    AdaptiveDensity(bandwidth, densities, mean, positions);
}
