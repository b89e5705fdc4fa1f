// The main window's commands: each shortcut works from anywhere in the
// application and reaches the command it names (the real keys reach them
// in the system tests).
#include "app/QTPravik.h"

#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "tests/app/QtApp.h"

#include <QAction>
#include <QMainWindow>

#include <gtest/gtest.h>

TEST(QTPravik, EveryShortcutIsApplicationWideAndReachesItsCommand)
{
    ensureQtApp();
    QTConfiguration* configuration = new QTConfiguration("no-such-config.xml");
    QTPravik window(configuration);
    EXPECT_EQ(window.centralWidget(), window.getView());
    EXPECT_EQ(window.getView()->focusPolicy(), Qt::StrongFocus);
    EXPECT_FALSE(window.isMultiMonitorActive());
    EXPECT_EQ(window.menuWidget(), nullptr);

    auto action = [&](const char* keys) -> QAction* {
        for (QAction* a : window.actions())
            if (a->shortcuts().contains(QKeySequence(keys))) return a;
        return nullptr;
    };
    for (const char* keys : {"Esc", "Ctrl+F", "Ctrl+M", "Ctrl+C", "Ctrl+T"}) {
        SCOPED_TRACE(keys);
        ASSERT_NE(action(keys), nullptr);
        EXPECT_EQ(action(keys)->shortcutContext(), Qt::ApplicationShortcut);
        EXPECT_FALSE(action(keys)->whatsThis().isEmpty() && action(keys)->statusTip().isEmpty())
            << "the help panel has something to say";
    }

    // Ctrl+C turns the mouse off and on, Ctrl+T takes the extra mice, Ctrl+F
    // full screen and back.
    action("Ctrl+C")->trigger();
    EXPECT_FALSE(window.getView()->isMouseEnabled());
    action("Ctrl+C")->trigger();
    EXPECT_TRUE(window.getView()->isMouseEnabled());
    action("Ctrl+T")->trigger();
    EXPECT_TRUE(window.getView()->isTwoMiceEnabled());
    action("Ctrl+T")->trigger();
    EXPECT_FALSE(window.getView()->isTwoMiceEnabled());
    action("Ctrl+F")->trigger();
    EXPECT_TRUE(window.windowState() & Qt::WindowFullScreen);
    action("Ctrl+F")->trigger();
    EXPECT_FALSE(window.windowState() & Qt::WindowFullScreen);
}
