#pragma once
// CellRecordsBuilder: the compact cell records (CubeCellGrid) that the point
// test reads, written from the cells of one extraction as the mesh pass
// passes them.
//
// In: the rows of cells in cell order, each as two bit sets (cut, and no
// corner below the level), and after each row its cut cells in order (case,
// first triangle in the surface, the positions of its triangles' vertices).
// Out: the field's cells: both bit tables, one word per cut cell, one
// CellTriangle per triangle, and at Finish the counts of cut cells before
// each bit word and both bits interleaved per 16 cells. Cost: a few word
// operations per 64 cells, a word per cut cell, a cross product per triangle,
// and one pass over the bit words at the end. The records read as incomplete (nothing inside) until Finish.
#include "density/ScalarField3D.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

class CellRecordsBuilder {
public:
    // Makes the per-axis node positions on the field's first extraction and
    // empties the records for an extraction at `iso`.
    CellRecordsBuilder(ScalarField3D& field, double iso);

    // The cells [firstCell, firstCell + count) of one row: bit i of
    // cut / noCornerBelow (words from 0, bits beyond count clear) for cell
    // firstCell + i. Rows come in cell order; the cut cells of a row follow
    // it through CutCell, in order.
    void Row(size_t firstCell, size_t count, const uint64_t* cut, const uint64_t* noCornerBelow)
    {
        OrBits(cutBits, bitWords, firstCell, cut, count);
        OrBits(noCornerBelowBits, bitWords, firstCell, noCornerBelow, count);
    }
    // The next cut cell, whose triangles start at surface triangle firstTriangle.
    void CutCell(int cubeIndex, size_t firstTriangle)
    {
        if (firstTriangle > kMaxPackedTriangle)
            throw std::length_error("ScalarField3D::ExtractIsoSurface: too many triangles for the cell records");
        cells.cutCells.push_back(static_cast<uint32_t>(cubeIndex) | static_cast<uint32_t>(firstTriangle) << 8);
    }
    // The next triangle of the last cut cell, by its vertices in winding order.
    void Triangle(const osg::Vec3f& v0, const osg::Vec3f& v1, const osg::Vec3f& v2)
    {
        // Component by component into the record in place: a record built
        // whole and copied went through the stack in pieces the processor
        // could not forward, three times slower.
        const float ux = v1.x() - v0.x(), uy = v1.y() - v0.y(), uz = v1.z() - v0.z();
        const float vx = v2.x() - v0.x(), vy = v2.y() - v0.y(), vz = v2.z() - v0.z();
        CellTriangle& t = cells.triangles.emplace_back();
        t.v0.set(v0.x(), v0.y(), v0.z());
        t.u.set(ux, uy, uz);
        t.v.set(vx, vy, vz);
        // u ^ v, as osg::Vec3f computes it.
        t.n.set(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx);
    }
    // Counts the cut cells before each bit word and marks the records complete.
    void Finish();

private:
    // The largest first-triangle index that fits above the case byte.
    static constexpr size_t kMaxPackedTriangle = (size_t{1} << 24) - 1;

    // table's bits [offset, offset + count) |= src's bits [0, count); the
    // table has tableWords words and its bits in that range are clear.
    static void OrBits(uint64_t* table, size_t tableWords, size_t offset, const uint64_t* src, size_t count)
    {
        const size_t first = offset >> 6;
        const unsigned shift = offset & 63;
        for (size_t w = 0; w < (count + 63) / 64; ++w) {
            const uint64_t v = src[w];
            table[first + w] |= v << shift;
            // What spills into the next word (nothing when shift is 0),
            // written whenever that word exists: whether anything spills
            // follows the data, and a branch on it was mispredicted at
            // random (a stall that cost more than the extra OR). The double
            // shift keeps each shift below 64 when shift is 0.
            if (first + w + 1 < tableWords)
                table[first + w + 1] |= v >> 1 >> (63 - shift);
        }
    }

    CubeCellGrid& cells;
    size_t bitWords;
    uint64_t* cutBits;
    uint64_t* noCornerBelowBits;
};
