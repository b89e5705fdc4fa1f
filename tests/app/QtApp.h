#pragma once
// One QApplication for the widget tests of this folder, created on first use.
// Widgets are built but never shown, so the offscreen platform is enough and
// the tests do not depend on a display.
#include <QApplication>

#include <cstdlib>

inline void ensureQtApp()
{
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}
