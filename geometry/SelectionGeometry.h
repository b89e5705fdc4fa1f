#pragma once
// SelectionGeometry: a closed region of the current dataset's data space,
// represented by a ScalarField3D on the dataset's density grid (inside > 0,
// boundary at level 0). Each kind derives a boundary mesh and one membership
// flag per particle from its field.
//
// The grid is looked up through FerrowManager::GetCurrentDatasetNr() and
// PreComputedDensity; CreateFieldOnCurrentGrid, and with it every kind's
// constructor, throws std::out_of_range when that dataset has no density
// field.
#include "density/ScalarField3D.h"
#include "geometry/SurfaceMembership.h"

#include <boost/shared_ptr.hpp>
#include <functional>
#include <osg/Array>
#include <vector>

class SelectionGeometry {
public:
    virtual ~SelectionGeometry();
    // The surface of the volume's own field; the two lasso kinds return their copy.
    virtual const SurfaceMesh& GetSurface() const;
    virtual SurfaceMesh& GetSurface();
    // Re-applies the density threshold; only the density-aware kind uses it.
    virtual void UpdateThreshold(double factor);
    // UpdateThreshold, leaving the mask for later where the kind can: true
    // when it did, and ComputeMask must then follow before the mask is read.
    virtual bool UpdateThresholdLeavingMask(double factor);
    // Fills the mask from the field and surface as they are: for a volume
    // whose mask was left for later. Only reads the field, so it may run on
    // another thread while the caller goes on with other volumes.
    virtual void ComputeMask();
    // IsWithinBounds and IsInsideSurface of the field.
    virtual bool Contains(const osg::Vec3f& p) const;

    // Share of the grid's nodes for which Contains holds, 0 to 1. Nodes are
    // visited x outermost, their coordinates rounded to float.
    double VolumeFraction() const;

    osg::Vec3Array* positions;  // referenced for the volume's lifetime, never modified
    std::vector<bool> mask;     // one entry per position, true inside
    boost::shared_ptr<ScalarField3D> field;
    // The cell of each position on the field's grid, found by the first mask
    // and kept for later ones; a volume built from others on the same
    // positions takes theirs.
    boost::shared_ptr<const ParticleCells> particleCells;

protected:
    // Stores and references positions (may be null: no particles) and sizes
    // the mask; the field stays empty for the kind to create.
    explicit SelectionGeometry(osg::Vec3Array* positions);
    // A new all-zero field on the current dataset's density grid (same
    // bounds and counts). Throws std::out_of_range when there is none.
    static boost::shared_ptr<ScalarField3D> CreateFieldOnCurrentGrid();
    // mask[i] = the field's IsWithinBounds && IsInsideSurface for particle i.
    // Call after the field's extraction. Large particle sets are split
    // across tasks; every entry gets the same answer as in a serial loop.
    void ComputeMaskFromField();
    // Runs body(begin, end) over [0, count) particles in parallel tasks of
    // MaskWords::kTaskChunk (parallel::ForEachBlock), so that no two tasks
    // share a word of the bit-packed mask. An exception of body reaches the
    // caller once every task has stopped.
    static void ForEachChunk(size_t count, const std::function<void(size_t, size_t)>& body);

    SelectionGeometry(const SelectionGeometry&) = delete;
    SelectionGeometry& operator=(const SelectionGeometry&) = delete;
};
