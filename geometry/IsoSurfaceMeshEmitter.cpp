#include "geometry/IsoSurfaceMeshEmitter.h"

#include "geometry/CellIndexBuilder.h"
#include "geometry/MarchingCubesTables.h"

#include <algorithm>
#include <cmath>
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

}  // namespace

void IsoSurfaceMeshEmitter::Emit(SurfaceMesh& surface, CellIndexBuilder& index) const
{
    const int xCount = field.xCount, yCount = field.yCount, zCount = field.zCount;
    const int cx = xCount + 1, cy = yCount + 1, cz = zCount + 1;
    surface.vertices.clear();
    surface.triangles.clear();
    const float* cornerX = field.cells.cornerX.data();
    const float* cornerY = field.cells.cornerY.data();
    const float* cornerZ = field.cells.cornerZ.data();
    const std::vector<double>& values = field.values;

    // Cells of slab k have their lower corners on node layer k−1 and their
    // upper corners on layer k. Per node layer, quad[i + cx·j] holds the
    // below-level bits of the four nodes (i−1, j−1), (i, j−1), (i, j), (i−1, j)
    // in corner order 0…3, so a cell's case is its lower quad with its upper
    // quad shifted by four. Only two layers are kept.
    const uint8_t borderBelow = kBorderValue < iso ? 1 : 0;
    const int px = xCount + 2;  // node flags of a layer, padded by one node beyond the grid
    std::vector<uint8_t> layerFlags(static_cast<size_t>(px) * (yCount + 2));
    std::vector<uint8_t> quadStorage(2 * static_cast<size_t>(cx) * cy);
    uint8_t* lowerQuad = quadStorage.data();
    uint8_t* upperQuad = quadStorage.data() + static_cast<size_t>(cx) * cy;
    auto computeQuads = [&](int iz, uint8_t* quad) {
        if (iz < 0 || iz >= zCount) {
            std::fill(quad, quad + static_cast<size_t>(cx) * cy, static_cast<uint8_t>(borderBelow * 15));
            return;
        }
        std::fill(layerFlags.begin(), layerFlags.end(), borderBelow);
        for (int iy = 0; iy < yCount; ++iy) {
            const double* row = values.data() + field.NodeIndex(0, iy, iz);
            uint8_t* out = layerFlags.data() + 1 + px * (iy + 1);
            for (int ix = 0; ix < xCount; ++ix)
                out[ix] = row[ix] < iso ? 1 : 0;
        }
        for (int j = 0; j < cy; ++j) {
            const uint8_t* f0 = layerFlags.data() + px * j;  // nodes (·, j−1)
            const uint8_t* f1 = f0 + px;                     // nodes (·, j)
            uint8_t* q = quad + static_cast<size_t>(cx) * j;
            for (int i = 0; i < cx; ++i)
                q[i] = static_cast<uint8_t>(f0[i] | f0[i + 1] << 1 | f1[i + 1] << 2 | f1[i] << 3);
        }
    };
    computeQuads(-1, upperQuad);

    auto nodeValue = [&](int ix, int iy, int iz) {
        if (ix < 0 || ix >= xCount || iy < 0 || iy >= yCount || iz < 0 || iz >= zCount)
            return kBorderValue;
        return values[field.NodeIndex(ix, iy, iz)];
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
    std::vector<RowEdges> rowStorage(2 * static_cast<size_t>(cx));
    SlabEdges* previousSlab = slabStorage.data();
    SlabEdges* currentSlab = slabStorage.data() + static_cast<size_t>(cx) * cy;
    RowEdges* previousRow = rowStorage.data();
    RowEdges* currentRow = rowStorage.data() + cx;
    EdgeVertices ev{}, previousCell{};

    for (int k = 0; k < cz; ++k) {
        std::swap(previousSlab, currentSlab);
        std::swap(lowerQuad, upperQuad);
        computeQuads(k, upperQuad);
        for (int j = 0; j < cy; ++j) {
            std::swap(previousRow, currentRow);
            const size_t quadRow = static_cast<size_t>(cx) * j;
            const size_t cellRow = quadRow + static_cast<size_t>(cx) * cy * k;
            for (int i = 0; i < cx; ++i) {
                const int cubeIndex = lowerQuad[quadRow + i] | upperQuad[quadRow + i] << 4;
                const size_t cell = cellRow + i;
                const int edgeMask = kEdgeTable[cubeIndex];
                if (edgeMask == 0) {
                    index.UncutCell(cell, cubeIndex);
                    continue;
                }

                for (int e = 0; e < 12; ++e) {
                    if (!(edgeMask & (1 << e)))
                        continue;
                    const Reuse& reuse = kReuse[e];
                    if (reuse.from == Neighbour::PreviousI && i > 0) {
                        ev.index[e] = previousCell.index[reuse.edge];
                        continue;
                    }
                    if (reuse.from == Neighbour::PreviousJ && j > 0) {
                        const RowEdges& r = previousRow[i];
                        ev.index[e] = reuse.edge == 2 ? r.e2 : (reuse.edge == 6 ? r.e6 : r.e10);
                        continue;
                    }
                    if (reuse.from == Neighbour::PreviousK && k > 0) {
                        const SlabEdges& s = previousSlab[quadRow + i];
                        ev.index[e] = reuse.edge == 5 ? s.e5 : s.e6;
                        continue;
                    }
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
                    ev.index[e] = static_cast<int32_t>(surface.vertices.size()) - 1;
                }
                currentSlab[quadRow + i] = SlabEdges{ev.index[5], ev.index[6]};
                currentRow[i] = RowEdges{ev.index[2], ev.index[6], ev.index[10]};
                previousCell = ev;

                index.CutCell(cell, cubeIndex, surface.triangles.size());
                const int* row = kTriangleTable[cubeIndex];
                for (int t = 0; row[t] != -1; t += 3) {
                    const TriangleIndices tri{ev.index[row[t]], ev.index[row[t + 1]], ev.index[row[t + 2]]};
                    surface.triangles.push_back(tri);
                    index.Triangle(surface.vertices[tri.v0], surface.vertices[tri.v1], surface.vertices[tri.v2]);
                }
            }
        }
    }
}
