#include "framework/kelvo/QuestionnaireForm.h"

#include "framework/ombra/ButtonStrategy.h"
#include "framework/ombra/SliderStrategy.h"
#include "framework/runner/CsvFormat.h"

#include <algorithm>
#include <cmath>

namespace {

// A slider's value held on the item's grid.
double OnGrid(const QuestionnaireItem& item, double v)
{
    const double steps = std::round((v - item.minimum) / item.step);
    return std::clamp(item.minimum + steps * item.step, static_cast<double>(item.minimum),
                      static_cast<double>(item.maximum));
}

// Lines of at most `width` characters, broken between words: a long
// description stays readable rather than shrinking to fit one line.
std::vector<std::string> Wrap(const std::string& text, size_t width)
{
    std::vector<std::string> lines;
    std::string line, word;
    auto flush = [&] {
        if (word.empty()) return;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        word.clear();
    };
    for (char c : text) {
        if (c == ' ' || c == '\n') flush();
        else word += c;
    }
    flush();
    if (!line.empty()) lines.push_back(line);
    return lines;
}

const size_t kLineCharacters = 64;
const int kMaxButtonPoints = 11;
const char* const kNext = "\n";
const char* const kSkip = "\r";

}  // namespace

QuestionnaireForm::QuestionnaireForm(Questionnaire q, std::map<std::string, std::string> earlier,
                                     AnswerCallback callback, int firstComponentId)
    : questionnaire(std::move(q)), answers(std::move(earlier)), onAnswer(std::move(callback)), firstId(firstComponentId)
{
    current = questionnaire.FirstUnanswered(answers);
    Build();
}

void QuestionnaireForm::Build()
{
    // An answer rebuilds the form from inside the pressed button's strategy:
    // that button must outlive its call.
    // A pointer still down on a control of an earlier item (a second finger
    // answered meanwhile) may release there: they all live as long as the form.
    for (auto& b : buttons) retiredButtons.push_back(std::move(b));
    if (slider) retiredSliders.push_back(std::move(slider));
    buttons.clear();
    buttonValues.clear();
    next = nullptr;
    sliderTouched = false;
    if (Complete()) {
        text.setRows({});
        return;
    }
    const QuestionnaireItem& item = questionnaire.items[current];
    int id = firstId;
    auto addButton = [&](const std::string& label, const std::string& value) {
        const std::string answer = value;
        buttons.emplace_back(new ButtonComponent(id++, ButtonComponent::TextOnly,
                                                 new ButtonStrategy([this, answer] { Answer(answer); })));
        buttons.back()->setText(label);
        buttonValues.push_back(value);
    };
    const int points = (item.maximum - item.minimum) / item.step + 1;
    if (item.kind == QuestionnaireItem::Choice) {
        for (const std::string& c : questionnaire.ChoicesLeft(current, answers)) {
            const auto at = std::find(item.choices.begin(), item.choices.end(), c);
            const size_t k = static_cast<size_t>(at - item.choices.begin());
            addButton(k < item.choiceLabels.size() ? item.choiceLabels[k] : c, c);
        }
    } else if (points <= kMaxButtonPoints) {
        for (int v = item.minimum; v <= item.maximum; v += item.step) addButton(std::to_string(v), std::to_string(v));
    } else {
        const double middle = OnGrid(item, (item.minimum + item.maximum) / 2.0);
        slider.reset(new SliderComponent(id++, item.minimum, item.maximum, middle,
                                         new SliderStrategy([this](double v) {
                                             const QuestionnaireItem& it = questionnaire.items[current];
                                             slider->setValue(OnGrid(it, v));
                                             sliderTouched = true;
                                             if (!next) return;
                                             next->setEnabled(true);
                                             // A number without anchors (an age) shows what it is.
                                             if (it.lowAnchor.empty())
                                                 next->setText("Next: " + CsvFormat::Number(slider->getValue(), 6));
                                         })));
        addButton("Next", kNext);
        next = buttons.back().get();
        next->setEnabled(false);
    }
    if (questionnaire.skippable || item.optional) addButton("Skip", kSkip);

    std::vector<TextPanel::Row> rows = {
        {questionnaire.title + "  (" + std::to_string(current + 1) + " of " +
             std::to_string(questionnaire.items.size()) + ")",
         ""}};
    for (const std::string& line : Wrap(item.text, kLineCharacters)) rows.push_back({line, ""});
    for (const std::string& line : Wrap(item.description, kLineCharacters)) rows.push_back({line, ""});
    if (item.kind == QuestionnaireItem::Scale && !item.lowAnchor.empty())
        rows.push_back({std::to_string(item.minimum) + ": " + item.lowAnchor,
                        std::to_string(item.maximum) + ": " + item.highAnchor});
    else if (item.kind == QuestionnaireItem::Scale)
        rows.push_back({"from " + std::to_string(item.minimum) + " to " + std::to_string(item.maximum), ""});
    text.setRows(rows);
    Layout(left, bottom, width, height, cell);
}

void QuestionnaireForm::Layout(double l, double b, double w, double h, double c)
{
    left = l;
    bottom = b;
    width = w;
    height = h;
    cell = c;
    if (w <= 0 || h <= 0) return;
    // The controls fill rows from the middle of the rectangle down: the
    // slider one row as wide as the rectangle allows, then the buttons,
    // each at least a cell square, as many to a row as fit.
    double y = b + h / 2.0;
    if (slider) {
        y -= c;
        slider->setBounds(l + c / 2.0, y, std::max(c, w - c), c);
        y -= c / 2.0;
    }
    const double gap = c / 4.0;
    size_t perRow = std::max<size_t>(1, static_cast<size_t>((w + gap) / (c + gap)));
    perRow = std::min(perRow, std::max<size_t>(1, buttons.size()));
    const double buttonWidth = std::max(c, std::min(c * 2.5, (w - gap * (perRow - 1)) / perRow));
    const double rowWidth = perRow * buttonWidth + gap * (perRow - 1);
    for (size_t k = 0; k < buttons.size(); ++k) {
        if (k % perRow == 0) y -= c + gap;
        const size_t column = k % perRow;
        buttons[k]->setBounds(l + (w - rowWidth) / 2.0 + column * (buttonWidth + gap), y, buttonWidth, c);
    }
    text.fit(static_cast<int>(std::max(16.0, c * 0.45)), static_cast<int>(w), static_cast<int>(h / 2.0 - gap));
}

void QuestionnaireForm::Answer(const std::string& value)
{
    if (Complete()) return;
    std::string given = value;
    if (value == kNext) {
        if (!sliderTouched) return;
        given = CsvFormat::Number(slider->getValue(), 6);
    } else if (value == kSkip) {
        given.clear();
    } else if (!questionnaire.Accepts(current, value, answers)) {
        return;
    }
    const std::string item = questionnaire.items[current].id;
    answers[item] = given;
    // The callback writes the answer down before anything else is shown.
    if (onAnswer) onAnswer(item, given);
    ++current;
    Build();
}

std::vector<VisComponent*> QuestionnaireForm::Components() const
{
    std::vector<VisComponent*> all;
    if (slider) all.push_back(slider.get());
    for (const auto& b : buttons) all.push_back(b.get());
    return all;
}

VisComponent* QuestionnaireForm::ComponentAt(double x, double y) const
{
    for (VisComponent* c : Components())
        if (c->isVisible() && c->contains(x, y)) return c;
    return nullptr;
}

void QuestionnaireForm::Render()
{
    for (VisComponent* c : Components()) c->render();
    if (text.width() > 0) text.draw(left + (width - text.width()) / 2.0, bottom + height - text.height());
}
