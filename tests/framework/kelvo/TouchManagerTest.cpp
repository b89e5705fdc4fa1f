#include "framework/kelvo/TouchManager.h"

#include "framework/kelvo/StudyManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

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

    TouchManager* tm = nullptr;
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

// How the view takes the queued TUIO items: tests/app/QTKelvoWidgetGLTest.cpp
// (TouchQueueTest), through the real view.

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
