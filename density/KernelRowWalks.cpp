#include "density/KernelRowWalks.h"

#include "density/ExactQuotient.h"
#include "density/SharedCpuFeatures.h"

#include <algorithm>
#include <immintrin.h>

namespace density {

namespace {

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

// The walk with per-row state, sixteen rows at once in two registers of
// eight lanes whose chains of additions run side by side. Lane l goes through
// exactly the Q values the scalar walk gives its row (the same additions in
// the same order, no fused operations). An alive lane writes where Q ≤ 1; it
// dies at the first Q > 1 after it has written, or at the first Q > 1 once
// P ≥ 0 (a row that missed the support). The lane state lives in mask bits.
// Lanes that do not write at a step contribute +0.0, which leaves a node's
// value unchanged bit for bit (values are sums of non-negative terms and
// never -0.0); this keeps the loop free of per-lane branches.
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

// The literal walk along one row, node by node.
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

}  // namespace

void WalkKernelRows(const KernelRows& rows, int ix0, int xCount, double p0, double sx, double sx2, double divisor,
                    double reciprocal, bool normalise, bool exactQuotient, bool literal)
{
    const int simd = SharedCpu::SimdLevel();
    if (literal || simd < SharedCpu::Avx2) {
        for (size_t r = 0; r < rows.count; ++r)
            SplatRowScalar(rows.row[r], ix0, xCount, rows.q0[r], p0, sx2, divisor);
    } else if (simd >= SharedCpu::Avx512) {
        SplatRowsAvx512(rows, ix0, xCount, p0, sx2, divisor, reciprocal, normalise, exactQuotient);
    } else if (RunsAreSublevelSets(ix0, xCount, p0, sx, sx2)) {
        // Twelve rows at a time where each step also divides: more chains of
        // additions in flight, which the pilot's small kernels cannot fill.
        if (!normalise)
            SplatRowRuns<2, Quotient::None>(rows, ix0, xCount, p0, sx2, 1.0, 1.0);
        else if (exactQuotient)
            SplatRowRuns<3, Quotient::Exact>(rows, ix0, xCount, p0, sx2, divisor, reciprocal);
        else
            SplatRowRuns<3, Quotient::Divide>(rows, ix0, xCount, p0, sx2, divisor, reciprocal);
    } else {
        for (size_t r = 0; r < rows.count; ++r)
            SplatRowScalar(rows.row[r], ix0, xCount, rows.q0[r], p0, sx2, divisor);
    }
}

}  // namespace density
