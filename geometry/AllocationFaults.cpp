#include "geometry/AllocationFaults.h"

#include <atomic>
#include <new>

namespace {

// Checks left to pass before a failing one; negative when disarmed.
std::atomic<int> checksLeft{-1};
// Checks that fail in a row once the passing ones are used up.
std::atomic<int> failing{0};

}  // namespace

void AllocationFaults::FailAfter(int n, int times)
{
    failing.store(n < 0 ? 0 : times);
    checksLeft.store(n < 0 ? -1 : n);
}

void AllocationFaults::Check()
{
    int left = checksLeft.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (checksLeft.compare_exchange_weak(left, left - 1)) {
            if (left > 0) return;
            // This check fails; the next one too while failures are left.
            if (failing.fetch_sub(1) > 1) checksLeft.store(0);
            throw std::bad_alloc();
        }
    }
}
