#pragma once
// PointGeometry: the point technique. A click picks the dense structure
// nearest the viewer along the ray through the pointer, bounded where the
// density falls to a level that follows the density found there.
//
// Construction marches the ray from the near to the far plane, within the
// grid, in steps of half the smallest grid step, sampling the density
// (ScalarField3D::Sample). A run is the samples at or above kDenseFactor
// times the grid's mean density, ending where the density falls below half
// its largest value so far; the first run whose largest sample is at least
// twice that dense level (so its half-density contour is dense itself, not a
// ripple of the surroundings that runs out into them) is the structure hit;
// the densest of the eight nodes around its largest sample is the seed, and
// the mean of its samples at half the largest or above is the density
// there, ρp. For factor f the level is ℓ = f·ρp/2 (the half-density contour
// at 1): the field is ρ − ℓ on the part (GridComponents: six face
// neighbours) of the nodes with ρ > ℓ that holds the seed, −|ρ − ℓ|
// elsewhere (never 0). No dense run, or a seed not above ℓ, gives a field
// negative everywhere (nothing).
//
// In: positions, the viewer (master camera with a viewport), the click in
// window pixels (origin lower left), the data-to-world matrix. Throws
// std::invalid_argument for a null viewer or a camera without viewport and
// std::out_of_range when the current dataset has no density field.
// Cost: the march (a few hundred samples), then per threshold one pass over
// the grid, the part's growth, extraction and the mask. A threshold that
// fails leaves field and surface as they were.
#include "density/ParticleDensityField3D.h"
#include "geometry/SelectionGeometry.h"

#include <boost/shared_ptr.hpp>
#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

#include <cstdint>

class PointGeometry : public SelectionGeometry {
public:
    // A sample is dense at this many times the grid's mean density.
    static constexpr double kDenseFactor = 2.0;

    PointGeometry(osg::Vec3Array* positions, osgViewer::Viewer* viewer, const osg::Vec2f& click,
                  osg::Matrixf modelMatrix);
    ~PointGeometry() override;
    const SurfaceMesh& GetSurface() const override;
    SurfaceMesh& GetSurface() override;
    void UpdateThreshold(double factor) override;
    bool UpdateThresholdLeavingMask(double factor) override;

    double peakDensity;  // ρp, 0 when the ray hits nothing dense
    int32_t seed;        // −1 when it hits nothing dense
    SurfaceMesh surface;

private:
    boost::shared_ptr<ParticleDensityField3D> density;
};
