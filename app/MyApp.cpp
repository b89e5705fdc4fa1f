#include "app/MyApp.h"

#include <cstdio>

bool MyApp::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        std::printf("Unknown Exception!\n");
        std::fflush(stdout);
        return false;
    }
}
