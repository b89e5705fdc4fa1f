#include "framework/runner/WriteFaults.h"

#include <algorithm>
#include <atomic>

namespace {

// Writes left to pass before the disk is "full"; negative when disarmed.
std::atomic<int> writesLeft{-1};
std::atomic<bool> full{false};
std::atomic<size_t> partialBytes{0};

}  // namespace

void WriteFaults::FailAfter(int n, size_t partial)
{
    partialBytes.store(partial);
    full.store(false);
    writesLeft.store(n < 0 ? -1 : n);
}

void WriteFaults::Clear()
{
    writesLeft.store(-1);
    full.store(false);
}

size_t WriteFaults::Allowed(size_t size, bool& fails)
{
    fails = false;
    if (!full.load(std::memory_order_relaxed)) {
        int left = writesLeft.load(std::memory_order_relaxed);
        while (left >= 0 && !writesLeft.compare_exchange_weak(left, left - 1)) {
        }
        if (left != 0) return size;
        full.store(true);
    }
    fails = true;
    return std::min(size, partialBytes.load());
}
