#pragma once
// MarchingCubesGeometry: the density-aware lasso. Node value for factor f =
// min(s, ρ − f·ρ̄): s the signed screen distance to the lasso, ρ the dataset's
// density at the node, ρ̄ the mean density of the nodes under the lasso.
#include "geometry/SelectionGeometry.h"

#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

class MarchingCubesGeometry : public SelectionGeometry {
public:
    MarchingCubesGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                          const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix);
    ~MarchingCubesGeometry() override;
    const SurfaceMesh& GetSurface() const override;
    SurfaceMesh& GetSurface() override;
    void UpdateThreshold(double factor) override;
};
