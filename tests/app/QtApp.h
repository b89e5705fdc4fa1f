#pragma once
// One application object (the program's own MyApp) for the widget tests of
// this folder, created on first use.
// Widgets are built but never shown, so the offscreen platform is enough and
// the tests do not depend on a display.
#include "app/MyApp.h"

#include <cstdlib>

inline void ensureQtApp()
{
    if (QApplication::instance()) return;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    new MyApp(argc, argv);
}
