// The structure lasso and the point click against the density-aware lasso on
// 1M particles (64³ grid, two Gaussian blobs): building a volume with its
// first threshold, a threshold change, and a click (the dataset's first, and
// one once its particle cells are known). Run the pairs interleaved:
//   build/bench/bench_structure --benchmark_repetitions=5
#include "geometry/LassoProjection.h"
#include "geometry/MarchingCubesGeometry.h"
#include "geometry/PointGeometry.h"
#include "geometry/StructureGeometry.h"
#include "bench/TwoBlobWorld.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/LassoShapes.h"
#include "tests/support/SceneFixture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

struct World : TwoBlobWorld {
    World() : TwoBlobWorld(1000000, Circle(430, 320, 140, 400)) {}
};

World& TheWorld()
{
    static World world;
    return world;
}

template <class Volume>
void Build(benchmark::State& state)
{
    World& w = TheWorld();
    for (auto _ : state) {
        Volume v(w.grid->particles.get(), w.scene->viewer.get(), w.lasso, osg::Matrixf());
        v.UpdateThreshold(1.0);
        benchmark::DoNotOptimize(v.mask);
    }
}

template <class Volume>
void Threshold(benchmark::State& state)
{
    World& w = TheWorld();
    Volume v(w.grid->particles.get(), w.scene->viewer.get(), w.lasso, osg::Matrixf());
    double f = 1.0;
    for (auto _ : state) {
        f = f == 1.0 ? 1.5 : 1.0;
        v.UpdateThreshold(f);
        benchmark::DoNotOptimize(v.mask);
    }
}

void Click(benchmark::State& state)
{
    World& w = TheWorld();
    for (auto _ : state) {
        PointGeometry v(w.grid->particles.get(), w.scene->viewer.get(), osg::Vec2f(430, 320), osg::Matrixf());
        v.UpdateThreshold(1.0);
        benchmark::DoNotOptimize(v.mask);
    }
}

// A click once the dataset's particle cells are known, as every click but a
// dataset's first one runs: the selection keeps them from its first volume.
void ClickWithKnownCells(benchmark::State& state)
{
    World& w = TheWorld();
    PointGeometry first(w.grid->particles.get(), w.scene->viewer.get(), osg::Vec2f(430, 320), osg::Matrixf());
    first.UpdateThreshold(1.0);
    for (auto _ : state) {
        PointGeometry v(w.grid->particles.get(), w.scene->viewer.get(), osg::Vec2f(430, 320), osg::Matrixf());
        v.particleCells = first.particleCells;
        v.UpdateThreshold(1.0);
        benchmark::DoNotOptimize(v.mask);
    }
}

}  // namespace

BENCHMARK_TEMPLATE(Build, MarchingCubesGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Build, StructureGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Threshold, MarchingCubesGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Threshold, StructureGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Click)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ClickWithKnownCells)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
