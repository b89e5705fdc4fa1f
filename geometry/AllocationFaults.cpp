#include "geometry/AllocationFaults.h"

#include "density/EngineSwitches.h"

#include <new>

void AllocationFaults::Check()
{
    // Checks left to pass before the failing one; negative when disarmed.
    std::atomic<int>& checksLeft = EngineSwitches::allocationFaultAfter;
    int left = checksLeft.load(std::memory_order_relaxed);
    while (left >= 0) {
        if (checksLeft.compare_exchange_weak(left, left - 1)) {
            if (left > 0) return;
            // This check fails; the next one too while failures are left.
            if (EngineSwitches::allocationFaultRepeats.fetch_sub(1) > 1) checksLeft.store(0);
            throw std::bad_alloc();
        }
    }
}
