#pragma once
// CellRecord: one cell of a field's compact cell records, assembled the long
// way for tests that check the records against a literal per-cell
// extraction. In: a field after ExtractIsoSurface and a cell (i, j, k),
// 0 ≤ i ≤ xCount (likewise j, k). Out: the cell's case, corner positions
// and triangles. Throws std::out_of_range for a cell outside the records or
// before an extraction. Cost: a bit-table lookup and eight corner loads.
#include "density/ScalarField3D.h"
#include "geometry/MarchingCubesTables.h"

#include <osg/Vec3f>

#include <cstdint>
#include <stdexcept>

// One cell as the last extraction left it.
struct CubeCell {
    double iso;                  // level of the last extraction
    int32_t cubeIndex;           // bit c set when corner c was below iso
    osg::Vec3f cornerPositions[8];
    int32_t firstTriangle;       // into the surface's triangle list
    int32_t triangleCount;       // 0 when the last extraction did not cut the cell
};

inline CubeCell CellRecord(const ScalarField3D& field, int i, int j, int k)
{
    const CubeCellGrid& cells = field.cells;
    if (!field.cellsBuilt || !cells.complete || i < 0 || i > field.xCount || j < 0 || j > field.yCount || k < 0 ||
        k > field.zCount)
        throw std::out_of_range("CellRecord: no such cell");
    uint32_t word = 0;
    CubeCell view;
    view.iso = cells.iso;
    view.cubeIndex = cells.CubeIndex(
        i + static_cast<size_t>(field.xCount + 1) * (j + static_cast<size_t>(field.yCount + 1) * k), &word);
    for (int c = 0; c < 8; ++c)
        view.cornerPositions[c].set(cells.cornerX[i + CornerOffsetX(c)], cells.cornerY[j + CornerOffsetY(c)],
                                    cells.cornerZ[k + CornerOffsetZ(c)]);
    view.triangleCount = kTriangleCount[view.cubeIndex];
    view.firstTriangle = view.triangleCount > 0 ? CubeCellGrid::FirstTriangleOf(word) : 0;
    return view;
}
