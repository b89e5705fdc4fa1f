#include "density/ParticleDensityField3D.h"

#include "density/EngineSwitches.h"
#include "framework/study/BuiltInDatasets.h"
#include "tests/density/ReferenceDensity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

const double kKernel = 0.5968310365946075;

// The box computeDensities would give these particles.
ParticleDensityField3D FieldAround(const std::vector<osg::Vec3f>& pos, int nodes = 64)
{
    float lo[3] = {1000, 1000, 1000}, hi[3] = {-1000, -1000, -1000};
    for (const osg::Vec3f& p : pos)
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    for (int a = 0; a < 3; ++a) {
        const float e = hi[a] - lo[a];
        lo[a] = static_cast<float>(lo[a] - 0.05 * e);
        hi[a] = static_cast<float>(hi[a] + 0.05 * e);
    }
    return ParticleDensityField3D(lo[0], hi[0], nodes, lo[1], hi[1], nodes, lo[2], hi[2], nodes);
}

size_t BitDifferences(const std::vector<double>& a, const std::vector<double>& b)
{
    size_t d = 0;
    for (size_t i = 0; i < a.size(); ++i) d += std::memcmp(&a[i], &b[i], sizeof(double)) != 0;
    return d + (a.size() != b.size());
}

std::vector<osg::Vec3f> BuiltIn(const char* name, size_t count)
{
    BuiltInDataset d;
    BuiltInDatasets::Generate(name, d, count);
    return d.positions->asVector();
}

}  // namespace

TEST(ParticleDensityField3D, SplatPatternOfAUnitKernel)
{
    // Node steps 0.5, bandwidth 1, particle on node (4, 4, 4).
    ParticleDensityField3D f(0, 4, 9, 0, 4, 9, 0, 4, 9);
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(2, 2, 2), false);
    int touched = 0;
    for (int z = 0; z < 9; ++z)
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x) {
                const int off = std::abs(x - 4) + std::abs(y - 4) + std::abs(z - 4);
                const bool near = std::abs(x - 4) <= 1 && std::abs(y - 4) <= 1 && std::abs(z - 4) <= 1;
                const double expected = near ? 1.0 - 0.25 * off : 0.0;
                EXPECT_DOUBLE_EQ(f.values[f.NodeIndex(x, y, z)], expected) << x << "," << y << "," << z;
                touched += f.values[f.NodeIndex(x, y, z)] != 0.0;
            }
    EXPECT_EQ(touched, 27);
    EXPECT_EQ(f.values[f.NodeIndex(4, 4, 4)], 1.0);
    // Two steps away on one axis is scaled distance exactly 1: nothing.
    EXPECT_EQ(f.values[f.NodeIndex(6, 4, 4)], 0.0);
    EXPECT_EQ(f.values[f.NodeIndex(4, 2, 4)], 0.0);

    // Normalised with bandwidth 2 the centre receives 1/8.
    ParticleDensityField3D g(0, 4, 9, 0, 4, 9, 0, 4, 9);
    g.SplatKernel(osg::Vec3f(2, 2, 2), osg::Vec3f(2, 2, 2), true);
    EXPECT_DOUBLE_EQ(g.values[g.NodeIndex(4, 4, 4)], 1.0 / 8.0);
    EXPECT_DOUBLE_EQ(g.values[g.NodeIndex(5, 4, 4)], (1.0 - 0.0625) / 8.0);
}

TEST(ParticleDensityField3D, SplatKernelStaysInsideTheGrid)
{
    ParticleDensityField3D f(0, 4, 9, 0, 4, 9, 0, 4, 9);
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    // More than one bandwidth outside on any axis: nothing.
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(-1.01f, 2, 2), false);
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(2, 5.01f, 2), false);
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(2, 2, 1e30f), false);
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(-inf, 2, 2), false);
    f.SplatKernel(osg::Vec3f(1, 1, 1), osg::Vec3f(nan, 2, 2), false);
    f.SplatKernel(osg::Vec3f(0, 1, 1), osg::Vec3f(2, 2, 2), false);
    f.SplatKernel(osg::Vec3f(-1, 1, 1), osg::Vec3f(2, 2, 2), false);
    f.SplatKernel(osg::Vec3f(nan, 1, 1), osg::Vec3f(2, 2, 2), false);
    EXPECT_EQ(f.Mean(), 0.0);

    // A kernel larger than the grid, centred on a corner, fills what it covers.
    f.SplatKernel(osg::Vec3f(100, 100, 100), osg::Vec3f(0, 0, 0), false);
    for (double v : f.values) EXPECT_GT(v, 0.99);
    // A kernel much smaller than a step reaches only the node it sits on.
    ParticleDensityField3D g(0, 4, 9, 0, 4, 9, 0, 4, 9);
    g.SplatKernel(osg::Vec3f(0.01f, 0.01f, 0.01f), osg::Vec3f(4, 4, 4), false);
    EXPECT_EQ(g.values[g.NodeIndex(8, 8, 8)], 1.0);
    EXPECT_DOUBLE_EQ(g.Mean() * g.nodeCount, 1.0);
}

TEST(ParticleDensityField3D, QuantileBandwidthRule)
{
    ParticleDensityField3D f(-1, 200, 64, -1, 200, 64, -1, 200, 64);
    std::vector<osg::Vec3f> pos;
    std::mt19937 g(7);
    std::vector<int> order(100);
    for (int i = 0; i < 100; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), g);
    for (int i = 0; i < 100; ++i) pos.push_back(osg::Vec3f(order[i], 2.0f * order[i], 100 - order[i]));
    osg::Vec3f h;
    ASSERT_TRUE(f.GlobalBandwidth(pos, h));
    // n = 100: sorted[80] − sorted[20].
    EXPECT_EQ(h.x(), static_cast<float>(60.0 * 2.0 / std::log(100.0)));
    EXPECT_EQ(h.y(), static_cast<float>(120.0 * 2.0 / std::log(100.0)));
    EXPECT_EQ(h.z(), static_cast<float>(60.0 * 2.0 / std::log(100.0)));

    // n = 5: indices 4 and 1.
    std::vector<osg::Vec3f> five = {{4, 0, 0}, {0, 10, 0}, {3, 30, 1}, {1, 20, 0}, {2, 40, 0}};
    ASSERT_TRUE(f.GlobalBandwidth(five, h));
    EXPECT_EQ(h.x(), static_cast<float>(3.0 * 2.0 / std::log(5.0)));
    EXPECT_EQ(h.y(), static_cast<float>(30.0 * 2.0 / std::log(5.0)));
    // z: sorted 0 0 0 0 1 -> |1 − 0|.
    EXPECT_EQ(h.z(), static_cast<float>(2.0 / std::log(5.0)));
}

TEST(ParticleDensityField3D, DegenerateInputIsGuarded)
{
    // Fewer than 5 particles: zero field and one line.
    ParticleDensityField3D f(0, 1, 8, 0, 1, 8, 0, 1, 8);
    testing::internal::CaptureStdout();
    f.ComputeDensity({{0.5f, 0.5f, 0.5f}, {0.4f, 0.5f, 0.5f}, {0.5f, 0.4f, 0.5f}, {0.5f, 0.5f, 0.4f}});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(out.find("4 particle"), std::string::npos) << out;
    EXPECT_EQ(f.Mean(), 0.0);
    ParticleDensityField3D e(0, 1, 8, 0, 1, 8, 0, 1, 8);
    testing::internal::CaptureStdout();
    e.ComputeDensity({});
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(e.Mean(), 0.0);

    // Planar data: z has no spread, its bandwidth becomes the z node step.
    std::vector<osg::Vec3f> planar;
    for (int i = 0; i < 400; ++i) planar.push_back(osg::Vec3f((i % 20) * 0.05f, (i / 20) * 0.05f, 0.5f));
    ParticleDensityField3D p(-0.1, 1.1, 16, -0.1, 1.1, 16, 0, 1, 16);
    osg::Vec3f h;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(p.GlobalBandwidth(planar, h));
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(h.z(), static_cast<float>(p.zStep));
    EXPECT_NE(out.find("z bandwidth falls back to the node step"), std::string::npos) << out;
    testing::internal::CaptureStdout();
    p.ComputeDensity(planar);
    testing::internal::GetCapturedStdout();
    double sum = 0.0;
    for (double v : p.values) {
        ASSERT_TRUE(std::isfinite(v));
        sum += v;
    }
    EXPECT_GT(sum, 0.0);

    // A grid flat on an axis cannot hold any kernel: zero field, one line.
    ParticleDensityField3D flat(-0.1, 1.1, 16, -0.1, 1.1, 16, 0.5, 0.5, 16);
    testing::internal::CaptureStdout();
    flat.ComputeDensity(planar);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("flat on z"), std::string::npos) << out;
    EXPECT_EQ(flat.Mean(), 0.0);

    // Non-finite coordinates are refused.
    std::vector<osg::Vec3f> bad = planar;
    bad[7].z() = std::numeric_limits<float>::infinity();
    ParticleDensityField3D b(-0.1, 1.1, 16, -0.1, 1.1, 16, 0, 1, 16);
    testing::internal::CaptureStdout();
    b.ComputeDensity(bad);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("particle 7"), std::string::npos) << out;
    EXPECT_EQ(b.Mean(), 0.0);
}

TEST(ParticleDensityField3D, LocalBandwidthFollowsLambdaUpToTheCap)
{
    // Steps of 1; global bandwidth 2: a particle at the mean keeps it, one
    // at a ten-thousandth of the mean would get 200 and is capped at 10.
    const osg::Vec3f h(2, 2, 2);
    const osg::Vec3f at(31.5f, 31.5f, 31.5f);
    auto adaptive = [&](double density, double mean) {
        ParticleDensityField3D f(0, 63, 64, 0, 63, 64, 0, 63, 64);
        f.AdaptiveDensity(h, {density}, mean, {at});
        return f.values;
    };
    auto splat = [&](const osg::Vec3f& bw) {
        ParticleDensityField3D f(0, 63, 64, 0, 63, 64, 0, 63, 64);
        f.SplatKernel(bw, at, true);
        f.Scale(kKernel);
        return f.values;
    };
    EXPECT_EQ(BitDifferences(adaptive(3.0, 3.0), splat(h)), 0u);
    EXPECT_EQ(BitDifferences(adaptive(4.0, 1.0), splat(osg::Vec3f(1, 1, 1))), 0u);
    const std::vector<double> cap = splat(osg::Vec3f(10, 10, 10));
    EXPECT_EQ(BitDifferences(adaptive(1e-4, 1.0), cap), 0u);
    // A zero pilot density, or a zero mean, also gets the cap and no NaN.
    EXPECT_EQ(BitDifferences(adaptive(0.0, 1.0), cap), 0u);
    EXPECT_EQ(BitDifferences(adaptive(0.0, 0.0), cap), 0u);
}

TEST(ParticleDensityField3D, FinalDensityMatchesTheClosedFormSum)
{
    const std::vector<osg::Vec3f> pos = BuiltIn("clusters", 3000);
    ParticleDensityField3D f = FieldAround(pos, 32);
    f.ComputeDensity(pos);

    // Recompute the pilot densities and local bandwidths independently.
    ParticleDensityField3D pilot = FieldAround(pos, 32);
    osg::Vec3f h;
    ASSERT_TRUE(pilot.GlobalBandwidth(pos, h));
    std::vector<double> d(pos.size());
    const double mean = pilot.PilotDensity(h, pos, d);
    ASSERT_GT(mean, 0.0);
    const double steps[3] = {f.xStep, f.yStep, f.zStep};
    std::vector<osg::Vec3f> local(pos.size());
    for (size_t i = 0; i < pos.size(); ++i)
        for (int a = 0; a < 3; ++a) {
            const double lambda = std::sqrt(d[i] / mean);
            local[i][a] = std::min(static_cast<float>(h[a] / lambda), static_cast<float>(10 * steps[a]));
        }

    int checked = 0;
    double peak = 0.0;
    for (double v : f.values) peak = std::max(peak, v);
    for (int z = 2; z < 32; z += 7)
        for (int y = 3; y < 32; y += 5)
            for (int x = 1; x < 32; x += 6) {
                const double nx = f.xMin + x * f.xStep, ny = f.yMin + y * f.yStep, nz = f.zMin + z * f.zStep;
                double sum = 0.0;
                for (size_t i = 0; i < pos.size(); ++i) {
                    const double ux = (nx - pos[i].x()) / local[i].x(), uy = (ny - pos[i].y()) / local[i].y(),
                                 uz = (nz - pos[i].z()) / local[i].z();
                    const double q = ux * ux + uy * uy + uz * uz;
                    if (q <= 1.0)
                        sum += kKernel * (1.0 - q) /
                               (static_cast<double>(local[i].x()) * local[i].y() * local[i].z());
                }
                sum /= static_cast<double>(pos.size());
                EXPECT_NEAR(f.values[f.NodeIndex(x, y, z)], sum, 1e-9 * peak + 1e-9 * sum) << x << "," << y << "," << z;
                ++checked;
            }
    EXPECT_GT(checked, 100);
    EXPECT_GT(peak, 0.0);
}

TEST(ParticleDensityField3D, MatchesThePlainEstimateBitForBitOnAnyThreadCountAndVectorWidth)
{
    for (const char* name : {"clusters", "disk", "filaments"}) {
        const std::vector<osg::Vec3f> pos = BuiltIn(name, 25000);
        ParticleDensityField3D f = FieldAround(pos);
        f.ComputeDensity(pos);
        reference::Grid r(f.xMin, f.xMax, 64, f.yMin, f.yMax, 64, f.zMin, f.zMax, 64);
        r.ComputeDensity(pos);
        EXPECT_EQ(BitDifferences(f.values, r.values), 0u) << name;

        EngineSwitches::Scoped<int> threads(EngineSwitches::maxThreads, 1);
        ParticleDensityField3D one = FieldAround(pos);
        one.ComputeDensity(pos);
        threads.Set(3);
        ParticleDensityField3D three = FieldAround(pos);
        three.ComputeDensity(pos);
        threads.Set(0);
        EXPECT_EQ(BitDifferences(f.values, one.values), 0u) << name;
        EXPECT_EQ(BitDifferences(f.values, three.values), 0u) << name;

        // Every row walk (scalar, AVX2 runs, AVX-512) gives the same bits.
        for (int level = 0; level < 3; ++level) {
            EngineSwitches::Scoped<int> simd(EngineSwitches::simdLevel, level);
            ParticleDensityField3D narrow = FieldAround(pos);
            narrow.ComputeDensity(pos);
            EXPECT_EQ(BitDifferences(f.values, narrow.values), 0u) << name << " simd level " << level;
        }
    }
    // Integrates to about one over the box.
    const std::vector<osg::Vec3f> pos = BuiltIn("clusters", 40000);
    ParticleDensityField3D f = FieldAround(pos);
    f.ComputeDensity(pos);
    const double volume = (f.xMax - f.xMin) * (f.yMax - f.yMin) * (f.zMax - f.zMin);
    EXPECT_NEAR(f.Mean() * volume, 1.0, 0.1);
}

TEST(ParticleDensityField3D, KernelsFarNarrowerThanANodeStepMatchTheLiteralWalk)
{
    // Bandwidths of 1e-5 node steps and less: the walk's steps along a row
    // are so large that its Q carries rounding errors beyond the margin by
    // which rows that cannot write are left out. The particles lie around
    // the node at the origin (where floats resolve such distances), just
    // beyond the kernel's reach in z, where only those errors decide whether
    // the node is written.
    std::mt19937 rng(25);
    std::uniform_real_distribution<double> unit(-1.0, 1.0), beyond(2e-6, 1e-4);
    size_t differences = 0, written = 0;
    for (double width : {1e-5, 3e-6, 1e-6, 3e-7, 1e-7}) {
        ParticleDensityField3D f(-7, 8, 16, -7, 8, 16, -7, 8, 16);
        reference::Grid r(-7, 8, 16, -7, 8, 16, -7, 8, 16);
        const osg::Vec3f h(static_cast<float>(width), static_cast<float>(width), static_cast<float>(width));
        for (int i = 0; i < 2000; ++i) {
            const double across = std::sqrt(1.0 + beyond(rng));
            const osg::Vec3f p(static_cast<float>(unit(rng) * 0.01 * width), static_cast<float>(unit(rng) * 0.01 * width),
                               static_cast<float>((i % 4 < 2 ? across : -across) * width));
            f.SplatKernel(h, p, i % 2 == 0);
            r.Splat(h, p, i % 2 == 0);
        }
        differences += BitDifferences(f.values, r.values);
        written += r.values[r.Index(7, 7, 7)] != 0.0;
    }
    EXPECT_EQ(differences, 0u);
    EXPECT_GT(written, 0u) << "no kernel reached the node";
}

TEST(ParticleDensityField3D, SortAscendingAlwaysCompletes)
{
    auto check = [](std::vector<double> v, const char* what) {
        std::vector<double> expected = v;
        std::sort(expected.begin(), expected.end());
        EXPECT_TRUE(ParticleDensityField3D::SortAscending(v.data(), static_cast<int>(v.size()))) << what;
        EXPECT_EQ(v, expected) << what;
    };
    for (int n = 0; n <= 20; ++n) {
        std::vector<double> v(n);
        for (int i = 0; i < n; ++i) v[i] = (i * 7919) % 13 - 6.5;
        check(v, "small");
    }
    const int n = 1000000;
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = i;
    check(v, "sorted");
    std::reverse(v.begin(), v.end());
    check(v, "reverse");
    check(std::vector<double>(n, 3.25), "all equal");
    for (int i = 0; i < n; ++i) v[i] = i < n / 2 ? i : n - i;
    check(v, "organ pipe");
    for (int i = 0; i < n; ++i) v[i] = i % 2 ? i : -i;
    check(v, "zig-zag");
    // Median-of-three killer: middle elements hold the largest values.
    for (int i = 0; i < n; ++i) v[i] = (i % 2 == 0) ? i : n + (i % 1000);
    check(v, "alternating blocks");
    std::mt19937_64 g(42);
    for (int i = 0; i < n; ++i) v[i] = static_cast<double>(g() >> 11) * 1e-3;
    check(v, "random");
    for (int i = 0; i < n; ++i) v[i] = static_cast<double>(g() % 4);
    check(v, "few distinct");
}
