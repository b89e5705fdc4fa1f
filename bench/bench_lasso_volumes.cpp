// Building the two lasso volumes on the 64³ grid from a 500-point lasso, and
// re-thresholding the density-aware one over a million particles.
#include "geometry/CylinderGeometry.h"
#include "geometry/LassoProjection.h"
#include "geometry/MarchingCubesGeometry.h"
#include "bench/TwoBlobWorld.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/SceneFixture.h"

#include <benchmark/benchmark.h>
#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

// A hand-drawn-looking closed lasso around the viewport centre.
std::vector<osg::Vec2f> WobblyLasso(int n)
{
    std::vector<osg::Vec2f> points;
    for (int i = 0; i < n; ++i) {
        const double a = 2.0 * 3.14159265358979323846 * i / n;
        const double r = 140.0 + 25.0 * std::sin(5.0 * a) + 10.0 * std::cos(11.0 * a);
        points.push_back(osg::Vec2f(static_cast<float>(400.0 + r * std::cos(a)),
                                    static_cast<float>(300.0 + 0.8 * r * std::sin(a))));
    }
    return points;
}

// One scene, dataset and density grid for all benchmarks: particles uniform in
// [-1, 1]³, density two Gaussian blobs on the grid.
struct World : TwoBlobWorld {
    explicit World(int particleCount) : TwoBlobWorld(particleCount, WobblyLasso(500)) {}
};

// With --benchmark_repetitions, the least time of the runs: on a shared
// machine the one least disturbed by other work.
double Least(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

World& Shared(int particles)
{
    static std::unique_ptr<World> world;
    static int count = -1;
    if (count != particles) {
        world.reset();
        world.reset(new World(particles));
        count = particles;
    }
    return *world;
}

// The signed distance of every node by the full scan over the lasso points,
// the cost that the tile lists and the tree remove.
void BM_LassoFieldFullScan(benchmark::State& state)
{
    World& w = Shared(1000);
    LassoProjection projection(w.scene->viewer.get(), w.lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    ScalarField3D& g = *w.grid->density;
    std::vector<double> out(g.values.size());
    for (auto _ : state) {
        for (int iz = 0; iz < 64; ++iz)
            for (int iy = 0; iy < 64; ++iy)
                for (int ix = 0; ix < 64; ++ix)
                    out[static_cast<size_t>(g.NodeIndex(ix, iy, iz))] = projection.ScreenSignedDistance(
                        projection.EyePosition(LassoProjection::NodePosition(g, ix, iy, iz)));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_LassoFieldFullScan)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

void BM_LassoFieldFast(benchmark::State& state)
{
    World& w = Shared(1000);
    LassoProjection projection(w.scene->viewer.get(), w.lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    ScalarField3D field(-1, 1, 64, -1, 1, 64, -1, 1, 64);
    for (auto _ : state) {
        projection.FillField(field);
        benchmark::DoNotOptimize(field.values.data());
    }
}
BENCHMARK(BM_LassoFieldFast)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

// The same field with nanoflann's k-d tree for the nearest lasso point, on one
// thread (compare processor time with BM_LassoFieldFast, which spreads over
// threads). Fails unless every distance equals FillField's bit for bit.
struct LassoPointCloud {
    const std::vector<osg::Vec2f>& points;
    size_t kdtree_get_point_count() const { return points.size(); }
    double kdtree_get_pt(size_t i, size_t axis) const { return points[i][static_cast<unsigned>(axis)]; }
    template <class Box>
    bool kdtree_get_bbox(Box&) const { return false; }
};

void BM_LassoFieldNanoflann(benchmark::State& state)
{
    World& w = Shared(1000);
    LassoProjection projection(w.scene->viewer.get(), w.lasso, osg::Matrixf(), LassoImageBounds::IncludeLeftBottomEdge);
    ScalarField3D reference(-1, 1, 64, -1, 1, 64, -1, 1, 64);
    projection.FillField(reference);
    using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, LassoPointCloud>,
                                                     LassoPointCloud, 2, uint32_t>;
    const LassoPointCloud cloud{w.lasso};
    std::vector<double> distance(reference.values.size());
    size_t differ = 0;
    for (auto _ : state) {
        Tree tree(2, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(8));
        for (int iz = 0; iz < 64; ++iz)
            for (int iy = 0; iy < 64; ++iy)
                for (int ix = 0; ix < 64; ++ix) {
                    const osg::Vec3d win = projection.WindowPosition(
                        projection.EyePosition(LassoProjection::NodePosition(reference, ix, iy, iz)));
                    const double query[2] = {win.x(), win.y()};
                    uint32_t nearest = 0;
                    double d2 = 0.0;
                    tree.knnSearch(query, 1, &nearest, &d2);
                    distance[static_cast<size_t>(reference.NodeIndex(ix, iy, iz))] = std::sqrt(d2);
                }
        benchmark::DoNotOptimize(distance.data());
    }
    for (size_t i = 0; i < distance.size(); ++i) differ += distance[i] != std::fabs(reference.values[i]);
    state.counters["differ"] = static_cast<double>(differ);
    if (differ) state.SkipWithError("nanoflann's distances differ from FillField's");
}
BENCHMARK(BM_LassoFieldNanoflann)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

// Whole construction: capture, field, extraction and mask.
void BM_BuildCylinder(benchmark::State& state)
{
    World& w = Shared(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CylinderGeometry c(w.grid->particles.get(), w.scene->viewer.get(), w.lasso, osg::Matrixf());
        benchmark::DoNotOptimize(c.mask);
    }
}
BENCHMARK(BM_BuildCylinder)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

// Construction only: capture, s at every node and ρ̄.
void BM_BuildMarchingCubes(benchmark::State& state)
{
    World& w = Shared(1000000);
    for (auto _ : state) {
        MarchingCubesGeometry m(w.grid->particles.get(), w.scene->viewer.get(), w.lasso, osg::Matrixf());
        benchmark::DoNotOptimize(m.meanDensity);
    }
}
BENCHMARK(BM_BuildMarchingCubes)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

void BM_UpdateThreshold(benchmark::State& state)
{
    World& w = Shared(1000000);
    MarchingCubesGeometry m(w.grid->particles.get(), w.scene->viewer.get(), w.lasso, osg::Matrixf());
    double factor = 0.9;
    for (auto _ : state) {
        m.UpdateThreshold(factor);
        factor = factor == 0.9 ? 1.1 : 0.9;
        benchmark::DoNotOptimize(m.mask);
    }
    state.counters["triangles"] = static_cast<double>(m.GetSurface().triangles.size());
}
BENCHMARK(BM_UpdateThreshold)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->ComputeStatistics("min", Least);

}  // namespace

BENCHMARK_MAIN();
