#pragma once
// MarchingCubesMesh: marching cubes over the dual cells of a
// ScalarField3D, one pass in cell order (k, j, i), feeding each cell to a
// CellRecordsBuilder as it goes.
//
// In: the field's values, its per-axis node positions (made by the
// CellRecordsBuilder) and a level. Out: the surface as an indexed mesh whose
// vertex order, triangle order and winding follow from the pass order and the
// case tables; one surface vertex per cut grid edge, reused by the later
// cells that share the edge. Cost: one comparison per node and a few word
// operations per 64 cells (a row of cells is classified from the bits of its
// nodes, so uncut cells are never visited one by one), plus work
// proportional to the number of cut cells and triangles.
#include "density/ScalarField3D.h"

class CellRecordsBuilder;

class MarchingCubesMesh {
public:
    MarchingCubesMesh(const ScalarField3D& field, double iso) : field(field), iso(iso) {}

    // Replaces `surface` with the field's surface at the level; every cell
    // goes to `index` in cell order, its triangles after it.
    void Emit(SurfaceMesh& surface, CellRecordsBuilder& index) const;

private:
    const ScalarField3D& field;
    double iso;
};
