#include "framework/kelvo/StudyTrialControl.h"

#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/StudyRunner.h"
#include "selection/ParticleSelection.h"

#include <algorithm>

const char* const StudyTrialControl::EndMessage = "The study is complete. Thank you!";

StudyTrialControl::StudyTrialControl(StudyRunner* runner) : runner(runner) {}

bool StudyTrialControl::IsActive() const
{
    return runner && (runner->IsPresenting() || runner->IsRunning() || runner->IsFinished());
}

bool StudyTrialControl::SelectionAllowed() const
{
    return !IsActive() || runner->IsRunning();
}

bool StudyTrialControl::ButtonVisible() const
{
    return runner && (runner->IsPresenting() || runner->IsRunning());
}

bool StudyTrialControl::ButtonStarts() const
{
    return runner && runner->IsPresenting();
}

const std::vector<bool>* StudyTrialControl::Highlight() const
{
    return runner && runner->IsPresenting() ? &runner->TargetMask() : nullptr;
}

bool StudyTrialControl::Update(KelvoVis& vis)
{
    if (!IsActive()) return false;
    if (finishPending) finishIfReady(vis);
    if (runner->IsFinished()) {
        if (endShown) return false;
        endShown = true;
        presentedTrial = runningTrial = -1;
        vis.GetFrameStrategy()->applyReset();
        vis.GetScene()->UpdateColours({});
        vis.SetMessage(EndMessage);
        return true;
    }
    endShown = false;
    // The densities come first: until then the "computing" message stays and
    // no selection exists to reset.
    if (!vis.DensitiesReady()) return false;
    const StudyTrial* trial = runner->CurrentTrial();
    if (!trial) return false;

    if (runner->IsPresenting() && trial->number != presentedTrial) {
        presentedTrial = trial->number;
        runningTrial = -1;
        OSGFrameAndPlotStrategy* strategy = vis.GetFrameStrategy();
        // Every trial starts from an empty selection at its own threshold.
        strategy->applyReset();
        vis.GetThresholdSlider()->setValue(trial->startThreshold);
        strategy->applyChangeThreshold(trial->startThreshold);
        if (trial->view.given) vis.GetScene()->SetView(trial->view.rotation, trial->view.zoom);
        vis.GetScene()->UpdateColours(runner->TargetMask(), ParticleScene::TargetColour);
        std::string text = "Trial " + std::to_string(trial->number) + " of " +
                           std::to_string(runner->Sequence().size()) + (trial->practice ? " (practice)" : "") +
                           ": " + (trial->instruction.empty() ? "remember the highlighted particles, then press Start"
                                                               : trial->instruction);
        vis.SetMessage(text);
        return true;
    }
    if (runner->IsRunning() && trial->number != runningTrial) {
        runningTrial = trial->number;
        vis.GetScene()->UpdateColours(vis.GetSelectionMask());
        vis.SetMessage("");
        return true;
    }
    return false;
}

void StudyTrialControl::PressButton(KelvoVis& vis)
{
    if (!runner) return;
    if (runner->IsPresenting()) {
        // Only a presentation the participant has seen can be started.
        if (presentedTrial == runner->CurrentTrial()->number) runner->StartTrial(StudyRunner::Now());
        return;
    }
    if (runner->IsRunning()) {
        finishPending = true;
        finishIfReady(vis);
    }
}

void StudyTrialControl::finishIfReady(KelvoVis& vis)
{
    // A lasso still being drawn or built belongs to the trial: done waits.
    const OSGFrameAndPlotStrategy* strategy = vis.GetFrameStrategy();
    if (strategy->IsLassoActive() || strategy->IsBuildPending()) return;
    finishPending = false;
    if (runner->IsRunning()) runner->FinishTrial(vis.GetSelectionMask(), StudyRunner::Now());
}

void StudyTrialControl::LassoBuilt(KelvoVis& vis)
{
    if (!runner || !runner->IsRunning()) return;
    const ParticleSelection* selection = vis.GetSelection();
    if (!selection) return;
    ParticleScene* scene = vis.GetScene();
    osg::Camera* camera = scene->GetViewer()->getCamera();
    LassoRecord lasso;
    lasso.time = StudyRunner::Now();
    const int mode = selection->GetSelectionMode();
    lasso.mode = mode == 2 ? LassoRecord::Minus : mode == 3 ? LassoRecord::Intersection : LassoRecord::Plus;
    lasso.threshold = selection->GetThreshold();
    lasso.viewportX = scene->GetViewportX();
    lasso.viewportY = scene->GetViewportY();
    lasso.viewportWidth = scene->GetViewportWidth();
    lasso.viewportHeight = scene->GetViewportHeight();
    lasso.model = scene->GetDataTransform()->getMatrix();
    lasso.view = camera->getViewMatrix();
    lasso.projection = camera->getProjectionMatrix();
    lasso.points = vis.GetFrameStrategy()->GetBuiltLasso();
    const std::vector<bool>& mask = vis.GetSelectionMask();
    lasso.selectedAfter = std::count(mask.begin(), mask.end(), true);
    runner->OnLasso(lasso);
}

void StudyTrialControl::Undone()
{
    if (runner) runner->OnUndo();
}

void StudyTrialControl::Redone()
{
    if (runner) runner->OnRedo();
}

void StudyTrialControl::Cleared()
{
    if (runner) runner->OnClear();
}

void StudyTrialControl::ThresholdChanged(float threshold)
{
    if (runner) runner->OnThresholdChange(threshold, StudyRunner::Now());
}
