#include "framework/kelvo/StudyPanel.h"

#include "framework/ombra/ButtonStrategy.h"
#include "framework/runner/StudyRunner.h"

#include <osg/GL>

#include <algorithm>
#include <cmath>

const char* const StudyPanel::FormId = "participant";

StudyPanel::StudyPanel(StudyRunner* runner, int firstComponentId) : runner(runner), firstId(firstComponentId) {}

Questionnaire StudyPanel::FormQuestionnaire(const std::vector<FormField>& fields)
{
    Questionnaire q;
    q.id = FormId;
    q.title = "About you";
    for (const FormField& f : fields) {
        QuestionnaireItem item;
        item.id = f.id;
        item.text = f.label;
        item.optional = !f.required;
        if (f.kind == FormField::Number) {
            item.minimum = f.minimum;
            item.maximum = f.maximum;
        } else {
            item.kind = QuestionnaireItem::Choice;
            item.choices = f.choices;
            item.choiceLabels = f.choices;
        }
        q.items.push_back(item);
    }
    return q;
}

bool StudyPanel::IsShown() const
{
    return runner && (runner->IsAskingForm() || runner->IsQuestioning() || runner->IsOnBreak());
}

void StudyPanel::Clear()
{
    if (form) retired.push_back(std::move(form));
    if (continueButton) retiredButtons.push_back(std::move(continueButton));
    breakText.setRows({});
    counting = false;
    shownSeconds = -1;
}

bool StudyPanel::Update(double now)
{
    if (!runner) return false;
    const Shown want = runner->IsAskingForm()    ? AskingForm
                       : runner->IsQuestioning() ? Asking
                       : runner->IsOnBreak()     ? Resting
                                                 : Nothing;
    const int step = runner->CurrentStep();
    if (want == shown && step == shownStep) {
        if (shown != Resting) return false;
        const long seconds = static_cast<long>(std::ceil(runner->BreakSecondsLeft(now)));
        if (seconds == shownSeconds) return false;
        ShowBreak(now);
        return true;
    }
    Clear();
    shown = want;
    shownStep = step;
    if (want == AskingForm) ShowForm();
    else if (want == Asking) ShowQuestionnaire();
    else if (want == Resting) ShowBreak(now);
    return true;
}

void StudyPanel::ShowQuestionnaire()
{
    const PendingQuestionnaire* q = runner->CurrentQuestionnaire();
    StudyRunner* r = runner;
    form.reset(new QuestionnaireForm(
        q->questionnaire, q->answers,
        [r](const std::string& item, const std::string& value) {
            const double now = StudyRunner::Now();
            if (value.empty()) r->SkipItem(item, now);
            else r->Answer(item, value, now);
        },
        firstId));
    form->Layout(left, bottom, width, height, cell);
}

void StudyPanel::ShowForm()
{
    formValues.clear();
    const Questionnaire q = FormQuestionnaire(runner->FormFields());
    const std::string last = q.items.empty() ? std::string() : q.items.back().id;
    form.reset(new QuestionnaireForm(
        q, {},
        [this, last](const std::string& item, const std::string& value) {
            formValues[item] = value;
            if (item != last) return;
            // The whole form goes at once; a refusal (which the form's own
            // checks should rule out) asks it again from the first field.
            if (!runner->SubmitForm(formValues, StudyRunner::Now(), &formProblem)) shownStep = -2;
        },
        firstId));
    form->Layout(left, bottom, width, height, cell);
}

void StudyPanel::ShowBreak(double now)
{
    const double left_s = runner->BreakSecondsLeft(now);
    shownSeconds = static_cast<long>(std::ceil(left_s));
    counting = shownSeconds > 0;
    if (!continueButton) {
        StudyRunner* r = runner;
        continueButton.reset(new ButtonComponent(firstId, ButtonComponent::TextOnly,
                                                 new ButtonStrategy([r] { r->ContinueAfterBreak(StudyRunner::Now()); })));
        continueButton->setText("Continue");
    }
    continueButton->setEnabled(!counting);
    breakText.setRows({{runner->BreakText(), ""},
                       {counting ? "You may go on in " + std::to_string(shownSeconds) + " s"
                                 : "Press Continue when you are ready",
                        ""}});
    Layout(left, bottom, width, height, cell);
}

void StudyPanel::Layout(double l, double b, double w, double h, double c)
{
    left = l;
    bottom = b;
    width = w;
    height = h;
    cell = c;
    if (w <= 0 || h <= 0) return;
    if (form) form->Layout(l, b, w, h, c);
    if (continueButton) {
        const double bw = std::min(w, c * 3.0), bh = c * 2.0;
        continueButton->setBounds(l + (w - bw) / 2.0, b + h / 2.0 - bh - c / 2.0, bw, bh);
    }
    if (!breakText.getRows().empty())
        breakText.fit(static_cast<int>(std::max(16.0, c * 0.5)), static_cast<int>(w), static_cast<int>(h / 2.0 - c / 4.0));
}

VisComponent* StudyPanel::ComponentAt(double x, double y) const
{
    if (!IsShown()) return nullptr;
    if (form) return form->ComponentAt(x, y);
    if (continueButton && continueButton->isVisible() && continueButton->contains(x, y)) return continueButton.get();
    return nullptr;
}

void StudyPanel::Render()
{
    if (!IsShown() || width <= 0 || height <= 0) return;
    // An opaque ground: the cloud of the last trial must not show through.
    glColor4f(0.08f, 0.09f, 0.11f, 1.0f);
    glBegin(GL_QUADS);
    glVertex2d(left, bottom);
    glVertex2d(left + width, bottom);
    glVertex2d(left + width, bottom + height);
    glVertex2d(left, bottom + height);
    glEnd();
    if (form) {
        form->Render();
    } else if (continueButton) {
        continueButton->render();
        if (breakText.width() > 0)
            breakText.draw(left + (width - breakText.width()) / 2.0, bottom + height - breakText.height() - cell / 2.0);
    }
}
