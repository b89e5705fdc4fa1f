#pragma once
// StudyTrialControl: runs the study runner's trials in the 3D area.
//
//   presented  the trial's dataset in its start view, the target particles
//              highlighted, the instruction shown; lassos are off; the study
//              button shows "start"
//   running    the button shows "done"; every lasso, undo, redo, clear and
//              threshold change goes to the runner; the target and the
//              instruction stay only where the study file says so
//   between    the participant form, a questionnaire or a break (drawn by
//              StudyPanel): no message, nothing highlighted, lassos off
//   finished   the end message stays, lassos are off, no button
//   unsaved    a results row could not be written: the message says so and
//              the study pauses before the next trial; the button (Start)
//              retries the writes, and once they succeed the trial (or the
//              end) is shown again
//
// Without a study that has begun it does nothing: free exploration. It reads
// and changes the visualization only through StudyTrialView.
#include <string>
#include <vector>

class StudyRunner;
class StudyTrialView;
struct StudyTrial;

class StudyTrialControl {
public:
    explicit StudyTrialControl(StudyRunner* runner);

    // A study has begun (the participant form, a trial, a questionnaire or a
    // break is on, or all are done).
    bool IsActive() const;
    // Lassos may be drawn: free exploration or a running trial.
    bool SelectionAllowed() const;
    bool ButtonVisible() const;
    // The button starts the presented trial (else it finishes the running one).
    bool ButtonStarts() const;
    // The target mask while a trial is presented (and while it runs, where
    // the study keeps the target shown), else null.
    const std::vector<bool>* Highlight() const;
    // The instruction band's text for a trial.
    std::string Instruction(const StudyTrial& trial) const;

    // Follows the runner; the visualization calls it every frame after the
    // dataset of the current trial is shown. Returns true when the picture changed.
    bool Update(StudyTrialView& view);
    // The study button was pressed.
    void PressButton(StudyTrialView& view);
    // A lasso has just been built into the selection.
    void LassoBuilt(StudyTrialView& view);
    // History commands and threshold changes, once applied to the selection
    // of `view` (the events log keeps the count they leave).
    void Undone(const StudyTrialView& view);
    void Redone(const StudyTrialView& view);
    void Cleared(const StudyTrialView& view);
    void ThresholdChanged(const StudyTrialView& view, float threshold);
    // A drag that turned the view; a pointer of `source` used during a trial.
    void Rotated(const StudyTrialView& view);
    void Pointed(const std::string& source);
    void SetTouchOnly(bool on);

    static const char* const EndMessage;
    static const char* const UnsavedMessage;

private:
    bool follow(StudyTrialView& view);
    void finishIfReady(StudyTrialView& view);

    StudyRunner* runner;
    int presentedTrial = -1;   // number of the trial whose presentation is set up
    int runningTrial = -1;     // number of the running trial whose colours are set up
    bool finishPending = false;
    bool endShown = false;
    bool betweenShown = false;  // the picture between trials is set up
    bool unsavedShown = false;
};
