#pragma once
// SelectionGeometry: a closed region of the current dataset's data space,
// represented by a ScalarField3D on the dataset's density grid (inside > 0,
// boundary at level 0). Each kind derives a boundary mesh and one membership
// flag per particle from its field.
//
// The grid is looked up through FerrowManager::GetCurrentDatasetNr() and
// PreComputedDensity; constructors throw std::out_of_range when that dataset
// has no density field.
#include "density/ScalarField3D.h"

#include <boost/shared_ptr.hpp>
#include <osg/Array>
#include <vector>

class SelectionGeometry {
public:
    virtual ~SelectionGeometry();
    virtual const SurfaceMesh& GetSurface() const;
    virtual SurfaceMesh& GetSurface();
    // Re-applies the density threshold; only the density-aware kind uses it.
    virtual void UpdateThreshold(double factor);
    // IsWithinBounds and IsInsideSurface of the field.
    virtual bool Contains(const osg::Vec3f& p) const;

    // Share of the grid's nodes inside the volume, 0 to 1.
    double VolumeFraction() const;

    osg::Vec3Array* positions;
    std::vector<bool> mask;
    boost::shared_ptr<ScalarField3D> field;

protected:
    explicit SelectionGeometry(osg::Vec3Array* positions);
    // A new field on the current dataset's density grid.
    static boost::shared_ptr<ScalarField3D> CreateFieldOnCurrentGrid();
    // mask[i] = Contains on the field for every particle, in array order.
    void ComputeMaskFromField();
};
