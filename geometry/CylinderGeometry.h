#pragma once
// CylinderGeometry: the lasso extruded along the viewing rays between the near
// and far plane. Node value = signed screen distance to the lasso: positive
// where the node projects onto a lasso pixel of the lasso image (the
// viewport's left and bottom edge included), magnitude = pixel distance to the
// nearest lasso point. Boundary at level 0; particles are tested against the
// extracted surface, so the selection follows the lasso at grid resolution.
//
// Throws at construction what LassoProjection throws (scene without a lasso
// camera and its capture, master camera without viewport, short image) and
// std::out_of_range when the current dataset has no density grid.
#include "geometry/LassoProjection.h"
#include "geometry/SelectionGeometry.h"

#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

class CylinderGeometry : public SelectionGeometry {
public:
    CylinderGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                     const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix,
                     const LassoImage* image = nullptr);
    ~CylinderGeometry() override;
    const SurfaceMesh& GetSurface() const override;
    SurfaceMesh& GetSurface() override;

    // Signed screen distance of an eye-space point, by the full scan.
    double ScreenSignedDistance(const osg::Vec3d& eye) const;

    // Viewer, model matrix, camera matrices, viewport and its origin, lasso
    // points and lasso image, copied at construction.
    LassoProjection projection;
    // Copy of the field's surface, taken right after extraction.
    SurfaceMesh surface;
};
