// The structure lasso and the point click against the density-aware lasso on
// 1M particles (64³ grid, two Gaussian blobs): building a volume with its
// first threshold, and a threshold change. Run the pairs interleaved:
//   build/bench/bench_structure --benchmark_repetitions=5
#include "geometry/LassoProjection.h"
#include "geometry/MarchingCubesGeometry.h"
#include "geometry/PointGeometry.h"
#include "geometry/StructureGeometry.h"
#include "tests/support/HandDensityGrid.h"
#include "tests/support/LassoShapes.h"
#include "tests/support/SceneFixture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>

namespace {

struct World {
    World()
    {
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        osg::ref_ptr<osg::Vec3Array> particles = new osg::Vec3Array;
        for (int i = 0; i < 1000000; ++i) particles->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
        grid.reset(new HandDensityGrid(particles.get()));
        ScalarField3D& d = *grid->density;
        for (int iz = 0; iz < 64; ++iz)
            for (int iy = 0; iy < 64; ++iy)
                for (int ix = 0; ix < 64; ++ix) {
                    const osg::Vec3f p = LassoProjection::NodePosition(d, ix, iy, iz);
                    const double a = (p - osg::Vec3f(0.2f, 0.1f, 0)).length2(), b = (p - osg::Vec3f(-0.4f, -0.2f, 0.3f)).length2();
                    d.values[static_cast<size_t>(d.NodeIndex(ix, iy, iz))] = std::exp(-a / 0.05) + 0.5 * std::exp(-b / 0.02);
                }
        scene.reset(new SceneFixture(particles.get()));
        scene->LookAt(osg::Vec3d(1, 2, 6), osg::Vec3d(0, 0, 0), osg::Vec3d(0, 1, 0));
        lasso = Circle(430, 320, 140, 400);
        scene->PaintLassoImage(lasso);
    }
    std::unique_ptr<HandDensityGrid> grid;
    std::unique_ptr<SceneFixture> scene;
    std::vector<osg::Vec2f> lasso;
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

}  // namespace

BENCHMARK_TEMPLATE(Build, MarchingCubesGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Build, StructureGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Threshold, MarchingCubesGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(Threshold, StructureGeometry)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Click)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
