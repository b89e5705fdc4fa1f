#pragma once
// DensityProgress: where the density precomputation stands, for a progress
// display on another thread (Pravik's window) or a listener on the computing
// thread (trellan-select's standard error). In: the precomputation's steps.
// Out: a snapshot at any time. Cost: a few atomic stores per dataset.
#include <functional>

class DensityProgress {
public:
    enum Stage { Idle, Looking, Estimating, Done };
    struct Snapshot {
        int dataset = -1;  // 0-based number of the dataset being worked on
        int count = 0;     // datasets in this precomputation
        Stage stage = Idle;
        bool cached = false;  // the last finished dataset came from the cache
        // Share of the whole precomputation done, 0..1.
        double Fraction() const;
    };

    static Snapshot Current();
    // Called by the precomputation.
    static void Report(int dataset, int count, Stage stage, bool cached = false);
    // Called on the computing thread after every report; empty to stop.
    static void SetListener(std::function<void(const Snapshot&)> listener);
};
