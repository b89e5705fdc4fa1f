#include "density/KernelSplat.h"

#include "density/SharedCpuFeatures.h"

#include <algorithm>
#include <immintrin.h>
#include <limits>

namespace density {

namespace {

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

size_t AddRows(bool avx2, double** start, double* q0, double* first, size_t stride, const double* rowSums,
               int firstRow, int endRow, double uz2)
{
    return avx2 ? AddRowsAvx2(start, q0, first, stride, rowSums, firstRow, endRow, uz2)
                : AddRowsPlain(start, q0, first, stride, rowSums, firstRow, endRow, uz2);
}

}  // namespace

void SplatPlanes(const ScalarField3D& f, double* v, const osg::Vec3f& bandwidth, const osg::Vec3f& point,
                 bool normalise, int firstPlane, int endPlane, SplatScratch& scratch)
{
    KernelScale& scale = scratch.scale;
    if (!(bandwidth == scale.bandwidth) || normalise != scale.normalised) scale = KernelScale(f, bandwidth, normalise);
    if (!scale.usable) return;
    const double hx = bandwidth.x(), hy = bandwidth.y(), hz = bandwidth.z();
    const double sx = scale.sx, sy = scale.sy, sz = scale.sz, sx2 = scale.sx2;
    const bool literal = !(sx <= kLiteralWalkMinSpacing);
    const bool avx2Rows = SharedCpu::Avx2Allowed();

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
    const size_t stride = static_cast<size_t>(f.xCount);
    for (int k = 0; k < planes; ++k) {
        double* first = v + static_cast<size_t>(f.sliceSize) * planeIndex[k] + stride * ys.index;
        if (literal) {
            count += AddRows(avx2Rows, rowStart + count, rowQ0 + count, first, stride, rowSums, 0, rowCount, planeUz2[k]);
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
        count += AddRows(avx2Rows, rowStart + count, rowQ0 + count, first, stride, rowSums, firstRow, endRow, planeUz2[k]);
    }
    if (count == 0) return;
    for (size_t r = count; r < count + kMaxLanes; ++r) {
        rowStart[r] = scratch.spareRow.data();
        rowQ0[r] = std::numeric_limits<double>::infinity();
    }
    const KernelRows rows = {rowStart, rowQ0, count};
    WalkKernelRows(rows, xs.index, f.xCount, p0, sx, sx2, scale.divisor, scale.reciprocal, normalise,
                   scale.exactQuotient, literal);
}


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


}  // namespace density
