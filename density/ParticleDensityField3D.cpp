#include "density/ParticleDensityField3D.h"
#include "density/EngineSwitches.h"
#include "density/ExactQuotient.h"
#include "density/SharedCpuFeatures.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <immintrin.h>
#include <limits>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <stdlib.h>
#include <sys/mman.h>

namespace {

// 15/(8π): the normalisation of the three-dimensional Epanechnikov kernel.
const double kEpanechnikov = 0.5968310365946075;
// The quantile rule needs ⌈0.8·n⌉ < n and ln n > 0.
const size_t kMinParticles = 5;
// No local bandwidth grows beyond this many node steps.
const double kBandwidthCapInSteps = 10.0;
// Ranges this short are finished by straight insertion.
const int kInsertionSortLimit = 7;
// Below this many kernel evaluations threads cost more than they save.
const size_t kParallelMinParticles = 20000;

// Where a kernel's support starts on one axis: the first node index not more
// than one bandwidth below the particle and its bandwidth-scaled offset.
struct AxisStart {
    int index;
    double offset;
};

// Returns false when the support lies entirely beyond the last node, so the
// start index is never formed from an out-of-range (or infinite) quotient.
bool StartOnAxis(double min, double p, double h, double s, int count, AxisStart& start)
{
    const double u0 = (min - p) / h;
    if (u0 < -1.0) {
        const double skip = (std::fabs(u0) - 1.0) / s;
        if (!(skip < count)) return false;
        start.index = static_cast<int>(skip);
        start.offset = u0 + start.index * s;
    } else {
        start.index = 0;
        start.offset = u0;
    }
    return true;
}

bool UsableBandwidth(double h) { return h > 0.0 && std::isfinite(h); }

// How many parts (slabs of planes, runs of particles) the work is cut into.
int ThreadCount(size_t particles, int planes)
{
    if (particles < kParallelMinParticles) return 1;
    int threads = std::min(tbb::this_task_arena::max_concurrency(), 16);
    const int limit = EngineSwitches::maxThreads.load(std::memory_order_relaxed);
    if (limit > 0) threads = std::min(threads, limit);
    return std::max(1, std::min(threads, planes));
}

// Runs body(t, first, last) for the t-th of `parts` contiguous parts of
// [0, count), each part a task of its own. The borders depend only on count
// and parts, never on how many threads take the tasks; an exception of body
// reaches the caller once every task has stopped.
template <class Body>
void ForEachPart(size_t count, int parts, Body body)
{
    if (parts <= 1) {
        body(0, size_t(0), count);
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<int>(0, parts, 1),
        [&](const tbb::blocked_range<int>& r) {
            for (int t = r.begin(); t < r.end(); ++t)
                body(t, count * static_cast<size_t>(t) / static_cast<size_t>(parts),
                     count * static_cast<size_t>(t + 1) / static_cast<size_t>(parts));
        },
        tbb::simple_partitioner());
}

// Runs body(first, last) over [0, count) split into `parts` contiguous parts.
template <class Body>
void ForEachRange(size_t count, int parts, Body body)
{
    ForEachPart(count, parts, [&](int, size_t first, size_t last) { body(first, last); });
}

// The rows of a kernel's support, as parallel arrays: where each row's nodes
// start and Q at its first visited node. Both arrays run on past the last
// row to a whole number of lanes, so lock-step walks can load full vectors:
// the extra lanes start at Q = +∞, so they never write; they add zeros to a
// spare row of their own (had they shared a real row, each addition would
// wait for the one before).
struct KernelRows {
    double* const* row;
    const double* q0;
    size_t count;
};

// The most rows walked in lock-step.
const size_t kMaxLanes = 16;

// The walk along one row, node by node: every row of one kernel starts at the
// same node index with the same P, and Q and P advance by additions only.
void SplatRowScalar(double* row, int ix, int xCount, double q, double p, double sx2, double divisor)
{
    // Walk in from the left edge of the support without touching nodes.
    if (p < 0.0) {
        while (q > 1.0 && ix < xCount) {
            ++ix;
            q = q + 2.0 * p + sx2;
            p = p + sx2;
            if (p >= 0.0) break;
        }
    }
    while (ix < xCount && q <= 1.0) {
        row[ix] += (1.0 - q) / divisor;
        ++ix;
        q = q + 2.0 * p + sx2;
        p = p + sx2;
    }
}

// Lock-step state of eight rows (two vectors of four lanes): Q per lane,
// which lanes are still alive and which have written.
struct LaneState {
    __m256d q[2];
    __m256d alive[2];
    __m256d wrote[2];
};

// One node step of the walk for all eight lanes. Lane l goes through exactly
// the Q values the scalar walk gives its row (the same additions in the same
// order, no fused operations). An alive lane writes where Q ≤ 1; it dies at
// the first Q > 1 after it has written, or at the first Q > 1 once P ≥ 0
// (a row that missed the support). w receives the contributions (1 − Q),
// +0.0 where a lane does not write, and writes the lanes that write.
// v[k] holds one step of four rows (row k in lane l is node ix + k of row l);
// a 4 × 4 transpose turns them into four consecutive nodes per row, added there.
__attribute__((target("avx"), always_inline)) inline void AddTransposed(double* const* rows, int ix, const __m256d v[4])
{
    const __m256d t0 = _mm256_unpacklo_pd(v[0], v[1]);
    const __m256d t1 = _mm256_unpackhi_pd(v[0], v[1]);
    const __m256d t2 = _mm256_unpacklo_pd(v[2], v[3]);
    const __m256d t3 = _mm256_unpackhi_pd(v[2], v[3]);
    const __m256d r[4] = {_mm256_permute2f128_pd(t0, t2, 0x20), _mm256_permute2f128_pd(t1, t3, 0x20),
                          _mm256_permute2f128_pd(t0, t2, 0x31), _mm256_permute2f128_pd(t1, t3, 0x31)};
#pragma GCC unroll 8
    for (int l = 0; l < 4; ++l) {
        double* at = rows[l] + ix;
        _mm256_storeu_pd(at, _mm256_add_pd(_mm256_loadu_pd(at), r[l]));
    }
}

__attribute__((target("avx"), always_inline)) inline void LaneStep(LaneState& s, double& p, double sx2,
                                                                    __m256d w[2], __m256d writes[2])
{
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d pastCentre = _mm256_cmp_pd(_mm256_set1_pd(p), _mm256_setzero_pd(), _CMP_GE_OQ);
#pragma GCC unroll 8
    for (int h = 0; h < 2; ++h) {
        const __m256d le = _mm256_cmp_pd(s.q[h], one, _CMP_LE_OQ);
        writes[h] = _mm256_and_pd(le, s.alive[h]);
        s.wrote[h] = _mm256_or_pd(s.wrote[h], writes[h]);
        const __m256d ends = _mm256_andnot_pd(le, _mm256_or_pd(s.wrote[h], pastCentre));
        s.alive[h] = _mm256_andnot_pd(ends, s.alive[h]);
        w[h] = _mm256_and_pd(_mm256_sub_pd(one, s.q[h]), writes[h]);
    }
    const __m256d twoP = _mm256_set1_pd(2.0 * p);
    const __m256d step = _mm256_set1_pd(sx2);
#pragma GCC unroll 8
    for (int h = 0; h < 2; ++h) s.q[h] = _mm256_add_pd(_mm256_add_pd(s.q[h], twoP), step);
    p = p + sx2;
}

// The walk for eight rows at once. Nodes are handled four at a time per
// row: the contributions of four steps are divided, transposed so that each
// row gets its four consecutive nodes in one vector, and added there. Lanes
// that do not write at a step contribute +0.0, which leaves a node's value
// unchanged bit for bit (values are sums of non-negative terms and never
// -0.0); this keeps the loop free of per-lane branches.
__attribute__((target("avx"))) void SplatRowsAvx(const KernelRows& rows, int ix0, int xCount, double p0,
                                                 double sx2, double divisor, bool divide)
{
    const __m256d n = _mm256_set1_pd(divisor);
    const __m256d laneIndex[2] = {_mm256_setr_pd(0, 1, 2, 3), _mm256_setr_pd(4, 5, 6, 7)};
    for (size_t b = 0; b < rows.count; b += 8) {
        const __m256d lanes = _mm256_set1_pd(static_cast<double>(std::min<size_t>(8, rows.count - b)));
        double* const* row = rows.row + b;
        LaneState s;
#pragma GCC unroll 8
        for (int h = 0; h < 2; ++h) {
            s.q[h] = _mm256_loadu_pd(rows.q0 + b + 4 * h);
            s.alive[h] = _mm256_cmp_pd(laneIndex[h], lanes, _CMP_LT_OQ);
            s.wrote[h] = _mm256_setzero_pd();
        }
        double p = p0;
        int ix = ix0;
        bool finished = false;
        while (!finished && ix + 4 <= xCount) {
            __m256d w[4][2];
            __m256d anyWriting[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};
#pragma GCC unroll 8
            for (int k = 0; k < 4; ++k) {
                __m256d writes[2];
                LaneStep(s, p, sx2, w[k], writes);
#pragma GCC unroll 8
                for (int h = 0; h < 2; ++h) anyWriting[h] = _mm256_or_pd(anyWriting[h], writes[h]);
            }
#pragma GCC unroll 8
            for (int h = 0; h < 2; ++h) {
                // Rows still walking in from the left write nothing here.
                if (!_mm256_movemask_pd(anyWriting[h])) continue;
                __m256d v[4];
#pragma GCC unroll 8
                for (int k = 0; k < 4; ++k) {
                    // A masked lane is +0.0, and +0.0 divided by N stays +0.0.
                    v[k] = divide ? _mm256_div_pd(w[k][h], n) : w[k][h];
                }
                AddTransposed(row + 4 * h, ix, v);
            }
            ix += 4;
            finished = _mm256_movemask_pd(_mm256_or_pd(s.alive[0], s.alive[1])) == 0;
        }
        // The last nodes of the rows, one step at a time.
        for (; !finished && ix < xCount; ++ix) {
            __m256d w[2], writes[2];
            LaneStep(s, p, sx2, w, writes);
            alignas(32) double c[8];
#pragma GCC unroll 8
            for (int h = 0; h < 2; ++h) {
                const __m256d v = divide ? _mm256_div_pd(w[h], n) : w[h];
                _mm256_store_pd(c + 4 * h, v);
            }
#pragma GCC unroll 8
            for (int l = 0; l < 8; ++l) row[l][ix] += c[l];
            finished = _mm256_movemask_pd(_mm256_or_pd(s.alive[0], s.alive[1])) == 0;
        }
    }
}

// Below this size of 2P + sx², a step of the walk might move Q by less than
// its own rounding error (see RunsAreSublevelSets).
const double kStepSignMargin = 1e-9;
// Node spacings (in bandwidths) up to this keep Q small along the walk.
const double kRunWalkMaxSpacing = 2.0;

// Whether every row of a kernel writes exactly its nodes with Q ≤ 1, so that
// a walk needs no per-row state. Q advances by (Q + 2P) + sx², and 2P + sx²
// grows from node to node as P does. Where it is at least kStepSignMargin in
// size, the computed step has its sign: on the nodes where Q can cross 1 it
// is below 1 + |2P + sx²| < 128 with sx ≤ 2, so the step's rounding error is
// below 128·2⁻⁵¹ ≈ 6·10⁻¹⁴. Q then falls strictly while 2P + sx² < 0 and
// rises strictly after, so the nodes with Q ≤ 1 form one run per row, and
// that run is what the row walk writes: it walks in while Q > 1 left of the
// centre and writes while Q ≤ 1; a row that reaches the centre above 1 only
// rises. This follows the walk's own chain of P, so it checks the very values
// the walk will see. Kernels that fail it (a particle within about 10⁻⁹ of
// half a node step from a node, or a bandwidth below half a node step) take
// the walk with per-row state.
bool RunsAreSublevelSets(int ix, int xCount, double p, double sx, double sx2)
{
    if (!(sx <= kRunWalkMaxSpacing)) return false;
    for (; ix < xCount; ++ix) {
        const double change = 2.0 * p + sx2;
        if (change >= kStepSignMargin) return true;  // rising from here on
        if (change > -kStepSignMargin) return false;
        p = p + sx2;
    }
    return true;
}

// How the contributions 1 − Q are divided by N: not at all (the pilot), by a
// vector division, or by ExactQuotient where N allows it.
enum class Quotient { None, Divide, Exact };

template <Quotient Q>
__attribute__((target("avx2,fma"), always_inline)) inline __m256d Divided(__m256d w, __m256d n, __m256d y)
{
    if (Q == Quotient::Exact) return density::ExactQuotient(w, n, y);
    if (Q == Quotient::Divide) return _mm256_div_pd(w, n);
    return w;
}

// 1 − Q where Q ≤ 1, +0.0 elsewhere (which adds nothing): 1 − Q is negative
// exactly where Q > 1 (+∞ included), and never −0.0.
__attribute__((target("avx2,fma"), always_inline)) inline __m256d Contribution(__m256d q)
{
    return _mm256_max_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), q), _mm256_setzero_pd());
}

// Whether some row's Q is at most 1.
template <int V>
__attribute__((target("avx2,fma"), always_inline)) inline bool AnyInRun(const __m256d* q)
{
    const __m256d one = _mm256_set1_pd(1.0);
    __m256d in = _mm256_cmp_pd(q[0], one, _CMP_LE_OQ);
#pragma GCC unroll 4
    for (int h = 1; h < V; ++h) in = _mm256_or_pd(in, _mm256_cmp_pd(q[h], one, _CMP_LE_OQ));
    return _mm256_movemask_pd(in) != 0;
}

// Whether no row has a run left: none is at Q ≤ 1, and Q rises from here on.
template <int V>
__attribute__((target("avx2,fma"), always_inline)) inline bool PastEveryRun(const __m256d* q, double p, double sx2)
{
    return !AnyInRun<V>(q) && 2.0 * p + sx2 > 0.0;
}

// One node step of every row: Q + 2P + sx², then P + sx².
template <int V>
__attribute__((target("avx2,fma"), always_inline)) inline void Advance(__m256d* q, double& p, double sx2)
{
    const __m256d twoP = _mm256_set1_pd(2.0 * p);
    const __m256d step = _mm256_set1_pd(sx2);
#pragma GCC unroll 4
    for (int h = 0; h < V; ++h) q[h] = _mm256_add_pd(_mm256_add_pd(q[h], twoP), step);
    p = p + sx2;
}

// Per-row node runs for V vectors of four rows at once: with the run
// property above, a node is written exactly when its Q ≤ 1, so each step is
// two additions, a subtraction and a maximum per vector. Rows beyond the
// kernel's (the padding) start at +∞ and never write.
template <int V, Quotient Q>
__attribute__((target("avx2,fma"))) void SplatRowRuns(const KernelRows& rows, int ix0, int xCount, double p0,
                                                      double sx2, double divisor, double reciprocal)
{
    const __m256d n = _mm256_set1_pd(divisor);
    const __m256d y = _mm256_set1_pd(reciprocal);
    for (size_t b = 0; b < rows.count; b += 4 * V) {
        double* const* row = rows.row + b;
        __m256d q[V];
#pragma GCC unroll 4
        for (int h = 0; h < V; ++h) q[h] = _mm256_loadu_pd(rows.q0 + b + 4 * h);
        double p = p0;
        int ix = ix0;
        // Walk in, adding only, until some row reaches its run.
        bool done = false;
        for (;; ++ix) {
            done = ix >= xCount || PastEveryRun<V>(q, p, sx2);
            if (done || AnyInRun<V>(q)) break;
            Advance<V>(q, p, sx2);
        }
        while (!done && ix + 4 <= xCount) {
            __m256d w[4][V];
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
#pragma GCC unroll 4
                for (int h = 0; h < V; ++h) w[k][h] = Contribution(q[h]);
                Advance<V>(q, p, sx2);
            }
            // Every vector is added, written or not: whether a vector of rows
            // writes in a block follows no pattern a branch could predict.
#pragma GCC unroll 4
            for (int h = 0; h < V; ++h) {
                const __m256d v[4] = {Divided<Q>(w[0][h], n, y), Divided<Q>(w[1][h], n, y), Divided<Q>(w[2][h], n, y),
                                      Divided<Q>(w[3][h], n, y)};
                AddTransposed(row + 4 * h, ix, v);
            }
            ix += 4;
            done = PastEveryRun<V>(q, p, sx2);
        }
        // The last nodes of the rows, one step at a time.
        for (; !done && ix < xCount; ++ix) {
            alignas(32) double c[4 * V];
#pragma GCC unroll 4
            for (int h = 0; h < V; ++h) {
                _mm256_store_pd(c + 4 * h, Divided<Q>(Contribution(q[h]), n, y));
            }
#pragma GCC unroll 16
            for (int l = 0; l < 4 * V; ++l) row[l][ix] += c[l];
            Advance<V>(q, p, sx2);
            done = PastEveryRun<V>(q, p, sx2);
        }
    }
}

// Divided for the AVX-512 walk, which chooses at run time.
__attribute__((target("avx512f"), always_inline)) inline __m512d Divided512(__m512d w, __m512d n, __m512d y, bool divide,
                                                                          bool exactQuotient)
{
    if (!divide) return w;
    return exactQuotient ? density::ExactQuotient512(w, n, y) : _mm512_div_pd(w, n);
}

// The same walk with AVX-512 for sixteen rows at once: two registers of eight
// lanes, whose chains of additions run side by side, with the lane state in
// mask bits; the arithmetic per lane is unchanged.

__attribute__((target("avx512f"))) void SplatRowsAvx512(const KernelRows& rows, int ix0, int xCount, double p0,
                                                       double sx2, double divisor, double reciprocal, bool divide,
                                                       bool exactQuotient)
{
    const __m512d one = _mm512_set1_pd(1.0);
    const __m512d n = _mm512_set1_pd(divisor);
    const __m512d y = _mm512_set1_pd(reciprocal);
    const __m512d step = _mm512_set1_pd(sx2);
    for (size_t b = 0; b < rows.count; b += 16) {
        const unsigned lanes = static_cast<unsigned>(std::min<size_t>(16, rows.count - b));
        double* const* row = rows.row + b;
        __m512d q[2] = {_mm512_loadu_pd(rows.q0 + b), _mm512_loadu_pd(rows.q0 + b + 8)};
        // Bit l of the masks is lane l; the second register holds bits 8..15.
        unsigned alive = (lanes == 16 ? 0x10000u : (1u << lanes)) - 1u;
        unsigned wrote = 0;
        double p = p0;
        int ix = ix0;
        // Walk in from the left edge of the support while no lane has reached
        // it: nothing is written, no lane changes state, only Q advances.
        while (p < 0.0 && ix < xCount) {
            const unsigned in = static_cast<unsigned>(_mm512_cmp_pd_mask(q[0], one, _CMP_LE_OQ)) |
                                (static_cast<unsigned>(_mm512_cmp_pd_mask(q[1], one, _CMP_LE_OQ)) << 8);
            if (in & alive) break;
            const __m512d twoP = _mm512_set1_pd(2.0 * p);
            q[0] = _mm512_add_pd(_mm512_add_pd(q[0], twoP), step);
            q[1] = _mm512_add_pd(_mm512_add_pd(q[1], twoP), step);
            p = p + sx2;
            ++ix;
        }
        while (alive && ix + 4 <= xCount) {
            __m512d w[4][2];
            unsigned any = 0;
#pragma GCC unroll 8
            for (int k = 0; k < 4; ++k) {
                const unsigned le = static_cast<unsigned>(_mm512_cmp_pd_mask(q[0], one, _CMP_LE_OQ)) |
                                    (static_cast<unsigned>(_mm512_cmp_pd_mask(q[1], one, _CMP_LE_OQ)) << 8);
                const unsigned writes = le & alive;
                wrote |= writes;
                const unsigned pastCentre = p >= 0.0 ? 0xFFFFu : 0u;
                alive &= ~(~le & (wrote | pastCentre));
                w[k][0] = _mm512_maskz_sub_pd(static_cast<__mmask8>(writes), one, q[0]);
                w[k][1] = _mm512_maskz_sub_pd(static_cast<__mmask8>(writes >> 8), one, q[1]);
                any |= writes;
                const __m512d twoP = _mm512_set1_pd(2.0 * p);
                q[0] = _mm512_add_pd(_mm512_add_pd(q[0], twoP), step);
                q[1] = _mm512_add_pd(_mm512_add_pd(q[1], twoP), step);
                p = p + sx2;
            }
            if (any) {
                // Divided, then through memory into quarters: four rows per
                // 4 × 4 transpose, only for quarters with a writing row.
                alignas(64) double c[4][16];
#pragma GCC unroll 8
                for (int k = 0; k < 4; ++k)
#pragma GCC unroll 8
                    for (int r = 0; r < 2; ++r)
                        _mm512_store_pd(c[k] + 8 * r, Divided512(w[k][r], n, y, divide, exactQuotient));
#pragma GCC unroll 8
                for (int h = 0; h < 4; ++h) {
                    if (!((any >> (4 * h)) & 0xFu)) continue;
                    __m256d v[4];
#pragma GCC unroll 8
                    for (int k = 0; k < 4; ++k) {
                        v[k] = _mm256_load_pd(c[k] + 4 * h);
                    }
                    AddTransposed(row + 4 * h, ix, v);
                }
            }
            ix += 4;
        }
        // The last nodes of the rows, one step at a time.
        for (; alive && ix < xCount; ++ix) {
            const unsigned le = static_cast<unsigned>(_mm512_cmp_pd_mask(q[0], one, _CMP_LE_OQ)) |
                                (static_cast<unsigned>(_mm512_cmp_pd_mask(q[1], one, _CMP_LE_OQ)) << 8);
            const unsigned writes = le & alive;
            wrote |= writes;
            const unsigned pastCentre = p >= 0.0 ? 0xFFFFu : 0u;
            alive &= ~(~le & (wrote | pastCentre));
            alignas(64) double c[16];
#pragma GCC unroll 8
            for (int r = 0; r < 2; ++r) {
                __m512d w = _mm512_maskz_sub_pd(static_cast<__mmask8>(writes >> (8 * r)), one, q[r]);
                _mm512_store_pd(c + 8 * r, Divided512(w, n, y, divide, exactQuotient));
            }
#pragma GCC unroll 16
            for (int l = 0; l < 16; ++l) row[l][ix] += c[l];
            const __m512d twoP = _mm512_set1_pd(2.0 * p);
            q[0] = _mm512_add_pd(_mm512_add_pd(q[0], twoP), step);
            q[1] = _mm512_add_pd(_mm512_add_pd(q[1], twoP), step);
            p = p + sx2;
        }
    }
}

// A row whose uy² + uz² exceeds this cannot reach Q ≤ 1 at any node: Q along
// the row is uy² + uz² + ux² up to rounding errors many orders of magnitude
// below this margin, so the row would write nothing and is left out.
const double kRowMissLimit = 1.0 + 1e-6;
// Kernels whose node spacing exceeds this many bandwidths (kernels narrower
// than a thousandth of a node step) take the literal walk over every row and
// plane of their box. Their walk starts up to sx + 1 bandwidths away, where
// Q is about (sx + 1)², and its rounding errors grow with it: near 1e-4 for
// sx = 1e6, beyond kRowMissLimit's margin, so a row it leaves out might have
// been written. Up to this spacing they stay below 10⁻⁹.
const double kLiteralWalkMinSpacing = 1e3;

// What a kernel's bandwidth fixes: node spacing in bandwidth units, the
// divisor N and its reciprocal. Kept per thread for the last bandwidth seen,
// since the pilot estimate uses one bandwidth for all particles and many
// particles share the capped one.
struct KernelScale {
    osg::Vec3f bandwidth{0.0f, 0.0f, 0.0f};
    bool normalised = false;
    bool usable = false;
    double sx = 0.0, sy = 0.0, sz = 0.0, sx2 = 0.0, divisor = 1.0, reciprocal = 1.0;
    bool exactQuotient = false;  // divisor allows ExactQuotient
    KernelScale() = default;
    KernelScale(const ScalarField3D& f, const osg::Vec3f& h, bool normalise) : bandwidth(h), normalised(normalise)
    {
        const double hx = h.x(), hy = h.y(), hz = h.z();
        if (!UsableBandwidth(hx) || !UsableBandwidth(hy) || !UsableBandwidth(hz)) return;
        // A flat or non-finite grid has no nodes a kernel could reach one by one.
        sx = (f.xMax - f.xMin) / (hx * (f.xCount - 1));
        sy = (f.yMax - f.yMin) / (hy * (f.yCount - 1));
        sz = (f.zMax - f.zMin) / (hz * (f.zCount - 1));
        if (!UsableBandwidth(sx) || !UsableBandwidth(sy) || !UsableBandwidth(sz)) return;
        sx2 = sx * sx;
        divisor = normalise ? hx * hy * hz : 1.0;
        reciprocal = 1.0 / divisor;
        exactQuotient = density::QuotientWithoutDivision(divisor);
        usable = true;
    }
};

// Work space of one splatting thread, sized for the most rows a kernel can
// have in the planes it is given.
struct SplatScratch {
    std::vector<double*> rowStart;
    std::vector<double> rowQ0;
    std::vector<double> rowSums;
    std::vector<double> spareRow;
    std::vector<int> planeIndex;
    std::vector<double> planeUz2, planeReach;
    KernelScale scale;
    SplatScratch(int xCount, int yCount, int planes)
        : rowStart(static_cast<size_t>(yCount) * static_cast<size_t>(planes) + kMaxLanes),
          rowQ0(rowStart.size()),
          rowSums(static_cast<size_t>(yCount) + 4),
          spareRow(static_cast<size_t>(xCount) + 4),
          planeIndex(static_cast<size_t>(planes)),
          planeUz2(static_cast<size_t>(planes)),
          planeReach(static_cast<size_t>(planes))
    {
    }
};

// Lists rows firstRow ≤ j < endRow of one plane: where each starts (first +
// j·stride) and its Q at the walk's first node, rowSums[j] + uz². May write up
// to three entries past the last one listed (and read as far past rowSums'),
// which the callers' arrays leave room for. Returns how many it listed.
size_t AddRowsPlain(double** start, double* q0, double* first, size_t stride, const double* rowSums, int firstRow,
                    int endRow, double uz2)
{
    for (int j = firstRow; j < endRow; ++j) {
        start[j - firstRow] = first + stride * static_cast<size_t>(j);
        q0[j - firstRow] = rowSums[j] + uz2;
    }
    return static_cast<size_t>(endRow - firstRow);
}

__attribute__((target("avx2"))) size_t AddRowsAvx2(double** start, double* q0, double* first, size_t stride,
                                                   const double* rowSums, int firstRow, int endRow, double uz2)
{
    static_assert(sizeof(double*) == sizeof(long long), "row pointers are listed as 64-bit integers");
    const long long bytes = static_cast<long long>(stride * sizeof(double));
    __m256i at = _mm256_add_epi64(_mm256_set1_epi64x(reinterpret_cast<long long>(first + stride * static_cast<size_t>(firstRow))),
                                  _mm256_setr_epi64x(0, bytes, 2 * bytes, 3 * bytes));
    const __m256i advance = _mm256_set1_epi64x(4 * bytes);
    const __m256d z = _mm256_set1_pd(uz2);
    for (int j = firstRow; j < endRow; j += 4) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(start + (j - firstRow)), at);
        _mm256_storeu_pd(q0 + (j - firstRow), _mm256_add_pd(_mm256_loadu_pd(rowSums + j), z));
        at = _mm256_add_epi64(at, advance);
    }
    return static_cast<size_t>(endRow - firstRow);
}

size_t AddRows(double** start, double* q0, double* first, size_t stride, const double* rowSums, int firstRow,
               int endRow, double uz2)
{
    return SharedCpu::Avx2Allowed() ? AddRowsAvx2(start, q0, first, stride, rowSums, firstRow, endRow, uz2)
                : AddRowsPlain(start, q0, first, stride, rowSums, firstRow, endRow, uz2);
}

// Adds one particle's kernel to the planes firstPlane ≤ iz < endPlane of the
// values v laid out as f's, so that threads owning disjoint slabs can splat
// the same particles in the same order. scratch is the thread's work space.
void SplatPlanes(const ScalarField3D& f, double* v, const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                 bool normalise, int firstPlane, int endPlane, SplatScratch& scratch)
{
    KernelScale& scale = scratch.scale;
    if (!(bandwidth == scale.bandwidth) || normalise != scale.normalised) scale = KernelScale(f, bandwidth, normalise);
    if (!scale.usable) return;
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();
    const double sx = scale.sx, sy = scale.sy, sz = scale.sz, sx2 = scale.sx2;
    const bool literal = !(sx <= kLiteralWalkMinSpacing);

    // The z range first: most particles miss most slabs.
    AxisStart xs, ys, zs;
    if (!StartOnAxis(f.zMin, point.z(), hz, sz, f.zCount, zs) || zs.index >= endPlane) return;
    if (!StartOnAxis(f.xMin, point.x(), hx, sx, f.xCount, xs)) return;
    if (!StartOnAxis(f.yMin, point.y(), hy, sy, f.yCount, ys)) return;

    const double ux = xs.offset;
    const double p0 = ux * sx;
    const double ux2 = ux * ux;
    // ux² + uy² per row, the same in every plane; adding uz² afterwards is the
    // same left-to-right sum ux² + uy² + uz².
    double* rowSums = scratch.rowSums.data();
    int rowCount = 0;
    {
        double uy = ys.offset;
        for (int iy = ys.index; iy < f.yCount && uy <= 1.0; ++iy, uy += sy) {
            rowSums[rowCount] = ux2 + uy * uy;
            ++rowCount;
        }
    }
    if (rowCount == 0) return;
    // Only the rows that can write: the corners of the box around the
    // kernel's ellipsoid cannot.
    double** rowStart = scratch.rowStart.data();
    double* rowQ0 = scratch.rowQ0.data();
    size_t count = 0;
    const double rowsPerUnit = 1.0 / sy;
    // The planes first, so that their square roots need not wait for one
    // another. The rows that can write have |uy| ≤ √(1 − uz²); the bounds
    // below keep every row with |uy| up to √(kRowMissLimit − uz²), a margin of
    // at least 5·10⁻⁷ beyond that, against index errors below 10⁻¹².
    int* planeIndex = scratch.planeIndex.data();
    double* planeUz2 = scratch.planeUz2.data();
    double* planeReach = scratch.planeReach.data();
    int planes = 0;
    double uz = zs.offset;
    for (int iz = zs.index; iz < f.zCount && iz < endPlane && uz <= 1.0; ++iz, uz += sz) {
        // Every plane's offset is still reached by the same chain of
        // additions; only the work inside the slab is done here.
        if (iz < firstPlane) continue;
        const double uz2 = uz * uz;
        const double yReach = kRowMissLimit - uz2;
        if (!(yReach >= 0.0) && !literal) continue;
        planeIndex[planes] = iz;
        planeUz2[planes] = uz2;
        planeReach[planes] = yReach;
        ++planes;
    }
    for (int k = 0; k < planes; ++k) planeReach[k] = std::sqrt(planeReach[k]);
    for (int k = 0; k < planes; ++k) {
        double* first = v + static_cast<size_t>(f.sliceSize) * planeIndex[k] + static_cast<size_t>(f.xCount) * ys.index;
        if (literal) {
            count += AddRows(rowStart + count, rowQ0 + count, first, static_cast<size_t>(f.xCount), rowSums, 0,
                             rowCount, planeUz2[k]);
            continue;
        }
        const double reach = planeReach[k];
        // Clamped to [0, rowCount] before the conversions, which then only
        // see non-negative values and truncate as floor does.
        const double below = std::min(static_cast<double>(rowCount), std::max(0.0, (-reach - ys.offset) * rowsPerUnit - 1e-3));
        const double above = std::min(static_cast<double>(rowCount), (reach - ys.offset) * rowsPerUnit + 1e-3);
        if (!(above >= 0.0)) continue;
        int firstRow = static_cast<int>(below);
        firstRow += firstRow < below;
        const int endRow = std::min(rowCount, static_cast<int>(above) + 1);
        if (firstRow >= endRow) continue;
        count += AddRows(rowStart + count, rowQ0 + count, first, static_cast<size_t>(f.xCount), rowSums, firstRow,
                         endRow, planeUz2[k]);
    }
    if (count == 0) return;
    for (size_t r = count; r < count + kMaxLanes; ++r) {
        rowStart[r] = scratch.spareRow.data();
        rowQ0[r] = std::numeric_limits<double>::infinity();
    }
    const KernelRows rows = {rowStart, rowQ0, count};
    const int simd = SharedCpu::SimdLevel();
    if (literal) {
        for (size_t r = 0; r < count; ++r)
            SplatRowScalar(rowStart[r], xs.index, f.xCount, rowQ0[r], p0, sx2, scale.divisor);
    } else if (simd >= 3) {
        SplatRowsAvx512(rows, xs.index, f.xCount, p0, sx2, scale.divisor, scale.reciprocal, normalise,
                        scale.exactQuotient);
    } else if (simd == 2 && RunsAreSublevelSets(xs.index, f.xCount, p0, sx, sx2)) {
        // Twelve rows at a time where each step also divides: more chains of
        // additions in flight, which the pilot's small kernels cannot fill.
        if (!normalise)
            SplatRowRuns<2, Quotient::None>(rows, xs.index, f.xCount, p0, sx2, 1.0, 1.0);
        else if (scale.exactQuotient)
            SplatRowRuns<3, Quotient::Exact>(rows, xs.index, f.xCount, p0, sx2, scale.divisor, scale.reciprocal);
        else
            SplatRowRuns<3, Quotient::Divide>(rows, xs.index, f.xCount, p0, sx2, scale.divisor, scale.reciprocal);
    } else if (simd >= 1) {
        SplatRowsAvx(rows, xs.index, f.xCount, p0, sx2, scale.divisor, normalise);
    } else {
        for (size_t r = 0; r < count; ++r)
            SplatRowScalar(rowStart[r], xs.index, f.xCount, rowQ0[r], p0, sx2, scale.divisor);
    }
}

// The planes [first, end) a kernel reaches, by the same chain of additions
// the splat walks; end == first when it reaches none.
struct PlaneRange {
    int first, end;
};

PlaneRange KernelPlanes(const ScalarField3D& f, float bandwidthZ, float pointZ)
{
    const double hz = bandwidthZ;
    if (!UsableBandwidth(hz)) return {0, 0};
    const double sz = (f.zMax - f.zMin) / (hz * (f.zCount - 1));
    if (!UsableBandwidth(sz)) return {0, 0};
    AxisStart zs;
    if (!StartOnAxis(f.zMin, pointZ, hz, sz, f.zCount, zs)) return {0, 0};
    int iz = zs.index;
    for (double uz = zs.offset; iz < f.zCount && uz <= 1.0; ++iz, uz += sz) {
    }
    return {zs.index, iz};
}

// An uninitialised array of doubles on 2 MiB pages where the system grants
// them (on ordinary pages otherwise); data() is null when it cannot be had.
class HugePageBuffer {
public:
    explicit HugePageBuffer(size_t count)
    {
        const size_t huge = size_t(2) << 20;
        const size_t bytes = (count * sizeof(double) + huge - 1) / huge * huge;
        void* p = nullptr;
        if (bytes == 0 || posix_memalign(&p, huge, bytes) != 0) return;
        madvise(p, bytes, MADV_HUGEPAGE);
        memory = static_cast<double*>(p);
    }
    ~HugePageBuffer() { std::free(memory); }
    double* data() const { return memory; }
    HugePageBuffer(const HugePageBuffer&) = delete;
    HugePageBuffer& operator=(const HugePageBuffer&) = delete;

private:
    double* memory = nullptr;
};

// Splats every particle into every slab it reaches, particles in their order.
// There is one slab of consecutive planes per thread: every node belongs to
// one slab, so the sums match a single thread exactly, and each particle is
// set up once per slab it reaches, so the fewer slabs the better. The slab
// borders split the estimated work evenly: a particle's work in one of its
// planes is about the nodes of its kernel's cross-section. bandwidthOf(i)
// gives particle i's bandwidth.
template <class BandwidthOf>
void SplatAll(ScalarField3D& f, const std::vector<osg::Vec3f>& positions, size_t n, BandwidthOf bandwidthOf,
              bool normalise, int threads)
{
    // Which planes each particle reaches, found once, so that a slab skips
    // the particles it does not hold with one comparison.
    std::vector<PlaneRange> ranges(n);
    const size_t planes = static_cast<size_t>(f.zCount);
    // Per thread, the work added at each plane where a particle's planes
    // start and taken away where they end.
    std::vector<double> workSteps(static_cast<size_t>(threads) * (planes + 1), 0.0);
    const double xNodes = 2.0 / f.xStep, yNodes = 2.0 / f.yStep;
    ForEachPart(n, threads, [&](int t, size_t first, size_t last) {
        double* steps = workSteps.data() + static_cast<size_t>(t) * (planes + 1);
        for (size_t i = first; i < last; ++i) {
            const osg::Vec3f& h = bandwidthOf(i);
            ranges[i] = KernelPlanes(f, h.z(), positions[i].z());
            if (ranges[i].end <= ranges[i].first) continue;
            const double work = (h.x() * xNodes + 1.0) * (h.y() * yNodes + 1.0);
            steps[ranges[i].first] += work;
            steps[ranges[i].end] -= work;
        }
    });
    std::vector<double> planeWork(planes, 0.0);
    double total = 0.0;
    {
        double running = 0.0;
        for (size_t z = 0; z < planes; ++z) {
            for (int t = 0; t < threads; ++t) running += workSteps[static_cast<size_t>(t) * (planes + 1) + z];
            planeWork[z] = std::max(0.0, running);
            total += planeWork[z];
        }
    }
    std::vector<int> border(static_cast<size_t>(threads) + 1, f.zCount);
    border[0] = 0;
    {
        double sum = 0.0;
        int z = 0;
        for (int t = 1; t < threads; ++t) {
            const double share = total * t / threads;
            while (z < f.zCount && sum + planeWork[static_cast<size_t>(z)] <= share) sum += planeWork[static_cast<size_t>(z++)];
            border[static_cast<size_t>(t)] = z;
        }
    }
    // The sums are made in a copy of the grid on huge pages where the system
    // offers them: every row of a kernel lies on another page, and with 4 KiB
    // pages most of them missed the address cache.
    HugePageBuffer buffer(f.values.size());
    double* grid = buffer.data() ? buffer.data() : f.values.data();
    if (buffer.data()) std::copy(f.values.begin(), f.values.end(), grid);
    ForEachPart(static_cast<size_t>(threads), threads, [&](int t, size_t, size_t) {
        const int firstPlane = border[static_cast<size_t>(t)], endPlane = border[static_cast<size_t>(t) + 1];
        if (firstPlane >= endPlane) return;
        SplatScratch scratch(f.xCount, f.yCount, endPlane - firstPlane);
        for (size_t i = 0; i < n; ++i) {
            if (ranges[i].end <= firstPlane || ranges[i].first >= endPlane) continue;
            SplatPlanes(f, grid, bandwidthOf(i), positions[i], normalise, firstPlane, endPlane, scratch);
        }
    });
    if (buffer.data()) std::copy(grid, grid + f.values.size(), f.values.begin());
}

}  // namespace

ParticleDensityField3D::ParticleDensityField3D(double xMin_, double xMax_, int xCount_,
                                               double yMin_, double yMax_, int yCount_,
                                               double zMin_, double zMax_, int zCount_)
    : ScalarField3D(xMin_, xMax_, xCount_, yMin_, yMax_, yCount_, zMin_, zMax_, zCount_)
{
}

bool ParticleDensityField3D::SortAscending(double* a, int count)
{
    if (!a || count < 2) return true;
    // Pushing the larger part and continuing with the smaller keeps the number
    // of pending ranges below log2(count), so this stack never overflows. A
    // range that keeps splitting badly (organ pipes and other inputs that
    // defeat the middle-element pivot) is finished by heapsort once it has
    // been split 2·log2(count) times, so the sort never turns quadratic.
    struct Range {
        int l, r, depth;
    };
    Range stack[64];
    int top = 0;
    int depthLimit = 0;
    for (int c = count; c > 1; c >>= 1) depthLimit += 2;
    int l = 0, r = count - 1, depth = 0;
    for (;;) {
        if (r - l < kInsertionSortLimit || depth >= depthLimit) {
            if (r - l < kInsertionSortLimit) {
                for (int j = l + 1; j <= r; ++j) {
                    const double v = a[j];
                    int i = j - 1;
                    for (; i >= l && a[i] > v; --i) a[i + 1] = a[i];
                    a[i + 1] = v;
                }
            } else {
                std::make_heap(a + l, a + r + 1);
                std::sort_heap(a + l, a + r + 1);
            }
            if (top == 0) break;
            --top;
            l = stack[top].l;
            r = stack[top].r;
            depth = stack[top].depth;
            continue;
        }
        const int mid = l + (r - l) / 2;
        std::swap(a[mid], a[l + 1]);
        if (a[l] > a[r]) std::swap(a[l], a[r]);
        if (a[l + 1] > a[r]) std::swap(a[l + 1], a[r]);
        if (a[l + 1] > a[l]) std::swap(a[l + 1], a[l]);
        const double pivot = a[l];
        int i = l + 1, j = r;
        for (;;) {
            do ++i; while (a[i] < pivot);
            do --j; while (a[j] > pivot);
            if (j < i) break;
            std::swap(a[i], a[j]);
        }
        a[l] = a[j];
        a[j] = pivot;
        ++depth;
        if (r - i + 1 >= j - l) {
            stack[top++] = {i, r, depth};
            r = j - 1;
        } else {
            stack[top++] = {l, j - 1, depth};
            l = i;
        }
    }
    return true;
}

void ParticleDensityField3D::SplatKernel(const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                                         bool normalise)
{
    SplatScratch scratch(xCount, yCount, zCount);
    SplatPlanes(*this, values.data(), bandwidth, point, normalise, 0, zCount, scratch);
}

double ParticleDensityField3D::PilotDensity(const osg::Vec3f& bandwidth,
                                            const std::vector<osg::Vec3f>& positions,
                                            std::vector<double>& densities)
{
    const size_t n = positions.size();
    if (n == 0) return 0.0;
    densities.resize(n);
    const int threads = ThreadCount(n, zCount);

    SplatAll(*this, positions, n, [&](size_t) -> const osg::Vec3f& { return bandwidth; }, false, threads);
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();
    Scale(kEpanechnikov / (static_cast<double>(n) * hx * hy * hz));

    ForEachRange(n, threads, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) densities[i] = Sample(positions[i]);
    });
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += densities[i];

    std::fill(values.begin(), values.end(), 0.0);
    return sum / static_cast<double>(n);
}

void ParticleDensityField3D::AdaptiveDensity(const osg::Vec3f& bandwidth,
                                             const std::vector<double>& densities, double mean,
                                             const std::vector<osg::Vec3f>& positions)
{
    const size_t n = std::min(positions.size(), densities.size());
    if (n == 0) return;
    const int threads = ThreadCount(n, zCount);

    const double capX = kBandwidthCapInSteps * xStep;
    const double capY = kBandwidthCapInSteps * yStep;
    const double capZ = kBandwidthCapInSteps * zStep;
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();

    // λ shrinks the kernel where the pilot density is above the mean. A pilot
    // density of 0 (or a mean of 0, which means every density is 0) would
    // divide by zero; such a particle simply gets the cap on every axis.
    std::vector<osg::Vec3f> local(n);
    ForEachRange(n, threads, [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i) {
            float lx = static_cast<float>(capX), ly = static_cast<float>(capY),
                  lz = static_cast<float>(capZ);
            if (mean > 0.0 && densities[i] > 0.0) {
                const double lambda = std::sqrt(densities[i] / mean);
                const float bx = static_cast<float>(hx / lambda);
                const float by = static_cast<float>(hy / lambda);
                const float bz = static_cast<float>(hz / lambda);
                if (bx < capX) lx = bx;
                if (by < capY) ly = by;
                if (bz < capZ) lz = bz;
            }
            local[i].set(lx, ly, lz);
        }
    });

    SplatAll(*this, positions, n, [&](size_t i) -> const osg::Vec3f& { return local[i]; }, true, threads);
    Scale(kEpanechnikov / static_cast<double>(n));
}

bool ParticleDensityField3D::GlobalBandwidth(const std::vector<osg::Vec3f>& positions, osg::Vec3f& bandwidth) const
{
    const size_t n = positions.size();
    if (n < kMinParticles) return false;
    const size_t highIndex = std::min(static_cast<size_t>(std::ceil(0.8 * static_cast<double>(n))), n - 1);
    const size_t lowIndex = std::min(static_cast<size_t>(std::ceil(0.2 * static_cast<double>(n))), n - 1);
    const double logN = std::log(static_cast<double>(n));

    // Only the two quantiles of each axis are needed; selecting them gives the
    // very elements a full ascending sort would leave at those indices. The
    // axes are independent, so they are split over threads.
    double spread[3];
    const int threads = std::min(3, ThreadCount(n, 3));
    // Allocated here, not on the threads, so that the memory goes back to the
    // system afterwards instead of staying with a thread's heap.
    std::vector<std::vector<double>> axes(static_cast<size_t>(threads), std::vector<double>(n));
    ForEachPart(3, threads, [&](int t, size_t firstAxis, size_t lastAxis) {
        std::vector<double>& axis = axes[static_cast<size_t>(t)];
        for (size_t a = firstAxis; a < lastAxis; ++a) {
            for (size_t i = 0; i < n; ++i) axis[i] = positions[i][static_cast<int>(a)];
            std::nth_element(axis.begin(), axis.begin() + highIndex, axis.end());
            const double high = axis[highIndex];
            std::nth_element(axis.begin(), axis.begin() + lowIndex, axis.begin() + highIndex);
            spread[a] = std::fabs(high - axis[lowIndex]);
        }
    });
    float h[3];
    const double steps[3] = {xStep, yStep, zStep};
    const char names[3] = {'x', 'y', 'z'};
    for (int a = 0; a < 3; ++a) {
        h[a] = static_cast<float>(spread[a] * 2.0 / logN);
        if (!UsableBandwidth(h[a])) {
            h[a] = static_cast<float>(steps[a]);
            std::printf("Density: the %c coordinates have no spread between their 20%% and 80%% "
                        "quantiles; the %c bandwidth falls back to the node step %g\n",
                        names[a], names[a], static_cast<double>(h[a]));
        }
        if (!UsableBandwidth(h[a])) {
            std::printf("Density: the grid is flat on %c, so no bandwidth fits; the density stays zero\n",
                        names[a]);
            return false;
        }
    }
    bandwidth.set(h[0], h[1], h[2]);
    return true;
}

void ParticleDensityField3D::ComputeDensity(const std::vector<osg::Vec3f>& positions)
{
    const size_t n = positions.size();
    if (n < kMinParticles) {
        std::printf("Density: %zu particle(s) are too few for an estimate (at least %zu needed); "
                    "the density stays zero\n", n, kMinParticles);
        return;
    }
    for (size_t i = 0; i < n; ++i) {
        const osg::Vec3f& p = positions[i];
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
            std::printf("Density: particle %zu has a non-finite coordinate; the density stays zero\n", i);
            return;
        }
    }

    osg::Vec3f bandwidth;
    if (!GlobalBandwidth(positions, bandwidth)) return;
    std::vector<double> densities(n, 0.0);
    const double mean = PilotDensity(bandwidth, positions, densities);
    AdaptiveDensity(bandwidth, densities, mean, positions);
}
