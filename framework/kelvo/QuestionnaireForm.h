#pragma once
// QuestionnaireForm: one questionnaire on the study view, one item at a time,
// made of the view's own components (buttons, a slider), so a TUIO finger,
// the pen, an extra mouse and the Qt mouse all answer it as they press the
// trial buttons.
//
// In: the questionnaire, the answers already given (a resumed session), the
// rectangle to fill and the trial buttons' cell size. Out: components to
// hit-test and draw, and one call of the answer callback per answer, in item
// order, before the next item is shown. A scale of up to 11 points is a row
// of buttons, one per value; a longer one (TLX: 0-100 in steps of 5) is a
// slider whose value is confirmed with "Next", which stays disabled until
// the slider was touched, so no default value is ever recorded. A choice is a
// button per choice left. "Skip" exists only when the questionnaire or the
// item allows it; a skipped item is answered with an empty value. No control is smaller
// than the given cell: a row that would not fit wraps onto more rows.
// Cost: a few components per item, rebuilt when the item changes.
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/ombra/TextPanel.h"
#include "framework/runner/Questionnaire.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QuestionnaireForm {
public:
    // (item id, value), called once per answer; the form moves on after it.
    using AnswerCallback = std::function<void(const std::string& item, const std::string& value)>;

    QuestionnaireForm(Questionnaire questionnaire, std::map<std::string, std::string> earlier,
                      AnswerCallback onAnswer, int firstComponentId);

    // Places the current item's components in the rectangle; `cell` is the
    // trial buttons' size, the smallest any control gets.
    void Layout(double left, double bottom, double width, double height, double cell);
    bool Complete() const { return current >= questionnaire.items.size(); }
    size_t CurrentItem() const { return current; }
    const Questionnaire& Definition() const { return questionnaire; }
    const std::map<std::string, std::string>& Answers() const { return answers; }

    // The components of the current item, and the one under view pixel (x, y).
    std::vector<VisComponent*> Components() const;
    VisComponent* ComponentAt(double x, double y) const;
    // The question, its description and anchors, for the view to draw above the controls.
    const TextPanel& Text() const { return text; }
    void Render();

private:
    void Build();
    void Answer(const std::string& value);

    Questionnaire questionnaire;
    std::map<std::string, std::string> answers;
    AnswerCallback onAnswer;
    int firstId;
    size_t current = 0;
    double left = 0.0, bottom = 0.0, width = 0.0, height = 0.0, cell = 40.0;
    std::vector<std::unique_ptr<ButtonComponent>> buttons;
    std::vector<std::string> buttonValues;   // per button: the answer it gives; "\n" for Next
    std::unique_ptr<SliderComponent> slider;
    bool sliderTouched = false;
    ButtonComponent* next = nullptr;
    std::vector<std::unique_ptr<ButtonComponent>> retiredButtons;
    std::vector<std::unique_ptr<SliderComponent>> retiredSliders;
    TextPanel text;
};
