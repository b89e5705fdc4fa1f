#pragma once
// Technique: one way of turning what the user drew (a lasso or a click) into
// a selection volume on the dataset's density grid. The engine combines what
// Build returns with the selection (union, difference, intersection), keeps
// it in the history, re-thresholds it with the slider (UpdateThreshold) and
// shows its surface, whatever the technique.
//
// In: TechniqueInputs, everything BuildGeometry has. Out: a SelectionGeometry
// whose field lies on the current dataset's density grid; the engine calls
// UpdateThresholdLeavingMask(threshold) on it next, so a technique whose
// volume does not depend on the threshold builds its field, surface and mask
// in Build (FieldGeometry does). Build throws std::exception subclasses for
// input it cannot use; the engine refuses the stroke with that message.
// Cost: the technique's own.
//
// A technique is registered once in the process's TechniqueRegistry, by the
// library's list (geometry/TechniqueList.h) or by a shared object's
// registration function (see TechniqueRegistry).
#include "density/ParticleDensityField3D.h"
#include "geometry/LassoImage.h"
#include "geometry/SelectionGeometry.h"

#include <boost/shared_ptr.hpp>
#include <osg/Matrixf>
#include <osg/Vec2f>
#include <osgViewer/Viewer>

#include <string>
#include <vector>

struct TechniqueInputs {
    // The dataset's particles in data coordinates (never modified).
    osg::Vec3Array* positions = nullptr;
    // Camera and viewport: the master camera's view, projection and viewport
    // as drawn (the lasso's window coordinates include the viewport origin).
    osgViewer::Viewer* viewer = nullptr;
    osg::Matrixf modelMatrix;  // data -> world
    // A lasso technique's polygon in window coordinates (origin lower left),
    // at least 3 points; empty for a click.
    std::vector<osg::Vec2f> lasso;
    // A click technique's point in window coordinates.
    osg::Vec2f click;
    // The lasso's pixels, or null where the lasso camera's capture holds them
    // (LassoProjection finds it either way). Null for a click.
    const LassoImage* image = nullptr;
    // The current dataset's density field (the grid every volume lies on).
    const ParticleDensityField3D* density = nullptr;
    // The slider's threshold factor the volume is about to be built at.
    double thresholdFactor = 1.0;
};

class Technique {
public:
    enum class Takes { Lasso, Click };

    virtual ~Technique() = default;
    // One lower-case word, as study files, logs and tools name it.
    virtual std::string Name() const = 0;
    // One line for the help panel, the tools' listing and the docs.
    virtual std::string Description() const = 0;
    virtual Takes Input() const = 0;
    virtual boost::shared_ptr<SelectionGeometry> Build(const TechniqueInputs& in) const = 0;
};

// A selection volume from a finished field: the field's boundary at level 0
// (inside > 0) is extracted and every particle tested against it. For
// techniques whose volume the threshold does not change.
class FieldGeometry : public SelectionGeometry {
public:
    // Throws std::invalid_argument when field is null.
    FieldGeometry(osg::Vec3Array* positions, boost::shared_ptr<ScalarField3D> field);
    // A new all-zero field on the current dataset's density grid.
    static boost::shared_ptr<ScalarField3D> FieldOnDensityGrid() { return CreateFieldOnCurrentGrid(); }
};
