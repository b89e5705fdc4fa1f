#include "geometry/MarchingCubesMesh.h"

#include "geometry/CellRecordsBuilder.h"
#include "geometry/MarchingCubesTables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <immintrin.h>
#include <utility>
#include <vector>

namespace {

enum class Neighbour { None, PreviousI, PreviousJ, PreviousK };

// Where each edge's vertex was produced earlier in the pass: which
// neighbour cell, and under which of its edge numbers. Edges 5, 6 and 10 are
// always new because no earlier cell touches them.
struct Reuse {
    Neighbour from;
    int edge;
};
constexpr Reuse kReuse[12] = {
    {Neighbour::PreviousJ, 2},  {Neighbour::PreviousK, 5},  {Neighbour::PreviousK, 6},
    {Neighbour::PreviousI, 1},  {Neighbour::PreviousJ, 6},  {Neighbour::None, 0},
    {Neighbour::None, 0},       {Neighbour::PreviousI, 5},  {Neighbour::PreviousI, 9},
    {Neighbour::PreviousJ, 10}, {Neighbour::None, 0},       {Neighbour::PreviousI, 10},
};

struct EdgeVertices {
    int32_t index[12];
};

// Below-level bits of the nodes of one row, padded by one node beyond the
// grid on each side: bit b is node b − 1. A node is below when value < iso,
// so a NaN value is not below, as in a comparison node by node.
void RowBelowBits(const double* row, int count, double iso, uint64_t borderBelow, uint64_t* bits, int words)
{
    const __m128d level = _mm_set1_pd(iso);
    // Four nodes' answers: one 32-bit half of each double's all-ones or
    // all-zeros comparison result.
    auto four = [&](const double* v) {
        const __m128d c01 = _mm_cmplt_pd(_mm_loadu_pd(v), level);
        const __m128d c23 = _mm_cmplt_pd(_mm_loadu_pd(v + 2), level);
        return static_cast<uint64_t>(
            _mm_movemask_ps(_mm_shuffle_ps(_mm_castpd_ps(c01), _mm_castpd_ps(c23), _MM_SHUFFLE(2, 0, 2, 0))));
    };
    // Whole words of 64 nodes, each shifted up by the padding node.
    uint64_t carry = borderBelow;
    int ix = 0, w = 0;
    for (; ix + 64 <= count; ix += 64, ++w) {
        uint64_t word = 0;
        for (int g = 0; g < 16; ++g)
            word |= four(row + ix + 4 * g) << (4 * g);
        bits[w] = word << 1 | carry;
        carry = word >> 63;
    }
    // The rest, the far padding node and zeros after it.
    uint64_t word = 0;
    int b = 0;
    for (; ix + 4 <= count; ix += 4, b += 4)
        word |= four(row + ix) << b;
    for (; ix < count; ++ix, ++b)
        word |= static_cast<uint64_t>(row[ix] < iso) << b;
    // Bits 0 … b − 1 of word are nodes; the padding node follows at b.
    const uint64_t tail = word << 1 | carry;
    if (b + 1 < 64) {
        bits[w++] = tail | borderBelow << (b + 1);
    } else {
        bits[w++] = tail;
        bits[w++] = word >> 63 | borderBelow << (b + 1 - 64);
    }
    std::fill(bits + w, bits + words, uint64_t{0});
}

// Bits b and b + 1 of a row.
inline unsigned BitPair(const uint64_t* bits, int b)
{
    uint64_t v = bits[b >> 6] >> (b & 63);
    if ((b & 63) == 63)
        v |= bits[(b >> 6) + 1] << 1;
    return static_cast<unsigned>(v & 3);
}

}  // namespace

void MarchingCubesMesh::Emit(SurfaceMesh& surface, CellRecordsBuilder& index) const
{
    const int xCount = field.xCount, yCount = field.yCount, zCount = field.zCount;
    const int cx = xCount + 1, cy = yCount + 1, cz = zCount + 1;
    surface.vertices.clear();
    surface.triangles.clear();
    const float* cornerX = field.cells.cornerX.data();
    const float* cornerY = field.cells.cornerY.data();
    const float* cornerZ = field.cells.cornerZ.data();
    const std::vector<double>& values = field.values;

    // The nodes' below-level bits by node layer, row and padded position:
    // cell (i, j, k) has its corners on layers k−1 and k, rows j−1 and j,
    // positions i and i + 1. Only two layers are kept. Padding rows (node
    // rows −1 and yCount) and layers beyond the grid hold the border value.
    const uint64_t borderBelow = kBorderValue < iso ? 1 : 0;
    const int words = (xCount + 2 + 63) / 64;  // per padded row of nodes
    const size_t layerWords = static_cast<size_t>(words) * (yCount + 2);
    std::vector<uint64_t> layerStorage(2 * layerWords);
    uint64_t* lowerLayer = layerStorage.data();
    uint64_t* upperLayer = layerStorage.data() + layerWords;
    auto layerBits = [&](int iz, uint64_t* layer) {
        if (iz < 0 || iz >= zCount) {
            std::fill(layer, layer + layerWords, borderBelow ? ~uint64_t{0} : 0);
            return;
        }
        std::fill(layer, layer + words, borderBelow ? ~uint64_t{0} : 0);
        std::fill(layer + layerWords - words, layer + layerWords, borderBelow ? ~uint64_t{0} : 0);
        for (int iy = 0; iy < yCount; ++iy)
            RowBelowBits(values.data() + field.NodeIndex(0, iy, iz), xCount, iso, borderBelow,
                         layer + static_cast<size_t>(words) * (iy + 1), words);
    };
    layerBits(-1, upperLayer);

    // Cell bits of one row: cell i uses padded positions i and i + 1.
    std::vector<uint64_t> rowStorage(4 * static_cast<size_t>(words));
    uint64_t* all = rowStorage.data();
    uint64_t* any = all + words;
    uint64_t* cut = any + words;
    uint64_t* noneBelow = cut + words;
    const uint64_t lastWordMask = (cx & 63) == 0 ? ~uint64_t{0} : (uint64_t{1} << (cx & 63)) - 1;
    const int cellWords = (cx + 63) / 64;

    auto nodeValue = [&](int ix, int iy, int iz) {
        if (ix < 0 || ix >= xCount || iy < 0 || iy >= yCount || iz < 0 || iz >= zCount)
            return kBorderValue;
        return values[field.NodeIndex(ix, iy, iz)];
    };
    // A vertex on edge e of cell (i, j, k), appended to the surface.
    auto newVertex = [&](int e, int i, int j, int k) {
        const int ca = kEdgeCorners[e][0], cb = kEdgeCorners[e][1];
        // Corner c of cell (i, j, k) is node (i−1+ox, j−1+oy, k−1+oz);
        // the per-axis position tables are indexed by node + 1.
        const int ax = i + CornerOffsetX(ca), ay = j + CornerOffsetY(ca), az = k + CornerOffsetZ(ca);
        const int bx = i + CornerOffsetX(cb), by = j + CornerOffsetY(cb), bz = k + CornerOffsetZ(cb);
        const double va = nodeValue(ax - 1, ay - 1, az - 1);
        const double vb = nodeValue(bx - 1, by - 1, bz - 1);
        // Nearly equal values would make mu blow up; take the midpoint.
        const double mu = std::fabs(vb - va) >= 1e-14 ? (iso - va) / (vb - va) : 0.5;
        const double pax = cornerX[ax], pay = cornerY[ay], paz = cornerZ[az];
        const double pbx = cornerX[bx], pby = cornerY[by], pbz = cornerZ[bz];
        surface.vertices.emplace_back(static_cast<float>(pax + mu * (pbx - pax)),
                                      static_cast<float>(pay + mu * (pby - pay)),
                                      static_cast<float>(paz + mu * (pbz - paz)));
        return static_cast<int32_t>(surface.vertices.size()) - 1;
    };

    // What later cells reuse of a cut cell's edge vertices: the next slab
    // takes edges 5 and 6, the next row edges 2, 6 and 10, the next cell in
    // the row edges 1, 5, 9 and 10. An entry is read only where the shared
    // edge is cut, and then its owner was cut too and wrote it.
    struct SlabEdges {
        int32_t e5, e6;
    };
    struct RowEdges {
        int32_t e2, e6, e10;
    };
    std::vector<SlabEdges> slabStorage(2 * static_cast<size_t>(cx) * cy);
    std::vector<RowEdges> rowEdgeStorage(2 * static_cast<size_t>(cx));
    SlabEdges* previousSlab = slabStorage.data();
    SlabEdges* currentSlab = slabStorage.data() + static_cast<size_t>(cx) * cy;
    RowEdges* previousRow = rowEdgeStorage.data();
    RowEdges* currentRow = rowEdgeStorage.data() + cx;
    // The edge vertices of the current cut cell and of the one before it,
    // swapped rather than copied. A cell writes every edge it has cut and
    // reads from the one before only edges they share, which that one cut.
    EdgeVertices cellEdges[2] = {};
    int32_t* ev = cellEdges[0].index;
    int32_t* previousCell = cellEdges[1].index;

    for (int k = 0; k < cz; ++k) {
        std::swap(previousSlab, currentSlab);
        std::swap(lowerLayer, upperLayer);
        layerBits(k, upperLayer);
        for (int j = 0; j < cy; ++j) {
            std::swap(previousRow, currentRow);
            const uint64_t* r0 = lowerLayer + static_cast<size_t>(words) * j;  // corners 0, 1
            const uint64_t* r1 = r0 + words;                                   // corners 3, 2
            const uint64_t* r2 = upperLayer + static_cast<size_t>(words) * j;  // corners 4, 5
            const uint64_t* r3 = r2 + words;                                   // corners 7, 6
            for (int w = 0; w < words; ++w) {
                all[w] = r0[w] & r1[w] & r2[w] & r3[w];
                any[w] = r0[w] | r1[w] | r2[w] | r3[w];
            }
            uint64_t cutAny = 0;
            for (int w = 0; w < cellWords; ++w) {
                const uint64_t nextAll = w + 1 < words ? all[w + 1] << 63 : 0;
                const uint64_t nextAny = w + 1 < words ? any[w + 1] << 63 : 0;
                const uint64_t mask = w + 1 == cellWords ? lastWordMask : ~uint64_t{0};
                const uint64_t allBelow = all[w] & (all[w] >> 1 | nextAll);
                const uint64_t anyBelow = any[w] | any[w] >> 1 | nextAny;
                cut[w] = anyBelow & ~allBelow & mask;
                noneBelow[w] = ~anyBelow & mask;
                cutAny |= cut[w];
            }
            const size_t quadRow = static_cast<size_t>(cx) * j;
            index.Row(quadRow + static_cast<size_t>(cx) * cy * k, cx, cut, noneBelow);
            if (cutAny == 0)
                continue;
            const bool inner = j > 0 && k > 0;

            for (int w = 0; w < cellWords; ++w)
                for (uint64_t bits = cut[w]; bits != 0; bits &= bits - 1) {
                    const int i = w * 64 + __builtin_ctzll(bits);
                    const unsigned p0 = BitPair(r0, i), p1 = BitPair(r1, i), p2 = BitPair(r2, i),
                                   p3 = BitPair(r3, i);
                    const int cubeIndex = static_cast<int>(p0 | (p1 >> 1) << 2 | (p1 & 1) << 3 | p2 << 4 |
                                                           (p3 >> 1) << 6 | (p3 & 1) << 7);
                    const int edgeMask = kEdgeTable[cubeIndex];

                    if (inner && i > 0) {
                        // Every edge but 5, 6 and 10 is shared with an earlier cell;
                        // copying all of them costs less than testing which are cut.
                        const RowEdges& r = previousRow[i];
                        const SlabEdges& s = previousSlab[quadRow + i];
                        ev[0] = r.e2;
                        ev[1] = s.e5;
                        ev[2] = s.e6;
                        ev[3] = previousCell[1];
                        ev[4] = r.e6;
                        ev[7] = previousCell[5];
                        ev[8] = previousCell[9];
                        ev[9] = r.e10;
                        ev[11] = previousCell[10];
                        if (edgeMask & 1 << 5)
                            ev[5] = newVertex(5, i, j, k);
                        if (edgeMask & 1 << 6)
                            ev[6] = newVertex(6, i, j, k);
                        if (edgeMask & 1 << 10)
                            ev[10] = newVertex(10, i, j, k);
                    } else {
                        for (unsigned edges = static_cast<unsigned>(edgeMask); edges != 0; edges &= edges - 1) {
                            const int e = __builtin_ctz(edges);
                            const Reuse& reuse = kReuse[e];
                            if (reuse.from == Neighbour::PreviousI && i > 0)
                                ev[e] = previousCell[reuse.edge];
                            else if (reuse.from == Neighbour::PreviousJ && j > 0)
                                ev[e] = reuse.edge == 2 ? previousRow[i].e2
                                                        : (reuse.edge == 6 ? previousRow[i].e6 : previousRow[i].e10);
                            else if (reuse.from == Neighbour::PreviousK && k > 0)
                                ev[e] = reuse.edge == 5 ? previousSlab[quadRow + i].e5 : previousSlab[quadRow + i].e6;
                            else
                                ev[e] = newVertex(e, i, j, k);
                        }
                    }
                    currentSlab[quadRow + i] = SlabEdges{ev[5], ev[6]};
                    currentRow[i] = RowEdges{ev[2], ev[6], ev[10]};

                    index.CutCell(cubeIndex, surface.triangles.size());
                    const int* row = kTriangleTable[cubeIndex];
                    for (int t = 0; row[t] != -1; t += 3) {
                        const int32_t a = ev[row[t]], b = ev[row[t + 1]], c = ev[row[t + 2]];
                        TriangleIndices& tri = surface.triangles.emplace_back();
                        tri.v0 = a;
                        tri.v1 = b;
                        tri.v2 = c;
                        index.Triangle(surface.vertices[a], surface.vertices[b], surface.vertices[c]);
                    }
                    std::swap(ev, previousCell);
                }
        }
    }
}
