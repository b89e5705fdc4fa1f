// Density precomputation of one built-in-like mixture ("clusters" recipe) at
// 100k, 1M, 4M and 10M particles, with all hardware threads and with one thread.
#include "bench/ProcessUsage.h"
#include "density/EngineSwitches.h"
#include "density/ParticleDensityField3D.h"
#include "density/PreComputedDensity.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/FerrowDatasetManager.h"

#include <benchmark/benchmark.h>


namespace {

void LoadMixture(size_t count)
{
    FerrowDatasetManager::Destroy();
    BuiltInDataset d;
    BuiltInDatasets::Generate("clusters", d, count);
    FerrowDatasetManager::Instance()->Add("bench", d.positions, d.labels);
    // The estimate itself is measured, never a stored field from an earlier run.
    FerrowDatasetManager::Instance()->densityCache = false;
}

void ComputeDensities(benchmark::State& state, int threads)
{
    LoadMixture(static_cast<size_t>(state.range(0)));
    EngineSwitches::Scoped<int> threadLimit(EngineSwitches::maxThreads, threads);
    const double cpuBefore = bench::ProcessCpuSeconds();
    for (auto _ : state) {
        PreComputedDensity::Destroy();
        PreComputedDensity::Instance()->computeDensities();
        benchmark::DoNotOptimize(PreComputedDensity::Instance()->densities.back()->values.data());
    }
    // With other work on the machine, wall time stretches; the processor time
    // of all threads shows what the estimate itself costs.
    state.counters["allThreadsCpu_s"] = (bench::ProcessCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
    state.counters["peakRSS_MiB"] = bench::PeakResidentMiB();
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}

void BM_ComputeDensities(benchmark::State& state) { ComputeDensities(state, 0); }
void BM_ComputeDensitiesOneThread(benchmark::State& state) { ComputeDensities(state, 1); }

void BM_SortAscending(benchmark::State& state)
{
    BuiltInDataset d;
    BuiltInDatasets::Generate("clusters", d, static_cast<size_t>(state.range(0)));
    std::vector<double> xs(d.positions->size());
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t i = 0; i < xs.size(); ++i) xs[i] = (*d.positions)[i].x();
        state.ResumeTiming();
        ParticleDensityField3D::SortAscending(xs.data(), static_cast<int>(xs.size()));
    }
}

}  // namespace

BENCHMARK(BM_ComputeDensities)->Arg(100000)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond)->Iterations(3);
// Simulation scale; last, so that its peak resident memory is its own.
BENCHMARK(BM_ComputeDensities)->Arg(10000000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ComputeDensitiesOneThread)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SortAscending)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
