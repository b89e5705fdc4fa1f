#pragma once
// CellIndexBuilder: the compact cell records (CubeCellGrid) that the point
// test reads, written from the cells of one extraction as the mesh emitter
// passes them.
//
// In: every cell of the field in cell order, each as uncut (case 0 or 255)
// or cut (its case, its first triangle in the surface and the positions of
// its triangles' vertices). Out: the field's cells: both bit tables, one word
// per cut cell, one CellTriangle per triangle, and at Finish the counts of
// cut cells before each bit word. Cost: a bit write per cell, a word per cut
// cell, a cross product per triangle, and one pass over the bit words at the
// end. The records read as incomplete (nothing inside) until Finish.
#include "density/ScalarField3D.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

class CellIndexBuilder {
public:
    // Makes the per-axis node positions on the field's first extraction and
    // empties the records for an extraction at `iso`.
    CellIndexBuilder(ScalarField3D& field, double iso);

    void UncutCell(size_t cell, int cubeIndex)
    {
        if (cubeIndex == 0)
            noCornerBelowBits[cell >> 6] |= uint64_t{1} << (cell & 63);
    }
    void CutCell(size_t cell, int cubeIndex, size_t firstTriangle)
    {
        cutBits[cell >> 6] |= uint64_t{1} << (cell & 63);
        if (firstTriangle > kMaxPackedTriangle)
            throw std::length_error("ScalarField3D::ExtractIsoSurface: too many triangles for the cell records");
        cells.cutCells.push_back(static_cast<uint32_t>(cubeIndex) | static_cast<uint32_t>(firstTriangle) << 8);
    }
    // The next triangle of the last cut cell, by its vertices in winding order.
    void Triangle(const osg::Vec3f& v0, const osg::Vec3f& v1, const osg::Vec3f& v2)
    {
        CellTriangle t;
        t.v0 = v0;
        t.u = v1 - v0;
        t.v = v2 - v0;
        t.n = t.u ^ t.v;
        cells.triangles.push_back(t);
    }
    // Counts the cut cells before each bit word and marks the records complete.
    void Finish();

private:
    // The largest first-triangle index that fits above the case byte.
    static constexpr size_t kMaxPackedTriangle = (size_t{1} << 24) - 1;

    CubeCellGrid& cells;
    uint64_t* cutBits;
    uint64_t* noCornerBelowBits;
};
