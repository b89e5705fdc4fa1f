// ScalarField3D's extraction and point test.
//
// The extraction is one pass over the cells: the mesh pass produces the
// surface and hands each cell to the cell-records builder, which writes the
// records the point test reads.
#include "density/ScalarField3D.h"
#include "geometry/CellRecordsBuilder.h"
#include "geometry/MarchingCubesMesh.h"
#include "geometry/SurfaceMembership.h"

void ScalarField3D::ExtractIsoSurface(double iso)
{
    CellRecordsBuilder index(*this, iso);
    MarchingCubesMesh(*this, iso).Emit(surface, index);
    index.Finish();
}

bool ScalarField3D::IsInsideSurface(const osg::Vec3f& p) const
{
    return SurfaceMembership(*this).IsInside(p);
}
