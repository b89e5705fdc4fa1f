#pragma once
// StudyTrialView: all that StudyTrialControl sees of the visualization hosting
// it. KelvoVis implements it; the trial control includes only this header, so
// the control knows neither KelvoVis nor its scene, strategy or slider.
//
// In: calls on the GUI thread, between frames. Out: the selection's state and
// the changes to the picture the trials ask for. Cost: the colour calls pass
// once over the shown particles, ResetSelection resets the hosted selection;
// the rest is constant time.
#include <osg/Quat>

#include <string>
#include <vector>

struct LassoRecord;

class StudyTrialView {
public:
    virtual ~StudyTrialView() = default;

    // The densities exist: until then no selection is hosted.
    virtual bool DensitiesReady() const = 0;
    // One flag per particle of the shown dataset.
    virtual const std::vector<bool>& GetSelectionMask() const = 0;
    // A lasso is being drawn, or is closed and waits for its build.
    virtual bool IsLassoInProgress() const = 0;
    // Fills mode, threshold, viewport, matrices and points of the lasso the
    // last frame built; false when no selection is hosted.
    virtual bool DescribeBuiltLasso(LassoRecord& lasso) const = 0;

    // Empties the selection (a lasso waiting for its build keeps it).
    virtual void ResetSelection() = 0;
    // The threshold slider and the selection's threshold for the next lasso.
    virtual void PresetThreshold(float threshold) = 0;
    // The data turned by `rotation` about its centre, magnified by `zoom`.
    virtual void SetView(const osg::Quat& rotation, double zoom) = 0;
    // Particles flagged in `flagged` in the target colour (`target`) or the
    // selected colour; all others unselected.
    virtual void ColourParticles(const std::vector<bool>& flagged, bool target) = 0;
    // Status line over the 3D area; empty hides it.
    virtual void SetMessage(const std::string& text) = 0;
};
