#include "geometry/CylinderGeometry.h"
// placeholder
CylinderGeometry::CylinderGeometry(osg::Vec3Array* p, osgViewer::Viewer*, const std::vector<osg::Vec2f>&, osg::Matrixf) : SelectionGeometry(p) { field = CreateFieldOnCurrentGrid(); }
CylinderGeometry::~CylinderGeometry() = default;
const SurfaceMesh& CylinderGeometry::GetSurface() const { return field->surface; }
SurfaceMesh& CylinderGeometry::GetSurface() { return field->surface; }
