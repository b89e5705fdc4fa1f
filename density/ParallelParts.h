#pragma once
// ParallelParts: the engine's one helper for parallel loops over fixed
// borders (oneTBB underneath), for the density estimate, the volumes' masks
// and the lasso field. In: a count of items, how to cut it (a number of
// equal parts, or blocks of a fixed size) and a body. Out: the body run once
// per part, each part a task of its own. Cost: one task per part; a single
// part runs on the caller's thread without a task.
//
// The borders depend only on the count and the cut, never on how many
// threads take the tasks or how the scheduler groups them, so results that
// depend on the borders (sums in a part's order, words of a bit-packed mask
// written by one part only) are the same on every machine. An exception of
// the body reaches the caller once every task has stopped.
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

#include <algorithm>
#include <cstddef>

namespace parallel {

// part(t) for every t in [0, parts).
template <class Part>
void ForEachIndex(size_t parts, const Part& part)
{
    if (parts <= 1) {
        if (parts == 1) part(size_t(0));
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<size_t>(0, parts, 1),
        [&](const tbb::blocked_range<size_t>& r) {
            for (size_t t = r.begin(); t < r.end(); ++t) part(t);
        },
        tbb::simple_partitioner());
}

// body(t, first, last) for the t-th of `parts` contiguous parts of
// [0, count): [count·t/parts, count·(t + 1)/parts). At least one part runs,
// also for an empty count.
template <class Body>
void ForEachPart(size_t count, int parts, const Body& body)
{
    const size_t n = parts > 1 ? static_cast<size_t>(parts) : 1;
    ForEachIndex(n, [&](size_t t) { body(static_cast<int>(t), count * t / n, count * (t + 1) / n); });
}

// body(first, last) over [0, count) cut at the multiples of block.
template <class Body>
void ForEachBlock(size_t count, size_t block, const Body& body)
{
    const size_t b = std::max<size_t>(block, 1);
    if (count <= b) {
        body(size_t(0), count);
        return;
    }
    ForEachIndex((count + b - 1) / b, [&](size_t t) { body(t * b, std::min(count, (t + 1) * b)); });
}

}  // namespace parallel
