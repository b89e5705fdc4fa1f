#pragma once
// StudyPanel: what the study view shows between trials, over the whole main
// area (the 3D area and the touch column): the participant form, a
// questionnaire, or a break. Made of the view's own components (buttons, a
// slider; QuestionnaireForm), so a TUIO finger, the pen, an extra mouse and
// the Qt mouse all reach it as they reach the trial buttons; no control is
// smaller than the trial buttons' cell.
//
// In: the study runner, followed every frame; the main area and the cell
// size. Out: components to hit-test and draw, and the runner's Answer /
// SkipItem / SubmitForm / ContinueAfterBreak calls, one per press. A break
// says its text and the seconds left; its Continue button is enabled once
// the minimum is over. Cost: a few components, rebuilt when the step changes.
#include "framework/kelvo/QuestionnaireForm.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/TextPanel.h"
#include "framework/runner/StudyDefinition.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class StudyRunner;

class StudyPanel {
public:
    // Components get ids from `firstComponentId` on.
    StudyPanel(StudyRunner* runner, int firstComponentId);

    // The runner is asking the form, a questionnaire, or holding a break.
    bool IsShown() const;
    // Follows the runner at `now` (its clock); true when the picture changed.
    bool Update(double now);
    // The rectangle to fill (view pixels, origin lower left) and the cell.
    void Layout(double left, double bottom, double width, double height, double cell);
    VisComponent* ComponentAt(double x, double y) const;
    // The ground over the area, then the controls and their texts.
    void Render();
    // A break with seconds left repaints every second.
    bool Counting() const { return counting; }

    // For tests: the form or questionnaire shown (null during a break) and
    // the break's Continue button (null outside one).
    QuestionnaireForm* Form() const { return form.get(); }
    ButtonComponent* ContinueButton() const { return continueButton.get(); }
    const TextPanel& BreakText() const { return breakText; }
    // The refusal of the last form sent, if any (the form is then asked again).
    const std::string& FormProblem() const { return formProblem; }

    // The participant form's fields as one questionnaire.
    static Questionnaire FormQuestionnaire(const std::vector<FormField>& fields);
    static const char* const FormId;

private:
    void Clear();
    void ShowQuestionnaire();
    void ShowForm();
    void ShowBreak(double now);

    StudyRunner* runner;
    int firstId;
    enum Shown { Nothing, AskingForm, Asking, Resting };
    Shown shown = Nothing;
    int shownStep = -1;
    double left = 0.0, bottom = 0.0, width = 0.0, height = 0.0, cell = 40.0;
    std::unique_ptr<QuestionnaireForm> form;
    // Forms and buttons done with: a pointer pressed on one may still be down.
    std::vector<std::unique_ptr<QuestionnaireForm>> retired;
    std::map<std::string, std::string> formValues;
    std::string formProblem;
    std::unique_ptr<ButtonComponent> continueButton;
    std::vector<std::unique_ptr<ButtonComponent>> retiredButtons;
    TextPanel breakText;
    long shownSeconds = -1;
    bool counting = false;
};
