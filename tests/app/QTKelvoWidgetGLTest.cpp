// What the view sends to the framework for Qt mouse, keys, TUIO and board
// input, checked against a recording stand-in for the visualization.
#include "app/QTKelvoWidgetGL.h"

#include "app/Configuration.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/kelvo/TouchManager.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/OmbraManager.h"
#include "framework/ombra/VisComponent.h"
#include "framework/tovik/ConstantProvider.h"
#include "tests/app/QtApp.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Sent {
    std::string type;
    int id;
    double x, y, z;
    VisComponent* eventComponent; // the one inside the event
    VisComponent* component;      // the one passed beside it
    int last;
};

// Stands in for the visualization: one component covers the left half
// [0, componentRight) x [0, 600) of the view (400: the left half); the rest
// is empty space.
class RecordingManager : public OmbraManager {
public:
    RecordingManager() : component(7) {}
    double componentRight = 400;

    void processEvent(OmbraEvent* e, VisComponent* c) override
    {
        sent.push_back({ConstantProvider::getInstance()->getEventTypeName(e->type), e->id, e->x, e->y, e->z,
                        e->component, c, e->last});
    }
    VisComponent* getComponentAt(double x, double y, bool) override
    {
        return (x >= 0 && x < componentRight && y >= 0 && y < 600) ? &component : nullptr;
    }
    void addToUpdateList(int id) override { updates.push_back(id); }

    std::vector<std::string> types() const
    {
        std::vector<std::string> t;
        for (const Sent& s : sent) t.push_back(s.type);
        return t;
    }

    VisComponent component;
    std::vector<Sent> sent;
    std::vector<int> updates;
};

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureQtApp();
        TouchManager::Instance()->ClearPending();
        config.mainWidth = 800;
        config.mainHeight = 600;
    }

    void makeView()
    {
        view = std::make_unique<QTKelvoWidgetGL>(QSurfaceFormat(), &config, nullptr);
        view->setEventManager(&manager);
    }

    // Qt window coordinates: origin top left, so view y = 600 - qy.
    void mouse(QEvent::Type type, int qx, int qy)
    {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent e(type, QPointF(qx, qy), QPointF(qx, qy), Qt::LeftButton, held, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &e);
    }
    void key(QEvent::Type type, int k)
    {
        QKeyEvent e(type, k, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &e);
    }
    // Any event makes the view look at the pending TUIO item.
    void poke()
    {
        QEvent e(QEvent::User);
        QCoreApplication::sendEvent(view.get(), &e);
    }

    Configuration config;
    RecordingManager manager;
    std::unique_ptr<QTKelvoWidgetGL> view;
};

// The touch manager's TUIO queue as the view takes it: the view looks at the
// shown item at every event it gets, then the loop turns (Pump).
class TouchQueueTest : public ViewTest {
protected:
    void SetUp() override
    {
        ViewTest::SetUp();
        TouchManager::Destroy();
        tm = TouchManager::Instance();
        tm->SetGraceMilliseconds(0);
        makeView();
    }
    void TearDown() override
    {
        view.reset();
        TouchManager::Destroy();
    }

    // One event reaches the view, then the loop turns: what the view sent,
    // as "TYPE id@x,y".
    std::string Step()
    {
        const size_t before = manager.sent.size();
        poke();
        tm->Pump();
        std::string out;
        for (size_t i = before; i < manager.sent.size(); ++i) {
            const Sent& e = manager.sent[i];
            out += (out.empty() ? "" : " ") + e.type + " " + std::to_string(e.id) + "@" +
                   std::to_string(static_cast<int>(e.x)) + "," + std::to_string(static_cast<int>(e.y));
        }
        return out;
    }
    std::vector<std::string> Drain(int steps = 20)
    {
        std::vector<std::string> out;
        for (int i = 0; i < steps; ++i) {
            const std::string s = Step();
            if (!s.empty()) out.push_back(s);
        }
        return out;
    }

    TouchManager* tm = nullptr;
};

}

TEST_F(ViewTest, EventTypesAreRegisteredWithReleaseIconBeforeScroll)
{
    ConstantProvider::Destroy();
    makeView();
    const std::vector<std::string> order = {
        "PRESS",   "DRAG",     "RELEASE",  "RELEASEICON", "SCROLL",    "SPLUS",    "SMINUS",   "SINT",
        "SPLUSS",  "SMINUSS",  "SINTS",    "SPLUSE",      "SMINUSE",   "SINTE",    "CYSPLUS",  "CYSMINUS",
        "CYSINT",  "CYSPLUSS", "CYSMINUSS", "CYSINTS",    "CYSPLUSE",  "CYSMINUSE", "CYSINTE"};
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(ConstantProvider::getInstance()->findEventTypeIdentifier(order[i]), i + 1) << order[i];
}

TEST_F(ViewTest, QDragSendsALassoPlusStroke)
{
    makeView();
    key(QEvent::KeyPress, Qt::Key_Q);
    EXPECT_EQ(view->getKeyMode(), 9);
    mouse(QEvent::MouseButtonPress, 100, 500);
    mouse(QEvent::MouseMove, 110, 490);
    mouse(QEvent::MouseMove, 120, 480);
    mouse(QEvent::MouseButtonRelease, 120, 480);

    EXPECT_EQ(manager.types(), (std::vector<std::string>{"SPLUSS", "SPLUS", "SPLUS", "SPLUSE"}));
    ASSERT_EQ(manager.sent.size(), 4u);
    EXPECT_EQ(manager.sent[0].x, 100);
    EXPECT_EQ(manager.sent[0].y, 100);
    EXPECT_EQ(manager.sent[0].component, &manager.component); // the press carries its component
    EXPECT_EQ(manager.sent[1].y, 110);
    EXPECT_EQ(manager.sent[2].x, 120);
    for (const Sent& s : manager.sent) {
        EXPECT_EQ(s.id, 0);
        EXPECT_EQ(s.z, 0);
        EXPECT_EQ(s.last, 1);
        EXPECT_EQ(s.eventComponent, nullptr);
    }
    for (size_t i = 1; i < manager.sent.size(); ++i) EXPECT_EQ(manager.sent[i].component, nullptr);
    EXPECT_TRUE(manager.component.isHighlighted()); // onHit at the press
    EXPECT_EQ(manager.updates, std::vector<int>{7}); // released over the component

    EXPECT_EQ(view->getKeyMode(), 0);
    EXPECT_EQ(view->getMouseButtonsDown(), 0);
}

TEST_F(ViewTest, EachModeKeySelectsItsFamily)
{
    makeView();
    const struct {
        int key;
        int mode;
        const char* prefix;
    } keys[] = {{Qt::Key_Q, 9, "SPLUS"},   {Qt::Key_W, 10, "SMINUS"},  {Qt::Key_E, 11, "SINT"},
                {Qt::Key_A, 3, "CYSPLUS"}, {Qt::Key_S, 4, "CYSMINUS"}, {Qt::Key_D, 5, "CYSINT"}};
    for (const auto& k : keys) {
        manager.sent.clear();
        key(QEvent::KeyPress, k.key);
        EXPECT_EQ(view->getKeyMode(), k.mode);
        mouse(QEvent::MouseButtonPress, 50, 550);
        mouse(QEvent::MouseMove, 60, 550);
        key(QEvent::KeyRelease, k.key); // released mid-stroke: the mode holds
        mouse(QEvent::MouseMove, 70, 550);
        mouse(QEvent::MouseButtonRelease, 70, 550);
        const std::string p = k.prefix;
        EXPECT_EQ(manager.types(), (std::vector<std::string>{p + "S", p, p, p + "E"})) << p;
        EXPECT_EQ(view->getKeyMode(), 0);
    }
}

TEST_F(ViewTest, PlainDragIgnoresModeKeys)
{
    makeView();
    mouse(QEvent::MouseButtonPress, 100, 500);
    key(QEvent::KeyPress, Qt::Key_W);
    EXPECT_EQ(view->getKeyMode(), 0);
    mouse(QEvent::MouseMove, 110, 500);
    mouse(QEvent::MouseButtonRelease, 110, 500);
    EXPECT_EQ(manager.types(), (std::vector<std::string>{"PRESS", "DRAG", "RELEASE"}));

    // Without a button held a key release ends the mode.
    key(QEvent::KeyPress, Qt::Key_A);
    key(QEvent::KeyRelease, Qt::Key_A);
    EXPECT_EQ(view->getKeyMode(), 0);
}

TEST_F(ViewTest, MovesClampAtTheLeftAndBottomEdgesOnly)
{
    makeView();
    mouse(QEvent::MouseButtonPress, 10, 590);
    mouse(QEvent::MouseMove, -20, 700); // left of and below the view
    mouse(QEvent::MouseMove, 50, -30);  // above the top edge
    mouse(QEvent::MouseButtonRelease, 50, -30);
    ASSERT_EQ(manager.sent.size(), 4u);
    EXPECT_EQ(manager.sent[1].x, 0);
    EXPECT_EQ(manager.sent[1].y, 0);
    EXPECT_EQ(manager.sent[2].x, 50);
    EXPECT_EQ(manager.sent[2].y, 630);
}

TEST_F(ViewTest, PressOverNoComponentSendsNothingButReleaseIsCounted)
{
    makeView();
    mouse(QEvent::MouseButtonPress, 700, 100); // view (700, 500): empty space
    EXPECT_TRUE(manager.sent.empty());
    EXPECT_EQ(view->getMouseButtonsDown(), 1);
    EXPECT_FALSE(manager.component.isHighlighted());
    mouse(QEvent::MouseButtonRelease, 700, 100);
    EXPECT_EQ(manager.types(), std::vector<std::string>{"RELEASE"});
    EXPECT_TRUE(manager.updates.empty());
    EXPECT_EQ(view->getMouseButtonsDown(), 0);
}

TEST_F(ViewTest, TouchOnlyConditionCountsButDoesNotSend)
{
    config.condition = 1;
    makeView();
    EXPECT_FALSE(view->isMouseEnabled());
    mouse(QEvent::MouseButtonPress, 100, 500);
    key(QEvent::KeyPress, Qt::Key_Q); // a button is down: ignored
    EXPECT_EQ(view->getKeyMode(), 0);
    mouse(QEvent::MouseMove, 110, 500);
    mouse(QEvent::MouseButtonRelease, 110, 500);
    EXPECT_TRUE(manager.sent.empty());
    EXPECT_EQ(view->getMouseButtonsDown(), 0);
}

TEST_F(ViewTest, CursorAndTwoMiceTogglesReportTheCondition)
{
    makeView();
    StudyManager::Instance()->ClearCalls();
    view->toggleCursor();
    EXPECT_FALSE(view->isMouseEnabled());
    EXPECT_EQ(StudyManager::Instance()->getConditionId(), 1);
    view->toggleCursor();
    EXPECT_TRUE(view->isMouseEnabled());
    EXPECT_EQ(StudyManager::Instance()->getConditionId(), 0);

    view->toggleTwomice();
    EXPECT_TRUE(view->isTwoMiceEnabled());
    EXPECT_FALSE(view->isMouseEnabled());
    EXPECT_EQ(view->getSharedPressCount(), 0);
    view->toggleTwomice();
    EXPECT_FALSE(view->isTwoMiceEnabled());
    EXPECT_TRUE(view->isMouseEnabled());
    EXPECT_EQ(StudyManager::Instance()->GetCalls().size(), 4u);
}

TEST_F(ViewTest, TuioPressOverNothingStaysPendingAndCountsOnce)
{
    makeView();
    TouchManager* touch = TouchManager::Instance();
    touch->touchX = 700;
    touch->touchY = 500;
    touch->touchId = 3;
    touch->pressPending = true;
    poke();
    poke();
    poke();
    EXPECT_TRUE(touch->pressPending);
    EXPECT_EQ(view->getSharedPressCount(), 1);
    EXPECT_TRUE(manager.sent.empty());

    // The contact is now over the component: the press goes out, counted once.
    touch->touchX = 100;
    touch->touchY = 100;
    poke();
    EXPECT_FALSE(touch->pressPending);
    EXPECT_EQ(view->getSharedPressCount(), 1);
    ASSERT_EQ(manager.types(), std::vector<std::string>{"PRESS"});
    EXPECT_EQ(manager.sent[0].id, 3);
    EXPECT_EQ(manager.sent[0].x, 100);

    touch->movePending = true;
    touch->touchX = 120;
    poke();
    EXPECT_FALSE(touch->movePending);
    touch->releasePending = true;
    poke();
    EXPECT_FALSE(touch->releasePending);
    EXPECT_EQ(manager.types(), (std::vector<std::string>{"PRESS", "DRAG", "RELEASE"}));
    EXPECT_EQ(view->getSharedPressCount(), 0);
}

TEST_F(ViewTest, TuioReleaseWithoutPressWaits)
{
    makeView();
    TouchManager* touch = TouchManager::Instance();
    touch->touchX = 100;
    touch->touchY = 100;
    touch->touchId = 0;
    touch->releasePending = true;
    poke();
    EXPECT_TRUE(touch->releasePending);
    EXPECT_EQ(view->getSharedPressCount(), 0);
    EXPECT_TRUE(manager.sent.empty());
    touch->releasePending = false;
}

TEST_F(ViewTest, BoardContactsFlipYAndUseThePointerBit)
{
    makeView();
    view->OnXYDown(10, 0, 0, 0x100); // top row of the board
    ASSERT_EQ(manager.types(), std::vector<std::string>{"PRESS"});
    EXPECT_EQ(manager.sent[0].id, 1);
    EXPECT_EQ(manager.sent[0].x, 10);
    EXPECT_EQ(manager.sent[0].y, 599);
    EXPECT_EQ(manager.sent[0].component, &manager.component);

    view->OnXYUp(10, 0, 0, 0x100);
    ASSERT_EQ(manager.sent.size(), 2u);
    EXPECT_EQ(manager.sent[1].type, "RELEASEICON");
    EXPECT_EQ(manager.sent[1].component, nullptr);

    // A down over empty space sends no press.
    manager.sent.clear();
    view->OnXYDown(700, 0, 0, 0x200);
    EXPECT_TRUE(manager.sent.empty());
    view->OnXYUp(700, 0, 0, 0x200);
}

TEST_F(TouchQueueTest, QueuedItemsAreShownOneAtATimeInArrivalOrder)
{
    tm->SetGraceMilliseconds(60000);
    tm->QueuePress(10, 20, 0);
    tm->QueueMove(11, 21, 0);
    tm->QueueMove(12, 22, 0); // merged with the move before
    tm->QueuePress(300, 400, 1);
    tm->QueueRelease(13, 23, 0);
    tm->QueueRelease(301, 401, 1);
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_TRUE(tm->pressPending);
    EXPECT_FALSE(tm->movePending);
    EXPECT_FALSE(tm->releasePending);
    EXPECT_EQ(tm->touchX, 10u);

    // Flags not cleared: nothing advances.
    tm->Pump();
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_EQ(tm->touchX, 10u);

    const std::vector<std::string> expected = {"PRESS 0@10,20", "DRAG 0@12,22", "PRESS 1@300,400",
                                               "RELEASE 0@13,23", "RELEASE 1@301,401"};
    EXPECT_EQ(Drain(), expected);
    EXPECT_EQ(tm->PendingCount(), 0u);
    EXPECT_FALSE(tm->pressPending || tm->movePending || tm->releasePending);

    // A move arriving while the shown move is still pending updates it.
    tm->QueuePress(1, 1, 0);
    Step();
    tm->QueueMove(2, 2, 0);
    tm->QueueMove(3, 4, 0);
    EXPECT_TRUE(tm->movePending);
    EXPECT_EQ(tm->touchX, 3u);
    EXPECT_EQ(tm->touchY, 4u);
    EXPECT_EQ(tm->PendingCount(), 1u);
}

TEST_F(TouchQueueTest, HeldBackReleaseGoesOutRightAfterTheNextPress)
{
    // The view holds a release back while it has counted no press (here: the
    // finger went down before the view was there).
    tm->QueueRelease(30, 40, 0);
    EXPECT_EQ(Step(), "");
    EXPECT_TRUE(tm->releasePending);
    tm->QueuePress(70, 80, 1);
    tm->QueueMove(75, 85, 1);
    EXPECT_FALSE(tm->pressPending); // the view may not have looked yet
    int turns = 0;
    for (; !tm->pressPending && turns < 10; ++turns) EXPECT_EQ(Step(), "");
    EXPECT_GE(turns, 2);
    // The press is shown beside the held release, so the view can count it;
    // the release then goes out with the values of that moment.
    EXPECT_TRUE(tm->pressPending);
    EXPECT_TRUE(tm->releasePending);
    EXPECT_EQ(Step(), "PRESS 1@70,80");
    EXPECT_EQ(Step(), "RELEASE 1@70,80");
    EXPECT_TRUE(tm->movePending);
    EXPECT_EQ(tm->touchX, 75u);

    // Within the grace period the press waits its turn however often the
    // loop turns.
    view.reset();
    TouchManager::Destroy();
    tm = TouchManager::Instance();
    tm->SetGraceMilliseconds(60000);
    makeView();
    tm->QueueRelease(30, 40, 0);
    tm->QueuePress(70, 80, 1);
    for (int turn = 0; turn < 10; ++turn) EXPECT_EQ(Step(), "");
    EXPECT_FALSE(tm->pressPending);
    EXPECT_TRUE(tm->releasePending);
}

TEST_F(TouchQueueTest, PressOverNothingIsWithdrawnWithItsContact)
{
    tm->SetGraceMilliseconds(60000);
    tm->QueuePress(705, 5, 0); // empty space
    tm->QueueMove(706, 6, 0);
    tm->QueueRelease(707, 7, 0);
    tm->QueuePress(100, 100, 1);
    tm->QueueRelease(101, 101, 1);
    // Nothing is dropped before the view has looked.
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_EQ(tm->touchId, 0);
    // The view finds nothing under contact 0 and leaves the flag set: the
    // contact is withdrawn with its move and release, and counted once.
    const std::vector<std::string> expected = {"PRESS 1@100,100", "RELEASE 1@101,101"};
    EXPECT_EQ(Drain(), expected);
    EXPECT_EQ(view->getSharedPressCount(), 0);
    EXPECT_EQ(tm->PendingCount(), 0u);

    // Alone in the queue the press stays pending and is examined again.
    tm->QueuePress(708, 8, 0);
    EXPECT_TRUE(Drain().empty());
    EXPECT_TRUE(tm->pressPending);
    manager.componentRight = 800; // the component now lies under it
    EXPECT_EQ(Drain(), std::vector<std::string>{"PRESS 0@708,8"});

    // A move the view refuses (its contact has no accepted press) is dropped
    // once something waits behind it.
    tm->QueueMove(50, 50, 7);
    tm->QueueRelease(9, 9, 0);
    EXPECT_EQ(Drain(), std::vector<std::string>{"RELEASE 0@9,9"});
}
