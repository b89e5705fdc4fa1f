#include "app/QTPravik.h"

#include "app/QTConfiguration.h"
#include "app/QTKelvoWidgetGL.h"
#include "framework/runner/StudyRunner.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStatusBar>
#include <QSurfaceFormat>
#include <QTimer>

#include <algorithm>
#include <cstdio>

QTPravik::QTPravik(QTConfiguration* configuration)
    : QMainWindow(nullptr, Qt::WindowFlags()), configuration(configuration)
{
    multiMonitorActive = false;
    const QSurfaceFormat format;
    view = new QTKelvoWidgetGL(format, configuration, this);
    view->setFocusPolicy(Qt::StrongFocus);
    setCentralWidget(view);

    QAction* quitAction = new QAction(tr("&Quit"), this);
    quitAction->setShortcut(QKeySequence(Qt::Key_Escape));
    quitAction->setShortcutContext(Qt::ApplicationShortcut);
    quitAction->setStatusTip(tr("Quit the program"));
    quitAction->setWhatsThis(tr("quit (twice during a study trial)"));
    connect(quitAction, &QAction::triggered, this, &QTPravik::requestQuit);

    QAction* fullscreenAction = new QAction(tr("Toggle real &fullscreen"), this);
    fullscreenAction->setShortcut(QKeySequence(tr("Ctrl+F")));
    fullscreenAction->setShortcutContext(Qt::ApplicationShortcut);
    fullscreenAction->setStatusTip(tr("Toggle real fullscreen"));
    fullscreenAction->setWhatsThis(tr("full screen on and off"));
    connect(fullscreenAction, &QAction::triggered, this, &QTPravik::toggleFullscreen);

    QAction* multiMonitorAction = new QAction(tr("Toggle &multi-monitor fullscreen"), this);
    multiMonitorAction->setShortcut(QKeySequence(tr("Ctrl+M")));
    multiMonitorAction->setShortcutContext(Qt::ApplicationShortcut);
    multiMonitorAction->setStatusTip(tr("Toggle multi-monitor fullscreen"));
    multiMonitorAction->setWhatsThis(tr("full screen over all monitors on and off"));
    connect(multiMonitorAction, &QAction::triggered, this, &QTPravik::toggleMultiMonitorFullscreen);

    QAction* cursorAction = new QAction(tr("Toggle &cursor"), this);
    cursorAction->setShortcut(QKeySequence(tr("Ctrl+C")));
    cursorAction->setShortcutContext(Qt::ApplicationShortcut);
    cursorAction->setStatusTip(tr("Toggle cursor"));
    cursorAction->setWhatsThis(tr("mouse off (touch input only) and on again"));
    connect(cursorAction, &QAction::triggered, view, &QTKelvoWidgetGL::toggleCursor);

    QAction* twoMiceAction = new QAction(tr("Toggle &two-mice"), this);
    twoMiceAction->setShortcut(QKeySequence(tr("Ctrl+T")));
    twoMiceAction->setShortcutContext(Qt::ApplicationShortcut);
    twoMiceAction->setStatusTip(tr("Toggle mouse tracking"));
    twoMiceAction->setWhatsThis(tr("extra mice on and off (mouse off meanwhile)"));
    connect(twoMiceAction, &QAction::triggered, view, &QTKelvoWidgetGL::toggleTwomice);

    QAction* aboutAction = new QAction(tr("&About"), this);
    aboutAction->setShortcutContext(Qt::ApplicationShortcut);
    aboutAction->setStatusTip(tr("About"));
    connect(aboutAction, &QAction::triggered, this, &QTPravik::about);

    addAction(quitAction);
    addAction(fullscreenAction);
    addAction(multiMonitorAction);
    addAction(cursorAction);
    addAction(twoMiceAction);
    addAction(aboutAction);
    // A held key repeats, and none of these may: a toggle would flicker, and
    // during a trial a held Escape would be its own second press and quit.
    for (QAction* once : {quitAction, fullscreenAction, multiMonitorAction, cursorAction, twoMiceAction})
        once->setAutoRepeat(false);

    quitNotice = new QLabel(tr("Press Escape again to quit: the running trial would be lost"), this);
    quitNotice->setAlignment(Qt::AlignCenter);
    quitNotice->setStyleSheet(QStringLiteral(
        "QLabel { background: rgb(150, 30, 30); color: white; font-size: 20px; padding: 12px; }"));
    quitNotice->hide();
    quitWindow = new QTimer(this);
    quitWindow->setSingleShot(true);
    quitWindow->setInterval(QuitConfirmMs);
    connect(quitWindow, &QTimer::timeout, quitNotice, &QWidget::hide);
}

double QTPravik::resizeToFit(int width, int height)
{
    QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target || width <= 0 || height <= 0) {
        resize(width, height);
        return 1.0;
    }
    const QRect area = target->availableGeometry();
    const double scale = std::min({1.0, static_cast<double>(area.width()) / width,
                                   static_cast<double>(area.height()) / height});
    if (scale >= 1.0) {
        resize(width, height);
        return 1.0;
    }
    const int w = std::max(1, static_cast<int>(width * scale)), h = std::max(1, static_cast<int>(height * scale));
    resize(w, h);
    move(area.topLeft());
    std::printf("Pravik: the configured display of %d x %d is larger than the screen's free %d x %d; "
                "the window and its layout are scaled by %.3f to %d x %d\n",
                width, height, area.width(), area.height(), scale, w, h);
    std::fflush(stdout);
    return scale;
}

bool QTPravik::isQuitNoticeShown() const
{
    return quitNotice->isVisible();
}

QRect QTPravik::quitNoticeRect() const
{
    return quitNotice->geometry();
}

void QTPravik::requestQuit()
{
    if (!StudyRunner::Instance()->IsRunning() || quitWindow->isActive()) {
        quitWindow->stop();
        close();
        return;
    }
    quitNotice->adjustSize();
    quitNotice->move((width() - quitNotice->width()) / 2, std::max(0, height() / 20));
    quitNotice->show();
    quitNotice->raise();
    quitWindow->start();
    std::printf("Escape during a trial: press it again within %d s to quit\n", QuitConfirmMs / 1000);
    std::fflush(stdout);
}

QTPravik::~QTPravik()
{
    if (multiMonitorActive) leaveMultiMonitor(false);
    delete view;
}

void QTPravik::about()
{
    QMessageBox::about(this, tr("Kelvo Demo Application"),
                       tr("Kelvo Demo Application\n\nVersion 1.1 (Spring 2011)\n\n"
                          "Made by the Pravik particle-selection study team."));
}

void QTPravik::toggleCursor()
{
    view->toggleCursor();
}

void QTPravik::toggleTwomice()
{
    view->toggleTwomice();
}

void QTPravik::hideBars()
{
    // Only bars that exist: asking QMainWindow for them would create them.
    if (QWidget* menu = menuWidget()) menu->hide();
    if (QStatusBar* status = findChild<QStatusBar*>(QString(), Qt::FindDirectChildrenOnly)) status->hide();
}

void QTPravik::toggleFullscreen()
{
    if (isFullScreen()) {
        hideBars();
        showNormal();
        return;
    }
    if (multiMonitorActive) toggleMultiMonitorFullscreen();
    hideBars();
    showFullScreen();
}

void QTPravik::toggleMultiMonitorFullscreen()
{
    if (multiMonitorActive) {
        leaveMultiMonitor(true);
        return;
    }
    if (isFullScreen()) showNormal();
    hideBars();
    savedGeometry = geometry();
    savedFlags = windowFlags();

    // The whole virtual desktop: the union of every screen.
    QRect desktop;
    for (QScreen* screen : QGuiApplication::screens()) desktop = desktop.united(screen->geometry());

    setWindowFlags(savedFlags | Qt::FramelessWindowHint);
    setGeometry(desktop);
    showWithKeyboard();
    multiMonitorActive = true;
}

void QTPravik::showWithKeyboard()
{
    // New window flags unmap the window and map it again, and X then gives
    // the keyboard to the root window. A window manager would hand it back;
    // on a study display without one, every key after the switch was lost.
    show();
    activateWindow();
}

void QTPravik::leaveMultiMonitor(bool reshow)
{
    hideBars();
    setWindowFlags(savedFlags);
    setGeometry(savedGeometry);
    if (reshow) showWithKeyboard();
    multiMonitorActive = false;
}

void QTPravik::closeEvent(QCloseEvent* event)
{
    if (multiMonitorActive) leaveMultiMonitor(false);
    QMainWindow::closeEvent(event);
}
