#include "geometry/CylinderGeometry.h"

CylinderGeometry::CylinderGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                                   const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix, const LassoImage* image)
    : SelectionGeometry(positions),
      projection(viewer, lassoPoints, modelMatrix, LassoImageBounds::IncludeLeftBottomEdge, image)
{
    field = CreateFieldOnCurrentGrid();
    projection.FillField(*field);
    field->ExtractIsoSurface(0.0);
    surface = field->surface;
    ComputeMaskFromField();
}

CylinderGeometry::~CylinderGeometry() = default;

const SurfaceMesh& CylinderGeometry::GetSurface() const
{
    return surface;
}

SurfaceMesh& CylinderGeometry::GetSurface()
{
    return surface;
}

double CylinderGeometry::ScreenSignedDistance(const osg::Vec3d& eye) const
{
    return projection.ScreenSignedDistance(eye);
}
