#pragma once
// DensityWorker: the visualization's density precomputation. In: the study
// datasets of FerrowDatasetManager. Out: their fields in PreComputedDensity,
// computed either on a thread of its own (Start, then Done once every field
// is complete) or on the caller's (Finish), and what the screen shows
// meanwhile: a progress line and a progress bar. Cost: the estimate itself;
// the worker adds one thread. Fields that an earlier visualization of this
// process computed are reused; fields this worker computed are destroyed
// with it, so its owner must drop every volume over them first.
#include <atomic>
#include <string>
#include <thread>

class DensityWorker {
public:
    DensityWorker() = default;
    ~DensityWorker();
    DensityWorker(const DensityWorker&) = delete;
    DensityWorker& operator=(const DensityWorker&) = delete;

    // Every dataset has its field (possibly from an earlier visualization).
    static bool Computed();
    // Starts the worker thread unless it runs or ran.
    void Start();
    bool Running() const { return worker.joinable(); }
    // The worker has stored its last field (or failed).
    bool Done() const { return done; }
    // Waits for the worker, or computes on this thread when none ran and
    // fields are missing. Returns once every field that can exist does.
    void Finish();
    // Waits for a running worker.
    void Wait();

    // "Computing densities of <name> (n of m)…"; empty without datasets.
    static std::string ProgressLine();
    // The share done as a bar centred in the 3D area (l, b, w, h in view
    // pixels); the band height sizes its thickness. Plain GL.
    static void DrawProgressBar(double l, double b, double w, double h, double bandHeight);

private:
    std::thread worker;
    // Set by the worker as its last step; nothing reads a field before.
    std::atomic<bool> done{false};
    bool owns = false; // this worker ran the precomputation
};
