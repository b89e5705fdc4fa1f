#include "geometry/SurfaceMembership.h"

#include "density/EngineSwitches.h"
#include "density/ParallelParts.h"
#include "density/SharedCpuFeatures.h"
#include "geometry/CellNumbers.h"
#include "geometry/MarchingCubesTables.h"
#include "geometry/MaskWords.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <iterator>
#include <new>
#include <type_traits>
#include <atomic>
#include <cmath>
#include <immintrin.h>

SurfaceMembership::SurfaceMembership(const ScalarField3D& f)
    : xMin(f.xMin), yMin(f.yMin), zMin(f.zMin),
      xMax(f.xMax), yMax(f.yMax), zMax(f.zMax),
      xStep(f.xStep), yStep(f.yStep), zStep(f.zStep),
      xInverseStep(f.cells.xInverseStep), yInverseStep(f.cells.yInverseStep), zInverseStep(f.cells.zInverseStep),
      xCount(f.xCount), yCount(f.yCount), zCount(f.zCount),
      cellsX(static_cast<size_t>(f.xCount) + 1),
      cellsXY((static_cast<size_t>(f.xCount) + 1) * (static_cast<size_t>(f.yCount) + 1)),
      cells(f.cellsBuilt && f.cells.complete ? &f.cells : nullptr),
      triangles(f.cells.triangles.data()),
      classWords(f.cells.classWords.data()),
      cornerX(f.cells.cornerX.data()),
      cornerY(f.cells.cornerY.data()),
      cornerZ(f.cells.cornerZ.data())
{
}

inline bool SurfaceMembership::CellOf(const osg::Vec3f& p, int& i, int& j, int& k, size_t& cell) const
{
    i = CellIndexOnAxis(static_cast<double>(p.x()) - xMin, xStep, xInverseStep, xCount);
    j = CellIndexOnAxis(static_cast<double>(p.y()) - yMin, yStep, yInverseStep, yCount);
    k = CellIndexOnAxis(static_cast<double>(p.z()) - zMin, zStep, zInverseStep, zCount);
    if ((i | j | k) < 0)
        return false;
    cell = i + cellsX * j + cellsXY * k;
    return true;
}

namespace {

// The smallest float not below 1e-14: for a float b, the double comparison
// |b| < 1e-14 is |b| < kParallelLimit in float (1e-14 is no float).
const float kParallelLimit = [] {
    const float f = static_cast<float>(1e-14);
    return static_cast<double>(f) < 1e-14 ? std::nextafter(f, 1.0f) : f;
}();

// The vector paths run where the processor and the switches allow them.
bool VectorTest()
{
    return SharedCpu::Avx2Allowed() && EngineSwitches::vectorPointTest.load(std::memory_order_relaxed);
}

// The test of InsideCutCell with one lane per corner. Every lane computes
// what the scalar loop computes for its corner, operation for operation (no
// fused operations), and a lane counts where the scalar loop would return;
// the answer is whether any pair counts, so the order does not matter.
// Lane c of entry k is all ones where bit c of k is set: the corners below
// the level for cube index k. Read from a table, since lanes written one by
// one and read back as a vector wait for the stores to drain.
struct BelowMasks {
    alignas(32) int32_t lanes[256][8];
    BelowMasks()
    {
        for (int k = 0; k < 256; ++k)
            for (int c = 0; c < 8; ++c) lanes[k][c] = (k >> c) & 1 ? -1 : 0;
    }
};
const BelowMasks kBelowMasks;

// Corners c = 0 … 7 of a cell take the lower or upper node coordinate on
// each axis as CornerOffsetX/Y/Z(c) say; as blend masks (bit c: upper).
constexpr int kUpperX = 0x66, kUpperY = 0xCC, kUpperZ = 0xF0;
constexpr int UpperCorners(int (*offset)(int))
{
    int mask = 0;
    for (int c = 0; c < 8; ++c)
        if (offset(c)) mask |= 1 << c;
    return mask;
}
static_assert(UpperCorners(CornerOffsetX) == kUpperX, "kUpperX follows the corner numbering");
static_assert(UpperCorners(CornerOffsetY) == kUpperY, "kUpperY follows the corner numbering");
static_assert(UpperCorners(CornerOffsetZ) == kUpperZ, "kUpperZ follows the corner numbering");

// AVX2 rather than AVX: a broadcast from a register is one instruction
// instead of two.
__attribute__((target("avx2"))) bool CrossesAnyAvx2(const osg::Vec3f& p, const float* lowerUpperX,
                                                   const float* lowerUpperY, const float* lowerUpperZ,
                                                   int cubeIndex, const CellTriangle* tri, int triangleCount)
{
    const __m256 below = _mm256_load_ps(reinterpret_cast<const float*>(kBelowMasks.lanes[cubeIndex]));
    const __m256 px = _mm256_set1_ps(p.x()), py = _mm256_set1_ps(p.y()), pz = _mm256_set1_ps(p.z());
    const __m256 cornerX = _mm256_blend_ps(_mm256_set1_ps(lowerUpperX[0]), _mm256_set1_ps(lowerUpperX[1]), kUpperX);
    const __m256 cornerY = _mm256_blend_ps(_mm256_set1_ps(lowerUpperY[0]), _mm256_set1_ps(lowerUpperY[1]), kUpperY);
    const __m256 cornerZ = _mm256_blend_ps(_mm256_set1_ps(lowerUpperZ[0]), _mm256_set1_ps(lowerUpperZ[1]), kUpperZ);
    const __m256 dx = _mm256_sub_ps(cornerX, px);
    const __m256 dy = _mm256_sub_ps(cornerY, py);
    const __m256 dz = _mm256_sub_ps(cornerZ, pz);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 limit = _mm256_set1_ps(kParallelLimit);
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    for (int t = 0; t < triangleCount; ++t, ++tri) {
        const osg::Vec3f& n = tri->n;
        if (n.x() == 0.0f && n.y() == 0.0f && n.z() == 0.0f)
            continue;
        const float a = -(n * (p - tri->v0));
        const osg::Vec3f& u = tri->u;
        const osg::Vec3f& v = tri->v;
        const float uu = u * u, uv = u * v, vv = v * v;
        const float D = uv * uv - uu * vv;
        const __m256 b = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(n.x()), dx),
                                                     _mm256_mul_ps(_mm256_set1_ps(n.y()), dy)),
                                       _mm256_mul_ps(_mm256_set1_ps(n.z()), dz));
        __m256 ok = _mm256_and_ps(below, _mm256_cmp_ps(_mm256_andnot_ps(signBit, b), limit, _CMP_NLT_UQ));
        if (!_mm256_movemask_ps(ok)) continue;  // spares the divisions
        const __m256 r = _mm256_div_ps(_mm256_set1_ps(a), b);
        ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(r, zero, _CMP_NLT_UQ), _mm256_cmp_ps(r, one, _CMP_NGT_UQ)));
        if (!_mm256_movemask_ps(ok)) continue;
        const __m256 wx = _mm256_sub_ps(_mm256_add_ps(px, _mm256_mul_ps(dx, r)), _mm256_set1_ps(tri->v0.x()));
        const __m256 wy = _mm256_sub_ps(_mm256_add_ps(py, _mm256_mul_ps(dy, r)), _mm256_set1_ps(tri->v0.y()));
        const __m256 wz = _mm256_sub_ps(_mm256_add_ps(pz, _mm256_mul_ps(dz, r)), _mm256_set1_ps(tri->v0.z()));
        const __m256 wu = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx, _mm256_set1_ps(u.x())),
                                                      _mm256_mul_ps(wy, _mm256_set1_ps(u.y()))),
                                        _mm256_mul_ps(wz, _mm256_set1_ps(u.z())));
        const __m256 wv = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx, _mm256_set1_ps(v.x())),
                                                      _mm256_mul_ps(wy, _mm256_set1_ps(v.y()))),
                                        _mm256_mul_ps(wz, _mm256_set1_ps(v.z())));
        const __m256 uuV = _mm256_set1_ps(uu), uvV = _mm256_set1_ps(uv), vvV = _mm256_set1_ps(vv);
        const __m256 dV = _mm256_set1_ps(D);
        const __m256 sV = _mm256_div_ps(_mm256_sub_ps(_mm256_mul_ps(uvV, wv), _mm256_mul_ps(vvV, wu)), dV);
        ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(sV, zero, _CMP_NLT_UQ), _mm256_cmp_ps(sV, one, _CMP_NGT_UQ)));
        const __m256 tV = _mm256_div_ps(_mm256_sub_ps(_mm256_mul_ps(uvV, wu), _mm256_mul_ps(uuV, wv)), dV);
        ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(tV, zero, _CMP_NLT_UQ),
                                             _mm256_cmp_ps(_mm256_add_ps(sV, tV), one, _CMP_NGT_UQ)));
        if (_mm256_movemask_ps(ok)) return true;
    }
    return false;
}

// The classification of TestRange's loop for 64 points whose cells are
// known, eight at a time: bit q of inside / cut says that point q lies in a
// cell wholly inside / in a cut cell. The per-point loop spent most of its
// time on the two bit lookups, which a gather does for eight cells at once,
// from the table that holds both bits of a cell in one word (one gather
// instead of one per bit table: 3 % off the whole mask at 10M points).
__attribute__((target("avx2"))) void ClassifyKnownCells(const uint32_t* cellOfPoint, const uint32_t* classWords,
                                                        uint64_t& inside, uint64_t& cut)
{
    const int* words = reinterpret_cast<const int*>(classWords);
    const __m256i noCell = _mm256_set1_epi32(-1), low4 = _mm256_set1_epi32(15);
    const __m256i cutToSign = _mm256_set1_epi32(31), insideToSign = _mm256_set1_epi32(15);
    inside = 0;
    cut = 0;
    for (int g = 0; g < 8; ++g) {
        const __m256i cell = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cellOfPoint + 8 * g));
        const __m256i missing = _mm256_cmpeq_epi32(cell, noCell);
        const __m256i index = _mm256_andnot_si256(missing, cell);
        const __m256i bit = _mm256_and_si256(index, low4);
        const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(index, 4), 4);
        // Shifting bit (cell % 16) or 16 + (cell % 16) to the sign bit, where movemask reads it.
        const __m256i isCut = _mm256_andnot_si256(missing, _mm256_sllv_epi32(word, _mm256_sub_epi32(cutToSign, bit)));
        const __m256i isInside =
            _mm256_andnot_si256(missing, _mm256_sllv_epi32(word, _mm256_sub_epi32(insideToSign, bit)));
        cut |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(isCut))))
               << (8 * g);
        inside |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(isInside))))
                  << (8 * g);
    }
}


// A point of a block found in a cut cell, by its index and cell.
struct CutPoint {
    size_t q;
    size_t cell;
};

// What the cut-cell tests of a range read.
struct CutCellTables {
    const CubeCellGrid* cells;
    const CellTriangle* triangles;
    const float* cornerX;
    const float* cornerY;
    const float* cornerZ;
    CellSplit split;
};

constexpr size_t kBlock = 256;

// One block of points in TestRange: its flags (bit q − begin: inside), and
// its points in cut cells with their cells' words.
struct CutBlock {
    size_t begin, end;
    uint64_t flags[kBlock / 64];
    size_t count;
    CutPoint cut[kBlock];
    uint32_t words[kBlock];
};

// The cut cells' words of a block, counted out of the bit tables with the
// popcnt instruction (the library's bit count is a call without it, which
// took a sixth of the range test), and the triangles and points the block's
// cut-cell tests will read requested from memory meanwhile.
__attribute__((target("popcnt"))) void FindCutWords(const CutCellTables& c, const osg::Vec3f* points,
                                                    CutBlock& block)
{
    const uint64_t* cutBits = c.cells->cutBits.data();
    const uint32_t* cutCellsBefore = c.cells->cutCellsBefore.data();
    const uint32_t* cutCells = c.cells->cutCells.data();
    for (size_t n = 0; n < block.count; ++n) {
        const size_t cell = block.cut[n].cell, w = cell >> 6;
        const uint64_t before = (uint64_t{1} << (cell & 63)) - 1;
        const uint32_t word =
            cutCells[cutCellsBefore[w] + static_cast<uint32_t>(__builtin_popcountll(cutBits[w] & before))];
        block.words[n] = word;
        const char* first = reinterpret_cast<const char*>(c.triangles + CubeCellGrid::FirstTriangleOf(word));
        __builtin_prefetch(first);
        __builtin_prefetch(first + 64);
        __builtin_prefetch(first + 128);
        __builtin_prefetch(points + block.cut[n].q);
    }
}

// The points of one cut cell, eight at a time with a lane per point: for
// each triangle and corner below the level, every lane computes what the
// scalar test computes for its point, operation for operation (no fused
// operations); a point is inside when any pair counts for its lane. The
// answers are set in the mask atomically, as other threads set flags of
// the same words. With a lane per corner, half the lanes were idle (four
// corners below the level on average) and every pair paid its scalar terms
// and its branches again.
__attribute__((target("avx2"))) void TestCellPointsAvx2(const osg::Vec3f* points, const uint32_t* indices,
                                                        size_t lanes, const float* lowerUpperX,
                                                        const float* lowerUpperY, const float* lowerUpperZ,
                                                        int cubeIndex, const CellTriangle* cellTriangles,
                                                        int triangleCount, std::vector<bool>& mask)
{
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 limit = _mm256_set1_ps(kParallelLimit);
    const __m256 signBit = _mm256_set1_ps(-0.0f);
    alignas(32) float x[8], y[8], z[8];
    for (size_t l = 0; l < 8; ++l) {
        // Lanes past the end repeat the last point; their answers are dropped.
        const osg::Vec3f& p = points[indices[std::min(l, lanes - 1)]];
        x[l] = p.x();
        y[l] = p.y();
        z[l] = p.z();
    }
    const __m256 px = _mm256_load_ps(x), py = _mm256_load_ps(y), pz = _mm256_load_ps(z);
    __m256 hit = zero;
    for (int t = 0; t < triangleCount; ++t) {
        const CellTriangle& tri = cellTriangles[t];
        const osg::Vec3f& n = tri.n;
        if (n.x() == 0.0f && n.y() == 0.0f && n.z() == 0.0f)
            continue;
        const __m256 nx = _mm256_set1_ps(n.x()), ny = _mm256_set1_ps(n.y()), nz = _mm256_set1_ps(n.z());
        const __m256 v0x = _mm256_set1_ps(tri.v0.x()), v0y = _mm256_set1_ps(tri.v0.y()),
                     v0z = _mm256_set1_ps(tri.v0.z());
        // a = −(n · (p − v0))
        const __m256 a = _mm256_xor_ps(
            signBit, _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, _mm256_sub_ps(px, v0x)),
                                                 _mm256_mul_ps(ny, _mm256_sub_ps(py, v0y))),
                                   _mm256_mul_ps(nz, _mm256_sub_ps(pz, v0z))));
        const osg::Vec3f& u = tri.u;
        const osg::Vec3f& v = tri.v;
        const float uu = u * u, uv = u * v, vv = v * v;
        const float D = uv * uv - uu * vv;
        const __m256 ux = _mm256_set1_ps(u.x()), uy = _mm256_set1_ps(u.y()), uz = _mm256_set1_ps(u.z());
        const __m256 vx = _mm256_set1_ps(v.x()), vy = _mm256_set1_ps(v.y()), vz = _mm256_set1_ps(v.z());
        const __m256 uuV = _mm256_set1_ps(uu), uvV = _mm256_set1_ps(uv), vvV = _mm256_set1_ps(vv);
        const __m256 dV = _mm256_set1_ps(D);
        for (int c = 0; c < 8; ++c) {
            if (!(cubeIndex & (1 << c)))
                continue;
            // d = corner − p
            const __m256 dx = _mm256_sub_ps(_mm256_set1_ps(lowerUpperX[CornerOffsetX(c)]), px);
            const __m256 dy = _mm256_sub_ps(_mm256_set1_ps(lowerUpperY[CornerOffsetY(c)]), py);
            const __m256 dz = _mm256_sub_ps(_mm256_set1_ps(lowerUpperZ[CornerOffsetZ(c)]), pz);
            const __m256 b =
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(nx, dx), _mm256_mul_ps(ny, dy)), _mm256_mul_ps(nz, dz));
            __m256 ok = _mm256_cmp_ps(_mm256_andnot_ps(signBit, b), limit, _CMP_NLT_UQ);
            const __m256 r = _mm256_div_ps(a, b);
            ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(r, zero, _CMP_NLT_UQ),
                                                 _mm256_cmp_ps(r, one, _CMP_NGT_UQ)));
            // w = (p + d·r) − v0
            const __m256 wx = _mm256_sub_ps(_mm256_add_ps(px, _mm256_mul_ps(dx, r)), v0x);
            const __m256 wy = _mm256_sub_ps(_mm256_add_ps(py, _mm256_mul_ps(dy, r)), v0y);
            const __m256 wz = _mm256_sub_ps(_mm256_add_ps(pz, _mm256_mul_ps(dz, r)), v0z);
            const __m256 wu =
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx, ux), _mm256_mul_ps(wy, uy)), _mm256_mul_ps(wz, uz));
            const __m256 wv =
                _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(wx, vx), _mm256_mul_ps(wy, vy)), _mm256_mul_ps(wz, vz));
            const __m256 sV = _mm256_div_ps(_mm256_sub_ps(_mm256_mul_ps(uvV, wv), _mm256_mul_ps(vvV, wu)), dV);
            ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(sV, zero, _CMP_NLT_UQ),
                                                 _mm256_cmp_ps(sV, one, _CMP_NGT_UQ)));
            const __m256 tV = _mm256_div_ps(_mm256_sub_ps(_mm256_mul_ps(uvV, wu), _mm256_mul_ps(uuV, wv)), dV);
            ok = _mm256_and_ps(ok, _mm256_and_ps(_mm256_cmp_ps(tV, zero, _CMP_NLT_UQ),
                                                 _mm256_cmp_ps(_mm256_add_ps(sV, tV), one, _CMP_NGT_UQ)));
            hit = _mm256_or_ps(hit, ok);
        }
    }
    for (unsigned bits = static_cast<unsigned>(_mm256_movemask_ps(hit)) & ((1u << lanes) - 1); bits;
         bits &= bits - 1)
        MaskWords::SetAtomically(mask, indices[static_cast<size_t>(__builtin_ctz(bits))]);
}

}  // namespace

bool SurfaceMembership::InsideCutCell(const osg::Vec3f& p, int i, int j, int k, uint32_t word) const
{
    if (VectorTest()) {
        const int cubeIndex = CubeCellGrid::CubeIndexOf(word);
        return CrossesAnyAvx2(p, cornerX + i, cornerY + j, cornerZ + k, cubeIndex,
                             triangles + CubeCellGrid::FirstTriangleOf(word), kTriangleCount[cubeIndex]);
    }
    // The point is inside when the segment from it to some corner below the
    // level crosses one of the cell's triangles. Which pair crosses first does
    // not matter, so each triangle's corner-independent terms are taken once
    // and the segment directions d = corner − p once per corner.
    const int cubeIndex = CubeCellGrid::CubeIndexOf(word);
    osg::Vec3f directions[8];
    int belowCount = 0;
    for (int c = 0; c < 8; ++c) {
        if (!(cubeIndex & (1 << c)))
            continue;
        const osg::Vec3f corner(cornerX[i + CornerOffsetX(c)], cornerY[j + CornerOffsetY(c)],
                                cornerZ[k + CornerOffsetZ(c)]);
        directions[belowCount++] = corner - p;
    }
    const CellTriangle* cellTriangles = triangles + CubeCellGrid::FirstTriangleOf(word);
    const int triangleCount = kTriangleCount[cubeIndex];
    for (int t = 0; t < triangleCount; ++t) {
        // Segment against triangle in single precision: a zero normal is a
        // degenerate triangle, a denominator below 1e-14 a segment parallel
        // to its plane; crossings on the boundary count.
        const CellTriangle& tri = cellTriangles[t];
        const osg::Vec3f& n = tri.n;
        if (n.x() == 0.0f && n.y() == 0.0f && n.z() == 0.0f)
            continue;
        const float a = -(n * (p - tri.v0));
        const osg::Vec3f& u = tri.u;
        const osg::Vec3f& v = tri.v;
        const float uu = u * u, uv = u * v, vv = v * v;
        const float D = uv * uv - uu * vv;
        for (int c = 0; c < belowCount; ++c) {
            const osg::Vec3f& d = directions[c];
            const float b = n * d;
            if (std::fabs(b) < 1e-14)
                continue;
            const float r = a / b;
            if (r < 0.0f || r > 1.0f)
                continue;
            const osg::Vec3f w = (p + d * r) - tri.v0;
            const float wu = w * u, wv = w * v;
            const float s = (uv * wv - vv * wu) / D;
            if (s < 0.0f || s > 1.0f)
                continue;
            const float tt = (uv * wu - uu * wv) / D;
            if (tt < 0.0f || s + tt > 1.0f)
                continue;
            return true;
        }
    }
    return false;
}

bool SurfaceMembership::IsInside(const osg::Vec3f& p) const
{
    // Before the first extraction there is no surface to be inside of.
    if (!cells)
        return false;
    int i, j, k;
    size_t cell;
    if (!CellOf(p, i, j, k, cell))
        return false;
    uint32_t word = 0;
    const int cubeIndex = cells->CubeIndex(cell, &word);
    if (cubeIndex == 0)
        return true;
    if (cubeIndex == 255)
        return false;
    return InsideCutCell(p, i, j, k, word);
}


// The test of ContainsRange; cellOf(q, cell) says whether points[q] lies in
// the grid's bounds and in a cell, and which.
template <class Finder>
void SurfaceMembership::TestRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask,
                                  Finder cellOf, const uint32_t* knownCells, bool testCut) const
{
    const bool vector = VectorTest();
    const bool gatherKnown = knownCells && vector;
    // Cut cells are found and split as 32-bit cell numbers; grids with more
    // cells take InsideCutCell's own lookup and divisions.
    const bool cellsFitWord = CellCount() <= UINT32_MAX;
    const bool batch = vector && cellsFitWord;
    if (!cells) {
        for (size_t q = begin; q < end; ++q)
            mask[q] = false;
        return;
    }
    const uint64_t* cutBits = cells->cutBits.data();
    const uint64_t* noCornerBelowBits = cells->noCornerBelowBits.data();
    const CutCellTables tables{cells, triangles, cornerX, cornerY, cornerZ, CellSplit(cellsX, cellsXY)};
    // Blocks of points: every point outside a cut cell is decided at once,
    // from the bit tables and without branching on its answer; the few in cut
    // cells are collected and tested afterwards, their triangles and
    // positions requested from memory in the meantime.
    CutBlock block;
    for (size_t blockBegin = begin; blockBegin < end; blockBegin += kBlock) {
        block.begin = blockBegin;
        block.end = std::min(end, blockBegin + kBlock);
        CutPoint* pending = block.cut;
        size_t pendingCount = 0;
        // Each flag word is gathered in a register: or-ing into memory point
        // by point would chain every point to the store of the one before.
        for (size_t wordBegin = blockBegin; wordBegin < block.end; wordBegin += 64) {
            const size_t wordEnd = std::min(block.end, wordBegin + 64);
            uint64_t insideBits = 0;
            if (gatherKnown && wordEnd - wordBegin == 64) {
                uint64_t cutPoints = 0;
                ClassifyKnownCells(knownCells + wordBegin, classWords, insideBits, cutPoints);
                for (; cutPoints; cutPoints &= cutPoints - 1) {
                    const size_t q = wordBegin + static_cast<size_t>(__builtin_ctzll(cutPoints));
                    pending[pendingCount].q = q;
                    pending[pendingCount].cell = knownCells[q];
                    ++pendingCount;
                }
                block.flags[(wordBegin - blockBegin) / 64] = insideBits;
                continue;
            }
            for (size_t q = wordBegin; q < wordEnd; ++q) {
                size_t cell = 0;
                const bool found = cellOf(q, cell);
                const size_t word = cell >> 6;
                const unsigned shift = static_cast<unsigned>(cell & 63);
                const bool cut = found & static_cast<bool>((cutBits[word] >> shift) & 1);
                const bool noCornerBelow = static_cast<bool>((noCornerBelowBits[word] >> shift) & 1);
                const uint64_t inside = found & !cut & noCornerBelow;
                insideBits |= inside << (q - wordBegin);
                pending[pendingCount].q = q;
                pending[pendingCount].cell = cell;
                pendingCount += cut;
            }
            block.flags[(wordBegin - blockBegin) / 64] = insideBits;
        }
        block.count = pendingCount;
        if (!testCut) {
            MaskWords::Store(block.flags, block.begin, block.end, mask);
            continue;
        }
        if (batch) {
            FindCutWords(tables, points, block);
            for (size_t n = 0; n < pendingCount; ++n) {
                int i, j, k;
                tables.split.Split(static_cast<uint32_t>(pending[n].cell), i, j, k);
                const uint32_t word = block.words[n];
                const int cubeIndex = CubeCellGrid::CubeIndexOf(word);
                const bool inside =
                    CrossesAnyAvx2(points[pending[n].q], cornerX + i, cornerY + j, cornerZ + k, cubeIndex,
                                  triangles + CubeCellGrid::FirstTriangleOf(word), kTriangleCount[cubeIndex]);
                const size_t offset = pending[n].q - blockBegin;
                block.flags[offset >> 6] |= static_cast<uint64_t>(inside) << (offset & 63);
            }
        } else {
            for (size_t n = 0; n < pendingCount; ++n) {
                const CutPoint& slot = pending[n];
                uint32_t word = 0;
                cells->CubeIndex(slot.cell, &word);
                const int k = static_cast<int>(slot.cell / cellsXY);
                const size_t inPlane = slot.cell % cellsXY;
                const int j = static_cast<int>(inPlane / cellsX);
                const int i = static_cast<int>(inPlane % cellsX);
                const size_t offset = slot.q - blockBegin;
                block.flags[offset >> 6] |= static_cast<uint64_t>(InsideCutCell(points[slot.q], i, j, k, word))
                                            << (offset & 63);
            }
        }
        // Whole words: storing bit by bit would branch on every answer, and
        // the answers come in no predictable pattern.
        MaskWords::Store(block.flags, block.begin, block.end, mask);
    }
}

bool SurfaceMembership::CellInBounds(const osg::Vec3f& p, size_t& cell) const
{
    // ScalarField3D::IsWithinBounds: faces included, in double.
    const double x = p.x(), y = p.y(), z = p.z();
    const bool withinBounds = (xMin <= x) & (x <= xMax) & (yMin <= y) & (y <= yMax) & (zMin <= z) & (z <= zMax);
    int i, j, k;
    return withinBounds && CellOf(p, i, j, k, cell);
}

void SurfaceMembership::ContainsRange(const osg::Vec3f* points, size_t begin, size_t end,
                                     std::vector<bool>& mask) const
{
    TestRange(points, begin, end, mask, [&](size_t q, size_t& cell) { return CellInBounds(points[q], cell); });
}

ParticleCells SurfaceMembership::NewParticleCells(size_t count) const
{
    ParticleCells c;
    c.xMin = xMin;
    c.yMin = yMin;
    c.zMin = zMin;
    c.xMax = xMax;
    c.yMax = yMax;
    c.zMax = zMax;
    c.xCount = xCount;
    c.yCount = yCount;
    c.zCount = zCount;
    c.cell.assign(count, ParticleCells::kNoCell);
    return c;
}

bool SurfaceMembership::OnGridOf(const ParticleCells& c) const
{
    return c.xMin == xMin && c.yMin == yMin && c.zMin == zMin && c.xMax == xMax && c.yMax == yMax &&
           c.zMax == zMax && c.xCount == xCount && c.yCount == yCount && c.zCount == zCount;
}

void SurfaceMembership::ContainsRange(const osg::Vec3f* points, size_t begin, size_t end, std::vector<bool>& mask,
                                     ParticleCells& found) const
{
    uint32_t* cellOfPoint = found.cell.data();
    TestRange(points, begin, end, mask, [&](size_t q, size_t& cell) {
        const bool inCell = CellInBounds(points[q], cell);
        cellOfPoint[q] = inCell ? static_cast<uint32_t>(cell) : ParticleCells::kNoCell;
        return inCell;
    });
}

void SurfaceMembership::TestKnownCells(const osg::Vec3f* points, const ParticleCells& c, size_t begin, size_t end,
                                       std::vector<bool>& mask, bool testCut) const
{
    const uint32_t* cellOfPoint = c.cell.data();
    TestRange(
        points, begin, end, mask,
        [cellOfPoint](size_t q, size_t& cell) {
            const uint32_t found = cellOfPoint[q];
            cell = found == ParticleCells::kNoCell ? 0 : found;
            return found != ParticleCells::kNoCell;
        },
        cellOfPoint, testCut);
}

void SurfaceMembership::ContainsRange(const osg::Vec3f* points, const ParticleCells& c, size_t begin, size_t end,
                                     std::vector<bool>& mask) const
{
    TestKnownCells(points, c, begin, end, mask, true);
}

void SurfaceMembership::OrderByCell(ParticleCells& found) const
{
    ::OrderByCell(found, CellCount());
}

void SurfaceMembership::ComputeMask(const osg::Vec3f* points, std::vector<bool>& mask,
                                    boost::shared_ptr<const ParticleCells>& known) const
{
    const size_t count = mask.size();
    if (!known || known->cell.size() != count || !OnGridOf(*known)) {
        auto found = boost::make_shared<ParticleCells>(NewParticleCells(count));
        parallel::ForEachBlock(count, MaskWords::kTaskChunk,
                               [&](size_t begin, size_t end) { ContainsRange(points, begin, end, mask, *found); });
        OrderByCell(*found);
        known = found;
        return;
    }
    const ParticleCells& c = *known;
    if (TestsCutCellsTogether(c)) {
        parallel::ForEachBlock(count, MaskWords::kTaskChunk,
                               [&](size_t begin, size_t end) { ClassifyRange(points, c, begin, end, mask); });
        ContainsCutCells(points, c, mask);
        return;
    }
    parallel::ForEachBlock(count, MaskWords::kTaskChunk,
                           [&](size_t begin, size_t end) { ContainsRange(points, c, begin, end, mask); });
}

bool SurfaceMembership::TestsCutCellsTogether(const ParticleCells& c) const
{
    return cells && MaskWords::kWholeWords && VectorTest() &&
           OnGridOf(c) && c.cellStart.size() == CellCount() + 1;
}

void SurfaceMembership::ClassifyRange(const osg::Vec3f* points, const ParticleCells& c, size_t begin, size_t end,
                                     std::vector<bool>& mask) const
{
    TestKnownCells(points, c, begin, end, mask, false);
}

void SurfaceMembership::ContainsCutCells(const osg::Vec3f* points, const ParticleCells& c,
                                        std::vector<bool>& mask) const
{
    if (!cells)
        return;
    const uint64_t* cutBits = cells->cutBits.data();
    const uint32_t* cutCellsBefore = cells->cutCellsBefore.data();
    const uint32_t* cutCells = cells->cutCells.data();
    const uint32_t* byCell = c.byCell.data();
    const uint32_t* cellStart = c.cellStart.data();
    const CellSplit split(cellsX, cellsXY);
    // The points come in no order that memory could anticipate: each one's
    // position, and the mask word its answer goes to, are requested this
    // many points ahead of their test.
    constexpr size_t kAhead = 64;
    struct Span {
        uint32_t cell, word, first, last;
    };
    // By words of the cut-cell table: 64 cells to a word, most without cuts.
    constexpr size_t kWords = 16;
    const bool vector = VectorTest();
    parallel::ForEachBlock(cells->cutBits.size(), kWords, [&](size_t firstWord, size_t endWord) {
        std::vector<Span> spans;
        for (size_t w = firstWord; w < endWord; ++w) {
            uint32_t rank = cutCellsBefore[w];
            for (uint64_t bits = cutBits[w]; bits; bits &= bits - 1, ++rank) {
                const uint32_t cell = static_cast<uint32_t>(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
                if (cellStart[cell] != cellStart[cell + 1])
                    spans.push_back({cell, cutCells[rank], cellStart[cell], cellStart[cell + 1]});
            }
        }
        size_t aheadSpan = 0, ahead = spans.empty() ? 0 : spans[0].first;
        auto requestAhead = [&](size_t n) {
            for (; n > 0 && aheadSpan < spans.size(); --n) {
                const uint32_t q = byCell[ahead];
                __builtin_prefetch(points + q);
                MaskWords::PrefetchForWrite(mask, q);
                if (++ahead == spans[aheadSpan].last && ++aheadSpan < spans.size())
                    ahead = spans[aheadSpan].first;
            }
        };
        requestAhead(kAhead);
        for (const Span& span : spans) {
            int i, j, k;
            split.Split(span.cell, i, j, k);
            const int cubeIndex = CubeCellGrid::CubeIndexOf(span.word);
            const CellTriangle* cellTriangles = triangles + CubeCellGrid::FirstTriangleOf(span.word);
            for (uint32_t g = span.first; g < span.last; g += 8) {
                const size_t lanes = std::min<size_t>(8, span.last - g);
                requestAhead(lanes);
                if (vector) {
                    TestCellPointsAvx2(points, byCell + g, lanes, cornerX + i, cornerY + j, cornerZ + k, cubeIndex,
                                       cellTriangles, kTriangleCount[cubeIndex], mask);
                    continue;
                }
                for (size_t n = 0; n < lanes; ++n)
                    if (InsideCutCell(points[byCell[g + n]], i, j, k, span.word))
                        MaskWords::SetAtomically(mask, byCell[g + n]);
            }
        }
    });
}
