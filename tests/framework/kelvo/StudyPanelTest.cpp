// StudyPanel over a real study runner, pressed as the view presses any
// pointer's target: the participant form filled on its own controls (a
// slider for the age, buttons for the choices, Skip only for the optional
// field) goes to the participant file in one row, and the study goes on to
// its first trial; a questionnaire's answers reach the answers file. Needs
// a Qt GUI application for the text (offscreen is enough).
#include "framework/kelvo/StudyPanel.h"

#include "framework/ombra/EventKind.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/runner/CsvFormat.h"
#include "framework/runner/StudyRunner.h"
#include "tests/framework/runner/StudyTestFiles.h"
#include "tests/support/VisTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double kCell = 48.0;

// Press and release at (x, y) on what the panel has there; false when nothing.
bool Press(StudyPanel& panel, double x, double y)
{
    VisComponent* c = panel.ComponentAt(x, y);
    if (!c) return false;
    c->getStrategy()->apply(c, OmbraEvent(1, 0, x, y, 0, c, 1), EventKind::FromName("PRESS"));
    c->getStrategy()->apply(c, OmbraEvent(2, 0, x, y, 0, nullptr, 1), EventKind::FromName("RELEASE"));
    return true;
}

bool PressButton(StudyPanel& panel, const std::string& text)
{
    for (VisComponent* c : panel.Form()->Components())
        if (auto* b = dynamic_cast<ButtonComponent*>(c))
            if (b->getText().rfind(text, 0) == 0)
                return Press(panel, b->getLeft() + b->getWidth() / 2, b->getBottom() + b->getHeight() / 2);
    return false;
}

std::vector<std::string> Labels(const StudyPanel& panel)
{
    std::vector<std::string> labels;
    for (VisComponent* c : panel.Form()->Components())
        if (auto* b = dynamic_cast<ButtonComponent*>(c)) labels.push_back(b->getText());
    return labels;
}

}  // namespace

TEST(StudyPanel, TheFormAndAQuestionnaireAreAnsweredOnTheirControls)
{
    vistest::EnsureGuiApplication();
    StudyTestFolder folder;
    ResetFrameworkWithDatasets({"clusters"});
    const std::string path = folder.Write("study.xml", R"(<study results="out">
  <dataset id="c" builtin="clusters"/>
  <form>
    <field id="age"/>
    <field id="handedness"/>
    <field id="vision" label="Vision" choices="normal|glasses" required="false"/>
  </form>
  <block technique="density">
    <trial name="a" dataset="c" targetLabel="1"/>
    <questionnaire type="likert" id="ease" points="3"><item id="e" text="Easy?"/></questionnaire>
  </block>
</study>
)");
    StudyRunner runner;
    ASSERT_TRUE(runner.Load(path).empty());
    ASSERT_EQ(runner.Begin(1, 0), "");
    StudyPanel panel(&runner, 100);
    panel.Layout(0, 0, 900, 700, kCell);
    ASSERT_TRUE(panel.Update(0.0));
    ASSERT_TRUE(panel.IsShown());
    ASSERT_NE(panel.Form(), nullptr);
    EXPECT_EQ(panel.ContinueButton(), nullptr);

    // Age: a slider from 16 to 99; "Next" says the value once it is touched.
    const std::vector<VisComponent*> age = panel.Form()->Components();
    ASSERT_EQ(age.size(), 2u) << "a slider and Next, no Skip for a required field";
    auto* slider = dynamic_cast<SliderComponent*>(age[0]);
    ASSERT_NE(slider, nullptr);
    double x = slider->getLeft();
    while (x < slider->getLeft() + slider->getWidth() && std::lround(slider->valueAt(x, 0)) != 34) x += 0.5;
    ASSERT_TRUE(Press(panel, x, slider->getBottom() + slider->getHeight() / 2));
    EXPECT_EQ(Labels(panel), std::vector<std::string>{"Next: 34"});
    ASSERT_TRUE(PressButton(panel, "Next"));
    EXPECT_EQ(Labels(panel), (std::vector<std::string>{"right", "left", "both"}));
    ASSERT_TRUE(PressButton(panel, "left"));
    EXPECT_EQ(Labels(panel), (std::vector<std::string>{"normal", "glasses", "Skip"}));
    for (VisComponent* c : panel.Form()->Components()) {
        EXPECT_GE(c->getWidth(), kCell);
        EXPECT_GE(c->getHeight(), kCell);
    }
    EXPECT_TRUE(runner.IsAskingForm()) << "nothing is sent before the last field";
    ASSERT_TRUE(PressButton(panel, "Skip"));

    EXPECT_TRUE(runner.IsPresenting());
    panel.Update(1.0);
    EXPECT_FALSE(panel.IsShown());
    EXPECT_EQ(panel.ComponentAt(450, 300), nullptr);
    const auto rows = CsvFormat::Parse(StudyTestFolder::Read(folder.Path("out/P1_participant.csv")));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(rows[1].begin() + 3, rows[1].end()),
              (std::vector<std::string>{"34", "left", ""}));

    // The questionnaire after the trial, on three buttons.
    ASSERT_TRUE(runner.StartTrial(2.0));
    ASSERT_TRUE(runner.FinishTrial({}, 3.0));
    ASSERT_TRUE(panel.Update(3.0));
    EXPECT_EQ(Labels(panel), (std::vector<std::string>{"1", "2", "3"}));
    ASSERT_TRUE(PressButton(panel, "3"));
    EXPECT_TRUE(runner.IsFinished());
    const auto answers = CsvFormat::Parse(StudyTestFolder::Read(folder.Path("out/P1_answers.csv")));
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1][6], "e");
    EXPECT_EQ(answers[1][7], "3");
}
