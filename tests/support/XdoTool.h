#pragma once
// Real X input for the system tests: xdotool runs, the program's window found
// by its title, keys given to it (there is no window manager on the virtual
// display to make it active) and a lasso drawn as a closed loop of pointer
// moves with a mode key held. Header-only: the tests that drive a separate
// Pravik process and those that drive the window in process both use it.
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cmath>

namespace XdoTool {

// Runs xdotool and returns its standard output, trimmed.
inline QString Run(const QStringList& args, int timeoutMs = 20000)
{
    QProcess p;
    p.start("xdotool", args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return QString();
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The newest visible window whose title contains `title`, or empty.
inline QString FindWindow(const QString& title)
{
    const QStringList ids = Run({"search", "--sync", "--onlyvisible", "--name", title}).split('\n');
    return ids.isEmpty() ? QString() : ids.last().trimmed();
}

inline QRect Geometry(const QString& id)
{
    QRect r;
    for (const QString& line : Run({"getwindowgeometry", "--shell", id}).split('\n')) {
        const QString key = line.section('=', 0, 0), value = line.section('=', 1);
        if (key == "X") r.moveLeft(value.toInt());
        if (key == "Y") r.moveTop(value.toInt());
        if (key == "WIDTH") r.setWidth(value.toInt());
        if (key == "HEIGHT") r.setHeight(value.toInt());
    }
    return r;
}

// Gives the window the input focus until X says it has it.
inline void Focus(const QString& id)
{
    for (int i = 0; i < 25; ++i) {
        Run({"windowfocus", id}, 5000);
        QThread::msleep(200);
        if (Run({"getwindowfocus"}) == id) break;
    }
    QThread::msleep(200);
}

// Typed as on a keyboard, to the window with the focus. Aimed at a window,
// xdotool sends each event through the server's keyboard only while that
// window has the focus and straight to the window otherwise: a key that
// unmaps the window (Ctrl+M) had its press go through the keyboard and its
// release past it, so the server held the keys down and repeated them, and
// every later key came with Ctrl.
inline void Keys(const QString& id, const QString& keys)
{
    Focus(id);
    Run({"key", keys});
    QThread::msleep(300);
}

// xdotool arguments for a closed loop of 36 moves around `centre` (screen
// pixels) with `key` held and the left button down.
inline QStringList LassoLoop(QPoint centre, double radius, const QString& key)
{
    auto at = [&](double angle) {
        return QStringList{"mousemove", QString::number(int(centre.x() + radius * std::cos(angle))),
                           QString::number(int(centre.y() + radius * std::sin(angle))), "sleep", "0.03"};
    };
    QStringList args;
    args << at(0.0) << "keydown" << key << "sleep" << "0.1" << "mousedown" << "1";
    for (int i = 1; i <= 36; ++i) args << at(i * 2.0 * M_PI / 36.0);
    args << "mouseup" << "1" << "sleep" << "0.1" << "keyup" << key;
    return args;
}

}  // namespace XdoTool
