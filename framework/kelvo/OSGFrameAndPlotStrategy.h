#pragma once
// OSGFrameAndPlotStrategy: the interaction logic of the 3D area. Plain
// strokes ("PRESS", "DRAG", "RELEASE") turn the data about its centre like a
// trackball; lasso strokes drive the ParticleSelection: a start event begins
// a lasso in plus, minus or intersection mode with the density-aware or the
// cylinder technique, moves add points, the end event closes it. A closed
// lasso is turned into a volume only after the lasso camera has drawn it
// once: beforeFrame() does that at the next paint.
//
// Event positions are view pixels; the selection gets window coordinates of
// the master camera's viewport (ParticleScene::ToWindow).
#include "framework/ombra/VisComponentStrategy.h"
#include "framework/study/FerrowManager.h"

#include <osg/Vec2f>

#include <functional>
#include <vector>

class ParticleScene;
class ParticleSelection;

class OSGFrameAndPlotStrategy : public VisComponentStrategy {
public:
    OSGFrameAndPlotStrategy(ParticleScene* scene, ParticleSelection* selection);

    bool apply(VisComponent* component, const OmbraEvent& event, const EventKind& kind) override;

    // Selection gestures; x and y are view pixels.
    void applyStartPlusSelect(double x, double y);
    void applyStartMinusSelect(double x, double y);
    void applyStartIntSelect(double x, double y);
    void applySelect(double x, double y);
    void applyEndSelect();
    void applyUndo();
    void applyRedo();
    void applyUpdateSelection(float threshold);
    void applyChangeThreshold(float threshold);
    void applyClearSelection();
    void applyReset();
    void applyGeometryVisible(bool visible);

    // Trackball rotation of the data transform; x and y are view pixels.
    void beginRotate(double x, double y);
    void rotateTo(double x, double y);
    void endRotate();

    // Called before every frame: completes a lasso whose flat triangles the
    // lasso camera has drawn. Returns true when the selection changed.
    bool beforeFrame();
    // The cleaned window points of the lasso the last beforeFrame() built.
    const std::vector<osg::Vec2f>& GetBuiltLasso() const { return builtLasso; }
    bool IsLassoActive() const { return lassoActive; }
    bool IsBuildPending() const { return buildPending; }

    // Technique hook. By default a lasso start sets the study framework's
    // technique from the gesture (S… density-aware, CYS… cylinder). A study
    // runner that fixes the technique per trial locks it; lasso starts then
    // leave FerrowManager's technique alone.
    void SetTechniqueLocked(bool locked) { techniqueLocked = locked; }
    bool IsTechniqueLocked() const { return techniqueLocked; }

    // Selection gestures are ignored while this says no (densities missing).
    void SetSelectionEnabled(std::function<bool()> enabled) { selectionEnabled = std::move(enabled); }
    // Swaps the hosted selection (a new dataset); drops a lasso in progress.
    void SetSelection(ParticleSelection* s);

private:
    std::vector<osg::Vec2f> builtLasso;
    void startLasso(EventKind::Mode mode, const std::string& technique, double x, double y);
    bool selectionAllowed() const;

    ParticleScene* scene;
    ParticleSelection* selection;
    bool techniqueLocked = false;
    bool lassoActive = false;
    bool buildPending = false;
    unsigned capturesAtEnd = 0;
    int framesSinceEnd = 0;
    bool rotating = false;
    // Pointer id of the stroke that owns the area, NoPointer between strokes.
    static constexpr int NoPointer = -2147483647 - 1;
    int strokePointer = NoPointer;
    double lastX = 0.0, lastY = 0.0;
    std::function<bool()> selectionEnabled;
};
