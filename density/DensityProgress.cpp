#include "density/DensityProgress.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

std::atomic<int> currentDataset{-1}, currentCount{0}, currentStage{DensityProgress::Idle};
std::atomic<bool> lastCached{false};
std::mutex listenerMutex;
std::function<void(const DensityProgress::Snapshot&)> listener;

}  // namespace

double DensityProgress::Snapshot::Fraction() const
{
    if (count <= 0 || dataset < 0) return 0.0;
    // A dataset being estimated counts half done: looking it up is quick, the
    // estimate is most of the time.
    const double within = stage == Done ? 1.0 : stage == Estimating ? 0.5 : 0.0;
    return (dataset + within) / count;
}

DensityProgress::Snapshot DensityProgress::Current()
{
    Snapshot s;
    s.dataset = currentDataset;
    s.count = currentCount;
    s.stage = static_cast<Stage>(currentStage.load());
    s.cached = lastCached;
    return s;
}

void DensityProgress::Report(int dataset, int count, Stage stage, bool cached)
{
    currentCount = count;
    currentDataset = dataset;
    lastCached = cached;
    currentStage = stage;
    std::lock_guard<std::mutex> lock(listenerMutex);
    if (listener) listener(Current());
}

void DensityProgress::SetListener(std::function<void(const Snapshot&)> l)
{
    std::lock_guard<std::mutex> lock(listenerMutex);
    listener = std::move(l);
}
