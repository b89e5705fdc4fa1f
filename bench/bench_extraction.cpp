// Iso-surface extraction, the per-particle surface test and the memory of one
// selection volume, on the 64³ grid that every volume uses.
//
// The field is a few overlapping blobs (a realistic selection surface of some
// 10⁴ triangles); the particles crowd around the blobs the way a dataset's
// dense structures do, with a uniform share spread over the whole box.
#include "geometry/SelectionGeometry.h"
#include "geometry/SurfaceMembership.h"
#include "tests/support/GridFixture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

namespace {

constexpr int kNodes = 64;

void FillBlobs(ScalarField3D& f)
{
    const double centres[4][3] = {{20, 22, 30}, {40, 35, 28}, {30, 45, 40}, {45, 18, 42}};
    const double sigma[4] = {6, 8, 5, 7};
    for (int iz = 0; iz < f.zCount; ++iz)
        for (int iy = 0; iy < f.yCount; ++iy)
            for (int ix = 0; ix < f.xCount; ++ix) {
                double v = -0.3;
                for (int b = 0; b < 4; ++b) {
                    const double dx = ix - centres[b][0], dy = iy - centres[b][1], dz = iz - centres[b][2];
                    v += std::exp(-(dx * dx + dy * dy + dz * dz) / (2 * sigma[b] * sigma[b]));
                }
                f.values[f.NodeIndex(ix, iy, iz)] = v;
            }
}

osg::ref_ptr<osg::Vec3Array> Particles(size_t count)
{
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 7.0f);
    std::uniform_real_distribution<float> u(0.0f, kNodes - 1);
    const float centres[4][3] = {{20, 22, 30}, {40, 35, 28}, {30, 45, 40}, {45, 18, 42}};
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    cloud->reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (i % 10 < 7) {
            const float* c = centres[i % 4];
            cloud->push_back(osg::Vec3f(c[0] + g(rng), c[1] + g(rng), c[2] + g(rng)));
        } else {
            cloud->push_back(osg::Vec3f(u(rng), u(rng), u(rng)));
        }
    }
    return cloud;
}

// A volume whose field is the blob function; the benchmarks drive its steps.
class BlobVolume : public SelectionGeometry {
public:
    explicit BlobVolume(osg::Vec3Array* positions) : SelectionGeometry(positions)
    {
        field = CreateFieldOnCurrentGrid();
        FillBlobs(*field);
        field->ExtractIsoSurface(0.0);
    }
    using SelectionGeometry::ComputeMaskFromField;
};

// Repeated extraction on one field: the threshold-change path.
void BM_ExtractIsoSurface(benchmark::State& state)
{
    ScalarField3D field(0, kNodes - 1, kNodes, 0, kNodes - 1, kNodes, 0, kNodes - 1, kNodes);
    FillBlobs(field);
    field.ExtractIsoSurface(0.0);
    for (auto _ : state) {
        field.ExtractIsoSurface(0.0);
        benchmark::DoNotOptimize(field.surface.triangles.data());
    }
    state.counters["triangles"] = static_cast<double>(field.surface.triangles.size());
    state.counters["vertices"] = static_cast<double>(field.surface.vertices.size());
}
BENCHMARK(BM_ExtractIsoSurface)->Unit(benchmark::kMillisecond);

// First extraction on a new field: includes building the cell records, as
// for every newly constructed volume.
void BM_ExtractIsoSurfaceNewField(benchmark::State& state)
{
    ScalarField3D filled(0, kNodes - 1, kNodes, 0, kNodes - 1, kNodes, 0, kNodes - 1, kNodes);
    FillBlobs(filled);
    for (auto _ : state) {
        state.PauseTiming();
        {
            ScalarField3D field = filled;
            state.ResumeTiming();
            field.ExtractIsoSurface(0.0);
            benchmark::DoNotOptimize(field.surface.triangles.data());
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ExtractIsoSurfaceNewField)->Unit(benchmark::kMillisecond);

// IsWithinBounds + IsInsideSurface for a million particles, as the mask is
// computed (threads where the machine has them); processor time of all threads.
void MaskParticles(benchmark::State& state, size_t count)
{
    GridFixture grid(0, kNodes - 1, kNodes);
    osg::ref_ptr<osg::Vec3Array> cloud = Particles(count);
    BlobVolume volume(cloud.get());
    for (auto _ : state) {
        volume.ComputeMaskFromField();
        benchmark::ClobberMemory();
    }
    size_t inside = 0;
    for (bool m : volume.mask)
        inside += m;
    state.counters["inside"] = static_cast<double>(inside);
}
void BM_MaskMillionParticles(benchmark::State& state) { MaskParticles(state, 1000000); }
BENCHMARK(BM_MaskMillionParticles)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();
// Simulation scale.
void BM_MaskTenMillionParticles(benchmark::State& state) { MaskParticles(state, 10000000); }
BENCHMARK(BM_MaskTenMillionParticles)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The same test on one thread, as each thread runs it.
void BM_MaskMillionParticlesOneThread(benchmark::State& state)
{
    GridFixture grid(0, kNodes - 1, kNodes);
    osg::ref_ptr<osg::Vec3Array> cloud = Particles(1000000);
    BlobVolume volume(cloud.get());
    const SurfaceMembership test(*volume.field);
    for (auto _ : state) {
        test.ContainsRange(&(*cloud)[0], 0, cloud->size(), volume.mask);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MaskMillionParticlesOneThread)->Unit(benchmark::kMillisecond);

// Point by point through IsWithinBounds and IsInsideSurface, the path of
// callers that test single points.
void BM_ContainsPointByPoint(benchmark::State& state)
{
    GridFixture grid(0, kNodes - 1, kNodes);
    osg::ref_ptr<osg::Vec3Array> cloud = Particles(1000000);
    BlobVolume volume(cloud.get());
    const ScalarField3D& f = *volume.field;
    for (auto _ : state) {
        for (size_t i = 0; i < cloud->size(); ++i)
            volume.mask[i] = f.IsWithinBounds((*cloud)[i]) && f.IsInsideSurface((*cloud)[i]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ContainsPointByPoint)->Unit(benchmark::kMillisecond);

// Bytes held by one selection volume (field values, cell records, mesh), not
// counting the shared particle positions; reported as counters.
void BM_VolumeMemory(benchmark::State& state)
{
    GridFixture grid(0, kNodes - 1, kNodes);
    osg::ref_ptr<osg::Vec3Array> cloud = new osg::Vec3Array;
    BlobVolume volume(cloud.get());
    for (auto _ : state)
        benchmark::DoNotOptimize(volume.field.get());
    const ScalarField3D& f = *volume.field;
    const double values = f.values.capacity() * sizeof(double);
    const double cells = (f.cells.cutBits.capacity() + f.cells.noCornerBelowBits.capacity()) * sizeof(uint64_t) +
                         (f.cells.cutCellsBefore.capacity() + f.cells.cutCells.capacity() +
                          f.cells.classWords.capacity()) *
                             sizeof(uint32_t) +
                         f.cells.triangles.capacity() * sizeof(CellTriangle) +
                         (f.cells.cornerX.capacity() + f.cells.cornerY.capacity() + f.cells.cornerZ.capacity()) *
                             sizeof(float);
    const double mesh = f.surface.vertices.capacity() * sizeof(osg::Vec3f) +
                        f.surface.triangles.capacity() * sizeof(TriangleIndices);
    state.counters["values_MB"] = values / 1e6;
    state.counters["cells_MB"] = cells / 1e6;
    state.counters["mesh_MB"] = mesh / 1e6;
    state.counters["total_MB"] = (values + cells + mesh + sizeof(ScalarField3D)) / 1e6;
}
BENCHMARK(BM_VolumeMemory)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
