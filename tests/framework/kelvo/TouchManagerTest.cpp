#include "framework/kelvo/TouchManager.h"

#include "framework/kelvo/StudyManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

class TouchManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TouchManager::Destroy();
        tm = TouchManager::Instance();
        tm->SetGraceMilliseconds(0);
    }
    void TearDown() override { TouchManager::Destroy(); }

    // What the view does at one event with the pending item: press first,
    // then release, then move. A press always finds a component here, and a
    // release waits while no press is counted.
    std::string ViewStep()
    {
        const std::string sent = ViewHandles();
        tm->Pump(); // the loop turns
        return sent;
    }
    std::string ViewHandles()
    {
        if (tm->pressPending) {
            if (!counted) ++pressCount;
            counted = true;
            tm->filteringEvents(tm->touchX, tm->touchY, 0);
            if (emptyFor.count(tm->touchId)) return "";
            counted = false;
            tm->MousePressEvent(tm->touchX, tm->touchY, tm->touchId);
            tm->pressPending = false;
            return "PRESS " + Where();
        }
        if (tm->releasePending) {
            if (pressCount == 0) return "";
            --pressCount;
            const bool accepted = tm->MouseReleaseEvent(tm->touchX, tm->touchY, tm->touchId);
            tm->releasePending = false;
            return accepted ? "RELEASE " + Where() : "";
        }
        if (tm->movePending) {
            if (!tm->MouseMoveEvent(tm->touchX, tm->touchY, tm->touchId)) return "";
            tm->movePending = false;
            return "DRAG " + Where();
        }
        return "";
    }
    std::string Where()
    {
        return std::to_string(tm->touchId) + "@" + std::to_string(tm->touchX) + "," + std::to_string(tm->touchY);
    }
    std::vector<std::string> Drain(int steps = 20)
    {
        std::vector<std::string> out;
        for (int i = 0; i < steps; ++i) {
            const std::string s = ViewStep();
            if (!s.empty()) out.push_back(s);
        }
        return out;
    }

    TouchManager* tm = nullptr;
    int pressCount = 0;
    bool counted = false;        // the shown press was counted once already
    std::set<int> emptyFor;      // contacts the view finds no component for
};

TEST_F(TouchManagerTest, BoardContactsGetSmallIdsAndDuplicatePressesCountAsMoves)
{
    tm->TouchPressEvent(100, 200, 1);
    EXPECT_TRUE(tm->filteringEvents(100, 200, 1)); // pressed again without a lift
    EXPECT_FALSE(tm->filteringEvents(100, 200, 0));

    // The first contact down gets 0 whatever its board id; a second one 1.
    EXPECT_EQ(tm->TouchMoveEvent(110, 200, 1).id, 0);
    tm->TouchPressEvent(400, 50, 0);
    const TouchPos second = tm->TouchMoveEvent(410, 60, 0);
    EXPECT_EQ(second.id, 1);
    EXPECT_FLOAT_EQ(second.x, 410.0f);
    EXPECT_FLOAT_EQ(second.y, 60.0f);

    const TouchPos up = tm->TouchReleaseEvent(120, 200, 1);
    EXPECT_EQ(up.id, 0);
    EXPECT_FLOAT_EQ(up.x, 120.0f);
    EXPECT_FALSE(tm->filteringEvents(120, 200, 1));
    // Id 0 is free again for the next contact.
    tm->TouchPressEvent(700, 700, 1);
    EXPECT_EQ(tm->TouchMoveEvent(705, 700, 1).id, 0);
    EXPECT_EQ(tm->TouchReleaseEvent(705, 700, 0).id, 1);
}

TEST_F(TouchManagerTest, BoardMovesDropJitterAndTrailingMovesAfterALift)
{
    tm->TouchPressEvent(300, 300, 0);
    EXPECT_FALSE(tm->filteringMoveEvents(300, 300, 0));
    EXPECT_FALSE(tm->filteringMoveEvents(301, 300, 0));
    EXPECT_TRUE(tm->filteringMoveEvents(303, 300, 0));
    tm->TouchMoveEvent(303, 300, 0);
    EXPECT_FALSE(tm->filteringMoveEvents(304, 301, 0)); // measured from the last one let through

    tm->TouchReleaseEvent(303, 300, 0);
    const TouchPos trailing = tm->TouchMoveEvent(304, 300, 0);
    EXPECT_LT(trailing.x, 0.0f);
    EXPECT_LT(trailing.y, 0.0f);

    // A contact that began over nothing is still tracked from its first move.
    const TouchPos far = tm->TouchMoveEvent(900, 100, 1);
    EXPECT_FLOAT_EQ(far.x, 900.0f);
    EXPECT_EQ(far.id, 0);
    EXPECT_EQ(tm->TouchReleaseEvent(905, 100, 1).id, 0);

    // Three contacts at once: the third is 2, which the view reports.
    tm->TouchPressEvent(1, 1, 0);
    tm->TouchPressEvent(2, 2, 1);
    tm->TouchPressEvent(3, 3, 5);
    EXPECT_EQ(tm->TouchReleaseEvent(3, 3, 5).id, 2);
}

TEST_F(TouchManagerTest, MousePointersMoveAndReleaseOnlyAfterAPress)
{
    EXPECT_FALSE(tm->MouseMoveEvent(10, 10, 3));
    EXPECT_FALSE(tm->MouseReleaseEvent(10, 10, 3));
    tm->MousePressEvent(10, 10, 3);
    EXPECT_TRUE(tm->MouseMoveEvent(20, 10, 3));
    EXPECT_FALSE(tm->MouseMoveEvent(20, 10, 4));
    EXPECT_TRUE(tm->MouseReleaseEvent(20, 10, 3));
    EXPECT_FALSE(tm->MouseReleaseEvent(20, 10, 3));
}

TEST_F(TouchManagerTest, QueuedItemsAreShownOneAtATimeInArrivalOrder)
{
    tm->SetGraceMilliseconds(60000);
    tm->QueuePress(10, 20, 0);
    tm->QueueMove(11, 21, 0);
    tm->QueueMove(12, 22, 0); // merged with the move before
    tm->QueuePress(500, 400, 1);
    tm->QueueRelease(13, 23, 0);
    tm->QueueRelease(501, 401, 1);
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_TRUE(tm->pressPending);
    EXPECT_FALSE(tm->movePending);
    EXPECT_FALSE(tm->releasePending);
    EXPECT_EQ(tm->touchX, 10u);

    // Flags not cleared: nothing advances.
    tm->Pump();
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_EQ(tm->touchX, 10u);

    const std::vector<std::string> expected = {"PRESS 0@10,20", "DRAG 0@12,22", "PRESS 1@500,400",
                                               "RELEASE 0@13,23", "RELEASE 1@501,401"};
    EXPECT_EQ(Drain(), expected);
    EXPECT_EQ(tm->PendingCount(), 0u);
    EXPECT_FALSE(tm->pressPending || tm->movePending || tm->releasePending);

    // A move arriving while the shown move is still pending updates it.
    tm->QueuePress(1, 1, 0);
    ViewStep();
    tm->QueueMove(2, 2, 0);
    tm->QueueMove(3, 4, 0);
    EXPECT_TRUE(tm->movePending);
    EXPECT_EQ(tm->touchX, 3u);
    EXPECT_EQ(tm->touchY, 4u);
    EXPECT_EQ(tm->PendingCount(), 1u);
}

TEST_F(TouchManagerTest, HeldBackReleaseGoesOutRightAfterTheNextPress)
{
    // The view holds a release back while it has counted no press (here:
    // the count was reset while the finger was down).
    tm->QueueRelease(30, 40, 0);
    EXPECT_EQ(ViewStep(), "");
    EXPECT_TRUE(tm->releasePending);
    tm->QueuePress(70, 80, 1);
    tm->QueueMove(75, 85, 1);
    EXPECT_FALSE(tm->pressPending); // the view may not have looked yet
    int turns = 0;
    for (; !tm->pressPending && turns < 10; ++turns) EXPECT_EQ(ViewStep(), "");
    EXPECT_GE(turns, 2);
    // The press is shown beside the held release, so the view can count it;
    // the release then goes out with the values of that moment.
    EXPECT_TRUE(tm->pressPending);
    EXPECT_TRUE(tm->releasePending);
    EXPECT_EQ(ViewStep(), "PRESS 1@70,80");
    EXPECT_EQ(ViewStep(), "RELEASE 1@70,80");
    EXPECT_TRUE(tm->movePending);
    EXPECT_EQ(tm->touchX, 75u);

    // Within the grace period the press waits its turn however often the
    // loop turns.
    TouchManager::Destroy();
    tm = TouchManager::Instance();
    tm->SetGraceMilliseconds(60000);
    pressCount = 0;
    tm->QueueRelease(30, 40, 0);
    tm->QueuePress(70, 80, 1);
    for (int turn = 0; turn < 10; ++turn) EXPECT_EQ(ViewStep(), "");
    EXPECT_FALSE(tm->pressPending);
    EXPECT_TRUE(tm->releasePending);
}

TEST_F(TouchManagerTest, PressOverNothingIsWithdrawnWithItsContact)
{
    tm->SetGraceMilliseconds(60000);
    emptyFor.insert(0);
    tm->QueuePress(5, 5, 0);
    tm->QueueMove(6, 6, 0);
    tm->QueueRelease(7, 7, 0);
    tm->QueuePress(100, 100, 1);
    tm->QueueRelease(101, 101, 1);
    // Nothing is dropped before the view has looked.
    EXPECT_EQ(tm->PendingCount(), 5u);
    EXPECT_EQ(tm->touchId, 0);
    // The view finds nothing under contact 0 and leaves the flag set: the
    // contact is withdrawn with its move and release, and counted once.
    const std::vector<std::string> expected = {"PRESS 1@100,100", "RELEASE 1@101,101"};
    EXPECT_EQ(Drain(), expected);
    EXPECT_EQ(pressCount, 0);
    EXPECT_EQ(tm->PendingCount(), 0u);

    // Alone in the queue the press stays pending and is examined again.
    tm->QueuePress(8, 8, 0);
    EXPECT_TRUE(Drain().empty());
    EXPECT_TRUE(tm->pressPending);
    emptyFor.clear();
    EXPECT_EQ(Drain(), std::vector<std::string>{"PRESS 0@8,8"});

    // A move the view refuses (its contact has no accepted press) is dropped
    // once something waits behind it.
    tm->QueueMove(50, 50, 7);
    tm->QueueRelease(9, 9, 0);
    EXPECT_EQ(Drain(), std::vector<std::string>{"RELEASE 0@9,9"});
}

TEST_F(TouchManagerTest, TimerShowsTheNextItemOnceTheViewClearedAFlag)
{
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    tm->SetGraceMilliseconds(60000);
    tm->QueuePress(1, 2, 0);
    tm->QueueRelease(3, 4, 0);
    tm->QueueRelease(5, 6, 1);
    tm->pressPending = false; // what the view does, without calling back
    QElapsedTimer clock;
    clock.start();
    while (!tm->releasePending && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(tm->releasePending);
    EXPECT_EQ(tm->touchX, 3u);
    EXPECT_EQ(tm->PendingCount(), 2u);
    TouchManager::Destroy(); // its timer goes before the application
    tm = nullptr;
}

TEST_F(TouchManagerTest, ViewSizeFallsBackToTheStudyView)
{
    StudyManager::Instance()->SetView(1920, 1080, 960, 540, 1600, 900);
    EXPECT_EQ(tm->ViewWidth(), 1600);
    EXPECT_EQ(tm->ViewHeight(), 900);
    tm->SetViewSize(640, 480);
    EXPECT_EQ(tm->ViewWidth(), 640);
    EXPECT_EQ(tm->ViewHeight(), 480);
}

} // namespace
