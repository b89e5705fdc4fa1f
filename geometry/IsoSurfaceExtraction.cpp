// ScalarField3D's extraction, point test and cell view.
//
// The extraction is one pass over the cells: the mesh emitter produces the
// surface and hands each cell to the cell-index builder, which writes the
// records the point test reads.
#include "density/ScalarField3D.h"
#include "geometry/CellIndexBuilder.h"
#include "geometry/IsoSurfaceMeshEmitter.h"
#include "geometry/MarchingCubesTables.h"
#include "geometry/SurfaceMembership.h"

#include <stdexcept>

void ScalarField3D::ExtractIsoSurface(double iso)
{
    CellIndexBuilder index(*this, iso);
    IsoSurfaceMeshEmitter(*this, iso).Emit(surface, index);
    index.Finish();
}

bool ScalarField3D::IsInsideSurface(const osg::Vec3f& p) const
{
    return SurfaceMembership(*this).IsInside(p);
}

CubeCell ScalarField3D::Cell(int i, int j, int k) const
{
    if (!cellsBuilt || !cells.complete || i < 0 || i > xCount || j < 0 || j > yCount || k < 0 || k > zCount)
        throw std::out_of_range("ScalarField3D::Cell: no such cell");
    uint32_t word = 0;
    CubeCell view;
    view.iso = cells.iso;
    view.cubeIndex =
        cells.CubeIndex(i + static_cast<size_t>(xCount + 1) * (j + static_cast<size_t>(yCount + 1) * k), &word);
    for (int c = 0; c < 8; ++c)
        view.cornerPositions[c].set(cells.cornerX[i + CornerOffsetX(c)], cells.cornerY[j + CornerOffsetY(c)],
                                    cells.cornerZ[k + CornerOffsetZ(c)]);
    view.triangleCount = kTriangleCount[view.cubeIndex];
    view.firstTriangle = view.triangleCount > 0 ? CubeCellGrid::FirstTriangleOf(word) : 0;
    return view;
}
