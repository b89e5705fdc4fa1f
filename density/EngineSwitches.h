#pragma once
// EngineSwitches: the switches tests and benchmarks flip, to compare the
// engine's paths with one another or to make it fail where memory runs out.
// Nothing else sets them; every result is the same for every setting but
// the allocation fault's. In: a Scoped guard around the code under test.
// Out: the engine reads the switch where it chooses a path. Cost: one
// relaxed atomic load per choice.
//
// Each switch is set through a Scoped guard, so a failing test cannot leave
// one set for the next.
#include <atomic>

namespace EngineSwitches {

// Upper bound on the vector instructions of every dispatch (the level of
// SharedCpuFeatures.h): 0 (or 1) plain scalar code, 2 AVX2 with fused
// multiply-adds, 3 AVX-512 (the default). The processor's own limit applies.
extern std::atomic<int> simdLevel;
// Upper bound on the worker threads of the density estimate; 0 (the
// default) allows one per hardware thread.
extern std::atomic<int> maxThreads;
// The point test's vector paths: cut cells eight corners at a time, points
// with known cells eight at a time. On by default.
extern std::atomic<bool> vectorPointTest;
// The lasso field's vector paths: its row transform and tile scan, the
// construction's pixel flags. On by default.
extern std::atomic<bool> vectorLassoScan;
// Allocation checks (AllocationFaults::Check) left to pass before one throws
// std::bad_alloc, once; negative (the default) when none is armed.
extern std::atomic<int> allocationFaultAfter;
// How many checks in a row throw once the armed one comes up (counted down
// as they do); 1 by default.
extern std::atomic<int> allocationFaultRepeats;
// Whether a lasso is clipped to the view, with a margin, before its volume is
// built. On by default; off, the volume is built from every point drawn.
extern std::atomic<bool> lassoClippedToView;

// Holds a switch at a value for the guard's lifetime and puts back the value
// it found, also when a test fails half-way.
template <class T>
class Scoped {
public:
    Scoped(std::atomic<T>& held, T value) : held(held), before(held.exchange(value)) {}
    ~Scoped() { held.store(before); }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;
    // Another value for the rest of the guard's life.
    void Set(T value) { held.store(value); }

private:
    std::atomic<T>& held;
    const T before;
};

}  // namespace EngineSwitches
