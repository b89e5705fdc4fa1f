#include "app/QTKelvoWidgetGL.h"

#include "app/Configuration.h"
#include "app/TwoMice.h"
#include "framework/board/CSBSDK2.h"
#include "framework/board/CSBSDKWnd.h"
#include "framework/kelvo/ChangeNotifier.h"
#include "framework/kelvo/KelvoVis.h"
#include "framework/kelvo/KelvoVisBuilderGL.h"
#include "framework/kelvo/ManyMouse.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/kelvo/StudyTrialControl.h"
#include "framework/kelvo/StudyManager.h"
#include "framework/kelvo/TouchManager.h"
#include "framework/ombra/VisComponent.h"
#include "framework/runner/StudyRunner.h"
#include "framework/tovik/ConstantProvider.h"
#include "framework/tovik/WindowsFrameTimer.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <osg/GL>
#include <osgViewer/Viewer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace {
// Magnification of one wheel notch.
constexpr double kWheelZoomStep = 1.25;
uint32_t typeId(const char* name)
{
    return ConstantProvider::getInstance()->getEventTypeIdentifier(std::string(name));
}
// What the board SDK is told about system mouse events for the view.
const int kBoardMouseEventFlags = 2;
}

const QTKelvoWidgetGL::LassoKey QTKelvoWidgetGL::LassoKeys[6] = {
    {Qt::Key_Q, KeyQ, false, "add"},    {Qt::Key_W, KeyW, false, "remove"}, {Qt::Key_E, KeyE, false, "intersect"},
    {Qt::Key_A, KeyA, true, "add"},     {Qt::Key_S, KeyS, true, "remove"},  {Qt::Key_D, KeyD, true, "intersect"},
};

std::vector<std::pair<std::string, std::string>> QTKelvoWidgetGL::KeyHelp()
{
    std::vector<std::pair<std::string, std::string>> rows{{"drag", "rotate the data"}};
    for (const bool cylinder : {false, true}) {
        std::string keys, operations;
        for (const LassoKey& k : LassoKeys) {
            if (k.cylinder != cylinder) continue;
            keys += (keys.empty() ? "" : " / ") + QKeySequence(k.key).toString().toStdString();
            operations += (operations.empty() ? "" : " / ") + std::string(k.operation);
        }
        rows.emplace_back(keys + " + drag", (cylinder ? "cylinder lasso: " : "density-aware lasso: ") + operations);
    }
    return rows;
}

QTKelvoWidgetGL::QTKelvoWidgetGL(const QSurfaceFormat& format, Configuration* configuration, QWidget* parent)
    : QOpenGLWidget(parent), KelvoVisBuildDirector(configuration)
{
    setFormat(format);
    // Every pointer position counts for a lasso: Qt must not fold several
    // mouse or tablet moves into one per frame.
    QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
    QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
    viewWidth = configuration->mainWidth;
    viewHeight = configuration->mainHeight;

    if (configuration->condition == 1) {
        mouseEnabled = false;
        setCursor(Qt::BlankCursor);
    } else {
        mouseEnabled = true;
        setCursor(Qt::ArrowCursor);
    }
    setAttribute(Qt::WA_NoSystemBackground);
    twoMiceEnabled = false;
    sharedPressCount = 0;

    // Continuous rendering: a zero-interval timer fires whenever the event
    // loop has nothing else to do.
    repaintTimer = new QTimer(this);
    connect(repaintTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    repaintTimer->start();
    setRenderOnDemand(configuration->renderOnDemand);

    // The framework numbers types in request order; "RELEASEICON" is asked
    // for before "SCROLL" so the numbers match what the framework expects.
    PRESS = typeId("PRESS");
    DRAG = typeId("DRAG");
    RELEASE = typeId("RELEASE");
    RELEASEICON = typeId("RELEASEICON");
    SCROLL = typeId("SCROLL");
    SPLUS = typeId("SPLUS");
    SMINUS = typeId("SMINUS");
    SINT = typeId("SINT");
    SPLUSS = typeId("SPLUSS");
    SMINUSS = typeId("SMINUSS");
    SINTS = typeId("SINTS");
    SPLUSE = typeId("SPLUSE");
    SMINUSE = typeId("SMINUSE");
    SINTE = typeId("SINTE");
    CYSPLUS = typeId("CYSPLUS");
    CYSMINUS = typeId("CYSMINUS");
    CYSINT = typeId("CYSINT");
    CYSPLUSS = typeId("CYSPLUSS");
    CYSMINUSS = typeId("CYSMINUSS");
    CYSINTS = typeId("CYSINTS");
    CYSPLUSE = typeId("CYSPLUSE");
    CYSMINUSE = typeId("CYSMINUSE");
    CYSINTE = typeId("CYSINTE");

    keyMode = NoKey;
    mouseButtonsDown = 0;

    manymouse_initials_setup();
    init_mice();
}

QTKelvoWidgetGL::~QTKelvoWidgetGL()
{
    ManyMouse_Quit();
    // TouchManager outlives the view; it must not keep a dangling manager.
    if (vis && TouchManager::Instance()->getManager() == vis) TouchManager::Instance()->setManager(nullptr);
    if (events == vis) events = nullptr;
    if (vis) {
        // The visualization releases GL objects; give it the view's context.
        makeCurrent();
        delete vis;
        vis = nullptr;
        doneCurrent();
    }
}

void QTKelvoWidgetGL::initializeGL()
{
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_POLYGON_SMOOTH);
    glDisable(GL_NORMALIZE);
    glDisable(GL_DITHER);

    // Qt may initialise the context again (the widget moved to another
    // window); the board and the visualization exist once.
    if (!board) attachBoard();
    if (!vis && !builder) buildVisualization();
}

void QTKelvoWidgetGL::attachBoard()
{
    board = new CSBSDK2(false);
    // effectiveWinId: asking the view itself for a handle would turn it into
    // a native child window, which the GL widget does not want.
    boardWindow = new CSBSDKWnd(effectiveWinId(), this);
    board->SBSDKAttach(*boardWindow, false);
    board->SetEventHandler(this);
    board->SBSDKSendMouseEvents(*boardWindow, kBoardMouseEventFlags, -1);
}

void QTKelvoWidgetGL::buildVisualization()
{
    builder = new KelvoVisBuilderGL();
    WindowsFrameTimer* timer = new WindowsFrameTimer(10);
    builder->buildVis(timer, effectiveWinId(), configuration->mainOrigin, configuration->mainWidth,
                      configuration->mainHeight);
    vis = createVis(builder);
    if (!vis) {
        // Nothing can be shown or selected without a visualization: leave
        // with an error as soon as the event loop runs.
        std::printf("Pravik: the visualization could not be built; exiting.\n");
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
        return;
    }
    events = vis;
    // The configuration's cloud, or the study's, so every participant of a
    // study sees the same.
    float cloudSize = configuration->cloudPointSize, cloudOpacity = configuration->cloudOpacity;
    if (vis->GetStudyControl()->IsActive()) {
        const StudyDefinition& study = StudyRunner::Instance()->Definition();
        if (study.cloudPointSize > 0.0f) cloudSize = study.cloudPointSize;
        if (study.cloudOpacity > 0.0f) cloudOpacity = study.cloudOpacity;
        vis->SetZoomAllowedInStudy(study.allowZoom);
    }
    vis->GetScene()->SetCloudAppearance(cloudSize, cloudOpacity);
    vis->SetTouchOnly(!mouseEnabled && !twoMiceEnabled);
    connect(vis->changeNotifier, &ChangeNotifier::valueChanged, this, &QTKelvoWidgetGL::mypaintGL);
    TouchManager::Instance()->setManager(vis);
}

void QTKelvoWidgetGL::resizeGL(int w, int h)
{
    viewWidth = w;
    viewHeight = h;
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, w, 0, h, -300, 300);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    TouchManager::Instance()->SetViewSize(w, h);
    if (vis) vis->resizeVis(w, h);
    // The extra-mouse dispatcher gets nothing here: a resize carries no
    // mouse event for it.
}

void QTKelvoWidgetGL::paintGL()
{
    painting = true;
    glClear(GL_COLOR_BUFFER_BIT);
    if (!vis) {
        painting = false;
        return;
    }
    // Qt renders the view into its own framebuffer object, which may change
    // on every resize; OSG must return to it after its off-screen cameras.
    vis->setDefaultFboId(defaultFramebufferObject());
    QElapsedTimer frameClock;
    frameClock.start();
    // TUIO positions are fractions of the screen: where the view lies on it
    // now, before this frame's contacts are taken (the window may have moved).
    if (const QScreen* s = screen()) {
        const QRect g = s->geometry();
        const QPoint topLeft = mapToGlobal(QPoint(0, 0));
        TouchManager::Instance()->SetScreenFrame(g.width(), g.height(), topLeft.x() - g.x(), topLeft.y() - g.y());
    }
    if (events && !twoMiceEnabled) drainTouch();
    vis->renderAll(false);

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();

    for (osgViewer::Viewer* viewer : vis->GetOsgViewer()) {
        if (viewer && viewer->getSceneData()) viewer->frame();
    }

    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();

    vis->renderTouchIndication();
    if (twoMiceEnabled) draw_mice(viewWidth, viewHeight);
    if (minimumFrameMs > 0 && frameClock.elapsed() < minimumFrameMs)
        QThread::msleep(static_cast<unsigned long>(minimumFrameMs - frameClock.elapsed()));
    ++framesPainted;
    painting = false;
    if (onDemand) restIfIdle();
}

void QTKelvoWidgetGL::setRenderOnDemand(bool on)
{
    onDemand = on;
    if (on && !restingPoll) {
        restingPoll = new QTimer(this);
        connect(restingPoll, &QTimer::timeout, this, &QTKelvoWidgetGL::pollWhileResting);
    }
    if (on) {
        restingPoll->start(kRestingPollMilliseconds);
        wake();
    } else {
        if (restingPoll) restingPoll->stop();
        repaintTimer->start();
    }
}

bool QTKelvoWidgetGL::isAwake() const { return repaintTimer->isActive(); }

void QTKelvoWidgetGL::wake()
{
    sinceWake.restart();
    framesSinceWake = 0;
    if (!repaintTimer->isActive()) repaintTimer->start();
}

void QTKelvoWidgetGL::pollWhileResting()
{
    if (repaintTimer->isActive() || !events) return; // awake: every event drains input
    const unsigned long before = eventsSent;
    if (drainPointers() || eventsSent != before) wake();
}

void QTKelvoWidgetGL::restIfIdle()
{
    ++framesSinceWake;
    if (framesSinceWake < kAwakeFrames || sinceWake.elapsed() < kAwakeMilliseconds) return;
    // Work that shows itself over several frames keeps the view awake.
    if (vis && (!vis->DensitiesReady() || vis->KeepsAwake())) return;
    if (TouchManager::Instance()->PendingCount() > 0) return;
    repaintTimer->stop();
}

void QTKelvoWidgetGL::mypaintGL()
{
    if (onDemand) wake();
    // A change reported while a repaint of ours is under way (an event the
    // view takes on its way into that repaint, a TUIO move say) is drawn by
    // that repaint; asking again from inside it breaks Qt's repaint manager.
    if (repainting) return;
    update();
    // A change reported from inside a paint is drawn by the next one.
    if (!painting) {
        repainting = true;
        repaint();
        repainting = false;
    }
}

bool QTKelvoWidgetGL::winEvent(QEvent* message)
{
    if (board && message->type() == CSBSDK2::SBSDK_NEW_MESSAGE) board->SBSDKProcessData();
    return false;
}

namespace {
// What an on-demand view wakes for: input, a new size or visibility, the
// board's message (a user event type); not its own paints and timers.
bool wakesView(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::WindowStateChange:
    case QEvent::FocusIn:
    case QEvent::Enter:
        return true;
    default:
        return type >= QEvent::User;
    }
}
}

bool QTKelvoWidgetGL::drainPointers()
{
    if (twoMiceEnabled) {
        if (vis) vis->SetPointerSource("mice");
        return drain_mice(sharedPressCount, events, MiceEventTypes{PRESS, DRAG, RELEASE}) > 0;
    }
    const bool waiting = TouchManager::Instance()->PendingCount() > 0;
    pollTouch();
    return waiting;
}

bool QTKelvoWidgetGL::event(QEvent* e)
{
    winEvent(e);
    if (onDemand && wakesView(e->type())) wake();
    if (events) drainPointers();
    QOpenGLWidget::event(e);
    return false;
}

// ---------------------------------------------------------------- TUIO

void QTKelvoWidgetGL::pollTouch()
{
    // An event sent from here may repaint at once, and the repaint polls
    // again: that inner poll must not hand out the item being handled.
    if (pollingTouch) return;
    pollingTouch = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{pollingTouch};
    TouchManager* touch = TouchManager::Instance();
    // A counted press that is no longer the one shown was withdrawn by the
    // touch manager without being sent: take its count back.
    if (tuioPressCounted && (!touch->pressPending || touch->touchId != countedId ||
                             touch->touchX != countedX || touch->touchY != countedY)) {
        tuioPressCounted = false;
        --sharedPressCount;
    }
    if (touch->pressPending) {
        tuioPress();
    } else if (touch->releasePending) {
        tuioRelease();
    } else if (touch->movePending) {
        tuioMove();
    }
}

void QTKelvoWidgetGL::drainTouch()
{
    if (pollingTouch) return;
    TouchManager* touch = TouchManager::Instance();
    // Each turn hands over the shown item and shows the next; it stops when
    // a turn changes nothing (an item the view holds back).
    for (size_t turn = 0; turn < TouchManager::kMaxQueued && touch->PendingCount() > 0; ++turn) {
        const size_t before = touch->PendingCount();
        const unsigned long sent = eventsSent;
        pollTouch();
        touch->Pump();
        if (touch->PendingCount() == before && eventsSent == sent) break;
    }
}

void QTKelvoWidgetGL::tuioPress()
{
    TouchManager* touch = TouchManager::Instance();
    const int x = static_cast<int>(touch->touchX), y = static_cast<int>(touch->touchY);
    const int id = touch->touchId;
    if (!tuioPressCounted) {
        ++sharedPressCount;
        tuioPressCounted = true;
        countedX = touch->touchX;
        countedY = touch->touchY;
        countedId = id;
    }
    touch->filteringEvents(x, y, 0);
    VisComponent* component = events->getComponentAt(x, y, true);
    if (!component) return; // stays pending; looked at again at the next event
    component->onHit();
    touch->MousePressEvent(x, y, id);
    // Cleared before sending: the framework may repaint at once, and the
    // repaint drains touch input again.
    touch->pressPending = false;
    tuioPressCounted = false;
    send(PRESS, id, x, y, component);
}

void QTKelvoWidgetGL::tuioRelease()
{
    TouchManager* touch = TouchManager::Instance();
    // A release before any counted press waits for one.
    if (sharedPressCount == 0) return;
    --sharedPressCount;
    const int x = static_cast<int>(touch->touchX), y = static_cast<int>(touch->touchY);
    const int id = touch->touchId;
    touch->releasePending = false;
    if (touch->MouseReleaseEvent(x, y, id)) {
        if (VisComponent* component = events->getComponentAt(x, y, true))
            events->addToUpdateList(component->getId());
        send(RELEASE, id, x, y, nullptr);
    }
}

void QTKelvoWidgetGL::tuioMove()
{
    TouchManager* touch = TouchManager::Instance();
    const int x = static_cast<int>(touch->touchX), y = static_cast<int>(touch->touchY);
    const int id = touch->touchId;
    if (!touch->MouseMoveEvent(x, y, id)) return;
    touch->movePending = false;
    send(DRAG, id, x, y, nullptr);
}

// ---------------------------------------------------------------- Qt mouse

uint32_t QTKelvoWidgetGL::pressType() const
{
    switch (keyMode) {
    case KeyQ: return SPLUSS;
    case KeyW: return SMINUSS;
    case KeyE: return SINTS;
    case KeyA: return CYSPLUSS;
    case KeyS: return CYSMINUSS;
    case KeyD: return CYSINTS;
    default: return PRESS;
    }
}

uint32_t QTKelvoWidgetGL::moveType() const
{
    switch (keyMode) {
    case KeyQ: return SPLUS;
    case KeyW: return SMINUS;
    case KeyE: return SINT;
    case KeyA: return CYSPLUS;
    case KeyS: return CYSMINUS;
    case KeyD: return CYSINT;
    default: return DRAG;
    }
}

uint32_t QTKelvoWidgetGL::releaseType() const
{
    switch (keyMode) {
    case KeyQ: return SPLUSE;
    case KeyW: return SMINUSE;
    case KeyE: return SINTE;
    case KeyA: return CYSPLUSE;
    case KeyS: return CYSMINUSE;
    case KeyD: return CYSINTE;
    default: return RELEASE;
    }
}

void QTKelvoWidgetGL::mousePressEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    const int x = p.x(), y = viewHeight - p.y();
    ++mouseButtonsDown;
    TouchManager::Instance()->filteringEvents(x, y, 0);
    if (!mouseEnabled || !events) return;
    VisComponent* component = events->getComponentAt(x, y, true);
    if (!component) return;
    component->onHit();
    TouchManager::Instance()->MousePressEvent(x, y, 0);
    send(pressType(), 0, x, y, component, true);
}

void QTKelvoWidgetGL::mouseMoveEvent(QMouseEvent* e)
{
    if (!mouseEnabled || !events) return;
    const QPoint p = e->position().toPoint();
    // Leaving the view at the left or bottom sends 0, never a negative value.
    const int x = std::max(p.x(), 0);
    const int y = std::max(viewHeight - p.y(), 0);
    TouchManager::Instance()->MouseMoveEvent(x, y, 0);
    send(moveType(), 0, x, y, nullptr, true);
}

void QTKelvoWidgetGL::mouseReleaseEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    const int x = p.x(), y = viewHeight - p.y();
    --mouseButtonsDown;
    if (!mouseEnabled || !events) return;
    if (VisComponent* component = events->getComponentAt(x, y, true)) events->addToUpdateList(component->getId());
    TouchManager::Instance()->MouseReleaseEvent(x, y, 0);
    send(releaseType(), 0, x, y, nullptr, true);
    keyMode = NoKey;
}

void QTKelvoWidgetGL::wheelEvent(QWheelEvent* e)
{
    // A notch of 120 eighths of a degree is one step; touchpads send less.
    const double steps = e->angleDelta().y() / 120.0;
    if (!vis || !mouseEnabled || steps == 0.0) return;
    const QPointF p = e->position();
    if (vis->ZoomAt(std::pow(kWheelZoomStep, steps), p.x(), viewHeight - p.y())) wake();
    e->accept();
}

void QTKelvoWidgetGL::keyPressEvent(QKeyEvent* e)
{
    if (e->type() != QEvent::KeyPress) return;
    // A plain drag under way keeps its meaning: no key turns it into a lasso.
    if (keyMode == NoKey && mouseButtonsDown != 0) return;
    // With Ctrl, Alt or Meta held a letter is a command (Ctrl+S saves), never a lasso mode.
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        QWidget::keyPressEvent(e);
        return;
    }
    for (const LassoKey& k : LassoKeys) {
        if (e->key() != k.key) continue;
        keyMode = k.mode;
        return;
    }
    QWidget::keyPressEvent(e);
}

void QTKelvoWidgetGL::keyReleaseEvent(QKeyEvent* e)
{
    // Releasing the key during a stroke keeps the mode until the mouse lifts.
    if (mouseButtonsDown == 0) keyMode = NoKey;
    QWidget::keyReleaseEvent(e);
}

// ---------------------------------------------------------------- board

void QTKelvoWidgetGL::OnXYDown(int x, int y, int z, int pointer)
{
    if (!events) return;
    const int id = (pointer >> 8) & 1;
    const int yv = viewHeight - y - 1; // board rows count from the top
    VisComponent* component = events->getComponentAt(x, yv, true);
    if (!component) return;
    component->onHit();
    TouchManager* touch = TouchManager::Instance();
    // A second down of a contact already down continues that contact.
    if (touch->filteringEvents(x, yv, id)) {
        OnXYMove(x, y, z, pointer);
        return;
    }
    touch->TouchPressEvent(x, yv, id);
    send(PRESS, id, x, yv, component, false, "board");
}

void QTKelvoWidgetGL::OnXYMove(int x, int y, int, int pointer)
{
    if (!events) return;
    const int id = (pointer >> 8) & 1;
    const int yv = viewHeight - y - 1;
    TouchManager* touch = TouchManager::Instance();
    if (!touch->filteringMoveEvents(x, yv, id)) return;
    const TouchPos p = touch->TouchMoveEvent(x, yv, id);
    if (p.x < 0 && p.y < 0) return;
    if (p.id == 100) std::printf("drag%d\n", p.id);
    send(DRAG, p.id, p.x, p.y, nullptr, false, "board");
}

void QTKelvoWidgetGL::OnXYUp(int x, int y, int, int pointer)
{
    if (!events) return;
    const int yv = viewHeight - y - 1;
    VisComponent* component = events->getComponentAt(x, yv, true);
    const int id = (pointer >> 8) & 1;
    const TouchPos p = TouchManager::Instance()->TouchReleaseEvent(x, yv, id);
    if (component) events->addToUpdateList(component->getId());
    if (p.id > 1) {
        std::printf("wrong!!!\n");
        std::fflush(stdout);
    }
    send(RELEASEICON, p.id, p.x, p.y, nullptr, false, "board");
}

// ---------------------------------------------------------------- events and slots

void QTKelvoWidgetGL::send(uint32_t type, int id, double x, double y, VisComponent* component, bool keyboard,
                           const char* source)
{
    ++eventsSent;
    if (vis) vis->SetPointerSource(keyboard ? "mouse" : source);
    // Senders other than this view (the extra mice) find the flag off.
    events->setPointerHasKeyboard(keyboard);
    events->deliver(type, id, x, y, component);
    if (keyboard) events->setPointerHasKeyboard(false);
}

void QTKelvoWidgetGL::toggleCursor()
{
    if (mouseEnabled) {
        mouseEnabled = false;
        twoMiceEnabled = false;
        setCursor(Qt::BlankCursor);
        StudyManager::Instance()->setConditionId(1);
    } else {
        mouseEnabled = true;
        twoMiceEnabled = false;
        setCursor(Qt::ArrowCursor);
        StudyManager::Instance()->setConditionId(0);
    }
    if (vis) vis->SetTouchOnly(!mouseEnabled && !twoMiceEnabled);
    emit pointersSwitched();
}

void QTKelvoWidgetGL::toggleTwomice()
{
    if (twoMiceEnabled) {
        twoMiceEnabled = false;
        mouseEnabled = true;
        setCursor(Qt::ArrowCursor);
    } else {
        reset_mice();
        twoMiceEnabled = true;
        mouseEnabled = false;
        setCursor(Qt::BlankCursor);
        sharedPressCount = 0;
        tuioPressCounted = false;
    }
    StudyManager::Instance()->setConditionId(0);
    emit pointersSwitched();
}
