#pragma once
// MarchingCubesGeometry: the density-aware lasso. Node value for factor f =
// min(s, ρ − f·ρ̄): s the signed screen distance to the lasso (every viewport
// edge outside), ρ the dataset's density at the node, ρ̄ the mean density of
// the nodes under the lasso (of the whole grid when no node projects inside).
//
// Construction does the expensive part once: s at every node and ρ̄. Each
// UpdateThreshold(f) then rebuilds field, surface and mask from them; the
// mask and the surface are empty until the first call.
//
// Throws at construction what LassoProjection throws and std::out_of_range
// when the current dataset has no density field.
#include "density/ParticleDensityField3D.h"
#include "geometry/LassoProjection.h"
#include "geometry/SelectionGeometry.h"

#include <boost/shared_ptr.hpp>
#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

#include <cstdint>
#include <memory>

class MarchingCubesGeometry : public SelectionGeometry {
public:
    MarchingCubesGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer,
                          const std::vector<osg::Vec2f>& lassoPoints, osg::Matrixf modelMatrix,
                          const LassoImage* image = nullptr);
    ~MarchingCubesGeometry() override;
    const SurfaceMesh& GetSurface() const override;
    SurfaceMesh& GetSurface() override;
    // field = min(lassoField, densityField − f·ρ̄), then extraction, surface
    // copy and mask; repeatable with any factor.
    void UpdateThreshold(double factor) override;
    // Field, extraction and surface copy; the mask follows with ComputeMask.
    bool UpdateThresholdLeavingMask(double factor) override;
    void ComputeMask() override;

    // Signed screen distance of an eye-space point, by the full scan.
    double ScreenSignedDistance(const osg::Vec3d& eye) const;

    // Viewer, model matrix, camera matrices, viewport and its origin, lasso
    // points and lasso image, copied at construction.
    LassoProjection projection;
    double meanDensity;
    // Copy of the field's surface, taken after each extraction.
    SurfaceMesh surface;
    // s at every node; owned, fixed for the life of the volume.
    std::unique_ptr<ScalarField3D> lassoField;
    // The current dataset's density field, owned by PreComputedDensity.
    const ParticleDensityField3D* densityField;
    int32_t xCount, yCount, zCount;

private:
    // Keeps densityField alive even if PreComputedDensity is destroyed first.
    boost::shared_ptr<ParticleDensityField3D> densityFieldHold;
};
