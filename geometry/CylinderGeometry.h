#pragma once
// CylinderGeometry: the lasso extruded along the viewing rays. Node value =
// signed screen distance to the lasso (positive on a lasso pixel of the lasso
// image, magnitude = pixel distance to the nearest lasso point).
#include "geometry/SelectionGeometry.h"

#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

class CylinderGeometry : public SelectionGeometry {
public:
    CylinderGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                     const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix);
    ~CylinderGeometry() override;
    const SurfaceMesh& GetSurface() const override;
    SurfaceMesh& GetSurface() override;
};
