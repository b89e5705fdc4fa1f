// The main window's commands: six window actions with their shortcuts.
#include "app/QTPravik.h"

#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "tests/app/QtApp.h"

#include <QAction>
#include <QMainWindow>

#include <gtest/gtest.h>

TEST(QTPravik, SixMenuLessActionsWithApplicationShortcuts)
{
    ensureQtApp();
    QTConfiguration* configuration = new QTConfiguration("no-such-config.xml");
    QTPravik window(configuration);
    EXPECT_EQ(window.centralWidget(), window.getView());
    EXPECT_EQ(window.getView()->focusPolicy(), Qt::StrongFocus);
    EXPECT_FALSE(window.isMultiMonitorActive());
    EXPECT_EQ(window.menuWidget(), nullptr);

    const QList<QAction*> actions = window.actions();
    ASSERT_EQ(actions.size(), 6);
    const struct {
        const char* text;
        QKeySequence shortcut;
        const char* tip;
    } expected[] = {
        {"&Quit", QKeySequence(Qt::Key_Escape), "Quit the program"},
        {"Toggle real &fullscreen", QKeySequence("Ctrl+F"), "Toggle real fullscreen"},
        {"Toggle &multi-monitor fullscreen", QKeySequence("Ctrl+M"), "Toggle multi-monitor fullscreen"},
        {"Toggle &cursor", QKeySequence("Ctrl+C"), "Toggle cursor"},
        {"Toggle &two-mice", QKeySequence("Ctrl+T"), "Toggle mouse tracking"},
        {"&About", QKeySequence(), "About"},
    };
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(actions[i]->text(), QString(expected[i].text));
        EXPECT_EQ(actions[i]->shortcut(), expected[i].shortcut);
        EXPECT_EQ(actions[i]->shortcutContext(), Qt::ApplicationShortcut);
        EXPECT_EQ(actions[i]->statusTip(), QString(expected[i].tip));
    }

    // The cursor and two-mice commands act on the view.
    actions[3]->trigger();
    EXPECT_FALSE(window.getView()->isMouseEnabled());
    actions[3]->trigger();
    actions[4]->trigger();
    EXPECT_TRUE(window.getView()->isTwoMiceEnabled());
}
