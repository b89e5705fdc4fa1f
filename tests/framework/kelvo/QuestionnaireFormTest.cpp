// QuestionnaireForm driven as the view drives it for any pointer: the
// component under a press is hit-tested, then gets press, drags and the
// release. A TLX answered on its sliders, a resumed SUS on its buttons, a
// ranking; each answer reported once, in order. Needs a Qt GUI application
// for the text (offscreen is enough); runs in milliseconds.
#include "framework/kelvo/QuestionnaireForm.h"

#include "framework/ombra/EventKind.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/SliderComponent.h"
#include "tests/support/VisTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

const double kCell = 48.0;

// One stroke of a pointer from (x, y) to (toX, y); false when nothing is hit.
bool Stroke(QuestionnaireForm& form, double x, double y, double toX)
{
    VisComponent* c = form.ComponentAt(x, y);
    if (!c) return false;
    c->onHit();
    c->getStrategy()->apply(c, OmbraEvent(1, 0, x, y, 0, c, 1), EventKind::FromName("PRESS"));
    c->getStrategy()->apply(c, OmbraEvent(2, 0, toX, y, 0, nullptr, 1), EventKind::FromName("DRAG"));
    c->getStrategy()->apply(c, OmbraEvent(3, 0, toX, y, 0, nullptr, 1), EventKind::FromName("RELEASE"));
    return true;
}

// The first x at which the slider gives `value` (within half a grid step).
double XFor(VisComponent* c, double value)
{
    const SliderComponent* slider = dynamic_cast<SliderComponent*>(c);
    for (double x = c->getLeft(); x < c->getLeft() + c->getWidth(); x += 0.25)
        if (std::fabs(slider->valueAt(x, c->getBottom()) - value) < 2.0) return x;
    return -1.0;
}

double CentreX(const VisComponent* c) { return c->getLeft() + c->getWidth() / 2; }
double CentreY(const VisComponent* c) { return c->getBottom() + c->getHeight() / 2; }

ButtonComponent* Button(QuestionnaireForm& form, const std::string& text)
{
    for (VisComponent* c : form.Components()) {
        ButtonComponent* b = dynamic_cast<ButtonComponent*>(c);
        if (b && b->getText() == text) return b;
    }
    return nullptr;
}

}  // namespace

TEST(QuestionnaireForm, TlxOnSlidersSusOnButtonsEachAnswerOnce)
{
    vistest::EnsureGuiApplication();
    std::vector<std::pair<std::string, std::string>> given;
    auto record = [&](const std::string& item, const std::string& value) { given.emplace_back(item, value); };

    QuestionnaireForm tlx(Questionnaire::Tlx(false), {}, record, 100);
    tlx.Layout(0, 0, 1000, 700, kCell);
    for (int k = 0; k < 6; ++k) {
        ASSERT_EQ(tlx.CurrentItem(), static_cast<size_t>(k));
        for (VisComponent* c : tlx.Components()) {
            EXPECT_GE(c->getWidth(), kCell);
            EXPECT_GE(c->getHeight(), kCell);
        }
        ASSERT_EQ(tlx.Components().size(), 2u);  // slider and Next, no Skip
        VisComponent* slider = tlx.Components()[0];
        ButtonComponent* next = Button(tlx, "Next");
        ASSERT_TRUE(next);
        // Next before the slider was touched records nothing: no default answer.
        EXPECT_FALSE(next->isEnabled());
        ASSERT_TRUE(Stroke(tlx, CentreX(next), CentreY(next), CentreX(next)));
        EXPECT_EQ(given.size(), static_cast<size_t>(k));
        // A drag to the slider's right end (100), then one that ends at 20 + 5k.
        ASSERT_TRUE(Stroke(tlx, CentreX(slider), CentreY(slider), slider->getLeft() + slider->getWidth()));
        ASSERT_TRUE(Stroke(tlx, CentreX(slider), CentreY(slider), XFor(slider, 20 + 5 * k)));
        EXPECT_TRUE(next->isEnabled());
        ASSERT_TRUE(Stroke(tlx, CentreX(next), CentreY(next), CentreX(next)));
    }
    EXPECT_TRUE(tlx.Complete());
    EXPECT_TRUE(tlx.Components().empty());
    ASSERT_EQ(given.size(), 6u);
    EXPECT_EQ(given[0], std::make_pair(std::string("mental"), std::string("20")));
    EXPECT_EQ(given[5], std::make_pair(std::string("frustration"), std::string("45")));
    double score = 0.0;
    ASSERT_TRUE(Questionnaire::TlxRaw(tlx.Answers(), score));

    // A SUS cut off after three items resumes at the fourth.
    given.clear();
    QuestionnaireForm sus(Questionnaire::Sus(), {{"sus1", "4"}, {"sus2", "2"}, {"sus3", "5"}}, record, 200);
    sus.Layout(0, 0, 400, 700, kCell);  // narrow: the five buttons wrap, none shrinks
    EXPECT_EQ(sus.CurrentItem(), 3u);
    for (VisComponent* c : sus.Components()) EXPECT_GE(c->getWidth(), kCell);
    for (int k = 4; k <= 10; ++k) {
        ButtonComponent* b = Button(sus, std::to_string(k % 2 ? 5 : 1));
        ASSERT_TRUE(b);
        ASSERT_TRUE(Stroke(sus, CentreX(b), CentreY(b), CentreX(b)));
    }
    ASSERT_EQ(given.size(), 7u);
    EXPECT_EQ(given.front(), std::make_pair(std::string("sus4"), std::string("1")));
    ASSERT_TRUE(Questionnaire::SusScore(sus.Answers(), score));
    EXPECT_DOUBLE_EQ(score, 2.5 * (3 + 3 + 4 + 4 + 4 + 4 + 4 + 4 + 4 + 4));
    // A press beside every control answers nothing.
    EXPECT_FALSE(Stroke(sus, 1, 1, 1));

    // A ranking offers only the techniques not yet placed.
    given.clear();
    QuestionnaireForm ranking(Questionnaire::Ranking({"density", "cylinder", "wand"}), {}, record, 300);
    ranking.Layout(0, 0, 800, 600, kCell);
    ASSERT_TRUE(Stroke(ranking, CentreX(Button(ranking, "wand")), CentreY(Button(ranking, "wand")), 0));
    EXPECT_EQ(ranking.Components().size(), 2u);
    EXPECT_FALSE(Button(ranking, "wand"));
    ASSERT_TRUE(Stroke(ranking, CentreX(Button(ranking, "density")), CentreY(Button(ranking, "density")), 0));
    ASSERT_TRUE(Stroke(ranking, CentreX(Button(ranking, "cylinder")), CentreY(Button(ranking, "cylinder")), 0));
    EXPECT_TRUE(ranking.Complete());
    ASSERT_EQ(given.size(), 3u);
    EXPECT_EQ(given[2], std::make_pair(std::string("rank_3"), std::string("cylinder")));
}
