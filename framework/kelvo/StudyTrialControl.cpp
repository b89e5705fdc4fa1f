#include "framework/kelvo/StudyTrialControl.h"

#include "framework/kelvo/StudyTrialView.h"
#include "framework/runner/StudyRunner.h"

#include <algorithm>

const char* const StudyTrialControl::EndMessage = "The study is complete. Thank you!";
const char* const StudyTrialControl::UnsavedMessage =
    "The results cannot be saved. Please call the experimenter, who can press Start to try again";

StudyTrialControl::StudyTrialControl(StudyRunner* runner) : runner(runner) {}

bool StudyTrialControl::IsActive() const
{
    return runner && runner->HasBegun();
}

bool StudyTrialControl::SelectionAllowed() const
{
    return !IsActive() || runner->IsRunning();
}

bool StudyTrialControl::ButtonVisible() const
{
    return runner && (runner->IsPresenting() || runner->IsRunning() || (runner->IsFinished() && runner->HasUnsaved()));
}

bool StudyTrialControl::ButtonStarts() const
{
    return runner && (runner->IsPresenting() || runner->IsFinished());
}

const std::vector<bool>* StudyTrialControl::Highlight() const
{
    if (!runner) return nullptr;
    const bool shown = runner->IsPresenting() || (runner->IsRunning() && runner->Definition().targetDuringTrial);
    return shown ? &runner->TargetMask() : nullptr;
}

std::string StudyTrialControl::Instruction(const StudyTrial& trial) const
{
    std::string text = "Trial " + std::to_string(trial.number) + " of " + std::to_string(runner->Sequence().size()) +
                       (trial.practice ? " (practice)" : "") + ": " +
                       (trial.instruction.empty() ? "remember the highlighted particles, then press Start"
                                                  : trial.instruction);
    if (runner->Definition().nameTechnique)
        text += trial.technique == FerrowManager::CylinderTechnique ? " (technique: cylinder lasso)"
                : trial.technique == FerrowManager::PravikTechnique ? " (technique: density-aware lasso)"
                                                                    : " (technique: " + trial.techniqueName + ")";
    return text;
}

bool StudyTrialControl::Update(StudyTrialView& view)
{
    if (!IsActive()) return false;
    bool changed = follow(view);
    const bool unsaved = runner->HasUnsaved();
    if (unsaved && (changed || !unsavedShown)) {
        unsavedShown = true;
        view.SetMessage(std::string(UnsavedMessage) + " (" + runner->LastWriteError() + ")");
        return true;
    }
    if (!unsaved && unsavedShown) {
        // Everything is saved: the picture of the trial (or of the end) again.
        unsavedShown = false;
        presentedTrial = runningTrial = -1;
        endShown = false;
        follow(view);
        return true;
    }
    return changed;
}

bool StudyTrialControl::follow(StudyTrialView& view)
{
    if (runner->IsRunning()) runner->FlushEvents(StudyRunner::Now());
    if (finishPending) finishIfReady(view);
    if (runner->IsFinished()) {
        if (endShown) return false;
        endShown = true;
        presentedTrial = runningTrial = -1;
        view.ResetSelection();
        view.ColourParticles({}, false);
        view.SetMessage(EndMessage);
        return true;
    }
    endShown = false;
    // The densities come first: until then the "computing" message stays and
    // no selection exists to reset.
    if (!view.DensitiesReady()) return false;
    // The form, a questionnaire or a break: the panel over the area speaks;
    // the last trial's colours and words go.
    if (runner->IsAskingForm() || runner->IsQuestioning() || runner->IsOnBreak()) {
        if (betweenShown) return false;
        betweenShown = true;
        presentedTrial = runningTrial = -1;
        view.ResetSelection();
        view.ColourParticles({}, false);
        view.SetMessage("");
        return true;
    }
    betweenShown = false;
    const StudyTrial* trial = runner->CurrentTrial();
    if (!trial) return false;

    if (runner->IsPresenting() && trial->number != presentedTrial) {
        presentedTrial = trial->number;
        runningTrial = -1;
        // Every trial starts from an empty selection at its own threshold.
        view.ResetSelection();
        view.PresetThreshold(trial->startThreshold);
        // Without a view of its own a trial starts at the dataset's start
        // view, never at what the last trial left: a resumed session shows
        // each trial as the first did.
        if (trial->view.given) view.SetView(trial->view.rotation, trial->view.zoom);
        else view.SetView(osg::Quat(), 1.0);
        view.ColourParticles(runner->TargetMask(), true);
        view.SetMessage(Instruction(*trial));
        return true;
    }
    if (runner->IsRunning() && trial->number != runningTrial) {
        runningTrial = trial->number;
        const StudyDefinition& study = runner->Definition();
        // The view colours the selection over the target from here on.
        if (!study.targetDuringTrial) view.ColourParticles(view.GetSelectionMask(), false);
        view.SetMessage(study.instructionDuringTrial ? Instruction(*trial) : "");
        return true;
    }
    return false;
}

void StudyTrialControl::PressButton(StudyTrialView& view)
{
    if (!runner) return;
    if (runner->HasUnsaved() && !runner->IsRunning()) {
        // The experimenter has freed the disk (or not): the study goes on
        // only once every row is written.
        runner->RetryWrites();
        return;
    }
    if (runner->IsPresenting()) {
        // Only a presentation the participant has seen can be started.
        if (presentedTrial == runner->CurrentTrial()->number) runner->StartTrial(StudyRunner::Now());
        return;
    }
    if (runner->IsRunning()) {
        finishPending = true;
        finishIfReady(view);
    }
}

void StudyTrialControl::finishIfReady(StudyTrialView& view)
{
    // A lasso still being drawn or built belongs to the trial: done waits.
    if (view.IsLassoInProgress()) return;
    finishPending = false;
    if (runner->IsRunning()) runner->FinishTrial(view.GetSelectionMask(), StudyRunner::Now());
}

void StudyTrialControl::LassoBuilt(StudyTrialView& view)
{
    if (!runner || !runner->IsRunning()) return;
    LassoRecord lasso;
    if (!view.DescribeBuiltLasso(lasso)) return;
    lasso.time = StudyRunner::Now();
    const std::vector<bool>& mask = view.GetSelectionMask();
    lasso.selectedAfter = std::count(mask.begin(), mask.end(), true);
    runner->OnLasso(lasso);
}

namespace {
long long SelectedCount(const StudyTrialView& view)
{
    const std::vector<bool>& mask = view.GetSelectionMask();
    return std::count(mask.begin(), mask.end(), true);
}
}  // namespace

void StudyTrialControl::Undone(const StudyTrialView& view)
{
    if (runner && runner->IsRunning()) runner->OnUndo(SelectedCount(view), StudyRunner::Now());
}

void StudyTrialControl::Rotated(const StudyTrialView& view)
{
    if (runner && runner->IsRunning()) runner->OnRotate(SelectedCount(view), StudyRunner::Now());
}

void StudyTrialControl::Pointed(const std::string& source)
{
    if (runner) runner->OnPointer(source);
}

void StudyTrialControl::SetTouchOnly(bool on)
{
    if (runner) runner->SetTouchOnly(on);
}

void StudyTrialControl::Redone(const StudyTrialView& view)
{
    if (runner && runner->IsRunning()) runner->OnRedo(SelectedCount(view), StudyRunner::Now());
}

void StudyTrialControl::Cleared(const StudyTrialView& view)
{
    if (runner && runner->IsRunning()) runner->OnClear(SelectedCount(view), StudyRunner::Now());
}

void StudyTrialControl::ThresholdChanged(const StudyTrialView& view, float threshold)
{
    if (runner && runner->IsRunning()) runner->OnThresholdChange(threshold, StudyRunner::Now(), SelectedCount(view));
}
