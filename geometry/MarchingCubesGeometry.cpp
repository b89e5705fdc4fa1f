#include "geometry/MarchingCubesGeometry.h"
// placeholder
MarchingCubesGeometry::MarchingCubesGeometry(osg::Vec3Array* p, osgViewer::Viewer*, const std::vector<osg::Vec2f>&, osg::Matrixf) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
MarchingCubesGeometry::~MarchingCubesGeometry() = default;
const SurfaceMesh& MarchingCubesGeometry::GetSurface() const { return field->surface; }
SurfaceMesh& MarchingCubesGeometry::GetSurface() { return field->surface; }
void MarchingCubesGeometry::UpdateThreshold(double) {}
