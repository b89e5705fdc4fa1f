// The interactive paths of the selection facade on a 1,000,000-particle
// dataset: a density-aware lasso from window points to mask (after the frame
// that captures it; the capture is painted by hand here), a threshold change on
// the newest lasso, undo and redo, and the memory of a six-state history; the
// threshold change on a minus lasso and undo and redo also on 10,000,000.
#include "bench/ProcessUsage.h"
#include "framework/study/BuiltInDatasets.h"
#include "framework/study/FerrowManager.h"
#include "tests/support/SelectionSession.h"

#include <benchmark/benchmark.h>
#include <osg/BoundingBox>

#include <cmath>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <string>

namespace {

const double kPi = 3.14159265358979323846;

// Bytes the heap has handed out and not taken back.
double heapMiB()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

// The session on the built-in clusters dataset, looked at from the front.
struct Session {
    explicit Session(size_t count) : count(count)
    {
        BuiltInDataset clusters;
        BuiltInDatasets::Generate("clusters", clusters, count);
        SelectionSessionOptions options;
        options.viewportWidth = 1024;
        options.viewportHeight = 768;
        options.labels = clusters.labels;
        hosted.reset(new SelectionSession(clusters.positions.get(), options));
        osg::BoundingBox box;
        for (const osg::Vec3& p : *hosted->data.particles) box.expandBy(p);
        const double r = box.radius();
        hosted->scene.LookAt(box.center() + osg::Vec3d(0, 0, 3 * r), box.center(), osg::Vec3d(0, 1, 0), 40.0, r, 5 * r);
        selection = hosted->selection.get();
        FerrowManager::Instance()->SetTechnique(FerrowManager::PravikTechnique);
    }
    // A 500-point circular lasso of radius r pixels around the viewport centre.
    std::vector<osg::Vec2f> circle(double r, double cx = 512, double cy = 384)
    {
        std::vector<osg::Vec2f> p;
        for (int i = 0; i < 500; ++i)
            p.push_back(osg::Vec2f(cx + r * std::cos(2 * kPi * i / 500), cy + r * std::sin(2 * kPi * i / 500)));
        return p;
    }
    void lasso(int mode, const std::vector<osg::Vec2f>& p) { hosted->DrawLasso(mode, p); }
    void build() { hosted->Build(); }

    size_t count;
    std::unique_ptr<SelectionSession> hosted;
    ParticleSelection* selection = nullptr;
};

// One session at a time: the dataset and density singletons hold one dataset.
Session& session(size_t count = 1000000)
{
    static std::unique_ptr<Session> s;
    if (!s || s->count != count) {
        s.reset();
        s.reset(new Session(count));
    }
    return *s;
}

void BM_BuildGeometryDensityAware(benchmark::State& state)
{
    Session& s = session();
    for (auto _ : state) {
        state.PauseTiming();
        s.selection->ResetSelection();
        s.lasso(1, s.circle(250));
        state.ResumeTiming();
        s.build();
    }
}
BENCHMARK(BM_BuildGeometryDensityAware)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Moves the threshold from 0.5 to 2.0 in steps of 0.1 and round again, one
// updateSelection per iteration; reports the processor time of all threads.
void MoveThresholdSlider(benchmark::State& state, Session& s)
{
    float t = 0.5f;
    const double cpuBefore = bench::ProcessCpuSeconds();
    for (auto _ : state) {
        s.selection->updateSelection(t);
        t = t > 2.0f ? 0.5f : t + 0.1f;
    }
    state.counters["allThreadsCpu_ms"] = 1e3 * (bench::ProcessCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
}

void BM_ThresholdChangeOnFirstLasso(benchmark::State& state)
{
    Session& s = session();
    s.selection->ResetSelection();
    s.lasso(1, s.circle(250));
    s.build();
    MoveThresholdSlider(state, s);
    state.SetLabel("the lasso's volume is the state itself");
}
BENCHMARK(BM_ThresholdChangeOnFirstLasso)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void ThresholdChangeOnMinusLasso(benchmark::State& state, size_t count)
{
    Session& s = session(count);
    s.selection->ResetSelection();
    s.lasso(1, s.circle(250));
    s.build();
    s.lasso(2, s.circle(120, 600, 384));  // a minus lasso: the state is a combination
    s.build();
    MoveThresholdSlider(state, s);
    state.SetLabel("a minus lasso: re-threshold plus a new combined state");
}
void BM_ThresholdChangeOnNewestLasso(benchmark::State& state) { ThresholdChangeOnMinusLasso(state, 1000000); }
BENCHMARK(BM_ThresholdChangeOnNewestLasso)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void UndoRedo(benchmark::State& state, size_t count)
{
    Session& s = session(count);
    s.selection->ResetSelection();
    s.lasso(1, s.circle(250));
    s.build();
    s.lasso(1, s.circle(100, 800, 200));
    s.build();
    for (auto _ : state) {
        s.selection->undoLastSelection();
        s.selection->redoLastSelection();
    }
    state.SetLabel("one undo plus one redo per iteration");
}
void BM_UndoRedo(benchmark::State& state) { UndoRedo(state, 1000000); }
BENCHMARK(BM_UndoRedo)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SixStateHistoryMemory(benchmark::State& state)
{
    Session& s = session();
    s.selection->ResetSelection();
    for (auto _ : state) {
        state.PauseTiming();
        s.selection->ResetSelection();
        s.selection->ClearSelection();
        s.selection->ResetSelection();  // only the empty state is left
        const double before = heapMiB();
        for (int i = 0; i < 5; ++i) {
            s.lasso(1, s.circle(60 + 30 * i, 300 + 80 * i, 384));
            s.build();
        }
        state.counters["history_MiB"] = heapMiB() - before;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SixStateHistoryMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Simulation scale, last: building its session (the density estimate of 10M
// particles) takes seconds and replaces the 1M one.
void BM_ThresholdChangeOnNewestLassoTenMillion(benchmark::State& state)
{
    ThresholdChangeOnMinusLasso(state, 10000000);
}
BENCHMARK(BM_ThresholdChangeOnNewestLassoTenMillion)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_UndoRedoTenMillion(benchmark::State& state) { UndoRedo(state, 10000000); }
BENCHMARK(BM_UndoRedoTenMillion)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
