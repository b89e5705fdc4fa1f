#pragma once
// KernelRowWalks: the walks that add one particle's kernel along the rows of
// its support. In: the rows (where each starts and Q = ux² + uy² + uz² at its
// first visited node ix0), P = ux·sx there, the node spacing sx in
// bandwidths and sx², the divisor N (1 for the pilot) with its reciprocal.
// Out: (1 − Q)/N added to every node the literal walk writes, Q and P
// advancing node by node by additions only, Q ← (Q + 2P) + sx², P ← P + sx²;
// the literal walk walks in while Q > 1 left of the centre (P < 0) and
// writes while Q ≤ 1. Cost: one step per node from ix0 to the last written
// node of the longest row, for 16, 12, 8 or 1 rows at a time.
//
// Every walk gives the literal walk's bits:
//  - AVX-512 (sixteen rows at once) keeps per-row state: which lanes still
//    walk and which have written;
//  - the AVX2 row runs (eight or twelve rows) keep none. They rely on the
//    run property: along every row the nodes with Q ≤ 1 form one run, and
//    that run is exactly what the literal walk writes, so a node is written
//    exactly when its Q ≤ 1. RunsAreSublevelSets checks it per kernel on the
//    walk's own chain of P. It does not hold for bandwidths below half a
//    node step (sx > 2) nor for a particle within about 1e-9 of half a node
//    step from a node; those kernels, and every kernel on a processor
//    without AVX2, take the scalar walk. (An AVX walk with per-row state once
//    took them; at 1M particles it saved nothing measurable on an AVX2
//    processor, 1.02 ± noise, and it went.)
// The caller lists only the rows that can write; for kernels far narrower
// than a node step (literal) the walk's rounding errors are too large for
// that choice and the caller lists every row, walked literally.
#include <cstddef>

namespace density {

// The rows of a kernel's support, as parallel arrays: where each row's nodes
// start and Q at its first visited node. Both arrays run on past the last
// row to a whole number of lanes (kMaxLanes more entries), so lock-step walks
// can load full vectors: the extra lanes start at Q = +∞, so they never
// write; they add zeros to a spare row of their own (had they shared a real
// row, each addition would wait for the one before).
struct KernelRows {
    double* const* row;
    const double* q0;
    size_t count;
};

// The most rows walked in lock-step.
constexpr size_t kMaxLanes = 16;

// Adds the kernel along every row, with the widest walk that SharedCpu and
// the kernel allow; literal takes the node-by-node walk. exactQuotient: N
// allows ExactQuotient (QuotientWithoutDivision).
void WalkKernelRows(const KernelRows& rows, int ix0, int xCount, double p0, double sx, double sx2, double divisor,
                    double reciprocal, bool normalise, bool exactQuotient, bool literal);

}  // namespace density
