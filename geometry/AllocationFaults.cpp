#include "geometry/AllocationFaults.h"

#include <atomic>
#include <new>

namespace {

// Checks left to pass before the failing one; negative when disarmed.
std::atomic<int> checksLeft{-1};

}  // namespace

void AllocationFaults::FailAfter(int n) { checksLeft.store(n < 0 ? -1 : n); }

void AllocationFaults::Check()
{
    int left = checksLeft.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (checksLeft.compare_exchange_weak(left, left - 1)) {
            if (left == 0) throw std::bad_alloc();
            return;
        }
    }
}
