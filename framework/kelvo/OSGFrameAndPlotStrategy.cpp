#include "framework/kelvo/OSGFrameAndPlotStrategy.h"

#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/OmbraEvent.h"
#include "selection/ParticleSelection.h"

#include <cstdio>
#include <exception>

namespace {
// Paints after which a closed lasso is built even if no capture was seen;
// keeps the selection from waiting forever on a camera that never drew.
constexpr int MaxFramesWithoutCapture = 5;
} // namespace

OSGFrameAndPlotStrategy::OSGFrameAndPlotStrategy(ParticleScene* scene, ParticleSelection* selection)
    : scene(scene), selection(selection)
{
}

void OSGFrameAndPlotStrategy::SetSelection(ParticleSelection* s)
{
    selection = s;
    lassoActive = false;
    buildPending = false;
    rotating = false;
    strokePointer = NoPointer;
}

bool OSGFrameAndPlotStrategy::selectionAllowed() const
{
    return selection && (!selectionEnabled || selectionEnabled());
}

bool OSGFrameAndPlotStrategy::apply(VisComponent*, const OmbraEvent& event, const EventKind& kind)
{
    // One stroke at a time owns the 3D area: other fingers on it are ignored
    // until that stroke ends.
    const bool owner = strokePointer == event.id;
    if (kind.phase != EventKind::Start && !owner) return false;
    if (kind.phase == EventKind::Start && strokePointer != NoPointer) {
        if (!owner) return false;
        // The same pointer presses again: its release was lost. Close the
        // old stroke rather than leave the area blocked.
        endRotate();
        applyEndSelect();
        strokePointer = NoPointer;
    }

    if (kind.gesture == EventKind::Pointer) {
        switch (kind.phase) {
        case EventKind::Start:
            beginRotate(event.x, event.y);
            if (rotating) strokePointer = event.id;
            return false;
        case EventKind::Move: rotateTo(event.x, event.y); return true;
        case EventKind::End:
            endRotate();
            strokePointer = NoPointer;
            return true; // the whole cloud again
        default: return false;
        }
    }
    if (kind.gesture != EventKind::Lasso) return false;
    switch (kind.phase) {
    case EventKind::Start:
        startLasso(kind.mode, kind.technique.empty() ? (kind.cylinder ? "cylinder" : "density") : kind.technique,
                   event.x, event.y);
        if (lassoActive) strokePointer = event.id;
        return lassoActive;
    case EventKind::Move: applySelect(event.x, event.y); return lassoActive;
    case EventKind::End:
        strokePointer = NoPointer;
        if (!lassoActive) return false;
        applySelect(event.x, event.y);
        applyEndSelect();
        return true;
    default: return false;
    }
}

void OSGFrameAndPlotStrategy::startLasso(EventKind::Mode mode, const std::string& technique, double x, double y)
{
    if (!selectionAllowed() || buildPending) return;
    if (!techniqueLocked) FerrowManager::Instance()->SetTechniqueName(technique);
    switch (mode) {
    case EventKind::Plus: applyStartPlusSelect(x, y); break;
    case EventKind::Minus: applyStartMinusSelect(x, y); break;
    case EventKind::Intersection: applyStartIntSelect(x, y); break;
    default: break;
    }
}

void OSGFrameAndPlotStrategy::applyStartPlusSelect(double x, double y)
{
    if (!selectionAllowed() || buildPending) return;
    endRotate();
    const osg::Vec2d w = scene->ToWindow(x, y);
    selection->startPlusPath(w.x(), w.y());
    lassoActive = true;
}

void OSGFrameAndPlotStrategy::applyStartMinusSelect(double x, double y)
{
    if (!selectionAllowed() || buildPending) return;
    endRotate();
    const osg::Vec2d w = scene->ToWindow(x, y);
    selection->startMinusPath(w.x(), w.y());
    lassoActive = true;
}

void OSGFrameAndPlotStrategy::applyStartIntSelect(double x, double y)
{
    if (!selectionAllowed() || buildPending) return;
    endRotate();
    const osg::Vec2d w = scene->ToWindow(x, y);
    selection->startIntersectionPath(w.x(), w.y());
    lassoActive = true;
}

void OSGFrameAndPlotStrategy::applySelect(double x, double y)
{
    // A point needs a lasso to belong to.
    if (!lassoActive || !selection) return;
    const osg::Vec2d w = scene->ToWindow(x, y);
    selection->addIntoPath(w.x(), w.y());
}

void OSGFrameAndPlotStrategy::applyEndSelect()
{
    if (!lassoActive || !selection) return;
    lassoActive = false;
    selection->endPath();
    if (!selection->GetendPathTag()) return; // too small a lasso: nothing to build
    // The volume reads the lasso camera's drawing of the flat triangles, so
    // the build waits until a frame has drawn them.
    buildPending = true;
    framesSinceEnd = 0;
    const LassoCaptureCallback* capture = scene->GetLassoCapture();
    capturesAtEnd = capture ? capture->frames : 0;
}

bool OSGFrameAndPlotStrategy::beforeFrame()
{
    if (!buildPending || !selection) return false;
    ++framesSinceEnd;
    const LassoCaptureCallback* capture = scene->GetLassoCapture();
    // A click draws no lasso: nothing to wait for.
    const bool drawn = selection->IsClick() || (capture ? capture->frames != capturesAtEnd : framesSinceEnd > 1);
    if (!drawn && framesSinceEnd <= MaxFramesWithoutCapture) return false;
    buildPending = false;
    // BuildGeometry empties the lasso points; the study log needs them.
    builtLasso = selection->GetLassoPoints();
    try {
        selection->BuildGeometry();
    } catch (const std::exception& e) {
        printf("Selection not built: %s\n", e.what());
    }
    selection->SetendPathTag(false);
    return true;
}

void OSGFrameAndPlotStrategy::applyUndo()
{
    if (selection && !buildPending) selection->undoLastSelection();
}

void OSGFrameAndPlotStrategy::applyRedo()
{
    if (selection && !buildPending) selection->redoLastSelection();
}

void OSGFrameAndPlotStrategy::applyUpdateSelection(float threshold)
{
    if (!selection) return;
    if (buildPending) {
        // The pending build picks the value up.
        selection->ChangeThreshold(threshold);
        return;
    }
    try {
        selection->updateSelection(threshold);
    } catch (const std::exception& e) {
        printf("Threshold not applied: %s\n", e.what());
    }
}

void OSGFrameAndPlotStrategy::applyChangeThreshold(float threshold)
{
    if (selection) selection->ChangeThreshold(threshold);
}

void OSGFrameAndPlotStrategy::applyClearSelection()
{
    if (selection && !buildPending) selection->ClearSelection();
}

void OSGFrameAndPlotStrategy::applyReset()
{
    if (!selection || buildPending) return;
    try {
        selection->ResetSelection();
    } catch (const std::exception& e) {
        printf("Selection not reset: %s\n", e.what());
    }
}

void OSGFrameAndPlotStrategy::applyGeometryVisible(bool visible)
{
    if (selection) selection->GeometryVisible(visible);
}

void OSGFrameAndPlotStrategy::beginRotate(double x, double y)
{
    // The flat lasso is drawn with the data transform of its start; turning
    // the data before it is built would misplace it.
    if (lassoActive || buildPending) return;
    rotating = true;
    lastX = x;
    lastY = y;
    scene->SetPreview(true);
}

void OSGFrameAndPlotStrategy::rotateTo(double x, double y)
{
    if (!rotating || lassoActive || buildPending) return;
    scene->Rotate(lastX, lastY, x, y);
    lastX = x;
    lastY = y;
}

void OSGFrameAndPlotStrategy::endRotate()
{
    rotating = false;
    scene->SetPreview(false);
}
